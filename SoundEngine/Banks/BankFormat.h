// The ".bnk" byte layout: chunk tags, the fixed records a bank stores, the results a bank load gives,
// and the bounded cursor every chunk reader takes its fields from.
#pragma once

#include <cstdint>
#include <cstring>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/Curves.h"

namespace SN {

// Results of a bank load beyond the shared ones.
constexpr SNRESULT SN_InvalidFile = SNRESULT(7);         // bad chunk header, short skip, a field past its chunk
constexpr SNRESULT SN_ZeroActionId = SNRESULT(14);       // an event lists action id 0
constexpr SNRESULT SN_ShortRead = SNRESULT(56);          // a fixed-size field could not be read whole
constexpr SNRESULT SN_WrongBankVersion = SNRESULT(64);
constexpr SNRESULT SN_PlatformMismatch = SNRESULT(83);

// Four characters in file order read as one little-endian word: "BKHD" is 0x44484B42.
constexpr uint32_t BankTag(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
         uint32_t(uint8_t(text[3])) << 24;
}

constexpr uint32_t kBankTagHeader = BankTag("BKHD");
constexpr uint32_t kBankTagSettings = BankTag("STMG");
constexpr uint32_t kBankTagEnvironment = BankTag("ENVS");
constexpr uint32_t kBankTagPlatform = BankTag("PLAT");
constexpr uint32_t kBankTagMediaIndex = BankTag("DIDX");
constexpr uint32_t kBankTagMediaData = BankTag("DATA");
constexpr uint32_t kBankTagHierarchy = BankTag("HIRC");
constexpr uint32_t kBankTagBankNames = BankTag("STID");

constexpr uint32_t kBankVersion = 113;
constexpr uint32_t kBankHeaderBytes = 20;
// Where the bank id stands in a bank file: after the first chunk header and the version.
constexpr uint32_t kBankIdFileOffset = 12;

struct SnBankChunkHeader {
  uint32_t tag;
  uint32_t size;
};
static_assert(sizeof(SnBankChunkHeader) == 8, "a chunk header is two words on disk");

struct SnBankHeader {
  uint32_t version;
  uint32_t bankId;
  uint32_t carried0;
  uint16_t motionFlag;  // non-zero: the bank's node records carry a motion bus reference
  uint16_t carried1;
  uint32_t carried2;
};
static_assert(sizeof(SnBankHeader) == kBankHeaderBytes, "the header's first twenty bytes");

struct SnMediaIndexEntry {
  uint32_t mediaId;
  uint32_t offset;  // from the beginning of the DATA payload
  uint32_t size;
};
static_assert(sizeof(SnMediaIndexEntry) == 12, "a media index entry is three words on disk");
static_assert(sizeof(SnRTPCGraphPoint) == 12, "curve points are stored as they lie in a bank");

// What a load does with the media of a bank.
enum SnBankLoadMode : uint32_t {
  SnBankLoad_Normal = 0,          // DIDX and DATA read
  SnBankLoad_MediaOnly = 1,       // DIDX read, DATA entry by entry
  SnBankLoad_StructureOnly = 2,   // DIDX and DATA skipped
  SnBankLoad_PreparedMedia = 3,   // DIDX read, DATA entry by entry
};

// Hierarchy object types the bank's own loaders take; the others go to the music hook.
inline bool IsEngineHircType(uint8_t type) { return (type >= 1 && type <= 9) || (type >= 14 && type <= 22); }

// Combined into the first 16 header bytes when its first word is non-zero. Nothing sets it: headers
// are used as stored.
extern const uint8_t g_BankHeaderMask[16];
void ApplyBankHeaderMask(SnBankHeader& header);

// Fields taken one after another from a block of known length; a field that would cross the end
// fails and leaves the cursor where it was.
class SnBankCursor {
 public:
  SnBankCursor(const void* data, uint32_t size) : m_data(static_cast<const uint8_t*>(data)), m_left(size) {}

  template <typename T>
  bool Take(T& value) {
    if (m_left < sizeof(T)) return false;
    memcpy(&value, m_data, sizeof(T));
    m_data += sizeof(T);
    m_left -= uint32_t(sizeof(T));
    return true;
  }
  // A pointer to the next `size` bytes, or null when fewer remain.
  const uint8_t* TakeBytes(uint32_t size) {
    if (m_left < size) return nullptr;
    const uint8_t* bytes = m_data;
    m_data += size;
    m_left -= size;
    return bytes;
  }
  uint32_t Left() const { return m_left; }
  // Where the next byte is and where the object ends, for readers that walk raw blocks.
  const uint8_t* Position() const { return m_data; }
  const uint8_t* End() const { return m_data + m_left; }
  // Moves to `to`, which lies between the current position and the end.
  void MoveTo(const uint8_t* to) {
    m_left -= uint32_t(to - m_data);
    m_data = to;
  }

 private:
  const uint8_t* m_data;
  uint32_t m_left;
};

// The media index as it lies in the chunk; entries are copied out, the bytes need no alignment.
struct SnMediaIndexView {
  const uint8_t* bytes;
  uint32_t count;

  SnMediaIndexEntry operator[](uint32_t index) const {
    SnMediaIndexEntry entry;
    memcpy(&entry, bytes + size_t(index) * sizeof(SnMediaIndexEntry), sizeof entry);
    return entry;
  }
};

}  // namespace SN
