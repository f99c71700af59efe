// Debug shapes: a unit mesh per kind, one instance per queued record (colour, placement, lifetime;
// 84 bytes in input slot 1). The placement arrives transposed, which GLSL reads back as the engine's
// own column-vector matrix.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 5) in vec4 in_COLOR;
layout(location = 6) in mat4 in_TRANSFORM;
layout(location = 10) in float in_TIME;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(location = 0) out vec4 v_colour;
void main() {
  vec4 world = in_TRANSFORM * vec4(in_POSITION.xyz, 1.0);
  gl_Position = world * g_viewProjection;
  v_colour = in_COLOR;
}
