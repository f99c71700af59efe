// The streamed PCM source: buffers point into the stream's buffers; a frame split between two stream
// buffers is put together in a carry buffer and delivered alone.

#include "SoundEngine/Sources/StreamedSources.h"

namespace SN {

namespace {
// A stream that keeps handing out buffers with nothing to play is given up on for this frame.
constexpr int kMostStreamBuffersPerCall = 64;
}  // namespace

CSnPcmStreamSource::~CSnPcmStreamSource() { CSnPcmStreamSource::StopStream(); }

void CSnPcmStreamSource::FrameToByteOffset(uint32_t frame, uint32_t& startFrame, uint64_t& byteOffset) const {
  startFrame = frame;
  byteOffset = uint64_t(frame) * m_wave.blockAlign + m_dataOffset;
}

void CSnPcmStreamSource::GetBuffer(SnVoiceBuffer& buffer) {
  m_delivered = 0;
  m_fromCarry = false;
  auto fail = [&](SNRESULT result) { EmptyBuffer(buffer, result); };
  if (!m_pStream || !(m_streamFlags & kHeaderProcessed)) return fail(SN_Failure);
  const SNRESULT buffering = CheckBuffering();
  if (buffering != SN_DataReady) return fail(buffering);
  const uint32_t frameBytes = m_wave.blockAlign;
  for (int taken = 0; taken <= kMostStreamBuffersPerCall;) {
    if (m_carried) {
      if (m_carried == frameBytes) {
        m_fromCarry = true;
        PrepareBuffer(m_pCarry, 1, buffer);
        return;
      }
      if (m_bytesLeft) {
        TopUpCarry(frameBytes);
        continue;
      }
    } else if (m_bytesLeft >= frameBytes) {
      const uint32_t limit = Limit();
      const uint32_t left = limit > m_position ? limit - m_position : 0;
      uint32_t frames = m_bytesLeft / frameBytes;
      if (frames > buffer.maxFrames) frames = buffer.maxFrames;
      if (frames > left) frames = left;
      m_delivered = frames * frameBytes;
      PrepareBuffer(const_cast<uint8_t*>(m_pBuffer + m_cursor), frames, buffer);
      return;
    } else if (m_bytesLeft) {
      if (!StartCarry(frameBytes)) return fail(SN_Failure);
      continue;
    }
    DropStreamBuffer();
    const SNRESULT next = NextStreamBuffer();
    ++taken;
    if (next == SN_NoMoreData) {
      // The stream has no more of the media: it ends here (a partial frame is dropped).
      m_carried = 0;
      m_position = m_totalLength;
      return fail(SN_NoMoreData);
    }
    if (next != SN_DataReady) return fail(next);
  }
  fail(SN_NoDataReady);
}

void CSnPcmStreamSource::ReleaseBuffer() {
  if (m_fromCarry) {
    m_carried = 0;
  } else if (m_delivered) {
    m_cursor += m_delivered;
    m_bytesLeft -= m_delivered;
    m_bytesConsumed += m_delivered;
    if (m_bytesLeft == 0) DropStreamBuffer();
  }
  m_fromCarry = false;
  m_delivered = 0;
}

void CSnPcmStreamSource::StopStream() {
  m_delivered = 0;
  CSnStreamedMediaSource::StopStream();
}

}  // namespace SN
