// The graphics layer's pipeline, checked by reading pixels back from small targets.
#include "tests/Platform/GpuTestSupport.h"

#include "Platform/Graphics/GpuSwapChain.h"

#include <cmath>
#include <functional>

namespace {

using namespace GpuTest;

// A colour that depends on the pixel, so no constant output can pass.
const char* kGradientPS = R"(#version 450
layout(location = 0) out vec4 o_colour;
void main() {
  o_colour = vec4(gl_FragCoord.x / 16.0, gl_FragCoord.y / 16.0, 0.5, 0.25 + gl_FragCoord.x / 64.0);
}
)";
Rgba Gradient(uint32_t x, uint32_t y) {
  float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
  return {fx / 16.0f, fy / 16.0f, 0.5f, 0.25f + fx / 64.0f};
}

class GpuPipeline : public GpuFixture {
 protected:
  GpuRef<GpuRasterizerState> Raster(std::function<void(GpuRasterizerDesc&)> edit) {
    GpuRasterizerDesc d;
    edit(d);
    GpuRef<GpuRasterizerState> s;
    EXPECT_EQ(device_->CreateRasterizerState(d, s.GetAddressOf()), kGpuOk);
    return s;
  }
  GpuRef<GpuDepthStencilState> Depth(std::function<void(GpuDepthStencilDesc&)> edit) {
    GpuDepthStencilDesc d;
    edit(d);
    GpuRef<GpuDepthStencilState> s;
    EXPECT_EQ(device_->CreateDepthStencilState(d, s.GetAddressOf()), kGpuOk);
    return s;
  }
  void Clear(Rgba c) {
    const float f[4] = {c.r, c.g, c.b, c.a};
    context_->ClearRenderTargetView(rtv_.Get(), f);
  }
};

TEST_F(GpuPipeline, ClockwiseFacesAreFrontAndRasterStatesPickWhatIsCulled) {
  MakeTarget(16);
  UseColourPipeline();
  // Left half wound clockwise on screen (red), right half counter-clockwise (green).
  std::vector<Vertex> both = {
      {-1, 1, 0.5f, 1, 0, 0, 1}, {0, 1, 0.5f, 1, 0, 0, 1}, {-1, -1, 0.5f, 1, 0, 0, 1},
      {0, 1, 0.5f, 0, 1, 0, 1},  {0, -1, 0.5f, 0, 1, 0, 1}, {1, 1, 0.5f, 0, 1, 0, 1},
  };
  struct Case {
    std::function<void(GpuRasterizerDesc&)> edit;
    bool left, right;
  } cases[] = {
      {[](GpuRasterizerDesc&) {}, true, false},
      {[](GpuRasterizerDesc& d) { d.cullMode = GpuCullMode::None; }, true, true},
      {[](GpuRasterizerDesc& d) { d.cullMode = GpuCullMode::Front; }, false, true},
      {[](GpuRasterizerDesc& d) { d.frontCounterClockwise = true; }, false, true},
  };
  for (const Case& c : cases) {
    Clear({0, 0, 0, 0});
    GpuRef<GpuRasterizerState> rs = Raster(c.edit);
    context_->SetRasterizerState(rs.Get());
    DrawVertices(both);
    std::vector<Rgba> px = ReadFloats(target_.Get());
    // Row 0 is the top of the picture, where clip y = +1 lands.
    EXPECT_EQ(At(px, 1, 1).r, c.left ? 1.0f : 0.0f);
    EXPECT_EQ(At(px, 14, 1).g, c.right ? 1.0f : 0.0f);
    EXPECT_EQ(At(px, 1, 14).r, 0.0f);  // below the left triangle's diagonal
  }
}

