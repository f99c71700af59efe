// Directional light with its shadow map (resource 4, read with the clamping sampler): pixels whose position lies
// behind the depth the light saw get the shadow colour instead of the light.
#version 450
layout(location = 0) in vec2 v_uv;
layout(location = 0) out vec4 o_colour;
layout(std140, binding = 0) uniform PerLight {
  vec3 g_eye;
  float g_reserved0;
  mat4 g_shadowView;        // uploaded transposed: the camera's own row-vector matrix
  mat4 g_shadowProjection;  // likewise
  mat4 g_cameraView;        // uploaded as stored
};
layout(std140, binding = 1) uniform DirectionalLight {
  vec3 g_direction;
  float g_reserved1;
  vec4 g_diffuse;
  vec4 g_shadowColour;
};
layout(binding = 0) uniform sampler2D g_position;
layout(binding = 1) uniform sampler2D g_albedo;
layout(binding = 2) uniform sampler2D g_normal;
layout(binding = 4) uniform sampler2D g_shadowMap;
void main() {
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  vec3 position = texelFetch(g_position, pixel, 0).xyz;
  vec3 albedo = texelFetch(g_albedo, pixel, 0).rgb;
  vec4 normal = texelFetch(g_normal, pixel, 0);
  float lambert = max(dot(normal.xyz, -normalize(g_direction)), 0.0);
  vec4 clip = vec4(position, 1.0) * g_shadowView * g_shadowProjection;
  vec3 ndc = clip.xyz / clip.w;
  vec2 uv = vec2(ndc.x * 0.5 + 0.5, 0.5 - ndc.y * 0.5);
  float lit = 1.0;
  if (normal.w > 0.5 && all(greaterThanEqual(uv, vec2(0.0))) && all(lessThanEqual(uv, vec2(1.0))) &&
      ndc.z <= 1.0) {
    // The texel under the point, fetched: no filter runs over the map's one drawn level.
    ivec2 size = textureSize(g_shadowMap, 0);
    ivec2 texel = min(ivec2(uv * vec2(size)), size - 1);
    float stored = texelFetch(g_shadowMap, texel, 0).r;
    lit = ndc.z - 0.002 <= stored ? 1.0 : 0.0;
  }
  vec3 light = g_diffuse.rgb * g_diffuse.w * lambert;
  o_colour = vec4(albedo * mix(g_shadowColour.rgb, light, lit), 1.0);
}
