// Skinned model instances of the geometry and shadow passes. Slot 0: the 112-byte skinned vertex
// (four bone indices and weights; the tangent is not read, which keeps the inputs within the sixteen
// attributes a vertex shader may have); slots 1 and 2 as for static models. The animation controller
// keeps each bone matrix transposed and the bone matrices (vertex constant slot 1) are uploaded as it
// keeps them, so GLSL's column-major reading gives back the engine's column-vector matrix: it
// multiplies a column vector on its right, as the world matrix does.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in uvec4 in_BLENDINDICES;
layout(location = 4) in vec4 in_BLENDWEIGHT;
layout(location = 5) in vec4 in_BINORMAL;
layout(location = 6) in uvec2 in_SHADOW;
layout(location = 7) in vec4 in_COLOR;
layout(location = 8) in mat4 in_WORLD;
layout(location = 12) in mat4 in_WORLD4;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(std140, binding = 1) uniform Bones { mat4 g_bones[128]; };
layout(location = 0) out vec3 v_position;
layout(location = 1) out vec3 v_normal;
layout(location = 2) out vec2 v_uv;
layout(location = 3) out vec4 v_colour;
layout(location = 4) flat out uvec2 v_shadow;
void main() {
  vec4 position = vec4(0.0);
  vec4 normal = vec4(0.0);
  for (int i = 0; i < 4; ++i) {
    mat4 bone = g_bones[min(in_BLENDINDICES[i], 127u)];
    position += in_BLENDWEIGHT[i] * (bone * vec4(in_POSITION.xyz, 1.0));
    normal += in_BLENDWEIGHT[i] * (bone * vec4(in_NORMAL.xyz, 0.0));
  }
  if (dot(in_BLENDWEIGHT, vec4(1.0)) <= 0.0) {
    position = vec4(in_POSITION.xyz, 1.0);
    normal = vec4(in_NORMAL.xyz, 0.0);
  }
  vec4 world = in_WORLD * vec4(position.xyz, 1.0);
  gl_Position = world * g_viewProjection;
  v_position = world.xyz;
  v_normal = (vec4(normal.xyz, 0.0) * in_WORLD4).xyz;
  v_uv = in_TEXCOORD.xy;
  v_colour = in_COLOR;
  v_shadow = in_SHADOW;
}
