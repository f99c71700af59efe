// The bank text's buses (HIRC type 8, 20 with a mix stage of their own) and motion buses (type 16).
#include <string>
#include <vector>

#include "tools/SoundBank/BankTextParser.h"

namespace Tools {

// bus|motionbus <name> <parent bus or -> [node word...]: written as declared, and again with a curve or
// a state map declared after it.
bool BankTextParser::Bus(const std::vector<std::string>& w) {
  if (!Count(w, 3, kNoMost)) return false;
  uint32_t id = 0;
  BankBusParams bus;
  if (!Id(w[1], id) || (w[2] != "-" && !Id(w[2], bus.parentId))) return false;
  const bool motion = w[0] == "motionbus";
  NodeWords words(*this, motion ? NodeKind::MotionBus : NodeKind::Bus, bus);
  if (!words.Read(w, 3, nullptr, words.Refused())) return false;
  const uint8_t type = motion ? kBankMotionBusType : words.OwnMix() ? kBankOwnMixBusType : kBankBusType;
  const size_t object = m_bank.objects.size();
  if (bus.parentId) Holds(w[1], id, {bus.parentId}, {w[2]}, true);
  if (!AddObject(type, w[1], BusPayload(id, bus))) return false;
  m_buses.push_back(DeclaredBus{object, id, std::move(bus)});
  return true;
}

}  // namespace Tools
