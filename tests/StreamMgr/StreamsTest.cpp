// The stream manager with the game's I/O over one blocking device: opens, standard and automatic
// streams, pinning, languages, deferred opens and device shutdown, on real files.
#include <thread>

#include <gtest/gtest.h>

#include "tests/StreamMgr/StreamTestSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using StreamTest::Pattern;

using StreamTest::BankFlags;
using StreamTest::MediaFlags;

class StreamsTest : public StreamTest::StreamFixture {};

TEST_F(StreamsTest, ManagerIsOneInstanceAndKeepsItsLanguageRules) {
  SnStreamMgrSettings settings;
  StreamMgr::GetDefaultSettings(settings);
  EXPECT_EQ(StreamMgr::Create(settings), Manager());
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(u"abcdefghijklmnopqrstuvwxyz01234"), SN_Success);  // 31
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(u"abcdefghijklmnopqrstuvwxyz012345"), SN_Failure);  // 32
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(u"english/"), SN_Failure);
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(u"english\\"), SN_Failure);
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(nullptr), SN_Failure);
  EXPECT_EQ(StreamMgr::GetCurrentLanguage(), std::u16string(u"abcdefghijklmnopqrstuvwxyz01234"));
  EXPECT_EQ(StreamMgr::DestroyDevice(42), SN_InvalidParameter);
}

TEST_F(StreamsTest, DestroyedDeviceIdIsReused) {
  StartDevice();
  Audio::CSnDefaultIOHookBlocking second;
  ASSERT_EQ(second.Init(device_, false), SN_Success);
  const uint32_t id = second.DeviceId();
  EXPECT_NE(id, io_.DeviceId());
  second.Term();
  Audio::CSnDefaultIOHookBlocking third;
  ASSERT_EQ(third.Init(device_, false), SN_Success);
  EXPECT_EQ(third.DeviceId(), id);
  third.Term();
  device_.schedulerTypeFlags = 2;
  EXPECT_EQ(third.Init(device_, false), SN_Failure);  // the blocking hook wants a blocking device
}

TEST_F(StreamsTest, StandardStreamsReadWaitingAndPolled) {
  const std::vector<uint8_t> bank = Pattern(100000, 1);
  WriteLoose("1234.bnk", bank);
  StartDevice();
  SnFileLookupFlags flags = BankFlags();
  ISnStandardStream* stream = nullptr;
  ASSERT_EQ(Manager()->OpenStandardStream(1234, &flags, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(stream->GetBlockSize(), 1u);
  EXPECT_EQ(ReadAll(stream, 40000), bank);
  bool end = false;
  EXPECT_EQ(stream->GetPosition(&end), 100000u);
  EXPECT_TRUE(end);

  int64_t moved = 0;
  ASSERT_EQ(stream->SetPosition(-1000, SnMove_End, &moved), SN_Success);
  EXPECT_EQ(moved, -1000);
  std::vector<uint8_t> tail(4096);
  uint32_t got = 0;
  ASSERT_EQ(stream->Read(tail.data(), 4096, false, 50, 0.0f, got), SN_Success);
  EXPECT_EQ(got, 1000u);  // clipped at the end of the file
  OrvTest::WaitUntil([&] { return stream->GetStatus() != SnStmStatus_Pending; }, "the stream's transfer to end");
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Completed);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 1000, bank.end() - 1000));
  EXPECT_EQ(stream->Read(tail.data(), 0, true, 50, 0.0f, got), SN_Success);
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Completed);
  EXPECT_EQ(stream->Read(nullptr, 16, true, 50, 0.0f, got), SN_InvalidParameter);
  EXPECT_EQ(stream->Read(tail.data(), 16, true, 101, 0.0f, got), SN_InvalidParameter);
  EXPECT_EQ(stream->SetPosition(0, SnMoveMethod(7), nullptr), SN_InvalidParameter);
  EXPECT_EQ(stream->SetPosition(-1, SnMove_Begin, nullptr), SN_InvalidParameter);
  stream->Destroy();
}

