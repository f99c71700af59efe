// The hierarchy's answer to event preparation: the node of an id loads the media of its subtree, or
// lets them go again.
#include "SoundEngine/Hierarchy/NodePreparation.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"

namespace SN {
namespace {

// The bank thread walks the tree here while the audio thread plays it and ends unloaded banks'
// objects, which takes children out of their parents: both run under GlobalAudioLock(). Media asked
// for meanwhile are only staged (the preparation command loads them after the walk), so no file is
// read under the lock.
class CSnHierarchyPreparation final : public ISnNodePreparation {
 public:
  SNRESULT PrepareNodeData(uint32_t nodeId) override {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    return CSnHierarchyNode::PrepareNodeData(nodeId);
  }
  void UnprepareNodeData(uint32_t nodeId) override {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    CSnHierarchyNode::UnprepareNodeData(nodeId);
  }
};

}  // namespace

ISnNodePreparation& HierarchyNodePreparation() {
  static CSnHierarchyPreparation preparation;
  return preparation;
}

}  // namespace SN
