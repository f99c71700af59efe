// 10,000 small draws per frame through the graphics layer against the same GL calls made by hand.
// Each pair runs with real triangles (3 vertices: the driver rasterises) and with empty draws
// (0 vertices: the driver skips the draw, so what remains is submission and state cost).
#include "Platform/Graphics/GlContext.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/Graphics/ShaderContainer.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace Platform;

constexpr int kDraws = 10000;
constexpr int kSize = 64;

// A triangle of a few pixels, moved per draw by a vertex-stage constant.
const char* kVS = R"(#version 450
layout(location = 0) in vec2 in_POSITION;
layout(std140, binding = 0) uniform Move { vec4 g_move; };
void main() { gl_Position = vec4(in_POSITION + g_move.xy, 0.5, 1.0); }
)";
const char* kPS = R"(#version 450
layout(location = 0) out vec4 o_colour;
void main() { o_colour = vec4(gl_FragCoord.xy / 64.0, 0.5, 0.5); }
)";
const float kTriangle[6] = {0, 0, 0.06f, 0, 0, -0.06f};

float Move(int i, int axis) { return (float((i * (axis ? 7 : 13)) % 60) / 30.0f) - 1.0f; }

void HeadlessEnvironment() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  // The software rasteriser's worker threads make frame times swing two- to three-fold from
  // run to run; rasterising on the calling thread keeps the comparison steady.
  setenv("LP_NUM_THREADS", "0", 0);
}

struct LayerScene {
  LayerScene() {
    HeadlessEnvironment();
    CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device.GetAddressOf(), nullptr, context.GetAddressOf());
    std::string error;
    std::vector<uint8_t> vsCode = PackShaderSource(GpuShaderStage::Vertex, kVS, &error);
    std::vector<uint8_t> psCode = PackShaderSource(GpuShaderStage::Pixel, kPS, &error);
    device->CreateVertexShader(vsCode.data(), vsCode.size(), vs.GetAddressOf());
    device->CreatePixelShader(psCode.data(), psCode.size(), ps.GetAddressOf());
    const GpuInputElementDesc element{"POSITION", 0, GpuFormat_R32G32_Float, 0, 0, GpuInputClass::PerVertex, 0};
    device->CreateInputLayout(&element, 1, vsCode.data(), vsCode.size(), layout.GetAddressOf());
    GpuBufferDesc vbDesc;
    vbDesc.byteWidth = sizeof kTriangle;
    vbDesc.bindFlags = GpuBind_VertexBuffer;
    GpuSubresourceData init{kTriangle, 0, 0};
    device->CreateBuffer(vbDesc, &init, vb.GetAddressOf());
    GpuBufferDesc cbDesc;
    cbDesc.byteWidth = 256;
    cbDesc.usage = GpuUsage::Dynamic;
    cbDesc.bindFlags = GpuBind_ConstantBuffer;
    cbDesc.cpuAccessFlags = GpuCpuAccess_Write;
    device->CreateBuffer(cbDesc, nullptr, cb.GetAddressOf());
    GpuTexture2DDesc td;
    td.width = td.height = kSize;
    td.format = GpuFormat_R8G8B8A8_UNorm;
    td.bindFlags = GpuBind_RenderTarget;
    device->CreateTexture2D(td, nullptr, target.GetAddressOf());
    device->CreateRenderTargetView(target.Get(), nullptr, rtv.GetAddressOf());
    GpuTexture2DDesc dd = td;
    dd.format = GpuFormat_D24_UNorm_S8_UInt;
    dd.bindFlags = GpuBind_DepthStencil;
    device->CreateTexture2D(dd, nullptr, depth.GetAddressOf());
    device->CreateDepthStencilView(depth.Get(), nullptr, dsv.GetAddressOf());

