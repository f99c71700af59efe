// Hook tables: calling order of systems and components, replacement and removal, signature checks,
// stale component handles, and tables changed by their own listeners during a call.
#include "Core/Hooks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Base/TraceLog.h"
#include "Base/Vector.h"
#include "Base/function/Thunk.h"
#include "ObjectModelSupport.h"
#include "tests/Support/LogCapture.h"

namespace {

using Base::Function;
using Base::Handle;
using Core::Hooks;

struct Space {};

// Every listener appends its tag to one shared log, so tests read the calling order.
std::vector<std::string> g_calls;

struct Listener {
  std::string tag;
  void Step(float dt) { g_calls.push_back(tag + ":" + std::to_string(int(dt * 1000))); }
  void FrameStep(float dt, std::vector<Space*>* spaces) {
    g_calls.push_back(tag + ":" + std::to_string(int(dt * 1000)) + "/" + std::to_string(spaces->size()));
  }
  void Other(float) { g_calls.push_back(tag + "'"); }
  void Ping() { g_calls.push_back(tag); }
  void Count(int) { g_calls.push_back(tag + "#"); }
  void Resize(Base::Vec2 size) {
    g_calls.push_back(tag + std::to_string(int(size.x)) + "x" + std::to_string(int(size.y)));
  }
  void Focus(bool on) { g_calls.push_back(tag + (on ? "+" : "-")); }
  void Created(Space* space) { g_calls.push_back(tag + (space ? "@" : "0")); }
};

using ObjectModelTest::Make;

template <class F>
std::string Stderr(F&& body) {
  testing::internal::CaptureStderr();
  body();
  return testing::internal::GetCapturedStderr();
}

class HooksTest : public testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
  std::unique_ptr<Base::HandleManager> handles_ = std::make_unique<Base::HandleManager>();
};

TEST_F(HooksTest, SystemsRunInRegistrationOrderWhateverTheirAddress) {
  Hooks engine;
  Listener systems[3] = {{"a"}, {"b"}, {"c"}};
  const Function frameStep = Make<&Listener::FrameStep>("Listener::FrameStep");
  engine.AddSystemListener("FrameStep", &systems[2], frameStep);
  engine.AddSystemListener("Step", &systems[0], Make<&Listener::Step>("Listener::Step"));
  engine.AddSystemListener("FrameStep", &systems[0], frameStep);
  engine.AddSystemListener("FrameStep", &systems[1], frameStep);

  Space space;
  std::vector<Space*> spaces{&space, &space};
  engine.Call("FrameStep", 0.1f, &spaces);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"c:100/2", "a:100/2", "b:100/2"}));

  g_calls.clear();
  engine.RemoveSystemListener("FrameStep", &systems[0]);
  engine.RemoveSystemListener("Nothing", &systems[0]);
  engine.Call("FrameStep", 0.1f, &spaces);
  engine.Call("Step", 0.5f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"c:100/2", "b:100/2", "a:500"}));

  // Unknown names and emptied tables do nothing and report nothing.
  g_calls.clear();
  EXPECT_EQ(Stderr([&] {
              engine.Call("NobodyListens", 1.0f);
              engine.Clear(false);
              engine.Call("FrameStep", 0.1f, &spaces);
            }),
            "");
  EXPECT_TRUE(g_calls.empty());
  ASSERT_NE(engine.Find("FrameStep"), nullptr);
  engine.Clear(true);
  EXPECT_EQ(engine.Find("FrameStep"), nullptr);
}

TEST_F(HooksTest, ComponentsRunInHandleOrderAndReplaceOnReRegistration) {
  Hooks space(handles_.get());
  Listener parts[4] = {{"old"}, {"b"}, {"c"}, {"d"}};
  const Handle old = handles_->Add(&parts[0]);
  const Handle b = handles_->Add(&parts[1]);
  const Handle c = handles_->Add(&parts[2]);
  handles_->Remove(old);
  const Handle d = handles_->Add(&parts[3]);  // slot 0 again, one generation later
  ASSERT_EQ(Base::HandleIndex(d), Base::HandleIndex(old));

  const Function step = Make<&Listener::Step>("Listener::Step");
  space.AddComponentListener("LogicUpdate", d, step);
  space.AddComponentListener("LogicUpdate", c, step);
  space.AddComponentListener("LogicUpdate", b, step);
  space.AddComponentListener("LogicUpdate", c, Make<&Listener::Other>("Listener::Other"));
  EXPECT_EQ(space.Find("LogicUpdate")->ListenerCount(), 3u);
  space.Call("LogicUpdate", 0.25f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"b:250", "c'", "d:250"}));

  g_calls.clear();
  space.RemoveComponentListener("Never", b);
  space.RemoveComponentListener("LogicUpdate", old);
  space.RemoveComponentListener("LogicUpdate", b);
  space.Call("LogicUpdate", 0.25f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"c'", "d:250"}));
}

