// What one game space wants drawn in a frame. Three render lists rotate: one records
// submissions, one holds the finished frame until it is drawn, one is being drawn.
#pragma once

#include "Graphics/RenderList.h"

#include "Base/Vector.h"

#include <cstdint>
#include <memory>

namespace Graphics {

class BaseCamera;
class Frame;

class Canvas {
 public:
  explicit Canvas(uint32_t frameId);
  // Leaves the Graphics Master's table and the debug-draw queue with no pointer to it.
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // Into the recording list (either argument order).
  void Submit(RenderableObject* renderable, int layer) { m_recordList->Add(layer, renderable); }
  void Submit(int layer, RenderableObject* renderable) { m_recordList->Add(layer, renderable); }
  void AddRectCommand(int layer, const SpriteRecord& command) { m_recordList->AddRectCommand(layer, command); }
  void AddTextCommand(int layer, const TextRecord& command) { m_recordList->AddTextCommand(layer, command); }
  void AddBlock(int layer, const DrawBlock& block) { m_recordList->AddBlock(layer, block); }
  // The camera of a layer of the recording list.
  BaseCamera* GetCamera(int layer) const { return m_recordList->GetCamera(layer); }

  // Before the space draws: layers 0 to 2 take the scene camera (16:9 when it letter-boxes, else
  // the frame's shape), layer 3 the canvas's 2D camera.
  void Begin(BaseCamera* sceneCamera);
  // Finishes the recording: it becomes the list waiting to be drawn, and recording goes on in a
  // cleared list. A second End without a Begin does nothing.
  void End();
  // For the draw side: the finished list, sorted. Clears HasNewList.
  RenderList* TakeReadyList();
  bool HasNewList() const { return m_hasNewList; }

  uint32_t GetID() const { return m_canvasId; }
  uint32_t GetFrameID() const { return m_frameId; }
  // The frame's full size, or (0, 0) when the frame does not exist.
  Base::Vec2 GetFrameSize() const;
  // Both do nothing when the frame does not exist.
  void SetFullScreen(bool fullScreen);
  void Resize(uint32_t width, uint32_t height);

  BaseCamera* GetCamera2D() const { return m_camera2D.get(); }

 private:
  friend class GraphicsMaster;  // writes the id it hands out

  Frame* GetFrame() const;

  bool m_hasNewList = false;
  bool m_ended = false;
  RenderList* m_drawList;
  RenderList* m_readyList;
  RenderList* m_recordList;
  RenderList m_lists[3];
  uint32_t m_canvasId = 0;
  uint32_t m_frameId;
  std::unique_ptr<BaseCamera> m_camera2D;
};

}  // namespace Graphics
