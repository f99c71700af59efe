// The chunk loop of a bank load, the media chunks and the HIRC object walk. Every chunk reader is
// held to its chunk: the loop goes on at the chunk's declared end whatever the reader took, and a
// reader that took more fails the load.
#include "SoundEngine/Banks/BankChunks.h"

#include <cstring>

#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/GameSyncHooks.h"
#include "SoundEngine/Log.h"

namespace SN {

const uint8_t g_BankHeaderMask[16] = {};

void ApplyBankHeaderMask(SnBankHeader& header) {
  uint32_t words[3];
  uint16_t halves[2];
  memcpy(words, g_BankHeaderMask, sizeof words);
  if (words[0] == 0) return;
  memcpy(halves, g_BankHeaderMask + 12, sizeof halves);
  header.version ^= words[0];
  header.bankId ^= words[1];
  header.carried0 ^= words[2];
  header.motionFlag ^= halves[0];
  header.carried1 ^= halves[1];
}

uint32_t BankIdOfImage(const void* image, uint32_t size) {
  if (!image || size < 28) return 0;
  uint32_t id = 0;
  memcpy(&id, static_cast<const uint8_t*>(image) + kBankIdFileOffset, sizeof id);
  return id;
}

namespace {

constexpr uint32_t kHircObjectHeaderBytes = 5;

// Passes over `size` bytes; SN_InvalidFile when the bank ends first.
SNRESULT SkipWhole(CSnSoundBankReader& reader, uint32_t size, const char* what) {
  uint32_t skipped = 0;
  const SNRESULT result = reader.Skip(size, skipped);
  if (result == SN_Success && skipped == size) return SN_Success;
  SOUND_LOG(Error, "Bank: the bank ends inside %s (%u of %u bytes)", what, skipped, size);
  return SN_InvalidFile;
}

// Brings the reader to `end` after a reader of a chunk or an object stopped short of it.
inline SNRESULT GoOnAt(CSnSoundBankReader& reader, uint64_t end, const char* what) {
  const uint64_t position = reader.Position();
  if (position == end) return SN_Success;
  if (position > end) {
    SOUND_LOG(Error, "Bank: the reader of %s went %llu bytes past its end", what,
              static_cast<unsigned long long>(position - end));
    return SN_InvalidFile;
  }
  return position < end ? SkipWhole(reader, uint32_t(end - position), what) : SN_Success;
}

SNRESULT ReadMediaIndex(CSnSoundBankReader& reader, CSnLoadedBank& bank, uint32_t size) {
  if (size % sizeof(SnMediaIndexEntry) != 0) {
    SOUND_LOG(Error, "Bank chunk DIDX: %u bytes is not a whole number of entries", size);
    return SN_InvalidFile;
  }
  if (size == 0) return bank.LoadMediaIndex(SnMediaIndexView{nullptr, 0});
  const uint8_t* entries = reader.GetData(size);
  if (!entries) {
    SOUND_LOG(Error, "Bank chunk DIDX: its %u bytes could not be read", size);
    return SN_InvalidFile;
  }
  const SNRESULT result = bank.LoadMediaIndex(SnMediaIndexView{entries, size / uint32_t(sizeof(SnMediaIndexEntry))});
  reader.ReleaseData();
  return result;
}

SNRESULT ReadHierarchy(CSnSoundBankReader& reader, CSnLoadedBank& bank, uint32_t size, uint32_t bankId) {
  const uint64_t chunkEnd = reader.Position() + size;
  uint32_t count = 0;
  if (size < sizeof count) {
    SOUND_LOG(Error, "Bank chunk HIRC of %u bytes has no object count", size);
    return SN_InvalidFile;
  }
  SNRESULT result = reader.ReadExact(&count, sizeof count);
  if (result != SN_Success) return result;
  // The object list is sized by the count: it is held against the bytes the bank really has left.
  const uint64_t inBank = reader.BytesLeft();
  const uint64_t held = size - sizeof count < inBank ? size - sizeof count : inBank;
  if (count > held / kHircObjectHeaderBytes) {
    SOUND_LOG(Error, "Bank chunk HIRC: %u objects cannot fit in %llu bytes", count,
              static_cast<unsigned long long>(held));
    return SN_InvalidFile;
  }
  if (count && bank.ReserveObjects(count) != SN_Success) {
    SOUND_LOG(Error, "Bank chunk HIRC: no room for %u objects", count);
    return SN_Failure;
  }
  const SnExtraHircObjectLoader hook = SoundEngine::ExtraHircObjectLoader();
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t left = chunkEnd - reader.Position();
    if (left < kHircObjectHeaderBytes) {
      SOUND_LOG(Error, "Bank chunk HIRC: object %u of %u starts past the chunk's end", i, count);
      return SN_InvalidFile;
    }
    // Field by field: each lands in its own variable in one load.
    SnHircObjectHeader header{0, 0};
    result = reader.ReadExact(&header.type, sizeof header.type);
    if (result == SN_Success) result = reader.ReadExact(&header.size, sizeof header.size);
    if (result != SN_Success) return result;
    if (header.size > left - kHircObjectHeaderBytes || header.size < sizeof(uint32_t)) {
      SOUND_LOG(Error, "Bank chunk HIRC: object %u of type %u has a size of %u bytes with %llu left", i,
                unsigned(header.type), header.size, static_cast<unsigned long long>(left - kHircObjectHeaderBytes));
      return SN_InvalidFile;
    }
    const uint64_t objectEnd = reader.Position() + header.size;
    if (IsEngineHircType(header.type)) {
      result = bank.LoadObject(header.type, header.size, reader);
    } else if (hook) {
      result = hook(header, &bank, bankId);
      if (result == SN_NothingChanged) {
        SOUND_LOG(Error, "Bank chunk HIRC: no loader takes objects of type %u", unsigned(header.type));
        const SNRESULT skipped = GoOnAt(reader, objectEnd, "a HIRC object");
        return skipped == SN_Success ? SN_NothingChanged : skipped;
      }
    } else {
      result = SN_Success;  // music objects without the music engine, and types nobody knows
    }
    if (result != SN_Success) return result;
    result = GoOnAt(reader, objectEnd, "a HIRC object");
    if (result != SN_Success) return result;
  }
  return SN_Success;
}

SNRESULT ReadHeader(CSnSoundBankReader& reader, SnBankHeader& header) {
  SnBankChunkHeader chunk{};
  uint32_t count = 0;
  SNRESULT result = reader.Read(&chunk, sizeof chunk, count);
  if (result != SN_Success) return result;
  if (count < sizeof chunk || chunk.tag != kBankTagHeader) {
    SOUND_LOG(Error, "Bank: the first chunk is not a bank header");
    return SN_InvalidFile;
  }
  // A short header is read only as far as its chunk goes.
  const uint32_t fieldBytes = chunk.size < kBankHeaderBytes ? chunk.size : kBankHeaderBytes;
  result = reader.ReadExact(&header, fieldBytes);
  if (result != SN_Success) return result;
  if (fieldBytes < kBankHeaderBytes) {
    SOUND_LOG(Error, "Bank: the bank header holds %u bytes, %u are needed", chunk.size, kBankHeaderBytes);
    return SN_ShortRead;
  }
  ApplyBankHeaderMask(header);
  // A header whose chunk runs past the end of the bank is short, whether the bank is a file or an image.
  uint32_t skipped = 0;
  result = reader.Skip(chunk.size - kBankHeaderBytes, skipped);
  if (skipped < chunk.size - kBankHeaderBytes) {
    SOUND_LOG(Error, "Bank: the bank ends inside its header chunk of %u bytes", chunk.size);
    return SN_ShortRead;
  }
  if (result != SN_Success) return result;
  if (header.version != kBankVersion) {
    SOUND_LOG(Error, "Bank %u has format version %u, not %u", header.bankId, header.version, kBankVersion);
    return SN_WrongBankVersion;
  }
  return SN_Success;
}

thread_local uint16_t t_loadingMotionFlag = 0;

// The flag is known to the object readers from the header on, for this load only.
class MotionFlagScope {
 public:
  explicit MotionFlagScope(uint16_t flag) : m_previous(t_loadingMotionFlag) { t_loadingMotionFlag = flag; }
  ~MotionFlagScope() { t_loadingMotionFlag = m_previous; }
  MotionFlagScope(const MotionFlagScope&) = delete;
  MotionFlagScope& operator=(const MotionFlagScope&) = delete;

