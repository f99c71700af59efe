// Multi-child containers: counted uses of shared continuous play-lists.
#include "SoundEngine/Hierarchy/MultiChildContainer.h"

#include <functional>

#include "SoundEngine/Actions/ContinuousPlaylist.h"

namespace SN {

CSnMultiChildContainer::~CSnMultiChildContainer() {
  for (Use& use : m_uses) use.playlist->Release();
}

CSnContinuousPlaylist* CSnMultiChildContainer::AddPlaylistUse(const CSnPlayParams& params) {
  auto* playlist = static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist);
  if (!playlist) return nullptr;
  uint32_t at = 0;
  while (at < m_uses.Count() && std::less<>()(m_uses[at].playlist, playlist)) ++at;
  if (at < m_uses.Count() && m_uses[at].playlist == playlist) {
    ++m_uses[at].count;
  } else {
    if (!m_uses.InsertAt(at, Use{playlist, 1})) return nullptr;
    playlist->AddRef();
  }
  playlist->AddRef();
  return playlist;
}

SNRESULT CSnMultiChildContainer::ReleasePlaylistUse(CSnContinuousPlaylist* playlist) {
  for (uint32_t i = 0; i < m_uses.Count(); ++i) {
    if (m_uses[i].playlist != playlist) continue;
    if (--m_uses[i].count == 0) {
      m_uses.RemoveAt(i);
      playlist->Release();
    }
    break;
  }
  return SN_Success;
}

uint32_t CSnMultiChildContainer::PlaylistUses(const CSnContinuousPlaylist* playlist) const {
  for (const Use& use : const_cast<SnArray<Use>&>(m_uses))
    if (use.playlist == playlist) return use.count;
  return 0;
}

}  // namespace SN
