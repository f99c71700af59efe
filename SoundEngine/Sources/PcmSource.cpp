// The in-memory PCM source.
#include "SoundEngine/Sources/PcmSource.h"

namespace SN {

SNRESULT CSnPcmSource::PrepareSource() {
  const SNRESULT result = PrepareInMemory(kWaveFormatExtensible, m_pData);
  if (result != SN_Success) return result;
  return m_pInstance->Seek().pending ? Seek() : SN_Success;
}

void CSnPcmSource::GetBuffer(SnVoiceBuffer& buffer) {
  if (!m_pData) {
    buffer.Clear();
    buffer.result = SN_Failure;
    return;
  }
  const uint32_t limit = Limit();
  const uint32_t left = limit > m_position ? limit - m_position : 0;
  const uint32_t frames = buffer.maxFrames < left ? buffer.maxFrames : left;
  uint8_t* at = const_cast<uint8_t*>(m_pData) + size_t(m_position) * m_wave.blockAlign;
  PrepareBuffer(at, frames, buffer);
}

SNRESULT CSnPcmSource::Seek() {
  uint16_t remaining = m_loopCount;
  const uint32_t frame = ComputeSeekFrame(remaining);
  SnSeekRequest& seek = m_pInstance->Seek();
  seek.pending = false;
  seek.framesToDrop = 0;
  if (frame >= m_totalLength) return SN_Failure;
  m_position = frame;
  m_loopCount = remaining;
  return SN_Success;
}

SNRESULT CSnPcmSource::VirtualOff(uint32_t mode, bool seek) {
  if (mode == 0) {
    m_position = 0;
    m_loopCount = m_pInstance->LoopCount();
  } else if (mode == 1 && seek) {
    return Seek();
  }
  return SN_Success;
}

void CSnPcmSource::RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) {
  if (m_pData) m_pData = newBase + (m_pData - oldBase);
  if (m_pEnvelope) m_pEnvelope = newBase + (m_pEnvelope - oldBase);
}

}  // namespace SN
