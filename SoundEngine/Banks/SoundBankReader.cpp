// The bank reader: memory images read in place, streams read a buffer of whole blocks at a time, with
// large requests going straight to their destination.
#include "SoundEngine/Banks/SoundBankReader.h"

#include <cfloat>
#include <cstring>
#include <string>

#include "Platform/TextNarrowing.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

namespace {

// A throughput of 0 asks for no deadline: the latest one the scheduler can compare.
constexpr float kNoDeadlineMs = FLT_MAX;

}  // namespace

SNRESULT CSnSoundBankReader::Init() {
  if (m_initialized) return SN_Failure;
  m_readBuffer = nullptr;
  m_bufferCapacity = 0;
  m_cursor = nullptr;
  m_buffered = 0;
  m_blockSize = 0;
  m_tempBlock = nullptr;
  m_memory = nullptr;
  m_stream = nullptr;
  m_throughput = kDefaultThroughput;
  m_priority = kDefaultPriority;
  m_position = 0;
  m_initialized = 1;
  return SN_Success;
}

SNRESULT CSnSoundBankReader::Term() {
  Close();
  ReleaseData();
  if (m_readBuffer) MemoryMgr::Falign(g_DefaultPoolId, m_readBuffer);
  m_readBuffer = nullptr;
  m_cursor = nullptr;
  m_bufferCapacity = 0;
  m_initialized = 0;
  return SN_Success;
}

SNRESULT CSnSoundBankReader::SetIOSettings(float throughputBytesPerMs, uint8_t priority) {
  if (!(throughputBytesPerMs >= 0.0f) || priority > 100) return SN_InvalidParameter;
  m_throughput = throughputBytesPerMs;
  m_priority = priority;
  return SN_Success;
}

SNRESULT CSnSoundBankReader::OpenByID(uint32_t fileId, uint32_t initialOffset, uint32_t codecId, void* customParam,
                                      bool useLanguage) {
  Close();
  ISnStreamMgr* manager = ISnStreamMgr::m_pStreamMgr;
  if (!manager) return SN_Failure;
  SnFileLookupFlags flags{0, codecId, 0, customParam, useLanguage, false, -1};
  ISnStandardStream* stream = nullptr;
  SNRESULT result = manager->OpenStandardStream(fileId, &flags, SnOpenMode_Read, stream, true);
  if (result != SN_Success && useLanguage) {
    flags.languageSpecific = false;
    result = manager->OpenStandardStream(fileId, &flags, SnOpenMode_Read, stream, true);
  }
  if (result != SN_Success) return result;
  return OpenStream(stream, initialOffset);
}

SNRESULT CSnSoundBankReader::OpenByName(const char* name, uint32_t initialOffset, bool useLanguage) {
  Close();
  ISnStreamMgr* manager = ISnStreamMgr::m_pStreamMgr;
  if (!manager || !name) return SN_Failure;
  const std::u16string wide = Platform::WidenText(name);
  SnFileLookupFlags flags{0, 0, 0, nullptr, useLanguage, false, -1};
  ISnStandardStream* stream = nullptr;
  SNRESULT result = manager->OpenStandardStream(wide.c_str(), &flags, SnOpenMode_Read, stream, true);
  if (result != SN_Success && useLanguage) {
    flags.languageSpecific = false;
    result = manager->OpenStandardStream(wide.c_str(), &flags, SnOpenMode_Read, stream, true);
  }
  if (result != SN_Success) return result;
  return OpenStream(stream, initialOffset);
}

