// Walks a random/sequence container's playlist tree to the segment that plays next, looking ahead
// provisionally: step-mode choices made before `Commit` can be rolled back by `JumpTo`. Audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "MusicEngine/MusicPlaylist.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnMusicPlaylistContainer;

// The loops a group or item plays: 0 forever; offsets draw a count around the loop count, at least 1,
// at most 65535.
uint16_t ResolveLoopCount(const CSnMusicPlaylistNode& node);

class CSnMusicPlaylistIterator {
 public:
  // Walks that choose this many times per record (plus one) without reaching a segment give up:
  // groups without segments can otherwise be chosen again and again.
  static constexpr uint32_t kChoicesPerRecord = 64;

  CSnMusicPlaylistIterator() = default;
  ~CSnMusicPlaylistIterator() { Term(); }
  CSnMusicPlaylistIterator(const CSnMusicPlaylistIterator&) = delete;
  CSnMusicPlaylistIterator& operator=(const CSnMusicPlaylistIterator&) = delete;

  // Begins saving step-mode states before they change.
  void Init(CSnMusicPlaylistContainer& owner);
  // The first segment of a new play; SN_Failure when the playlist yields none (HasItem false).
  SNRESULT First(uint32_t playingId);
  // The segment after the current one finished; SN_Failure when the playlist is done.
  SNRESULT Next();
  // Restores the saved step-mode states and walks to the item; SN_Failure when no item has the id.
  SNRESULT JumpTo(uint32_t playlistItemId);
  // The step-mode choices made so far become final.
  void Commit();
  void Term();

  uint32_t SegmentId() const { return m_segmentId; }
  uint32_t PlaylistItemId() const { return m_itemId; }
  bool HasItem() const { return m_hasItem; }
  // Loops of the current item left, counting the one playing; 0 forever.
  uint16_t ItemLoopsLeft() const { return m_itemLoops; }

 private:
  struct StackEntry {
    static constexpr uint8_t kValid = 0x01;
    static constexpr uint8_t kForever = 0x02;
    CSnMusicPlaylistGroup* group;
    uint16_t remainingLoops;
    uint8_t flags;
    CSnPlaylistState* ownState;  // continuous modes
  };
  struct SavedState {
    CSnMusicPlaylistGroup* group;
    CSnPlaylistState* copy;
  };
  enum class Choice { Chosen, GroupEnded, Failed };
  // Where a walk goes on: into a node, choosing again in the top group, or climbing from it.
  enum class Step { Enter, Choose, Climb };

  SNRESULT Walk(Step step, CSnMusicPlaylistNode* node, Step afterGroupEnd);
  SNRESULT Push(CSnMusicPlaylistGroup* group);
  void Pop();
  void ClearStack();
  Choice Choose(StackEntry& entry, uint16_t& index);
  Choice ChooseInSequence(StackEntry& entry, CSnSequencePlaylistState& state, uint16_t& index);
  Choice ChooseAtRandom(StackEntry& entry, CSnRandomPlaylistState& state, uint16_t& index);
  // One loop of the entry done: false when the group has played all of them.
  static bool CountLoop(StackEntry& entry);
  // The state a choice in the entry changes: the group's own in step modes (saved first), else the entry's.
  CSnPlaylistState* StateFor(StackEntry& entry);
  void Save(CSnMusicPlaylistGroup* group);
  void RestoreSaved();
  void DropSaved();
  void SetItem(CSnMusicPlaylistItem* item);
  void ClearItem();
  // Pushes the groups from `group` down to the node with the id, each positioned on the child toward
  // it, and returns the node; null when no node below has the id.
  CSnMusicPlaylistNode* Find(CSnMusicPlaylistGroup* group, uint32_t itemId, uint32_t depth);
  SNRESULT Fail();

  CSnMusicPlaylistContainer* m_owner = nullptr;
  SnArray<StackEntry> m_stack;
  uint32_t m_playingId = 0;
  uint32_t m_segmentId = 0;
  bool m_hasItem = false;
  uint32_t m_itemId = 0;
  uint16_t m_itemLoops = 0;
  SnArray<SavedState> m_saved;
  bool m_saving = false;
  uint32_t m_choiceBudget = 0;
};

}  // namespace SN
