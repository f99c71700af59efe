// A seeded random walk over the game's calls into the sound engine, the companion of the chain walk:
// game threads post events with every kind of callback, stop, seek, pause and resume them at every
// scope, move and remove game objects, set game parameters, switches and states, play dynamic
// sequences and MIDI, load, unload, prepare and clear banks from files and from the game's memory,
// and lend and take back media, while the audio thread renders. Callbacks call back into the engine
// (a bounded depth of calls). The game's memory is freed or overwritten the moment the call that
// takes it back returns; floods post past the ring's room. Every frame the sink gets is finite and
// within full scale, every waited call returns within a deadline, every end-of-event callback comes
// once for each playing id posted, none after its cancel. ORV_FUZZ_SEED picks another walk,
// ORV_RANDOM_STEPS makes each game thread's walk longer; a failure names the seed and the last steps.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
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

#include "MusicEngine/MusicEngine.h"
#include "SoundEngine/Actions/EventReceiver.h"
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
constexpr auto kDeadline = std::chrono::seconds(60);
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

// Each voice's loudest: a 0.5 sine at -40 dB (0.005), with room for a pan's rounding, so that no honest
// sum of the voices a flood plays comes near full scale.
constexpr float kLoudestWalkVoice = 0.01f;

// A plug-in sink on the audio thread that checks each frame as it is handed and remembers the first
// one that is not finite or goes past full scale.
struct FrameWatch {
  std::atomic<uint64_t> frames{0};
  std::atomic<bool> bad{false};
};
void BadFrame(const std::string& what);
FrameWatch& Watch() {
  static FrameWatch watch;
  return watch;
}
class CheckingSink final : public SN::CSnSink {
 public:
  CheckingSink() : CSnSink(0) {}
  static SN::CSnSink* Make(int32_t) { return new CheckingSink; }
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
    for (uint32_t s = 0; s < count; ++s) {
      const float sample = m_frameBuffer.samples[s];
      if (std::isfinite(sample) && std::fabs(sample) <= most) continue;
      if (!Watch().bad.exchange(true))
        BadFrame("frame " + std::to_string(frame) + " sample " + std::to_string(s) + " is " + std::to_string(sample) +
                 ", louder than " + std::to_string(voices) + " voices make");
      return;
    }
  }
  void WriteSilence() override {}
  bool IsStarved() override { return false; }
  void ResetStarved() override {}
  uint32_t GetWaitTime() override { return 1; }

 private:
  uint32_t m_voices = 0;
};

// A play the walk posted (or a dynamic sequence it opened), its callbacks' cookie.
struct Play {
  std::atomic<uint32_t> playingId{0};
  std::atomic<uint32_t> ends{0};
  std::atomic<bool> cancelled{false};
  bool wantsEnd = false;
  uint32_t depth = 0;
  std::string what;
};
// A bank command with a callback: the callback comes once unless its cookie was cancelled.
struct BankCall {
  std::atomic<uint32_t> calls{0};
  std::atomic<bool> accepted{false};
  std::atomic<bool> cancelled{false};
  std::atomic<std::vector<uint8_t>*> image{nullptr};  // freed by the callback: the engine let go of it
  std::string what;
};
// A copy of a bank's prepared tone the game lends with SetMedia.
struct MediaSlot {
  std::mutex lock;
  std::unique_ptr<std::vector<uint8_t>> copy;
  uint32_t mediaId = 0;
};

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
        std::fprintf(stderr, "(seed %u) after%s\n", walk->seed_, walk->history_.Text().c_str());
    });
#endif
    seed_ = RandomWalk::Seed();
    steps_ = RandomWalk::Steps(400);
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
    // The audio thread on a sink that checks every frame; the real clock, as a game has.
    Platform::SetTickSource(nullptr);
    Watch().frames = 0;
    Watch().bad = false;
    settings_.useAudioThread = 1;
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
    SoundEngine::Term();
    g_walk = nullptr;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    __sanitizer_set_death_callback(nullptr);
