// Pool allocation against the heap, and handle resolution against a plain array read.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "Base/Handle.h"
#include "Base/PBManager.h"

namespace {

constexpr int kBatch = 100;

// The game spaces' pool shape, aligned for C++ objects.
Base::PBManager::Config PoolConfig() {
  Base::PBManager::Config config;
  config.objectsPerPage = 150;
  config.maxPages = 20;
  config.debug = false;
  config.padBytes = 4;
  config.headerKind = Base::PBManager::Header_None;
  config.alignment = 8;
  return config;
}

void BM_PoolAllocFree64(benchmark::State& state) {
  Base::PBManager pool(64, PoolConfig());
  for (auto _ : state) {
    void* block = pool.Allocate();
    benchmark::DoNotOptimize(block);
    pool.Free(block);
  }
}
BENCHMARK(BM_PoolAllocFree64);

void BM_MallocFree64(benchmark::State& state) {
  for (auto _ : state) {
    void* block = std::malloc(64);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}
BENCHMARK(BM_MallocFree64);

// A batch held at once, freed oldest first: blocks leave the list of blocks handed out from its front.
void BM_PoolBatch64(benchmark::State& state) {
  Base::PBManager pool(64, PoolConfig());
  void* blocks[kBatch];
  for (auto _ : state) {
    for (void*& block : blocks) block = pool.Allocate();
    benchmark::DoNotOptimize(blocks);
    for (void* block : blocks) pool.Free(block);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PoolBatch64);

void BM_MallocBatch64(benchmark::State& state) {
  void* blocks[kBatch];
  for (auto _ : state) {
    for (void*& block : blocks) block = std::malloc(64);
    benchmark::DoNotOptimize(blocks);
    for (void* block : blocks) std::free(block);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MallocBatch64);

// The batch freed in a shuffled order, as game objects die: blocks leave from the middle of the list.
std::vector<int> ShuffledBatch() {
  std::vector<int> order(kBatch);
  for (int i = 0; i < kBatch; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  return order;
}

void BM_PoolShuffled64(benchmark::State& state) {
  Base::PBManager pool(64, PoolConfig());
  const std::vector<int> order = ShuffledBatch();
  void* blocks[kBatch];
  for (auto _ : state) {
    for (void*& block : blocks) block = pool.Allocate();
    benchmark::DoNotOptimize(blocks);
    for (int i : order) pool.Free(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PoolShuffled64);

void BM_MallocShuffled64(benchmark::State& state) {
  const std::vector<int> order = ShuffledBatch();
  void* blocks[kBatch];
  for (auto _ : state) {
    for (void*& block : blocks) block = std::malloc(64);
    benchmark::DoNotOptimize(blocks);
    for (int i : order) std::free(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MallocShuffled64);

constexpr int kLive = 4096;

// Handles to kLive objects, visited in a shuffled order that both benchmarks share.
struct ResolveFixture {
  std::unique_ptr<Base::HandleManager> table = std::make_unique<Base::HandleManager>();
  std::vector<int> objects = std::vector<int>(kLive);
  std::vector<void*> pointers;
  std::vector<Base::Handle> handles;
  std::vector<uint32_t> order;

  ResolveFixture() {
    for (int& object : objects) {
      handles.push_back(table->Add(&object));
      pointers.push_back(&object);
    }
    for (uint32_t i = 0; i < kLive; ++i) order.push_back(i);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
  }
};

void BM_HandleResolve(benchmark::State& state) {
  ResolveFixture f;
  std::vector<Base::Handle> visit;
  for (uint32_t i : f.order) visit.push_back(f.handles[i]);
  for (auto _ : state) {
    for (Base::Handle handle : visit) benchmark::DoNotOptimize(f.table->Resolve(handle));
  }
  state.SetItemsProcessed(state.iterations() * kLive);
}
BENCHMARK(BM_HandleResolve);

void BM_ArrayRead(benchmark::State& state) {
  ResolveFixture f;
  for (auto _ : state) {
    for (uint32_t index : f.order) benchmark::DoNotOptimize(f.pointers[index]);
  }
  state.SetItemsProcessed(state.iterations() * kLive);
}
BENCHMARK(BM_ArrayRead);

}  // namespace
