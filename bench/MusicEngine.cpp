// The music engine against plain baselines doing the same work: 2,000 music objects read from a bank
// image by the chunk loop and the music loader (made, indexed, handed to the bank, then released)
// against a reader parsing the same bytes into std::vector records with the same conversions; and
// 100,000 timing questions (sync points of types 1 to 7, musical events over a window, transition
// rules found through three levels of ancestors among 64 rules) against the same arithmetic on
// flat arrays.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicEngine.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kSegments = 1000, kTracks = 500, kPlaylists = 250, kSwitches = 250;
constexpr uint32_t kObjects = kSegments + kTracks + kPlaylists + kSwitches;
constexpr uint32_t kQueries = 100000;

// The engine up without threads, the music engine joined.
class Engine {
 public:
  Engine() : m_lower(0, true) {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    LowerEngine::Install(&m_lower);
    LowerEngine::SetSampleRate(48000);
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.useBankThread = 0;
    settings.defaultPoolBytes = 64 * 1024 * 1024;
    if (SoundEngine::Init(&settings, nullptr) != SN_Success || MusicEngine::Init(nullptr) != SN_Success) std::abort();
  }
  ~Engine() {
    for (uint32_t bankId : m_bankIds) g_pBankManager->UnloadBankWait(bankId, nullptr);
    SoundEngine::Term();
    LowerEngine::Install(nullptr);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  void Load(std::vector<Tools::BankObject> objects) {
    Tools::BankDescription bank;
    bank.bankId = 800 + uint32_t(m_bankIds.size());
    bank.objects = std::move(objects);
    bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
    const std::vector<uint8_t> image = Tools::WriteBank(bank);
    uint32_t bankId = 0;
    if (g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &bankId) != SN_Success)
      std::abort();
    m_bankIds.push_back(bankId);
  }
  template <typename Node>
  static Node* Find(uint32_t id) {
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(id, false);
    if (!found) std::abort();
    found->Release();
    return static_cast<Node*>(found);
  }

 private:
  SoundBench::NoStreams m_streams;
  SoundBench::SilentLowerEngine m_lower;
  std::vector<uint32_t> m_bankIds;
};

// ---- 2,000 objects ----

Tools::BankMusicSegment Segment(uint32_t id) {
  Tools::BankMusicSegment segment;
  segment.id = id;
  segment.node.gridPeriodMs = 250.0;
  segment.node.gridOffsetMs = 100.0;
  segment.node.overridesMeter = 1;
  segment.node.stingers = {{7, 0, 2, 0, 0, 0}};
  segment.durationMs = 9000.0;
  segment.markers = {{1, 500.0, ""}, {2, 3750.0, "Chorus"}, {3, 8500.0, ""}};
  return segment;
}

std::vector<uint8_t> ObjectsImage() {
  Tools::BankDescription bank;
  bank.bankId = 900;
  bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
  for (uint32_t i = 0; i < kTracks; ++i) {
    Tools::BankMusicTrack track;
    track.id = 10000 + i;
    track.sources = {{0x00010000, 0, 50000 + i, 4096, 0, {}}};
    track.clips = {{0, 50000 + i, 0.0, 10.0, -10.0, 1000.0}, {0, 50000 + i, 1000.0, 0.0, 0.0, 1000.0}};
    track.automation = {{0, 1, {{0.0f, 0.0f, 4}, {0.5f, 1.0f, 4}}}};
    track.lookAheadMs = 100;
    bank.objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)});
  }
  for (uint32_t i = 0; i < kSegments; ++i)
    bank.objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(Segment(20000 + i), false)});
  Tools::BankMusicRule rule;
  rule.sources = {0xFFFFFFFF};
  rule.destinations = {1, 2, 3};
  rule.fadeOut = {100, 4, 10};
  for (uint32_t i = 0; i < kPlaylists; ++i) {
    Tools::BankMusicPlaylist playlist;
    playlist.id = 30000 + i;
    playlist.rules = {rule, rule};
    Tools::BankPlaylistRecord root, a, b;
    root.childCount = 2;
    a.segmentId = 20000 + i;
    b.segmentId = 20001 + i;
    playlist.records = {root, a, b};
    bank.objects.push_back({Tools::kBankMusicPlaylistType, Tools::MusicPlaylistPayload(playlist, false)});
  }
  for (uint32_t i = 0; i < kSwitches; ++i) {
    Tools::BankMusicSwitch container;
    container.id = 40000 + i;
    container.rules = {rule};
    container.groupIds = {77};
    container.groupTypes = {1};
    Tools::BankSwitchTreeNode root, x, y;
    root.leaf = false;
    root.firstChild = 1;
    root.childCount = 2;
    x.key = 0, x.childId = 30000 + i;
    y.key = 5, y.childId = 20000 + i;
    container.tree = {root, x, y};
    bank.objects.push_back({Tools::kBankMusicSwitchType, Tools::MusicSwitchPayload(container, false)});
  }
  return Tools::WriteBank(bank);
}

