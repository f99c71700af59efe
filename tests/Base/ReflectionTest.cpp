// Type records, value operations, members, groups and variant equality, driven through registration.
#include "Base/Reflection/Registration.h"
#include "tests/Support/RegistriesAsFound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ReflectTest {

struct Base0 {
  virtual ~Base0() = default;
  int m_inherited = 7;
};

// Polymorphic, with a base: offsets must come from member pointers, not offsetof.
struct Gadget : Base0 {
  int m_count = 0;
  std::string m_label = "gadget";
  float m_speed = 1.0f;
  Gadget* m_next = nullptr;

  void SetSpeed(float speed) { m_speed = speed; }
  float GetSpeed() const { return m_speed; }
  void Reset() { m_count = 0; }
  int Hidden() const { return m_hidden; }

 private:
  ORV_REFLECTED;
  int m_hidden = 3;
  void Hide() { m_hidden = 0; }
};

struct Plainish {
  int a;
  int b;
};

struct Singleton {
  static Singleton& Get() {
    static Singleton one;
    return one;
  }
  Singleton(const Singleton&) = delete;
  Singleton& operator=(const Singleton&) = delete;

 private:
  Singleton() = default;
};

struct Matrix2 {
  float m[4];
};

// A second record over a plain integer, whose default value is not 0.
struct Id {
  static uint32_t ReflectDefault() { return 0xFFFFFFFFu; }
};

}  // namespace ReflectTest

using namespace Base::Reflection;
using ReflectTest::Gadget;

ORV_ON_LOAD {
  RegisterType<int>("int", true);
  RegisterType<unsigned>("unsigned", true);
  RegisterType<float>("float", true);
  RegisterType<std::string>("std::string", false);
}

ORV_REFLECT_CLASS(ReflectTest::Gadget) {
  ORV_FIELD(m_count);
  type.Field(&Gadget::m_inherited, "m_inherited");
  type.OpenGroup("Motion");
  ORV_PROPERTY(m_speed, SetSpeed, "Set the speed", GetSpeed, "Gets the speed");
  type.Button("Reset", ORV_METHOD(Reset));
  type.CloseGroup();
  ORV_FIELD(m_label);
  ORV_FIELD(m_next);
  ORV_FIELD(m_hidden);
  ORV_METHOD(Hide);
}

// Statics of one unit initialise in order: the registration above has run when this one does.
static const bool g_gadgetBeforeMain = TypeRegistry::GetInstance().FindType("Gadget") != nullptr;

