// Reflected enumerations: the engine's lists, name lookups and misses.
#include "Base/Reflection/EngineEnums.h"

#include <gtest/gtest.h>

namespace {

using Base::Enum;
namespace Enums = Base::Enums;

TEST(Enum, TheLastNameCountsAndMissesAnswerZeroWithoutBeingRemembered) {
  const Enum& assets = Enums::AssetTypes();
  EXPECT_EQ(assets.GetName(), "AssetTypes");
  EXPECT_EQ(assets.GetValueCount(), 7u);
  EXPECT_EQ(assets.GetValue("Space"), 6);
  EXPECT_EQ(assets.GetValueName(6), "Space");
  // The last name stands for the count: mapped, but not a value name.
  EXPECT_EQ(assets.GetValue("countAssetTypes"), 7);

  EXPECT_FALSE(assets.HasValue("Teapot"));
  EXPECT_EQ(assets.GetValue("Teapot"), 0);
  EXPECT_FALSE(assets.HasValue("Teapot"));
  EXPECT_FALSE(assets.HasValue("mesh"));  // exact case

  const char* const names[] = {"A", "B", "countLetters", nullptr};
  Enum letters("Letters", names);
  EXPECT_EQ(letters.GetValueNames(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(letters.GetValue("countLetters"), 2);
  const char* const nothing[] = {nullptr};
  EXPECT_EQ(Enum("Empty", nothing).GetValueCount(), 0u);
}

}  // namespace
