// Preparation through the bank manager's commands: banks read for their structure or their media,
// events whose play actions prepare their banks and their nodes' media (staged and loaded once), the
// undo of a failing command, cycles of play-event actions, and the release of one media reference.
#include <atomic>

#include <gtest/gtest.h>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/NodePreparation.h"
#include "SoundEngine/PoolObject.h"
#include "tests/SoundBanks/BankTestSupport.h"

namespace {

using BankTest::Build;
using BankTest::Id;

// Payload: id, u16 type, u32 target, u32 bank (play: the bank it prepares; play-event: target is the event).
std::atomic<int> g_actionsAlive{0};

class PrepAction final : public SN::CSnEventAction {
 public:
  PrepAction(uint32_t id, uint16_t type, uint32_t bank) : CSnEventAction(id, type), bank_(bank) { ++g_actionsAlive; }
  ~PrepAction() override { --g_actionsAlive; }
  SN::SNRESULT Execute(SN::CSnPendingActionItem&) override { return SN::SN_Success; }
  uint32_t DelaySamples() override { return 0; }
  uint32_t NamedBankId() const override { return bank_; }
  uint32_t NamedEventId() const override { return TargetId(); }

 private:
  uint32_t bank_;
};

SN::SNRESULT CreatePrepAction(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object) {
  uint32_t id = 0, target = 0, bank = 0;
  uint16_t type = 0;
  SN::SnBankCursor cursor(payload, size);
  if (!cursor.Take(id) || !cursor.Take(type) || !cursor.Take(target) || !cursor.Take(bank)) return SN::SN_Failure;
  auto* action = SN::PoolNew<PrepAction>(SN::g_DefaultPoolId, id, type, bank);
  if (!action) return SN::SN_InsufficientMemory;
  action->SetTarget(target, false);
  object = action;
  return SN::SN_Success;
}

// A leaf holding one media: payload id, media id, size, u32 1 when the media is a loose file of its id.
class MediaLeaf final : public SN::CSnIndexedObject {
 public:
  MediaLeaf(uint32_t id, const SN::CSnSourceDesc& source) : CSnIndexedObject(id, SN::SnIndex_Nodes), source(source) {}
  ~MediaLeaf() override { source.Clear(); }
  SN::CSnSourceDesc source;
};

SN::SNRESULT CreateLeaf(const uint8_t* payload, uint32_t size, SN::CSnIndexedObject*& object) {
  uint32_t id = 0, mediaId = 0, mediaSize = 0, loose = 0;
  SN::SnBankCursor cursor(payload, size);
  if (!cursor.Take(id) || !cursor.Take(mediaId) || !cursor.Take(mediaSize) || !cursor.Take(loose))
    return SN::SN_Failure;
  SN::CSnSourceDesc source;
  source.SetMediaSource(loose ? 0x10000u : 0, mediaId, mediaId, mediaSize, 0);
  object = SN::PoolNew<MediaLeaf>(SN::g_DefaultPoolId, id, source);
  return object ? SN::SN_Success : SN::SN_InsufficientMemory;
}

const SN::SnHircKind kPrepActionKind{SN::SnIndex_Actions, &CreatePrepAction, nullptr, nullptr};
const SN::SnHircKind kLeafKind{SN::SnIndex_Nodes, &CreateLeaf, nullptr, nullptr};

// Node preparation as the hierarchy does it: the leaf asks the bank manager for its media and keeps
// a reference while prepared.
class LeafPreparation final : public SN::ISnNodePreparation {
 public:
  SN::SNRESULT PrepareNodeData(uint32_t nodeId) override {
    SN::CSnIndexedObject* node = SN::g_pObjectIndex->List(SN::SnIndex_Nodes).FindAndAddRef(nodeId);
    if (!node) return SN::SN_Failure;
    const SN::SNRESULT result = static_cast<MediaLeaf*>(node)->source.PrepareMedia();
    if (result != SN::SN_Success) node->Release();
    return result;
  }
  void UnprepareNodeData(uint32_t nodeId) override {
    SN::CSnIndexedObject* node = SN::g_pObjectIndex->List(SN::SnIndex_Nodes).FindAndAddRef(nodeId);
    if (!node) return;
    static_cast<MediaLeaf*>(node)->source.ReleaseBankMedia();
    node->Release();  // the look-up's
    node->Release();  // the preparation's
  }
};

std::string Words(std::initializer_list<uint32_t> words) {
  std::string out;
  char byte[4];
  for (uint32_t word : words)
    for (int i = 0; i < 4; ++i) {
      snprintf(byte, sizeof byte, "%02x ", (word >> (8 * i)) & 0xFF);
      out += byte;
    }
  return out;
}
std::string Play(const char* name, const char* target, const char* bank) {
  return std::string("object 3 ") + name + " 03 04 " + Words({Id(target), bank ? Id(bank) : 0}) + "\n";
}
std::string PlayEvent(const char* name, const char* event) {
  return std::string("object 3 ") + name + " 03 21 " + Words({Id(event), 0}) + "\n";
}
std::string Leaf(const char* name, uint32_t mediaId, uint32_t size, bool loose) {
  return std::string("object 2 ") + name + " " + Words({mediaId, size, loose ? 1u : 0u}) + "\n";
}

class BankPreparationTest : public BankTest::BankFixture, public ::testing::WithParamInterface<int> {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override {
    settings.useBankThread = uint8_t(GetParam());
    pool_ = SN::MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SN::SnMemPool_AllocHook, 0);
    settings.preparedDataPoolId = WithPool() ? pool_ : SN::kInvalidPoolId;
  }
  virtual bool WithPool() const { return true; }
  void SetUp() override {
    BankFixture::SetUp();
    previousAction_ = SN::SetHircKind(3, &kPrepActionKind);
    previousLeaf_ = SN::SetHircKind(2, &kLeafKind);
    SN::NodePreparation() = &leaves_;
  }
  void TearDown() override {
    SN::SetHircKind(3, previousAction_);
    SN::SetHircKind(2, previousLeaf_);
    BankFixture::TearDown();
    SN::NodePreparation() = nullptr;
  }
  SN::CSnSoundBankManager& Banks() { return *SN::g_pBankManager; }
  SN::SNRESULT Wait(SN::SnBankCommand command) { return Banks().QueueAndWait(command); }
  SN::SNRESULT PrepareEventsWait(bool prepare, std::vector<uint32_t> ids) {
    SN::SnBankCommand command;
    command.type = prepare ? SN::SnBankCommand_PrepareEvents : SN::SnBankCommand_UnprepareEvents;
    command.bankId = uint32_t(ids.size());
    if (ids.size() == 1) {
      command.poolId = ids[0];
    } else {
      auto* copy = static_cast<uint32_t*>(SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, ids.size() * 4));
      memcpy(copy, ids.data(), ids.size() * 4);
      command.poolId = intptr_t(copy);
    }
    return Wait(command);
  }
  SN::SNRESULT BankWait(SN::SnBankCommandType type, const char* bank, uint32_t content = 0) {
    SN::SnBankCommand command;
    command.type = type;
    command.bankId = Id(bank);
    command.sourceKind = content;
    return Wait(command);
  }
  void WriteLoose(uint32_t mediaId, const std::vector<uint8_t>& bytes) {
    WriteBankFile(std::to_string(mediaId) + ".snm", bytes);
  }
  uint32_t Events() { return SN::g_pObjectIndex->List(SN::SnIndex_Events).Count(); }

  SN::SnMemPoolId pool_ = SN::kInvalidPoolId;
  LeafPreparation leaves_;
  const SN::SnHircKind* previousAction_ = nullptr;
  const SN::SnHircKind* previousLeaf_ = nullptr;
};

