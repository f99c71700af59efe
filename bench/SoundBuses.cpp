// Bus hot paths six buses deep against plain loops over flat arrays doing the same sums: a bus's
// effective volume along the whole chain (bank value, run-time value and the ducking of each bus, its
// floor applied) and the volume summary a voice's path reads (volume with its curve evaluated by the
// game-parameter manager and its ducking, pitch and both filters, with run-time values).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/HierarchyWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kLevels = 6;
constexpr uint32_t kFirstId = 100;
constexpr uint32_t kVolumeDucker = 90, kBusVolumeDucker = 91;
constexpr float kVolume = -0.5f, kBusVolume = -1.0f, kPitch = 10.0f, kLowPass = 1.0f, kHighPass = 2.0f;
constexpr float kRuntimeVolume = -0.1f, kRuntimeBusVolume = -0.2f, kDuck = -1.0f;
// The volume curve at the parameter's 40: two fifths of the way to its middle point's -3.6.
constexpr float kCurveVolume = -2.88f;

// Six buses, each under the one before, and two buses ducking all six: one their volume, one their
// bus volume. Ducking runs while each ducker counts a voice.
class Chain {
 public:
  Chain() : m_lower(0, true) {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    LowerEngine::Install(&m_lower);
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.useBankThread = 0;
    if (SoundEngine::Init(&settings, nullptr) != SN_Success) std::abort();

    Tools::BankDescription bank;
    bank.bankId = 779;
    bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
    for (uint32_t level = 0; level < kLevels; ++level) {
      Tools::BankBusParams bus;
      bus.parentId = level ? kFirstId + level - 1 : 0;
      bus.properties = {Tools::BankNodeProperty::Float(SnProp_Volume, kVolume), Tools::BankNodeProperty::Float(5, kBusVolume),
                        Tools::BankNodeProperty::Float(SnProp_Pitch, kPitch),
                        Tools::BankNodeProperty::Float(SnProp_LowPass, kLowPass),
                        Tools::BankNodeProperty::Float(SnProp_HighPass, kHighPass)};
      Tools::BankNodeCurve curve;
      curve.rtpcId = 7;
      curve.parameterId = 0;
      curve.curveId = 1;
      curve.points = {{0.0f, 0.0f, SnCurve_Linear}, {50.0f, -3.6f, SnCurve_Linear}, {100.0f, -12.0f, SnCurve_Linear}};
      bus.curves = {curve};
      bank.objects.push_back({Tools::kBankBusType, Tools::BusPayload(kFirstId + level, bus)});
    }
    for (uint32_t ducker : {kVolumeDucker, kBusVolumeDucker}) {
      Tools::BankBusParams bus;
      bus.parentId = kFirstId;
      for (uint32_t level = 0; level < kLevels; ++level)
        bus.ducks.push_back({kFirstId + level, kDuck, 0, 0, SnCurve_Linear, uint8_t(ducker == kVolumeDucker ? 0 : 5)});
      bank.objects.push_back({Tools::kBankBusType, Tools::BusPayload(ducker, bus)});
    }
    const std::vector<uint8_t> image = Tools::WriteBank(bank);
    if (g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &m_bankId) != SN_Success)
      std::abort();
    g_pRTPCMgr->SetRTPCImmediate(7, 40.0f, SnRTPCKey{});
    for (uint32_t level = 0; level < kLevels; ++level) {
      Bus(kFirstId + level)->SetRuntimeValue(nullptr, SnProp_Volume, kRuntimeVolume, TransParamsBase{});
      Bus(kFirstId + level)->SetRuntimeValue(nullptr, 5, kRuntimeBusVolume, TransParamsBase{});
    }
    for (uint32_t i = 0; i < 2; ++i) Bus(i ? kBusVolumeDucker : kVolumeDucker)->CountInstance(m_records[i]);
    deepest = Bus(kFirstId + kLevels - 1);
  }
  ~Chain() {
    for (uint32_t i = 0; i < 2; ++i) Bus(i ? kBusVolumeDucker : kVolumeDucker)->UncountInstance(m_records[i]);
    g_pBankManager->UnloadBankWait(m_bankId, nullptr);
    SoundEngine::Term();
    LowerEngine::Install(nullptr);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  static CSnBusNode* Bus(uint32_t id) {
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(id, true);
    if (found) found->Release();
    return static_cast<CSnBusNode*>(found);
  }

  CSnBusNode* deepest = nullptr;

 private:
  SoundBench::NoStreams m_streams;
  SoundBench::SilentLowerEngine m_lower;
  uint32_t m_bankId = 0;
  SnCountRecord m_records[2];
};

constexpr float kExpectedBusVolume = kLevels * (kBusVolume + kRuntimeBusVolume + kDuck);
constexpr float kExpectedVolume = kLevels * (kVolume + kCurveVolume + kDuck + kRuntimeVolume);

