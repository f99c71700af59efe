// A seeded random walk over the joins of continuous plays: sample-accurate, delayed, cross-faded and
// trigger-rate sequences and random containers of every pair of the kinds of item the engine plays,
// in both orders, dynamic sequences of them, and MIDI notes that play them, with pauses, stops,
// seeks, moves of the game object and unloads of their bank thrown in. Every frame the memory sink is
// handed is finite and no louder than its voices could make it, far under full scale (the items are
// quiet enough that no honest sum comes near it); the sanitizers watch the rest. ORV_FUZZ_SEED picks another walk and ORV_RANDOM_STEPS makes it
// longer; a failure names the seed and the step.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "SoundEngine/SoundEngineSequenceApi.h"
#include "tests/SoundOutput/RandomWalkSupport.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class RandomChainEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;
namespace Seq = SN::SoundEngine::DynamicSequence;
using OutputTest::SinkLog;

constexpr uint32_t kToneCompany = 83;
constexpr uint32_t kToneKey = PluginKey(SnPluginType_Source, kToneCompany, 1);

// A source plug-in: a 0.5 sine of 750 Hz, mono at the rate offered, for three buffers.
class ToneParams final : public CopiedParams<ToneParams> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, const void*, uint32_t) override { return SN_Success; }
  SNRESULT SetParam(uint32_t, const void*, uint32_t) override { return SN_Success; }
};
class ToneGenerator final : public TestSource<ToneGenerator> {
 public:
  SNRESULT Init(ISnPluginMemAlloc*, ISnSourcePluginContext*, ISnPluginParam*, SnMediaFormat&) override {
    return SN_Success;
  }
  void Execute(SnVoiceBuffer& buffer) override {
    for (uint32_t i = 0; i < buffer.maxFrames; ++i, ++m_phase)
      buffer.Plane(0)[i] = float(0.5 * std::sin(double(m_phase) * 2.0 * 3.141592653589793 * 750.0 / 48000.0));
    buffer.validFrames = buffer.maxFrames;
    buffer.state = ++m_buffers >= 3 ? SN_NoMoreData : SN_DataReady;
  }

 private:
  uint32_t m_phase = 0;
  uint32_t m_buffers = 0;
};

// The kinds of item: a tone (its line's words after the name) and the sound's options, or a plug-in.
struct Kind {
  const char* name;
  const char* tone;  // null: the tone generator
  const char* options;
};
constexpr Kind kKinds[] = {
    {"Mono", "48000 1 30 440", ""},
    {"Pair", "44100 2 40 550", ""},
    {"Six", "32000 6 35 300", ""},
    {"Eight", "24000 8 25 700", ""},
    {"Low", "8000 1 50 200", ""},
    {"Adpcm", "16000 1 40 800 adpcm", ""},
    {"Float", "22050 1 30 660 float", ""},
    {"Streamed", "48000 1 60 500 loose", ""},
    {"Prefetched", "44100 2 60 400 loose", ""},
    {"Pitched", "48000 1 30 440", " pitch 700"},
    {"Placed", "48000 1 40 520", " 3d Flat"},
    {"Virtual", "48000 1 40 620", " 3d Far inaudible virtual"},
    {"Looping", "32000 1 20 900", " loop 3"},
    {"Blip", "48000 1 1 440", ""},
    {"Generated", nullptr, ""},
    {"Routed", "48000 1 30 580", ""},
};
// The bus a kind's sounds go out on: Routed's has a mix of its own.
const char* BusOf(uint32_t kind) { return std::string(kKinds[kind].name) == "Routed" ? "Routed" : "Effects"; }
constexpr uint32_t kKindCount = sizeof kKinds / sizeof kKinds[0];
// Each voice at -24 dB: eight channels of a 0.5 sine folded down onto the pair, and a few voices at
// once, stay well under full scale. The fold-down of 7.1 gives one side its front, half its centre
// and its two surrounds at most (0.5 x 3.2 of the 0.063 of -24 dB): no voice is louder than this.
constexpr const char* kQuiet = " volume -24";
constexpr float kLoudestVoice = 0.1f;

