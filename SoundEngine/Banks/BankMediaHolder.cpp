// The list of bank media holders outside the voices, and the walk that has every reader of a bank's
// data let go of it.
#include "SoundEngine/Banks/BankMediaHolder.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {
namespace {

struct HolderList {
  CSnBankMediaHolder* head = nullptr;
  uint32_t walks = 0;
};
HolderList& Holders() {
  static HolderList list;
  return list;
}

}  // namespace

void CSnBankMediaHolder::List() {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  if (m_listed) return;
  HolderList& list = Holders();
  m_prevHolder = nullptr;
  m_nextHolder = list.head;
  if (list.head) list.head->m_prevHolder = this;
  list.head = this;
  m_listed = true;
}

void CSnBankMediaHolder::Unlist() {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  if (!m_listed) return;
  HolderList& list = Holders();
  if (m_prevHolder)
    m_prevHolder->m_nextHolder = m_nextHolder;
  else
    list.head = m_nextHolder;
  if (m_nextHolder) m_nextHolder->m_prevHolder = m_prevHolder;
  m_prevHolder = m_nextHolder = nullptr;
  m_listed = false;
}

void CSnBankMediaHolder::BankDataGoing(CSnLoadedBank* bank) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  // The holders first: a MIDI clip that ends stops its notes' voices, and those still reading the
  // bank end with the rest below.
  if (bank) WalkHolders(bank);
  if (ISnOutputServices* outputs = OutputServices()) outputs->StopVoicesUsingBankData(bank);
}

void CSnBankMediaHolder::MoveReadersOff(CSnLoadedBank* bank) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  if (bank) WalkHolders(bank);
  if (ISnOutputServices* outputs = OutputServices()) outputs->MoveVoicesOffBankData(bank);
}

void CSnBankMediaHolder::WalkHolders(const CSnLoadedBank* bank) {
  HolderList& list = Holders();
  // 0 is a holder's mark before its first walk.
  if (++list.walks == 0) ++list.walks;
  const uint32_t walk = list.walks;
  // Letting go may end a holder and others with it: the walk starts over from the head each time,
  // asking each holder once.
  for (;;) {
    CSnBankMediaHolder* holder = list.head;
    while (holder && holder->m_walk == walk) holder = holder->m_nextHolder;
    if (!holder) return;
    holder->m_walk = walk;
    if (holder->HoldsBankMedia(bank)) holder->LetGoOfBankMedia(bank);
  }
}

}  // namespace SN
