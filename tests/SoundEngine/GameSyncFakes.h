// Recording stand-ins for the parts that follow game syncs but do not exist yet (listeners, nodes,
// layers, switch containers, music contexts), and a fixture that runs the engine synchronously.
#pragma once

#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"
#include "tests/SoundEngine/SoundTestSupport.h"

namespace SoundTest {

// Listener n sits at x = 10 n; the ray's distance is the plain distance to it.
class FakeListeners : public SN::ISnListenerServices {
 public:
  float ComputeEmitterRay(uint32_t listener, const SN::SnSoundPosition& emitter, float scaling,
                          SN::SnEmitterListenerRay& ray) override {
    const float dx = emitter.position[0] - 10.0f * float(listener);
    const float dy = emitter.position[1], dz = emitter.position[2];
    ray.distance = std::sqrt(dx * dx + dy * dy + dz * dz) / scaling;
    ray.azimuth = 0.5f;
    ray.elevation = 0.25f;
    ray.emitterAngle = float(listener);
    ++rays;
    return ray.distance;
  }
  void SetGameObjectActiveListeners(SN::CSnRegisteredObj*, uint32_t oldMask, uint32_t newMask) override {
    masks.push_back({oldMask, newMask});
  }
  int rays = 0;
  std::vector<std::pair<uint32_t, uint32_t>> masks;
};

// A node following a game parameter (kind 2).
struct FakeNode : SN::ISnNodeRTPCSubscriber {
  struct Update {
    uint32_t property;
    SN::SnRTPCKey key;
    float value;
    float delta;
  };
  void UpdateRTPC(uint32_t property, const SN::SnRTPCKey& key, float value, float delta, const void*) override {
    updates.push_back({property, key, value, delta});
    if (onUpdate) onUpdate();
  }
  std::vector<Update> updates;
  std::function<void()> onUpdate;
};

struct RecordingTarget : SN::ISnTransitionTarget {
  void TransitionUpdate(uint32_t kind, float value, bool done) override {
    kinds.push_back(kind);
    values.push_back(value);
    if (done) ++finished;
  }
  std::vector<uint32_t> kinds;
  std::vector<float> values;
  int finished = 0;
};

// A node with one state user; its property sets are given per state.
struct FakeStateNode : SN::ISnStateNode {
  const SN::SnStatePropertySet* FindStatePropertySet(uint32_t state) override {
    auto it = sets.find(state);
    return it == sets.end() ? nullptr : &it->second;
  }
  SN::SNRESULT ActivityUp(uint32_t mask) override {
    activity.push_back(mask);
    return SN::SN_Success;
  }
  void NotifyStatePropertiesChanged() override { ++changes; }
  std::map<uint32_t, SN::SnStatePropertySet> sets;
  std::vector<uint32_t> activity;
  int changes = 0;
};

struct FakeStateUser : SN::CSnStateUser {
  explicit FakeStateUser(SN::ISnStateNode* node) : CSnStateUser(node) {}
  void ApplyStateProperty(uint32_t index, float value) override { applied[index] = value; }
  float applied[6] = {};
};

struct FakeSwitchSubscriber : SN::ISnSwitchSubscriber {
  void SwitchChanged(uint32_t switchId, const SN::SnRTPCKey& key, const void*) override {
    switches.push_back(switchId);
    objects.push_back(key.gameObject);
    if (onChange) onChange();
  }
  std::vector<uint32_t> switches;
  std::vector<SN::CSnRegisteredObj*> objects;
  std::function<void()> onChange;
};

struct FakeMusicContext : SN::ISnGameSyncSubscriber {
  void TriggerReceived(uint32_t trigger) override { triggers.push_back(trigger); }
  void StateChanged(uint32_t state, const SN::SnRTPCKey&, const void*) override {
    states.push_back(state);
    if (onState) onState();
  }
  std::vector<uint32_t> triggers, states;
  std::function<void()> onState;
};

// The engine up in synchronous mode with fake listeners; frames are stepped by rendering.
class GameSyncFixture : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SN::LowerEngine::InstallListenerServices(&listeners_);
  }
  void TearDown() override {
    EngineFixture::TearDown();
    SN::LowerEngine::InstallListenerServices(nullptr);
  }
  void Start(uint32_t samplesPerFrame = 1024, uint32_t maxTransitions = 255) {
    settings_.samplesPerFrame = samplesPerFrame;
    settings_.maxTransitions = maxTransitions;
    InitSynchronous();
    // The voice manager sets the frame format as it initialises.
    ASSERT_EQ(SN::LowerEngine::SamplesPerFrame(), samplesPerFrame);
  }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  }
  FakeListeners listeners_;
};

}  // namespace SoundTest
