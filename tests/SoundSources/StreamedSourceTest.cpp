// Streamed PCM and ADPCM sources over loose "<id>.snm" files read by the stream manager's blocking
// device in small buffers (259 bytes: frames and blocks split between buffers, loop ends inside
// them): through the source stage, equal sample for sample to the same media played from memory.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Audio/DefaultIOHookBlocking.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/PcmSource.h"
#include "SoundEngine/Sources/StreamedSources.h"
#include "SoundEngine/Sources/VoiceSourceStage.h"
#include "StreamMgr/StreamManager.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"
#include "tests/Support/WaitFor.h"

namespace {

using SourceTest::FakeInstance;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class StreamedSourceTest : public SourceTest::PoolFixture {
 protected:
  void SetUp() override {
    PoolFixture::SetUp();
    SN::SnMemoryHooks hooks = SN::GetMemoryHooks();
    hooks.virtualAlloc = [](size_t bytes) { return Platform::VirtualAllocate(bytes); };
    hooks.virtualFree = [](void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); };
    SN::SetMemoryHooks(hooks);
    char pattern[] = "/tmp/orv-sources-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    SN::SnStreamMgrSettings streamSettings;
    SN::StreamMgr::GetDefaultSettings(streamSettings);
    ASSERT_NE(SN::StreamMgr::Create(streamSettings), nullptr);
    SN::SnDeviceSettings device{};
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    device.granularity = 259;
    device.ioMemorySize = 259 * 64;
    ASSERT_EQ(io_.Init(device, false), SN::SN_Success);
    std::string folder = root_ + "/";
    ASSERT_EQ(io_.SetBaseFolder(Wide(folder).c_str()), SN::SN_Success);
  }
  void TearDown() override {
    io_.Term();
    if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
    std::filesystem::remove_all(root_);
    PoolFixture::TearDown();
  }
  // Written where the device looks for media ids, as MakeSoundBanks writes loose media.
  void WriteLoose(uint32_t id, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(root_);
    std::ofstream(root_ + "/" + std::to_string(id) + ".snm", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  Audio::CSnDefaultIOHookBlocking io_;
  std::string root_;
};

// What a test does between two frames of a play: the frame just played, the source and its stage.
using BetweenFrames = std::function<void(int, SN::CSnVoiceSource&, SN::CSnVoiceSourceStage&)>;

// Plays a voice to its end through the stage, at most `most` frames. A frame the source has nothing
// for yet (its stream still refilling) is asked again until the device thread delivers: it counts as
// one frame however often it is asked.
template <class Source>
std::vector<std::vector<float>> Play(FakeInstance& instance, uint16_t frames, SN::SNRESULT* prepared = nullptr,
                                     const BetweenFrames& between = {}, int most = 2000) {
  Source source(&instance);
  SN::SNRESULT result = SN::SN_NotReadyYet;
  OrvTest::WaitUntil([&] { return (result = source.PrepareSource()) != SN::SN_NotReadyYet; },
                     "the streamed source to be prepared");
  if (prepared) *prepared = result;
  std::vector<std::vector<float>> planes;
  if (result != SN::SN_Success) return planes;
  SN::CSnVoiceSourceStage stage;
  EXPECT_EQ(stage.Init(&source, instance.format, &instance, 48000), SN::SN_Success);
  planes.assign(instance.format.Channels(), {});
  for (int played = 0; played < most;) {
    SN::SnVoiceBuffer out;
    out.maxFrames = frames;
    SN::SNRESULT r = SN::SN_NoDataReady;
    // Until the device thread has filled the next buffer.
    if (!OrvTest::WaitUntil([&] { return (r = stage.RunFrame(out)) != SN::SN_NoDataReady; },
                            [&] { return "the device thread to fill the buffer of frame " + std::to_string(played); }))
      break;
    for (uint32_t c = 0; c < planes.size(); ++c)
      planes[c].insert(planes[c].end(), out.Plane(c), out.Plane(c) + out.validFrames);
    out.FreeMarkers();
    if (r != SN::SN_DataReady) break;
    if (between) between(played, source, stage);
    ++played;
  }
  stage.Stop();
  stage.Release();
  return planes;
}

// Equal planes, or where the first difference lies.
void ExpectSamePlanes(const std::vector<std::vector<float>>& got, const std::vector<std::vector<float>>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t c = 0; c < got.size(); ++c) {
    ASSERT_EQ(got[c].size(), expected[c].size()) << "plane " << c;
    for (size_t i = 0; i < got[c].size(); ++i) ASSERT_EQ(got[c][i], expected[c][i]) << "plane " << c << " sample " << i;
  }
}

FakeInstance StreamedInstance(uint32_t id, uint32_t codec) {
  FakeInstance instance({}, codec, SN::CSnSourceDesc::Storage_Streamed);
  instance.desc.fileId = id;
  return instance;
}

// 6000 frames of noise at 44.1 kHz looping over 1001..4321.
Tools::ToneDesc LoopedNoise(uint16_t channels) {
  Tools::ToneDesc tone;
  tone.channels = channels;
  tone.frames = 6000;
  tone.sampleRate = 44100;
  tone.signal = Tools::ToneSignal::Noise;
  tone.loop = true;
  tone.loopStart = 1001;
  tone.loopEnd = 4321;
  return tone;
}

TEST_F(StreamedSourceTest, StreamedPcmEqualsMemoryWithLoopsAndSplitFrames) {
  Tools::ToneDesc tone = LoopedNoise(3);  // 6-byte frames do not divide the 259-byte buffers
  tone.markers = {{1, 5, "a"}};
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  WriteLoose(1234, media);
  for (uint16_t loops : {uint16_t(1), uint16_t(3)}) {
    FakeInstance memory(media);
    memory.loopCount = loops;
    FakeInstance streamed = StreamedInstance(1234, 0x10000);
    streamed.loopCount = loops;
    const auto expected = Play<SN::CSnPcmSource>(memory, 1024);
    const auto got = Play<SN::CSnPcmStreamSource>(streamed, 1024);
    // Once: the 6000 frames at 48 kHz, the last of them led down to the silence after it.
    ASSERT_EQ(expected[0].size(), loops == 1 ? (6000u * 48000 + 44099) / 44100 : 0u + expected[0].size());
    ExpectSamePlanes(got, expected);
  }
}

// Through the stage at 44.1 kHz into 48 kHz, a looped stream tells the output frames it still has:
// after every frame, with what it gave, the whole play to within the one frame a step rounds.
TEST_F(StreamedSourceTest, AStreamThroughTheStageTellsItsOutputFramesLeft) {
  WriteLoose(1236, Tools::WriteToneMedia(LoopedNoise(1)));
  FakeInstance streamed = StreamedInstance(1236, 0x10000);
  streamed.loopCount = 2;
  std::vector<int64_t> told;
  const auto planes = Play<SN::CSnPcmStreamSource>(
      streamed, 1024, nullptr, [&](int, SN::CSnVoiceSource&, SN::CSnVoiceSourceStage& stage) {
        told.push_back(stage.FramesLeft());
      });
  ASSERT_FALSE(told.empty());
  const int64_t whole = int64_t(planes[0].size());
  for (size_t i = 0; i < told.size(); ++i) EXPECT_NEAR(double(told[i] + 1024 * int64_t(i + 1)), double(whole), 1.0) << i;
}

// 50 blocks of stereo ADPCM looping over blocks 10..29.
Tools::ToneDesc LoopedBlocks() {
  Tools::ToneDesc tone;
  tone.channels = 2;
  tone.frames = 64 * 50;
  tone.encoding = Tools::MediaEncoding::ImaAdpcm;
  tone.loop = true;
  tone.loopStart = 640;
  tone.loopEnd = 64 * 30 - 1;
  return tone;
}

TEST_F(StreamedSourceTest, StreamedAdpcmEqualsMemoryWithLoopsAndSplitBlocks) {
  const Tools::ToneDesc tone = LoopedBlocks();
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  WriteLoose(99, media);
  for (uint16_t loops : {uint16_t(1), uint16_t(2)}) {
    FakeInstance memory(media, 0x20000);
    memory.loopCount = loops;
    FakeInstance streamed = StreamedInstance(99, 0x20000);
    streamed.loopCount = loops;
    const auto expected = Play<SN::CSnAdpcmSource>(memory, 1024);
    const auto got = Play<SN::CSnAdpcmStreamSource>(streamed, 1024);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected[0].size(), (3200u + (loops - 1) * 1280u));
    ExpectSamePlanes(got, expected);
  }
}

