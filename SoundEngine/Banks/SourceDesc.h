// Where a sound's or track's bytes come from: a media of the media table (a bank's or the game's), a
// streamed file, a plug-in, or an external source named by a file name the descriptor owns.
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/BankFormat.h"

namespace SN {

class CSnBankRecord;

// A plain copy shares the owned block: only the owner clears the descriptor, and a copy that outlives
// it is made with Clone or MediaOnly.
class CSnSourceDesc {
 public:
  static constexpr uint32_t kLanguageFile = 0x001;    // the file is looked for in the language folder first
  static constexpr uint32_t kPrefetched = 0x002;
  static constexpr uint32_t kStorageMask = 0x07C;     // bits 2-6: how the bytes are kept
  static constexpr uint32_t kStorageShift = 2;
  static constexpr uint32_t kProvidedMedia = 0x080;   // a bank or the game provides the media
  static constexpr uint32_t kNoOwnFile = 0x100;
  static constexpr uint32_t kStreamOption = 0x200;
  static constexpr uint32_t kExternalByName = 0x400;  // the data is the owned file name of an external source
  static constexpr uint32_t kNoOwnFileAlt = 0x800;
  static constexpr uint32_t kNoFile = 0xFFFFFFFFu;  // a file id that names no file
  enum Storage : uint32_t { Storage_None = 0, Storage_Streamed = 1, Storage_Plugin = 2, Storage_InMemory = 3 };

  uint32_t sourceId = 0;
  uint32_t fileId = kNoFile;
  uint32_t mediaSize = 0;
  uint32_t flags = 0;
  const uint8_t* data = nullptr;
  uint32_t codecId = 0xFFFFFFFFu;  // upper 16 bits: the codec (1 PCM, 2 ADPCM); a plug-in's id for plug-ins
  uint32_t lookAhead = 0;
  bool owned = false;  // the data block is this descriptor's, from the default pool

  CSnSourceDesc() = default;

  uint32_t StorageType() const { return (flags & kStorageMask) >> kStorageShift; }
  // Media whose bytes the media table holds: a bank's, a prepared one or the game's.
  bool IsTableMedia() const { return mediaSize != 0 && !data; }

  // Frees the owned block, and only that, then returns to the defaults.
  void Clear();
  void SetPluginSource(uint32_t id);
  // An external source: `fileName` is copied into a block the descriptor owns.
  SNRESULT SetExternalSource(uint32_t pluginId, const char16_t* fileName, uint32_t id, uint32_t file,
                             bool noOwnFile, bool streamOption);
  // Media found by id in the media table; `mediaFlags` gains kProvidedMedia.
  void SetMediaSource(uint32_t codec, uint32_t id, uint32_t file, uint32_t size, uint32_t mediaFlags);
  // The same, with bytes that stay the caller's.
  void SetMediaSource(uint32_t codec, uint32_t id, uint32_t file, uint32_t size, uint32_t mediaFlags,
                      const uint8_t* bytes);
  // A descriptor of its own, owned block copied, from the default pool; null without memory.
  CSnSourceDesc* Clone() const;
  // Clears and frees a clone.
  static void Destroy(CSnSourceDesc* desc);
  // A copy naming the same media, holding no data: what a preparation keeps of a request.
  CSnSourceDesc MediaOnly() const;

  // The bytes to play: the descriptor's own, else a reference of the media table's. `bank` is the
  // bank they lie in (null when none), to be handed back to ReleaseMedia.
  bool GetMedia(const uint8_t*& bytes, uint32_t& size, CSnBankRecord*& bank) const;
  void ReleaseMedia(CSnBankRecord* bank) const;
  // A node's preparation of its media; nothing to do for bytes the descriptor carries.
  SNRESULT PrepareMedia() const;
  // One prepared reference goes (skipped while a preparation command undoes itself).
  void ReleaseBankMedia() const;
};

}  // namespace SN
