// One frame of 3D positioning for 64 mono voices heard by 2 listeners on 5.1 (spread 30, focus 50):
// emitter rays, ray volumes, output-path filters and speaker matrices, against a plain loop making
// the same square roots, angle functions, curve and table look-ups and multiply-adds over flat
// arrays (read the pair as panner / plain: the panner's bookkeeping may cost up to 2x).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/PairGainTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;

constexpr uint32_t kVoices = 64;
constexpr uint32_t kListeners = 2;
constexpr uint32_t kOut = 6;  // FL FR FC SL SR LFE
constexpr float kPi = 3.14159265f;
const SnChannelConfig kMono = StandardConfig(kSpeakerCenter);
const SnChannelConfig k51 = StandardConfig(kMask51);

struct Scene {
  std::vector<SnSoundPosition> emitters;
  SnRTPCGraphPoint volumePoints[2] = {{0, 1, SnCurve_Linear}, {100, 0, SnCurve_Linear}};
  SnRTPCGraphPoint lowPassPoints[2] = {{0, 0, SnCurve_Linear}, {100, 60, SnCurve_Linear}};
  SnRTPCGraphPoint spreadPoints[2] = {{0, 30, SnCurve_Linear}, {100, 30, SnCurve_Linear}};
  SnRTPCGraphPoint focusPoints[2] = {{0, 50, SnCurve_Linear}, {100, 50, SnCurve_Linear}};
  CSnCurveGraph volume{volumePoints, 2}, lowPass{lowPassPoints, 2}, spread{spreadPoints, 2}, focus{focusPoints, 2};
  SnAttenuation attenuation;
  SnPairGainTable pairs{};
  SnPanTables tables;
  Scene() : emitters(kVoices) {
    for (uint32_t v = 0; v < kVoices; ++v) {
      const float angle = float(v) * 0.37f, distance = 2.0f + float(v % 16) * 5.0f;
      emitters[v] = SnSoundPosition{{std::sin(angle) * distance, 0.5f, std::cos(angle) * distance}, {0, 0, -1}};
    }
    attenuation.curves[SnAttenuationCurve_Volume] = &volume;
    attenuation.curves[SnAttenuationCurve_LowPass] = &lowPass;
    attenuation.curves[SnAttenuationCurve_Spread] = &spread;
    attenuation.curves[SnAttenuationCurve_Focus] = &focus;
    float degrees[3], height;
    CSnSpeakerPan::DefaultSpeakerAngles(k51, degrees, height);
    uint32_t spacing = 1;
    CSnSpeakerPan::DegreesToAngles(degrees, 3, tables.angles, spacing);
    pairs.mask = 0x603;
    CSnSpeakerPan::BuildPairGainTable(0x603, tables.angles, pairs.gains);
    tables.spatialMask = 0x607;
    tables.outputMask = 0x607;
    tables.inverseMinSpacing = 1.0f / float(spacing);
    tables.pairs = &pairs;
  }
};

Scene& TheScene() {
  static Scene scene = [] {
    SoundBench::InitMemory();
    LowerEngine::ListenerTable().Init();
    LowerEngine::ListenerTable().SetPosition(1, SnListenerPosition{{1, 0, 0}, {0, 1, 0}, {3, 0, -2}});
    return Scene();
  }();
  return scene;
}

// The panner: what a voice's frame asks of it for one dry output path.
void PannerFrame(Scene& scene, float* matrices, SnOutputPathFilters* filters) {
  Platform::ReentrantGuard lock(GlobalAudioLock());
  SnVoiceGainParams voice;
  voice.attenuation = &scene.attenuation;
  voice.positionsFromGameObject = false;
  const uint32_t stride = MatrixRowStride(k51);
  alignas(16) float one[8];
  for (uint32_t v = 0; v < kVoices; ++v) {
    SnEmitterListenerRay rays[kListeners] = {};
    for (uint32_t l = 0; l < kListeners; ++l) {
      rays[l].listenerBit = uint8_t(l);
      LowerEngine::ListenerTable().ComputeEmitterRay(l, scene.emitters[v], 1.0f, rays[l]);
    }
    VoiceParams::ComputeRayVolumes(voice, rays, kListeners);
    VoiceParams::ComputeFilters(voice, rays, kListeners, 0x3, filters[v]);
    float* matrix = matrices + v * stride;
    std::fill(matrix, matrix + stride, 0.0f);
    for (const SnEmitterListenerRay& ray : rays) {
      const float planar = ray.distance * std::cos(ray.elevation);
      CSnSpeakerPan::PanSpread(ray.azimuth, 0.0f, scene.spread.Evaluate(planar), scene.focus.Evaluate(planar), one,
                               kMono, k51, scene.tables);
      for (uint32_t c = 0; c < stride; ++c) matrix[c] = std::max(matrix[c], ray.factors[0] * one[c]);
    }
  }
}

// The plain loop: flat positions and matrices, the curves as two-point lines, each angle's pair of
// output columns looked up in flat tables made once.
struct Plain {
  float listenerPosition[kListeners][3];
  float listenerMatrix[kListeners][9];
  float pairFirst[512], pairSecond[512];
  uint8_t firstColumn[512], secondColumn[512];
  float inverseSpacing;
};