// The renderer's state-set test reads back the premultiplied, additive, subtractive, inverse-source-colour
// and source-alpha blends; here, no blend state, the blend factor, reverse subtraction and the maximum.
TEST_F(GpuPipeline, BlendModesMatchTheirFormulas) {
  MakeTarget(16);
  UseColourPipeline();
  ps_ = PixelShader(kGradientPS);
  context_->SetPixelShader(ps_.Get());
  const Rgba dst{0.2f, 0.4f, 0.6f, 0.8f};
  const float factor[4] = {0.5f, 0.25f, 0.75f, 1.0f};
  GpuBlendDesc desc;
  desc.renderTarget[0] = {true,         GpuBlend::BlendFactor, GpuBlend::One,     GpuBlendOp::RevSubtract,
                          GpuBlend::One, GpuBlend::One,        GpuBlendOp::Max, GpuColorWrite_All};
  GpuRef<GpuBlendState> blend;
  ASSERT_EQ(device_->CreateBlendState(desc, blend.GetAddressOf()), kGpuOk);
  for (GpuBlendState* state : {static_cast<GpuBlendState*>(nullptr), blend.Get()}) {
    Clear(dst);
    context_->SetBlendState(state, factor, 0xffffffff);
    DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));
    std::vector<Rgba> px = ReadFloats(target_.Get());
    for (uint32_t y = 0; y < 16; ++y) {
      for (uint32_t x = 0; x < 16; ++x) {
        const Rgba s = Gradient(x, y);
        const Rgba blended{dst.r - s.r * 0.5f, dst.g - s.g * 0.25f, dst.b - s.b * 0.75f, std::max(s.a, dst.a)};
        const Rgba want = state ? blended : s;
        ASSERT_TRUE(Near(At(px, x, y), want)) << (state ? "blended" : "no blend state") << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(GpuPipeline, DepthTestsWritesAndReadOnlyStatesKeepTheNearest) {
  MakeTarget(16);
  MakeDepth();
  UseColourPipeline();
  DrawVertices(Quad(-1, -1, 0, 1, 0.5f, {1, 0, 0, 1}));      // left half, depth 0.5
  DrawVertices(Quad(-1, -1, 1, 1, 0.7f, {0, 1, 0, 1}));      // behind on the left, alone on the right
  GpuRef<GpuDepthStencilState> readOnly = Depth([](GpuDepthStencilDesc& d) { d.depthWriteMask = GpuDepthWriteMask::Zero; });
  context_->SetDepthStencilState(readOnly.Get(), 0);
  DrawVertices(Quad(-1, 0, 0, 1, 0.3f, {0, 0, 1, 1}));       // top-left, in front, writes no depth
  context_->SetDepthStencilState(nullptr, 0);
  DrawVertices(Quad(-1, 0, 1, 1, 0.4f, {1, 1, 1, 1}));       // top: passes at 0.5, fails at... 0.7 too

  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 2, 12).r, 1.0f);   // bottom-left: red at 0.5
  EXPECT_EQ(At(px, 12, 12).g, 1.0f);  // bottom-right: green at 0.7
  EXPECT_EQ(At(px, 2, 2).b, 1.0f);    // top-left: white over blue, since blue kept depth 0.5
  EXPECT_EQ(At(px, 2, 2).g, 1.0f);
  EXPECT_EQ(At(px, 12, 2).r, 1.0f);   // top-right: white in front of green

  EXPECT_NEAR(DepthAt(2, 12), 0.5f, 1e-6);
  EXPECT_NEAR(DepthAt(2, 2), 0.4f, 1e-6);
  EXPECT_NEAR(DepthAt(12, 12), 0.7f, 1e-6);
}

TEST_F(GpuPipeline, DepthClipOffClampsDepthInsteadOfDroppingGeometry) {
  MakeTarget(16);
  MakeDepth();
  UseColourPipeline();
  GpuRef<GpuDepthStencilState> lessEqual = Depth([](GpuDepthStencilDesc& d) { d.depthFunc = GpuComparison::LessEqual; });
  context_->SetDepthStencilState(lessEqual.Get(), 0);
  DrawVertices(Quad(-1, -1, 0, 1, 1.5f, {1, 0, 0, 1}));  // beyond the far plane: clipped away
  DrawVertices(Quad(0, -1, 1, 1, -0.5f, {1, 0, 0, 1}));  // before the near plane: clipped away
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 4, 8).r, 0.0f);
  EXPECT_EQ(At(px, 12, 8).r, 0.0f);

  GpuRef<GpuRasterizerState> noClip = Raster([](GpuRasterizerDesc& d) { d.depthClipEnable = false; });
  context_->SetRasterizerState(noClip.Get());
  DrawVertices(Quad(-1, -1, 0, 1, 1.5f, {0, 1, 0, 1}));
  DrawVertices(Quad(0, -1, 1, 1, -0.5f, {0, 0, 1, 1}));
  px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 4, 8).g, 1.0f);
  EXPECT_EQ(At(px, 12, 8).b, 1.0f);
  EXPECT_EQ(DepthStencilAt(4, 8) & 0xffffff, 0xffffffu);  // clamped to 1
  EXPECT_EQ(DepthStencilAt(12, 8) & 0xffffff, 0u);       // clamped to 0
}

// Drawing only where the stencil is set is read back in the renderer's state-set test.
TEST_F(GpuPipeline, StencilCountsCoveredPixelsSaturatingAndKeepsOnDepthFail) {
  MakeTarget(16);
  MakeDepth();
  UseColourPipeline();
  // Front faces count up, saturating; back faces never pass.
  GpuRef<GpuDepthStencilState> count = Depth([](GpuDepthStencilDesc& d) {
    d.stencilEnable = true;
    d.frontFace = {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::IncrSat, GpuComparison::Always};
    d.backFace = {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::Keep, GpuComparison::Never};
  });
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Stencil, 1.0f, 253);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);  // keeps the stencil
  context_->SetDepthStencilState(count.Get(), 0);
  // Top-left quadrant: three layers, each nearer, pass the depth test; 253 saturates at 255.
  DrawVertices(Quad(-1, 0, 0, 1, 0.5f, {}));
  DrawVertices(Quad(-1, 0, 0, 1, 0.4f, {}));
  DrawVertices(Quad(-1, 0, 0, 1, 0.3f, {}));
  // Bottom-right quadrant: once, plus once failing the depth test (depth-fail keeps).
  DrawVertices(Quad(0, -1, 1, 0, 0.5f, {}));
  DrawVertices(Quad(0, -1, 1, 0, 0.6f, {}));
  EXPECT_EQ(DepthStencilAt(2, 2) >> 24, 255u);
  EXPECT_EQ(DepthStencilAt(12, 12) >> 24, 254u);
  EXPECT_EQ(DepthStencilAt(12, 2) >> 24, 253u);
}

