// The profiler under a hand-driven clock: nesting, pausing, hand-overs, frame reports and its log lines.
#include "Base/DebugTimer.h"

#include <gtest/gtest.h>

#include "tests/Support/LogCapture.h"

#include <memory>
#include <string>
#include <unordered_map>

#include "Base/Handle.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/TraceLog.h"
#include "Platform/Clock.h"

namespace {

using namespace Base;

int64_t gNow = 0;
constexpr int64_t kMs = 10000;  // ticks per millisecond
using Report = std::vector<DebugTimerData>;

class DebugTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = 1000;  // the profiler's zero: reported times count from here
    Platform::SetTickSource([] { return gNow; });
    timers_ = std::make_unique<DebugTimer>();
  }
  void TearDown() override { Platform::SetTickSource(nullptr); }
  std::string TakeLog() { return capture_.Take(); }

  OrvTest::LogCapture capture_;
  std::unique_ptr<DebugTimer> timers_;
};

TEST_F(DebugTimerTest, NestedTimersReportLevelOrderingAndTimesInTicksAndMicroseconds) {
  timers_->StartTimer("A");
  EXPECT_EQ(TakeLog(), "[ Info  ][Base] Creating new debug timer A\n");
  gNow += 1 * kMs;
  timers_->StartTimer("B");
  gNow += 2 * kMs;
  timers_->StopTimer("B");
  timers_->StopTimer("A");

  // Name, start and end in ticks, duration in microseconds, ordering, level.
  EXPECT_EQ(timers_->GetTimers(), (Report{{"A", 0, 30000, 3000, 0, 1}, {"B", 10000, 30000, 2000, 1, 2}}));
  EXPECT_EQ(timers_->GetTimerDuration("A"), 3u);

  // A new frame reports nothing until a timer begins, and counts orderings from 0 again.
  timers_->NewFrame();
  EXPECT_TRUE(timers_->GetTimers().empty());
  timers_->StartTimer("B");
  ASSERT_EQ(timers_->GetTimers().size(), 1u);
  EXPECT_EQ(timers_->GetTimers()[0].Ordering, 0);
  EXPECT_EQ(timers_->GetTimers()[0].Level, 1);
}

TEST_F(DebugTimerTest, PausedTimerResumesWithItsOrderingAndAccumulatesTime) {
  timers_->StartTimer("A");
  gNow += 2 * kMs;
  timers_->PauseTimer("A");
  EXPECT_TRUE(timers_->IsTimerPaused("A"));
  timers_->StartTimer("Other");
  timers_->StopTimer("Other");
  timers_->StartTimer("A");
  gNow += 3 * kMs;
  EXPECT_EQ(timers_->GetTimerTime("A"), 3u);
  timers_->StopTimer("A");
  EXPECT_EQ(timers_->GetTimerDuration("A"), 5u);
  EXPECT_EQ(timers_->GetTimers()[0].Name, "A");

  TakeLog();
  timers_->PauseTimer("A");
  timers_->StartTimer("C");
  timers_->StartTimer("C");
  EXPECT_EQ(TakeLog(),
            "[ Error ][Base] Attempted to pause a debug timer that isn't running: A\n"
            "[ Info  ][Base] Creating new debug timer C\n"
            "[ Error ][Base] Attempted to start a debug timer that is already running: C\n");
}

