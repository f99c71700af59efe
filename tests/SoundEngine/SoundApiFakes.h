// Recording stand-ins for what the queued messages reach beyond the game-sync managers (events and
// actions, nodes and buses, sequences, bank records, stream-cache pins, the voice pipeline's
// listeners and outputs), and a fixture that runs the engine synchronously with all of them.
#pragma once

#include <string>
#include <vector>

#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/DynamicSequence/SequenceReceiver.h"
#include "SoundEngine/Hierarchy/NodeReceiver.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundEngine/GameSyncFakes.h"

namespace SoundTest {

// One line per call, "Name a b c", so tests compare whole sequences.
struct CallLog {
  std::vector<std::string> lines;
  template <typename... Args>
  void Add(const char* name, Args... args) {
    std::string line = name;
    ((line += " " + std::to_string(args)), ...);
    lines.push_back(line);
  }
};

class FakeOutputs : public SN::ISnOutputServices {
 public:
  CallLog log;
  SN::SnListenerPosition lastListener{};
  std::vector<float> lastOffsets, lastAngles;
  std::u16string lastCapture;
  std::string lastMarker;
  bool hasDevice = true;

  void SetListenerPosition(uint32_t listener, const SN::SnListenerPosition& p) override {
    lastListener = p;
    log.Add("ListenerPosition", listener);
  }
  void SetListenerSpatialization(uint32_t listener, bool spatialized, uint32_t config, const float* offsets) override {
    lastOffsets.assign(offsets ? offsets : nullptr, offsets ? offsets + (config & 0xFF) : nullptr);
    log.Add("Spatialization", listener, int(spatialized), config, int(offsets != nullptr));
  }
  void SetListenerPipeline(uint32_t listener, bool audio, bool motion) override {
    log.Add("Pipeline", listener, int(audio), int(motion));
  }
  void SetListenerScalingFactor(uint32_t listener, float factor) override { log.Add("ListenerScaling", listener, factor); }
  void SetSecondaryOutputVolume(uint32_t type, uint32_t device, float volume) override {
    log.Add("OutputVolume", type, device, volume);
  }
  void AddSecondaryOutput(uint32_t type, uint32_t device, uint32_t mask) override { log.Add("AddOutput", type, device, mask); }
  void RemoveSecondaryOutput(uint32_t type, uint32_t device) override { log.Add("RemoveOutput", type, device); }
  void SetPanningRule(uint32_t type, uint32_t device, uint32_t rule) override { log.Add("PanningRule", type, device, rule); }
  void SetSpeakerAngles(uint32_t type, uint32_t device, const float* angles, uint32_t count, float height) override {
    lastAngles.assign(angles, angles + count);
    log.Add("SpeakerAngles", type, device, count, height);
  }
  bool GetPanningRule(uint32_t, uint32_t, uint32_t& rule) override {
    rule = 1;
    return hasDevice;
  }
  bool GetSpeakerAngles(uint32_t, uint32_t, float* angles, uint32_t& count, float& height) override {
    if (angles)
      for (uint32_t i = 0; i < count && i < 3; ++i) angles[i] = 30.0f * float(i + 1);
    count = 3;
    height = 45.0f;
    return hasDevice;
  }
  uint32_t GetSpeakerConfiguration(uint32_t, uint32_t) override { return hasDevice ? 0x3F : 0; }
  void AddPlayerMotionDevice(uint32_t player, void* device, uint32_t mask) override {
    log.Add("AddMotion", player, int(device != nullptr), mask);
  }
  void RemovePlayerMotionDevice(uint32_t player) override { log.Add("RemoveMotion", player); }
  void SetPlayerListener(uint8_t player, uint8_t listener) override { log.Add("PlayerListener", player, listener); }
  void SetPlayerVolume(uint32_t player, float volume) override { log.Add("PlayerVolume", player, volume); }
  void StartOutputCapture(const char16_t* name) override {
    lastCapture = name;
    log.Add("StartCapture");
  }
  void StopOutputCapture() override { log.Add("StopCapture"); }
  void AddOutputCaptureMarker(const char* text) override {
    lastMarker = text;
    log.Add("Marker");
  }
  void SetBackgroundMusicMuted(bool muted) override { log.Add("BackgroundMusic", int(muted)); }
  void StopPlayingID(uint32_t playingId, int32_t ms, uint32_t curve) override { log.Add("StopPlayingID", playingId, ms, curve); }
  void StopVoicesUsingBankData(SN::CSnLoadedBank*) override { log.Add("StopBankVoices"); }
};

// A one-off action that records the object it was executed for.
class RecordingStopAction : public SN::CSnEventAction {
 public:
  RecordingStopAction(uint32_t id, uint16_t type, CallLog* log) : CSnEventAction(id, type), log_(log) {}
  SN::SNRESULT Execute(SN::CSnPendingActionItem& record) override {
    log_->Add("StopAction", ActionType(), record.gameObject ? record.gameObject->ID() : 0u);
    return SN::SN_Success;
  }
  uint32_t DelaySamples() override { return 0; }

