// GJK overlap test, EPA depth search and the contact solve of one pair of colliders.
#include "ZarnPhys/CollisionPair.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "ZarnPhys/Collider.h"
#include "ZarnPhys/PhysicsSpace.h"
#include "ZarnPhys/RigidBody.h"

namespace ZarnPhys {

namespace {

constexpr float kEpaTolerance = 0.05f;
constexpr float kFaceFrontTolerance = 0.001f;
const Base::Vec3 kDown(0.0f, -1.0f, 0.0f);

RigidBody* BodyOf(const ColliderBase* collider) {
  const Entity* entity = collider->GetEntity();
  return entity ? entity->rigidBody : nullptr;
}

// The body the solver may move: present and not immovable.
RigidBody* MovableBodyOf(const ColliderBase* collider) {
  RigidBody* body = BodyOf(collider);
  return body && !body->IsImmovable() ? body : nullptr;
}

// A round shape is a core (a point or a segment) grown by a radius.
struct RoundCore {
  Base::Vec3 p0, p1;
  float radius;
};

bool GetRoundCore(const ColliderBase* collider, RoundCore* core) {
  const Entity* entity = collider->GetEntity();
  if (collider->GetKind() == ColliderKind_Sphere) {
    *core = {entity->position, entity->position, static_cast<const ColliderSphere*>(collider)->GetRadius()};
    return true;
  }
  if (collider->GetKind() == ColliderKind_Capsule) {
    const auto* capsule = static_cast<const ColliderCapsule*>(collider);
    const Base::Vec3 axis = entity->orientation * Base::Vec3(0.0f, capsule->GetHalfHeight(), 0.0f);
    *core = {entity->position - axis, entity->position + axis, capsule->GetRadius()};
    return true;
  }
  return false;
}

// Closest points of two segments (either may be a point).
void ClosestPoints(const RoundCore& a, const RoundCore& b, Base::Vec3* onA, Base::Vec3* onB) {
  const Base::Vec3 d1 = a.p1 - a.p0, d2 = b.p1 - b.p0, r = a.p0 - b.p0;
  const float aa = d1.Dot(d1), ee = d2.Dot(d2), f = d2.Dot(r);
  float s = 0.0f, t = 0.0f;
  if (aa <= 1e-12f && ee <= 1e-12f) {
  } else if (aa <= 1e-12f) {
    t = std::clamp(f / ee, 0.0f, 1.0f);
  } else {
    const float c = d1.Dot(r);
    if (ee <= 1e-12f) {
      s = std::clamp(-c / aa, 0.0f, 1.0f);
    } else {
      const float bb = d1.Dot(d2), denom = aa * ee - bb * bb;
      s = denom > 1e-12f ? std::clamp((bb * f - c * ee) / denom, 0.0f, 1.0f) : 0.0f;
      t = (bb * s + f) / ee;
      if (t < 0.0f) {
        t = 0.0f;
        s = std::clamp(-c / aa, 0.0f, 1.0f);
      } else if (t > 1.0f) {
        t = 1.0f;
        s = std::clamp((bb - c) / aa, 0.0f, 1.0f);
      }
    }
  }
  *onA = a.p0 + d1 * s;
  *onB = b.p0 + d2 * t;
}

}  // namespace

CollisionPair::CollisionPair(ColliderBase* a, ColliderBase* b) : colliderA_(a), colliderB_(b) {}

void CollisionPair::SetColliders(ColliderBase* a, ColliderBase* b) {
  colliderA_ = a;
  colliderB_ = b;
}

SupportPoint CollisionPair::MinkowskiSupport(Base::Vec3 direction) const {
  direction.Normalize();
  const Base::Vec3 onA = colliderA_->Support(direction);
  const Base::Vec3 onB = colliderB_->Support(-direction);
  return {onA - onB, onA, onB};
}

bool CollisionPair::Collide() {
  const ColliderKind a = colliderA_->GetKind(), b = colliderB_->GetKind();
  if (a == ColliderKind_Ground && b == ColliderKind_Capsule) {
    std::swap(colliderA_, colliderB_);
    return CapsuleGround();
  }
  if (a == ColliderKind_Capsule && b == ColliderKind_Ground) return CapsuleGround();
  return GJK();
}

bool CollisionPair::Intersects() {
  for (SupportPoint& s : simplex_) s = {};
  Base::Vec3 direction(1.0f, 0.0f, 0.0f);
  simplex_[0] = MinkowskiSupport(direction);
  simplexCount_ = 1;
  direction = -simplex_[0].point;
  for (int i = 0; i < kMaxGjkIterations; ++i) {
    direction.Normalize();
    const SupportPoint p = MinkowskiSupport(direction);
    if (p.point.Dot(direction) < 0.0f) return false;
    for (int k = std::min(simplexCount_, 3); k > 0; --k) simplex_[k] = simplex_[k - 1];
    simplex_[0] = p;
    simplexCount_ = std::min(simplexCount_ + 1, 4);
    if (DoSimplex(direction)) return true;
  }
  return false;
}

bool CollisionPair::Triangle(Base::Vec3& d) {
  const SupportPoint a = simplex_[0], b = simplex_[1], c = simplex_[2];
  const Base::Vec3 ab = b.point - a.point, ac = c.point - a.point, ao = -a.point;
  const Base::Vec3 n = ab.Cross(ac);
  if (ab.Cross(n).Dot(ao) > 0.0f) {
    if (ab.Dot(ao) > 0.0f) {
      d = ab.Cross(ao.Cross(ab));
      simplexCount_ = 2;
    } else {
      d = ao;
      simplexCount_ = 1;
    }
    return false;
  }
  if (n.Cross(ac).Dot(ao) > 0.0f) {
    if (ac.Dot(ao) > 0.0f) {
      d = ac.Cross(ao.Cross(ac));
      simplex_[1] = c;
      simplexCount_ = 2;
    } else {
      d = ao;
      simplexCount_ = 1;
    }
    return false;
  }
  // The winding is kept so that the next tetrahedron's side faces point outwards.
  if (n.Dot(ao) >= 0.0f) {
    d = n;
    simplex_[0] = b;
    simplex_[1] = a;
  } else {
    d = -n;
  }
  simplexCount_ = 3;
  return false;
}

bool CollisionPair::DoSimplex(Base::Vec3& d) {
  const Base::Vec3 a = simplex_[0].point, ao = -a;
  switch (simplexCount_) {
    case 2: {
      const Base::Vec3 ab = simplex_[1].point - a;
      if (ab.Dot(ao) > 0.0f) {
        d = ab.Cross(ao).Cross(ab);
        if (d.LengthSquared() == 0.0f) d.y += 1e-6f;
      } else {
        simplexCount_ = 1;
        d = ao;
      }
      return false;
    }
    case 3:
      return Triangle(d);
    case 4: {
      const SupportPoint sa = simplex_[0], sb = simplex_[1], sc = simplex_[2], sd = simplex_[3];
      const Base::Vec3 ab = sb.point - a, ac = sc.point - a, ad = sd.point - a;
      if (ac.Cross(ab).Dot(ao) > 0.0f) {
        simplex_[0] = sa, simplex_[1] = sc, simplex_[2] = sb;
      } else if (ad.Cross(ac).Dot(ao) > 0.0f) {
        simplex_[0] = sa, simplex_[1] = sd, simplex_[2] = sc;
      } else if (ab.Cross(ad).Dot(ao) > 0.0f) {
        simplex_[0] = sa, simplex_[1] = sb, simplex_[2] = sd;
      } else {
        return true;
      }
      simplexCount_ = 3;
      return Triangle(d);
    }
    default:
      d = ao;
      return false;
  }
}

void CollisionPair::OnContact() {
  for (RigidBody* body : {BodyOf(colliderA_), BodyOf(colliderB_)}) {
    if (!body) continue;
    if (body->asleep) {
      if (body->wakeCounter == 3) {
        body->asleep = false;
        body->sleepCounter = 0;
      } else {
        ++body->wakeCounter;
      }
    }
    body->touching = true;
  }
}

void CollisionPair::RecordEvent() {
  PhysicsSpace* space = colliderA_->GetEntity()->space;
  float impulse = 0.0f;
  if (colliderA_->FindPair(colliderB_, colliderA_->PreviousSet(), &impulse)) {
    warmStartImpulse_ = impulse;
    colliderA_->RemovePair(colliderB_, colliderA_->PreviousSet());
    colliderB_->RemovePair(colliderA_, colliderB_->PreviousSet());
    space->AppendPairEvent(*this, PhysicsSpace::EventList_Persist);
  } else {
    space->AppendPairEvent(*this, PhysicsSpace::EventList_Start);
  }
}

void CollisionPair::RecordSupport() {
  const float down = normal_.Dot(kDown);
  if (down < 0.0f) {
    if (RigidBody* b = BodyOf(colliderB_)) {
      b->supportEntity = colliderA_->GetEntity();
      b->supportPosition = b->supportEntity->position;
    }
  } else if (down > 0.0f) {
    if (RigidBody* a = BodyOf(colliderA_)) {
      a->supportEntity = colliderB_->GetEntity();
      a->supportPosition = a->supportEntity->position;
    }
  }
}

bool CollisionPair::GJK() {
  if (!Intersects()) return false;
  OnContact();
  if (!colliderA_->GetGhost() && !colliderB_->GetGhost()) {
    if (!RoundContact()) {
      SetupPolytope();
      if (!EPA()) return false;
    }
  }
  RecordEvent();
  RecordSupport();
  return true;
}

void CollisionPair::SetContact(const Base::Vec3& normal, float depth, const Base::Vec3& onA, const Base::Vec3& onB) {
  normal_ = normal;
  depth_ = std::max(depth, 0.0f);
  contactA_ = onA;
  contactB_ = onB;
  manifoldA_.normal = normal_;
  manifoldA_.contactPoint = contactA_;
  manifoldB_.normal = -normal_;
  manifoldB_.contactPoint = contactB_;
}

bool CollisionPair::RoundContact() {
  RoundCore a, b;
  const bool roundA = GetRoundCore(colliderA_, &a), roundB = GetRoundCore(colliderB_, &b);
  if (roundA && roundB) {
    Base::Vec3 onA, onB;
    ClosestPoints(a, b, &onA, &onB);
    const Base::Vec3 between = onB - onA;
    const float distance = between.Length();
    if (distance < 1e-5f) return false;  // cores cross: only the polytope search can tell the way out
    const Base::Vec3 n = between / distance;
    SetContact(n, a.radius + b.radius - distance, onA + n * a.radius, onB - n * b.radius);
    return true;
  }
  // A sphere against a box whose inside does not hold the sphere's centre.
  const bool sphereA = roundA && colliderA_->GetKind() == ColliderKind_Sphere;
  const bool sphereB = roundB && colliderB_->GetKind() == ColliderKind_Sphere;
  const ColliderBase* box = sphereA ? colliderB_ : sphereB ? colliderA_ : nullptr;
  if (!box || (box->GetKind() != ColliderKind_Cube && box->GetKind() != ColliderKind_Ground)) return false;
  const RoundCore& sphere = sphereA ? a : b;
  const Entity* boxEntity = box->GetEntity();
  const Base::Vec3& h = static_cast<const ColliderBoxLike*>(box)->GetHalfExtents();
  const Base::Vec3 local = boxEntity->orientation.Transposed() * (sphere.p0 - boxEntity->position);
  const Base::Vec3 clamped(std::clamp(local.x, -h.x, h.x), std::clamp(local.y, -h.y, h.y), std::clamp(local.z, -h.z, h.z));
  if (clamped == local) return false;
  const Base::Vec3 onBox = boxEntity->orientation * clamped + boxEntity->position;
  const Base::Vec3 out = sphere.p0 - onBox;
  const float distance = out.Length();
  if (distance < 1e-5f) return false;
  const Base::Vec3 outward = out / distance;
  const Base::Vec3 onSphere = sphere.p0 - outward * sphere.radius;
  if (sphereB)
    SetContact(outward, sphere.radius - distance, onBox, onSphere);
  else
    SetContact(-outward, sphere.radius - distance, onSphere, onBox);
  return true;
}

bool CollisionPair::CapsuleGround() {
  const RigidBody* body = BodyOf(colliderA_);
  if (!body || !body->rotationLocked) return GJK();
  // A locked capsule stands upright: its lowest point against the ground's top is the whole test.
  const Base::Vec3 lowest = colliderA_->Support(kDown);
  const float groundTop = colliderB_->Support(-kDown).y;
  SetContact(kDown, groundTop - lowest.y, lowest, lowest);
  RecordEvent();
  return true;
}

void CollisionPair::SetupPolytope() {
  vertexCount_ = faceCount_ = edgeCount_ = 0;
  for (int i = 0; i < 4; ++i) vertices_[vertexCount_++] = simplex_[i];
  static constexpr uint32_t kFaces[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 2, 3}};
  for (const auto& f : kFaces) {
    Face& face = faces_[faceCount_++];
    face = Face();
    face.a = f[0], face.b = f[1], face.c = f[2];
  }
}

