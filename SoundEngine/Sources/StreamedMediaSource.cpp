// The streamed base: the stream is opened by the descriptor's file id or name, read buffer by buffer
// with loops issued to it ahead of playback, and preceded by the prefetched first bytes when a bank
// holds them.
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Sources/StreamedSources.h"

namespace SN {

namespace {
constexpr uint32_t kMinimumBufferBytes = 256;
constexpr uint32_t kNoFileId = 0xFFFFFFFFu;
constexpr uint32_t Clamp32(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(v); }
}  // namespace

CSnStreamedMediaSource::~CSnStreamedMediaSource() { CSnStreamedMediaSource::StopStream(); }

SNRESULT CSnStreamedMediaSource::CreateStream() {
  const CSnSourceDesc& desc = m_pInstance->SourceDesc();
  const bool byName = (desc.flags & CSnSourceDesc::kExternalByName) && desc.data;
  if (desc.fileId == kNoFileId && !byName) {
    SOUND_LOG(Error, "Streamed source %u names no file", desc.sourceId);
    return SN_Failure;
  }
  ISnStreamMgr* manager = ISnStreamMgr::m_pStreamMgr;
  if (!manager) return SN_Failure;
  SnAutoStmHeuristics heuristics{};
  heuristics.throughput = 1.0f;
  const float priority = m_pInstance->Priority();
  heuristics.priority = int8_t(priority > 100.0f ? 100 : priority < 0.0f ? 0 : int(priority));
  SnAutoStmBufSettings settings{0, kMinimumBufferBytes, 0};
  SnFileLookupFlags flags{};
  flags.companyId = (desc.flags & CSnSourceDesc::kExternalByName) ? 1 : 0;
  flags.codecId = desc.codecId;
  flags.languageSpecific = (desc.flags & CSnSourceDesc::kLanguageFile) != 0;
  flags.automaticStream = true;
  flags.cacheId = -1;
  ISnAutomaticStream* stream = nullptr;
  const SNRESULT result =
      byName ? manager->OpenAutomaticStream(reinterpret_cast<const char16_t*>(desc.data), &flags, heuristics,
                                            &settings, stream, false)
             : manager->OpenAutomaticStream(desc.fileId, &flags, heuristics, &settings, stream, false);
  if (result != SN_Success || !stream) {
    // Files that vanish fail every voice that plays them, frame after frame.
    SOUND_LOG_REPEATING_ABOUT(Error, desc.fileId, "Streamed source %u: its file %u could not be opened (%d)",
                              desc.sourceId, desc.fileId, int(result));
    if (stream) stream->Destroy();
    return SN_Failure;
  }
  m_pStream = stream;
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::ParseHeader(const uint8_t* data, uint32_t size) {
  const SNRESULT read = ReadHeader(data, size, m_formatTag);
  if (read != SN_Success) return read;
  if (SetUpLength() != SN_Success) return SN_MalformedMedia;
  const uint32_t unit = FramesPerUnit();
  if (m_loopCount == 1) {
    m_loopBeginBytes = m_dataOffset;
    m_loopEndBytes = DataEnd();
  } else {
    m_loopBeginBytes = uint64_t(m_loopBegin / unit) * m_wave.blockAlign + m_dataOffset;
    m_loopEndBytes = uint64_t((uint64_t(m_loopEnd) + 1) / unit) * m_wave.blockAlign + m_dataOffset;
    if (m_loopEndBytes < m_loopBeginBytes || m_loopEndBytes > DataEnd()) return SN_MalformedMedia;
  }
  if (!(m_streamFlags & kEnvelopeNotOwned)) {
    const SNRESULT copied = CopyEnvelope();
    if (copied != SN_Success) return copied;
  }
  m_streamFlags |= kHeaderProcessed;
  if (m_pStream) {
    SetStreamLoop();
    m_pStream->SetMinimalBufferSize(m_wave.blockAlign);
  }
  return SN_Success;
}

void CSnStreamedMediaSource::SetStreamLoop() {
  SnAutoStmHeuristics heuristics{};
  m_pStream->GetHeuristics(heuristics);
  heuristics.throughput = Throughput();
  const bool loops = !LastPass();
  heuristics.loopStart = loops ? Clamp32(m_loopBeginBytes) : 0;
  heuristics.loopEnd = loops ? Clamp32(m_loopEndBytes) : 0;
  m_pStream->SetHeuristics(heuristics);
}

SNRESULT CSnStreamedMediaSource::CopyEnvelope() {
  if (!m_pEnvelope) return SN_Success;
  auto* copy = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, m_envelopeSize));
  if (!copy) {
    m_pEnvelope = nullptr;
    return SN_InsufficientMemory;
  }
  memcpy(copy, m_pEnvelope, m_envelopeSize);
  if (m_pOwnedEnvelope) MemoryMgr::Free(g_DefaultPoolId, m_pOwnedEnvelope);
  m_pEnvelope = m_pOwnedEnvelope = copy;
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::PrepareSource() {
  if (m_flags & kPrepared) return SN_Success;
  if (!m_pStream) {
    if (CreateStream() != SN_Success) return SN_Failure;
    const CSnSourceDesc& desc = m_pInstance->SourceDesc();
    const uint8_t* prefetch = m_pInstance->PrefetchData();
    const uint32_t prefetchSize = prefetch ? m_pInstance->PrefetchSize() : 0;
    if ((desc.flags & CSnSourceDesc::kPrefetched) && prefetchSize && !m_pInstance->Seek().pending) {
      if (m_pInstance->WaitsForBuffering()) m_flags |= kWaitForBuffering;
      m_streamFlags |= kEnvelopeNotOwned | kUsingPrefetch;
      const SNRESULT parsed = ParseHeader(prefetch, prefetchSize);
      if (parsed != SN_Success) return parsed;
      const uint32_t block = m_pStream->GetBlockSize() ? m_pStream->GetBlockSize() : 1;
      const uint64_t reached = prefetchSize / block * block;
      if (m_pStream->SetPosition(int64_t(reached), SnMove_Begin, nullptr) != SN_Success) return SN_Failure;
      m_nextPosition = reached;
      m_bytesToSkip = uint32_t(prefetchSize - reached);
      const uint32_t nextSkip = m_bytesToSkip;
      m_bytesToSkip = 0;
      const uint16_t issued = m_loopsIssued;
      if (AdvanceInStream(prefetch, prefetchSize, 0, m_dataOffset) != SN_Success) return SN_Failure;
      if (m_loopsIssued == issued) m_bytesToSkip = nextSkip;
    }
    m_pStream->Activate();
  }
  if (!(m_streamFlags & kHeaderProcessed)) {
    const SNRESULT first = TakeFirstBuffer();
    if (first != SN_Success) return first;
  }
  const SNRESULT buffering = CheckBuffering();
  if (buffering == SN_NoDataReady) return SN_NotReadyYet;
  if (buffering != SN_DataReady) return SN_Failure;
  m_flags |= kPrepared;
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::TakeFirstBuffer() {
  if (m_pInstance->WaitsForBuffering()) m_flags |= kWaitForBuffering;
  void* data = nullptr;
  uint32_t size = 0;
  const SNRESULT got = m_pStream->GetBuffer(data, size, false);
  if (got == SN_NoDataReady) return SN_NotReadyYet;
  if ((got != SN_DataReady && got != SN_NoMoreData) || !data || size == 0) return SN_Failure;
  m_pBuffer = static_cast<const uint8_t*>(data);
  m_holdsStreamBuffer = true;
  m_nextPosition = size;
  const SNRESULT parsed = ParseHeader(m_pBuffer, size);
  if (parsed != SN_Success) {
    DropStreamBuffer();
    return parsed;
  }
  SnSeekRequest& seek = m_pInstance->Seek();
  if (seek.pending) {
    uint16_t remaining = m_loopCount;
    const uint32_t frame = ComputeSeekFrame(remaining);
    m_loopCount = remaining;
    seek.pending = false;
    return RepositionAt(frame);
  }
  return AdvanceInStream(m_pBuffer, size, 0, m_dataOffset);
}

SNRESULT CSnStreamedMediaSource::AdvanceInStream(const uint8_t* data, uint32_t size, uint64_t filePosition,
                                                 uint32_t skip) {
  m_pBuffer = data;
  m_streamPosition = filePosition;
  const uint32_t skipped = skip < size ? skip : size;
  m_bytesToSkip += skip - skipped;
  m_cursor = skipped;
  m_bytesLeft = size - skipped;
  const uint64_t limit = LastPass() ? DataEnd() : m_loopEndBytes;
  const uint64_t from = filePosition + skipped;
  if (filePosition + size < limit) return SN_Success;
  m_bytesLeft = uint32_t(limit > from ? (limit - from < m_bytesLeft ? limit - from : m_bytesLeft) : 0);
  if (LastPass()) {
    m_streamFlags |= kLoopEndReached;
    return SN_Success;
  }
  const uint32_t block = m_pStream->GetBlockSize() ? m_pStream->GetBlockSize() : 1;
  const uint64_t reached = m_loopBeginBytes / block * block;
  if (m_pStream->SetPosition(int64_t(reached), SnMove_Begin, nullptr) != SN_Success) return SN_Failure;
  m_nextPosition = reached;
  m_bytesToSkip = uint32_t(m_loopBeginBytes - reached);
  ++m_loopsIssued;
  if (LastPass()) SetStreamLoop();
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::CheckBuffering() {
  if (!(m_flags & kWaitForBuffering) || !m_pStream) return SN_DataReady;
  uint32_t available = 0;
  const SNRESULT status = m_pStream->QueryBufferingStatus(available);
  SNRESULT result = SN_DataReady;
  if (status == SN_DataReady || status == SN_NoDataReady) {
    if (uint64_t(available) + m_bytesLeft < m_pStream->GetNominalBuffering()) result = SN_NoDataReady;
  } else if (status != SN_NoMoreData) {
    result = SN_Failure;
  }
  if (result == SN_DataReady) m_flags &= uint8_t(~kWaitForBuffering);
  if (m_pInstance->WaitsForBuffering()) {
    const float bytesPerMs = Throughput();
    const double held = double(available) + double(m_bytesLeft);
    m_pInstance->PostBufferingStatus(result, bytesPerMs > 0.0f ? Clamp32(uint64_t(held / bytesPerMs + 0.5)) : 0);
  }
  return result;
}

SNRESULT CSnStreamedMediaSource::NextStreamBuffer() {
  if (m_streamFlags & kLoopEndReached) return SN_NoMoreData;
  // Buffers the stream read ahead around a loop that has since been let go of start elsewhere than
  // where playback goes on: the stream is sent back there.
  uint64_t at = m_pStream->GetPosition(nullptr);
  if (at != m_nextPosition) {
    const uint32_t block = m_pStream->GetBlockSize() ? m_pStream->GetBlockSize() : 1;
    const uint64_t reached = m_nextPosition / block * block;
    if (m_pStream->SetPosition(int64_t(reached), SnMove_Begin, nullptr) != SN_Success) return SN_Failure;
    m_bytesToSkip += uint32_t(m_nextPosition - reached);
    m_nextPosition = at = reached;
  }
  void* data = nullptr;
  uint32_t size = 0;
  const SNRESULT got = m_pStream->GetBuffer(data, size, false);
  if (got == SN_NoDataReady) {
    if (!m_starvationSeen) SOUND_LOG(Warning, "Streamed source: its stream has not delivered in time");
    m_starvationSeen = true;
    return SN_NoDataReady;
  }
  if ((got != SN_DataReady && got != SN_NoMoreData) || !data || size == 0) return EndedEarly(at);
  m_holdsStreamBuffer = true;
  m_nextPosition = at + size;
  const uint32_t skip = m_bytesToSkip;
  m_bytesToSkip = 0;
  const SNRESULT advanced = AdvanceInStream(static_cast<const uint8_t*>(data), size, at, skip);
  return advanced == SN_Success ? SN_DataReady : advanced;
}

SNRESULT CSnStreamedMediaSource::EndedEarly(uint64_t at) {
  if (!m_earlyEndSaid) {
    const CSnSourceDesc& desc = m_pInstance->SourceDesc();
    SOUND_LOG(Error, "Streamed source %u: its file %u gives nothing past byte %llu of its %llu; the sound ends early",
              desc.sourceId, desc.fileId, static_cast<unsigned long long>(at),
              static_cast<unsigned long long>(DataEnd()));
  }
  m_earlyEndSaid = true;
  return SN_Failure;
}

void CSnStreamedMediaSource::DropStreamBuffer() {
  if (m_holdsStreamBuffer && m_pStream) m_pStream->ReleaseBuffer();
  m_holdsStreamBuffer = false;
  m_streamFlags &= uint8_t(~kUsingPrefetch);
  m_pBuffer = nullptr;
  m_bytesLeft = 0;
  m_cursor = 0;
}

SNRESULT CSnStreamedMediaSource::RepositionAt(uint32_t frame) {
  DropStreamBuffer();
  ClearCarry();
  uint32_t start = 0;
  uint64_t bytes = 0;
  FrameToByteOffset(frame, start, bytes);
  m_pInstance->Seek().framesToDrop = frame - start;
  if (start >= m_totalLength) {
    m_pInstance->Seek().framesToDrop = 0;
    return SN_Failure;
  }
  m_position = start;
  m_loopsIssued = 0;
  m_streamFlags &= uint8_t(~kLoopEndReached);
  const uint32_t block = m_pStream->GetBlockSize() ? m_pStream->GetBlockSize() : 1;
  const uint64_t reached = bytes / block * block;
  if (m_pStream->SetPosition(int64_t(reached), SnMove_Begin, nullptr) != SN_Success) return SN_Failure;
  m_nextPosition = reached;
  m_bytesToSkip = uint32_t(bytes - reached);
  SetStreamLoop();
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::Seek() {
  if (!m_pStream || !(m_streamFlags & kHeaderProcessed)) return SN_Success;  // seeks once the header is read
  uint16_t remaining = m_loopCount;
  const uint32_t frame = ComputeSeekFrame(remaining);
  m_pInstance->Seek().pending = false;
  m_loopCount = remaining;
  return RepositionAt(frame);
}

SNRESULT CSnStreamedMediaSource::StopLooping() {
  if (m_loopCount == 1) return SN_Success;
  m_loopCount = 1;
  if (m_pStream && m_loopsIssued) {
    // The stream went back to the loop ahead of playback: it reads on past the loop end instead.
    const uint32_t block = m_pStream->GetBlockSize() ? m_pStream->GetBlockSize() : 1;
    const uint64_t reached = m_loopEndBytes / block * block;
    if (m_pStream->SetPosition(int64_t(reached), SnMove_Begin, nullptr) != SN_Success) return SN_Failure;
    m_nextPosition = reached;
    m_bytesToSkip = uint32_t(m_loopEndBytes - reached);
    m_loopsIssued = 0;
  }
  if (m_pStream && (m_streamFlags & kHeaderProcessed)) SetStreamLoop();
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::OnLoopOrEnd(bool isEnd) {
  if (!isEnd && m_loopsIssued) --m_loopsIssued;
  return CSnMediaSource::OnLoopOrEnd(isEnd);
}

SNRESULT CSnStreamedMediaSource::VirtualOn(uint32_t mode) {
  if (m_pStream) m_pStream->Deactivate();
  if (mode == 0 || mode == 1) {
    DropStreamBuffer();
    ClearCarry();
  }
  return SN_Success;
}

SNRESULT CSnStreamedMediaSource::SkipFrames(uint32_t& frames) {
  m_streamFlags |= kSkippedWhileVirtual;
  return CSnMediaSource::SkipFrames(frames);
}

SNRESULT CSnStreamedMediaSource::VirtualOff(uint32_t mode, bool seek) {
  if (!m_pStream) return SN_Failure;
  SNRESULT result = SN_Success;
  // A refresh keeps the stream where it was unless frames were skipped: the bytes it holds are then
  // behind the position, which would play on from the wrong frame and loop pass.
  const bool skipped = m_streamFlags & kSkippedWhileVirtual;
  m_streamFlags &= uint8_t(~kSkippedWhileVirtual);
  if (mode == 0) {
    m_loopCount = m_pInstance->LoopCount();
    result = RepositionAt(0);
  } else if (mode == 1 && seek) {
    result = Seek();
  } else if (mode == 1 || skipped) {
    if (RepositionAt(m_position) != SN_Success) result = RepositionAt(0);
  }
  if (mode == 2 && m_pInstance->WaitsForBuffering()) m_flags |= kWaitForBuffering;
  m_pStream->Activate();
  return result;
}

void CSnStreamedMediaSource::RelocateMedia(const uint8_t* newBase, const uint8_t* oldBase) {
  if (!(m_streamFlags & kUsingPrefetch) || !m_pBuffer) return;
  m_pBuffer = newBase + (m_pBuffer - oldBase);
  if (m_streamFlags & kEnvelopeNotOwned && m_pEnvelope) m_pEnvelope = newBase + (m_pEnvelope - oldBase);
}

bool CSnStreamedMediaSource::StartCarry(uint32_t unitBytes) {
  if (!m_pCarry) m_pCarry = static_cast<uint8_t*>(MemoryMgr::Malloc(g_DefaultPoolId, unitBytes));
  if (!m_pCarry) return false;
  memcpy(m_pCarry, m_pBuffer + m_cursor, m_bytesLeft);
  m_carried = m_bytesLeft;
  m_cursor += m_bytesLeft;
  m_bytesLeft = 0;
  return true;
}

void CSnStreamedMediaSource::TopUpCarry(uint32_t unitBytes) {
  const uint32_t n = unitBytes - m_carried < m_bytesLeft ? unitBytes - m_carried : m_bytesLeft;
  memcpy(m_pCarry + m_carried, m_pBuffer + m_cursor, n);
  m_carried += n;
  m_cursor += n;
  m_bytesLeft -= n;
}

void CSnStreamedMediaSource::EmptyBuffer(SnVoiceBuffer& buffer, SNRESULT result) {
  buffer.validFrames = 0;
  buffer.markerCount = 0;
  buffer.markers = nullptr;
  buffer.result = result;
}

void CSnStreamedMediaSource::StopStream() {
  DropStreamBuffer();
  ClearCarry();
  if (m_pCarry) MemoryMgr::Free(g_DefaultPoolId, m_pCarry);
  m_pCarry = nullptr;
  if (m_pStream) m_pStream->Destroy();
  m_pStream = nullptr;
  if (m_pOwnedEnvelope) MemoryMgr::Free(g_DefaultPoolId, m_pOwnedEnvelope);
  m_pOwnedEnvelope = nullptr;
  m_pEnvelope = nullptr;
  CSnMediaSource::StopStream();
}

}  // namespace SN
