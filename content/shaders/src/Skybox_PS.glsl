// The sky's material shader: the cube texture along the view ray into the G-buffer, with no normal
// and no shadow so that it shows unlit. Target 0: world position; 1: albedo; 2: normal; 3: extra.
#version 450
layout(location = 0) in vec3 v_position;
layout(location = 1) in vec3 v_direction;
layout(location = 2) in vec2 v_uv;
layout(location = 3) in vec4 v_colour;
layout(location = 0) out vec4 o_position;
layout(location = 1) out vec4 o_albedo;
layout(location = 2) out vec4 o_normal;
layout(location = 3) out vec4 o_extra;
layout(binding = 0) uniform samplerCube g_sky;
void main() {
  vec3 d = v_direction;
  o_position = vec4(v_position, 1.0);
  o_albedo = vec4(texture(g_sky, length(d) > 0.0 ? d : vec3(0.0, 0.0, 1.0)).rgb * v_colour.rgb, 1.0);
  o_normal = vec4(0.0);
  o_extra = vec4(v_uv, 0.0, 1.0);
}
