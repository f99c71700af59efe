// Spot light: Lambert with distance attenuation, faded from the inner to the outer cone.
#version 450
layout(location = 0) flat in vec4 v_light;
layout(location = 1) flat in vec4 v_direction;
layout(location = 2) flat in vec4 v_attenuation;
layout(location = 3) flat in vec4 v_diffuse;
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
  if (distance <= 0.0) discard;
  vec3 l = toLight / distance;
  float axis = dot(-l, normalize(v_direction.xyz));
  float inner = v_light.w, outer = v_direction.w;
  float cone = inner > outer ? clamp((axis - outer) / (inner - outer), 0.0, 1.0) : (axis >= outer ? 1.0 : 0.0);
  cone = pow(cone, max(v_attenuation.w, 1e-3));
  vec3 n = texelFetch(g_normal, pixel, 0).xyz;
  float lambert = max(dot(n, l), 0.0);
  vec3 a = v_attenuation.xyz;
  float divisor = max(a.x + a.y * distance + a.z * distance * distance, 1e-4);
  vec3 albedo = texelFetch(g_albedo, pixel, 0).rgb;
  o_colour = vec4(albedo * v_diffuse.rgb * v_diffuse.w * lambert * cone / divisor, 1.0);
}
