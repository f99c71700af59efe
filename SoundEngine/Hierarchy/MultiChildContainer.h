// The base of the containers that play several children for one play (switch and layer
// containers): the uses their plays make of a shared continuous play-list, and the branch each child
// of a continuous play goes on, back to that play-list once every branch has played out. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/Hierarchy/ParentNode.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"

namespace SN {

class CSnMultiChildContainer : public CSnContainerNode, public ISnPlaylistUseOwner {
 public:
  explicit CSnMultiChildContainer(uint32_t id) : CSnContainerNode(id) {}
  ~CSnMultiChildContainer() override;

  // The play's continuous play-list with a new reference, its use counted (the first use holds a
  // reference of its own); null for a plain play or when the use cannot be recorded.
  CSnContinuousPlaylist* AddPlaylistUse(const CSnPlayParams& params);
  // Drops one use; the last releases the container's reference. SN_Success always.
  SNRESULT ReleasePlaylistUse(CSnContinuousPlaylist* playlist);
  uint32_t PlaylistUses(const CSnContinuousPlaylist* playlist) const;
  // The key the branches of a play name their way back to `playlist` by; 0 when it has no use here.
  uint32_t UseKeyOf(const CSnContinuousPlaylist* playlist) const;

  // Puts this container's level in `branch`'s play-list (which the caller made for one child of the
  // play `params`), keyed `key` to the play's play-list, whose use it counts once more (a key of 0
  // counts nothing). The level goes on with the loop count and flags of the play-list's first level.
  // SN_InsufficientMemory (the branch's play-list released) when the play carries no play-list or
  // the level cannot be added.
  SNRESULT AppendToContinuousPlaylist(SnContinuousParams& branch, const CSnPlayParams& params, uint32_t key);
  // ISnPlaylistUseOwner: a branch keyed `key` has played out (`playlist` is the branch's own).
  CSnContinuousPlaylist* TakePlaylistUse(CSnContinuousPlaylist* playlist, uint32_t key) override;
  const CSnContinuousPlaylist* NestedPlaylist(const CSnContinuousPlaylist* playlist, uint32_t key) const override;
  void GiveBackPlaylistUse(uint32_t key) override;
  // A continuous play of which no child played gives its use back; when it was the last, the
  // performance goes on at once with the next child of its play-list. SN_Failure for a plain play.
  SNRESULT ContinuePlaylistPlayback(const CSnPlayParams& params);
  // Gives back every use (the container is going).
  void FreePlaylistUses();

 protected:
  // Plays one child for the play `params` through `play`: a plain play as it is, a continuous one
  // (the play's use keyed `key`) on a branch of its own that comes back to the play's play-list.
  template <typename PlayFn>
  SNRESULT PlayChild(const CSnPlayParams& params, uint32_t key, PlayFn&& play);
  // What a continuous play of the container ends with: a play that played nothing goes on with the
  // performance, the others give the play's own use back. Then the play's reference goes.
  SNRESULT EndContinuousPlay(const CSnPlayParams& params, CSnContinuousPlaylist* playlist, uint32_t played,
                             SNRESULT result);

 private:
  struct Use {
    CSnContinuousPlaylist* playlist;
    uint32_t count;
    uint32_t key;
  };
  // Drops one use of entry `at`; on the last the play-list is handed back (its reference) and the
  // entry removed.
  CSnContinuousPlaylist* DropUse(uint32_t at);
  int32_t FindKey(uint32_t key) const;
  // The branches of a play: a new play-list each, with this container's level on it.
  bool BeginBranch(const CSnPlayParams& params, uint32_t key, SnContinuousParams& branch);

  SnArray<Use> m_uses;  // by play-list address
  uint32_t m_lastKey = 0;
};

template <typename PlayFn>
SNRESULT CSnMultiChildContainer::PlayChild(const CSnPlayParams& params, uint32_t key, PlayFn&& play) {
  CSnPlayParams copy = params;
  if (!key) return play(copy);
  SnContinuousParams branch;
  if (!BeginBranch(params, key, branch)) return SN_InsufficientMemory;
  CSnContinuousInstanceCreator creator(branch);
  copy.instanceCreator = static_cast<ISnPlaybackInstanceCreator*>(&creator);
  copy.continuousPlaylist = branch.playlist;
  const SNRESULT played = play(copy);
  // A branch that did not begin is let go here, and its use with it.
  branch.playlist->Release();
  return played;
}

}  // namespace SN
