// The interactive music's walks against plain baselines doing the same work: 100,000 `Next` of the
// playlist iterator on a weighted shuffle group of 64 children (avoid-repeat 8, seeded) against a
// loop over flat arrays making the same draws and updates; and a 20,000-event MIDI clip of 16
// channels under running status read frame by frame into timed records, against a bench-side parser
// of the same bytes producing the same records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Base/MathUtil.h"
#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicMidiClipParser.h"
#include "MusicEngine/MusicPlaylistIterator.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/PoolObject.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/MidiClipWriter.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kChildren = 64, kAvoid = 8, kNexts = 100000, kSeed = 7;
constexpr uint32_t kMidiEvents = 20000;
constexpr double kFrameMs = 1024.0 / 48.0;

void EnsurePools() {
  static const bool ready = [] {
    SoundBench::InitMemory();
    g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, 16 << 20, 16, SnMemPool_AllocHook, 0);
    return g_DefaultPoolId != kInvalidPoolId;
  }();
  if (!ready) std::abort();
}

uint32_t WeightOf(uint32_t child) { return 1000 + 37 * child; }

// ---- the playlist iterator ----

CSnMusicPlaylistContainer* ShuffleContainer() {
  Tools::BankMusicPlaylist playlist;
  playlist.id = 77;
  Tools::BankPlaylistRecord root;
  root.playMode = SnMusicPlaylist_ContinuousRandom;
  root.loopCount = 0;
  root.childCount = kChildren;
  root.avoidRepeatCount = kAvoid;
  root.shuffle = 1;
  playlist.records.push_back(root);
  for (uint32_t i = 0; i < kChildren; ++i) {
    Tools::BankPlaylistRecord item;
    item.itemId = i + 1;
    item.segmentId = 100 + i;
    item.weight = WeightOf(i);
    playlist.records.push_back(item);
  }
  const std::vector<uint8_t> payload = Tools::MusicPlaylistPayload(playlist, false);
  auto* container = PoolNew<CSnMusicPlaylistContainer>(g_DefaultPoolId, playlist.id);
  Platform::ReentrantGuard audio(GlobalAudioLock());
  if (!container || container->ReadBankData(payload.data(), uint32_t(payload.size())) != SN_Success) std::abort();
  return container;
}

void BM_PlaylistNext(benchmark::State& state) {
  EnsurePools();
  CSnMusicPlaylistContainer* container = ShuffleContainer();
  uint64_t sum = 0;
  for (auto _ : state) {
    Base::SeedRand15(kSeed);
    CSnMusicPlaylistIterator it;
    it.Init(*container);
    if (it.First(0) != SN_Success) state.SkipWithError("no first item");
    for (uint32_t i = 1; i < kNexts; ++i) {
      if (it.Next() != SN_Success) state.SkipWithError("the playlist ended");
      sum += it.SegmentId();
    }
    it.Term();
  }
  benchmark::DoNotOptimize(sum);
  // Never entered in an object index: destroyed as it was made.
  PoolDelete(g_DefaultPoolId, container);
  state.SetItemsProcessed(int64_t(state.iterations()) * kNexts);
}

// The same shuffle draws over flat arrays: played and blocked flags, a history, the remaining weight
// and count, the 30-bit weighted draw of the same generator.
struct FlatShuffle {
  std::vector<uint32_t> weights;
  std::vector<uint8_t> played, blocked;
  std::vector<uint16_t> history;
  uint64_t total = 0, remaining = 0;
  uint32_t selectable = 0, left = 0;

