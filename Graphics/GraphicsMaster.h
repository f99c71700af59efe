// Owner of every canvas and frame of the program, handed out by integer id: windows get their
// canvas/frame pair here, and the graphics system clears, draws and presents canvases by id.
//
// Names used by other parts of the engine for the same operations: Clear is ClearCanvas, Draw is
// DrawCanvas and Present is PresentCanvas.
#pragma once

#include "Base/Vector.h"
#include "Platform/Window.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace Graphics {

class Canvas;
class Frame;
class RenderList;
class RenderableObject;

class GraphicsMaster {
 public:
  static GraphicsMaster& GetInstance();

  // A frame for the window (offscreen without one), then a canvas drawing into it; returns the
  // canvas id.
  int CreateCanvasFramePair(Platform::Window* window, int width, int height);
  int CreateFrame(Platform::Window* window, int width, int height);
  int CreateCanvas(int frameId);

  // Null for an id out of range (every negative id) or a canvas that was destroyed.
  Canvas* GetCanvas(int id) const;
  Frame* GetFrame(int id) const;

  // The canvas that Render submits to; an invalid id leaves none.
  void SetDefaultCanvas(int id);
  Canvas* GetDefaultCanvas() const { return m_defaultCanvas; }
  void Render(RenderableObject* renderable, int layer);

  void Clear(int canvasId, const Base::Vec4& colour);
  // Hands the canvas's finished list and its frame to the render core; silent when the canvas
  // has no new list since its last draw.
  void Draw(int canvasId);
  void Present(int canvasId);

  // Deletes every canvas and frame.
  void Shutdown();

  // The render core's entry point for drawing one canvas's list into its frame; the renderer
  // installs it when it starts. Until then a draw takes the list and renders nothing. Returns the
  // entry point it replaces.
  using CanvasRenderer = void (*)(RenderList& list, Frame& frame);
  CanvasRenderer SetCanvasRenderer(CanvasRenderer renderer) { return std::exchange(m_canvasRenderer, renderer); }

  GraphicsMaster(const GraphicsMaster&) = delete;
  GraphicsMaster& operator=(const GraphicsMaster&) = delete;

 private:
  friend class Canvas;

  GraphicsMaster();
  ~GraphicsMaster() = default;  // at exit only the tables go; Shutdown deletes what they hold

  // The canvas of a valid id for Clear, Draw and Present, else the failure is logged.
  Canvas* CanvasToUse(int canvasId, const char* action) const;
  void ForgetCanvas(Canvas* canvas);

  std::vector<Canvas*> m_canvases;
  std::vector<uint32_t> m_freeCanvasIds;
  std::vector<Frame*> m_frames;
  std::vector<uint32_t> m_freeFrameIds;
  Canvas* m_defaultCanvas = nullptr;
  CanvasRenderer m_canvasRenderer = nullptr;
};

}  // namespace Graphics
