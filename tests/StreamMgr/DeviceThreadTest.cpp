// The device's thread against its callers: the deferred device's bound on transfers in flight with
// a threaded hook, the scheduler's choices under a clock the test moves, readers on several
// threads, device shutdown, and the sound engine starting over the real stream manager.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

#include <gtest/gtest.h>

#include "Base/PoisonRegion.h"
#include "Platform/Clock.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/SoundEngine.h"
#include "tests/SoundEngine/SoundTestSupport.h"
#include "tests/StreamMgr/StreamTestSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using StreamTest::Pattern;

using StreamTest::BankFlags;
using StreamTest::MediaFlags;

// A deferred hook whose transfers wait in a queue until the test lets its worker thread complete
// them; also the resolver of loose "<id>.bnk" files for its device.
class QueuedHook : public StreamMgr::ISnIOHookDeferred, public StreamMgr::ISnFileLocationResolver {
 public:
  explicit QueuedHook(std::string folder) : folder_(std::move(folder)), worker_([this] { Work(); }) {}
  ~QueuedHook() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
      open_ = ~0u;
    }
    changed_.notify_all();
    worker_.join();
  }

  SNRESULT OpenById(uint32_t fileId, SnOpenMode, SnFileLookupFlags*, bool& syncOpen,
                    SnFileDescriptor& descriptor) override {
    syncOpen = true;
    const std::string path = folder_ + std::to_string(fileId) + ".bnk";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SN_FileNotFound;
    struct stat status {};
    fstat(fd, &status);
    descriptor.osHandle = fd;
    descriptor.fileSize = int64_t(status.st_size);
    descriptor.firstBlock = 0;
    descriptor.deviceId = deviceId;
    descriptor.customParam = nullptr;
    descriptor.packageBlockSize = 0;
    return SN_Success;
  }
  SNRESULT OpenByName(const char16_t*, SnOpenMode, SnFileLookupFlags*, bool&, SnFileDescriptor&) override {
    return SN_FileNotFound;
  }
  SNRESULT Close(SnFileDescriptor& descriptor) override {
    return close(int(descriptor.osHandle)) == 0 ? SN_Success : SN_Failure;
  }
  uint32_t GetFileBlockSize(SnFileDescriptor&) override { return 1; }
  void DescribeDevice(SnDeviceInfo& info) override { info = SnDeviceInfo{}; }
  uint32_t GetDeviceParam() override { return 0; }
  SNRESULT ReadAsync(SnFileDescriptor& descriptor, SnTransferHints&, StreamMgr::SnAsyncTransfer& transfer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({&transfer, int(descriptor.osHandle)});
    ++lined_;
    if (queue_.size() > mostQueued_) mostQueued_ = uint32_t(queue_.size());
    changed_.notify_all();
    return SN_Success;
  }
  SNRESULT WriteAsync(SnFileDescriptor&, SnTransferHints&, StreamMgr::SnAsyncTransfer&) override { return SN_Failure; }

  // Waits until `count` transfers have been lined up in all.
  void WaitLined(uint32_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    OrvTest::WaitUntil(changed_, lock, [&] { return lined_ >= count; },
                       [&] { return std::to_string(count) + " transfers lined up (" + std::to_string(lined_) + ")"; });
  }
  // Lets the worker complete `count` more transfers (all of them: ~0u); the next `failures` fail.
  void Let(uint32_t count, uint32_t failures = 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = count == ~0u ? ~0u : open_ + count;
      failures_ = failures;
    }
    changed_.notify_all();
  }
  // Waits until the worker has completed `count` transfers in all (handed each back to the device).
  void WaitDone(uint32_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    OrvTest::WaitUntil(changed_, lock, [&] { return done_ >= count; },
                       [&] { return std::to_string(count) + " transfers done (" + std::to_string(done_) + ")"; });
  }
  uint32_t Queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return uint32_t(queue_.size());
  }
  uint32_t MostQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostQueued_;
  }

  uint32_t deviceId = kInvalidDeviceId;

 private:
  struct Pending {
    StreamMgr::SnAsyncTransfer* transfer;
    int fd;
  };
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || (open_ && !queue_.empty()); });
      if (quit_ && queue_.empty()) return;
      const Pending next = queue_.front();
      queue_.pop_front();
      if (open_ != ~0u) --open_;
      const bool fail = failures_ && failures_-- > 0;
      lock.unlock();
      const auto& request = next.transfer->request;
      const ssize_t got = pread(next.fd, next.transfer->buffer, request.requestedSize, off_t(request.filePosition));
      next.transfer->complete(next.transfer, !fail && got == ssize_t(request.requestedSize) ? SN_Success : SN_Failure);
      lock.lock();
      ++done_;
      changed_.notify_all();
    }
  }

  std::string folder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending> queue_;
  uint32_t lined_ = 0, mostQueued_ = 0, open_ = 0, failures_ = 0, done_ = 0;
  bool quit_ = false;
  std::thread worker_;
};

