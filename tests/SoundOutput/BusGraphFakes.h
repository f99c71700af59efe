// Stand-ins for what the bus graph meets on its edges: bus nodes with their effect and mixer
// definitions, test plug-ins registered through the real registry (an in-place gain, one counting
// resets, one with the second information flag, a mixer that records its calls and mixes through its
// context, one reading the media it is handed and following them when they move), banks of one tone
// for that media, and voices that are planar buffers of known samples with gains and connection
// matrices.
#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "OutputTestSupport.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Lower/Mixing/BusMeter.h"
#include "SoundEngine/Lower/Mixing/MixBus.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "tests/Support/ReadyVoice.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

namespace BusTest {

using namespace SN;

// What the test plug-ins did, in order.
struct PluginLog {
  std::vector<std::string> calls;
  int made = 0, terms = 0, resets = 0, processed = 0;
  ISnMixerPluginContext* mixerContext = nullptr;
};
inline PluginLog& Plugins() {
  static PluginLog log;
  return log;
}

using SN::PluginNew;
using SN::PluginDelete;

class GainParam final : public ISnPluginParam {
 public:
  explicit GainParam(float gain) : gain(gain) {}
  ISnPluginParam* Clone(ISnPluginMemAlloc* allocator) override { return PluginNew<GainParam>(allocator, gain); }
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, this);
    return SN_Success;
  }
  float gain;
};

// Multiplies the bus in place by its parameter's gain.
class GainEffect final : public ISnEffectPlugin {
 public:
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    ++Plugins().terms;
    PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Reset() override {
    ++Plugins().resets;
    Plugins().calls.push_back("reset");
    return SN_Success;
  }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Effect, 1, secondFlag};
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext* context, ISnPluginParam* params,
                SnAudioFormat& format) override {
    gain = static_cast<GainParam*>(params)->gain;
    this->context = context;
    formatBits = format.bits;
    return SN_Success;
  }
  void ProcessInPlace(SnMixBuffer& buffer) override {
    ++Plugins().processed;
    Plugins().calls.push_back("process");
    const uint32_t samples = ChannelCount(buffer.channelConfig) * buffer.maxFrames;
    for (uint32_t i = 0; i < samples; ++i) buffer.samples[i] *= gain;
  }
  static ISnPlugin* Make(ISnPluginMemAlloc* allocator) {
    ++Plugins().made;
    return PluginNew<GainEffect>(allocator);
  }
  static ISnPlugin* MakeRefused(ISnPluginMemAlloc* allocator) {
    ++Plugins().made;
    GainEffect* effect = PluginNew<GainEffect>(allocator);
    effect->secondFlag = 1;
    return effect;
  }
  static ISnPluginParam* MakeParam(ISnPluginMemAlloc* allocator) { return PluginNew<GainParam>(allocator, 1.0f); }

  float gain = 1.0f;
  uint8_t secondFlag = 0;
  uint32_t formatBits = 0;
  ISnEffectPluginContext* context = nullptr;
};

// A mixer (type 6) that records its calls and mixes each input through its context's matrix mix.
class RecordingMixer final : public ISnMixerPlugin {
 public:
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    Plugins().calls.push_back("mixer term");
    PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Reset() override {
    Plugins().calls.push_back("mixer reset");
    return SN_Success;
  }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Mixer, 0, 0};
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, ISnMixerPluginContext* context, ISnPluginParam*, SnAudioFormat&) override {
    Plugins().mixerContext = context;
    Plugins().calls.push_back("mixer init");
    return SN_Success;
  }
  void InputAdded(void*) override { Plugins().calls.push_back("added"); }
  void InputRemoved(void*) override { Plugins().calls.push_back("removed"); }
  void MixInput(void*, float initialGain, float finalGain, float, float, SnMixBuffer& input,
                SnMixBuffer& mix) override {
    Plugins().calls.push_back("mix");
    std::vector<float> identity(MatrixFloats(input.channelConfig, mix.channelConfig), 0.0f);
    CSnSpeakerPan::IdentityMatrix(input.channelConfig, mix.channelConfig, identity.data());
    Plugins().mixerContext->MixWithMatrix(input, mix, initialGain, finalGain, identity.data(), identity.data());
  }
  void InputsMixed(SnMixBuffer&) override { Plugins().calls.push_back("inputs mixed"); }
  void EffectsProcessed(SnMixBuffer&) override { Plugins().calls.push_back("effects processed"); }
  void FrameEnd(SnMixBuffer&, ISnMetering*) override { Plugins().calls.push_back("frame end"); }
  static ISnPlugin* Make(ISnPluginMemAlloc* allocator) { return PluginNew<RecordingMixer>(allocator); }
};

