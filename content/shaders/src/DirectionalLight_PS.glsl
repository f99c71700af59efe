// Directional light without a shadow map, over the covered pixels: Lambert with the light's colour
// times its intensity (w), from the G-buffer under the pixel.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(std140, binding = 0) uniform PerLight { vec3 g_eye; };
layout(std140, binding = 1) uniform DirectionalLight {
  vec3 g_direction;
  float g_reserved;
  vec4 g_diffuse;
  vec4 g_shadowColour;
};
layout(binding = 1) uniform sampler2D g_albedo;
layout(binding = 2) uniform sampler2D g_normal;
void main() {
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  vec3 albedo = texelFetch(g_albedo, pixel, 0).rgb;
  vec3 n = texelFetch(g_normal, pixel, 0).xyz;
  float lambert = max(dot(n, -normalize(g_direction)), 0.0);
  o_colour = vec4(albedo * g_diffuse.rgb * g_diffuse.w * lambert, 1.0);
}