TEST_F(HooksTest, MismatchedListenersAreReportedAndSkipped) {
  Hooks space(handles_.get());
  Listener parts[3] = {{"int"}, {"pair"}, {"ok"}};
  space.AddComponentListener("LogicUpdate", handles_->Add(&parts[0]),
                             Make<&Listener::Count>("Listener::Count"));
  space.AddComponentListener("LogicUpdate", handles_->Add(&parts[1]),
                             Make<&Listener::FrameStep>("Listener::FrameStep"));
  space.AddComponentListener("LogicUpdate", handles_->Add(&parts[2]),
                             Make<&Listener::Step>("Listener::Step"));

  EXPECT_EQ(Stderr([&] { space.Call("LogicUpdate", 0.5f); }),
            "Base/function/Function(849) : Argument type error!\n"
            "Base/function/Function(848) : Wrong Overload!\n");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"ok:500"}));

  // Without arguments the thunks check their own count.
  g_calls.clear();
  EXPECT_EQ(Stderr([&] { space.Call("LogicUpdate"); }),
            "Base/function/Function(192) : Wrong overload!\n"
            "Base/function/Function(200) : Wrong overload!\n"
            "Base/function/Function(192) : Wrong overload!\n");
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(HooksTest, StaleComponentsAreDroppedNotCalled) {
  OrvTest::LogCapture log;
  Hooks space(handles_.get());
  Listener parts[2] = {{"gone"}, {"live"}};
  const Handle gone = handles_->Add(&parts[0]);
  space.AddComponentListener("Draw", gone, Make<&Listener::Ping>("Listener::Ping"));
  space.AddComponentListener("Draw", handles_->Add(&parts[1]), Make<&Listener::Ping>("Listener::Ping"));
  handles_->Remove(gone);
  handles_->Add(&parts[0]);  // the slot lives again under a newer generation
  space.Call("Draw");
  space.Call("Draw");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"live", "live"}));
  EXPECT_EQ(space.Find("Draw")->ListenerCount(), 1u);

  // A table without a handle table cannot resolve components at all.
  Hooks engine;
  engine.AddComponentListener("Draw", handles_->Add(&parts[1]), Make<&Listener::Ping>("Listener::Ping"));
  engine.Call("Draw");
  EXPECT_EQ(g_calls.size(), 2u);

  const std::string dropped = "[Warning][Core] Hook \"Draw\": dropped listener Ping of handle ";
  EXPECT_EQ(log.Take(), dropped + "0x00000000, which no longer resolves\n" + dropped +
                            "0x00000002, which no longer resolves\n");
}

// Listeners that change the table they are called from.
struct Meddler {
  Hooks* hooks = nullptr;
  Handle self = Base::kNullHandle;
  Handle victim = Base::kNullHandle;
  Handle newcomer = Base::kNullHandle;
  int calls = 0;
  void Update(float) {
    ++calls;
    g_calls.push_back("meddler");
    if (calls == 1) {
      hooks->RemoveComponentListener("LogicUpdate", victim);
      hooks->AddComponentListener("LogicUpdate", newcomer, Make<&Listener::Step>("Listener::Step"));
      hooks->RemoveComponentListener("LogicUpdate", self);
      hooks->AddComponentListener("LogicUpdate", self, Make<&Meddler::Update>("Meddler::Update"));
    } else if (calls == 2) {
      hooks->Call("LogicUpdate", 0.002f);  // a nested call runs every current listener, this one included
    } else if (calls == 4) {
      hooks->Clear(true);
    }
  }
};

TEST_F(HooksTest, ListenersMayChangeTheTableDuringACall) {
  Hooks space(handles_.get());
  Meddler meddler{&space};
  Listener parts[3] = {{"victim"}, {"late"}, {"new"}};
  meddler.self = handles_->Add(&meddler);
  meddler.victim = handles_->Add(&parts[0]);
  const Handle late = handles_->Add(&parts[1]);
  meddler.newcomer = handles_->Add(&parts[2]);
  space.AddComponentListener("LogicUpdate", meddler.self, Make<&Meddler::Update>("Meddler::Update"));
  space.AddComponentListener("LogicUpdate", meddler.victim, Make<&Listener::Step>("Listener::Step"));
  space.AddComponentListener("LogicUpdate", late, Make<&Listener::Step>("Listener::Step"));

  // Removed: not called. Added (and removed-then-added): from the next call on.
  space.Call("LogicUpdate", 0.001f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"meddler", "late:1"}));

  g_calls.clear();
  space.Call("LogicUpdate", 0.001f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"meddler", "meddler", "late:2", "new:2", "late:1", "new:1"}));

  // Clearing the records from inside a call stops the walk and leaves a usable, empty table.
  g_calls.clear();
  space.Call("LogicUpdate", 0.001f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"meddler"}));
  EXPECT_EQ(space.Find("LogicUpdate"), nullptr);
  space.AddComponentListener("LogicUpdate", late, Make<&Listener::Step>("Listener::Step"));
  space.Call("LogicUpdate", 0.003f);
  EXPECT_EQ(g_calls.back(), "late:3");
}