    GpuBlendDesc premultiplied;
    premultiplied.renderTarget[0] = {true, GpuBlend::One, GpuBlend::InvSrcAlpha, GpuBlendOp::Add,
                                     GpuBlend::One, GpuBlend::InvSrcAlpha, GpuBlendOp::Add, GpuColorWrite_All};
    device->CreateBlendState(premultiplied, blend.GetAddressOf());
    GpuDepthStencilDesc readOnly;
    readOnly.depthWriteMask = GpuDepthWriteMask::Zero;
    readOnly.depthFunc = GpuComparison::LessEqual;
    device->CreateDepthStencilState(readOnly, depthRead.GetAddressOf());
    GpuRasterizerDesc noCull;
    noCull.cullMode = GpuCullMode::None;
    device->CreateRasterizerState(noCull, noCulling.GetAddressOf());
  }

  void BeginFrame() {
    GpuRenderTargetView* v = rtv.Get();
    context->SetRenderTargets(1, &v, dsv.Get());
    GpuViewport vp{0, 0, kSize, kSize, 0, 1};
    context->SetViewports(1, &vp);
    const float clear[4] = {0, 0, 0, 1};
    context->ClearRenderTargetView(rtv.Get(), clear);
    context->ClearDepthStencilView(dsv.Get(), GpuClear_Depth, 1, 0);
    context->SetInputLayout(layout.Get());
    GpuBuffer* b = vb.Get();
    uint32_t stride = 8, offset = 0;
    context->SetVertexBuffers(0, 1, &b, &stride, &offset);
    context->SetPrimitiveTopology(GpuTopology::TriangleList);
    context->SetVertexShader(vs.Get());
    context->SetPixelShader(ps.Get());
  }

  void DrawOne(int i, uint32_t vertices) {
    GpuMappedSubresource m;
    context->Map(cb.Get(), 0, GpuMap::WriteDiscard, 0, &m);
    const float move[4] = {Move(i, 0), Move(i, 1), 0, 0};
    std::memcpy(m.data, move, sizeof move);
    context->Unmap(cb.Get(), 0);
    GpuBuffer* c = cb.Get();
    context->SetConstantBuffers(GpuShaderStage::Vertex, 0, 1, &c);
    context->Draw(vertices, 0);
  }

  GpuRef<GpuDevice> device;
  GpuRef<GpuContext> context;
  GpuRef<GpuVertexShader> vs;
  GpuRef<GpuPixelShader> ps;
  GpuRef<GpuInputLayout> layout;
  GpuRef<GpuBuffer> vb, cb;
  GpuRef<GpuTexture2D> target, depth;
  GpuRef<GpuRenderTargetView> rtv;
  GpuRef<GpuDepthStencilView> dsv;
  GpuRef<GpuBlendState> blend;
  GpuRef<GpuDepthStencilState> depthRead;
  GpuRef<GpuRasterizerState> noCulling;
};

// The same scene set up with GL directly, in a context of its own.
struct GlScene {
  GlScene() {
    HeadlessEnvironment();
    std::string error;
    gl.reset(GlContext::Create(GpuDriverType::Hardware, &error));
    gl->Ensure();
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    auto compile = [](GLenum stage, const char* source) {
      GLuint s = glCreateShader(stage);
      glShaderSource(s, 1, &source, nullptr);
      glCompileShader(s);
      return s;
    };
    GLuint v = compile(GL_VERTEX_SHADER, kVS), f = compile(GL_FRAGMENT_SHADER, kPS);
    program = glCreateProgram();
    glAttachShader(program, v);
    glAttachShader(program, f);
    glLinkProgram(program);
    glDeleteShader(v);
    glDeleteShader(f);
    glCreateBuffers(1, &vb);
    glNamedBufferData(vb, sizeof kTriangle, kTriangle, GL_STATIC_DRAW);
    glCreateBuffers(1, &ubo);
    glNamedBufferData(ubo, 256, nullptr, GL_DYNAMIC_DRAW);
    glCreateVertexArrays(1, &vao);
    glVertexArrayAttribFormat(vao, 0, 2, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribBinding(vao, 0, 0);
    glEnableVertexArrayAttrib(vao, 0);
    glVertexArrayVertexBuffer(vao, 0, vb, 0, 8);
    glCreateTextures(GL_TEXTURE_2D, 1, &colour);
    glTextureStorage2D(colour, 1, GL_RGBA8, kSize, kSize);
    glCreateTextures(GL_TEXTURE_2D, 1, &depth);
    glTextureStorage2D(depth, 1, GL_DEPTH24_STENCIL8, kSize, kSize);
    glCreateFramebuffers(1, &fbo);
    glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0, colour, 0);
    glNamedFramebufferTexture(fbo, GL_DEPTH_STENCIL_ATTACHMENT, depth, 0);
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
  }
  ~GlScene() {
    gl->Ensure();
    glDeleteProgram(program);
    glDeleteBuffers(1, &vb);
    glDeleteBuffers(1, &ubo);
    glDeleteVertexArrays(1, &vao);
    glDeleteTextures(1, &colour);
    glDeleteTextures(1, &depth);
    glDeleteFramebuffers(1, &fbo);
  }

