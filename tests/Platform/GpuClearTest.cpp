// Clears of the graphics layer: issued with the next draw to their view, collapsed when repeated, and
// issued on their own before anything reads the texture; and the anisotropy samplers get per device.
#include "tests/Platform/GpuTestSupport.h"

#include "Platform/Graphics/GpuSwapChain.h"

namespace {

using namespace GpuTest;

const Rgba kRed{1, 0, 0, 1}, kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1};

class GpuClears : public GpuFixture {
 protected:
  void SetUp() override {
    GpuFixture::SetUp();
    MakeTarget(16);
    MakeDepth();
    UseColourPipeline();
  }
  // A second colour target of the fixture's size, with its views.
  void MakeSecond(uint32_t bind = GpuBind_RenderTarget | GpuBind_ShaderResource) {
    GpuTexture2DDesc d;
    d.width = d.height = size_;
    d.format = GpuFormat_R32G32B32A32_Float;
    d.bindFlags = bind;
    ASSERT_EQ(device_->CreateTexture2D(d, nullptr, second_.GetAddressOf()), kGpuOk);
    ASSERT_EQ(device_->CreateRenderTargetView(second_.Get(), nullptr, secondView_.GetAddressOf()), kGpuOk);
    if (bind & GpuBind_ShaderResource) {
      ASSERT_EQ(device_->CreateShaderResourceView(second_.Get(), nullptr, secondSrv_.GetAddressOf()), kGpuOk);
    }
  }
  void Clear(GpuRenderTargetView* view, Rgba c) {
    const float f[4] = {c.r, c.g, c.b, c.a};
    context_->ClearRenderTargetView(view, f);
  }
  // A quad over the left half of the bound targets, at depth 0.5.
  void DrawLeftHalf(Rgba c) { DrawVertices(Quad(-1, -1, 0, 1, 0.5f, c)); }

  // Draws from here on keep to `rect`.
  void UseScissor(const GpuRect& rect) {
    GpuRasterizerDesc r;
    r.scissorEnable = true;
    ASSERT_EQ(device_->CreateRasterizerState(r, scissor_.GetAddressOf()), kGpuOk);
    context_->SetScissorRects(1, &rect);
    context_->SetRasterizerState(scissor_.Get());
  }

  uint64_t Issued() const { return device_->Stats().clears; }
  uint64_t OnOwn() const { return device_->Stats().clearsOnOwn; }

  GpuRef<GpuTexture2D> second_;
  GpuRef<GpuRenderTargetView> secondView_;
  GpuRef<GpuShaderResourceView> secondSrv_;
  GpuRef<GpuRasterizerState> scissor_;
};

TEST_F(GpuClears, AClearWaitsForTheNextDrawToItsViewAndRepeatedClearsCollapse) {
  DrawLeftHalf(kBlue);  // the fixture's clears reach the targets with this draw, on its framebuffer
  const uint64_t issued = Issued(), onOwn = OnOwn();
  Clear(rtv_.Get(), kRed);
  Clear(rtv_.Get(), kGreen);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 0.75f, 0);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Stencil, 0.0f, 9);
  EXPECT_EQ(Issued(), issued);  // nothing drawn yet: nothing issued
  DrawLeftHalf(kBlue);
  EXPECT_EQ(Issued(), issued + 2);  // one colour clear (the last) and one depth-stencil clear
  EXPECT_EQ(OnOwn(), onOwn);        // both on the framebuffer of the draw

  const std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 3, 8), kBlue));
  EXPECT_TRUE(Near(At(px, 12, 8), kGreen));
  EXPECT_NEAR(DepthAt(3, 8), 0.5f, 1e-6f);
  EXPECT_NEAR(DepthAt(12, 8), 0.75f, 1e-6f);
  EXPECT_EQ(DepthStencilAt(12, 8) >> 24, 9u);  // the stencil clear joined the depth clear

  // The view stays bound: a clear between two draws still reaches the second.
  Clear(rtv_.Get(), kRed);
  DrawVertices(Quad(-1, -1, -0.5f, 1, 0.25f, kGreen));
  const std::vector<Rgba> again = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(again, 1, 8), kGreen));
  EXPECT_TRUE(Near(At(again, 6, 8), kRed));
  EXPECT_TRUE(Near(At(again, 12, 8), kRed));
}