// Passes each transfer on only once the test opens the gate, which shares no lock with the test:
// the device thread stays inside its read, ordered against the test's calls by nothing else. Keeps
// the priority each transfer was handed.
class GatedHook : public QueuedHook {
 public:
  using QueuedHook::QueuedHook;
  SNRESULT ReadAsync(SnFileDescriptor& descriptor, SnTransferHints& hints, StreamMgr::SnAsyncTransfer& transfer) override {
    priorities.push_back(hints.priority);
    reading.store(true, std::memory_order_relaxed);
    OrvTest::WaitUntil([&] { return open.load(std::memory_order_relaxed); }, "the test to open the read's gate");
    return QueuedHook::ReadAsync(descriptor, hints, transfer);
  }
  std::atomic<bool> reading{false}, open{false};
  std::vector<int> priorities;  // the device thread's until its transfers have completed
};

class DeviceThreadTest : public StreamTest::StreamFixture {
 protected:
  void TearDown() override {
    if (hook_) {
      hook_->Let(~0u);
      StreamMgr::SetFileLocationResolver(nullptr);
      StreamMgr::DestroyDevice(hook_->deviceId);
      hook_.reset();
    }
    StreamFixture::TearDown();
    // Only once no device thread is left to read the clock.
    Platform::SetTickSource(nullptr);
  }
  // A deferred device over the queued hook, which also resolves the files.
  CSnStreamDevice* StartDeferred(uint32_t maxInFlight, std::unique_ptr<QueuedHook> hook = nullptr) {
    hook_ = hook ? std::move(hook) : std::make_unique<QueuedHook>(banks_);
    SnDeviceSettings settings = device_;
    settings.schedulerTypeFlags = SnScheduler_DeferredLinedUp;
    settings.maxConcurrentIO = maxInFlight;
    hook_->deviceId = StreamMgr::CreateDevice(settings, hook_.get());
    StreamMgr::SetFileLocationResolver(hook_.get());
    return StreamMgr::GetDevice(hook_->deviceId);
  }
  ISnStandardStream* Open(uint32_t id) {
    SnFileLookupFlags flags = BankFlags();
    ISnStandardStream* stream = nullptr;
    EXPECT_EQ(Manager()->OpenStandardStream(id, &flags, SnOpenMode_Read, stream, true), SN_Success);
    return stream;
  }

  std::unique_ptr<QueuedHook> hook_;
};

TEST_F(DeviceThreadTest, DeferredDeviceKeepsAtMostItsMaximumInFlight) {
  const std::vector<uint8_t> bank = Pattern(40 * 16384 + 100, 3);
  WriteLoose("5.bnk", bank);
  CSnStreamDevice* device = StartDeferred(8);
  ASSERT_NE(device, nullptr);
  ISnStandardStream* stream = Open(5);
  std::vector<uint8_t> buffer(bank.size());
  uint32_t got = 0;
  ASSERT_EQ(stream->Read(buffer.data(), uint32_t(buffer.size()), false, 50, 0.0f, got), SN_Success);
  hook_->WaitLined(8);
  // The thread has every chance to line up more while nothing completes; the gate holds it.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(hook_->Queued(), 8u);
  EXPECT_EQ(device->TransfersInFlight(), 8u);
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Pending);
  // Each completion opens the gate for one more.
  hook_->Let(1);
  hook_->WaitLined(9);
  EXPECT_LE(hook_->Queued(), 8u);
  hook_->Let(~0u);
  OrvTest::WaitUntil([&] { return stream->GetStatus() != SnStmStatus_Pending; }, "the stream's transfer to end");
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Completed);
  EXPECT_EQ(buffer, bank);
  EXPECT_EQ(hook_->MostQueued(), 8u);
  stream->Destroy();
}

