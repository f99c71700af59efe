// Composition: the light accumulation target onto the frame's viewport.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 0) uniform sampler2D g_accumulation;
void main() { o_colour = vec4(textureLod(g_accumulation, v_uv, 0.0).rgb, 1.0); }
