// Composition: the light accumulation target onto the frame's viewport.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 0) uniform sampler2D g_accumulation;
// The accumulation target has the frame's size: each pixel takes its own texel unfiltered, so the
// picture stays as sharp as it was drawn (into a letter-boxed viewport, the nearest texel).
void main() {
  ivec2 size = textureSize(g_accumulation, 0);
  ivec2 texel = min(ivec2(v_uv * vec2(size)), size - 1);
  o_colour = vec4(texelFetch(g_accumulation, texel, 0).rgb, 1.0);
}
