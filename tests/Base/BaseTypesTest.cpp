// The base value types registered before main: records, sizes, defaults, equality, members and text.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Base/DebugTimer.h"
#include "Base/Handle.h"
#include "Base/Input/Gamepad.h"
#include "Base/Input/Keyboard.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"

namespace {

using namespace Base;
using namespace Base::Reflection;

struct Expected {
  const char* key;  // the registry key: namespaces and blanks stripped
  TypeInfo* record;
  bool plain;
  bool hasText;
};

TEST(BaseTypes, RecordsAreFoundByTheirKeysWithTheirCopyAndTextFlags) {
  const Expected expected[] = {
      {"char", TypeOf<char>(), true, true},
      {"unsigned", TypeOf<unsigned>(), true, true},
      {"double", TypeOf<double>(), true, true},
      {"constchar*", TypeOf<const char*>(), true, false},
      {"void*", TypeOf<void*>(), true, false},
      {"bool", TypeOf<bool>(), true, true},
      {"string", TypeOf<std::string>(), false, true},
      {"Handle", TypeOf<Handle>(), false, true},
      {"Keys", TypeOf<Keys>(), true, true},
      {"Vec2", TypeOf<Vec2>(), false, true},
      {"Quaternion", TypeOf<Quaternion>(), false, true},
      {"Mat4", TypeOf<Mat4>(), true, false},
      {"GamepadState", TypeOf<GamepadState>(), false, false},
      {"TraceLog", TypeOf<TraceLog>(), false, false},
      {"vector<int>", TypeOf<std::vector<int>>(), false, false},
      {"vector<DebugTimerData>", TypeOf<std::vector<DebugTimerData>>(), false, false},
      {"vector<bool>", TypeOf<std::vector<bool>>(), false, false},
  };
  const TypeRegistry& registry = TypeRegistry::GetInstance();
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.key);
    EXPECT_EQ(registry.FindType(e.key), e.record);
    EXPECT_EQ(e.record->isPlainData != 0, e.plain);
    EXPECT_EQ(e.record->serialize != nullptr && e.record->deserialize != nullptr, e.hasText);
  }
  // "char*" came first and "const char*" second: one record under both names, named after the second.
  EXPECT_EQ(registry.FindType("char*"), TypeOf<const char*>());
  EXPECT_EQ(TypeOf<char*>()->name, "constchar*");
  EXPECT_TRUE(TypeOf<char*>()->isDirect);
  EXPECT_NE(TypeOf<Handle>(), TypeOf<unsigned>());

  // The pointer types come before their pointees in the registration order, yet share their metatables.
  const std::pair<const char*, TypeInfo*> pointers[] = {
      {"GamepadState*", TypeOf<GamepadState>()},
      {"vector<int>*", TypeOf<std::vector<int>>()},
      {"Gamepad*", TypeOf<Gamepad>()},
      {"TraceLog*", TypeOf<TraceLog>()},
  };
  for (const auto& [key, pointee] : pointers) {
    SCOPED_TRACE(key);
    const TypeInfo* pointer = registry.FindType(key);
    ASSERT_NE(pointer, nullptr);
    EXPECT_TRUE(pointer->isPlainData && pointer->isPointer);
    EXPECT_EQ(pointer->metatableName, pointee->metatableName);
  }
  EXPECT_EQ(TypeOf<Gamepad*>()->metatableName, "Gamepad");
  EXPECT_EQ(TypeOf<std::vector<std::string>*>()->metatableName, "string>");
}

TEST(BaseTypes, DefaultsAndEquality) {
  const auto make = [](TypeInfo* type) { return type->New(); };
  void* v4 = make(TypeOf<Vec4>());
  EXPECT_EQ(*static_cast<Vec4*>(v4), Vec4(0, 0, 0, 1));
  void* handle = make(TypeOf<Handle>());
  EXPECT_EQ(uint32_t(*static_cast<Handle*>(handle)), 0xFFFFFFFFu);
  Quaternion q(5, 5, 5, 5);
  TypeOf<Quaternion>()->PlacementNew(&q);
  EXPECT_EQ(Vec4(q.w, q.x, q.y, q.z), Vec4(1, 0, 0, 0));

  // Handles and matrices compare by value (neither has members to walk).
  Handle a = MakeHandle(1, 2), b = MakeHandle(1, 2), c = MakeHandle(1, 3);
  EXPECT_TRUE(MakeVariant(a) == MakeVariant(b));
  EXPECT_FALSE(MakeVariant(a) == MakeVariant(c));
  EXPECT_FALSE(MakeVariant(*static_cast<Handle*>(handle)) == MakeVariant(a));
  Mat4 m1, m2;
  EXPECT_TRUE(MakeVariant(m1) == MakeVariant(m2));
  m2.m[11] = 2.0f;
  EXPECT_FALSE(MakeVariant(m1) == MakeVariant(m2));

  // The quaternion has no equality of its own: it compares member by member.
  EXPECT_EQ(TypeOf<Quaternion>()->Equals, nullptr);
  Quaternion p(1, 0, 0, 0);
  EXPECT_TRUE(MakeVariant(p) == MakeVariant(q));
  p.z = 0.5f;
  EXPECT_FALSE(MakeVariant(p) == MakeVariant(q));

  // The trace log is never built or destroyed by value.
  EXPECT_EQ(TypeOf<TraceLog>()->New, nullptr);
  EXPECT_EQ(TypeOf<TraceLog>()->PlacementDelete, nullptr);

  TypeOf<Vec4>()->Delete(v4);
  TypeOf<Handle>()->Delete(handle);
}

std::vector<std::string> MemberNames(const TypeInfo* type) {
  std::vector<std::string> names;
  for (const Member& member : type->members) names.emplace_back(member.name);
  return names;
}

TEST(BaseTypes, MembersInRegistrationOrder) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(MemberNames(TypeOf<Quaternion>()), (Names{"r", "i", "j", "k"}));
  EXPECT_EQ(TypeOf<Quaternion>()->members[0].offset, offsetof(Quaternion, w));  // "r" is w, not x
  EXPECT_EQ(MemberNames(TypeOf<Vec4>()), (Names{"x", "y", "z", "w"}));
  EXPECT_EQ(MemberNames(TypeOf<GamepadState>()),
            (Names{"buttonStates", "leftTrigger", "rightTrigger", "leftStick", "rightStick", "leftMotor",
                   "rightMotor"}));
  EXPECT_EQ(TypeOf<GamepadState>()->members[0].type, TypeOf<std::vector<bool>>());
}

}  // namespace
