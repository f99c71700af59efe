// The leaf base: its playback-instance chain and the loop count.
#include "SoundEngine/Hierarchy/LeafNode.h"

#include <cmath>

#include "Base/Assert.h"
#include "Base/MathUtil.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Log.h"

namespace SN {

CSnLeafNode::~CSnLeafNode() {
  if (m_instances) SOUND_LOG(Error, "Node %u: destroyed while instances still play it", ID());
}

uint16_t CSnLeafNode::GetLoopCount() const {
  int64_t count = IntProperty(SnProp_LoopCount);
  SnPropertyRange range;
  if (Ranges().Get(SnProp_LoopCount, range)) {
    double offset = range.min;
    if (range.max != range.min) offset += double(Base::Rand15()) / 32767.0 * (double(range.max) - range.min);
    if (offset == offset) count += int64_t(std::llround(std::fmax(std::fmin(offset, 65535.0), -65535.0)));
  }
  // Saturated to the u16 range rather than wrapped: a negative offset never becomes thousands of loops.
  return uint16_t(count < 0 ? 0 : count > 0xFFFF ? 0xFFFF : count);
}

void CSnLeafNode::AttachInstance(ISnLeafInstance* instance) {
  ORV_ASSERT(instance && !instance->m_pNextOfLeaf);
  instance->m_pNextOfLeaf = m_instances;
  m_instances = instance;
}

void CSnLeafNode::DetachInstance(ISnLeafInstance* instance) {
  for (ISnLeafInstance** link = &m_instances; *link; link = &(*link)->m_pNextOfLeaf) {
    if (*link != instance) continue;
    *link = instance->m_pNextOfLeaf;
    instance->m_pNextOfLeaf = nullptr;
    return;
  }
}

void CSnLeafNode::ExecuteAction(const SnActionParams& params) {
  // An instance may leave the chain while it hears the action (a stop without a fade).
  for (ISnLeafInstance* instance = m_instances; instance;) {
    ISnLeafInstance* next = instance->m_pNextOfLeaf;
    if (params.kind != SnActionParams::Seek) {
      instance->ApplyAction(params);
    } else if ((!params.gameObject || params.gameObject == instance->InstanceGameObject()) &&
               (!params.playingId || params.playingId == instance->InstancePlayingId())) {
      const bool toMarker = params.seekFlags & 2;
      if (params.seekFlags & 1) {
        const float fraction = params.seek.fraction;
        instance->SeekToFraction(fraction > 1.0f ? 1.0f : fraction >= 0.0f ? fraction : 0.0f, toMarker);
      } else {
        instance->SeekToTime(params.seek.ms < 0 ? 0 : params.seek.ms, toMarker);
      }
    }
    instance = next;
  }
}

void CSnLeafNode::DeliverParameterChange(const SnParamChange& change) {
  for (ISnLeafInstance* instance = m_instances; instance; instance = instance->m_pNextOfLeaf)
    instance->ParameterChanged(change);
}

void CSnLeafNode::ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) {
  for (ISnLeafInstance* instance = m_instances; instance; instance = instance->m_pNextOfLeaf)
    if (!gameObject || instance->InstanceGameObject() == gameObject) instance->SetGainFactor(gain);
}

}  // namespace SN
