// The modulators' frame pass for 256 oscillators (mixed waveforms, smoothing 0.3) and 256 envelopes
// writing 1024 samples each, against a plain loop of the same per-sample formulas over flat arrays
// (read the pair as pass / plain; the pass's jobs, chunks and runs may cost at most 1.5x). And 10,000
// MIDI note-on/note-off pairs over 16 channels scheduled and advanced through one playback context,
// against a std::vector kept sorted by offset with linear pairing (at most 2x).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include <algorithm>

#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorProcessor.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace {

using namespace SN;
using Tools::BankNodeProperty;

constexpr uint32_t kEach = 256;
constexpr uint32_t kFrame = 1024;

// The default pool and an object index: what bank objects need outside the engine.
struct EngineScope {
  EngineScope() {
    SoundBench::InitMemory();
    g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, 64u << 20, 64, SnMemPool_AllocHook, 0);
    if (g_DefaultPoolId == kInvalidPoolId) std::abort();
    g_pObjectIndex = PoolNew<CSnObjectIndex>(g_DefaultPoolId);
  }
  ~EngineScope() {
    PoolDelete(g_DefaultPoolId, g_pObjectIndex);
    g_pObjectIndex = nullptr;
    MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_DefaultPoolId = kInvalidPoolId;
    MemoryMgr::Term();
  }
};

float Frequency(uint32_t i) { return 12.5f + float(i % 32) * 12.0f; }
uint32_t Waveform(uint32_t i) { return i % 5; }

// The bank objects, one global instance each, all writing samples.
struct Modulators {
  std::vector<CSnModulatorObject*> objects;
  CSnModulatorProcessor list;

  Modulators() {
    for (uint32_t i = 0; i < 2 * kEach; ++i) {
      const bool oscillator = i < kEach;
      Tools::BankModulator bank;
      bank.id = 1000 + i;
      bank.properties = {BankNodeProperty::Int(0, 3)};
      if (oscillator) {
        bank.properties.push_back(BankNodeProperty::Float(2, 80.0f));
        bank.properties.push_back(BankNodeProperty::Float(3, 0.0f));
        bank.properties.push_back(BankNodeProperty::Float(4, Frequency(i)));
        bank.properties.push_back(BankNodeProperty::Int(5, int32_t(Waveform(i))));
        bank.properties.push_back(BankNodeProperty::Float(6, 30.0f));
        bank.properties.push_back(BankNodeProperty::Float(7, 40.0f));
      } else {
        bank.properties.push_back(BankNodeProperty::Float(9, 0.02f + 0.001f * float(i % 7)));
        bank.properties.push_back(BankNodeProperty::Float(11, 0.03f));
        bank.properties.push_back(BankNodeProperty::Float(12, 50.0f));
        bank.properties.push_back(BankNodeProperty::Float(13, 0.5f));
        bank.properties.push_back(BankNodeProperty::Float(14, 0.2f));
      }
      const std::vector<uint8_t> payload = Tools::ModulatorPayload(bank);
      CSnModulatorObject* object = CSnModulatorObject::Create(bank.id, oscillator ? 0 : 1);
      if (!object || object->SetInitValues(payload.data() + 4, uint32_t(payload.size() - 4)) != SN_Success)
        std::abort();
      CSnModulatorInstance* instance = nullptr;
      if (object->Instantiate(SnModulatorInstantiationParams{}, list, &instance) != SN_Success) std::abort();
      instance->SetSamplesWanted(true);
      if (!instance->SamplesPerFrameWanted()) std::abort();
      objects.push_back(object);
    }
  }
  ~Modulators() {
    list.Term();
    for (CSnModulatorObject* object : objects) object->Release();
  }
};

inline float SinePoly(float x) {
  const float x2 = x * x;
  return ((((0.008306325f - 0.00018363654f * x2) * x2) - 0.16664828f) * x2 + 0.9999966f) * x;
}

// The same signals, one sample at a time over flat arrays.
struct Plain {
  std::vector<double> phase, increment;
  std::vector<float> a, b, y, depth, pulse;
  std::vector<uint32_t> waveform;
  std::vector<uint32_t> half, decay, release, releaseAt;
  std::vector<float> curve, sustain;
  std::vector<float> out;
  uint64_t elapsed = 0;

