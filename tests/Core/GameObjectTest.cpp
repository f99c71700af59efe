// Game objects in a space: numbering, parenting and its hooks, deferred destruction, replaced and
// orphaned components, script components, copying trees, and what scripts are told.
#include <gtest/gtest.h>

#include "Base/function/Thunk.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"

ORV_REFLECT_TYPE(ObjectModelTest::ScriptStub, false) { ORV_FIELD(m_compType); }

namespace {

using namespace ObjectModelTest;
using Core::GameObject;
using Core::Spinner;
using Core::Transform;

// Hook listener that writes what it heard into one list.
struct Recorder {
  std::vector<std::string>* heard;
  std::string tag;
  void Ping() { heard->push_back(tag); }
  void Destroyed(GameObject* object) { heard->push_back(tag + ":" + object->m_name); }
};

class GameObjectTest : public ObjectModelTestBase {
 protected:
  GameObject* Named(const char* name) {
    GameObject* object = space_->CreateObject();
    object->Name(name);
    return object;
  }
  template <class T>
  T* Add(GameObject* object) {
    auto* component = static_cast<T*>(space_->CreateComponent(T::kComponentType));
    object->AttachComponent(component);
    return component;
  }

  ScriptStubScope scripts_;
  std::unique_ptr<Core::GameSpace> space_ = NewSpace("Unnamed Space");
  std::vector<std::string> heard_;
};

TEST_F(GameObjectTest, ObjectsAreNumberedEmptyAndNamedInLogs) {
  auto unnamed = std::make_unique<Core::GameSpace>();
  EXPECT_EQ(unnamed->GetName(), "Unnamed Space");
  log_.Take();
  GameObject* first = space_->CreateObject();
  GameObject* second = space_->CreateObject();
  EXPECT_EQ(first->GUID(), 0u);
  EXPECT_EQ(second->GUID(), 1u);
  EXPECT_EQ(log_.Take(),
            "[Verbose][Core] Created object g0_0:0 from space \"Unnamed Space\"\n"
            "[Verbose][Core] Created object g1_1:0 from space \"Unnamed Space\"\n");
  for (int type = -1; type <= 19; ++type) EXPECT_EQ(first->GetComponent(type), nullptr);
  EXPECT_EQ(first->ChildCount(), 0);
  EXPECT_EQ(first->Parent(), nullptr);
  EXPECT_EQ(space_->GetGameObject(first->GetSelf()), first);
  EXPECT_EQ(space_->GetComponent(first->GetSelf()), nullptr);  // an object's handle never names a component
  EXPECT_TRUE(first->IsAlive());

  first->Name("Twin");
  second->Name("Twin");
  EXPECT_EQ(space_->FindGameObject("Twin"), first);
  EXPECT_EQ(space_->FindGameObjectsByName("Twin"), (std::vector<GameObject*>{first, second}));
  EXPECT_EQ(space_->FindGameObject(nullptr), nullptr);
  EXPECT_EQ(space_->GetObjectFromGUID(0), nullptr);  // no space file is being read
}

TEST_F(GameObjectTest, ParentingFiresHooksOnceAndRefusesLoopsAndStrangers) {
  GameObject* a = Named("A");
  GameObject* b = Named("B");
  GameObject* c = Named("C");
  Recorder parented{&heard_, "parented"}, unparented{&heard_, "unparented"};
  b->GetHooks().AddSystemListener("Parented", &parented, Make<&Recorder::Ping>("Recorder::Ping"));
  b->GetHooks().AddSystemListener("UnParented", &unparented, Make<&Recorder::Ping>("Recorder::Ping"));

  b->SetParent(a);
  b->SetParent(a);  // already its parent: nothing happens
  c->SetParent(a);
  EXPECT_EQ(b->Parent(), a);
  EXPECT_EQ(a->m_children, (std::vector<Base::Handle>{b->GetSelf(), c->GetSelf()}));
  EXPECT_EQ(heard_, (std::vector<std::string>{"parented"}));
  EXPECT_EQ(a->ChildbyIndex(1), c);
  EXPECT_EQ(a->ChildbyIndex(-1), nullptr);
  EXPECT_EQ(a->ChildbyIndex(a->ChildCount()), nullptr);
  EXPECT_EQ(a->ChildbyName("C"), c);
  EXPECT_EQ(a->ChildbyHandle(b->GetSelf()), b);
  EXPECT_EQ(a->ChildbyHandle(a->GetSelf()), nullptr);

  auto other = NewSpace("Other");
  GameObject* stranger = other->CreateObject();
  log_.Take();
  a->SetParent(b);  // b is a's child: a loop
  a->SetParent(a);
  a->SetParent(stranger);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(log_.Take(),
            "[Warning][Core] Attempted to parent object g0_0:0 to itself or to one of its descendants\n"
            "[Warning][Core] Attempted to parent object g0_0:0 to itself or to one of its descendants\n"
            "[Warning][Core] Attempted to parent object g0_0:0 to an object of another space\n");

  heard_.clear();
  b->SetParent(nullptr);
  b->SetParent(nullptr);  // no parent: nothing fires
  EXPECT_EQ(heard_, (std::vector<std::string>{"unparented"}));
  EXPECT_EQ(a->m_children, (std::vector<Base::Handle>{c->GetSelf()}));
  EXPECT_EQ(b->m_parent, Base::kNullHandle);
}

TEST_F(GameObjectTest, MarkedObjectsDieAtTheEndOfTheFrameLastMarkedFirst) {
  Core::Hooks engine;
  Core::SetEngineHooks(&engine);
  Recorder onEngine{&heard_, "engine"}, onSpace{&heard_, "space"};
  engine.AddSystemListener("ObjectDestroyed", &onEngine, Make<&Recorder::Destroyed>("Recorder::Destroyed"));
  space_->GetHooks().AddSystemListener("ObjectDestroyed", &onSpace, Make<&Recorder::Destroyed>("Recorder::Destroyed"));

  GameObject* x = Named("X");
  GameObject* y = Named("Y");
  GameObject* z = Named("Z");
  z->SetParent(x);
  const Base::Handle handles[] = {x->GetSelf(), y->GetSelf(), z->GetSelf()};
  space_->Destroy(x);
  space_->Destroy(y);
  space_->Destroy(x);  // marked already
  EXPECT_EQ(heard_, (std::vector<std::string>{"engine:Z", "space:Z", "engine:X", "space:X", "engine:Y", "space:Y"}));
  EXPECT_EQ(space_->GetGameObject(handles[2]), z);  // still there until the frame ends
  EXPECT_FALSE(z->IsAlive());

  log_.Take();
  space_->DestroyPendingObjects(false);
  EXPECT_EQ(log_.Take(),
            "[Verbose][Core] Destroyed object g1_1:0 from space \"Unnamed Space\"\n"
            "[Verbose][Core] Destroyed object g0_0:0 from space \"Unnamed Space\"\n"
            "[Verbose][Core] Destroyed object g2_2:0 from space \"Unnamed Space\"\n");
  for (Base::Handle handle : handles) EXPECT_EQ(space_->GetGameObject(handle), nullptr);

  // Destroying a parent at once leaves its unmarked child in the space, without a parent.
  GameObject* parent = Named("P");
  GameObject* child = Named("Q");
  child->SetParent(parent);
  space_->DestroyObject(parent);
  EXPECT_EQ(space_->FindGameObject("Q"), child);
  EXPECT_EQ(child->m_parent, Base::kNullHandle);
}

TEST_F(GameObjectTest, AChainAsDeepAsASpaceHoldsIsInitialisedPlacedAndDestroyed) {
  constexpr int kDepth = int(Core::GameSpace::kObjectsPerPage * Core::GameSpace::kMaxPages);
  auto buildChain = [&] {
    std::vector<GameObject*> chain;
    for (int i = 0; i < kDepth; ++i) {
      chain.push_back(Named(("Link " + std::to_string(i)).c_str()));
      Add<Transform>(chain.back())->SetLocalTranslation({0.0f, 1.0f, 0.0f});
      if (i > 0) chain.back()->SetParent(chain[size_t(i) - 1]);
    }
    return chain;
  };
  std::vector<GameObject*> chain = buildChain();
  ScriptCalls().clear();
  chain.front()->InitializeChildren();
  ASSERT_EQ(ScriptCalls().size(), size_t(kDepth - 1));  // every descendant once, the deepest first
  EXPECT_EQ(ScriptCalls().front(), "game:InitObject(\"Unnamed Space\", " + std::to_string(chain.back()->GetSelf()) + ")");
  EXPECT_EQ(ScriptCalls().back(), "game:InitObject(\"Unnamed Space\", " + std::to_string(chain[1]->GetSelf()) + ")");
  chain.front()->Initialize();
  EXPECT_EQ(chain.back()->GetComponent<Transform>()->Translation(), Base::Vec3(0.0f, float(kDepth), 0.0f));
  chain.front()->GetComponent<Transform>()->SetTranslation({0.0f, -1.0f, 0.0f});
  EXPECT_EQ(chain.back()->GetComponent<Transform>()->Translation(), Base::Vec3(0.0f, float(kDepth - 2), 0.0f));

  Recorder onSpace{&heard_, "space"};
  space_->GetHooks().AddSystemListener("ObjectDestroyed", &onSpace, Make<&Recorder::Destroyed>("Recorder::Destroyed"));
  space_->Destroy(chain.front());
  ASSERT_EQ(heard_.size(), size_t(kDepth));  // children before their parent
  EXPECT_EQ(heard_.front(), "space:Link " + std::to_string(kDepth - 1));
  EXPECT_EQ(heard_.back(), "space:Link 0");
  space_->DestroyPendingObjects(false);
  EXPECT_EQ(space_->GetObjectCount(), 0u);

  // Torn down with its space: deepest first, each one unparented from a live parent.
  chain = buildChain();
  chain.front()->Initialize();
  chain.front()->InitializeChildren();
  EXPECT_EQ(chain.back()->GetComponent<Transform>()->Translation(), Base::Vec3(0.0f, float(kDepth), 0.0f));
  space_.reset();
}

TEST_F(GameObjectTest, ParentLoopsReadFromAFileAreCutAtTheirFirstObject) {
  // Links as a damaged file could give them: D hangs on the loop A-B, E-F is a loop, G its own parent,
  // and X was listed under B before the read.
  GameObject* d = Named("D");
  GameObject* e = Named("E");
  GameObject* a = Named("A");
  GameObject* b = Named("B");
  GameObject* f = Named("F");
  GameObject* g = Named("G");
  GameObject* x = Named("X");
  d->m_parent = a->GetSelf();
  e->m_parent = f->GetSelf();
  a->m_parent = b->GetSelf();
  b->m_parent = a->GetSelf();
  f->m_parent = e->GetSelf();
  g->m_parent = g->GetSelf();
  x->m_parent = b->GetSelf();
  b->m_children.push_back(x->GetSelf());

  log_.Take();
  space_->InitializeObjects();
  EXPECT_EQ(log_.Take(),
            "[ Error ][Core] Object g1_1:0 of space \"Unnamed Space\" is its own ancestor: its parent link is dropped\n"
            "[ Error ][Core] Object g2_2:0 of space \"Unnamed Space\" is its own ancestor: its parent link is dropped\n"
            "[ Error ][Core] Object g5_5:0 of space \"Unnamed Space\" is its own ancestor: its parent link is dropped\n");
  for (GameObject* root : {e, a, g}) EXPECT_EQ(root->Parent(), nullptr);
  EXPECT_EQ(a->m_children, (std::vector<Base::Handle>{d->GetSelf(), b->GetSelf()}));
  EXPECT_EQ(e->m_children, (std::vector<Base::Handle>{f->GetSelf()}));
  EXPECT_EQ(b->m_children, (std::vector<Base::Handle>{x->GetSelf()}));
  EXPECT_TRUE(g->m_children.empty());
  EXPECT_TRUE(x->IsInitialized());
}

TEST_F(GameObjectTest, AttachingOverAComponentDestroysTheOldOneWithAWarning) {
  GameObject* object = Named("Top");
  auto* transform = Add<Transform>(object);
  auto* ghost = Add<Spinner>(object);
  ghost->SetRotationAxis({0.0f, 1.0f, 0.0f});
  ghost->SetRotationSpeed(90.0f);
  object->Initialize();
  const Base::Handle ghostHandle = ghost->m_self;

  log_.Take();
  auto* spinner = static_cast<Spinner*>(space_->CreateComponent(Core::ComponentType_Spinner));
  object->AttachComponent(spinner);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Object g0_0:0 already has a Spinner component: the old one is destroyed\n");
  EXPECT_EQ(space_->GetComponent(ghostHandle), nullptr);
  EXPECT_EQ(object->GetComponent<Spinner>(), spinner);
  EXPECT_EQ(spinner->m_owner, object->GetSelf());

  // The old spinner no longer listens: an update leaves the rotation alone.
  space_->GetHooks().Call("LogicUpdate", 0.5f);
  EXPECT_EQ(transform->LocalRotation().w, 1.0f);
  EXPECT_EQ(space_->GetHooks().Find("LogicUpdate")->ListenerCount(), 0u);

  // Detaching and removing by type; a missing one is reported.
  object->RemoveComponent(Core::ComponentType_Transform);
  EXPECT_EQ(object->GetComponent<Transform>(), nullptr);
  log_.Take();
  object->DetachComponent(Core::ComponentType_Transform);
  object->RemoveComponent(Core::ComponentType_Camera);
  EXPECT_EQ(log_.Take(),
            "[ Error ][Core] Attempted to detach a non-existant Transform component from object g0_0:0\n"
            "[ Error ][Core] Attempted to detach a non-existant Camera component from object g0_0:0\n");
}

TEST_F(GameObjectTest, ComponentsAreDestroyedWithTheirObjectOrTheirSpace) {
  const int live = ScriptStub::Live();
  GameObject* never = Named("Never initialised");
  Add<Transform>(never);
  Add<ScriptStub>(never);
  GameObject* ready = Named("Initialised");
  Add<Spinner>(ready);
  Add<ScriptStub>(ready)->m_compType = "ready";
  ready->Initialize();
  space_->CreateComponent(Core::ComponentType_LuaComponent);  // attached to nothing
  EXPECT_EQ(ScriptStub::Live(), live + 3);

  space_->DestroyObject(never);
  EXPECT_EQ(ScriptStub::Live(), live + 2);
  ScriptStub::Events().clear();
  space_->DestroyObject(ready);
  EXPECT_EQ(ScriptStub::Events(), (std::vector<std::string>{"ready:uninit", "ready:removed"}));
  EXPECT_EQ(space_->GetHooks().Find("LogicUpdate")->ListenerCount(), 0u);
  EXPECT_EQ(ScriptStub::Live(), live + 1);
  space_.reset();
  EXPECT_EQ(ScriptStub::Live(), live);
}

TEST_F(GameObjectTest, ScriptComponentsAreListedAndTheScriptsAreTold) {
  GameObject* object = Named("Scripted");
  Base::Handle handles[3];
  for (int i = 0; i < 3; ++i) {
    auto* script = Add<ScriptStub>(object);
    script->m_compType = "s" + std::to_string(i);
    handles[i] = script->m_self;
  }
  EXPECT_EQ(object->GetComponent(Core::ComponentType_LuaComponent), nullptr);  // scripts have no slot
  object->Initialize();
  EXPECT_EQ(ScriptCalls(), (std::vector<std::string>{"game:InitObject(\"Unnamed Space\", 0)"}));
  EXPECT_EQ(ScriptStub::Events(), (std::vector<std::string>{"s0:init", "s1:init", "s2:init"}));

  ScriptStub::Events().clear();
  object->RemoveLuaComponent(0);
  EXPECT_EQ(object->m_luaComponents, (std::vector<Base::Handle>{handles[2], handles[1]}));
  EXPECT_EQ(ScriptStub::Events(), (std::vector<std::string>{"s0:uninit", "s0:removed"}));
  log_.Take();
  object->RemoveLuaComponent(2);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Tried to remove lua component at index 2 but no such component!\n");
  EXPECT_EQ(object->LuaComponentCount(), 2u);

  ScriptCalls().clear();
  space_->Pause();
  space_->Pause();
  EXPECT_TRUE(space_->Paused());
  space_->UnPause();
  EXPECT_EQ(ScriptCalls(), (std::vector<std::string>{"game:PauseGameSpace(\"Unnamed Space\", true)",
                                                     "game:PauseGameSpace(\"Unnamed Space\", false)"}));
}

TEST_F(GameObjectTest, CopyingATreeInitialisesEveryNewObjectOnce) {
  GameObject* root = Named("Root");
  Add<Transform>(root)->SetLocalTranslation({1.0f, 2.0f, 3.0f});
  Add<Spinner>(root)->SetRotationSpeed(30.0f);
  Add<ScriptStub>(root)->m_compType = "brain";
  GameObject* child = Named("Child");
  Add<Transform>(child);
  child->SetParent(root);
  GameObject* grandchild = Named("Grandchild");
  Add<Transform>(grandchild);
  grandchild->SetParent(child);

  auto other = NewSpace("Copies");
  GameObject* copy = other->CreateObject();
  ScriptCalls().clear();
  ScriptStub::Events().clear();
  copy->CopyFrom(*root, true);

  EXPECT_TRUE(copy->Equals(*root));
  EXPECT_EQ(copy->GetComponent<Transform>()->LocalTranslation(), Base::Vec3(1.0f, 2.0f, 3.0f));
  ASSERT_EQ(copy->LuaComponentCount(), 1u);
  EXPECT_EQ(static_cast<ScriptStub*>(copy->GetLuaComponent(0))->m_compType, "brain");
  EXPECT_EQ(ScriptStub::Events().front(), "brain:refresh");
  GameObject* childCopy = copy->ChildbyName("Child");
  ASSERT_NE(childCopy, nullptr);
  ASSERT_NE(childCopy->ChildbyName("Grandchild"), nullptr);
  EXPECT_EQ(childCopy->Parent(), copy);
  EXPECT_EQ(ScriptCalls(), (std::vector<std::string>{"game:InitObject(\"Copies\", " +
                                                         std::to_string(childCopy->ChildbyIndex(0)->GetSelf()) + ")",
                                                     "game:InitObject(\"Copies\", " +
                                                         std::to_string(childCopy->GetSelf()) + ")"}));

  // Without the Transform the copy keeps its own placement; through the type record it is included.
  GameObject* plain = other->CreateObject();
  plain->CopyFrom(*root, false);
  EXPECT_EQ(plain->GetComponent<Transform>()->LocalTranslation(), Base::Vec3(0.0f, 0.0f, 0.0f));
  EXPECT_FALSE(plain->Equals(*root));
  Base::Reflection::TypeOf<GameObject>()->Assign(plain, root);
  EXPECT_TRUE(Base::Reflection::TypeOf<GameObject>()->Equals(plain, root));
}

}  // namespace
