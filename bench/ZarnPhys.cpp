// Time per 60 Hz step of the physics library against a reference rigid-body library running the same
// scenes: 1,000 boxes in 200 stacks of five and a ten-level box pyramid, each on a static ground.
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include "Base/TraceLog.h"
#include "ZarnPhys/PhysicsSpace.h"

namespace {

constexpr float kStep = 1.0f / 60.0f;
constexpr float kHalf = 0.5f;  // every box is 1 x 1 x 1 with density 1, so mass 1
constexpr int kWarmSteps = 60;
constexpr int kTimedSteps = 240;

struct BoxPlacement {
  float x, y, z;
};

// 20 x 10 stacks of five boxes, a box's width apart. Columns of ten, as tall as the pyramid, lean and fall with
// one contact point per pair, and their fallen boxes make more pairs than the library's pair pool
// holds, after which it skips pairs and boxes drop through the ground: no step the reference would
// also take. Stacks of five keep every pair within the pool for the whole timed window.
std::vector<BoxPlacement> Stacks() {
  std::vector<BoxPlacement> boxes;
  for (int i = 0; i < 20; ++i)
    for (int k = 0; k < 10; ++k)
      for (int level = 0; level < 5; ++level)
        boxes.push_back({float(i) * 2.0f, kHalf + float(level), float(k) * 2.0f});
  return boxes;
}

// Ten levels, side by side: 55 boxes.
std::vector<BoxPlacement> Pyramid() {
  std::vector<BoxPlacement> boxes;
  for (int level = 0; level < 10; ++level)
    for (int i = 0; i < 10 - level; ++i) boxes.push_back({float(i) + 0.5f * float(level), kHalf + float(level), 0.0f});
  return boxes;
}

class ZarnScene {
 public:
  explicit ZarnScene(const std::vector<BoxPlacement>& boxes) {
    space_.Initialize(kStep);
    ZarnPhys::ColliderDescription ground;
    ground.kind = ZarnPhys::ColliderKind_Ground;
    ground.shape[0] = ground.shape[2] = 100.0f;
    ground.shape[1] = 0.5f;
    ground.boundingHalfExtents = {100.0f, 0.5f, 100.0f};
    ZarnPhys::Entity* entity = nullptr;
    ZarnPhys::EntityTransform at;
    at.position = {0.0f, -0.5f, 0.0f};
    space_.CreateCollider(&entity, ground, at);

    ZarnPhys::ColliderDescription box;
    box.kind = ZarnPhys::ColliderKind_Cube;
    box.shape[0] = box.shape[1] = box.shape[2] = kHalf;
    box.boundingHalfExtents = {kHalf, kHalf, kHalf};
    ZarnPhys::RigidBodyDescription body;
    body.density = 1.0f;
    for (const BoxPlacement& p : boxes) {
      entity = nullptr;
      at.position = {p.x, p.y, p.z};
      space_.CreateCollider(&entity, box, at);
      space_.AddRigidBody(&entity, body);
    }
  }
  void Step() {
    space_.SetStepTime(kStep);
    space_.Step();
  }
  // Whether the last step made every pair its boxes asked for.
  bool WithinDesign() {
    return space_.GetTree().GetTestedPairCount() < ZarnPhys::ObjectPool<ZarnPhys::CollisionPair>::kCapacity;
  }

 private:
  ZarnPhys::PhysicsSpace space_;
};

class BulletScene {
 public:
  explicit BulletScene(const std::vector<BoxPlacement>& boxes)
      : dispatcher_(&configuration_), world_(&dispatcher_, &broadphase_, &solver_, &configuration_),
        groundShape_(btVector3(100.0f, 0.5f, 100.0f)), boxShape_(btVector3(kHalf, kHalf, kHalf)) {
    world_.setGravity(btVector3(0.0f, -6.0f, 0.0f));
    Add(&groundShape_, 0.0f, btVector3(0.0f, -0.5f, 0.0f));
    for (const BoxPlacement& p : boxes) Add(&boxShape_, 1.0f, btVector3(p.x, p.y, p.z));
  }
  ~BulletScene() {
    for (auto& body : bodies_) world_.removeRigidBody(body.get());
  }
  void Step() { world_.stepSimulation(kStep, 0); }
  bool WithinDesign() { return true; }

 private:
  void Add(btCollisionShape* shape, float mass, const btVector3& at) {
    btVector3 inertia(0.0f, 0.0f, 0.0f);
    if (mass > 0.0f) shape->calculateLocalInertia(mass, inertia);
    btTransform transform;
    transform.setIdentity();
    transform.setOrigin(at);
    motions_.push_back(std::make_unique<btDefaultMotionState>(transform));
    bodies_.push_back(std::make_unique<btRigidBody>(
        btRigidBody::btRigidBodyConstructionInfo(mass, motions_.back().get(), shape, inertia)));
    world_.addRigidBody(bodies_.back().get());
  }

  btDefaultCollisionConfiguration configuration_;
  btCollisionDispatcher dispatcher_;
  btDbvtBroadphase broadphase_;
  btSequentialImpulseConstraintSolver solver_;
  btDiscreteDynamicsWorld world_;
  btBoxShape groundShape_;
  btBoxShape boxShape_;
  std::vector<std::unique_ptr<btDefaultMotionState>> motions_;
  std::vector<std::unique_ptr<btRigidBody>> bodies_;
};

// Each iteration builds the scene and lets it settle for a second (untimed), then times 240 steps
// of it, so both libraries step the same window of the scene's life. The "step" counter is the time
// per step; medians are taken over the repetitions.
template <typename Scene>
void StepScene(benchmark::State& state, std::vector<BoxPlacement> (*layout)()) {
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  const Base::TraceLevel previousLevel = log.GetLevel();
  log.SetLevel(Base::TraceLevel_Warning);
  const std::vector<BoxPlacement> boxes = layout();
  std::unique_ptr<Scene> scene;
  bool withinDesign = true;
  for (auto _ : state) {
    state.PauseTiming();
    scene.reset();
    scene = std::make_unique<Scene>(boxes);
    for (int i = 0; i < kWarmSteps; ++i) scene->Step();
    state.ResumeTiming();
    for (int i = 0; i < kTimedSteps; ++i) {
      scene->Step();
      withinDesign = withinDesign && scene->WithinDesign();
    }
  }
  scene.reset();
  state.counters["step"] = benchmark::Counter(double(kTimedSteps), benchmark::Counter::kIsIterationInvariantRate |
                                                                       benchmark::Counter::kInvert);
  if (!withinDesign) state.SkipWithError("the scene made more pairs than the pair pool holds");
  log.SetLevel(previousLevel);
}

void ZarnPhysStacks(benchmark::State& state) { StepScene<ZarnScene>(state, Stacks); }
void BulletStacks(benchmark::State& state) { StepScene<BulletScene>(state, Stacks); }
void ZarnPhysPyramid(benchmark::State& state) { StepScene<ZarnScene>(state, Pyramid); }
void BulletPyramid(benchmark::State& state) { StepScene<BulletScene>(state, Pyramid); }

BENCHMARK(ZarnPhysStacks)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(BulletStacks)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(ZarnPhysPyramid)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(BulletPyramid)->Unit(benchmark::kMillisecond)->Repetitions(7)->DisplayAggregatesOnly();

}  // namespace
