// Memory the game lends the engine (bank images loaded in place, media copies it sets) taken back by
// the calls that end its use, and freed and overwritten the moment each returns, where a read after
// that is seen: a waited ClearBanks, and the calls that take something away made from inside a
// play's callbacks. With and without the audio thread.
#include <functional>
#include <memory>
#include <string>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace EndToEnd;

// A tone with two markers, heard once and looping, whose media the bank does not hold: the game's own
// copy is the only one.
const char kLentText[] =
    "platform Linux\n"
    "tone Lent 48000 1 120 330 prepared\n"
    "marker Lent 1 0 Start\n"
    "marker Lent 2 2048 Later\n"
    "sound Lent Lent Effects\n"
    "sound LentLoop Lent Effects loop 0\n"
    "action Play_Lent_Act 0x0403 Lent\n"
    "event Play_Lent Play_Lent_Act\n"
    "action Play_LentLoop_Act 0x0403 LentLoop\n"
    "event Play_LentLoop Play_LentLoop_Act\n";

class TakenBackMemoryTest : public SoundEndToEndTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override { settings_.useAudioThread = GetParam() ? 1 : 0; }

  static uint32_t RenderedFrames() {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    return g_pAudioMgr->CurrentFrame();
  }
  static uint32_t Voices() {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    return VoiceManager::ActiveInstanceCount();
  }
  // With the audio thread, the frame's messages are closed and the clock lets the thread render one
  // frame, waited for by its count.
  void Step(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if (!GetParam()) {
        ASSERT_EQ(OutputTest::RenderNullFrame(), SN_Success);
        continue;
      }
      const uint32_t rendered = RenderedFrames();
      ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
      OutputTest::ManualClock::AdvanceTicks((int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000);
      ASSERT_TRUE(OrvTest::WaitUntil(
          [&] {
            if (RenderedFrames() != rendered) return true;
            LowerEngine::WakeAudioThread();
            return false;
          },
          [&] { return "the audio thread rendering frame " + std::to_string(rendered); }));
    }
  }
  // Renders until no voice is left, at most `frames` frames.
  void StepUntilSilent(uint32_t frames) {
    for (uint32_t i = 0; i < frames && Voices(); ++i) Step(1);
    EXPECT_EQ(Voices(), 0u);
  }
  static std::unique_ptr<std::vector<uint8_t>> Image(const std::string& text, const char* name) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, name, bank, error)) << error;
    return std::make_unique<std::vector<uint8_t>>(Tools::WriteBank(bank));
  }
};

// Every round loads eight banks in place from images on the heap and plays looping voices of each;
// the waited clear returns, the images are overwritten and freed at once; the next round loads
// everything again, the game's Init bank by file, and plays it.
TEST_P(TakenBackMemoryTest, AWaitedClearReturnsOnceNothingReadsTheImagesOfItsBanks) {
  for (int round = 0; round < 10; ++round) {
    std::vector<std::unique_ptr<std::vector<uint8_t>>> images;
    for (int b = 0; b < 8; ++b) {
      const std::string n = std::to_string(b);
      images.push_back(Image("platform Linux\ntone Loop" + n + " 48000 1 200 " + std::to_string(220 + 110 * b) +
                                 "\nsound Loop" + n + " Loop" + n + " Effects loop 0\naction Play_Loop" + n +
                                 "_Act 0x0403 Loop" + n + "\nevent Play_Loop" + n + " Play_Loop" + n + "_Act\n",
                             ("Clear" + n).c_str()));
      uint32_t id = 0;
      ASSERT_EQ(SoundEngine::LoadBank(images.back()->data(), uint32_t(images.back()->size()), id), SN_Success)
          << "round " << round << " bank " << b << ": " << log_.Take();
      for (int voice = 0; voice < 3; ++voice)
        ASSERT_NE(SoundEngine::PostEvent(("Play_Loop" + n).c_str(), kObject), 0u);
    }
    Step(3);
    ASSERT_EQ(Voices(), 24u) << "round " << round;
    ASSERT_EQ(SoundEngine::ClearBanks(), SN_Success);
    EXPECT_EQ(g_pBankManager->BankCount(), 0u);
    for (auto& image : images) {
      std::fill(image->begin(), image->end(), uint8_t(0x5A));
      image.reset();
    }
    StepUntilSilent(4);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success) << "round " << round;
  }
}

// One play's callback of one kind makes one call that takes something away, once; what the call gave
// back (the media copy, or the bank image once its unload has called back) is overwritten and freed
// at once. Another voice of the same media loops beside the play throughout.
struct TakeAway {
  enum Call { UnsetMedia, UnloadBank, ClearBanks, StopAll, UnregisterObject, kCalls };
  Call call = UnsetMedia;
  uint32_t bankId = 0;
  std::unique_ptr<std::vector<uint8_t>> media, image;
  SnMediaItem item{};
  std::atomic<int> made{0};
  std::atomic<bool> unloaded{false};

