// IMA-ADPCM media in memory: whole blocks decoded into a buffer of the default pool for each frame.
#pragma once

#include "SoundEngine/Sources/MediaSource.h"

namespace SN {

class CSnAdpcmSource final : public CSnMediaSource {
 public:
  using CSnMediaSource::CSnMediaSource;
  ~CSnAdpcmSource() override;

  void ReleaseBuffer() override;
  SNRESULT VirtualOff(uint32_t mode, bool seek) override;
  SNRESULT PrepareSource() override;
  void StopStream() override;
  void GetBuffer(SnVoiceBuffer& buffer) override;
  void RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) override;
  SNRESULT Seek() override;
  SNRESULT OnLoopOrEnd(bool isEnd) override;
  SNRESULT SkipFrames(uint32_t& frames) override;

 private:
  void PlaceCursor() { m_pCursor = m_pData + size_t(m_position / kAdpcmBlockFrames) * m_blockAlign; }

  const uint8_t* m_pCursor = nullptr;
  uint16_t m_blockAlign = 0;
  int16_t* m_pDecoded = nullptr;
  const uint8_t* m_pData = nullptr;
  bool m_stepIndexLogged = false;
};

// The frames a decode buffer holds: the frames of one audio frame, and at least one block (a motion
// voice asks for 8 frames at a time).
uint32_t AdpcmDecodeFrames(bool motion);
// Decodes `blocks` block groups of `channels` at `groups` into interleaved `out`; logs a step index
// past the table once per source (`logged`).
void DecodeAdpcmGroups(const uint8_t* groups, uint32_t blocks, uint32_t channels, int16_t* out, bool& logged);

}  // namespace SN
