// Models: their mesh and material from the resource managers, the render order, the instanced draw.
#include "Graphics/RenderableObject.h"

#include "Graphics/Device.h"
#include "Graphics/GPUBuffer.h"
#include "Graphics/Log.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Graphics/RenderCore.h"
#include "Base/ResourceCollection.h"

namespace Graphics {

namespace {

constexpr uint32_t kInstanceMatricesSize = 128;
constexpr uint32_t kBoneSize = 64;

// The resource of a name: the loaded entry it maps to, else the file added to the manager (null when
// it does not load). Its id comes back through `id`.
template <class T>
T* FindOrLoad(const std::string& name, uint32_t* id) {
  Base::Resources<T>& manager = Base::Resources<T>::Instance();
  int32_t index = manager.GetResourceID(name);
  const Base::ResourceCollection::Entry* entry = index >= 0 ? manager.GetEntry(uint32_t(index)) : nullptr;
  if (entry && entry->loaded) {
    *id = uint32_t(index);
    return static_cast<T*>(entry->resource);
  }
  T* resource = manager.AddResource(name);
  if (!resource) return nullptr;
  index = manager.GetResourceID(name);
  // A name mapped earlier to an entry that failed keeps that mapping: the new entry is the last one.
  const Base::ResourceCollection::Entry* mapped = index >= 0 ? manager.GetEntry(uint32_t(index)) : nullptr;
  *id = mapped && mapped->resource == resource ? uint32_t(index) : manager.GetEntryCount() - 1;
  return resource;
}

}  // namespace

BaseModel::BaseModel() {
  FindOrLoad<Mesh>(m_meshName, &m_meshID);
  FindOrLoad<Material>(m_materialName, &m_materialID);
}

bool BaseModel::IsDrawnBefore(const RenderableObject* other) const {
  const auto* model = dynamic_cast<const BaseModel*>(other);
  if (!model) return true;
  if (m_materialID != model->m_materialID) return m_materialID < model->m_materialID;
  return m_meshID < model->m_meshID;
}

void BaseModel::SetMaterialByFilename(const std::string& name) {
  uint32_t id = 0;
  if (!FindOrLoad<Material>(name, &id)) {
    GFX_LOG(Warning, "Could not find material filename %s material change was refused", name.c_str());
    return;
  }
  m_materialID = id;
  m_materialName = name;
}

void BaseModel::SetMeshByFilename(const std::string& name) {
  uint32_t id = 0;
  if (!FindOrLoad<Mesh>(name, &id)) {
    GFX_LOG(Warning, "Could not find mesh filename %s mesh change was refused", name.c_str());
    return;
  }
  m_meshID = id;
  m_meshName = name;
}

void BaseModel::SetMeshID(uint32_t id) {
  Base::Resources<Mesh>& meshes = Base::Resources<Mesh>::Instance();
  if (id >= meshes.GetEntryCount() || !meshes.GetResourceById(id)) {
    GFX_LOG(Warning, "Attempting to set invalid meshID %i, ID change refused", int(id));
    return;
  }
  m_meshID = id;
}

void BaseModel::Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) {
  Mesh* mesh = Base::Resources<Mesh>::Instance().GetResourceById(m_meshID);
  Material* material = Base::Resources<Material>::Instance().GetResourceById(m_materialID);
  if (!mesh || !material || !instanceData || instanceCount == 0) return;
  RenderCore& core = RenderCore::GetInstance();
  // A mesh without a skeleton has no skinned stream: it is drawn from its static vertices.
  const bool skinned = IsAnimated() && mesh->m_skinnedVertexBuffer;
  mesh->BindBuffers(skinned);
  if (IsAnimated() && m_boneCount > 0) {
    GPUBuffer* bones = core.GetAuxiliaryBuffer();
    bones->Update(m_bones, m_boneCount * kBoneSize, kBoneSize, 1, 0);
    bones->Bind(true);
  }
  if (!depthOnly) {
    material->BindShaders();
    material->BindTextures(0);
  }
  GPUBuffer* stream = core.GetSharedVertexStream();
  stream->Update(instanceData, instanceCount * kInstanceMatricesSize, kInstanceMatricesSize, 2, 0);
  stream->Bind(true);
  Platform::GpuContext* context = GetDevice()->m_context;
  if (instanceCount == 1)
    context->DrawIndexed(mesh->GetIndexCount(), 0, 0);
  else
    context->DrawIndexedInstanced(mesh->GetIndexCount(), instanceCount, 0, 0, 0);
}

}  // namespace Graphics
