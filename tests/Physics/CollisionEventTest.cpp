// Collision events from the physics step to game objects' hooks and to the scripts'
// "CollisionEventHandler": real contacts stepped by the system, and hand-made arrays for removed
// colliders, end events and manifolds shared between arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Transform.h"
#include "Physics/ColliderKinds.h"
#include "Physics/CollisionEvents.h"
#include "Physics/RigidBody.h"
#include "ScriptedWorld.h"

namespace {

using Physics::ObjectCollisionInfo;
using Physics::PhysicsSystem;
using Physics::SystemCollisionEvent;
using Physics::SystemManifold;

// Listens on one object's hooks under the four event names and keeps what it was given.
struct Listener {
  struct Call {
    std::string name;
    SystemManifold manifold;
    ObjectCollisionInfo info;
  };
  std::vector<Call> calls;
  void (*onCall)(Listener&) = nullptr;  // acts from inside the delivery
  void* context = nullptr;

  void Record(const char* name, SystemManifold& manifold, ObjectCollisionInfo info) {
    calls.push_back({name, manifold, info});
    if (onCall) onCall(*this);
  }
  void OnCollision(SystemManifold& m, ObjectCollisionInfo i) { Record("OnCollision", m, i); }
  void OnCollisionStart(SystemManifold& m, ObjectCollisionInfo i) { Record("OnCollisionStart", m, i); }
  void OnCollisionPersist(SystemManifold& m, ObjectCollisionInfo i) { Record("OnCollisionPersist", m, i); }
  void OnCollisionEnd(SystemManifold& m, ObjectCollisionInfo i) { Record("OnCollisionEnd", m, i); }

  template <auto Method>
  void Listen(Core::GameObject& object, const char* hook) {
    object.GetHooks().AddSystemListener(
        hook, this, Base::Function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, hook));
  }
  void ListenTo(Core::GameObject& object) {
    Listen<&Listener::OnCollision>(object, "OnCollision");
    Listen<&Listener::OnCollisionStart>(object, "OnCollisionStart");
    Listen<&Listener::OnCollisionPersist>(object, "OnCollisionPersist");
    Listen<&Listener::OnCollisionEnd>(object, "OnCollisionEnd");
  }
};

class CollisionEventTest : public ScriptedWorld {
 protected:
  void SetUp() override {
    ScriptedWorld::SetUp();
    ASSERT_EQ(Run(R"(
      handled = ""
      function CollisionEventHandler(events, name)
        handled = handled .. name .. ":" .. #events .. ";"
        lastEvents = events
      end)"),
              "");
  }

  // An object at an engine-frame position with a sphere collider and a rigid body as components.
  Core::GameObject* AddBodyObject(const char* name, Base::Vec3 position) {
    Core::GameObject* object = AddObject(name);
    object->GetComponent<Core::Transform>()->SetTranslation(position);
    for (uint32_t type : {Core::ComponentType_RigidBody, Core::ComponentType_ColliderSphere})
      object->AttachComponent(space_->CreateComponent(type));
    object->Initialize();
    return object;
  }

  // Objects "A" and "B" with spheres of radius 1 at physics-frame z 0 and `bz`; A's hooks always
  // listen, B's when asked.
  void AddPair(float bz, bool bodies, bool listenB = true) {
    a_ = AddObject("A");
    b_ = AddObject("B");
    onA_.ListenTo(*a_);
    if (listenB) onB_.ListenTo(*b_);
    ea_ = AddSphere(a_, {0.0f, 0.0f, 0.0f}, bodies);
    eb_ = AddSphere(b_, {0.0f, 0.0f, bz}, bodies);
  }

  // The listener removes the entity's collider from inside the delivery, as destroying its object would.
  void RemoveOnCall(Listener& listener, ZarnPhys::Entity* doomed) {
    doomed_ = doomed;
    listener.context = this;
    listener.onCall = [](Listener& self) {
      auto* test = static_cast<CollisionEventTest*>(self.context);
      test->world_->RemoveCollider(test->doomed_);
    };
  }

  // A hand-made event between two objects' colliders.
  static SystemCollisionEvent Event(ZarnPhys::Entity* a, ZarnPhys::Entity* b, SystemManifold* manifoldA = nullptr,
                                    SystemManifold* manifoldB = nullptr) {
    SystemCollisionEvent event;
    event.ObjectA = a->userData.object;
    event.zarnColliderA = a->collider;
    if (b) {
      event.ObjectB = b->userData.object;
      event.zarnColliderB = b->collider;
    }
    event.ManifoldA = manifoldA;
    event.ManifoldB = manifoldB;
    return event;
  }