// Reads the next byte of its media each frame, where it was last told its media lie; follows them
// when they move if allowed.
class MediaReader final : public ISnEffectPlugin {
 public:
  struct Log {
    std::vector<std::vector<int>> reads;  // each plug-in made, what it read
    bool follows = true;
    int moves = 0;
    // Every plug-in read its media's bytes in order from the first, and some read `least` or more.
    bool ReadInOrder(const std::vector<uint8_t>& media, size_t least) const {
      size_t most = 0;
      for (const std::vector<int>& read : reads) {
        for (size_t i = 0; i < read.size(); ++i)
          if (i >= media.size() || read[i] != media[i]) return false;
        most = std::max(most, read.size());
      }
      return most >= least;
    }
  };
  static Log& Heard() {
    static Log log;
    return log;
  }
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    PluginDelete(allocator, this);
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Effect, 1, 0};
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, ISnEffectPluginContext* context, ISnPluginParam*, SnAudioFormat&) override {
    return context->GetMediaByIndex(0, m_data, m_size);
  }
  void ProcessInPlace(SnMixBuffer&) override { Heard().reads[m_index].push_back(m_data[m_next++ % m_size]); }
  bool CanRelocateMedia() override { return Heard().follows; }
  SNRESULT RelocateMedia(const uint8_t* newData, const uint8_t* oldData) override {
    m_data = newData + (m_data - oldData);
    ++Heard().moves;
    return SN_Success;
  }
  static ISnPlugin* Make(ISnPluginMemAlloc* allocator) {
    Heard().reads.emplace_back();
    return PluginNew<MediaReader>(allocator);
  }

 private:
  size_t m_index = Heard().reads.size() - 1;
  const uint8_t* m_data = nullptr;
  uint32_t m_size = 1;
  uint32_t m_next = 0;
};

// Banks of one tone, "Table", loaded in place from images kept until this goes (after the engine's
// Term); `media` the tone's bytes.
struct ToneBanks {
  uint32_t Load(const char* name) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText("tone Table 48000 1 10 100\r\n", name, bank, error)) << error;
    if (!bank.media.empty()) media = bank.media[0].bytes;
    const std::vector<uint8_t>& image = images.emplace_back(Tools::WriteBank(bank));
    uint32_t id = 0;
    EXPECT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success);
    return id;
  }
  static uint32_t MediaId() { return SoundEngine::GetIDFromString("Table"); }

  std::deque<std::vector<uint8_t>> images;
  std::vector<uint8_t> media;
};

// Registry ids of the test plug-ins.
constexpr uint32_t kCompany = 64;
constexpr uint32_t kGainId = 1, kRefusedId = 2, kMixerId = 3, kMediaReaderId = 4;

inline void RegisterTestPlugins() {
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, kCompany, kGainId, &GainEffect::Make,
                                        &GainEffect::MakeParam),
            SN_Success);
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, kCompany, kRefusedId, &GainEffect::MakeRefused,
                                        &GainEffect::MakeParam),
            SN_Success);
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Mixer, kCompany, kMixerId, &RecordingMixer::Make,
                                        &GainEffect::MakeParam),
            SN_Success);
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, kCompany, kMediaReaderId, &MediaReader::Make,
                                        &GainEffect::MakeParam),
            SN_Success);
  MediaReader::Heard() = MediaReader::Log{};
}

