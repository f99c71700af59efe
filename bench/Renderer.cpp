// The deferred renderer's frame on the software rasteriser, with the driver's own rasteriser threads
// (LP_NUM_THREADS=0 in the environment times the one-thread rasteriser instead):
// - each level of the game ("Splash", "Playground", "Sandbox") as the game draws it, one whole pass of
//   its main loop per frame at 1280 x 720, and again with the device waited for after every pass of the
//   renderer, which gives each pass's share of the frame;
// - 200 models and 20 point lights drawn into a 1280 x 720 frame (and a 1920 x 1080 one), beside the
//   same scene with its lights off, drawn in turn with it: the difference is what the light passes cost,
//   also given per light.
// Every frame waits for the rasteriser to finish, so its whole cost is timed. Run from the repository's
// root, where the game's content is.
#include "Base/TraceLog.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Device.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/RenderCore.h"
#include "Graphics/RenderableObject.h"
#include "Vantor/Program.h"
#include "Vantor/Window32.h"
#include "bench/TraceWatch.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Base::Vec3;
using Base::Vec4;

struct Box : Graphics::BaseModel {
  Box(const Vec3& at, const Vec4& colour) {
    m_worldMatrix = Base::Mat4::BuildTranslation(at) * Base::Mat4::BuildScale(0.8f, 0.8f, 0.8f);
    m_color = colour;
  }
};

// 200 boxes on a 20 x 10 grid in front of a wall, 20 point lights among them.
struct Scene {
  Scene(int width, int height) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    Graphics::RenderCore::GetInstance();
    canvasId = master.CreateCanvasFramePair(nullptr, width, height);
    canvas = master.GetCanvas(canvasId);
    camera.SetPosition(Vec3(0, 0, -20));
    camera.LookAt(Vec3(0, 0, 0));
    camera.SetLetterBox(false);
    for (int i = 0; i < 200; ++i)
      boxes.push_back(std::make_unique<Box>(Vec3(float(i % 20) - 9.5f, float(i / 20) - 4.5f, 0.0f),
                                            Vec4(0.3f + 0.035f * float(i % 20), 0.5f, 0.9f - 0.08f * float(i / 20), 1)));
    wall = std::make_unique<Box>(Vec3(0, 0, 2), Vec4(1, 1, 1, 1));
    wall->m_worldMatrix = Base::Mat4::BuildTranslation(Vec3(0, 0, 2)) * Base::Mat4::BuildScale(40, 30, 1);
    for (int i = 0; i < 20; ++i) {
      auto light = std::make_unique<Graphics::BasePLight>();
      light->m_data.m_position = Vec3(float(i % 5) * 4.0f - 8.0f, float(i / 5) * 2.5f - 3.75f, -1.0f);
      light->m_data.m_radius = 4.0f;
      light->m_data.m_attenuation = Vec3(1, 0, 0);
      lights.push_back(std::move(light));
    }
  }
  ~Scene() { master.Shutdown(); }

  // One whole frame, its point lights submitted or not; the seconds it took.
  double Frame(bool lit) {
    const auto start = std::chrono::steady_clock::now();
    master.Clear(canvasId, Vec4(0.1f, 0.1f, 0.1f, 1));
    canvas->Begin(&camera);
    canvas->Submit(wall.get(), 0);
    for (auto& box : boxes) canvas->Submit(box.get(), 0);
    if (lit)
      for (auto& light : lights) canvas->Submit(light.get(), 0);
    canvas->End();
    master.Draw(canvasId);
    master.Present(canvasId);
    glFinish();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  Graphics::GraphicsMaster& master = Graphics::GraphicsMaster::GetInstance();
  int canvasId = 0;
  Graphics::Canvas* canvas = nullptr;
  Graphics::BaseCamera camera;
  std::vector<std::unique_ptr<Box>> boxes;
  std::unique_ptr<Box> wall;
  std::vector<std::unique_ptr<Graphics::BasePLight>> lights;
};

