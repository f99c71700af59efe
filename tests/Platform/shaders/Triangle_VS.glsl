// Test triangle: clip-space position and a per-vertex colour.
#version 450
layout(location = 0) in vec3 in_POSITION;
layout(location = 1) in vec4 in_COLOR0;
layout(location = 0) out vec4 v_colour;
layout(std140, binding = 0) uniform Transform { vec4 g_offset; };
void main() {
  gl_Position = vec4(in_POSITION + g_offset.xyz, 1.0);
  v_colour = in_COLOR0;
}
