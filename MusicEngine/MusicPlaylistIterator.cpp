// The playlist iterator: a stack of the groups entered, each choosing its children in sequence or
// at random until its loops are spent, with step-mode states saved before a play commits to them.
#include "MusicEngine/MusicPlaylistIterator.h"

#include <algorithm>

#include "Base/MathUtil.h"
#include "MusicEngine/MusicContainers.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

uint16_t ResolveLoopCount(const CSnMusicPlaylistNode& node) {
  const int32_t loops = node.loopCount;
  if (loops == 0) return 0;
  if (node.loopMinOffset == 0 && node.loopMaxOffset == 0) return uint16_t(loops);
  const int32_t low = std::max(1, loops + node.loopMinOffset);
  const int32_t high = loops + node.loopMaxOffset;
  if (low == high) return uint16_t(loops);
  // An upper offset below the lower one leaves nothing to draw from: the lower bound stands.
  const int32_t drawn = high < low ? low : low + Base::Rand15() % (high - low + 1);
  // Cut to 16 bits a count could wrap to 0, which loops forever.
  return uint16_t(std::min(drawn, 0xFFFF));
}

void CSnMusicPlaylistIterator::Init(CSnMusicPlaylistContainer& owner) {
  Term();
  m_owner = &owner;
  m_saving = true;
  m_choiceBudget = kChoicesPerRecord * (owner.Playlist().CountRecords() + 1);
}

SNRESULT CSnMusicPlaylistIterator::First(uint32_t playingId) {
  if (!m_owner) return SN_Failure;
  m_playingId = playingId;
  m_saving = true;
  ClearStack();
  ClearItem();
  return Walk(Step::Enter, &m_owner->Playlist(), Step::Choose);
}

SNRESULT CSnMusicPlaylistIterator::Next() {
  if (!m_hasItem) return SN_Failure;
  if (m_itemLoops == 0) return SN_Success;
  if (m_itemLoops > 1) {
    --m_itemLoops;
    return SN_Success;
  }
  ClearItem();
  return Walk(Step::Climb, nullptr, Step::Climb);
}

SNRESULT CSnMusicPlaylistIterator::JumpTo(uint32_t playlistItemId) {
  if (!m_owner) return SN_Failure;
  RestoreSaved();
  ClearStack();
  ClearItem();
  CSnMusicPlaylistGroup* root = &m_owner->Playlist();
  CSnMusicPlaylistNode* target = root->itemId == playlistItemId ? root : Find(root, playlistItemId, 0);
  if (!target) {
    ClearStack();
    SOUND_LOG(Error, "Music playlist %u has no item %u", m_owner->ID(), playlistItemId);
    return SN_Failure;
  }
  if (target->IsSegmentItem()) {
    SetItem(static_cast<CSnMusicPlaylistItem*>(target));
    return SN_Success;
  }
  return Walk(Step::Enter, target, Step::Choose);
}

CSnMusicPlaylistNode* CSnMusicPlaylistIterator::Find(CSnMusicPlaylistGroup* group, uint32_t itemId, uint32_t depth) {
  if (depth > CSnMusicPlaylistGroup::kMaxDepth) return nullptr;
  for (uint32_t i = 0; i < group->ChildCount(); ++i) {
    CSnMusicPlaylistNode* child = group->Child(i);
    CSnMusicPlaylistNode* found = child->itemId == itemId ? child : nullptr;
    if (!found && !child->IsSegmentItem())
      found = Find(static_cast<CSnMusicPlaylistGroup*>(child), itemId, depth + 1);
    if (!found) continue;
    // The path is pushed root first: this group goes below what the deeper calls pushed.
    if (Push(group) != SN_Success) return nullptr;
    StackEntry pushed = m_stack[m_stack.Count() - 1];
    m_stack.RemoveAt(m_stack.Count() - 1);
    if (!m_stack.InsertAt(0, pushed)) {
      if (pushed.ownState) PoolDelete(g_DefaultPoolId, pushed.ownState);
      return nullptr;
    }
    CSnPlaylistState* state = StateFor(m_stack[0]);
    if (!state) return nullptr;
    if (state->IsSequence()) {
      static_cast<CSnSequencePlaylistState*>(state)->lastIndex = int16_t(i);
    } else {
      auto* random = static_cast<CSnRandomPlaylistState*>(state);
      const CSnRandomPlaylistState::Options options = group->RandomOptions();
      random->ForgetHistoryEntry(options, uint16_t(i));
      random->RecordChoice(options, uint16_t(i));
    }
    return found;
  }
  return nullptr;
}

