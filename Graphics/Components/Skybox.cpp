// The skybox component: its shared sphere, the camera-centred draw and its registration.
#include "Graphics/Components/Skybox.h"

#include <vector>

#include "Base/Matrix.h"
#include "Core/ComponentCreator.h"
#include "Core/GameSpace.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Mesh.h"
#include "Graphics/ProceduralMeshes.h"
#include "Graphics/RenderCore.h"
#include "Base/ResourceCollection.h"

namespace Graphics {

namespace {

constexpr uint32_t kInstanceMatrices = 2;  // the world matrix and its inverse, both transposed

}  // namespace

uint32_t GetSkySphereMesh() {
  // The entry is checked against the mesh it held: a cleared manager hands out its ids afresh.
  static uint32_t id = 0;
  static const void* mesh = nullptr;
  Base::Resources<Mesh>& meshes = Base::Resources<Mesh>::Instance();
  const Base::ResourceCollection::Entry* entry = meshes.GetEntry(id);
  if (!mesh || !entry || entry->resource != mesh) {
    id = CreateSphereMesh(1.0f, 16, true);
    entry = meshes.GetEntry(id);
    mesh = entry ? entry->resource : nullptr;
  }
  return id;
}

Skybox::Skybox() {
  BaseModel::SetMaterialByFilename("SkyBox.mat");
  SetMeshID(GetSkySphereMesh());
}

Skybox& Skybox::operator=(const Skybox& other) {
  Assign(other);
  static_cast<BaseModel&>(*this) = other;
  m_layer = other.m_layer;
  m_scale = other.m_scale;
  return *this;
}

void Skybox::Initialize() {
  const std::string material = m_materialName;
  BaseModel::SetMaterialByFilename(material);
  if (m_space) m_space->GetHooks().AddComponentListener("Draw", m_self, Listener<&Skybox::Submit>("Skybox::Draw"));
}

void Skybox::Uninitialize() {
  if (m_space) m_space->GetHooks().RemoveComponentListener("Draw", m_self);
}

void Skybox::Submit() {
  m_worldMatrix = Base::Mat4::BuildScale(m_scale, m_scale, m_scale);
  GraphicsMaster::GetInstance().Render(static_cast<BaseModel*>(this), int(m_layer));
}

void Skybox::Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) {
  if (!instanceData || instanceCount == 0) return;
  BaseCamera* camera = RenderCore::GetCurrentCamera();
  const Base::Vec3 eye = camera ? camera->GetPosition() : Base::Vec3(0, 0, 0);
  const Base::Mat4 toEye = Base::Mat4::BuildTranslation(eye).Transposed();
  // The renderer's records stay as they are: the moved ones are drawn from a copy.
  const auto* records = static_cast<const Base::Mat4*>(instanceData);
  std::vector<Base::Mat4> moved(records, records + size_t(instanceCount) * kInstanceMatrices);
  for (uint32_t i = 0; i < instanceCount; ++i) moved[i * kInstanceMatrices] *= toEye;
  BaseModel::Draw(moved.data(), instanceCount, depthOnly);
}

}  // namespace Graphics

ORV_ON_LOAD { Core::RegisterComponentCreator<Graphics::Skybox>(Core::ComponentType_Skybox); }

ORV_REFLECT_CLASS(Graphics::Skybox) {
  using Graphics::Skybox;
  Core::InstallComponentOps(type.Record());
  Base::Function& setMaterial =
      type.Method<&Skybox::SetMaterialByFilename>("SetMaterialByFilename", nullptr, "Sets the material file");
  type.Field(&Skybox::m_materialName, "m_materialName", &setMaterial, nullptr);
  type.Field(&Skybox::m_scale, "m_scale");
}
