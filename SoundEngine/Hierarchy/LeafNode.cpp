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
  ORV_ASSERT(instance && !instance->m_pNextOfLeaf && !instance->m_pPreviousOfLeaf && m_instances != instance);
  instance->m_pNextOfLeaf = m_instances;
  if (m_instances) m_instances->m_pPreviousOfLeaf = instance;
  m_instances = instance;
}

void CSnLeafNode::DetachInstance(ISnLeafInstance* instance) {
  ISnLeafInstance* previous = instance->m_pPreviousOfLeaf;
  // One that is not in this chain (never attached, or gone already) changes nothing.
  if (!previous && m_instances != instance) return;
  ISnLeafInstance* next = instance->m_pNextOfLeaf;
  (previous ? previous->m_pNextOfLeaf : m_instances) = next;
  if (next) next->m_pPreviousOfLeaf = previous;
  instance->m_pNextOfLeaf = instance->m_pPreviousOfLeaf = nullptr;
}

void CSnLeafNode::ExecuteAction(const SnActionParams& params) {
  ApplyToOwnTransitions(params);
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
  ForMatching(gameObject, 0, nullptr, [gain](ISnLeafInstance& instance) { instance.SetGainFactor(gain); });
}

template <typename Tell>
void CSnLeafNode::ForMatching(CSnRegisteredObj* gameObject, uint32_t playingId, const SnInstanceExclusions* exclusions,
                              Tell&& tell) {
  for (ISnLeafInstance* instance = m_instances; instance;) {
    ISnLeafInstance* next = instance->m_pNextOfLeaf;
    CSnRegisteredObj* own = instance->InstanceGameObject();
    if ((!gameObject || own == gameObject) && (!playingId || instance->InstancePlayingId() == playingId) &&
        !(exclusions && exclusions->Excludes(own)))
      tell(*instance);
    instance = next;
  }
}

void CSnLeafNode::StopLooping(CSnRegisteredObj* gameObject, uint32_t playingId) {
  ForMatching(gameObject, playingId, nullptr, [](ISnLeafInstance& instance) { instance.StopLooping(); });
}

void CSnLeafNode::SetInstanceGainEntry(CSnRegisteredObj* gameObject, float value, uint32_t entryKey) {
  ForMatching(gameObject, 0, nullptr,
              [&](ISnLeafInstance& instance) { instance.SetNodeGainEntry(value, entryKey); });
}

void CSnLeafNode::DeliverPositioningParameter(float value, uint32_t parameterId, CSnRegisteredObj* gameObject,
                                              const SnInstanceExclusions* exclusions) {
  ForMatching(gameObject, 0, exclusions,
              [&](ISnLeafInstance& instance) { instance.SetPositioningParameter(value, parameterId); });
}

void CSnLeafNode::ForEachInstance(const SnRTPCKey& key, SnLeafInstanceVisitor visit, void* context) {
  if (!visit) return;
  auto matches = [](uint64_t wanted, uint64_t own, uint64_t any) { return wanted == any || wanted == own; };
  for (ISnLeafInstance* instance = m_instances; instance;) {
    ISnLeafInstance* next = instance->m_pNextOfLeaf;
    const SnRTPCKey& own = instance->InstanceKey();
    if (matches(reinterpret_cast<uintptr_t>(key.gameObject), reinterpret_cast<uintptr_t>(own.gameObject), 0) &&
        matches(key.playingId, own.playingId, 0) && matches(key.midiTargetId, own.midiTargetId, 0) &&
        matches(key.midiChannel, own.midiChannel, 255) && matches(key.midiNote, own.midiNote, 255) &&
        matches(reinterpret_cast<uintptr_t>(key.playbackInstance), reinterpret_cast<uintptr_t>(own.playbackInstance), 0))
      visit(*instance, context);
    instance = next;
  }
}

void CSnLeafNode::DeliverEffectBypass(CSnRegisteredObj* gameObject, uint32_t values, uint32_t mask,
                                      const SnInstanceExclusions* exclusions) {
  ForMatching(gameObject, 0, exclusions, [&](ISnLeafInstance& instance) { instance.SetEffectBypass(values, mask); });
}

void CSnLeafNode::ValuesChanged() {
  ForMatching(nullptr, 0, nullptr, [](ISnLeafInstance& instance) { instance.NodeValuesChanged(); });
}

void CSnLeafNode::EffectSlotChanged(uint32_t slot) {
  ForMatching(nullptr, 0, nullptr, [slot](ISnLeafInstance& instance) { instance.NodeEffectChanged(slot); });
}

}  // namespace SN