void CSnMusicPlaylistIterator::Commit() {
  DropSaved();
  m_saving = false;
}

void CSnMusicPlaylistIterator::Term() {
  ClearStack();
  m_stack.Term();
  DropSaved();
  m_saved.Term();
  ClearItem();
}

SNRESULT CSnMusicPlaylistIterator::Walk(Step step, CSnMusicPlaylistNode* node, Step afterGroupEnd) {
  uint32_t budget = m_choiceBudget;
  for (;;) {
    if (step == Step::Enter) {
      if (node->IsSegmentItem()) {
        SetItem(static_cast<CSnMusicPlaylistItem*>(node));
        return SN_Success;
      }
      auto* group = static_cast<CSnMusicPlaylistGroup*>(node);
      step = Step::Choose;
      // A group with nothing to play is left for its parent to choose again.
      if (!group->ChildCount() || !group->hasSegment) continue;
      if (Push(group) != SN_Success) {
        Term();
        return SN_Failure;
      }
      continue;
    }
    if (!m_stack.Count()) return Fail();
    StackEntry& top = m_stack[m_stack.Count() - 1];
    if (step == Step::Climb) {
      // A continuous group plays on; a step group plays one child per loop.
      step = Step::Choose;
      if (!top.group->IsStepMode() || top.remainingLoops == 0) continue;
      if (top.remainingLoops > 1) {
        --top.remainingLoops;
        continue;
      }
      Pop();
      step = Step::Climb;
      continue;
    }
    if (budget-- == 0) {
      SOUND_LOG(Error, "Music playlist %u: %u choices reached no segment; the playlist ends", m_owner->ID(),
                m_choiceBudget);
      return Fail();
    }
    uint16_t index = 0;
    const Choice choice = Choose(top, index);
    if (choice == Choice::Failed) {
      Term();
      return SN_Failure;
    }
    if (choice == Choice::GroupEnded) {
      Pop();
      step = afterGroupEnd;
      continue;
    }
    node = top.group->Child(index);
    step = Step::Enter;
  }
}

SNRESULT CSnMusicPlaylistIterator::Push(CSnMusicPlaylistGroup* group) {
  if (group->playMode > SnMusicPlaylist_StepRandom) {
    SOUND_LOG(Error, "Music playlist group %u: play mode %u", group->itemId, group->playMode);
    return SN_Failure;
  }
  StackEntry entry{};
  entry.group = group;
  entry.remainingLoops = ResolveLoopCount(*group);
  entry.flags = uint8_t(StackEntry::kValid | (group->loopCount == 0 || group->IsStepMode() ? StackEntry::kForever : 0));
  if (!group->IsStepMode() && !(entry.ownState = group->NewSelectionState())) return SN_Failure;
  if (!m_stack.Add(entry, 5)) {
    if (entry.ownState) PoolDelete(g_DefaultPoolId, entry.ownState);
    return SN_Failure;
  }
  return SN_Success;
}

void CSnMusicPlaylistIterator::Pop() {
  StackEntry& top = m_stack[m_stack.Count() - 1];
  if (top.ownState) PoolDelete(g_DefaultPoolId, top.ownState);
  m_stack.RemoveAt(m_stack.Count() - 1);
}

void CSnMusicPlaylistIterator::ClearStack() {
  while (m_stack.Count()) Pop();
}

bool CSnMusicPlaylistIterator::CountLoop(StackEntry& entry) {
  if (!(entry.flags & StackEntry::kValid)) return false;
  if (entry.flags & StackEntry::kForever) return true;
  if (entry.remainingLoops > 1) {
    --entry.remainingLoops;
    return true;
  }
  return false;
}

CSnPlaylistState* CSnMusicPlaylistIterator::StateFor(StackEntry& entry) {
  if (!entry.group->IsStepMode()) return entry.ownState;
  CSnMusicPlaylistGroup* group = entry.group;
  if (!group->persistentState && !(group->persistentState = group->NewSelectionState())) return nullptr;
  Save(group);
  return group->persistentState;
}

