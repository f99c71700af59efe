// The base of the containers that play several children for one play (switch and layer
// containers): the uses their plays make of a shared continuous play-list. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/ParentNode.h"

namespace SN {

class CSnContinuousPlaylist;

class CSnMultiChildContainer : public CSnContainerNode {
 public:
  explicit CSnMultiChildContainer(uint32_t id) : CSnContainerNode(id) {}
  ~CSnMultiChildContainer() override;

  // The play's continuous play-list with a new reference, its use counted (the first use holds a
  // reference of its own); null for a plain play or when the use cannot be recorded.
  CSnContinuousPlaylist* AddPlaylistUse(const CSnPlayParams& params);
  // Drops one use; the last releases the container's reference. SN_Success always.
  SNRESULT ReleasePlaylistUse(CSnContinuousPlaylist* playlist);
  uint32_t PlaylistUses(const CSnContinuousPlaylist* playlist) const;

 private:
  struct Use {
    CSnContinuousPlaylist* playlist;
    uint32_t count;
  };
  SnArray<Use> m_uses;  // by play-list address
};

}  // namespace SN
