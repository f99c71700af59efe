// The byte source of a bank load: a memory image, or a standard stream read through an aligned buffer
// with the throughput and priority the game set for bank loading. Bank thread only, but for those two
// settings, which the game sets from its own threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Banks/BankFormat.h"

namespace SN {

class ISnStandardStream;

class CSnSoundBankReader {
 public:
  static constexpr uint32_t kMinBufferBytes = 32768;
  static constexpr uint32_t kBufferAlignment = 32;
  static constexpr float kDefaultThroughput = 1048.576f;  // bytes per millisecond
  static constexpr uint8_t kDefaultPriority = 50;

  // SN_Failure when already initialised.
  SNRESULT Init();
  // Frees the read buffer.
  SNRESULT Term();
  // SN_InvalidParameter for a negative throughput or a priority above 100. A throughput of 0 sets no
  // deadline on the reads.
  SNRESULT SetIOSettings(float throughputBytesPerMs, uint8_t priority);

  // A failed open leaves the reader closed. The initial offset is where reading starts.
  SNRESULT OpenByID(uint32_t fileId, uint32_t initialOffset, uint32_t codecId, void* customParam, bool useLanguage);
  // `name` is Latin-1 and case-sensitive ("Init.bnk").
  SNRESULT OpenByName(const char* name, uint32_t initialOffset, bool useLanguage);
  // Reads from the caller's block from now on; the block is never copied.
  SNRESULT SetMemory(const void* data, uint32_t size);
  void Reset();
  SNRESULT Close();

  // Up to `size` bytes; `count` says how many arrived, fewer only when the bank ends first. A stream
  // and an image of the same bytes give the same: stream errors are the only other results.
  SNRESULT Read(void* destination, uint32_t size, uint32_t& count) {
    if (!m_memory) return ReadStream(destination, size, count);
    // A field's size is known where it is read: the whole-field copy becomes a plain load.
    count = size <= m_buffered ? size : m_buffered;
    if (size <= m_buffered)
      memcpy(destination, m_memory, size);
    else if (count)
      memcpy(destination, m_memory, count);
    Consume(count);
    return SN_Success;
  }
  // SN_ShortRead when fewer than `size` bytes arrived.
  SNRESULT ReadExact(void* destination, uint32_t size) {
    uint32_t count = 0;
    const SNRESULT result = Read(destination, size, count);
    if (result != SN_Success) return result;
    return count == size ? SN_Success : SN_ShortRead;
  }
  // `count` says how many bytes were passed over; fewer than `size` when the bank ends first, which a
  // stream also answers with SN_Failure.
  SNRESULT Skip(uint32_t size, uint32_t& count) {
    if (!m_memory) return SkipStream(size, count);
    count = size < m_buffered ? size : m_buffered;
    Consume(count);
    return SN_Success;
  }
  // The next `size` bytes in place (memory image, or enough buffered) or in a temporary block that
  // ReleaseData frees; null when out of memory or when the bank ends first.
  const uint8_t* GetData(uint32_t size) {
    if (m_memory || (m_stream && m_buffered >= size)) {
      if (m_buffered < size) return nullptr;
      const uint8_t* data = m_memory ? m_memory : m_cursor;
      Consume(size);
      return data;
    }
    return GetStreamData(size);
  }
  void ReleaseData();

  // Bytes taken from the bank since it was opened (initial offset included).
  uint64_t Position() const { return m_memory ? uint64_t(m_memory - m_memoryStart) : m_position; }
  // Bytes the bank still holds after the reader's position: what is left of an image, or of a file
  // as its stream reports its size. A size read from the bank is held against this before anything is
  // allocated for it.
  uint64_t BytesLeft() {
    if (m_memory) return m_buffered;
    return m_stream ? m_buffered + StreamBytesLeft() : 0;
  }
  bool IsStreaming() const { return m_stream != nullptr; }
  uint32_t BufferCapacity() const { return m_bufferCapacity; }

 private:
  SNRESULT OpenStream(ISnStandardStream* stream, uint32_t initialOffset);
  SNRESULT ReadStream(void* destination, uint32_t size, uint32_t& count);
  SNRESULT SkipStream(uint32_t size, uint32_t& count);
  const uint8_t* GetStreamData(uint32_t size);
  uint64_t StreamFileSize();
  // Bytes of the file after the stream's position.
  uint64_t StreamBytesLeft();
  SNRESULT StreamRead(void* destination, uint32_t size, uint32_t& count);
  // One buffer's worth of whole blocks from the stream; `m_buffered` says what arrived.
  SNRESULT FillBuffer();
  void Consume(uint32_t size) {
    if (m_memory) {
      m_memory += size;
    } else {
      m_cursor += size;
      m_position += size;
    }
    m_buffered -= size;
  }

  uint8_t* m_readBuffer = nullptr;
  uint32_t m_bufferCapacity = 0;
  const uint8_t* m_cursor = nullptr;
  uint32_t m_buffered = 0;  // also the bytes left in a memory image
  uint32_t m_blockSize = 0;
  void* m_tempBlock = nullptr;
  const uint8_t* m_memory = nullptr;
  ISnStandardStream* m_stream = nullptr;
  // Set by the game's SetBankLoadIOSettings from any thread while the bank thread reads.
  std::atomic<float> m_throughput{kDefaultThroughput};
  std::atomic<uint8_t> m_priority{kDefaultPriority};
  uint8_t m_initialized = 0;
  // Where the reader is in the bank, which lets the chunk loop keep every chunk reader inside its
  // chunk: counted for a stream, measured from the image's start for an image.
  uint64_t m_position = 0;
  const uint8_t* m_memoryStart = nullptr;
};

}  // namespace SN
