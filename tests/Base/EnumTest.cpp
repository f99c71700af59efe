// Reflected enumerations: the engine's lists, name lookups and misses.
#include "Base/Reflection/EngineEnums.h"

#include <gtest/gtest.h>

namespace {

using Base::Enum;
namespace Enums = Base::Enums;

TEST(Enum, TheLastNameCountsAndMissesAnswerZeroWithoutBeingRemembered) {
  const Enum& components = Enums::ComponentType();
  EXPECT_EQ(components.GetName(), "ComponentType");
  EXPECT_EQ(components.GetValueCount(), 19u);
  EXPECT_EQ(components.GetValue("LuaComponent"), 18);
  EXPECT_EQ(components.GetValueName(18), "LuaComponent");
  // The last name stands for the count: mapped, but not a value name.
  EXPECT_EQ(components.GetValue("countComponents"), 19);
  EXPECT_EQ(Enums::AssetTypes().GetValueCount(), 7u);
  EXPECT_TRUE(Enums::Generics().HasValue("Abstract"));

  EXPECT_FALSE(components.HasValue("Teapot"));
  EXPECT_EQ(components.GetValue("Teapot"), 0);
  EXPECT_FALSE(components.HasValue("Teapot"));
  EXPECT_FALSE(components.HasValue("transform"));  // exact case

  const char* const names[] = {"A", "B", "countLetters", nullptr};
  Enum letters("Letters", names);
  EXPECT_EQ(letters.GetValueNames(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(letters.GetValue("countLetters"), 2);
  const char* const nothing[] = {nullptr};
  EXPECT_EQ(Enum("Empty", nothing).GetValueCount(), 0u);
}

}  // namespace
