// GJK overlap test and EPA depth search of one pair of colliders.
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

CollisionPair::CollisionPair(ColliderBase* a, ColliderBase* b) : m_colliderA(a), m_colliderB(b) {}

void CollisionPair::SetColliders(ColliderBase* a, ColliderBase* b) {
  m_colliderA = a;
  m_colliderB = b;
}

SupportPoint CollisionPair::MinkowskiSupport(Base::Vec3 direction) const {
  direction.Normalize();
  const Base::Vec3 onA = m_colliderA->Support(direction);
  const Base::Vec3 onB = m_colliderB->Support(-direction);
  return {onA - onB, onA, onB};
}

bool CollisionPair::Collide() {
  GjkEpaScratch scratch;
  return Collide(scratch);
}

bool CollisionPair::Collide(GjkEpaScratch& s) {
  const ColliderKind a = m_colliderA->GetKind(), b = m_colliderB->GetKind();
  if (a == ColliderKind_Ground && b == ColliderKind_Capsule) {
    std::swap(m_colliderA, m_colliderB);
    return CapsuleGround(s);
  }
  if (a == ColliderKind_Capsule && b == ColliderKind_Ground) return CapsuleGround(s);
  return GJK(s);
}

bool CollisionPair::Intersects(GjkEpaScratch& s) {
  for (SupportPoint& point : s.simplex) point = {};
  Base::Vec3 direction(1.0f, 0.0f, 0.0f);
  s.simplex[0] = MinkowskiSupport(direction);
  s.simplexCount = 1;
  direction = -s.simplex[0].point;
  for (int i = 0; i < kMaxGjkIterations; ++i) {
    direction.Normalize();
    const SupportPoint p = MinkowskiSupport(direction);
    if (p.point.Dot(direction) < 0.0f) return false;
    for (int k = std::min(s.simplexCount, 3); k > 0; --k) s.simplex[k] = s.simplex[k - 1];
    s.simplex[0] = p;
    s.simplexCount = std::min(s.simplexCount + 1, 4);
    if (DoSimplex(s, direction)) return true;
  }
  return false;
}

bool CollisionPair::Triangle(GjkEpaScratch& s, Base::Vec3& d) {
  const SupportPoint a = s.simplex[0], b = s.simplex[1], c = s.simplex[2];
  const Base::Vec3 ab = b.point - a.point, ac = c.point - a.point, ao = -a.point;
  const Base::Vec3 n = ab.Cross(ac);
  if (ab.Cross(n).Dot(ao) > 0.0f) {
    if (ab.Dot(ao) > 0.0f) {
      d = ab.Cross(ao.Cross(ab));
      s.simplexCount = 2;
    } else {
      d = ao;
      s.simplexCount = 1;
    }
    return false;
  }
  if (n.Cross(ac).Dot(ao) > 0.0f) {
    if (ac.Dot(ao) > 0.0f) {
      d = ac.Cross(ao.Cross(ac));
      s.simplex[1] = c;
      s.simplexCount = 2;
    } else {
      d = ao;
      s.simplexCount = 1;
    }
    return false;
  }
  // The winding is kept so that the next tetrahedron's side faces point outwards.
  if (n.Dot(ao) >= 0.0f) {
    d = n;
    s.simplex[0] = b;
    s.simplex[1] = a;
  } else {
    d = -n;
  }
  s.simplexCount = 3;
  return false;
}

bool CollisionPair::DoSimplex(GjkEpaScratch& s, Base::Vec3& d) {
  const Base::Vec3 a = s.simplex[0].point, ao = -a;
  switch (s.simplexCount) {
    case 2: {
      const Base::Vec3 ab = s.simplex[1].point - a;
      if (ab.Dot(ao) > 0.0f) {
        d = ab.Cross(ao).Cross(ab);
        if (d.LengthSquared() == 0.0f) d.y += 1e-6f;
      } else {
        s.simplexCount = 1;
        d = ao;
      }
      return false;
    }
    case 3:
      return Triangle(s, d);
    case 4: {
      const SupportPoint sa = s.simplex[0], sb = s.simplex[1], sc = s.simplex[2], sd = s.simplex[3];
      const Base::Vec3 ab = sb.point - a, ac = sc.point - a, ad = sd.point - a;
      if (ac.Cross(ab).Dot(ao) > 0.0f) {
        s.simplex[0] = sa, s.simplex[1] = sc, s.simplex[2] = sb;
      } else if (ad.Cross(ac).Dot(ao) > 0.0f) {
        s.simplex[0] = sa, s.simplex[1] = sd, s.simplex[2] = sc;
      } else if (ab.Cross(ad).Dot(ao) > 0.0f) {
        s.simplex[0] = sa, s.simplex[1] = sb, s.simplex[2] = sd;
      } else {
        return true;
      }
      s.simplexCount = 3;
      return Triangle(s, d);
    }
    default:
      d = ao;
      return false;
  }
}

