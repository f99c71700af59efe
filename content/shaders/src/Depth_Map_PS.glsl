// Shadow pass: the depth under the light's camera; models that cast no shadow leave no depth.
#version 450
layout(location = 0) in vec3 v_position;
layout(location = 1) in vec3 v_normal;
layout(location = 2) in vec2 v_uv;
layout(location = 3) in vec4 v_colour;
layout(location = 4) flat in uvec2 v_shadow;
layout(location = 0) out vec4 o_depth;
void main() {
  if (v_shadow.y == 0u) discard;
  o_depth = vec4(gl_FragCoord.z, 0.0, 0.0, 1.0);
}
