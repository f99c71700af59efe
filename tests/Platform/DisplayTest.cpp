// Whether a window can be shown: SDL's offscreen driver asked for by name answers yes, as a display
// does. (SDL falling back to it by itself is seen through the game binary, in a process of its own:
// the drivers SDL tries first leave allocations behind in libraries it unloads again.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Window.h"

#include <SDL2/SDL.h>

namespace {

// Sets (or, with no value, takes away) environment variables for the test's length.
class Environment {
 public:
  void Set(const char* name, std::optional<std::string> value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Display, TheOffscreenDriverNamedIsADisplayOnPurpose) {
  Environment environment;
  environment.Set("SDL_VIDEODRIVER", "offscreen");
  std::string error = "untouched";
  EXPECT_TRUE(Platform::Window::DisplayAvailable(&error));
  EXPECT_EQ(error, "untouched");
  EXPECT_TRUE(Platform::Window::DisplayAvailable(nullptr));
  // The check holds the video system for the window to come, once however often it is asked.
  EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  Platform::Window::ReleaseDisplayHold();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST(Display, AVideoDriverThisMachineLacksIsNoDisplay) {
  Environment environment;
  environment.Set("SDL_VIDEODRIVER", "no-such-driver");
  std::string error;
  EXPECT_FALSE(Platform::Window::DisplayAvailable(&error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