TEST_P(BankPreparationTest, ABankIsPreparedForItsStructureOrItsMedia) {
  const std::vector<uint8_t> bank = Build(Play("Go", "Nothing", nullptr) + "event Play_Go Go\ntone Hum 48000 1 10 220\n", "Media");
  WriteBankFile(std::to_string(Id("Media")) + ".bnk", bank);  // no name recorded: opened by id
  BankTest::RecordingBank recorded;
  ASSERT_EQ(LoadImage(bank, recorded), SN::SN_Success);
  const std::vector<uint8_t> hum = recorded.Media(Id("Hum"));

  EXPECT_EQ(BankWait(SN::SnBankCommand_PrepareBank, "Media", 0), SN::SN_Success);  // structure only
  EXPECT_EQ(Events(), 1u);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 0u);
  // Only prepared: an explicit unload refuses it.
  EXPECT_EQ(Banks().UnloadBankWait(Id("Media"), nullptr), SN::SN_Failure);
  // Then its media too, read into the pool of prepared media.
  EXPECT_EQ(BankWait(SN::SnBankCommand_PrepareBank, "Media", 1), SN::SN_Success);
  const SN::SnMediaRef media = Banks().GetMedia(Id("Hum"));
  ASSERT_NE(media.data, nullptr);
  EXPECT_EQ(media.bank, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(media.data, media.data + media.size), hum);
  Banks().ReleaseMedia(Id("Hum"), media.bank);
  EXPECT_EQ(BankWait(SN::SnBankCommand_UnprepareBank, "Media"), SN::SN_Success);
  EXPECT_EQ(Events(), 1u);
  EXPECT_EQ(BankWait(SN::SnBankCommand_UnprepareBank, "Media"), SN::SN_Success);
  EXPECT_EQ(Events(), 0u);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);

  // Structure and media at once.
  EXPECT_EQ(BankWait(SN::SnBankCommand_PrepareBank, "Media", 1), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 1u);
  EXPECT_EQ(BankWait(SN::SnBankCommand_UnprepareBank, "Media"), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 0u);
  EXPECT_EQ(Events(), 0u);
}

