// Point-light volumes: the unit sphere per light, placed by the light's matrix (slot 2, 64 bytes,
// uploaded transposed); the light's 44-byte record (slot 1) goes on to the pixel shader.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 5) in vec3 in_LIGHTPOSITION;
layout(location = 6) in float in_RADIUS;
layout(location = 7) in vec3 in_ATTENUATION;
layout(location = 8) in vec4 in_DIFFUSE;
layout(location = 9) in mat4 in_WORLD;
layout(std140, binding = 0) uniform Camera { mat4 g_viewProjection; };
layout(location = 0) flat out vec4 v_light;        // position, radius
layout(location = 1) flat out vec3 v_attenuation;
layout(location = 2) flat out vec4 v_diffuse;
void main() {
  gl_Position = (in_WORLD * vec4(in_POSITION.xyz, 1.0)) * g_viewProjection;
  v_light = vec4(in_LIGHTPOSITION, in_RADIUS);
  v_attenuation = in_ATTENUATION;
  v_diffuse = in_DIFFUSE;
}