CSnMusicPlaylistIterator::Choice CSnMusicPlaylistIterator::Choose(StackEntry& entry, uint16_t& index) {
  CSnPlaylistState* state = StateFor(entry);
  if (!state) return Choice::Failed;
  const Choice choice = state->IsSequence()
                            ? ChooseInSequence(entry, *static_cast<CSnSequencePlaylistState*>(state), index)
                            : ChooseAtRandom(entry, *static_cast<CSnRandomPlaylistState*>(state), index);
  if (choice != Choice::Chosen || !m_playingId || !g_pPlayingIDCallbackMgr) return choice;
  const uint32_t count = entry.group->ChildCount();
  uint32_t selection = index;
  bool endGroup = false;
  g_pPlayingIDCallbackMgr->NotifyMusicPlaylistSelect(m_playingId, entry.group->itemId, count, selection, endGroup);
  if (endGroup) return Choice::GroupEnded;
  if (selection < count) index = uint16_t(selection);
  return Choice::Chosen;
}

CSnMusicPlaylistIterator::Choice CSnMusicPlaylistIterator::ChooseInSequence(StackEntry& entry,
                                                                          CSnSequencePlaylistState& state,
                                                                          uint16_t& index) {
  const uint32_t count = entry.group->ChildCount();
  if (uint32_t(state.lastIndex + 1) >= count && !CountLoop(entry)) return Choice::GroupEnded;
  state.forward = 1;
  state.Select(count, false, nullptr, index);
  return Choice::Chosen;
}

CSnMusicPlaylistIterator::Choice CSnMusicPlaylistIterator::ChooseAtRandom(StackEntry& entry,
                                                                        CSnRandomPlaylistState& state,
                                                                        uint16_t& index) {
  const CSnRandomPlaylistState::Options options = entry.group->RandomOptions();
  if (state.itemsLeft == 0 && !CountLoop(entry)) return Choice::GroupEnded;
  if (state.Select(options, nullptr, index)) return Choice::Chosen;
  // Nothing left to draw in this pass (the rest weighs nothing): a new pass begins, one more loop.
  state.itemsLeft = 0;
  if (!CountLoop(entry)) return Choice::GroupEnded;
  if (state.Select(options, nullptr, index)) return Choice::Chosen;
  // Not even a new pass offers a candidate: the first child, as the draw's own answer.
  state.itemsLeft = 0;
  index = 0;
  return Choice::Chosen;
}

void CSnMusicPlaylistIterator::Save(CSnMusicPlaylistGroup* group) {
  if (!m_saving) return;
  for (const SavedState& saved : m_saved)
    if (saved.group == group) return;
  // A copy that cannot be made only costs the roll-back of this group.
  CSnPlaylistState* copy = group->persistentState->Clone();
  if (copy && !m_saved.Add(SavedState{group, copy}, 4)) PoolDelete(g_DefaultPoolId, copy);
}

void CSnMusicPlaylistIterator::RestoreSaved() {
  for (SavedState& saved : m_saved) {
    if (saved.group->persistentState) PoolDelete(g_DefaultPoolId, saved.group->persistentState);
    saved.group->persistentState = saved.copy;
  }
  m_saved.Clear();
}

void CSnMusicPlaylistIterator::DropSaved() {
  for (SavedState& saved : m_saved) PoolDelete(g_DefaultPoolId, saved.copy);
  m_saved.Clear();
}

void CSnMusicPlaylistIterator::SetItem(CSnMusicPlaylistItem* item) {
  m_segmentId = item->segmentId;
  m_hasItem = m_segmentId != 0;
  m_itemId = item->itemId;
  m_itemLoops = ResolveLoopCount(*item);
}

void CSnMusicPlaylistIterator::ClearItem() {
  m_segmentId = 0;
  m_hasItem = false;
  m_itemId = 0;
  m_itemLoops = 0;
}

SNRESULT CSnMusicPlaylistIterator::Fail() {
  ClearStack();
  ClearItem();
  return SN_Failure;
}

}  // namespace SN
