// The records modulators share between their objects, their per-key instances and the frame pass:
// kinds, states, the parameter blocks each kind copies into a job, and the output record of a frame.
#pragma once

#include <cstdint>

namespace SN {

class CSnRegisteredObj;
class CSnPlaybackInstance;
class CSnIndexedObject;

enum SnModulatorKind : uint32_t { SnModulator_Oscillator = 0, SnModulator_Envelope = 1, SnModulator_KindCount = 2 };

enum SnModulatorState : uint32_t {
  SnModulatorState_Running = 1,
  SnModulatorState_Releasing = 2,
  SnModulatorState_Finished = 3,
};

enum SnModulatorScope : uint32_t {
  SnModulatorScope_PlaybackInstance = 0,
  SnModulatorScope_Note = 1,
  SnModulatorScope_GameObject = 2,
  SnModulatorScope_Global = 3,
};

enum SnWaveform : uint32_t {
  SnWaveform_Sine = 0,
  SnWaveform_Triangle = 1,
  SnWaveform_Square = 2,
  SnWaveform_RisingRamp = 3,
  SnWaveform_FallingRamp = 4,
};

// A release start or end frame that never comes.
constexpr uint32_t kModulatorNever = 0x7FFFFFFF;
// Sample counts stop one short of "never", so that no time, however long, turns into it.
constexpr uint32_t kModulatorMaxSamples = 0x7FFFFFFE;
// Oscillators are set up at this rate whatever the engine's output rate.
constexpr float kOscillatorSetupRate = 48000.0f;

// MIDI status bytes the modulators look at.
constexpr uint8_t kMidiNoteOff = 0x80;
constexpr uint8_t kMidiNoteOn = 0x90;
constexpr uint8_t kMidiKeyPressure = 0xA0;

struct SnModulatorMidiEvent {
  uint8_t status = 0;  // 0: no event
  uint8_t channel = 0;
  uint8_t note = 0;
  uint8_t velocity = 0;
};

// What a voice or effect hands over when it instantiates the modulators that drive it.
struct SnModulatorInstantiationParams {
  CSnRegisteredObj* gameObject = nullptr;
  SnModulatorMidiEvent midi;
  // A counted record shared by the instances a trigger made (the nodes it set going); may be null.
  void* sharedRecord = nullptr;
  uint32_t midiTargetId = 0;
  uint32_t playingId = 0;
  // 1: create or restart; 3: restart only (an envelope without a trigger of its own); 0: no new
  // instance unless the scope is per playback instance.
  int32_t mode = 1;
  CSnPlaybackInstance* playbackInstance = nullptr;
  // The envelope's level scale: the level it starts from, clamped to [0, 1].
  float levelScale = 0.0f;
  // Where in the frame the trigger lies (samples).
  uint32_t frameOffset = 0;
  // The node the trigger played, which a per-note instance stops when it ends; may be null.
  CSnIndexedObject* node = nullptr;
};

// The state an oscillator carries from sample to sample and frame to frame. The phase is kept in
// double precision: a float phase drifts audibly over minutes of a slow LFO.
struct alignas(16) SnOscillatorState {
  double phase = 0.0;
  double increment = 0.0;
  float previous = 0.0f;  // the smoothing filter's last output
  float a = 1.0f;         // y[n] = a x[n] - b y[n-1]
  float b = 0.0f;
  uint32_t waveform = 0;  // the waveform of the last setup
};

struct SnOscillatorParams {
  float depth = 0.01f;          // 0..1
  uint32_t fadeInSamples = 0;
  uint32_t waveform = 0;
  float frequency = 1.0f;       // hertz
  float smoothing = 0.0f;       // 0..1
  float pulseWidth = 0.0f;      // 0..1
};

struct SnEnvelopeParams {
  uint32_t attackSamples = 0;
  uint32_t decaySamples = 0;
  uint32_t releaseSamples = 0;
  float curve = 0.005f;         // the level at the middle of the attack
  float sustain = 0.003f;
  float levelScale = 0.0f;      // the level a restart begins at
  uint32_t startOffset = 0;     // the trigger's place in its first frame
};

// What one job leaves for the frame's readers.
struct alignas(16) SnModulatorOutput {
  float* samples = nullptr;     // the job's slice, null when only the value was asked for
  int32_t state = -1;           // -1: no change; SnModulatorState_Finished when the envelope ended
  float value = 0.0f;           // the value at the frame's last sample
  float peak = 0.0f;            // the largest value of the frame (envelopes)
};

}  // namespace SN
