// Particles: the texture in slot 1 tinted by the particle's colour, alpha included.
#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 1) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 1) uniform sampler2D g_texture;
void main() { o_colour = texture(g_texture, v_uv) * v_colour; }
