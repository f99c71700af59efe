// Media read through an automatic stream: the streamed base (the stream, the current stream buffer,
// loops issued to the stream ahead of playback, prefetched first bytes) and its PCM and ADPCM forms,
// which carry a frame or block group split between two stream buffers.
#pragma once

#include "SoundEngine/Sources/MediaSource.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

class CSnStreamedMediaSource : public CSnMediaSource {
 public:
  static constexpr uint8_t kLoopEndReached = 0x1;
  static constexpr uint8_t kUsingPrefetch = 0x2;
  static constexpr uint8_t kHeaderProcessed = 0x4;
  static constexpr uint8_t kMediaMayMove = 0x8;
  static constexpr uint8_t kEnvelopeNotOwned = 0x10;
  static constexpr uint8_t kSkippedWhileVirtual = 0x20;

  using CSnMediaSource::CSnMediaSource;
  ~CSnStreamedMediaSource() override;

  SNRESULT VirtualOn(uint32_t mode) override;
  // Skipping moves the position only: the stream is moved there when the voice comes back.
  SNRESULT SkipFrames(uint32_t& frames) override;
  SNRESULT VirtualOff(uint32_t mode, bool seek) override;
  SNRESULT PrepareSource() override;
  void StopStream() override;
  SNRESULT StopLooping() override;
  void RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) override;
  bool UsesPrefetchedEnvelope() const override { return m_streamFlags & kEnvelopeNotOwned; }
  SNRESULT Seek() override;
  SNRESULT OnLoopOrEnd(bool isEnd) override;

  // The header from the first bytes: format, length and the loop region in bytes.
  virtual SNRESULT ParseHeader(const uint8_t* data, uint32_t size);
  // The frame a read can begin at (whole blocks for ADPCM) and its byte offset in the file.
  virtual void FrameToByteOffset(uint32_t frame, uint32_t& startFrame, uint64_t& byteOffset) const = 0;
  // Bytes a millisecond of play reads.
  virtual float Throughput() const = 0;

 protected:
  SNRESULT CreateStream();
  SNRESULT TakeFirstBuffer();
  // The bytes of a new stream buffer (or the prefetch) at file offset `filePosition`: skips what is
  // to be skipped and cuts it at the limit, issuing the next loop to the stream there.
  SNRESULT AdvanceInStream(const uint8_t* data, uint32_t size, uint64_t filePosition, uint32_t skip);
  // A frame or block group split between two stream buffers is put together in the carry buffer:
  // the rest of the current buffer begins it (false without memory), the next buffers complete it.
  bool StartCarry(uint32_t unitBytes);
  void TopUpCarry(uint32_t unitBytes);
  void ClearCarry() { m_carried = 0; }
  // A buffer with no frames and `result`.
  static void EmptyBuffer(SnVoiceBuffer& buffer, SNRESULT result);
  // 45 data ready, 46 still filling (the wait-for-buffering flag).
  SNRESULT CheckBuffering();
  // The next stream buffer when the current one is used up: 45, 46 (not there yet), 17 or 2.
  SNRESULT NextStreamBuffer();
  // SN_Failure for a stream that gives nothing more before the data's end (a file cut short, a read
  // that failed): the sound ends there, and says so once.
  SNRESULT EndedEarly(uint64_t at);
  // Gives the current stream buffer back (or ends the prefetch use).
  void DropStreamBuffer();
  // Moves the stream to `frame` for a seek or a voice coming back: SN_Failure past the end.
  SNRESULT RepositionAt(uint32_t frame);
  bool LastPass() const { return m_loopCount != 0 && uint32_t(m_loopsIssued) + 1 >= m_loopCount; }
  // The end of the whole frames of data in the file.
  uint64_t DataEnd() const {
    return uint64_t(m_dataOffset) + uint64_t(FramesIn(m_dataSize) / FramesPerUnit()) * m_wave.blockAlign;
  }
  uint32_t FramesPerUnit() const { return IsAdpcm() ? kAdpcmBlockFrames : 1; }
  void SetStreamLoop();
  SNRESULT CopyEnvelope();

  ISnAutomaticStream* m_pStream = nullptr;
  uint32_t m_cursor = 0;
  uint32_t m_bytesLeft = 0;
  uint64_t m_bytesConsumed = 0;
  uint64_t m_streamPosition = 0;  // file offset of the current buffer
  uint64_t m_nextPosition = 0;    // file offset of the next stream buffer
  uint32_t m_bytesToSkip = 0;
  uint64_t m_loopBeginBytes = 0;
  uint64_t m_loopEndBytes = 0;
  uint16_t m_loopsIssued = 0;
  uint8_t m_streamFlags = 0;
  const uint8_t* m_pBuffer = nullptr;  // the current stream buffer (or the prefetch)
  bool m_holdsStreamBuffer = false;
  uint8_t* m_pOwnedEnvelope = nullptr;
  bool m_starvationSeen = false;
  bool m_earlyEndSaid = false;
  uint16_t m_formatTag = 0;  // what the codec reads
  uint8_t* m_pCarry = nullptr;
  uint32_t m_carried = 0;
};

class CSnPcmStreamSource final : public CSnStreamedMediaSource {
 public:
  explicit CSnPcmStreamSource(ISnSourceInstance* instance) : CSnStreamedMediaSource(instance) {
    m_formatTag = kWaveFormatExtensible;
  }
  ~CSnPcmStreamSource() override;

  void ReleaseBuffer() override;
  void StopStream() override;
  void GetBuffer(SnVoiceBuffer& buffer) override;
  void FrameToByteOffset(uint32_t frame, uint32_t& startFrame, uint64_t& byteOffset) const override;
  float Throughput() const override { return float(m_wave.blockAlign) * float(m_wave.sampleRate) * 0.001f; }

 private:
  uint32_t m_delivered = 0;  // bytes of the buffer handed out, consumed at ReleaseBuffer
  bool m_fromCarry = false;
};

class CSnAdpcmStreamSource final : public CSnStreamedMediaSource {
 public:
  explicit CSnAdpcmStreamSource(ISnSourceInstance* instance) : CSnStreamedMediaSource(instance) {
    m_formatTag = kWaveFormatImaAdpcm;
  }
  ~CSnAdpcmStreamSource() override;

  void ReleaseBuffer() override;
  void StopStream() override;
  void GetBuffer(SnVoiceBuffer& buffer) override;
  void FrameToByteOffset(uint32_t frame, uint32_t& startFrame, uint64_t& byteOffset) const override;
  float Throughput() const override {
    return float(m_wave.channels) * float(m_wave.sampleRate) * 36.0f / 64.0f / 1000.0f;
  }

 private:
  int16_t* m_pDecoded = nullptr;
  bool m_stepIndexLogged = false;
};

}  // namespace SN
