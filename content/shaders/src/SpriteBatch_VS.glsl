// Sprite vertices through the batch's transform: rows applied to the row vector (x, y, z, 1).
#version 450
layout(location = 0) in vec4 in_SV_Position;
layout(location = 1) in vec4 in_COLOR;
layout(location = 2) in vec2 in_TEXCOORD;
layout(std140, binding = 0) uniform SpriteTransform { vec4 g_rows[4]; };
layout(location = 0) out vec4 v_colour;
layout(location = 1) out vec2 v_uv;
void main() {
  gl_Position = in_SV_Position.x * g_rows[0] + in_SV_Position.y * g_rows[1] + in_SV_Position.z * g_rows[2] +
                in_SV_Position.w * g_rows[3];
  v_colour = in_COLOR;
  v_uv = in_TEXCOORD;
}
