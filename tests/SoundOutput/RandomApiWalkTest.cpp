// A seeded random walk over the game's calls into the sound engine, the companion of the chain walk:
// game threads post events with every kind of callback, stop, seek, pause and resume them at every
// scope, move and remove game objects, set game parameters, switches and states, play dynamic
// sequences and MIDI, load, unload, prepare and clear banks from files and from the game's memory,
// and lend and take back media, while the engine renders. The game threads take no lock of their own
// around the engine's calls: two of them load, unload, prepare and clear the same banks at once. Each
// walk runs with and without the bank thread and with and without the audio thread (then the game's
// loop renders with RenderAudio), and in phases the game holds the default pool near full. Play, bus
// and bank callbacks call back into the engine (a bounded depth of calls): every call, the cancels of
// every kind, RenderAudio and Term among them. The game's memory is freed or overwritten the moment
// the call that takes it back returns; floods post past the ring's room. Every frame the sink gets is
// finite and within full scale, every waited call returns within a deadline (else the watchdog names
// the thread and the call it is in), every end-of-event callback comes once for each playing id
// posted, none after its cancel, every accepted bank call calls back once, and the buses known to call
// back do. ORV_FUZZ_SEED picks another walk, ORV_RANDOM_STEPS makes each game thread's walk longer; a
// failure names the seed, the mode and the last steps. ORV_WALK_LEAVE_OUT leaves out of the callbacks
// the calls whose names hold one of its ';'-separated parts (e.g. "RenderAudio;with a callback"), so
// that a walk can look past a fault it keeps finding first.
// Bank calls share a few cookies (null among them), as a game's sound system does: each call is known
// by a callback of its own, and a cancel covers the calls made before it, not those made after. The
// calls on the image take their places in one order as they are made (its owner's and those its
// callbacks make), and every answer about it is checked against the state the calls ahead leave.
// Without the audio thread two game threads render; a game object registered while the pool is held
// full must play once the registration answered 1. A call runs no command queued after its own, a
// load's or a preparation's callback comes on the thread the table names, chains of calls from bank
// callbacks run deeper than a stack would hold nested, a chain a marker's callback begins in a pass
// never runs inside a game thread's load, and each walk ends with Term (from two threads in some, in
// some while game threads are inside bank calls, their callbacks and cancels) while a game thread
// holds a playlist, then with Init beside calls and another Term.
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

#include "MemoryMgr/MemoryMgr.h"
#include "MusicEngine/MusicEngine.h"
#include "Platform/ProgramStop.h"
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/Output/AudioThread.h"
#include "SoundEngine/SoundEngineDialogueApi.h"
#include "tests/SoundOutput/RandomWalkSupport.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;
namespace Seq = SN::SoundEngine::DynamicSequence;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kThreads = 3;
constexpr uint32_t kObjects = 4;
constexpr uint32_t kFirstObject = 100;
constexpr uint32_t kMaxCallbackDepth = 2;
// The command ring's room: enough that the walk's own calls never fill it while a slow pass runs, so
// that only a flood does.
constexpr uint32_t kRingBytes = 131072;
// Longer than any honest wait of the walk with no call returning anywhere and none of its threads at
// work (all asleep on locks and events, none waiting for a processor); a hang ends the run by then.
// Likewise for one thread's call while the renderers keep returning: see Held.
constexpr auto kDeadline = std::chrono::seconds(20);
// A call that others' calls keep moving around but that never returns itself (work that outruns its
// runner) ends the run once the walk has spent this much processor time (all its threads) since the
// call began: a loaded machine gives the walk less of it, and the call as much longer. Without the
// engine's threads a RenderAudio runs its passes' callbacks, and the calls they make: 4 s of a 6 s
// walk under the thread checker on a quiet machine.
constexpr auto kLongestCall = std::chrono::seconds(120);
constexpr uint32_t kBanks = 2;
const char* const kBankPrefix[kBanks] = {"F", "M"};  // loaded from its file, from the game's memory
// The events each bank has, played as themselves.
const char* const kPlays[] = {"Plain", "Marked", "Looped", "Placed", "Loose", "Game", "Late", "Blip",
                              "Switch", "Seq", "Moody", "Wobbly", "Music", "Fence"};
constexpr uint32_t kPlayCount = sizeof kPlays / sizeof kPlays[0];
// The events that pause, resume and stop at the other scopes.
const char* const kScopes[] = {"PauseAll", "ResumeAll", "PauseObject", "ResumeObject", "PausePlain",
                               "ResumePlain", "PauseOthers", "ResumeOthers", "StopObject"};
constexpr uint32_t kScopeCount = sizeof kScopes / sizeof kScopes[0];

constexpr uint32_t kPads = 400;
// One bank's text: every name begins with its prefix.
std::string BankText(const std::string& p) {
  std::string t = "platform Linux\n"
                  "attenuation " + p + "Flat\nattuse " + p + "Flat 0 0\nattcurve " + p + "Flat 0 0\n"
                  "attpoint " + p + "Flat 0 0 0 4\nattpoint " + p + "Flat 0 100 0 4\n"
                  "stateprops " + p + "Hushed volume=-6\n"
                  "parameter " + p + "Speed 0 0 0 0 0\n"
                  "tone " + p + "TPlain 48000 1 120 440\n"
                  "tone " + p + "TMarked 48000 1 200 550\nmarker " + p + "TMarked 1 2400 one\nmarker " + p +
                  "TMarked 2 7200 two\n"
                  "tone " + p + "TLooped 32000 2 50 660\n"
                  "tone " + p + "TLoose 48000 1 250 500 loose\n"
                  "tone " + p + "TGame 48000 1 150 700 prepared\n"
                  "tone " + p + "TBlip 48000 1 2 300\n";
  auto sound = [&](const std::string& name, const std::string& tone, const std::string& options = "") {
    t += "sound " + p + name + " " + p + tone + " Effects volume -40" + options + "\n";
  };
  sound("Plain", "TPlain");
  sound("Marked", "TMarked");
  sound("Looped", "TLooped", " loop 0");
  sound("Placed", "TPlain", " 3d " + p + "Flat");
  sound("Loose", "TLoose");
  sound("Game", "TGame");
  sound("Late", "TPlain", " delay 40");
  sound("Blip", "TBlip");
  sound("SwA", "TPlain");
  sound("SwB", "TMarked");
  t += "switch " + p + "Switch Effects switch " + p + "Ground A A=" + p + "SwA B=" + p + "SwB\n";
  sound("SeqA", "TBlip");
  sound("SeqB", "TPlain");
  t += "sequence " + p + "Seq Effects " + p + "SeqA " + p + "SeqB continuous transition 1 20\n";
  sound("Moody", "TPlain");
  // The game's state group, which the Init bank declares.
  t += "statemap " + p + "Moody MusicMood Calm=" + p + "Hushed\n";
  t += "rtpc " + p + "Plain volume " + p + "Speed 0:-12 100:0\n";
  t += "modulator lfo " + p + "Wobble 0=2 2=50 4=2 5=1\n";
  sound("Wobbly", "TPlain");
  t += "rtpc " + p + "Wobbly volume modulator " + p + "Wobble 0:0 1:-6\n";
  sound("Note", "TPlain");
  // Played on Voices only by the bus callbacks' check.
  // The bank loaded from the game's memory has many more media and sounds, never played: the end of its
  // record reads its media index and lets go of its objects long enough for a thread that looks at
  // the end too early to be caught.
  for (uint32_t pad = 0; p == "M" && pad < kPads; ++pad) {
    t += "tone " + p + "TPad" + std::to_string(pad) + " 48000 1 1 " + std::to_string(200 + pad) + "\n";
    sound("Pad" + std::to_string(pad), "TPad" + std::to_string(pad));
  }
  t += "sound " + p + "Voiced " + p + "TLooped Voices volume -40 loop 0\n"
       "action " + p + "Play_Voiced_Act 0x0403 " + p + "Voiced\nevent " + p + "Play_Voiced " + p + "Play_Voiced_Act\n";
  t += "miditrack " + p + "Notes 480 120 1000 target:" + p + "Note note:0:0:60:100:240 note:480:0:64:100:240\n"
       "segment " + p + "Segment 120 4 4 1000 0 1000 track:" + p + "Notes bus:Effects\n"
       "musicevent " + p + "Play_Music " + p + "Segment\n";
  t += "dialogue " + p + "Talk 100 0 " + p + "Speaker\n"
       "dialoguepath " + p + "Talk " + p + "Plain 100 100 " + p + "Hero\n"
       "dialoguepath " + p + "Talk " + p + "Marked 100 100 *\n";
  for (const char* play : kPlays) {
    const std::string name(play);
    if (name == "Music") continue;
    if (name == "Fence") {
      t += "event " + p + "Play_Fence\n";
      continue;
    }
    t += "action " + p + "Play_" + name + "_Act 0x0403 " + p + name + "\nevent " + p + "Play_" + name + " " + p +
         "Play_" + name + "_Act\n";
  }
  const std::pair<const char*, std::string> scopes[] = {
      {"PauseAll", "0x0204 0"},           {"ResumeAll", "0x0304 0"},
      {"PauseObject", "0x0205 0"},        {"ResumeObject", "0x0305 0"},
      {"PausePlain", "0x0202 " + p + "Plain"}, {"ResumePlain", "0x0302 " + p + "Plain"},
      {"PauseOthers", "0x0208 0 except " + p + "Looped"}, {"ResumeOthers", "0x0308 0 except " + p + "Looped"},
      {"StopObject", "0x0105 0"}};
  for (const auto& [name, action] : scopes)
    t += "action " + p + name + "_Act " + action + "\nevent " + p + name + " " + p + name + "_Act\n";
  return t;
}

// The positions the walk gives a game object at most. Set as several sources, a listener hears them
// added up: one voice on the object sounds from each of them.
constexpr uint32_t kMostPositions = 3;
// Each voice's loudest: a 0.5 sine at -40 dB (0.005) from each of the object's positions, each panned
// at most wholly into one channel, with room for a resampler's overshoot; no honest sum of the voices a
// flood plays comes near full scale.
constexpr float kLoudestWalkVoice = 0.005f * kMostPositions * 1.1f;

// A plug-in sink on the audio thread that checks each frame as it is handed and remembers the first
// one that is not finite or goes past full scale.
struct FrameWatch {
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> ends{0};  // frames ended, silent ones too
  std::atomic<bool> bad{false};
};
void BadFrame(const std::string& what);
void InitMakesItsSink();
FrameWatch& Watch() {
  static FrameWatch watch;
  return watch;
}
class CheckingSink final : public SN::CSnSink {
 public:
  CheckingSink() : CSnSink(0) {}
  static SN::CSnSink* Make(int32_t) {
    InitMakesItsSink();
    return new CheckingSink;
  }
  void Term(SN::SnMemPoolId) override { delete this; }
  SN::SNRESULT Init(SN::SnMemPoolId, SN::CSnOutputDevice*, SN::SnSinkFormat& format) override {
    format.channelConfig = SN::StandardConfig(SN::kMaskStereo);
    m_channelConfig = format.channelConfig;
    return AllocFrameBuffer(format.channelConfig);
  }
  SN::SNRESULT Play() override { return SN::SN_Success; }
  SN::SNRESULT IsDataNeeded(uint32_t& frames) override {
    frames = 1;
    return SN::SN_Success;
  }
  // On the audio thread, in its pass: the voices of the frame are the ones it began with or ends with.
  void WriteFrame() override {
    const uint32_t voices = SN::VoiceManager::ActiveInstanceCount();
    const float most = std::min(1.0f, kLoudestWalkVoice * float(std::max(voices, m_voices) + 1));
    m_voices = voices;
    const uint32_t count = SN::ChannelCount(m_frameBuffer.channelConfig) * m_frameBuffer.validFrames;
    const uint64_t frame = Watch().frames.fetch_add(1);
    Watch().ends.fetch_add(1);
    for (uint32_t s = 0; s < count; ++s) {
      const float sample = m_frameBuffer.samples[s];
      if (std::isfinite(sample) && std::fabs(sample) <= most) continue;
      if (!Watch().bad.exchange(true))
        BadFrame("frame " + std::to_string(frame) + " sample " + std::to_string(s) + " is " + std::to_string(sample) +
                 ", louder than " + std::to_string(voices) + " voices make");
      return;
    }
  }
  void WriteSilence() override { Watch().ends.fetch_add(1); }
  bool IsStarved() override { return false; }
  void ResetStarved() override {}
  uint32_t GetWaitTime() override { return 1; }

 private:
  uint32_t m_voices = 0;
};

// A play the walk posted (or a dynamic sequence it opened), its callbacks' cookie. A cancel made on a
// game thread waits for the play's callbacks running elsewhere, so none may come after it (`cancelSure`);
// one made inside a callback on the audio thread does not (it would wait for itself), so it only
// excuses the end-of-event callback (`cancelled`).
struct Play {
  std::atomic<uint32_t> playingId{0};
  std::atomic<uint32_t> ends{0};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> cancelSure{false};
  std::atomic<uint64_t> runningOn{0};  // the thread a callback of the play runs on, while it runs
  bool wantsEnd = false;
  uint32_t depth = 0;
  std::string what;
};
// The calls callbacks are in on one thread, outermost first (a call's callback may call again), and
// the bank callbacks begun on it. The threads callbacks run on each have one.
struct CallbackPlace {
  static constexpr uint32_t kDepth = 4;
  std::atomic<uint64_t> thread{0};
  std::string name;  // written once, by its thread, before `depth` first grows
  std::atomic<uint32_t> depth{0};
  std::atomic<const char*> origin[kDepth] = {};
  std::atomic<const char*> call[kDepth] = {};
  std::atomic<int64_t> since[kDepth] = {};
  std::atomic<uint32_t> bankBegun{0};
};
constexpr uint32_t kPlaces = 8;
// A bank command with a callback: the callback comes once unless its cookie was cancelled after the
// call. A cancel that waits (on a game thread outside a pass) lets none start after it returns nor
// still run; one that does not (in a pass, on the bank thread) lets only a callback another thread had
// begun end after it: the first that thread begins once the cancel returned.
struct BankCall {
  std::atomic<uint32_t> calls{0};
  std::atomic<bool> accepted{false};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> cancelSure{false};
  std::atomic<std::vector<uint8_t>*> image{nullptr};  // freed by the callback: the engine let go of it
  std::atomic<int32_t> answer{-1};                     // the result its callback gave
  std::atomic<uint64_t> runningOn{0};                  // the thread its callback runs on, while it runs
  void* cookie = nullptr;                              // one of the shared cookies, or the call itself
  SnBankCallback callback = nullptr;
  int32_t slot = -1;  // the callback of its own it was given, with a shared cookie
  bool ordered = false;     // a load or a preparation: its callback ends its command
  uint64_t begun = 0;       // the walk's bank calls begun once it was
  uint64_t madeOn = 0;      // the thread that made it
  bool gameCall = false;    // made on a game thread (also inside a bank callback there)
  // The first cancel made where it does not wait: its thread's place, and the bank callbacks each place
  // had begun when it returned (under the walk's cancel lock).
  const CallbackPlace* passCancelAt = nullptr;
  uint32_t begunAtCancel[kPlaces] = {};
  uint32_t depth = 0;
  std::string what;
};
// A call on the bank loaded from the image, in the order the calls on it were made: a waited call's
// answer is what it returned; one with a callback answers in its callback, or was refused when it
// returned anything but 1 before calling back. A clear takes its turn somewhere between its begin and
// its end, a call somewhere between being made and returning: the clears ended when the call before
// was made, against those begun once this one returned, tell whether one may have come between them.
struct ImageCall {
  bool load = false;
  BankCall* call = nullptr;
  std::atomic<int32_t> returned{-1};
  uint32_t clearsEnded = 0;  // when it was made
  std::atomic<uint32_t> clearsBegun{0};  // once it returned
  std::string what;
};
// Where the registration of a game thread's spare object stands: the step of a registration answered
// 1 while the pool was held near full (-1: none), and what a post on it heard at the walk's end.
struct Spare {
  std::atomic<int64_t> registeredAt{-1};
  std::atomic<bool> played{false};
  std::atomic<bool> ended{false};
};
// A copy of a bank's prepared tone the game lends with SetMedia. Its lock is the copy's owner: taken
// only by trying, so that no thread waits for another's engine call.
struct MediaSlot {
  std::mutex lock;
  std::unique_ptr<std::vector<uint8_t>> copy;
  uint32_t mediaId = 0;
};

