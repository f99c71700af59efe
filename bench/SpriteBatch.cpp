// 10,000 sprites a frame through the sprite batch against submitting the same vertices by hand
// (the same shaders, layout, index buffer and ring of 2048-sprite fills, vertices precomputed), and
// text drawn through a sprite font, in glyphs per millisecond. Every frame ends with the GPU done.
// Run from the repository root: the shaders and the font come from content/.
#include "DirectX/CommonStates.h"
#include "DirectX/SpriteBatch.h"
#include "DirectX/SpriteFont.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Platform;

constexpr int kSprites = 10000;
constexpr uint32_t kSize = 256;

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Base::Vec2 SpritePosition(int i) { return Base::Vec2(float((i * 13) % 250), float((i * 7) % 250)); }

struct Scene {
  Scene() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("LP_NUM_THREADS", "0", 0);  // steady software-rasteriser timings, as the layer bench does
    CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device.GetAddressOf(), nullptr, context.GetAddressOf());
    GpuTexture2DDesc td;
    td.width = td.height = kSize;
    td.format = GpuFormat_R8G8B8A8_UNorm;
    td.bindFlags = GpuBind_RenderTarget;
    device->CreateTexture2D(td, nullptr, target.GetAddressOf());
    device->CreateRenderTargetView(target.Get(), nullptr, rtv.GetAddressOf());
    GpuRenderTargetView* v = rtv.Get();
    context->SetRenderTargets(1, &v, nullptr);
    GpuViewport viewport{0, 0, float(kSize), float(kSize), 0, 1};
    context->SetViewports(1, &viewport);

    const uint32_t white[16] = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu,
                                0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu,
                                0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
    GpuTexture2DDesc wd;
    wd.width = wd.height = 4;
    wd.format = GpuFormat_R8G8B8A8_UNorm;
    wd.bindFlags = GpuBind_ShaderResource;
    GpuSubresourceData init{white, 16, 0};
    GpuRef<GpuTexture2D> texture;
    device->CreateTexture2D(wd, &init, texture.GetAddressOf());
    device->CreateShaderResourceView(texture.Get(), nullptr, view.GetAddressOf());
    batch = std::make_unique<DirectX::SpriteBatch>(context.Get());
  }
  void Finish() {
    context->Flush();
    glFinish();
  }

  GpuRef<GpuDevice> device;
  GpuRef<GpuContext> context;
  GpuRef<GpuTexture2D> target;
  GpuRef<GpuRenderTargetView> rtv;
  GpuRef<GpuShaderResourceView> view;
  std::unique_ptr<DirectX::SpriteBatch> batch;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_SpriteBatchFrame(benchmark::State& state) {
  Scene& s = TheScene();
  const Base::Vec4 colour(1, 1, 1, 1);
  for (auto _ : state) {
    s.batch->Begin();
    for (int i = 0; i < kSprites; ++i)
      s.batch->Draw(s.view.Get(), SpritePosition(i), nullptr, colour, 0, Base::Vec2(), Base::Vec2(0.5f, 0.5f));
    s.batch->End();
    s.Finish();
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
}

// The same quads, already in the batch's vertex layout, written into a buffer of the same size and
// drawn with the same pipeline and states: what remains is the cost of submitting them.
void BM_RawSubmissionFrame(benchmark::State& state) {
  Scene& s = TheScene();
  const std::vector<uint8_t> vsCode = ReadFile("content/shaders/SpriteBatch_VS.cso");
  const std::vector<uint8_t> psCode = ReadFile("content/shaders/SpriteBatch_PS.cso");
  GpuRef<GpuVertexShader> vs;
  GpuRef<GpuPixelShader> ps;
  GpuRef<GpuInputLayout> layout;
  s.device->CreateVertexShader(vsCode.data(), vsCode.size(), vs.GetAddressOf());
  s.device->CreatePixelShader(psCode.data(), psCode.size(), ps.GetAddressOf());
  const GpuInputElementDesc elements[] = {
      {"SV_Position", 0, GpuFormat_R32G32B32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
      {"COLOR", 0, GpuFormat_R32G32B32A32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
      {"TEXCOORD", 0, GpuFormat_R32G32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
  };
  s.device->CreateInputLayout(elements, 3, vsCode.data(), vsCode.size(), layout.GetAddressOf());
  std::vector<uint16_t> indices;
  for (uint32_t k = 0; k < DirectX::SpriteBatch::SpritesPerBuffer; ++k)
    for (uint32_t d : {0u, 1u, 2u, 1u, 3u, 2u}) indices.push_back(uint16_t(k * 4 + d));
  auto buffer = [&](uint32_t bytes, uint32_t bind, const void* data) {
    GpuBufferDesc desc;
    desc.byteWidth = bytes;
    desc.bindFlags = bind;
    if (!data) {
      desc.usage = GpuUsage::Dynamic;
      desc.cpuAccessFlags = GpuCpuAccess_Write;
    }
    GpuSubresourceData init{data, 0, 0};
    GpuRef<GpuBuffer> b;
    s.device->CreateBuffer(desc, data ? &init : nullptr, b.GetAddressOf());
    return b;
  };
  GpuRef<GpuBuffer> ib = buffer(uint32_t(indices.size() * 2), GpuBind_IndexBuffer, indices.data());
  GpuRef<GpuBuffer> vb = buffer(DirectX::SpriteBatch::SpritesPerBuffer * 4 * sizeof(DirectX::SpriteVertex),
                                GpuBind_VertexBuffer, nullptr);
  const float sx = 2.0f / kSize, sy = -2.0f / kSize;
  const float matrix[16] = {sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
  GpuRef<GpuBuffer> cb = buffer(64, GpuBind_ConstantBuffer, nullptr);
  GpuMappedSubresource mappedMatrix;
  s.context->Map(cb.Get(), 0, GpuMap::WriteDiscard, 0, &mappedMatrix);
  std::memcpy(mappedMatrix.data, matrix, sizeof matrix);
  s.context->Unmap(cb.Get(), 0);

  std::vector<DirectX::SpriteVertex> vertices;
  for (int i = 0; i < kSprites; ++i) {
    const Base::Vec2 p = SpritePosition(i);
    for (int c = 0; c < 4; ++c)
      vertices.push_back({{p.x + float(c & 1) * 2, p.y + float(c >> 1) * 2, 0}, {1, 1, 1, 1},
                          {float(c & 1), float(c >> 1)}});
  }

  DirectX::CommonStates states(s.device.Get());
  GpuSamplerState* sampler = states.LinearClampSampler();
  GpuBuffer* vertexBuffer = vb.Get();
  GpuBuffer* constants = cb.Get();
  GpuShaderResourceView* texture = s.view.Get();
  const uint32_t stride = sizeof(DirectX::SpriteVertex), offset = 0;
  for (auto _ : state) {
    s.context->SetBlendState(states.PremultipliedAlphaBlend(), nullptr, 0xffffffffu);
    s.context->SetDepthStencilState(states.NoDepth(), 0);
    s.context->SetRasterizerState(states.CullBackFaces());
    s.context->SetSamplers(GpuShaderStage::Pixel, 0, 1, &sampler);
    s.context->SetPrimitiveTopology(GpuTopology::TriangleList);
    s.context->SetInputLayout(layout.Get());
    s.context->SetVertexShader(vs.Get());
    s.context->SetPixelShader(ps.Get());
    s.context->SetVertexBuffers(0, 1, &vertexBuffer, &stride, &offset);
    s.context->SetIndexBuffer(ib.Get(), GpuFormat_R16_UInt, 0);
    s.context->SetConstantBuffers(GpuShaderStage::Vertex, 0, 1, &constants);
    s.context->SetShaderResources(GpuShaderStage::Pixel, 0, 1, &texture);
    for (int first = 0; first < kSprites; first += DirectX::SpriteBatch::SpritesPerBuffer) {
      const int n = std::min<int>(kSprites - first, DirectX::SpriteBatch::SpritesPerBuffer);
      GpuMappedSubresource mapped;
      s.context->Map(vertexBuffer, 0, GpuMap::WriteDiscard, 0, &mapped);
      std::memcpy(mapped.data, &vertices[size_t(first) * 4], size_t(n) * 4 * sizeof(DirectX::SpriteVertex));
      s.context->Unmap(vertexBuffer, 0);
      s.context->DrawIndexed(uint32_t(n) * 6, 0, 0);
    }
    s.Finish();
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
}

// Lines of 64 printable characters through the build's 16-pixel font; items are glyphs.
void BM_TextGlyphs(benchmark::State& state) {
  Scene& s = TheScene();
  DirectX::SpriteFontChar font(s.device.Get(), std::wstring(L"content/font/Arial/Arial_16.spritefont"));
  std::string line;
  for (int i = 0; i < 64; ++i) line.push_back(char('!' + i));
  const int lines = 40;
  for (auto _ : state) {
    s.batch->Begin();
    for (int i = 0; i < lines; ++i)
      font.DrawString(s.batch.get(), line.c_str(), Base::Vec2(0, float(i * 6)), Base::Vec4(1, 1, 1, 1), 0,
                      Base::Vec2(), Base::Vec2(0.25f, 0.25f));
    s.batch->End();
    s.Finish();
  }
  state.SetItemsProcessed(state.iterations() * lines * int64_t(line.size()));
}

}  // namespace

BENCHMARK(BM_SpriteBatchFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSubmissionFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextGlyphs)->Unit(benchmark::kMicrosecond);
