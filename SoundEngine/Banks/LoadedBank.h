// The bank being loaded, as the chunk loop sees it: where the HIRC objects, the media index, the media
// bytes and the names of other banks go. The bank manager's record implements it.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Banks/BankFormat.h"

namespace SN {

class CSnIndexedObject;
class CSnSoundBankReader;

// Bank thread only: one load runs at a time.
class CSnLoadedBank {
 public:
  virtual ~CSnLoadedBank() = default;

  // Room for `count` more objects in the object list (SN_Failure when there is none).
  virtual SNRESULT ReserveObjects(uint32_t count) = 0;
  // One object of a type the engine loads itself: its `size` payload bytes, starting with its id, are
  // next in the reader. Reading less is allowed; reading past them fails the load.
  virtual SNRESULT LoadObject(uint8_t type, uint32_t size, CSnSoundBankReader& reader) = 0;
  // An object an outside loader (the music hook) created; the bank keeps its reference. Ignored when
  // the object list is full.
  virtual void AddObject(CSnIndexedObject* object) = 0;
  // The DIDX entries, valid during the call.
  virtual SNRESULT LoadMediaIndex(const SnMediaIndexView& index) = 0;
  // The DATA payload of `size` bytes is next in the reader: read whole in a normal load, entry by entry
  // in the media preparations.
  virtual SNRESULT LoadMediaData(CSnSoundBankReader& reader, uint32_t size, SnBankLoadMode mode) = 0;
  // A name of bank `bankId` (not terminated, without ".bnk"), for opening it by id later.
  virtual SNRESULT AddBankName(uint32_t bankId, const char* name, uint32_t length) = 0;

  // The reader of the load in progress, for outside loaders; null between loads.
  CSnSoundBankReader* LoadingReader() const { return m_loadingReader; }

 private:
  friend class SnBankLoadScope;
  CSnSoundBankReader* m_loadingReader = nullptr;
};

// Names the reader of a load for the bank's outside loaders while the chunk loop runs.
class SnBankLoadScope {
 public:
  SnBankLoadScope(CSnLoadedBank& bank, CSnSoundBankReader& reader) : m_bank(bank) { m_bank.m_loadingReader = &reader; }
  ~SnBankLoadScope() { m_bank.m_loadingReader = nullptr; }
  SnBankLoadScope(const SnBankLoadScope&) = delete;
  SnBankLoadScope& operator=(const SnBankLoadScope&) = delete;

 private:
  CSnLoadedBank& m_bank;
};

}  // namespace SN