// The buses of the Init bank the walk registers its bus callbacks on, and those of them known to call
// back every frame while a voice plays through them (the end of the walk demands their calls; the
// others are counted). Voices mixes in a stage of its own. Effects has none (no effect, mixer,
// channel configuration or override, and a parent): its voices mix straight into MasterBus's stage,
// so its bus callbacks never come.
constexpr uint32_t kBuses = 3;
const char* const kBusNames[kBuses] = {"MasterBus", "Voices", "Effects"};
constexpr bool kBusCallsBack[kBuses] = {true, true, false};

// The kinds of callback a call is made from.
enum class Origin : uint32_t { Play, Bus, Bank };
const char* OriginName(Origin origin) {
  return origin == Origin::Play ? "a play's callback" : origin == Origin::Bus ? "a bus callback" : "a bank callback";
}

// What each call made from a callback is, named for the watchdog and the history.
const char* const kCallbackCalls[] = {
    "PostEvent",
    "ExecuteActionOnEvent",
    "SeekOnEvent",
    "StopPlayingID",
    "SetRTPCValue",
    "SetSwitch",
    "SetState",
    "SetPosition",
    "CancelEventCallback",
    "CancelEventCallbackCookie",
    "CancelBankCallbackCookie",
    "a bus callback unregistered and registered again",
    "DynamicSequence::Break or Stop",
    "DynamicSequence::LockPlaylist and UnlockPlaylist",
    "LoadBank(\"WalkF.bnk\") with a callback",
    "LoadBank(\"WalkF.bnk\"), waited",
    "PrepareEvent with a callback",
    "UnloadBank(\"WalkF.bnk\") with a callback",
    "SetMedia",
    "GetSourcePlayPosition",
    "PostTrigger",
    "UnsetMedia",
    "StopAll",
    "UnregisterGameObj and RegisterGameObj",
    "UnloadBank(\"WalkF.bnk\"), waited",
    "RenderAudio",
    "Term",
    "ClearBanks",
    "LoadBank(image) with a callback",
    "UnloadBank(image) with a callback",
    "a missing bank retried from its callback",
};
constexpr uint32_t kCallbackCallCount = sizeof kCallbackCalls / sizeof kCallbackCalls[0];

// Whether ORV_WALK_LEAVE_OUT names a part of the call `name`.
bool LeftOut(const char* name) {
  const char* parts = std::getenv("ORV_WALK_LEAVE_OUT");
  if (!parts) return false;
  const std::string all(parts), call(name);
  for (size_t begin = 0; begin <= all.size();) {
    const size_t end = std::min(all.find(';', begin), all.size());
    if (end > begin && call.find(all.substr(begin, end - begin)) != std::string::npos) return true;
    begin = end + 1;
  }
  return false;
}

// The sizes UnsetMedia is given: the one SetMedia had, none, half and twice it.
uint32_t UnsetSize(uint32_t size, uint32_t roll) {
  switch (roll % 8) {
    case 0: return 0;
    case 1: return size / 2;
    case 2: return size * 2;
    default: return size;
  }
}

class RandomApiWalkTest;
std::atomic<RandomApiWalkTest*> g_walk{nullptr};

class RandomApiWalkTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    g_walk = this;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's report ends the run: it names the seed and the steps before it too.
    __sanitizer_set_death_callback([] {
      if (RandomApiWalkTest* walk = g_walk.load())
        std::fprintf(stderr, "(%s) after%s\n", walk->Mode().c_str(), walk->history_.Text().c_str());
    });
