// One candidate pair of colliders for one step: the GJK overlap test, the EPA depth search and the
// contact they yield, which the contact solver resolves.
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

// The simplex and polytope of one test. Only the test reads them, so one set serves every pair of a
// step (the narrow phase's own) instead of each pair carrying and copying its own.
struct GjkEpaScratch {
  static constexpr int kMaxVertices = 10;
  static constexpr int kMaxFaces = 20;
  static constexpr int kMaxEdges = 20;

  struct Face {
    bool computed;
    uint32_t a, b, c;
    Base::Vec3 normal;
    float distance;
  };
  struct Edge {
    uint32_t uses;
    uint32_t a, b;
  };

  SupportPoint simplex[4];
  int32_t simplexCount = 0;
  SupportPoint vertices[kMaxVertices];
  Face faces[kMaxFaces];
  Edge edges[kMaxEdges];
  uint32_t vertexCount = 0, faceCount = 0, edgeCount = 0;
};

class CollisionPair {
 public:
  static constexpr int kMaxExpansions = 7;
  static constexpr int kMaxGjkIterations = 10;

  CollisionPair(ColliderBase* a, ColliderBase* b);
  void SetColliders(ColliderBase* a, ColliderBase* b);

  // The kind-pair test with its side effects (waking, touching, events, support recording).
  bool Collide(GjkEpaScratch& scratch);
  bool Collide();
  SupportPoint MinkowskiSupport(Base::Vec3 direction) const;

  ColliderBase* GetColliderA() const { return m_colliderA; }
  ColliderBase* GetColliderB() const { return m_colliderB; }
  const Base::Vec3& GetNormal() const { return m_normal; }
  float GetDepth() const { return m_depth; }
  const Base::Vec3& GetContactA() const { return m_contactA; }
  const Base::Vec3& GetContactB() const { return m_contactB; }
  float GetAccumulatedImpulse() const { return m_accumulatedImpulse; }
  float GetWarmStartImpulse() const { return m_warmStartImpulse; }
  Physics::SystemManifold* GetManifoldA() { return &m_manifoldA; }
  Physics::SystemManifold* GetManifoldB() { return &m_manifoldB; }
  bool needsResolution = false;

 private:
  friend class ContactSolver;
  using Face = GjkEpaScratch::Face;

  bool GJK(GjkEpaScratch& s);
  bool EPA(GjkEpaScratch& s);
  bool CapsuleGround(GjkEpaScratch& s);
  bool Intersects(GjkEpaScratch& s);
  void OnContact();
  void RecordEvent();
  void RecordSupport();
  // Simplex reduction; returns true when the origin is enclosed.
  bool DoSimplex(GjkEpaScratch& s, Base::Vec3& direction);
  bool Triangle(GjkEpaScratch& s, Base::Vec3& direction);
  // Spheres and capsules against each other, and spheres against boxes, meet at their cores'
  // closest points: exact where a polytope of ten vertices would only approximate the curve.
  bool RoundContact();
  void SetContact(const Base::Vec3& normal, float depth, const Base::Vec3& onA, const Base::Vec3& onB);
  void SetupPolytope(GjkEpaScratch& s);
  void ComputeFace(const GjkEpaScratch& s, Face& face) const;

  float m_accumulatedImpulse = 0.0f;
  float m_warmStartImpulse = 0.0f;
  bool m_firstPass = true;
  ColliderBase* m_colliderA = nullptr;
  ColliderBase* m_colliderB = nullptr;
  Physics::SystemManifold m_manifoldA;
  Physics::SystemManifold m_manifoldB;
  Base::Vec3 m_contactA;
  Base::Vec3 m_contactB;
  float m_depth = 0.0f;
  float m_friction = 0.3f;
  Base::Vec3 m_normal;  // from A towards B
};

}  // namespace ZarnPhys
