// The platform pieces the sound engine's threads stand on: events, wait-any, named threads with
// their names cut to what the system keeps, virtual memory and 16-bit text narrowing.
#include <atomic>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "Platform/TextNarrowing.h"
#include "Platform/Threading.h"
#include "Platform/VirtualMemory.h"

namespace {

using namespace Platform;

constexpr uint32_t kGenerous = 10000;

TEST(PlatformThreadingTest, AutoResetLetsOneWaitThroughManualStaysOpen) {
  Event automatic(Event::Reset::Auto, true);
  EXPECT_EQ(automatic.Wait(0), WaitResult::Signalled);
  EXPECT_EQ(automatic.Wait(0), WaitResult::TimedOut);
  Event manual(Event::Reset::Manual);
  manual.Set();
  EXPECT_EQ(manual.Wait(0), WaitResult::Signalled);
  EXPECT_EQ(manual.Wait(0), WaitResult::Signalled);
  manual.Clear();
  EXPECT_EQ(manual.Wait(0), WaitResult::TimedOut);
}

TEST(PlatformThreadingTest, WaitAnyTakesTheEventThatWasSet) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto), c(Event::Reset::Manual);
  Event* events[] = {&a, &b, &c};
  EXPECT_EQ(WaitAny(events, 3, 0), -1);
  EXPECT_EQ(WaitAny(events, 4, 0), -2);
  struct Context {
    Event* event;
  } context{&b};
  Thread* setter = StartThread(
      [](void* p) -> uint32_t {
        static_cast<Context*>(p)->event->Set();
        return 7;
      },
      &context, ThreadOptions{}, "setter");
  ASSERT_NE(setter, nullptr);
  EXPECT_EQ(WaitAny(events, 3, kGenerous), 1);
  EXPECT_EQ(JoinThread(setter), 7u);
  EXPECT_EQ(b.Wait(0), WaitResult::TimedOut);  // taken by the wait
}

TEST(PlatformThreadingTest, ThreadsCarryTheirNameCutTo15Characters) {
  struct Context {
    char name[32];
  } context{};
  ThreadOptions options;
  options.priority = 1;  // best effort
  options.affinityMask = 1;
  options.stackBytes = 32768;  // raised to the floor
  Thread* thread = StartThread(
      [](void* p) -> uint32_t {
        CurrentThreadName(static_cast<Context*>(p)->name, sizeof Context::name);
        return 0;
      },
      &context, options, "SN::EventManager");
  ASSERT_NE(thread, nullptr);
  JoinThread(thread);
  EXPECT_STREQ(context.name, "SN::EventManage");
}

TEST(PlatformThreadingTest, ReentrantLockIsTakenAgainByItsOwner) {
  ReentrantLock lock;
  ReentrantGuard outer(lock);
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

TEST(PlatformThreadingTest, VirtualMemoryAndNarrowing) {
  void* pages = VirtualAllocate(1 << 16);
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(static_cast<char*>(pages)[100], 0);
  memset(pages, 1, 1 << 16);
  EXPECT_TRUE(VirtualRelease(pages, 1 << 16));
  EXPECT_EQ(VirtualAllocate(0), nullptr);

  EXPECT_EQ(NarrowText(u"Init.bnk"), "Init.bnk");
  EXPECT_EQ(NarrowText(u"caf\u00e9 \u4e2d"), std::string("caf\xe9 ?"));
  EXPECT_EQ(NarrowText(static_cast<const char16_t*>(nullptr)), "");
  // Widening is Latin-1 too: a byte above 127 is its own character, not a negative one.
  EXPECT_EQ(WidenText("caf\xe9.bnk"), std::u16string(u"caf\u00e9.bnk"));
  EXPECT_EQ(NarrowText(WidenText("Init\xff")), std::string("Init\xff"));
  EXPECT_EQ(WidenText(nullptr), std::u16string());
}

}  // namespace