// The lit frame is the time reported; each iteration also draws the unlit one, untimed by the library
// but measured alike. Counters: "lit_ms" and "unlit_ms" per frame, "lights_ms" their difference and
// "per_light_ms" that shared among the point lights.
void DeferredFrame(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  auto scene = std::make_unique<Scene>(int(state.range(0)), int(state.range(1)));
  scene->Frame(true);  // first frames: programs linked, targets sized
  scene->Frame(false);
  double lit = 0, unlit = 0;
  for (auto _ : state) {
    const double litSeconds = scene->Frame(true);
    unlit += scene->Frame(false);
    lit += litSeconds;
    state.SetIterationTime(litSeconds);
  }
  const double frames = double(state.iterations());
  const double lights = double(scene->lights.size());
  const double models = double(scene->boxes.size()) + 1;
  scene.reset();
  if (frames > 0) {
    state.counters["lit_ms"] = 1000.0 * lit / frames;
    state.counters["unlit_ms"] = 1000.0 * unlit / frames;
    state.counters["lights_ms"] = 1000.0 * (lit - unlit) / frames;
    state.counters["per_light_ms"] = 1000.0 * (lit - unlit) / frames / lights;
  }
  state.counters["models"] = models;
  state.counters["point_lights"] = lights;
  watch.Check(state);
}
BENCHMARK(DeferredFrame)
    ->ArgNames({"w", "h"})
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

// ---- the game's levels ----------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

// The rasteriser threads the driver runs: its own count unless the environment sets one.
double RasterThreads() {
  const char* set = getenv("LP_NUM_THREADS");
  return set ? std::atof(set) : double(std::min(std::thread::hardware_concurrency(), 16u));
}

// Where the device's time goes while the pass observer is installed: the wait after each pass is
// charged to it, the time from a frame's start to the canvas draw to "game", the rest to "present".
struct PassClock {
  static PassClock*& Current() {
    static PassClock* current = nullptr;
    return current;
  }
  static void Observe(const char* pass, int layer) {
    PassClock* clock = Current();
    glFinish();
    const Clock::time_point now = Clock::now();
    const double seconds = Seconds(clock->last, now);
    clock->seconds[std::string(pass) == "begin" ? "game" : pass] += seconds;
    if (layer >= 0) clock->layerSeconds[layer] += seconds;
    clock->last = now;
  }
  void FrameStart() { last = Clock::now(); }
  void FrameEnd() {
    const Clock::time_point now = Clock::now();
    seconds["present"] += Seconds(last, now);
  }
  std::map<std::string, double> seconds;
  std::map<int, double> layerSeconds;
  Clock::time_point last;
};

const char* const kLevels[] = {"Splash", "Playground", "Sandbox"};

// The game started as the executable starts it (through SDL's offscreen driver when there is no
// display), in a 1280 x 720 window, unpaced, moved to `level` and given time to settle.
void StartLevel(Vantor::Program& program, const char* level) {
  if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  program.Init();
  program.GetWindow()->SetFullscreen(false);
  program.GetWindow()->Resize(1280, 720);
  program.GetFrameRateController().SetTargetFramerate(0);
  program.RunPass();  // the first level loads at the end of the first frame step
  program.GetEngine().ChangeLevel(level);
  for (int i = 0; i < 60; ++i) program.RunPass();
  glFinish();
}

Base::Vec2 FrameSize(Vantor::Program& program) {
  Graphics::Canvas* canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(program.GetWindow()->GetCanvasId());
  return canvas ? canvas->GetFrameSize() : Base::Vec2();
}

