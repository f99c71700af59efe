// The road from a leaf node to the voices: an installed leaf player takes the play, else the voice
// manager's own play, which waits for the playback instances.
#include <atomic>

#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/VoiceManager.h"

namespace SN::VoiceManager {

// ---- Until the playback instances exist: every play fails (SN_Failure), said once. ----
std::atomic<bool>& UnbuiltPlaySaid() {
  static std::atomic<bool> said{false};
  return said;
}
namespace {
SNRESULT PlayLeafNodeWithoutVoices(CSnPropertyNode*, const CSnSourceDesc&, CSnPlayParams&) {
  if (!UnbuiltPlaySaid().exchange(true)) SOUND_LOG(Error, "PlayLeafNode: playback instances are not built; leaf plays fail");
  return SN_Failure;
}
}  // namespace
// ---- end ----

SNRESULT PlayLeafNode(CSnPropertyNode* node, const CSnSourceDesc& source, CSnPlayParams& params) {
  if (ISnLeafPlayer* player = LeafPlayer()) return player->PlayLeafNode(node, source, params);
  return PlayLeafNodeWithoutVoices(node, source, params);
}

}  // namespace SN::VoiceManager
