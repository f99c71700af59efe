// Mesh files into meshes: sections read only where the file holds them, the animation file paired
// by name, the skinned vertex list, and the GPU buffers.
#include "Graphics/Mesh.h"

#include "Base/Handle.h"
#include "Graphics/Files/BinaryFile.h"
#include "Graphics/Log.h"

#include <cstring>
#include <limits>

namespace Graphics {

bool AnimationData::HasAnimation(const char* name) const {
  return m_animations.count(Base::MurmurHash2(name, uint32_t(std::strlen(name) + 1), 0)) != 0;
}

const AnimationData::Range* AnimationData::GetAnimationByName(const char* name) const {
  auto it = m_animations.find(Base::MurmurHash2(name, uint32_t(std::strlen(name) + 1), 0));
  if (it == m_animations.end()) {
    GFX_LOG(Warning, "Animation %s does not exist", name);
    return nullptr;
  }
  return &it->second;
}

const AnimationData::Range* AnimationData::FindAnimationByHash(uint32_t key) const {
  auto it = m_animations.find(key);
  if (it != m_animations.end()) return &it->second;
  return m_animations.empty() ? nullptr : &m_animations.begin()->second;
}

Mesh::Mesh() : m_boundsMin(0, 0, 0), m_boundsMax(0, 0, 0) {}

Mesh::Mesh(const char* name) { Load(name ? name : ""); }

Mesh::~Mesh() = default;

void Mesh::Load(const std::string& name) {
  GFX_LOG(Verbose, "Loading Mesh %s", name.c_str());
  m_fileName = name;
  if (!Files::LoadMesh(m_directory + name, *this)) return;
  m_vertexBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Vertex, m_vertices.data(),
                                               uint32_t(m_vertices.size() * sizeof(MeshVertex)), 80, 0, 0);
  m_indexBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Index, m_indices.data(),
                                              uint32_t(m_indices.size() * sizeof(uint32_t)), 4, 0, 0);
  if (m_animated)
    m_skinnedVertexBuffer = std::make_unique<GPUBuffer>(
        GPUBuffer::Vertex, m_skinnedVertices.data(), uint32_t(m_skinnedVertices.size() * sizeof(SkinnedVertex)), 112,
        0, 0);
  m_points.clear();
  m_points.reserve(m_vertices.size());
  for (const MeshVertex& v : m_vertices) m_points.emplace_back(v.position.x, v.position.y, v.position.z);
  m_faces.clear();
}

void Mesh::BindBuffers(bool skinned) {
  GPUBuffer* vertices = skinned ? m_skinnedVertexBuffer.get() : m_vertexBuffer.get();
  if (vertices) vertices->Bind(true);
  if (m_indexBuffer) m_indexBuffer->Bind(true);
}

void Mesh::UploadVertices(bool skinned) {
  if (!skinned) {
    if (m_vertexBuffer)
      m_vertexBuffer->Update(m_vertices.data(), uint32_t(m_vertices.size() * sizeof(MeshVertex)), 80, 0, 0);
  } else if (m_skinnedUpload && m_skinnedVertexBuffer) {
    m_skinnedVertexBuffer->Update(m_skinnedVertices.data(),
                                  uint32_t(m_skinnedVertices.size() * sizeof(SkinnedVertex)), 112, 0, 0);
  }
}

}  // namespace Graphics

namespace Files {

namespace {

// A byte range of the file as 64-bit values: a range that does not fit 32 bits is outside any file.
const uint8_t* Section(BinaryFile& file, uint64_t offset, uint64_t length) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (offset > kMax || length > kMax) return nullptr;
  return file.GetData(uint32_t(offset), uint32_t(length));
}

template <class T>
bool CopySection(BinaryFile& file, uint64_t offset, uint64_t count, std::vector<T>& out) {
  const uint8_t* bytes = Section(file, offset, count * sizeof(T));
  if (!bytes) return false;
  out.resize(size_t(count));
  if (count) std::memcpy(out.data(), bytes, size_t(count) * sizeof(T));
  return true;
}

// content/animations + "/<stem>" of the mesh path + ".conga".
std::string AnimationPath(const std::string& meshPath) {
  const size_t slash = meshPath.find_last_of("/\\");
  const size_t from = slash == std::string::npos ? 0 : slash;
  size_t dot = meshPath.find_last_of('.');
  if (dot == std::string::npos || dot < from) dot = meshPath.size();
  // The stem's own separator, either way round, becomes the one '/' after the folder.
  const bool separated = dot > from && (meshPath[from] == '/' || meshPath[from] == '\\');
  std::string path(kAnimationFolder);
  path += '/';
  path.append(meshPath, separated ? from + 1 : from, dot - from - (separated ? 1 : 0));
  path += ".conga";
  return path;
}

// Reads the animation file of a skinned mesh; false (with the warning) leaves it unanimated.
bool LoadAnimations(const std::string& meshPath, Graphics::Mesh& mesh, uint32_t boneCount) {
  const std::string path = AnimationPath(meshPath);
  BinaryFile file;
  file.Open(AnimationHeader(), path);
  auto* header = static_cast<AnimationHeader*>(file.m_header);
  if (!file.m_valid || !header) {
    GFX_LOG(Warning, "Could not load animation data associated with %s", meshPath.c_str());
    return false;
  }
  // Said once the file opened, so that a file whose key frames then turn out short is named in the log.
  GFX_LOG(Verbose, "Loading animation file %s ...", path.c_str());
  uint64_t frames = 0;
  for (uint32_t count : header->m_frameCounts) frames += count;
  const uint64_t bytes = frames * boneCount * sizeof(Graphics::KeyFrame);
  const uint8_t* keys = nullptr;
  if (header->m_dataOffset != 0 && bytes <= std::numeric_limits<uint32_t>::max())
    keys = Section(file, header->m_dataOffset, bytes);
  if (!keys) {
    GFX_LOG(Warning, "Could not load animation data associated with %s", meshPath.c_str());
    return false;
  }
  Graphics::AnimationData& data = mesh.m_animationData;
  auto* block = static_cast<Graphics::KeyFrame*>(data.m_keyFrameStorage.Allocate(uint32_t(bytes ? bytes : 1)));
  if (!block) {
    GFX_LOG(Warning, "Could not load animation data associated with %s", meshPath.c_str());
    return false;
  }
  uint32_t record = 0;
  for (size_t i = 0; i < header->m_names.size(); ++i) {
    const std::string& name = header->m_names[i];
    if (i == 0) data.m_defaultAnimation = name;
    const uint32_t key = Base::MurmurHash2(name.c_str(), uint32_t(name.size() + 1), 0);
    data.m_animations[key] = {record, header->m_frameCounts[i]};
    record += boneCount * header->m_frameCounts[i];
  }
  if (bytes) std::memcpy(block, keys, size_t(bytes));
  data.m_keyFrames = block;
  data.m_keyFrameCount = frames * boneCount;
  mesh.m_animated = true;
  return true;
}

void ClearMeshData(Graphics::Mesh& mesh) {
  mesh.m_vertices.clear();
  mesh.m_indices.clear();
  mesh.m_skinRecords.clear();
  mesh.m_skinnedVertices.clear();
  Graphics::AnimationData& data = mesh.m_animationData;
  data.m_boneMatrices.clear();
  data.m_secondBoneMatrices.clear();
  data.m_boneParents.clear();
}

}  // namespace