TEST_F(GpuPipeline, InstanceDataStepsAtItsRateWithEitherIndexSize) {
  MakeTarget(16);
  vs_ = VertexShader(R"(#version 450
layout(location = 0) in vec2 in_POSITION;
layout(location = 1) in vec2 in_OFFSET;
layout(location = 2) in vec4 in_COLOR;
layout(location = 0) out vec4 v_colour;
void main() { gl_Position = vec4(in_POSITION + in_OFFSET, 0.5, 1.0); v_colour = in_COLOR; }
)");
  ps_ = PixelShader(kColourPS);
  const GpuInputElementDesc elements[] = {
      {"POSITION", 0, GpuFormat_R32G32_Float, 0, 0, GpuInputClass::PerVertex, 0},
      {"OFFSET", 0, GpuFormat_R32G32_Float, 1, 0, GpuInputClass::PerInstance, 1},
      {"COLOR", 0, GpuFormat_R32G32B32A32_Float, 2, 0, GpuInputClass::PerInstance, 2},
  };
  ASSERT_EQ(device_->CreateInputLayout(elements, 3, lastVertexCode_.data(), lastVertexCode_.size(),
                                       layout_.GetAddressOf()),
            kGpuOk);
  // A quad of a quarter of the target at the top-left, moved by each instance.
  const float corners[] = {-1, 1, -0.5f, 1, -1, 0.5f, -0.5f, 0.5f};
  const float offsets[] = {0, 0, 0.5f, 0, 1.0f, 0, 1.5f, 0};
  const float colours[] = {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1};
  const uint16_t indices16[] = {0, 1, 2, 1, 3, 2};
  const uint32_t indices32[] = {0, 1, 2, 1, 3, 2};
  GpuRef<GpuBuffer> vb[3] = {Buffer(corners, sizeof corners, GpuBind_VertexBuffer),
                             Buffer(offsets, sizeof offsets, GpuBind_VertexBuffer),
                             Buffer(colours, sizeof colours, GpuBind_VertexBuffer)};
  GpuBuffer* buffers[3] = {vb[0].Get(), vb[1].Get(), vb[2].Get()};
  const uint32_t strides[3] = {8, 8, 16}, zero[3] = {};
  context_->SetInputLayout(layout_.Get());
  context_->SetVertexBuffers(0, 3, buffers, strides, zero);
  context_->SetVertexShader(vs_.Get());
  context_->SetPixelShader(ps_.Get());
  context_->SetPrimitiveTopology(GpuTopology::TriangleList);

  GpuRef<GpuBuffer> ib16 = Buffer(indices16, sizeof indices16, GpuBind_IndexBuffer);
  context_->SetIndexBuffer(ib16.Get(), GpuFormat_R16_UInt, 0);
  context_->DrawIndexedInstanced(6, 4, 0, 0, 0);
  std::vector<Rgba> px = ReadFloats(target_.Get());
  for (uint32_t i = 0; i < 4; ++i) {
    Rgba c = At(px, 2 + 4 * i, 2);
    EXPECT_EQ(c.r, i < 2 ? 1.0f : 0.0f) << "instance " << i;  // colour steps every 2 instances
    EXPECT_EQ(c.g, i < 2 ? 0.0f : 1.0f) << "instance " << i;
  }
  EXPECT_EQ(At(px, 2, 6).a, 0.0f);  // the quads cover only the top row

  // 32-bit indices from instance 2: the start is added to each per-instance index after the
  // step-rate division, so offsets 2 and 3 and colour 2 (blue) for both.
  const float black[4] = {0, 0, 0, 0};
  context_->ClearRenderTargetView(rtv_.Get(), black);
  GpuRef<GpuBuffer> ib32 = Buffer(indices32, sizeof indices32, GpuBind_IndexBuffer);
  context_->SetIndexBuffer(ib32.Get(), GpuFormat_R32_UInt, 0);
  context_->DrawIndexedInstanced(6, 2, 0, 0, 2);
  px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 2, 2).a, 0.0f);
  EXPECT_EQ(At(px, 10, 2).b, 1.0f);
  EXPECT_EQ(At(px, 14, 2).b, 1.0f);
}

