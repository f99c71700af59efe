// The material shader of models: fills the G-buffer. Target 0: world position (w 1 where covered);
// 1: albedo (texture 0 times the instance colour); 2: normal, w the receives-shadow flag;
// 3: texture coordinates.
#version 450
layout(location = 0) in vec3 v_position;
layout(location = 1) in vec3 v_normal;
layout(location = 2) in vec2 v_uv;
layout(location = 3) in vec4 v_colour;
layout(location = 4) flat in uvec2 v_shadow;
layout(location = 0) out vec4 o_position;
layout(location = 1) out vec4 o_albedo;
layout(location = 2) out vec4 o_normal;
layout(location = 3) out vec4 o_extra;
layout(binding = 0) uniform sampler2D g_albedo;
void main() {
  vec3 n = v_normal;
  float len = length(n);
  o_position = vec4(v_position, 1.0);
  o_albedo = vec4(texture(g_albedo, v_uv).rgb * v_colour.rgb, 1.0);
  o_normal = vec4(len > 0.0 ? n / len : vec3(0.0), v_shadow.x != 0u ? 1.0 : 0.0);
  o_extra = vec4(v_uv, 0.0, 1.0);
}