TEST_F(DebugTimerTest, ChainHandsOverAtOneInstant) {
  timers_->ChainTimer("A", true);  // nothing runs: a plain start
  gNow += kMs;
  timers_->ChainTimer("B", false);
  EXPECT_FALSE(timers_->IsTimerRunning("A"));
  gNow += kMs;
  timers_->ChainTimer("C", true);
  EXPECT_TRUE(timers_->IsTimerPaused("B"));
  gNow += kMs;
  timers_->StopTimer("C");
  timers_->StopTimer("B");

  auto report = timers_->GetTimers();
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0].EndTime, report[1].StartTime);
  EXPECT_EQ(report[1].Duration, 1000u);  // its paused time only
  EXPECT_EQ(report[2].Level, 1);
  EXPECT_EQ(report[2].Duration, 1000u);

  // Closing the next section at the previous stop leaves no gap; one begun later gets 0, not less.
  timers_->StartTimer("Outer");
  timers_->StartTimer("Inner");
  gNow += kMs;
  timers_->StopTimer("Inner");
  gNow += 4 * kMs;
  timers_->StopTimerAtLastStop("Outer");
  EXPECT_EQ(timers_->GetTimerDuration("Outer"), 1u);
  timers_->StartTimer("Late");
  timers_->StopTimerAtLastStop("Late");
  EXPECT_EQ(timers_->GetTimerDuration("Late"), 0u);
}

TEST_F(DebugTimerTest, OutOfOrderStopsAndResetsKeepTheChainToRunningTimers) {
  timers_->StartTimer("A");
  timers_->StartTimer("B");
  timers_->StopTimer("A");
  gNow += kMs;
  timers_->ChainTimer("C", false);  // hands over from B, the one still running
  EXPECT_FALSE(timers_->IsTimerRunning("B"));
  EXPECT_EQ(timers_->GetTimerDuration("B"), 1u);
  EXPECT_EQ(timers_->GetTimerDuration("A"), 0u);

  timers_->ResetTimer("C");
  timers_->StartTimer("D");
  EXPECT_EQ(timers_->GetTimers().back().Level, 1);
}

TEST_F(DebugTimerTest, QueriesOfUnknownNamesCreateNothingButTimeQueriesDo) {
  EXPECT_FALSE(timers_->IsTimerRunning("X"));
  EXPECT_FALSE(timers_->IsTimerPaused("X"));
  timers_->StopTimer("X");
  EXPECT_EQ(TakeLog(),
            "[ Error ][Base] Tried to check if invalid timer X is running.\n"
            "[ Error ][Base] Tried to check if invalid timer X is paused.\n");
  timers_->GetTimerTime("X");
  EXPECT_EQ(TakeLog(), "[ Info  ][Base] Creating new debug timer X\n");
  EXPECT_FALSE(timers_->IsTimerRunning("X"));
  EXPECT_TRUE(timers_->GetTimers().empty());  // created, but not begun this frame
  timers_->StartTimer(nullptr);
  EXPECT_EQ(TakeLog(), "[ Error ][Base] Debug timer called without a name\n");
}

TEST_F(DebugTimerTest, NamesSharingAHashAreTwoTimers) {
  std::unordered_map<uint32_t, std::string> seen;
  std::string first, second;
  for (uint32_t i = 0; second.empty(); ++i) {
    std::string name = "t" + std::to_string(i);
    auto [it, fresh] = seen.emplace(HashName(name.c_str()), name);
    if (!fresh) {
      first = it->second;
      second = name;
    }
  }
  timers_->StartTimer(first.c_str());
  EXPECT_FALSE(timers_->IsTimerRunning(second.c_str()));
  timers_->StartTimer(second.c_str());
  EXPECT_EQ(timers_->GetTimers().size(), 2u);
}

TEST_F(DebugTimerTest, ScriptsSeeTheTenMethodsAndTheReportRecord) {
  using namespace Base::Reflection;
  const TypeRegistry& registry = TypeRegistry::GetInstance();
  TypeInfo* type = registry.FindType("DebugTimer");
  ASSERT_NE(type, nullptr);
  std::string names;
  for (const auto& [function, name] : type->methods) names += name + " ";
  EXPECT_EQ(names,
            "StartTimer StopTimer ChainTimer PauseTimer ResetTimer GetTimers GetTimerTime GetTimerDuration "
            "IsTimerRunning IsTimerPaused ");

  const TypeInfo* record = registry.FindType("DebugTimerData");
  ASSERT_NE(record, nullptr);
  names.clear();
  for (const Member& member : record->members) names += std::string(member.name) + " ";
  EXPECT_EQ(names, "Name StartTime EndTime Duration Ordering Level ");
}

}  // namespace