class FakeDefinition final : public ISnEffectDefinition {
 public:
  FakeDefinition(uint32_t effectId, uint32_t key, float gain) : id(effectId), key(key), params(gain) {}
  void AddRef() override { ++refs; }
  void Release() override { --refs; }
  uint32_t EffectId() const override { return id; }
  uint32_t PluginKey() const override { return key; }
  ISnPluginParam* Params() override { return &params; }
  void SubscribeParams(ISnPluginParam*, const SnRTPCKey&, CSnModulatorInstanceList*) override { ++subscribed; }
  void UnsubscribeParams(ISnPluginParam*) override { --subscribed; }
  const void* BankData() const override { return nullptr; }
  uint32_t MediaId(uint32_t index) const override { return index == 0 ? media : 0xFFFFFFFFu; }

  uint32_t id, key;
  uint32_t media = 0xFFFFFFFFu;  // the media id of index 0
  GainParam params;
  int refs = 0, subscribed = 0;
};

inline std::vector<std::string>& NodeEvents() {
  static std::vector<std::string> events;
  return events;
}

class FakeBusNode final : public ISnMixBusNode {
 public:
  explicit FakeBusNode(uint32_t id, FakeBusNode* parent = nullptr) : id(id), parent(parent) {}
  void AddRef() override { ++refs; }
  void Release() override { --refs; }
  uint32_t BusId() const override { return id; }
  ISnMixBusNode* ParentBus() const override { return parent; }
  bool IsMainOutputBus() const override { return mainOutput; }
  SnChannelConfig ChannelConfig() const override { return config; }
  bool AcceptMixBus(bool made) override {
    NodeEvents().push_back((made ? "made " : "gone ") + std::to_string(id));
    return !refuse;
  }
  CSnHierarchyNode* TargetNode() override { return nullptr; }
  float EffectiveVolume() override { return volumeDb; }
  bool BypassAllEffects() const override { return bypassAll; }
  SnBusPositioning Positioning() const override { return positioning; }
  ISnEffectDefinition* Effect(uint32_t slot, bool& bypass) override {
    bypass = false;
    if (slot >= 4 || !effects[slot]) return nullptr;
    effects[slot]->AddRef();
    return effects[slot];
  }
  ISnEffectDefinition* Mixer() override {
    if (mixer) mixer->AddRef();
    return mixer;
  }
  uint32_t MediaId(uint32_t slot, uint32_t index) const override {
    return slot == mediaSlot && index == 0 ? mediaId : 0xFFFFFFFFu;
  }
  uint32_t Category() const override { return category; }
  uint32_t Flags() const override { return 0; }
  bool IsMasterBus() const override { return false; }
  bool HasDynamicRangeWindow() const override { return window; }
  SnBusWindowRead ReadWindowThreshold() override { return {threshold, false}; }
  SnBusWindowRead ReadWindowRatio() override { return {ratio, false}; }
  SnBusWindowRead ReadWindowRelease(bool& dbDomain) override {
    dbDomain = windowDbDomain;
    return {release, false};
  }
  void WindowMoved(float topDb) override { windowTop = topDb; }

  uint32_t id;
  FakeBusNode* parent;
  bool mainOutput = true, refuse = false, bypassAll = false;
  SnChannelConfig config = 0;
  float volumeDb = 0.0f;
  SnBusPositioning positioning;
  FakeDefinition* effects[4] = {};
  FakeDefinition* mixer = nullptr;
  uint32_t category = 0, mediaSlot = 0, mediaId = 0xFFFFFFFFu;
  bool window = false, windowDbDomain = true;
  float threshold = 96.0f, ratio = 16.0f, release = 0.0f, windowTop = 0.0f;
  int refs = 0;
};

// Finds the fake nodes of a test by id, for the voices' sends.
class FakeDirectory final : public ISnBusNodeDirectory {
 public:
  ISnMixBusNode* FindBusNode(uint32_t busId) override {
    for (FakeBusNode* node : nodes)
      if (node->id == busId) {
        node->AddRef();
        return node;
      }
    return nullptr;
  }
  // The hierarchy's own motion buses, found among the fakes by id.
  ISnMixBusNode* FindMotionBus(const CSnHierarchyNode* node) override {
    return CSnBusNode::MotionMixNodeFor(node, *this);
  }
  bool HasMotionOutput(const CSnHierarchyNode* node) override { return CSnBusNode::HasMotionOutput(node); }
  std::vector<FakeBusNode*> nodes;
};

