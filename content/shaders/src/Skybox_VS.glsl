// The sky sphere: the model vertex stream, with the vertex's own position kept as the direction the
// sky is looked up in (the sphere is centred on the viewer, so that direction is the view ray).
// Slot 1 carries the instance colour; slot 2 the transposed world matrix and its affine inverse.
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
layout(location = 1) out vec3 v_direction;
layout(location = 2) out vec2 v_uv;
layout(location = 3) out vec4 v_colour;
void main() {
  vec4 world = in_WORLD * vec4(in_POSITION.xyz, 1.0);
  gl_Position = world * g_viewProjection;
  v_position = world.xyz;
  v_direction = in_POSITION.xyz;
  v_uv = in_TEXCOORD.xy;
  v_colour = in_COLOR;
}