TEST_F(GpuPipeline, ClearsIgnoreScissorAndMasksAndMultipleTargetsDrawTogether) {
  MakeTarget(16);
  GpuRef<GpuTexture2D> second;
  GpuRef<GpuRenderTargetView> secondView;
  GpuTexture2DDesc d;
  d.width = d.height = 16;
  d.format = GpuFormat_R32G32B32A32_Float;
  d.bindFlags = GpuBind_RenderTarget;
  ASSERT_EQ(device_->CreateTexture2D(d, nullptr, second.GetAddressOf()), kGpuOk);
  ASSERT_EQ(device_->CreateRenderTargetView(second.Get(), nullptr, secondView.GetAddressOf()), kGpuOk);
  GpuRenderTargetView* both[2] = {rtv_.Get(), secondView.Get()};
  context_->SetRenderTargets(2, both, nullptr);

  UseColourPipeline();
  ps_ = PixelShader(R"(#version 450
layout(location = 0) out vec4 o_first;
layout(location = 1) out vec4 o_second;
void main() { o_first = vec4(gl_FragCoord.x / 16.0, 0, 0, 1); o_second = vec4(0, gl_FragCoord.y / 16.0, 0, 1); }
)");
  context_->SetPixelShader(ps_.Get());
  GpuRef<GpuRasterizerState> scissor = Raster([](GpuRasterizerDesc& r) { r.scissorEnable = true; });
  GpuRect rect{4, 4, 8, 8};
  context_->SetScissorRects(1, &rect);
  context_->SetRasterizerState(scissor.Get());
  GpuBlendDesc masked;
  masked.renderTarget[0].renderTargetWriteMask = 0;
  GpuRef<GpuBlendState> noWrites;
  ASSERT_EQ(device_->CreateBlendState(masked, noWrites.GetAddressOf()), kGpuOk);
  context_->SetBlendState(noWrites.Get(), nullptr, 0xffffffff);
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));  // applies the scissor and the masks

  const float red[4] = {1, 0, 0, 1}, blue[4] = {0, 0, 1, 1};
  context_->ClearRenderTargetView(rtv_.Get(), red);
  context_->ClearRenderTargetView(secondView.Get(), blue);
  std::vector<Rgba> first = ReadFloats(target_.Get()), other = ReadFloats(second.Get());
  EXPECT_EQ(At(first, 0, 0).r, 1.0f);
  EXPECT_EQ(At(first, 15, 15).r, 1.0f);
  EXPECT_EQ(At(other, 15, 0).b, 1.0f);

  context_->SetBlendState(nullptr, nullptr, 0xffffffff);
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));
  first = ReadFloats(target_.Get());
  other = ReadFloats(second.Get());
  EXPECT_EQ(At(first, 5, 6).r, 5.5f / 16);
  EXPECT_EQ(At(other, 5, 6).g, 6.5f / 16);
  EXPECT_EQ(At(other, 5, 6).b, 0.0f);
  EXPECT_EQ(At(first, 9, 6).r, 1.0f);  // outside the scissor: still the clear
  EXPECT_EQ(At(other, 5, 9).b, 1.0f);
}

TEST_F(GpuPipeline, ViewportsPlaceTheDrawingFromTheTopLeft) {
  MakeTarget(16);
  UseColourPipeline();
  GpuViewport vp{8, 0, 8, 8, 0, 1};
  context_->SetViewports(1, &vp);
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {0, 1, 0, 1}));
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 12, 3).g, 1.0f);
  EXPECT_EQ(At(px, 3, 3).g, 0.0f);
  EXPECT_EQ(At(px, 12, 12).g, 0.0f);
}

TEST_F(GpuPipeline, MapDiscardAndNoOverwriteFeedTheDraws) {
  MakeTarget(16);
  UseColourPipeline();
  GpuBufferDesc d;
  d.byteWidth = 12 * sizeof(Vertex);
  d.usage = GpuUsage::Dynamic;
  d.bindFlags = GpuBind_VertexBuffer;
  d.cpuAccessFlags = GpuCpuAccess_Write;
  GpuRef<GpuBuffer> vb;
  ASSERT_EQ(device_->CreateBuffer(d, nullptr, vb.GetAddressOf()), kGpuOk);
  GpuBuffer* b = vb.Get();
  uint32_t stride = sizeof(Vertex), offset = 0;
  context_->SetVertexBuffers(0, 1, &b, &stride, &offset);

  GpuMappedSubresource m;
  ASSERT_EQ(context_->Map(vb.Get(), 0, GpuMap::WriteDiscard, 0, &m), kGpuOk);
  EXPECT_EQ(context_->Map(vb.Get(), 0, GpuMap::WriteDiscard, 0, &m), kGpuInvalidCall);  // already mapped
  std::vector<Vertex> left = Quad(-1, -1, 0, 1, 0.5f, {1, 0, 0, 1});
  std::memcpy(m.data, left.data(), 6 * sizeof(Vertex));
  context_->Unmap(vb.Get(), 0);
  context_->Draw(6, 0);
  ASSERT_EQ(context_->Map(vb.Get(), 0, GpuMap::WriteNoOverwrite, 0, &m), kGpuOk);
  std::vector<Vertex> right = Quad(0, -1, 1, 1, 0.5f, {0, 0, 1, 1});
  std::memcpy(static_cast<Vertex*>(m.data) + 6, right.data(), 6 * sizeof(Vertex));
  context_->Unmap(vb.Get(), 0);
  context_->Draw(6, 6);
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 3, 8).r, 1.0f);
  EXPECT_EQ(At(px, 12, 8).b, 1.0f);

  GpuRef<GpuBuffer> fixed = Buffer(left.data(), 6 * sizeof(Vertex), GpuBind_VertexBuffer);
  EXPECT_EQ(context_->Map(fixed.Get(), 0, GpuMap::WriteDiscard, 0, &m), kGpuInvalidArg);
}