// Keeps what the loader hands it and lets it all go, as an unload does.
class KeepingBank final : public CSnLoadedBank {
 public:
  SNRESULT ReserveObjects(uint32_t count) override {
    m_objects.reserve(count);
    return SN_Success;
  }
  SNRESULT LoadObject(uint8_t, uint32_t, CSnSoundBankReader&) override { return SN_Failure; }
  void AddObject(CSnIndexedObject* object) override { m_objects.push_back(object); }
  SNRESULT LoadMediaIndex(const SnMediaIndexView&) override { return SN_Success; }
  SNRESULT LoadMediaData(CSnSoundBankReader&, uint32_t, SnBankLoadMode) override { return SN_Success; }
  SNRESULT AddBankName(uint32_t, const char*, uint32_t) override { return SN_Success; }
  size_t Release() {
    const size_t count = m_objects.size();
    Platform::ReentrantGuard audio(GlobalAudioLock());
    while (!m_objects.empty()) {
      m_objects.back()->Release();
      m_objects.pop_back();
    }
    return count;
  }

 private:
  std::vector<CSnIndexedObject*> m_objects;
};

void BM_MusicLoadObjects(benchmark::State& state) {
  Engine engine;
  const std::vector<uint8_t> image = ObjectsImage();
  CSnSoundBankReader reader;
  reader.Init();
  size_t released = 0;
  for (auto _ : state) {
    KeepingBank bank;
    SnBankHeader header{};
    reader.SetMemory(image.data(), uint32_t(image.size()));
    if (ReadBankChunks(reader, bank, SnBankLoad_Normal, header) != SN_Success) state.SkipWithError("no load");
    reader.Close();
    released = bank.Release();
  }
  reader.Term();
  if (released != kObjects) state.SkipWithError("not every object was made");
  state.SetItemsProcessed(int64_t(state.iterations()) * kObjects);
}

