// The collider base component (being filled in).
#include "Physics/Collider.h"

namespace Physics {

void ColliderBase::Initialize() {}
void ColliderBase::Uninitialize() {}
ZarnPhys::ColliderDescription ColliderBase::BuildDescription() {
  ZarnPhys::ColliderDescription description;
  description.kind = ZarnPhys::ColliderKind_None;
  return description;
}
ZarnPhys::ColliderBase* ColliderBase::GetLibraryCollider() const { return m_entity ? m_entity->collider : nullptr; }
Base::Vec3 ColliderBase::GetWorldOffset() const { return {}; }

}  // namespace Physics