TEST_F(StreamsTest, MissingEmptyAndWrittenFiles) {
  WriteLoose("empty.bnk", {});
  StartDevice();
  SnFileLookupFlags flags = BankFlags();
  ISnStandardStream* stream = nullptr;
  EXPECT_EQ(Manager()->OpenStandardStream(99, &flags, SnOpenMode_Read, stream, true), SN_FileNotFound);
  EXPECT_EQ(Manager()->OpenStandardStream(u"no/such/folder/x.bnk", &flags, SnOpenMode_Read, stream, true),
            SN_FileNotFound);
  EXPECT_EQ(Manager()->OpenStandardStream(u"empty.bnk", &flags, SnOpenMode_Read, stream, true), SN_Failure);
  EXPECT_EQ(Manager()->OpenStandardStream(static_cast<const char16_t*>(nullptr), &flags, SnOpenMode_Read, stream, true),
            SN_InvalidParameter);

  // Writing overwrites; what was written reads back.
  ASSERT_EQ(Manager()->OpenStandardStream(u"empty.bnk", nullptr, SnOpenMode_WriteOverwrite, stream, true), SN_Success);
  std::vector<uint8_t> written = Pattern(50000, 9);
  uint32_t got = 0;
  ASSERT_EQ(stream->Write(written.data(), uint32_t(written.size()), true, 50, 0.0f, got), SN_Success);
  EXPECT_EQ(got, written.size());
  stream->Destroy();
  ASSERT_EQ(Manager()->OpenStandardStream(u"empty.bnk", &flags, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(ReadAll(stream, 16384), written);
  stream->Destroy();
}

TEST_F(StreamsTest, AutomaticStreamFeedsAReaderThreadToTheEnd) {
  const std::vector<uint8_t> media = Pattern(300000, 2);
  WriteLoose("77.snm", media);
  StartDevice();
  SnFileLookupFlags flags = MediaFlags();
  const SnAutoStmHeuristics heuristics{1000.0f, 0, 0, 0, 50};
  ISnAutomaticStream* stream = nullptr;
  EXPECT_EQ(Manager()->OpenAutomaticStream(77, &flags, SnAutoStmHeuristics{-1.0f, 0, 0, 0, 50}, nullptr, stream, true),
            SN_InvalidParameter);
  ASSERT_EQ(Manager()->OpenAutomaticStream(77, &flags, heuristics, nullptr, stream, true), SN_Success);
  void* buffer = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(stream->GetBuffer(buffer, size, false), SN_NoDataReady);  // not running yet
  EXPECT_EQ(stream->ReleaseBuffer(), SN_Failure);
  EXPECT_EQ(stream->GetNominalBuffering(), 380000u);
  ASSERT_EQ(stream->Activate(), SN_Success);

  std::vector<uint8_t> read;
  SNRESULT last = SN_Success;
  OrvTest::WaitedThread reader([&] {
    for (;;) {
      void* data = nullptr;
      uint32_t bytes = 0;
      last = stream->GetBuffer(data, bytes, true);
      if (last != SN_DataReady && last != SN_NoMoreData) break;
      read.insert(read.end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bytes);
      stream->ReleaseBuffer();
      if (last == SN_NoMoreData) break;
    }
  });
  reader.Join("the reader's waiting buffers to reach the stream's end");
  EXPECT_EQ(last, SN_NoMoreData);
  EXPECT_EQ(read, media);
  EXPECT_EQ(stream->GetBuffer(buffer, size, true), SN_NoMoreData);
  bool end = false;
  stream->GetPosition(&end);
  EXPECT_TRUE(end);
  stream->Destroy();
}

TEST_F(StreamsTest, AutomaticStreamStopsAtItsNominalBufferingAndWrapsItsLoop) {
  const std::vector<uint8_t> media = Pattern(200000, 3);
  WriteLoose("5.snm", media);
  StartDevice();
  SnFileLookupFlags flags = MediaFlags();
  ISnAutomaticStream* stream = nullptr;
  // 380 ms at 100 bytes per ms: three blocks of 16384 cover the 38000 bytes.
  ASSERT_EQ(Manager()->OpenAutomaticStream(5, &flags, SnAutoStmHeuristics{100.0f, 0, 0, 0, 50}, nullptr, stream, true),
            SN_Success);
  stream->Activate();
  uint32_t available = 0;
  OrvTest::WaitUntil([&] { return stream->QueryBufferingStatus(available) == SN_NoMoreData; },
                     "the stream to have buffered to its end");
  EXPECT_EQ(available, 3u * 16384u);
  stream->Destroy();

  // A loop of two blocks: buffers come back from its start, and the end never arrives.
  ASSERT_EQ(Manager()->OpenAutomaticStream(5, &flags, SnAutoStmHeuristics{100.0f, 0, 32768, 0, 50}, nullptr, stream,
                                           true),
            SN_Success);
  stream->Activate();
  for (int i = 0; i < 6; ++i) {
    void* data = nullptr;
    uint32_t bytes = 0;
    ASSERT_EQ(stream->GetBuffer(data, bytes, true), SN_DataReady);
    ASSERT_EQ(bytes, 16384u);
    EXPECT_EQ(memcmp(data, media.data() + (i % 2) * 16384, 16384), 0) << "buffer " << i;
    stream->ReleaseBuffer();
  }
  stream->Destroy();
}

TEST_F(StreamsTest, PinnedFilesStayCachedAndServeLaterStreams) {
  const std::vector<uint8_t> media = Pattern(40000, 4);
  WriteLoose("600.snm", media);
  device_.useStreamCache = true;
  StartDevice();
  SnFileLookupFlags flags = MediaFlags();
  ASSERT_EQ(Manager()->PinFileInCache(600, &flags, 10), SN_Success);
  ASSERT_EQ(Manager()->PinFileInCache(600, &flags, 30), SN_Success);
  EXPECT_EQ(Manager()->UpdatePinPriority(600, 40, 30), SN_Success);
  EXPECT_EQ(Manager()->UpdatePinPriority(600, 40, 99), SN_Failure);
  float percent = 0.0f;
  bool full = true;
  OrvTest::WaitUntil(
      [&] { return Manager()->GetPinnedFileBufferStatus(600, percent, full) != SN_Success || percent >= 100.0f; },
      [&] { return "file 600's pinned buffer full (" + std::to_string(percent) + " %)"; });
  EXPECT_FLOAT_EQ(percent, 100.0f);
  EXPECT_FALSE(full);
  EXPECT_EQ(Manager()->GetPinnedFileBufferStatus(601, percent, full), SN_Failure);

  // The file changes on disk; a stream of the same cache id still reads the pinned bytes.
  SnFileLookupFlags cached = MediaFlags(600);
  ISnAutomaticStream* stream = nullptr;
  ASSERT_EQ(Manager()->OpenAutomaticStream(600, &cached, SnAutoStmHeuristics{100.0f, 0, 0, 0, 50}, nullptr, stream,
                                           true),
            SN_Success);
  WriteLoose("600.snm", std::vector<uint8_t>(40000, 0));
  stream->Activate();
  std::vector<uint8_t> read;
  for (SNRESULT result = SN_DataReady; result == SN_DataReady;) {
    void* data = nullptr;
    uint32_t bytes = 0;
    result = stream->GetBuffer(data, bytes, true);
    ASSERT_TRUE(result == SN_DataReady || result == SN_NoMoreData) << "result " << int(result) << " after " << read.size();
    read.insert(read.end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bytes);
    stream->ReleaseBuffer();
  }
  EXPECT_EQ(read, media);
  stream->Destroy();

  EXPECT_EQ(Manager()->UnpinFileFromCache(600, 10), SN_Failure);  // one pin remains
  EXPECT_EQ(Manager()->UnpinFileFromCache(600, 40), SN_Success);
  EXPECT_EQ(Manager()->UnpinFileFromCache(600, 40), SN_Failure);
  StreamMgr::FlushAllCaches();
  EXPECT_EQ(Device()->IOMemory().CacheCount(), 0u);
}

TEST_F(StreamsTest, LanguageFoldersFollowTheCurrentLanguage) {
  WriteLoose("english/Voice.bnk", Pattern(100, 5));
  WriteLoose("french/Voice.bnk", Pattern(200, 6));
  StartDevice();
  SnFileLookupFlags flags = BankFlags(true);
  ISnStandardStream* stream = nullptr;
  for (const auto& [language, size] : {std::pair{u"english", 100u}, std::pair{u"french", 200u}}) {
    ASSERT_EQ(StreamMgr::SetCurrentLanguage(language), SN_Success);
    ASSERT_EQ(Manager()->OpenStandardStream(u"Voice.bnk", &flags, SnOpenMode_Read, stream, true), SN_Success);
    SnStreamInfo info{};
    stream->GetInfo(info);
    EXPECT_EQ(info.size, size);
    stream->Destroy();
  }
  // Names are case-sensitive.
  EXPECT_EQ(Manager()->OpenStandardStream(u"voice.bnk", &flags, SnOpenMode_Read, stream, true), SN_FileNotFound);
}

TEST_F(StreamsTest, DeferredOpensHappenOnTheIOThread) {
  const std::vector<uint8_t> bank = Pattern(30000, 7);
  WriteLoose("31.bnk", bank);
  StartDevice(true);
  SnFileLookupFlags flags = BankFlags();
  ISnStandardStream* stream = nullptr;
  ASSERT_EQ(Manager()->OpenStandardStream(31, &flags, SnOpenMode_Read, stream, false), SN_Success);
  SnStreamInfo info{};
  stream->GetInfo(info);
  EXPECT_FALSE(info.isOpen);
  std::vector<uint8_t> buffer(30000);
  uint32_t got = 0;
  ASSERT_EQ(stream->Read(buffer.data(), 30000, true, 50, 0.0f, got), SN_Success);
  EXPECT_EQ(buffer, bank);
  stream->GetInfo(info);
  EXPECT_TRUE(info.isOpen);
  stream->Destroy();
  // A file that is not there fails when the thread opens it.
  ASSERT_EQ(Manager()->OpenStandardStream(32, &flags, SnOpenMode_Read, stream, false), SN_Success);
  EXPECT_EQ(stream->Read(buffer.data(), 100, true, 50, 0.0f, got), SN_Failure);
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Error);
  stream->Destroy();
}

// An automatic stream asking for buffers larger than the device's granularity fails its immediate
// open. Before its opener lets it go, the device's thread is made to run a pass (a standard stream's
// waiting read completes only after one): the failed stream is still the opener's, not freed under it.
TEST_F(StreamsTest, AStreamThatFailsItsImmediateOpenStaysItsOpenersUntilLetGo) {
  const std::vector<uint8_t> other = Pattern(4096, 5);
  WriteLoose("40.bnk", Pattern(4096, 4));
  WriteLoose("41.bnk", other);
  StartDevice();
  SnFileLookupFlags flags = BankFlags();
  struct Pass {
    ISnStandardStream* stream = nullptr;
    std::vector<uint8_t> read = std::vector<uint8_t>(4096);
    int runs = 0;
  } pass;
  ASSERT_EQ(Manager()->OpenStandardStream(41, &flags, SnOpenMode_Read, pass.stream, true), SN_Success);
  StreamMgr::SetFailedSetupHook(
      [](void* context) {
        auto& pass = *static_cast<Pass*>(context);
        uint32_t got = 0;
        EXPECT_EQ(pass.stream->Read(pass.read.data(), 4096, true, 50, 0.0f, got), SN_Success);
        ++pass.runs;
      },
      &pass);
  const SnAutoStmBufSettings tooLarge{2 * device_.granularity, 0, 0};
  ISnAutomaticStream* stream = nullptr;
  EXPECT_NE(Manager()->OpenAutomaticStream(40, &flags, SnAutoStmHeuristics{100.0f, 0, 0, 0, 50}, &tooLarge, stream,
                                           true),
            SN_Success);
  StreamMgr::SetFailedSetupHook(nullptr, nullptr);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(pass.runs, 1);
  EXPECT_EQ(pass.read, other);
  pass.stream->Destroy();
}

}  // namespace
