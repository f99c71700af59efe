// Sound output of ours: a looping ring of interleaved 16-bit frames that the platform plays from,
// with a play cursor (where the platform reads) and a write cursor (the first byte it may still
// read before the next one is safe). Over an SDL playback device where one exists; otherwise, and
// under SDL's "dummy" driver, a null device whose play cursor follows the engine clock in whole
// frames. Opening, starting, writing and closing belong to one thread; an SDL device's callback
// only copies out of the ring and clears what it copied, so a writer that falls behind is heard as
// silence rather than as the ring's old frames.
#pragma once

#include <cstdint>

namespace Platform {

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Begins playing the ring from its start; false when the platform refuses. An output already
  // playing goes on where it is.
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // Byte offsets into the ring; once playing they are never both 0. False when the device is lost
  // (an SDL device that stopped, or a null device told to report loss).
  virtual bool GetCursors(uint32_t& play, uint32_t& write) = 0;
  // Copies `bytes` into the ring from `offset`, going round the end.
  virtual void Write(uint32_t offset, const void* data, uint32_t bytes) = 0;
  // Bytes the platform has taken from the ring since Start, never wrapping: a writer whose own
  // count is below it was overtaken.
  virtual uint64_t PlayedBytes() = 0;

  uint32_t RingBytes() const { return m_ringBytes; }
  uint32_t Channels() const { return m_channels; }
  uint32_t SampleRate() const { return m_sampleRate; }
  bool IsNullDevice() const { return m_null; }

 protected:
  AudioOutput(uint32_t sampleRate, uint32_t channels, uint32_t ringBytes, bool null)
      : m_sampleRate(sampleRate), m_channels(channels), m_ringBytes(ringBytes), m_null(null) {}
  uint32_t m_sampleRate;
  uint32_t m_channels;
  uint32_t m_ringBytes;
  bool m_null;
};

// The channel count of the platform's default playback device: SDL's, or 2 for the null device.
uint32_t DefaultAudioOutputChannels();

// Opens a ring of `ringBytes` (whole frames of `frameSamples` x `channels` 16-bit samples) at
// `sampleRate`. The SDL device must take the format as asked, else it is refused (null); the null
// device takes anything. Null also when `channels` or the sizes are 0.
AudioOutput* OpenAudioOutput(uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, uint32_t ringBytes);
void CloseAudioOutput(AudioOutput* output);

// At the end of a thread that opened, played or polled an output: gives back what the platform
// library kept for that thread.
void EndAudioOutputThread();

// Tests: every null device reports a lost device while set.
void SetNullAudioOutputsLost(bool lost);
// Tests: null devices refuse more channels than this (0: any count, as after start-up).
void SetNullAudioOutputMaxChannels(uint32_t channels);

}  // namespace Platform
