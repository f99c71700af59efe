// One frame of the bus graph: 32 stereo voices with ramped gains into 8 stereo buses in three
// levels, each bus processed and mixed into its parent, the top bus handed to the main device's
// sink. Against the same adds, ramps, interleave and clears as plain loops left to the vectoriser
// (aim: at least 1.5x; the graph's matrix mix skips the pairs of planes silent at both ends of their
// ramp, and so does the plain loop: both do the same adds), and against a reference library's loopback device
// mixing 32 direct-channel stereo sources of the same length into stereo float (aim: no slower).
// Read the medians.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBus.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "tests/Support/ReadyVoice.h"

namespace {

using namespace SN;

constexpr uint32_t kVoices = 32;
constexpr uint32_t kBuses = 8;
constexpr uint16_t kFrames = 1024;
constexpr SnChannelConfig kStereo = StandardConfig(kMaskStereo);
// Bus i's parent in the three levels: 0 at the top, 1 and 2 under it, 3 to 7 under those.
constexpr int kParentOf[kBuses] = {-1, 0, 0, 1, 1, 1, 2, 2};

// A bus node with nothing but an id and a parent: no effects, no positioning, 0 dB.
class PlainBusNode final : public ISnMixBusNode {
 public:
  PlainBusNode(uint32_t id, PlainBusNode* parent) : m_id(id), m_parent(parent) {}
  void AddRef() override {}
  void Release() override {}
  uint32_t BusId() const override { return m_id; }
  ISnMixBusNode* ParentBus() const override { return m_parent; }
  bool IsMainOutputBus() const override { return true; }
  SnChannelConfig ChannelConfig() const override { return kStereo; }
  bool AcceptMixBus(bool) override { return true; }
  CSnHierarchyNode* TargetNode() override { return nullptr; }
  float EffectiveVolume() override { return 0.0f; }
  bool BypassAllEffects() const override { return false; }
  SnBusPositioning Positioning() const override { return {}; }
  ISnEffectDefinition* Effect(uint32_t, bool& bypass) override {
    bypass = false;
    return nullptr;
  }
  ISnEffectDefinition* Mixer() override { return nullptr; }
  uint32_t MediaId(uint32_t, uint32_t) const override { return 0xFFFFFFFFu; }
  uint32_t Category() const override { return 0; }
  uint32_t Flags() const override { return 0; }
  bool IsMasterBus() const override { return false; }
  bool HasDynamicRangeWindow() const override { return false; }
  SnBusWindowRead ReadWindowThreshold() override { return {96.0f, false}; }
  SnBusWindowRead ReadWindowRatio() override { return {16.0f, false}; }
  SnBusWindowRead ReadWindowRelease(bool& dbDomain) override {
    dbDomain = true;
    return {0.0f, false};
  }
  void WindowMoved(float) override {}

 private:
  uint32_t m_id;
  PlainBusNode* m_parent;
};

// A bench-side voice: a stereo frame of a sine, its gain ramping by a tenth each frame, through an
// identity matrix into its bus.
class PlanarVoice final : public OrvTest::ReadyVoice {
 public:
  PlanarVoice(PlainBusNode* bus, uint32_t seed) : m_bus(bus), m_tone(kStereo, kFrames) {
    for (size_t i = 0; i < m_tone.samples.size(); ++i) m_tone.samples[i] = std::sin(float(i + seed) * 0.013f) * 0.1f;
  }
  void RunFrame(SnVoiceFrameState& frame) override {
    frame.status = SnVoice_DataReady;
    SnVoiceMixInput input;
    input.buffer = &m_tone.buffer;
    input.voicePreviousGain = m_gain;
    m_gain = m_gain >= 1.0f ? 0.5f : m_gain + 0.1f;
    input.voiceNextGain = m_gain;
    input.previousMatrix = input.nextMatrix = m_matrix;
    m_connection->ConsumeVoice(input);
  }
  void Destroy() override {
    if (m_connection) m_connection->InputConnected(this, false);
    m_connection = nullptr;
    made = false;
  }
  SNRESULT PrepareEffects() override { return SN_Success; }
  uint32_t TakeListenerMask() override { return 1; }
  ISnMixBusNode* OutputBus() const override { return m_bus; }
  uint32_t Priority() const override { return 50; }
  bool RoutesToDevice(uint32_t, uint32_t) const override { return m_connection != nullptr; }
  SNRESULT AddConnection(ISnMixBusInput* bus, uint32_t) override {
    m_connection = bus;
    CSnSpeakerPan::IdentityMatrix(kStereo, kStereo, m_matrix);
    bus->InputConnected(this, true);
    return SN_Success;
  }
  void RemoveDeviceConnections(uint32_t, uint32_t) override {}
  SnAuxSendTable& AuxSends() override { return m_sends; }
  void FirstGainPass() override {}