  Core::GameObject* a_ = nullptr;
  Core::GameObject* b_ = nullptr;
  ZarnPhys::Entity* ea_ = nullptr;
  ZarnPhys::Entity* eb_ = nullptr;
  Listener onA_, onB_;

 public:
  ZarnPhys::Entity* doomed_ = nullptr;  // removed by a listener from inside a delivery
};

TEST_F(CollisionEventTest, TouchingBodiesReachBothObjectsAndTheScriptInTheEngineFrame) {
  // Overlapping along the physics z axis: the engine sees B at z = -1.5.
  AddPair(1.5f, true);
  log_.Take();

  system_.FrameStep(1.0f / 60.0f, &list_);

  for (auto [own, other, listener] : {std::tuple(a_, b_, &onA_), std::tuple(b_, a_, &onB_)}) {
    ASSERT_EQ(listener->calls.size(), 2u) << own->GetName();
    EXPECT_EQ(listener->calls[0].name, "OnCollision");
    EXPECT_EQ(listener->calls[1].name, "OnCollisionStart");
    for (const Listener::Call& call : listener->calls) {
      EXPECT_EQ(call.info.otherObject, other);
      // The contact lies between the centres, which are at engine z 0 and -1.5.
      EXPECT_LE(call.manifold.contactPoint.z, 0.0f);
      EXPECT_GE(call.manifold.contactPoint.z, -1.5f);
      EXPECT_NEAR(std::abs(call.manifold.normal.z), 1.0f, 1e-3f);
    }
  }
  // Persist and end arrays were empty: no script call for them.
  EXPECT_EQ(Eval("handled"), "OnCollision:1;OnCollisionStart:1;");
  const std::string pair = Eval("lastEvents[1].ObjectA:GetName() .. lastEvents[1].ObjectB:GetName()");
  EXPECT_TRUE(pair == "AB" || pair == "BA") << pair;
  EXPECT_EQ(Eval("lastEvents[1].ManifoldA ~= nil and lastEvents[1].ManifoldB ~= nil"), "true");
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
}

TEST_F(CollisionEventTest, ComponentsOnEitherSideAreNamedInTheInfoAndTheScriptsTable) {
  a_ = AddBodyObject("A", {0.0f, 0.0f, 0.0f});
  b_ = AddBodyObject("B", {0.0f, 0.0f, -1.5f});
  onA_.ListenTo(*a_);
  system_.FrameStep(1.0f / 60.0f, &list_);

  ASSERT_FALSE(onA_.calls.empty());
  const ObjectCollisionInfo& info = onA_.calls[0].info;
  EXPECT_EQ(info.otherObject, b_);
  EXPECT_EQ(info.ownCollider, Physics::FindCollider(a_));
  EXPECT_EQ(info.otherCollider, Physics::FindCollider(b_));
  EXPECT_EQ(info.ownRigidBody, a_->GetComponent<Physics::RigidBody>());
  EXPECT_EQ(info.otherRigidBody, b_->GetComponent<Physics::RigidBody>());
  EXPECT_EQ(Eval("handled"), "OnCollision:1;OnCollisionStart:1;");
  for (const char* field : {"ColliderA", "ColliderB", "RigidBodyA", "RigidBodyB"})
    EXPECT_EQ(Eval(std::string("type(lastEvents[1].") + field + ")"), "userdata") << field;
}

TEST_F(CollisionEventTest, AListenerThatDestroysTheOtherColliderEndsThatEventForEveryone) {
  a_ = AddBodyObject("A", {0.0f, 0.0f, 0.0f});
  b_ = AddBodyObject("B", {0.0f, 0.0f, -1.5f});
  // Whichever side hears first takes the other's collider away.
  for (auto [listener, other] : {std::pair(&onA_, b_), std::pair(&onB_, a_)}) {
    listener->context = other;
    listener->onCall = [](Listener& self) {
      static_cast<Core::GameObject*>(self.context)->RemoveComponent(Core::ComponentType_ColliderSphere);
    };
  }
  onA_.ListenTo(*a_);
  onB_.ListenTo(*b_);
  system_.FrameStep(1.0f / 60.0f, &list_);

  // One "OnCollision" call in all; the start array's event is gone too, and the script hears neither.
  ASSERT_EQ(onA_.calls.size() + onB_.calls.size(), 1u);
  EXPECT_EQ((onA_.calls.empty() ? onB_ : onA_).calls[0].name, "OnCollision");
  EXPECT_EQ(Eval("handled"), "");
}