// The bench-side reader: every field taken with memcpy into records of std::vector, milliseconds
// converted as the engine converts them, then all of it freed.
struct Reader {
  const uint8_t* at;
  template <typename T>
  T Take() {
    T value;
    memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
};

int32_t Samples(double ms) {
  const double exact = 48000.0 * ms * 0.001;
  return int32_t(exact > 0 ? exact + 0.5 : exact - 0.5);
}

struct PlainNode {
  uint32_t id;
  uint8_t flags;
  std::vector<uint32_t> children;
  uint32_t beat, bar, gridPeriod, gridOffset;
  std::vector<SnMusicStinger> stingers;
  std::vector<std::vector<uint32_t>> ruleIds;
  std::vector<std::vector<int32_t>> ruleFields;
};
struct PlainMarker {
  uint32_t id, position;
  std::vector<char> name;
};
struct PlainObjects {
  std::vector<PlainNode> nodes;
  std::vector<std::vector<PlainMarker>> markers;
  std::vector<std::vector<SnMusicTrackClip>> clips;
  std::vector<std::vector<SnMusicAutomationPoint>> points;
  std::vector<std::vector<uint32_t>> sources;
  std::vector<std::vector<SnMusicPlaylistRecord>> playlists;
  std::vector<std::vector<uint8_t>> trees;
};

void SkipNodeParams(Reader& in) {
  in.Take<uint8_t>();  // effects override
  const uint8_t effects = in.Take<uint8_t>();
  in.at += effects ? 1 + effects * 7u : 0;
  in.Take<uint8_t>();
  in.Take<uint32_t>();  // bus
  in.Take<uint32_t>();  // parent
  in.Take<uint8_t>();
  const uint8_t properties = in.Take<uint8_t>();
  in.at += properties * 5u;
  const uint8_t ranges = in.Take<uint8_t>();
  in.at += ranges * 9u;
  in.Take<uint8_t>();  // positioning
  in.Take<uint8_t>();  // sends
  in.Take<uint8_t>();
  in.Take<uint8_t>();
  in.Take<uint16_t>();
  in.Take<uint8_t>();
  in.Take<uint8_t>();
  const uint32_t groups = in.Take<uint32_t>();
  for (uint32_t g = 0; g < groups; ++g) {
    in.at += 5;
    in.at += in.Take<uint16_t>() * 8u;
  }
  const uint16_t curves = in.Take<uint16_t>();
  for (uint32_t c = 0; c < curves; ++c) {
    in.at += 12;
    in.at += in.Take<uint16_t>() * 12u;
  }
}

void ReadPlainNode(Reader& in, PlainNode& node, bool rules) {
  node.id = in.Take<uint32_t>();
  node.flags = in.Take<uint8_t>();
  SkipNodeParams(in);
  node.children.resize(in.Take<uint32_t>());
  for (uint32_t& child : node.children) child = in.Take<uint32_t>();
  const double gridMs = in.Take<double>(), offsetMs = in.Take<double>();
  const float tempo = in.Take<float>();
  const uint8_t beats = in.Take<uint8_t>(), value = in.Take<uint8_t>(), overrides = in.Take<uint8_t>();
  if (overrides) {
    node.beat = uint32_t((4.0 / value) * (60.0 / tempo) * 48000 + 0.5);
    node.bar = beats * node.beat;
    node.gridPeriod = uint32_t(Samples(gridMs));
    node.gridOffset = uint32_t(Samples(offsetMs));
  }
  node.stingers.resize(in.Take<uint32_t>());
  for (SnMusicStinger& stinger : node.stingers) stinger = in.Take<SnMusicStinger>();
  if (!rules) return;
  const uint32_t count = in.Take<uint32_t>();
  for (uint32_t r = 0; r < count; ++r) {
    for (int list = 0; list < 2; ++list) {
      std::vector<uint32_t>& ids = node.ruleIds.emplace_back(in.Take<uint32_t>());
      for (uint32_t& id : ids) id = in.Take<uint32_t>();
    }
    std::vector<int32_t>& fields = node.ruleFields.emplace_back();
    fields.push_back(in.Take<int32_t>());
    fields.push_back(in.Take<int32_t>());
    fields.push_back(48 * in.Take<int32_t>());
    fields.push_back(in.Take<int32_t>() & 0x1F);
    fields.push_back(in.Take<int32_t>());
    fields.push_back(in.Take<uint8_t>());
    fields.push_back(in.Take<int32_t>());
    fields.push_back(in.Take<int32_t>());
    fields.push_back(48 * in.Take<int32_t>());
    fields.push_back(in.Take<int32_t>());
    fields.push_back(in.Take<int32_t>());
    fields.push_back(in.Take<uint16_t>() & 7);
    fields.push_back(in.Take<uint8_t>());
    fields.push_back(in.Take<uint8_t>());
    if (in.Take<uint8_t>()) in.at += 30;
  }
}

size_t ReadPlain(const std::vector<uint8_t>& image, PlainObjects& out) {
  Reader in{image.data() + 28 + 8};
  const uint32_t count = in.Take<uint32_t>();
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t type = in.Take<uint8_t>();
    const uint32_t size = in.Take<uint32_t>();
    const uint8_t* end = in.at + size;
    if (type == Tools::kBankMusicTrackType) {
      in.Take<uint32_t>();
      in.Take<uint8_t>();
      std::vector<uint32_t>& sources = out.sources.emplace_back(in.Take<uint32_t>());
      for (uint32_t& source : sources) {
        in.Take<uint32_t>();
        in.Take<uint8_t>();
        source = in.Take<uint32_t>();
        in.Take<uint32_t>();
        in.Take<uint8_t>();
      }
      std::vector<SnMusicTrackClip>& clips = out.clips.emplace_back();
      const uint32_t clipCount = in.Take<uint32_t>();
      for (uint32_t c = 0; c < clipCount; ++c) {
        const uint32_t sub = in.Take<uint32_t>(), source = in.Take<uint32_t>();
        const double playAt = in.Take<double>(), begin = in.Take<double>(), endTrim = in.Take<double>(),
                     duration = in.Take<double>();
        const int32_t length = Samples(endTrim + duration - begin), total = Samples(duration);
        int32_t offset = Samples(begin) % total;
        if (offset < 0) offset += total;
        clips.push_back({sub, source, Samples(playAt + begin), uint32_t(length), total, offset});
      }
      in.Take<uint32_t>();
      const uint32_t automation = in.Take<uint32_t>();
      for (uint32_t a = 0; a < automation; ++a) {
        in.Take<uint32_t>();
        in.Take<uint32_t>();
        std::vector<SnMusicAutomationPoint>& points = out.points.emplace_back(in.Take<uint32_t>());
        for (SnMusicAutomationPoint& point : points) {
          point = in.Take<SnMusicAutomationPoint>();
          point.time = std::trunc(point.time * 48000.0 + 0.5);
        }
      }
    } else {
      PlainNode& node = out.nodes.emplace_back();
      ReadPlainNode(in, node, type != Tools::kBankMusicSegmentType);
      if (type == Tools::kBankMusicSegmentType) {
        in.Take<double>();
        std::vector<PlainMarker>& markers = out.markers.emplace_back(in.Take<uint32_t>());
        for (PlainMarker& marker : markers) {
          marker.id = in.Take<uint32_t>();
          marker.position = uint32_t(Samples(in.Take<double>()));
          marker.name.resize(in.Take<uint32_t>());
          if (!marker.name.empty()) {
            memcpy(marker.name.data(), in.at, marker.name.size());
            in.at += marker.name.size();
            marker.name.push_back('\0');
          }
        }
      } else if (type == Tools::kBankMusicPlaylistType) {
        std::vector<SnMusicPlaylistRecord>& records = out.playlists.emplace_back(in.Take<uint32_t>());
        for (SnMusicPlaylistRecord& record : records) {
          record = PlaylistRecordAt(in.at);
          in.at += kMusicPlaylistRecordBytes;
        }
      } else {
        in.Take<uint8_t>();
        const uint32_t arguments = in.Take<uint32_t>();
        in.at += arguments * 5u;
        const uint32_t treeBytes = in.Take<uint32_t>();
        in.Take<uint8_t>();
        out.trees.emplace_back(in.at, in.at + treeBytes);
      }
    }
    in.at = end;
  }
  return out.nodes.size() + out.clips.size();
}