// A mono ramp of `frames` frames at `rate`.
Tools::ToneDesc MonoRamp(uint32_t frames, uint32_t rate) {
  Tools::ToneDesc tone;
  tone.channels = 1;
  tone.frames = frames;
  tone.sampleRate = rate;
  tone.signal = Tools::ToneSignal::Ramp;
  return tone;
}

// The streamed instance of loose file `id`, the first `bytes` bytes of its `media` prefetched.
FakeInstance PrefetchedInstance(uint32_t id, const std::vector<uint8_t>& media, size_t bytes) {
  FakeInstance prefetched = StreamedInstance(id, 0x10000);
  prefetched.desc.flags |= SN::CSnSourceDesc::kPrefetched;
  prefetched.prefetch.assign(media.begin(), media.begin() + std::ptrdiff_t(bytes));
  return prefetched;
}

TEST_F(StreamedSourceTest, PrefetchedBytesAndSeeksIntoLoopsMatchMemory) {
  Tools::ToneDesc tone = MonoRamp(1200, 24000);
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 999;
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  WriteLoose(5, media);
  FakeInstance memory(media);
  memory.loopCount = 3;
  memory.seek = SN::SnSeekRequest{true, false, false, 0.0f, 5000, 0};  // media frame 2500: 700 of the last pass
  FakeInstance streamed = StreamedInstance(5, 0x10000);
  streamed.loopCount = 3;
  streamed.seek = memory.seek;
  const auto expected = Play<SN::CSnPcmSource>(memory, 512);
  EXPECT_EQ(expected[0].size(), (1200u - 700u) * 2u);
  ExpectSamePlanes(Play<SN::CSnPcmStreamSource>(streamed, 512), expected);

  FakeInstance whole(media);
  whole.loopCount = 2;
  FakeInstance prefetched = PrefetchedInstance(5, media, 700);
  prefetched.loopCount = 2;
  ExpectSamePlanes(Play<SN::CSnPcmStreamSource>(prefetched, 512), Play<SN::CSnPcmSource>(whole, 512));
}

