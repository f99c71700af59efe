// Dialogue events as the bank builder writes them, loaded by the engine and resolved through the
// game's calls: best match with its fall-backs, the weighted draw against a model of the engine's
// generator, the probability roll, name forms, and trees refused at load.
#include <gtest/gtest.h>

#include "Base/MathUtil.h"
#include "SoundEngine/DynamicDialogue/DialogueEvent.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "SoundEngine/SoundEngineDialogueApi.h"
#include "tests/SoundBanks/BankTestSupport.h"

namespace {

using BankTest::Build;
using BankTest::Id;
namespace Dialogue = SN::SoundEngine::DynamicDialogue;

// The engine's 15-bit generator, worked out on its own.
struct Rand15Model {
  uint32_t state;
  uint32_t Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  }
};

class DialogueTest : public BankTest::BankFixture {
 protected:
  void TearDown() override {
    Base::SeedRand15(1);  // the generator's starting state
    BankFixture::TearDown();
  }
  SN::SNRESULT Load(const std::string& text, const char* name = "Lines") {
    WriteBankFile(std::string(name) + ".bnk", Build(text, name));
    uint32_t id = 0;
    return SN::SoundEngine::LoadBank((std::string(name) + ".bnk").c_str(), -1, id);
  }
  uint32_t Resolve(const char* event, std::vector<uint32_t> path) {
    return Dialogue::ResolveDialogueEvent(Id(event), path.data(), uint32_t(path.size()));
  }
};

const char kTalk[] =
    "dialogue Talk 100 0 Speaker Mood\n"
    "dialoguepath Talk LineA 100 100 Hero Angry\n"
    "dialoguepath Talk LineB 100 100 Hero *\n"
    "dialoguepath Talk LineC 100 100 * Angry\n"
    "dialoguepath Talk LineD 100 100 * *\n"
    "dialoguepath Talk LineE 100 100 Villain Calm\n"
    "dialogue Greet 100 0 Speaker\n"
    "dialoguepath Greet First 100 100 Alpha\n"
    "dialoguepath Greet Last 100 100 Omega\n";

TEST_F(DialogueTest, BestMatchTakesTheExactBranchThenTheDefaults) {
  ASSERT_EQ(Load(kTalk), SN::SN_Success);
  EXPECT_EQ(Resolve("Talk", {Id("Hero"), Id("Angry")}), Id("LineA"));
  EXPECT_EQ(Resolve("Talk", {Id("Hero"), Id("Happy")}), Id("LineB"));
  // Villain has no Angry and no default below it: the default branch of the first level is tried.
  EXPECT_EQ(Resolve("Talk", {Id("Villain"), Id("Angry")}), Id("LineC"));
  EXPECT_EQ(Resolve("Talk", {Id("Nobody"), Id("Happy")}), Id("LineD"));
  // A value of 0 is the default itself and falls back no further.
  EXPECT_EQ(Resolve("Talk", {0, Id("Angry")}), Id("LineC"));
  EXPECT_EQ(Resolve("Talk", {Id("Villain"), 0}), Id("LineD"));
  EXPECT_EQ(Resolve("Talk", {Id("Hero")}), 0u);  // wrong length
  EXPECT_EQ(Resolve("Unloaded", {1, 2}), 0u);

  const char* names[] = {"Hero", "Angry"};
  EXPECT_EQ(Dialogue::ResolveDialogueEvent("Talk", names, 2), Id("LineA"));
  EXPECT_EQ(Dialogue::ResolveDialogueEvent("Talk", names, 1), 0u);
  EXPECT_EQ(Dialogue::ResolveDialogueEvent("Talk", names, 0), 0u);
  const char16_t* wide[] = {u"Hero", u""};  // empty: the default value
  EXPECT_EQ(Dialogue::ResolveDialogueEvent(u"Talk", wide, 2), Id("LineB"));

  SN::CSnIndexedObject* greet = SN::g_pObjectIndex->List(SN::SnIndex_DialogueEvents).FindAndAddRef(Id("Greet"));
  ASSERT_NE(greet, nullptr);
  const SN::CSnArgumentPathTree& tree = static_cast<SN::CSnDialogueEvent*>(greet)->Tree();
  EXPECT_EQ(tree.ResolveSingleArgument(Id("Alpha")), Id("First"));
  EXPECT_EQ(tree.ResolveSingleArgument(Id("Omega")), Id("Last"));
  EXPECT_EQ(tree.ResolveSingleArgument(Id("Beta")), 0u);
  greet->Release();
}

