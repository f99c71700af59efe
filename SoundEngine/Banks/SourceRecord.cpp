// Reading a bank's source record and turning it into a source descriptor.
#include "SoundEngine/Banks/SourceRecord.h"

#include "SoundEngine/Log.h"

namespace SN {

void SnSourceRecord::Describe(CSnSourceDesc& desc) const {
  if (IsPlugin()) {
    desc.SetPluginSource(sourceId);
    desc.codecId = classId;
    return;
  }
  uint32_t storage = CSnSourceDesc::Storage_Streamed;
  uint32_t extra = 0;
  if (streamType == Stream_InMemory)
    storage = CSnSourceDesc::Storage_InMemory;
  else if (streamType == Stream_Prefetched)
    extra = CSnSourceDesc::kPrefetched;
  if (flags & kFlagLanguage) extra |= CSnSourceDesc::kLanguageFile;
  const bool inMemory = streamType == Stream_InMemory;
  desc.SetMediaSource(classId, sourceId, inMemory ? 0xFFFFFFFFu : sizeOrFileId, inMemory ? sizeOrFileId : 0,
                      (storage << CSnSourceDesc::kStorageShift) | extra);
}

namespace BankParse {

SNRESULT ReadSourceRecord(SnBankCursor& cursor, SnSourceRecord& record) {
  record = SnSourceRecord{};
  if (!cursor.Take(record.classId) || !cursor.Take(record.streamType) || !cursor.Take(record.sourceId) ||
      !cursor.Take(record.sizeOrFileId) || !cursor.Take(record.flags)) {
    SOUND_LOG(Error, "A source record runs past its object");
    return SN_Failure;
  }
  const uint32_t kind = record.classId & 0xF;
  if (kind != SnSourceRecord::kClassCodec && kind != SnSourceRecord::kClassPlugin) {
    SOUND_LOG(Error, "Source %u: class 0x%08x is neither a codec nor a source plug-in", record.sourceId,
              record.classId);
    return SN_Failure;
  }
  if (record.streamType > SnSourceRecord::Stream_Prefetched) {
    SOUND_LOG(Error, "Source %u: stream type %u is unknown", record.sourceId, unsigned(record.streamType));
    return SN_Failure;
  }
  if (kind == SnSourceRecord::kClassPlugin) {
    if (!cursor.Take(record.paramSize) || !(record.params = cursor.TakeBytes(record.paramSize))) {
      SOUND_LOG(Error, "Source %u: the plug-in parameters run past the object", record.sourceId);
      return SN_Failure;
    }
  }
  return SN_Success;
}

}  // namespace BankParse
}  // namespace SN
