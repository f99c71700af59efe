// Unloads made while the default pool is full, with and without the bank thread: an unload gives
// memory back, so a waited one, and one with a callback of a loaded bank, take none of the pool. Each
// answers 1 once its bank has ended and its DATA is freed, the callback comes once; an unload with a
// callback of a bank not loaded has no answer kept for it and is refused with 52. So does a waited
// clear answer 1.
#include <string>
#include <vector>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

class UnloadInFullPoolTest : public SoundEndToEndTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override { settings_.useBankThread = GetParam() ? 1 : 0; }
  void TearDown() override {
    GiveBackDefaultPool();
    SoundEndToEndTest::TearDown();
  }
  // Takes every block the default pool still has, until the test gives them back.
  void FillDefaultPool() {
    for (size_t size = 65536; size >= 8; size /= 2)
      while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) held_.push_back(block);
  }
  void GiveBackDefaultPool() {
    for (void* block : held_) MemoryMgr::Free(g_DefaultPoolId, block);
    held_.clear();
  }
  // A looping bank copied into `pool`, one voice of it playing: its id.
  uint32_t LoadAndPlay(const char* name, uint32_t hz, SnMemPoolId pool) {
    const std::vector<uint8_t>& image = BankImage(LoopingBankText(name, hz), name);
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), pool, id), SN_Success) << log_.Take();
    EXPECT_NE(SoundEngine::PostEvent(("Play_" + std::string(name)).c_str(), kObject), 0u);
    return id;
  }
  static uint32_t UsedBytes(SnMemPoolId pool) {
    MemoryMgr::PoolMemInfo info;
    EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(pool, info), SN_Success);
    return info.usedBytes;
  }

  std::vector<void*> held_;
};

TEST_P(UnloadInFullPoolTest, AnUnloadOfALoadedBankTakesNoMemoryOfTheFullPool) {
  const SnMemPoolId data = MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SnMemPool_AllocHook, 0);
  ASSERT_NE(data, kInvalidPoolId);
  const uint32_t waited = LoadAndPlay("Waited", 330, data);
  const uint32_t called = LoadAndPlay("Called", 440, data);
  Frames(2);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  const uint32_t dataOfOne = UsedBytes(data) / 2;
  ASSERT_GT(dataOfOne, 0u);
  log_.Take();

  FillDefaultPool();
  int32_t poolOfWaited = kInvalidPoolId;
  EXPECT_EQ(SoundEngine::UnloadBank(waited, nullptr, &poolOfWaited), SN_Success) << log_.Take();
  EXPECT_EQ(poolOfWaited, data);
  EXPECT_EQ(g_pBankManager->FindBank(waited), nullptr);
  EXPECT_EQ(UsedBytes(data), dataOfOne) << "the waited unload answered before its DATA was freed";

  BankAnswers answers;
  EXPECT_EQ(SoundEngine::UnloadBank(called, nullptr, &BankAnswers::Record, &answers), SN_Success) << log_.Take();
  EXPECT_TRUE(OrvTest::WaitUntil([&] { return answers.count.load() != 0 || (OutputTest::RenderNullFrame(), false); },
                                 "the callback of the unload made with the pool full"));
  EXPECT_EQ(answers.result.load(), int(SN_Success));
  EXPECT_EQ(g_pBankManager->FindBank(called), nullptr);
  EXPECT_EQ(UsedBytes(data), 0u);

  // No bank kept an answer for this one: refused at the call, and nothing of it is done. The pool is
  // filled again first, the banks' ends having given their memory back.
  FillDefaultPool();
  BankAnswers refused;
  EXPECT_EQ(SoundEngine::UnloadBank(called, nullptr, &BankAnswers::Record, &refused), SN_InsufficientMemory);
  Frames(2);
  GiveBackDefaultPool();
  Frames(2);
  EXPECT_EQ(answers.count.load(), 1) << "the callback came more than once";
  EXPECT_EQ(refused.count.load(), 0) << "a refused unload called back";
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_pBankManager->BankCount(), 2u) << "the game's banks stay";
  EXPECT_EQ(MemoryMgr::DestroyPool(data), SN_Success);
}

// A waited clear gives memory back as well: with the pool full it answers 1 once every bank has ended.
TEST_P(UnloadInFullPoolTest, AWaitedClearTakesNoMemoryOfTheFullPool) {
  const SnMemPoolId data = MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SnMemPool_AllocHook, 0);
  ASSERT_NE(data, kInvalidPoolId);
  LoadAndPlay("Cleared", 550, data);
  Frames(2);
  ASSERT_GT(UsedBytes(data), 0u);
  log_.Take();
  FillDefaultPool();
  EXPECT_EQ(SoundEngine::ClearBanks(), SN_Success) << log_.Take();
  EXPECT_EQ(g_pBankManager->BankCount(), 0u);
  EXPECT_EQ(UsedBytes(data), 0u);
  GiveBackDefaultPool();
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(MemoryMgr::DestroyPool(data), SN_Success);
}

INSTANTIATE_TEST_SUITE_P(BankThread, UnloadInFullPoolTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

}  // namespace
