// The model component: a mesh with a material drawn at its object's Transform, skinned by a sibling
// animation controller when there is one, with script-visible shadow flags and tint.
#pragma once

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/RenderableObject.h"

namespace Graphics {

class Model : public Core::GameComponent, public BaseModel {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_Model;

  Model() = default;
  Model(const Model&) = default;
  // The reflected members first, then the renderable half and the fields the reflection does not carry.
  Model& operator=(const Model& other);

  // Applies the mesh and material names, connects "Draw" and brings the renderable half in step.
  void Initialize() override;
  void Uninitialize() override;

  // Takes the skinning matrices and the world matrix, then submits the renderable half on its layer.
  void Submit();

  void SetMeshByFilename(const std::string& name) { BaseModel::SetMeshByFilename(name); }
  void SetMaterialByFilename(const std::string& name) { BaseModel::SetMaterialByFilename(name); }
  bool GetCastsShadow() const { return m_shadowCaster; }
  void SetCastsShadow(bool casts);
  bool GetRecievesShadow() const { return m_shadowReceiver; }
  void SetRecievesShadow(bool receives);
  Base::Vec3 GetBlendColor() const { return m_blendColor; }
  // Channels in 0 to 255; the renderable colour is the same over 255 with alpha 1, unclamped.
  void SetBlendColor(Base::Vec3 color);

  // Fields after the two bases, in this order.
  CanvasLayer m_layer = CanvasLayer(1);
  Base::Handle m_transform = Base::kNullHandle;
  bool m_CastsShadow = true;
  bool m_RecievesShadow = true;
  Base::Vec3 m_blendColor{255.0f, 255.0f, 255.0f};

 private:
  MissingReport m_missing;
  LayerGuard m_layerGuard{1};
};

}  // namespace Graphics
