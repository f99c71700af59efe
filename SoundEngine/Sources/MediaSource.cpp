// Position, loops, seeking, markers and envelope of media sources.
#include "SoundEngine/Sources/MediaSource.h"

#include <cmath>
#include <cstring>

#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"

namespace SN {

void MapOffsetIntoLoops(uint32_t offset, uint32_t begin, uint32_t end, uint16_t count, uint32_t& position,
                        uint16_t& remaining) {
  remaining = count;
  position = offset;
  if (count == 1 || offset <= end || end <= begin) return;
  const uint32_t length = end - begin + 1;
  const uint32_t passes = (offset - begin) / length;
  const uint32_t rest = (offset - begin) % length;
  if (count == 0) {
    remaining = 0;
    position = begin + rest;
  } else if (passes < count) {
    remaining = uint16_t(count - passes);
    position = begin + rest;
  } else {
    position = uint32_t(offset - uint64_t(count - 1) * length);
    remaining = 1;
  }
}

CSnMediaSource::CSnMediaSource(ISnSourceInstance* instance) : CSnVoiceSource(instance) {
  m_loopCount = instance ? instance->LoopCount() : 1;
}

CSnMediaSource::~CSnMediaSource() = default;

SNRESULT CSnMediaSource::ReadHeader(const uint8_t* data, uint32_t size, uint16_t formatTag) {
  SnMediaChunk fmt, akd;
  const SNRESULT parsed =
      ParseMediaHeader(data, size, fmt, &m_markers, m_loopBegin, m_loopEnd, m_dataSize, m_dataOffset, &akd, nullptr);
  if (parsed != SN_Success) return parsed;
  if (ReadWaveFormat(fmt, m_wave) != SN_Success) return SN_MalformedMedia;
  if (m_wave.formatTag != formatTag) {
    SOUND_LOG(Error, "Media refused: format tag 0x%04X where 0x%04X was expected", unsigned(m_wave.formatTag),
              unsigned(formatTag));
    return SN_MalformedMedia;
  }
  if (CheckWaveFormat(m_wave) != SN_Success) return SN_MalformedMedia;
  m_format.sampleRate = m_wave.sampleRate;
  m_format.channelConfig = MediaChannelConfig(m_wave.channels, m_wave.channelMask);
  if (formatTag == kWaveFormatImaAdpcm)
    m_format.formatWord = SnMediaFormat::Word(16, 2u * m_wave.channels, 0, false);
  else if (m_wave.bitsPerSample == 32)
    m_format.formatWord = SnMediaFormat::Word(32, m_wave.blockAlign, 1, true);
  else
    m_format.formatWord = SnMediaFormat::Word(m_wave.bitsPerSample, m_wave.blockAlign, 0, false);
  m_pEnvelope = akd.data;
  m_envelopeSize = akd.size;
  m_envelopePoint = 0;
  if (m_pInstance) m_pInstance->SetMediaFormat(m_format);
  return SN_Success;
}

uint32_t CSnMediaSource::FramesIn(uint32_t dataBytes) const {
  if (m_wave.blockAlign == 0) return 0;
  if (IsAdpcm()) return uint32_t(uint64_t(dataBytes / m_wave.blockAlign) * kAdpcmBlockFrames);
  return dataBytes / m_wave.blockAlign;
}

SNRESULT CSnMediaSource::SetUpLength() {
  m_totalLength = FramesIn(m_dataSize);
  if (m_totalLength == 0) {
    SOUND_LOG(Error, "Media refused: it holds no whole frame");
    return SN_Failure;
  }
  if (m_loopEnd == 0 || m_loopCount == 1) m_loopEnd = m_totalLength - 1;
  if (m_loopEnd < m_loopBegin || m_loopEnd >= m_totalLength) {
    SOUND_LOG(Error, "Media refused: its loop %u..%u lies outside its %u frames", m_loopBegin, m_loopEnd,
              m_totalLength);
    return SN_Failure;
  }
  if (IsAdpcm()) {
    // Buffers hold whole blocks: the loop begins on its block, and ends on a block boundary at least
    // one block later, so that no buffer before the loop end can be left with no whole block.
    m_loopBegin -= m_loopBegin % kAdpcmBlockFrames;
    uint32_t end = (m_loopEnd + 1) - (m_loopEnd + 1) % kAdpcmBlockFrames;
    if (end < m_loopBegin + kAdpcmBlockFrames) end = m_loopBegin + kAdpcmBlockFrames;
    m_loopEnd = end - 1;
  }
  return SN_Success;
}

SNRESULT CSnMediaSource::PrepareInMemory(uint16_t formatTag, const uint8_t*& data) {
  const uint8_t* media = m_pInstance ? m_pInstance->MediaData() : nullptr;
  const uint32_t size = media ? m_pInstance->MediaSize() : 0;
  if (!media) return SN_Failure;
  if (ReadHeader(media, size, formatTag) != SN_Success) return SN_MalformedMedia;
  if (uint64_t(m_dataOffset) + m_dataSize != size) {
    SOUND_LOG(Error, "Media refused: %u bytes where its header gives %llu", size,
              static_cast<unsigned long long>(uint64_t(m_dataOffset) + m_dataSize));
    return SN_Failure;
  }
  if (SetUpLength() != SN_Success) return SN_Failure;
  data = media + m_dataOffset;
  m_position = 0;
  m_flags |= kPrepared;
  return SN_Success;
}

SNRESULT CSnMediaSource::OnLoopOrEnd(bool isEnd) {
  if (m_loopCount > 1) --m_loopCount;
  return isEnd ? SN_NoMoreData : SN_DataReady;
}

void CSnMediaSource::PrepareBuffer(void* data, uint32_t count, SnVoiceBuffer& buffer) {
  if (count == 0) {
    buffer.validFrames = 0;
    buffer.result = SN_NoDataReady;
    return;
  }
  buffer.data = data;
  buffer.maxFrames = buffer.validFrames = uint16_t(count);
  buffer.channelConfig = m_format.channelConfig;
  m_markers.AttachToBuffer(m_pInstance, buffer, m_position);
  buffer.position.position = m_position;
  buffer.position.totalLength = m_totalLength;
  buffer.position.sampleRate = m_format.sampleRate;
  m_position += count;
  SNRESULT result = SN_DataReady;
  if (Looping()) {
    if (m_position > m_loopEnd) {
      m_position = m_loopBegin;
      result = OnLoopOrEnd(false);
    }
  } else if (m_position >= m_totalLength) {
    result = OnLoopOrEnd(true);
  }
  buffer.result = result;
}

int64_t CSnMediaSource::FramesLeft() const {
  if (!IsPrepared() || m_loopCount == 0) return -1;
  if (!Looping()) return m_totalLength > m_position ? int64_t(m_totalLength) - m_position : 0;
  // The rest of this pass to the loop's end, the whole passes between, then the last from the
  // loop's beginning to the media's end.
  const int64_t loop = int64_t(m_loopEnd) + 1 - m_loopBegin;
  const int64_t rest = m_loopEnd >= m_position ? int64_t(m_loopEnd) + 1 - m_position : 0;
  const int64_t last = m_totalLength > m_loopBegin ? int64_t(m_totalLength) - m_loopBegin : 0;
  return rest + (int64_t(m_loopCount) - 2) * loop + last;
}

SNRESULT CSnMediaSource::SkipFrames(uint32_t& frames) {
  const uint32_t old = m_position;
  const uint64_t next = uint64_t(m_position) + frames;
  SNRESULT result = SN_DataReady;
  if (Looping() && next > m_loopEnd) {
    if (m_loopCount) --m_loopCount;
    frames = m_loopEnd >= old ? m_loopEnd - old + 1 : 0;
    m_position = m_loopBegin;
  } else if (!Looping() && next >= m_totalLength) {
    result = SN_NoMoreData;
    frames = m_totalLength > old ? m_totalLength - old : 0;
    m_position = m_totalLength;
  } else {
    m_position = uint32_t(next);
  }
  m_markers.NotifyRange(m_pInstance, old, old + frames);
  if (m_pInstance && m_pInstance->TracksPlayPosition()) m_pInstance->UpdatePlayPosition(old, 1.0f, m_totalLength);
  return result;
}

SNRESULT CSnMediaSource::ApplyPendingSeek() {
  if (!m_pInstance || !m_pInstance->Seek().pending) return SN_Success;
  return Seek();
}

void CSnMediaSource::StopStream() { m_markers.Free(); }

float CSnMediaSource::GetDuration() const {
  if (m_loopCount == 0 || m_format.sampleRate == 0) return 0.0f;
  const double frames = double(m_loopEnd - m_loopBegin + 1) * (m_loopCount - 1) + m_totalLength;
  return float(frames * 1000.0 / m_format.sampleRate);
}

SNRESULT CSnMediaSource::StopLooping() {
  m_loopCount = 1;
  return SN_Success;
}

uint32_t CSnMediaSource::ComputeSeekFrame(uint16_t& remaining) {
  const SnSeekRequest& seek = m_pInstance->Seek();
  uint64_t frame = 0;
  if (seek.isFraction) {
    const double duration =
        m_loopCount == 0 ? double(m_totalLength) * 1000.0 / m_format.sampleRate : double(GetDuration());
    const double f = double(seek.fraction) * duration * m_format.sampleRate * 0.001;
    frame = f > 0.0 ? (f < 4294967295.0 ? uint64_t(f) : 0xFFFFFFFFull) : 0;
  } else {
    uint32_t outputRate = LowerEngine::SampleRate();
    if (m_pInstance->IsMotion()) outputRate = (outputRate / LowerEngine::SamplesPerFrame() * 8) & 0xFFFF;
    if (outputRate) frame = seek.outputFrames * m_format.sampleRate / outputRate;
    if (frame > 0xFFFFFFFFull) frame = 0xFFFFFFFFull;
  }
  uint32_t position = 0;
  MapOffsetIntoLoops(uint32_t(frame), m_loopBegin, m_loopEnd, m_loopCount, position, remaining);
  if (seek.snapToMarker) {
    if (const SnMediaMarker* marker = m_markers.FindNearest(position)) {
      const uint16_t passes = remaining;
      MapOffsetIntoLoops(marker->position, m_loopBegin, m_loopEnd, passes, position, remaining);
    }
  }
  return position;
}

uint32_t CSnMediaSource::EnvelopePoints() const {
  if (!m_pEnvelope || m_envelopeSize < 16) return 0;
  uint32_t count;
  memcpy(&count, m_pEnvelope + 8, sizeof count);
  const uint32_t fits = (m_envelopeSize - 16) / 6;
  return count < fits ? count : fits;
}

float CSnMediaSource::GetEnvelopeDb(uint32_t frames) {
  const uint32_t count = EnvelopePoints();
  if (count == 0) return 0.0f;
  float reference;
  memcpy(&reference, m_pEnvelope + 12, sizeof reference);
  auto point = [&](uint32_t i, uint32_t& position, float& value) {
    const uint8_t* p = m_pEnvelope + 16 + size_t(i) * 6;
    uint16_t v;
    memcpy(&position, p, 4);
    memcpy(&v, p + 4, 2);
    value = float(v);
  };
  const uint32_t t = m_position > frames ? m_position - frames : 0;
  uint32_t p0, p1;
  float v0, v1;
  point(count - 1, p1, v1);
  if (t >= p1) return -v1 - reference;
  if (m_envelopePoint >= count) m_envelopePoint = 0;
  for (uint32_t pass = 0; pass < 2; ++pass) {
    for (uint32_t i = pass ? 0 : m_envelopePoint; i + 1 < count; ++i) {
      point(i, p0, v0);
      point(i + 1, p1, v1);
      if (t >= p0 && t < p1) {
        m_envelopePoint = i;
        return -(v0 + (v1 - v0) * float(t - p0) / float(p1 - p0)) - reference;
      }
    }
  }
  point(0, p0, v0);  // before the first point
  return -v0 - reference;
}

}  // namespace SN
