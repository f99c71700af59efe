// Test triangle: the interpolated colour, scaled by a pixel-stage constant.
#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 0) out vec4 o_colour;
layout(std140, binding = 0) uniform Tint { vec4 g_tint; };
void main() { o_colour = v_colour * g_tint; }
