// Particles: the unit quad (slot 0) once per particle record (slot 1: colour, then the transposed
// placement, which GLSL reads back as the engine's column-vector matrix). The placement already
// faces the camera; only its first three rows place the corner, then the camera projects it.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 5) in vec4 in_COLOR;
layout(location = 6) in mat4 in_TRANSFORM;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(location = 0) out vec4 v_colour;
layout(location = 1) out vec2 v_uv;
void main() {
  vec3 world = (in_TRANSFORM * vec4(in_POSITION.xyz, 1.0)).xyz;
  gl_Position = vec4(world, 1.0) * g_viewProjection;
  v_colour = in_COLOR;
  v_uv = in_TEXCOORD.xy;
}
