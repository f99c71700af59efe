// One candidate pair of colliders for one step: the GJK overlap test, the EPA depth search, the
// contact it yields and the sequential-impulse solve of that contact.
#pragma once

#include <cstdint>

#include "Base/Vector.h"
#include "ZarnPhys/CollisionEvent.h"

namespace ZarnPhys {

class ColliderBase;

struct SupportPoint {
  Base::Vec3 point;  // on the Minkowski difference A - B
  Base::Vec3 onA;
  Base::Vec3 onB;
};

class CollisionPair {
 public:
  static constexpr int kMaxVertices = 10;
  static constexpr int kMaxFaces = 20;
  static constexpr int kMaxEdges = 20;
  static constexpr int kMaxExpansions = 7;
  static constexpr int kMaxGjkIterations = 10;

  struct Face {
    bool computed = false;
    uint32_t a = 0, b = 0, c = 0;
    Base::Vec3 normal;
    float distance = 0.0f;
  };
  struct Edge {
    uint32_t uses = 0;
    uint32_t a = 0, b = 0;
  };

  CollisionPair(ColliderBase* a, ColliderBase* b);
  void SetColliders(ColliderBase* a, ColliderBase* b);

  // The kind-pair test with its side effects (waking, touching, events, support recording).
  bool Collide();
  bool GJK();
  bool EPA();
  bool CapsuleGround();
  SupportPoint MinkowskiSupport(Base::Vec3 direction) const;
  void Solve(float dt);

  ColliderBase* GetColliderA() const { return colliderA_; }
  ColliderBase* GetColliderB() const { return colliderB_; }
  const Base::Vec3& GetNormal() const { return normal_; }
  float GetDepth() const { return depth_; }
  const Base::Vec3& GetContactA() const { return contactA_; }
  const Base::Vec3& GetContactB() const { return contactB_; }
  float GetAccumulatedImpulse() const { return accumulatedImpulse_; }
  float GetWarmStartImpulse() const { return warmStartImpulse_; }
  Physics::SystemManifold* GetManifoldA() { return &manifoldA_; }
  Physics::SystemManifold* GetManifoldB() { return &manifoldB_; }
  bool needsResolution = false;

 private:
  bool Intersects();
  void OnContact();
  void RecordEvent();
  void RecordSupport();
  // Simplex reduction; returns true when the origin is enclosed.
  bool DoSimplex(Base::Vec3& direction);
  bool Triangle(Base::Vec3& direction);
  // Spheres and capsules against each other, and spheres against boxes, meet at their cores'
  // closest points: exact where a polytope of ten vertices would only approximate the curve.
  bool RoundContact();
  void SetContact(const Base::Vec3& normal, float depth, const Base::Vec3& onA, const Base::Vec3& onB);
  void SetupPolytope();
  void ComputeFace(Face& face) const;

  SupportPoint simplex_[4];
  int32_t simplexCount_ = 0;
  SupportPoint vertices_[kMaxVertices];
  Face faces_[kMaxFaces];
  Edge edges_[kMaxEdges];
  uint32_t vertexCount_ = 0, faceCount_ = 0, edgeCount_ = 0;
  float accumulatedImpulse_ = 0.0f;
  float warmStartImpulse_ = 0.0f;
  bool firstPass_ = true;
  ColliderBase* colliderA_ = nullptr;
  ColliderBase* colliderB_ = nullptr;
  Physics::SystemManifold manifoldA_;
  Physics::SystemManifold manifoldB_;
  Base::Vec3 contactA_;
  Base::Vec3 contactB_;
  float depth_ = 0.0f;
  float friction_ = 0.3f;
  Base::Vec3 normal_;  // from A towards B
};

}  // namespace ZarnPhys
