// Shape data, support mappings, volumes, inertia and the pair-set bookkeeping of the colliders.
#include "ZarnPhys/Collider.h"

#include <algorithm>
#include <cmath>

namespace ZarnPhys {

namespace {

constexpr float kPi = 3.141592653589793f;
constexpr float kFourThirdsPi = 4.1887903296220665f;

Base::Mat3 Diagonal(float x, float y, float z) {
  Base::Mat3 m;
  m(0, 0) = x;
  m(1, 1) = y;
  m(2, 2) = z;
  return m;
}

}  // namespace

void ColliderBase::ReadCommon(const ColliderDescription& description) {
  m_ghost = (description.flags & ColliderFlag_Ghost) != 0;
  m_ignoreRaycast = (description.flags & ColliderFlag_IgnoreRaycast) != 0;
  m_ignoreCollisionEvent = (description.flags & ColliderFlag_IgnoreCollisionEvent) != 0;
  m_groupMask = description.groupMask;
  m_boundingHalfExtents = description.boundingHalfExtents;
}

void ColliderBase::SetFromDescription(const ColliderDescription& description) { ReadCommon(description); }

Base::Mat3 ColliderBase::InertiaTensor(float) const { return Base::Mat3(); }

void ColliderCapsule::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  m_radius = description.shape[0];
  m_halfHeight = description.shape[1];
  m_kind = ColliderKind_Capsule;
}

float ColliderCapsule::Volume() const {
  return 2.0f * kPi * m_radius * m_radius * m_halfHeight + kFourThirdsPi * m_radius * m_radius * m_radius;
}

Base::Mat3 ColliderCapsule::InertiaTensor(float density) const {
  const float r = m_radius;
  const float h = 2.0f * m_halfHeight;
  const float ms = kFourThirdsPi * r * r * r * density;
  const float mc = 2.0f * (kPi * r * r * h) * density;
  const float side = (2.0f * r * r / 5.0f + h * h / 2.0f + 3.0f * h * r / 8.0f) * mc + (r * r / 4.0f + h * h / 12.0f) * ms;
  const float axial = (2.0f * r * r / 5.0f) * mc + (r * r / 2.0f) * ms;
  return Diagonal(side, axial, side);
}

void ColliderBoxLike::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  m_halfExtents = {description.shape[0], description.shape[1], description.shape[2]};
}

float ColliderCube::Volume() const { return 8.0f * m_halfExtents.x * m_halfExtents.y * m_halfExtents.z; }

Base::Mat3 ColliderCube::InertiaTensor(float density) const {
  const float k = Volume() * density * 0.5f;
  const float x = 2.0f * m_halfExtents.x, y = 2.0f * m_halfExtents.y, z = 2.0f * m_halfExtents.z;
  return Diagonal((y * y + z * z) * k, (x * x + z * z) * k, (x * x + y * y) * k);
}

float ColliderSlant::Volume() const { return 0.5f * m_halfExtents.x * m_halfExtents.y * m_halfExtents.z; }

void ColliderSphere::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  m_radius = description.shape[0];
}

float ColliderSphere::Volume() const { return kFourThirdsPi * m_radius * m_radius * m_radius; }

Base::Mat3 ColliderSphere::InertiaTensor(float density) const {
  const float i = 0.4f * Volume() * density * m_radius * m_radius;
  return Diagonal(i, i, i);
}

void ColliderPolytope::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  m_vertices.clear();
  if (description.vertices && description.vertexCount > 0)
    m_vertices.assign(description.vertices, description.vertices + description.vertexCount);
  // The box the vertices span, so that the broad phase and the rays see the whole shape even when
  // the description leaves its extents empty.
  Base::Vec3 spanned;
  for (const Base::Vec3& v : m_vertices) {
    spanned.x = std::max(spanned.x, std::fabs(v.x));
    spanned.y = std::max(spanned.y, std::fabs(v.y));
    spanned.z = std::max(spanned.z, std::fabs(v.z));
  }
  m_halfExtents = description.boundingHalfExtents;
  if (m_halfExtents == Base::Vec3()) m_halfExtents = spanned;
  m_boundingHalfExtents = {std::max(m_halfExtents.x, spanned.x), std::max(m_halfExtents.y, spanned.y),
                           std::max(m_halfExtents.z, spanned.z)};
  m_kind = ColliderKind_Polytope;
}