void CollisionPair::ComputeFace(Face& face) const {
  const Base::Vec3& a = vertices_[face.a].point;
  Base::Vec3 normal = (vertices_[face.b].point - a).Cross(vertices_[face.c].point - a);
  face.computed = true;
  if (normal.LengthSquared() <= FLT_MIN) {
    // A sliver tells nothing about the direction of the contact; it is never the closest face.
    face.normal = {};
    face.distance = FLT_MAX;
    return;
  }
  normal.Normalize();
  float distance = normal.Dot(a);
  for (uint32_t i = 0; i < vertexCount_; ++i) {
    if (i == face.a || i == face.b || i == face.c) continue;
    if (normal.Dot(vertices_[i].point) - distance > kFaceFrontTolerance) {
      normal = -normal;
      distance = -distance;
      break;
    }
  }
  face.normal = normal;
  face.distance = distance;
}

bool CollisionPair::EPA() {
  uint32_t closest = 0;
  for (int supports = 1;; ++supports) {
    if (faceCount_ == 0) return false;
    closest = 0;
    for (uint32_t i = 0; i < faceCount_; ++i) {
      if (!faces_[i].computed) ComputeFace(faces_[i]);
      if (faces_[i].distance < faces_[closest].distance) closest = i;
    }
    const Face face = faces_[closest];
    if (face.distance == FLT_MAX) return false;
    const SupportPoint p = MinkowskiSupport(face.normal);
    if (p.point.Dot(face.normal) - face.distance < kEpaTolerance) break;
    // Out of expansions or of vertex room: the closest face so far is the answer.
    if (supports > kMaxExpansions || vertexCount_ == kMaxVertices) break;

    const uint32_t newest = vertexCount_;
    vertices_[vertexCount_++] = p;
    edgeCount_ = 0;
    for (uint32_t i = 0; i < faceCount_;) {
      const Face& f = faces_[i];
      if (f.distance != FLT_MAX && f.normal.Dot(p.point) - f.distance <= 0.0f) {
        ++i;
        continue;
      }
      const uint32_t pairs[3][2] = {{f.a, f.b}, {f.b, f.c}, {f.c, f.a}};
      for (const auto& e : pairs) {
        bool found = false;
        for (uint32_t k = 0; k < edgeCount_; ++k) {
          Edge& stored = edges_[k];
          if ((stored.a == e[0] && stored.b == e[1]) || (stored.a == e[1] && stored.b == e[0])) {
            ++stored.uses;
            found = true;
            break;
          }
        }
        if (!found && edgeCount_ < kMaxEdges) edges_[edgeCount_++] = {1, e[0], e[1]};
      }
      faces_[i] = faces_[--faceCount_];
    }
    for (uint32_t k = 0; k < edgeCount_ && faceCount_ < kMaxFaces; ++k) {
      if (edges_[k].uses != 1) continue;
      Face& f = faces_[faceCount_++];
      f = Face();
      f.a = edges_[k].a, f.b = edges_[k].b, f.c = newest;
    }
    edgeCount_ = 0;
  }

  const Face& face = faces_[closest];

  // Barycentric coordinates of the origin's projection on the face, in its Minkowski points.
  const SupportPoint& a = vertices_[face.a];
  const SupportPoint& b = vertices_[face.b];
  const SupportPoint& c = vertices_[face.c];
  const Base::Vec3 q = face.normal * face.distance;
  const Base::Vec3 v0 = b.point - a.point, v1 = c.point - a.point, v2 = q - a.point;
  const float d00 = v0.Dot(v0), d01 = v0.Dot(v1), d11 = v1.Dot(v1), d20 = v2.Dot(v0), d21 = v2.Dot(v1);
  const float det = d00 * d11 - d01 * d01;
  float u, v, w;
  if (det <= 1e-7f * d00 * d11 || det == 0.0f) {
    // Too thin to weigh: the vertex nearest the projection stands for the contact.
    const float da = (a.point - q).LengthSquared(), db = (b.point - q).LengthSquared(),
                dc = (c.point - q).LengthSquared();
    u = v = w = 0.0f;
    (da <= db && da <= dc ? u : db <= dc ? v : w) = 1.0f;
  } else {
    v = (d11 * d20 - d01 * d21) / det;
    w = (d00 * d21 - d01 * d20) / det;
    u = 1.0f - v - w;
  }
  SetContact(face.normal, face.distance, a.onA * u + b.onA * v + c.onA * w, a.onB * u + b.onB * v + c.onB * w);
  return true;
}