TEST_F(GpuClears, ClearsOnTheDrawsFramebufferIgnoreScissorAndEveryTargetsWriteMask) {
  MakeSecond(GpuBind_RenderTarget);
  GpuRenderTargetView* both[2] = {rtv_.Get(), secondView_.Get()};
  context_->SetRenderTargets(2, both, depthView_.Get());
  GpuBlendDesc masked;
  masked.independentBlendEnable = true;
  masked.renderTarget[1].renderTargetWriteMask = 0;
  GpuRef<GpuBlendState> noSecond;
  ASSERT_EQ(device_->CreateBlendState(masked, noSecond.GetAddressOf()), kGpuOk);
  UseScissor({0, 0, 4, 4});
  context_->SetBlendState(noSecond.Get(), nullptr, 0xffffffff);
  DrawLeftHalf(kBlue);  // the masks and the scissor now hold in GL

  Clear(rtv_.Get(), kRed);
  Clear(secondView_.Get(), kGreen);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);
  const uint64_t onOwn = OnOwn();
  DrawLeftHalf(kBlue);
  EXPECT_EQ(OnOwn(), onOwn);
  const std::vector<Rgba> first = ReadFloats(target_.Get()), second = ReadFloats(second_.Get());
  EXPECT_TRUE(Near(At(first, 2, 2), kBlue));  // drawn inside the scissor
  EXPECT_TRUE(Near(At(first, 2, 12), kRed));
  EXPECT_TRUE(Near(At(first, 14, 14), kRed));
  EXPECT_TRUE(Near(At(second, 2, 2), kGreen));  // its writes are masked, its clear is not
  EXPECT_TRUE(Near(At(second, 14, 14), kGreen));
}

TEST_F(GpuClears, ATextureReadBeforeItsViewIsDrawnToIsClearedOnItsOwnFirst) {
  MakeSecond();
  const Rgba sky{0.25f, 0.5f, 0.75f, 1};

  // Sampled: the drawing into the other target sees the clear.
  Clear(secondView_.Get(), sky);
  ps_ = PixelShader(R"(#version 450
layout(binding = 0) uniform sampler2D g_source;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = texelFetch(g_source, ivec2(gl_FragCoord.xy), 0); }
)");
  context_->SetPixelShader(ps_.Get());
  GpuShaderResourceView* srv = secondSrv_.Get();
  context_->SetShaderResources(GpuShaderStage::Pixel, 0, 1, &srv);
  uint64_t onOwn = OnOwn();
  DrawLeftHalf({});
  EXPECT_EQ(OnOwn(), onOwn + 1);
  EXPECT_TRUE(Near(At(ReadFloats(target_.Get()), 3, 3), sky));
  context_->SetShaderResources(GpuShaderStage::Pixel, 0, 1, nullptr);

  // Read back.
  Clear(secondView_.Get(), kRed);
  EXPECT_TRUE(Near(At(ReadFloats(second_.Get()), 9, 9), kRed));

  // Uploaded into: the clear comes first and the upload stays.
  Clear(secondView_.Get(), kGreen);
  const Rgba corner[4] = {kBlue, kBlue, kBlue, kBlue};
  const GpuBox box{0, 0, 0, 2, 2, 1};
  context_->UpdateSubresource(second_.Get(), 0, &box, corner, 2 * sizeof(Rgba), 0);
  std::vector<Rgba> px = ReadFloats(second_.Get());
  EXPECT_TRUE(Near(At(px, 1, 1), kBlue));
  EXPECT_TRUE(Near(At(px, 5, 5), kGreen));

  // Its view let go: the texture, still read through another view, keeps the clear.
  Clear(secondView_.Get(), sky);
  secondView_.Reset();
  EXPECT_TRUE(Near(At(ReadFloats(second_.Get()), 7, 2), sky));

  // Presented: the present shows the clear, then the back buffer can be resized.
  GpuSwapChainDesc desc;
  desc.width = desc.height = 8;
  GpuRef<GpuSwapChain> chain;
  ASSERT_EQ(device_->CreateSwapChain(desc, chain.GetAddressOf()), kGpuOk);
  {
    GpuRef<GpuTexture2D> back;
    GpuRef<GpuRenderTargetView> view;
    ASSERT_EQ(chain->GetBuffer(0, back.GetAddressOf()), kGpuOk);
    ASSERT_EQ(device_->CreateRenderTargetView(back.Get(), nullptr, view.GetAddressOf()), kGpuOk);
    Clear(view.Get(), kGreen);
    onOwn = OnOwn();
    EXPECT_EQ(chain->Present(0, 0), kGpuOk);
    EXPECT_EQ(OnOwn(), onOwn + 1);
  }
  EXPECT_EQ(chain->ResizeBuffers(0, 4, 4, GpuFormat_Unknown, 0), kGpuOk);
}

TEST_F(GpuClears, AClearOfAnotherViewOfTheSameTextureKeepsTheOrderOfTheCalls) {
  GpuRef<GpuRenderTargetView> other;
  ASSERT_EQ(device_->CreateRenderTargetView(target_.Get(), nullptr, other.GetAddressOf()), kGpuOk);
  Clear(rtv_.Get(), kRed);
  Clear(other.Get(), kGreen);  // the later clear wins wherever the two views meet
  DrawVertices(Quad(-1, -1, -0.5f, 1, 0.5f, kBlue));
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 1, 8), kBlue));
  EXPECT_TRUE(Near(At(px, 12, 8), kGreen));

  // Drawing through the other view: the clear made through the first still comes first.
  Clear(rtv_.Get(), kRed);
  GpuRenderTargetView* view = other.Get();
  context_->SetRenderTargets(1, &view, depthView_.Get());
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);
  DrawVertices(Quad(-1, -1, -0.5f, 1, 0.5f, kBlue));
  px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 1, 8), kBlue));
  EXPECT_TRUE(Near(At(px, 12, 8), kRed));
}

