// A layer of a layer container: game-parameter curves shared by some of the container's children,
// and a crossfade parameter whose value, read through each child's own curve, gives that child a
// gain. Owned by its layer container; audio thread, read on the bank thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/Hierarchy/ParentNode.h"

namespace SN {

class CSnContainerLayer final : public ISnLayerRTPCSubscriber {
 public:
  explicit CSnContainerLayer(uint32_t id) : m_id(id) {}
  ~CSnContainerLayer();
  CSnContainerLayer(const CSnContainerLayer&) = delete;
  CSnContainerLayer& operator=(const CSnContainerLayer&) = delete;

  uint32_t ID() const { return m_id; }
  // The layer's payload after its id: its curves, its crossfade parameter, its children's curves.
  // Counts are checked against the bytes left; SN_Failure past the end.
  SNRESULT SetInitialValues(SnBankCursor& in);

  // Detaches every child, then attaches those whose parent is the new owner (none for null).
  void SetOwner(CSnParentNode* owner);
  CSnParentNode* Owner() const { return m_owner; }
  // Finds or appends the child's entry and attaches it; SN_Failure (the entry goes) when the child
  // has another parent. A null curve clears the child's curve.
  SNRESULT SetChildCurve(uint32_t childId, const SnRTPCGraphPoint* points, uint32_t count);
  // SN_IdNotFound when the layer does not list the child.
  SNRESULT RemoveChild(uint32_t childId);
  // The owner took or let go of a child: a listed one attaches or detaches.
  void ChildJoined(CSnHierarchyNode* child);
  void ChildLeft(uint32_t childId);
  SNRESULT SetCrossfadeRTPC(uint32_t rtpcId, uint8_t rtpcType);

  uint32_t CrossfadeRTPC() const { return m_crossfadeId; }
  uint8_t CrossfadeRTPCType() const { return m_crossfadeType; }  // 2: a modulator drives it
  uint64_t ParameterMask() const { return m_mask; }
  uint32_t ChildEntryCount() const { return m_entries.Count(); }
  // The attached node of a listed child, else null.
  CSnHierarchyNode* AttachedChild(uint32_t childId) const;
  // The crossfade gain of the child for the key; false when none applies (no crossfade, no curve,
  // or 1.0 without a value of the key's game object).
  bool CrossfadeGain(uint32_t childId, const SnRTPCKey& key, float& gain) const;
  // Adds the layer's curve values of volume, pitch and the two filters (as `mask` wants them) to an
  // attached child's accumulated parameters.
  void ApplyToParams(const CSnHierarchyNode& child, SnSoundParams& params, uint32_t mask, const SnRTPCKey& key) const;

  // ISnLayerRTPCSubscriber
  bool AcceptsRTPCUpdate() override;
  void SetCrossfadeValue(const SnRTPCKey& key, float value) override;
  void UpdateInstanceProperty(uint32_t propertyId, uint32_t parameterId, float value, const SnRTPCKey& key,
                              const void* filter) override;

 private:
  struct Entry {
    uint32_t childId;
    CSnHierarchyNode* child;  // while attached; a child's parent link keeps this layer's owner
    CSnCurveGraph curve;      // points owned, default pool
  };
  Entry* FindEntry(uint32_t childId) const;
  SNRESULT Attach(Entry& entry, CSnHierarchyNode* joining = nullptr);
  void Detach(Entry& entry);
  void FreeCurve(Entry& entry);
  void* Subscriber() { return static_cast<ISnLayerRTPCSubscriber*>(this); }

  uint32_t m_id;
  SnArray<Entry> m_entries;
  uint64_t m_mask = 0;
  CSnParentNode* m_owner = nullptr;  // not referenced: the owner outlives its layers
  uint32_t m_crossfadeId = 0;
  uint8_t m_crossfadeType = 0;
};

}  // namespace SN