  Plain() : out(size_t(2 * kEach) * kFrame) {
    for (uint32_t i = 0; i < kEach; ++i) {
      const double f = Frequency(i);
      const double fc = 24000.0 * std::pow(2.0 * f / 48000.0, 0.3);
      const double c = 2.0 - std::cos(2.0 * M_PI * fc / 48000.0);
      const double k = c - std::sqrt(c * c - 1.0);
      waveform.push_back(Waveform(i));
      phase.push_back(Waveform(i) == 1 ? 0.25 : Waveform(i) == 3 ? 0.5 : 0.0);
      increment.push_back(Waveform(i) == 0 ? 2.0 * M_PI * f / 48000.0 : f / 48000.0);
      a.push_back(float(1.0 - k));
      b.push_back(float(-k));
      y.push_back(0.0f);
      depth.push_back(0.8f);
      pulse.push_back(0.4f);
      const uint32_t attack = uint32_t(std::lround((0.02 + 0.001 * ((kEach + i) % 7)) * 48000.0));
      half.push_back((attack / 2 + 2) & ~3u);
      decay.push_back(1440);
      release.push_back(9600);
      releaseAt.push_back(24000 + 1440 + attack);
      curve.push_back(0.005f);
      sustain.push_back(0.5f);
    }
  }

  void Frame() {
    elapsed += kFrame;
    for (uint32_t o = 0; o < kEach; ++o) {
      float* dst = &out[size_t(o) * kFrame];
      double p = phase[o];
      float last = y[o];
      const double period = waveform[o] == 0 ? double(6.2831855f) : 1.0;
      for (uint32_t i = 0; i < kFrame; ++i) {
        p += increment[o];
        if (p >= period) p -= period;
        float x;
        switch (waveform[o]) {
          case 0: {
            const float s = p < M_PI / 2 ? SinePoly(float(p))
                            : p < M_PI   ? SinePoly(float(M_PI - p))
                            : p < 1.5 * M_PI ? -SinePoly(float(p - M_PI))
                                             : -SinePoly(float(2.0 * M_PI - p));
            dst[i] = (1.0f + s) * 0.5f * depth[o];
            continue;
          }
          case 1: x = p < 0.5 ? float(2.0 * p) : float(2.0 * (1.0 - p)); break;
          case 2: x = p < pulse[o] ? 1.0f : 0.0f; break;
          case 3: x = float(p); break;
          default: x = float(1.0 - p); break;
        }
        last = a[o] * (x * depth[o]) - b[o] * last;
        dst[i] = last;
      }
      phase[o] = p;
      y[o] = last;
    }
    for (uint32_t e = 0; e < kEach; ++e) {
      float* dst = &out[size_t(kEach + e) * kFrame];
      const int64_t h = half[e], d = decay[e], r = release[e], at = releaseAt[e];
      const float c = curve[e], s = sustain[e];
      auto held = [&](int64_t t) {
        if (t < h) return c * float(t) / float(h);
        if (t < 2 * h) return c + (1.0f - c) * float(t - h) / float(h);
        if (t < 2 * h + d) return 1.0f + (s - 1.0f) * float(t - 2 * h) / float(d);
        return s;
      };
      const float fromLevel = held(at);
      for (uint32_t i = 0; i < kFrame; ++i) {
        const int64_t t = int64_t(elapsed - kFrame + i);
        dst[i] = t < at ? held(t) : t < at + r ? fromLevel * (1.0f - float(t - at) / float(r)) : 0.0f;
      }
    }
  }
};