float ColliderPolytope::Volume() const {
  return 0.5f * (2.0f * m_halfExtents.x) * (2.0f * m_halfExtents.y) * (2.0f * m_halfExtents.z);
}

Box ColliderBase::ComputeBounds() const {
  const Base::Mat3& r = m_entity->orientation;
  const Base::Vec3& e = m_boundingHalfExtents;
  const Base::Vec3 extents{std::fabs(r(0, 0)) * e.x + std::fabs(r(0, 1)) * e.y + std::fabs(r(0, 2)) * e.z,
                           std::fabs(r(1, 0)) * e.x + std::fabs(r(1, 1)) * e.y + std::fabs(r(1, 2)) * e.z,
                           std::fabs(r(2, 0)) * e.x + std::fabs(r(2, 1)) * e.y + std::fabs(r(2, 2)) * e.z};
  return {m_entity->position - extents, m_entity->position + extents};
}

void ColliderBase::AddPair(ColliderBase* other, float impulse, uint32_t set) {
  PairSet& s = m_sets[set];
  if (!s.overflowed) {
    if (s.count < PairSet::kInline) {
      s.entries[s.count++] = {other, impulse};
      return;
    }
    s.map.clear();
    for (const PairSet::Entry& e : s.entries) s.map[e.other] = e.impulse;
    s.overflowed = true;
  }
  s.map[other] = impulse;
  s.count = int32_t(s.map.size());
}

bool ColliderBase::FindPair(const ColliderBase* other, uint32_t set, float* impulse) const {
  const PairSet& s = m_sets[set];
  if (s.overflowed) {
    const auto it = s.map.find(const_cast<ColliderBase*>(other));
    if (it == s.map.end()) return false;
    if (impulse) *impulse = it->second;
    return true;
  }
  for (int i = 0; i < s.count; ++i) {
    if (s.entries[i].other == other) {
      if (impulse) *impulse = s.entries[i].impulse;
      return true;
    }
  }
  return false;
}

void ColliderBase::RemovePair(const ColliderBase* other, uint32_t set) {
  PairSet& s = m_sets[set];
  if (s.overflowed) {
    s.map.erase(const_cast<ColliderBase*>(other));
    s.count = int32_t(s.map.size());
    return;
  }
  for (int i = 0; i < s.count; ++i) {
    if (s.entries[i].other == other) {
      for (int j = i + 1; j < s.count; ++j) s.entries[j - 1] = s.entries[j];
      s.entries[--s.count] = {};
      return;
    }
  }
}

void ColliderBase::SwapPairSets() {
  m_previousSet = m_currentSet;
  m_currentSet ^= 1u;
  PairSet& s = m_sets[m_currentSet];
  s.count = 0;
  s.overflowed = false;
  s.goneCount = 0;
}

void ColliderBase::PurgePairs(const std::vector<const ColliderBase*>& gone, bool keepEndings) {
  const auto isGone = [&gone](const ColliderBase* c) { return std::binary_search(gone.begin(), gone.end(), c); };
  for (uint32_t set = 0; set < 2; ++set) {
    PairSet& s = m_sets[set];
    int32_t removed = 0;
    if (s.overflowed) {
      removed = int32_t(std::erase_if(s.map, [&](const auto& entry) { return isGone(entry.first); }));
      s.count = int32_t(s.map.size());
    } else {
      int32_t kept = 0;
      for (int i = 0; i < s.count; ++i) {
        if (isGone(s.entries[i].other)) continue;
        s.entries[kept++] = s.entries[i];
      }
      removed = s.count - kept;
      for (int i = kept; i < s.count; ++i) s.entries[i] = {};
      s.count = kept;
    }
    // Only the current set still has its endings ahead of it; the previous one was reported already.
    if (keepEndings && set == m_currentSet) s.goneCount += removed;
  }
}

}  // namespace ZarnPhys
