// The locks of devices and streams: held for well under a microsecond while a reader and the I/O
// thread trade blocks back and forth, so a waiter spins briefly before it sleeps in the kernel.
#pragma once

#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace SN {

class StreamLock {
 public:
  void lock() {
    for (int spin = 0; spin < kSpins; ++spin) {
      if (m_mutex.try_lock()) return;
      Relax();
    }
    m_mutex.lock();
  }
  bool try_lock() { return m_mutex.try_lock(); }
  void unlock() { m_mutex.unlock(); }
  // One short pause of a spinning wait.
  static void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
  }

 private:
  static constexpr int kSpins = 64;
  // Re-entrant: a stream's and the device's operations call one another under their locks.
  std::recursive_mutex m_mutex;
};

using StreamGuard = std::lock_guard<StreamLock>;

}  // namespace SN
