// The float ring sink (kind 1): the audio thread fills ring slots of whole float frames and the
// platform's playback thread takes them, a slot at a time, from its own pass; a slot taken is a
// finished buffer. Every such sink renders in step with the fullest ring, and a sink made while the
// main output plays one starts with as many slots queued as the main one has.
// Audio thread, under the global audio lock, unless a function says otherwise; the playback
// thread touches only the atomics, the slots they hand over and its own read state.
#pragma once

#include <atomic>
#include <cstdint>

#include "SoundEngine/Lower/Output/Sink.h"

namespace Platform {
class AudioPullOutput;
}

namespace SN {

class CSnFloatRingSink final : public CSnSink {
 public:
  CSnFloatRingSink() : CSnSink(SnSinkKind_Engine) {}
  ~CSnFloatRingSink() override;

  // Speaker mask 0 takes the platform's channel count (7 or more: 7.1, 4 to 6: 5.1, else stereo).
  // 1, 2 when no output opens, 52 without memory.
  SNRESULT Init(uint32_t channelMask);

  void Term(SnMemPoolId pool) override;
  SNRESULT Play() override;
  // The frames the fullest ring of all float ring sinks can take; SN_Failure once this sink's
  // device is lost.
  SNRESULT IsDataNeeded(uint32_t& frames) override;
  bool IsStarved() override { return m_starved.load(std::memory_order_acquire); }
  void ResetStarved() override { m_starved.store(false, std::memory_order_release); }
  void WriteFrame() override;
  void WriteSilence() override;
  uint32_t GetWaitTime() override;

  uint32_t SlotCount() const { return m_slotCount; }
  uint32_t FilledSlots() const { return uint32_t(m_filled.load(std::memory_order_acquire)); }
  // Playback thread (or before playing): slots handed to the platform and not yet taken.
  uint32_t QueuedSlots() const { return m_queued; }
  uint32_t WriteIndex() const { return m_writeIndex; }
  Platform::AudioPullOutput* Output() const { return m_pOutput; }

 private:
  // Playback thread: a pass asking for `frames` frames.
  static void Fill(void* context, float* out, uint32_t frames);
  // Playback thread: filled slots handed over, starvation seen.
  void Submit();
  float* Slot(uint32_t index) const { return m_pRing + size_t(index) * m_slotSamples; }
  // The frame (in the frame buffer's layout) into the slot at the write index, then counted.
  void Commit(bool silent);

  CSnFloatRingSink* m_pNextRing = nullptr;
  uint32_t m_channels = 0;
  Platform::AudioPullOutput* m_pOutput = nullptr;
  float* m_pRing = nullptr;  // lower-engine pool, zeroed
  uint32_t m_slotCount = 0;
  uint32_t m_slotSamples = 0;  // channels x samples per frame
  uint32_t m_frameSamples = 0;
  uint32_t m_sinkBuffers = 0;
  uint32_t m_writeIndex = 0;
  // Filled by the audio thread and not yet taken by the platform.
  std::atomic<int32_t> m_filled{0};
  // The playback thread's own.
  uint32_t m_submitIndex = 0;
  uint32_t m_readIndex = 0;
  uint32_t m_readFrame = 0;
  uint32_t m_queued = 0;
  bool m_playedAny = false;
  std::atomic<bool> m_starved{false};
  bool m_lost = false;
};

CSnSink* CreateFloatRingSink(uint32_t channelMask);

}  // namespace SN
