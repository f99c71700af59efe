// Reflected enumerations: the engine's four lists, name lookups and misses.
#include "Base/Reflection/EngineEnums.h"

#include <gtest/gtest.h>

namespace {

using Base::Enum;
namespace Enums = Base::Enums;

TEST(Enum, EngineEnumerationsHoldTheirNamesInOrder) {
  const Enum& components = Enums::ComponentType();
  EXPECT_EQ(components.GetName(), "ComponentType");
  EXPECT_EQ(components.GetValueCount(), 19u);
  EXPECT_EQ(components.GetValue("Transform"), 0);
  EXPECT_EQ(components.GetValue("Spinner"), 12);
  EXPECT_EQ(components.GetValue("LuaComponent"), 18);
  EXPECT_EQ(components.GetValue("countComponents"), 19);
  EXPECT_EQ(components.GetValueName(18), "LuaComponent");

  EXPECT_EQ(Enums::AssetTypes().GetValue("Space"), 6);
  EXPECT_EQ(Enums::AssetTypes().GetValue("countAssetTypes"), 7);
  EXPECT_EQ(Enums::AssetTypes().GetValueCount(), 7u);
  EXPECT_EQ(Enums::SpaceComponentType().GetValueCount(), 1u);
  EXPECT_EQ(Enums::SpaceComponentType().GetValue("countSpaceComponents"), 1);

  // The last name stands for the count: mapped, but not a value name.
  const Enum& generics = Enums::Generics();
  EXPECT_EQ(generics.GetValueCount(), 2u);
  EXPECT_TRUE(generics.HasValue("Abstract"));
  EXPECT_EQ(generics.GetValue("Abstract"), 2);
}

TEST(Enum, MissesAnswerZeroWithoutBeingRemembered) {
  const Enum& components = Enums::ComponentType();
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
