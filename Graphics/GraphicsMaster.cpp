// Id allocation for canvases and frames, and the per-frame clear, draw and present by id.
#include "Graphics/GraphicsMaster.h"

#include "Graphics/Canvas.h"
#include "Graphics/Frame.h"
#include "Graphics/Log.h"

#include <algorithm>

namespace Graphics {

namespace {

// Reuses the last free id, else appends; the id is the slot's index.
template <typename T>
uint32_t Place(std::vector<T*>& slots, std::vector<uint32_t>& freeIds, T* object) {
  if (freeIds.empty()) {
    slots.push_back(object);
    return uint32_t(slots.size() - 1);
  }
  const uint32_t id = freeIds.back();
  freeIds.pop_back();
  slots[id] = object;
  return id;
}

template <typename T>
T* At(const std::vector<T*>& slots, int id) {
  return uint32_t(id) < slots.size() ? slots[uint32_t(id)] : nullptr;
}

}  // namespace

GraphicsMaster& GraphicsMaster::GetInstance() {
  static GraphicsMaster instance;
  return instance;
}

GraphicsMaster::GraphicsMaster() { GFX_LOG(Info, "Initializing Graphics Master"); }

int GraphicsMaster::CreateCanvasFramePair(Platform::Window* window, int width, int height) {
  const int frameId = CreateFrame(window, width, height);
  const int canvasId = CreateCanvas(frameId);
  GFX_LOG(Verbose, "Created new Canvas/Frame pair, %i x %i with CanvasID %i and FrameID %i", width, height, canvasId,
          frameId);
  return canvasId;
}

int GraphicsMaster::CreateFrame(Platform::Window* window, int width, int height) {
  // A negative size would turn into a huge unsigned one.
  auto* frame = new Frame(window, uint32_t(std::max(width, 0)), uint32_t(std::max(height, 0)));
  const uint32_t id = Place(m_frames, m_freeFrameIds, frame);
  frame->m_frameId = id;
  GFX_LOG(Verbose, "Created new frame (size: %ix%i id: %i)", width, height, int(id));
  return int(id);
}

int GraphicsMaster::CreateCanvas(int frameId) {
  auto* canvas = new Canvas(uint32_t(frameId));
  const uint32_t id = Place(m_canvases, m_freeCanvasIds, canvas);
  canvas->m_canvasId = id;
  GFX_LOG(Verbose, "Created canvas (id: %i frame id: %i)", int(id), frameId);
  return int(id);
}

Canvas* GraphicsMaster::GetCanvas(int id) const { return At(m_canvases, id); }

Frame* GraphicsMaster::GetFrame(int id) const { return At(m_frames, id); }

void GraphicsMaster::SetDefaultCanvas(int id) { m_defaultCanvas = GetCanvas(id); }

void GraphicsMaster::Render(RenderableObject* renderable, int layer) {
  if (!m_defaultCanvas) {
    GFX_LOG(Warning, "Calling master render before setting default canvas");
    return;
  }
  m_defaultCanvas->Submit(renderable, layer);
}

Canvas* GraphicsMaster::CanvasToUse(int canvasId, const char* action) const {
  Canvas* canvas = GetCanvas(canvasId);
  if (canvas && GetFrame(int(canvas->GetFrameID()))) return canvas;
  GFX_LOG(Warning, "Attempted to %s invalid Canvas using ID %i", action, canvasId);
  return nullptr;
}

void GraphicsMaster::Clear(int canvasId, const Base::Vec4& colour) {
  if (Canvas* canvas = CanvasToUse(canvasId, "Clear")) GetFrame(int(canvas->GetFrameID()))->Clear(colour);
}

void GraphicsMaster::Draw(int canvasId) {
  Canvas* canvas = CanvasToUse(canvasId, "Draw");
  if (!canvas || !canvas->HasNewList()) return;
  Frame* frame = GetFrame(int(canvas->GetFrameID()));
  RenderList* list = canvas->TakeReadyList();
  if (m_canvasRenderer) m_canvasRenderer(*list, *frame);
}

void GraphicsMaster::Present(int canvasId) {
  if (Canvas* canvas = CanvasToUse(canvasId, "Present")) GetFrame(int(canvas->GetFrameID()))->Present();
}

void GraphicsMaster::Shutdown() {
  GFX_LOG(Info, "Shutting down Graphics Master");
  // A canvas clears its own slot as it goes, so walk by index.
  for (size_t i = 0; i < m_canvases.size(); ++i) delete m_canvases[i];
  m_canvases.clear();
  m_freeCanvasIds.clear();
  for (Frame* frame : m_frames) delete frame;
  m_frames.clear();
  m_freeFrameIds.clear();
  m_defaultCanvas = nullptr;
}

void GraphicsMaster::ForgetCanvas(Canvas* canvas) {
  const uint32_t id = canvas->GetID();
  if (id < m_canvases.size() && m_canvases[id] == canvas) m_canvases[id] = nullptr;
  if (m_defaultCanvas == canvas) m_defaultCanvas = nullptr;
}

}  // namespace Graphics
