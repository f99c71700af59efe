// The context an effect plug-in on a voice asks about that voice. For now the part that a
// continue-playback action embeds: the owner it is registered with, held by a reference.
#pragma once

#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnVoiceInfoProvider {
 public:
  CSnVoiceInfoProvider() = default;
  ~CSnVoiceInfoProvider() { SetOwner(nullptr); }
  CSnVoiceInfoProvider(const CSnVoiceInfoProvider&) = delete;
  CSnVoiceInfoProvider& operator=(const CSnVoiceInfoProvider&) = delete;

  // Takes a reference on the new owner, then gives back the one on the old.
  void SetOwner(CSnRefCountedObject* owner) {
    if (owner) owner->AddRef();
    if (m_owner) m_owner->Release();
    m_owner = owner;
  }
  CSnRefCountedObject* Owner() const { return m_owner; }

 private:
  CSnRefCountedObject* m_owner = nullptr;
};

}  // namespace SN