 private:
  PlainBusNode* m_bus;
  SoundBench::Planes m_tone;
  ISnMixBusInput* m_connection = nullptr;
  alignas(16) float m_matrix[8] = {};
  float m_gain = 0.5f;
  SnAuxSendTable m_sends{};
};

class VoiceFactory final : public ISnVoicePipelineFactory {
 public:
  ISnVoicePipeline* Create() override { return m_next < m_voices->size() ? &(*m_voices)[m_next++] : nullptr; }
  std::deque<PlanarVoice>* m_voices = nullptr;
  size_t m_next = 0;
};

// The engine synchronous on its platform sink, the 8 buses and the 32 voices begun.
class GraphScope {
 public:
  GraphScope() {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.samplesPerFrame = kFrames;
    if (SoundEngine::Init(&settings, nullptr) != SN_Success) return;
    for (uint32_t i = 0; i < kBuses; ++i)
      m_nodes.emplace_back(100 + i, kParentOf[i] < 0 ? nullptr : &m_nodes[size_t(kParentOf[i])]);
    for (uint32_t v = 0; v < kVoices; ++v) m_voices.emplace_back(&m_nodes[3 + v % 5], v * 7);
    m_factory.m_voices = &m_voices;
    LowerEngine::SetVoicePipelineFactory(&m_factory);
    Platform::ReentrantGuard guard(GlobalAudioLock());
    for (PlanarVoice& voice : m_voices) LowerEngine::QueueVoiceCommand(SnVoiceCommand_Begin, &voice);
    LowerEngine::BeginQueuedVoices();
    m_ok = LowerEngine::ActivePipelineCount() == kVoices && LowerEngine::MixBusCount() == kBuses;
  }
  ~GraphScope() {
    SoundEngine::Term();
    LowerEngine::SetVoicePipelineFactory(nullptr);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  bool Ok() const { return m_ok; }

 private:
  SoundBench::NoStreams m_streams;
  std::deque<PlainBusNode> m_nodes;
  std::deque<PlanarVoice> m_voices;
  VoiceFactory m_factory;
  bool m_ok = false;
};

void BusGraphFrame(benchmark::State& state) {
  GraphScope graph;
  if (!graph.Ok()) {
    state.SkipWithError("the bus graph did not start");
    return;
  }
  Platform::ReentrantGuard guard(GlobalAudioLock());
  for (auto _ : state) {
    LowerEngine::ComputeFrameGains();
    LowerEngine::RunActivePipelines(true);
    LowerEngine::MixBusesDown();
  }
}
BENCHMARK(BusGraphFrame)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);

// The same work as plain loops: each voice through its 2x2 matrix with a ramped gain (pairs silent
// at both ends skipped, as the graph skips them), each child bus channel by channel into its parent
// with its ramp, the top bus interleaved with its ramp. As in the graph, the first input of a frame
// into a bus plane stores and later ones add, so no bus is cleared. Built for the wider vector unit
// too and chosen by the processor, as the graph's kernels are.
__attribute__((target_clones("avx", "default"))) void PlainFrame(
    std::vector<std::vector<float>>& buses, const std::vector<std::vector<float>>& voices, const float* matrix,
    std::vector<float>& out, float previousGain, float nextGain) {
  const uint32_t n = kFrames;
  const float reciprocal = 1.0f / float(n);
  bool written[kBuses][2] = {};
  for (uint32_t v = 0; v < kVoices; ++v) {
    const float* in = voices[v].data();
    const uint32_t b = 3 + v % 5;
    float* bus = buses[b].data();
    for (uint32_t i = 0; i < 2; ++i)
      for (uint32_t o = 0; o < 2; ++o) {
        const float g0 = matrix[i * 4 + o] * previousGain;
        const float step = (matrix[i * 4 + o] * nextGain - g0) * reciprocal;
        if (g0 == 0.0f && step == 0.0f) continue;
        const float* __restrict src = in + size_t(i) * n;
        float* __restrict dst = bus + size_t(o) * n;
        if (written[b][o]) {
          for (int32_t t = 0; t < int32_t(n); ++t) dst[t] += src[t] * (g0 + float(t) * step);
        } else {
          for (int32_t t = 0; t < int32_t(n); ++t) dst[t] = src[t] * (g0 + float(t) * step);
          written[b][o] = true;
        }
      }
  }
  const float step = (nextGain - previousGain) * reciprocal;
  for (uint32_t b = kBuses; b-- > 1;) {
    const size_t parent = size_t(kParentOf[b]);
    const float* __restrict src = buses[b].data();
    float* __restrict dst = buses[parent].data();
    if (written[parent][0]) {
      for (int32_t t = 0; t < int32_t(2 * n); ++t) dst[t] += src[t] * (previousGain + float(t % n) * step);
    } else {
      for (int32_t t = 0; t < int32_t(2 * n); ++t) dst[t] = src[t] * (previousGain + float(t % n) * step);
      written[parent][0] = written[parent][1] = true;
    }
  }
  const float* __restrict left = buses[0].data();
  const float* __restrict right = left + n;
  float* __restrict frame = out.data();
  for (int32_t t = 0; t < int32_t(n); ++t) {
    const float gain = previousGain + float(t) * step;
    frame[2 * t] = left[t] * gain;
    frame[2 * t + 1] = right[t] * gain;
  }
}

void PlainBusFrame(benchmark::State& state) {
  std::vector<std::vector<float>> buses(kBuses, std::vector<float>(2 * kFrames, 0.0f));
  std::vector<std::vector<float>> voices;
  for (uint32_t v = 0; v < kVoices; ++v) voices.push_back(SoundBench::Planes(kStereo, kFrames).samples);
  alignas(16) float matrix[8] = {1, 0, 0, 0, 0, 1, 0, 0};
  std::vector<float> out(2 * kFrames);
  float gain = 0.5f;
  for (auto _ : state) {
    const float next = gain >= 1.0f ? 0.5f : gain + 0.1f;
    PlainFrame(buses, voices, matrix, out, gain, next);
    gain = next;
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(PlainBusFrame)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);

// The reference: a loopback device at 48 kHz rendering float stereo, 32 looping stereo sources on
// their direct channels; each iteration renders one frame of 1024.
void ReferenceLoopback32Sources(benchmark::State& state) {
  auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
  auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
  ALCdevice* device = openLoopback ? openLoopback(nullptr) : nullptr;
  if (!device || !render) {
    state.SkipWithError("no loopback device");
    return;
  }
  const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                               ALC_FREQUENCY, 48000, ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE, ALC_MONO_SOURCES, 0,
                               ALC_STEREO_SOURCES, ALCint(kVoices), 0};
  ALCcontext* context = alcCreateContext(device, attributes);
  alcMakeContextCurrent(context);
  std::vector<float> pcm(2 * 48000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = std::sin(float(i) * 0.013f) * 0.1f;
  ALuint buffer = 0;
  ALuint sources[kVoices] = {};
  alGenBuffers(1, &buffer);
  alBufferData(buffer, AL_FORMAT_STEREO_FLOAT32, pcm.data(), ALsizei(pcm.size() * sizeof(float)), 48000);
  alGenSources(ALsizei(kVoices), sources);
  for (ALuint source : sources) {
    alSourcei(source, AL_BUFFER, ALint(buffer));
    alSourcei(source, AL_LOOPING, AL_TRUE);
    alSourcei(source, AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
    alSourcePlay(source);
  }
  std::vector<float> out(2 * kFrames);
  for (auto _ : state) {
    render(device, out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
  }
  alDeleteSources(ALsizei(kVoices), sources);
  alDeleteBuffers(1, &buffer);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context);
  alcCloseDevice(device);
}
BENCHMARK(ReferenceLoopback32Sources)->Unit(benchmark::kMicrosecond)->Repetitions(9)->DisplayAggregatesOnly(true);

}  // namespace
