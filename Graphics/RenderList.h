// One frame's worth of what a canvas draws: per layer, the models, lights and other renderables,
// the 2D drawing blocks, and the camera the layer is drawn through.
#pragma once

#include "Graphics/DrawRecords.h"

#include <vector>

namespace Graphics {

class BaseCamera;
class BaseModel;
class Light;
class RenderableObject;

class RenderList {
 public:
  // Layers 0 to 2 are drawn through the scene camera, layer 3 through the canvas's 2D camera.
  static constexpr int kLayerCount = 4;

  struct Layer {
    std::vector<BaseModel*> models;
    std::vector<Light*> lights;
    std::vector<RenderableObject*> others;  // neither models nor lights, in submission order
    std::vector<DrawBlock> blocks;          // blocks drawn on planes in the scene
    DrawBlock block;                        // the layer's own screen block
    BaseCamera* camera = nullptr;
  };

  RenderList() : m_layers(kLayerCount) {}

  // Layer indices come from level files and scripts: each operation below refuses one outside
  // 0 to 3 (or past a shrunk list) with a warning and does nothing (null for the getters).
  // Files the renderable by its kind: models, then lights, then the others.
  void Add(int layer, RenderableObject* renderable);
  void AddRectCommand(int layer, const SpriteRecord& command);
  void AddTextCommand(int layer, const TextRecord& command);
  void AddBlock(int layer, const DrawBlock& block);
  BaseCamera* GetCamera(int layer) const;
  void SetCamera(int layer, BaseCamera* camera);
  Layer* GetRecord(int layer);
  bool IsCleared() const { return m_cleared; }

  // Empties every submission; the cameras and the screen blocks' transforms and words stay.
  void Clear();
  // Models and lights into render order; the others keep their order.
  void Sort();
  // New layers are empty, with no camera.
  void Resize(size_t layers) { m_layers.resize(layers); }

 private:
  bool HasLayer(int layer, const char* operation) const;

  std::vector<Layer> m_layers;
  bool m_cleared = true;
};

}  // namespace Graphics
