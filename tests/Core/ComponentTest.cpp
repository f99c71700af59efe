// Components and their creators: pooled creation and handles, type ids and names, reflection equality
// and copy, detached components, and full pools and handle tables answered with null.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Base/Reflection/TypeRegistry.h"
#include "Core/SpaceComponent.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"

namespace {

using namespace ObjectModelTest;
using Core::ComponentType_Spinner;
using Core::ComponentType_Transform;
using Core::Spinner;
using Core::Transform;

class ComponentTest : public ObjectModelTestBase {};

TEST_F(ComponentTest, TypeIdsNamesAndCreatorsAgree) {
  EXPECT_STREQ(Core::ComponentTypeName(12), "Spinner");
  EXPECT_STREQ(Core::ComponentTypeName(4000), "countComponents");  // out of range: the count's name
  EXPECT_EQ(Core::ComponentTypeFromName("RigidBody"), 3u);
  EXPECT_EQ(Core::ComponentTypeFromName("Spinnerr"), uint32_t(Core::ComponentType_Count));
  EXPECT_EQ(Core::ComponentRegistry::GetType(ComponentType_Spinner), Base::Reflection::TypeOf<Spinner>());
  EXPECT_EQ(Core::ComponentRegistry::GetCreator(Core::ComponentType_Count), nullptr);
  // Every component block name in a text file is the type record's registered name.
  EXPECT_EQ(Base::Reflection::TypeOf<Transform>()->name, "Transform");

  // The reflected enumeration is built from the same list: names by id, the count's name last.
  const Base::Enum& types = Core::ComponentTypeEnum();
  EXPECT_EQ(types.GetName(), "ComponentType");
  EXPECT_EQ(types.GetValueCount(), 19u);
  EXPECT_EQ(types.GetValue("LuaComponent"), 18);
  EXPECT_EQ(types.GetValue("countComponents"), 19);
  for (uint32_t id = 0; id < Core::ComponentType_Count; ++id)
    EXPECT_EQ(types.GetValueName(id), Core::ComponentTypeName(id));
  EXPECT_EQ(Core::ComponentTypeFromName("Transform"), 0u);
  EXPECT_EQ(Core::ComponentTypeFromName("transform"), uint32_t(Core::ComponentType_Count));
  EXPECT_EQ(Core::ComponentTypeFromName("countComponents"), uint32_t(Core::ComponentType_Count));
}

// The lists of objects and spaces scripts receive are Core's to register; each pointer type shares its
// list's metatable although it was registered first.
TEST(CoreValueTypes, ObjectAndSpaceListsAreRegisteredWithTheirPointerTypes) {
  using Base::Reflection::TypeOf;
  const Base::Reflection::TypeRegistry& registry = Base::Reflection::TypeRegistry::GetInstance();
  EXPECT_EQ(registry.FindType("vector<GameObject*>"), TypeOf<std::vector<Core::GameObject*>>());
  EXPECT_EQ(registry.FindType("vector<GameSpace*>"), TypeOf<std::vector<Core::GameSpace*>>());
  for (const char* key : {"vector<GameObject*>*", "vector<GameSpace*>*"}) {
    SCOPED_TRACE(key);
    const Base::Reflection::TypeInfo* pointer = registry.FindType(key);
    ASSERT_NE(pointer, nullptr);
    EXPECT_TRUE(pointer->isPlainData && pointer->isPointer);
  }
  EXPECT_FALSE(TypeOf<std::vector<Core::GameObject*>>()->isPlainData);
  EXPECT_EQ(TypeOf<std::vector<Core::GameObject*>*>()->metatableName,
            TypeOf<std::vector<Core::GameObject*>>()->metatableName);
  EXPECT_EQ(TypeOf<std::vector<Core::GameSpace*>*>()->metatableName, "GameSpace*>");
}

// The kinds of generic and the space component types are Core's lists too, each closed by the name that
// stands in the count's place.
TEST(CoreEnums, GenericsAndSpaceComponentTypesAreBuiltFromTheirLists) {
  const Base::Enum& generics = Core::GenericsEnum();
  EXPECT_EQ(generics.GetName(), "Generics");
  EXPECT_EQ(generics.GetValueNames(), (std::vector<std::string>{"GameComponent", "GameObject"}));
  EXPECT_EQ(generics.GetValue("GameObject"), int32_t(Core::GenericType_GameObject));
  EXPECT_TRUE(generics.HasValue("Abstract"));
  EXPECT_EQ(generics.GetValue("Abstract"), int32_t(Core::GenericType_Abstract));

  const Base::Enum& spaceTypes = Core::SpaceComponentTypeEnum();
  EXPECT_EQ(spaceTypes.GetName(), "SpaceComponentType");
  EXPECT_EQ(spaceTypes.GetValueCount(), uint32_t(Core::SpaceComponentType_Count));
  EXPECT_EQ(spaceTypes.GetValue("countSpaceComponents"), int32_t(Core::SpaceComponentType_Count));
  for (uint32_t id = 0; id < Core::SpaceComponentType_Count; ++id) {
    EXPECT_EQ(spaceTypes.GetValueName(id), Core::SpaceComponentTypeName(id));
    // Every space component type has its creator, of a class reflected under the same name.
    const Core::SpaceCompCreator* creator = Core::SpaceComponentRegistry::GetCreator(id);
    ASSERT_NE(creator, nullptr);
    EXPECT_EQ(creator->m_typeInfo->name, Core::SpaceComponentTypeName(id));
  }
  EXPECT_STREQ(Core::SpaceComponentTypeName(Core::SpaceComponentType_TestSpaceComp), "TestSpaceComp");
  EXPECT_STREQ(Core::SpaceComponentTypeName(4000), "countSpaceComponents");
  EXPECT_EQ(Core::GameSpace::kSpaceComponentTypes, uint32_t(Core::SpaceComponentType_Count));
}

TEST_F(ComponentTest, CreatedComponentsResolveUntilDestroyedAndSlotsComeBackNewer) {
  auto space = NewSpace("Pool");
  Core::GameComponent* spinner = space->CreateComponent(ComponentType_Spinner);
  ASSERT_NE(spinner, nullptr);
  const Base::Handle handle = spinner->m_self;
  EXPECT_EQ(space->GetComponent(handle), spinner);
  EXPECT_EQ(space->GetGameObject(handle), nullptr);  // a component's handle never names an object
  EXPECT_EQ(spinner->m_space, space.get());
  EXPECT_EQ(spinner->GetOwner(), nullptr);
  EXPECT_EQ(space->GetHooks().Find("LogicUpdate"), nullptr);  // no listeners before initialisation

  space->RemoveComponent(spinner);
  EXPECT_EQ(space->GetComponent(handle), nullptr);
  Core::GameComponent* next = space->CreateComponent(ComponentType_Transform);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(Base::HandleIndex(next->m_self), Base::HandleIndex(handle));
  EXPECT_EQ(Base::HandleGeneration(next->m_self), Base::HandleGeneration(handle) + 1);

  // A type without a creator is refused with a message, not a crash.
  log_.Take();
  EXPECT_EQ(space->CreateComponent(Core::ComponentType_Camera), nullptr);
  EXPECT_EQ(space->CreateComponent(77), nullptr);
  EXPECT_EQ(log_.Take(),
            "[ Error ][Core] No ComponentCreator is registered for Camera components (type 1)\n"
            "[ Error ][Core] No ComponentCreator is registered for countComponents components (type 77)\n");
}

TEST_F(ComponentTest, EqualityAndCopyGoThroughReflectedMembersOnly) {
  auto first = NewSpace("First");
  auto second = NewSpace("Second");
  auto* a = static_cast<Spinner*>(first->CreateComponent(ComponentType_Spinner));
  auto* b = static_cast<Spinner*>(second->CreateComponent(ComponentType_Spinner));
  auto* transform = static_cast<Transform*>(first->CreateComponent(ComponentType_Transform));
  a->SetRotationAxis({0.0f, 1.0f, 0.0f});
  a->SetRotationSpeed(90.0f);
  EXPECT_FALSE(a->Equals(*b));

  b->Assign(*a);
  EXPECT_TRUE(a->Equals(*b));  // different spaces and handles do not count
  EXPECT_EQ(b->m_space, second.get());
  EXPECT_NE(b->m_self, Base::kNullHandle);
  EXPECT_FALSE(a->Equals(*transform));

  b->Assign(*transform);  // another class: nothing changes
  EXPECT_EQ(b->GetRotationSpeed(), 90.0f);

  // The type records use the same operations, as archetypes and the factory do.
  const Base::Reflection::TypeInfo* record = Base::Reflection::TypeOf<Spinner>();
  b->SetRotationSpeed(-5.0f);
  EXPECT_FALSE(record->Equals(a, b));
  record->Assign(b, a);
  EXPECT_TRUE(record->Equals(a, b));

  // Detached components live outside every space until their holder deletes them.
  Core::GameComponent* detached = Core::ComponentRegistry::GetCreator(ComponentType_Spinner)->CreateDetached();
  ASSERT_NE(detached, nullptr);
  EXPECT_EQ(detached->m_space, nullptr);
  detached->Assign(*a);
  EXPECT_TRUE(detached->Equals(*a));
  Core::DeleteDetachedComponent(detached);
}

TEST_F(ComponentTest, TransformCopiesPlacementButNotItsAxes) {
  auto space = NewSpace("Copy");
  auto* from = static_cast<Transform*>(space->CreateComponent(ComponentType_Transform));
  auto* to = static_cast<Transform*>(space->CreateComponent(ComponentType_Transform));
  EXPECT_TRUE(from->Equals(*to));
  from->SetLocalTranslation({1.0f, 2.0f, 3.0f});
  from->SetLocalScale({2.0f, 2.0f, 2.0f});
  from->SetLocalForward({1.0f, 0.0f, 0.0f});
  (void)to->GetWorldMatrix();  // cached while clean

  Base::Reflection::TypeOf<Transform>()->Assign(to, from);
  EXPECT_EQ(to->LocalTranslation(), Base::Vec3(1.0f, 2.0f, 3.0f));
  EXPECT_EQ(to->LocalScale(), Base::Vec3(2.0f, 2.0f, 2.0f));
  EXPECT_EQ(to->LocalForward(), Base::Vec3(0.0f, 0.0f, 1.0f));
  EXPECT_FALSE(to->Equals(*from));  // the axes are reflected members, so they still differ
  EXPECT_EQ(to->GetWorldMatrix().m[3], 1.0f);  // the copy is not hidden behind a stale matrix
}

TEST_F(ComponentTest, FullPoolsAndHandleTablesGiveNullAndKeepNothing) {
  auto space = NewSpace("Full");
  for (uint32_t i = 0; i < Core::GameSpace::kObjectsPerPage * Core::GameSpace::kMaxPages; ++i)
    ASSERT_NE(space->CreateComponent(ComponentType_Spinner), nullptr);
  log_.Take();
  EXPECT_EQ(space->CreateComponent(ComponentType_Spinner), nullptr);
  EXPECT_EQ(log_.Take(),
            "[ Error ][Base] Can't Allocate New Page: Max logical pages has been reached\n"
            "[ Error ][Core] Could not create a Spinner component in space \"Full\": no free block\n");

  // Fill what is left of the handle table.
  Core::GameComponent* filler = Core::ComponentRegistry::GetCreator(ComponentType_Spinner)->CreateDetached();
  while (space->GetHandles().GetFreeCount() > 1) ASSERT_NE(space->AddHandle(filler), Base::kNullHandle);
  log_.Take();
  EXPECT_EQ(space->CreateComponent(ComponentType_Transform), nullptr);
  EXPECT_EQ(space->CreateObject(), nullptr);
  EXPECT_EQ(log_.Take(),
            "[ Error ][General] Handle Manager has run out of slots!\n"
            "[ Error ][Core] Could not create a Transform component in space \"Full\": no free handle\n"
            "[ Error ][General] Handle Manager has run out of slots!\n"
            "[ Error ][Core] Could not create an object in space \"Full\": no free handle\n");
  // The blocks taken for them went back to their pools.
  std::vector<Core::GameObject*> objects = space->GetObjects();
  EXPECT_TRUE(objects.empty());
  space.reset();
  Core::DeleteDetachedComponent(filler);
}

}  // namespace