// Registers listeners around its own place in the walk: one before it and one after it.
struct Inserter {
  Hooks* hooks = nullptr;
  Handle before = Base::kNullHandle;
  Handle after = Base::kNullHandle;
  void Update(float) {
    g_calls.push_back("inserter");
    hooks->AddComponentListener("LogicUpdate", before, Make<&Listener::Step>("Listener::Step"));
    hooks->AddComponentListener("LogicUpdate", after, Make<&Listener::Step>("Listener::Step"));
  }
};

TEST_F(HooksTest, ListenersAddedAroundTheRunningOneWaitAndNothingRunsTwice) {
  Hooks space(handles_.get());
  Listener parts[3] = {{"before"}, {"after"}, {"last"}};
  Inserter inserter{&space};
  inserter.before = handles_->Add(&parts[0]);
  const Handle self = handles_->Add(&inserter);
  inserter.after = handles_->Add(&parts[1]);
  const Handle last = handles_->Add(&parts[2]);
  space.AddComponentListener("LogicUpdate", last, Make<&Listener::Step>("Listener::Step"));
  space.AddComponentListener("LogicUpdate", self, Make<&Inserter::Update>("Inserter::Update"));

  space.Call("LogicUpdate", 0.001f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"inserter", "last:1"}));
  g_calls.clear();
  space.Call("LogicUpdate", 0.002f);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"before:2", "inserter", "after:2", "last:2"}));
}

// A space's table and its objects' tables draw their events from one store: whichever goes first, the
// others keep their own listeners, and new tables reuse what the old ones gave back.
TEST_F(HooksTest, TablesOfOneSpaceKeepTheirOwnListenersWhateverGoesFirst) {
  constexpr int kObjects = 40;
  auto space = std::make_unique<Hooks>(handles_.get());
  std::vector<std::unique_ptr<Hooks>> objects;
  std::vector<Listener> parts(kObjects);
  std::vector<Handle> owners;
  auto addObject = [&](int i) {
    objects[i] = std::make_unique<Hooks>(handles_.get());
    objects[i]->AddComponentListener("Parented", owners[i], Make<&Listener::Ping>("Listener::Ping"));
    objects[i]->AddComponentListener("UnParented", owners[i], Make<&Listener::Focus>("Listener::Focus"));
  };
  for (int i = 0; i < kObjects; ++i) {
    parts[i].tag = std::to_string(i);
    owners.push_back(handles_->Add(&parts[i]));
    objects.emplace_back();
    addObject(i);
    space->AddComponentListener("LogicUpdate", owners[i], Make<&Listener::Step>("Listener::Step"));
  }
  space->Call("LogicUpdate", 0.0f);
  EXPECT_EQ(g_calls.size(), size_t(kObjects));
  space.reset();

  for (int i = 0; i < kObjects; i += 2) objects[i].reset();
  for (int i = 0; i < kObjects; i += 4) addObject(i);
  g_calls.clear();
  std::vector<std::string> expected;
  for (int i = 0; i < kObjects; ++i) {
    if (!objects[i]) continue;
    objects[i]->Call("Parented");
    objects[i]->Call("UnParented", true);
    expected.push_back(parts[i].tag);
    expected.push_back(parts[i].tag + "+");
  }
  EXPECT_EQ(g_calls, expected);
}

TEST_F(HooksTest, ArgumentsOfEveryFormReachTheListener) {
  Hooks engine;
  Listener window{"w"};
  Space space;
  engine.AddSystemListener("GameWindowResize", &window, Make<&Listener::Resize>("Listener::Resize"));
  engine.AddSystemListener("WindowFocus", &window, Make<&Listener::Focus>("Listener::Focus"));
  engine.AddSystemListener("GameSpaceCreated", &window, Make<&Listener::Created>("Listener::Created"));
  engine.AddSystemListener("GameWindowClose", &window, Make<&Listener::Ping>("Listener::Ping"));
  engine.Call("GameWindowResize", Base::Vec2(1920.0f, 1080.0f));
  engine.Call("WindowFocus", false);
  engine.Call("GameSpaceCreated", &space);
  engine.Call("GameSpaceCreated", static_cast<Space*>(nullptr));
  engine.Call("GameWindowClose");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"w1920x1080", "w-", "w@", "w0", "w"}));
}

}  // namespace