TEST_F(GpuPipeline, TexturesSampleTexelExactAndUnboundSlotsSampleZero) {
  MakeTarget(8);
  UseColourPipeline();
  ps_ = PixelShader(R"(#version 450
layout(binding = 1) uniform sampler2D g_texture;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_texture, gl_FragCoord.xy / 8.0); }
)");
  context_->SetPixelShader(ps_.Get());
  GpuSamplerDesc point;
  point.filter = GpuFilter::MinMagMipPoint;
  GpuRef<GpuSamplerState> sampler;
  ASSERT_EQ(device_->CreateSamplerState(point, sampler.GetAddressOf()), kGpuOk);
  GpuSamplerState* s = sampler.Get();
  context_->SetSamplers(GpuShaderStage::Pixel, 0, 1, &s);

  auto sample = [&](GpuFormat format, const void* texels, uint32_t pitch) {
    GpuTexture2DDesc d;
    d.width = d.height = 8;
    d.format = format;
    d.bindFlags = GpuBind_ShaderResource;
    GpuSubresourceData init{texels, pitch, 0};
    GpuRef<GpuTexture2D> tex;
    EXPECT_EQ(device_->CreateTexture2D(d, &init, tex.GetAddressOf()), kGpuOk);
    GpuRef<GpuShaderResourceView> srv;
    EXPECT_EQ(device_->CreateShaderResourceView(tex.Get(), nullptr, srv.GetAddressOf()), kGpuOk);
    GpuShaderResourceView* v = srv.Get();
    context_->SetShaderResources(GpuShaderStage::Pixel, 1, 1, &v);
    DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));
    std::vector<uint8_t> back;
    EXPECT_EQ(device_->ReadTexels(tex.Get(), 0, &back), kGpuOk);
    return std::make_pair(ReadFloats(target_.Get()), back);
  };

  uint8_t rgba[8 * 8 * 4];
  for (uint32_t i = 0; i < 64; ++i) {
    rgba[i * 4 + 0] = uint8_t(i * 4);
    rgba[i * 4 + 1] = uint8_t(255 - i * 3);
    rgba[i * 4 + 2] = uint8_t(i * 7);
    rgba[i * 4 + 3] = uint8_t(100 + i);
  }
  auto [px, back] = sample(GpuFormat_R8G8B8A8_UNorm, rgba, 32);
  EXPECT_EQ(std::memcmp(back.data(), rgba, sizeof rgba), 0);
  auto unorm = [&](uint32_t i, int channel) { return rgba[i * 4 + channel] / 255.0f; };
  for (uint32_t i = 0; i < 64; ++i)
    ASSERT_TRUE(Near(px[i], {unorm(i, 0), unorm(i, 1), unorm(i, 2), unorm(i, 3)}, 1e-6f)) << i;

  // The same bytes as BGRA: red and blue trade places when sampled, not when read back.
  std::tie(px, back) = sample(GpuFormat_B8G8R8A8_UNorm, rgba, 0);
  EXPECT_EQ(std::memcmp(back.data(), rgba, sizeof rgba), 0);
  for (uint32_t i = 0; i < 64; ++i)
    ASSERT_TRUE(Near(px[i], {unorm(i, 2), unorm(i, 1), unorm(i, 0), unorm(i, 3)}, 1e-6f)) << i;

  // sRGB bytes sample as linear values.
  std::tie(px, back) = sample(GpuFormat_R8G8B8A8_UNorm_SRGB, rgba, 32);
  auto linear = [](uint8_t v) {
    float c = v / 255.0f;
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
  };
  for (uint32_t i = 0; i < 64; ++i) {
    ASSERT_NEAR(px[i].r, linear(rgba[i * 4]), 2e-3) << i;
    ASSERT_NEAR(px[i].a, unorm(i, 3), 1e-6) << i;  // alpha stays linear
  }

  // BC1: four solid 4x4 blocks (colour0 = colour1, all indices 0) of red, green, blue, white.
  const uint16_t solid[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  uint8_t blocks[4 * 8] = {};
  for (int b = 0; b < 4; ++b) {
    std::memcpy(&blocks[b * 8], &solid[b], 2);
    std::memcpy(&blocks[b * 8 + 2], &solid[b], 2);
  }
  std::tie(px, back) = sample(GpuFormat_BC1_UNorm, blocks, 16);
  EXPECT_EQ(std::memcmp(back.data(), blocks, sizeof blocks), 0);
  const Rgba want[4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 1, 1}};
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) ASSERT_TRUE(Near(At(px, x, y), want[(y / 4) * 2 + x / 4], 0)) << x << "," << y;

  // Alpha-only textures sample as (0, 0, 0, a).
  uint8_t alpha[64];
  for (uint32_t i = 0; i < 64; ++i) alpha[i] = uint8_t(i * 4);
  std::tie(px, back) = sample(GpuFormat_A8_UNorm, alpha, 8);
  EXPECT_EQ(px[9].r, 0.0f);
  EXPECT_NEAR(px[9].a, 36 / 255.0f, 1e-6);

  // Nothing bound: every channel is zero (alpha included).
  context_->SetShaderResources(GpuShaderStage::Pixel, 1, 1, nullptr);
  const float ones[4] = {1, 1, 1, 1};
  context_->ClearRenderTargetView(rtv_.Get(), ones);
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));
  px = ReadFloats(target_.Get());
  EXPECT_EQ(px[20].r, 0.0f);
  EXPECT_EQ(px[20].a, 0.0f);
}

