// The root of every voice source: the operations the source stage calls (in the order of the source
// interface), the playback instance it plays for, its envelope and its flags; the codec form a
// registered codec's source takes; and the factory that makes a playback instance's source.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/SourceInstance.h"

namespace SN {

class CSnLoadedBank;

class CSnVoiceSource {
 public:
  static constexpr uint8_t kPrepared = 0x1;
  static constexpr uint8_t kWaitForBuffering = 0x2;
  // Made by the factory in a block it keeps for the next source when this one is destroyed.
  static constexpr uint8_t kKeptBlock = 0x80;

  explicit CSnVoiceSource(ISnSourceInstance* instance) : m_pInstance(instance) {}
  virtual ~CSnVoiceSource() = default;
  CSnVoiceSource(const CSnVoiceSource&) = delete;
  CSnVoiceSource& operator=(const CSnVoiceSource&) = delete;

  // The stage is done with the last buffer.
  virtual void ReleaseBuffer() {}
  // Moves on without producing (a virtual voice): frames asked in, frames granted out.
  virtual SNRESULT SkipFrames(uint32_t& frames) {
    (void)frames;
    return SN_DataReady;
  }
  virtual SNRESULT VirtualOn(uint32_t mode) {
    (void)mode;
    return SN_Success;
  }
  // Mode 0 from the beginning, 1 resume (seeking when asked), 2 refresh.
  virtual SNRESULT VirtualOff(uint32_t mode, bool seek) {
    (void)mode;
    (void)seek;
    return SN_Success;
  }
  // Seeks when the instance holds a seek, else SN_Success.
  virtual SNRESULT ApplyPendingSeek() { return SN_Success; }
  virtual float GetPitch() const { return m_pInstance ? m_pInstance->PitchCents() : 0.0f; }
  // Once before the first buffer: SN_Success, 63 not ready yet, or a failure.
  virtual SNRESULT PrepareSource() = 0;
  virtual void StopStream() {}
  virtual void GetBuffer(SnVoiceBuffer& buffer) = 0;
  virtual float GetDuration() const { return 0.0f; }  // ms
  // The frames it will still hand the stage at its own rate, or -1 when it cannot tell (a loop
  // without end, a plug-in).
  virtual int64_t FramesLeft() const { return -1; }
  virtual SNRESULT StopLooping() { return SN_Success; }
  virtual bool IsMediaSource() const { return false; }
  // Pointers into media that moved from `oldBase` to `newBase` follow it.
  virtual void RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) {
    (void)newBase;
    (void)oldBase;
  }
  virtual bool UsesPrefetchedEnvelope() const { return false; }
  virtual SNRESULT Seek() { return SN_Success; }
  virtual float GetEnvelopeDb(uint32_t frames) {
    (void)frames;
    return 0.0f;
  }
  virtual uint32_t GetSampleRate() const { return 0; }
  // The format the source wrote to its instance when it was prepared.
  virtual SnMediaFormat MediaFormat() const { return SnMediaFormat{}; }
  // As the pipeline's voice source asks it (Lower/Pipeline/VoiceSource.h).
  virtual bool HoldsPluginMedia(const CSnLoadedBank* bank, const void* data) const {
    (void)bank, (void)data;
    return false;
  }
  virtual void RelocatePluginMedia(const CSnLoadedBank* bank) { (void)bank; }

  bool IsPrepared() const { return m_flags & kPrepared; }
  ISnSourceInstance* Instance() const { return m_pInstance; }
  // Sources live in the lower engine's pool.
  void Destroy();
  // The factory's: the block is one it keeps.
  void MarkKeptBlock() { m_flags |= kKeptBlock; }

 protected:
  ISnSourceInstance* m_pInstance;
  const uint8_t* m_pEnvelope = nullptr;  // the "akd " body, or null
  uint8_t m_flags = 0;
};

// The source of a codec a game registered: made by the registry's factory with the playback instance
// as its context.
class ISnSoftwareCodec : public CSnVoiceSource {
 public:
  using CSnVoiceSource::CSnVoiceSource;
};

// The playback instance's source, from its descriptor's storage and codec: null (and the voice
// detached from the instance) when refused or out of memory.
CSnVoiceSource* CreateVoiceSource(ISnSourceInstance* instance);

}  // namespace SN