  static void Unloaded(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<TakeAway*>(cookie);
    std::fill(self->image->begin(), self->image->end(), uint8_t(0x5A));
    self->image.reset();
    self->unloaded = true;
  }
  static void Callback(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<TakeAway*>(info->cookie);
    if (self->made.fetch_add(1) != 0) return;
    switch (self->call) {
      case UnsetMedia:
        EXPECT_EQ(SoundEngine::UnsetMedia(&self->item, 1), SN_Success);
        std::fill(self->media->begin(), self->media->end(), uint8_t(0x5A));
        self->media.reset();
        break;
      case UnloadBank:
        EXPECT_EQ(SoundEngine::UnloadBank(self->bankId, self->image->data(), &Unloaded, self), SN_Success);
        break;
      case ClearBanks: EXPECT_EQ(SoundEngine::ClearBanks(), SN_Failure); break;  // it would wait for itself
      case StopAll: EXPECT_EQ(SoundEngine::StopAll(), SN_Success); break;
      case UnregisterObject: EXPECT_EQ(SoundEngine::UnregisterGameObj(kObject), SN_Success); break;
      default: break;
    }
  }
};

TEST_P(TakenBackMemoryTest, ACallbackTakingSomethingAwayLeavesNothingReadingWhatTheGameFrees) {
  Tools::BankDescription lent;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(kLentText, "Lent", lent, error)) << error;
  const std::vector<uint8_t> bytes = lent.media.at(0).bytes;
  const uint32_t lentId = SoundEngine::GetIDFromString("Lent");
  for (uint32_t kind : {uint32_t(SnCallback_Duration), uint32_t(SnCallback_Marker), uint32_t(SnCallback_EndOfEvent)})
    for (int call = 0; call < TakeAway::kCalls; ++call) {
      SCOPED_TRACE("callback " + std::to_string(kind) + ", call " + std::to_string(call));
      TakeAway away;
      away.call = TakeAway::Call(call);
      away.media = std::make_unique<std::vector<uint8_t>>(bytes);
      away.item = {lentId, away.media->data(), uint32_t(bytes.size())};
      away.image = Image(kLentText, "Lent");
      // Set before the bank: the game's copy is the one handed out.
      ASSERT_EQ(SoundEngine::SetMedia(&away.item, 1), SN_Success);
      ASSERT_EQ(SoundEngine::LoadBank(away.image->data(), uint32_t(away.image->size()), away.bankId), SN_Success);
      ASSERT_NE(SoundEngine::PostEvent("Play_LentLoop", kObject), 0u);
      ASSERT_NE(SoundEngine::PostEvent("Play_Lent", kObject, kind, &TakeAway::Callback, &away), 0u);
      for (int frame = 0; frame < 12 && !away.made.load(); ++frame) Step(1);
      ASSERT_EQ(away.made.load(), 1);
      Step(2);
      // The media went: its voices, moved off the game's bytes, ended at the latest in the next pass.
      if (call == TakeAway::UnsetMedia) {
        EXPECT_EQ(Voices(), 0u);
      }
      // What is left is taken back from the game's thread, as the game ends the level.
      EXPECT_EQ(SoundEngine::StopAll(), SN_Success);
      StepUntilSilent(8);
      if (away.media) {
        EXPECT_EQ(SoundEngine::UnsetMedia(&away.item, 1), SN_Success);
        away.media.reset();
      }
      if (call == TakeAway::UnloadBank) {
        // The bank thread runs the unload when it comes to it; the audio thread then ends the bank.
        ASSERT_TRUE(OrvTest::WaitUntil(
            [&] {
              if (away.unloaded.load()) return true;
              Step(1);
              return false;
            },
            "the unload's callback"));
      } else {
        EXPECT_EQ(SoundEngine::UnloadBank(away.bankId, away.image->data()), SN_Success);
      }
      away.image.reset();
      EXPECT_EQ(g_pBankManager->MediaReferences(lentId), 0u);
      ASSERT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Success);
      Step(1);
    }
}

// One play's marker or duration callback makes one UnsetMedia of the game's copy of Lent, once,
// naming its size times `sizeNamed`; `before` and `after` run around it on the callback's thread.
struct LentUnsetInCallback {
  SnMediaItem item{};
  double sizeNamed = 1.0;
  std::function<void()> before, after;
  std::atomic<int> made{0};
  SNRESULT result = SN_Failure;

  static void Callback(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<LentUnsetInCallback*>(info->cookie);
    if (self->made.fetch_add(1) != 0) return;
    if (self->before) self->before();
    SnMediaItem named = self->item;
    named.size = uint32_t(double(named.size) * self->sizeNamed);
    self->result = SoundEngine::UnsetMedia(&named, 1);
    if (self->after) self->after();
  }
};

