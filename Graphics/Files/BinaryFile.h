// The "SZ" binary asset files (".cong" meshes, ".conga" animations): their headers, validation and
// bounded access to the bytes of a file held whole in memory.
#pragma once

#include "Base/Vector.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Files {

// What a header's Read reports; BinaryFile logs the message of codes 1, 3 and 4.
enum HeaderResult : int32_t {
  HeaderResult_Valid = 0,
  HeaderResult_BadSignature = 1,  // also: too short to hold the header and its extension
  HeaderResult_BadChecksum = 2,
  HeaderResult_OutOfDate = 3,
  HeaderResult_FutureVersion = 4,
};

inline constexpr int8_t kCurrentAssetVersion = 2;
inline constexpr uint32_t kGenericHeaderSize = 8;
inline constexpr uint32_t kMeshHeaderSize = 48;

// The common 8 bytes: "SZ", data offset, version, checksum of every later byte.
class GenericHeader {
 public:
  virtual ~GenericHeader() = default;
  // `size` is the file length plus one (the reader's spare byte), as BinaryFile passes it.
  virtual int32_t Read(const uint8_t* buffer, uint32_t size);
  virtual void SetDefaultDataOffset() { m_dataOffset = kGenericHeaderSize; }
  virtual GenericHeader* Create() const { return new GenericHeader; }

  char m_signature[3] = {'S', 'Z', 0};
  uint32_t m_dataOffset = 0;
  int8_t m_version = kCurrentAssetVersion;
  std::string m_name;

 protected:
  int32_t ReadCommon(const uint8_t* buffer, uint32_t size);
};

class StaticMeshHeader : public GenericHeader {
 public:
  int32_t Read(const uint8_t* buffer, uint32_t size) override;
  void SetDefaultDataOffset() override { m_dataOffset = kMeshHeaderSize; }
  GenericHeader* Create() const override { return new StaticMeshHeader; }

  std::string m_meshName = "default";
  uint32_t m_vertexCount = 0;
  uint32_t m_indexCount = 0;
  uint32_t m_reserved = 0;
  uint32_t m_boneCount = 0;
  Base::Vec3 m_boundsMin{0, 0, 0};
  Base::Vec3 m_boundsMax{0, 0, 0};
};

class AnimationHeader : public GenericHeader {
 public:
  int32_t Read(const uint8_t* buffer, uint32_t size) override;
  GenericHeader* Create() const override { return new AnimationHeader; }

  uint32_t m_reserved = 0;
  uint32_t m_animationCount = 0;
  std::vector<std::string> m_names;
  std::vector<float> m_firstFloats;
  std::vector<float> m_secondFloats;
  std::vector<uint32_t> m_frameCounts;
};

// One file read whole (plus a spare zero byte) and validated by a header of the prototype's class.
class BinaryFile {
 public:
  BinaryFile() = default;
  ~BinaryFile();
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  void Open(const GenericHeader& prototype, const std::string& path);
  // A pointer to `length` bytes at `offset`, or null when they pass the recorded size; `valid`
  // becomes the answer either way.
  const uint8_t* GetData(uint32_t offset, uint32_t length);
  bool CheckRange(uint32_t offset, uint32_t length);

  GenericHeader* m_header = nullptr;
  uint8_t* m_buffer = nullptr;
  int32_t m_dataOffset = -1;
  int32_t m_size = -1;
  bool m_valid = false;
  int32_t m_result = -1;  // the header's result code, -1 when the file could not be read
};

}  // namespace Files
