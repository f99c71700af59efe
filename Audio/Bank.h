// A sound bank as a game resource: loaded into the sound engine by name, after the initialisation
// bank, and kept by the bank resource manager only when it loaded.
#pragma once

#include <cstdint>

namespace Audio {

class Bank {
 public:
  static constexpr const char* kInitBank = "Init.bnk";
  // Requests the initialisation bank first (later requests find it loaded), then the named bank.
  explicit Bank(const char* name);
  bool IsLoaded() const { return m_loaded != 0; }
  // A bank that did not load leaves no entry, so a later request tries the file again.
  static constexpr bool kKeepsFailedNames = false;

 private:
  uint8_t m_loaded = 0;
};

}  // namespace Audio
