// The signals of the two modulator kinds: the oscillator's setup and per-frame generation, and the
// envelope's levels by time. Plain functions over the records of ModulatorTypes.h, audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Modulators/ModulatorTypes.h"

namespace SN {

// Sets the filter coefficients and the increment for `frequency` (held to [0, rate / 2]) and
// `smoothing`. With `initialPhaseDegrees` the phase starts there; without it a change between the
// sine and another waveform rescales the running phase to the new period.
void SetupOscillator(SnOscillatorState& state, uint32_t waveform, float frequency, float smoothing,
                     const float* initialPhaseDegrees);

// One frame of `frameSamples` that ends at `elapsed` samples of the instance's life. With `buffer`
// every sample is written, else only the last one is computed; either way `output.value` is the last.
void GenerateOscillator(SnOscillatorState& state, const SnOscillatorParams& params, uint64_t elapsed,
                        uint32_t frameSamples, float* buffer, SnModulatorOutput& output);

// The envelope's frame, from the instance's times alone. `releaseStart` counts samples from the
// instance's start (kModulatorNever: the sustain holds until a release is scheduled).
void GenerateEnvelope(const SnEnvelopeParams& params, uint32_t releaseStart, uint64_t elapsed, uint32_t frameSamples,
                      float* buffer, SnModulatorOutput& output);

// The period of the waveform's phase: 2 pi as a float for the sine, one cycle for the others.
double OscillatorPeriod(uint32_t waveform);

}  // namespace SN