TEST_F(DeviceThreadTest, AFailedTransferIsReportedOnlyOnceNoneStillFillsTheBuffer) {
  const std::vector<uint8_t> bank = Pattern(20 * 16384, 4);
  WriteLoose("6.bnk", bank);
  ASSERT_NE(StartDeferred(8), nullptr);
  ISnStandardStream* stream = Open(6);
  std::vector<uint8_t> buffer(bank.size());
  uint32_t got = 0;
  ASSERT_EQ(stream->Read(buffer.data(), uint32_t(buffer.size()), false, 50, 0.0f, got), SN_Success);
  hook_->WaitLined(8);
  hook_->Let(1, 1);  // the first fails, seven more still hold the caller's buffer
  hook_->WaitDone(1);
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Pending);
  EXPECT_EQ(hook_->Queued(), 7u);  // nothing more is lined up for a failed request
  hook_->Let(~0u);
  OrvTest::WaitUntil([&] { return stream->GetStatus() != SnStmStatus_Pending; }, "the stream's transfer to end");
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Error);
  EXPECT_EQ(hook_->Queued(), 0u);
  EXPECT_EQ(stream->Read(buffer.data(), 10, true, 50, 0.0f, got), SN_Failure);
  stream->Destroy();
}

#ifdef ORV_POOL_POISONING
// Keeps the last transfer it was handed, to look at once the transfer is done.
class RememberingHook : public QueuedHook {
 public:
  using QueuedHook::QueuedHook;
  SNRESULT ReadAsync(SnFileDescriptor& descriptor, SnTransferHints& hints, StreamMgr::SnAsyncTransfer& transfer) override {
    last.store(&transfer);
    return QueuedHook::ReadAsync(descriptor, hints, transfer);
  }
  std::atomic<StreamMgr::SnAsyncTransfer*> last{nullptr};
};

TEST_F(DeviceThreadTest, AHookCannotTouchATransferItHasCompleted) {
  const std::vector<uint8_t> bank = Pattern(1000, 5);
  WriteLoose("32.bnk", bank);
  auto owned = std::make_unique<RememberingHook>(banks_);
  RememberingHook* hook = owned.get();
  ASSERT_NE(StartDeferred(1, std::move(owned)), nullptr);
  ISnStandardStream* stream = Open(32);
  std::vector<uint8_t> buffer(bank.size());
  uint32_t got = 0;
  ASSERT_EQ(stream->Read(buffer.data(), uint32_t(buffer.size()), false, 50, 0.0f, got), SN_Success);
  hook->Let(~0u);
  hook->WaitDone(1);
  OrvTest::WaitUntil([&] { return stream->GetStatus() != SnStmStatus_Pending; }, "the stream's transfer to end");
  EXPECT_EQ(buffer, bank);
  EXPECT_TRUE(__asan_address_is_poisoned(hook->last.load()));
  stream->Destroy();
}
#endif

int64_t HandTicks() { return SoundTest::ManualClock::Now(); }