// Prepared with its media, then loaded: the load reads the same index again, and the unprepare
// still gives back every prepared media, whose block of the prepared pool goes with the unload.
TEST_P(BankPreparationTest, ABankPreparedWithItsMediaThenLoadedGivesThePreparedMediaBack) {
  WriteBankFile("Media.bnk", Build(Play("Go", "Nothing", nullptr) + "event Play_Go Go\ntone Hum 48000 1 10 220\n", "Media"));
  SN::MemoryMgr::PoolMemInfo before, during, after;
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(pool_, before), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBankWait("Media.bnk", -1, nullptr), SN::SN_Success);  // records the name
  ASSERT_EQ(Banks().UnloadBankWait(Id("Media"), nullptr), SN::SN_Success);
  ASSERT_EQ(BankWait(SN::SnBankCommand_PrepareBank, "Media", 1), SN::SN_Success);
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(pool_, during), SN::SN_Success);
  EXPECT_GT(during.usedBytes, before.usedBytes);
  ASSERT_EQ(Banks().LoadBankWait("Media.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 2u);  // the prepared copy and the loaded bank's source
  EXPECT_EQ(BankWait(SN::SnBankCommand_UnprepareBank, "Media"), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 1u);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Media"), nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Hum")), 0u);
  EXPECT_EQ(Banks().BankCount(), 0u);
  // The copy goes with the entry's last reference.
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(pool_, after), SN::SN_Success);
  EXPECT_EQ(after.usedBytes, before.usedBytes);
}

TEST_P(BankPreparationTest, AnEventPreparedTwiceAndUnpreparedOnceKeepsItsMedia) {
  WriteLoose(900, {1, 2, 3, 4, 5, 6, 7, 8});
  WriteBankFile("Levels.bnk", Build(Leaf("Step", 900, 8, true) + Play("Walk", "Step", "Sounds") + "event Play_Step Walk\n", "Levels"));
  WriteBankFile("Sounds.bnk", Build("event Play_Other\n", "Sounds"));
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().AddBankFileName(Id("Sounds"), "Sounds", 6), SN::SN_Success);
  EXPECT_EQ(PrepareEventsWait(true, {Id("Play_Step")}), SN::SN_Success);
  EXPECT_EQ(PrepareEventsWait(true, {Id("Play_Step")}), SN::SN_Success);
  EXPECT_EQ(Banks().EventPreparationCount(Id("Play_Step")), 2u);
  // The play action's bank came with it, for its structure.
  EXPECT_NE(Banks().FindBank(Id("Sounds")), nullptr);
  const SN::SnMediaRef media = Banks().GetMedia(900);
  ASSERT_EQ(media.size, 8u);
  EXPECT_EQ(media.data[7], 8);
  Banks().ReleaseMedia(900, media.bank);
  EXPECT_EQ(PrepareEventsWait(false, {Id("Play_Step")}), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(900), 1u);
  EXPECT_EQ(PrepareEventsWait(false, {Id("Play_Step")}), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(900), 0u);
  EXPECT_EQ(Banks().FindBank(Id("Sounds")), nullptr);
  EXPECT_EQ(PrepareEventsWait(false, {Id("Play_Nothing")}), SN::SN_IdNotFound);
}

