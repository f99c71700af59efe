// Fullbright: copies resource 1 under the pixel. During the fullbright pass that is the small black
// target, which darkens the covered pixels before the lights add to them; with no light in the
// layer the G-buffer is bound and resource 1 is the albedo, which shows unlit.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 1) uniform sampler2D g_source;
void main() {
  ivec2 size = textureSize(g_source, 0);
  o_colour = vec4(texelFetch(g_source, ivec2(gl_FragCoord.xy) % size, 0).rgb, 1.0);
}
