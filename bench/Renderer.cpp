// The deferred renderer's frame on the software rasteriser: 200 models and 20 point lights drawn into
// a 1280 x 720 frame (and a 1920 x 1080 one), against a bare clear and present of the same frame. Both
// wait for the rasteriser to finish, so the whole cost of the frame is timed.
#include "Base/TraceLog.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Device.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/RenderCore.h"
#include "Graphics/RenderableObject.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

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

  void Frame() {
    master.Clear(canvasId, Vec4(0.1f, 0.1f, 0.1f, 1));
    canvas->Begin(&camera);
    canvas->Submit(wall.get(), 0);
    for (auto& box : boxes) canvas->Submit(box.get(), 0);
    for (auto& light : lights) canvas->Submit(light.get(), 0);
    canvas->End();
    master.Draw(canvasId);
    master.Present(canvasId);
    glFinish();
  }
  void ClearAndPresent() {
    master.Clear(canvasId, Vec4(0.1f, 0.1f, 0.1f, 1));
    master.Present(canvasId);
    glFinish();
  }

  Graphics::GraphicsMaster& master = Graphics::GraphicsMaster::GetInstance();
  int canvasId = 0;
  Graphics::Canvas* canvas = nullptr;
  Graphics::BaseCamera camera;
  std::vector<std::unique_ptr<Box>> boxes;
  std::unique_ptr<Box> wall;
  std::vector<std::unique_ptr<Graphics::BasePLight>> lights;
};

// Arg 0: the whole deferred frame; arg 1: only the clear and present it stands on.
void DeferredFrame(benchmark::State& state) {
  Scene scene(int(state.range(1)), int(state.range(2)));
  scene.Frame();  // first frame: programs linked, targets sized
  for (auto _ : state) {
    if (state.range(0) == 0)
      scene.Frame();
    else
      scene.ClearAndPresent();
  }
  state.counters["models"] = state.range(0) == 0 ? 200 : 0;
  state.counters["point_lights"] = state.range(0) == 0 ? 20 : 0;
}
BENCHMARK(DeferredFrame)
    ->ArgNames({"clear_only", "w", "h"})
    ->Args({0, 1280, 720})
    ->Args({1, 1280, 720})
    ->Args({0, 1920, 1080})
    ->Args({1, 1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
