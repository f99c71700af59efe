// The base of the PCM and ADPCM sources: position, length, loop region and passes, markers, duration,
// seeking into loops, the loudness envelope, and the preparation of each buffer.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/MarkerList.h"
#include "SoundEngine/Sources/MediaHeader.h"
#include "SoundEngine/Sources/VoiceSource.h"

namespace SN {

// Where `offset` frames of play land in a media of loop [begin, end] played `count` times (0 for
// ever): the position and the passes still to play.
void MapOffsetIntoLoops(uint32_t offset, uint32_t begin, uint32_t end, uint16_t count, uint32_t& position,
                        uint16_t& remaining);

class CSnMediaSource : public CSnVoiceSource {
 public:
  explicit CSnMediaSource(ISnSourceInstance* instance);
  ~CSnMediaSource() override;

  SNRESULT SkipFrames(uint32_t& frames) override;
  SNRESULT ApplyPendingSeek() override;
  void StopStream() override;
  float GetDuration() const override;
  int64_t FramesLeft() const override;
  SNRESULT StopLooping() override;
  bool IsMediaSource() const override { return true; }
  float GetEnvelopeDb(uint32_t frames) override;
  uint32_t GetSampleRate() const override { return m_format.sampleRate; }
  SnMediaFormat MediaFormat() const override { return m_format; }
  virtual SNRESULT OnLoopOrEnd(bool isEnd);

  uint32_t TotalLength() const { return m_totalLength; }
  uint32_t Position() const { return m_position; }
  uint32_t LoopBegin() const { return m_loopBegin; }
  uint32_t LoopEnd() const { return m_loopEnd; }
  uint16_t LoopCount() const { return m_loopCount; }
  const SnMediaFormat& Format() const { return m_format; }
  const CSnMarkerList& Markers() const { return m_markers; }

 protected:
  bool Looping() const { return m_loopCount != 1; }
  // The frame the instance's seek asks for, mapped into the loops; `remaining` the passes left then.
  uint32_t ComputeSeekFrame(uint16_t& remaining);
  // Fills the buffer with `count` frames at `data` and moves on: 45, 17 at the end, 46 for none.
  void PrepareBuffer(void* data, uint32_t count, SnVoiceBuffer& buffer);
  // The last frame + 1 a buffer may reach: the loop's while passes remain, else the media's.
  uint32_t Limit() const { return Looping() ? m_loopEnd + 1 : m_totalLength; }
  // The envelope's point count, held to what its chunk carries.
  uint32_t EnvelopePoints() const;
  // Parses the header of in-memory or first-buffer bytes: the format checked and written to the
  // instance, the envelope taken. SN_MalformedMedia (7) when it is not playable by `formatTag`.
  SNRESULT ReadHeader(const uint8_t* data, uint32_t size, uint16_t formatTag);
  // The total length in frames of `dataBytes` of data: whole frames, or whole ADPCM block groups.
  uint32_t FramesIn(uint32_t dataBytes) const;
  // Length and loop region from the header: the loop end defaults to the last frame; ADPCM loops
  // keep to whole blocks. SN_Failure when the loop lies outside the media.
  SNRESULT SetUpLength();
  // Preparation from the instance's media in memory; `data` the first data byte.
  SNRESULT PrepareInMemory(uint16_t formatTag, const uint8_t*& data);
  bool IsAdpcm() const { return m_wave.formatTag == kWaveFormatImaAdpcm; }

  uint32_t m_totalLength = 0;
  uint32_t m_position = 0;
  uint32_t m_dataSize = 0;
  uint32_t m_dataOffset = 0;
  uint32_t m_loopBegin = 0;
  uint32_t m_loopEnd = 0;
  CSnMarkerList m_markers;
  uint32_t m_envelopePoint = 0;
  uint16_t m_loopCount = 1;
  SnMediaFormat m_format;
  SnWaveFormat m_wave;
  uint32_t m_envelopeSize = 0;
};

}  // namespace SN
