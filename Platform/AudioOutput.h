// Sound output of ours: a looping ring of interleaved 16-bit frames that the platform plays from,
// with a play cursor (where the platform reads) and a write cursor (the first byte it may still
// read before the next one is safe). Over an SDL playback device where one exists; otherwise, and
// under SDL's "dummy" driver, a null device whose play cursor follows the engine clock in whole
// frames. Opening, starting, writing and closing belong to one thread; an SDL device's callback
// only copies out of the ring and clears what it copied, so a writer that falls behind is heard as
// silence rather than as the ring's old frames.
// Beside it, two float modes for the other sink kinds: a pull mode whose frames the platform
// asks for on its own thread, and a push mode that queues frames on a device named by the caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

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

// Tests: every null device (of each mode below too) reports a lost device while set.
void SetNullAudioOutputsLost(bool lost);
bool NullAudioOutputsLost();
// Tests: null devices refuse more channels than this (0: any count, as after start-up).
void SetNullAudioOutputMaxChannels(uint32_t channels);

// Pull mode: the platform's own thread asks for interleaved float frames through `fill`. `fill`
// runs on that thread while the output plays: it may touch only atomics and the memory they hand
// over, and must write every frame asked (silence when it has none).
using AudioPullFill = void (*)(void* context, float* out, uint32_t frames);

class AudioPullOutput {
 public:
  virtual ~AudioPullOutput() = default;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // True once the platform has lost the device; it stays lost.
  virtual bool IsLost() = 0;
  // A null device's consumer: one pass of the platform's thread, run by the caller (tests stand in
  // for the platform's thread this way). Nothing while not started; an SDL device ignores it.
  virtual void Pull(float* out, uint32_t frames) = 0;
  uint32_t Channels() const { return m_channels; }
  uint32_t SampleRate() const { return m_sampleRate; }

 protected:
  AudioPullOutput(uint32_t sampleRate, uint32_t channels) : m_sampleRate(sampleRate), m_channels(channels) {}
  uint32_t m_sampleRate;
  uint32_t m_channels;
};

// The default device pulling float frames of `frameSamples` at a time, in the format as asked, or
// null. Under SDL's dummy driver only when tests asked for null pull devices.
AudioPullOutput* OpenAudioPullOutput(uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, AudioPullFill fill,
                                     void* context);
void CloseAudioPullOutput(AudioPullOutput* output);
// Tests: under the dummy driver, pull outputs open as null devices that the test's threads pull.
void SetNullAudioPullOutputs(bool enabled);

// Push mode on a named device: interleaved float frames queued in a ring of slots, each holding up
// to a unit of frames, that the platform's thread plays from. One thread queues (Reserve and
// Commit, or Queue); the platform's thread (or a test, through TakeQueued) takes.
class AudioQueueOutput {
 public:
  virtual ~AudioQueueOutput();
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  virtual bool IsLost() = 0;
  // The next slot, to be written in place with up to UnitFrames() frames and handed over by
  // Commit; null when every slot is still queued. Until Commit the same slot comes back.
  float* Reserve();
  // The reserved slot's first `frames` frames are queued (at most a unit).
  void Commit(uint32_t frames);
  // Appends `frames` frames through the slots; false when the ring would not take them all.
  bool Queue(const float* data, uint32_t frames);
  // Frames queued and not yet played. Any thread.
  uint32_t QueuedFrames() const;
  // A null device's listener (tests): takes what was queued, which then counts as played.
  virtual void TakeQueued(std::vector<float>& out) = 0;
  // A null device's listener that does not look (benchmarks): what was queued counts as played.
  virtual void PlayQueued() = 0;
  // The format the device settled on: the closest it plays to what was asked.
  uint32_t Channels() const { return m_channels; }
  uint32_t SampleRate() const { return m_sampleRate; }
  uint32_t UnitFrames() const { return m_unitFrames; }
  uint32_t SlotCount() const { return m_slotCount; }

 protected:
  AudioQueueOutput(uint32_t sampleRate, uint32_t channels) : m_sampleRate(sampleRate), m_channels(channels) {}
  // Once the format is settled: `slots` slots of `unitFrames` frames; false without memory.
  bool MakeRing(uint32_t slots, uint32_t unitFrames);
  // The platform's side: up to `frames` queued frames into `out` (null: passed over); the frames taken.
  uint32_t Take(float* out, uint32_t frames);
  uint32_t m_sampleRate;
  uint32_t m_channels;

 private:
  float* m_pRing = nullptr;
  uint32_t* m_pCounts = nullptr;  // frames in each slot, written before the slot is handed over
  uint32_t m_slotCount = 0;
  uint32_t m_unitFrames = 0;
  uint32_t m_writeSlot = 0;  // the queueing thread's
  uint32_t m_readSlot = 0;   // the platform's
  uint32_t m_readFrame = 0;  // the platform's
  std::atomic<uint32_t> m_filledSlots{0};
  std::atomic<uint32_t> m_queuedFrames{0};
};

// The device of that name (null or empty: the default one) for float frames; the platform may
// change the rate and the channel count. Its ring holds `slots` slots (8 at least) of one audio
// frame of `frameSamples` at `sampleRate` taken to the device's rate. Null when it will not open.
// Under SDL's dummy driver only when tests asked for null queue devices.
AudioQueueOutput* OpenAudioQueueOutput(const char* deviceName, uint32_t sampleRate, uint32_t channels,
                                       uint32_t frameSamples, uint32_t slots = 8);
void CloseAudioQueueOutput(AudioQueueOutput* output);
// Tests: under the dummy driver, queue outputs open as null devices that keep what they are given,
// settle on `sampleRate` and `channels` (0: as asked) and, when told, refuse to start.
void SetNullAudioQueueOutputs(bool enabled, uint32_t sampleRate = 0, uint32_t channels = 0, bool startFails = false);

}  // namespace Platform