  FlatShuffle() {
    for (uint32_t i = 0; i < kChildren; ++i) weights.push_back(WeightOf(i));
    for (uint32_t w : weights) total += w;
    played.assign(kChildren, 0);
    blocked.assign(kChildren, 0);
    history.reserve(kAvoid + 1);
    remaining = total;
    selectable = left = kChildren;
  }
  void NewPass() {
    left = kChildren;
    std::fill(played.begin(), played.end(), 0);
    remaining = total;
    for (uint16_t h : history) remaining -= weights[h];
    selectable = kChildren - uint32_t(history.size());
  }
  int Draw() {
    if (remaining == 0) return -1;
    const uint64_t high = uint64_t(Base::Rand15());
    const int64_t r = int64_t(((high << 15) + uint64_t(Base::Rand15())) % remaining);
    int64_t sum = -1;
    for (uint32_t i = 0; i < kChildren; ++i)
      if (!played[i] && !blocked[i] && (sum += weights[i]) >= r) return int(i);
    return -1;
  }
  uint32_t Pick() {
    if (left == 0) NewPass();
    int chosen = Draw();
    if (chosen < 0) {
      NewPass();
      chosen = Draw();
    }
    const uint16_t i = uint16_t(chosen < 0 ? 0 : chosen);
    remaining -= std::min<uint64_t>(remaining, weights[i]);
    --selectable;
    --left;
    played[i] = 1;
    history.push_back(i);
    blocked[i] = 1;
    if (history.size() > kAvoid) {
      const uint16_t oldest = history.front();
      history.erase(history.begin());
      blocked[oldest] = 0;
      if (!played[oldest]) remaining += weights[oldest], ++selectable;
    }
    return 100 + i;
  }
};

void BM_PlaylistNextBaseline(benchmark::State& state) {
  EnsurePools();
  uint64_t sum = 0;
  for (auto _ : state) {
    Base::SeedRand15(kSeed);
    FlatShuffle flat;
    flat.Pick();
    for (uint32_t i = 1; i < kNexts; ++i) sum += flat.Pick();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * kNexts);
}

// ---- the MIDI clip ----

// 10,000 notes over 16 channels, 12 ticks apart, their note-offs as note-ons of velocity 0 under
// running status: 20,000 events.
std::vector<uint8_t> LongClip() {
  Tools::MidiClipMedia clip;
  for (uint32_t n = 0; n < kMidiEvents / 2; ++n) {
    const uint8_t channel = uint8_t(n % 16), note = uint8_t(36 + n % 48);
    clip.events.push_back({12, {uint8_t(0x90 | channel), note, 100}});
    clip.events.push_back({0, {uint8_t(0x90 | channel), note, 0}});
  }
  return Tools::WriteMidiClip(clip);
}

// The bench-side parser: the same header, quantities, running status and windows, records into a
// std::vector cleared each frame and handed to `frame`. It reads only what these bytes hold; the
// clip reader's extras stay timed on its side, as the engine needs them on every event: system
// exclusive and meta events skipped, a data byte with no status to repeat refused, data kept to 7
// bits, loops, and its place kept between frames in the parser rather than in locals.
struct PlainRecord {
  uint8_t type, channel, data1, data2;
  float timeMs;
  uint32_t index;
};

template <typename Frame>
void PlainClipFrames(const std::vector<uint8_t>& media, Frame&& frame) {
  const uint8_t* data = media.data();
  const size_t size = media.size();
  const uint16_t ticksPerQuarter = uint16_t((data[0] << 8) | data[1]);
  float tempo;
  memcpy(&tempo, data + 2, sizeof tempo);
  const double msPerTick = 60000.0 / (double(ticksPerQuarter) * tempo);
  const double ticksPerMs = double(tempo) * ticksPerQuarter / 60000.0;
  std::vector<PlainRecord> records;
  size_t at = 6;
  uint8_t running = 0, status = 0, d1 = 0, d2 = 0;
  uint64_t tick = 0;
  uint32_t index = 0;
  bool has = false;
  // Every byte checked against the end, as a reader of outside bytes must.
  auto take = [&](uint8_t& byte) {
    if (at >= size) return false;
    byte = data[at++];
    return true;
  };
  auto read = [&]() {
    uint32_t delta = 0;
    uint8_t b = 0x80;
    for (int i = 0; i < 4 && (b & 0x80); ++i) {
      if (!take(b)) return false;
      delta = (delta << 7) | (b & 0x7F);
    }
    uint8_t s;
    if ((b & 0x80) || !take(s)) return false;
    if (s < 0x80) {
      d1 = s;
      s = running;
    } else {
      running = s;
      if (!take(d1)) return false;
    }
    const bool oneByte = (s & 0xF0) == 0xC0 || (s & 0xF0) == 0xD0;
    if (!oneByte && !take(d2)) return false;
    status = s;
    tick += delta;
    return true;
  };
  has = read();
  uint64_t windowEnd = 0;
  double fraction = 0.0;
  while (has) {
    records.clear();
    const uint64_t beginWhole = windowEnd;
    const double beginFraction = fraction;
    const double ticks = ticksPerMs * kFrameMs + fraction;
    windowEnd += uint64_t(ticks);
    fraction = ticks - std::floor(ticks);
    while (has && (tick < windowEnd || (tick == windowEnd && fraction > 0.0))) {
      uint8_t type = uint8_t(status & 0xF0);
      if (type == 0x90 && d2 == 0) type = 0x80;
      const double since = double(tick) - double(beginWhole) - beginFraction;
      records.push_back({type, uint8_t(status & 0x0F), d1, d2, float(std::max(0.0, since) * msPerTick), index});
      has = read();
      ++index;
    }
    frame(records);
  }
}