 private:
  uint16_t m_previous;
};

SNRESULT ReadChunks(CSnSoundBankReader& reader, CSnLoadedBank& bank, SnBankLoadMode mode, SnBankHeader& header) {
  SNRESULT result = ReadHeader(reader, header);
  if (result != SN_Success) return result;
  MotionFlagScope motion(header.motionFlag);
  SnBankLoadScope scope(bank, reader);
  for (;;) {
    SnBankChunkHeader chunk{};
    uint32_t count = 0;
    result = reader.Read(&chunk, sizeof chunk, count);
    if (result != SN_Success) return result;
    if (count == 0) return SN_Success;
    if (count < sizeof chunk) {
      SOUND_LOG(Error, "Bank %u ends inside a chunk header", header.bankId);
      return SN_InvalidFile;
    }
    const uint64_t chunkEnd = reader.Position() + chunk.size;
    const bool structureOnly = mode == SnBankLoad_StructureOnly;
    switch (chunk.tag) {
      case kBankTagSettings: result = BankChunks::ReadSettings(reader, chunk.size); break;
      case kBankTagEnvironment: result = BankChunks::ReadEnvironmentCurves(reader, chunk.size); break;
      case kBankTagPlatform: result = BankChunks::ReadPlatform(reader, chunk.size); break;
      case kBankTagBankNames: result = BankChunks::ReadBankNames(reader, bank, chunk.size); break;
      case kBankTagHierarchy: result = ReadHierarchy(reader, bank, chunk.size, header.bankId); break;
      case kBankTagMediaIndex: result = structureOnly ? SN_Success : ReadMediaIndex(reader, bank, chunk.size); break;
      case kBankTagMediaData:
        result = structureOnly ? SN_Success : bank.LoadMediaData(reader, chunk.size, mode);
        break;
      default: break;  // skipped by its size below
    }
    if (result != SN_Success) return result;
    result = GoOnAt(reader, chunkEnd, "a chunk");
    if (result != SN_Success) return result;
  }
}

}  // namespace

uint16_t LoadingBankMotionFlag() { return t_loadingMotionFlag; }

SNRESULT ReadBankChunks(CSnSoundBankReader& reader, CSnLoadedBank& bank, SnBankLoadMode mode, SnBankHeader& header) {
  header = SnBankHeader{};
  const SNRESULT result = ReadChunks(reader, bank, mode, header);
  // The chunk readers name what was wrong; this says where the load stopped.
  if (result != SN_Success)
    SOUND_LOG(Error, "Bank %u: the load stops at byte %llu with result %d", header.bankId,
              static_cast<unsigned long long>(reader.Position()), int(result));
  return result;
}

}  // namespace SN
