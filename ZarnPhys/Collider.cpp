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
  ghost_ = (description.flags & ColliderFlag_Ghost) != 0;
  ignoreRaycast_ = (description.flags & ColliderFlag_IgnoreRaycast) != 0;
  ignoreCollisionEvent_ = (description.flags & ColliderFlag_IgnoreCollisionEvent) != 0;
  groupMask_ = description.groupMask;
  boundingHalfExtents_ = description.boundingHalfExtents;
}

void ColliderBase::SetFromDescription(const ColliderDescription& description) { ReadCommon(description); }

Base::Mat3 ColliderBase::InertiaTensor(float) const { return Base::Mat3(); }

void ColliderCapsule::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  radius_ = description.shape[0];
  halfHeight_ = description.shape[1];
  kind_ = ColliderKind_Capsule;
}

float ColliderCapsule::Volume() const {
  return 2.0f * kPi * radius_ * radius_ * halfHeight_ + kFourThirdsPi * radius_ * radius_ * radius_;
}

Base::Mat3 ColliderCapsule::InertiaTensor(float density) const {
  const float r = radius_;
  const float h = 2.0f * halfHeight_;
  const float ms = kFourThirdsPi * r * r * r * density;
  const float mc = 2.0f * (kPi * r * r * h) * density;
  const float side = (2.0f * r * r / 5.0f + h * h / 2.0f + 3.0f * h * r / 8.0f) * mc + (r * r / 4.0f + h * h / 12.0f) * ms;
  const float axial = (2.0f * r * r / 5.0f) * mc + (r * r / 2.0f) * ms;
  return Diagonal(side, axial, side);
}

void ColliderBoxLike::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  halfExtents_ = {description.shape[0], description.shape[1], description.shape[2]};
}

float ColliderCube::Volume() const { return 8.0f * halfExtents_.x * halfExtents_.y * halfExtents_.z; }

Base::Mat3 ColliderCube::InertiaTensor(float density) const {
  const float k = Volume() * density * 0.5f;
  const float x = 2.0f * halfExtents_.x, y = 2.0f * halfExtents_.y, z = 2.0f * halfExtents_.z;
  return Diagonal((y * y + z * z) * k, (x * x + z * z) * k, (x * x + y * y) * k);
}

float ColliderSlant::Volume() const { return 0.5f * halfExtents_.x * halfExtents_.y * halfExtents_.z; }

void ColliderSphere::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  radius_ = description.shape[0];
}

float ColliderSphere::Volume() const { return kFourThirdsPi * radius_ * radius_ * radius_; }

Base::Mat3 ColliderSphere::InertiaTensor(float density) const {
  const float i = 0.4f * Volume() * density * radius_ * radius_;
  return Diagonal(i, i, i);
}

void ColliderPolytope::SetFromDescription(const ColliderDescription& description) {
  ReadCommon(description);
  vertices_.clear();
  if (description.vertices && description.vertexCount > 0)
    vertices_.assign(description.vertices, description.vertices + description.vertexCount);
  // The box the vertices span, so that the broad phase and the rays see the whole shape even when
  // the description leaves its extents empty.
  Base::Vec3 spanned;
  for (const Base::Vec3& v : vertices_) {
    spanned.x = std::max(spanned.x, std::fabs(v.x));
    spanned.y = std::max(spanned.y, std::fabs(v.y));
    spanned.z = std::max(spanned.z, std::fabs(v.z));
  }
  halfExtents_ = description.boundingHalfExtents;
  if (halfExtents_ == Base::Vec3()) halfExtents_ = spanned;
  boundingHalfExtents_ = {std::max(halfExtents_.x, spanned.x), std::max(halfExtents_.y, spanned.y),
                          std::max(halfExtents_.z, spanned.z)};
  kind_ = ColliderKind_Polytope;
}

float ColliderPolytope::Volume() const {
  return 0.5f * (2.0f * halfExtents_.x) * (2.0f * halfExtents_.y) * (2.0f * halfExtents_.z);
}

Box ColliderBase::ComputeBounds() const {
  const Base::Mat3& r = entity_->orientation;
  const Base::Vec3& e = boundingHalfExtents_;
  const Base::Vec3 extents{std::fabs(r(0, 0)) * e.x + std::fabs(r(0, 1)) * e.y + std::fabs(r(0, 2)) * e.z,
                           std::fabs(r(1, 0)) * e.x + std::fabs(r(1, 1)) * e.y + std::fabs(r(1, 2)) * e.z,
                           std::fabs(r(2, 0)) * e.x + std::fabs(r(2, 1)) * e.y + std::fabs(r(2, 2)) * e.z};
  return {entity_->position - extents, entity_->position + extents};
}

void ColliderBase::AddPair(ColliderBase* other, float impulse, uint32_t set) {
  PairSet& s = sets_[set];
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
  const PairSet& s = sets_[set];
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
  PairSet& s = sets_[set];
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
  previousSet_ = currentSet_;
  currentSet_ ^= 1u;
  PairSet& s = sets_[currentSet_];
  s.count = 0;
  s.overflowed = false;
  s.goneCount = 0;
}

void ColliderBase::PurgePairs(const std::vector<const ColliderBase*>& gone, bool keepEndings) {
  const auto isGone = [&gone](const ColliderBase* c) { return std::binary_search(gone.begin(), gone.end(), c); };
  for (uint32_t set = 0; set < 2; ++set) {
    PairSet& s = sets_[set];
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
    if (keepEndings && set == currentSet_) s.goneCount += removed;
  }
}

}  // namespace ZarnPhys
