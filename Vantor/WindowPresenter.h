// Stands in the graphics system's place among the systems until the renderer's own system joins:
// every frame step it clears the window's canvas, gives the scripts their draw calls ("Hook:Call"
// with "Draw", then "gui.Draw") and presents the canvas, so that the window shows the game running.
// At shutdown it lets go of every canvas, frame and the device, as the graphics system will.
#pragma once

#include <cstdint>

#include "Base/Math.h"
#include "Core/System.h"

namespace Vantor {

class Window32;

class WindowPresenter : public Core::System {
 public:
  // The colour of a frame nothing has drawn on.
  static constexpr float kClearColour[4] = {0.10f, 0.14f, 0.22f, 1.0f};

  // The window whose canvas it presents; null presents nothing.
  void SetWindow(Window32* window) { m_window = window; }

  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "WindowPresenter"; }
  void Shutdown(Core::Engine* engine) override;
  void FrameStep(float dt, Core::SpaceList* spaces);

  uint64_t GetPresentedFrames() const { return m_presentedFrames; }

 private:
  Window32* m_window = nullptr;
  uint64_t m_presentedFrames = 0;
};

}  // namespace Vantor
