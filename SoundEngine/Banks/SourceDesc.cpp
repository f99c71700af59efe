// Source descriptors: the owned block is the one thing a descriptor frees, whatever its storage bits say.
#include "SoundEngine/Banks/SourceDesc.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

size_t NameBytes(const uint8_t* name) {
  const auto* chars = reinterpret_cast<const char16_t*>(name);
  size_t length = 0;
  while (chars[length]) ++length;
  return (length + 1) * sizeof(char16_t);
}

uint8_t* CopyBlock(const uint8_t* bytes, size_t size) {
  auto* copy = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, size, alignof(char16_t)));
  if (copy) memcpy(copy, bytes, size);
  return copy;
}

}  // namespace

void CSnSourceDesc::Clear() {
  if (owned && data) MemoryMgr::Free(g_DefaultPoolId, const_cast<uint8_t*>(data));
  *this = CSnSourceDesc();
}

void CSnSourceDesc::SetPluginSource(uint32_t id) {
  Clear();
  sourceId = id;
  flags = Storage_Plugin << kStorageShift;
}

SNRESULT CSnSourceDesc::SetExternalSource(uint32_t pluginId, const char16_t* fileName, uint32_t id, uint32_t file,
                                          bool noOwnFile, bool streamOption) {
  Clear();
  if (!fileName) return SN_InvalidParameter;
  const auto* name = reinterpret_cast<const uint8_t*>(fileName);
  uint8_t* copy = CopyBlock(name, NameBytes(name));
  if (!copy) return SN_InsufficientMemory;
  codecId = pluginId;
  data = copy;
  owned = true;
  sourceId = id;
  fileId = file;
  flags = kExternalByName | kProvidedMedia | (Storage_Streamed << kStorageShift) | (noOwnFile ? kNoOwnFile : 0) |
          (streamOption ? kStreamOption : 0);
  return SN_Success;
}

void CSnSourceDesc::SetMediaSource(uint32_t codec, uint32_t id, uint32_t file, uint32_t size, uint32_t mediaFlags) {
  SetMediaSource(codec, id, file, size, mediaFlags, nullptr);
}

void CSnSourceDesc::SetMediaSource(uint32_t codec, uint32_t id, uint32_t file, uint32_t size, uint32_t mediaFlags,
                                   const uint8_t* bytes) {
  Clear();
  codecId = codec;
  sourceId = id;
  fileId = file;
  mediaSize = size;
  flags = mediaFlags | kProvidedMedia;
  data = bytes;
}

CSnSourceDesc* CSnSourceDesc::Clone() const {
  auto* clone = PoolNew<CSnSourceDesc>(g_DefaultPoolId, *this);
  if (!clone || !owned || !data) return clone;
  clone->data = CopyBlock(data, NameBytes(data));
  if (!clone->data) {
    clone->owned = false;
    PoolDelete(g_DefaultPoolId, clone);
    return nullptr;
  }
  return clone;
}

void CSnSourceDesc::Destroy(CSnSourceDesc* desc) {
  if (!desc) return;
  desc->Clear();
  PoolDelete(g_DefaultPoolId, desc);
}

CSnSourceDesc CSnSourceDesc::MediaOnly() const {
  CSnSourceDesc copy = *this;
  copy.data = nullptr;
  copy.owned = false;
  return copy;
}

bool CSnSourceDesc::GetMedia(const uint8_t*& bytes, uint32_t& size, CSnBankRecord*& bank) const {
  bank = nullptr;
  if (data) {
    bytes = data;
    size = mediaSize;
    return true;
  }
  bytes = nullptr;
  size = 0;
  if (!g_pBankManager) return false;
  const SnMediaRef ref = g_pBankManager->GetMedia(sourceId);
  if (!ref.data) return false;
  bytes = ref.data;
  size = ref.size;
  bank = ref.bank;
  return true;
}

void CSnSourceDesc::ReleaseMedia(CSnBankRecord* bank) const {
  if (data || !g_pBankManager) return;
  g_pBankManager->ReleaseMedia(sourceId, bank);
}

SNRESULT CSnSourceDesc::PrepareMedia() const {
  if (!IsTableMedia()) return SN_Success;
  if (!g_pBankManager) return SN_Failure;
  return g_pBankManager->PrepareMedia(*this);
}

void CSnSourceDesc::ReleaseBankMedia() const {
  if (IsTableMedia() && g_pBankManager) g_pBankManager->UnprepareMedia(sourceId);
}

}  // namespace SN