// A part clear (the shadow maps clear only what their last pass drew) reaches its rectangle alone, on
// the draw's framebuffer; a whole clear still waiting goes first on its own, and a later whole clear
// takes the part's place. The draws' own scissor survives it.
TEST_F(GpuClears, APartClearReachesItsRectangleAloneAndWaitsLikeAWholeOne) {
  DrawLeftHalf(kBlue);
  Clear(rtv_.Get(), kRed);
  const GpuRect rect{4, 2, 12, 6};  // x 4-11, rows 2-5 from the top
  const float green[4] = {0, 1, 0, 1};
  uint64_t onOwn = OnOwn();
  context_->ClearRenderTargetView(rtv_.Get(), green, &rect);
  EXPECT_EQ(OnOwn(), onOwn + 1);  // the whole red clear could not wait under a part clear
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 0.25f, 0, &rect);
  const uint64_t issued = Issued();
  onOwn = OnOwn();
  DrawVertices(Quad(-1, -1, -0.5f, 1, 0.4f, kBlue));  // x 0-3, before the left half's depth of 0.5
  EXPECT_EQ(Issued(), issued + 2);
  EXPECT_EQ(OnOwn(), onOwn);
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 2, 3), kBlue));
  EXPECT_TRUE(Near(At(px, 4, 2), kGreen));
  EXPECT_TRUE(Near(At(px, 11, 5), kGreen));
  EXPECT_TRUE(Near(At(px, 12, 5), kRed));
  EXPECT_TRUE(Near(At(px, 8, 6), kRed));
  EXPECT_TRUE(Near(At(px, 8, 1), kRed));
  EXPECT_NEAR(DepthAt(8, 4), 0.25f, 1e-6f);
  EXPECT_NEAR(DepthAt(8, 10), 1.0f, 1e-6f);

  // Inside the part's depth a nearer quad still draws; behind it, not.
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 0.25f, 0, &rect);  // runs the whole one first
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, kBlue));
  px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 8, 4), kGreen));
  EXPECT_TRUE(Near(At(px, 8, 10), kBlue));

  // A whole clear after a waiting part clear replaces it: one clear, everywhere.
  context_->ClearRenderTargetView(rtv_.Get(), green, &rect);
  Clear(rtv_.Get(), kRed);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);
  const uint64_t before = Issued();
  DrawVertices(Quad(-1, -1, -0.5f, 1, 0.5f, kBlue));
  EXPECT_EQ(Issued(), before + 2);
  px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 8, 4), kRed));

  // A scissored draw after a part clear keeps its own rectangle.
  UseScissor({0, 8, 16, 16});
  context_->ClearRenderTargetView(rtv_.Get(), green, &rect);
  context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth, 1.0f, 0);
  DrawVertices(Quad(-1, -1, 1, 1, 0.5f, kBlue));
  px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 8, 4), kGreen));
  EXPECT_TRUE(Near(At(px, 12, 1), kRed));
  EXPECT_TRUE(Near(At(px, 12, 12), kBlue));
}

TEST(GpuAnisotropy, SoftwareRasterisersFilterTrilinearlyAndHardwareGetsWhatItAsks) {
  for (const char* software : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Mesa OffScreen swrast"}) {
    EXPECT_TRUE(IsSoftwareRenderer(software)) << software;
    EXPECT_EQ(DeviceMaxAnisotropy(software), 1u) << software;
  }
  for (const char* hardware : {"AMD Radeon RX 6800 (radeonsi, navi21, LLVM 15.0.6, DRM 3.49)",
                               "NVIDIA GeForce RTX 3080/PCIe/SSE2", "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", ""}) {
    EXPECT_FALSE(IsSoftwareRenderer(hardware)) << hardware;
    EXPECT_EQ(DeviceMaxAnisotropy(hardware), 16u) << hardware;
  }
  EXPECT_FALSE(IsSoftwareRenderer(nullptr));

  // This machine renders in software: its device says so and caps its samplers.
  GpuRef<GpuDevice> device;
  ASSERT_EQ(CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device.GetAddressOf(), nullptr, nullptr), kGpuOk);
  EXPECT_NE(device->RendererName().find("llvmpipe"), std::string::npos) << device->RendererName();
  EXPECT_EQ(device->MaxAnisotropy(), 1u);
}

}  // namespace
