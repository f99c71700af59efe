// The base of everything a canvas files and the render passes draw, and of models: what the
// render lists sort by and what the passes call.
#pragma once

#include "Base/Matrix.h"
#include "Base/Vector.h"

#include <cstdint>
#include <string>

namespace Graphics {

class RenderableObject {
 public:
  virtual ~RenderableObject() = default;

  // Draws `instanceCount` instances whose per-instance records start at `instanceData`;
  // `depthOnly` for a pass that writes depth alone.
  virtual void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) = 0;
  // The render-list order: whether this is drawn before `other`. A strict weak order among
  // renderables of one kind.
  virtual bool IsDrawnBefore(const RenderableObject* other) const = 0;
  virtual Base::Mat4* GetWorldMatrix() { return &m_worldMatrix; }
  virtual void SetWorldMatrix(const Base::Mat4& world) { m_worldMatrix = world; }

  Base::Mat4 m_worldMatrix;
};

// A mesh drawn with a material, both chosen by file name from their resource collections.
class BaseModel : public RenderableObject {
 public:
  // The mesh "default.cong" and the material "default.mat", found or loaded.
  BaseModel();

  // Draws the mesh instanced: `instanceData` holds per instance the transposed world matrix and its
  // transposed affine inverse (128 bytes), streamed to input slot 2. A depth-only draw binds no
  // material. Nothing is drawn when the mesh or the material does not resolve.
  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  // Models sort before every other kind; among models by material id, then mesh id, so that
  // models sharing them are drawn together.
  bool IsDrawnBefore(const RenderableObject* other) const override;

  bool IsAnimated() const { return m_bones != nullptr; }
  // Whether its mesh's vertices (skinned by its bones when animated), placed by each instance's world
  // matrix, hold all Draw rasterises: the shadow pass bounds what it draws by them.
  virtual bool IsPlacedByItsMatrices() const { return true; }
  uint32_t GetMaterialID() const { return m_materialID; }
  uint32_t GetMeshID() const { return m_meshID; }
  // Each refuses, with a warning, what its manager cannot find or load, and keeps what it had.
  void SetMaterialByFilename(const std::string& name);
  void SetMeshByFilename(const std::string& name);
  void SetMeshID(uint32_t id);

  bool m_shadowReceiver = true;
  bool m_shadowCaster = true;
  Base::Vec4 m_color{1, 1, 1, 1};
  uint32_t m_materialID = 0;
  std::string m_materialName = "default.mat";
  const Base::Mat4* m_bones = nullptr;  // not owned: the animating component's
  uint32_t m_boneCount = 0;
  uint32_t m_meshID = 0;
  std::string m_meshName = "default.cong";
};

}  // namespace Graphics
