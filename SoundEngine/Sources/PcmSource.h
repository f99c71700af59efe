// PCM media in memory (a bank's or a prepared copy): buffers point straight into the media.
#pragma once

#include "SoundEngine/Sources/MediaSource.h"

namespace SN {

class CSnPcmSource final : public CSnMediaSource {
 public:
  using CSnMediaSource::CSnMediaSource;

  SNRESULT VirtualOff(uint32_t mode, bool seek) override;
  SNRESULT PrepareSource() override;
  void GetBuffer(SnVoiceBuffer& buffer) override;
  void RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) override;
  SNRESULT Seek() override;

 private:
  const uint8_t* m_pData = nullptr;
};

}  // namespace SN