TEST_F(GpuPipeline, LinesVolumesAndPackedTexturesSampleTheirTexels) {
  MakeTarget(8);
  UseColourPipeline();
  GpuSamplerDesc point;
  point.filter = GpuFilter::MinMagMipPoint;
  GpuRef<GpuSamplerState> sampler;
  ASSERT_EQ(device_->CreateSamplerState(point, sampler.GetAddressOf()), kGpuOk);
  GpuSamplerState* s = sampler.Get();
  context_->SetSamplers(GpuShaderStage::Pixel, 0, 1, &s);
  auto drawWith = [&](const char* source, GpuResource* texture) {
    ps_ = PixelShader(source);
    context_->SetPixelShader(ps_.Get());
    GpuRef<GpuShaderResourceView> srv;
    EXPECT_EQ(device_->CreateShaderResourceView(texture, nullptr, srv.GetAddressOf()), kGpuOk);
    GpuShaderResourceView* v = srv.Get();
    context_->SetShaderResources(GpuShaderStage::Pixel, 0, 1, &v);
    const float ones[4] = {1, 1, 1, 1};
    context_->ClearRenderTargetView(rtv_.Get(), ones);
    DrawVertices(Quad(-1, -1, 1, 1, 0.5f, {}));
    return ReadFloats(target_.Get());
  };

  // A line of eight texels (0xAABBGGRR): each column of the target shows its own texel.
  const uint32_t texels[8] = {0xff0000ffu, 0xff00ff00u, 0xffff0000u, 0x80ffffffu,
                              0x00000000u, 0xff808080u, 0x40102030u, 0xffffff00u};
  GpuTexture1DDesc lineDesc;
  lineDesc.width = 8;
  lineDesc.format = GpuFormat_R8G8B8A8_UNorm;
  lineDesc.bindFlags = GpuBind_ShaderResource;
  GpuSubresourceData lineData{texels, 0, 0};
  GpuRef<GpuTexture1D> line;
  ASSERT_EQ(device_->CreateTexture1D(lineDesc, &lineData, line.GetAddressOf()), kGpuOk);
  std::vector<Rgba> px = drawWith(R"(#version 450
layout(binding = 0) uniform sampler1D g_line;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_line, gl_FragCoord.x / 8.0); }
)", line.Get());
  auto channel = [](uint32_t texel, int c) { return float((texel >> (8 * c)) & 0xff) / 255.0f; };
  for (uint32_t x = 0; x < 8; ++x)
    for (uint32_t y : {0u, 7u})
      ASSERT_TRUE(Near(At(px, x, y), {channel(texels[x], 0), channel(texels[x], 1), channel(texels[x], 2),
                                      channel(texels[x], 3)}, 1e-6f))
          << x << "," << y;

  // A volume of two 8 x 8 slices: the back one is rewritten through a box, the front one keeps its
  // grey. The shader reads the back slice.
  GpuTexture3DDesc volumeDesc;
  volumeDesc.width = volumeDesc.height = 8;
  volumeDesc.depth = 2;
  volumeDesc.format = GpuFormat_R8G8B8A8_UNorm;
  volumeDesc.bindFlags = GpuBind_ShaderResource;
  std::vector<uint32_t> slices(8 * 8 * 2, 0xff404040u);
  GpuSubresourceData volumeData{slices.data(), 8 * 4, 8 * 8 * 4};
  GpuRef<GpuTexture3D> volume;
  ASSERT_EQ(device_->CreateTexture3D(volumeDesc, &volumeData, volume.GetAddressOf()), kGpuOk);
  std::vector<uint32_t> back(8 * 8);
  for (uint32_t i = 0; i < 64; ++i) back[i] = 0xff000000u | (i * 4) | ((255 - i * 4) << 8);
  const GpuBox backSlice{0, 0, 1, 8, 8, 2};
  context_->UpdateSubresource(volume.Get(), 0, &backSlice, back.data(), 8 * 4, 8 * 8 * 4);
  px = drawWith(R"(#version 450
layout(binding = 0) uniform sampler3D g_volume;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_volume, vec3(gl_FragCoord.xy / 8.0, 0.75)); }
)", volume.Get());
  for (uint32_t i = 0; i < 64; ++i)
    ASSERT_TRUE(Near(px[i], {float(i * 4) / 255.0f, float(255 - i * 4) / 255.0f, 0, 1}, 1e-6f)) << i;
  std::vector<uint8_t> stored;
  ASSERT_EQ(device_->ReadTexels(volume.Get(), 0, &stored), kGpuOk);
  ASSERT_EQ(stored.size(), 8u * 8u * 2u * 4u);
  EXPECT_EQ(std::memcmp(stored.data(), slices.data(), 256), 0);  // the front slice as it was made
  EXPECT_EQ(std::memcmp(stored.data() + 256, back.data(), 256), 0);

  // 5-6-5 texels: red in the high five bits, blue in the low five.
  const uint16_t packed[4] = {0xF800, 0x07E0, 0x001F, 0x8410};
  GpuTexture2DDesc packedDesc;
  packedDesc.width = 4;
  packedDesc.height = 1;
  packedDesc.format = GpuFormat_B5G6R5_UNorm;
  packedDesc.bindFlags = GpuBind_ShaderResource;
  GpuSubresourceData packedData{packed, 8, 0};
  GpuRef<GpuTexture2D> flat;
  ASSERT_EQ(device_->CreateTexture2D(packedDesc, &packedData, flat.GetAddressOf()), kGpuOk);
  px = drawWith(R"(#version 450
layout(binding = 0) uniform sampler2D g_flat;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_flat, vec2(gl_FragCoord.x / 8.0, 0.5)); }
)", flat.Get());
  const Rgba want[4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {16 / 31.0f, 32 / 63.0f, 16 / 31.0f, 1}};
  // A driver may keep the channels eight bits deep (16 of 31 as 132 of 255): within half a step of 255.
  for (uint32_t x = 0; x < 8; ++x) ASSERT_TRUE(Near(At(px, x, 3), want[x / 2], 2.5e-3f)) << x;

  // A view of another kind samples zero, as an empty slot does.
  px = drawWith(R"(#version 450
layout(binding = 0) uniform sampler1D g_line;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texture(g_line, gl_FragCoord.x / 8.0); }
)", flat.Get());
  EXPECT_TRUE(Near(At(px, 1, 1), {0, 0, 0, 0}, 0));
}

