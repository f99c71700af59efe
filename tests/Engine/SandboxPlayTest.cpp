// The "Sandbox" level played with the engine's systems and the game's own scripts: the worm plays its
// clips in turn, four seconds each (Wiggle, Curl, Idle, then Wiggle again), and starts from the first
// each time the level opens. The clips are told apart by their lengths as the content tool writes them:
// Wiggle 20 frames, Curl 45, Idle 30.
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Graphics/Components/AnimationController.h"
#include "tests/Engine/EngineFixture.h"

namespace EngineTest {
namespace {

class SandboxPlayTest : public EngineFixture {
 protected:
  void Open(const char* level) {
    engine_->ChangeLevel(level);
    Step();
  }
  // The frame count of the clip the worm plays (0 without a worm).
  uint32_t Clip() {
    Core::GameSpace* world = engine_->GetGameSpace("SandboxWorld");
    Core::GameObject* worm = world ? world->FindGameObject("Worm") : nullptr;
    auto* animation = worm ? worm->GetComponent<Graphics::AnimationController>() : nullptr;
    return animation ? animation->GetCurrentFrameCount() : 0;
  }
};

TEST_F(SandboxPlayTest, TheWormPlaysItsClipsInTurnFromTheFirstEachTimeTheLevelOpens) {
  AddSystems();
  engine_->Init();
  Open("Sandbox");
  Step();
  EXPECT_EQ(Clip(), 20u) << "Wiggle";
  // Frames of 0.0167 s: the turn comes in the 240th.
  Step(236);
  EXPECT_EQ(Clip(), 20u) << "still Wiggle";
  Step(6);
  EXPECT_EQ(Clip(), 45u) << "Curl";
  Step(240);
  EXPECT_EQ(Clip(), 30u) << "Idle";
  Step(240);
  EXPECT_EQ(Clip(), 20u) << "Wiggle again";
  Step(240);
  EXPECT_EQ(Clip(), 45u) << "Curl again";

  // Opened again, the turn starts over: Curl follows four seconds on, not Idle.
  Open("Splash");
  Open("Sandbox");
  Step(250);
  EXPECT_EQ(Clip(), 45u) << "Curl after the first four seconds";
  const std::string log = TakeLog();
  EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
}

}  // namespace
}  // namespace EngineTest