TEST_F(DeviceThreadTest, SchedulerPicksByDeadlineThenPriorityAsTheClockMoves) {
  for (uint32_t id = 20; id < 25; ++id) WriteLoose(std::to_string(id) + ".bnk", Pattern(4 * 16384, id));
  SoundTest::ManualClock::Ticks() = 1000000;
  Platform::SetTickSource(&HandTicks);
  CSnStreamDevice* device = StartDeferred(1);
  ASSERT_NE(device, nullptr);
  // One transfer held by the hook closes the gate: the thread chooses nothing more meanwhile.
  ISnStandardStream* holder = Open(20);
  std::vector<uint8_t> buffers[5];
  for (auto& buffer : buffers) buffer.resize(4 * 16384);
  uint32_t got = 0;
  ASSERT_EQ(holder->Read(buffers[0].data(), 16384, false, 50, 0.0f, got), SN_Success);
  hook_->WaitLined(1);

  ISnStandardStream* late = Open(21);   // two transfers, 100 ms: 50 ms each
  ISnStandardStream* soon = Open(22);   // one transfer, 30 ms
  ASSERT_EQ(late->Read(buffers[1].data(), 2 * 16384, false, 50, 100.0f, got), SN_Success);
  ASSERT_EQ(soon->Read(buffers[2].data(), 16384, false, 50, 30.0f, got), SN_Success);
  float deadline = -1.0f;
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(soon));
  EXPECT_FLOAT_EQ(deadline, 30.0f);
  SoundTest::ManualClock::AdvanceMs(20);
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(soon));
  EXPECT_FLOAT_EQ(deadline, 10.0f);

  // Without a deadline (or past it) a stream comes first; among those the higher priority, and
  // at equal priority the older request.
  ISnStandardStream* low = Open(23);
  ISnStandardStream* high = Open(24);
  ASSERT_EQ(low->Read(buffers[3].data(), 16384, false, 10, 0.0f, got), SN_Success);
  SoundTest::ManualClock::AdvanceMs(1);
  ASSERT_EQ(high->Read(buffers[4].data(), 16384, false, 90, 0.0f, got), SN_Success);
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(high));
  EXPECT_FLOAT_EQ(deadline, 0.0f);
  high->Cancel();
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(low));
  low->Cancel();
  ASSERT_EQ(low->Read(buffers[3].data(), 16384, false, 10, 0.0f, got), SN_Success);
  SoundTest::ManualClock::AdvanceMs(1);
  ASSERT_EQ(high->Read(buffers[4].data(), 16384, false, 10, 0.0f, got), SN_Success);
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(low));  // the older request
  high->Cancel();
  low->Cancel();
  // The clock runs the short deadline out (30 - 32): it comes before the other's 50 - 32.
  SoundTest::ManualClock::AdvanceMs(10);
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(soon));
  EXPECT_FLOAT_EQ(deadline, 0.0f);
  soon->Cancel();
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(late));
  EXPECT_FLOAT_EQ(deadline, 18.0f);

  hook_->Let(~0u);
  OrvTest::WaitUntil(
      [&] { return late->GetStatus() != SnStmStatus_Pending && holder->GetStatus() != SnStmStatus_Pending; },
      "both streams' transfers to end");
  EXPECT_EQ(late->GetStatus(), SnStmStatus_Completed);
  EXPECT_TRUE(std::equal(buffers[1].begin(), buffers[1].begin() + 2 * 16384, Pattern(4 * 16384, 21).begin()));
  for (ISnStandardStream* stream : {holder, late, soon, low, high}) stream->Destroy();
}

TEST_F(DeviceThreadTest, TheClockReplacedWhileTheDeviceThreadRunsSchedulesFromThen) {
  WriteLoose("26.bnk", Pattern(16384, 26));
  WriteLoose("27.bnk", Pattern(16384, 27));
  CSnStreamDevice* device = StartDeferred(1);
  ASSERT_NE(device, nullptr);
  // The thread began on the steady clock and may be reading it right now.
  SoundTest::ManualClock::Ticks() = 7000000;
  Platform::SetTickSource(&HandTicks);
  ISnStandardStream* holder = Open(26);
  std::vector<uint8_t> held(16384), buffer(16384);
  uint32_t got = 0;
  ASSERT_EQ(holder->Read(held.data(), 16384, false, 50, 0.0f, got), SN_Success);
  hook_->WaitLined(1);  // the thread chose it under the hand clock and holds the only slot
  ISnStandardStream* timed = Open(27);
  ASSERT_EQ(timed->Read(buffer.data(), 16384, false, 50, 40.0f, got), SN_Success);
  float deadline = -1.0f;
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(timed));
  EXPECT_FLOAT_EQ(deadline, 40.0f);
  SoundTest::ManualClock::AdvanceMs(25);
  EXPECT_EQ(device->ChooseNextStream(deadline), dynamic_cast<CSnStreamTask*>(timed));
  EXPECT_FLOAT_EQ(deadline, 15.0f);
  hook_->Let(~0u);
  OrvTest::WaitUntil(
      [&] { return holder->GetStatus() != SnStmStatus_Pending && timed->GetStatus() != SnStmStatus_Pending; },
      "both streams' transfers to end");
  EXPECT_EQ(buffer, Pattern(16384, 27));
  holder->Destroy();
  timed->Destroy();
}

