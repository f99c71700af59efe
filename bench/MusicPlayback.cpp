// Music playback through the whole engine, synchronous on the null output, one rendered frame an
// iteration:
// - 64 plays of a 120 bpm segment of 4 tracks (256 music voices; sync callbacks 0x7F00 and segment
//   information on), against 256 sounds of the same media on the same bus posted as events (read
//   music / sounds; aim at most 1.25x); the counter "music_us" is the music pass alone per frame;
// - the same 64 plays with a switch change every 8 frames and a trigger every 16, against the plays
//   left alone (read changes / plays; aim at most 1.1x);
// - 32 plays of switch containers of 8 segments each on Music_Mood, switching at the next grid point,
//   with a state change every 16 frames, against the same plays without changes (read moods changing /
//   moods; aim at most 1.2x).
// Compare the medians of each pair (--benchmark_repetitions).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "Audio/DefaultIOHookBlocking.h"
#include "MemoryMgr/MemoryMgr.h"
#include "MusicEngine/MusicEngine.h"
#include "Platform/Clock.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "StreamMgr/StreamManager.h"
#include "bench/SoundBenchSupport.h"
#include "bench/TraceWatch.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kPlays = 64;
constexpr uint32_t kSwitches = 32;
constexpr uint32_t kSwitchChildren = 8;
constexpr uint32_t kTracks = 4;
constexpr uint32_t kObject = 7;
constexpr uint32_t kFrame = 1024;
// Plays begin again before their 30 s are over.
constexpr int64_t kFramesPerRound = 1200;

uint32_t Id(const std::string& name) { return SoundEngine::GetIDFromString(name.c_str()); }

int64_t& Ticks() {
  static int64_t ticks = 1000;
  return ticks;
}
int64_t Now() { return Ticks(); }

// Time spent between the extension registered before the music engine's and the one after it.
std::chrono::steady_clock::time_point& MusicBegan() {
  static std::chrono::steady_clock::time_point at;
  return at;
}
double& MusicSeconds() {
  static double seconds = 0.0;
  return seconds;
}
void BeforeMusic(bool) { MusicBegan() = std::chrono::steady_clock::now(); }
void AfterMusic(bool) {
  MusicSeconds() += std::chrono::duration<double>(std::chrono::steady_clock::now() - MusicBegan()).count();
}

