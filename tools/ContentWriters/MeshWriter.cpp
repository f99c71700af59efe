// Mesh and animation file writing, and the sample shapes of the content tree.
#include "tools/ContentWriters/MeshWriter.h"

#include "tools/ContentWriters/Bytes.h"
#include "tools/FileWriter/FileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace ContentWriters {

namespace {

void PutHeader(std::vector<uint8_t>& out, uint32_t dataOffset, int8_t version) {
  out.push_back('S');
  out.push_back('Z');
  Put(out, dataOffset);
  out.push_back(uint8_t(version));
  out.push_back(0);  // checksum, sealed last
}

MeshFileVertex V(float x, float y, float z, float u, float v, float nx, float ny, float nz) {
  return {{x, y, z}, {u, v}, {nx, ny, nz}, {1, 0, 0}, {0, 1, 0}};
}

Matrix Translation(float x, float y, float z) { return {1, 0, 0, x, 0, 1, 0, y, 0, 0, 1, z, 0, 0, 0, 1}; }

}  // namespace

void SealChecksum(std::vector<uint8_t>& bytes) {
  if (bytes.size() < 8) return;
  uint8_t sum = 0;
  for (size_t i = 8; i < bytes.size(); ++i) sum = uint8_t(sum + bytes[i]);
  bytes[7] = sum;
}

std::vector<uint8_t> WriteMeshBytes(const MeshFileData& mesh, int8_t version) {
  std::vector<uint8_t> out;
  PutHeader(out, mesh.dataOffset, version);
  Put(out, uint32_t(mesh.vertices.size()));
  Put(out, uint32_t(mesh.indices.size()));
  Put(out, mesh.reserved);
  Put(out, uint32_t(mesh.boneParents.size()));
  float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (size_t i = 0; i < mesh.vertices.size(); ++i)
    for (int a = 0; a < 3; ++a) {
      const float p = mesh.vertices[i].position[a];
      lo[a] = i ? std::min(lo[a], p) : p;
      hi[a] = i ? std::max(hi[a], p) : p;
    }
  for (float f : lo) Put(out, f);
  for (float f : hi) Put(out, f);
  if (mesh.dataOffset > out.size()) out.resize(mesh.dataOffset, 0);
  PutAll(out, mesh.vertices);
  PutAll(out, mesh.indices);
  if (!mesh.boneParents.empty()) {
    PutAll(out, mesh.boneMatrices);
    PutAll(out, mesh.boneParents);
    PutAll(out, mesh.secondBoneMatrices);
    PutAll(out, mesh.skin);
  }
  SealChecksum(out);
  return out;
}

std::vector<uint8_t> WriteAnimationBytes(const std::vector<AnimationClip>& clips, int8_t version) {
  std::vector<uint8_t> out;
  PutHeader(out, 0, version);
  Put(out, uint32_t(0));
  Put(out, uint32_t(clips.size()));
  for (const AnimationClip& clip : clips) out.insert(out.end(), clip.name.c_str(), clip.name.c_str() + clip.name.size() + 1);
  for (const AnimationClip& clip : clips) Put(out, float(clip.frameCount) / 30.0f);  // length in seconds
  for (size_t i = 0; i < clips.size(); ++i) Put(out, 30.0f);                       // frames per second
  for (const AnimationClip& clip : clips) Put(out, clip.frameCount);
  const uint32_t dataOffset = uint32_t(out.size());
  std::memcpy(out.data() + 2, &dataOffset, 4);
  for (const AnimationClip& clip : clips) PutAll(out, clip.keys);
  SealChecksum(out);
  return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  return Tools::WriteFileWhole(path, bytes);
}

MeshFileData MakeBox(float sx, float sy, float sz) {
  MeshFileData mesh;
  const float h[3] = {sx / 2, sy / 2, sz / 2};
  // Per face: normal axis and sign; the four corners in the face's plane.
  for (int axis = 0; axis < 3; ++axis)
    for (int sign = -1; sign <= 1; sign += 2) {
      const int a = (axis + 1) % 3, b = (axis + 2) % 3;
      const uint32_t base = uint32_t(mesh.vertices.size());
      const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
      for (const auto& c : corners) {
        float p[3], n[3] = {0, 0, 0};
        p[axis] = float(sign) * h[axis];
        p[a] = c[0] * h[a];
        p[b] = c[1] * h[b];
        n[axis] = float(sign);
        mesh.vertices.push_back(V(p[0], p[1], p[2], (c[0] + 1) / 2, (c[1] + 1) / 2, n[0], n[1], n[2]));
      }
      const uint32_t tri[6] = {0, 1, 2, 0, 2, 3};
      const uint32_t flipped[6] = {0, 2, 1, 0, 3, 2};
      for (int i = 0; i < 6; ++i) mesh.indices.push_back(base + (sign > 0 ? tri[i] : flipped[i]));
    }
  return mesh;
}

MeshFileData MakePlane(float size) {
  MeshFileData mesh;
  const float h = size / 2;
  mesh.vertices = {V(-h, 0, -h, 0, 0, 0, 1, 0), V(h, 0, -h, 1, 0, 0, 1, 0), V(h, 0, h, 1, 1, 0, 1, 0),
                   V(-h, 0, h, 0, 1, 0, 1, 0)};
  mesh.indices = {0, 2, 1, 0, 3, 2};
  return mesh;
}

