// Canvas list rotation, per-frame cameras and the letter-box hand-over to the frame.
#include "Graphics/Canvas.h"

#include "Graphics/BaseCamera.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"

#include <utility>

namespace Graphics {

Canvas::Canvas(uint32_t frameId)
    : m_drawList(&m_lists[0]),
      m_readyList(&m_lists[1]),
      m_recordList(&m_lists[2]),
      m_frameId(frameId),
      m_camera2D(std::make_unique<BaseCamera>()) {
  // x runs 0..width and y -height..0 across the screen.
  m_camera2D->m_isOrtho = true;
  m_camera2D->m_orthoCentered = false;
  m_camera2D->SetOrthoSize(1920, 1080);
  m_camera2D->SetPosition({0, 0, -1});
}

Canvas::~Canvas() {
  GraphicsMaster::GetInstance().ForgetCanvas(this);
  DebugDraw::GetInstance().ForgetCanvas(this);
}

Frame* Canvas::GetFrame() const { return GraphicsMaster::GetInstance().GetFrame(int(m_frameId)); }

Base::Vec2 Canvas::GetFrameSize() const {
  Frame* frame = GetFrame();
  return frame ? frame->GetSize() : Base::Vec2();
}

void Canvas::Begin(BaseCamera* sceneCamera) {
  const Base::Vec2 size = GetFrameSize();
  if (sceneCamera) {
    if (sceneCamera->m_isLetterBox)
      sceneCamera->SetAspect(16, 9);
    else
      sceneCamera->SetAspect(size.x, size.y);
  }
  for (int layer = 0; layer < 3; ++layer) m_recordList->SetCamera(layer, sceneCamera);
  m_recordList->SetCamera(3, m_camera2D.get());
  m_ended = false;
}

void Canvas::End() {
  if (m_ended) return;
  Frame* frame = GetFrame();
  BaseCamera* scene = m_recordList->GetCamera(1);
  if (frame && scene) {
    BaseCamera* screen = m_recordList->GetCamera(3);
    frame->SetLetterBox(scene->m_isLetterBox);
    const Base::Vec2 size = scene->m_isLetterBox ? frame->GetViewportSize() : frame->GetSize();
    if (screen) screen->SetOrthoSize(size.x, size.y);
  }
  std::swap(m_readyList, m_recordList);
  m_recordList->Clear();
  m_hasNewList = true;
  m_ended = true;
}

RenderList* Canvas::TakeReadyList() {
  std::swap(m_drawList, m_readyList);
  m_hasNewList = false;
  m_drawList->Sort();
  return m_drawList;
}

void Canvas::SetFullScreen(bool fullScreen) {
  if (Frame* frame = GetFrame()) frame->SetFullScreen(fullScreen);
}

void Canvas::Resize(uint32_t width, uint32_t height) {
  if (Frame* frame = GetFrame()) frame->Resize(width, height);
}

}  // namespace Graphics