TEST_F(CollisionEventTest, AnEventWhoseColliderWentIsSkippedAndTheRestStillDelivered) {
  Core::GameObject* objects[8];
  ZarnPhys::Entity* entities[8];
  Listener listeners[8];
  for (int i = 0; i < 8; ++i) {
    objects[i] = AddObject(("O" + std::to_string(i)).c_str());
    // Far apart: only the hand-made events below pair them.
    entities[i] = AddSphere(objects[i], {10.0f * float(i), 0.0f, 0.0f}, false);
    listeners[i].ListenTo(*objects[i]);
  }
  // The first event's listener destroys the third event's object A: its collider goes at once.
  RemoveOnCall(listeners[0], entities[4]);
  std::vector<SystemCollisionEvent> events;
  for (int i = 0; i < 8; i += 2) events.push_back(Event(entities[i], entities[i + 1]));

  PhysicsSystem::DeliverCollisionEvents("OnCollisionPersist", &events);

  for (int i : {0, 1, 2, 3, 6, 7}) EXPECT_EQ(listeners[i].calls.size(), 1u) << i;
  EXPECT_TRUE(listeners[4].calls.empty());
  EXPECT_TRUE(listeners[5].calls.empty());
  // The script gets the three events that are still live, in their order.
  EXPECT_EQ(Eval("handled"), "OnCollisionPersist:3;");
  EXPECT_EQ(Eval("lastEvents[3].ObjectA:GetName()"), "O6");
}

TEST_F(CollisionEventTest, AnEmptyArrayOrOneWithoutLiveEventsCallsNoScript) {
  AddPair(10.0f, false);
  std::vector<SystemCollisionEvent> events{Event(ea_, eb_)};

  const std::vector<SystemCollisionEvent> none;
  PhysicsSystem::DeliverCollisionEvents("OnCollision", &none);
  EXPECT_TRUE(onA_.calls.empty());
  EXPECT_EQ(Eval("handled"), "");

  // A's listener destroys B: B hears nothing of it, and neither does the script.
  RemoveOnCall(onA_, eb_);
  PhysicsSystem::DeliverCollisionEvents("OnCollision", &events);
  EXPECT_EQ(onA_.calls.size(), 1u);
  EXPECT_TRUE(onB_.calls.empty());
  EXPECT_EQ(Eval("handled"), "");
  // Delivered again, the event is skipped whole.
  PhysicsSystem::DeliverCollisionEvents("OnCollision", &events);
  EXPECT_EQ(onA_.calls.size(), 1u);
  EXPECT_EQ(Eval("handled"), "");
}

TEST_F(CollisionEventTest, AnEndEventWithoutBReachesAWithAZeroedManifold) {
  AddPair(10.0f, false);
  std::vector<SystemCollisionEvent> events{Event(ea_, nullptr)};

  PhysicsSystem::DeliverCollisionEvents("OnCollisionEnd", &events);

  ASSERT_EQ(onA_.calls.size(), 1u);
  EXPECT_TRUE(onB_.calls.empty());
  const Listener::Call& call = onA_.calls[0];
  EXPECT_EQ(call.name, "OnCollisionEnd");
  EXPECT_EQ(call.info.otherObject, nullptr);
  for (const Base::Vec3& v : {call.manifold.normal, call.manifold.contactPoint, call.manifold.appliedVelocity,
                              call.manifold.relativeVelocity})
    EXPECT_EQ(v, Base::Vec3(0.0f, 0.0f, 0.0f));
  EXPECT_EQ(Eval("handled"), "OnCollisionEnd:1;");
  EXPECT_EQ(Eval("lastEvents[1].ObjectA:GetName()"), "A");
  EXPECT_EQ(Eval("lastEvents[1].ObjectB"), "nil");
  EXPECT_EQ(Eval("lastEvents[1].ManifoldA"), "nil");
  EXPECT_EQ(Eval("lastEvents[1].ManifoldB"), "nil");
}

