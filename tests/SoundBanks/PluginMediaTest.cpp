// A bus effect's media: looked up by the node's media id among the media of a bank the bank builder
// wrote, kept referenced and handed out again from the context's table, given back when the context
// goes or when the table cannot grow, and moved onto another bank's copy when their bank goes.
#include <atomic>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "tests/SoundBanks/BankTestSupport.h"

namespace {

using BankTest::Build;
using BankTest::Id;

// The node's media: slot 1 holds the bank's two tones as its media 0 and 1.
class TwoTones final : public SN::ISnMediaIdSource {
 public:
  uint32_t MediaIdOf(uint32_t slot, uint32_t index) const override {
    if (slot != 1 || index > 1) return 0xFFFFFFFFu;
    return index == 0 ? Id("Low") : Id("High");
  }
};

class PluginMediaTest : public BankTest::BankFixture {
 protected:
  SN::CSnSoundBankManager& Banks() { return *SN::g_pBankManager; }
  // Commands run in order: once a later one has answered, an unload queued before it has let go of
  // the bank's own use of its data.
  void Drain() { EXPECT_EQ(Banks().UnloadBankWait(Id("NoSuchBank"), nullptr), SN::SN_BankNotLoaded); }
};

TEST_F(PluginMediaTest, MediaComeFromTheBankOnceAndGoBackWithTheContext) {
  const std::vector<uint8_t> bank = Build("tone Low 48000 1 10 220\ntone High 48000 1 10 880\n", "Fx");
  WriteBankFile("Fx.bnk", bank);
  ASSERT_EQ(Banks().LoadBankWait("Fx.bnk", -1, nullptr), SN::SN_Success);
  BankTest::RecordingBank recorded;
  ASSERT_EQ(LoadImage(bank, recorded), SN::SN_Success);
  const uint32_t low = Id("Low"), high = Id("High");
  const uint32_t lowRefs = Banks().MediaReferences(low), highRefs = Banks().MediaReferences(high);
  {
    TwoTones tones;
    SN::CSnBusEffectContext context(1, {32, 0, 12, &tones});
    EXPECT_TRUE(context.IsOnBusOfKind12());
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(context.GetMediaByIndex(0, data, size), SN::SN_Success);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), recorded.Media(low));
    EXPECT_EQ(Banks().MediaReferences(low), lowRefs + 1);
    // Asked again, the table answers: no second reference.
    const uint8_t* again = nullptr;
    ASSERT_EQ(context.GetMediaByIndex(0, again, size), SN::SN_Success);
    EXPECT_EQ(again, data);
    EXPECT_EQ(Banks().MediaReferences(low), lowRefs + 1);
    EXPECT_TRUE(context.UsesMedia(data));

    // A media index the node does not have gives nothing.
    EXPECT_EQ(context.GetMediaByIndex(7, data, size), SN::SN_Failure);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);

    // The table cannot grow in a full default pool: the reference just taken goes back.
    std::vector<void*> filler;
    for (size_t bytes = size_t(1) << 24; bytes >= 8; bytes /= 2)
      while (void* block = SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, bytes)) filler.push_back(block);
    const SN::SNRESULT failed = context.GetMediaByIndex(1, data, size);
    for (void* block : filler) SN::MemoryMgr::Free(SN::g_DefaultPoolId, block);
    EXPECT_EQ(failed, SN::SN_Failure);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(Banks().MediaReferences(high), highRefs);
    ASSERT_EQ(context.GetMediaByIndex(1, data, size), SN::SN_Success);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), recorded.Media(high));
    EXPECT_EQ(Banks().MediaReferences(high), highRefs + 1);
  }
  EXPECT_EQ(Banks().MediaReferences(low), lowRefs);
  EXPECT_EQ(Banks().MediaReferences(high), highRefs);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Fx"), nullptr), SN::SN_Success);
}

