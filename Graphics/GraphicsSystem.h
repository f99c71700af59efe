// The renderer's per-frame system: for every registered game space it records the space's drawing
// into its canvas through the active camera, lets the scripts draw, has the render core draw each
// canvas and presents the frames. It is the script global "gfxsystem" (full-screen switching).
#pragma once

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/System.h"

#include <cstdint>
#include <map>
#include <vector>

namespace Base {
class Window;
}

namespace Core {
class GameSpace;
}

namespace Graphics {

class BaseCamera;
class GraphicsMaster;
class RenderCore;

// The canvas layer a drawing component submits to: 0 to 2 through the scene camera, 3 on the screen.
enum class CanvasLayer : uint32_t {};

// What one registered game space draws into and is seen through.
struct SpaceView {
  uint32_t canvasId = 0;
  Base::Handle camera = Base::kNullHandle;
};

class GraphicsSystem : public Core::System {
 public:
  // Also becomes the process-wide instance (the camera conversions read its screen size).
  GraphicsSystem();
  ~GraphicsSystem() override;

  static GraphicsSystem* GetInstance();

  // How the script 2D drawing object joins the system: `initialize` builds it and publishes it to the
  // scripts as "graphics" (from Initialize, before "SystemPostInit"), `flush` hands its recorded
  // commands to the canvases (each frame, after the script draw calls, before the canvases are drawn).
  struct DrawLibLink {
    void (*initialize)() = nullptr;
    void (*flush)() = nullptr;
  };
  // Returns the link installed before, so that a stand-in can put it back.
  static DrawLibLink SetDrawLibLink(const DrawLibLink& link);

  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "GRAPHICS"; }
  void Shutdown(Core::Engine* engine) override;

  // Engine hooks.
  void FrameStep(float dt, Core::SpaceList* spaces);
  void SetActiveCamera(Base::Handle camera, Core::GameSpace* space);
  void SetActiveCanvas(unsigned canvasId, Core::GameSpace* space);
  void RegisterGameSpace(Core::GameSpace* space);
  void RemoveGameSpace(Core::GameSpace* space);
  void SkipRender(bool skip) { m_skipRender = skip; }
  void SetEditorCamera(BaseCamera* camera) { m_editorCamera = camera; }
  void SetEditorMode(bool editorMode) { m_editorMode = editorMode; }
  void OnWindowReseize(Base::Vec2 size);
  void OnWindowInit() {}

  // Script methods: both do nothing (false) without a window.
  void SetFullScreen(bool fullScreen);
  bool GetFullScreen();

  Base::Handle GetActiveCamera(Core::GameSpace* space);
  // Releases the canvas frames of the spaces announced as deleted and forgets them.
  void FlushRemovedSpaces();
  bool IsSpaceRegistered(Core::GameSpace* space) const;

  Base::Vec2 GetScreenSize() const { return m_screenSize; }
  const std::map<Core::GameSpace*, SpaceView>& GetSpaces() const { return m_spaces; }

  GraphicsMaster* m_master = nullptr;
  RenderCore* m_renderCore = nullptr;
  bool m_skipRender = false;
  Base::Vec2 m_screenSize{1920, 1080};
  std::map<Core::GameSpace*, SpaceView> m_spaces;
  std::vector<Core::GameSpace*> m_removedSpaces;
  BaseCamera* m_editorCamera = nullptr;
  bool m_editorMode = false;
  Base::Window* m_window = nullptr;

 private:
  void ClearSpaceCamera(Core::GameSpace* space);
  // The camera data a handle of the space names, or null.
  BaseCamera* ResolveCamera(Core::GameSpace* space, Base::Handle handle) const;
  void PublishScreenSize();
};

}  // namespace Graphics