TEST_F(DeviceThreadTest, APinnedFileIsBufferedOnlyAsFarAsItsTransfersHaveCompleted) {
  WriteLoose("61.bnk", Pattern(40000, 61));
  device_.useStreamCache = true;
  ASSERT_NE(StartDeferred(8), nullptr);
  SnFileLookupFlags flags = MediaFlags();
  ASSERT_EQ(Manager()->PinFileInCache(61, &flags, 50), SN_Success);
  float percent = -1.0f;
  bool full = true;
  // 40000 bytes in transfers of 16384, 16384 and 7232, one at a time: the last one is held.
  hook_->Let(2);
  hook_->WaitLined(3);
  ASSERT_EQ(Manager()->GetPinnedFileBufferStatus(61, percent, full), SN_Success);
  EXPECT_FLOAT_EQ(percent, 81.92f);  // 32768 of 40000
  EXPECT_FALSE(full);
  hook_->Let(1);
  OrvTest::WaitUntil(
      [&] { return Manager()->GetPinnedFileBufferStatus(61, percent, full) != SN_Success || percent >= 100.0f; },
      [&] { return "file 61's pinned buffer full (" + std::to_string(percent) + " %)"; });
  EXPECT_FLOAT_EQ(percent, 100.0f);
  EXPECT_EQ(hook_->Queued(), 0u);
  EXPECT_EQ(Manager()->UnpinFileFromCache(61, 50), SN_Success);
}

TEST_F(DeviceThreadTest, APinsPriorityChangedWhileTheDeviceThreadReadsReachesTheNextTransfer) {
  WriteLoose("62.bnk", Pattern(2 * 16384, 62));
  device_.useStreamCache = true;
  auto owned = std::make_unique<GatedHook>(banks_);
  GatedHook* gated = owned.get();
  ASSERT_NE(StartDeferred(8, std::move(owned)), nullptr);
  SnFileLookupFlags flags = MediaFlags();
  ASSERT_EQ(Manager()->PinFileInCache(62, &flags, 20), SN_Success);
  OrvTest::WaitUntil([&] { return gated->reading.load(std::memory_order_relaxed); }, "the device thread's read");
  // The thread took the priority for its first transfer's hints and waits inside the read.
  EXPECT_EQ(Manager()->UpdatePinPriority(62, 70, 20), SN_Success);
  gated->open.store(true, std::memory_order_relaxed);
  hook_->Let(~0u);
  float percent = 0.0f;
  bool full = true;
  OrvTest::WaitUntil(
      [&] { return Manager()->GetPinnedFileBufferStatus(62, percent, full) != SN_Success || percent >= 100.0f; },
      [&] { return "file 62's pinned buffer full (" + std::to_string(percent) + " %)"; });
  EXPECT_FLOAT_EQ(percent, 100.0f);
  EXPECT_EQ(gated->priorities, (std::vector<int>{20, 70}));
  EXPECT_EQ(Manager()->UnpinFileFromCache(62, 20), SN_Failure);
  EXPECT_EQ(Manager()->UnpinFileFromCache(62, 70), SN_Success);
}

