// The calling thread's place, from the marks each place keeps.
#include "SoundEngine/ThreadPlace.h"

#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Lower/Output/AudioThread.h"

namespace SN::ThisThread {

namespace {
thread_local bool t_bankThread = false;
}  // namespace

bool InPass() { return CSnAudioMgr::InAudioPassOnThisThread(); }

bool OnAudioThread() {
  const uint64_t audio = AudioThread::ThreadId();
  return audio != 0 && audio == Platform::CurrentThreadId();
}

bool OnBankThread() { return t_bankThread; }

bool InBankCallback() { return SnBankCallbackScope::InCallbackOnThisThread(); }

Column Where() {
  if (InPass()) return Column::Pass;
  return OnBankThread() || OnAudioThread() ? Column::BankThread : Column::Game;
}

BankThreadScope::BankThreadScope() { t_bankThread = true; }
BankThreadScope::~BankThreadScope() { t_bankThread = false; }

}  // namespace SN::ThisThread
