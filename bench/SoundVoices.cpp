// The voice side of one lower-engine frame through the real voice pipelines and mix buses:
// - 64 mono voices 2D-panned into the stereo master bus (gain passes, pipelines, bus cleared), against a
//   plain loop doing the same ramped gains and matrix adds from the same source buffers (read the pair
//   as voices / plain; aim at most 1x; the counter is voices per second, / 1000 for per millisecond);
// - the same 64 voices placed in 3D on game objects heard by 2 listeners (rays, ray volumes, filter
//   values from a low-pass curve and the filtering itself, spread 30 and focus 50 matrices), against
//   the 2D frame above with each voice low-passed as its 3D twin is, the peer with 3D off (read 3D /
//   2D low-passed; aim at most 2x);
// - 256 voices made virtual (inaudible, behaviour "become virtual"): the frame's limiter pass, gain
//   passes and skipping, against the same voices audible (aim at most 0.1x).
// Sources are bench-side, in memory, handing out their own samples without a copy.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Lower/Mixing/MixBus.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "bench/TraceWatch.h"

namespace {

using namespace SN;

constexpr uint32_t kFrames = 1024;

// A looping mono source over one shared block of samples.
class MemorySource final : public ISnVoiceSource {
 public:
  explicit MemorySource(const std::vector<float>& samples) : m_samples(samples) {}
  SNRESULT Prepare() override { return SN_Success; }
  SnChannelConfig Format() const override { return StandardConfig(kSpeakerCenter); }
  SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) override {
    buffer.samples = const_cast<float*>(m_samples.data());
    buffer.channelConfig = Format();
    buffer.maxFrames = uint16_t(frames);
    buffer.validFrames = uint16_t(frames);
    return SNRESULT(SnVoice_DataReady);
  }
  void ReleaseBuffer() override {}
  void StopLooping() override {}
  void Seek(uint32_t, bool, bool) override {}
  SNRESULT SkipFrames(uint32_t frames) override {
    m_position += frames;
    return SNRESULT(SnVoice_DataReady);
  }
  void SetPaused(bool) override {}
  void Destroy() override { delete this; }

 private:
  const std::vector<float>& m_samples;
  uint64_t m_position = 0;
};

class MemorySources final : public ISnVoiceSourceFactory {
 public:
  MemorySources() : samples(kFrames) {
    for (uint32_t t = 0; t < kFrames; ++t) samples[t] = 0.25f * std::sin(float(t) * 0.05f);
  }
  ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance&, uint32_t) override { return new MemorySource(samples); }
  std::vector<float> samples;
};

// An attenuation of the 3D voices: volume and low-pass over 100 m, spread 30 and focus 50 throughout.
class BenchAttenuation final : public ISnAttenuationDirectory {
 public:
  BenchAttenuation() {
    settings.shape.curves[SnAttenuationCurve_Volume] = &volume;
    settings.shape.curves[SnAttenuationCurve_LowPass] = &lowPass;
    settings.shape.curves[SnAttenuationCurve_Spread] = &spread;
    settings.shape.curves[SnAttenuationCurve_Focus] = &focus;
  }
  const SnAttenuationSettings* FindAttenuation(uint32_t id) override { return id == kId ? &settings : nullptr; }
  static constexpr uint32_t kId = 77;
  SnRTPCGraphPoint volumePoints[2] = {{0, 0, SnCurve_Linear}, {100, -40, SnCurve_Linear}};
  SnRTPCGraphPoint lowPassPoints[2] = {{0, 0, SnCurve_Linear}, {100, 60, SnCurve_Linear}};
  SnRTPCGraphPoint spreadPoints[2] = {{0, 30, SnCurve_Linear}, {100, 30, SnCurve_Linear}};
  SnRTPCGraphPoint focusPoints[2] = {{0, 50, SnCurve_Linear}, {100, 50, SnCurve_Linear}};
  CSnCurveGraph volume{volumePoints, 2}, lowPass{lowPassPoints, 2}, spread{spreadPoints, 2}, focus{focusPoints, 2};
  SnAttenuationSettings settings;
};

