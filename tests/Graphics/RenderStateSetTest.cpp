// The fixed state tables: their contents, selection by index with read-back, and release.
#include "tests/Graphics/RendererFixture.h"

#include "DirectX/CommonStates.h"
#include "Graphics/RenderStateSet.h"

namespace {

using namespace GpuTest;
using Graphics::RenderStateSet;

class RenderStateSetTest : public RendererFixture {};

TEST_F(RenderStateSetTest, TablesSelectByIndexAndReleaseKeepsOnlyTheBlends) {
  RenderStateSet& set = RenderStateSet::GetInstance();
  EXPECT_EQ(&RenderStateSet::GetInstance(), &set);
  DirectX::CommonStates common(device_.Get());
  EXPECT_EQ(set.m_blendStates[0], nullptr);
  EXPECT_EQ(set.m_blendStates[1], common.PremultipliedAlphaBlend());
  EXPECT_EQ(set.m_blendStates[5], common.AdditiveBlend());
  EXPECT_EQ(set.m_depthStencilStates[0], nullptr);
  EXPECT_EQ(set.m_rasterizerStates[1]->GetDesc().fillMode, GpuFillMode::Wireframe);
  EXPECT_FALSE(set.m_rasterizerStates[2]->GetDesc().depthClipEnable);
  EXPECT_EQ(set.m_samplerStates[0]->GetDesc().addressV, GpuAddressMode::Wrap);
  EXPECT_EQ(set.m_samplerStates[1]->GetDesc().addressV, GpuAddressMode::Clamp);

  // Every blend entry, read back over a known destination.
  MakeTarget(16);
  UseColourPipeline();
  const Rgba dst{0.2f, 0.4f, 0.6f, 0.8f};
  const float dstF[4] = {dst.r, dst.g, dst.b, dst.a};
  auto expect = [&](int i, Rgba s) -> Rgba {
    switch (i) {
      case 0: return s;
      case 1: return {s.r + dst.r * (1 - s.a), s.g + dst.g * (1 - s.a), s.b + dst.b * (1 - s.a), s.a + dst.a * (1 - s.a)};
      case 2: return {s.r + dst.r, s.g + dst.g, s.b + dst.b, s.a};
      case 3: return {s.r - dst.r, s.g - dst.g, s.b - dst.b, s.a};
      case 4: return {s.r + dst.r * (1 - s.r), s.g + dst.g * (1 - s.g), s.b + dst.b * (1 - s.b), dst.a * (1 - s.a)};
      default: return {s.r * s.a + dst.r, s.g * s.a + dst.g, s.b * s.a + dst.b, s.a * s.a + dst.a};
    }
  };
  // Vertex colours vary over the quad, so the source differs per pixel.
  const Vertex quad[6] = {{-1, 1, 0.5f, 0, 0.2f, 1, 0.1f}, {1, 1, 0.5f, 1, 0.2f, 0, 0.5f}, {-1, -1, 0.5f, 0, 0.9f, 1, 0.1f},
                          {1, 1, 0.5f, 1, 0.2f, 0, 0.5f},  {1, -1, 0.5f, 1, 0.9f, 0, 0.5f}, {-1, -1, 0.5f, 0, 0.9f, 1, 0.1f}};
  std::vector<Rgba> source;
  for (int i = 0; i < RenderStateSet::kBlendCount; ++i) {
    context_->ClearRenderTargetView(rtv_.Get(), dstF);
    context_->SetBlendState(set.m_blendStates[i], nullptr, 0xffffffff);
    DrawVertices(std::vector<Vertex>(quad, quad + 6));
    std::vector<Rgba> px = ReadFloats(target_.Get());
    if (i == 0) source = px;
    for (size_t p = 0; p < px.size(); ++p)
      ASSERT_TRUE(Near(px[p], expect(i, source[p]))) << "blend " << i << " pixel " << p;
  }
  EXPECT_NE(source[0].g, source[255].g);
  context_->SetBlendState(nullptr, nullptr, 0xffffffff);

  // Depth-stencil 1 counts the geometry into the stencil, 2 then draws only there, ignoring
  // depth; 3 tests without writing.
  MakeDepth();
  context_->SetDepthStencilState(set.m_depthStencilStates[1], 0);
  DrawVertices(Quad(-1, 0, 0, 1, 0.5f, {1, 0, 0, 1}));
  std::vector<Vertex> full(quad, quad + 6);
  for (Vertex& v : full) v.z = 0.9f;
  context_->SetDepthStencilState(set.m_depthStencilStates[2], 0);
  const float clear[4] = {0, 0, 0, 0};
  context_->ClearRenderTargetView(rtv_.Get(), clear);
  DrawVertices(full);
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 3, 3).b, source[3 * 16 + 3].b);
  EXPECT_EQ(At(px, 12, 12).a, 0.0f);
  context_->SetDepthStencilState(set.m_depthStencilStates[3], 0);
  for (Vertex& v : full) v.z = 0.7f;
  DrawVertices(full);
  EXPECT_NEAR(DepthAt(3, 3), 0.5, 1e-6);  // untouched by states 2 and 3
  EXPECT_EQ(DepthStencilAt(12, 12) & 0xffffff, 0xffffffu);
  EXPECT_EQ(DepthStencilAt(3, 3) >> 24, 1u);
  px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 3, 3).b, source[3 * 16 + 3].b);  // behind the corner at 0.5
  EXPECT_EQ(At(px, 12, 12).g, source[12 * 16 + 12].g);
  context_->SetDepthStencilState(nullptr, 0);

  set.Release();
  for (auto* s : set.m_rasterizerStates) EXPECT_EQ(s, nullptr);
  for (auto* s : set.m_samplerStates) EXPECT_EQ(s, nullptr);
  for (auto* s : set.m_depthStencilStates) EXPECT_EQ(s, nullptr);
  for (int i = 1; i < RenderStateSet::kBlendCount; ++i) EXPECT_NE(set.m_blendStates[i], nullptr);
  // Later tests draw with the whole set: the next use builds it anew on this device.
  RenderStateSet::DeviceDestroyed();
}

TEST(RenderStateSetDevice, ANewDeviceGetsTheSetBuiltAnewOnIt) {
  RenderStateSet& set = RenderStateSet::GetInstance();
  Graphics::DestroyDevice();
  EXPECT_EQ(set.m_samplerStates[0], nullptr);  // nothing of the old device is kept
  EXPECT_EQ(&RenderStateSet::GetInstance(), &set);
  DirectX::CommonStates common(Graphics::GetDevice()->m_device);
  EXPECT_EQ(set.m_blendStates[1], common.PremultipliedAlphaBlend());
  EXPECT_NE(set.m_samplerStates[0], nullptr);
}

}  // namespace
