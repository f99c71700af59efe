// Writes the engine's binary mesh (".cong") and animation (".conga") files: the "SZ" header with
// its checksum, static and skinned meshes, and named animations of per-bone keyframes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ContentWriters {

struct MeshFileVertex {
  float position[3];
  float texCoord[2];
  float normal[3];
  float tangent[3];
  float binormal[3];
};
static_assert(sizeof(MeshFileVertex) == 56);

struct MeshFileSkin {
  uint32_t bones[4];
  float weights[4];
};

using Matrix = std::array<float, 16>;

struct MeshFileData {
  std::vector<MeshFileVertex> vertices;
  std::vector<uint32_t> indices;
  // A skinned mesh: one entry per bone in each list, and one skin record per vertex.
  std::vector<Matrix> boneMatrices;
  std::vector<uint32_t> boneParents;
  std::vector<Matrix> secondBoneMatrices;
  std::vector<MeshFileSkin> skin;
  uint32_t reserved = 0;
  // Written as is; 0 lets readers take the header size.
  uint32_t dataOffset = 0;
};

// One key of one bone: time in seconds, position, rotation (w, x, y, z).
struct KeyRecord {
  float time;
  float position[3];
  float rotation[4];
};
static_assert(sizeof(KeyRecord) == 32);

struct AnimationClip {
  std::string name;
  uint32_t frameCount = 0;
  std::vector<KeyRecord> keys;  // bone count x frame count records, bone by bone
};

// The file bytes. The bounds are those of the vertex positions (zero without vertices).
std::vector<uint8_t> WriteMeshBytes(const MeshFileData& mesh, int8_t version = 2);
std::vector<uint8_t> WriteAnimationBytes(const std::vector<AnimationClip>& clips, int8_t version = 2);
// Recomputes the checksum byte after the bytes were changed.
void SealChecksum(std::vector<uint8_t>& bytes);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Sample geometry.
MeshFileData MakeBox(float sizeX, float sizeY, float sizeZ);
MeshFileData MakePlane(float size);
MeshFileData MakePyramid(float size);
// A bar along x of `segments` box sections (four flat sides, each with its own outward normal; open
// ends), skinned to `bones` bones laid end to end, each bone parented to the one before;
// 8 x (segments + 1) vertices.
MeshFileData MakeSkinnedBar(uint32_t segments, uint32_t bones);
// A clip of `frames` frames bending every bone about z by up to `amplitude` radians.
AnimationClip MakeBendClip(const std::string& name, uint32_t bones, uint32_t frames, float amplitude);

}  // namespace ContentWriters
