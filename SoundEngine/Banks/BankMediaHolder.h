// What reads a bank's media outside the voice pipelines (a music track's MIDI clip): listed while it
// holds them, so that an unload moves it to another copy of its media, or has it let go, as it does a
// voice. The bank ends only once the last of its media handed out comes back, and a holder that only
// lets go when its play ends (a paused clip, or one whose frames the waiting thread would render)
// would hold the unload up.
//
// Threads: under the global audio lock.
#pragma once

#include <cstdint>

namespace SN {

class CSnLoadedBank;

class CSnBankMediaHolder {
 public:
  CSnBankMediaHolder() = default;
  CSnBankMediaHolder(const CSnBankMediaHolder&) = delete;
  CSnBankMediaHolder& operator=(const CSnBankMediaHolder&) = delete;

  // Whether it reads media of `bank` now.
  virtual bool HoldsBankMedia(const CSnLoadedBank* bank) const = 0;
  // The bank's data is about to go: what it reads of it moves to another copy of the same media
  // where one is loaded, else it is given back now; either way it holds none of the bank's after.
  virtual void LetGoOfBankMedia(const CSnLoadedBank* bank) = 0;

  // The data of `bank` (or the game's copy it owns) is about to go: every listed holder of its
  // media lets go of it, then the voices and bus effects reading it. A holder may leave the list, or
  // end, while it lets go.
  static void BankDataGoing(CSnLoadedBank* bank);
  // The same inside a frame, which may be running what reads the data: each moves to another copy
  // where it can, and nothing ends; what cannot follow keeps its use of the bank.
  static void MoveReadersOff(CSnLoadedBank* bank);

 protected:
  ~CSnBankMediaHolder() { Unlist(); }
  // In the list while it holds bank media; both may be called more than once.
  void List();
  void Unlist();

 private:
  // Asks each listed holder once.
  static void WalkHolders(const CSnLoadedBank* bank);

  CSnBankMediaHolder* m_prevHolder = nullptr;
  CSnBankMediaHolder* m_nextHolder = nullptr;
  uint32_t m_walk = 0;  // the last walk that asked it
  bool m_listed = false;
};

}  // namespace SN
