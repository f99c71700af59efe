// The command queue: sizes from the payload records, wrapping, the quarter-ring limit, writers on
// many threads against the real audio thread, a handler that posts and drains on its own thread,
// RenderAudio with and without messages, and the device watchdog.
#include <thread>

#include "SoundTestSupport.h"

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
    ASSERT_EQ(received_.done.Wait(30000), Platform::WaitResult::Signalled) << received_.total << " received";
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

// A handler that posts more than the ring holds while the pass is reading it.
void PostingHandler(CSnAudioMgr& manager, const SnMsgHeader& header) {
  const auto& message = reinterpret_cast<const SnMsgSetRTPC&>(header);
  Record(manager, header);
  if (message.paramId == 0 && message.gameObject == 0)
    for (uint32_t i = 0; i < 100; ++i) Post(manager, 1, i);
}

TEST_F(CommandQueueTest, AHandlerThatFillsTheRingDrainsItOnItsOwnThread) {
  InitSynchronous(512);
  SetMessageHandler(SnMsg_SetRTPC, &PostingHandler);
  received_.expected = 103;
  Post(*g_pAudioMgr, 0, 0);
  Post(*g_pAudioMgr, 0, 1);
  Post(*g_pAudioMgr, 0, 2);
  SoundEngine::RenderAudio();  // handles writer 0 and, through the full ring, most of writer 1
  SoundEngine::RenderAudio();  // the rest of writer 1
  EXPECT_EQ(received_.total, 103u);
  EXPECT_EQ(received_.outOfOrder, 0u);
  EXPECT_EQ(received_.torn, 0u);
  EXPECT_EQ(received_.perWriter[0].size(), 3u);
  EXPECT_EQ(received_.perWriter[1].size(), 100u);
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
