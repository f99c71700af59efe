// Render targets and the G-buffer: creation and its log, the two bindings unbinding each other,
// resizing, and clearing read back.
#include "Graphics/DepthBuffer.h"
#include "Graphics/RenderTarget.h"
#include "tests/Graphics/RendererFixture.h"

namespace {

using namespace GpuTest;
using Graphics::Renderer::GBuffer;
using Graphics::Renderer::RenderTarget;

class RenderTargets : public RendererFixture {
 protected:
  std::vector<GpuShaderResourceView*> PixelSlots(uint32_t count) {
    std::vector<GpuShaderResourceView*> views(count);
    context_->GetShaderResources(GpuShaderStage::Pixel, 0, count, views.data());
    for (GpuShaderResourceView* v : views)
      if (v) v->Release();  // only the addresses are compared
    return views;
  }
  GpuRenderTargetView* Output(uint32_t i, GpuDepthStencilView** depth = nullptr) {
    GpuRenderTargetView* views[8] = {};
    GpuDepthStencilView* dsv = nullptr;
    context_->GetRenderTargets(8, views, &dsv);
    for (GpuRenderTargetView* v : views)
      if (v) v->Release();
    if (dsv) dsv->Release();
    if (depth) *depth = dsv;
    return views[i];
  }
};

TEST_F(RenderTargets, AreCreatedWithOneLogLineAndTheirSizeFormatsAndViews) {
  GBuffer gbuffer(GpuFormat_R32G32B32A32_Float, 64, 32);
  EXPECT_EQ(log_.Take(),
            "[Verbose][Graphics] Initializing RenderTarget 64 x 32\n[ Info  ][Graphics] Creating GBuffer\n");
  EXPECT_EQ(gbuffer.GetSize(), Base::Vec2(64, 32));
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(gbuffer.GetFormat(i), uint32_t(GpuFormat_R32G32B32A32_Float));
    ASSERT_NE(gbuffer.GetShaderResource(i), nullptr);
    EXPECT_EQ(gbuffer.GetTexture(i)->GetDesc().width, 64u);
    EXPECT_EQ(gbuffer.GetTexture(i)->GetDesc().bindFlags, uint32_t(GpuBind_RenderTarget | GpuBind_ShaderResource));
  }
  RenderTarget<1> shadow(GpuFormat_R32_Float, 4096, 4096);
  EXPECT_EQ(shadow.GetSize(), Base::Vec2(4096, 4096));
  EXPECT_EQ(shadow.GetTexture(0)->GetDesc().format, GpuFormat_R32_Float);
}

TEST_F(RenderTargets, BindingOneWayUnbindsTheOther) {
  GBuffer gbuffer(GpuFormat_R32G32B32A32_Float, 16, 16);
  Graphics::DepthBuffer depth(GpuFormat_D24_UNorm_S8_UInt, 16, 16);
  gbuffer.BindAsShaderResources(0);
  EXPECT_EQ(PixelSlots(4)[3], gbuffer.GetShaderResource(3));

  // As the output: pixel slots 0 to 3 are emptied first, then the four targets and the depth view bound.
  gbuffer.BindAsRenderTargets(&depth);
  for (GpuShaderResourceView* v : PixelSlots(4)) EXPECT_EQ(v, nullptr);
  GpuDepthStencilView* dsv = nullptr;
  EXPECT_EQ(Output(0, &dsv), gbuffer.GetRenderTargetView(0));
  EXPECT_EQ(Output(3), gbuffer.GetRenderTargetView(3));
  EXPECT_EQ(dsv, depth.GetView());

  // Back to reading: every output goes first.
  gbuffer.BindAsShaderResources(2);
  EXPECT_EQ(Output(0, &dsv), nullptr);
  EXPECT_EQ(dsv, nullptr);
  EXPECT_EQ(PixelSlots(6)[5], gbuffer.GetShaderResource(3));

  // A single target bound for reading while another object writes leaves that output alone.
  RenderTarget<1> light(GpuFormat_R32G32B32A32_Float, 16, 16);
  gbuffer.BindAsRenderTargets(nullptr);
  light.BindAsShaderResources(4);
  EXPECT_EQ(Output(0, &dsv), gbuffer.GetRenderTargetView(0));
  EXPECT_EQ(dsv, nullptr);
  light.BindAsRenderTargets(nullptr);
  EXPECT_EQ(PixelSlots(5)[4], nullptr);
}

