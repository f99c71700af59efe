// Loading 5,000 game objects (Transform + Spinner, parented in short chains) from space files through
// the factory, against reading the same files' bytes. A space holds at most 3,000 objects, so the
// objects come as a level of two spaces of 2,500.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

constexpr int kSpaces = 2;
constexpr int kObjectsPerSpace = 2500;
constexpr int kObjects = kSpaces * kObjectsPerSpace;

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

// The files live as long as the process.
struct Content {
  ~Content() {
    std::remove(level.c_str());
    for (const std::string& path : spaces) std::remove(path.c_str());
  }
  std::string level;
  std::vector<std::string> spaces;
};

const Content& Files() {
  static Content content;
  if (!content.level.empty()) return content;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  content.level = PathOf("objects.level");
  std::string text = "Bench\r\n";
  for (int i = 0; i < kSpaces; ++i) {
    content.spaces.push_back(PathOf("objects" + std::to_string(i) + ".space"));
    WriteSpace("Bench space " + std::to_string(i), content.spaces.back());
    text += content.spaces.back() + "\r\n";
  }
  FILE* level = std::fopen(content.level.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), level);
  std::fclose(level);
  return content;
}

// The baseline: every byte of the level's files through stdio into memory.
size_t ReadBytes(std::vector<char>& buffer) {
  size_t total = 0;
  for (const std::string& path : Files().spaces) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) continue;
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) total += got;
    std::fclose(file);
  }
  return total;
}

double SecondsOfPlainRead() {
  std::vector<char> buffer(1 << 16);
  double best = 1e9;
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(ReadBytes(buffer));
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void BM_ReadSpaceBytes(benchmark::State& state) {
  std::vector<char> buffer(1 << 16);
  size_t bytes = 0;
  for (auto _ : state) bytes = ReadBytes(buffer);
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
  state.counters["objects/s"] = benchmark::Counter(double(state.iterations()) * kObjects, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadSpaceBytes)->Unit(benchmark::kMillisecond);

// For scale: only splitting the same bytes into the blank-separated tokens every reader walks.
void BM_TokenizeSpaceBytes(benchmark::State& state) {
  size_t tokens = 0;
  for (auto _ : state) {
    tokens = 0;
    for (const std::string& path : Files().spaces) {
      Base::File file;
      file.Open(path, Base::File::Mode_Read);
      char token[256];
      while (file.ReadToken(token, sizeof(token))) ++tokens;
    }
  }
  benchmark::DoNotOptimize(tokens);
  state.counters["objects/s"] = benchmark::Counter(double(state.iterations()) * kObjects, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TokenizeSpaceBytes)->Unit(benchmark::kMillisecond);

void BM_LoadSpaces(benchmark::State& state) {
  const Content& files = Files();
  std::vector<char> buffer(1 << 16);
  const size_t bytes = ReadBytes(buffer);
  double loading = 0.0;
  for (auto _ : state) {
    Host host;
    const auto start = std::chrono::steady_clock::now();
    Core::Factory::GetInstance().LoadLevel(files.level.c_str(), host);
    loading += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (host.ObjectCount() != size_t(kObjects)) state.SkipWithError("the level did not load every object");
    state.PauseTiming();
    host.spaces.clear();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
  state.counters["objects/s"] = benchmark::Counter(double(state.iterations()) * kObjects, benchmark::Counter::kIsRate);
  // Parsing and building against a plain read of the same bytes, both measured here.
  state.counters["x_plain_read"] = loading / double(state.iterations()) / SecondsOfPlainRead();
}
BENCHMARK(BM_LoadSpaces)->Unit(benchmark::kMillisecond);

}  // namespace