// The bank: four 30 s tones, four sounds of them looping on the effects bus with an event each; a
// segment of four tracks of the same tones (the first a switch track on "Intensity"), a stinger
// segment, and the event that plays the segment.
std::vector<uint8_t> MakeBank() {
  std::string text;
  for (uint32_t t = 0; t < kTracks; ++t) {
    const std::string n = std::to_string(t);
    text += "tone Tone" + n + " 48000 1 30000 " + std::to_string(110 * (t + 1)) + "\r\n";
    text += "sound Sound" + n + " Tone" + n + " Effects loop 0\r\n";
    text += "action Play_Sound" + n + "_Act 0x0403 Sound" + n + " bank MusicBench\r\n";
    text += "event Play_Sound" + n + " Play_Sound" + n + "_Act\r\n";
  }
  text += "tone Sting 48000 1 250 880\r\n";
  Tools::BankDescription bank;
  std::string error;
  if (!Tools::ParseBankText(text, "MusicBench", bank, error)) {
    std::fprintf(stderr, "bench bank: %s\n", error.c_str());
    std::abort();
  }
  auto sourceOf = [&](const std::string& tone) {
    for (const auto& media : bank.media)
      if (media.id == Id(tone)) return Tools::BankMusicSource{0x00010000, 0, media.id, uint32_t(media.bytes.size()), 0, {}};
    std::abort();
  };
  std::vector<Tools::BankObject> objects;
  Tools::BankMusicSegment segment;
  for (uint32_t t = 0; t < kTracks; ++t) {
    Tools::BankMusicTrack track;
    track.id = Id("Track" + std::to_string(t));
    const std::string tone = "Tone" + std::to_string(t);
    track.sources = {sourceOf(tone)};
    track.clips = {{0, Id(tone), 0.0, 0.0, 0.0, 30000.0}};
    if (t == 0) {
      // Two sub-tracks of the same tone, changing at the next bar.
      track.clips.push_back({1, Id(tone), 0.0, 0.0, 0.0, 30000.0});
      track.subTrackCount = 2;
      track.type = 3;
      track.groupId = Id("Intensity");
      track.defaultSwitch = Id("Low");
      track.switchIds = {Id("Low"), Id("High")};
      const uint32_t transition[8] = {0, 4, 0, 2, 0, 0, 4, 0};
      std::copy(std::begin(transition), std::end(transition), track.transition);
    }
    objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)});
    segment.node.children.push_back(track.id);
  }
  Tools::BankMusicTrack stingTrack;
  stingTrack.id = Id("StingTrack");
  stingTrack.sources = {sourceOf("Sting")};
  stingTrack.clips = {{0, Id("Sting"), 0.0, 0.0, 0.0, 250.0}};
  objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(stingTrack, false)});
  Tools::BankMusicSegment sting;
  sting.id = Id("StingSegment");
  sting.node.children = {stingTrack.id};
  sting.node.params.outputBusId = Id("Effects");
  sting.durationMs = 250.0;
  sting.markers = {{1, 0.0, ""}, {2, 250.0, ""}};
  objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(sting, false)});
  segment.id = Id("Level");
  segment.node.tempo = 120.0f;
  segment.node.gridPeriodMs = 250.0;
  segment.node.gridOffsetMs = 100.0;
  segment.node.overridesMeter = 1;
  std::sort(segment.node.children.begin(), segment.node.children.end());
  segment.node.params.outputBusId = Id("Effects");
  // At the next beat, not again within a second.
  segment.node.stingers = {{Id("Hit"), sting.id, 3, 0, 1000, 0}};
  segment.durationMs = 30000.0;
  segment.markers = {{1, 500.0, ""}, {Id("Chorus"), 3750.0, "Chorus"}, {2, 29500.0, ""}};
  objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)});
  Tools::BankAction play;
  play.id = Id("Play_Level.Play");
  play.type = 0x0403;
  play.target = segment.id;
  play.bankId = bank.bankId;
  objects.push_back({3, Tools::ActionPayload(play)});
  objects.push_back({4, Tools::EventPayload(Id("Play_Level"), {play.id})});
  // The switch containers: each child a 30 s segment of one track of a tone; a change of Music_Mood
  // switches at the next grid point, a state of no path plays the first child.
  for (uint32_t w = 0; w < kSwitches; ++w) {
    const std::string name = "Mood" + std::to_string(w);
    Tools::BankMusicSwitch container;
    container.id = Id(name);
    container.groupIds = {Id("Music_Mood")};
    container.groupTypes = {1};
    Tools::BankMusicRule rule;
    rule.sources = {0xFFFFFFFFu};
    rule.destinations = {0xFFFFFFFFu};
    rule.syncType = 1;
    container.rules = {rule};
    Tools::BankSwitchTreeNode root;
    root.leaf = false;
    root.firstChild = 1;
    root.childCount = kSwitchChildren;
    container.tree = {root};
    for (uint32_t c = 0; c < kSwitchChildren; ++c) {
      const std::string child = name + "_" + std::to_string(c), tone = "Tone" + std::to_string(c % kTracks);
      Tools::BankMusicTrack track;
      track.id = Id(child + "Track");
      track.sources = {sourceOf(tone)};
      track.clips = {{0, Id(tone), 0.0, 0.0, 0.0, 30000.0}};
      objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)});
      Tools::BankMusicSegment childSegment;
      childSegment.id = Id(child);
      childSegment.node.tempo = 120.0f;
      childSegment.node.gridPeriodMs = 250.0;
      childSegment.node.overridesMeter = 1;
      childSegment.node.children = {track.id};
      childSegment.node.params.outputBusId = Id("Effects");
      childSegment.durationMs = 30000.0;
      childSegment.markers = {{1, 0.0, ""}, {2, 30000.0, ""}};
      objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(childSegment, false)});
      Tools::BankSwitchTreeNode leaf;
      leaf.key = c ? Id("Mood" + std::to_string(c)) : 0;
      leaf.childId = childSegment.id;
      container.tree.push_back(leaf);
      container.node.children.push_back(childSegment.id);
    }
    std::sort(container.node.children.begin(), container.node.children.end());
    objects.push_back({Tools::kBankMusicSwitchType, Tools::MusicSwitchPayload(container, false)});
    Tools::BankAction playMood;
    playMood.id = Id("Play_" + name + ".Play");
    playMood.type = 0x0403;
    playMood.target = container.id;
    playMood.bankId = bank.bankId;
    objects.push_back({3, Tools::ActionPayload(playMood)});
    objects.push_back({4, Tools::EventPayload(Id("Play_" + name), {playMood.id})});
  }
  bank.objects.insert(bank.objects.end(), objects.begin(), objects.end());
  bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
  return Tools::WriteBank(bank);
}