// The clip reader's records of every frame are the bench-side parser's, field for field: the two
// sides time the same result.
bool SameRecordsAsThePlainParser(const std::vector<uint8_t>& media) {
  std::vector<PlainRecord> plain, read;
  PlainClipFrames(media, [&](const std::vector<PlainRecord>& records) {
    plain.insert(plain.end(), records.begin(), records.end());
    plain.push_back({0xFF, 0, 0, 0, 0.0f, 0});  // the frame's end
  });
  SnMidiClipParser parser;
  if (parser.Open(media.data(), uint32_t(media.size())) != SN_Success) return false;
  while (parser.HasEvent()) {
    parser.Advance(kFrameMs);
    for (const SnMidiClipMessage& m : parser.Messages())
      read.push_back({m.type, m.channel, m.data1, m.data2, m.timeMs, m.eventIndex});
    read.push_back({0xFF, 0, 0, 0, 0.0f, 0});
  }
  return plain.size() == read.size() &&
         std::equal(plain.begin(), plain.end(), read.begin(), [](const PlainRecord& a, const PlainRecord& b) {
           return a.type == b.type && a.channel == b.channel && a.data1 == b.data1 && a.data2 == b.data2 &&
                  a.timeMs == b.timeMs && a.index == b.index;
         });
}

void BM_MidiClipFrames(benchmark::State& state) {
  EnsurePools();
  const std::vector<uint8_t> media = LongClip();
  if (!SameRecordsAsThePlainParser(media)) state.SkipWithError("records differ from the bench-side parser's");
  uint64_t messages = 0;
  for (auto _ : state) {
    SnMidiClipParser parser;
    if (parser.Open(media.data(), uint32_t(media.size())) != SN_Success) state.SkipWithError("no clip");
    while (parser.HasEvent()) {
      parser.Advance(kFrameMs);
      messages += parser.Messages().Count();
    }
  }
  if (messages != uint64_t(state.iterations()) * kMidiEvents) state.SkipWithError("messages lost");
  state.SetItemsProcessed(int64_t(state.iterations()) * kMidiEvents);
}

void BM_MidiClipFramesBaseline(benchmark::State& state) {
  const std::vector<uint8_t> media = LongClip();
  uint64_t messages = 0;
  for (auto _ : state) {
    PlainClipFrames(media, [&](const std::vector<PlainRecord>& records) {
      messages += records.size();
      benchmark::DoNotOptimize(records.data());
    });
  }
  if (messages != uint64_t(state.iterations()) * kMidiEvents) state.SkipWithError("messages lost");
  state.SetItemsProcessed(int64_t(state.iterations()) * kMidiEvents);
}

}  // namespace

BENCHMARK(BM_PlaylistNext)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PlaylistNextBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MidiClipFrames)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MidiClipFramesBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
