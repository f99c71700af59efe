// Parent-node payloads: the common node parameters, the kind's own fields, then the children.
#include "tools/SoundBank/ContainerWriter.h"

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

namespace {

void PutChildren(std::vector<uint8_t>& out, const std::vector<uint32_t>& children) {
  Put(out, uint32_t(children.size()));
  for (uint32_t child : children) Put(out, child);
}

}  // namespace

std::vector<uint8_t> ActorMixerPayload(uint32_t id, const BankNodeParams& params, const std::vector<uint32_t>& children,
                                       bool motionFlag) {
  std::vector<uint8_t> out = NodePayload(id, {}, params, motionFlag);
  PutChildren(out, children);
  return out;
}

std::vector<uint8_t> RandomSequencePayload(uint32_t id, const BankNodeParams& params,
                                           const BankRandomSequence& container, bool motionFlag) {
  std::vector<uint8_t> out = NodePayload(id, {}, params, motionFlag);
  Put(out, container.loopCount);
  Put(out, container.loopMin);
  Put(out, container.loopMax);
  Put(out, container.transitionMs);
  Put(out, container.transitionMin);
  Put(out, container.transitionMax);
  Put(out, container.avoidRepeat);
  Put(out, container.transitionType);
  Put(out, container.randomType);
  Put(out, container.playMode);
  Put(out, container.flags);
  PutChildren(out, container.children);
  Put(out, uint16_t(container.playlist.size()));
  for (const BankPlaylistItem& item : container.playlist) {
    Put(out, item.id);
    Put(out, item.weight);
  }
  return out;
}

std::vector<uint8_t> SwitchPayload(uint32_t id, const BankNodeParams& params, const BankSwitch& container,
                                   bool motionFlag) {
  std::vector<uint8_t> out = NodePayload(id, {}, params, motionFlag);
  Put(out, container.groupType);
  Put(out, container.groupId);
  Put(out, container.defaultSwitch);
  Put(out, container.continuous);
  PutChildren(out, container.children);
  Put(out, uint32_t(container.lists.size()));
  for (const BankSwitchList& list : container.lists) {
    Put(out, list.value);
    PutChildren(out, list.children);
  }
  Put(out, uint32_t(container.settings.size()));
  for (const BankSwitchChild& child : container.settings) {
    Put(out, child.childId);
    Put(out, child.flags);
    Put(out, child.mode);
    Put(out, child.fadeOutMs);
    Put(out, child.fadeInMs);
  }
  return out;
}

std::vector<uint8_t> LayerContainerPayload(uint32_t id, const BankNodeParams& params,
                                           const std::vector<uint32_t>& children, const std::vector<BankLayer>& layers,
                                           bool motionFlag) {
  std::vector<uint8_t> out = NodePayload(id, {}, params, motionFlag);
  PutChildren(out, children);
  Put(out, uint32_t(layers.size()));
  for (const BankLayer& layer : layers) {
    Put(out, layer.id);
    PutNodeCurves(out, layer.curves);
    Put(out, layer.crossfadeId);
    Put(out, layer.crossfadeType);
    Put(out, uint32_t(layer.children.size()));
    for (const BankLayerChild& child : layer.children) {
      Put(out, child.childId);
      Put(out, uint32_t(child.crossfade.size()));
      for (const BankCurvePoint& point : child.crossfade) {
        Put(out, point.x);
        Put(out, point.y);
        Put(out, point.interpolation);
      }
    }
  }
  return out;
}

}  // namespace Tools