  void BeginFrame() {
    gl->Ensure();
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glViewport(0, 0, kSize, kSize);
    const float clear[4] = {0, 0, 0, 1};
    glClearNamedFramebufferfv(fbo, GL_COLOR, 0, clear);
    glClearNamedFramebufferfi(fbo, GL_DEPTH_STENCIL, 0, 1.0f, 0);
    glBindVertexArray(vao);
    glUseProgram(program);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, ubo);
  }

  void DrawOne(int i, GLsizei vertices) {
    void* p = glMapNamedBufferRange(ubo, 0, 256, GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    const float move[4] = {Move(i, 0), Move(i, 1), 0, 0};
    std::memcpy(p, move, sizeof move);
    glUnmapNamedBuffer(ubo);
    glDrawArrays(GL_TRIANGLES, 0, vertices);
  }

  std::unique_ptr<GlContext> gl;
  GLuint program = 0, vb = 0, ubo = 0, vao = 0, colour = 0, depth = 0, fbo = 0;
};

LayerScene& Layer() {
  static LayerScene scene;
  return scene;
}
GlScene& Direct() {
  static GlScene scene;
  return scene;
}

void PerDraw(benchmark::State& state) {
  state.counters["ns_per_draw"] =
      benchmark::Counter(double(state.iterations()) * kDraws, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DirectGL_Draws(benchmark::State& state) {
  GlScene& s = Direct();
  int vertices = int(state.range(0));
  for (auto _ : state) {
    s.BeginFrame();
    for (int i = 0; i < kDraws; ++i) s.DrawOne(i, vertices);
    glFinish();
  }
  PerDraw(state);
}

void BM_Layer_Draws(benchmark::State& state) {
  LayerScene& s = Layer();
  int vertices = int(state.range(0));
  for (auto _ : state) {
    s.BeginFrame();
    for (int i = 0; i < kDraws; ++i) s.DrawOne(i, vertices);
    glFinish();
  }
  PerDraw(state);
}

// Every draw switches blend, depth-stencil and rasterizer state.
void BM_DirectGL_StateChanges(benchmark::State& state) {
  GlScene& s = Direct();
  int vertices = int(state.range(0));
  for (auto _ : state) {
    s.BeginFrame();
    for (int i = 0; i < kDraws; ++i) {
      bool odd = i & 1;
      odd ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
      glDepthFunc(odd ? GL_LEQUAL : GL_LESS);
      glDepthMask(odd ? GL_FALSE : GL_TRUE);
      odd ? glDisable(GL_CULL_FACE) : glEnable(GL_CULL_FACE);
      s.DrawOne(i, vertices);
    }
    glFinish();
  }
  PerDraw(state);
}

void BM_Layer_StateChanges(benchmark::State& state) {
  LayerScene& s = Layer();
  int vertices = int(state.range(0));
  for (auto _ : state) {
    s.BeginFrame();
    for (int i = 0; i < kDraws; ++i) {
      bool odd = i & 1;
      s.context->SetBlendState(odd ? s.blend.Get() : nullptr, nullptr, 0xffffffff);
      s.context->SetDepthStencilState(odd ? s.depthRead.Get() : nullptr, 0);
      s.context->SetRasterizerState(odd ? s.noCulling.Get() : nullptr);
      s.DrawOne(i, vertices);
    }
    glFinish();
  }
  PerDraw(state);
}

BENCHMARK(BM_DirectGL_Draws)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Layer_Draws)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectGL_StateChanges)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Layer_StateChanges)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