void CollisionPair::OnContact() {
  for (RigidBody* body : {BodyOf(m_colliderA), BodyOf(m_colliderB)}) {
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
  PhysicsSpace* space = m_colliderA->GetEntity()->space;
  float impulse = 0.0f;
  if (m_colliderA->FindPair(m_colliderB, m_colliderA->PreviousSet(), &impulse)) {
    m_warmStartImpulse = impulse;
    m_colliderA->RemovePair(m_colliderB, m_colliderA->PreviousSet());
    m_colliderB->RemovePair(m_colliderA, m_colliderB->PreviousSet());
    space->AppendPairEvent(*this, PhysicsSpace::EventList_Persist);
  } else {
    space->AppendPairEvent(*this, PhysicsSpace::EventList_Start);
  }
}

void CollisionPair::RecordSupport() {
  const float down = m_normal.Dot(kDown);
  if (down < 0.0f) {
    if (RigidBody* b = BodyOf(m_colliderB)) {
      b->supportEntity = m_colliderA->GetEntity();
      b->supportPosition = b->supportEntity->position;
    }
  } else if (down > 0.0f) {
    if (RigidBody* a = BodyOf(m_colliderA)) {
      a->supportEntity = m_colliderB->GetEntity();
      a->supportPosition = a->supportEntity->position;
    }
  }
}

bool CollisionPair::GJK(GjkEpaScratch& s) {
  if (!Intersects(s)) return false;
  OnContact();
  if (!m_colliderA->GetGhost() && !m_colliderB->GetGhost()) {
    if (!RoundContact()) {
      SetupPolytope(s);
      if (!EPA(s)) return false;
    }
  }
  RecordEvent();
  RecordSupport();
  return true;
}

void CollisionPair::SetContact(const Base::Vec3& normal, float depth, const Base::Vec3& onA, const Base::Vec3& onB) {
  m_normal = normal;
  m_depth = std::max(depth, 0.0f);
  m_contactA = onA;
  m_contactB = onB;
  m_manifoldA.normal = m_normal;
  m_manifoldA.contactPoint = m_contactA;
  m_manifoldB.normal = -m_normal;
  m_manifoldB.contactPoint = m_contactB;
}

bool CollisionPair::RoundContact() {
  RoundCore a, b;
  const bool roundA = GetRoundCore(m_colliderA, &a), roundB = GetRoundCore(m_colliderB, &b);
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
  const bool sphereA = roundA && m_colliderA->GetKind() == ColliderKind_Sphere;
  const bool sphereB = roundB && m_colliderB->GetKind() == ColliderKind_Sphere;
  const ColliderBase* box = sphereA ? m_colliderB : sphereB ? m_colliderA : nullptr;
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

bool CollisionPair::CapsuleGround(GjkEpaScratch& s) {
  const RigidBody* body = BodyOf(m_colliderA);
  if (!body || !body->rotationLocked) return GJK(s);
  // A locked capsule stands upright: its lowest point against the ground's top is the whole test.
  const Base::Vec3 lowest = m_colliderA->Support(kDown);
  const float groundTop = m_colliderB->Support(-kDown).y;
  SetContact(kDown, groundTop - lowest.y, lowest, lowest);
  RecordEvent();
  return true;
}

void CollisionPair::SetupPolytope(GjkEpaScratch& s) {
  s.vertexCount = s.faceCount = s.edgeCount = 0;
  for (int i = 0; i < 4; ++i) s.vertices[s.vertexCount++] = s.simplex[i];
  static constexpr uint32_t kFaces[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 2, 3}};
  for (const auto& f : kFaces) {
    Face& face = s.faces[s.faceCount++];
    face = Face();
    face.a = f[0], face.b = f[1], face.c = f[2];
  }
}

void CollisionPair::ComputeFace(const GjkEpaScratch& s, Face& face) const {
  const Base::Vec3& a = s.vertices[face.a].point;
  Base::Vec3 normal = (s.vertices[face.b].point - a).Cross(s.vertices[face.c].point - a);
  face.computed = true;
  if (normal.LengthSquared() <= FLT_MIN) {
    // A sliver tells nothing about the direction of the contact; it is never the closest face.
    face.normal = {};
    face.distance = FLT_MAX;
    return;
  }
  normal.Normalize();
  float distance = normal.Dot(a);
  bool sided = false;
  for (uint32_t i = 0; i < s.vertexCount; ++i) {
    if (i == face.a || i == face.b || i == face.c) continue;
    const float height = normal.Dot(s.vertices[i].point) - distance;
    if (height > kFaceFrontTolerance) {
      normal = -normal;
      distance = -distance;
      sided = true;
      break;
    }
    if (height < -kFaceFrontTolerance) sided = true;
  }
  if (!sided) {
    // Every other vertex lies in the face's plane: the simplex of two touching faces is flat, with the
    // origin on the shapes' boundary. When the shapes end at the plane on one side, that side is the
    // outside; the winding alone would point half such faces inwards and end the search on a far side
    // face. A flat simplex deeper inside keeps the winding.
    const float beyond = MinkowskiSupport(normal).point.Dot(normal) - distance;
    const float behind = MinkowskiSupport(-normal).point.Dot(-normal) + distance;
    if (behind < beyond && behind < kEpaTolerance) {
      normal = -normal;
      distance = -distance;
    }
  }
  face.normal = normal;
  face.distance = distance;
}

bool CollisionPair::EPA(GjkEpaScratch& s) {
  uint32_t closest = 0;
  for (int supports = 1;; ++supports) {
    if (s.faceCount == 0) return false;
    closest = 0;
    for (uint32_t i = 0; i < s.faceCount; ++i) {
      if (!s.faces[i].computed) ComputeFace(s, s.faces[i]);
      if (s.faces[i].distance < s.faces[closest].distance) closest = i;
    }
    const Face face = s.faces[closest];
    if (face.distance == FLT_MAX) return false;
    const SupportPoint p = MinkowskiSupport(face.normal);
    if (p.point.Dot(face.normal) - face.distance < kEpaTolerance) break;
    // Out of expansions or of vertex room: the closest face so far is the answer.
    if (supports > kMaxExpansions || s.vertexCount == GjkEpaScratch::kMaxVertices) break;

    const uint32_t newest = s.vertexCount;
    s.vertices[s.vertexCount++] = p;
    s.edgeCount = 0;
    for (uint32_t i = 0; i < s.faceCount;) {
      const Face& f = s.faces[i];
      if (f.distance != FLT_MAX && f.normal.Dot(p.point) - f.distance <= 0.0f) {
        ++i;
        continue;
      }
      const uint32_t pairs[3][2] = {{f.a, f.b}, {f.b, f.c}, {f.c, f.a}};
      for (const auto& e : pairs) {
        bool found = false;
        for (uint32_t k = 0; k < s.edgeCount; ++k) {
          GjkEpaScratch::Edge& stored = s.edges[k];
          if ((stored.a == e[0] && stored.b == e[1]) || (stored.a == e[1] && stored.b == e[0])) {
            ++stored.uses;
            found = true;
            break;
          }
        }
        if (!found && s.edgeCount < GjkEpaScratch::kMaxEdges) s.edges[s.edgeCount++] = {1, e[0], e[1]};
      }
      s.faces[i] = s.faces[--s.faceCount];
    }
    for (uint32_t k = 0; k < s.edgeCount && s.faceCount < GjkEpaScratch::kMaxFaces; ++k) {
      if (s.edges[k].uses != 1) continue;
      Face& f = s.faces[s.faceCount++];
      f = Face();
      f.a = s.edges[k].a, f.b = s.edges[k].b, f.c = newest;
    }
    s.edgeCount = 0;
  }

  const Face& face = s.faces[closest];

  // Barycentric coordinates of the origin's projection on the face, in its Minkowski points.
  const SupportPoint& a = s.vertices[face.a];
  const SupportPoint& b = s.vertices[face.b];
  const SupportPoint& c = s.vertices[face.c];
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

}  // namespace ZarnPhys
