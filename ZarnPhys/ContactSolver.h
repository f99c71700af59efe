// The sequential-impulse passes of a step over compact contact rows: what a pass needs of each
// colliding pair is gathered once, so that the ten passes read one array instead of the pairs,
// their colliders, entities and bodies.
#pragma once

#include <vector>

#include "Base/Matrix.h"
#include "Base/Vector.h"

namespace ZarnPhys {

class CollisionPair;
class RigidBody;

class ContactSolver {
 public:
  // Gathers one pair; a pair whose effective mass is not positive leaves every body and the pair
  // untouched by all passes, so it takes no row.
  void Add(CollisionPair& pair, float dt);
  // One pass over the rows in the order they were added.
  void Pass();
  // Hands impulses, first-pass flags and manifold velocities back to the pairs; empties the rows.
  void Finish();

 private:
  struct Row {
    CollisionPair* pair;
    RigidBody* bodyA;  // null when the side is immovable
    RigidBody* bodyB;
    Base::Vec3 normal;
    Base::Vec3 rA;
    Base::Vec3 rB;
    Base::Vec12 jacobian;
    Base::Vec12 massJacobian;
    float k;
    float positionBias;
    float responseX;  // the friction responses along world x and z
    float responseZ;
    float friction;
    float accumulated;
    float warmStart;
    bool firstPass;
    Base::Vec3 appliedA;
    Base::Vec3 appliedB;
    Base::Vec3 relative;
  };

  std::vector<Row> m_rows;
};

}  // namespace ZarnPhys
