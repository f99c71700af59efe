// The physics system's hooks and frame step, timed in the profiler stage by stage, and the
// conversion of the library's poses back into the objects' Transforms.
#include "Physics/PhysicsSystem.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "Base/DebugTimer.h"
#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"
#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/GraphicsMaster.h"
#include "Physics/Collider.h"
#include "ZarnPhys/DebugDrawer.h"
#include "ZarnPhys/Log.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace Physics {

namespace {

// Owned worlds, one per game space that announced itself.
std::map<Core::GameSpace*, std::unique_ptr<ZarnPhys::PhysicsSpace>>& Spaces() {
  static std::map<Core::GameSpace*, std::unique_ptr<ZarnPhys::PhysicsSpace>> spaces;
  return spaces;
}

template <auto Method>
void Listen(Core::Engine& engine, PhysicsSystem* system, const char* hook, const char* name) {
  const Base::Function function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
  engine.GetHooks().AddSystemListener(hook, system, function);
}

constexpr float kInitialStep = 1.0f / 60.0f;
// The longest single step of a world, and the most pieces a frame is cut into (the engine's frame time
// is at most 0.1 s).
constexpr float kLongestStep = 0.02f;
constexpr int kMostPieces = 5;

// The sections the step may leave open, closed every frame whatever happened inside it.
constexpr const char* kSections[] = {"PrepForStep", "GetTransforms", "SetTransforms", "Convert Transforms",
                                     "Run Step",    "Broad Phase",   "Narrow Phase",  "Resolution",
                                     "Integration", "Callbacks",     "Physics"};

float TraceAngle(const Base::Mat3& m) {
  // Float error can push the cosine just past 1 for an unrotated body; acos of that is NaN.
  const float cosine = std::clamp((m[0] + m[4] + m[8] - 1.0f) * 0.5f, -1.0f, 1.0f);
  return std::acos(cosine);
}

// The library's debug drawing (tree boxes, contact points and normals) queued for the engine in the
// engine's frame: the library draws in its own mirrored one.
class QueueDrawer final : public ZarnPhys::DebugDrawer {
 public:
  void DrawLine(const Base::Vec3& from, const Base::Vec3& to, const Base::Vec3& colour) override {
    Graphics::DebugDraw::GetInstance().DrawLine(ToPhysicsFrame(from), ToPhysicsFrame(to), colour);
  }
  void DrawPoint(const Base::Vec3& position, const Base::Vec3& colour, bool solid) override {
    Graphics::DebugDraw::GetInstance().DrawPoint(ToPhysicsFrame(position), colour, solid);
  }
  // The library draws only axis-aligned boxes (identity rotation), which mirror onto themselves.
  void DrawCube(const Base::Vec3& position, const Base::Vec3& size, const Base::Mat4& rotation,
                const Base::Vec3& colour, bool solid) override {
    Graphics::DebugDraw::GetInstance().DrawCube(ToPhysicsFrame(position), size, rotation, colour, solid);
  }
};

QueueDrawer& Drawer() {
  static QueueDrawer drawer;
  return drawer;
}

// The collider a record names, when it is still one of the object's components: a collision listener
// may have removed it since the record was made.
const ColliderBase* LiveCollider(const Core::GameObject& object, const void* collider) {
  static_assert(Core::ComponentType_ColliderPolytope - Core::ComponentType_ColliderCube == 5, "six collider kinds");
  if (!collider) return nullptr;
  for (uint32_t type = Core::ComponentType_ColliderCube; type <= Core::ComponentType_ColliderPolytope; ++type) {
    Core::GameComponent* component = object.GetComponent(int(type));
    if (component && component == collider) return static_cast<const ColliderBase*>(component);
  }
  return nullptr;
}

}  // namespace

Base::Vec3 ToPhysicsFrame(Base::Vec3 v) { return {v.x, v.y, -v.z}; }

Base::Mat3 ToPhysicsFrame(const Base::Mat3& orientation) {
  Base::Mat3 m = orientation.Transposed();
  m.FlipHandedness();
  return m;
}

PhysicsSystem::PhysicsSystem() = default;

void PhysicsSystem::SwitchDebugDraw(bool on) {
  m_debugDraw = on;
  if (on) {
    ZarnPhys::SetDebugDrawer(&Drawer());
  } else if (ZarnPhys::GetDebugDrawer() == &Drawer()) {
    ZarnPhys::SetDebugDrawer(nullptr);
  }
}

