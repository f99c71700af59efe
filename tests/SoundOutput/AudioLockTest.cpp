// The global audio lock knows its holder, so functions that expect it held can say so in debug
// builds: taken twice and let go twice by one thread, never held as seen from another.
#include <thread>

#include <gtest/gtest.h>

#include "SoundEngine/AudioMgr.h"

namespace {

TEST(AudioLock, TheHolderIsKnownThroughNestingAndOnlyToItself) {
#ifdef NDEBUG
  GTEST_SKIP() << "release builds do not track the holder";
#else
  Platform::ReentrantLock& lock = SN::GlobalAudioLock();
  EXPECT_FALSE(lock.IsHeldByCurrentThread());
  lock.lock();
  lock.lock();
  EXPECT_TRUE(lock.IsHeldByCurrentThread());
  bool seenFromOther = true;
  std::thread other([&] { seenFromOther = lock.IsHeldByCurrentThread(); });
  other.join();
  EXPECT_FALSE(seenFromOther);
  lock.unlock();
  EXPECT_TRUE(lock.IsHeldByCurrentThread());
  lock.unlock();
  EXPECT_FALSE(lock.IsHeldByCurrentThread());
  ASSERT_TRUE(lock.try_lock());
  EXPECT_TRUE(lock.IsHeldByCurrentThread());
  lock.unlock();
  EXPECT_FALSE(lock.IsHeldByCurrentThread());
#endif
}

}  // namespace
