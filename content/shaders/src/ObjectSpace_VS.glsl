// Full-screen quad of the fullbright, directional-light and composition passes: the unit quad's
// corners are already in clip space; its texture coordinates run from the top-left corner.
#version 450
layout(location = 0) in vec4 in_POSITION;
layout(location = 1) in vec4 in_TEXCOORD;
layout(location = 2) in vec4 in_NORMAL;
layout(location = 3) in vec4 in_TANGENT;
layout(location = 4) in vec4 in_BINORMAL;
layout(location = 0) out vec2 v_uv;
void main() {
  gl_Position = vec4(in_POSITION.xy, 0.0, 1.0);
  v_uv = in_TEXCOORD.xy;
}