PhysicsSystem::~PhysicsSystem() {
  if (m_debugDraw && ZarnPhys::GetDebugDrawer() == &Drawer()) ZarnPhys::SetDebugDrawer(nullptr);
  // The receivers are process-wide: a later world must not report into a system that is gone.
  if (m_callbacksRegistered) ZarnPhys::RegisterCallbacks(nullptr, nullptr, nullptr, nullptr);
}

ZarnPhys::PhysicsSpace* PhysicsSystem::FindSpace(Core::GameSpace* space) {
  const auto entry = Spaces().find(space);
  return entry == Spaces().end() ? nullptr : entry->second.get();
}

std::vector<ZarnPhys::EntityTransform>& PhysicsSystem::TransformList() {
  static std::vector<ZarnPhys::EntityTransform> records;
  return records;
}

uint32_t PhysicsSystem::GroupToMask(int32_t group) { return group == -1 ? 0xFFFFFFFFu : 1u << (group & 31); }

void PhysicsSystem::Initialize(Core::Engine* engine) {
  using Base::Reflection::TypeOf;
  using Base::Reflection::Variant;
  Core::Scripts().PublishLibrary("physics", Variant(TypeOf<PhysicsSystem*>(), this), "Physics systems api functions.");
  ZarnPhys::RegisterCallbacks(&OnCollision, &OnCollisionStart, &OnCollisionPersist, &OnCollisionEnd);
  m_callbacksRegistered = true;
  if (!engine) return;
  Listen<&PhysicsSystem::FrameStep>(*engine, this, "FrameStep", "PhysicsSystem::FrameStep");
  Listen<&PhysicsSystem::GameSpaceCreated>(*engine, this, "GameSpaceCreated", "PhysicsSystem::GameSpaceCreated");
  Listen<&PhysicsSystem::SwitchDebugDraw>(*engine, this, "SwitchDebugDraw", "PhysicsSystem::SwitchDebugDraw");
  Listen<&PhysicsSystem::GameSpaceDeleted>(*engine, this, "GameSpaceDeleted", "PhysicsSystem::GameSpaceDeleted");
  Listen<&PhysicsSystem::GameSpaceLoaded>(*engine, this, "GameSpaceLoaded", "PhysicsSystem::GameSpaceLoaded");
}

void PhysicsSystem::GameSpaceCreated(Core::GameSpace* space) {
  if (!space) return;
  auto& entry = Spaces()[space];
  if (entry) {
    // Replacing the world would strand every library object the components still point into.
    PHYS_LOG(Warning, "Game space \"%s\" already has a physics space; keeping it", space->GetName().c_str());
    return;
  }
  entry = std::make_unique<ZarnPhys::PhysicsSpace>();
  entry->Initialize(kInitialStep);
}

void PhysicsSystem::GameSpaceDeleted(Core::GameSpace* space) {
  PHYS_LOG(Verbose, "Cleaning up ZARN objects");
  if (space) {
    space->GetHooks().Call("DeleteZarnRigid");
    space->GetHooks().Call("DeleteZarnCollider");
  }
  PHYS_LOG(Verbose, "Deleting Physics Space");
  Spaces().erase(space);
}

void PhysicsSystem::GameSpaceLoaded(Core::GameSpace* space) {
  if (!space) return;
  std::vector<ZarnPhys::EntityTransform>& records = TransformList();
  records.clear();
  space->GetHooks().Call("UpdateScale");
  space->GetHooks().Call("PrepareForStep");
  ZarnPhys::PhysicsSpace* world = FindSpace(space);
  if (!world) return;
  world->SetTransforms(records.data(), int32_t(records.size()));
  world->GetTree().Reinsert();
}