void BM_ModulatorFrame(benchmark::State& state) {
  EngineScope engine;
  Modulators modulators;
  for (auto _ : state) {
    if (modulators.list.ProcessModulators(kFrame) != SN_Success) state.SkipWithError("the frame pass failed");
    benchmark::DoNotOptimize(modulators.list.Head()->Output()->value);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ModulatorFrame);

void BM_ModulatorFramePlain(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) {
    plain.Frame();
    benchmark::DoNotOptimize(plain.out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ModulatorFramePlain);

// ---- MIDI ----

constexpr uint32_t kPairs = 10000;
constexpr uint32_t kPairsPerFrame = 100;

// Note i: channel i % 16, a note of four octaves, on somewhere in its frame, off 500 to 1900 samples on.
SnMidiEvent NoteOn(uint32_t i) { return {SnMidi_NoteOn, uint8_t(i % 16), uint8_t(36 + (i * 7) % 48), 100}; }
SnMidiEvent NoteOff(uint32_t i) { return {SnMidi_NoteOff, uint8_t(i % 16), uint8_t(36 + (i * 7) % 48), 0}; }
uint32_t OnOffset(uint32_t i) { return (i % kPairsPerFrame) * 10; }
uint32_t OffOffset(uint32_t i) { return OnOffset(i) + 500 + (i % 3) * 700; }

// Each note makes one voice, which ends with the frame in which it is released, as a voice does.
struct CountingPlayback final : ISnMidiPlayback {
  uint32_t NodeCategory(CSnIndexedObject*) override { return 11; }
  void PlayNote(CSnMidiEventTarget&, const SnMidiEvent&, uint32_t, CSnMidiNoteState& note) override {
    const uintptr_t voice = notes.size() + 1;
    notes.push_back(&note);
    note.AddVoice(reinterpret_cast<CSnPlaybackInstance*>(voice * 64), CSnMidiNoteState::Voice_Release);
  }
  void ReleaseVoice(CSnPlaybackInstance* voice, uint32_t) override { ending.push_back(voice); }
  void StopVoice(CSnPlaybackInstance*) override {}
  void SetParameter(uint32_t, float, const SnRTPCKey&) override {}
  void ResetParameter(uint32_t, const SnRTPCKey&) override {}
  void EndFrame() {
    for (CSnPlaybackInstance* voice : ending) notes[reinterpret_cast<uintptr_t>(voice) / 64 - 1]->RemoveVoice(voice);
    releases += ending.size();
    ending.clear();
  }
  uint64_t releases = 0;
  std::vector<CSnMidiNoteState*> notes;
  std::vector<CSnPlaybackInstance*> ending;
};

void BM_MidiNotes(benchmark::State& state) {
  EngineScope engine;
  CSnRegisteredObj* object = PoolNew<CSnRegisteredObj>(g_DefaultPoolId, 1u);
  object->AddRef();
  CSnMidiEventTarget* target = CSnMidiEventTarget::Create(1, object, 0, nullptr);
  CountingPlayback playback;
  uint64_t plays = 0;
  for (auto _ : state) {
    playback.notes.clear();
    CSnMidiPlaybackContext context(playback);
    for (uint32_t first = 0; first < kPairs; first += kPairsPerFrame) {
      for (uint32_t i = first; i < first + kPairsPerFrame; ++i) {
        context.Schedule(*target, NoteOn(i), OnOffset(i));
        context.Schedule(*target, NoteOff(i), OffOffset(i));
      }
      context.Advance(1024);
      playback.EndFrame();
    }
    while (context.PendingCount(*target) || context.HeldCount()) {
      context.Advance(1024);
      playback.EndFrame();
    }
    context.EndTarget(*target);
    plays += playback.notes.size();
    benchmark::DoNotOptimize(playback.releases);
  }
  if (plays != playback.releases || plays != uint64_t(kPairs) * state.iterations())
    state.SkipWithError("not every note was played and released");
  target->Release();
  object->Release();
}
BENCHMARK(BM_MidiNotes)->Unit(benchmark::kMillisecond);

// The same schedule over one vector sorted by offset; a note-off pairs with the first open note-on.
void BM_MidiNotesPlain(benchmark::State& state) {
  struct Event {
    int32_t offset;
    SnMidiEvent event;
    bool played, paired;
  };
  uint64_t plays = 0, releases = 0;
  for (auto _ : state) {
    std::vector<Event> pending;
    auto insert = [&](const Event& e) {
      pending.insert(std::upper_bound(pending.begin(), pending.end(), e,
                                      [](const Event& a, const Event& b) { return a.offset < b.offset; }),
                     e);
    };
    auto advance = [&] {
      for (Event& e : pending) {
        if (!e.played) {
          if (e.event.IsNoteOn()) ++plays;
          e.played = true;
        }
        if (e.event.IsNoteOff() && e.offset < 1024) ++releases;
        e.offset = std::max(0, e.offset - 1024);
      }
      std::erase_if(pending, [](const Event& e) { return e.paired && (e.event.IsNoteOn() || e.offset == 0); });
    };
    for (uint32_t first = 0; first < kPairs; first += kPairsPerFrame) {
      for (uint32_t i = first; i < first + kPairsPerFrame; ++i) {
        insert({int32_t(OnOffset(i)), NoteOn(i), false, false});
        const SnMidiEvent off = NoteOff(i);
        auto partner = std::find_if(pending.begin(), pending.end(), [&](const Event& e) {
          return e.event.IsNoteOn() && !e.paired && e.event.channel == off.channel && e.event.data1 == off.data1;
        });
        if (partner == pending.end()) continue;
        partner->paired = true;
        insert({int32_t(OffOffset(i)), off, false, true});
      }
      advance();
    }
    while (!pending.empty()) advance();
    benchmark::DoNotOptimize(releases);
  }
  if (plays != releases || plays != uint64_t(kPairs) * state.iterations())
    state.SkipWithError("not every note was played and released");
}
BENCHMARK(BM_MidiNotesPlain)->Unit(benchmark::kMillisecond);

}  // namespace