// A voice: `channels` planes of known samples a frame, its gain, and one connection per bus with
// identity matrices. It is its own instance and pipeline.
class FakeVoice final : public OrvTest::ReadyVoice {
 public:
  struct Connection {
    ISnMixBusInput* bus;
    uint32_t type;
    std::vector<float> matrix;
  };
  FakeVoice(FakeBusNode* outputBus, uint32_t priority, SnChannelConfig config = StandardConfig(kMaskStereo))
      : outputBus(outputBus), priority(priority), config(config) {}

  void RunFrame(SnVoiceFrameState& frame) override {
    frame.status = SnVoice_DataReady;
    if (silent) return;
    const uint32_t frames = LowerEngine::SamplesPerFrame();
    const uint32_t n = ChannelCount(config);
    storage.assign(size_t(n) * frames, 0.0f);
    for (uint32_t c = 0; c < n; ++c)
      for (uint32_t t = 0; t < frames; ++t)
        storage[size_t(c) * frames + t] =
            t < heard && t >= unwritten ? Sample(c, frameIndex * frames + t) : kPastTheEnd;
    ++frameIndex;
    for (Connection& connection : connections) {
      SnMixBuffer buffer;
      buffer.samples = storage.data();
      buffer.channelConfig = config;
      buffer.maxFrames = uint16_t(frames);
      buffer.validFrames = uint16_t(std::min(heard, frames));
      SnVoiceMixInput input;
      input.buffer = &buffer;
      input.voicePreviousGain = input.voiceNextGain = gain;
      input.previousMatrix = input.nextMatrix = connection.matrix.data();
      input.context = &connection;
      input.leadingSilence = unwritten;
      connection.bus->ConsumeVoice(input);
    }
  }
  void EndOfFrame() override {
    if (finishAfterFrame) state = Finished;
  }
  void Destroy() override {
    for (Connection& connection : connections) connection.bus->InputConnected(&connection, false);
    connections.clear();
    destroyed = true;
    made = false;
  }

  SNRESULT PrepareEffects() override { return refuseEffects ? SN_Failure : SN_Success; }
  uint32_t TakeListenerMask() override { return listenerMask; }
  ISnMixBusNode* OutputBus() const override { return outputBus; }
  uint32_t Priority() const override { return priority; }
  bool RoutesToDevice(uint32_t deviceType, uint32_t deviceId) const override {
    for (const Connection& c : connections)
      if (c.bus->DeviceType() == deviceType && c.bus->DeviceId() == deviceId && (c.type & 3) == SnConnection_Dry)
        return true;
    return false;
  }
  SNRESULT AddConnection(ISnMixBusInput* bus, uint32_t type) override {
    for (const Connection& c : connections)
      if (c.bus == bus) return SN_Success;
    Connection& connection = connections.emplace_back(Connection{bus, type, {}});
    connection.matrix.assign(MatrixFloats(config, bus->BusChannelConfig()), 0.0f);
    CSnSpeakerPan::IdentityMatrix(config, bus->BusChannelConfig(), connection.matrix.data());
    bus->InputConnected(&connection, true);
    return SN_Success;
  }
  void RemoveDeviceConnections(uint32_t deviceType, uint32_t deviceId) override {
    for (size_t i = connections.size(); i-- > 0;)
      if (connections[i].bus->DeviceType() == deviceType && connections[i].bus->DeviceId() == deviceId) {
        connections[i].bus->InputConnected(&connections[i], false);
        connections.erase(connections.begin() + long(i));
      }
  }
  SnAuxSendTable& AuxSends() override { return sends; }
  void FirstGainPass() override {
    if (!gameSends.empty()) LowerEngine::MergeAuxSends(*this, gameSends.data(), false);
  }

