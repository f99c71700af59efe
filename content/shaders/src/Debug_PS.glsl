// Debug shapes: flat colour.
#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = v_colour; }
