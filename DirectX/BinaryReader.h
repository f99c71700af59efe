// A whole file in memory behind a cursor that refuses to read past its end.
#pragma once

#include "DirectX/SpriteBatch.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

namespace DirectX {

class BinaryReader {
 public:
  // Reads the whole file; throws SpriteError("BinaryReader") when it cannot be read.
  explicit BinaryReader(const std::wstring& fileName);
  // Reads from bytes the caller keeps alive (fuzzing and tests).
  BinaryReader(const uint8_t* data, size_t size) : m_cursor(data), m_end(data + size) {}

  template <typename T>
  T Read() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, Take(sizeof(T)), sizeof(T));
    return value;
  }

  // `count` elements in place; throws "End of file" when they are not all in the file.
  template <typename T>
  const T* ReadArray(size_t count) {
    if (count > size_t(m_end - m_cursor) / sizeof(T)) throw SpriteError("End of file");
    return reinterpret_cast<const T*>(Take(count * sizeof(T)));
  }

  // Fills `data` with the file's bytes; 0 on success, else a failure code (errno-based).
  static int32_t ReadWholeFile(const std::wstring& fileName, std::unique_ptr<uint8_t[]>& data, size_t& size);

 private:
  const uint8_t* Take(size_t bytes) {
    if (bytes > size_t(m_end - m_cursor)) throw SpriteError("End of file");
    const uint8_t* at = m_cursor;
    m_cursor += bytes;
    return at;
  }

  const uint8_t* m_cursor = nullptr;
  const uint8_t* m_end = nullptr;
  std::unique_ptr<uint8_t[]> m_ownedData;
};

// A wide path to the byte path the file system takes: one byte per character.
std::string NarrowPath(const std::wstring& path);

}  // namespace DirectX
