// The streamed ADPCM source: whole block groups decoded straight from the stream's buffers; a group
// split between two buffers is put together in a carry buffer and decoded first.
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/StreamedSources.h"

namespace SN {

namespace {
constexpr int kMostStreamBuffersPerCall = 64;
}  // namespace

CSnAdpcmStreamSource::~CSnAdpcmStreamSource() { CSnAdpcmStreamSource::StopStream(); }

void CSnAdpcmStreamSource::FrameToByteOffset(uint32_t frame, uint32_t& startFrame, uint64_t& byteOffset) const {
  startFrame = frame - frame % kAdpcmBlockFrames;
  byteOffset = uint64_t(frame / kAdpcmBlockFrames) * m_wave.blockAlign + m_dataOffset;
}

void CSnAdpcmStreamSource::GetBuffer(SnVoiceBuffer& buffer) {
  auto fail = [&](SNRESULT result) { EmptyBuffer(buffer, result); };
  if (!m_pStream || !(m_streamFlags & kHeaderProcessed)) return fail(SN_Failure);
  const SNRESULT buffering = CheckBuffering();
  if (buffering != SN_DataReady) return fail(buffering);
  const uint32_t channels = m_wave.channels, groupBytes = m_wave.blockAlign;
  const uint32_t capacity = AdpcmDecodeFrames(m_pInstance->IsMotion());
  if (!m_pDecoded)
    m_pDecoded = static_cast<int16_t*>(
        MemoryMgr::Malign(g_DefaultPoolId, size_t(capacity) * channels * sizeof(int16_t), 16));
  if (!m_pDecoded) return fail(SN_Failure);
  const uint32_t limit = Limit();
  uint32_t frames = limit > m_position ? limit - m_position : 0;
  if (frames > buffer.maxFrames && buffer.maxFrames >= kAdpcmBlockFrames) frames = buffer.maxFrames;
  if (frames > capacity) frames = capacity;
  const uint32_t wanted = frames / kAdpcmBlockFrames ? frames / kAdpcmBlockFrames : 1;
  uint32_t produced = 0;
  for (int taken = 0; produced < wanted;) {
    int16_t* out = m_pDecoded + size_t(produced) * kAdpcmBlockFrames * channels;
    if (m_carried) {
      if (m_carried == groupBytes) {
        DecodeAdpcmGroups(m_pCarry, 1, channels, out, m_stepIndexLogged);
        m_carried = 0;
        ++produced;
        continue;
      }
      if (m_bytesLeft) {
        TopUpCarry(groupBytes);
        continue;
      }
    } else if (m_bytesLeft >= groupBytes) {
      uint32_t groups = m_bytesLeft / groupBytes;
      if (groups > wanted - produced) groups = wanted - produced;
      DecodeAdpcmGroups(m_pBuffer + m_cursor, groups, channels, out, m_stepIndexLogged);
      m_cursor += groups * groupBytes;
      m_bytesLeft -= groups * groupBytes;
      m_bytesConsumed += groups * groupBytes;
      produced += groups;
      continue;
    } else if (m_bytesLeft) {
      if (!StartCarry(groupBytes)) return fail(SN_Failure);
      continue;
    }
    if (produced) break;  // what is decoded goes out now rather than wait on the stream
    DropStreamBuffer();
    if (++taken > kMostStreamBuffersPerCall) return fail(SN_NoDataReady);
    const SNRESULT next = NextStreamBuffer();
    if (next == SN_NoMoreData) {
      m_carried = 0;
      m_position = m_totalLength;
      return fail(SN_NoMoreData);
    }
    if (next != SN_DataReady) return fail(next);
  }
  if (m_bytesLeft == 0) DropStreamBuffer();
  PrepareBuffer(m_pDecoded, produced * kAdpcmBlockFrames, buffer);
}

void CSnAdpcmStreamSource::ReleaseBuffer() {
  if (m_pDecoded) MemoryMgr::Falign(g_DefaultPoolId, m_pDecoded);
  m_pDecoded = nullptr;
}

void CSnAdpcmStreamSource::StopStream() {
  ReleaseBuffer();
  CSnStreamedMediaSource::StopStream();
}

}  // namespace SN
