// The platform's shutdown at the end of `main`: its steps, SDL, and a device someone still holds.
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/Shutdown.h"
#include "Platform/Window.h"
#include "tests/Support/LiveThreads.h"

#include <SDL2/SDL.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Platform;

std::vector<std::string> g_messages;
std::vector<int> g_steps;

void Keep(bool isError, const char* text) { g_messages.push_back(std::string(isError ? "error: " : "") + text); }

TEST(PlatformShutdown, RunsItsStepsLatestFirstThenClosesTheWindowsThatKeepTheDriverLoaded) {
  // Steps stay registered for the rest of the run: these only note that they ran, and are registered
  // once however often the test runs.
  static const bool added = [] {
    AddShutdownStep([] { g_steps.push_back(1); });
    AddShutdownStep([] { g_steps.push_back(2); });
    AddShutdownStep(nullptr);  // ignored
    return true;
  }();
  ASSERT_TRUE(added);
  const std::vector<std::string> before = OrvTest::OtherLiveThreads();
  std::unique_ptr<Window> window(Window::Create("kept open", 8, 8, Window::Hidden, nullptr));
  ASSERT_NE(window, nullptr);
  {
    GpuRef<GpuDevice> device;
    ASSERT_EQ(CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device.GetAddressOf(), nullptr, nullptr), kGpuOk);
  }
  // The device is gone, but the open window keeps the driver loaded, and a thread of it running.
  EXPECT_GT(OrvTest::OtherLiveThreads().size(), before.size());

  g_steps.clear();
  Shutdown();
  EXPECT_EQ(g_steps, (std::vector<int>{2, 1}));
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  EXPECT_EQ(OrvTest::OtherLiveThreads(), before);
  window.reset();  // after the shutdown closed it: leaves SDL alone
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST(PlatformShutdown, ADeviceStillHeldIsReportedAndCanStillBeReleased) {
  const std::vector<std::string> before = OrvTest::OtherLiveThreads();
  GpuRef<GpuDevice> device;
  GpuRef<GpuContext> context;
  ASSERT_EQ(CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device.GetAddressOf(), nullptr,
                            context.GetAddressOf()),
            kGpuOk);
  g_messages.clear();
  SetGpuMessageSink(Keep);
  Shutdown();
  SetGpuMessageSink(nullptr);
  EXPECT_EQ(g_messages,
            std::vector<std::string>{
                "error: 1 graphics device(s) still held at shutdown; the driver's threads outlive it"});
  EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);  // kept up for the device

  // The device still works and goes cleanly; then a shutdown finds nothing held.
  GpuBufferDesc desc;
  desc.byteWidth = 16;
  desc.bindFlags = GpuBind_VertexBuffer;
  GpuRef<GpuBuffer> buffer;
  EXPECT_EQ(device->CreateBuffer(desc, nullptr, buffer.GetAddressOf()), kGpuOk);
  buffer.Reset();
  context.Reset();
  device.Reset();
  Shutdown();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  EXPECT_EQ(OrvTest::OtherLiveThreads(), before);
}

}  // namespace