// One level at a time, settled before frames are timed. Arg 0 picks the level, arg 1 waits for the
// device after each pass. Counters: "frame_ms" (the mean), "worst_ms", "fps" from the mean, and with
// arg 1 each pass's share of the frame ("share_<pass>", over all layers) and each layer's
// ("share_layer<n>", its passes together).
void LevelFrame(benchmark::State& state) {
  const char* level = kLevels[state.range(0)];
  const bool perPass = state.range(1) != 0;
  OrvBench::TraceWatch watch;
  Vantor::Program program;
  StartLevel(program, level);

  PassClock clock;
  PassClock::Current() = &clock;
  const Graphics::RenderCore::PassObserver before =
      perPass ? Graphics::RenderCore::SetPassObserver(&PassClock::Observe) : nullptr;
  double total = 0, worst = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    clock.FrameStart();
    program.RunPass();
    glFinish();
    clock.FrameEnd();
    const double seconds = Seconds(start, Clock::now());
    total += seconds;
    worst = std::max(worst, seconds);
    state.SetIterationTime(seconds);
  }
  if (perPass) Graphics::RenderCore::SetPassObserver(before);
  PassClock::Current() = nullptr;

  const Base::Vec2 size = FrameSize(program);
  program.Shutdown();
  const double frames = double(state.iterations());
  if (frames > 0) {
    state.counters["frame_ms"] = 1000.0 * total / frames;
    state.counters["worst_ms"] = 1000.0 * worst;
    state.counters["fps"] = frames / total;
    if (perPass)
      for (const auto& [pass, seconds] : clock.seconds) {
        std::string name = "share_" + pass;
        std::replace(name.begin(), name.end(), ' ', '_');
        std::replace(name.begin(), name.end(), '-', '_');
        state.counters[name] = seconds / total;
      }
    if (perPass)
      for (const auto& [layer, seconds] : clock.layerSeconds)
        state.counters["share_layer" + std::to_string(layer)] = seconds / total;
  }
  state.counters["width"] = size.x;
  state.counters["height"] = size.y;
  state.counters["raster_threads"] = RasterThreads();
  state.SetLabel(level);
  watch.Check(state);
}
BENCHMARK(LevelFrame)
    ->ArgNames({"level", "per_pass"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(150);

// Sandbox played for minutes on end (ORV_LONG_RUN_MINUTES in the environment adds this run): the
// turning sails and the fountain pass through every angle the level shows. Counters: the frames, the
// worst frame and how many frames took over 500 ms; any such frame fails the run.
void SandboxLongRun(benchmark::State& state, double minutes) {
  OrvBench::TraceWatch watch;
  Vantor::Program program;
  StartLevel(program, "Sandbox");
  double worst = 0, total = 0;
  int frames = 0, stalls = 0;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(minutes * 60.0));
    for (Clock::time_point start = begin; start < end; ++frames) {
      program.RunPass();
      glFinish();
      const Clock::time_point now = Clock::now();
      const double seconds = Seconds(start, now);
      worst = std::max(worst, seconds);
      total += seconds;
      if (seconds > 0.5) {
        ++stalls;
        std::fprintf(stderr, "frame %d, %.1f s into the run: %.0f ms\n", frames, Seconds(begin, start), 1000 * seconds);
      }
      start = now;
    }
  }
  const Base::Vec2 size = FrameSize(program);
  program.Shutdown();
  state.counters["frames"] = frames;
  state.counters["frame_ms"] = frames ? 1000.0 * total / frames : 0;
  state.counters["worst_ms"] = 1000.0 * worst;
  state.counters["over_500ms"] = stalls;
  state.counters["width"] = size.x;
  state.counters["height"] = size.y;
  state.counters["raster_threads"] = RasterThreads();
  std::fprintf(stderr, "%d frames, %.1f ms each, the worst %.0f ms, %d over 500 ms\n", frames,
               frames ? 1000.0 * total / frames : 0.0, 1000.0 * worst, stalls);
  if (stalls) state.SkipWithError("a frame took over 500 ms");
  watch.Check(state);
}
[[maybe_unused]] const bool kLongRunRegistered = [] {
  const char* minutes = getenv("ORV_LONG_RUN_MINUTES");
  if (minutes && std::atof(minutes) > 0)
    benchmark::RegisterBenchmark("SandboxLongRun", SandboxLongRun, std::atof(minutes))
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