// The first level of a one-argument tree as {key, audio node} pairs: a key already listed takes the
// tree's node, others are appended; deeper trees list nothing.
TEST_F(DialogueTest, TheFirstLevelOfAOneArgumentTreeIsCollected) {
  ASSERT_EQ(Load(kTalk), SN::SN_Success);
  auto tree = [](const char* name) -> const SN::CSnArgumentPathTree& {
    SN::CSnIndexedObject* event = SN::g_pObjectIndex->List(SN::SnIndex_DialogueEvents).FindAndAddRef(Id(name));
    EXPECT_NE(event, nullptr);
    event->Release();  // the bank's reference keeps it
    return static_cast<SN::CSnDialogueEvent*>(event)->Tree();
  };
  SN::SnKeyArray8 list;
  ASSERT_NE(list.Add({Id("Omega"), 5}), nullptr);
  ASSERT_NE(list.Add({77, 6}), nullptr);
  EXPECT_TRUE(tree("Greet").CollectFirstLevel(list));
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list[0].key, Id("Omega"));
  EXPECT_EQ(list[0].value, Id("Last"));
  EXPECT_EQ(list[1].value, 6u);
  EXPECT_EQ(list[2].key, Id("Alpha"));
  EXPECT_EQ(list[2].value, Id("First"));
  EXPECT_FALSE(tree("Talk").CollectFirstLevel(list));
  EXPECT_EQ(list.Count(), 3u);
}

TEST_F(DialogueTest, WeightedDrawsFollowTheGeneratorAndTheWeights) {
  ASSERT_EQ(Load("dialogue Odds 100 1 Arg\n"
                 "dialoguepath Odds Exact 30 100 Value\n"
                 "dialoguepath Odds Fallback 70 100 *\n"
                 "dialogue Sure 100 1 Arg\n"
                 "dialoguepath Sure Certain 100 100 Value\n"
                 "dialoguepath Sure Maybe 30 100 *\n"),
            SN::SN_Success);
  Base::SeedRand15(2024);
  Rand15Model model{2024};
  int exact = 0;
  for (int i = 0; i < 2000; ++i) {
    // Candidates in collection order: the exact child (30), then the default (70).
    const uint32_t expected = model.Next() % 100 < 30 ? Id("Exact") : Id("Fallback");
    const uint32_t chosen = Resolve("Odds", {Id("Value")});
    ASSERT_EQ(chosen, expected) << "draw " << i;
    exact += chosen == Id("Exact");
  }
  // Binomial(2000, 0.3): mean 600, standard deviation 20.5; five of them either side.
  EXPECT_GT(exact, 497);
  EXPECT_LT(exact, 703);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(Resolve("Sure", {Id("Value")}), Id("Certain"));
}

TEST_F(DialogueTest, TheProbabilityRollIsTakenOnlyBelowAHundred) {
  ASSERT_EQ(Load("dialogue Always 100 0 Arg\ndialoguepath Always Line 100 100 *\n"
                 "dialogue Half 50 0 Arg\ndialoguepath Half Line 100 100 *\n"),
            SN::SN_Success);
  Base::SeedRand15(7);
  Rand15Model model{7};
  EXPECT_EQ(Resolve("Always", {1}), Id("Line"));
  EXPECT_EQ(uint32_t(Base::Rand15()), model.Next());  // no draw was taken
  for (int i = 0; i < 200; ++i) {
    // 50 x 100 = 5000 against a roll of 0 to 10000.
    const uint32_t roll = uint32_t(double(model.Next()) / 32767.0 * 10000.0);
    ASSERT_EQ(Resolve("Half", {1}), 5000 > roll ? Id("Line") : 0u) << i;
  }
}

TEST_F(DialogueTest, TreesOutsideTheirPayloadFailTheLoad) {
  // id | probability | depth | 5 x depth | tree size | mode | nodes
  const char* bad[] = {
      "object 15 Bad 64 01000000 0000000000 0d000000 00 00000000 00000000 6464 0000",  // 13 bytes: no whole node
      "object 15 Bad 64 01000000 0000000000 0c000000 00 00000000 01000100 6464 6464",  // child 1 of 1 node
      "object 15 Bad 64 ffffffff 00",                                                   // 5 x d past the payload
      "object 15 Bad 64 00000000 18000000 00 00000000 00000000 6464 6464",              // tree past the payload
      "object 15 Bad 64 02000000 0000000000 0000000000 24000000 00 "                     // node 1 claimed twice
      "00000000 01000200 6464 6464 00000000 01000100 6464 6464 05000000 07000000 6464 6464",
  };
  for (const char* text : bad) {
    EXPECT_EQ(Load(text, "Broken"), SN::SN_Failure) << text;
    EXPECT_EQ(SN::g_pObjectIndex->List(SN::SnIndex_DialogueEvents).Count(), 0u) << text;
  }
  ASSERT_EQ(Load("object 15 Empty 64 01000000 0000000000 00000000 00", "Empty"), SN::SN_Success);
  EXPECT_EQ(Resolve("Empty", {5}), 0u);
}

}  // namespace
