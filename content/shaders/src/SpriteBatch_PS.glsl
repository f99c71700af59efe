// A sprite's texel tinted by its vertex colour (both premultiplied).
#version 450
layout(binding = 0) uniform sampler2D g_texture_s0;
layout(location = 0) in vec4 v_colour;
layout(location = 1) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_texture_s0, v_uv) * v_colour; }