// The engine on the null output with the game's Init bank and the bench bank, rendering a frame of
// the output's clock at each Frame().
class Engine {
 public:
  Engine() {
    SoundBench::InitMemory();
    SoundBench::StartStreams(m_io);
    Platform::SetTickSource(&Now);
    SnInitSettings init;
    SnPlatformInitSettings platform;
    SoundEngine::GetDefaultInitSettings(init);
    SoundEngine::GetDefaultPlatformInitSettings(platform);
    init.useAudioThread = 0;
    SoundEngine::Init(&init, &platform);
    // Extensions are called last registered first: these two stand either side of the music's.
    SoundEngine::AddBehavioralExtension(&AfterMusic);
    MusicEngine::Init(nullptr);
    SoundEngine::AddBehavioralExtension(&BeforeMusic);
    uint32_t id = 0;
    SoundEngine::LoadBank("Init.bnk", -1, id);
    m_bank = MakeBank();
    SoundEngine::LoadBank(m_bank.data(), uint32_t(m_bank.size()), id);
    SoundEngine::RegisterGameObj(kObject);
  }
  ~Engine() {
    SoundEngine::Term();
    SoundBench::StopStreamsAndMemory(m_io);
    Platform::SetTickSource(nullptr);
  }
  static void Frame() {
    Ticks() += (int64_t(kFrame) * Platform::kTicksPerSecond + 47999) / 48000;
    SoundEngine::RenderAudio();
  }
  void PlayMusic() {
    for (uint32_t p = 0; p < kPlays; ++p)
      SoundEngine::PostEvent("Play_Level", kObject, 0x7F00 | 0x200000, &Ignore);
    Frame();
  }
  void PlayMoods() {
    SoundEngine::SetState("Music_Mood", "Mood0");
    for (uint32_t w = 0; w < kSwitches; ++w) SoundEngine::PostEvent(("Play_Mood" + std::to_string(w)).c_str(), kObject);
    Frame();
  }
  void PlaySounds() {
    for (uint32_t p = 0; p < kPlays; ++p)
      for (uint32_t t = 0; t < kTracks; ++t) SoundEngine::PostEvent(("Play_Sound" + std::to_string(t)).c_str(), kObject);
    Frame();
  }
  static void StopAll() {
    SoundEngine::StopAll(kObject);
    Frame();
    Frame();
  }

 private:
  static void Ignore(uint32_t, SnCallbackInfo*) {}
  Audio::CSnDefaultIOHookBlocking m_io;
  std::vector<uint8_t> m_bank;
};

template <typename Start, typename Each>
void Run(benchmark::State& state, Start&& start, Each&& each, uint32_t voices = kPlays * kTracks) {
  OrvBench::TraceWatch watch;
  Engine engine;
  start(engine);
  if (VoiceManager::ActiveInstanceCount() != voices) state.SkipWithError("the plays did not make their voices");
  MusicSeconds() = 0.0;
  int64_t frame = 0;
  for (auto _ : state) {
    each(frame);
    Engine::Frame();
    if (++frame % kFramesPerRound == 0) {
      state.PauseTiming();
      Engine::StopAll();
      start(engine);
      state.ResumeTiming();
    }
  }
  state.counters["music_us"] = benchmark::Counter(MusicSeconds() * 1e6 / double(state.iterations()));
  watch.Check(state);
}

void BM_MusicPlays(benchmark::State& state) {
  Run(state, [](Engine& engine) { engine.PlayMusic(); }, [](int64_t) {});
}
BENCHMARK(BM_MusicPlays)->Unit(benchmark::kMicrosecond);

void BM_SoundsOfTheSameMedia(benchmark::State& state) {
  Run(state, [](Engine& engine) { engine.PlaySounds(); }, [](int64_t) {});
}
BENCHMARK(BM_SoundsOfTheSameMedia)->Unit(benchmark::kMicrosecond);

void BM_MusicPlaysWithSwitchesAndTriggers(benchmark::State& state) {
  Run(state, [](Engine& engine) { engine.PlayMusic(); },
      [](int64_t frame) {
        if (frame % 8 == 0) SoundEngine::SetSwitch("Intensity", (frame / 8) % 2 ? "High" : "Low", kObject);
        if (frame % 16 == 0) SoundEngine::PostTrigger("Hit", kObject);
      });
}
BENCHMARK(BM_MusicPlaysWithSwitchesAndTriggers)->Unit(benchmark::kMicrosecond);

void BM_Moods(benchmark::State& state) {
  Run(state, [](Engine& engine) { engine.PlayMoods(); }, [](int64_t) {}, kSwitches);
}
BENCHMARK(BM_Moods)->Unit(benchmark::kMicrosecond);

void BM_MoodsChanging(benchmark::State& state) {
  Run(state, [](Engine& engine) { engine.PlayMoods(); },
      [](int64_t frame) {
        if (frame % 16 == 0)
          SoundEngine::SetState("Music_Mood", ("Mood" + std::to_string((frame / 16) % kSwitchChildren)).c_str());
      },
      kSwitches);
}
BENCHMARK(BM_MoodsChanging)->Unit(benchmark::kMicrosecond);


}  // namespace