void CollisionPair::Solve(float dt) {
  RigidBody* bodyA = MovableBodyOf(colliderA_);
  RigidBody* bodyB = MovableBodyOf(colliderB_);
  const Base::Mat3 zero = [] {
    Base::Mat3 m;
    for (float& x : m.m) x = 0.0f;
    return m;
  }();
  const Base::Vec3 vA = bodyA ? bodyA->velocity : Base::Vec3(), wA = bodyA ? bodyA->angularVelocity : Base::Vec3();
  const Base::Vec3 vB = bodyB ? bodyB->velocity : Base::Vec3(), wB = bodyB ? bodyB->angularVelocity : Base::Vec3();
  const float imA = bodyA ? bodyA->inverseMass : 0.0f, imB = bodyB ? bodyB->inverseMass : 0.0f;
  const Base::Mat3& iiA = bodyA ? bodyA->inverseInertia : zero;
  const Base::Mat3& iiB = bodyB ? bodyB->inverseInertia : zero;

  const Base::Vec3 rA = contactA_ - colliderA_->GetEntity()->position;
  const Base::Vec3 rB = contactB_ - colliderB_->GetEntity()->position;
  const Base::Vec12 jacobian(-normal_, -rA.Cross(normal_), normal_, rB.Cross(normal_));
  const Base::Vec12 velocities(vA, wA, vB, wB);
  Base::Vec12 mj;
  mj.SetMassDiagonal(imA, iiA, imB, iiB);
  mj *= jacobian;
  const float k = jacobian.Dot(mj);
  if (!(k > 0.0f)) return;

  float bias = (-0.3f / dt) * std::max(depth_ - 0.15f, 0.0f);
  const Base::Vec3 u = (vB + wB.Cross(rB)) - (vA + wA.Cross(rA));
  const float un = u.Dot(normal_);
  bias += (un - 0.7f) * 0.1f;

  const float lambda = (warmStartImpulse_ != 0.0f && firstPass_) ? warmStartImpulse_
                                                                 : -(jacobian.Dot(velocities) + bias) / k;
  const float old = accumulatedImpulse_;
  accumulatedImpulse_ = old + lambda;
  if (accumulatedImpulse_ <= 0.0f) accumulatedImpulse_ = 0.0f;
  const float delta = accumulatedImpulse_ - old;

  // Friction along world x and z, applied as a velocity; it is capped at the change that brings the
  // tangential speed at the contact to rest, so that light bodies do not overshoot from pass to pass.
  const auto friction = [&](float speed, const Base::Vec3& t) {
    float f = speed;
    if (delta * delta * friction_ * friction_ < speed * speed) f = delta * speed > 0.0f ? friction_ * delta : -friction_ * delta;
    float response = 0.0f;
    if (bodyA) response += imA + (iiA * rA.Cross(t)).Cross(rA).Dot(t);
    if (bodyB) response += imB + (iiB * rB.Cross(t)).Cross(rB).Dot(t);
    if (response * std::fabs(f) > std::fabs(speed)) f = speed / response;
    return f;
  };
  const Base::Vec3 fx(friction(u.x, Base::Vec3(1.0f, 0.0f, 0.0f)), 0.0f, 0.0f);
  const Base::Vec3 fz(0.0f, 0.0f, friction(u.z, Base::Vec3(0.0f, 0.0f, 1.0f)));
  firstPass_ = false;

  const Base::Vec12 p = mj * delta;
  const Base::Vec3 dvA(p.v[0], p.v[1], p.v[2]), dwA(p.v[3], p.v[4], p.v[5]);
  const Base::Vec3 dvB(p.v[6], p.v[7], p.v[8]), dwB(p.v[9], p.v[10], p.v[11]);
  if (bodyA) {
    bodyA->velocity += dvA;
    bodyA->angularVelocity += dwA;
    bodyA->velocity += bodyA->inverseMassMatrix * fx + bodyA->inverseMassMatrix * fz;
    bodyA->angularVelocity += iiA * rA.Cross(fx) + iiA * rA.Cross(fz);
    bodyA->velocity.x *= 0.999f;
    bodyA->velocity.z *= 0.999f;
  }
  if (bodyB) {
    bodyB->velocity += dvB;
    bodyB->angularVelocity += dwB;
    bodyB->velocity -= bodyB->inverseMassMatrix * fx + bodyB->inverseMassMatrix * fz;
    bodyB->angularVelocity -= iiB * rB.Cross(fx) + iiB * rB.Cross(fz);
    bodyB->velocity.x *= 0.999f;
    bodyB->velocity.z *= 0.999f;
  }
  if (bodyA || bodyB) {
    manifoldA_.appliedVelocity += dvA;
    manifoldA_.relativeVelocity = u;
  }
  if (bodyB) {
    manifoldB_.appliedVelocity += dvB;
    manifoldB_.relativeVelocity = -u;
  }
}

}  // namespace ZarnPhys