// A prefetched stream of resampled media reads its first bytes from a copy that moves mid-play: the
// source and the stage's held input read on from the new place (the old bytes overwritten), equal to
// the media played from memory.
TEST_F(StreamedSourceTest, APrefetchedStreamFollowsItsPrefetchWhenItMoves) {
  const std::vector<uint8_t> media = Tools::WriteToneMedia(MonoRamp(3000, 44100));
  WriteLoose(6, media);
  FakeInstance whole(media);
  FakeInstance prefetched = PrefetchedInstance(6, media, 4000);
  std::vector<uint8_t> moved;
  const auto got = Play<SN::CSnPcmStreamSource>(
      prefetched, 256, nullptr, [&](int frame, SN::CSnVoiceSource& source, SN::CSnVoiceSourceStage& stage) {
        if (frame != 1) return;
        moved = prefetched.prefetch;
        source.RelocateMedia(moved.data(), prefetched.prefetch.data());
        stage.RelocateInput(moved.data(), prefetched.prefetch.data(), uint32_t(moved.size()));
        std::fill(prefetched.prefetch.begin(), prefetched.prefetch.end(), uint8_t(0x5A));
      });
  ASSERT_FALSE(moved.empty());
  ExpectSamePlanes(got, Play<SN::CSnPcmSource>(whole, 256));
}

// A play in which the frames of `culled` (counted as an uninterrupted play counts them) go by virtual, as
// an inaudible voice's do: the stage keeps its place (mode 2) and skips the frame in the source.
template <class Source>
std::vector<std::vector<float>> PlayCulled(FakeInstance& instance, uint16_t frames, const std::set<int>& culled) {
  int next = 1;
  return Play<Source>(instance, frames, nullptr, [&](int, SN::CSnVoiceSource&, SN::CSnVoiceSourceStage& stage) {
    if (culled.count(next)) {
      stage.VirtualOn(2);
      for (; culled.count(next); ++next) {
        uint32_t skipped = frames;
        EXPECT_EQ(stage.SkipWhileVirtual(skipped), SN::SN_DataReady);
        EXPECT_EQ(skipped, frames);
      }
      stage.VirtualOff(2);
    }
    ++next;
  });
}

// The uninterrupted planes without the culled frames.
std::vector<std::vector<float>> WithoutFrames(std::vector<std::vector<float>> planes, uint16_t frames,
                                              const std::set<int>& culled) {
  for (auto& plane : planes)
    for (auto frame = culled.rbegin(); frame != culled.rend(); ++frame)
      plane.erase(plane.begin() + std::ptrdiff_t(*frame) * frames, plane.begin() + std::ptrdiff_t(*frame + 1) * frames);
  return planes;
}

