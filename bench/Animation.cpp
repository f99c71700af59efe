// Animation update cost: 1,000 skinned models of 50 bones advanced by their controllers on the space's
// logic update, against the same sampling, posing and skinning done straight over plain arrays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Graphics/Components/AnimationController.h"
#include "Graphics/Device.h"
#include "Graphics/Mesh.h"
#include "Graphics/RenderableObject.h"
#include "Base/ResourceCollection.h"
#include "tools/ContentWriters/MeshWriter.h"

namespace {

using namespace ContentWriters;

// The drawing half of a model at the model's type id, for the controllers to find their mesh.
class BenchModel : public Core::GameComponent, public Graphics::BaseModel {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_Model;
};

}  // namespace

ORV_REFLECT_CLASS(BenchModel) { Core::InstallComponentOps(type.Record()); }

namespace {

constexpr uint32_t kModels = 1000;
constexpr uint32_t kBones = 50;
const std::string kMeshName = "OrvBench_Animated.cong";
const std::string kMeshPath = "content/meshes/" + kMeshName;
const std::string kAnimationPath = "content/animations/OrvBench_Animated.conga";

// Clips 1/24 s a key, as the controller steps them.
AnimationClip Clip(const char* name, uint32_t frames, float amplitude) {
  AnimationClip clip = MakeBendClip(name, kBones, frames, amplitude);
  for (uint32_t i = 0; i < clip.keys.size(); ++i) clip.keys[i].time = float(i % frames) / 24.0f;
  return clip;
}

// The mesh files and a space of animated objects, made once per run; the files go when it ends.
struct Scene {
  Scene() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    static Core::ComponentCreatorType<BenchModel> creator(Core::ComponentType_Model);
    Core::ComponentRegistry::Register(creator);
    WriteFileBytes(kMeshPath, WriteMeshBytes(MakeSkinnedBar(kBones, kBones)));
    WriteFileBytes(kAnimationPath, WriteAnimationBytes({Clip("Walk", 40, 0.4f), Clip("Run", 30, 0.6f)}));
    space = std::make_unique<Core::GameSpace>("Bench");
    for (uint32_t i = 0; i < kModels; ++i) {
      Core::GameObject* object = space->CreateObject();
      object->AttachComponent(space->CreateComponent(Core::ComponentType_Transform));
      auto* model = static_cast<BenchModel*>(space->CreateComponent(Core::ComponentType_Model));
      model->SetMeshByFilename(kMeshName);
      object->AttachComponent(model);
      auto* controller = static_cast<Graphics::AnimationController*>(
          space->CreateComponent(Core::ComponentType_AnimationController));
      object->AttachComponent(controller);
      object->Initialize();
      controllers.push_back(controller);
    }
    space->GetHooks().Call("LogicUpdate", 0.0f);
    // Staggered starts, so that the models do not all change frame on the same update.
    for (uint32_t i = 0; i < kModels; ++i) {
      controllers[i]->Play(i % 2 ? "Run" : "Walk", true, 0.0f);
      controllers[i]->SetCurrentFrame(i);
    }
    data = &Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(kMeshName)->GetAnimationData();
  }
  ~Scene() {
    std::remove(kMeshPath.c_str());
    std::remove(kAnimationPath.c_str());
  }
  std::unique_ptr<Core::GameSpace> space;
  std::vector<Graphics::AnimationController*> controllers;
  Graphics::AnimationData* data = nullptr;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

// One frame of every model through the controllers, at `dt` a frame.
void ControllerFrames(benchmark::State& state, float dt) {
  Scene& scene = TheScene();
  for (auto _ : state) scene.space->GetHooks().Call("LogicUpdate", dt);
  benchmark::DoNotOptimize(scene.controllers[0]->GetSkinningMatrices());
}

// The baseline: the same time steps and frame choice, and the pose and skinning of each changed frame
// (transposed) by the plain matrix products, over plain arrays.
struct PlainModel {
  const Graphics::KeyFrame* keys;
  uint32_t frameCount;
  uint32_t frame;
  float time;
  std::vector<Base::Mat4> local, global, skin;
};

void PlainFrames(benchmark::State& state, float dt) {
  Scene& scene = TheScene();
  Graphics::AnimationData& data = *scene.data;
  const Base::Mat4 mirror = Base::Mat4::BuildScale(1, 1, -1);
  std::vector<PlainModel> models(kModels);
  for (uint32_t i = 0; i < kModels; ++i) {
    const auto* range = data.GetAnimationByName(i % 2 ? "Run" : "Walk");
    models[i] = {data.GetAnimationByIndex(range->firstRecord), range->frameCount, i % range->frameCount,
                 float(i % range->frameCount) / 24.0f, std::vector<Base::Mat4>(kBones),
                 std::vector<Base::Mat4>(kBones), std::vector<Base::Mat4>(kBones)};
  }
  for (auto _ : state) {
    for (PlainModel& m : models) {
      m.time += dt;
      if (!(m.time > m.keys[m.frame].time)) continue;
      const float last = m.keys[m.frameCount - 1].time;
      if (m.time > last) m.time = std::fmod(m.time, last);
      const uint32_t shown = m.frame;
      m.frame = uint32_t(std::fmod(std::floor(double(m.time) * 24.0), double(m.frameCount)));
      if (m.frame == shown) continue;
      for (uint32_t b = 0; b < kBones; ++b) {
        const Graphics::KeyFrame& k = m.keys[b * m.frameCount + m.frame];
        m.local[b] = Base::Mat4::BuildTranslation(k.position) * Base::Mat4(k.rotation.ToMat3Transposed());
        m.global[b] = b ? m.global[data.m_boneParents[b]] * m.local[b] : m.local[b];
        m.skin[b] = (mirror * m.global[b] * data.GetBoneMatrices()[b]).Transposed();
      }
    }
    benchmark::DoNotOptimize(models[0].skin.data());
  }
}

// 60 updates a second: about two in five change a model's frame.
void BM_ControllersAt60Hz(benchmark::State& state) { ControllerFrames(state, 1.0f / 60.0f); }
void BM_PlainPosesAt60Hz(benchmark::State& state) { PlainFrames(state, 1.0f / 60.0f); }
// One key a frame: every model is posed on every update, the most an update can cost.
void BM_ControllersEveryFrameRebuilt(benchmark::State& state) { ControllerFrames(state, 1.0f / 24.0f); }
void BM_PlainPosesEveryFrameRebuilt(benchmark::State& state) { PlainFrames(state, 1.0f / 24.0f); }

}  // namespace

BENCHMARK(BM_ControllersAt60Hz)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PlainPosesAt60Hz)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_ControllersEveryFrameRebuilt)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PlainPosesEveryFrameRebuilt)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