MeshFileData MakePyramid(float size) {
  MeshFileData mesh;
  const float h = size / 2;
  const float apex[3] = {0, h, 0};
  const float base[4][3] = {{-h, -h, -h}, {h, -h, -h}, {h, -h, h}, {-h, -h, h}};
  for (int i = 0; i < 4; ++i) {
    const float* p0 = base[i];
    const float* p1 = base[(i + 1) % 4];
    const float mx = (p0[0] + p1[0]) / 2, mz = (p0[2] + p1[2]) / 2;
    const float len = std::sqrt(mx * mx + h * h + mz * mz);
    const float n[3] = {mx / len, h / len, mz / len};
    const uint32_t at = uint32_t(mesh.vertices.size());
    mesh.vertices.push_back(V(p0[0], p0[1], p0[2], 0, 1, n[0], n[1], n[2]));
    mesh.vertices.push_back(V(p1[0], p1[1], p1[2], 1, 1, n[0], n[1], n[2]));
    mesh.vertices.push_back(V(apex[0], apex[1], apex[2], 0.5f, 0, n[0], n[1], n[2]));
    mesh.indices.insert(mesh.indices.end(), {at, at + 2, at + 1});
  }
  const uint32_t at = uint32_t(mesh.vertices.size());
  for (const auto& p : base) mesh.vertices.push_back(V(p[0], p[1], p[2], (p[0] + h) / size, (p[2] + h) / size, 0, -1, 0));
  mesh.indices.insert(mesh.indices.end(), {at, at + 1, at + 2, at, at + 2, at + 3});
  return mesh;
}

MeshFileData MakeSkinnedBar(uint32_t segments, uint32_t bones) {
  MeshFileData mesh;
  segments = std::max(segments, 1u);
  bones = std::max(bones, 1u);
  const float length = 4.0f, half = 0.25f;
  // The corners of a section in (y, z), going round from the bottom front; face k runs from corner k
  // to corner k + 1 and faces -z, +y, +z and -y in turn.
  const float ring[4][2] = {{-half, -half}, {half, -half}, {half, half}, {-half, half}};
  const float faceNormal[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
  for (uint32_t s = 0; s <= segments; ++s) {
    const float t = float(s) / float(segments);
    const float x = t * length;
    // Weight between the two bones nearest this ring.
    const float along = t * float(bones - 1);
    const uint32_t b0 = std::min(uint32_t(along), bones - 1);
    const uint32_t b1 = std::min(b0 + 1, bones - 1);
    const float w1 = along - float(b0);
    // Each corner twice, once for each face it bounds, so that every face is flat-shaded by its own
    // normal: the first four serve the faces across z (0 and 2), the last four those across y (1 and 3).
    for (int side = 0; side < 2; ++side)
      for (uint32_t c = 0; c < 4; ++c) {
        const uint32_t face = side == 0 ? (c < 2 ? 0 : 2) : (c == 1 || c == 2 ? 1 : 3);
        const bool starts = c == face;  // v runs across the face from its first corner to its second
        const float* n = faceNormal[face];
        const float* across = faceNormal[(face + 1) % 4];
        mesh.vertices.push_back({{x, ring[c][0], ring[c][1]},
                                 {t, starts ? 0.0f : 1.0f},
                                 {0, n[0], n[1]},
                                 {1, 0, 0},
                                 {0, across[0], across[1]}});
        mesh.skin.push_back({{b0, b1, 0, 0}, {1 - w1, w1, 0, 0}});
      }
    if (s == segments) break;
    const uint32_t at = s * 8, next = (s + 1) * 8;
    for (uint32_t k = 0; k < 4; ++k) {
      const uint32_t k1 = (k + 1) % 4, copy = (k % 2) * 4;
      // Wound as the boxes are: counter-clockwise seen from outside.
      mesh.indices.insert(mesh.indices.end(), {at + copy + k, next + copy + k1, next + copy + k, at + copy + k,
                                               at + copy + k1, next + copy + k1});
    }
  }
  for (uint32_t b = 0; b < bones; ++b) {
    const float x = length * float(b) / float(std::max(bones - 1, 1u));
    mesh.boneMatrices.push_back(Translation(-x, 0, 0));  // from mesh space into the bone's
    mesh.secondBoneMatrices.push_back(Translation(b ? length / float(std::max(bones - 1, 1u)) : 0, 0, 0));
    mesh.boneParents.push_back(b ? b - 1 : 0);
  }
  return mesh;
}

AnimationClip MakeBendClip(const std::string& name, uint32_t bones, uint32_t frames, float amplitude) {
  AnimationClip clip;
  clip.name = name;
  clip.frameCount = frames;
  for (uint32_t b = 0; b < bones; ++b)
    for (uint32_t f = 0; f < frames; ++f) {
      const float t = float(f) / 30.0f;
      const float angle = amplitude * std::sin(6.2831855f * float(f) / float(std::max(frames, 1u)) + float(b) * 0.5f);
      const float offset = b ? 4.0f / float(std::max(bones - 1, 1u)) : 0;
      clip.keys.push_back({t, {offset, 0, 0}, {std::cos(angle / 2), 0, 0, std::sin(angle / 2)}});
    }
  return clip;
}

}  // namespace ContentWriters
