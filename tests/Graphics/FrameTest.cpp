// Frames: the letter-boxed viewport, resizing, clear and present pairing read back from the
// back buffer.
#include "Graphics/DepthBuffer.h"
#include "Graphics/Frame.h"
#include "tests/Graphics/RendererFixture.h"

#include <cstring>
#include <memory>

namespace {

using namespace GpuTest;

class Frames : public RendererFixture {
 protected:
  // The back buffer's first texel, as bytes.
  uint32_t BackBufferTexel(Graphics::Frame& frame) {
    GpuRef<GpuTexture2D> back;
    EXPECT_EQ(frame.GetSwapChain()->GetBuffer(0, back.GetAddressOf()), kGpuOk);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadTexels(back.Get(), 0, &bytes), kGpuOk);
    uint32_t texel = 0;
    std::memcpy(&texel, bytes.data(), 4);
    return texel;
  }
};

TEST_F(Frames, LetterBoxIsTheLargestCentred16By9Rectangle) {
  struct Case {
    uint32_t w, h;
    float boxW, boxH, x, y;
  };
  for (const Case& c : {Case{1920, 1080, 1920, 1080, 0, 0}, Case{1920, 1200, 1920, 1080, 0, 60},
                        Case{2560, 1080, 1920, 1080, 320, 0}}) {
    Graphics::Frame frame(nullptr, c.w, c.h);
    EXPECT_NEAR(frame.GetViewportSize().x, c.boxW, 1e-3f) << c.w << "x" << c.h;
    EXPECT_NEAR(frame.GetViewportSize().y, c.boxH, 1e-3f) << c.w << "x" << c.h;
    EXPECT_NEAR(frame.GetLetterBoxViewport().topLeftX, c.x, 1e-3f);
    EXPECT_NEAR(frame.GetLetterBoxViewport().topLeftY, c.y, 1e-3f);
    EXPECT_EQ(frame.GetFullViewport().width, float(c.w));
    EXPECT_EQ(frame.GetFullViewport().height, float(c.h));
  }

  // SetViewport follows the letter-box flag.
  Graphics::Frame frame(nullptr, 1920, 1200);
  GpuViewport set;
  uint32_t count = 1;
  frame.SetLetterBox(true);
  frame.SetViewport();
  context_->GetViewports(&count, &set);
  EXPECT_NEAR(set.topLeftY, 60, 1e-3f);
  frame.SetLetterBox(false);
  frame.SetViewport();
  context_->GetViewports(&count, &set);
  EXPECT_EQ(set.topLeftY, 0);
  EXPECT_EQ(set.height, 1200);
}

TEST_F(Frames, ResizeToNothingOrTheSameSizeChangesNothing) {
  Graphics::Frame frame(nullptr, 64, 36);
  const uint64_t depth = frame.GetDepthBuffer()->GetTexture()->Serial();
  GpuRenderTargetView* view = frame.GetRenderTargetView();
  frame.Resize(0, 0);
  frame.Resize(64, 36);
  EXPECT_EQ(frame.GetDepthBuffer()->GetTexture()->Serial(), depth);
  EXPECT_EQ(frame.GetRenderTargetView(), view);

  // Bound as the output, the back buffer is still resized: the frame unbinds it first.
  frame.BindTarget();
  frame.Resize(80, 60);
  EXPECT_EQ(frame.GetSize(), Base::Vec2(80, 60));
  EXPECT_EQ(frame.GetSwapChain()->GetDesc().width, 80u);
  EXPECT_EQ(frame.GetDepthBuffer()->GetTexture()->GetDesc().height, 60u);
  ASSERT_NE(frame.GetRenderTargetView(), nullptr);
  EXPECT_NEAR(frame.GetViewportOffset().y, (60 - 45) * 0.5f, 1e-3f);
}

TEST_F(Frames, TheFirstClearSinceAPresentCountsAndOnePresentFollows) {
  Graphics::Frame frame(nullptr, 8, 8);
  const uint64_t presents = device_->Stats().presents;
  frame.Present();  // nothing was cleared
  EXPECT_EQ(device_->Stats().presents, presents);

  frame.Clear({1, 0, 0, 1});
  frame.Clear({0, 0, 1, 1});  // does not overwrite the first
  EXPECT_EQ(frame.GetPendingPresents(), 2u);
  EXPECT_EQ(frame.GetClearColour(), Base::Vec4(1, 0, 0, 1));
  EXPECT_EQ(BackBufferTexel(frame), 0xff0000ffu);  // R8G8B8A8: red in the low byte
  frame.Present();
  frame.Present();
  EXPECT_EQ(device_->Stats().presents, presents + 1);
  EXPECT_EQ(frame.GetPendingPresents(), 0u);

  frame.ClearTo(0, 1, 0, 1);  // at once, not counted
  EXPECT_EQ(BackBufferTexel(frame), 0xff00ff00u);
  EXPECT_EQ(frame.GetPendingPresents(), 0u);
  frame.PresentNow();
  EXPECT_EQ(device_->Stats().presents, presents + 2);
}

TEST_F(Frames, AWindowsFrameSwitchesFullScreenAndBindsItsTarget) {
  std::string error;
  std::unique_ptr<Platform::Window> window(Platform::Window::Create("frame", 48, 27, Platform::Window::Hidden, &error));
  ASSERT_NE(window, nullptr) << error;
  {
    Graphics::Frame frame(window.get(), 48, 27);
    ASSERT_NE(frame.GetSwapChain(), nullptr);
    frame.SetFullScreen(true);
    EXPECT_TRUE(frame.IsFullScreen());
    frame.SetFullScreen(false);
    frame.BindTarget();
    GpuRenderTargetView* bound = nullptr;
    GpuDepthStencilView* depth = nullptr;
    context_->GetRenderTargets(1, &bound, &depth);
    EXPECT_EQ(bound, frame.GetRenderTargetView());
    EXPECT_EQ(depth, frame.GetDepthBuffer()->GetView());
    bound->Release();
    depth->Release();
    context_->SetRenderTargets(0, nullptr, nullptr);
    frame.Clear({0, 0, 0, 1});
    frame.Present();
  }
  EXPECT_FALSE(window->IsFullScreen());
}

}  // namespace