#endif
    OutputFixture::TearDown();
    // Only now is nothing left that could read what the game lent.
    kept_.clear();
  }

 public:
  // One game thread's place: what it waits for, since when, and its step.
  struct Thread {
    std::mt19937 random;
    std::atomic<const char*> waitingFor{nullptr};
    std::atomic<int64_t> since{0};
    std::atomic<uint32_t> step{0};
    uint32_t index = 0;
  };

  uint32_t Below(std::mt19937& random, uint32_t n) { return uint32_t(random() % n); }

  // Every call the walk makes is watched: one that does not return within the deadline ends the run,
  // saying what it waited for.
  template <typename Call>
  auto Watched(Thread& thread, const char* what, Call&& call) {
    thread.since = Clock::now().time_since_epoch().count();
    thread.waitingFor = what;
    struct Done {
      Thread& thread;
      ~Done() { thread.waitingFor = nullptr; }
    } done{thread};
    return call();
  }
  void WatchThreads() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int64_t now = Clock::now().time_since_epoch().count();
      for (Thread& thread : threads_) {
        const char* what = thread.waitingFor.load();
        if (what && now - thread.since.load() > std::chrono::duration_cast<Clock::duration>(kDeadline).count()) {
          std::fprintf(stderr, "game thread %u waited more than %lld s for %s (seed %u, step %u) after%s\n",
                       thread.index, static_cast<long long>(kDeadline.count()), what, seed_, thread.step.load(),
                       history_.Text().c_str());
          std::abort();
        }
      }
    }
  }

  // A failure, with the steps before it.
  void Fail(const std::string& what) {
    const std::string history = history_.Text();
    std::lock_guard<std::mutex> lock(failureLock_);
    if (failures_.size() < 20) failures_.push_back(what + " (seed " + std::to_string(seed_) + ") after" + history);
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
  BankCall& NewBankCall(const std::string& what) {
    std::lock_guard<std::mutex> lock(playsLock_);
    BankCall& call = bankCalls_.emplace_back();
    call.what = what;
    return call;
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
    std::lock_guard<std::mutex> lock(playsLock_);
    if (!recentAt_) return {0, nullptr};
    return recent_[Below(random, std::min<uint32_t>(recentAt_, kRecent))];
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
    if (play->cancelled)
      walk->Fail(play->what + ": a callback of type " + std::to_string(type) + " came after its cancel");
    if (play->ends.load())
      walk->Fail(play->what + ": a callback of type " + std::to_string(type) + " came after its end of event");
    if (type == SnCallback_EndOfEvent) play->ends.fetch_add(1);
    if (play->depth < kMaxCallbackDepth) walk->FromCallback(play, playingId, type);
  }
  // The bus callbacks, on the audio thread: a call back into the engine as from a play's.
  static void OnBusVolume(void*) {
    if (RandomApiWalkTest* walk = g_walk.load()) walk->FromCallback(nullptr, 0, 0);
  }
  static void OnBusMetering(void*, uint32_t, uint32_t) {
    if (RandomApiWalkTest* walk = g_walk.load()) walk->FromCallback(nullptr, 0, 0);
  }
  static void OnBank(uint32_t, const void*, SNRESULT, int32_t, void* cookie) {
    BankCall* call = static_cast<BankCall*>(cookie);
    RandomApiWalkTest* walk = g_walk;
    if (!walk || !call) return;
    if (call->cancelled) walk->Fail(call->what + ": its callback came after its cookie was cancelled");
    if (call->calls.fetch_add(1)) walk->Fail(call->what + ": its callback came twice");
    // The engine is done with the image: the game frees it now.
    delete call->image.exchange(nullptr);
  }

  // A call back into the engine from inside a callback: of a play (`play`, its playing id and the
  // callback's type) or of a bus (null, 0, 0).
  void FromCallback(Play* play, uint32_t playingId, uint32_t type) {
    thread_local std::mt19937 random(seed_ ^ uint32_t(std::hash<std::thread::id>()(std::this_thread::get_id())));
    if (Below(random, 3)) return;
    struct Entered {
      std::atomic<uint32_t>& count;
      ~Entered() { count.fetch_sub(1); }
    } entered{callbackCalls_};
    callbackCalls_.fetch_add(1);
    if (stop_) return;
    const uint32_t object = Object(random);
    const uint32_t bank = Below(random, kBanks);
    const std::string event = Event(bank, kPlays[Below(random, kPlayCount)]);
    const uint32_t what = Below(random, 21);
    switch (what) {
      case 0: {
        std::string noted;
        const uint32_t id = PostRandom(random, play ? play->depth + 1 : kMaxCallbackDepth, noted);
        (void)id;
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
      case 8:
        if (play && type != SnCallback_EndOfEvent) {
          play->cancelled = true;  // set before: a callback that comes after the cancel is the fault
          SoundEngine::CancelEventCallback(playingId);
        }
        break;
      case 9:
        if (type == SnCallback_EndOfDynamicSequenceItem) Below(random, 2) ? Seq::Break(playingId) : Seq::Stop(playingId);
        break;
      case 10: {
        BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a callback, from a callback");
        uint32_t id = 0;
        if (SoundEngine::LoadBank("WalkF.bnk", &OnBank, &call, -1, id) == SN_Success) call.accepted = true;
        break;
      }
      case 11: {
        uint32_t id = 0;
        SoundEngine::LoadBank("WalkF.bnk", -1, id);  // refused: it would wait for this very pass
        break;
      }
      case 12: {
        BankCall& call = NewBankCall("PrepareEvent with a callback, from a callback");
        const char* names[] = {event.c_str()};
        if (SoundEngine::PrepareEvent(Below(random, 2) ? SnPreparation_Load : SnPreparation_Unload, names, 1,
                                      &OnBank, &call) == SN_Success)
          call.accepted = true;
        break;
      }
      case 13: {
        MediaSlot& slot = media_[bank];
        std::unique_lock<std::mutex> lock(slot.lock, std::try_to_lock);
        if (!lock || slot.copy) break;
        slot.copy = std::make_unique<std::vector<uint8_t>>(gameMedia_[bank]);
        const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
        if (SoundEngine::SetMedia(&item, 1) != SN_Success) slot.copy.reset();
        break;
      }
      case 14: {
        uint32_t position = 0;
        SoundEngine::GetSourcePlayPosition(playingId, &position);
        break;
      }
      case 15:
        SoundEngine::PostTrigger("Nothing", object);
        break;
      // Calls that take something away.
      case 16: {
        MediaSlot& slot = media_[bank];
        std::unique_lock<std::mutex> lock(slot.lock, std::try_to_lock);
        if (!lock || !slot.copy) break;
        const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
        SoundEngine::UnsetMedia(&item, 1);
        slot.copy.reset();
        break;
      }
      case 17:
        SoundEngine::StopAll(Below(random, 2) ? object : kInvalidGameObjectId);
        break;
      case 18:
        SoundEngine::UnregisterGameObj(object);
        SoundEngine::RegisterGameObj(object);
        break;
      case 19:
        SoundEngine::UnloadBank("WalkF.bnk", nullptr);
        break;
      default:
        SoundEngine::ClearBanks();
        break;
    }
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
  // freed or overwritten as soon as the engine gave it back.
  void MemoryBank(Thread& thread) {
    std::lock_guard<std::mutex> lock(bankLock_);
    const bool withCallback = Below(thread.random, 3) == 0;
    if (!lent_) {
      lent_ = std::make_unique<std::vector<uint8_t>>(images_[1]);
      uint32_t id = 0;
      Note(thread, withCallback ? "LoadBank(image) with a callback" : "LoadBank(image)");
      if (withCallback) {
        BankCall& call = NewBankCall("LoadBank(image) with a callback");
        if (SoundEngine::LoadBank(lent_->data(), uint32_t(lent_->size()), &OnBank, &call, id) == SN_Success)
          call.accepted = true;
      } else {
        Watched(thread, "LoadBank(image)",
                [&] { return SoundEngine::LoadBank(lent_->data(), uint32_t(lent_->size()), id); });
      }
      return;
    }
    Note(thread, withCallback ? "UnloadBank(image) with a callback" : "UnloadBank(image)");
    if (withCallback) {
      BankCall& call = NewBankCall("UnloadBank(image) with a callback");
      std::vector<uint8_t>* image = lent_.release();
      call.image = image;
      if (SoundEngine::UnloadBank("WalkM", image->data(), &OnBank, &call) == SN_Success)
        call.accepted = true;
      else
        delete call.image.exchange(nullptr);
      return;
    }
    Watched(thread, "UnloadBank(image)", [&] { return SoundEngine::UnloadBank("WalkM", lent_->data()); });
    GiveBack(thread, std::move(lent_));
  }
  // Memory the engine gave back: freed, or overwritten and kept until the end.
  void GiveBack(Thread& thread, std::unique_ptr<std::vector<uint8_t>> memory) {
    if (Below(thread.random, 2)) return;
    std::fill(memory->begin(), memory->end(), uint8_t(0xA5));
    std::lock_guard<std::mutex> lock(keptLock_);
    kept_.push_back(std::move(memory));
  }

  // The other bank calls: the file bank and Init, preparation, clearing and cancelling.
  void BankCalls(Thread& thread) {
    std::lock_guard<std::mutex> lock(bankLock_);
    const uint32_t bank = Below(thread.random, kBanks);
    const std::string event = Event(bank, kPlays[Below(thread.random, kPlayCount)]);
    const char* names[] = {event.c_str()};
    const SnPreparationType type = Below(thread.random, 2) ? SnPreparation_Load : SnPreparation_Unload;
    uint32_t id = 0;
    switch (Below(thread.random, 10)) {
      case 0:
        Note(thread, "LoadBank(\"WalkF.bnk\")");
        Watched(thread, "LoadBank(\"WalkF.bnk\")", [&] { return SoundEngine::LoadBank("WalkF.bnk", -1, id); });
        break;
      case 1: {
        Note(thread, "LoadBank(\"WalkF.bnk\") with a callback");
        BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a callback");
        if (SoundEngine::LoadBank(u"WalkF.bnk", &OnBank, &call, -1, id) == SN_Success) call.accepted = true;
        break;
      }
      case 2:
        Note(thread, "UnloadBank(\"WalkF.bnk\")");
        if (Below(thread.random, 2)) {
          Watched(thread, "UnloadBank(\"WalkF.bnk\")", [&] { return SoundEngine::UnloadBank("WalkF.bnk", nullptr); });
        } else {
          BankCall& call = NewBankCall("UnloadBank(\"WalkF.bnk\") with a callback");
          if (SoundEngine::UnloadBank("WalkF.bnk", nullptr, &OnBank, &call) == SN_Success) call.accepted = true;
        }
        break;
      case 3:
        Note(thread, "PrepareEvent " + event);
        if (Below(thread.random, 2)) {
          Watched(thread, "PrepareEvent", [&] { return SoundEngine::PrepareEvent(type, names, 1); });
        } else {
          BankCall& call = NewBankCall("PrepareEvent with a callback");
          if (SoundEngine::PrepareEvent(type, names, 1, &OnBank, &call) == SN_Success) call.accepted = true;
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
      case 7: {
        Note(thread, "ClearBanks, then Init.bnk loaded again");
        Watched(thread, "ClearBanks", [&] { return SoundEngine::ClearBanks(); });
        if (lent_) {
          GiveBack(thread, std::move(lent_));
        }
        Watched(thread, "LoadBank(\"Init.bnk\")", [&] { return SoundEngine::LoadBank("Init.bnk", -1, id); });
        break;
      }
      case 8: {
        Note(thread, "a bank call with a callback, its cookie cancelled");
        BankCall& call = NewBankCall("LoadBank(\"WalkF.bnk\") with a cancelled callback");
        if (SoundEngine::LoadBank("WalkF.bnk", &OnBank, &call, -1, id) == SN_Success) call.accepted = true;
        Watched(thread, "CancelBankCallbackCookie", [&] { return SoundEngine::CancelBankCallbackCookie(&call); });
        call.cancelled = true;
        break;
      }
      default: {
        Note(thread, "ResolveDialogueEvent");
        const std::string talk = std::string(kBankPrefix[bank]) + "Talk";
        const char* values[] = {Below(thread.random, 2) ? "Hero" : "Villain"};
        SoundEngine::DynamicDialogue::ResolveDialogueEvent(talk.c_str(), values, 1);
        break;
      }
    }
  }

  // The game's copy of a prepared tone lent or taken back.
  void Media(Thread& thread) {
    const uint32_t bank = Below(thread.random, kBanks);
    MediaSlot& slot = media_[bank];
    std::lock_guard<std::mutex> lock(slot.lock);
    if (!slot.copy) {
      Note(thread, "SetMedia " + std::string(kBankPrefix[bank]) + "TGame");
      slot.copy = std::make_unique<std::vector<uint8_t>>(gameMedia_[bank]);
      const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
      if (Watched(thread, "SetMedia", [&] { return SoundEngine::SetMedia(&item, 1); }) != SN_Success)
        slot.copy.reset();
      return;
    }
    Note(thread, "UnsetMedia " + std::string(kBankPrefix[bank]) + "TGame");
    const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
    Watched(thread, "UnsetMedia", [&] { return SoundEngine::UnsetMedia(&item, 1); });
    GiveBack(thread, std::move(slot.copy));
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
          return Below(random, 2) ? SoundEngine::RegisterBusVolumeCallback(SoundEngine::GetIDFromString("Effects"),
                                                                         Below(random, 2) ? &OnBusVolume : nullptr)
                                  : SoundEngine::RegisterBusMeteringCallback(SoundEngine::GetIDFromString("Effects"),
                                                                            Below(random, 2) ? &OnBusMetering : nullptr,
                                                                            1);
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
    if (roll < 30) {
      std::string noted;
      Watched(thread, "PostEvent", [&] { return PostRandom(random, 0, noted); });
      Note(thread, noted);
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
      if (recentPlay) {
        Note(thread, "cancel the callbacks of playing id " + std::to_string(recentId));
        if (Below(random, 2))
          Watched(thread, "CancelEventCallback", [&] {
            SoundEngine::CancelEventCallback(recentId);
            return 0;
          });
        else
          Watched(thread, "CancelEventCallbackCookie", [&] {
            SoundEngine::CancelEventCallbackCookie(recentPlay);
            return 0;
          });
        recentPlay->cancelled = true;
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
          const SnSoundPosition positions[3] = {position, {{-3.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}},
                                                {{3.0f, 1.0f, -2.0f}, {1.0f, 0.0f, 0.0f}}};
          Watched(thread, "SetMultiplePositions",
                  [&] { return SoundEngine::SetMultiplePositions(object, positions, uint16_t(1 + Below(random, 3)),
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
      Note(thread, "Suspend and wake up");
      Watched(thread, "Suspend", [&] { return SoundEngine::Suspend(Below(random, 2) != 0); });
      std::this_thread::sleep_for(std::chrono::milliseconds(Below(random, 5)));
      Watched(thread, "WakeupFromSuspend", [&] { return SoundEngine::WakeupFromSuspend(); });
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
    for (uint32_t step = 0; step < steps_ && !stop_; ++step) {
      thread.step = step;
      Step(thread, sequences);
      std::this_thread::sleep_for(std::chrono::microseconds(Below(thread.random, 1000)));
    }
    for (uint32_t id : sequences) Watched(thread, "DynamicSequence::Close", [&] { return Seq::Close(id); });
  }

  void Walk() {
    watchdog_ = std::thread([this] { WatchThreads(); });
    for (uint32_t i = 0; i < kThreads; ++i) {
      threads_[i].index = i;
      threads_[i].random.seed(seed_ * kThreads + i);
    }
    {
      uint32_t id = 0;
      ASSERT_EQ(SoundEngine::LoadBank("WalkF.bnk", -1, id), SN_Success) << log_.Take();
    }
    std::vector<std::thread> games;
    for (uint32_t i = 0; i < kThreads; ++i) games.emplace_back([this, i] { GameThread(threads_[i]); });
    // The game's own loop: a frame's calls handed to the audio thread every couple of milliseconds,
    // until the game threads are done.
    std::atomic<uint32_t> running{kThreads};
    std::thread frames([&] {
      while (running.load()) {
        SoundEngine::RenderAudio();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    for (std::thread& game : games) {
      game.join();
      running.fetch_sub(1);
    }
    frames.join();

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
      SoundEngine::StopAll();
      SoundEngine::RenderAudio();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (const Play* play = owed())
      Fail(play->what + " (playing id " + std::to_string(play->playingId.load()) +
           "): no end-of-event callback within " + std::to_string(kDeadline.count()) + " s");
    // Every accepted bank call's callback comes, once the bank thread has run the commands before.
    Watched(last, "the last ClearPreparedEvents", [&] { return SoundEngine::ClearPreparedEvents(); });
    {
      std::lock_guard<std::mutex> lock(playsLock_);
      for (const BankCall& call : bankCalls_)
        if (call.accepted && !call.cancelled && call.calls.load() != 1)
          Fail(call.what + ": its callback came " + std::to_string(call.calls.load()) + " times");
    }
    stop_ = true;
    watchdog_.join();

    EXPECT_GT(Watch().frames.load(), 0u) << "the audio thread rendered nothing";
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
    if (lent_) {
      SoundEngine::UnloadBank("WalkM", lent_->data());
      lent_.reset();
    }
    for (MediaSlot& slot : media_) {
      std::lock_guard<std::mutex> lock(slot.lock);
      if (slot.copy) {
        const SnMediaItem item{slot.mediaId, slot.copy->data(), uint32_t(slot.copy->size())};
        EXPECT_EQ(SoundEngine::UnsetMedia(&item, 1), SN_Success);
        slot.copy.reset();
      }
    }
  }

  static constexpr uint32_t kRecent = 16;
  uint32_t seed_ = 1;
  uint32_t steps_ = 0;
  Tools::BankDescription banks_[kBanks];
  std::vector<uint8_t> images_[kBanks];
  std::vector<uint8_t> gameMedia_[kBanks];
  MediaSlot media_[kBanks];
  Thread threads_[kThreads];
  std::thread watchdog_;
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
  std::mutex bankLock_;
  std::unique_ptr<std::vector<uint8_t>> lent_;  // the image of the bank loaded from memory, while lent
  std::mutex keptLock_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> kept_;
};

void BadFrame(const std::string& what) {
  if (RandomApiWalkTest* walk = g_walk.load()) walk->Fail(what);
}

TEST_F(RandomApiWalkTest, EveryFrameIsFiniteEveryWaitedCallReturnsAndEveryCallbackComesOnce) { Walk(); }

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
