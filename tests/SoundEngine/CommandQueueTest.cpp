// The command queue: sizes from the payload records, wrapping, the quarter-ring limit, writers on
// many threads against the real audio thread, a handler that posts past the ring's room, a
// writer that finds the ring full while a pass runs or between the frames it catches up, the frames
// one pass takes, RenderAudio with and without messages, and the device watchdog.
#include <thread>

#include "SoundTestSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using SoundTest::ManualClock;

struct Received {
  std::mutex lock;
  std::vector<std::vector<uint32_t>> perWriter;
  std::atomic<uint32_t> total{0}, torn{0}, outOfOrder{0};
  uint32_t expected = 0;
  Platform::Event done{Platform::Event::Reset::Manual};
};
Received* g_received = nullptr;

uint32_t Check(uint32_t writer, uint32_t sequence) { return (writer * 2654435761u) ^ (sequence * 40503u); }

void Post(CSnAudioMgr& manager, uint32_t writer, uint32_t sequence) {
  auto* message = manager.Reserve<SnMsgSetRTPC>(SnMsg_SetRTPC);
  ASSERT_NE(message, nullptr);
  message->paramId = writer;
  message->gameObject = sequence;
  message->playingId = Check(writer, sequence);
  manager.FinishMessage();
}

void Record(CSnAudioMgr&, const SnMsgHeader& header) {
  const auto& message = reinterpret_cast<const SnMsgSetRTPC&>(header);
  Received& r = *g_received;
  if (header.size < MessageSize<SnMsgSetRTPC>() || message.playingId != Check(message.paramId, message.gameObject)) {
    ++r.torn;
  } else {
    std::lock_guard<std::mutex> guard(r.lock);
    auto& seen = r.perWriter[message.paramId];
    if (!seen.empty() && seen.back() + 1 != message.gameObject) ++r.outOfOrder;
    seen.push_back(message.gameObject);
  }
  if (++r.total == r.expected) r.done.Set();
}

class CommandQueueTest : public SoundTest::EngineFixture {
 protected:
  static constexpr uint32_t kMostWriters = CSnAudioMgr::kWriterSlots + 4;
  // Writers on their own threads while the audio thread drains; each closes a frame every
  // `renderEvery` posts, or never (0): then the ring is emptied only by writers finding it full.
  void RunWriters(uint32_t writerCount, uint32_t perWriter, uint32_t renderEvery) {
    received_.expected = writerCount * perWriter;
    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < writerCount; ++w) {
      writers.emplace_back([w, perWriter, renderEvery] {
        for (uint32_t i = 0; i < perWriter; ++i) {
          Post(*g_pAudioMgr, w, i);
          if (renderEvery && i % renderEvery == renderEvery - 1) SoundEngine::RenderAudio();
        }
      });
    }
    for (std::thread& writer : writers) writer.join();
    SoundEngine::RenderAudio();
    ASSERT_TRUE(OrvTest::WaitUntilSet(received_.done, [&] {
      return "every message to be received (" + std::to_string(received_.total) + " received)";
    }));
    EXPECT_EQ(received_.torn, 0u);
    EXPECT_EQ(received_.outOfOrder, 0u);
    for (uint32_t w = 0; w < writerCount; ++w) EXPECT_EQ(received_.perWriter[w].size(), perWriter) << "writer " << w;
  }

  void SetUp() override {
    EngineFixture::SetUp();
    received_.perWriter.resize(kMostWriters);
    g_received = &received_;
    previous_ = SetMessageHandler(SnMsg_SetRTPC, &Record);
  }
  void TearDown() override {
    SN::SoundEngine::Term();
    SetMessageHandler(SnMsg_SetRTPC, previous_);
    g_received = nullptr;
    EngineFixture::TearDown();
  }
  Received received_;
  SnMessageHandler previous_ = nullptr;
};

TEST_F(CommandQueueTest, SizesComeFromThePayloadRecords) {
  EXPECT_EQ(MessageSize<SnMsgSetRTPC>(), RoundMessageSize(sizeof(SnMsgSetRTPC)));
  EXPECT_EQ(MessageSize<SnMsgPostEvent>() % kMessageAlign, 0u);
  EXPECT_GE(kLargestFixedMessage, MessageSize<SnMsgPostEvent>());
  EXPECT_EQ(MultiplePositionsSize(2), RoundMessageSize(sizeof(SnMsgSetMultiplePositions) + 2 * sizeof(SnSoundPosition)));
}

