// The renderer's device: creation on first use, driver fallback, failures, swap chains.
#include "tests/Graphics/RendererFixture.h"

#include "Graphics/GPUBuffer.h"
#include "Platform/Window.h"

#include <memory>

namespace {

using namespace GpuTest;

int g_failures = 0;

TEST(GraphicsDevice, IsCreatedOnFirstUseFallsBackToSoftwareAndReleasesTwiceHarmlessly) {
  LogCapture log;
  Graphics::DestroyDevice();
  EXPECT_EQ(Graphics::PeekDevice(), nullptr);
  log.Take();
  Graphics::Device* device = Graphics::GetDevice();
  EXPECT_EQ(log.Take(), "[ Info  ][Graphics] Begin Initializing device\n[ Info  ][Graphics] Device created\n");
  EXPECT_EQ(Graphics::GetDevice(), device);
  ASSERT_NE(device->m_device, nullptr);
  ASSERT_NE(device->m_context, nullptr);
  EXPECT_EQ(device->m_device->GetFeatureLevel(), Platform::GpuFeatureLevel_11_0);
  device->Release();
  EXPECT_EQ(device->m_device, nullptr);
  EXPECT_EQ(device->m_context, nullptr);
  device->Release();
  Graphics::DestroyDevice();
  EXPECT_EQ(Graphics::PeekDevice(), nullptr);

  // When the hardware driver fails the software one is taken, as quietly.
  Platform::GetGpuTestHooks().failingDrivers = 1u << uint32_t(Platform::GpuDriverType::Hardware);
  device = Graphics::GetDevice();
  Platform::GetGpuTestHooks().failingDrivers = 0;
  EXPECT_NE(device->m_device, nullptr);
  EXPECT_EQ(log.Take(), "[ Info  ][Graphics] Begin Initializing device\n[ Info  ][Graphics] Device created\n");
  Graphics::DestroyDevice();
}

TEST(GraphicsDevice, FailureIsReportedAndStopsInsteadOfGoingOnWithoutADevice) {
  LogCapture log;
  Graphics::DestroyDevice();
  log.Take();
  g_failures = 0;
  Graphics::Device::SetFailureHandler([] { ++g_failures; });
  Platform::GetGpuTestHooks().failingDrivers = 3;
  Graphics::Device* device = Graphics::GetDevice();
  Platform::GetGpuTestHooks().failingDrivers = 0;
  EXPECT_EQ(g_failures, 1);
  EXPECT_EQ(device->m_device, nullptr);
  EXPECT_EQ(log.Take(),
            "[ Info  ][Graphics] Begin Initializing device\n"
            "[ Error ][Graphics] Failed to create the graphics device\n");

  // Should a handler return, what follows degrades without crashing.
  EXPECT_EQ(device->CreateSwapChain(nullptr, 8, 8), nullptr);
  EXPECT_EQ(log.Take(),
            "[ Info  ][Graphics] Creating new swapchain, 8 x 8\n"
            "[ Error ][Graphics] Failed to create swapchain, 8 x 8\n");
  Graphics::GPUBuffer buffer(Graphics::GPUBuffer::Constant, nullptr, 64, 0, 0, 0);
  buffer.Update(&g_failures, 4, 0, 0, 0);
  buffer.Bind(true);
  EXPECT_EQ(buffer.GetBuffer(), nullptr);

  Graphics::Device::SetFailureHandler(nullptr);
  Graphics::DestroyDevice();
}

TEST(GraphicsDeviceDeathTest, DefaultFailureHandlerEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Platform::GetGpuTestHooks().failingDrivers = 3;
        Graphics::DestroyDevice();
        Graphics::GetDevice();
      },
      testing::ExitedWithCode(EXIT_FAILURE), "");
}

TEST(GraphicsDevice, AWindowMadeBeforeTheDeviceIsPresentedInto) {
  // The game's order: its window first, the device on the first swap chain.
  LogCapture log;
  Graphics::DestroyDevice();
  std::string error;
  std::unique_ptr<Platform::Window> window(Platform::Window::Create("first", 32, 16, Platform::Window::Hidden, &error));
  ASSERT_NE(window, nullptr) << error;
  Platform::GpuSwapChain* chain = Graphics::GetDevice()->CreateSwapChain(window.get());
  ASSERT_NE(chain, nullptr) << log.Take();
  EXPECT_EQ(chain->GetDesc().width, 32u);
  EXPECT_EQ(chain->Present(0, 0), Platform::kGpuOk);
  chain->Release();
  window.reset();
  Graphics::DestroyDevice();
}

class GraphicsSwapChain : public RendererFixture {};

TEST_F(GraphicsSwapChain, LogsItsSizeAndPresentsIntoAWindowOrOffscreen) {
  Platform::GpuSwapChain* offscreen = Graphics::GetDevice()->CreateSwapChain(nullptr, 64, 32);
  ASSERT_NE(offscreen, nullptr);
  EXPECT_EQ(log_.Take(),
            "[ Info  ][Graphics] Creating new swapchain, 64 x 32\n[ Info  ][Graphics] Created swapchain, 64 x 32\n");
  EXPECT_EQ(offscreen->GetDesc().format, Platform::GpuFormat_R8G8B8A8_UNorm);
  offscreen->Release();

  std::string error;
  std::unique_ptr<Platform::Window> window(
      Platform::Window::Create("Orvanel", 40, 30, Platform::Window::Hidden, &error));
  ASSERT_NE(window, nullptr) << error;
  Platform::GpuSwapChain* chain = Graphics::GetDevice()->CreateSwapChain(window.get());
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(log_.Take(),
            "[ Info  ][Graphics] Creating new swapchain, 40 x 30\n[ Info  ][Graphics] Created swapchain, 40 x 30\n");
  Platform::GpuRef<Platform::GpuTexture2D> back;
  ASSERT_EQ(chain->GetBuffer(0, back.GetAddressOf()), Platform::kGpuOk);
  Platform::GpuRef<Platform::GpuRenderTargetView> view;
  ASSERT_EQ(device_->CreateRenderTargetView(back.Get(), nullptr, view.GetAddressOf()), Platform::kGpuOk);
  const float colour[4] = {0.25f, 0.5f, 1, 1};
  context_->ClearRenderTargetView(view.Get(), colour);
  uint64_t presents = device_->Stats().presents;
  EXPECT_EQ(chain->Present(0, 0), Platform::kGpuOk);
  EXPECT_EQ(device_->Stats().presents, presents + 1);

  // Drawing goes on after a present into a window.
  MakeTarget(8);
  UseColourPipeline();
  DrawVertices({{-1, 1, 0.5f, 1, 0, 0, 1}, {1, 1, 0.5f, 0, 1, 0, 1}, {-1, -1, 0.5f, 0, 0, 1, 1}});
  EXPECT_GT(ReadFloats(target_.Get())[0].r, 0.5f);
  view.Reset();
  back.Reset();
  chain->Release();
}

}  // namespace
