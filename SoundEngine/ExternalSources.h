// The engine's copy of a posted event's external sources: one reference-counted block holding the
// entries, each with its own copy of the file name; the last release frees them all.
#pragma once

#include <cstdint>

#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN {

class CSnExternalSourceList final : public CSnRefCountedObject {
 public:
  // Null when the copy cannot be made (nothing is left behind).
  static CSnExternalSourceList* Copy(const SnExternalSourceInfo* sources, uint32_t count);

  uint32_t AddRef() override;
  uint32_t Release() override;
  uint32_t Count() const { return m_count; }
  const SnExternalSourceInfo& operator[](uint32_t i) const { return Entries()[i]; }

 private:
  explicit CSnExternalSourceList(uint32_t count) : m_count(count) {}
  SnExternalSourceInfo* Entries() const;
  void FreeNames(uint32_t upTo);

  std::atomic<uint32_t> m_refCount{1};
  uint32_t m_count;
  // `m_count` entries follow.
};

}  // namespace SN
