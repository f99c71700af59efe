// Particle cost per frame: one system of 20,000 live particles aged, moved and tinted by its logic
// update, against the same arithmetic over a plain vector of particles; and its draw list sorted far
// to near, against the floor of any depth sort, the particles' squared distances alone sorted as
// floats.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "Base/TraceLog.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Graphics/Components/ParticleSystem.h"
#include "bench/TraceWatch.h"

namespace {

using Base::Vec3;
using Graphics::Particle;
using Graphics::ParticleSystem;

constexpr int kParticles = 20000;
constexpr float kDt = 1.0f / 60.0f;
// Where the sorting camera stands, outside the emitter's box.
const Vec3 kEye{3.0f, 4.0f, -25.0f};

// A space with one object carrying a Transform and a full particle system, made once per run. The
// particles live far longer than the run, so the pool stays full and the update does its whole work
// every frame; every setting that adds arithmetic to the update is on.
struct Scene {
  Scene() : previousLevel(Base::TraceLog::GetInstance().GetLevel()) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    space = std::make_unique<Core::GameSpace>("Bench");
    Core::GameObject* object = space->CreateObject();
    object->AttachComponent(space->CreateComponent(Core::ComponentType_Transform));
    system = static_cast<ParticleSystem*>(space->CreateComponent(Core::ComponentType_ParticleSystem));
    object->AttachComponent(system);
    // The component's default texture is not in the game's content: a texture that is, as a level names one.
    system->SetTexture("White.png");
    object->Initialize();
    system->SetParticleCount(kParticles);
    system->EmitAllPerFrame();
    system->SetLifeTime(1.0e6f);
    system->SetLifeVariance(1.0e3f);
    system->SetShapeData({Vec3(10, 10, 10), 1.0f});
    system->SetRandomDirection(true);
    system->SetSpeedVariance(0.5f);
    system->SetVelocityOverLifeTime(true);
    system->SetVelocityStart({0, 1, 0});
    system->SetVelocityEnd({0, -1, 0});
    system->SetVelocityInt({0.1f, 0, 0});
    system->SetScaleEnd({0.2f, 0.2f});
    system->SetRotationType(1);
    system->SetRotationSpeed(90.0f);
    system->SetRotationSpeedVariance(30.0f);
    system->SetColorEnd({255, 64, 0, 0});
    system->SetInterpolateAlpha(true);
    // Untimed warm-up: the pool fills on the first update, the rest settle the caches.
    for (int i = 0; i < 10; ++i) system->Update(kDt);
    if (system->m_particlePool.GetObjectsInUse() != uint32_t(kParticles)) std::abort();
    inPoolOrder.assign(system->m_drawList.begin(), system->m_drawList.end());
    for (const Particle* p : inPoolOrder) plain.push_back(*p);
  }
  ~Scene() {
    space.reset();
    Base::TraceLog::GetInstance().SetLevel(previousLevel);
  }
  Base::TraceLevel previousLevel;
  std::unique_ptr<Core::GameSpace> space;
  ParticleSystem* system = nullptr;
  // The draw list as an update leaves it, which is the order the draw sorts from every frame.
  std::vector<Particle*> inPoolOrder;
  // Copies of the live particles in a plain vector, for the baselines.
  std::vector<Particle> plain;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_SystemUpdate(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Scene& scene = TheScene();
  for (auto _ : state) scene.system->Update(kDt);
  benchmark::DoNotOptimize(scene.system->m_drawList.data());
  state.counters["particles"] = double(scene.system->m_drawList.size());
  watch.Check(state);
}

// The system's update arithmetic over the plain vector: age, collect the expired, then move, scale,
// tint, fade and roll each particle and list it for drawing.
void BM_PlainUpdate(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Scene& scene = TheScene();
  std::vector<Particle> particles = scene.plain;
  std::vector<Particle*> drawList;
  const ParticleSystem& s = *scene.system;
  for (auto _ : state) {
    drawList.clear();
    std::vector<Particle*> expired;
    for (Particle& p : particles) {
      p.life -= kDt;
      if (p.life <= 0.0f) expired.push_back(&p);
    }
    benchmark::DoNotOptimize(expired.data());
    for (Particle& p : particles) {
      const float f = p.life / p.lifeTime, g = (p.lifeTime - p.life) / p.lifeTime;
      const Vec3 v = s.m_velocityOverLifeTime ? p.velocityStart * f + p.velocityEnd * g : Vec3(0, 0, 0);
      p.position += (p.direction * p.speed) * kDt + (v + p.velocity) * kDt;
      p.scale = p.scaleStart * f + p.scaleEnd * g;
      p.color.x = p.colorStart.x * f + p.colorEnd.x * g;
      p.color.y = p.colorStart.y * f + p.colorEnd.y * g;
      p.color.z = p.colorStart.z * f + p.colorEnd.z * g;
      p.color.w = s.m_interpolateAlpha ? p.colorStart.w * f + p.colorEnd.w * g : 255.0f;
      if (p.deathFade >= p.life) p.color.w *= p.life / p.deathFade;
      if (s.m_rotationType == 1) p.rotation += p.rotationSpeed * kDt;
      drawList.push_back(&p);
    }
    benchmark::DoNotOptimize(drawList.data());
  }
  state.counters["particles"] = double(drawList.size());
  watch.Check(state);
}

// The draw's far-first sort of the system's list, distances worked out once per sort. Each frame starts from the
// order an update leaves; restoring it is not timed.
void BM_SystemDepthSort(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Scene& scene = TheScene();
  auto& list = scene.system->m_drawList;
  for (auto _ : state) {
    state.PauseTiming();
    list.assign(scene.inPoolOrder.begin(), scene.inPoolOrder.end());
    state.ResumeTiming();
    ParticleSystem::SortFarFirst(list, kEye);
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["particles"] = double(list.size());
  watch.Check(state);
}

// The floor of any depth sort: the squared distances alone, as floats, sorted far first.
void BM_PlainFloatKeySort(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Scene& scene = TheScene();
  std::vector<float> start, keys;
  for (const Particle& p : scene.plain) start.push_back((p.position - kEye).LengthSquared());
  for (auto _ : state) {
    state.PauseTiming();
    keys = start;
    state.ResumeTiming();
    std::sort(keys.begin(), keys.end(), std::greater<float>());
    benchmark::DoNotOptimize(keys.data());
  }
  state.counters["particles"] = double(keys.size());
  watch.Check(state);
}

}  // namespace

BENCHMARK(BM_SystemUpdate)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PlainUpdate)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(BM_SystemDepthSort)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PlainFloatKeySort)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);