// The container of the pair (first, second): its name and its play event's.
std::string PairName(uint32_t first, uint32_t second) {
  return std::string("P_") + kKinds[first].name + "_" + kKinds[second].name;
}

class RandomChainTest : public OutputTest::OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    std::filesystem::copy_file("Sound/Banks/Init.bnk", Path("Init.bnk"));
    InitWithMemorySink();
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kObject), SN_Success);
    ASSERT_EQ(SoundEngine::RegisterPlugin(
                  SnPluginType_Source, kToneCompany, 1,
                  [](ISnPluginMemAlloc* allocator) -> ISnPlugin* { return PluginNew<ToneGenerator>(allocator); },
                  [](ISnPluginMemAlloc* allocator) -> ISnPluginParam* { return PluginNew<ToneParams>(allocator); }),
              SN_Success);
    seed_ = RandomWalk::Seed();
    steps_ = RandomWalk::Steps(700);
    random_.seed(seed_);
  }
  void TearDown() override {
    for (uint32_t id : sequences_) Seq::Close(id);
    sequences_.clear();
    OutputFixture::TearDown();
  }

  uint32_t Below(uint32_t n) { return uint32_t(random_() % n); }
  // What the walk did, its last steps kept for the report of a failure.
  void Note(const std::string& what) { history_.Note(step_, what); }
  std::string History() const { return history_.Text(); }

  // A bank of every pair as a continuous container with a transition drawn for it, each child a
  // sound of its own (a node has one parent), and each kind's sound for the dynamic sequences.
  std::string BankText() {
    std::string text = "platform Linux\n"
                       "attenuation Flat\nattuse Flat 0 0\nattcurve Flat 0 0\n"
                       "attpoint Flat 0 0 0 4\nattpoint Flat 0 100 0 4\n"
                       "attenuation Far\nattuse Far 0 0\nattcurve Far 0 0\n"
                       "attpoint Far 0 0 0 4\nattpoint Far 0 50 -200 4\n"
                       "bus Routed Effects ownmix busvolume -3\n";
    text += "sourceplugin Generator " + std::to_string(kToneKey) + "\n";
    auto sound = [&](const std::string& name, uint32_t kind) {
      text += "sound " + name + " " + (kKinds[kind].tone ? std::string("T") + kKinds[kind].name : "Generator") +
              " " + BusOf(kind) + kQuiet + kKinds[kind].options + "\n";
    };
    for (uint32_t k = 0; k < kKindCount; ++k) {
      if (kKinds[k].tone) text += std::string("tone T") + kKinds[k].name + " " + kKinds[k].tone + "\n";
      if (std::string(kKinds[k].name) == "Prefetched") text += "prefetch TPrefetched 4096\n";
      sound(std::string("S") + kKinds[k].name, k);
    }
    for (uint32_t a = 0; a < kKindCount; ++a)
      for (uint32_t b = 0; b < kKindCount; ++b) {
        const std::string name = PairName(a, b);
        sound(name + "_a", a);
        sound(name + "_b", b);
        static constexpr uint32_t kModes[] = {4, 4, 3, 1, 2, 5};
        const uint32_t mode = kModes[Below(6)];
        const uint32_t ms = mode == 4 ? 0 : mode == 3 ? Below(30) : 5 + Below(40);
        text += (Below(4) ? "sequence " : "random ") + name + " Effects " + name + "_a " + name + "_b continuous" +
                (Below(3) ? "" : " loop 2") + " transition " + std::to_string(mode) + " " + std::to_string(ms) +
                "\naction " + name + "_Act 0x0403 " + name + "\nevent " + name + " " + name + "_Act\n";
      }
    return text;
  }

  // The bank made anew from a fresh draw, its loose files beside it, loaded from memory it keeps.
  void LoadPairs() {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(BankText(), "Pairs", bank, error)) << error;
    for (const Tools::BankMedia& media : bank.media)
      if (media.loose) {
        std::ofstream file(Path(std::to_string(media.id) + ".snm"), std::ios::binary);
        file.write(reinterpret_cast<const char*>(media.bytes.data()), std::streamsize(media.bytes.size()));
      }
    image_ = Tools::WriteBank(bank);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(image_.data(), uint32_t(image_.size()), id), SN_Success) << log_.Take();
  }

  // `frames` frames rendered, each checked as the sink got it.
  void Frames(uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
      const uint32_t before = VoiceManager::ActiveInstanceCount();
      Render();
      // Every voice there was or is in the frame at its loudest, and one more for the ends of a ramp.
      const float most = std::min(1.0f, kLoudestVoice * float(std::max(before, VoiceManager::ActiveInstanceCount()) + 1));
      std::vector<std::vector<float>> frames;
      frames.swap(SinkLog().frames);
      for (const std::vector<float>& frame : frames)
        for (size_t s = 0; s < frame.size(); ++s)
          ASSERT_TRUE(std::isfinite(frame[s]) && std::fabs(frame[s]) <= most)
              << "sample " << s << " is " << frame[s] << " (seed " << seed_ << ", step " << step_ << ") after"
              << History();
    }
  }

  // Posts the container of a pair: every pair in turn, both orders, then pairs at random.
  void PlayPair() {
    const uint32_t pair = next_ < kKindCount * kKindCount ? next_++ : Below(kKindCount * kKindCount);
    posted_ = PairName(pair / kKindCount, pair % kKindCount);
    Note("post " + posted_);
    EXPECT_NE(SoundEngine::PostEvent(posted_.c_str(), kObject), 0u);
  }
  // A dynamic sequence of two to four kinds, some after a wait.
  void PlayDynamic() {
    const uint32_t id = Seq::Open(kObject);
    if (!id) return;
    sequences_.push_back(id);
    Seq::Play(id);
    if (Seq::Playlist* playlist = Seq::LockPlaylist(id)) {
      for (uint32_t n = 2 + Below(3); n; --n) {
        const std::string item = std::string("S") + kKinds[Below(kKindCount)].name;
        const uint32_t waitMs = Below(3) ? 0 : Below(40);
        Note("dynamic sequence " + std::to_string(id) + " plays " + item + " after " + std::to_string(waitMs) + " ms");
        playlist->Enqueue(SoundEngine::GetIDFromString(item.c_str()), waitMs);
      }
      Seq::UnlockPlaylist(id);
    }
  }
  // A note on a MIDI target on a pair's container, its end a little later; both played as the engine's
  // MIDI playback advances over the next frames.
  void PlayNote() {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    const uint32_t pair = Below(kKindCount * kKindCount);
    const std::string name = PairName(pair / kKindCount, pair % kKindCount);
    Note("a note plays " + name);
    CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString(name.c_str()), false);
    if (!node) return;
    CSnMidiEventTarget* target = CSnMidiEventTarget::Create(700 + step_, g_pRegistryMgr->Find(kObject), 0, node);
    node->Release();
    if (!target) return;
    CSnMidiPlaybackContext context(EngineMidiPlayback());
    const uint8_t key = uint8_t(40 + Below(40));
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOn, 0, key, 100}, Below(kFrame));
    context.Schedule(*target, SnMidiEvent{SnMidiEvent::kNoteOff, 0, key, 0}, kFrame + Below(4 * kFrame));
    for (uint32_t frame = 0; frame < 6; ++frame) {
      context.Advance(kFrame);
      Frames(1);
    }
    target->Release();
  }
  // Pause, stop or seek the last container posted, move the object near or far (where the virtual
  // kind is inaudible), or take the bank away under the voices and bring it back.
  void Disturb() {
    // One time in eight the last choice takes the bank away; else it leaves the walk as it is.
    const uint32_t what = Below(7) == 6 && !Below(8) ? 6 : Below(6);
    static const char* const kWhat[] = {"pause and resume", "stop", "seek to a fraction", "seek to a time",
                                        "move the object", "pause, resume or stop a dynamic sequence", "unload"};
    Note(std::string(kWhat[what]) + " (" + posted_ + ")");
    switch (what) {
      case 0:
        SoundEngine::ExecuteActionOnEvent(posted_.c_str(), SnActionOnEvent_Pause, kObject, int32_t(Below(30)));
        Frames(1 + Below(3));
        SoundEngine::ExecuteActionOnEvent(posted_.c_str(), SnActionOnEvent_Resume, kObject, int32_t(Below(30)));
        break;
      case 1:
        SoundEngine::ExecuteActionOnEvent(posted_.c_str(), SnActionOnEvent_Stop, kObject, int32_t(Below(30)));
        break;
      case 2:
        SoundEngine::SeekOnEvent(posted_.c_str(), kObject, float(Below(100)) / 100.0f, Below(2) != 0);
        break;
      case 3:
        SoundEngine::SeekOnEvent(posted_.c_str(), kObject, int32_t(Below(60)), false);
        break;
      case 4: {
        const float distance = Below(2) ? 2.0f : 80.0f;
        const SnSoundPosition position{{distance * 0.6f, 0.0f, distance * 0.8f}, {0.0f, 0.0f, -1.0f}};
        SoundEngine::SetPosition(kObject, position);
        break;
      }
      case 5:
        if (!sequences_.empty()) {
          const uint32_t id = sequences_[Below(uint32_t(sequences_.size()))];
          Below(2) ? Seq::Pause(id) : Seq::Resume(id);
          if (!Below(4)) Seq::Stop(id);
        }
        break;
      default:
        EXPECT_EQ(SoundEngine::UnloadBank("Pairs", image_.data()), SN_Success);
        LoadPairs();
        break;
    }
  }

  // The walk: each step plays or disturbs, then renders a frame or three.
  void Walk() {
    LoadPairs();
    for (step_ = 0; step_ < steps_ && !HasFatalFailure(); ++step_) {
      const uint32_t roll = Below(20);
      if (roll < 9)
        PlayPair();
      else if (roll < 11)
        PlayDynamic();
      else if (roll < 12)
        PlayNote();
      else
        Disturb();
      Frames(1 + Below(3));
      if (sequences_.size() > 4) {
        Seq::Close(sequences_.front());
        sequences_.erase(sequences_.begin());
      }
    }
    // Everything stopped, played out and the bank taken away: nothing is left playing.
    for (uint32_t id : sequences_) Seq::Close(id);
    sequences_.clear();
    SoundEngine::StopAll();
    for (int i = 0; i < 400 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "seed " << seed_;
    if (!RandomWalk::StepsGiven()) {
      EXPECT_GE(next_, kKindCount * kKindCount) << "the walk leaves pairs out";
    }
    EXPECT_EQ(SoundEngine::UnloadBank("Pairs", image_.data()), SN_Success);
    Frames(2);
  }

  RandomWalk::History history_;
  std::mt19937 random_;
  uint32_t seed_ = 1;
  uint32_t steps_ = 0;
  uint32_t step_ = 0;
  uint32_t next_ = 0;
  std::string posted_ = "P_Mono_Mono";
  std::vector<uint32_t> sequences_;
  std::vector<uint8_t> image_;
};

TEST_F(RandomChainTest, EveryFrameOfARandomWalkOverJoinsIsFiniteAndWithinFullScale) { Walk(); }

// What the walk found, each as a case of its own.

// A dynamic sequence paused while its second item waits 40 ms after the first, then stopped: a paused
// voice runs no frames, so the waiting one never came due and lived on. Paused, both stay; stopped,
// every voice ends.
TEST_F(RandomChainEndToEndTest, ADynamicSequenceStoppedWhilePausedBeforeItsNextItemEndsEveryVoice) {
  LoadOwnBank("platform Linux\ntone ToneA 48000 1 30 1000\ntone ToneB 48000 1 100 500\n"
              "sound sA ToneA Effects\nsound sB ToneB Effects\n");
  Frames(1);
  const uint32_t id = PlayDynamicSequence(kObject, {{"sA", 0}, {"sB", 40}});
  ASSERT_NE(id, 0u);
  Frames(2);
  ASSERT_EQ(Seq::Pause(id), SN_Success);
  Frames(4);
  EXPECT_NE(VoiceManager::ActiveInstanceCount(), 0u);
  ASSERT_EQ(Seq::Stop(id), SN_Success);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_EQ(Seq::Close(id), SN_Success);
}

}  // namespace
