// State-property objects and their loader.
#include "SoundEngine/Hierarchy/StateProperties.h"

#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

SNRESULT CSnStateProperties::SetInitialValues(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  if (m_properties.ReadFromBank(cursor, data + size) != SN_Success) {
    SOUND_LOG(Error, "State properties %u: the property block runs past the object", ID());
    return SN_Failure;
  }
  // A state's values add to the node's own: they may lower a filter value, not carry it past its range.
  HoldBankProperties(m_properties, "State properties", ID(), PropertyOffsetRange);
  return SN_Success;
}

void CSnStateProperties::FillStateSet(SnStatePropertySet& set) const {
  set.count = 0;
  for (uint32_t i = 0; i < m_properties.Count() && set.count < CSnStateUser::kPropertyCount; ++i) {
    const uint8_t id = m_properties.IdAt(i);
    if (id >= CSnStateUser::kPropertyCount) continue;
    float value;
    memcpy(&value, m_properties.ValueAt(i), sizeof value);
    set.entries[set.count++] = {id, value};
  }
}

namespace {
const SnHircKind kStatePropertiesKind = {SnIndex_StateProperties, CreateFromPayload<CSnStateProperties>, nullptr,
                                         nullptr};
const bool kRegistered = (SetHircKind(kHircStatePropertiesType, &kStatePropertiesKind), true);
}  // namespace

}  // namespace SN
