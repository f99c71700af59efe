// Writes the payloads of the parent nodes of a bank: actor-mixers, random/sequence, switch and layer
// containers.
// Children come before their parents in a bank, so that a parent finds them as it loads.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/SoundBank/NodeParamsWriter.h"

namespace Tools {

constexpr uint8_t kBankRandomSequenceType = 5;
constexpr uint8_t kBankSwitchType = 6;
constexpr uint8_t kBankActorMixerType = 7;
constexpr uint8_t kBankLayerType = 9;

// `motionFlag`: the bank's header carries the motion flag, and the node's secondary output id is written.
std::vector<uint8_t> ActorMixerPayload(uint32_t id, const BankNodeParams& params, const std::vector<uint32_t>& children,
                                       bool motionFlag = false);

struct BankPlaylistItem {
  uint32_t id = 0;
  uint32_t weight = 50000;
};
struct BankRandomSequence {
  uint16_t loopCount = 1;  // 0: infinite
  int16_t loopMin = 0, loopMax = 0;
  float transitionMs = 0.0f, transitionMin = 0.0f, transitionMax = 0.0f;
  uint16_t avoidRepeat = 0;
  uint8_t transitionType = 0;
  uint8_t randomType = 0;  // 0 standard, 1 shuffle
  uint8_t playMode = 0;    // 0 random, 1 sequence
  uint8_t flags = 0x12;    // bit 1 reset at each play, bit 2 ping-pong, bit 3 continuous, bit 4 global scope
  std::vector<uint32_t> children;
  std::vector<BankPlaylistItem> playlist;
};
std::vector<uint8_t> RandomSequencePayload(uint32_t id, const BankNodeParams& params,
                                           const BankRandomSequence& container, bool motionFlag = false);

struct BankSwitchList {
  uint32_t value = 0;
  std::vector<uint32_t> children;
};
struct BankSwitchChild {
  uint32_t childId = 0;
  uint8_t flags = 0;  // bit 0 first play only, bit 1 continue across a change
  uint8_t mode = 0;   // on-switch mode, bits 0-2
  uint32_t fadeOutMs = 0, fadeInMs = 0;
};
struct BankSwitch {
  uint8_t groupType = 0;  // 0 switch group, 1 state group
  uint32_t groupId = 0;
  uint32_t defaultSwitch = 0;
  uint8_t continuous = 0;
  std::vector<uint32_t> children;
  std::vector<BankSwitchList> lists;
  std::vector<BankSwitchChild> settings;
};
std::vector<uint8_t> SwitchPayload(uint32_t id, const BankNodeParams& params, const BankSwitch& container,
                                   bool motionFlag = false);

struct BankLayerChild {
  uint32_t childId = 0;
  std::vector<BankCurvePoint> crossfade;
};
struct BankLayer {
  uint32_t id = 0;
  std::vector<BankNodeCurve> curves;
  uint32_t crossfadeId = 0;
  uint8_t crossfadeType = 0;
  std::vector<BankLayerChild> children;
};
std::vector<uint8_t> LayerContainerPayload(uint32_t id, const BankNodeParams& params,
                                           const std::vector<uint32_t>& children, const std::vector<BankLayer>& layers,
                                           bool motionFlag = false);

}  // namespace Tools
