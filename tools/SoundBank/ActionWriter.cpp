// Event action payloads, little-endian and unpadded.
#include "tools/SoundBank/ActionWriter.h"

#include <cstring>

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

using ContentWriters::Put;

BankActionRange BankActionRange::Int(uint8_t id, int32_t min, int32_t max) {
  BankActionRange range;
  range.id = id;
  memcpy(&range.minBits, &min, sizeof min);
  memcpy(&range.maxBits, &max, sizeof max);
  return range;
}

namespace {

void PutExceptions(std::vector<uint8_t>& out, const BankAction& action) {
  Put(out, uint32_t(action.exceptions.size()));
  for (const BankActionException& exception : action.exceptions) {
    Put(out, exception.id);
    Put(out, exception.isBus);
  }
}

void PutValue(std::vector<uint8_t>& out, const BankAction& action) {
  Put(out, action.value);
  Put(out, action.min);
  Put(out, action.max);
}

}  // namespace

std::vector<uint8_t> ActionPayload(const BankAction& action) {
  std::vector<uint8_t> out;
  Put(out, action.id);
  Put(out, action.type);
  Put(out, action.target);
  Put(out, action.targetIsBus);
  PutProperties(out, action.properties);
  Put(out, uint8_t(action.ranges.size()));
  for (const BankActionRange& range : action.ranges) Put(out, range.id);
  for (const BankActionRange& range : action.ranges) {
    Put(out, range.minBits);
    Put(out, range.maxBits);
  }
  switch (action.type >> 8) {
    case 0x01: case 0x22:  // stop, play-list reset
      Put(out, action.fadeCurve);
      PutExceptions(out, action);
      break;
    case 0x02: case 0x03:  // pause, resume
      Put(out, action.fadeCurve);
      Put(out, action.flag);
      PutExceptions(out, action);
      break;
    case 0x04:  // play
      Put(out, action.fadeCurve);
      Put(out, action.bankId);
      break;
    case 0x06: case 0x07:  // mute
      Put(out, action.fadeCurve);
      PutExceptions(out, action);
      break;
    case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x20: case 0x30:
      Put(out, action.fadeCurve);
      Put(out, action.meaning);
      PutValue(out, action);
      PutExceptions(out, action);
      break;
    case 0x12: case 0x19:  // state, switch
      Put(out, action.groupId);
      Put(out, action.valueId);
      break;
    case 0x13: case 0x14:  // game parameter
      Put(out, action.fadeCurve);
      Put(out, action.flag);
      Put(out, action.meaning);
      PutValue(out, action);
      PutExceptions(out, action);
      break;
    case 0x1A: case 0x1B:  // effect bypass
      Put(out, action.bypass);
      Put(out, action.bypassMask);
      PutExceptions(out, action);
      break;
    case 0x1E:  // seek
      Put(out, action.fadeCurve);
      Put(out, action.seekMode);
      PutValue(out, action);
      Put(out, action.seekFlag);
      PutExceptions(out, action);
      break;
    default:  // use state, trigger, pending-play stop, node command, play event: no parameters
      break;
  }
  return out;
}

}  // namespace Tools
