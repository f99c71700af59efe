// Reading and validating "SZ" asset files. Every header field is read only after the bytes it
// occupies are known to be inside the file: a file too short for its header is refused as a bad
// signature, never read past its end.
#include "Graphics/Files/BinaryFile.h"

#include "Base/TraceLog.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace Files {

namespace {

#define FILES_LOG(level, ...) ORV_TRACE(General, level, __VA_ARGS__)

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

float ReadF32(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

// The bytes of the file itself: the size passed to Read counts the spare byte.
uint32_t FileBytes(uint32_t size) { return size ? size - 1 : 0; }

}  // namespace

int32_t GenericHeader::ReadCommon(const uint8_t* buffer, uint32_t size) {
  const uint32_t bytes = FileBytes(size);
  if (bytes < kGenericHeaderSize) return HeaderResult_BadSignature;
  if (buffer[0] != 'S' || buffer[1] != 'Z') return HeaderResult_BadSignature;
  m_dataOffset = ReadU32(buffer + 2);
  int32_t code = HeaderResult_Valid;
  const int8_t version = int8_t(buffer[6]);
  if (version != m_version) {
    code = m_version > version ? HeaderResult_OutOfDate : HeaderResult_FutureVersion;
    m_version = version;
  }
  uint8_t sum = 0;
  for (uint32_t i = kGenericHeaderSize; i < bytes; ++i) sum = uint8_t(sum + buffer[i]);
  if (sum != buffer[7]) return HeaderResult_BadChecksum;
  return code;
}

int32_t GenericHeader::Read(const uint8_t* buffer, uint32_t size) { return ReadCommon(buffer, size); }

int32_t StaticMeshHeader::Read(const uint8_t* buffer, uint32_t size) {
  if (FileBytes(size) < kMeshHeaderSize) return HeaderResult_BadSignature;
  const int32_t code = ReadCommon(buffer, size);
  m_vertexCount = ReadU32(buffer + 8);
  m_indexCount = ReadU32(buffer + 12);
  m_reserved = ReadU32(buffer + 16);
  m_boneCount = ReadU32(buffer + 20);
  m_boundsMin = Base::Vec3(ReadF32(buffer + 24), ReadF32(buffer + 28), ReadF32(buffer + 32));
  m_boundsMax = Base::Vec3(ReadF32(buffer + 36), ReadF32(buffer + 40), ReadF32(buffer + 44));
  return code;
}

int32_t AnimationHeader::Read(const uint8_t* buffer, uint32_t size) {
  const uint32_t bytes = FileBytes(size);
  if (bytes < 16) return HeaderResult_BadSignature;
  const int32_t code = ReadCommon(buffer, size);
  m_reserved = ReadU32(buffer + 8);
  m_animationCount = ReadU32(buffer + 12);
  // Each name takes at least its zero byte and each animation 12 bytes of arrays: a count the
  // file cannot hold is refused before anything is sized by it.
  if (uint64_t(m_animationCount) * 13 > bytes - 16) return HeaderResult_BadSignature;
  m_names.clear();
  m_names.reserve(m_animationCount);
  uint32_t at = 16;
  for (uint32_t i = 0; i < m_animationCount; ++i) {
    const void* end = std::memchr(buffer + at, 0, bytes - at);
    if (!end) return HeaderResult_BadSignature;
    const uint32_t length = uint32_t(static_cast<const uint8_t*>(end) - (buffer + at));
    m_names.emplace_back(reinterpret_cast<const char*>(buffer + at), length);
    at += length + 1;
  }
  if (uint64_t(at) + 12ull * m_animationCount > bytes) return HeaderResult_BadSignature;
  m_firstFloats.resize(m_animationCount);
  m_secondFloats.resize(m_animationCount);
  m_frameCounts.resize(m_animationCount);
  const uint32_t n = m_animationCount;
  for (uint32_t i = 0; i < n; ++i) m_firstFloats[i] = ReadF32(buffer + at + 4 * i);
  for (uint32_t i = 0; i < n; ++i) m_secondFloats[i] = ReadF32(buffer + at + 4 * (n + i));
  for (uint32_t i = 0; i < n; ++i) m_frameCounts[i] = ReadU32(buffer + at + 4 * (2 * n + i));
  return code;
}

BinaryFile::~BinaryFile() {
  delete[] m_buffer;
  delete m_header;
}

void BinaryFile::Open(const GenericHeader& prototype, const std::string& path) {
  delete[] m_buffer;
  delete m_header;
  m_header = nullptr;
  m_buffer = nullptr;
  m_dataOffset = -1;
  m_size = -1;
  m_valid = false;
  m_result = -1;

  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    FILES_LOG(Warning, "Tried to open a file %s which does not exist", path.c_str());
    return;
  }
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  std::rewind(file);
  // Sizes are kept as signed 32-bit values with room for the spare byte.
  if (length < 0 || length >= std::numeric_limits<int32_t>::max()) {
    FILES_LOG(Warning, "Could not read binary file %s", path.c_str());
    std::fclose(file);
    return;
  }
  m_buffer = new uint8_t[size_t(length) + 1];
  m_buffer[length] = 0;
  if (std::fread(m_buffer, 1, size_t(length), file) != size_t(length)) {
    FILES_LOG(Warning, "Could not read binary file %s", path.c_str());
    std::fclose(file);
    delete[] m_buffer;
    m_buffer = nullptr;
    return;
  }
  std::fclose(file);
  m_size = int32_t(length + 1);
  m_valid = true;

  m_header = prototype.Create();
  m_result = m_header->Read(m_buffer, uint32_t(m_size));
  switch (m_result) {
    case HeaderResult_Valid: m_dataOffset = int32_t(m_header->m_dataOffset); return;
    case HeaderResult_BadSignature:
      FILES_LOG(Warning, "Attempted to read binary file with unrecognized signature");
      break;
    case HeaderResult_OutOfDate:
      FILES_LOG(Warning, "Reading in binary file that is out of date. Hopefully we are backwards compatible");
      break;
    case HeaderResult_FutureVersion:
      FILES_LOG(Warning, "Reading in binary file that is from a future version");
      break;
    default: break;
  }
  m_valid = false;
}

bool BinaryFile::CheckRange(uint32_t offset, uint32_t length) {
  m_valid = m_buffer && uint64_t(offset) + length <= uint64_t(m_size < 0 ? 0 : m_size);
  return m_valid;
}

const uint8_t* BinaryFile::GetData(uint32_t offset, uint32_t length) {
  return CheckRange(offset, length) ? m_buffer + offset : nullptr;
}

}  // namespace Files
