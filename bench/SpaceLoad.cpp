// Loading levels of game objects (Transform + Spinner, parented in short chains) from space files
// through the factory, and tearing them down again, against reading the same files into a fresh buffer.
// A space holds at most 3,000 objects, so 5,000 objects come as two spaces of 2,500 and 50,000 as
// twenty: per object, the larger level should cost what the smaller one does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Base/Serialization/File.h"
#include "Base/TraceLog.h"
#include "Core/Factory.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/SpaceComponent.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"

namespace {

constexpr int kObjectsPerSpace = 2500;

class Host : public Core::SpaceHost {
 public:
  Core::GameSpace* GetGameSpace(const char* name) override {
    for (const auto& space : spaces)
      if (space->GetName() == name) return space.get();
    return nullptr;
  }
  Core::GameSpace* NewGameSpace(const char* name) override {
    spaces.push_back(std::make_unique<Core::GameSpace>(name));
    Core::GameSpace* space = spaces.back().get();
    space->AddSpaceComponent(Core::SpaceComponentRegistry::GetCreator(0)->Create(space));
    return space;
  }
  size_t ObjectCount() const {
    size_t count = 0;
    for (const auto& space : spaces) count += space->GetObjectCount();
    return count;
  }
  std::vector<std::unique_ptr<Core::GameSpace>> spaces;
};

std::string PathOf(const std::string& name) { return "/tmp/orv_bench_" + std::to_string(getpid()) + "_" + name; }

void WriteSpace(const std::string& name, const std::string& path) {
  auto space = std::make_unique<Core::GameSpace>(name);
  space->AddSpaceComponent(Core::SpaceComponentRegistry::GetCreator(0)->Create(space.get()));
  Core::GameObject* previous = nullptr;
  for (int i = 0; i < kObjectsPerSpace; ++i) {
    Core::GameObject* object = space->CreateObject();
    object->Name(("Object " + std::to_string(i)).c_str());
    auto* transform = static_cast<Core::Transform*>(space->CreateComponent(Core::ComponentType_Transform));
    transform->SetLocalTranslation({float(i), float(i % 17) * 0.5f, -float(i % 5)});
    transform->SetLocalScale({1.0f, 1.0f + float(i % 3), 1.0f});
    object->AttachComponent(transform);
    auto* spinner = static_cast<Core::Spinner*>(space->CreateComponent(Core::ComponentType_Spinner));
    spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
    spinner->SetRotationSpeed(float(i % 90));
    object->AttachComponent(spinner);
    if (previous && i % 5 != 0) object->SetParent(previous);
    previous = object;
  }
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Core::SpaceLoadContext context;
  space->WriteText(file, context);
}

// A level file and its space files; they live as long as the process.
struct Level {
  ~Level() {
    std::remove(path.c_str());
    for (const std::string& space : spaces) std::remove(space.c_str());
  }
  std::string path;
  std::vector<std::string> spaces;
  size_t objects = 0;
};

const Level& LevelOf(int spaceCount) {
  static std::map<int, Level> levels;
  Level& level = levels[spaceCount];
  if (!level.path.empty()) return level;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  const std::string prefix = "level" + std::to_string(spaceCount);
  level.path = PathOf(prefix + ".level");
  std::string text = "Bench\r\n";
  for (int i = 0; i < spaceCount; ++i) {
    level.spaces.push_back(PathOf(prefix + "_" + std::to_string(i) + ".space"));
    WriteSpace("Bench space " + std::to_string(i), level.spaces.back());
    text += level.spaces.back() + "\r\n";
  }
  level.objects = size_t(spaceCount) * kObjectsPerSpace;
  FILE* file = std::fopen(level.path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return level;
}

// The baseline: every byte of the level's files through stdio into a buffer allocated for that file,
// as a reader that kept each file whole would have to.
size_t ReadIntoFreshBuffers(const Level& level) {
  size_t total = 0;
  for (const std::string& path : level.spaces) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) continue;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::unique_ptr<char[]> buffer(new char[size_t(std::max(size, 1L))]);
    total += std::fread(buffer.get(), 1, size_t(std::max(size, 0L)), file);
    benchmark::DoNotOptimize(buffer.get());
    std::fclose(file);
  }
  return total;
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0.0;
  std::sort(samples.begin(), samples.end());
  const size_t middle = samples.size() / 2;
  return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration reads the files, loads the level and destroys its spaces, timing the three apart;
// the iteration's time is load plus teardown. The counters are medians over the iterations, in ms,
// and the ratios of the load and teardown medians to the read median.
void LoadAndTearDown(benchmark::State& state, int spaceCount) {
  const Level& level = LevelOf(spaceCount);
  std::vector<double> reads, loads, teardowns;
  size_t bytes = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    bytes = ReadIntoFreshBuffers(level);
    reads.push_back(SecondsSince(start));

    auto host = std::make_unique<Host>();
    start = std::chrono::steady_clock::now();
    Core::Factory::GetInstance().LoadLevel(level.path.c_str(), *host);
    loads.push_back(SecondsSince(start));
    if (host->ObjectCount() != level.objects) state.SkipWithError("the level did not load every object");

    start = std::chrono::steady_clock::now();
    host.reset();
    teardowns.push_back(SecondsSince(start));
    state.SetIterationTime(loads.back() + teardowns.back());
  }
  const double read = Median(reads), load = Median(loads), teardown = Median(teardowns);
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
  state.counters["read_ms"] = read * 1e3;
  state.counters["load_ms"] = load * 1e3;
  state.counters["teardown_ms"] = teardown * 1e3;
  state.counters["load_x_read"] = load / read;
  state.counters["teardown_x_read"] = teardown / read;
  state.counters["load_us_per_object"] = load * 1e6 / double(level.objects);
  state.counters["teardown_us_per_object"] = teardown * 1e6 / double(level.objects);
}

void BM_Load5000Objects(benchmark::State& state) { LoadAndTearDown(state, 2); }
BENCHMARK(BM_Load5000Objects)->UseManualTime()->Iterations(41)->Unit(benchmark::kMillisecond);

void BM_Load50000Objects(benchmark::State& state) { LoadAndTearDown(state, 20); }
BENCHMARK(BM_Load50000Objects)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

}  // namespace