void BM_MusicLoadObjectsBaseline(benchmark::State& state) {
  const std::vector<uint8_t> image = ObjectsImage();
  size_t read = 0;
  for (auto _ : state) {
    PlainObjects objects;
    read = ReadPlain(image, objects);
    benchmark::DoNotOptimize(objects.nodes.data());
  }
  if (read != kObjects) state.SkipWithError("not every object was read");
  state.SetItemsProcessed(int64_t(state.iterations()) * kObjects);
}

// ---- 100,000 timing questions ----

constexpr uint32_t kRules = 64;
constexpr uint32_t kSegmentId = 10, kOwnerId = 900;

// A segment of 16 markers four levels below the rules' owner: segment, playlist 920, switches 930
// and 910, owner 900. Of the 64 rules, every other one lists the segment's ancestors as sources, the
// rest other segments; no destination matches, so every lookup walks every rule to rule 0.
struct Timing {
  Timing() {
    Tools::BankMusicSegment segment = Segment(kSegmentId);
    segment.markers.clear();
    for (uint32_t m = 0; m < 16; ++m) segment.markers.push_back({m + 1, 500.0 + m * 500.0, ""});
    std::vector<Tools::BankObject> objects = {
        {Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)},
        {Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(Segment(kSegmentId + 1), false)}};
    Tools::BankMusicPlaylist playlist;
    playlist.id = 920;
    playlist.node.children = {kSegmentId, kSegmentId + 1};
    objects.push_back({Tools::kBankMusicPlaylistType, Tools::MusicPlaylistPayload(playlist, false)});
    uint32_t below = 920;
    for (uint32_t id : {930u, 910u, kOwnerId}) {
      Tools::BankMusicSwitch container;
      container.id = id;
      container.node.children = {below};
      if (id == kOwnerId) {
        for (uint32_t r = 0; r < kRules; ++r) {
          Tools::BankMusicRule rule;
          rule.sources = r % 2 ? std::vector<uint32_t>{100 + r, 910, 920, 930} : std::vector<uint32_t>{100 + r, 200 + r};
          rule.destinations = {300 + r, 400 + r};
          container.rules.push_back(rule);
        }
      }
      objects.push_back({Tools::kBankMusicSwitchType, Tools::MusicSwitchPayload(container, false)});
      below = id;
    }
    engine.Load(std::move(objects));
    segmentNode = Engine::Find<CSnMusicSegmentNode>(kSegmentId);
    destination = Engine::Find<CSnMusicSegmentNode>(kSegmentId + 1);
    owner = Engine::Find<CSnMusicSwitchContainer>(kOwnerId);
    uint32_t seed = 12345;
    for (uint32_t i = 0; i < kQueries; ++i) {
      seed = seed * 1664525u + 1013904223u;
      positions.push_back(int32_t((seed >> 8) % uint32_t(segmentNode->GetActiveDuration())));
    }
  }
  Engine engine;
  CSnMusicSegmentNode* segmentNode = nullptr;
  CSnMusicSegmentNode* destination = nullptr;
  CSnMusicSwitchContainer* owner = nullptr;
  std::vector<int32_t> positions;
};

