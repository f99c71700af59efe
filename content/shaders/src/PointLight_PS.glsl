// Point light: Lambert with distance attenuation, nothing beyond the radius.
#version 450
layout(location = 0) flat in vec4 v_light;
layout(location = 1) flat in vec3 v_attenuation;
layout(location = 2) flat in vec4 v_diffuse;
layout(location = 0) out vec4 o_colour;
layout(std140, binding = 0) uniform PerLight { vec3 g_eye; };
layout(binding = 0) uniform sampler2D g_position;
layout(binding = 1) uniform sampler2D g_albedo;
layout(binding = 2) uniform sampler2D g_normal;
void main() {
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  vec3 position = texelFetch(g_position, pixel, 0).xyz;
  vec3 toLight = v_light.xyz - position;
  float distance = length(toLight);
  float radius = max(v_light.w, 1e-4);
  if (distance >= radius) discard;
  vec3 n = texelFetch(g_normal, pixel, 0).xyz;
  float lambert = distance > 0.0 ? max(dot(n, toLight / distance), 0.0) : 1.0;
  float falloff = 1.0 - distance / radius;
  float divisor = max(v_attenuation.x + v_attenuation.y * distance + v_attenuation.z * distance * distance, 1e-4);
  vec3 albedo = texelFetch(g_albedo, pixel, 0).rgb;
  o_colour = vec4(albedo * v_diffuse.rgb * v_diffuse.w * lambert * falloff / divisor, 1.0);
}