TEST_P(BankPreparationTest, AFailingThirdEventUndoesTheWholeCommand) {
  WriteLoose(901, {9, 9, 9, 9});
  WriteLoose(902, {7, 7, 7, 7});
  // The third leaf's media file is missing.
  WriteBankFile("Levels.bnk", Build(Leaf("A", 901, 4, true) + Leaf("B", 902, 4, true) + Leaf("C", 903, 4, true) +
                                        Play("PA", "A", nullptr) + Play("PB", "B", nullptr) + Play("PC", "C", nullptr) +
                                        "event E1 PA\nevent E2 PB\nevent E3 PC\n",
                                    "Levels"));
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_NE(PrepareEventsWait(true, {Id("E1"), Id("E2"), Id("E3")}), SN::SN_Success);
  EXPECT_EQ(Banks().EventPreparationCount(Id("E1")), 0u);
  EXPECT_EQ(Banks().EventPreparationCount(Id("E2")), 0u);
  EXPECT_EQ(Banks().EventPreparationCount(Id("E3")), 0u);
  EXPECT_EQ(Banks().MediaReferences(901), 0u);
  EXPECT_EQ(Banks().MediaReferences(902), 0u);
  // The leaves hold no preparation reference either: an unload lets them all go.
  EXPECT_EQ(Banks().UnloadBankWait(Id("Levels"), nullptr), SN::SN_Success);
  EXPECT_EQ(SN::g_pObjectIndex->List(SN::SnIndex_Nodes).Count(), 0u);
}