  // Sample t of channel c: a ramp of small steps, different per channel.
  static float Sample(uint32_t c, uint32_t t) { return 0.25f + 0.001f * float(t % 97) - 0.1f * float(c); }
  // What a voice's buffer holds past the frames it has: never to be heard.
  static constexpr float kPastTheEnd = 5.0f;

  FakeBusNode* outputBus;
  uint32_t priority;
  SnChannelConfig config;
  float gain = 1.0f;
  uint32_t listenerMask = 1;
  bool silent = false, finishAfterFrame = false, refuseEffects = false;
  bool destroyed = false;
  uint32_t frameIndex = 0;
  uint32_t heard = 0xFFFFFFFFu;  // the frames it has of each frame; the rest of its buffer is not silence
  uint32_t unwritten = 0;        // the frames of silence each frame opens with, left as they were
  std::vector<float> storage;
  std::vector<Connection> connections;
  SnAuxSendTable sends{};
  std::vector<SnGameAuxSend> gameSends;
};

// Hands the test's voices out as pipelines, in order.
class FakeVoiceFactory final : public ISnVoicePipelineFactory {
 public:
  ISnVoicePipeline* Create() override {
    if (next >= voices.size()) return nullptr;
    return voices[next++];
  }
  std::vector<FakeVoice*> voices;
  size_t next = 0;
};

// The real lower engine on the memory sink at 256 samples a frame, the test's voices and nodes.
class BusFixture : public OutputTest::OutputFixture {
 public:
  static constexpr uint32_t kFrames = 256;

 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    Plugins() = PluginLog{};
    NodeEvents().clear();
    LowerEngine::SetVoicePipelineFactory(&factory_);
    previousDirectory_ = BusNodeDirectory();
    BusNodeDirectory() = &directory_;
    settings_.samplesPerFrame = kFrames;
    InitWithMemorySink();
  }
  void TearDown() override {
    OutputFixture::TearDown();
    LowerEngine::SetVoicePipelineFactory(nullptr);
    BusNodeDirectory() = previousDirectory_;
  }
  FakeBusNode& Node(uint32_t id, FakeBusNode* parent = nullptr) {
    FakeBusNode& node = nodes_.emplace_back(id, parent);
    directory_.nodes.push_back(&node);
    return node;
  }
  FakeVoice& Voice(FakeBusNode* bus, uint32_t priority = 50) { return voices_.emplace_back(bus, priority); }
  // Definitions outlive the engine's Term, which clears the slots still holding them.
  FakeDefinition& Definition(uint32_t effectId, uint32_t type, uint32_t pluginId, float gain) {
    return definitions_.emplace_back(effectId, PluginKey(type, kCompany, pluginId), gain);
  }
  // Begins the voices in one group; they run from the next rendered frame.
  void Play(std::initializer_list<FakeVoice*> voices) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    for (FakeVoice* voice : voices) {
      factory_.voices.push_back(voice);
      ASSERT_EQ(LowerEngine::QueueVoiceCommand(SnVoiceCommand_Begin, voice), SN_Success);
    }
  }
  // The last frame the memory sink got, channel c.
  std::vector<float> LastOutput(uint32_t c, uint32_t channels = 2) const {
    const std::vector<float>& frame = OutputTest::SinkLog().frames.back();
    std::vector<float> out;
    for (size_t i = c; i < frame.size(); i += channels) out.push_back(frame[i]);
    return out;
  }
  CSnMixBus* Bus(uint32_t id, uint32_t deviceType = 32, uint32_t deviceId = 0) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    return LowerEngine::FindMixBus(id, deviceType, deviceId);
  }

  FakeVoiceFactory factory_;
  FakeDirectory directory_;
  ISnBusNodeDirectory* previousDirectory_ = nullptr;
  std::deque<FakeDefinition> definitions_;
  std::deque<FakeBusNode> nodes_;
  std::deque<FakeVoice> voices_;
};

constexpr uint32_t N = BusFixture::kFrames;
// The engine's fast conversion of 0 dB, a bus's gain at rest: the inverse of the meter's scale.
constexpr double kUnity = 1.0 / 1.0009619;

}  // namespace BusTest
