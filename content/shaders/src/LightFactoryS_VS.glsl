// Spot-light volumes: the unit cone per light, placed by the light's matrix (slot 2, 64 bytes,
// uploaded transposed); the light's 68-byte record (slot 1) goes on to the pixel shader.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 5) in vec3 in_LIGHTPOSITION;
layout(location = 6) in float in_INNERCOS;
layout(location = 7) in vec4 in_DIRECTION;
layout(location = 8) in vec3 in_ATTENUATION;
layout(location = 9) in float in_OUTERCOS;
layout(location = 10) in vec4 in_DIFFUSE;
layout(location = 11) in float in_FALLOFF;
layout(location = 12) in mat4 in_WORLD;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(location = 0) flat out vec4 v_light;      // position, inner cosine
layout(location = 1) flat out vec4 v_direction;  // direction, outer cosine
layout(location = 2) flat out vec4 v_attenuation;  // attenuation, falloff
layout(location = 3) flat out vec4 v_diffuse;
void main() {
  gl_Position = (in_WORLD * vec4(in_POSITION.xyz, 1.0)) * g_viewProjection;
  v_light = vec4(in_LIGHTPOSITION, in_INNERCOS);
  v_direction = vec4(in_DIRECTION.xyz, in_OUTERCOS);
  v_attenuation = vec4(in_ATTENUATION, in_FALLOFF);
  v_diffuse = in_DIFFUSE;
}