TEST_F(CommandQueueTest, MessagesOfAQuarterOfTheRingOrMoreAreRefused) {
  InitSynchronous(512);
  CSnAudioMgr& manager = *g_pAudioMgr;
  EXPECT_EQ(manager.ReserveMessage(SnMsg_SetMultiplePositions, MultiplePositionsSize(8)), nullptr);
  EXPECT_EQ(manager.ReserveMessage(SnMsg_SetMultiplePositions, 128), nullptr);
  EXPECT_NE(log_.Take().find("does not fit the command queue"), std::string::npos);
  // Many messages just under a quarter in one frame: the writer drains the ring itself each time.
  const uint32_t size = manager.MaxMessageBytes();
  EXPECT_LT(size, 128u);
  received_.expected = 20;
  for (uint32_t i = 0; i < 20; ++i) {
    auto* message = reinterpret_cast<SnMsgSetRTPC*>(manager.ReserveMessage(SnMsg_SetRTPC, size));
    ASSERT_NE(message, nullptr);
    message->paramId = 0;
    message->gameObject = i;
    message->playingId = Check(0, i);
    manager.FinishMessage();
  }
  EXPECT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(received_.total, 20u);
  EXPECT_EQ(received_.outOfOrder, 0u);
}

TEST_F(CommandQueueTest, RenderAudioWithoutMessagesStillRunsThePassSynchronously) {
  InitSynchronous();
  const int passes = lower_.passes;
  EXPECT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(lower_.passes, passes + 1);
  EXPECT_EQ(lower_.sideEffects, 0);  // no frame was closed
  Post(*g_pAudioMgr, 1, 0);
  received_.expected = 1;
  EXPECT_EQ(SoundEngine::RenderAudio(), SN_Success);
  EXPECT_EQ(received_.total, 1u);
  EXPECT_EQ(lower_.sideEffects, 1);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 2u);
}

TEST_F(CommandQueueTest, WritersOnFourThreadsFillWrapAndOverflowWhileTheAudioThreadDrains) {
  settings_.commandQueueBytes = 2048;
  ASSERT_EQ(SoundEngine::Init(&settings_, nullptr), SN_Success);
  RunWriters(4, 5000, 16);
  EXPECT_GE(lower_.sinkBegins, 1);
}

// More writing threads than the writers count has slots of their own, and no frame closed until
// the end: every message before the last frame is drained by a writer that found the ring full,
// while the others keep reserving behind it.
TEST_F(CommandQueueTest, MoreWritersThanSlotsDrainTheRingThemselves) {
  settings_.commandQueueBytes = 2048;
  ASSERT_EQ(SoundEngine::Init(&settings_, nullptr), SN_Success);
  RunWriters(kMostWriters, 1500, 0);
}

// A handler that posts more than the ring holds while the pass is reading it: what finds no room
// waits aside, never drained by the handler's own post, and comes in the next frame in its order.
void PostingHandler(CSnAudioMgr& manager, const SnMsgHeader& header) {
  const auto& message = reinterpret_cast<const SnMsgSetRTPC&>(header);
  Record(manager, header);
  if (message.paramId == 0 && message.gameObject == 0)
    for (uint32_t i = 0; i < 100; ++i) Post(manager, 1, i);
}

TEST_F(CommandQueueTest, AHandlerThatFillsTheRingWaitsAsideOnItsOwnThread) {
  InitSynchronous(512);
  SetMessageHandler(SnMsg_SetRTPC, &PostingHandler);
  received_.expected = 103;
  Post(*g_pAudioMgr, 0, 0);
  Post(*g_pAudioMgr, 0, 1);
  Post(*g_pAudioMgr, 0, 2);
  SoundEngine::RenderAudio();  // handles writer 0; writer 1 fills the ring, the rest waits aside
  SoundEngine::RenderAudio();  // writer 1
  EXPECT_EQ(received_.total, 103u);
  EXPECT_EQ(received_.outOfOrder, 0u);
  EXPECT_EQ(received_.torn, 0u);
  EXPECT_EQ(received_.perWriter[0].size(), 3u);
  EXPECT_EQ(received_.perWriter[1].size(), 100u);
}