#endif
    // So does a call of a pure virtual method (a voice freed inside its frame).
    previousTerminate_ = std::set_terminate([] {
      if (RandomApiWalkTest* walk = g_walk.load())
        std::fprintf(stderr, "terminated (%s) after%s\n", walk->Mode().c_str(), walk->history_.Text().c_str());
      std::abort();
    });
    seed_ = RandomWalk::Seed();
    steps_ = RandomWalk::Steps(kSteps);
    generation_ = ++g_generation;
    std::filesystem::copy_file("Sound/Banks/Init.bnk", Path("Init.bnk"));
    for (uint32_t b = 0; b < kBanks; ++b) {
      std::string error;
      ASSERT_TRUE(Tools::ParseBankText(BankText(kBankPrefix[b]), std::string("Walk") + kBankPrefix[b], banks_[b],
                                       error))
          << error;
      for (const Tools::BankMedia& media : banks_[b].media)
        if (media.loose) {
          std::ofstream file(Path(std::to_string(media.id) + ".snm"), std::ios::binary);
          file.write(reinterpret_cast<const char*>(media.bytes.data()), std::streamsize(media.bytes.size()));
        }
      images_[b] = Tools::WriteBank(banks_[b]);
      const uint32_t game = SoundEngine::GetIDFromString((std::string(kBankPrefix[b]) + "TGame").c_str());
      for (const Tools::BankMedia& media : banks_[b].media)
        if (media.id == game) gameMedia_[b] = media.bytes;
      ASSERT_FALSE(gameMedia_[b].empty());
      media_[b].mediaId = game;
    }
    {
      std::ofstream file(Path("WalkF.bnk"), std::ios::binary);
      file.write(reinterpret_cast<const char*>(images_[0].data()), std::streamsize(images_[0].size()));
    }
    // The engine on a sink that checks every frame; the real clock, as a game has.
    Platform::SetTickSource(nullptr);
    Watch().frames = 0;
    Watch().ends = 0;
    Watch().bad = false;
    settings_.useAudioThread = audioThread_ ? 1 : 0;
    settings_.useBankThread = bankThread_ ? 1 : 0;
    settings_.commandQueueBytes = kRingBytes;
    settings_.gameSyncPreparation = true;
    settings_.preparedDataPoolId = MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SnMemPool_AllocHook, 0);
    settings_.mainOutputSettings.customSinkFactory = &CheckingSink::Make;
    ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
    ASSERT_EQ(MusicEngine::Init(nullptr), SN_Success);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Init.bnk", -1, id), SN_Success);
    for (uint32_t o = 0; o < kObjects; ++o) ASSERT_EQ(SoundEngine::RegisterGameObj(kFirstObject + o), SN_Success);
  }
  void TearDown() override {
    stop_ = true;
    if (watchdog_.joinable()) watchdog_.join();
    Unsqueeze();
    for (uint32_t b = 0; b < kBuses; ++b) {
      SoundEngine::RegisterBusVolumeCallback(SoundEngine::GetIDFromString(kBusNames[b]), nullptr);
      SoundEngine::RegisterBusMeteringCallback(SoundEngine::GetIDFromString(kBusNames[b]), nullptr, 1);
    }
    SoundEngine::Term();
    g_walk = nullptr;
    std::set_terminate(previousTerminate_);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    __sanitizer_set_death_callback(nullptr);
#endif
    OutputFixture::TearDown();
    // Only now is nothing left that could read what the game lent (images of unloads whose callbacks
    // were cancelled among them).
    kept_.clear();
    for (BankCall& call : bankCalls_) delete call.image.exchange(nullptr);
  }

 public:
  // Without ORV_RANDOM_STEPS: each game thread's steps in each of the four modes.
  static constexpr uint32_t kSteps = 300;
  // One game thread's place (the game's loop is one too): the call it is in, since when, and its step.
  struct Thread {
    std::mt19937 random;
    std::atomic<const char*> waitingFor{nullptr};
    std::atomic<int64_t> since{0};
    std::atomic<uint32_t> step{0};
    std::atomic<uint64_t> id{0};  // the thread making the call (Platform::CurrentThreadId)
    std::atomic<uint64_t> calls{0};  // the calls begun: a new one is a new place
    // It renders the game's frames (the game's loop, the second renderer): its calls return whatever
    // the game threads' do, and its work is not theirs.
    std::atomic<bool> renders{false};
    uint32_t index = 0;
    uint32_t squeezeSteps = 0;  // while above 0, this thread holds the default pool near full
    uint32_t chainAt = 0;       // the step that begins with a chain of bank calls
    std::string what;           // the waited bank call it is making
  };
  static std::string ThreadName(uint32_t index) {
    return index == kThreads  ? "the game's loop"
           : index > kThreads ? "the second renderer"
                              : "game thread " + std::to_string(index);
  }

  std::string Mode() const {
    return "seed " + std::to_string(seed_) + ", bank thread " + (bankThread_ ? "on" : "off") + ", audio thread " +
           (audioThread_ ? "on" : "off") + (squeezedNow_ ? ", the default pool held near full" : "");
  }
  uint32_t Below(std::mt19937& random, uint32_t n) { return uint32_t(random() % n); }

  // Every call a game thread makes is watched: one that does not return within the deadline ends the
  // run, saying which thread waits in which call.
  template <typename Call>
  auto Watched(Thread& thread, const char* what, Call&& call) {
    thread.since = Clock::now().time_since_epoch().count();
    thread.id = Platform::CurrentThreadId();
    thread.calls.fetch_add(1);
    thread.waitingFor = what;
    struct Done {
      RandomApiWalkTest& walk;
      Thread& thread;
      ~Done() {
        thread.waitingFor = nullptr;
        walk.Returned();
        if (!thread.renders.load()) walk.Moved();
      }
    } done{*this, thread};
    return call();
  }
  // The place of the calling thread's callbacks, taken at its first.
  CallbackPlace* PlaceOfThisThread() {
    const uint64_t self = Platform::CurrentThreadId();
    for (CallbackPlace& place : places_)
      if (place.thread.load() == self) return &place;
    for (CallbackPlace& place : places_) {
      uint64_t none = 0;
      if (!place.thread.compare_exchange_strong(none, self)) continue;
      place.name = self == AudioThread::ThreadId()                              ? "the audio thread"
                   : g_pBankManager && g_pBankManager->IsBankThread()         ? "the bank thread"
                                                                              : ThreadName(t_gameThread);
      return &place;
    }
    return nullptr;
  }
  // The calls callbacks are in now, on which thread, from which kind of callback, and for how long.
  std::string CallbackCalls(int64_t now) {
    std::string text;
    for (CallbackPlace& place : places_) {
      const uint32_t depth = std::min(place.depth.load(), CallbackPlace::kDepth);
      if (!depth) continue;
      text += "\n  " + place.name + " is in ";
      for (uint32_t i = 0; i < depth; ++i)
        text += std::string(i ? ", within which in " : "") + place.call[i].load() + " from " + place.origin[i].load() +
                " since " + Seconds(now - place.since[i].load());
    }
    return text;
  }
  static std::string Seconds(int64_t ticks) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(ticks)).count()) +
           " ms";
  }
  void Returned() { lastReturn_ = Clock::now().time_since_epoch().count(); }
  // What a game thread's call may wait for moved: a call of a thread that renders no frames returned,
  // or a bank callback came (a chain's link among them).
  void Moved() { moves_.fetch_add(1); }
  // Once the walk has stood still for the deadline with a call in it, a thread's call has been held
  // for the deadline, or a call has outlasted the longest call: every call each thread is in. Standing
  // still is time in which nothing returned, no chain's link came and no thread of the walk was at work
  // (`idle`, kept by the watchdog): a loaded machine that keeps the walk's threads from a processor
  // makes a call slow, not late. Held is the same for one thread's call while the renderers go on
  // (`held`, each thread's; see HeldCall). A loop that spins without end meets the longest call, in
  // the processor time spent since a call began (`spent`).
  template <typename Spent>
  std::string Waiting(int64_t now, int64_t idle, Spent&& spent, const int64_t* held) {
    const int64_t deadline = std::chrono::duration_cast<Clock::duration>(kDeadline).count();
    const int64_t longest = std::chrono::nanoseconds(kLongestCall).count();
    const auto overdue = [&](int64_t since) { return idle > deadline || spent(since) > longest; };
    bool late = false;
    std::string text;
    for (Thread& thread : threads_) {
      const char* what = thread.waitingFor.load();
      if (!what) continue;
      const int64_t heldFor = held[thread.index];
      late = late || overdue(thread.since.load()) || heldFor > heldLimit_.count();
      text += "\n  " + ThreadName(thread.index) + " (step " + std::to_string(thread.step.load()) + ") is in " + what +
              " since " + Seconds(now - thread.since.load()) + (heldFor ? ", held " + Seconds(heldFor) : "");
    }
    for (CallbackPlace& place : places_)
      late = late || (place.depth.load() && overdue(place.since[0].load()));
    return late ? text + CallbackCalls(now) : std::string();
  }
  // Whether the thread `tid` renders the game's frames now.
  bool Renders(long tid) {
    for (Thread& thread : threads_)
      if (thread.renders.load() && long(thread.id.load()) == tid) return true;
    return false;
  }
  // The threads in a watched call or in a call from a callback, once each.
  std::vector<std::pair<uint64_t, std::string>> StuckThreads() {
    std::vector<std::pair<uint64_t, std::string>> stuck;
    const auto add = [&](uint64_t id, const std::string& name) {
      for (const auto& known : stuck)
        if (known.first == id) return;
      stuck.emplace_back(id, name);
    };
    for (Thread& thread : threads_)
      if (thread.waitingFor.load()) add(thread.id.load(), ThreadName(thread.index));
    for (CallbackPlace& place : places_)
      if (place.depth.load()) add(place.thread.load(), place.name);
    return stuck;
  }
  // One thread's call as the watchdog follows it: which call (Thread::calls), and how long it has been
  // held there. A call is held while nothing it may wait for moves: the time of the looks at which it
  // was in the same call, no thread that renders no frames returned from a call since the look before,
  // no bank callback came (nor a chain's link), and no thread of the process but the renderers (the
  // audio thread, the game's loop, the second renderer; the call's own thread counts, renderer or not)
  // was running, waiting for a processor or waiting for the disk. A waited call behind long commands
  // is not held while what runs them is at work (the bank thread, the I/O thread, a game thread
  // holding the run turn, the caller itself), however slowly a loaded machine lets it go, and the
  // commands ahead of it answer as they end; the renderers return every frame whatever the game
  // threads do, so their calls and their work move nothing here. A call held for the deadline ends
  // the run: game threads' calls waiting for each other (one holding the bank queue's run turn while
  // its own waited call waits for it) while the frames go on. A waiter that polls (a waited bank call
  // looks at its answer every few ms) is seen at work now and then: such a look is not counted, and
  // ends nothing. Where the threads cannot be seen no call is held (standing still still ends it).
  struct HeldCall {
    uint64_t calls = 0;
    int64_t held = 0;
  };
  void WatchThreads() {
    const long self = long(Platform::CurrentThreadId());
    DIR* const tasks = opendir("/proc/self/task");
    HeldCall heldCalls[kThreads + 2];
    int64_t held[kThreads + 2] = {};
    std::vector<long> atWork;
    uint64_t moves = moves_.load();
    // The walk's processor time (ns) at each look, from its first: what it has spent since a moment.
    std::deque<std::pair<int64_t, int64_t>> used;
    const auto processorTime = [] {
      timespec time{};
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
      return time.tv_sec * 1000000000ll + time.tv_nsec;
    };
    int64_t last = Clock::now().time_since_epoch().count(), moved = 0, idle = 0;
    used.emplace_back(last, processorTime());
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int64_t now = Clock::now().time_since_epoch().count();
      const int64_t movedNow = std::max(lastLink_.load(), lastReturn_.load());
      if (movedNow != moved)
        idle = 0;
      else if (!tasks || !Platform::AnyThreadAtWork(tasks, self))
        idle += now - last;
      moved = movedNow;
      const bool seen = tasks && Platform::ThreadsAtWork(tasks, self, atWork);
      const bool gameMoved = moves != moves_.load();
      moves = moves_.load();
      const long audio = long(AudioThread::ThreadId());
      for (Thread& thread : threads_) {
        HeldCall& call = heldCalls[thread.index];
        const uint64_t calls = thread.calls.load();
        const long id = long(thread.id.load());
        if (!seen || gameMoved || !thread.waitingFor.load() || calls != call.calls) {
          call = {calls, 0};
        } else if (std::none_of(atWork.begin(), atWork.end(), [&](long tid) {
                     return tid == id || !(tid == audio || Renders(tid));
                   })) {
          call.held += now - last;
        }
        held[thread.index] = call.held;
      }
      last = now;
      used.emplace_back(now, processorTime());
      const auto spent = [&](int64_t since) {
        const auto at = std::lower_bound(used.begin(), used.end(), std::make_pair(since, int64_t(0)));
        return used.back().second - (at == used.end() ? used.back().second : at->second);
      };
      const std::string waiting = Waiting(now, idle, spent, held);
      if (waiting.empty()) continue;
      std::fprintf(stderr,
                   "calls did not return: the walk stood still for %lld s (nothing returning and no thread at "
                   "work), a thread's call was held %lld s (nothing it may wait for moving while the frames go "
                   "on), or a call outlasted %lld s of its processor time (%s):%s\nafter%s\n",
                   static_cast<long long>(kDeadline.count()),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(heldLimit_).count()),
                   static_cast<long long>(kLongestCall.count()), Mode().c_str(), waiting.c_str(),
                   history_.Text().c_str());
      RandomWalk::PrintStacks(StuckThreads());
      std::abort();
    }
    if (tasks) closedir(tasks);
  }

  // A failure, with the steps before it.
  void Fail(const std::string& what) {
    const std::string history = history_.Text();
    std::lock_guard<std::mutex> lock(failureLock_);
    if (failures_.size() < 20) failures_.push_back(what + " (" + Mode() + ") after" + history);
  }
  void Note(Thread& thread, const std::string& what) {
    history_.Note(thread.step, "thread " + std::to_string(thread.index) + ": " + what);
  }

  std::string Event(uint32_t bank, const char* name) const {
    return std::string(kBankPrefix[bank]) + (std::string(name) == "Music" ? "Play_Music" : std::string("Play_") + name);
  }
  uint32_t Object(std::mt19937& random) { return kFirstObject + Below(random, kObjects); }

  Play& NewPlay(const std::string& what, uint32_t depth, bool wantsEnd) {
    std::lock_guard<std::mutex> lock(playsLock_);
    Play& play = plays_.emplace_back();
    play.what = what;
    play.depth = depth;
    play.wantsEnd = wantsEnd;
    return play;
  }
  // A bank call about to be made: mostly with one of the shared cookies (null among them) and a
  // callback of its own while one is free, else with itself as its cookie.
  BankCall& NewBankCall(const std::string& what, std::mt19937& random, uint32_t depth = 0) {
    const uint32_t cookie = Below(random, kCookies + 1);
    std::lock_guard<std::mutex> lock(playsLock_);
    BankCall& call = bankCalls_.emplace_back();
    call.what = what + AtSteps();
    call.depth = depth;
    call.cookie = &call;
    call.callback = &OnBank;
    for (uint32_t slot = 0; cookie < kCookies && slot < kSlots; ++slot) {
      BankCall* none = nullptr;
      if (!slots_[slot].compare_exchange_strong(none, &call)) continue;
      call.slot = int32_t(slot);
      call.callback = SlotCallback(slot);
      call.cookie = cookie ? &cookies_[cookie] : nullptr;
      call.what += " (cookie " + std::to_string(cookie) + ")";
      break;
    }
    return call;
  }
  // The engine's answer to a bank call with a callback: accepted, its cookie may be cancelled from
  // here on; refused, its own callback is free again (unless it came, and went, already).
  void Made(BankCall& call, SNRESULT answer) {
    if (answer == SN_Success) return Accept(call);
    BankCall* self = &call;
    if (call.slot >= 0) slots_[call.slot].compare_exchange_strong(self, nullptr);
  }
  // A bank call with a callback made on this thread by `make`.
  template <typename Call>
  SNRESULT Make(BankCall& call, bool ordered, Call&& make) {
    call.ordered = ordered;
    call.begun = bankCallsBegun_.fetch_add(1) + 1;
    call.madeOn = Platform::CurrentThreadId();
    call.gameCall = CancelsWaitHere() && !t_inKeptChain;
    const SNRESULT answer = Within(call.what, ordered, make);
    Made(call, answer);
    return answer;
  }
  // A bank call this thread makes by `make`, as its place in the queue shows: the bank callbacks it
  // was inside, whether it is a load or a preparation (`ordered`: nothing it runs renders a pass, whose
  // end may run later calls), the walk's bank calls begun by the time the thread first called back
  // inside it, all queued ahead of the calls begun after, and those begun by the time the last call its
  // callbacks made was queued. Inside such a call the thread calls back only the calls queued ahead of
  // it or of a call its callbacks made, and those.
  struct InCall {
    const std::string* what;
    uint32_t depth;
    bool ordered;
    uint64_t queuedBy;
    uint64_t ownQueuedBy;
    InCall* outer;
  };
  // The bank calls a callback made on this thread are queued: the calls this thread is in may run the
  // commands ahead of them.
  void CalledFromCallback() {
    for (InCall* in = t_inCall; in; in = in->outer) in->ownQueuedBy = bankCallsBegun_.load();
  }
  template <typename Call>
  SNRESULT Within(const std::string& what, bool ordered, Call&& make) {
    InCall here{&what, t_bankCallbacks, ordered, 0, 0, t_inCall};
    struct Restore {
      InCall* outer;
      ~Restore() { t_inCall = outer; }
    } restore{t_inCall};
    t_inCall = &here;
    return make();
  }
  void Accept(BankCall& call) {
    call.accepted = true;
    std::lock_guard<std::mutex> lock(playsLock_);
    recentBankCalls_[recentBankCallAt_++ % kRecent] = &call;
  }
  // Where the game threads' walks are, for a call judged at the walk's end.
  std::string AtSteps() const {
    std::string text = " (made at the game threads' steps";
    for (uint32_t i = 0; i < kThreads; ++i) text += (i ? "/" : " ") + std::to_string(threads_[i].step.load());
    return text + ")";
  }
  // Where a cancel waits for the callbacks it cancels, as the README's table says: on a game thread
  // outside a pass, in a bank callback there too; not in a pass (a play's, a bus or an unload's
  // callback), nor on the bank thread.
  static bool CancelsWaitHere() {
    return !CSnAudioMgr::InAudioPassOnThisThread() && !(g_pBankManager && g_pBankManager->IsBankThread()) &&
           Platform::CurrentThreadId() != AudioThread::ThreadId();
  }
  // A play's callbacks cancelled where the cancel waits: none runs any more, nor starts.
  void CancelledSurely(Play& play) {
    const uint64_t on = play.runningOn.load();
    if (on && on != Platform::CurrentThreadId())
      Fail(play.what + ": a callback still ran once a cancel made on a game thread had returned");
    play.cancelSure = true;
  }
  // A bank cookie cancelled, from a game thread (`thread`) or a callback: the calls made with it before
  // are held to what the cancel promises where it was made; those made while it ran are excused from
  // calling back; those made after it must call back.
  void CancelBankCookie(void* cookie, Thread* thread) {
    std::vector<BankCall*> before, made;
    const auto withCookie = [&](std::vector<BankCall*>& calls, bool accepted) {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (BankCall& call : bankCalls_)
        if (call.cookie == cookie && (call.accepted || !accepted)) calls.push_back(&call);
    };
    withCookie(before, true);
    if (thread)
      Watched(*thread, "CancelBankCallbackCookie", [&] { return SoundEngine::CancelBankCallbackCookie(cookie); });
    else
      SoundEngine::CancelBankCallbackCookie(cookie);
    withCookie(made, false);
    const bool waits = CancelsWaitHere();
    const uint64_t self = Platform::CurrentThreadId();
    const CallbackPlace* place = waits ? nullptr : PlaceOfThisThread();
    std::lock_guard<std::mutex> lock(cancelLock_);
    for (BankCall* call : made) call->cancelled = true;
    for (BankCall* call : before) {
      if (waits) {
        const uint64_t on = call->runningOn.load();
        if (on && on != self)
          Fail(call->what + ": its callback still ran once a cancel of its cookie made on a game thread had returned");
        call->cancelSure = true;
      } else if (place && !call->passCancelAt) {
        call->passCancelAt = place;
        for (uint32_t p = 0; p < kPlaces; ++p) call->begunAtCancel[p] = places_[p].bankBegun.load();
      }
    }
  }
  // A bank call made lately, or null before any.
  BankCall* RecentBankCall(std::mt19937& random) {
    const uint32_t pick = uint32_t(random());  // drawn whatever the other threads did: a seed walks alike
    std::lock_guard<std::mutex> lock(playsLock_);
    if (!recentBankCallAt_) return nullptr;
    return recentBankCalls_[pick % std::min<uint32_t>(recentBankCallAt_, kRecent)];
  }
  // The playing id a post returned, against the one its callbacks saw.
  void Posted(Play& play, uint32_t playingId) {
    if (!playingId) {
      play.wantsEnd = false;  // written before any callback could read it: none comes
      return;
    }
    uint32_t seen = 0;
    if (!play.playingId.compare_exchange_strong(seen, playingId) && seen != playingId)
      Fail(play.what + ": its callbacks named playing id " + std::to_string(seen) + ", the post " +
           std::to_string(playingId));
  }

  // A post of a random event with random callbacks; `depth` counts the callbacks it is made from.
  uint32_t PostRandom(std::mt19937& random, uint32_t depth, std::string& noted) {
    const uint32_t bank = Below(random, kBanks);
    const std::string event = Event(bank, kPlays[Below(random, kPlayCount)]);
    static constexpr uint32_t kFlags[] = {SnCallback_EndOfEvent, SnCallback_Marker, SnCallback_Duration,
                                          SnCallback_SpeakerVolumeMatrix, SnCallback_Starvation,
                                          SnCallback_MusicPlayStarted | SnCallback_MusicSyncBeat |
                                              SnCallback_MusicSyncBar | SnCallback_MusicSyncEntry |
                                              SnCallback_MusicSyncExit | SnCallback_MusicSyncGrid,
                                          SnCallback_MIDIEvent, SnCallback_EnableGetSourcePlayPosition};
    uint32_t flags = 0;
    for (uint32_t f : kFlags)
      if (!Below(random, 3)) flags |= f;
    if (Below(random, 4)) flags |= SnCallback_EndOfEvent;
    const uint32_t object = Object(random);
    noted = "post " + event + " on " + std::to_string(object) + " flags " + std::to_string(flags) + " depth " +
            std::to_string(depth);
    Play& play = NewPlay(noted, depth, (flags & SnCallback_EndOfEvent) != 0);
    uint32_t playingId = 0;
    switch (Below(random, 3)) {
      case 0:
        playingId = SoundEngine::PostEvent(event.c_str(), object, flags, &OnEvent, &play);
        break;
      case 1:
        playingId = SoundEngine::PostEvent(SoundEngine::GetIDFromString(event.c_str()), object, flags, &OnEvent, &play);
        break;
      default:
        playingId = SoundEngine::PostEvent(OutputTest::Wide(event).c_str(), object, flags, &OnEvent, &play);
        break;
    }
    Posted(play, playingId);
    if (playingId) {
      std::lock_guard<std::mutex> lock(playsLock_);
      recent_[recentAt_++ % kRecent] = {playingId, &play};
    }
    return playingId;
  }
  // A playing id posted lately, and its play; {0, null} before any.
  std::pair<uint32_t, Play*> Recent(std::mt19937& random) {
    const uint32_t pick = uint32_t(random());  // drawn whatever the other threads did: a seed walks alike
    std::lock_guard<std::mutex> lock(playsLock_);
    if (!recentAt_) return {0, nullptr};
    return recent_[pick % std::min<uint32_t>(recentAt_, kRecent)];
  }

  // What a callback does: a call of the walk's, bounded in depth. Never blocks on the walk's own
  // locks: a game thread holding one may wait for the audio pass this callback runs in.
  static void OnEvent(uint32_t type, SnCallbackInfo* info) {
    RandomApiWalkTest* walk = g_walk;
    Play* play = static_cast<Play*>(info->cookie);
    if (!walk || !play) return;
    const uint32_t playingId = type == SnCallback_EndOfDynamicSequenceItem
                                   ? static_cast<SnDynamicSequenceItemCallbackInfo*>(info)->playingId
                                   : static_cast<SnEventCallbackInfo*>(info)->playingId;
    uint32_t seen = 0;
    if (!play->playingId.compare_exchange_strong(seen, playingId) && seen != playingId)
      walk->Fail(play->what + ": a callback of type " + std::to_string(type) + " named playing id " +
                 std::to_string(playingId) + ", not " + std::to_string(seen));
    if (play->cancelSure)
      walk->Fail(play->what + ": a callback of type " + std::to_string(type) + " came after its cancel");
    if (play->ends.load())
      walk->Fail(play->what + ": a callback of type " + std::to_string(type) + " came after its end of event");
    if (type == SnCallback_EndOfEvent) play->ends.fetch_add(1);
    play->runningOn = Platform::CurrentThreadId();
    if (play->depth < kMaxCallbackDepth) walk->FromCallback(Origin::Play, play->depth + 1, play, playingId, type);
    play->runningOn = 0;
  }
  // The bus callbacks, on the audio thread (or the game's thread that renders): counted for their bus,
  // then a call back into the engine as from a play's.
  template <uint32_t kBus>
  static void OnBusVolume(void*) {
    if (RandomApiWalkTest* walk = g_walk.load()) {
      walk->busCalls_[kBus][0].fetch_add(1);
      walk->FromCallback(Origin::Bus, kMaxCallbackDepth, nullptr, 0, 0);
    }
  }
  template <uint32_t kBus>
  static void OnBusMetering(void*, uint32_t, uint32_t) {
    if (RandomApiWalkTest* walk = g_walk.load()) {
      walk->busCalls_[kBus][1].fetch_add(1);
      walk->FromCallback(Origin::Bus, kMaxCallbackDepth, nullptr, 0, 0);
    }
  }
  // Registers (or, with `on` false, unregisters) one of the walk's bus callbacks.
  static SNRESULT RegisterBusCallback(uint32_t bus, bool metering, bool on) {
    static const SnBusVolumeCallback volume[kBuses] = {&OnBusVolume<0>, &OnBusVolume<1>, &OnBusVolume<2>};
    static const SnBusMeteringCallback meter[kBuses] = {&OnBusMetering<0>, &OnBusMetering<1>, &OnBusMetering<2>};
    const uint32_t busId = SoundEngine::GetIDFromString(kBusNames[bus]);
    if (metering) return SoundEngine::RegisterBusMeteringCallback(busId, on ? meter[bus] : nullptr, 1);
    return SoundEngine::RegisterBusVolumeCallback(busId, on ? volume[bus] : nullptr);
  }
  // The callback of a call that is its own cookie, and those of calls with a shared cookie, each known
  // by its slot.
  static void OnBank(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    RandomApiWalkTest* walk = g_walk;
    if (walk && cookie) walk->Answered(*static_cast<BankCall*>(cookie), result);
  }
  template <uint32_t kSlot>
  static void OnSlot(uint32_t, const void*, SNRESULT result, int32_t, void*) {
    if (RandomApiWalkTest* walk = g_walk.load())
      if (BankCall* call = walk->slots_[kSlot].load()) walk->Answered(*call, result);
  }
  static SnBankCallback SlotCallback(uint32_t slot) {
    static const auto callbacks = []<uint32_t... kSlot>(std::integer_sequence<uint32_t, kSlot...>) {
      return std::array<SnBankCallback, sizeof...(kSlot)>{&OnSlot<kSlot>...};
    }(std::make_integer_sequence<uint32_t, kSlots>());
    return callbacks[slot];
  }
  void Answered(BankCall& call, SNRESULT result) {
    Moved();
    const uint64_t self = Platform::CurrentThreadId();
    CallbackPlace* place = PlaceOfThisThread();
    if (InCall* in = t_inCall; in && in->ordered && in->depth == t_bankCallbacks) {
      if (in->queuedBy && call.begun > std::max(in->queuedBy, in->ownQueuedBy) && call.madeOn != self)
        Fail(call.what + ": its callback came inside " + *in->what + " on that call's thread, though made on " +
             "another thread after the call was queued: the call ran a command queued after its own");
      if (!in->queuedBy) in->queuedBy = bankCallsBegun_.load();
    }
    // A load's or a preparation's callback comes on the bank thread, or without it on the game thread
    // that made the call. A call's own thread runs after its command the calls its callbacks made.
    if (call.ordered && bankThread_ && !(g_pBankManager && g_pBankManager->IsBankThread()))
      Fail(call.what + ": its callback came on " + (place ? place->name : std::string("a thread")) +
           ", not on the bank thread");
    else if (call.ordered && !bankThread_ && call.gameCall && call.madeOn != self)
      Fail(call.what + ": its callback came on " + (place ? place->name : std::string("a thread")) +
           ", not on the game thread that made the call");
    struct Deeper {
      ~Deeper() { --t_bankCallbacks; }
    } deeper;
    ++t_bankCallbacks;
    {
      std::lock_guard<std::mutex> lock(cancelLock_);
      const uint32_t begun = place ? place->bankBegun.fetch_add(1) : 0;
      if (call.cancelSure)
        Fail(call.what + ": its callback began once a cancel of its cookie made on a game thread had returned");
      else if (call.passCancelAt && place &&
               (call.passCancelAt == place || begun != call.begunAtCancel[place - places_]))
        Fail(call.what + ": its callback began on " + place->name + " once a cancel of its cookie made on " +
             call.passCancelAt->name + " (in a pass or on the bank thread) had returned, and not as the one "
             "callback " + place->name + " could have begun by then");
    }
    if (call.calls.fetch_add(1)) Fail(call.what + ": its callback came twice");
    call.answer = result;
    call.runningOn = self;
    // Unloaded, or not loaded, the engine is done with the image: the game frees it now. Any other
    // answer left the bank as it was, still reading the image: it is kept until the engine ends.
    if (std::vector<uint8_t>* image = call.image.exchange(nullptr)) {
      if (result == SN_Success || result == SN_BankNotLoaded) {
        delete image;
      } else {
        std::lock_guard<std::mutex> lock(keptLock_);
        kept_.emplace_back(image);
      }
    }
    const bool outerKept = t_inKeptChain;
    t_inKeptChain = !call.gameCall && !bankThread_;
    if (call.depth < kMaxCallbackDepth) FromCallback(Origin::Bank, call.depth + 1, nullptr, 0, 0);
    t_inKeptChain = outerKept;
    call.runningOn = 0;
    BankCall* same = &call;
    if (call.slot >= 0) slots_[call.slot].compare_exchange_strong(same, nullptr);
  }

  // The random numbers of the calling thread's callbacks, seeded by the walk's seed and the thread's
  // part (audio thread, bank thread, a game thread or the game's loop) so that a seed walks alike.
  std::mt19937& CallbackRandom() {
    struct Seeded {
      uint32_t generation = 0;
      std::mt19937 random;
    };
    thread_local Seeded seeded;
    if (seeded.generation != generation_) {
      seeded.generation = generation_;
      const uint64_t self = Platform::CurrentThreadId();
      const uint32_t part = self == AudioThread::ThreadId() ? 0 : g_pBankManager && g_pBankManager->IsBankThread()
                                                                      ? 1
                                                                      : 2 + t_gameThread;
      seeded.random.seed(seed_ * 31 + part);
    }
    return seeded.random;
  }

  // A call back into the engine from inside a callback of `origin`: of a play (`play`, its playing
  // id and the callback's type), of a bus or of a bank command (null, 0, 0). `depth` bounds the calls
  // made from the callbacks of the calls made here.
  void FromCallback(Origin origin, uint32_t depth, Play* play, uint32_t playingId, uint32_t type) {
    std::mt19937& random = CallbackRandom();
    if (Below(random, 3)) return;
    struct Entered {
      std::atomic<uint32_t>& count;
      ~Entered() { count.fetch_sub(1); }
    } entered{callbackCalls_};
    callbackCalls_.fetch_add(1);
    if (stop_ || calm_) return;
    const uint32_t object = Object(random);
    const uint32_t bank = Below(random, kBanks);
    const std::string event = Event(bank, kPlays[Below(random, kPlayCount)]);
    const uint32_t what = Below(random, kCallbackCallCount);
    if (LeftOut(kCallbackCalls[what])) return;
    CallbackPlace* place = PlaceOfThisThread();
    if (place) {
      const uint32_t at = place->depth.load();
      if (at < CallbackPlace::kDepth) {
        place->origin[at] = OriginName(origin);
        place->since[at] = Clock::now().time_since_epoch().count();
        place->call[at] = kCallbackCalls[what];
      }
      place->depth = at + 1;
    }
    struct Left {
      RandomApiWalkTest& walk;
      CallbackPlace* place;
      ~Left() {
        walk.Returned();
        walk.CalledFromCallback();
        if (place) place->depth.fetch_sub(1);
      }
    } left{*this, place};
    history_.Note((place ? place->name : std::string("a thread")) + ", from " + OriginName(origin) + ": " +
                  kCallbackCalls[what]);
    const auto [recentId, recentPlay] = Recent(random);
    switch (what) {
      case 0: {
        std::string noted;
        PostRandom(random, depth, noted);
        break;
      }
      case 1:
        SoundEngine::ExecuteActionOnEvent(event.c_str(), Below(random, 4), object, int32_t(Below(random, 30)),
                                          SnCurve_Linear, Below(random, 2) ? playingId : 0);
        break;
      case 2:
        SoundEngine::SeekOnEvent(event.c_str(), object, float(Below(random, 100)) / 100.0f, Below(random, 2) != 0,
                                 playingId);
        break;
      case 3:
        SoundEngine::StopPlayingID(playingId, int32_t(Below(random, 30)));
        break;
      case 4:
        SoundEngine::SetRTPCValue((std::string(kBankPrefix[bank]) + "Speed").c_str(), float(Below(random, 100)),
                                  Below(random, 2) ? object : kInvalidGameObjectId);
        break;
      case 5:
        SoundEngine::SetSwitch((std::string(kBankPrefix[bank]) + "Ground").c_str(), Below(random, 2) ? "A" : "B",
                               object);
        break;
      case 6:
        SoundEngine::SetState("MusicMood", Below(random, 2) ? "Calm" : "None");
        break;
      case 7: {
        const SnSoundPosition position{{float(Below(random, 40)), 0.0f, float(Below(random, 40))}, {0.0f, 0.0f, 1.0f}};
        SoundEngine::SetPosition(object, position);
        break;
      }
      // The cancels: of this play or of one posted lately, by playing id or by cookie, of a bank
      // call's cookie, of a bus callback.
      case 8:
      case 9: {
        const bool own = play && type != SnCallback_EndOfEvent && Below(random, 2);
        Play* target = own ? play : recentPlay;
        const uint32_t id = own ? playingId : recentId;
        if (!target) break;
        if (what == 8)
          SoundEngine::CancelEventCallback(id);
        else
          SoundEngine::CancelEventCallbackCookie(target);
        target->cancelled = true;
        if (CancelsWaitHere()) CancelledSurely(*target);
        break;
      }
      case 10:
        if (BankCall* call = RecentBankCall(random)) CancelBankCookie(call->cookie, nullptr);
        break;
      case 11: {
        const uint32_t bus = Below(random, kBuses);
        const bool metering = Below(random, 2) != 0;
        RegisterBusCallback(bus, metering, false);
        if (Below(random, 2)) RegisterBusCallback(bus, metering, true);
        break;
      }
      case 12:
        if (type == SnCallback_EndOfDynamicSequenceItem) Below(random, 2) ? Seq::Break(playingId) : Seq::Stop(playingId);
        break;
      case 13: {
        // Refused (null) while a game thread holds the playlist: that thread may be waiting for this one.
        const uint32_t id = type == SnCallback_EndOfDynamicSequenceItem ? playingId : recentSequence_.load();
        if (Seq::Playlist* playlist = Seq::LockPlaylist(id)) {
          playlist->Enqueue(SoundEngine::GetIDFromString((std::string(kBankPrefix[bank]) + "Blip").c_str()));
          Seq::UnlockPlaylist(id);
        }
        break;
      }
      case 14: {
        BankCall& call = NewBankCall(std::string("LoadBank(\"WalkF.bnk\") with a callback, from ") + OriginName(origin),
                                     random, depth);
        uint32_t id = 0;
        Make(call, true, [&] { return SoundEngine::LoadBank("WalkF.bnk", call.callback, call.cookie, -1, id); });
        break;
      }
      case 15: {
        uint32_t id = 0;
        SoundEngine::LoadBank("WalkF.bnk", -1, id);  // refused on the engine's threads: it would wait for itself
        break;
      }
      case 16: {
        BankCall& call = NewBankCall(std::string("PrepareEvent with a callback, from ") + OriginName(origin), random,
                                     depth);
        const char* names[] = {event.c_str()};
        const SnPreparationType type = Below(random, 2) ? SnPreparation_Load : SnPreparation_Unload;
        Make(call, true, [&] { return SoundEngine::PrepareEvent(type, names, 1, call.callback, call.cookie); });
        break;
      }
      case 17: {
        BankCall& call = NewBankCall(
            std::string("UnloadBank(\"WalkF.bnk\") with a callback, from ") + OriginName(origin), random, depth);
        Make(call, false, [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr, call.callback, call.cookie); });
        break;
      }
      case 18: {
        MediaSlot& slot = media_[bank];
        std::unique_lock<std::mutex> lock(slot.lock, std::try_to_lock);
        if (!lock || slot.copy) break;
        slot.copy = std::make_unique<std::vector<uint8_t>>(gameMedia_[bank]);
        const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
        if (SoundEngine::SetMedia(&item, 1) != SN_Success) slot.copy.reset();
        break;
      }
      case 19: {
        uint32_t position = 0;
        SoundEngine::GetSourcePlayPosition(playingId, &position);
        break;
      }
      case 20:
        SoundEngine::PostTrigger("Nothing", object);
        break;
      // Calls that take something away.
      case 21: {
        MediaSlot& slot = media_[bank];
        std::unique_lock<std::mutex> lock(slot.lock, std::try_to_lock);
        if (!lock || !slot.copy) break;
        const SnMediaItem item{slot.mediaId, slot.copy->data(), UnsetSize(uint32_t(slot.copy->size()), random())};
        history_.Note("  UnsetMedia of " + std::string(kBankPrefix[bank]) + "TGame, size " + std::to_string(item.size) +
                      " of " + std::to_string(slot.copy->size()));
        // Refused, the media stays set and the game keeps its copy; answered, the copy is the game's.
        if (SoundEngine::UnsetMedia(&item, 1) == SN_Success) slot.copy.reset();
        break;
      }
      case 22:
        SoundEngine::StopAll(Below(random, 2) ? object : kInvalidGameObjectId);
        break;
      case 23:
        SoundEngine::UnregisterGameObj(object);
        SoundEngine::RegisterGameObj(object);
        break;
      case 24:
        SoundEngine::UnloadBank("WalkF.bnk", nullptr);
        break;
      case 25:
        // A pass never starts inside a pass; the call answers as from the game.
        if (SoundEngine::RenderAudio() != SN_Success)
          Fail(std::string("RenderAudio from ") + OriginName(origin) + " did not answer " + std::to_string(SN_Success));
        break;
      case 26:
        // Refused with an Error line: the engine keeps running.
        SoundEngine::Term();
        if (!SoundEngine::IsInitialized()) Fail(std::string("Term from ") + OriginName(origin) + " ended the engine");
        break;
      case 28:
      case 29: {
        // A call on the image while no game thread makes one: its place before the owner's next is known.
        uint32_t free = 0;
        if (!imageGate_.compare_exchange_strong(free, 1)) break;
        if (std::vector<uint8_t>* image = lentImage_.load()) {
          const std::string name = std::string(kCallbackCalls[what]) + ", from " + OriginName(origin);
          BankCall& call = NewBankCall(name, random, depth);
          CallOnImage(nullptr, what == 28, &call, *image,
                      (place ? place->name : std::string("a thread")) + ": " + name + AtSteps());
        }
        imageGate_ = 0;
        break;
      }
      case 30:
        if (chainsFromCallbacks_.fetch_add(1) < kChainsFromCallbacks)
          StartChain(kCallbackChainLinks, std::string("from ") + OriginName(origin));
        break;
      default:
        Clear();
        break;
    }
  }

  // A missing bank asked for again from each answer, `links` times: a chain of calls from callbacks
  // that costs the thread running the queue no more stack at its last link than at its first. The
  // links of a chain a game thread began come on that thread, or on the bank thread.
  struct Chain {
    uint32_t length = 0;
    uint64_t thread = 0;   // the game thread that began it (0: a callback did)
    bool kept = false;     // begun in a pass or a kept command's callback, no bank thread: a link a pass
    std::atomic<uint32_t> links{0};
    std::atomic<bool> ended{false};
    std::atomic<int32_t> refused{-1};  // what a link's call answered when it was not taken
    std::string what;
  };
  static void OnChainLink(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    RandomApiWalkTest* walk = g_walk;
    Chain& chain = *static_cast<Chain*>(cookie);
    if (!walk) return;
    const bool bankThread = g_pBankManager && g_pBankManager->IsBankThread();
    if (chain.thread && (walk->bankThread_ ? !bankThread : Platform::CurrentThreadId() != chain.thread))
      walk->Fail(chain.what + ": link " + std::to_string(chain.links.load()) + " came on another thread than " +
                 (walk->bankThread_ ? "the bank thread" : "the game thread that began it"));
    // A game thread's load or preparation runs no link of a chain begun elsewhere, nor waits for one.
    for (const InCall* in = t_inCall; chain.kept && in; in = in->outer)
      if (in->ordered)
        walk->Fail(chain.what + ": link " + std::to_string(chain.links.load()) + " came inside " + *in->what +
                   ", a game thread's call: a chain begun in a pass held it");
    walk->lastLink_ = Clock::now().time_since_epoch().count();
    walk->Moved();
    if (chain.links.fetch_add(1) + 1 >= chain.length) {
      chain.ended = true;
      return;
    }
    walk->ChainLink(chain);
    walk->CalledFromCallback();
  }
  // A marker's callback begins a chain in a pass while the game threads make their waited bank calls.
  static void OnChainMarker(uint32_t type, SnCallbackInfo*) {
    RandomApiWalkTest* walk = g_walk;
    if (walk && type == SnCallback_Marker && !walk->keptChainBegun_.exchange(true))
      walk->StartChain(kKeptChainLinks, "from a marker's callback");
  }
  void ChainLink(Chain& chain) {
    uint32_t id = 0;
    const SNRESULT made = SoundEngine::LoadBank("Missing.bnk", &OnChainLink, &chain, -1, id);
    if (made == SN_Success) return;
    chain.refused = made;
    chain.ended = true;
  }
  void StartChain(uint32_t links, const std::string& what) {
    Chain* chain = nullptr;
    {
      std::lock_guard<std::mutex> lock(playsLock_);
      chain = &chains_.emplace_back();
      chain->length = links;
      chain->what = "a chain of " + std::to_string(links) + " links " + what + AtSteps();
      chain->thread = CancelsWaitHere() && !t_bankCallbacks ? Platform::CurrentThreadId() : 0;
      chain->kept = !bankThread_ && (!CancelsWaitHere() || t_inKeptChain);
    }
    history_.Note("began " + chain->what);
    ChainLink(*chain);
  }
  // Every chain reached its last link, unless a link's call was refused.
  void ChainsEnd(Thread& last) {
    const auto open = [&] {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const Chain& chain : chains_)
        if (!chain.ended.load()) return &chain;
      return static_cast<const Chain*>(nullptr);
    };
    // Until no link has come for the deadline.
    const int64_t begun = Clock::now().time_since_epoch().count();
    const int64_t deadline = std::chrono::duration_cast<Clock::duration>(kDeadline).count();
    while (open() && Clock::now().time_since_epoch().count() - std::max(begun, lastLink_.load()) < deadline) {
      Watched(last, "RenderAudio, waiting for the chains' last links", [] { return SoundEngine::RenderAudio(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (const Chain* chain = open())
      Fail(chain->what + ": " + std::to_string(chain->links.load()) + " links came, then none for " +
           std::to_string(kDeadline.count()) + " s");
  }

  // A flood past the ring's room: posts, each with an end-of-event callback, ended by a fence whose
  // callback says the audio thread has read them all.
  void Flood(Thread& thread) {
    // The fence's bank is there: bank commands run in turn, so this one runs after any unload before.
    uint32_t bankId = 0;
    Watched(thread, "LoadBank(\"WalkF.bnk\") before a flood",
            [&] { return SoundEngine::LoadBank("WalkF.bnk", -1, bankId); });
    // Floods of several threads at once keep the ring full, while callbacks post into it and waited
    // bank calls of the other threads go on.
    const uint32_t posts = kRingBytes / 32;
    Note(thread, "flood of " + std::to_string(posts) + " posts");
    for (uint32_t i = 0; i < posts; ++i) {
      // A few voices among them, begun in the same frame and in phase, 0.0035 a channel each: the 64 of
      // each of the three threads' floods, with the walk's other voices, stay under full scale (a
      // sixteenth of the posts summed past it when floods met).
      const std::string event = Event(i % kBanks, i % 64 ? "Fence" : "Blip");
      Play& play = NewPlay("flood post " + event, 0, true);
      Posted(play, Watched(thread, "a post of a flood", [&] {
               return SoundEngine::PostEvent(event.c_str(), Object(thread.random), SnCallback_EndOfEvent, &OnEvent,
                                             &play);
             }));
    }
    Play& fence = NewPlay("the fence of a flood", kMaxCallbackDepth, true);
    const uint32_t fenceId = Watched(thread, "the fence post of a flood", [&] {
      return SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Fence").c_str(), Object(thread.random),
                                    SnCallback_EndOfEvent, &OnEvent, &fence);
    });
    Posted(fence, fenceId);
    if (fenceId) {
      const auto until = Clock::now() + kDeadline;
      while (!fence.ends.load() && Clock::now() < until) {
        SoundEngine::RenderAudio();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (!fence.ends.load())
        Fail("the fence of a flood did not end within " + std::to_string(kDeadline.count()) + " s");
    } else {
      // No fence (its bank could not be loaded): the audio thread reads the ring within a few frames.
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }

  // The bank loaded from the game's memory: loaded or unloaded, waited or with a callback, its image
  // freed or overwritten as soon as the engine gave it back. The image has one owner at a time, as a
  // game's buffer has: a thread that finds another (or a callback) lending or taking it back works on
  // the file bank instead, and clears from the other threads run whenever they come.
  void MemoryBank(Thread& thread) {
    uint32_t free = 0;
    if (!imageGate_.compare_exchange_strong(free, 2)) return BankCalls(thread);
    struct Owned {
      std::atomic<uint32_t>& gate;
      ~Owned() { gate = 0; }
    } owned{imageGate_};
    const bool withCallback = Below(thread.random, 3) == 0;
    const std::string at = ThreadName(thread.index) + " at step " + std::to_string(thread.step.load()) + ": ";
    if (!lent_) {
      lent_ = std::make_unique<std::vector<uint8_t>>(images_[1]);
      lentImage_ = lent_.get();
      const std::string what = withCallback ? "LoadBank(image) with a callback" : "LoadBank(image)";
      Note(thread, what);
      CallOnImage(&thread, true, withCallback ? &NewBankCall(what, thread.random) : nullptr, *lent_, at + what);
      return;
    }
    if (withCallback) {
      // Given to the callback to free, or mostly loaded again at once while the record before may still
      // end: a waited unload's answer must wait for that record too.
      if (!Below(thread.random, 4)) {
        Note(thread, "UnloadBank(image) with a callback");
        BankCall& call = NewBankCall("UnloadBank(image) with a callback", thread.random);
        std::vector<uint8_t>& image = *lent_;
        lentImage_ = nullptr;
        call.image = lent_.release();
        if (CallOnImage(&thread, false, &call, image, at + "UnloadBank(image) with a callback") != SN_Success)
          lent_.reset(call.image.exchange(nullptr));  // refused: the bank may still read it
        lentImage_ = lent_.get();
        return;
      }
      for (uint32_t cycles = 1 + Below(thread.random, 3); cycles; --cycles) {
        if (!lent_) {
          lent_ = std::make_unique<std::vector<uint8_t>>(images_[1]);
          lentImage_ = lent_.get();
          CallOnImage(&thread, true, nullptr, *lent_, at + "LoadBank(image) to be reloaded");
        }
        if (!Reload(thread, at)) return;
      }
      return;
    }
    // Unloaded, or not loaded (a clear took the bank out): the image is the game's again. Refused as a
    // whole, the bank still reads it.
    Note(thread, "UnloadBank(image)");
    const SNRESULT unloaded = CallOnImage(&thread, false, nullptr, *lent_, at + "UnloadBank(image)");
    if (unloaded == SN_Success || unloaded == SN_BankNotLoaded) {
      lentImage_ = nullptr;
      GiveBack(thread, std::move(lent_));
    }
  }
  // The lent image's bank unloaded with a callback, loaded again from the same image at once, played,
  // and unloaded waited: on that answer nothing reads the image (the record before it neither), which
  // is freed. False when the image is still read.
  bool Reload(Thread& thread, const std::string& at) {
    Note(thread, "UnloadBank(image) with a callback, then loaded again");
    std::vector<uint8_t>& image = *lent_;
    BankCall& call = NewBankCall("UnloadBank(image) with a callback", thread.random);
    CallOnImage(&thread, false, &call, image, at + "UnloadBank(image) with a callback");
    CallOnImage(&thread, true, nullptr, image, at + "LoadBank(image) again");
    Watched(thread, "PostEvent", [&] {
      return SoundEngine::PostEvent((std::string(kBankPrefix[1]) + "Play_Marked").c_str(), Object(thread.random));
    });
    const SNRESULT unloaded = CallOnImage(&thread, false, nullptr, image, at + "UnloadBank(image) once loaded again");
    if (unloaded != SN_Success && unloaded != SN_BankNotLoaded) return false;
    lentImage_ = nullptr;
    lent_.reset();
    return true;
  }
  // A load or an unload (waited without `call`) of the bank of the image, under the image's gate: its
  // place among the calls on the image is taken as it is made.
  SNRESULT CallOnImage(Thread* thread, bool load, BankCall* call, std::vector<uint8_t>& image,
                       const std::string& what) {
    ImageCall* made = nullptr;
    {
      std::lock_guard<std::mutex> lock(imageCallsLock_);
      made = &imageCalls_.emplace_back();
      made->load = load;
      made->call = call;
      made->what = what;
      made->clearsEnded = clearsEnded_.load();
    }
    uint32_t id = 0;
    const auto run = [&] {
      if (call)
        return load ? SoundEngine::LoadBank(image.data(), uint32_t(image.size()), call->callback, call->cookie, id)
                    : SoundEngine::UnloadBank("WalkM", image.data(), call->callback, call->cookie);
      return load ? SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id)
                  : SoundEngine::UnloadBank("WalkM", image.data());
    };
    const char* watched = call ? (load ? "LoadBank(image) with a callback" : "UnloadBank(image) with a callback")
                               : (load ? "LoadBank(image)" : "UnloadBank(image)");
    const auto watchedRun = [&] { return thread ? Watched(*thread, watched, run) : run(); };
    const SNRESULT answer = call ? Make(*call, load, watchedRun) : Within(thread ? thread->what = what : what, load, watchedRun);
    made->clearsBegun = clearsBegun_.load();
    made->returned = answer;
    return answer;
  }
  // Every answer about the image agrees with the order the calls on it were made in: a load answers 69
  // only when the calls ahead left the bank loaded and 1 only when they left it unloaded, an unload
  // answers 54 only when they left it unloaded (1 too: it may join a record still ending). A clear
  // that may have come between two calls leaves the state unknown until an answer tells it again.
  void JudgeImageCalls() {
    enum { kUnknown, kLoaded, kUnloaded } state = kUnloaded;
    uint32_t ended = 0;  // the clears ended when the call before was made
    std::deque<std::string> ahead;  // the last calls ahead, with their answers
    std::lock_guard<std::mutex> lock(imageCallsLock_);
    for (const ImageCall& made : imageCalls_) {
      const auto before = made.clearsBegun == ended ? state : kUnknown;
      ended = made.clearsEnded;
      state = before;
      const int32_t returned = made.returned.load();
      const int32_t answer = made.call ? made.call->answer.load() : returned;
      if (made.call && answer < 0 && returned != SN_Success) continue;  // refused: in no order
      const bool loadedAnswer = made.load ? answer == SN_Success : answer == SN_BankNotLoaded;
      if ((before == kLoaded && loadedAnswer) || (before == kUnloaded && made.load && answer == SN_BankAlreadyLoaded))
        Fail(made.what + " answered " + std::to_string(answer) + ", though the calls on the image ahead of it left " +
             (before == kLoaded ? "its bank loaded" : "its bank unloaded") + "; the last of them:" + [&] {
               std::string text;
               for (const std::string& line : ahead) text += "\n    " + line;
               return text;
             }());
      if (made.load)
        state = answer == SN_Success || answer == SN_BankAlreadyLoaded ? kLoaded
                : answer >= 0 && before == kUnloaded                   ? kUnloaded
                                                                       : kUnknown;
      else
        state = answer == SN_Success || answer == SN_BankNotLoaded || (answer < 0 && made.call) ? kUnloaded : kUnknown;
      ahead.push_back(made.what + " (answered " + std::to_string(answer) + (before ? ")" : ", nothing known before)"));
      if (ahead.size() > 6) ahead.pop_front();
    }
  }
  SNRESULT Clear() {
    clearsBegun_.fetch_add(1);
    const SNRESULT cleared = SoundEngine::ClearBanks();
    clearsEnded_.fetch_add(1);
    return cleared;
  }
  // Memory the engine gave back: freed, or overwritten and kept until the end.
  void GiveBack(Thread& thread, std::unique_ptr<std::vector<uint8_t>> memory) {
    if (Below(thread.random, 2)) return;
    std::fill(memory->begin(), memory->end(), uint8_t(0xA5));
    std::lock_guard<std::mutex> lock(keptLock_);
    kept_.push_back(std::move(memory));
  }

  // The other bank calls: the file bank and Init, preparation, clearing and cancelling, from every
  // game thread at once.
  void BankCalls(Thread& thread) {
    const uint32_t bank = Below(thread.random, kBanks);
    const std::string event = Event(bank, kPlays[Below(thread.random, kPlayCount)]);
    const char* names[] = {event.c_str()};
    const SnPreparationType type = Below(thread.random, 2) ? SnPreparation_Load : SnPreparation_Unload;
    uint32_t id = 0;
    switch (Below(thread.random, 11)) {
      case 0:
        Note(thread, "LoadBank(\"WalkF.bnk\")");
        Within(thread.what = "LoadBank(\"WalkF.bnk\")", true, [&] {
          return Watched(thread, "LoadBank(\"WalkF.bnk\")", [&] { return SoundEngine::LoadBank("WalkF.bnk", -1, id); });
        });
        break;
      case 1: {
        Note(thread, "LoadBank(\"WalkF.bnk\") with a callback");
        BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a callback", thread.random);
        Make(call, true, [&] {
          return Watched(thread, "LoadBank(\"WalkF.bnk\") with a callback",
                         [&] { return SoundEngine::LoadBank(u"WalkF.bnk", call.callback, call.cookie, -1, id); });
        });
        break;
      }
      case 2:
        Note(thread, "UnloadBank(\"WalkF.bnk\")");
        if (Below(thread.random, 2)) {
          Watched(thread, "UnloadBank(\"WalkF.bnk\")", [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr); });
        } else {
          BankCall& call = NewBankCall("UnloadBank(\"WalkF.bnk\") with a callback", thread.random);
          Make(call, false, [&] {
            return Watched(thread, "UnloadBank(\"WalkF.bnk\") with a callback",
                           [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr, call.callback, call.cookie); });
          });
        }
        break;
      case 3:
        Note(thread, "PrepareEvent " + event);
        if (Below(thread.random, 2)) {
          Within(thread.what = "PrepareEvent", true, [&] {
            return Watched(thread, "PrepareEvent", [&] { return SoundEngine::PrepareEvent(type, names, 1); });
          });
        } else {
          BankCall& call = NewBankCall("PrepareEvent with a callback", thread.random);
          Make(call, true, [&] {
            return Watched(thread, "PrepareEvent with a callback",
                           [&] { return SoundEngine::PrepareEvent(type, names, 1, call.callback, call.cookie); });
          });
        }
        break;
      case 4: {
        Note(thread, "PrepareGameSyncs");
        const std::string group = std::string(kBankPrefix[bank]) + "Ground";
        const char* values[] = {"A", "B"};
        Watched(thread, "PrepareGameSyncs", [&] {
          return SoundEngine::PrepareGameSyncs(type, SnGroupType_Switch, group.c_str(), values, 2);
        });
        break;
      }
      case 5:
        Note(thread, "PrepareBank(\"WalkF.bnk\")");
        Watched(thread, "PrepareBank", [&] {
          return SoundEngine::PrepareBank(type, "WalkF.bnk",
                                          Below(thread.random, 2) ? SnBankContent_All : SnBankContent_StructureOnly);
        });
        break;
      case 6:
        Note(thread, "ClearPreparedEvents");
        Watched(thread, "ClearPreparedEvents", [&] { return SoundEngine::ClearPreparedEvents(); });
        break;
      case 7:
        // The bank from the game's memory goes too; its owner learns it from its unload's answer.
        Note(thread, "ClearBanks, then Init.bnk loaded again");
        Watched(thread, "ClearBanks", [&] { return Clear(); });
        Watched(thread, "LoadBank(\"Init.bnk\")", [&] { return SoundEngine::LoadBank("Init.bnk", -1, id); });
        break;
      case 8: {
        Note(thread, "a bank call with a callback, its cookie cancelled");
        BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a cancelled callback", thread.random);
        Make(call, true, [&] {
          return Watched(thread, "LoadBank(\"WalkF.bnk\") with a callback",
                         [&] { return SoundEngine::LoadBank("WalkF.bnk", call.callback, call.cookie, -1, id); });
        });
        CancelBankCookie(call.cookie, &thread);
        break;
      }
      case 9:
        if (BankCall* call = RecentBankCall(thread.random)) {
          Note(thread, "CancelBankCallbackCookie of " + call->what);
          CancelBankCookie(call->cookie, &thread);
        }
        break;
      default: {
        Note(thread, "ResolveDialogueEvent");
        const std::string talk = std::string(kBankPrefix[bank]) + "Talk";
        const char* values[] = {Below(thread.random, 2) ? "Hero" : "Villain"};
        Watched(thread, "ResolveDialogueEvent",
                [&] { return SoundEngine::DynamicDialogue::ResolveDialogueEvent(talk.c_str(), values, 1); });
        break;
      }
    }
  }

  // Bank calls with callbacks made one after the other without a wait: the bursts of two game threads
  // meet in the queue, where a call runs the commands ahead of its own and leaves the later ones.
  void BankBurst(Thread& thread) {
    const uint32_t calls = 3 + Below(thread.random, 4);
    Note(thread, "a burst of " + std::to_string(calls) + " bank calls with callbacks");
    for (uint32_t i = 0; i < calls; ++i) {
      uint32_t id = 0;
      const std::string event = Event(Below(thread.random, kBanks), kPlays[Below(thread.random, kPlayCount)]);
      const char* names[] = {event.c_str()};
      switch (Below(thread.random, 4)) {
        case 0: {
          BankCall& call = NewBankCall("UnloadBank(\"WalkF.bnk\") with a callback, in a burst", thread.random);
          Make(call, false, [&] {
            return Watched(thread, "UnloadBank(\"WalkF.bnk\") with a callback",
                           [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr, call.callback, call.cookie); });
          });
          break;
        }
        case 1: {
          BankCall& call = NewBankCall("PrepareEvent with a callback, in a burst", thread.random);
          Make(call, true, [&] {
            return Watched(thread, "PrepareEvent with a callback", [&] {
              return SoundEngine::PrepareEvent(SnPreparation_Load, names, 1, call.callback, call.cookie);
            });
          });
          break;
        }
        default: {
          BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a callback, in a burst", thread.random);
          Make(call, true, [&] {
            return Watched(thread, "LoadBank(\"WalkF.bnk\") with a callback",
                           [&] { return SoundEngine::LoadBank("WalkF.bnk", call.callback, call.cookie, -1, id); });
          });
          break;
        }
      }
    }
  }

  // The game's copy of a prepared tone lent or taken back (with the size it was lent with, or another).
  void Media(Thread& thread) {
    const uint32_t bank = Below(thread.random, kBanks);
    MediaSlot& slot = media_[bank];
    std::unique_lock<std::mutex> lock(slot.lock, std::try_to_lock);
    if (!lock) return;
    if (!slot.copy) {
      Note(thread, "SetMedia " + std::string(kBankPrefix[bank]) + "TGame");
      slot.copy = std::make_unique<std::vector<uint8_t>>(gameMedia_[bank]);
      const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
      if (Watched(thread, "SetMedia", [&] { return SoundEngine::SetMedia(&item, 1); }) != SN_Success)
        slot.copy.reset();
      return;
    }
    const SnMediaItem item{slot.mediaId, slot.copy->data(), UnsetSize(uint32_t(slot.copy->size()), thread.random())};
    Note(thread, "UnsetMedia " + std::string(kBankPrefix[bank]) + "TGame, size " + std::to_string(item.size) + " of " +
                     std::to_string(slot.copy->size()));
    // Refused, the media stays set and the game keeps its copy; answered, the copy is the game's.
    if (Watched(thread, "UnsetMedia", [&] { return SoundEngine::UnsetMedia(&item, 1); }) == SN_Success)
      GiveBack(thread, std::move(slot.copy));
  }

  // The default pool held near full by the game, or given back: for a while the engine's calls and
  // passes take their roads without memory.
  void Squeeze(Thread& thread) {
    if (thread.squeezeSteps) return;
    std::vector<void*> blocks;
    TakeTheRoomLeft(blocks);
    // A little room left, or none.
    for (uint32_t back = Below(thread.random, 3) ? Below(thread.random, 128) : 0; back && !blocks.empty(); --back) {
      MemoryMgr::Free(g_DefaultPoolId, blocks.back());
      blocks.pop_back();
    }
    thread.squeezeSteps = 10 + Below(thread.random, 40);
    Note(thread, "the default pool held near full for " + std::to_string(thread.squeezeSteps) + " steps");
    std::lock_guard<std::mutex> lock(squeezeLock_);
    for (void* block : blocks) squeezed_.push_back(block);
    squeezedNow_ = true;
  }
  static void TakeTheRoomLeft(std::vector<void*>& blocks) {
    for (const size_t size : {size_t(65536), size_t(4096), size_t(256), size_t(32)})
      while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) blocks.push_back(block);
  }
  void Unsqueeze() {
    std::vector<void*> blocks;
    {
      std::lock_guard<std::mutex> lock(squeezeLock_);
      blocks.swap(squeezed_);
      squeezedNow_ = false;
    }
    for (void* block : blocks) MemoryMgr::Free(g_DefaultPoolId, block);
  }

  // While the pool is held near full: the thread's spare object removed and registered again with no
  // room left at all, the pool held so until passes have handled the registration. One answered 1
  // stays registered: a post on it at the walk's end must play.
  void SpareObject(Thread& thread) {
    Spare& spare = spares_[thread.index];
    if (spare.registeredAt.load() >= 0) return;
    const uint32_t object = kFirstObject + kObjects + thread.index;
    Watched(thread, "UnregisterGameObj of a spare object", [&] { return SoundEngine::UnregisterGameObj(object); });
    {
      std::lock_guard<std::mutex> lock(squeezeLock_);
      if (squeezedNow_) TakeTheRoomLeft(squeezed_);
    }
    const SNRESULT registered =
        Watched(thread, "RegisterGameObj of a spare object", [&] { return SoundEngine::RegisterGameObj(object); });
    Note(thread, "spare object " + std::to_string(object) + " registered again, the pool held full: " +
                     std::to_string(registered));
    if (registered != SN_Success) return;
    spare.registeredAt = int64_t(thread.step.load());
    // A few frames' ends (rendered here without the audio thread), or a while if none comes.
    const uint64_t ends = Watch().ends.load();
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    while (Watch().ends.load() < ends + 3 && Clock::now() < until) {
      if (!audioThread_) Watched(thread, "RenderAudio, the pool held full", [] { return SoundEngine::RenderAudio(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void SparesPlay(Thread& last) {
    for (uint32_t i = 0; i < kThreads; ++i) {
      Spare& spare = spares_[i];
      if (spare.registeredAt.load() < 0) continue;
      const uint32_t id = Watched(last, "PostEvent on a spare object", [&] {
        return SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Plain").c_str(), kFirstObject + kObjects + i,
                                      SnCallback_EndOfEvent | SnCallback_Duration, &OnSpare, &spare);
      });
      const auto until = Clock::now() + kDeadline;
      while (id && !spare.ended.load() && Clock::now() < until) {
        Watched(last, "RenderAudio, waiting for a post on a spare object", [] { return SoundEngine::RenderAudio(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      if (!spare.played.load())
        Fail("RegisterGameObj(" + std::to_string(kFirstObject + kObjects + i) + ") of " + ThreadName(i) +
             " answered 1 at its step " + std::to_string(spare.registeredAt.load()) +
             " with the pool held near full, yet a post on the object at the walk's end played nothing");
    }
  }
  static void OnSpare(uint32_t type, SnCallbackInfo* info) {
    Spare* spare = static_cast<Spare*>(info->cookie);
    (type == SnCallback_EndOfEvent ? spare->ended : spare->played) = true;
  }

  // A dynamic sequence opened, played, changed, paused, stopped or closed.
  void Sequence(Thread& thread, std::vector<uint32_t>& open) {
    if (open.empty() || !Below(thread.random, 4)) {
      const uint32_t flags = Below(thread.random, 2) ? SnCallback_EndOfEvent | SnCallback_EndOfDynamicSequenceItem : 0;
      Play& play = NewPlay("a dynamic sequence", 0, (flags & SnCallback_EndOfEvent) != 0);
      const uint32_t id = Watched(thread, "DynamicSequence::Open", [&] {
        return Seq::Open(Object(thread.random), flags, &OnEvent, &play,
                         Below(thread.random, 2) ? Seq::DynamicSequenceType_SampleAccurate
                                                 : Seq::DynamicSequenceType_NormalTransition);
      });
      Posted(play, id);
      Note(thread, "dynamic sequence " + std::to_string(id) + " opened");
      if (id) open.push_back(id);
      if (id) recentSequence_ = id;
      return;
    }
    const uint32_t id = open[Below(thread.random, uint32_t(open.size()))];
    const int32_t ms = int32_t(Below(thread.random, 30));
    switch (Below(thread.random, 7)) {
      case 0:
        Note(thread, "dynamic sequence " + std::to_string(id) + " plays");
        Seq::Play(id, ms);
        break;
      case 1:
        Note(thread, "dynamic sequence " + std::to_string(id) + " pauses");
        Seq::Pause(id, ms);
        break;
      case 2:
        Note(thread, "dynamic sequence " + std::to_string(id) + " resumes");
        Seq::Resume(id, ms);
        break;
      case 3:
        Note(thread, "dynamic sequence " + std::to_string(id) + " stops");
        Seq::Stop(id, ms);
        break;
      case 4:
        Note(thread, "dynamic sequence " + std::to_string(id) + " breaks");
        Seq::Break(id);
        break;
      case 5:
        Note(thread, "dynamic sequence " + std::to_string(id) + " closes");
        Seq::Close(id);
        open.erase(std::find(open.begin(), open.end(), id));
        break;
      default:
        Note(thread, "dynamic sequence " + std::to_string(id) + " gets items");
        if (Seq::Playlist* playlist = Seq::LockPlaylist(id)) {
          for (uint32_t n = 1 + Below(thread.random, 3); n; --n) {
            static const char* const kItems[] = {"Plain", "Blip", "Marked", "Loose", "Game"};
            const std::string item = std::string(kBankPrefix[Below(thread.random, kBanks)]) + kItems[Below(thread.random, 5)];
            playlist->Enqueue(SoundEngine::GetIDFromString(item.c_str()), Below(thread.random, 3) ? 0 : 30);
          }
          // Holding the playlist, a call that may wait for the pass (without the audio thread it runs
          // one here), whose callbacks and item ends want the same playlist.
          if (!Below(thread.random, 3))
            Watched(thread, "RenderAudio holding a playlist", [] { return SoundEngine::RenderAudio(); });
          Seq::UnlockPlaylist(id);
        }
        break;
    }
  }

  // The rest of the calls: listeners, outputs, capture, limits, mixing, pins, plug-ins and bus callbacks.
  void Other(Thread& thread, uint32_t object, uint32_t bank) {
    std::mt19937& random = thread.random;
    const std::string prefix = kBankPrefix[bank];
    const std::string event = prefix + "Play_Loose";
    const uint32_t which = Below(random, 22);
    Note(thread, "other call " + std::to_string(which));
    Watched(thread, "another call", [&]() -> SNRESULT {
      switch (which) {
        case 0:
          return SoundEngine::SetActiveListeners(object, 1u << Below(random, 2));
        case 1:
          return SoundEngine::SetListenerScalingFactor(0, 0.5f + float(Below(random, 3)));
        case 2: {
          const float offsets[2] = {-3.0f, 0.0f};
          return SoundEngine::SetListenerSpatialization(0, Below(random, 2) != 0, StandardConfig(kMaskStereo),
                                                        Below(random, 2) ? offsets : nullptr);
        }
        case 3:
          return SoundEngine::SetListenerPipeline(0, true, Below(random, 2) != 0);
        case 4:
          return Below(random, 2) ? SoundEngine::AddSecondaryOutput(1, SnOutput_Secondary, 1)
                                  : SoundEngine::RemoveSecondaryOutput(1, SnOutput_Secondary);
        case 5:
          return SoundEngine::SetSecondaryOutputVolume(1, SnOutput_Secondary, float(Below(random, 3)) * 0.5f);
        case 6:
          return SoundEngine::SetPanningRule(Below(random, 2));
        case 7: {
          const float angles[2] = {float(20 + Below(random, 40)), float(100 + Below(random, 40))};
          return SoundEngine::SetSpeakerAngles(angles, 2, 0.0f);
        }
        case 8: {
          uint32_t rule = 0, count = 0;
          float angles[8], height = 0.0f;
          SoundEngine::GetPanningRule(rule);
          SoundEngine::GetSpeakerConfiguration();
          return SoundEngine::GetSpeakerAngles(angles, count, height);
        }
        case 9:
          if (Below(random, 2)) return SoundEngine::StartOutputCapture(u"walk.wav");
          SoundEngine::AddOutputCaptureMarker("mark");
          return SoundEngine::StopOutputCapture();
        case 10:
          SoundEngine::SetRandomSeed(random());
          return SoundEngine::MuteBackgroundMusic(Below(random, 2) != 0);
        case 11:
          return SoundEngine::QueueStateChange(SoundEngine::GetIDFromString("MusicMood"),
                                               SoundEngine::GetIDFromString(Below(random, 2) ? "Calm" : "None"),
                                               Below(random, 2) != 0, Below(random, 2) != 0);
        case 12:
          return SoundEngine::SetBusEffect("Effects", Below(random, 4), 0);
        case 13:
          return SoundEngine::SetActorMixerEffect(SoundEngine::GetIDFromString((prefix + "Plain").c_str()),
                                                  Below(random, 4), 0);
        case 14:
          return SoundEngine::SetMixer("Effects", 0);
        case 15:
          SoundEngine::SetMaxNumVoicesLimit(uint16_t(32 + Below(random, 200)));
          return SoundEngine::SetVolumeThreshold(-90.0f + float(Below(random, 40)));
        case 16: {
          float buffered = 0.0f;
          bool full = false;
          SoundEngine::GetBufferStatusForPinnedEvent(event.c_str(), buffered, full);
          return Below(random, 2) ? SoundEngine::PinEventInStreamCache(event.c_str(), 10, 5)
                                  : SoundEngine::UnpinEventInStreamCache(event.c_str());
        }
        case 17: {
          const uint32_t playingId = SoundEngine::PlaySourcePlugin(1, 83, object);
          return SoundEngine::StopSourcePlugin(1, 83, playingId);
        }
        case 18: {
          int32_t bufferingMs = 0;
          bool buffering = false;
          return SoundEngine::GetSourceStreamBuffering(Recent(random).first, bufferingMs, buffering);
        }
        case 19:
          return RegisterBusCallback(Below(random, kBuses), Below(random, 2) != 0, Below(random, 3) != 0);
        case 20:
          return SoundEngine::SetBankLoadIOSettings(float(1 + Below(random, 1000)), uint8_t(Below(random, 100)));
        default:
          MotionEngine::SetPlayerVolume(0, 1.0f);
          MotionEngine::SetPlayerListener(0, 0);
          return SN_Success;
      }
    });
  }

  // One step of a game thread.
  void Step(Thread& thread, std::vector<uint32_t>& sequences) {
    std::mt19937& random = thread.random;
    const uint32_t object = Object(random);
    const uint32_t bank = Below(random, kBanks);
    const std::string event = Event(bank, kPlays[Below(random, kPlayCount)]);
    const std::string prefix = kBankPrefix[bank];
    const auto [recentId, recentPlay] = Recent(random);
    const uint32_t roll = Below(random, 100);
    if (roll < 27) {
      std::string noted;
      Watched(thread, "PostEvent", [&] { return PostRandom(random, 0, noted); });
      Note(thread, noted);
    } else if (roll < 30) {
      BankBurst(thread);
    } else if (roll < 38) {
      static const char* const kActions[] = {"stop", "pause", "resume", "break"};
      const uint32_t action = Below(random, 4);
      // The scopes: one playing id, one game object, every game object.
      const uint32_t scope = Below(random, 3);
      Note(thread, std::string(kActions[action]) + " " + event + " at scope " + std::to_string(scope));
      Watched(thread, "ExecuteActionOnEvent", [&] {
        return SoundEngine::ExecuteActionOnEvent(event.c_str(), action, scope == 2 ? kInvalidGameObjectId : object,
                                                 int32_t(Below(random, 40)), SnCurveInterpolation(Below(random, 9)),
                                                 scope == 0 ? recentId : 0);
      });
    } else if (roll < 42) {
      const std::string scopeEvent = prefix + kScopes[Below(random, kScopeCount)];
      Note(thread, "post " + scopeEvent + " on " + std::to_string(object));
      Watched(thread, "PostEvent", [&] { return SoundEngine::PostEvent(scopeEvent.c_str(), object); });
    } else if (roll < 46) {
      Note(thread, "seek " + event);
      Watched(thread, "SeekOnEvent", [&] {
        return Below(random, 2) ? SoundEngine::SeekOnEvent(event.c_str(), object, int32_t(Below(random, 300)),
                                                           Below(random, 2) != 0, Below(random, 2) ? recentId : 0)
                                : SoundEngine::SeekOnEvent(event.c_str(), object, float(Below(random, 100)) / 100.0f,
                                                           Below(random, 2) != 0, Below(random, 2) ? recentId : 0);
      });
    } else if (roll < 49) {
      Note(thread, "stop playing id " + std::to_string(recentId));
      Watched(thread, "StopPlayingID", [&] {
        SoundEngine::StopPlayingID(recentId, int32_t(Below(random, 40)));
        return 0;
      });
    } else if (roll < 51) {
      const bool byPlayingId = Below(random, 2) != 0;
      if (recentPlay) {
        Note(thread, "cancel the callbacks of playing id " + std::to_string(recentId));
        if (byPlayingId)
          Watched(thread, "CancelEventCallback", [&] {
            SoundEngine::CancelEventCallback(recentId);
            return 0;
          });
        else
          Watched(thread, "CancelEventCallbackCookie", [&] {
            SoundEngine::CancelEventCallbackCookie(recentPlay);
            return 0;
          });
        // Made on a game thread, the cancel waited for the play's callbacks running: none comes after it.
        recentPlay->cancelled = true;
        CancelledSurely(*recentPlay);
      }
    } else if (roll < 56) {
      const float distance = float(Below(random, 120));
      const SnSoundPosition position{{distance * 0.6f, 0.0f, distance * 0.8f}, {0.0f, 0.0f, -1.0f}};
      Note(thread, "move object " + std::to_string(object));
      switch (Below(random, 5)) {
        case 0:
          Watched(thread, "SetPosition", [&] { return SoundEngine::SetPosition(object, position); });
          break;
        case 1: {
          const SnSoundPosition positions[kMostPositions] = {position, {{-3.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}},
                                                {{3.0f, 1.0f, -2.0f}, {1.0f, 0.0f, 0.0f}}};
          Watched(thread, "SetMultiplePositions",
                  [&] { return SoundEngine::SetMultiplePositions(object, positions, uint16_t(1 + Below(random, kMostPositions)),
                                                                 Below(random, 2)); });
          break;
        }
        case 2:
          Watched(thread, "SetAttenuationScalingFactor", [&] {
            return SoundEngine::SetAttenuationScalingFactor(object, 0.5f + float(Below(random, 4)));
          });
          break;
        case 3: {
          const SnListenerPosition listener{{0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f}, {float(Below(random, 10)), 0.0f, 0.0f}};
          Watched(thread, "SetListenerPosition", [&] { return SoundEngine::SetListenerPosition(listener); });
          break;
        }
        default:
          Watched(thread, "SetObjectObstructionAndOcclusion", [&] {
            return SoundEngine::SetObjectObstructionAndOcclusion(object, 0, float(Below(random, 2)),
                                                                 float(Below(random, 2)) * 0.5f);
          });
          break;
      }
    } else if (roll < 62) {
      const uint32_t which = Below(random, 7);
      Note(thread, "game sync " + std::to_string(which) + " of " + prefix);
      Watched(thread, "a game sync", [&] {
        switch (which) {
          case 0:
            return SoundEngine::SetRTPCValue((prefix + "Speed").c_str(), float(Below(random, 100)),
                                             Below(random, 2) ? object : kInvalidGameObjectId,
                                             int32_t(Below(random, 50)));
          case 1:
            return SoundEngine::SetRTPCValueByPlayingID((prefix + "Speed").c_str(), float(Below(random, 100)), recentId);
          case 2:
            return SoundEngine::ResetRTPCValue((prefix + "Speed").c_str(), object);
          case 3:
            return SoundEngine::SetSwitch((prefix + "Ground").c_str(), Below(random, 2) ? "A" : "B", object);
          case 4:
            return SoundEngine::SetState("MusicMood", Below(random, 2) ? "Calm" : "None");
          case 5:
            return SoundEngine::PostTrigger("Nothing", object);
          default: {
            const SnAuxSendValue send{SoundEngine::GetIDFromString("Effects"), 0.5f};
            SoundEngine::SetGameObjectAuxSendValues(object, &send, Below(random, 2));
            return SoundEngine::SetGameObjectOutputBusVolume(object, float(Below(random, 3)) * 0.5f);
          }
        }
      });
    } else if (roll < 72) {
      Sequence(thread, sequences);
    } else if (roll < 75) {
      Note(thread, "game object " + std::to_string(object) + " removed under its voices");
      Watched(thread, "UnregisterGameObj", [&] { return SoundEngine::UnregisterGameObj(object); });
      Watched(thread, "RegisterGameObj", [&] { return SoundEngine::RegisterGameObj(object); });
    } else if (roll < 77) {
      const uint32_t target = Below(random, 2) ? object : kInvalidGameObjectId;
      Note(thread, "StopAll " + std::to_string(target));
      Watched(thread, "StopAll", [&] { return SoundEngine::StopAll(target); });
    } else if (roll < 78) {
      if (Below(random, 3)) return Squeeze(thread);
      const SNRESULT suspended = Watched(thread, "Suspend", [&] { return SoundEngine::Suspend(Below(random, 2) != 0); });
      std::this_thread::sleep_for(std::chrono::milliseconds(Below(random, 5)));
      const SNRESULT woken = Watched(thread, "WakeupFromSuspend", [&] { return SoundEngine::WakeupFromSuspend(); });
      Note(thread, "Suspend answered " + std::to_string(suspended) + ", WakeupFromSuspend " + std::to_string(woken));
      std::lock_guard<std::mutex> lock(failureLock_);
      lastWakeup_ = "Suspend answered " + std::to_string(suspended) + " and WakeupFromSuspend " + std::to_string(woken) +
                    " at step " + std::to_string(thread.step.load()) + " of game thread " + std::to_string(thread.index) +
                    (squeezedNow_ ? ", the default pool held near full" : "");
    } else if (roll < 84) {
      MemoryBank(thread);
    } else if (roll < 91) {
      BankCalls(thread);
    } else if (roll < 95) {
      Media(thread);
    } else if (roll < 97) {
      Other(thread, object, bank);
    } else if (roll < 98) {
      Note(thread, "play position of " + std::to_string(recentId));
      uint32_t position = 0;
      Watched(thread, "GetSourcePlayPosition", [&] { return SoundEngine::GetSourcePlayPosition(recentId, &position); });
    } else {
      Flood(thread);
    }
  }

  void GameThread(Thread& thread) {
    std::vector<uint32_t> sequences;
    t_gameThread = thread.index;
    for (uint32_t step = 0; step < steps_ && !stop_; ++step) {
      thread.step = step;
      if (step == thread.chainAt) {
        Note(thread, "a chain of " + std::to_string(kGameChainLinks) + " bank calls from callbacks");
        Watched(thread, "LoadBank(\"Missing.bnk\") beginning a chain", [&] {
          StartChain(kGameChainLinks, "from " + ThreadName(thread.index));
          return 0;
        });
      }
      Step(thread, sequences);
      if (squeezedNow_ && !Below(thread.random, 4)) SpareObject(thread);
      if (thread.squeezeSteps && --thread.squeezeSteps == 0) {
        Note(thread, "the default pool given back");
        Unsqueeze();
      }
      std::this_thread::sleep_for(std::chrono::microseconds(Below(thread.random, 1000)));
    }
    if (thread.squeezeSteps) Unsqueeze();
    thread.squeezeSteps = 0;
    for (uint32_t id : sequences) Watched(thread, "DynamicSequence::Close", [&] { return Seq::Close(id); });
  }

  void Walk() {
    for (uint32_t i = 0; i < kThreads + 2; ++i) {
      threads_[i].index = i;
      threads_[i].random.seed(seed_ * kThreads + i);
      // One game thread a walk begins a chain.
      threads_[i].chainAt = i == seed_ % kThreads ? Below(threads_[i].random, steps_) : steps_;
    }
    // The threads' places are set before the watchdog reads them.
    watchdog_ = std::thread([this] { WatchThreads(); });
    {
      uint32_t id = 0;
      ASSERT_EQ(SoundEngine::LoadBank("WalkF.bnk", -1, id), SN_Success) << log_.Take();
    }
    std::vector<std::thread> games;
    for (uint32_t i = 0; i < kThreads; ++i) games.emplace_back([this, i] { GameThread(threads_[i]); });
    // The game's own loop: a frame's calls handed to the audio thread (or rendered here, without it)
    // every couple of milliseconds, until the game threads are done.
    std::atomic<uint32_t> running{kThreads};
    Thread& loop = threads_[kThreads];
    std::thread frames([&] {
      t_gameThread = kThreads;
      loop.renders = true;
      for (uint32_t frame = 0; running.load(); ++frame) {
        Watched(loop, "RenderAudio", [] { return SoundEngine::RenderAudio(); });
        if (frame % 64 == 0 && !keptChainBegun_.load())
          Watched(loop, "PostEvent of a marker that begins a chain", [] {
            return SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Marked").c_str(), kFirstObject,
                                          SnCallback_Marker, &OnChainMarker, nullptr);
          });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      loop.renders = false;
    });
    // Without the audio thread a second game thread renders too, while the others unload and free.
    std::thread second;
    if (!audioThread_)
      second = std::thread([&] {
        t_gameThread = kThreads + 1;
        threads_[kThreads + 1].renders = true;
        while (running.load()) {
          Watched(threads_[kThreads + 1], "RenderAudio", [] { return SoundEngine::RenderAudio(); });
          std::this_thread::sleep_for(std::chrono::microseconds(500 + Below(threads_[kThreads + 1].random, 1000)));
        }
        threads_[kThreads + 1].renders = false;
      });
    for (std::thread& game : games) {
      game.join();
      running.fetch_sub(1);
    }
    frames.join();
    if (second.joinable()) second.join();

    // From here on callbacks call nothing: what the checks below wait for was all asked before.
    calm_ = true;
    const auto settled = Clock::now() + kDeadline;
    while (callbackCalls_.load() && Clock::now() < settled) std::this_thread::yield();
    // Everything stopped: every end-of-event callback still owed comes.
    Thread& last = threads_[0];
    Watched(last, "the last StopAll", [&] { return SoundEngine::StopAll(); });
    const auto owed = [&] {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const Play& play : plays_)
        if (play.wantsEnd && !play.cancelled && play.ends.load() == 0) return &play;
      return static_cast<const Play*>(nullptr);
    };
    const auto until = Clock::now() + kDeadline;
    while (owed() && Clock::now() < until) {
      Watched(last, "StopAll, waiting for the owed end-of-event callbacks", [] { return SoundEngine::StopAll(); });
      Watched(last, "RenderAudio, waiting for the owed end-of-event callbacks", [] { return SoundEngine::RenderAudio(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (const Play* play = owed())
      Fail(play->what + " (playing id " + std::to_string(play->playingId.load()) +
           "): no end-of-event callback within " + std::to_string(kDeadline.count()) + " s");
    // Every accepted bank call's callback comes once: the bank thread has run the commands before this
    // one, and an unload's comes once the passes have ended its bank.
    Watched(last, "the last ClearPreparedEvents", [&] { return SoundEngine::ClearPreparedEvents(); });
    const auto unanswered = [&] {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const BankCall& call : bankCalls_)
        if (call.accepted && !call.cancelled && call.calls.load() == 0) return true;
      return false;
    };
    const auto answered = Clock::now() + kDeadline;
    while (unanswered() && Clock::now() < answered) {
      Watched(last, "RenderAudio, waiting for the bank callbacks", [] { return SoundEngine::RenderAudio(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const BankCall& call : bankCalls_)
        if (call.accepted && !call.cancelled && call.calls.load() != 1)
          Fail(call.what + ": its callback came " + std::to_string(call.calls.load()) + " times");
    }
    ChainsEnd(last);
    JudgeImageCalls();
    // A voice that could not be counted is never uncounted.
    Watched(last, "RenderAudio, the log handed over", [] { return SoundEngine::RenderAudio(); });
    if (log_.Take().find("an instance ended that was never counted") != std::string::npos)
      Fail("the log says \"an instance ended that was never counted\"");
    BusCallbacksCome(last);
    SparesPlay(last);
    stop_ = true;
    watchdog_.join();

    EXPECT_GT(Watch().frames.load(), 0u) << "the engine rendered nothing (" << Mode() << "); the last wake-up: "
                                         << lastWakeup_;
    std::vector<std::string> failures;
    {
      std::lock_guard<std::mutex> lock(failureLock_);
      failures = failures_;
    }
    for (const std::string& failure : failures)
      ADD_FAILURE() << failure;
    // Banks and media taken back before the engine ends, as a game leaving does, once no callback
    // lends any more.
    const auto quiet = Clock::now() + kDeadline;
    while (callbackCalls_.load() && Clock::now() < quiet) std::this_thread::yield();
    if (callbackCalls_.load())
      ADD_FAILURE() << "calls from callbacks did not return within " << kDeadline.count() << " s of the walk's end ("
                    << Mode() << "):" << CallbackCalls(Clock::now().time_since_epoch().count());
    // What they lent is freed after the engine ends (a refused call leaves it read).
    if (lent_) {
      SoundEngine::UnloadBank("WalkM", lent_->data());
      kept_.push_back(std::move(lent_));
    }
    for (MediaSlot& slot : media_) {
      std::lock_guard<std::mutex> lock(slot.lock);
      if (slot.copy) {
        const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
        EXPECT_EQ(SoundEngine::UnsetMedia(&item, 1), SN_Success);
        kept_.push_back(std::move(slot.copy));
      }
    }
    TermAmidBankCalls();
  }

  // A bank call of the last phase, whose callback takes a while and may call again or cancel.
  struct TermCall {
    std::atomic<uint32_t> calls{0};
    std::atomic<bool> accepted{false};
    std::atomic<bool> cancelled{false};  // its cookie cancelled: it may go uncalled
    bool afterTerm = false;  // made once Term had returned
    std::atomic<int32_t> returned{-1};
    std::string what;
  };
  static void OnTermCall(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    RandomApiWalkTest* walk = g_walk;
    TermCall& call = *static_cast<TermCall*>(cookie);
    if (!walk) return;
    walk->Moved();
    if (call.calls.fetch_add(1)) walk->Fail(call.what + ": its callback came twice");
    if (call.afterTerm) walk->Fail(call.what + ": made once Term had returned, it called back");
    // Answered by Term on its own thread: every call made here is refused.
    const uint64_t self = Platform::CurrentThreadId();
    if ((walk->termThreads_[0].load() == self || walk->termThreads_[1].load() == self) &&
        (SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Blip").c_str(), kFirstObject) != 0 ||
         SoundEngine::RegisterGameObj(kFirstObject) != SN_Failure ||
         SoundEngine::SetRTPCValue((std::string(kBankPrefix[0]) + "Speed").c_str(), 1.0f) != SN_Failure))
      walk->Fail(call.what + ": a call made in its callback, which Term answered on its own thread, was admitted");
    std::mt19937& random = walk->CallbackRandom();
    std::this_thread::sleep_for(std::chrono::microseconds(walk->Below(random, 3000)));
    if (!walk->Below(random, 3)) walk->TermPhaseCall(random, "from a bank callback", nullptr);
  }
  // One call of the last phase: a waited load or unload, one with a callback, or a cancel.
  void TermPhaseCall(std::mt19937& random, const std::string& from, Thread* thread) {
    const uint32_t kind = Below(random, 6);
    TermCall* call = nullptr;
    bool afterTerm = false;
    {
      std::lock_guard<std::mutex> lock(playsLock_);
      if (kind == 5) {
        if (termCalls_.empty()) return;
        call = &termCalls_[Below(random, uint32_t(termCalls_.size()))];
      } else {
        call = &termCalls_.emplace_back();
        afterTerm = call->afterTerm = termed_.load();
      }
    }
    const auto watched = [&](const char* what, auto&& run) { return thread ? Watched(*thread, what, run) : run(); };
    uint32_t id = 0;
    const char* names[] = {"FPlay_Plain"};
    SNRESULT returned = SN_Success;
    switch (kind) {
      case 0:
        returned = watched("LoadBank(\"WalkF.bnk\") as Term comes", [&] { return SoundEngine::LoadBank("WalkF.bnk", -1, id); });
        break;
      case 1:
        returned = watched("UnloadBank(\"WalkF.bnk\") as Term comes",
                           [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr); });
        break;
      case 2:
        returned = watched("LoadBank(\"WalkF.bnk\") with a callback as Term comes",
                           [&] { return SoundEngine::LoadBank("WalkF.bnk", &OnTermCall, call, -1, id); });
        break;
      case 3:
        returned = watched("PrepareEvent with a callback as Term comes", [&] {
          return SoundEngine::PrepareEvent(SnPreparation_Load, names, 1, &OnTermCall, call);
        });
        break;
      case 4:
        returned = watched("UnloadBank(\"WalkF.bnk\") with a callback as Term comes",
                           [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr, &OnTermCall, call); });
        break;
      default:
        call->cancelled = true;
        watched("CancelBankCallbackCookie as Term comes", [&] {
          SoundEngine::CancelBankCallbackCookie(call);
          return 0;
        });
        return;
    }
    call->what = std::string(kind < 2 ? "a waited " : "a ") + (kind == 0 || kind == 2 ? "LoadBank" : kind == 3 ? "PrepareEvent" : "UnloadBank") +
                 (kind >= 2 ? " with a callback " : " ") + from + (afterTerm ? ", made once Term had returned" : "");
    call->returned = returned;
    if (kind >= 2 && returned == SN_Success) call->accepted = true;
    if (afterTerm && returned == SN_Success) Fail(call->what + " answered 1");
  }
  // The walk ends with Term, in some walks while game threads are inside bank calls, their callbacks
  // and cancels: every call returns, those made once Term returned are refused, a callback comes at
  // most once, and none after Term returned, and every accepted call whose cookie was not cancelled
  // calls back. A game thread holds a playlist across Term, another may wait for it, and a second
  // Term may come from another thread; then Init runs beside calls and a Term.
  void TermAmidBankCalls() {
    std::mt19937 random(seed_ * 7 + 3);
    const bool bankCalls = !Below(random, 3);
    const bool waiter = Below(random, 2) != 0, twoTerms = Below(random, 2) != 0;
    const size_t failuresBefore = [&] {
      std::lock_guard<std::mutex> lock(failureLock_);
      return failures_.size();
    }();
    stop_ = false;
    watchdog_ = std::thread([this] { WatchThreads(); });
    std::atomic<bool> done{false};
    std::vector<std::thread> games;
    for (uint32_t i = 0; bankCalls && i < kThreads; ++i)
      games.emplace_back([this, i, &done] {
        t_gameThread = i;
        Thread& thread = threads_[i];
        while (!done.load()) TermPhaseCall(thread.random, "from " + ThreadName(i), &thread);
      });
    const uint32_t sequence = Seq::Open(kFirstObject);
    std::thread holder([this, sequence, waiter] { HoldPlaylistThroughTerm(sequence, waiter); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + Below(random, 30)));
    history_.Note(std::string("Term") + (twoTerms ? " from two threads" : "") + " while a game thread holds a playlist" +
                  (bankCalls ? " and the game threads make bank calls" : ""));
    std::thread second;
    if (twoTerms) second = std::thread([this] { EndEngine(1, threads_[kThreads + 1], "a second Term"); });
    EndEngine(0, threads_[kThreads], "Term");
    termed_ = true;
    if (second.joinable()) second.join();
    holder.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    done = true;
    for (std::thread& game : games) game.join();
    InitBesideCallsAndTerm();
    stop_ = true;
    watchdog_.join();
    {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const TermCall& call : termCalls_)
        if (call.calls.load() > 0 && call.afterTerm)
          Fail(call.what + ": called back though made once Term had returned");
        else if (call.accepted.load() && !call.cancelled.load() && call.calls.load() != 1)
          Fail(call.what + ": accepted, its callback came " + std::to_string(call.calls.load()) + " times");
    }
    std::lock_guard<std::mutex> lock(failureLock_);
    for (size_t i = failuresBefore; i < failures_.size(); ++i) ADD_FAILURE() << failures_[i];
  }
  // A Term of the last phase, watched as `thread`'s call: once it returns the engine is freed, no
  // playlist is held, and the callbacks it answered on its thread were refused every call.
  void EndEngine(uint32_t slot, Thread& thread, const char* what) {
    termThreads_[slot] = Platform::CurrentThreadId();
    Watched(thread, what, [] {
      SoundEngine::Term();
      return 0;
    });
    termThreads_[slot] = 0;
    if (SoundEngine::IsInitialized() || g_pAudioMgr) Fail(std::string(what) + " returned before the engine was freed");
    if (holding_.load()) Fail(std::string(what) + " returned while a game thread held a dynamic sequence's playlist");
  }
  // A game thread locks `sequence`'s playlist and edits it until Term has begun (its calls refused),
  // then unlocks it, which is not refused; a lock made behind it (`waiter`) returns null.
  void HoldPlaylistThroughTerm(uint32_t sequence, bool waiter) {
    Seq::Playlist* playlist = sequence ? Seq::LockPlaylist(sequence) : nullptr;
    if (!playlist) return;
    holding_ = true;
    std::thread waiting;
    if (waiter)
      waiting = std::thread([this, sequence] {
        if (!Seq::LockPlaylist(sequence)) return;
        Fail("a LockPlaylist waiting for a game thread holding the playlist got it once Term had begun");
        Seq::UnlockPlaylist(sequence);
      });
    static char probe;
    const uint32_t item = SoundEngine::GetIDFromString((std::string(kBankPrefix[0]) + "Blip").c_str());
    for (uint32_t closed = 0, edits = 0; closed < 50 && edits < 100000; ++edits) {
      if (!playlist->Enqueue(item) || (playlist->Count() > 4 && !playlist->Remove(0)))
        Fail("a playlist held as Term came could not be edited");
      if (SoundEngine::CancelBankCallbackCookie(&probe) == SN_Failure) ++closed;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    holding_ = false;
    if (Seq::UnlockPlaylist(sequence) != SN_Success) Fail("the UnlockPlaylist of a playlist held as Term came was refused");
    if (waiting.joinable()) waiting.join();
  }
  // Init on game thread 0, held in the making of its sink while game thread 1 makes calls and Term is
  // made here: the calls answer as on an engine down, and Term returns once Init has, the engine freed.
  void InitBesideCallsAndTerm() {
    initHeld_ = true;
    std::atomic<bool> initReturned{false};
    std::thread init([this, &initReturned] {
      if (Watched(threads_[0], "Init held in the making of its sink",
                  [this] { return SoundEngine::Init(&settings_, &platform_); }) != SN_Success)
        Fail("Init beside calls and a Term did not answer 1");
      initReturned = true;
    });
    std::thread caller([this, &initReturned] {
      while (!initReturned.load()) {
        const bool up = Watched(threads_[1], "calls while Init runs", [] {
          Seq::Playlist* playlist = Seq::LockPlaylist(1);
          if (playlist) Seq::UnlockPlaylist(1);
          return SoundEngine::RegisterGameObj(kFirstObject) != SN_Failure ||
                 SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Blip").c_str(), kFirstObject) != 0 ||
                 playlist;
        });
        // Init still held once the calls returned: it was held all through them.
        const bool inside = insideInit_.load();
        if (inside && up) Fail("a call made while Init ran on another thread answered as on an engine up");
        callsInsideInit_ += inside;
      }
    });
    const auto until = Clock::now() + kDeadline;
    while (!insideInit_.load() && !initReturned.load() && Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    termWhileInit_ = true;
    EndEngine(0, threads_[kThreads], "Term made while Init ran");
    if (insideInit_.load()) Fail("Term made while Init ran on another thread returned with Init still inside");
    init.join();
    caller.join();
    // Init came first: Term, waiting for it, ended the engine it started.
    if (SoundEngine::IsInitialized() || g_pAudioMgr) Fail("Init made before a Term left the engine up");
  }
  // Called as Init makes its sink: held there, once, until calls and a Term are made beside it.
  void HoldInit() {
    if (!initHeld_.exchange(false)) return;
    insideInit_ = true;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!(callsInsideInit_.load() >= 20 && termWhileInit_.load()) && Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // Term waits for Init by then
    insideInit_ = false;
  }

  // The buses known to call back do, within a few frames while a voice plays through them: each bus
  // callback registered on them comes. Those of the other buses are counted and named beside.
  void BusCallbacksCome(Thread& last) {
    uint32_t id = 0;
    Watched(last, "LoadBank(\"Init.bnk\") before the bus callbacks' check",
            [&] { return SoundEngine::LoadBank("Init.bnk", -1, id); });
    Watched(last, "LoadBank(\"WalkF.bnk\") before the bus callbacks' check",
            [&] { return SoundEngine::LoadBank("WalkF.bnk", -1, id); });
    // A secondary output the walk left holds listener 0: the voice's would reach no master bus while it
    // stays, as an output that takes a listener from the main device is meant to do.
    Watched(last, "RemoveSecondaryOutput before the bus callbacks' check",
            [] { return SoundEngine::RemoveSecondaryOutput(1, SnOutput_Secondary); });
    // A game object the walk removed and registered again while the default pool was held full stays
    // unregistered (its registration found no memory), and posts on it are dropped: the voices' object
    // is registered again here, as a game does before it plays on one.
    Watched(last, "RegisterGameObj before the bus callbacks' check",
            [] { return SoundEngine::RegisterGameObj(kFirstObject); });
    for (uint32_t bus = 0; bus < kBuses; ++bus)
      for (uint32_t kind = 0; kind < 2; ++kind) {
        RegisterBusCallback(bus, kind != 0, true);
        busCalls_[bus][kind] = 0;
      }
    const uint32_t looped = Watched(last, "PostEvent before the bus callbacks' check", [] {
      return SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Looped").c_str(), kFirstObject);
    });
    const uint32_t voiced = Watched(last, "PostEvent on Voices before the bus callbacks' check", [] {
      return SoundEngine::PostEvent((std::string(kBankPrefix[0]) + "Play_Voiced").c_str(), kFirstObject);
    });
    const auto demandedCame = [&] {
      for (uint32_t bus = 0; bus < kBuses; ++bus)
        if (kBusCallsBack[bus] && (!busCalls_[bus][0].load() || !busCalls_[bus][1].load())) return false;
      return true;
    };
    const uint64_t firstFrame = Watch().frames.load();
    const auto until = Clock::now() + kDeadline;
    while (!(demandedCame() && Watch().frames.load() > firstFrame + 8) && Clock::now() < until) {
      Watched(last, "RenderAudio, waiting for the bus callbacks", [] { return SoundEngine::RenderAudio(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::string counts;
    for (uint32_t bus = 0; bus < kBuses; ++bus)
      counts += std::string(bus ? ", " : "") + kBusNames[bus] + (kBusCallsBack[bus] ? "" : " (not demanded)") + " " +
                std::to_string(busCalls_[bus][0].load()) + " volume and " + std::to_string(busCalls_[bus][1].load()) +
                " metering calls";
    if (!demandedCame()) {
      const std::string log = log_.Take();
      Fail("a bus callback registered on a bus known to call back did not come in " +
           std::to_string(Watch().frames.load() - firstFrame) + " frames (" + std::to_string(firstFrame) +
           " before) with a voice on Effects and one on Voices: " + counts + CallbackCalls(Clock::now().time_since_epoch().count()) +
           "; the last wake-up: " + lastWakeup_ +
           "; the log ends\n" + log.substr(log.size() > 1500 ? log.size() - 1500 : 0));
    }
    Watched(last, "StopPlayingID after the bus callbacks' check", [&] {
      SoundEngine::StopPlayingID(looped);
      SoundEngine::StopPlayingID(voiced);
      return 0;
    });
  }

  static constexpr uint32_t kRecent = 16;
  std::deque<TermCall> termCalls_;
  std::atomic<bool> termed_{false};
  std::atomic<uint64_t> termThreads_[2] = {};  // the threads in a Term of the last phase
  std::atomic<bool> holding_{false};           // a game thread holds a playlist as Term comes
  std::atomic<bool> initHeld_{false}, insideInit_{false}, termWhileInit_{false};
  std::atomic<uint32_t> callsInsideInit_{0};
  // Deeper than the stack of a game thread (8 MiB) or of the audio thread (1 MiB) would hold nested.
  static constexpr uint32_t kGameChainLinks = 5000;
  static constexpr uint32_t kCallbackChainLinks = 1000;
  static constexpr uint32_t kChainsFromCallbacks = 3;
  static constexpr uint32_t kKeptChainLinks = 300;
  std::atomic<bool> keptChainBegun_{false};
  std::deque<Chain> chains_;
  std::atomic<uint64_t> bankCallsBegun_{0};
  std::atomic<uint32_t> chainsFromCallbacks_{0};
  // Which game thread this is (kThreads: the game's loop), for the seeds of its callbacks.
  static inline thread_local uint32_t t_gameThread = 0;
  // The innermost bank call this thread is making (see Within), and the bank callbacks it is inside.
  static inline thread_local InCall* t_inCall = nullptr;
  static inline thread_local uint32_t t_bankCallbacks = 0;
  // A bank callback of a call kept in a pass (no bank thread) is this thread in the pass's chain: a
  // bank call made in it is the chain's, not this thread's own.
  static inline thread_local bool t_inKeptChain = false;
  static inline uint32_t g_generation = 0;
  std::terminate_handler previousTerminate_ = nullptr;
  bool bankThread_ = true;
  bool audioThread_ = true;
  uint32_t generation_ = 0;
  uint32_t seed_ = 1;
  uint32_t steps_ = 0;
  Tools::BankDescription banks_[kBanks];
  std::vector<uint8_t> images_[kBanks];
  std::vector<uint8_t> gameMedia_[kBanks];
  MediaSlot media_[kBanks];
  Thread threads_[kThreads + 2];  // the game threads, the game's loop and the second renderer
  CallbackPlace places_[kPlaces];
  std::mutex squeezeLock_;
  std::vector<void*> squeezed_;  // the default pool's blocks the game holds
  std::atomic<bool> squeezedNow_{false};
  std::string lastWakeup_ = "none";  // written by the game threads, read once they are done
  std::atomic<uint32_t> busCalls_[kBuses][2] = {};  // volume and metering calls of each bus
  std::atomic<bool> calm_{false};
  std::atomic<uint32_t> recentSequence_{0};  // the dynamic sequence a game thread opened last
  BankCall* recentBankCalls_[kRecent] = {};
  uint32_t recentBankCallAt_ = 0;
  std::thread watchdog_;
  // When a chain's last link came (the clock's ticks): see Waiting.
  std::atomic<int64_t> lastLink_{0};
  // When a watched call, or a call made in a callback, last returned.
  std::atomic<int64_t> lastReturn_{0};
  std::atomic<uint64_t> moves_{0};  // see Moved
  // How long a call may be held (see HeldCall).
  Clock::duration heldLimit_ = kDeadline;
  std::atomic<bool> stop_{false};
  RandomWalk::History history_;
  std::mutex failureLock_;
  std::vector<std::string> failures_;
  std::mutex playsLock_;
  std::deque<Play> plays_;
  std::deque<BankCall> bankCalls_;
  std::pair<uint32_t, Play*> recent_[kRecent];
  uint32_t recentAt_ = 0;
  std::atomic<uint32_t> callbackCalls_{0};
  std::unique_ptr<std::vector<uint8_t>> lent_;  // the image of the bank loaded from memory, while lent
  // Who calls on the image: none (0), a callback (1) or a game thread (2); and the image while lent.
  std::atomic<uint32_t> imageGate_{0};
  std::atomic<std::vector<uint8_t>*> lentImage_{nullptr};
  std::mutex imageCallsLock_;
  std::deque<ImageCall> imageCalls_;  // the calls on the image, in the order they were made
  std::atomic<uint32_t> clearsBegun_{0};
  std::atomic<uint32_t> clearsEnded_{0};
  // The cookies bank calls share (the first is null), and the callbacks of the calls made with them.
  static constexpr uint32_t kCookies = 3;
  static constexpr uint32_t kSlots = 128;
  char cookies_[kCookies] = {};
  std::atomic<BankCall*> slots_[kSlots] = {};
  std::mutex cancelLock_;
  Spare spares_[kThreads];
  std::mutex keptLock_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> kept_;
};

void BadFrame(const std::string& what) {
  if (RandomApiWalkTest* walk = g_walk.load()) walk->Fail(what);
}
void InitMakesItsSink() {
  if (RandomApiWalkTest* walk = g_walk.load()) walk->HoldInit();
}

// The four ways a game runs the engine, each a suite of its own: with both of the engine's threads,
// without the bank thread (bank commands run on the caller's thread), without the audio thread (the
// game's RenderAudio renders) and without either.
class RandomApiWalkNoBankThreadTest : public RandomApiWalkTest {
 public:
  RandomApiWalkNoBankThreadTest() { bankThread_ = false; }
};
class RandomApiWalkNoAudioThreadTest : public RandomApiWalkTest {
 public:
  RandomApiWalkNoAudioThreadTest() { audioThread_ = false; }
};
class RandomApiWalkNoEngineThreadsTest : public RandomApiWalkTest {
 public:
  RandomApiWalkNoEngineThreadsTest() {
    bankThread_ = false;
    audioThread_ = false;
  }
};

TEST_F(RandomApiWalkTest, EveryFrameIsFiniteEveryWaitedCallReturnsAndEveryCallbackComesOnce) { Walk(); }
TEST_F(RandomApiWalkNoBankThreadTest, EveryFrameIsFiniteEveryWaitedCallReturnsAndEveryCallbackComesOnce) { Walk(); }
TEST_F(RandomApiWalkNoAudioThreadTest, EveryFrameIsFiniteEveryWaitedCallReturnsAndEveryCallbackComesOnce) { Walk(); }
TEST_F(RandomApiWalkNoEngineThreadsTest, EveryFrameIsFiniteEveryWaitedCallReturnsAndEveryCallbackComesOnce) { Walk(); }

// A deadlock of the game's own among its threads' calls while its loop renders on: a bank callback on
// the bank thread waits for a lock a game thread holds across a waited load, which waits for the bank
// thread. The watchdog ends the run, naming the held call, with the thread's stack and the history.
class RandomApiWalkHeldCallTest : public RandomApiWalkTest {};
std::mutex g_heldGameLock;
TEST_F(RandomApiWalkHeldCallTest, AGameThreadsCallHeldWhileTheFramesGoOnEndsTheRunWithItsStack) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        // The child's own deadline: a watchdog that says nothing by then fails the case.
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::seconds(10));
          std::fprintf(stderr, "the watchdog said nothing within 10 s\n");
          std::_Exit(1);
        }).detach();
        heldLimit_ = std::chrono::seconds(2);
        for (uint32_t i = 0; i < kThreads + 2; ++i) threads_[i].index = i;
        watchdog_ = std::thread([this] { WatchThreads(); });
        Thread& loop = threads_[kThreads];
        std::thread frames([&] {
          loop.renders = true;
          while (true) {
            Watched(loop, "RenderAudio", [] { return SoundEngine::RenderAudio(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        });
        frames.detach();
        Thread& game = threads_[0];
        std::lock_guard<std::mutex> lock(g_heldGameLock);
        history_.Note(0, "thread 0: LoadBank(\"WalkF.bnk\") whose callback takes the game's lock, held here");
        uint32_t id = 0;
        const SnBankCallback takesTheLock = [](uint32_t, const void*, SNRESULT, int32_t, void*) {
          std::lock_guard<std::mutex> in(g_heldGameLock);
        };
        SoundEngine::LoadBank("WalkF.bnk", takesTheLock, nullptr, -1, id);
        Watched(game, "LoadBank(\"Init.bnk\") holding the game's lock", [&] {
          return SoundEngine::LoadBank("Init.bnk", -1, id);
        });
      },
      "game thread 0 \\(step 0\\) is in LoadBank\\(\"Init.bnk\"\\) holding the game's lock since [0-9]+ ms, held "
      "[0-9]+ ms(.|\n)*whose callback takes the game's lock(.|\n)*the stack of game thread 0");
  GTEST_FLAG_SET(death_test_style, style);
}

// What the walk found, each as a case of its own.

// The game sets the bank loads' throughput and priority from its own threads while the bank thread
// reads a bank file with them: the settings are the game's to change at any time (ThreadSanitizer).
TEST_F(SoundEndToEndTest, BankLoadSettingsChangeWhileTheBankThreadReadsABankFile) {
  std::atomic<bool> done{false};
  std::thread game([&] {
    for (uint32_t i = 0; !done; ++i)
      EXPECT_EQ(SoundEngine::SetBankLoadIOSettings(float(1000 + i % 1000), uint8_t(i % 100)), SN_Success);
  });
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success) << log_.Take();
  }
  done = true;
  game.join();
}

}  // namespace