TEST_F(DeviceThreadTest, ReadersOnSeveralThreadsShareTheIOThread) {
  constexpr int kFiles = 6;
  std::vector<std::vector<uint8_t>> files;
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(Pattern(150000 + i * 7777, 40 + i));
    WriteLoose(std::to_string(40 + i) + (i % 2 ? ".snm" : ".bnk"), files.back());
  }
  device_.ioMemorySize = 8 * 16384;  // scarce: automatic streams get held back and let go
  StartDevice();
  std::vector<std::vector<uint8_t>> read(kFiles);
  std::vector<std::thread> readers;
  for (int i = 0; i < kFiles; ++i)
    readers.emplace_back([&, i] {
      for (int round = 0; round < 3; ++round) {
        read[i].clear();
        if (i % 2) {
          SnFileLookupFlags flags = MediaFlags();
          ISnAutomaticStream* stream = nullptr;
          if (Manager()->OpenAutomaticStream(uint32_t(40 + i), &flags, SnAutoStmHeuristics{5000.0f, 0, 0, 0, 50},
                                             nullptr, stream, true) != SN_Success)
            return;
          stream->Activate();
          for (;;) {
            void* data = nullptr;
            uint32_t size = 0;
            SNRESULT result = SN_NoDataReady;
            // Held back while the others hold the memory.
            if (!OrvTest::WaitUntil([&] { return (result = stream->GetBuffer(data, size, true)) != SN_NoDataReady; },
                                    [&] { return "a buffer of stream " + std::to_string(40 + i); }))
              break;
            if (result != SN_DataReady && result != SN_NoMoreData) break;
            read[i].insert(read[i].end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
            stream->ReleaseBuffer();
            if (result == SN_NoMoreData) break;
          }
          stream->Destroy();
        } else {
          SnFileLookupFlags flags = BankFlags();
          ISnStandardStream* stream = nullptr;
          if (Manager()->OpenStandardStream(uint32_t(40 + i), &flags, SnOpenMode_Read, stream, true) != SN_Success)
            return;
          read[i] = ReadAll(stream, 20000 + uint32_t(i) * 1000);
          stream->Destroy();
        }
      }
    });
  for (std::thread& reader : readers) reader.join();
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(read[i], files[i]) << "file " << i;
}

TEST_F(DeviceThreadTest, DestroyDeviceWaitsForTheLastStreamThenJoinsItsThread) {
  WriteLoose("8.bnk", Pattern(1000, 8));
  StartDevice();
  const uint32_t id = io_.DeviceId();
  SnFileLookupFlags flags = BankFlags();
  ISnStandardStream* stream = nullptr;
  ASSERT_EQ(Manager()->OpenStandardStream(8, &flags, SnOpenMode_Read, stream, true), SN_Success);
  std::atomic<bool> streamGone{false}, sawStreamGone{false}, termDone{false};
  std::thread stopper([&] {
    io_.Term();
    sawStreamGone = streamGone.load();
    termDone = true;
  });
  // Time for Term to return early if it did not wait; it must not.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(termDone);
  streamGone = true;
  stream->Destroy();
  stopper.join();
  EXPECT_TRUE(sawStreamGone);
  EXPECT_EQ(StreamMgr::GetDevice(id), nullptr);
  EXPECT_EQ(StreamMgr::DestroyDevice(id), SN_InvalidParameter);
}

// The sound engine over the real stream manager (the recording back end stands in for the voice
// pipeline) and streams reading while it runs.
TEST_F(DeviceThreadTest, SoundEngineStartsOverTheRealStreamManager) {
  const std::vector<uint8_t> bank = Pattern(50000, 9);
  WriteLoose("9.bnk", bank);
  StartDevice();
  SoundTest::FakeLowerEngine lower;
  LowerEngine::Install(&lower);
  SnInitSettings settings;
  SoundEngine::GetDefaultInitSettings(settings);
  settings.useAudioThread = 0;
  EXPECT_EQ(SoundEngine::Init(&settings, nullptr), SN_Success);
  EXPECT_EQ(lower.inits.load(), 1);
  ISnStandardStream* stream = Open(9);
  EXPECT_EQ(ReadAll(stream, 16384), bank);
  stream->Destroy();
  SoundEngine::Term();
  // Without a back end of the test's the real voice pipeline starts over the same stream manager.
  LowerEngine::Install(nullptr);
  EXPECT_EQ(SoundEngine::Init(&settings, nullptr), SN_Success);
  SoundEngine::Term();
  LowerEngine::SetSampleRate(48000);
  LowerEngine::SetSamplesPerFrame(1024);
}

}  // namespace