// A pass that stops in a handler, for the test to act while it holds the audio lock: writer 7's
// message says so and waits for `go`, writer 8's says so and waits for `reached` to be set by the
// test's other thread (30 s at most, then it notes that it gave up).
struct PassStops {
  Platform::Event inFirst{Platform::Event::Reset::Manual};
  Platform::Event inLast{Platform::Event::Reset::Manual};
  Platform::Event go{Platform::Event::Reset::Manual};
  Platform::Event reached{Platform::Event::Reset::Manual};
  std::atomic<bool> gaveUp{false};
  std::vector<uint32_t> framesOfWriter1;  // the frame counter when each of writer 1's messages ran
};
PassStops* g_stops = nullptr;

void StoppingHandler(CSnAudioMgr& manager, const SnMsgHeader& header) {
  const auto& message = reinterpret_cast<const SnMsgSetRTPC&>(header);
  if (message.paramId == 7) {
    g_stops->inFirst.Set();
    OrvTest::WaitUntilSet(g_stops->go, "g_stops.go to be set");
  } else if (message.paramId == 8) {
    g_stops->inLast.Set();
    if (!OrvTest::WaitUntilSet(g_stops->reached, "the ring to fill behind writer 8's handler")) g_stops->gaveUp = true;
  } else if (message.paramId == 1) {
    g_stops->framesOfWriter1.push_back(manager.CurrentFrame());
  }
  Record(manager, header);
}

// The ring is full and a pass holds the lock: the writer takes the room the pass hands back message
// by message, and is done before the pass reaches its last message, not once the pass has ended.
TEST_F(CommandQueueTest, AWriterFindingTheRingFullTakesTheRoomThePassHandsBackWhileItRuns) {
  InitSynchronous(512);
  PassStops stops;
  g_stops = &stops;
  SetMessageHandler(SnMsg_SetRTPC, &StoppingHandler);
  const uint32_t slot = MessageSize<SnMsgSetRTPC>();
  // Writer 7's stop, fillers of writer 1, writer 8's stop and the frame's end fill the ring.
  const uint32_t fillers = (512 - 2 * slot) / slot - 2;
  Post(*g_pAudioMgr, 7, 0);
  for (uint32_t i = 0; i < fillers; ++i) Post(*g_pAudioMgr, 1, i);
  Post(*g_pAudioMgr, 8, 0);
  received_.expected = fillers + 2 + fillers;
  std::thread pass([] { SoundEngine::RenderAudio(); });
  ASSERT_TRUE(OrvTest::WaitUntilSet(stops.inFirst, "the pass to reach the first writer's handler"));
  // As many posts as the fillers: more than the ring has free now (one fits behind writer 8's stop
  // and the frame's end), no more than the pass gives back. The pass goes on once the ring is full.
  Platform::Event full{Platform::Event::Reset::Manual};
  std::thread writer([&] {
    for (uint32_t i = 0; i < fillers; ++i) {
      if (i == 1) full.Set();
      Post(*g_pAudioMgr, 2, i);
    }
    stops.reached.Set();
  });
  ASSERT_TRUE(OrvTest::WaitUntilSet(full, "the ring to be full"));
  stops.go.Set();
  pass.join();
  writer.join();
  EXPECT_FALSE(stops.gaveUp) << "the writer waited for the whole pass";
  SoundEngine::RenderAudio();
  EXPECT_EQ(received_.total, 2 * fillers + 2);
  EXPECT_EQ(received_.perWriter[2].size(), fillers);
  EXPECT_EQ(received_.outOfOrder, 0u);
  SetMessageHandler(SnMsg_SetRTPC, &Record);
  g_stops = nullptr;
}

