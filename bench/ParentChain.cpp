// One parent chain (each object the child of the one before, Transform + Spinner on every object) at
// two depths: its load from a space file, one frame (every spinner turns, every world matrix is read,
// as a renderer would), destroying it from its root at the end of a frame, and deleting its space.
// Each is timed beside the same objects left unparented, in the same run, median against median: a
// hierarchy that costs the same per object at 1,000 and at 3,000 deep grows linearly.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Base/Serialization/File.h"
#include "Base/TraceLog.h"
#include "Core/Factory.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"

namespace ParentChainBench {

constexpr float kDt = 1.0f / 60.0f;

// Owns the spaces the factory loads, by name.
struct Host : Core::SpaceHost {
  Core::GameSpace* GetGameSpace(const char* name) override {
    return space && space->GetName() == name ? space.get() : nullptr;
  }
  Core::GameSpace* NewGameSpace(const char* name) override {
    space = std::make_unique<Core::GameSpace>(name);
    return space.get();
  }
  std::unique_ptr<Core::GameSpace> space;
};

std::string PathOf(int depth, bool chained) {
  return "/tmp/orv_bench_" + std::to_string(getpid()) + (chained ? "_chain_" : "_flat_") + std::to_string(depth) +
         ".space";
}

// Written once per process through the engine's own space writer; removed at exit.
struct Files {
  ~Files() {
    for (const std::string& path : paths) std::remove(path.c_str());
  }
  std::vector<std::string> paths;
};

const std::string& SpaceFile(int depth, bool chained) {
  static Files files;
  const std::string path = PathOf(depth, chained);
  for (const std::string& known : files.paths)
    if (known == path) return known;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  Core::GameSpace space(chained ? "Chain" : "Flat");
  Core::GameObject* previous = nullptr;
  for (int i = 0; i < depth; ++i) {
    Core::GameObject* object = space.CreateObject();
    object->Name(("Link " + std::to_string(i)).c_str());
    auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
    transform->SetLocalTranslation({0.0f, 1.0f, 0.1f * float(i % 7)});
    object->AttachComponent(transform);
    auto* spinner = static_cast<Core::Spinner*>(space.CreateComponent(Core::ComponentType_Spinner));
    spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
    spinner->SetRotationSpeed(float(1 + i % 90));
    object->AttachComponent(spinner);
    if (chained && previous) object->SetParent(previous);
    previous = object;
  }
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Core::SpaceLoadContext context;
  space.WriteText(file, context);
  files.paths.push_back(path);
  return files.paths.back();
}

Core::GameSpace* Load(Host& host, int depth, bool chained) {
  return Core::Factory::GetInstance().LoadSpace(SpaceFile(depth, chained).c_str(), host);
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const size_t n = samples.size();
  return n == 0 ? 0.0 : (n % 2 ? samples[n / 2] : 0.5 * (samples[n / 2 - 1] + samples[n / 2]));
}

void Report(benchmark::State& state, const std::vector<double>& chain, const std::vector<double>& flat) {
  const double chainMedian = Median(chain), flatMedian = Median(flat);
  state.counters["chain_ms"] = chainMedian * 1e3;
  state.counters["flat_ms"] = flatMedian * 1e3;
  state.counters["x_flat"] = flatMedian > 0.0 ? chainMedian / flatMedian : 0.0;
  state.counters["us_per_object"] = chainMedian * 1e6 / double(state.range(0));
}

// Runs `timed` on the chain and on the flat objects in turn, each after its `prepare` (not timed); the
// iteration time is the chain's, and the counters compare the medians.
void Compare(benchmark::State& state, const std::function<void(Host&, bool)>& prepare,
             const std::function<void(Host&, bool)>& timed) {
  std::vector<double> chain, flat;
  for (auto _ : state) {
    for (bool chained : {true, false}) {
      Host host;
      prepare(host, chained);
      const double seconds = Seconds([&] { timed(host, chained); });
      (chained ? chain : flat).push_back(seconds);
      if (chained) state.SetIterationTime(seconds);
      // The rest of the space goes untimed, with the host.
    }
  }
  Report(state, chain, flat);
}

void BM_ChainLoad(benchmark::State& state) {
  const int depth = int(state.range(0));
  Compare(
      state, [&](Host&, bool chained) { SpaceFile(depth, chained); },
      [&](Host& host, bool chained) {
        if (!Load(host, depth, chained)) std::abort();
      });
}

// Every spinner turns its Transform, then every world matrix is read.
void Frame(Core::GameSpace& space, const std::vector<Core::Transform*>& transforms) {
  space.GetHooks().Call("LogicUpdate", kDt);
  for (const Core::Transform* transform : transforms) benchmark::DoNotOptimize(transform->GetWorldMatrix());
}

// Both spaces stay loaded: frame after frame, in turn.
void BM_ChainFrame(benchmark::State& state) {
  const int depth = int(state.range(0));
  Host hosts[2];
  std::vector<Core::Transform*> transforms[2];
  for (int chained = 0; chained < 2; ++chained) {
    Core::GameSpace* space = Load(hosts[chained], depth, chained == 1);
    for (Core::GameObject* object : space->GetObjects())
      transforms[chained].push_back(object->GetComponent<Core::Transform>());
    Frame(*space, transforms[chained]);  // the first frame finds every matrix dirty from the load
  }
  std::vector<double> samples[2];
  for (auto _ : state) {
    for (int chained : {1, 0}) {
      const double seconds = Seconds([&] { Frame(*hosts[chained].space, transforms[chained]); });
      samples[chained].push_back(seconds);
      if (chained) state.SetIterationTime(seconds);
    }
  }
  Report(state, samples[1], samples[0]);
}

// The chain from its root (marked, then destroyed at the end of the frame); the flat objects each.
void BM_ChainDestroy(benchmark::State& state) {
  const int depth = int(state.range(0));
  std::vector<Core::GameObject*> objects;
  Compare(
      state,
      [&](Host& host, bool chained) {
        Load(host, depth, chained);
        objects = host.space->GetObjects();
      },
      [&](Host& host, bool chained) {
        Core::GameSpace& space = *host.space;
        if (chained) {
          space.Destroy(objects.front());
        } else {
          for (Core::GameObject* object : objects) space.Destroy(object);
        }
        space.DestroyPendingObjects(false);
        if (space.GetObjectCount() != 0) std::abort();
      });
}

// The whole space deleted, as a level change does: objects last created first.
void BM_ChainSpaceDelete(benchmark::State& state) {
  const int depth = int(state.range(0));
  Compare(
      state, [&](Host& host, bool chained) { Load(host, depth, chained); },
      [&](Host& host, bool) { host.space.reset(); });
}

BENCHMARK(BM_ChainLoad)->Arg(1000)->Arg(3000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainFrame)->Arg(1000)->Arg(3000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChainDestroy)->Arg(1000)->Arg(3000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainSpaceDelete)->Arg(1000)->Arg(3000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace ParentChainBench
