// The two music containers: the random/sequence container, which plays its segments along a
// playlist tree, and the switch container, which picks a child from the values of switch or state
// groups through its decision tree and prepares only the children prepared values select.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicPlaylist.h"
#include "MusicEngine/MusicTransitionNode.h"
#include "SoundEngine/GameSyncs/StateMgr.h"

namespace SN {

class CSnMusicPlaylistContainer : public CSnMusicTransitionAwareNode {
 public:
  explicit CSnMusicPlaylistContainer(uint32_t id) : CSnMusicTransitionAwareNode(id) {}

  uint32_t NodeCategory() const override { return kMusicCategoryPlaylist; }
  // A play action: the playlist plays as a play's root, its first choices made final.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  CSnMatrixAwareContext* CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                       const CSnPlayParams& params) override;
  // The transition-aware block, then the playlist records, which replace the tree read before.
  SNRESULT ReadBankData(const uint8_t* data, uint32_t size);
  const CSnMusicPlaylistGroup& Playlist() const { return m_root; }
  CSnMusicPlaylistGroup& Playlist() { return m_root; }

 protected:
  bool TakesChildCategory(uint32_t category) const override { return category == kMusicCategorySegment; }

 private:
  CSnMusicPlaylistGroup m_root;
};

// The decision tree's first level: {argument value, child id}.
struct SnMusicSwitchPath {
  uint32_t value;
  uint32_t childId;
};

class CSnMusicSwitchContainer : public CSnMusicTransitionAwareNode, public ISnPreparedGameSyncListener {
 public:
  static constexpr uint32_t kTreeNodeBytes = 12;

  explicit CSnMusicSwitchContainer(uint32_t id) : CSnMusicTransitionAwareNode(id) {}
  ~CSnMusicSwitchContainer() override;

  uint32_t NodeCategory() const override { return kMusicCategorySwitch; }
  // The transition-aware block, the argument groups and the decision tree: SN_Failure for counts
  // past the bytes or a tree that does not hold a path of one node per argument.
  SNRESULT ReadBankData(const uint8_t* data, uint32_t size);

  bool ContinuePlaying() const { return m_continuePlaying; }
  uint32_t ArgumentCount() const { return m_argumentCount; }
  uint32_t ArgumentGroup(uint32_t index) const { return m_groupIds[index]; }
  uint8_t ArgumentGroupType(uint32_t index) const { return m_groupTypes[index]; }
  uint8_t TreeMode() const { return m_treeMode; }
  // For one argument: the child of the first-level entry with this key, 0 when none.
  uint32_t ResolveSingleArgument(uint32_t value) const { return ResolvePath(&value, 1, false); }
  // The child the tuple of values (one per argument, in order) leads to: at each level the entry
  // with the value, else (with `fallBack`) the default entry of key 0; 0 when none.
  uint32_t ResolvePath(const uint32_t* values, uint32_t count, bool fallBack) const;
  // A play action: the switch plays as a play's root.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  CSnMatrixAwareContext* CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                       const CSnPlayParams& params) override;
  // For one argument: the first level's {value, child id}; false for other depths.
  bool CollectFirstLevel(SnArray<SnMusicSwitchPath>& paths) const;
  uint32_t PreparationCount() const { return m_preparations; }

  // With game-sync preparation on and one argument, only the children of the default path and of
  // prepared values, counted per preparation; otherwise all children.
  SNRESULT PrepareData() override;
  void UnprepareData() override;
  // A value of the argument's group was prepared or unprepared.
  SNRESULT PrepareGameSyncValue(uint32_t valueId, bool prepare) override;

 protected:
  bool TakesChildCategory(uint32_t category) const override {
    return category >= kMusicCategorySegment && category <= kMusicCategorySwitch;
  }

 private:
  bool PreparesBySync() const;
  SnGameSyncGroupType GroupType() const {
    return m_groupTypes[0] == 1 ? SnGameSyncGroup_State : SnGameSyncGroup_Switch;
  }
  // The first-level children the default path or a prepared value selects.
  bool SelectedChildren(SnArray<uint32_t>& children) const;
  bool TreeHolds(uint32_t nodeCount, uint32_t depth) const;
  void FreeArguments();

  uint32_t* m_groupIds = nullptr;
  uint8_t* m_groupTypes = nullptr;
  uint8_t* m_tree = nullptr;
  uint32_t m_treeBytes = 0;
  uint32_t m_argumentCount = 0;
  uint32_t m_preparations = 0;
  uint8_t m_treeMode = 0;
  bool m_continuePlaying = true;
};

}  // namespace SN
