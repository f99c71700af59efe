// 2D drawing: the sprite's texture tinted by its premultiplied colour.
#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 1) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 0) uniform sampler2D g_texture;
void main() { o_colour = texture(g_texture, v_uv) * v_colour; }
