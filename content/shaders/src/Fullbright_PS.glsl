// Fullbright: copies resource 1 under the pixel. During the fullbright pass that is the small black
// target, which darkens the covered pixels before the lights add to them; with no light in the
// layer the G-buffer is bound and resource 1 is the albedo, which shows unlit.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(binding = 1) uniform sampler2D g_source;
void main() {
  ivec2 size = textureSize(g_source, 0);
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  // The pixel modulo the source's size, without an integer division: a software rasteriser divides
  // lane by lane. The float quotient is at most one off, which the two steps after it put right.
  ivec2 wrapped = pixel - size * ivec2(vec2(pixel) / vec2(size));
  wrapped += ivec2(lessThan(wrapped, ivec2(0))) * size;
  wrapped -= ivec2(greaterThanEqual(wrapped, size)) * size;
  o_colour = vec4(texelFetch(g_source, wrapped, 0).rgb, 1.0);
}
