// The switch container: plays, for each game object, the children listed under the current value of
// one switch group or state group. In continuous mode it keeps each game object's plays and, when
// the value changes, fades the old value's children out and the new value's children in. Audio
// thread; read on the bank thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/MultiChildContainer.h"

namespace SN {

constexpr uint8_t kHircSwitchType = 6;
constexpr SNRESULT SN_ListedTwice = SNRESULT(57);

class CSnSwitchContainer final : public CSnMultiChildContainer,
                                 public ISnSwitchSubscriber,
                                 public ISnGameSyncSubscriber,
                                 public ISnPreparedGameSyncListener {
 public:
  enum GroupType : uint8_t { Group_Switch = 0, Group_State = 1 };
  // Per-child flags
  static constexpr uint8_t kOnSwitchModeMask = 0x07;  // kept; changes nothing
  static constexpr uint8_t kFirstPlayOnly = 0x08;
  static constexpr uint8_t kContinuesAcross = 0x10;

  struct ChildSettings {
    uint32_t childId;
    uint32_t fadeOutMs;
    uint32_t fadeInMs;
    uint8_t flags;
  };

  explicit CSnSwitchContainer(uint32_t id) : CSnMultiChildContainer(id) {}
  ~CSnSwitchContainer() override;

  uint32_t NodeCategory() const override { return Category_Switch; }
  // The common node parameters, the group, the children, the switch lists and the child settings.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // Drops every subscription, then follows the group: SN_Success for group 0 (nothing to follow),
  // SN_InvalidParameter for a type other than switch or state.
  SNRESULT SubscribeGroup(uint32_t groupId, uint8_t type);
  void UnsubscribeGroup();
  uint32_t CurrentValue(const SnRTPCKey& key) const;

  uint32_t GroupId() const { return m_groupId; }
  uint8_t GroupTypeOf() const { return m_groupType; }
  uint32_t DefaultSwitch() const { return m_defaultSwitch; }
  bool IsContinuous() const { return m_continuous; }
  // The children of a value (null when it has none), and their count.
  const uint32_t* ListOf(uint32_t value, uint32_t& count) const;
  const ChildSettings* SettingsOf(uint32_t childId) const;
  uint32_t RecordCount() const { return m_records.Count(); }

  SNRESULT PlayNode(CSnPlayParams& params) override;
  void ExecuteAction(const SnActionParams& params) override;
  void RemoveChild(CSnHierarchyNode* child) override;
  void DropGameObjectValues(CSnRegisteredObj* gameObject) override;
  // The current value's list (or the default's) keeps the call's `current`; every other list's
  // children are gathered as others. The group joins the gather's groups.
  void GatherStreamedSources(SnStreamGather& gather, bool current) const override;
  // With game-sync preparation on, only the children of the group's prepared values are prepared,
  // and they follow the values as they are prepared and unprepared; later prepares only count.
  SNRESULT PrepareData() override;
  void UnprepareData() override;
  uint32_t PreparationCount() const { return m_preparations; }
  // ISnPreparedGameSyncListener
  SNRESULT PrepareGameSyncValue(uint32_t valueId, bool prepare) override;

  // ISnSwitchSubscriber, ISnGameSyncSubscriber
  void SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void* filter) override;
  void StateChanged(uint32_t stateId, const SnRTPCKey& key, const void* filter) override;
  void TriggerReceived(uint32_t) override {}

 protected:
  void BeforeDestroy() override;

 private:
  struct List {
    uint32_t value;
    uint32_t first;  // into m_listIds
    uint32_t count;
  };
  struct Record {
    CSnPlayParams params;  // holds a reference on its game object
    uint8_t paused;
  };
  // The records of one game object: they lie together, the array kept in game-object order.
  struct RecordRange {
    uint32_t begin;
    uint32_t end;
  };
  RecordRange RecordsOf(const CSnRegisteredObj* gameObject) const;
  SNRESULT ReadPayload(const uint8_t* data, uint32_t size);
  // The list of the value, else the default switch's.
  const uint32_t* ListOrDefault(uint32_t value, uint32_t& count) const;
  // A value's list with its children and their settings looked up once for a whole change.
  struct ResolvedEntry {
    CSnHierarchyNode* child;  // null: not a listed child, found by id when used
    const ChildSettings* settings;
  };
  struct ResolvedList {
    uint32_t value = 0;
    bool resolved = false;
    const uint32_t* ids = nullptr;
    uint32_t count = 0;
    SnInlineArray<ResolvedEntry, 16> entries;  // may hold fewer than `count` without memory
  };
  void Resolve(uint32_t value, ResolvedList& out) const;
  void StopListed(const ResolvedList& list, uint32_t i, CSnRegisteredObj* gameObject) const;
  void ValueChanged(uint32_t value, const SnRTPCKey& key);
  // The object's children of its old value stop and those of the new one play for each of its
  // records (`known`, when the caller found them); the caches carry the looked-up lists from one
  // object to the next.
  void ApplyValue(uint32_t value, CSnRegisteredObj* gameObject, ResolvedList* newCache = nullptr,
                  ResolvedList* oldCache = nullptr, const RecordRange* known = nullptr);
  void DropRecords(CSnRegisteredObj* gameObject, uint32_t playingId);
  bool PreparesBySync() const;
  // Each child of the value's list keeps a preparation (and a reference) until it is unprepared; on
  // a failure the children already prepared are unprepared again.
  SNRESULT PrepareList(uint32_t value);
  void UnprepareList(uint32_t value);
  // The lists among the first `count` whose value is prepared.
  void UnprepareLists(uint32_t count);

  SnArray<List> m_lists;
  SnArray<uint32_t> m_listIds;
  SnArray<ChildSettings> m_settings;
  SnArray<Record> m_records;
  uint32_t m_groupId = 0;
  uint32_t m_defaultSwitch = 0;
  uint8_t m_groupType = Group_Switch;
  bool m_continuous = false;
  bool m_subscribed = false;
  uint32_t m_preparations = 0;  // counted while the group's prepared values drive what is prepared
};

}  // namespace SN
