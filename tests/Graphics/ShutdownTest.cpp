// The end of a program: the platform's shutdown lets go of the renderer's device and its driver's threads.
#include "Graphics/Device.h"
#include "Platform/Shutdown.h"
#include "tests/Support/LiveThreads.h"

#include <SDL2/SDL.h>

#include <gtest/gtest.h>

namespace {

using OrvTest::OtherLiveThreads;

TEST(GraphicsDevice, IsReleasedByThePlatformsShutdownWithTheDriversThreads) {
  Platform::Shutdown();  // whatever earlier tests of the run left, the device first
  const std::vector<std::string> before = OtherLiveThreads();

  ASSERT_NE(Graphics::GetDevice()->m_device, nullptr);
  EXPECT_GT(OtherLiveThreads().size(), before.size()) << "the software rasteriser works on threads of its own";

  Platform::Shutdown();
  EXPECT_EQ(Graphics::PeekDevice(), nullptr);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  EXPECT_EQ(OtherLiveThreads(), before);

  // Nothing is left to release: a second shutdown changes nothing, and the device comes back on demand.
  Platform::Shutdown();
  EXPECT_EQ(OtherLiveThreads(), before);
  ASSERT_NE(Graphics::GetDevice()->m_device, nullptr);
  Graphics::DestroyDevice();
  EXPECT_EQ(OtherLiveThreads(), before);
}

}  // namespace
