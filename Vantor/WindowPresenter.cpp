// The window's canvas cleared, offered to the scripts and presented once per frame step.
#include "Vantor/WindowPresenter.h"

#include "Core/EngineLinks.h"
#include "Graphics/Device.h"
#include "Graphics/GraphicsMaster.h"
#include "Vantor/Window32.h"

namespace Vantor {

void WindowPresenter::Initialize(Core::Engine* engine) {
  if (engine) Core::RegisterFrameStep<&WindowPresenter::FrameStep>(*engine, this, "WindowPresenter::FrameStep");
}

void WindowPresenter::FrameStep(float, Core::SpaceList*) {
  Core::Scripts().Call("Hook:Call", "Draw");
  Core::Scripts().Call("gui.Draw");
  if (!m_window) return;
  Graphics::GraphicsMaster& master = Graphics::GraphicsMaster::GetInstance();
  const int canvas = m_window->GetCanvasId();
  master.Clear(canvas, Base::Vec4(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]));
  master.Present(canvas);
  ++m_presentedFrames;
}

void WindowPresenter::Shutdown(Core::Engine*) {
  Graphics::GraphicsMaster::GetInstance().Shutdown();
  Graphics::DestroyDevice();
}

}  // namespace Vantor
