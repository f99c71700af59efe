// Filing renderables and 2D records by layer, clearing and sorting the lists.
#include "Graphics/RenderList.h"

#include "Graphics/Light.h"
#include "Graphics/Log.h"

#include <algorithm>

namespace Graphics {

bool RenderList::HasLayer(int layer, const char* operation) const {
  if (layer >= 0 && layer < kLayerCount && size_t(layer) < m_layers.size()) return true;
  GFX_LOG(Warning, "%s refused layer %d: canvases have layers 0 to 3", operation, layer);
  return false;
}

void RenderList::Add(int layer, RenderableObject* renderable) {
  if (!HasLayer(layer, "Submit")) return;
  if (!renderable) {
    GFX_LOG(Warning, "Submit refused a null renderable");
    return;
  }
  Layer& record = m_layers[size_t(layer)];
  if (auto* model = dynamic_cast<BaseModel*>(renderable))
    record.models.push_back(model);
  else if (auto* light = dynamic_cast<Light*>(renderable))
    record.lights.push_back(light);
  else
    record.others.push_back(renderable);
  m_cleared = false;
}

void RenderList::AddRectCommand(int layer, const SpriteRecord& command) {
  if (!HasLayer(layer, "AddRectCommand")) return;
  m_layers[size_t(layer)].block.sprites.push_back(command);
  m_cleared = false;
}

void RenderList::AddTextCommand(int layer, const TextRecord& command) {
  if (!HasLayer(layer, "AddTextCommand")) return;
  m_layers[size_t(layer)].block.texts.push_back(command);
  m_cleared = false;
}

void RenderList::AddBlock(int layer, const DrawBlock& block) {
  if (!HasLayer(layer, "AddBlock")) return;
  m_layers[size_t(layer)].blocks.push_back(block);
  m_cleared = false;
}

BaseCamera* RenderList::GetCamera(int layer) const {
  return HasLayer(layer, "GetCamera") ? m_layers[size_t(layer)].camera : nullptr;
}

void RenderList::SetCamera(int layer, BaseCamera* camera) {
  if (HasLayer(layer, "SetCamera")) m_layers[size_t(layer)].camera = camera;
}

RenderList::Layer* RenderList::GetRecord(int layer) {
  return HasLayer(layer, "GetRecord") ? &m_layers[size_t(layer)] : nullptr;
}

void RenderList::Clear() {
  for (Layer& layer : m_layers) {
    layer.models.clear();
    layer.lights.clear();
    layer.others.clear();
    layer.blocks.clear();
    layer.block.sprites.clear();
    layer.block.texts.clear();
  }
  m_cleared = true;
}

void RenderList::Sort() {
  auto before = [](const RenderableObject* a, const RenderableObject* b) { return a->IsDrawnBefore(b); };
  for (Layer& layer : m_layers) {
    std::sort(layer.models.begin(), layer.models.end(), before);
    std::sort(layer.lights.begin(), layer.lights.end(), before);
  }
}

}  // namespace Graphics