namespace {

TEST(TypeRegistry, RegistersBeforeMainUnderStrippedNames) {
  EXPECT_TRUE(g_gadgetBeforeMain);
  TypeRegistry& registry = TypeRegistry::GetInstance();
  EXPECT_EQ(registry.FindType("ReflectTest::Gadget"), nullptr);
  EXPECT_EQ(registry.FindType("Gadget"), TypeOf<Gadget>());
  EXPECT_EQ(registry.FindType("Gadget*"), TypeOf<Gadget*>());
  EXPECT_EQ(TypeOf<const Gadget&>(), TypeOf<Gadget>());

  EXPECT_EQ(StripNamespaces("Core::Engine"), "Engine");
  EXPECT_EQ(StripNamespaces("std::vector<std::string>*"), "vector<string>*");
  EXPECT_EQ(StripNamespaces("Core::GameSpace *"), "GameSpace *");
  EXPECT_EQ(StripNamespaces("std::map<std::string, Core::Thing>"), "map<Thing>");

  // Blanks go when the record takes its name; the metatable keeps what follows the last ':'. (Names of
  // this test's own, so that the records the binary registered before main stay under theirs.)
  struct Space {};
  OrvTest::RegistriesAsFound asFound;
  asFound.Forget<Space>();
  asFound.Forget<Space*>();
  RegisterType<Space>("ReflectTest::Room", false);
  TypeInfo* pointer = RegisterPointerType<Space>("ReflectTest::Room *");
  EXPECT_EQ(pointer->name, "Room*");
  EXPECT_EQ(registry.FindType("Room*"), pointer);
  EXPECT_EQ(pointer->metatableName, "Room");
  EXPECT_TRUE(pointer->isPlainData && pointer->isPointer && !pointer->isDirect);

  TypeInfo* texts = RegisterType<std::vector<std::u16string>>("std::vector<std::u16string>", false);
  EXPECT_EQ(registry.FindType("vector<u16string>"), texts);
  EXPECT_EQ(texts->metatableName, "u16string>");
}

TEST(TypeRegistry, PointerSharesItsPointeeMetatableOnlyWhenRegisteredAfterIt) {
  EXPECT_EQ(TypeOf<Gadget>()->metatableName, "Gadget");
  EXPECT_EQ(TypeOf<Gadget*>()->metatableName, "Gadget");
  EXPECT_EQ(TypeOf<Gadget*>()->name, "Gadget*");

  struct Early {};
  OrvTest::RegistriesAsFound asFound;
  asFound.Forget<Early>();
  asFound.Forget<Early*>();
  TypeInfo* pointer = RegisterPointerType<Early>("Core::Early*");
  EXPECT_EQ(pointer->metatableName, "Early*");
  RegisterType<Early>("Core::Early", false);
  EXPECT_EQ(RegisterPointerType<Early>()->metatableName, "Early");
}

TEST(ValueOps, NonPlainValuesAreBuiltCopiedAndDestroyedThroughTheRecord) {
  const TypeInfo* text = TypeOf<std::string>();
  ASSERT_FALSE(text->isPlainData);

  auto* made = static_cast<std::string*>(text->New());
  EXPECT_EQ(*made, "");
  const std::string source(100, 'x');  // long enough to live on the heap
  text->Assign(made, &source);
  text->Assign(made, made);
  EXPECT_EQ(*made, source);
  void* copy = nullptr;
  text->NewCopy(&copy, made);
  EXPECT_EQ(*static_cast<std::string*>(copy), source);
  EXPECT_TRUE(text->Equals(copy, made));
  text->Delete(copy);
  text->Delete(made);

  alignas(std::string) unsigned char storage[sizeof(std::string)];
  text->PlacementCopy(storage, &source);
  EXPECT_EQ(*reinterpret_cast<std::string*>(storage), source);
  text->PlacementDelete(storage);
  Variant value(text, storage);
  value.PlacementNew();
  EXPECT_EQ(*reinterpret_cast<std::string*>(storage), "");
  value.PlacementDelete();

  text->PlacementNew(nullptr);
  text->PlacementCopy(nullptr, &source);
  text->PlacementDelete(nullptr);
}

TEST(ValueOps, PlainDataSingletonsDefaultsAndEquality) {
  OrvTest::RegistriesAsFound asFound;
  asFound.Forget<ReflectTest::Plainish>();
  asFound.Forget<ReflectTest::Singleton>();
  asFound.Forget<ReflectTest::Id>();
  asFound.Forget<ReflectTest::Matrix2>();
  TypeInfo* plain = RegisterType<ReflectTest::Plainish>("Plainish", true);
  const ReflectTest::Plainish a{1, 2};
  void* copy = nullptr;
  plain->NewCopy(&copy, &a);
  EXPECT_EQ(static_cast<ReflectTest::Plainish*>(copy)->b, 2);
  plain->PlacementDelete(copy);  // nothing to destroy
  plain->Delete(copy);
  EXPECT_EQ(plain->Equals, nullptr);  // no ==: compared member by member

  // A singleton cannot be built, destroyed or copied by value.
  TypeInfo* single = RegisterType<ReflectTest::Singleton>("Singleton", false);
  EXPECT_EQ(single->New, nullptr);
  EXPECT_EQ(single->PlacementDelete, nullptr);
  single->Assign(&ReflectTest::Singleton::Get(), &ReflectTest::Singleton::Get());
  void* none = &copy;
  single->NewCopy(&none, &ReflectTest::Singleton::Get());
  EXPECT_EQ(none, nullptr);

  // A second record over uint32_t with its own default; "unsigned" keeps its own record.
  TypeInfo* id = RegisterType<uint32_t, ReflectTest::Id>("ReflectTest::Id", false);
  EXPECT_NE(id, TypeOf<unsigned>());
  EXPECT_EQ(TypeRegistry::GetInstance().FindType("unsigned"), TypeOf<unsigned>());
  auto* handle = static_cast<uint32_t*>(id->New());
  EXPECT_EQ(*handle, 0xFFFFFFFFu);
  const uint32_t other = 3;
  EXPECT_FALSE(id->Equals(handle, &other));
  id->Delete(handle);

  TypeInfo* matrix = RegisterType<ReflectTest::Matrix2>("Matrix2", true);
  EXPECT_EQ(matrix->Equals, nullptr);
  matrix->SetEquals(&EqualsAsFloats<ReflectTest::Matrix2>);
  ReflectTest::Matrix2 m1{{1, 2, 3, 4}}, m2{{1, 2, 3, 4}};
  EXPECT_TRUE(Variant(matrix, &m1) == Variant(matrix, &m2));
  m2.m[3] = 5;
  EXPECT_FALSE(Variant(matrix, &m1) == Variant(matrix, &m2));
}

TEST(Members, OrderOffsetsGroupsAndAccessorDescriptions) {
  const TypeInfo* gadget = TypeOf<Gadget>();
  ASSERT_EQ(gadget->members.size(), 6u);
  const char* names[] = {"m_count", "m_inherited", "m_speed", "m_label", "m_next", "m_hidden"};
  for (size_t i = 0; i < 6; ++i) EXPECT_STREQ(gadget->members[i].name, names[i]);
  using Order = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(gadget->propertyOrder, (Order{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {0, 3}, {0, 4}, {0, 5}}));

  Gadget g;
  g.m_count = 11;
  g.m_label = "seen";
  g.m_next = &g;
  EXPECT_EQ(gadget->members[0].type, TypeOf<int>());
  EXPECT_EQ(*static_cast<int*>(gadget->members[0].GetVariant(&g).data), 11);
  EXPECT_EQ(*static_cast<int*>(gadget->members[1].GetVariant(&g).data), 7);
  EXPECT_EQ(*static_cast<std::string*>(gadget->FindMember("m_label")->GetVariant(&g).data), "seen");
  EXPECT_EQ(gadget->FindMember("m_next")->GetVariant(&g).data, &g);  // pointer members carry the pointer
  EXPECT_EQ(*static_cast<int*>(gadget->FindMember("m_hidden")->GetVariant(&g).data), 3);  // private

  // The group holds the property and the button; the members after it have none.
  ASSERT_EQ(gadget->groups.size(), 1u);
  const MemberGroup* motion = gadget->groups[0];
  EXPECT_EQ(motion->name, "Motion");
  EXPECT_EQ(gadget->members[2].group, motion);
  EXPECT_EQ(gadget->buttons[0].group, motion);
  EXPECT_EQ(gadget->members[3].group, nullptr);
  EXPECT_EQ(CurrentMemberGroup(), nullptr);

  // The button copied the bound function but not its name.
  const MemberButton& reset = gadget->buttons[0];
  EXPECT_STREQ(reset.label, "Reset");
  EXPECT_EQ(reset.function.GetName(), "");
  Base::Function pressed = reset.function;
  pressed.SetObject(MakeVariant(g));
  pressed.Invoke();
  EXPECT_EQ(g.m_count, 0);
  Base::Function hide = *gadget->methods.back().first;  // a private method, bound
  hide.SetObject(MakeVariant(g));
  hide.Invoke();
  EXPECT_EQ(g.Hidden(), 0);

  // The getter took the later help text, the setter the earlier one.
  const Member& speed = gadget->members[2];
  ASSERT_TRUE(speed.setter && speed.getter);
  EXPECT_EQ(speed.setter->GetName(), "SetSpeed");
  EXPECT_EQ(speed.getter->GetName(), "GetSpeed");
  const auto* entries = Base::FunctionRegistry::GetInstance().GetCategoryEntries("Gadget");
  ASSERT_NE(entries, nullptr);
  std::string setterText, getterText;
  for (const auto& entry : *entries) {
    if (entry.function == speed.setter) setterText = entry.description;
    if (entry.function == speed.getter) getterText = entry.description;
  }
  EXPECT_EQ(setterText, "\"Set the speed\"");
  EXPECT_EQ(getterText, "\"Gets the speed\"");
}

TEST(Members, NestedGroupsAndTheOpenGroupStack) {
  struct Panel {
    int a, b, c;
  };
  OrvTest::RegistriesAsFound asFound;
  asFound.Forget<Panel>();
  TypeInfo* panel = RegisterType<Panel>("Panel", false);
  MemberGroup* outer = panel->AddMemberGroup("Outer");
  EXPECT_EQ(CurrentMemberGroup(), nullptr);  // adding does not open
  MemberGroup* inner;
  {
    MemberGroupScope open(outer);
    inner = panel->OpenMemberGroup("Inner");
    panel->AddMember(TypeOf<int>(), "a", offsetof(Panel, a))->SetFlag(0);
    PopMemberGroup();
    panel->AddMember(TypeOf<int>(), "b", offsetof(Panel, b));
  }
  panel->AddMember(TypeOf<int>(), "c", offsetof(Panel, c));
  EXPECT_EQ(inner->parent, outer);
  EXPECT_EQ(outer->children, std::vector<MemberGroup*>{inner});
  EXPECT_EQ(panel->members[0].group, inner);
  EXPECT_EQ(panel->members[0].flag, 0);
  EXPECT_EQ(panel->members[1].group, outer);
  EXPECT_EQ(panel->members[1].flag, 1);
  EXPECT_EQ(panel->members[2].group, nullptr);

  // A registration step starts with an empty stack.
  PushMemberGroup(outer);
  RegisterType<Panel>("Panel", false);
  EXPECT_EQ(CurrentMemberGroup(), nullptr);
}

TEST(Variant, DeepEqualityByEqualsMembersAndPointers) {
  Gadget a, b;
  const Variant va = MakeVariant(a), vb = MakeVariant(b);
  EXPECT_TRUE(va == vb);
  b.m_label = "other";
  EXPECT_FALSE(va == vb);  // string member through the string's ==
  b.m_label = a.m_label;
  b.m_next = &a;
  EXPECT_FALSE(va == vb);  // pointer member by address
  b.m_next = nullptr;
  b.m_inherited = 8;
  EXPECT_FALSE(va == vb);

  int i = 5;
  unsigned u = 5;
  EXPECT_FALSE(MakeVariant(i) == MakeVariant(u));  // same bits, different records

  // No value on one side: unequal; on both: equal. Never dereferenced.
  EXPECT_FALSE(Variant(TypeOf<Gadget>(), nullptr) == va);
  EXPECT_FALSE(va == Variant(TypeOf<Gadget>(), nullptr));
  EXPECT_TRUE(Variant(TypeOf<Gadget>(), nullptr) == Variant(TypeOf<Gadget>(), nullptr));

  Gadget* pa = &a;
  Gadget* pa2 = &a;
  Gadget* pb = &b;
  EXPECT_TRUE(MakeVariant(pa) == MakeVariant(pa2));
  EXPECT_FALSE(MakeVariant(pa) == MakeVariant(pb));
  EXPECT_FALSE(Variant(TypeOf<int>(), nullptr).IsValid());
}

}  // namespace