class LentUnsetTest : public TakenBackMemoryTest {
 public:
  // Sets the game's copy (the only one) into `item`, loads the bank, plays the loop and the play that
  // calls back for `kind`: its playing id.
  uint32_t PlayLent(SnMediaItem& item, uint32_t kind, SnCallbackFunc callback, void* cookie) {
    Tools::BankDescription lent;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(kLentText, "Lent", lent, error)) << error;
    media_ = std::make_unique<std::vector<uint8_t>>(lent.media.at(0).bytes);
    item = {SoundEngine::GetIDFromString("Lent"), media_->data(), uint32_t(media_->size())};
    image_ = Image(kLentText, "Lent");
    EXPECT_EQ(SoundEngine::SetMedia(&item, 1), SN_Success);
    EXPECT_EQ(SoundEngine::LoadBank(image_->data(), uint32_t(image_->size()), bankId_), SN_Success);
    EXPECT_NE(SoundEngine::PostEvent("Play_LentLoop", kObject), 0u);
    return SoundEngine::PostEvent("Play_Lent", kObject, kind, callback, cookie);
  }
  void StepUntil(const std::function<bool()>& came) {
    for (int frame = 0; frame < 12 && !came(); ++frame) Step(1);
    ASSERT_TRUE(came());
  }
  // Plays until the callback's UnsetMedia answered `result`; two frames on, `voices` play and the log
  // holds `said`. Then the level ends.
  void ExpectUnset(LentUnsetInCallback& unset, uint32_t kind, SNRESULT result, uint32_t voices, const char* said) {
    ASSERT_NE(PlayLent(unset.item, kind, &LentUnsetInCallback::Callback, &unset), 0u);
    StepUntil([&] { return unset.made.load() != 0; });
    EXPECT_EQ(unset.result, result);
    Step(2);
    EXPECT_EQ(Voices(), voices);
    EXPECT_NE(log_.Take().find(said), std::string::npos) << said;
    EndLevel(unset.item);
  }
  // The game's thread ends the level: its voices, its copy if it still lends it, the bank.
  void EndLevel(const SnMediaItem& item) {
    EXPECT_EQ(SoundEngine::StopAll(), SN_Success);
    StepUntilSilent(8);
    if (media_) {
      EXPECT_EQ(SoundEngine::UnsetMedia(&item, 1), SN_Success);
    }
    media_.reset();
    EXPECT_EQ(SoundEngine::UnloadBank(bankId_, image_->data()), SN_Success);
    image_.reset();
    EXPECT_EQ(g_pBankManager->MediaReferences(item.mediaId), 0u);
  }

 protected:
  std::unique_ptr<std::vector<uint8_t>> media_, image_;
  uint32_t bankId_ = 0;
};

// Without memory for the engine's own copies, a callback's UnsetMedia is refused as a whole: the
// voices of the running frame keep reading the game's copy, which stays set.
TEST_P(LentUnsetTest, AnUnsetMediaInACallbackWithoutMemoryForItsCopiesIsRefused) {
  for (uint32_t kind : {uint32_t(SnCallback_Duration), uint32_t(SnCallback_Marker)}) {
    SCOPED_TRACE("callback " + std::to_string(kind));
    LentUnsetInCallback unset;
    std::vector<void*> blocks;  // every block the default pool has left, while the call runs
    unset.before = [&] {
      for (size_t size = size_t(1) << 20; size >= 16; size /= 2)
        while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) blocks.push_back(block);
    };
    unset.after = [&] {
      for (void* block : blocks) MemoryMgr::Free(g_DefaultPoolId, block);
    };
    ExpectUnset(unset, kind, SN_InsufficientMemory, 2, "UnsetMedia inside an audio pass: no memory");
  }
}

// The copy the voices move onto is as long as the media set, whatever size the call names: they
// move, and end in the next pass.
TEST_P(LentUnsetTest, AnUnsetMediaInACallbackTakesBackTheSizeTheMediaWasSetWith) {
  for (double named : {2.0, 0.5, 0.0}) {
    SCOPED_TRACE("size named x" + std::to_string(named));
    LentUnsetInCallback unset;
    unset.sizeNamed = named;
    // The game overwrites and frees its copy at once.
    unset.after = [&] {
      std::fill(media_->begin(), media_->end(), uint8_t(0x5A));
      media_.reset();
    };
    ExpectUnset(unset, SnCallback_Marker, SN_Success, 0, "bytes are taken back");
  }
}