// One bus as flat arrays: its bank values and its run-time values by property id (as a bus keeps
// them), its duck entries and floor, and its curve's subscriber.
struct FlatBus {
  uint8_t bankIds[5];
  float bankValues[5];
  uint8_t runtimeIds[2];
  float runtimeValues[2];
  float volumeDucks[1], busVolumeDucks[1];
  uint32_t duckCount;
  float maxDuck;
  void* curves;
};

std::vector<FlatBus> Flatten() {
  std::vector<FlatBus> flat(kLevels);
  for (uint32_t level = 0; level < kLevels; ++level)
    flat[level] = {{SnProp_Volume, 5, SnProp_Pitch, SnProp_LowPass, SnProp_HighPass},
                   {kVolume, kBusVolume, kPitch, kLowPass, kHighPass},
                   {SnProp_Volume, 5},
                   {kRuntimeVolume, kRuntimeBusVolume},
                   {kDuck},
                   {kDuck},
                   1,
                   -96.3f,
                   Chain::Bus(kFirstId + level)->RTPCSubscriber()};
  return flat;
}

template <size_t N>
float Find(const uint8_t (&ids)[N], const float (&values)[N], uint8_t id) {
  for (size_t i = 0; i < N; ++i)
    if (ids[i] == id) return values[i];
  return 0.0f;
}

float Floored(const float* ducks, uint32_t count, float floor) {
  float sum = 0.0f;
  for (uint32_t i = 0; i < count; ++i) sum += ducks[i];
  return sum < floor ? floor : sum;
}

void BM_BusEffectiveVolume(benchmark::State& state) {
  Chain chain;
  float value = 0.0f;
  for (auto _ : state) {
    value = chain.deepest->GetEffectiveProperty(5, true);
    benchmark::DoNotOptimize(value);
  }
  if (std::abs(value - kExpectedBusVolume) > 1e-4f) state.SkipWithError("the effective volume is not the expected sum");
}
BENCHMARK(BM_BusEffectiveVolume);

void BM_BusEffectiveVolumeBaseline(benchmark::State& state) {
  Chain chain;
  const std::vector<FlatBus> flat = Flatten();
  float value = 0.0f;
  for (auto _ : state) {
    value = 0.0f;
    for (const FlatBus& bus : flat)
      value += Find(bus.bankIds, bus.bankValues, 5) + Find(bus.runtimeIds, bus.runtimeValues, 5) +
               Floored(bus.busVolumeDucks, bus.duckCount, bus.maxDuck);
    benchmark::DoNotOptimize(value);
  }
  if (std::abs(value - kExpectedBusVolume) > 1e-4f) state.SkipWithError("the baseline is not the expected sum");
}
BENCHMARK(BM_BusEffectiveVolumeBaseline);

void BM_BusVolumeSummary(benchmark::State& state) {
  Chain chain;
  const SnRTPCKey key;
  SnSoundParams params;
  for (auto _ : state) {
    params = SnSoundParams{};
    chain.deepest->GetSoundParams(params, SnParamGroup_Volume | SnParamGroup_Pitch | SnParamGroup_LowPass |
                                              SnParamGroup_HighPass,
                                  key, nullptr, false, false);
    benchmark::DoNotOptimize(params);
  }
  if (std::abs(params.volume - kExpectedVolume) > 1e-3f) state.SkipWithError("the summary's volume is not the expected sum");
}
BENCHMARK(BM_BusVolumeSummary);

// The same sums: per bus one pass over the bank values and one over the run-time values, the volume's
// curve (the only one the chain's buses have) and its ducking.
void BM_BusVolumeSummaryBaseline(benchmark::State& state) {
  Chain chain;
  const std::vector<FlatBus> flat = Flatten();
  const SnRTPCKey key;
  SnSoundParams params;
  for (auto _ : state) {
    params = SnSoundParams{};
    for (const FlatBus& bus : flat) {
      const auto add = [&params](uint8_t id, float value) {
        switch (id) {
          case SnProp_Volume: params.volume += value; break;
          case SnProp_Pitch: params.pitch += value; break;
          case SnProp_LowPass: params.lowPass += value; break;
          case SnProp_HighPass: params.highPass += value; break;
          default: break;
        }
      };
      for (size_t i = 0; i < 5; ++i) add(bus.bankIds[i], bus.bankValues[i]);
      for (size_t i = 0; i < 2; ++i) add(bus.runtimeIds[i], bus.runtimeValues[i]);
      params.volume += g_pRTPCMgr->EvaluateSubscription(bus.curves, 0, key) +
                       Floored(bus.volumeDucks, bus.duckCount, bus.maxDuck);
    }
    benchmark::DoNotOptimize(params);
  }
  if (std::abs(params.volume - kExpectedVolume) > 1e-3f) state.SkipWithError("the baseline's volume is not the expected sum");
}
BENCHMARK(BM_BusVolumeSummaryBaseline);

}  // namespace