bool LoadMesh(const std::string& path, Graphics::Mesh& mesh) {
  if (path.find(".cong") == std::string::npos) return LoadMesh(kDefaultMeshPath, mesh);

  BinaryFile file;
  file.Open(StaticMeshHeader(), path);
  GFX_LOG(Verbose, "Loading mesh file %s ...", path.c_str());
  auto* header = static_cast<StaticMeshHeader*>(file.m_header);
  // Without a readable header there are no counts to read by; other header results (checksum,
  // version) leave the counts usable and are only reported.
  if (!header || file.m_result == HeaderResult_BadSignature) {
    GFX_LOG(Warning, "Could not read mesh file %s", path.c_str());
    return false;
  }
  if (header->m_version != kCurrentAssetVersion)
    GFX_LOG(Warning, "Attempting to load out of date .cong file with version %d. Current Version is %d",
            int(header->m_version), int(kCurrentAssetVersion));

  const uint64_t base = header->m_dataOffset ? header->m_dataOffset : kMeshHeaderSize;
  const uint64_t v = header->m_vertexCount, i = header->m_indexCount, b = header->m_boneCount;
  ClearMeshData(mesh);

  bool ok = true;
  const uint8_t* vertexBytes = Section(file, base, 56 * v);
  if (!vertexBytes) {
    ok = false;
  } else {
    mesh.m_vertices.resize(size_t(v));
    for (uint64_t n = 0; n < v; ++n) {
      float f[14];
      std::memcpy(f, vertexBytes + 56 * n, sizeof(f));
      mesh.m_vertices[size_t(n)] = {Base::Vec4(f[0], f[1], f[2], 1), Base::Vec4(f[3], f[4], 0, 0),
                                    Base::Vec4(f[5], f[6], f[7], 0), Base::Vec4(f[8], f[9], f[10], 0),
                                    Base::Vec4(f[11], f[12], f[13], 0)};
    }
  }
  ok = ok && CopySection(file, base + 56 * v, i, mesh.m_indices);
  Graphics::AnimationData& data = mesh.m_animationData;
  if (ok && b) {
    const uint64_t words = 14 * v + i;
    ok = CopySection(file, base + 4 * words, b, data.m_boneMatrices) &&
         CopySection(file, base + 4 * (words + 16 * b), b, data.m_boneParents) &&
         CopySection(file, base + 4 * (words + 17 * b), b, data.m_secondBoneMatrices) &&
         CopySection(file, base + 4 * (words + 33 * b), v, mesh.m_skinRecords);
    if (ok) LoadAnimations(path, mesh, uint32_t(b));
  }
  if (!ok) {
    GFX_LOG(Warning, "Mesh file %s is shorter than its header says", path.c_str());
    ClearMeshData(mesh);
    mesh.m_animated = false;
    return false;
  }

  if (mesh.m_animated) {
    mesh.m_skinnedVertices.resize(mesh.m_vertices.size());
    for (size_t n = 0; n < mesh.m_vertices.size(); ++n) {
      const Graphics::MeshVertex& s = mesh.m_vertices[n];
      const Graphics::SkinRecord& skin = mesh.m_skinRecords[n];
      Graphics::SkinnedVertex& d = mesh.m_skinnedVertices[n];
      d.position = Base::Vec4(s.position.x, s.position.y, -s.position.z, s.position.w);
      d.texCoord = s.texCoord;
      d.normal = Base::Vec4(s.normal.x, s.normal.y, -s.normal.z, s.normal.w);
      std::memcpy(d.bones, skin.bones, sizeof(d.bones));
      d.weights = Base::Vec4(skin.weights[0], skin.weights[1], skin.weights[2], skin.weights[3]);
      d.tangent = s.tangent;
      d.binormal = s.binormal;
    }
  }
  mesh.m_boundsMin = header->m_boundsMin;
  mesh.m_boundsMax = header->m_boundsMax;
  mesh.m_vertexCount = header->m_vertexCount;
  mesh.m_indexCount = header->m_indexCount;
  mesh.m_loaded = true;
  return true;
}

}  // namespace Files
