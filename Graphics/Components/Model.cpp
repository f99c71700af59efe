// The model component's frame: skinning from a sibling controller, pose from the Transform,
// submission to the space's canvas; and its registration.
#include "Graphics/Components/Model.h"

#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/AnimationController.h"
#include "Graphics/GraphicsMaster.h"

namespace Graphics {

namespace {

constexpr const char* kKind = "Model";

}  // namespace

Model& Model::operator=(const Model& other) {
  Assign(other);
  static_cast<BaseModel&>(*this) = other;
  m_layer = other.m_layer;
  m_transform = other.m_transform;
  m_CastsShadow = other.m_CastsShadow;
  m_RecievesShadow = other.m_RecievesShadow;
  m_blendColor = other.m_blendColor;
  return *this;
}

void Model::Initialize() {
  if (Core::GameObject* owner = ResolveOwner(*this, kKind, m_missing))
    m_transform = owner->m_components[Core::ComponentType_Transform];
  // Copies: the setters replace the names they are handed.
  const std::string mesh = m_meshName, material = m_materialName;
  BaseModel::SetMeshByFilename(mesh);
  BaseModel::SetMaterialByFilename(material);
  if (m_space) m_space->GetHooks().AddComponentListener("Draw", m_self, Listener<&Model::Submit>("Model::Draw"));
  m_shadowCaster = m_CastsShadow;
  m_shadowReceiver = m_RecievesShadow;
  SetBlendColor(m_blendColor);
}

void Model::Uninitialize() {
  if (m_space) m_space->GetHooks().RemoveComponentListener("Draw", m_self);
}

void Model::Submit() {
  Core::GameObject* owner = ResolveOwner(*this, kKind, m_missing);
  if (!owner) return;
  Core::Transform* transform = ResolveTransform(*this, m_transform, kKind, m_missing);
  if (!transform) return;
  m_bones = nullptr;
  m_boneCount = 0;
  Core::GameComponent* component = m_space->GetComponent(owner->m_components[Core::ComponentType_AnimationController]);
  if (component && component->m_componentType == Core::ComponentType_AnimationController) {
    const auto* controller = static_cast<const AnimationController*>(component);
    m_bones = controller->GetSkinningMatrices();
    m_boneCount = m_bones ? controller->GetBoneCount() : 0;
  }
  m_worldMatrix = transform->GetWorldMatrix();
  GraphicsMaster::GetInstance().Render(static_cast<BaseModel*>(this), m_layerGuard.Check(m_layer, kKind, *this));
}

void Model::SetCastsShadow(bool casts) {
  m_CastsShadow = casts;
  m_shadowCaster = casts;
}

void Model::SetRecievesShadow(bool receives) {
  m_RecievesShadow = receives;
  m_shadowReceiver = receives;
}

void Model::SetBlendColor(Base::Vec3 color) {
  m_blendColor = color;
  m_color = Base::Vec4(color.x / 255.0f, color.y / 255.0f, color.z / 255.0f, 1.0f);
}

}  // namespace Graphics

ORV_ON_LOAD { Core::RegisterComponentCreator<Graphics::Model>(Core::ComponentType_Model); }

ORV_REFLECT_CLASS(Graphics::Model) {
  using Graphics::Model;
  Core::InstallComponentOps(type.Record());
  Base::Function& setMesh = type.Method<&Model::SetMeshByFilename>("SetMeshByFilename", nullptr, "Sets the mesh file");
  type.Field(&Model::m_meshName, "m_meshName", &setMesh, nullptr);
  Base::Function& setMaterial =
      type.Method<&Model::SetMaterialByFilename>("SetMaterialByFilename", nullptr, "Sets the marterial file");
  type.Field(&Model::m_materialName, "m_materialName", &setMaterial, nullptr);
  type.Field(&Model::m_layer, "m_layer");
  Base::Function& getCasts = type.Method<&Model::GetCastsShadow>("GetCastsShadow");
  Base::Function& setCasts = type.Method<&Model::SetCastsShadow>("SetCastsShadow");
  type.Field(&Model::m_CastsShadow, "m_CastsShadow", &setCasts, &getCasts);
  Base::Function& getReceives = type.Method<&Model::GetRecievesShadow>("GetRecievesShadow");
  Base::Function& setReceives = type.Method<&Model::SetRecievesShadow>("SetRecievesShadow");
  type.Field(&Model::m_RecievesShadow, "m_RecievesShadow", &setReceives, &getReceives);
  Base::Function& getBlend = type.Method<&Model::GetBlendColor>("GetBlendColor");
  Base::Function& setBlend = type.Method<&Model::SetBlendColor>("SetBlendColor");
  type.Field(&Model::m_blendColor, "m_blendColor", &setBlend, &getBlend);
}