// The engine with `voices` playing voices panned across the front (or, in 3D, placed around two
// listeners), launched and past their first frame.
class VoiceScope {
 public:
  VoiceScope(uint32_t voices, float volumeDb, uint8_t behaviour, bool threeD = false, bool lowPassed = false) {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    VoiceSourceFactory() = &m_sources;
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.samplesPerFrame = kFrames;
    AttenuationDirectory() = &m_attenuation;
    m_positioning.attenuationId = BenchAttenuation::kId;
    m_positioning.flags = SnPositioning_Spatialize | SnPositioning_GameObjectRays;
    m_ok = SoundEngine::Init(&settings, nullptr) == SN_Success;
    if (!m_ok) return;
    Platform::ReentrantGuard audio(GlobalAudioLock());
    LowerEngine::ListenerTable().SetPosition(1, SnListenerPosition{{1, 0, 0}, {0, 1, 0}, {3, 0, -2}});
    for (uint32_t i = 0; i < voices; ++i) {
      CSnPlaybackInstance::Args args;
      args.playingId = 100 + i;
      args.voiceBehaviour = behaviour;
      if (threeD) {
        const float angle = float(i) * 0.37f, distance = 2.0f + float(i % 16) * 5.0f;
        CSnRegisteredObj* object = g_pRegistryMgr->RegisterGameObj(1000 + i, 0x3);
        m_ok = m_ok && object &&
               g_pRegistryMgr->SetPosition(1000 + i, SnSoundPosition{{std::sin(angle) * distance, 0.5f,
                                                                       std::cos(angle) * distance},
                                                                      {0, 0, -1}}) == SN_Success;
        if (!object) break;
        object->UpdatePositioning();
        args.gameObject = object;
        args.positioning = &m_positioning;
        args.positioningBits = 1 | (1 << 2);
      }
      auto* instance = PoolNew<CSnPlaybackInstance>(g_DefaultPoolId, args);
      m_ok = m_ok && instance && instance->Init(nullptr, nullptr) == SN_Success;
      if (!instance) break;
      m_ok = m_ok && instance->PrepareForPlay(0.0f, true, nullptr) == SN_Success;
      instance->ComputeParameters();
      instance->ParamChanged(0, volumeDb, volumeDb);
      instance->ParamChanged(64, 1.0f, 1.0f);
      if (lowPassed) {
        // The 2D peer of the 3D frame filters as its 3D twin does: the low-pass the attenuation's curve gives the twin's
        // distance, so that the pair differs by the 3D work alone.
        const float lowPass = 0.6f * (2.0f + float(i % 16) * 5.0f);
        instance->ParamChanged(3, lowPass, lowPass);
      }
      const float pan = -100.0f + 200.0f * float(i) / float(voices);
      instance->ParamChanged(20, pan, pan);
      instance->ParamChanged(21, 100.0f, 100.0f);
      m_ok = m_ok && instance->Play(TransParamsBase{}, false, false) == SN_Success;
      VoiceManager::AddActiveInstance(instance);
    }
    LowerEngine::BeginQueuedVoices();
    m_ok = m_ok && LowerEngine::ActivePipelineCount() == voices;
    Frame();
  }
  ~VoiceScope() {
    SoundEngine::Term();
    m_positioning.FreePath();
    AttenuationDirectory() = nullptr;
    VoiceSourceFactory() = nullptr;
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  // The voice side of a frame: the limiter pass, gain passes, pipelines, and the buses cleared.
  void Frame() {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    VoiceManager::ApplyLimiters();
    LowerEngine::ComputeFrameGains();
    LowerEngine::RunActivePipelines(true);
    for (uint32_t i = 0; i < LowerEngine::MixBusCount(); ++i) LowerEngine::MixBusAt(i)->EndFrame();
  }
  bool Ok() const { return m_ok; }
  const std::vector<float>& Samples() const { return m_sources.samples; }

 private:
  SoundBench::NoStreams m_streams;
  MemorySources m_sources;
  BenchAttenuation m_attenuation;
  SnPositioningParams m_positioning;
  bool m_ok = false;
};

// 64 voices into the stereo master bus, panned in 2D (low-passed or not) or placed in 3D.
void VoicesIntoBus(benchmark::State& state, bool threeD, bool lowPassed = false) {
  OrvBench::TraceWatch watch;
  VoiceScope scope(64, 0.0f, SnVirtual_ContinueToPlay, threeD, lowPassed);
  if (!scope.Ok()) {
    state.SkipWithError("the voices did not start");
    return;
  }
  for (auto _ : state) scope.Frame();
  state.counters["voices"] = benchmark::Counter(64, benchmark::Counter::kIsIterationInvariantRate);
  watch.Check(state);
}
void VoicesIntoStereoBus(benchmark::State& state) { VoicesIntoBus(state, false); }
BENCHMARK(VoicesIntoStereoBus)->Unit(benchmark::kMicrosecond);
void VoicesIntoStereoBusLowPassed(benchmark::State& state) { VoicesIntoBus(state, false, true); }
BENCHMARK(VoicesIntoStereoBusLowPassed)->Unit(benchmark::kMicrosecond);
void Voices3DIntoBus(benchmark::State& state) { VoicesIntoBus(state, true); }
BENCHMARK(Voices3DIntoBus)->Unit(benchmark::kMicrosecond);

// The same frame as plain loops: per voice, its gain ramp and pan pair into a stereo bus, the first
// voice storing and the others adding, as the bus graph's mix does. Built for the wider vector unit too
// and chosen by the processor, as the mix kernels are.
__attribute__((target_clones("avx", "default"))) void PlainVoices(const float* in, const float (*pans)[2],
                                                                 uint32_t voices, float* left, float* right,
                                                                 uint32_t frames) {
  for (uint32_t v = 0; v < voices; ++v) {
    const float g0l = pans[v][0], g0r = pans[v][1];
    const float stepL = (pans[v][0] - g0l) / float(frames), stepR = (pans[v][1] - g0r) / float(frames);
    if (v == 0) {
      for (uint32_t t = 0; t < frames; ++t) {
        left[t] = in[t] * (g0l + stepL * float(t));
        right[t] = in[t] * (g0r + stepR * float(t));
      }
      continue;
    }
    for (uint32_t t = 0; t < frames; ++t) {
      left[t] += in[t] * (g0l + stepL * float(t));
      right[t] += in[t] * (g0r + stepR * float(t));
    }
  }
}

void VoicesIntoStereoBusPlain(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  VoiceScope scope(0, 0.0f, SnVirtual_ContinueToPlay);  // the same source samples, as warm
  std::vector<float> left(kFrames), right(kFrames);
  std::vector<float[2]> pans(64);
  for (uint32_t v = 0; v < 64; ++v) {
    const float x = float(v) / 64.0f;
    pans[v][0] = std::sqrt(1.0f - x);
    pans[v][1] = std::sqrt(x);
  }
  for (auto _ : state) {
    PlainVoices(scope.Samples().data(), pans.data(), 64, left.data(), right.data(), kFrames);
    benchmark::ClobberMemory();
  }
  state.counters["voices"] = benchmark::Counter(64, benchmark::Counter::kIsIterationInvariantRate);
  watch.Check(state);
}
BENCHMARK(VoicesIntoStereoBusPlain)->Unit(benchmark::kMicrosecond);

void VirtualVoicesFrame(benchmark::State& state, bool audible) {
  OrvBench::TraceWatch watch;
  VoiceScope scope(256, audible ? 0.0f : -200.0f, SnVirtual_BecomeVirtual);
  if (!scope.Ok() || (!audible && VoiceManager::ExcludedInstanceCount() != 256)) {
    state.SkipWithError("the voices did not start as asked");
    return;
  }
  for (auto _ : state) scope.Frame();
  watch.Check(state);
}
BENCHMARK_CAPTURE(VirtualVoicesFrame, Virtual, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(VirtualVoicesFrame, Audible, true)->Unit(benchmark::kMicrosecond);

}  // namespace
