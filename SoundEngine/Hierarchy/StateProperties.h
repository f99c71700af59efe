// The property values one state gives a node: an indexed object of its own, shared by the state links
// that map a state to it.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Hierarchy/PropertyBlob.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnStateProperties final : public CSnIndexedObject {
 public:
  explicit CSnStateProperties(uint32_t id) : CSnIndexedObject(id, SnIndex_StateProperties) {}

  // The bank payload after the id: one property block. SN_Failure when it runs past the payload.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);
  const SnPropertyBlob4& Properties() const { return m_properties; }
  // The state properties 0 to 5 this set gives, as the state manager reads them.
  void FillStateSet(SnStatePropertySet& set) const;

  uint32_t m_linkValue = 0;

 private:
  SnPropertyBlob4 m_properties;
};

// The bank's HIRC type of state-property objects.
constexpr uint8_t kHircStatePropertiesType = 1;

}  // namespace SN