// A plug-in that follows its media to another copy when allowed, recording each move.
class Follower final : public SN::ISnPlugin {
 public:
  SN::SNRESULT Term(SN::ISnPluginMemAlloc*) override { return SN::SN_Success; }
  SN::SNRESULT Reset() override { return SN::SN_Success; }
  SN::SNRESULT QueryInfo(SN::SnPluginInfo& info) override {
    info = SN::SnPluginInfo{SN::SnPluginType_Effect, 1, 0};
    return SN::SN_Success;
  }
  bool CanRelocateMedia() override { return follows; }
  SN::SNRESULT RelocateMedia(const uint8_t* newData, const uint8_t* oldData) override {
    moves.push_back({newData, oldData});
    return SN::SN_Success;
  }
  bool follows = true;
  std::vector<std::pair<const uint8_t*, const uint8_t*>> moves;
};

void NoteEnded(uint32_t, const void*, SN::SNRESULT, int32_t, void* cookie) {
  ++*static_cast<std::atomic<int>*>(cookie);
}

// Two banks hold the same tone. The first one goes while a bus effect's context holds its copy: a
// plug-in that cannot follow keeps it (and the bank's data stays until the context lets it go); one
// that can is moved onto the second bank's copy, and the first bank's unload ends. With no copy left,
// nothing moves.
TEST_F(PluginMediaTest, ContextMediaMoveToAnotherBanksCopyWhenTheirBankGoes) {
  for (const char* name : {"First", "Second"})
    WriteBankFile(std::string(name) + ".bnk", Build("tone Low 48000 1 10 220\n", name));
  ASSERT_EQ(Banks().LoadBankWait("First.bnk", -1, nullptr), SN::SN_Success);
  ASSERT_EQ(Banks().LoadBankWait("Second.bnk", -1, nullptr), SN::SN_Success);
  const uint32_t low = Id("Low");
  const uint32_t refs = Banks().MediaReferences(low);
  SN::CSnLoadedBank* first = Banks().FindBank(Id("First"));
  SN::CSnLoadedBank* second = Banks().FindBank(Id("Second"));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  TwoTones tones;
  std::optional<SN::CSnBusEffectContext> context;
  context.emplace(1, SN::CSnBusEffectContext::Owner{32, 0, 0, &tones});
  const uint8_t* held = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(context->GetMediaByIndex(0, held, size), SN::SN_Success);
  const std::vector<uint8_t> bytes(held, held + size);
  EXPECT_TRUE(context->UsesBankMedia(first));

  std::atomic<int> ended{0};
  ASSERT_EQ(Banks().UnloadBank(Id("First"), nullptr, &NoteEnded, &ended), SN::SN_Success);
  Drain();
  EXPECT_EQ(ended, 0);  // the context still reads its data
  Follower plugin;
  plugin.follows = false;
  EXPECT_TRUE(context->RelocateMedia(first, &plugin));
  EXPECT_TRUE(context->RelocateMedia(first, nullptr));
  EXPECT_TRUE(context->UsesBankMedia(first));
  EXPECT_EQ(ended, 0);

  plugin.follows = true;
  EXPECT_FALSE(context->RelocateMedia(first, &plugin));
  EXPECT_EQ(ended, 1);
  ASSERT_EQ(plugin.moves.size(), 1u);
  EXPECT_EQ(plugin.moves[0].second, held);
  EXPECT_TRUE(context->UsesBankMedia(second));
  const uint8_t* now = nullptr;
  ASSERT_EQ(context->GetMediaByIndex(0, now, size), SN::SN_Success);
  EXPECT_EQ(now, plugin.moves[0].first);
  EXPECT_EQ(std::vector<uint8_t>(now, now + size), bytes);
  EXPECT_EQ(Banks().MediaReferences(low), refs);  // one bank's reference less, the context's moved

  // The last copy's bank goes: nothing to move to, the context keeps it until it goes itself.
  ASSERT_EQ(Banks().UnloadBank(Id("Second"), nullptr, &NoteEnded, &ended), SN::SN_Success);
  Drain();
  EXPECT_TRUE(context->RelocateMedia(second, &plugin));
  EXPECT_EQ(plugin.moves.size(), 1u);
  EXPECT_EQ(ended, 1);
  context.reset();
  EXPECT_EQ(ended, 2);
  EXPECT_EQ(Banks().MediaReferences(low), 0u);
}

}  // namespace