// Culled a frame at a time (across loop wraps, and by 1000 frames: into the middle of a block), a
// looping voice comes back on the sample an uninterrupted play reaches, from memory and streamed, ADPCM
// and PCM alike.
TEST_F(StreamedSourceTest, ACulledLoopComesBackOnTheSampleItWouldHaveReached) {
  Tools::ToneDesc tone = LoopedBlocks();
  tone.signal = Tools::ToneSignal::Noise;
  const std::set<int> culled = {1, 3, 4, 7};
  for (const bool adpcm : {true, false}) {
    tone.encoding = adpcm ? Tools::MediaEncoding::ImaAdpcm : Tools::MediaEncoding::Pcm16;
    const uint32_t codec = adpcm ? 0x20000 : 0x10000;
    const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
    WriteLoose(adpcm ? 98 : 97, media);
    for (const uint16_t frames : {uint16_t(1024), uint16_t(1000)}) {
      SCOPED_TRACE(std::string(adpcm ? "ADPCM" : "PCM") + " by " + std::to_string(frames));
      FakeInstance whole(media, codec);
      whole.loopCount = 5;
      const auto expected = adpcm ? Play<SN::CSnAdpcmSource>(whole, frames) : Play<SN::CSnPcmSource>(whole, frames);
      ASSERT_EQ(expected[0].size(), 3200u + 4u * 1280u);
      const auto model = WithoutFrames(expected, frames, culled);
      FakeInstance memory(media, codec);
      memory.loopCount = 5;
      ExpectSamePlanes(adpcm ? PlayCulled<SN::CSnAdpcmSource>(memory, frames, culled)
                             : PlayCulled<SN::CSnPcmSource>(memory, frames, culled),
                       model);
      FakeInstance streamed = StreamedInstance(adpcm ? 98 : 97, codec);
      streamed.loopCount = 5;
      ExpectSamePlanes(adpcm ? PlayCulled<SN::CSnAdpcmStreamSource>(streamed, frames, culled)
                             : PlayCulled<SN::CSnPcmStreamSource>(streamed, frames, culled),
                       model);
    }
  }
}

// Culled every other frame, a long looping stream is stopped and moved each time and comes back while
// the device thread is still refilling it: the voice waits for its data and plays on to its end, never
// ending early.
TEST_F(StreamedSourceTest, AStreamCulledOverAndOverWaitsForItsRefillsAndPlaysToItsEnd) {
  Tools::ToneDesc tone = LoopedBlocks();
  tone.signal = Tools::ToneSignal::Noise;
  constexpr uint16_t kFrames = 250;
  std::set<int> culled;
  for (int frame = 1; frame < 310; frame += 2) culled.insert(frame);
  for (const bool adpcm : {true, false}) {
    SCOPED_TRACE(adpcm ? "ADPCM" : "PCM");
    tone.encoding = adpcm ? Tools::MediaEncoding::ImaAdpcm : Tools::MediaEncoding::Pcm16;
    const uint32_t codec = adpcm ? 0x20000 : 0x10000;
    const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
    WriteLoose(96, media);
    FakeInstance whole(media, codec);
    whole.loopCount = 60;
    const auto expected = adpcm ? Play<SN::CSnAdpcmSource>(whole, kFrames) : Play<SN::CSnPcmSource>(whole, kFrames);
    ASSERT_EQ(expected[0].size(), 3200u + 59u * 1280u);
    FakeInstance streamed = StreamedInstance(96, codec);
    streamed.loopCount = 60;
    ExpectSamePlanes(adpcm ? PlayCulled<SN::CSnAdpcmStreamSource>(streamed, kFrames, culled)
                           : PlayCulled<SN::CSnPcmStreamSource>(streamed, kFrames, culled),
                     WithoutFrames(expected, kFrames, culled));
  }
}

TEST_F(StreamedSourceTest, AMissingFileFailsTheSource) {
  FakeInstance missing = StreamedInstance(4242, 0x10000);
  SN::SNRESULT prepared = SN::SN_Success;
  Play<SN::CSnPcmStreamSource>(missing, 512, &prepared);
  EXPECT_EQ(prepared, SN::SN_Failure);
  FakeInstance nameless({}, 0x10000, SN::CSnSourceDesc::Storage_Streamed);
  SN::CSnPcmStreamSource source(&nameless);
  EXPECT_EQ(source.PrepareSource(), SN::SN_Failure);
}

}  // namespace
