// Gathering, passes and hand-back of the contact rows of the "Resolution" stage.
#include "ZarnPhys/ContactSolver.h"

#include <algorithm>
#include <cmath>

#include "ZarnPhys/Collider.h"
#include "ZarnPhys/CollisionPair.h"
#include "ZarnPhys/RigidBody.h"

namespace ZarnPhys {

namespace {

// The body the solver may move: present and not immovable.
RigidBody* MovableBodyOf(const ColliderBase* collider) {
  const Entity* entity = collider->GetEntity();
  RigidBody* body = entity ? entity->rigidBody : nullptr;
  return body && !body->IsImmovable() ? body : nullptr;
}

Base::Mat3 ZeroMatrix() {
  Base::Mat3 m;
  for (float& x : m.m) x = 0.0f;
  return m;
}

}  // namespace

void ContactSolver::Add(CollisionPair& pair, float dt) {
  Row row;
  row.pair = &pair;
  row.bodyA = MovableBodyOf(pair.m_colliderA);
  row.bodyB = MovableBodyOf(pair.m_colliderB);
  RigidBody* const bodyA = row.bodyA;
  RigidBody* const bodyB = row.bodyB;
  static const Base::Mat3 kZero = ZeroMatrix();
  const float imA = bodyA ? bodyA->inverseMass : 0.0f, imB = bodyB ? bodyB->inverseMass : 0.0f;
  const Base::Mat3& iiA = bodyA ? bodyA->inverseInertia : kZero;
  const Base::Mat3& iiB = bodyB ? bodyB->inverseInertia : kZero;

  // Positions, contacts and mass properties stay put through the passes: only velocities change.
  const Base::Vec3& n = pair.m_normal;
  row.normal = n;
  row.rA = pair.m_contactA - pair.m_colliderA->GetEntity()->position;
  row.rB = pair.m_contactB - pair.m_colliderB->GetEntity()->position;
  const Base::Vec3& rA = row.rA;
  const Base::Vec3& rB = row.rB;
  row.jacobian = Base::Vec12(-n, -rA.Cross(n), n, rB.Cross(n));
  row.massJacobian.SetMassDiagonal(imA, iiA, imB, iiB);
  row.massJacobian *= row.jacobian;
  row.k = row.jacobian.Dot(row.massJacobian);
  if (!(row.k > 0.0f)) return;

  row.positionBias = (-0.3f / dt) * std::max(pair.m_depth - 0.15f, 0.0f);
  const auto response = [&](const Base::Vec3& t) {
    float r = 0.0f;
    if (bodyA) r += imA + (iiA * rA.Cross(t)).Cross(rA).Dot(t);
    if (bodyB) r += imB + (iiB * rB.Cross(t)).Cross(rB).Dot(t);
    return r;
  };
  row.responseX = response(Base::Vec3(1.0f, 0.0f, 0.0f));
  row.responseZ = response(Base::Vec3(0.0f, 0.0f, 1.0f));
  row.friction = pair.m_friction;
  row.accumulated = pair.m_accumulatedImpulse;
  row.warmStart = pair.m_warmStartImpulse;
  row.firstPass = pair.m_firstPass;
  row.appliedA = pair.m_manifoldA.appliedVelocity;
  row.appliedB = pair.m_manifoldB.appliedVelocity;
  row.relative = pair.m_manifoldA.relativeVelocity;
  m_rows.push_back(row);
}

void ContactSolver::Pass() {
  for (Row& row : m_rows) {
    RigidBody* const bodyA = row.bodyA;
    RigidBody* const bodyB = row.bodyB;
    const Base::Vec3 vA = bodyA ? bodyA->velocity : Base::Vec3(), wA = bodyA ? bodyA->angularVelocity : Base::Vec3();
    const Base::Vec3 vB = bodyB ? bodyB->velocity : Base::Vec3(), wB = bodyB ? bodyB->angularVelocity : Base::Vec3();
    const Base::Vec3& rA = row.rA;
    const Base::Vec3& rB = row.rB;

    const Base::Vec3 u = (vB + wB.Cross(rB)) - (vA + wA.Cross(rA));
    const float bias = row.positionBias + (u.Dot(row.normal) - 0.7f) * 0.1f;
    float lambda;
    if (row.warmStart != 0.0f && row.firstPass) {
      lambda = row.warmStart;
    } else {
      const Base::Vec12 velocities(vA, wA, vB, wB);
      lambda = -(row.jacobian.Dot(velocities) + bias) / row.k;
    }
    const float old = row.accumulated;
    row.accumulated = old + lambda;
    if (row.accumulated <= 0.0f) row.accumulated = 0.0f;
    const float delta = row.accumulated - old;

    // Friction along world x and z, applied as a velocity; it is capped at the change that brings the
    // tangential speed at the contact to rest, so that light bodies do not overshoot from pass to pass.
    const float mu = row.friction;
    const auto friction = [delta, mu](float speed, float response) {
      float f = speed;
      if (delta * delta * mu * mu < speed * speed) f = delta * speed > 0.0f ? mu * delta : -mu * delta;
      if (response * std::fabs(f) > std::fabs(speed)) f = speed / response;
      return f;
    };
    const Base::Vec3 fx(friction(u.x, row.responseX), 0.0f, 0.0f);
    const Base::Vec3 fz(0.0f, 0.0f, friction(u.z, row.responseZ));
    row.firstPass = false;

    const Base::Vec12 p = row.massJacobian * delta;
    const Base::Vec3 dvA(p.v[0], p.v[1], p.v[2]), dwA(p.v[3], p.v[4], p.v[5]);
    const Base::Vec3 dvB(p.v[6], p.v[7], p.v[8]), dwB(p.v[9], p.v[10], p.v[11]);
    if (bodyA) {
      const Base::Mat3& ii = bodyA->inverseInertia;
      bodyA->velocity += dvA;
      bodyA->angularVelocity += dwA;
      bodyA->velocity += bodyA->inverseMassMatrix * fx + bodyA->inverseMassMatrix * fz;
      bodyA->angularVelocity += ii * rA.Cross(fx) + ii * rA.Cross(fz);
      bodyA->velocity.x *= 0.999f;
      bodyA->velocity.z *= 0.999f;
    }
    if (bodyB) {
      const Base::Mat3& ii = bodyB->inverseInertia;
      bodyB->velocity += dvB;
      bodyB->angularVelocity += dwB;
      bodyB->velocity -= bodyB->inverseMassMatrix * fx + bodyB->inverseMassMatrix * fz;
      bodyB->angularVelocity -= ii * rB.Cross(fx) + ii * rB.Cross(fz);
      bodyB->velocity.x *= 0.999f;
      bodyB->velocity.z *= 0.999f;
    }
    // A row always has a movable side, so manifold A always takes the change.
    row.appliedA += dvA;
    row.relative = u;
    if (bodyB) row.appliedB += dvB;
  }
}

void ContactSolver::Finish() {
  for (const Row& row : m_rows) {
    CollisionPair& pair = *row.pair;
    pair.m_accumulatedImpulse = row.accumulated;
    pair.m_firstPass = row.firstPass;
    pair.m_manifoldA.appliedVelocity = row.appliedA;
    pair.m_manifoldA.relativeVelocity = row.relative;
    if (row.bodyB) {
      pair.m_manifoldB.appliedVelocity = row.appliedB;
      pair.m_manifoldB.relativeVelocity = -row.relative;
    }
  }
  m_rows.clear();
}

}  // namespace ZarnPhys