TEST_F(RenderTargets, ResizeRecreatesEveryObjectEvenAtTheSameSize) {
  RenderTarget<1> target(GpuFormat_R32G32B32A32_Float, 32, 32);
  log_.Take();
  const uint64_t before = target.GetTexture(0)->Serial();
  target.Resize(32, 32);
  EXPECT_EQ(log_.Take(), "[Verbose][Graphics] Initializing RenderTarget 32 x 32\n");
  EXPECT_NE(target.GetTexture(0)->Serial(), before);
  target.Resize(1280, 720);
  EXPECT_EQ(target.GetSize(), Base::Vec2(1280, 720));
  EXPECT_EQ(target.GetTexture(0)->GetDesc().height, 720u);
  EXPECT_TRUE(target.IsBoundAsShaderResources());
  target.ReleaseViews();
  EXPECT_EQ(target.GetShaderResource(0), nullptr);
  EXPECT_EQ(target.GetTexture(0), nullptr);
}

TEST_F(RenderTargets, ATargetTheDeviceCannotMakeIsReportedAndBindsAsNothing) {
  RenderTarget<1> empty(GpuFormat_R32G32B32A32_Float, 0, 0);
  EXPECT_EQ(
      log_.Take(),
      "[Verbose][Graphics] Initializing RenderTarget 0 x 0\n[ Error ][Graphics] Failed to create RenderTarget 0 x 0\n");
  EXPECT_EQ(empty.GetShaderResource(0), nullptr);
  empty.BindAsRenderTargets(nullptr);
  EXPECT_EQ(Output(0), nullptr);
  empty.BindAsShaderResources(0);
  EXPECT_EQ(PixelSlots(1)[0], nullptr);
}

TEST_F(RenderTargets, GBufferClearsEveryTargetToOpaqueBlack) {
  GBuffer gbuffer(GpuFormat_R32G32B32A32_Float, 4, 4);
  const float red[4] = {1, 0, 0, 0};
  for (uint32_t i = 0; i < 4; ++i) context_->ClearRenderTargetView(gbuffer.GetRenderTargetView(i), red);
  gbuffer.Clear();
  size_ = 4;
  for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(Near(At(ReadFloats(gbuffer.GetTexture(i)), 3, 3), {0, 0, 0, 1}));
}

TEST_F(RenderTargets, DepthBuffersLogClearAndSelectTheFixedStates) {
  {
    Graphics::DepthBuffer depth(GpuFormat_D24_UNorm_S8_UInt, 8, 4);
    EXPECT_EQ(log_.Take(), "[Verbose][Graphics] Initializing DepthBuffer 8 x 4\n");
    EXPECT_EQ(depth.GetTexture()->GetDesc().format, GpuFormat_D24_UNorm_S8_UInt);
    depth.Resize(16, 16);
    EXPECT_EQ(log_.Take(), "");
    EXPECT_EQ(depth.GetTexture()->GetDesc().width, 16u);
    depth.SetDepthState(4);
    EXPECT_EQ(log_.Take(), "[Warning][Graphics] Depth state 4 does not exist, the state is unchanged\n");
    depth.SetDepthState(3);
    EXPECT_EQ(log_.Take(), "");
  }
  EXPECT_EQ(log_.Take(), "[Verbose][Graphics] Releasing DepthBuffer\n");
}

}  // namespace
