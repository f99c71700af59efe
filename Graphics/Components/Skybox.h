// The skybox component: an inside-out sphere with a sky material, scaled about the viewer and moved to
// the camera each time it is drawn, so that the viewer is always inside it.
#pragma once

#include <cstdint>

#include "Core/GameComponent.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/RenderableObject.h"

namespace Graphics {

class Skybox : public Core::GameComponent, public BaseModel {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_Skybox;

  // "SkyBox.mat" on the shared sky sphere.
  Skybox();
  Skybox(const Skybox&) = default;
  Skybox& operator=(const Skybox& other);

  void Initialize() override;
  void Uninitialize() override;

  // Scales the sphere by m_scale and submits the renderable half on its layer.
  void Submit();
  // The model draw with every instance moved to the camera being drawn through.
  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  // It follows the camera of the layer, not its matrices.
  bool IsPlacedByItsMatrices() const override { return false; }

  void SetMaterialByFilename(const std::string& name) { BaseModel::SetMaterialByFilename(name); }

  // Fields after the two bases, in this order.
  CanvasLayer m_layer = CanvasLayer(0);
  float m_scale = 5.0f;
};

// The sky sphere (diameter 1, 16 segments, seen from inside): built once and shared by every skybox,
// built again only when the mesh manager has let it go.
uint32_t GetSkySphereMesh();

}  // namespace Graphics
