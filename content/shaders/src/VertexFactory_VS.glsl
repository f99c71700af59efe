// Static model instances of the geometry and shadow passes. Slot 0: the 80-byte mesh vertex;
// slot 1: the 24-byte instance record (receives-shadow and casts-shadow flags, colour); slot 2: the
// 128-byte matrices (world, then its affine inverse), both uploaded transposed so that GLSL reads
// the engine's column-vector matrices.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 5) in uvec2 in_SHADOW;
layout(location = 6) in vec4 in_COLOR;
layout(location = 7) in mat4 in_WORLD;
layout(location = 11) in mat4 in_WORLD4;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(location = 0) out vec3 v_position;
layout(location = 1) out vec3 v_normal;
layout(location = 2) out vec2 v_uv;
layout(location = 3) out vec4 v_colour;
layout(location = 4) flat out uvec2 v_shadow;
void main() {
  vec4 world = in_WORLD * vec4(in_POSITION.xyz, 1.0);
  gl_Position = world * g_viewProjection;
  v_position = world.xyz;
  // Normals go through the inverse transpose: the row vector times the inverse.
  v_normal = (vec4(in_NORMAL.xyz, 0.0) * in_WORLD4).xyz;
  v_uv = in_TEXCOORD.xy;
  v_colour = in_COLOR;
  v_shadow = in_SHADOW;
}
