// One installed implementation per interface: how the message handlers reach the parts of the
// engine that are plugged in after the front end (events, nodes, banks, the voice pipeline).
#pragma once

namespace SN {

// Null while nothing is installed; the engine must not be initialised while it changes.
template <typename Interface>
Interface*& ServiceSlot() {
  static Interface* installed = nullptr;
  return installed;
}

}  // namespace SN