void BM_MusicSyncPoints(benchmark::State& state) {
  Timing timing;
  int64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) {
      uint32_t cue = 0;
      int32_t at = 0;
      if (timing.segmentNode->FindSyncPoint(timing.positions[i], 1 + i % 7, 0, i & 8, cue, at) == SN_Success)
        sum += at + cue;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["sum"] = double(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void BM_MusicMusicalEvents(benchmark::State& state) {
  Timing timing;
  uint64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) {
      uint32_t bars = 0, beats = 0, grids = 0;
      timing.segmentNode->CountMusicalEvents(timing.positions[i] - 1000, 50000, bars, beats, grids);
      sum += bars + beats + grids;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["sum"] = double(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void BM_MusicTransitionRules(benchmark::State& state) {
  Timing timing;
  uint64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) {
      bool through = false;
      const SnMusicTransitionRule* rule = timing.owner->GetTransitionRule(
          timing.owner, kSegmentId + (i & 1), timing.segmentNode, 500 + (i & 7), timing.destination, through);
      sum += rule->index + through;
    }
    benchmark::DoNotOptimize(sum);
  }
  if (sum != 0) state.SkipWithError("a rule other than rule 0 matched");
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

// The same arithmetic over flat arrays: the meter as integers, marker positions and ids, rules as
// sorted id vectors and the ancestors as a parent array.
struct Flat {
  explicit Flat(const Timing& timing) {
    const CSnMusicSegmentNode& segment = *timing.segmentNode;
    for (uint32_t m = 0; m < segment.MarkerCount(); ++m) {
      positions.push_back(int64_t(segment.Marker(m).position));
      ids.push_back(segment.Marker(m).id);
    }
    const SnMusicMeter& meter = segment.GetMeter();
    beat = meter.beat, bar = meter.bar, grid = meter.gridPeriod, gridOffset = meter.gridOffset;
    entry = positions.front();
    active = positions.back() - entry;
    for (uint32_t r = 0; r < timing.owner->RuleCount(); ++r) {
      const SnMusicTransitionRule& rule = timing.owner->Rule(r);
      sources.emplace_back(&rule.sources[0], &rule.sources[0] + rule.sources.Count());
      destinations.emplace_back(&rule.destinations[0], &rule.destinations[0] + rule.destinations.Count());
    }
  }
  int64_t Next(int64_t from, int64_t period, int64_t offset) const {
    if (period == 0) return from + 1;
    if (offset >= from) return offset;
    return offset + (from - offset + period - 1) / period * period;
  }
  bool Sync(int64_t p, uint32_t type, bool exclusive, uint32_t& cue, int64_t& at) const {
    if (p > active) return false;
    cue = 0;
    const int64_t q = p + exclusive;
    const size_t last = positions.size() - 1;
    switch (type) {
      case 1: at = Next(q, grid, gridOffset); return at <= active;
      case 2: at = Next(q, bar, 0); return at <= active;
      case 3: at = Next(q, beat, 0); return at <= active;
      case 4:
        for (size_t m = exclusive; m <= last; ++m)
          if (positions[m] >= entry + p) {
            cue = ids[m];
            at = positions[m] - entry;
            return true;
          }
        return false;
      case 5:
        for (size_t m = 1; m < last; ++m)
          if (positions[m] > entry + p) {
            cue = ids[m];
            at = positions[m] - entry;
            return true;
          }
        return false;
      case 6:
        if (p || exclusive) return false;
        cue = ids[0];
        at = 0;
        return true;
      default: cue = ids[last]; at = active; return true;
    }
  }
  static uint32_t Count(int64_t r, int64_t length, int64_t period) {
    return period ? uint32_t((period - 1 + r + length) / period - (period - 1 + r) / period) : 0;
  }
  static int64_t Mod(int64_t v, int64_t m) { return (v % m + m) % m; }
  uint32_t Events(int64_t begin, int64_t length) const {
    if (begin < 0) length += begin, begin = 0;
    if (length <= 0 || begin >= active) return 0;
    length = std::min(length, active - begin);
    return Count(Mod(begin, bar), length, bar) + Count(Mod(begin, beat), length, beat) +
           Count(Mod(grid - gridOffset + begin, grid), length, grid);
  }
  static bool Listed(const std::vector<uint32_t>& list, uint32_t id) {
    return std::binary_search(list.begin(), list.end(), id);
  }
  // Ancestor ids of the source and destination below the owner, nearest first.
  uint32_t Rule(uint32_t source, const std::vector<uint32_t>& sourceUp, uint32_t destination,
                const std::vector<uint32_t>& destinationUp) const {
    for (uint32_t r = uint32_t(sources.size()); r-- > 0;) {
      const std::vector<uint32_t>& from = sources[r];
      const std::vector<uint32_t>& to = destinations[r];
      bool match = from[0] == 0xFFFFFFFF || Listed(from, source);
      for (size_t a = 0; !match && a < sourceUp.size(); ++a) match = Listed(from, sourceUp[a]);
      if (!match) continue;
      if (to[0] == 0xFFFFFFFF || Listed(to, destination)) return r;
      for (uint32_t up : destinationUp)
        if (Listed(to, up)) return r;
    }
    return 0;
  }

  std::vector<int64_t> positions;
  std::vector<uint32_t> ids;
  int64_t beat, bar, grid, gridOffset, entry, active;
  std::vector<std::vector<uint32_t>> sources, destinations;
};

void BM_MusicSyncPointsBaseline(benchmark::State& state) {
  Timing timing;
  const Flat flat(timing);
  int64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) {
      uint32_t cue = 0;
      int64_t at = 0;
      if (flat.Sync(timing.positions[i], 1 + i % 7, i & 8, cue, at)) sum += at + cue;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["sum"] = double(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void BM_MusicMusicalEventsBaseline(benchmark::State& state) {
  Timing timing;
  const Flat flat(timing);
  uint64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) sum += flat.Events(timing.positions[i] - 1000, 50000);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["sum"] = double(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void BM_MusicTransitionRulesBaseline(benchmark::State& state) {
  Timing timing;
  const Flat flat(timing);
  const std::vector<uint32_t> up = {920, 930, 910};
  uint64_t sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (uint32_t i = 0; i < kQueries; ++i) sum += flat.Rule(kSegmentId + (i & 1), up, 500 + (i & 7), up);
    benchmark::DoNotOptimize(sum);
  }
  if (sum != 0) state.SkipWithError("a rule other than rule 0 matched");
  state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

}  // namespace

BENCHMARK(BM_MusicLoadObjects)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicLoadObjectsBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicSyncPoints)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicSyncPointsBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicMusicalEvents)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicMusicalEventsBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicTransitionRules)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MusicTransitionRulesBaseline)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly(true);