// With the ring full and the messages waiting aside at their bound, the end of the engine's copies
// cannot be posted: a callback's UnsetMedia is refused as a whole, not left with voices that never end.
TEST_P(LentUnsetTest, AnUnsetMediaInACallbackWhoseCopiesCannotBeEndedIsRefused) {
  LentUnsetInCallback unset;
  // Posts of the end's own size (a trigger no object has) until one is refused.
  unset.before = [] {
    for (uint32_t posts = 0; posts < (1u << 22) && SoundEngine::PostTrigger(0x5EEDu, kObject + 1) == SN_Success;)
      ++posts;
  };
  ExpectUnset(unset, SnCallback_Marker, SN_InsufficientMemory, 2, "no room to post the end");
}

// A marker callback cancels the cookie of a failed load's bank callback while that callback makes a
// call that takes the audio lock, or cancels play callbacks: neither waits for the other.
struct CrossedCancels {
  enum Call { UnsetMedia, CancelEventCallback, CancelEventCallbackCookie, kCalls };
  Call call = UnsetMedia;
  SnMediaItem item{};
  uint32_t playingId = 0;
  std::atomic<bool> inMarker{false}, bankStarted{false}, markerDone{false}, bankDone{false};

  static void Marker(uint32_t, SnCallbackInfo* info) {
    auto* self = static_cast<CrossedCancels*>(info->cookie);
    if (self->inMarker.exchange(true)) return;
    EXPECT_TRUE(OrvTest::WaitUntil([&] { return self->bankStarted.load(); }, "the bank callback"));
    EXPECT_EQ(SoundEngine::CancelBankCallbackCookie(self), SN_Success);
    self->markerDone = true;
  }
  static void Bank(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    auto* self = static_cast<CrossedCancels*>(cookie);
    self->bankStarted = true;
    EXPECT_TRUE(OrvTest::WaitUntil([&] { return self->inMarker.load(); }, "the marker callback"));
    switch (self->call) {
      case UnsetMedia: EXPECT_EQ(SoundEngine::UnsetMedia(&self->item, 1), SN_Success); break;
      case CancelEventCallback: SoundEngine::CancelEventCallback(self->playingId); break;
      default: SoundEngine::CancelEventCallbackCookie(self); break;
    }
    self->bankDone = true;
  }
};

TEST_P(LentUnsetTest, AMarkerCallbacksCancelAndABankCallbacksCallWaitForNeitherOther) {
  for (int call = 0; call < CrossedCancels::kCalls; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    CrossedCancels crossed;
    crossed.call = CrossedCancels::Call(call);
    crossed.playingId = PlayLent(crossed.item, SnCallback_Marker, &CrossedCancels::Marker, &crossed);
    uint32_t missing = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Missing.bnk", &CrossedCancels::Bank, &crossed, -1, missing), SN_Success);
    // Nothing is rendered before: the bank thread is in the callback before any pass begins.
    ASSERT_TRUE(OrvTest::WaitUntil([&] { return crossed.bankStarted.load(); }, "the failed load's callback"));
    StepUntil([&] { return crossed.markerDone.load(); });
    ASSERT_TRUE(OrvTest::WaitUntil([&] { return crossed.bankDone.load(); }, "the bank callback's call"));
    EndLevel(crossed.item);
  }
}

INSTANTIATE_TEST_SUITE_P(AudioThread, LentUnsetTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

INSTANTIATE_TEST_SUITE_P(AudioThread, TakenBackMemoryTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

// The same for a waited unload without the bank thread: the caller runs the unload itself, and with
// the audio thread on it waits for the bank's end there before it returns.
class TakenBackWithoutBankThreadTest : public TakenBackMemoryTest {
 public:
  void BeforeInit() override {
    TakenBackMemoryTest::BeforeInit();
    settings_.useBankThread = 0;
  }
};

TEST_P(TakenBackWithoutBankThreadTest, AWaitedUnloadReturnsOnceNothingReadsItsImage) {
  for (int round = 0; round < 4; ++round) {
    auto image = Image("platform Linux\ntone Held 48000 1 200 440\nsound Held Held Effects loop 0\n"
                       "action Play_Held_Act 0x0403 Held\nevent Play_Held Play_Held_Act\n",
                       "Unloaded");
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(image->data(), uint32_t(image->size()), id), SN_Success) << log_.Take();
    for (int voice = 0; voice < 4; ++voice) ASSERT_NE(SoundEngine::PostEvent("Play_Held", kObject), 0u);
    Step(3);
    ASSERT_EQ(Voices(), 4u) << "round " << round;
    ASSERT_EQ(SoundEngine::UnloadBank(id, image->data()), SN_Success);
    std::fill(image->begin(), image->end(), uint8_t(0x5A));
    image.reset();
    StepUntilSilent(4);
  }
}

INSTANTIATE_TEST_SUITE_P(AudioThread, TakenBackWithoutBankThreadTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

}  // namespace
