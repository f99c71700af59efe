// The in-memory IMA-ADPCM source.
#include "SoundEngine/Sources/AdpcmSource.h"

#include "Base/Assert.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Sources/ImaAdpcm.h"

namespace SN {

uint32_t AdpcmDecodeFrames(bool motion) {
  const uint32_t frames = motion ? 8 : LowerEngine::SamplesPerFrame();
  return frames < kAdpcmBlockFrames ? kAdpcmBlockFrames : frames;
}

void DecodeAdpcmGroups(const uint8_t* groups, uint32_t blocks, uint32_t channels, int16_t* out, bool& logged) {
  bool clamped = false;
  if (channels == 2)
    clamped = DecodeImaAdpcmStereoGroups(groups, out, blocks);
  else
    for (uint32_t c = 0; c < channels; ++c)
      clamped |= DecodeImaAdpcmBlocks(groups + kAdpcmBlockBytes * c, out + c, blocks, kAdpcmBlockBytes * channels,
                                      channels);
  if (clamped && !logged) {
    SOUND_LOG(Warning, "ADPCM media: a block's step index lies past 88; taken as 88");
    logged = true;
  }
}

CSnAdpcmSource::~CSnAdpcmSource() { ReleaseBuffer(); }

SNRESULT CSnAdpcmSource::PrepareSource() {
  const SNRESULT result = PrepareInMemory(kWaveFormatImaAdpcm, m_pData);
  if (result != SN_Success) return result;
  m_blockAlign = m_wave.blockAlign;
  m_pCursor = m_pData;
  return m_pInstance->Seek().pending ? Seek() : SN_Success;
}

void CSnAdpcmSource::GetBuffer(SnVoiceBuffer& buffer) {
  if (!m_pData) {
    buffer.Clear();
    buffer.result = SN_Failure;
    return;
  }
  const uint32_t capacity = AdpcmDecodeFrames(m_pInstance->IsMotion());
  const uint32_t channels = m_wave.channels;
  if (!m_pDecoded) {
    m_pDecoded = static_cast<int16_t*>(
        MemoryMgr::Malign(g_DefaultPoolId, size_t(capacity) * channels * sizeof(int16_t), 16));
    if (!m_pDecoded) {
      buffer.Clear();
      buffer.result = SN_Failure;
      return;
    }
  }
  if (m_position % kAdpcmBlockFrames) ResumeOnBlock();
  ORV_ASSERT(m_pCursor == m_pData + size_t(m_position / kAdpcmBlockFrames) * m_blockAlign);
  const uint32_t limit = Limit();
  const uint32_t left = limit > m_position ? limit - m_position : 0;
  uint32_t frames = buffer.maxFrames < left ? buffer.maxFrames : left;
  if (frames < kAdpcmBlockFrames && left >= kAdpcmBlockFrames) frames = kAdpcmBlockFrames;
  if (frames > capacity) frames = capacity;
  const uint32_t blocks = frames / kAdpcmBlockFrames;
  DecodeAdpcmGroups(m_pCursor, blocks, channels, m_pDecoded, m_stepIndexLogged);
  m_pCursor += size_t(blocks) * m_blockAlign;
  PrepareBuffer(m_pDecoded, blocks * kAdpcmBlockFrames, buffer);
}

void CSnAdpcmSource::ReleaseBuffer() {
  if (m_pDecoded) MemoryMgr::Falign(g_DefaultPoolId, m_pDecoded);
  m_pDecoded = nullptr;
}

void CSnAdpcmSource::StopStream() {
  ReleaseBuffer();
  CSnMediaSource::StopStream();
}

SNRESULT CSnAdpcmSource::OnLoopOrEnd(bool isEnd) {
  const SNRESULT result = CSnMediaSource::OnLoopOrEnd(isEnd);
  PlaceCursor();
  return result;
}

SNRESULT CSnAdpcmSource::Seek() {
  uint16_t remaining = m_loopCount;
  const uint32_t frame = ComputeSeekFrame(remaining);
  SnSeekRequest& seek = m_pInstance->Seek();
  seek.pending = false;
  const uint32_t position = frame - frame % kAdpcmBlockFrames;
  if (position >= m_totalLength) {
    seek.framesToDrop = 0;
    return SN_Failure;
  }
  seek.framesToDrop = frame % kAdpcmBlockFrames;
  m_position = position;
  m_loopCount = remaining;
  PlaceCursor();
  return SN_Success;
}

SNRESULT CSnAdpcmSource::SkipFrames(uint32_t& frames) {
  const SNRESULT result = CSnMediaSource::SkipFrames(frames);
  PlaceCursor();
  return result;
}

void CSnAdpcmSource::ResumeOnBlock() {
  const uint32_t into = m_position % kAdpcmBlockFrames;
  if (into) {
    m_position -= into;
    m_pInstance->Seek().framesToDrop = into;
  }
  PlaceCursor();
}

SNRESULT CSnAdpcmSource::VirtualOff(uint32_t mode, bool seek) {
  if (mode == 0) {
    m_position = 0;
    m_loopCount = m_pInstance->LoopCount();
    PlaceCursor();
  } else if (mode == 1 && seek) {
    return Seek();
  } else {
    ResumeOnBlock();  // resumed, or refreshed where it was skipped to
  }
  return SN_Success;
}

void CSnAdpcmSource::RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) {
  if (m_pData) m_pData = newBase + (m_pData - oldBase);
  if (m_pCursor) m_pCursor = newBase + (m_pCursor - oldBase);
  if (m_pEnvelope) m_pEnvelope = newBase + (m_pEnvelope - oldBase);
}

}  // namespace SN