TEST_F(CollisionEventTest, AManifoldInTwoArraysOfAStepIsConvertedOnce) {
  AddPair(10.0f, false, false);  // B has no hooks at all: skipped quietly
  SystemManifold manifoldA, manifoldB;
  manifoldA.appliedVelocity = Base::Vec3(1.0f, 2.0f, 3.0f);
  manifoldA.normal = Base::Vec3(0.0f, 0.0f, 1.0f);
  manifoldB.contactPoint = Base::Vec3(0.0f, 0.0f, 4.0f);
  std::vector<SystemCollisionEvent> events{Event(ea_, eb_, &manifoldA, &manifoldB)};
  log_.Take();

  PhysicsSystem::DeliverCollisionEvents("OnCollision", &events);
  PhysicsSystem::DeliverCollisionEvents("OnCollisionStart", &events);

  EXPECT_EQ(manifoldA.GetAppliedVelocity(), Base::Vec3(1.0f, 2.0f, -3.0f));
  EXPECT_EQ(manifoldA.GetCollisionNormal(), Base::Vec3(0.0f, 0.0f, -1.0f));
  EXPECT_EQ(manifoldB.GetContact(), Base::Vec3(0.0f, 0.0f, -4.0f));
  ASSERT_EQ(onA_.calls.size(), 2u);
  EXPECT_EQ(onA_.calls[1].manifold.appliedVelocity, Base::Vec3(1.0f, 2.0f, -3.0f));
  EXPECT_EQ(Eval("handled"), "OnCollision:1;OnCollisionStart:1;");
  EXPECT_EQ(Eval("lastEvents[1].ManifoldA:GetAppliedVelocity().z"), "-3");
  EXPECT_EQ(Eval("lastEvents[1].ManifoldB:GetContact().z"), "-4");
  const std::string text = log_.Take();
  EXPECT_EQ(text.find("[Warning]"), std::string::npos) << text;
}

TEST_F(CollisionEventTest, AManifoldAScriptKeepsStaysWhatItWasWhenTheStorageIsReused) {
  AddPair(10.0f, false);
  SystemManifold manifoldA, manifoldB;
  manifoldA.contactPoint = Base::Vec3(1.0f, 2.0f, 3.0f);
  manifoldA.normal = Base::Vec3(0.0f, 1.0f, 0.0f);
  manifoldA.appliedVelocity = Base::Vec3(4.0f, 5.0f, 6.0f);
  manifoldA.relativeVelocity = Base::Vec3(-1.0f, -2.0f, -3.0f);
  std::vector<SystemCollisionEvent> events{Event(ea_, eb_, &manifoldA, &manifoldB)};
  PhysicsSystem::DeliverCollisionEvents("OnCollision", &events);
  ASSERT_EQ(Run("kept = lastEvents[1].ManifoldA"), "");

  // The next step writes other contacts into the same storage.
  manifoldA = SystemManifold();
  manifoldA.contactPoint = Base::Vec3(7.0f, 7.0f, 7.0f);

  // Seen in the engine frame as it was delivered (z negated).
  EXPECT_EQ(Eval("kept:GetContact().x .. ' ' .. kept:GetContact().y .. ' ' .. kept:GetContact().z"), "1 2 -3");
  EXPECT_EQ(Eval("kept:GetCollisionNormal().y"), "1");
  EXPECT_EQ(Eval("kept:GetAppliedVelocity().z"), "-6");
  EXPECT_EQ(Eval("kept:GetRelativeVelocity().z"), "3");
}

TEST_F(CollisionEventTest, AManifoldAScriptKeepsIsStillReadableAfterItsWorldWent) {
  AddPair(1.5f, true);
  system_.FrameStep(1.0f / 60.0f, &list_);
  ASSERT_EQ(Run(R"(
    kept = lastEvents[1].ManifoldA
    keptZ = kept:GetContact().z
    keptNormalZ = kept:GetCollisionNormal().z)"),
            "");
  // The contact lies between the centres at engine z 0 and -1.5, along z.
  EXPECT_EQ(Eval("keptZ <= 0 and keptZ >= -1.5 and math.abs(math.abs(keptNormalZ) - 1) < 1e-3"), "true");

  // A level change: the world and every pair it stepped go; the space gets a new world.
  system_.GameSpaceDeleted(space_.get());
  system_.GameSpaceCreated(space_.get());
  world_ = PhysicsSystem::FindSpace(space_.get());
  log_.Take();

  EXPECT_EQ(Eval("kept:GetContact().z == keptZ and kept:GetCollisionNormal().z == keptNormalZ"), "true");
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
}

TEST_F(CollisionEventTest, TheSystemGoneNoLongerReceivesTheLibrarysEvents) {
  AddPair(1.5f, true);
  {
    PhysicsSystem other;
    other.Initialize(nullptr);
  }
  world_->Step();
  EXPECT_TRUE(onA_.calls.empty());
  EXPECT_EQ(Eval("handled"), "");
}

}  // namespace
