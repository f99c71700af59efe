// A bank load and the bus hierarchy's defaults: the default motion bus is set aside while a bank is
// read and put back unless the bank brought its own, and a bank's new master bus first clears the
// master buses; a manager told to keep its buses leaves both alone.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "tests/SoundBanks/BankTestSupport.h"

namespace {

using BankTest::Build;
using BankTest::Id;

// The bus hierarchy as the bank manager sees it: the default motion bus global (holding no reference,
// as the bus itself clears it when it goes) and a log of the calls.
class RecordingBusDefaults final : public SN::ISnBusDefaults {
 public:
  SN::CSnIndexedObject* TakeDefaultMotionBus() override {
    log.push_back("take");
    SN::CSnIndexedObject* bus = defaultBus;
    defaultBus = nullptr;
    if (bus) bus->AddRef();
    return bus;
  }
  void RestoreDefaultMotionBus(SN::CSnIndexedObject* bus) override {
    log.push_back("restore");
    if (!defaultBus && bus) defaultBus = bus;
  }
  void ClearMasterBuses() override { log.push_back("clear masters"); }

  SN::CSnIndexedObject* defaultBus = nullptr;
  std::vector<std::string> log;
};

RecordingBusDefaults* g_buses = nullptr;

// A master bus (type 8) logs its making; a motion bus (type 20) becomes the default when none is set.
SN::SNRESULT CreateMasterBus(const uint8_t* payload, uint32_t, SN::CSnIndexedObject*& object) {
  uint32_t id = 0;
  memcpy(&id, payload, sizeof id);
  g_buses->log.push_back("make master");
  object = SN::PoolNew<SN::CSnIndexedObject>(SN::g_DefaultPoolId, id, SN::SnIndex_Busses);
  return object ? SN::SN_Success : SN::SN_InsufficientMemory;
}
SN::SNRESULT CreateMotionBus(const uint8_t* payload, uint32_t, SN::CSnIndexedObject*& object) {
  uint32_t id = 0;
  memcpy(&id, payload, sizeof id);
  object = SN::PoolNew<SN::CSnIndexedObject>(SN::g_DefaultPoolId, id, SN::SnIndex_Busses);
  if (object && !g_buses->defaultBus) g_buses->defaultBus = object;
  return object ? SN::SN_Success : SN::SN_InsufficientMemory;
}
const SN::SnHircKind kMasterBusKind{SN::SnIndex_Busses, &CreateMasterBus, nullptr, nullptr};
const SN::SnHircKind kMotionBusKind{SN::SnIndex_Busses, &CreateMotionBus, nullptr, nullptr};

class BankBusDefaultsTest : public BankTest::BankFixture, public ::testing::WithParamInterface<int> {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override { settings.useBankThread = uint8_t(GetParam()); }
  void SetUp() override {
    g_buses = &buses_;
    previous_ = SN::BusDefaults();
    SN::BusDefaults() = &buses_;
    BankFixture::SetUp();
    previousMaster_ = SN::SetHircKind(8, &kMasterBusKind);
    previousMotion_ = SN::SetHircKind(20, &kMotionBusKind);
    taken_ = SN::PoolNew<SN::CSnIndexedObject>(SN::g_DefaultPoolId, 900u, SN::SnIndex_Busses);
    ASSERT_NE(taken_, nullptr);
    buses_.defaultBus = taken_;
  }
  void TearDown() override {
    SN::SetHircKind(8, previousMaster_);
    SN::SetHircKind(20, previousMotion_);
    BankFixture::TearDown();
    SN::BusDefaults() = previous_;
    g_buses = nullptr;
  }
  // The test's own bus, let go before the engine's pools go.
  void ReleaseTaken() {
    if (buses_.defaultBus == taken_) buses_.defaultBus = nullptr;
    taken_->Release();
  }
  SN::CSnSoundBankManager& Banks() { return *SN::g_pBankManager; }

  RecordingBusDefaults buses_;
  SN::ISnBusDefaults* previous_ = nullptr;
  const SN::SnHircKind* previousMaster_ = nullptr;
  const SN::SnHircKind* previousMotion_ = nullptr;
  SN::CSnIndexedObject* taken_ = nullptr;
};

TEST_P(BankBusDefaultsTest, TheDefaultMotionBusIsPutBackUnlessTheBankBringsItsOwn) {
  WriteBankFile("Plain.bnk", Build("tone PlainTone 48000 1 5 220\n", "Plain"));
  WriteBankFile("Motion.bnk", Build("object 20 Rumble\n", "Motion"));
  ASSERT_EQ(Banks().LoadBankWait("Plain.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"take", "restore"}));
  EXPECT_EQ(buses_.defaultBus, taken_);
  EXPECT_EQ(taken_->RefCount(), 1u);  // the reference taken with it went

  buses_.log.clear();
  ASSERT_EQ(Banks().LoadBankWait("Motion.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"take", "restore"}));
  ASSERT_NE(buses_.defaultBus, nullptr);
  EXPECT_EQ(buses_.defaultBus->ID(), Id("Rumble"));
  EXPECT_EQ(taken_->RefCount(), 1u);
  // The bank's bus goes with the bank.
  buses_.defaultBus = nullptr;
  EXPECT_EQ(Banks().UnloadBankWait(Id("Motion"), nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Plain"), nullptr), SN::SN_Success);
  ReleaseTaken();
}

TEST_P(BankBusDefaultsTest, AFailedLoadStillPutsTheDefaultMotionBusBack) {
  WriteBankFile("Broken.bnk", Build("chunk DIDX 01 00 00 00 00 00 00 00 64 00 00 00\n", "Broken"));
  EXPECT_EQ(Banks().LoadBankWait("Broken.bnk", -1, nullptr), SN::SN_InvalidFile);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"take", "restore"}));
  EXPECT_EQ(buses_.defaultBus, taken_);
  EXPECT_EQ(taken_->RefCount(), 1u);
  ReleaseTaken();
}

TEST_P(BankBusDefaultsTest, ANewMasterBusClearsTheMasterBusesFirstAndOnlyOnce) {
  WriteBankFile("Master.bnk", Build("object 8 Master\n", "Master"));
  WriteBankFile("Again.bnk", Build("object 8 Master\n", "Again"));
  ASSERT_EQ(Banks().LoadBankWait("Master.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"take", "clear masters", "make master", "restore"}));
  // A bank naming a bus already loaded makes none and clears nothing.
  buses_.log.clear();
  ASSERT_EQ(Banks().LoadBankWait("Again.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"take", "restore"}));
  EXPECT_EQ(Banks().UnloadBankWait(Id("Again"), nullptr), SN::SN_Success);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Master"), nullptr), SN::SN_Success);
  ReleaseTaken();
}

TEST_P(BankBusDefaultsTest, AManagerKeepingItsBusesLeavesThemAlone) {
  Banks().SetKeepBuses(true);
  WriteBankFile("Master.bnk", Build("object 8 Master\nobject 20 Rumble\n", "Master"));
  ASSERT_EQ(Banks().LoadBankWait("Master.bnk", -1, nullptr), SN::SN_Success);
  EXPECT_EQ(buses_.log, (std::vector<std::string>{"make master"}));
  EXPECT_EQ(buses_.defaultBus, taken_);
  EXPECT_EQ(Banks().UnloadBankWait(Id("Master"), nullptr), SN::SN_Success);
  Banks().SetKeepBuses(false);
  ReleaseTaken();
}

INSTANTIATE_TEST_SUITE_P(BankThread, BankBusDefaultsTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Threaded" : "Caller"; });

}  // namespace