TEST_F(GpuPipeline, LinesAndVolumesRefuseWhatTheyCannotHold) {
  GpuTexture1DDesc line;
  line.width = 8;
  line.format = GpuFormat_BC1_UNorm;
  line.bindFlags = GpuBind_ShaderResource;
  GpuRef<GpuTexture1D> compressedLine;
  EXPECT_EQ(device_->CreateTexture1D(line, nullptr, compressedLine.GetAddressOf()), kGpuNotSupported);
  line.format = GpuFormat_R8G8B8A8_UNorm;
  line.mipLevels = 5;  // 8 texels have four levels
  EXPECT_EQ(device_->CreateTexture1D(line, nullptr, compressedLine.GetAddressOf()), kGpuInvalidArg);
  line.mipLevels = 0;
  line.bindFlags |= GpuBind_RenderTarget;
  GpuRef<GpuTexture1D> full;
  ASSERT_EQ(device_->CreateTexture1D(line, nullptr, full.GetAddressOf()), kGpuOk);
  EXPECT_EQ(full->GetDesc().mipLevels, 4u);
  GpuRef<GpuRenderTargetView> rtv;
  EXPECT_EQ(device_->CreateRenderTargetView(full.Get(), nullptr, rtv.GetAddressOf()), kGpuInvalidArg);

  GpuTexture3DDesc volume;
  volume.width = volume.height = 4;
  volume.depth = 2049;
  volume.format = GpuFormat_R8G8B8A8_UNorm;
  volume.bindFlags = GpuBind_ShaderResource;
  GpuRef<GpuTexture3D> deep;
  EXPECT_EQ(device_->CreateTexture3D(volume, nullptr, deep.GetAddressOf()), kGpuInvalidArg);
  volume.depth = 16;
  volume.mipLevels = 0;  // the depth sets the chain: 16, 8, 4, 2, 1
  ASSERT_EQ(device_->CreateTexture3D(volume, nullptr, deep.GetAddressOf()), kGpuOk);
  EXPECT_EQ(deep->GetDesc().mipLevels, 5u);
  GpuShaderResourceViewDesc asFlat;
  asFlat.dimension = GpuViewDimension::Texture2D;
  GpuRef<GpuShaderResourceView> view;
  EXPECT_EQ(device_->CreateShaderResourceView(deep.Get(), &asFlat, view.GetAddressOf()), kGpuInvalidArg);
  uint32_t support = 0;
  ASSERT_EQ(device_->CheckFormatSupport(GpuFormat_B5G6R5_UNorm, &support), kGpuOk);
  EXPECT_EQ(support & (GpuSupport_Texture1D | GpuSupport_Texture3D), GpuSupport_Texture1D | GpuSupport_Texture3D);
  ASSERT_EQ(device_->CheckFormatSupport(GpuFormat_BC1_UNorm, &support), kGpuOk);
  EXPECT_EQ(support & GpuSupport_Texture1D, 0u);
}