TEST_P(BankPreparationTest, PlayEventActionsLeadingBackEndAndUnprepareTogether) {
  WriteBankFile("Loop.bnk", Build(PlayEvent("ToB", "EB") + PlayEvent("ToA", "EA") + "event EA ToB\nevent EB ToA\n", "Loop"));
  ASSERT_EQ(Banks().LoadBankWait("Loop.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(PrepareEventsWait(true, {Id("EA")}), SN::SN_Success);
  EXPECT_EQ(Banks().EventPreparationCount(Id("EA")), 1u);
  EXPECT_EQ(Banks().EventPreparationCount(Id("EB")), 1u);
  EXPECT_EQ(PrepareEventsWait(false, {Id("EA")}), SN::SN_Success);
  EXPECT_EQ(Banks().EventPreparationCount(Id("EA")), 0u);
  EXPECT_EQ(Banks().EventPreparationCount(Id("EB")), 0u);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Loop"), nullptr), SN::SN_Success);
  EXPECT_EQ(Events(), 0u);
}

TEST_P(BankPreparationTest, StagedMediaComeFromLoadedBanksAndClearingPreparedEventsLetsThemGo) {
  const std::vector<uint8_t> bank = Build(Leaf("L", Id("Tone"), 4, false) + Play("P", "L", nullptr) +
                                              "event E P\ntone Tone 48000 1 5 330\n",
                                          "Tones");
  WriteBankFile("Tones.bnk", bank);
  ASSERT_EQ(Banks().LoadBankWait("Tones.bnk", -1, nullptr), SN::SN_Success);
  const SN::SnMediaRef fromBank = Banks().GetMedia(Id("Tone"));
  ASSERT_NE(fromBank.bank, nullptr);
  const std::vector<uint8_t> bytes(fromBank.data, fromBank.data + fromBank.size);
  Banks().ReleaseMedia(Id("Tone"), fromBank.bank);
  EXPECT_EQ(PrepareEventsWait(true, {Id("E")}), SN::SN_Success);
  // A copy of its own now answers, outside the bank's DATA.
  const SN::SnMediaRef prepared = Banks().GetMedia(Id("Tone"));
  EXPECT_EQ(prepared.bank, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(prepared.data, prepared.data + prepared.size), bytes);
  Banks().ReleaseMedia(Id("Tone"), prepared.bank);
  SN::SnBankCommand clear;
  clear.type = SN::SnBankCommand_ClearPreparedEvents;
  EXPECT_EQ(Wait(clear), SN::SN_Success);
  EXPECT_EQ(Banks().EventPreparationCount(Id("E")), 0u);
  EXPECT_EQ(Banks().MediaReferences(Id("Tone")), 1u);  // the bank's own source
  EXPECT_EQ(Banks().UnloadBankWait(Id("Tones"), nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(Id("Tone")), 0u);
}

TEST_P(BankPreparationTest, CommandTenReleasesOneMediaReference) {
  static const uint8_t bytes[4] = {4, 3, 2, 1};
  const SN::SnMediaItem item{700, bytes, 4};
  ASSERT_EQ(Banks().SetMedia(&item, 1), SN::SN_Success);
  const SN::SnMediaRef held = Banks().GetMedia(700);
  SN::SnBankCommand release;
  release.type = SN::SnBankCommand_ReleaseMedia;
  release.bankId = 700;
  EXPECT_EQ(Wait(release), SN::SN_Failure);  // one reference remains
  EXPECT_EQ(Banks().MediaReferences(700), 1u);
  EXPECT_EQ(Wait(release), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(700), 0u);
  EXPECT_EQ(Wait(release), SN::SN_IdNotFound);
  (void)held;
  // Commands this manager does not know succeed and do nothing.
  SN::SnBankCommand unknown;
  unknown.type = 9;
  EXPECT_EQ(Wait(unknown), SN::SN_Success);
}

TEST_P(BankPreparationTest, TwoEventsAskingForOneMediaEachKeepItUntilTheirOwnUnprepare) {
  WriteLoose(920, {5, 5, 5, 5});
  WriteBankFile("Levels.bnk", Build(Leaf("A", 920, 4, true) + Leaf("B", 920, 4, true) + Play("PA", "A", nullptr) +
                                        Play("PB", "B", nullptr) + "event E1 PA\nevent E2 PB\n",
                                    "Levels"));
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(PrepareEventsWait(true, {Id("E1"), Id("E2")}), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(920), 2u);
  EXPECT_EQ(PrepareEventsWait(false, {Id("E1")}), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(920), 1u);  // E2 still plays it
  EXPECT_EQ(PrepareEventsWait(false, {Id("E2")}), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(920), 0u);
}

// A game-sync group whose values each load the media of their id, as a switch container's children do.
class ValueMedia final : public SN::ISnPreparedGameSyncListener {
 public:
  SN::SNRESULT PrepareGameSyncValue(uint32_t valueId, bool prepare) override {
    if (!prepare) {
      SN::g_pBankManager->UnprepareMedia(valueId);
      return SN::SN_Success;
    }
    SN::CSnSourceDesc source;
    source.SetMediaSource(0x10000, valueId, valueId, 2, 0);
    return source.PrepareMedia();
  }
};

TEST_P(BankPreparationTest, GameSyncValuesPrepareTheirMediaAndAFailureUndoesEveryValue) {
  ValueMedia listener;
  ASSERT_EQ(SN::g_pStateMgr->AddPreparedListener(1, 77, &listener), SN::SN_Success);
  WriteLoose(930, {1, 2});
  WriteLoose(931, {3, 4});
  // The game holds 931 itself: a failing command must not take its reference.
  static const uint8_t own[2] = {9, 9};
  const SN::SnMediaItem item{931, own, 2};
  ASSERT_EQ(Banks().SetMedia(&item, 1), SN::SN_Success);
  const uint32_t good[1] = {930};
  SN::SnBankCommand command;
  command.type = SN::SnBankCommand_PrepareGameSyncs;
  command.sourceKind = 1;
  command.bankId = 77;
  command.image = this;
  command.imageSize = 1;
  command.extra = reinterpret_cast<void*>(uintptr_t(good[0]));
  EXPECT_EQ(Wait(command), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(930), 1u);
  // 931 loads, 932 has no file: both values are undone and 931 keeps only the game's reference.
  auto* ids = static_cast<uint32_t*>(SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, 8));
  ids[0] = 931;
  ids[1] = 932;
  command.imageSize = 2;
  command.extra = ids;
  EXPECT_NE(Wait(command), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(931), 1u);
  EXPECT_EQ(Banks().MediaReferences(932), 0u);
  EXPECT_EQ(Banks().MediaReferences(930), 1u);
  // Unpreparing lets the first value's media go.
  command.image = nullptr;
  command.imageSize = 1;
  command.extra = reinterpret_cast<void*>(uintptr_t(good[0]));
  EXPECT_EQ(Wait(command), SN::SN_Success);
  EXPECT_EQ(Banks().MediaReferences(930), 0u);
  SN::g_pStateMgr->RemovePreparedListener(1, 77, &listener);
}

TEST_P(BankPreparationTest, TermWithEventsAndBanksPreparedLetsEveryObjectGo) {
  WriteLoose(940, {1, 2, 3, 4});
  WriteBankFile("Levels.bnk", Build(Leaf("A", 940, 4, true) + Play("PA", "A", nullptr) + "event E1 PA\n", "Levels"));
  WriteBankFile(std::to_string(Id("Extra")) + ".bnk", Build(Play("PX", "A", nullptr) + "event EX PX\n", "Extra"));
  const int before = g_actionsAlive.load();
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  ASSERT_EQ(PrepareEventsWait(true, {Id("E1")}), SN::SN_Success);
  ASSERT_EQ(BankWait(SN::SnBankCommand_PrepareBank, "Extra", 0), SN::SN_Success);
  EXPECT_EQ(g_actionsAlive.load(), before + 2);
  SN::SoundEngine::Term();
  EXPECT_EQ(g_actionsAlive.load(), before);
}

// A media size past the end of its file fails as a short file does, not as a pool out of memory.
TEST_P(BankPreparationTest, AMediaSizePastItsFileFailsBeforeThePoolIsAsked) {
  WriteLoose(950, {1, 2, 3, 4});
  WriteBankFile("Levels.bnk", Build(Leaf("Short", 950, 8, true) + Leaf("Huge", 950, 0xFFFFFF00u, true) +
                                        Play("PS", "Short", nullptr) + Play("PH", "Huge", nullptr) +
                                        "event E1 PS\nevent E2 PH\n",
                                    "Levels"));
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  for (const char* event : {"E1", "E2"}) {
    EXPECT_EQ(PrepareEventsWait(true, {Id(event)}), SN::SN_Failure) << event;
    EXPECT_EQ(Banks().EventPreparationCount(Id(event)), 0u) << event;
    EXPECT_EQ(Banks().MediaReferences(950), 0u) << event;
  }
}

INSTANTIATE_TEST_SUITE_P(BankThread, BankPreparationTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Threaded" : "Caller"; });

class NoPreparedPoolTest : public BankPreparationTest {
 protected:
  bool WithPool() const override { return false; }
};

TEST_P(NoPreparedPoolTest, MediaCannotBePreparedWithoutAPool) {
  WriteLoose(905, {1, 1});
  WriteBankFile("Levels.bnk", Build(Leaf("A", 905, 2, true) + Play("PA", "A", nullptr) + "event E1 PA\n", "Levels"));
  ASSERT_EQ(Banks().LoadBankWait("Levels.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(PrepareEventsWait(true, {Id("E1")}), SN::SN_InsufficientMemory);
  EXPECT_EQ(Banks().EventPreparationCount(Id("E1")), 0u);
}

INSTANTIATE_TEST_SUITE_P(BankThread, NoPreparedPoolTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Threaded" : "Caller"; });

}  // namespace
