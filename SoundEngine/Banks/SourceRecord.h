// A source as a bank stores it inside a sound or a motion source: its class (a codec or a source
// plug-in), how its bytes are kept, its media or file, and a plug-in's parameter block.
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SourceDesc.h"

namespace SN {

struct SnSourceRecord {
  static constexpr uint32_t kClassCodec = 1;   // low 4 bits of the class id; the codec in the high 16
  static constexpr uint32_t kClassPlugin = 2;
  enum StreamType : uint8_t { Stream_InMemory = 0, Stream_Streamed = 1, Stream_Prefetched = 2 };
  static constexpr uint8_t kFlagLanguage = 0x01;

  uint32_t classId = 0;
  uint8_t streamType = 0;
  uint32_t sourceId = 0;
  uint32_t sizeOrFileId = 0;  // the media size in memory, else the file id
  uint8_t flags = 0;
  uint32_t paramSize = 0;     // plug-ins only
  const uint8_t* params = nullptr;

  bool IsPlugin() const { return (classId & 0xF) == kClassPlugin; }
  // The descriptor the record names.
  void Describe(CSnSourceDesc& desc) const;
};

namespace BankParse {

// SN_Success; SN_Failure for a class or stream type no source has, or a field crossing the end.
SNRESULT ReadSourceRecord(SnBankCursor& cursor, SnSourceRecord& record);

}  // namespace BankParse
}  // namespace SN
