// Which collider of an object speaks for it to the physics world.
#include "Core/GameObject.h"
#include "Physics/Collider.h"

namespace Physics {

ColliderBase* FindCollider(Core::GameObject* object) {
  if (!object) return nullptr;
  // The polytope is tried last but tried: without it an object with only a polytope and a rigid body
  // would get two physics entities, and its offset would be missed on the write-back.
  static constexpr uint32_t kOrder[] = {Core::ComponentType_ColliderCapsule, Core::ComponentType_ColliderSphere,
                                        Core::ComponentType_ColliderCube,    Core::ComponentType_ColliderSlant,
                                        Core::ComponentType_ColliderGround,  Core::ComponentType_ColliderPolytope};
  for (const uint32_t type : kOrder)
    if (Core::GameComponent* component = object->GetComponent(int(type))) return static_cast<ColliderBase*>(component);
  return nullptr;
}

}  // namespace Physics
