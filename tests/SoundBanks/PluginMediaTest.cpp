// A bus effect's media: looked up by the node's media id among the media of a bank the bank builder
// wrote, kept referenced and handed out again from the context's table, given back when the context
// goes or when the table cannot grow.
#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Lower/PluginContexts.h"
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

}  // namespace
