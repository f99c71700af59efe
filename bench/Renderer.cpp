// The deferred renderer's frame on the software rasteriser: 200 models and 20 point lights drawn into
// a 1280 x 720 frame (and a 1920 x 1080 one), in milliseconds per frame, beside the same scene with its
// lights off, drawn in turn with it: the difference is what the light passes cost, also given per
// light. Every frame waits for the rasteriser to finish, so its whole cost is timed.
#include "Base/TraceLog.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Device.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/RenderCore.h"
#include "Graphics/RenderableObject.h"
#include "bench/TraceWatch.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdlib>
#include <memory>
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
    setenv("LP_NUM_THREADS", "0", 0);  // steadier timings: rasterise on the calling thread
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
    ->ReportAggregatesOnly(true);

}  // namespace
