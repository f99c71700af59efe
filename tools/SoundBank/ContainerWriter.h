// Writes the payloads of the parent nodes of a bank: actor-mixers and random/sequence containers.
// Children come before their parents in a bank, so that a parent finds them as it loads.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/SoundBank/NodeParamsWriter.h"

namespace Tools {

constexpr uint8_t kBankRandomSequenceType = 5;
constexpr uint8_t kBankActorMixerType = 7;

std::vector<uint8_t> ActorMixerPayload(uint32_t id, const BankNodeParams& params, const std::vector<uint32_t>& children);

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
                                           const BankRandomSequence& container);

}  // namespace Tools
