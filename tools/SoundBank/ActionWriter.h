// Writes event actions (HIRC type 3): the common head, both property blocks and the parameters of
// the action's class, chosen by the high byte of its type.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/SoundBank/NodeParamsWriter.h"

namespace Tools {

// A range as two 4-byte values: i32 for the delay and fade times, f32 otherwise.
struct BankActionRange {
  uint8_t id = 0;
  uint32_t minBits = 0, maxBits = 0;
  static BankActionRange Int(uint8_t id, int32_t min, int32_t max);
};

struct BankActionException {
  uint32_t id = 0;
  uint8_t isBus = 0;
};

struct BankAction {
  uint32_t id = 0;
  uint16_t type = 0;
  uint32_t target = 0;
  uint8_t targetIsBus = 0;
  std::vector<BankNodeProperty> properties;  // 14 delay (i32 ms), 15 fade (i32 ms), 16 probability (f32)
  std::vector<BankActionRange> ranges;
  uint8_t fadeCurve = 0;
  uint8_t flag = 0;          // pause: resume actions too; resume: its flag; game parameter: transition flag
  uint8_t meaning = 1;       // set value and game parameter: 1 absolute, 2 offset
  float value = 0.0f, min = 0.0f, max = 0.0f;
  uint8_t seekMode = 0, seekFlag = 0;
  uint8_t bypass = 0, bypassMask = 0;
  uint32_t groupId = 0, valueId = 0;  // state and switch actions
  uint32_t bankId = 0;                // play actions
  std::vector<BankActionException> exceptions;
};

std::vector<uint8_t> ActionPayload(const BankAction& action);

}  // namespace Tools
