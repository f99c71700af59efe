// The game's bank and dialogue calls against plain code doing the same work. A waiting UnloadBank of a
// bank that is not loaded (result 54) through the bank thread, 10,000 a batch, against a request and
// its reply through a std::mutex and std::condition_variable with a worker thread that looks the id up
// in an empty std::unordered_map. And ResolveDialogueEvent by ids on a best-match tree of depth 3 with
// 1,000 leaves (a bank the bank builder wrote), against std::map::find of the 3-id tuple; both walk the
// same 1,000 paths. Compare the medians.
#include <array>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "SoundEngine/SoundEngineDialogueApi.h"
#include "bench/SoundBenchSupport.h"
#include "bench/TraceWatch.h"
#include "tools/SoundBank/BankText.h"

namespace {

using namespace SN;

constexpr int kUnloads = 10000;
constexpr uint32_t kMissingBank = 12345;
constexpr uint32_t kValues = 10;  // per level: 10 x 10 x 10 leaves

// The engine with its bank thread, and the dialogue bank loaded from its image.
struct Engine {
  Engine() : lower(0, false) {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &streams;
    LowerEngine::Install(&lower);
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.useBankThread = 1;
    SoundEngine::Init(&settings, nullptr);
    std::string text = "dialogue Lines 100 0 A B C\n";
    for (uint32_t a = 1; a <= kValues; ++a)
      for (uint32_t b = 1; b <= kValues; ++b)
        for (uint32_t c = 1; c <= kValues; ++c) {
          const uint32_t node = a * 10000 + b * 100 + c;
          text += "dialoguepath Lines @" + std::to_string(node) + " 100 100 @" + std::to_string(a) + " @" +
                  std::to_string(b) + " @" + std::to_string(c) + "\n";
          paths.push_back({a, b, c});
          map.emplace(std::make_tuple(a, b, c), node);
        }
    Tools::BankDescription bank;
    std::string error;
    if (!Tools::ParseBankText(text, "Dialogue", bank, error)) return;
    image = Tools::WriteBank(bank);
    aligned = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, uint32_t(image.size()), 16));
    memcpy(aligned, image.data(), image.size());
    uint32_t bankId = 0;
    loaded = SoundEngine::LoadBank(aligned, uint32_t(image.size()), bankId) == SN_Success;
    eventId = SoundEngine::GetIDFromString("Lines");
  }
  ~Engine() {
    SoundEngine::Term();
    LowerEngine::Install(nullptr);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  SoundBench::SilentLowerEngine lower;
  SoundBench::NoStreams streams;
  std::vector<uint8_t> image;
  uint8_t* aligned = nullptr;  // the default pool's, gone with it
  bool loaded = false;
  uint32_t eventId = 0;
  std::vector<std::array<uint32_t, 3>> paths;
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, uint32_t> map;
};

Engine& Setup() {
  static Engine engine;
  return engine;
}

// A worker thread answering requests one at a time, as the bank thread does.
class RequestWorker {
 public:
  RequestWorker() : m_thread([this] { Run(); }) {}
  ~RequestWorker() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }
  int Call(uint32_t id) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_request = id;
    m_pending = true;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return !m_pending; });
    return m_reply;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [&] { return m_pending || m_stop; });
      if (m_stop) return;
      m_reply = m_banks.count(m_request) ? 1 : 54;
      m_pending = false;
      m_changed.notify_all();
    }
  }
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::unordered_map<uint32_t, int> m_banks;
  uint32_t m_request = 0;
  int m_reply = 0;
  bool m_pending = false;
  bool m_stop = false;
  std::thread m_thread;
};

void BM_MutexConditionRequestReply(benchmark::State& state) {
  static RequestWorker worker;
  for (auto _ : state)
    for (int i = 0; i < kUnloads; ++i)
      if (worker.Call(kMissingBank) != 54) state.SkipWithError("the worker answered wrongly");
  state.SetItemsProcessed(state.iterations() * kUnloads);
}

void BM_WaitingUnloadOfAnUnloadedBank(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Setup();
  for (auto _ : state)
    for (int i = 0; i < kUnloads; ++i)
      if (SoundEngine::UnloadBank(kMissingBank, nullptr) != SN_BankNotLoaded) {
        state.SkipWithError("the unload did not give 54");
        return;
      }
  state.SetItemsProcessed(state.iterations() * kUnloads);
  watch.Check(state);
}

void BM_MapFindOfTheTuple(benchmark::State& state) {
  const Engine& engine = Setup();
  for (auto _ : state)
    for (const auto& path : engine.paths) {
      const auto found = engine.map.find(std::make_tuple(path[0], path[1], path[2]));
      benchmark::DoNotOptimize(found->second);
    }
  state.SetItemsProcessed(state.iterations() * int64_t(engine.paths.size()));
}

void BM_ResolveDialogueEvent(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  const Engine& engine = Setup();
  if (!engine.loaded) {
    state.SkipWithError("the dialogue bank did not load");
    return;
  }
  for (auto _ : state)
    for (const auto& path : engine.paths)
      benchmark::DoNotOptimize(SoundEngine::DynamicDialogue::ResolveDialogueEvent(engine.eventId, path.data(), 3));
  state.SetItemsProcessed(state.iterations() * int64_t(engine.paths.size()));
  watch.Check(state);
}

}  // namespace

BENCHMARK(BM_MutexConditionRequestReply)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_WaitingUnloadOfAnUnloadedBank)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MapFindOfTheTuple)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_ResolveDialogueEvent)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
