// The graphics system's hooks, frame step and script interface.
#include "Graphics/GraphicsSystem.h"

#include "Base/Serialization/ValueText.h"

#include "Base/DebugTimer.h"
#include "Base/Reflection/Registration.h"
#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameComponent.h"
#include "Core/GameSpace.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Log.h"
#include "Graphics/RenderCore.h"
#include "Base/Window.h"

#include <utility>

namespace Graphics {

namespace {

GraphicsSystem* g_instance = nullptr;
GraphicsSystem::DrawLibLink g_drawLib;

// The engine's spaces and the game world use the space's hook table; the system listens on the
// engine's under its own key.
template <auto Method>
void Listen(Core::Engine& engine, GraphicsSystem* system, const char* hook, const char* name) {
  const Base::Function function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
  engine.GetHooks().AddSystemListener(hook, system, function);
}

void FlushForEngine() {
  if (g_instance) g_instance->FlushRemovedSpaces();
}

}  // namespace

GraphicsSystem::GraphicsSystem() { g_instance = this; }

GraphicsSystem::~GraphicsSystem() {
  if (g_instance == this) {
    g_instance = nullptr;
    SetCameraScreenSize(nullptr);
  }
}

GraphicsSystem* GraphicsSystem::GetInstance() { return g_instance; }

GraphicsSystem::DrawLibLink GraphicsSystem::SetDrawLibLink(const DrawLibLink& link) {
  return std::exchange(g_drawLib, link);
}

void GraphicsSystem::Initialize(Core::Engine* engine) {
  using Base::Reflection::TypeOf;
  using Base::Reflection::Variant;
  Core::Scripts().PublishLibrary("gfxsystem", Variant(TypeOf<GraphicsSystem*>(), this),
                                 "Graphics systems api functions.");
  if (engine) {
    Listen<&GraphicsSystem::FrameStep>(*engine, this, "FrameStep", "GraphicsSystem::FrameStep");
    Listen<&GraphicsSystem::SetActiveCamera>(*engine, this, "SetActiveCamera", "GraphicsSystem::SetActiveCamera");
    Listen<&GraphicsSystem::SetActiveCanvas>(*engine, this, "SetActiveCanvas", "GraphicsSystem::SetActiveCanvas");
    Listen<&GraphicsSystem::RegisterGameSpace>(*engine, this, "GameSpaceCreated", "GraphicsSystem::RegisterGameSpace");
    Listen<&GraphicsSystem::RemoveGameSpace>(*engine, this, "GameSpaceDeleted", "GraphicsSystem::RemoveGameSpace");
    Listen<&GraphicsSystem::SkipRender>(*engine, this, "SkipRender", "GraphicsSystem::SkipRender");
    Listen<&GraphicsSystem::SetEditorCamera>(*engine, this, "SetEditorCamera", "GraphicsSystem::SetEditorCamera");
    Listen<&GraphicsSystem::SetEditorMode>(*engine, this, "UseEditorCamera", "GraphicsSystem::SetEditorMode");
    Listen<&GraphicsSystem::OnWindowReseize>(*engine, this, "GameWindowResize", "GraphicsSystem::OnWindowReseize");
    Listen<&GraphicsSystem::OnWindowInit>(*engine, this, "PostWindowInit", "GraphicsSystem::OnWindowInit");
    engine->SetRemovedSpacesFlush(&FlushForEngine);
  }
  m_master = &GraphicsMaster::GetInstance();
  m_renderCore = &RenderCore::GetInstance();
  m_editorCamera = nullptr;
  m_editorMode = false;
  SetCameraScreenSize(&m_screenSize);
  if (g_drawLib.initialize) g_drawLib.initialize();
}

void GraphicsSystem::Shutdown(Core::Engine* engine) {
  if (engine) engine->SetRemovedSpacesFlush(nullptr);
  GraphicsMaster::GetInstance().Shutdown();
  RenderCore::GetInstance().Shutdown();
}

bool GraphicsSystem::IsSpaceRegistered(Core::GameSpace* space) const {
  if (!space) return false;
  const auto view = m_spaces.find(space);
  return view != m_spaces.end() && m_master && m_master->GetCanvas(int(view->second.canvasId));
}

BaseCamera* GraphicsSystem::ResolveCamera(Core::GameSpace* space, Base::Handle handle) const {
  if (!space || handle == Base::kNullHandle) return nullptr;
  // The camera component carries its camera data as a base of its own.
  return dynamic_cast<BaseCamera*>(space->GetComponent(handle));
}

void GraphicsSystem::FrameStep(float, Core::SpaceList* spaces) {
  FlushRemovedSpaces();
  if (m_skipRender || !spaces || spaces->empty() || !IsSpaceRegistered(spaces->front())) return;
  Core::GameSpace* first = spaces->front();
  const SpaceView& view = m_spaces[first];
  if (view.camera == Base::kNullHandle && !m_editorMode) return;
  BaseCamera* camera = m_editorMode ? m_editorCamera : ResolveCamera(first, view.camera);

  Base::DebugTimer& timer = Base::DebugTimer::GetInstance();
  timer.StartTimer("Graphics");
  timer.StartTimer("CPPDraw");
  for (Core::GameSpace* space : *spaces) {
    if (!IsSpaceRegistered(space)) continue;
    const int canvasId = int(m_spaces[space].canvasId);
    Canvas* canvas = m_master->GetCanvas(canvasId);
    if (camera) {
      m_master->Clear(canvasId, Base::Vec4(0, 0, 0, 0));
      if (space->IsHidden()) continue;
      m_master->SetDefaultCanvas(canvasId);
      canvas->Begin(camera);
      space->GetHooks().Call("Draw");
    } else if (!m_editorMode) {
      ClearSpaceCamera(space);
    }
  }
  PublishScreenSize();

  timer.ChainTimer("LuaDraw");
  Core::Scripts().Call("Hook:Call", "Draw");
  timer.ChainTimer("GuiDraw");
  Core::Scripts().Call("gui.Draw");
  timer.ChainTimer("Render");
  if (g_drawLib.flush) g_drawLib.flush();
  for (Core::GameSpace* space : *spaces) {
    // A hidden space recorded nothing this frame: its canvas is not drawn.
    if (!IsSpaceRegistered(space) || space->IsHidden()) continue;
    const int canvasId = int(m_spaces[space].canvasId);
    m_master->GetCanvas(canvasId)->End();
    m_master->Draw(canvasId);
  }
  timer.ChainTimer("Present");
  for (Core::GameSpace* space : *spaces)
    if (IsSpaceRegistered(space)) m_master->Present(int(m_spaces[space].canvasId));
  timer.StopTimer("Present");
  timer.StopTimer("Graphics");
}

void GraphicsSystem::PublishScreenSize() {
  Canvas* canvas = m_master->GetDefaultCanvas();
  Frame* frame = canvas ? m_master->GetFrame(int(canvas->GetFrameID())) : nullptr;
  if (!frame) return;
  m_screenSize = frame->IsLetterBox() ? frame->GetViewportSize() : frame->GetSize();
  Core::Scripts().Call("WindowResize", m_screenSize.x, m_screenSize.y);
}

void GraphicsSystem::ClearSpaceCamera(Core::GameSpace* space) {
  SpaceView& view = m_spaces[space];
  if (Canvas* canvas = m_master->GetCanvas(int(view.canvasId))) {
    if (Frame* frame = m_master->GetFrame(int(canvas->GetFrameID()))) {
      frame->ClearTo(0, 0, 0, 0);
      frame->PresentNow();
    }
  }
  view.camera = Base::kNullHandle;
}

void GraphicsSystem::SetActiveCamera(Base::Handle camera, Core::GameSpace* space) {
  if (!space) {
    GFX_LOG(Error, "Attempting to activate camera with invalid gamespace");
    return;
  }
  const auto view = m_spaces.find(space);
  if (view == m_spaces.end()) {
    GFX_LOG(Error, "Attempting to activate camera with unregistered gamespace");
    return;
  }
  if (camera == Base::kNullHandle) {
    GFX_LOG(Error, "Attempting to activate camera with a null handle");
    return;
  }
  // The camera it replaces is no longer the active one; the new camera marks itself.
  if (auto* previous = dynamic_cast<Camera*>(space->GetComponent(view->second.camera))) previous->m_isActive = false;
  view->second.camera = camera;
}

void GraphicsSystem::SetActiveCanvas(unsigned canvasId, Core::GameSpace* space) {
  const auto view = m_spaces.find(space);
  if (view == m_spaces.end()) {
    GFX_LOG(Error, "Attempting to set the active canvas with unregistered gamespace");
    return;
  }
  view->second.canvasId = canvasId;
}

void GraphicsSystem::RegisterGameSpace(Core::GameSpace* space) { m_spaces[space] = SpaceView{}; }

void GraphicsSystem::RemoveGameSpace(Core::GameSpace* space) { m_removedSpaces.push_back(space); }

void GraphicsSystem::OnWindowReseize(Base::Vec2 size) {
  m_screenSize = size;
  Core::Scripts().Call("WindowResize", size.x, size.y);
}

void GraphicsSystem::FlushRemovedSpaces() {
  for (Core::GameSpace* space : m_removedSpaces) {
    const auto view = m_spaces.find(space);
    if (view == m_spaces.end()) continue;
    Canvas* canvas = m_master ? m_master->GetCanvas(int(view->second.canvasId)) : nullptr;
    if (Frame* frame = canvas ? m_master->GetFrame(int(canvas->GetFrameID())) : nullptr) {
      frame->ClearTo(0, 0, 0, 0);
      frame->PresentNow();
    }
    m_spaces.erase(view);
  }
  m_removedSpaces.clear();
}

Base::Handle GraphicsSystem::GetActiveCamera(Core::GameSpace* space) {
  const auto view = m_spaces.find(space);
  if (!space || view == m_spaces.end()) {
    GFX_LOG(Error, "Attempting to get active camera with unregistered gamespace");
    return Base::kNullHandle;
  }
  return view->second.camera;
}

void GraphicsSystem::SetFullScreen(bool fullScreen) {
  if (m_window) m_window->SetFullscreen(fullScreen);
}

bool GraphicsSystem::GetFullScreen() { return m_window && m_window->IsFullscreen(); }

}  // namespace Graphics

ORV_ON_LOAD {
  Base::Reflection::EnsureRegistered<Graphics::BaseCamera>("Graphics::BaseCamera");
  // A layer is written and read as its number, as "unsigned" values are.
  Base::Reflection::TypeInfo* layer = Base::Reflection::RegisterType<Graphics::CanvasLayer>("CanvasLayer", true);
  Base::ValueText::SetTextFunctions(layer, &Base::ValueText::WriteUnsigned, &Base::ValueText::ReadUnsigned);
}

ORV_REFLECT_CLASS(Graphics::GraphicsSystem) {
  using Graphics::GraphicsSystem;
  type.Method<&GraphicsSystem::SetFullScreen>("GraphicsSystem::SetFullScreen", "SetFullScreen", "\"Toggles fullscreen\"");
  type.Method<&GraphicsSystem::GetFullScreen>("GraphicsSystem::GetFullScreen", "GetFullScreen",
                                              "\"Gets fullscreen state\"");
}