 private:
  CallLog* log_;
};

class FakeEvents : public SN::ISnEventReceiver {
 public:
  CallLog log;
  void ScheduleEventActions(SN::CSnIndexedObject* event, SN::CSnRegisteredObj* object,
                            const SN::SnMsgPostEvent& m) override {
    log.Add("Schedule", event->ID(), object ? object->ID() : 0u, m.playingId, m.lastArgument);
    // As a scheduled action would: the playing id lives on until the test lets it go.
    if (holdPlayingIds) SN::g_pPlayingIDCallbackMgr->AddPendingActionRef(m.playingId);
  }
  bool holdPlayingIds = false;
  void ExecuteActionOnEvent(SN::CSnIndexedObject* event, SN::CSnRegisteredObj* object, SN::SnActionOnEvent action,
                            const SN::TransParamsBase& t, uint32_t playingId) override {
    log.Add("ActionOnEvent", event->ID(), object ? object->ID() : 0u, uint32_t(action), t.durationMs,
            uint32_t(t.shape), playingId);
  }
  void SeekOnEvent(SN::CSnIndexedObject* event, SN::CSnRegisteredObj* object, const SN::SnSeekPosition& p,
                   uint32_t playingId) override {
    log.Add("Seek", event->ID(), object ? object->ID() : 0u, p.milliseconds, p.fraction, int(p.isFraction),
            int(p.seekToNearestMarker), playingId);
  }
  SN::CSnEventAction* CreateAction(uint16_t type, uint32_t id) override {
    return SN::PoolNew<RecordingStopAction>(SN::g_DefaultPoolId, id, type, &log);
  }
};

class FakeNodes : public SN::ISnNodeReceiver {
 public:
  CallLog log;
  void SetNodeEffect(SN::CSnIndexedObject* node, uint32_t slot, uint32_t effect) override {
    log.Add("Effect", node->ID(), uint32_t(node->List()), slot, effect);
  }
  void SetBusMixer(SN::CSnIndexedObject* bus, uint32_t mixer) override { log.Add("Mixer", bus->ID(), mixer); }
  void PlaySourcePlugin(uint32_t classId, SN::CSnRegisteredObj* object, uint32_t playingId) override {
    log.Add("PlayPlugin", classId, object->ID(), playingId);
  }
  void StopSourcePlugin(uint32_t classId, uint32_t playingId) override { log.Add("StopPlugin", classId, playingId); }
};

class FakeLaterParts : public SN::ISnSequenceReceiver, public SN::ISnBankRecordReceiver, public SN::ISnStreamCachePinMgr {
 public:
  CallLog log;
  void BindSequence(SN::CSnIndexedObject* sequence, SN::CSnRegisteredObj* object, uint32_t playingId) override {
    log.Add("Bind", sequence->ID(), object->ID(), playingId);
  }
  void RunSequenceCommand(SN::CSnIndexedObject* sequence, SN::SnSequenceCommand command, int32_t ms,
                          uint32_t curve) override {
    log.Add("Sequence", sequence->ID(), uint32_t(command), ms, curve);
  }
  void FinishBankRecord(SN::CSnLoadedBank*) override { log.Add("FinishBank"); }
  void PinEvent(SN::CSnIndexedObject* event, uint32_t, uint8_t active, uint8_t inactive) override {
    log.Add("Pin", event->ID(), active, inactive);
  }
  void UnpinEvent(SN::CSnIndexedObject* event, uint32_t) override { log.Add("Unpin", event->ID()); }
  SN::SNRESULT GetBufferStatus(SN::CSnIndexedObject* event, float& percent, bool& full) override {
    log.Add("Status", event->ID());
    percent = 50.0f;
    full = false;
    return SN::SN_Success;
  }
};

class LimitRecordingLower : public FakeLowerEngine {
 public:
  std::vector<uint16_t> limits;
  void SetMaxNumVoicesLimit(uint16_t count) override { limits.push_back(count); }
};

// The engine up synchronously with every receiver recorded and the voice pipeline's pool made.
class ApiFixture : public GameSyncFixture {
 protected:
  void SetUp() override {
    GameSyncFixture::SetUp();
    SN::LowerEngine::Install(&limitLower_);
    SN::OutputServices() = &outputs_;
    SN::EventReceiver() = &events_;
    SN::NodeReceiver() = &nodes_;
    SN::SequenceReceiver() = &later_;
    SN::BankRecordReceiver() = &later_;
    SN::StreamCachePinMgr() = &later_;
    SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 65536, 16, SN::SnMemPool_AllocHook, 0);
  }
  void TearDown() override {
    GameSyncFixture::TearDown();
    SN::OutputServices() = nullptr;
    SN::EventReceiver() = nullptr;
    SN::NodeReceiver() = nullptr;
    SN::SequenceReceiver() = nullptr;
    SN::BankRecordReceiver() = nullptr;
    SN::StreamCachePinMgr() = nullptr;
    if (SN::g_LEngineDefaultPoolId != SN::kInvalidPoolId) SN::MemoryMgr::DestroyPool(SN::g_LEngineDefaultPoolId);
    SN::g_LEngineDefaultPoolId = SN::kInvalidPoolId;
  }
  // An indexed object (event, node, bus, sequence) the test keeps one extra reference on.
  SN::CSnIndexedObject* AddIndexed(uint32_t id, SN::SnIndexList list) {
    // The event list holds events only: the bank manager walks it as such.
    SN::CSnIndexedObject* object = list == SN::SnIndex_Events
                                       ? SN::PoolNew<SN::CSnEvent>(SN::g_DefaultPoolId, id)
                                       : SN::PoolNew<SN::CSnIndexedObject>(SN::g_DefaultPoolId, id, list);
    SN::g_pObjectIndex->List(list).Insert(object);
    object->AddRef();
    return object;
  }
  static uint32_t PoolUsed(SN::SnMemPoolId pool) {
    SN::MemoryMgr::PoolMemInfo info;
    SN::MemoryMgr::GetPoolMemoryUsed(pool, info);
    return info.usedBytes;
  }

  LimitRecordingLower limitLower_;
  FakeOutputs outputs_;
  FakeEvents events_;
  FakeNodes nodes_;
  FakeLaterParts later_;
};

}  // namespace SoundTest