SNRESULT CSnSoundBankReader::OpenStream(ISnStandardStream* stream, uint32_t initialOffset) {
  m_stream = stream;
  m_blockSize = stream->GetBlockSize();
  if (m_blockSize == 0) {
    SOUND_LOG(Error, "Bank reader: the bank's stream has a block size of 0");
    Close();
    return SN_Failure;
  }
  if (m_bufferCapacity < m_blockSize || !m_readBuffer) {
    uint32_t capacity = m_blockSize > kMinBufferBytes ? m_blockSize : kMinBufferBytes;
    capacity = (capacity + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
    void* buffer = MemoryMgr::Malign(g_DefaultPoolId, capacity, kBufferAlignment);
    if (!buffer) {
      SOUND_LOG(Error, "Bank reader: no memory for a read buffer of %u bytes", capacity);
      Close();
      return SN_InsufficientMemory;
    }
    if (m_readBuffer) MemoryMgr::Falign(g_DefaultPoolId, m_readBuffer);
    m_readBuffer = static_cast<uint8_t*>(buffer);
    m_bufferCapacity = capacity;
  }
  m_cursor = m_readBuffer;
  m_buffered = 0;
  m_position = 0;
  if (initialOffset == 0) return SN_Success;
  int64_t moved = 0;
  SNRESULT result = m_stream->SetPosition(int64_t(initialOffset), SnMove_Begin, &moved);
  if (result != SN_Success || moved < 0 || uint64_t(moved) > initialOffset) {
    Close();
    return result != SN_Success ? result : SN_Failure;
  }
  m_position = uint64_t(moved);
  // Positions fall on whole blocks; the rest of the way is read and dropped.
  const uint32_t rest = initialOffset - uint32_t(moved);
  uint32_t skipped = 0;
  result = Skip(rest, skipped);
  // A stream takes a position past the end of its file without complaint.
  if (result != SN_Success || skipped < rest || initialOffset > StreamFileSize()) {
    SOUND_LOG(Error, "Bank reader: the bank ends before its initial offset %u", initialOffset);
    Close();
    return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnSoundBankReader::SetMemory(const void* data, uint32_t size) {
  m_memory = static_cast<const uint8_t*>(data);
  m_memoryStart = m_memory;
  m_buffered = data ? size : 0;
  m_position = 0;
  return SN_Success;
}

void CSnSoundBankReader::Reset() {
  m_cursor = m_readBuffer;
  m_buffered = 0;
  m_memory = nullptr;
  m_position = 0;
}

SNRESULT CSnSoundBankReader::Close() {
  if (m_stream) m_stream->Destroy();
  m_stream = nullptr;
  m_memory = nullptr;
  m_cursor = m_readBuffer;
  m_buffered = 0;
  return SN_Success;
}

SNRESULT CSnSoundBankReader::StreamRead(void* destination, uint32_t size, uint32_t& count) {
  count = 0;
  const float throughput = m_throughput.load(std::memory_order_relaxed);
  const float deadline = throughput > 0.0f ? float(size) / throughput : kNoDeadlineMs;
  const SNRESULT result = m_stream->Read(destination, size, true, int8_t(m_priority.load(std::memory_order_relaxed)),
                                         deadline, count);
  if (result != SN_Success) return result;
  if (m_stream->GetStatus() != SnStmStatus_Completed) return SN_Failure;
  return SN_Success;
}

SNRESULT CSnSoundBankReader::FillBuffer() {
  m_cursor = m_readBuffer;
  m_buffered = 0;
  uint32_t count = 0;
  const SNRESULT result = StreamRead(m_readBuffer, m_bufferCapacity / m_blockSize * m_blockSize, count);
  if (result == SN_Success) m_buffered = count;
  return result;
}

SNRESULT CSnSoundBankReader::ReadStream(void* destination, uint32_t size, uint32_t& count) {
  count = 0;
  auto* out = static_cast<uint8_t*>(destination);
  if (!m_stream) return size ? SN_Failure : SN_Success;
  while (size > 0) {
    if (m_buffered) {
      const uint32_t taken = size < m_buffered ? size : m_buffered;
      memcpy(out, m_cursor, taken);
      Consume(taken);
      out += taken;
      size -= taken;
      count += taken;
      continue;
    }
    if (size < m_bufferCapacity) {
      const SNRESULT result = FillBuffer();
      if (result != SN_Success) return result;
      if (m_buffered == 0) break;  // the end of the bank
      continue;
    }
    const uint32_t direct = size / m_blockSize * m_blockSize;
    uint32_t got = 0;
    const SNRESULT result = StreamRead(out, direct, got);
    if (result != SN_Success) return result;
    out += got;
    size -= got;
    count += got;
    m_position += got;
    // The bank ends inside the request: what arrived is all there is, as with an image.
    if (got < direct) break;
  }
  return SN_Success;
}

uint64_t CSnSoundBankReader::StreamFileSize() {
  SnStreamInfo info{};
  m_stream->GetInfo(info);
  return info.size;
}

uint64_t CSnSoundBankReader::StreamBytesLeft() {
  const uint64_t size = StreamFileSize();
  const uint64_t at = m_stream->GetPosition(nullptr);
  return size > at ? size - at : 0;
}

SNRESULT CSnSoundBankReader::SkipStream(uint32_t size, uint32_t& count) {
  count = 0;
  if (!m_stream) return size ? SN_Failure : SN_Success;
  const uint32_t fromBuffer = size < m_buffered ? size : m_buffered;
  Consume(fromBuffer);
  count = fromBuffer;
  uint32_t left = size - fromBuffer;
  if (left == 0) return SN_Success;
  // The buffer is empty, so the stream stands where the reader does. A stream moves past the end of
  // its file without complaint: the file's size bounds the skip, as an image's does.
  const uint64_t inFile = StreamBytesLeft();
  bool endsFirst = left > inFile;
  if (endsFirst) left = uint32_t(inFile);
  // Whole blocks are passed over by moving the stream; the rest comes through the buffer.
  while (left > m_bufferCapacity) {
    int64_t moved = 0;
    const SNRESULT result = m_stream->SetPosition(int64_t(left), SnMove_Current, &moved);
    if (result != SN_Success) return result;
    if (moved <= 0 || uint64_t(moved) > left) return SN_Failure;
    left -= uint32_t(moved);
    count += uint32_t(moved);
    m_position += uint64_t(moved);
  }
  if (left > 0) {
    const SNRESULT result = FillBuffer();
    if (result != SN_Success) return result;
    const uint32_t taken = left < m_buffered ? left : m_buffered;
    Consume(taken);
    count += taken;
    endsFirst = endsFirst || taken < left;
  }
  return endsFirst ? SN_Failure : SN_Success;
}

const uint8_t* CSnSoundBankReader::GetStreamData(uint32_t size) {
  if (!m_stream) return nullptr;
  ReleaseData();
  if (size > BytesLeft()) {
    SOUND_LOG(Error, "Bank reader: %u bytes of bank data are asked for where the bank holds %llu", size,
              static_cast<unsigned long long>(BytesLeft()));
    return nullptr;
  }
  // The buffered bytes are copied first; the lead puts the stream's share on a 32-byte boundary.
  const uint32_t lead = (kBufferAlignment - m_buffered % kBufferAlignment) % kBufferAlignment;
  void* block = MemoryMgr::Malign(g_DefaultPoolId, size_t(size) + lead, kBufferAlignment);
  if (!block) {
    SOUND_LOG(Error, "Bank reader: no memory for %u bytes of bank data", size);
    return nullptr;
  }
  m_tempBlock = block;
  uint8_t* data = static_cast<uint8_t*>(block) + lead;
  uint32_t count = 0;
  if (Read(data, size, count) != SN_Success || count < size) {
    ReleaseData();
    return nullptr;
  }
  return data;
}

void CSnSoundBankReader::ReleaseData() {
  if (m_tempBlock) MemoryMgr::Falign(g_DefaultPoolId, m_tempBlock);
  m_tempBlock = nullptr;
}

}  // namespace SN