Plain MakePlain(Scene& scene) {
  Plain p{};
  for (uint32_t l = 0; l < kListeners; ++l) {
    const SnListenerRecord& record = LowerEngine::ListenerTable().Listener(l);
    std::memcpy(p.listenerPosition[l], record.position.position, sizeof p.listenerPosition[l]);
    std::memcpy(p.listenerMatrix[l], record.matrix, sizeof p.listenerMatrix[l]);
  }
  // Columns FL 0, FR 1, SL 3, SR 4 of the 5.1 output, by angle, for both halves of the circle.
  for (uint32_t a = 0; a < 512; ++a) {
    float row[kOut] = {};
    const int32_t angle = int32_t(a);
    SnPanTables probe = scene.tables;
    CSnSpeakerPan::AddVirtualSource(angle, 0.0f, probe, row);
    const bool right = a > 256;
    const uint32_t folded = right ? 512 - a : a;
    p.pairFirst[a] = scene.pairs.gains[folded].first;
    p.pairSecond[a] = scene.pairs.gains[folded].second;
    // Which columns took them.
    uint8_t columns[2] = {0, 0};
    int found = 0;
    for (uint32_t c = 0; c < kOut && found < 2; ++c)
      if (row[c] > 0.0f) columns[found++] = uint8_t(c);
    const bool firstIsLower = found == 2 && std::fabs(row[columns[0]] - p.pairFirst[a]) < 1e-6f;
    p.firstColumn[a] = firstIsLower ? columns[0] : columns[found == 2 ? 1 : 0];
    p.secondColumn[a] = firstIsLower ? columns[1] : columns[0];
  }
  p.inverseSpacing = scene.tables.inverseMinSpacing;
  return p;
}

// A curve of points (x ascending) as flat arrays, linear between them.
struct FlatCurve {
  float x[2], y[2];
  explicit FlatCurve(const SnRTPCGraphPoint* points) : x{points[0].x, points[1].x}, y{points[0].y, points[1].y} {}
  float At(float at) const {
    if (at <= x[0]) return y[0];
    if (at >= x[1]) return y[1];
    return y[0] + (y[1] - y[0]) * (at - x[0]) / (x[1] - x[0]);
  }
};

__attribute__((noipa)) void PlainFrame(const Plain& p, const Scene& scene, float* matrices, float* lowPass,
                                       float* coneAngles) {
  const FlatCurve volume(scene.volumePoints), filter(scene.lowPassPoints), spreadCurve(scene.spreadPoints),
      focusCurve(scene.focusPoints);
  for (uint32_t v = 0; v < kVoices; ++v) {
    float* matrix = matrices + v * 8;
    std::fill(matrix, matrix + 8, 0.0f);
    float lowest = 100.0f;
    for (uint32_t l = 0; l < kListeners; ++l) {
      const float* e = scene.emitters[v].position;
      const float d[3] = {e[0] - p.listenerPosition[l][0], e[1] - p.listenerPosition[l][1],
                          e[2] - p.listenerPosition[l][2]};
      const float r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      const float* m = p.listenerMatrix[l];
      const float x = m[0] * d[0] + m[1] * d[1] + m[2] * d[2];
      const float y = m[3] * d[0] + m[4] * d[1] + m[5] * d[2];
      const float z = m[6] * d[0] + m[7] * d[1] + m[8] * d[2];
      const float azimuth = std::atan2(x, z), elevation = std::asin(std::clamp(y / r, -1.0f, 1.0f));
      const float* o = scene.emitters[v].orientation;
      const float facing = -(o[0] * d[0] + o[1] * d[1] + o[2] * d[2]) / r;
      coneAngles[v * kListeners + l] = std::acos(std::clamp(facing, -1.0f, 1.0f));
      const float gain = volume.At(r);
      lowest = std::min(lowest, filter.At(r));
      const float planar = r * std::cos(elevation);
      const float spread = spreadCurve.At(planar), focus = focusCurve.At(planar);
      const float width = spread * 2.56f;
      const uint32_t n = uint32_t(width * p.inverseSpacing + 1.0f) + 1;
      const float h = (1.0f - focus / 100.0f) * width / float(n);
      float at = -azimuth * (512.0f / (2.0f * kPi)) + 2.0f * h * float(n / 2) + 512.0f - (n % 2 ? 0.0f : h);
      float row[8] = {};
      for (uint32_t i = 0; i < n; ++i, at -= 2.0f * h) {
        const uint32_t a = uint32_t(int32_t(std::floor(at + 0.5f)) & 511);
        row[p.firstColumn[a]] += p.pairFirst[a];
        row[p.secondColumn[a]] += p.pairSecond[a];
      }
      const float norm = 1.0f / float(n);
      for (uint32_t c = 0; c < 8; ++c) matrix[c] = std::max(matrix[c], gain * std::sqrt(row[c] * norm));
    }
    lowPass[v] = lowest;
  }
}

void Spatial(benchmark::State& state, bool plain) {
  Scene& scene = TheScene();
  const Plain flat = MakePlain(scene);
  std::vector<float> matrices(kVoices * 8);
  std::vector<SnOutputPathFilters> filters(kVoices);
  std::vector<float> lowPass(kVoices), coneAngles(kVoices * kListeners);
  for (auto _ : state) {
    if (plain)
      PlainFrame(flat, scene, matrices.data(), lowPass.data(), coneAngles.data());
    else
      PannerFrame(scene, matrices.data(), filters.data());
    benchmark::DoNotOptimize(matrices.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(Spatial, SixtyFourVoices, false);
BENCHMARK_CAPTURE(Spatial, SixtyFourVoicesPlain, true);

}  // namespace
