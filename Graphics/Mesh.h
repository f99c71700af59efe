// Mesh resources: vertex and index lists read from ".cong" files under "content/meshes/" with their
// GPU buffers, and for skinned meshes the skeleton and named animations of the matching ".conga"
// file under "content/animations/". Procedural meshes use the same class without a file.
#pragma once

#include "Base/BlobAllocator.h"
#include "Base/Matrix.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"
#include "Graphics/GPUBuffer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Graphics {

struct MeshVertex {
  Base::Vec4 position;  // w 1
  Base::Vec4 texCoord;
  Base::Vec4 normal;    // w 0
  Base::Vec4 tangent;
  Base::Vec4 binormal;
};
static_assert(sizeof(MeshVertex) == 80);

// The skinning input: z of position and normal mirrored for the animation frame.
struct SkinnedVertex {
  Base::Vec4 position;
  Base::Vec4 texCoord;
  Base::Vec4 normal;
  uint32_t bones[4];
  Base::Vec4 weights;
  Base::Vec4 tangent;
  Base::Vec4 binormal;
};
static_assert(sizeof(SkinnedVertex) == 112);

struct SkinRecord {
  uint32_t bones[4];
  float weights[4];
};
static_assert(sizeof(SkinRecord) == 32);

// One bone's key at one frame; the animation controller interprets it.
struct KeyFrame {
  float time;
  Base::Vec3 position;
  Base::Quaternion rotation;
};
static_assert(sizeof(KeyFrame) == 32);

// A face record in the form the polytope collider copies; meshes read from files leave the list empty.
struct MeshFace {
  uint8_t bytes[76];
};

// The skeleton and animations of a mesh.
class AnimationData {
 public:
  struct Range {
    uint32_t firstRecord;
    uint32_t frameCount;
  };

  AnimationData() : m_keyFrameStorage(131072) {}

  bool HasAnimation(const char* name) const;
  // The record range of a named animation; null (with a warning) when the mesh has no such animation.
  const Range* GetAnimationByName(const char* name) const;
  // The range of a key; the first animation the map yields when the key is absent; null when the
  // mesh has no animations at all.
  const Range* FindAnimationByHash(uint32_t key) const;
  const KeyFrame* GetAnimationByIndex(uint32_t record) const { return m_keyFrames + record; }
  const std::vector<Base::Mat4>& GetBoneMatrices() const { return m_boneMatrices; }
  const std::vector<Base::Mat4>& GetSecondBoneMatrices() const { return m_secondBoneMatrices; }
  uint32_t GetBoneCount() const { return uint32_t(m_boneParents.size()); }
  void SetCurrentAnimation(uint32_t key) { m_currentAnimation = key; }

  Base::BlobAllocator m_keyFrameStorage;
  KeyFrame* m_keyFrames = nullptr;
  uint64_t m_keyFrameCount = 0;
  std::unordered_map<uint32_t, Range> m_animations;
  std::vector<uint32_t> m_boneParents;
  std::vector<Base::Mat4> m_secondBoneMatrices;
  std::vector<Base::Mat4> m_boneMatrices;
  std::string m_defaultAnimation;
  uint32_t m_currentAnimation = 0;
};

class Mesh {
 public:
  // A file-less mesh for the procedural generators: bounds (0, 0, 0), nothing else.
  Mesh();
  // Loads content/meshes/<name>; loaded only when the file and all its sections were read.
  explicit Mesh(const char* name);
  ~Mesh();
  Mesh(const Mesh&) = delete;
  Mesh& operator=(const Mesh&) = delete;

  bool IsLoaded() const { return m_loaded; }
  bool IsAnimated() const { return m_animated; }
  void Load(const std::string& name);
  void BindBuffers(bool skinned);
  void UploadVertices(bool skinned);
  const std::vector<Base::Vec3>& GetPointList() const { return m_points; }
  const std::vector<MeshFace>& GetFaceList() const { return m_faces; }
  Base::Vec3 GetExtents() const { return m_boundsMax - m_boundsMin; }
  uint32_t GetIndexCount() const { return m_indexCount; }
  uint32_t GetVertexCount() const { return m_vertexCount; }
  AnimationData& GetAnimationData() { return m_animationData; }

  bool m_loaded = false;
  bool m_animated = false;
  std::unique_ptr<GPUBuffer> m_vertexBuffer;
  std::unique_ptr<GPUBuffer> m_skinnedVertexBuffer;
  std::unique_ptr<GPUBuffer> m_indexBuffer;
  std::vector<MeshVertex> m_vertices;
  std::vector<Base::Vec3> m_points;
  std::vector<MeshFace> m_faces;
  std::vector<SkinnedVertex> m_skinnedVertices;
  bool m_skinnedUpload = false;
  std::vector<uint32_t> m_indices;
  std::vector<SkinRecord> m_skinRecords;
  AnimationData m_animationData;
  uint32_t m_vertexCount = 0;
  uint32_t m_indexCount = 0;
  std::string m_fileName;
  std::string m_directory = "content/meshes/";
  Base::Vec3 m_boundsMin{-1, -1, -1};
  Base::Vec3 m_boundsMax{1, 1, 1};
};

}  // namespace Graphics

namespace Files {

inline constexpr const char* kDefaultMeshPath = "content/meshes/default.cong";
inline constexpr const char* kAnimationFolder = "content/animations";

// Reads a mesh file (and for a skinned mesh its animation file) into `mesh`. A path without
// ".cong" reads the default mesh instead. False when the file cannot be read, its header is
// refused, or a section lies outside the file; the mesh is then left without data.
bool LoadMesh(const std::string& path, Graphics::Mesh& mesh);

}  // namespace Files