TEST_F(GpuPipeline, SrgbTargetsEncodeClearsAndWrites) {
  MakeTarget(8, GpuFormat_R8G8B8A8_UNorm_SRGB);
  UseColourPipeline();
  const float half[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  context_->ClearRenderTargetView(rtv_.Get(), half);
  DrawVertices(Quad(-1, -1, 0, 1, 0.5f, {0.2f, 0.2f, 0.2f, 1}));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(device_->ReadTexels(target_.Get(), 0, &bytes), kGpuOk);
  EXPECT_NEAR(bytes[(4 * 8 + 6) * 4], 188, 1);  // linear 0.5 in sRGB
  EXPECT_EQ(bytes[(4 * 8 + 6) * 4 + 3], 128);   // alpha is not encoded
  EXPECT_NEAR(bytes[(4 * 8 + 1) * 4], 124, 1);  // linear 0.2 in sRGB
}

TEST_F(GpuPipeline, InputLayoutsMustFeedEveryShaderInputAndBadSourcesAreRefused) {
  vs_ = VertexShader(kColourVS);
  const GpuInputElementDesc onlyPosition[] = {
      {"position", 0, GpuFormat_R32G32B32_Float, 0, 0, GpuInputClass::PerVertex, 0}};
  EXPECT_EQ(device_->CreateInputLayout(onlyPosition, 1, lastVertexCode_.data(), lastVertexCode_.size(),
                                       layout_.GetAddressOf()),
            kGpuInvalidArg);
  static std::string message;
  SetGpuMessageSink([](bool, const char* text) { message = text; });
  std::string error;
  std::vector<uint8_t> code = PackShaderSource(GpuShaderStage::Pixel, "#version 450\nvoid main() { nonsense; }", &error);
  GpuRef<GpuPixelShader> bad;
  EXPECT_EQ(device_->CreatePixelShader(code.data(), code.size(), bad.GetAddressOf()), kGpuInvalidArg);
  EXPECT_NE(message.find("does not compile"), std::string::npos);
  EXPECT_EQ(device_->CreateVertexShader(code.data(), code.size(), vs_.GetAddressOf()), kGpuInvalidArg);  // wrong stage
  SetGpuMessageSink(nullptr);
}

TEST_F(GpuPipeline, OffscreenSwapChainsPresentAndResizeOnlyWhenUnreferenced) {
  GpuSwapChainDesc desc;
  desc.width = 32;
  desc.height = 16;
  GpuRef<GpuSwapChain> chain;
  ASSERT_EQ(device_->CreateSwapChain(desc, chain.GetAddressOf()), kGpuOk);
  GpuRef<GpuTexture2D> back;
  ASSERT_EQ(chain->GetBuffer(0, back.GetAddressOf()), kGpuOk);
  GpuRef<GpuRenderTargetView> view;
  ASSERT_EQ(device_->CreateRenderTargetView(back.Get(), nullptr, view.GetAddressOf()), kGpuOk);
  const float colour[4] = {0, 1, 0, 1};
  context_->ClearRenderTargetView(view.Get(), colour);
  EXPECT_EQ(chain->Present(0, 0), kGpuOk);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(device_->ReadTexels(back.Get(), 0, &bytes), kGpuOk);
  EXPECT_EQ(bytes.size(), 32u * 16 * 4);
  EXPECT_EQ(bytes[31 * 4 + 1], 255);

  EXPECT_EQ(chain->ResizeBuffers(0, 64, 8, GpuFormat_Unknown, 0), kGpuInvalidCall);
  view.Reset();
  back.Reset();
  ASSERT_EQ(chain->ResizeBuffers(0, 64, 8, GpuFormat_Unknown, 0), kGpuOk);
  ASSERT_EQ(chain->GetBuffer(0, back.GetAddressOf()), kGpuOk);
  EXPECT_EQ(back->GetDesc().width, 64u);
  EXPECT_EQ(back->GetDesc().format, GpuFormat_R8G8B8A8_UNorm);

  desc.width = 0;
  GpuRef<GpuSwapChain> none;
  EXPECT_EQ(device_->CreateSwapChain(desc, none.GetAddressOf()), kGpuInvalidArg);
}

TEST(GpuDeviceLife, FeatureLevelsAndObjectsOutlivingTheirDevice) {
  GpuRef<GpuDevice> device;
  GpuRef<GpuContext> context;
  GpuFeatureLevel achieved{};
  const GpuFeatureLevel low[] = {GpuFeatureLevel(0xb100), GpuFeatureLevel_9_1};
  ASSERT_EQ(CreateGpuDevice(GpuDriverType::Hardware, low, 2, device.GetAddressOf(), &achieved, nullptr), kGpuOk);
  EXPECT_EQ(achieved, GpuFeatureLevel_9_1);
  EXPECT_EQ(device->GetFeatureLevel(), GpuFeatureLevel_9_1);
  device.Reset();
  const GpuFeatureLevel none[] = {GpuFeatureLevel(0xc000)};
  EXPECT_EQ(CreateGpuDevice(GpuDriverType::Hardware, none, 1, device.GetAddressOf(), nullptr, nullptr), kGpuInvalidArg);
  // Failing drivers are the renderer's device tests' concern.
  ASSERT_EQ(CreateGpuDevice(GpuDriverType::Software, nullptr, 0, device.GetAddressOf(), nullptr,
                            context.GetAddressOf()),
            kGpuOk);

  // Objects, bound or not, may outlive the device: their release then touches no GL.
  GpuBufferDesc bd;
  bd.byteWidth = 64;
  bd.bindFlags = GpuBind_ConstantBuffer;
  GpuRef<GpuBuffer> buffer;
  ASSERT_EQ(device->CreateBuffer(bd, nullptr, buffer.GetAddressOf()), kGpuOk);
  GpuTexture2DDesc td;
  td.width = td.height = 4;
  td.format = GpuFormat_R8G8B8A8_UNorm;
  td.bindFlags = GpuBind_ShaderResource | GpuBind_RenderTarget;
  GpuRef<GpuTexture2D> texture;
  ASSERT_EQ(device->CreateTexture2D(td, nullptr, texture.GetAddressOf()), kGpuOk);
  GpuRef<GpuRenderTargetView> rtv;
  ASSERT_EQ(device->CreateRenderTargetView(texture.Get(), nullptr, rtv.GetAddressOf()), kGpuOk);
  GpuRenderTargetView* v = rtv.Get();
  context->SetRenderTargets(1, &v, nullptr);
  GpuBuffer* b = buffer.Get();
  context->SetConstantBuffers(GpuShaderStage::Vertex, 0, 1, &b);
  context.Reset();
  device.Reset();
  rtv.Reset();
  texture.Reset();
  buffer.Reset();
}

}  // namespace