void PhysicsSystem::FrameStep(float dt, Core::SpaceList* spaces) {
  Base::DebugTimer& timers = Base::DebugTimer::GetInstance();
  timers.StartTimer("Physics");
  std::vector<ZarnPhys::EntityTransform>& records = TransformList();
  // By index: a hook listener may create a space, which joins the list.
  for (size_t i = 0; spaces && i < spaces->size(); ++i) {
    Core::GameSpace* space = (*spaces)[i];
    if (!space || !space->IsLoaded() || !space->IsActive()) continue;
    space->GetHooks().Call("UpdateScale");
    if (m_debugDraw) space->GetHooks().Call("RenderShape");

    ZarnPhys::PhysicsSpace* world = FindSpace(space);
    if (!world) {
      // One space without a world must not hold back the others.
      PHYS_LOG(Verbose, "Null physics space pointer!");
      continue;
    }
    // A long frame is stepped in equal pieces of at most kLongestStep: the solver's position correction
    // and contact allowance are made for short steps, and one 0.1 s step sinks resting bodies into the
    // floor and topples stacks, which a slow machine would otherwise see every frame.
    const int pieces =
        dt > 0.0f ? std::max(1, int(std::ceil(std::min(dt, kLongestStep * kMostPieces) / kLongestStep - 1e-3f))) : 1;
    world->SetStepTime(dt / float(pieces));
    world->GetTree().DrawNodes();

    if (!space->Paused()) {
      records.clear();
      timers.StartTimer("PrepForStep");
      space->GetHooks().Call("PrepareForStep");
      timers.ChainTimer("GetTransforms", true);
      world->SetTransforms(records.data(), int32_t(records.size()));
      for (int piece = 0; piece < pieces; ++piece) {
        // Between pieces the records forget entities a piece released, before any can be reused.
        if (piece > 0) world->GetTransforms(records.data(), int32_t(records.size()));
        world->Step();
      }
      // Paused, not left running: the next space chains into it again.
      timers.PauseTimer("GetTransforms");
      timers.StartTimer("SetTransforms");
      world->GetTransforms(records.data(), int32_t(records.size()));
      timers.ChainTimer("Convert Transforms");
      WriteBack();
      timers.PauseTimer("Convert Transforms");
    }

    if (!m_canvasBound) {
      Graphics::DebugDraw::GetInstance().m_canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(0);
      m_canvasBound = true;
    }
    world->DrawContacts();
  }
  for (const char* section : kSections) timers.StopTimer(section);
}

void PhysicsSystem::WriteBack() {
  for (ZarnPhys::EntityTransform& record : TransformList()) {
    auto* object = static_cast<Core::GameObject*>(record.userData.object);
    Core::Transform* transform = object ? object->GetComponent<Core::Transform>() : nullptr;
    if (!transform) continue;

    // Back from the library's frame: transposed, handedness flipped.
    Base::Mat3 m = ToPhysicsFrame(record.orientation);
    const Base::Quaternion q0(m);
    const float angle = TraceAngle(m);
    Base::Quaternion rotation = q0;
    if (angle != 0.0f) {
      Base::Vec3 axis(m[7] - m[5], m[2] - m[6], m[3] - m[1]);
      const float lengthSquared = axis.x * axis.x + axis.y * axis.y + axis.z * axis.z;
      if (lengthSquared == 0.0f) {
        // No axis to turn about: keep the pose the object already has.
        rotation = transform->Rotation();
      } else {
        const float length = std::sqrt(lengthSquared);
        axis = Base::Vec3(axis.x / length, axis.y / length, axis.z / length);
        rotation = Base::Quaternion();
        rotation.RotateAroundAxis(axis, angle);
      }
    }
    // The entity sits at the centre of the record's collider: take that collider's own offset off, as
    // turned by the new rotation, or the object drifts by it every frame.
    transform->SetRotation(rotation);
    Base::Vec3 position = ToPhysicsFrame(record.position);
    if (const ColliderBase* collider = LiveCollider(*object, record.userData.collider)) {
      const Base::Vec3 offset = collider->GetWorldOffset();
      position = Base::Vec3(position.x - offset.x, position.y - offset.y, position.z - offset.z);
    }
    transform->SetTranslation(position);
  }
}

}  // namespace Physics

ORV_REFLECT_CLASS(Physics::PhysicsSystem) {
  using Physics::PhysicsSystem;
  type.Method<&PhysicsSystem::Raycast>("PhysicsSystem::Raycast", "Raycast",
                                       "Casts a ray in a space from an origin, traveling in a specified direction ");
  type.Method<&PhysicsSystem::RaycastInCollisionGroup>("PhysicsSystem::RaycastInCollisionGroup", "RaycastByGroup",
                                                       "Raycast but only within a specified collision group");
  type.Method<&PhysicsSystem::RaycastWithCollisionMask>("PhysicsSystem::RaycastWithCollisionMask", "RaycastByMask",
                                                        "Raycast but only within a specified collision mask");
  type.Method<&PhysicsSystem::CompositeCollisionGroups>("PhysicsSystem::CompositeCollisionGroups", nullptr,
                                                        "Takes two groups and pukes out a mask");
  type.Method<&PhysicsSystem::SwitchDebugDraw>("PhysicsSystem::SwitchDebugDraw", "SwitchDebugDraw");
  type.Method<&PhysicsSystem::GetLastPlaneNormal>("PhysicsSystem::GetLastPlaneNormal");
}
