// Sound-engine hot paths against plain baselines doing the same work: four threads posting 24-byte
// messages while the audio thread drains them (against a mutex-guarded deque with the same reader),
// and a recorded mixed allocation sequence on a pool heap (against malloc and free).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;
using SoundBench::NoStreams;
using SoundBench::SilentLowerEngine;

constexpr uint32_t kWriters = 4;
constexpr uint32_t kPerWriter = 50000;
// The game thread closes a frame this often while the writers post.
constexpr auto kRenderPeriod = std::chrono::microseconds(100);


// The reader's work, the same for both queues.
std::atomic<uint64_t> g_sum{0};
std::atomic<uint32_t> g_handled{0};
Platform::Event g_allHandled{Platform::Event::Reset::Auto};
uint32_t g_expected = 0;
std::atomic<uint32_t> g_writing{0};
void Consume(uint32_t a, uint32_t b) {
  g_sum.fetch_add(a + b, std::memory_order_relaxed);
  if (g_handled.fetch_add(1, std::memory_order_relaxed) + 1 == g_expected) g_allHandled.Set();
}
void Handle(CSnAudioMgr&, const SnMsgHeader& header) {
  const auto& message = reinterpret_cast<const SnMsgSetRTPC&>(header);
  Consume(message.paramId, message.gameObject);
}

void RingPosting(benchmark::State& state) {
  SnMemoryHooks hooks;
  hooks.alloc = &malloc;
  hooks.free = &free;
  SetMemoryHooks(hooks);
  SnMemSettings memory{20};
  MemoryMgr::Init(&memory);
  NoStreams streams;
  SilentLowerEngine lower{Platform::kWaitForever, false};
  ISnStreamMgr::m_pStreamMgr = &streams;
  LowerEngine::Install(&lower);
  if (SoundEngine::Init(nullptr, nullptr) != SN_Success) {
    state.SkipWithError("the sound engine did not start");
    return;
  }
  SetMessageHandler(SnMsg_SetRTPC, &Handle);
  g_expected = kWriters * kPerWriter;
  for (auto _ : state) {
    g_handled = 0;
    g_writing = kWriters;
    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w) {
      writers.emplace_back([w] {
        for (uint32_t i = 0; i < kPerWriter; ++i) {
          auto* message = g_pAudioMgr->Reserve<SnMsgSetRTPC>(SnMsg_SetRTPC);
          message->paramId = w;
          message->value = 0.0f;
          message->gameObject = i;
          message->playingId = 0;
          g_pAudioMgr->FinishMessage();
        }
        --g_writing;
      });
    }
    while (g_writing > 0) {
      SoundEngine::RenderAudio();
      std::this_thread::sleep_for(kRenderPeriod);
    }
    for (std::thread& writer : writers) writer.join();
    SoundEngine::RenderAudio();
    g_allHandled.Wait(Platform::kWaitForever);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * g_expected);
  SetMessageHandler(SnMsg_SetRTPC, nullptr);
  SoundEngine::Term();
  LowerEngine::Install(nullptr);
  ISnStreamMgr::m_pStreamMgr = nullptr;
  MemoryMgr::Term();
}

// Baseline: the same posts into a deque under one mutex, a reader woken the same way.
void MutexDequePosting(benchmark::State& state) {
  struct Message {
    uint32_t a, b;
    uint64_t pad[2];
  };
  static_assert(sizeof(Message) == MessageSize<SnMsgSetRTPC>(), "both queues carry messages of one size");
  std::mutex lock;
  std::deque<Message> queue;
  Platform::Event wake(Platform::Event::Reset::Auto);
  std::atomic<bool> stop{false};
  g_expected = kWriters * kPerWriter;
  std::thread reader([&] {
    std::deque<Message> batch;
    while (!stop) {
      wake.Wait(Platform::kWaitForever);
      {
        std::lock_guard<std::mutex> guard(lock);
        batch.swap(queue);
      }
      for (const Message& m : batch) Consume(m.a, m.b);
      batch.clear();
    }
  });
  for (auto _ : state) {
    g_handled = 0;
    g_writing = kWriters;
    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w) {
      writers.emplace_back([&, w] {
        for (uint32_t i = 0; i < kPerWriter; ++i) {
          {
            std::lock_guard<std::mutex> guard(lock);
            queue.push_back(Message{w, i, {}});
          }
        }
        --g_writing;
      });
    }
    while (g_writing > 0) {
      wake.Set();
      std::this_thread::sleep_for(kRenderPeriod);
    }
    for (std::thread& writer : writers) writer.join();
    wake.Set();
    g_allHandled.Wait(Platform::kWaitForever);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * g_expected);
  stop = true;
  wake.Set();
  reader.join();
}

// Compare the medians: the machine's other load moves single runs a lot.
BENCHMARK(RingPosting)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(MutexDequePosting)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(9)->DisplayAggregatesOnly(true);

// One recorded sequence of allocations of 16 B to 4 KiB with frees in random order.
struct Step {
  uint32_t slot;
  uint32_t size;  // 0 frees the slot
};
const std::vector<Step>& Sequence() {
  static const std::vector<Step> steps = [] {
    std::vector<Step> out;
    std::mt19937 random(1234);
    std::vector<uint32_t> live, free;
    for (uint32_t i = 0; i < 2048; ++i) free.push_back(i);
    for (int n = 0; n < 200000; ++n) {
      if (!free.empty() && (live.empty() || random() % 2 == 0)) {
        const uint32_t slot = free.back();
        free.pop_back();
        out.push_back({slot, 16 + uint32_t(random() % (4096 - 16 + 1))});
        live.push_back(slot);
      } else {
        const size_t pick = random() % live.size();
        out.push_back({live[pick], 0});
        free.push_back(live[pick]);
        live[pick] = live.back();
        live.pop_back();
      }
    }
    for (uint32_t slot : live) out.push_back({slot, 0});
    return out;
  }();
  return steps;
}

template <typename Alloc, typename Free>
void Replay(benchmark::State& state, Alloc&& alloc, Free&& release) {
  std::vector<void*> slots(2048, nullptr);
  const std::vector<Step>& steps = Sequence();
  size_t pairs = 0;
  for (const Step& step : steps) pairs += step.size ? 1 : 0;
  for (auto _ : state) {
    for (const Step& step : steps) {
      if (step.size) {
        slots[step.slot] = alloc(step.size);
        benchmark::DoNotOptimize(slots[step.slot]);
      } else {
        release(slots[step.slot]);
      }
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * pairs));  // allocate-and-free pairs
}

void PoolHeapSequence(benchmark::State& state) {
  SnMemoryHooks hooks;
  hooks.alloc = &malloc;
  hooks.free = &free;
  SetMemoryHooks(hooks);
  SnMemSettings memory{4};
  MemoryMgr::Init(&memory);
  const SnMemPoolId pool = MemoryMgr::CreatePool(nullptr, 32 << 20, 64, SnMemPool_AllocHook, 0);
  Replay(state, [pool](size_t size) { return MemoryMgr::Malloc(pool, size); },
         [pool](void* p) { MemoryMgr::Free(pool, p); });
  MemoryMgr::Term();
}

void MallocSequence(benchmark::State& state) {
  Replay(state, [](size_t size) { return malloc(size); }, [](void* p) { free(p); });
}

BENCHMARK(PoolHeapSequence)->Unit(benchmark::kMillisecond)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(MallocSequence)->Unit(benchmark::kMillisecond)->Repetitions(9)->DisplayAggregatesOnly(true);

}  // namespace