// A frame closed while the pass reads the ring waits for the frame the pass renders: the game posting
// without pause cannot keep the pass reading, and the audio lock held, for as long as it posts.
TEST_F(CommandQueueTest, AFrameClosedWhileThePassReadsWaitsForTheFrameItRenders) {
  InitSynchronous();
  PassStops stops;
  g_stops = &stops;
  SetMessageHandler(SnMsg_SetRTPC, &StoppingHandler);
  received_.expected = 3;
  Post(*g_pAudioMgr, 8, 0);
  std::thread pass([] { SoundEngine::RenderAudio(); });
  // While the pass waits in writer 8's handler, another frame is posted and closed without a pass.
  std::thread writer([&] {
    ASSERT_TRUE(OrvTest::WaitUntilSet(stops.inLast, "the pass to reach writer 8's handler"));
    Post(*g_pAudioMgr, 1, 0);
    Post(*g_pAudioMgr, 1, 1);
    g_pAudioMgr->RenderAudio(false);
    stops.reached.Set();
  });
  writer.join();
  pass.join();
  EXPECT_FALSE(stops.gaveUp);
  EXPECT_EQ(received_.total, 3u);
  // Read once the pass had rendered its frame, not before it.
  EXPECT_EQ(stops.framesOfWriter1, (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(received_.perWriter[1].size(), 2u);
  SetMessageHandler(SnMsg_SetRTPC, &Record);
  g_stops = nullptr;
}

// A pass catching up several frames reads nothing while it renders them: a writer that finds the ring
// full during the second of three gets its room before the third is rendered, not once the pass ends,
// and what the pass drains for it runs between the two frames, as a writer's own drain would.
TEST_F(CommandQueueTest, AWriterFindingTheRingFullGetsRoomBetweenTheFramesAPassCatchesUp) {
  InitSynchronous(512);
  PassStops stops;
  g_stops = &stops;
  SetMessageHandler(SnMsg_SetRTPC, &StoppingHandler);
  const uint32_t posts = 512 / MessageSize<SnMsgSetRTPC>() + 1;  // one more than the empty ring takes
  received_.expected = posts;
  lower_.framesPerPass = 3;
  lower_.onPerform = [&stops](int frame) {
    if (frame == 2) {
      stops.inFirst.Set();
      // The frame lasts until the writer is stuck on the full ring.
      OrvTest::WaitUntil([] { return g_pAudioMgr->WritersWaitingForRoom() != 0; }, "a writer waiting for room");
    } else if (frame == 3 && !OrvTest::WaitUntilSet(stops.reached, "the writer to be stuck on the full ring")) {
      stops.gaveUp = true;
    }
  };
  std::thread pass([] { SoundEngine::RenderAudio(); });
  ASSERT_TRUE(OrvTest::WaitUntilSet(stops.inFirst, "the pass to reach the first writer's handler"));
  std::thread writer([&] {
    for (uint32_t i = 0; i < posts; ++i) Post(*g_pAudioMgr, 1, i);
    stops.reached.Set();
  });
  writer.join();
  pass.join();
  lower_.onPerform = nullptr;
  EXPECT_FALSE(stops.gaveUp) << "the writer waited for the pass's last frame";
  EXPECT_EQ(g_pAudioMgr->WritersWaitingForRoom(), 0u);
  ASSERT_FALSE(stops.framesOfWriter1.empty());
  EXPECT_EQ(stops.framesOfWriter1.front(), 2u);  // after the second frame, before the third
  // The rest waits for the next frame closed, as before.
  const size_t drained = stops.framesOfWriter1.size();
  EXPECT_LT(drained, posts);
  SoundEngine::RenderAudio();
  EXPECT_EQ(received_.total, posts);
  EXPECT_EQ(received_.outOfOrder, 0u);
  EXPECT_EQ(received_.torn, 0u);
  for (size_t i = drained; i < stops.framesOfWriter1.size(); ++i) EXPECT_EQ(stops.framesOfWriter1[i], 3u);
  SetMessageHandler(SnMsg_SetRTPC, &Record);
  g_stops = nullptr;
}

TEST_F(CommandQueueTest, WatchdogSuspendsTheOutputsOnThe48thIdlePass) {
  ManualClock::Ticks() = 0;
  Platform::SetTickSource(&ManualClock::Now);
  lower_.framesPerPass = 0;
  InitSynchronous();
  ASSERT_EQ(LowerEngine::FrameDurationMs(), 21u);
  for (int pass = 1; pass <= 47; ++pass) {
    ManualClock::AdvanceMs(25);
    SoundEngine::RenderAudio();
  }
  EXPECT_EQ(lower_.enterSuspended, 0);
  ManualClock::AdvanceMs(25);
  SoundEngine::RenderAudio();
  EXPECT_EQ(lower_.enterSuspended, 1);
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 0u);

  // Suspended and rendering: frames follow the time since the last render, the fraction carried.
  ManualClock::AdvanceMs(50);
  SoundEngine::RenderAudio();
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 2u);  // 50 ms of 21.33 ms frames
  ManualClock::AdvanceMs(20);
  SoundEngine::RenderAudio();
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 3u);  // 20 ms plus the 7.3 ms carried

  // Suspended without rendering: one frame per pass, rendering nothing.
  {
    std::lock_guard<std::mutex> guard(lower_.stateLock);
    lower_.suspend.suspended = true;
    lower_.suspend.renderWhileSuspended = false;
  }
  SoundEngine::RenderAudio();
  EXPECT_EQ(g_pAudioMgr->CurrentFrame(), 4u);
}

}  // namespace
