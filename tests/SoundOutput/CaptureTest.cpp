// Output capture through rendered frames: the file's bytes against one built by hand (header, data,
// joined marker labels, pad byte, patched sizes), a mix of another layout than the device's, one
// file per device with decimal numbers in the names, a file read back by its own chunk walk, and
// broken frames captured held to full scale.
#include "OutputTestSupport.h"
#include "tests/SoundOutput/BrokenFrames.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;
using OutputTest::ReadFileBytes;
using OutputTest::Tone;

class CaptureTest : public OutputFixture {};

using OutputTest::StereoTone;
float CentreTone(uint32_t, uint32_t t) { return t % 2 ? -1.5f : 0.75f; }

// Little-endian bytes put together by hand.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& Tag(const char* tag) {
    data.insert(data.end(), tag, tag + 4);
    return *this;
  }
  Bytes& U32(uint32_t value) {
    for (int i = 0; i < 4; ++i) data.push_back(uint8_t(value >> (8 * i)));
    return *this;
  }
  Bytes& U16(uint16_t value) {
    data.push_back(uint8_t(value));
    data.push_back(uint8_t(value >> 8));
    return *this;
  }
  Bytes& Text(const char* text, size_t bytes) {
    data.insert(data.end(), text, text + bytes);
    return *this;
  }
};

// A RIFF WAVE reader of its own: the chunks by id, in file order.
struct WavChunks {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
  uint32_t riffSize = 0;
  bool valid = false;
  explicit WavChunks(const std::vector<uint8_t>& file) {
    auto u32 = [&](size_t at) {
      return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
             uint32_t(file[at + 3]) << 24;
    };
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) || std::memcmp(file.data() + 8, "WAVE", 4)) return;
    riffSize = u32(4);
    size_t at = 12;
    while (at + 8 <= file.size()) {
      const uint32_t size = u32(at + 4);
      if (at + 8 + size > file.size()) return;
      chunks.emplace_back(std::string(reinterpret_cast<const char*>(&file[at]), 4),
                          std::vector<uint8_t>(file.begin() + long(at + 8), file.begin() + long(at + 8 + size)));
      at += 8 + size + (size & 1);
    }
    valid = at == file.size();
  }
  const std::vector<uint8_t>* Find(const std::string& id) const {
    for (const auto& chunk : chunks)
      if (chunk.first == id) return &chunk.second;
    return nullptr;
  }
};

int16_t Sample(const std::vector<uint8_t>& data, size_t index) {
  return int16_t(uint16_t(data[2 * index]) | uint16_t(data[2 * index + 1]) << 8);
}

TEST_F(CaptureTest, ThreeFramesAndJoinedMarkersGiveTheFileByteForByte) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"out.wav"), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker("start"), SN_Success);
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker("mid"), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker("end!!"), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();  // not captured: the stop comes first

  // 0.5 x 32767 = 16383.5 rounds to the even 16384; -0.25 x 32767 = -8191.75 to -8192.
  // Markers: "startmid" (9 bytes, one pad) at frame 1024 and "end!!" (6 bytes) at 2048.
  const uint32_t dataBytes = 3 * 1024 * 4;
  const uint32_t markerBytes = 12 + 2 * 24 + 12 + (12 + 9 + 1) + (12 + 6);
  Bytes golden;
  golden.Tag("RIFF").U32(38 + dataBytes + markerBytes).Tag("WAVE");
  golden.Tag("fmt ").U32(18).U16(1).U16(2).U32(48000).U32(192000).U16(4).U16(16).U16(0);
  golden.Tag("data").U32(dataBytes);
  for (uint32_t i = 0; i < 3 * 1024; ++i) golden.U16(uint16_t(16384)).U16(uint16_t(-8192));
  golden.Tag("cue ").U32(4 + 2 * 24).U32(2);
  golden.U32(1).U32(1024).Tag("data").U32(0).U32(0).U32(1024);
  golden.U32(2).U32(2048).Tag("data").U32(0).U32(0).U32(2048);
  golden.Tag("LIST").U32(4 + (12 + 9 + 1) + (12 + 6)).Tag("adtl");
  golden.Tag("labl").U32(4 + 9).U32(1).Text("startmid", 9).Text("", 1);
  golden.Tag("labl").U32(4 + 6).U32(2).Text("end!!", 6);
  const std::vector<uint8_t> file = ReadFileBytes(Path("out.wav"));
  ASSERT_EQ(file.size(), golden.data.size());
  EXPECT_TRUE(file == golden.data);

  // The same file walked chunk by chunk: an odd LIST length is padded in the RIFF layout.
  WavChunks wav(file);
  EXPECT_TRUE(wav.valid);
  ASSERT_NE(wav.Find("data"), nullptr);
  EXPECT_EQ(wav.Find("data")->size(), dataBytes);
  ASSERT_NE(wav.Find("cue "), nullptr);
  EXPECT_EQ(wav.Find("cue ")->size(), 52u);
  EXPECT_EQ(wav.riffSize + 8, file.size());
}

TEST_F(CaptureTest, AMixOfAnotherLayoutIsCapturedSpeakerBySpeakerAsThePlatformPlaysIt) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"centre.wav"), SN_Success);
  // A centre-only mix on a stereo device: the centre folds into both sides at 0.707.
  Tone().Set(StandardConfig(kSpeakerCenter), 1024, &CentreTone);
  Render();
  // A 7.1 mix (planes FL FR FC BL BR SL SR LFE) on the same device: centre, back and side speakers
  // fold into their sides, the LFE is dropped.
  Tone().Set(StandardConfig(kMask71), 1024, &StereoTone);
  Render();
  // A mix wider than a frame is not played, and the capture keeps a silent frame in its place.
  Tone().Set(AnonymousConfig(10), 1024, &StereoTone);
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  WavChunks wav(ReadFileBytes(Path("centre.wav")));
  ASSERT_TRUE(wav.valid);
  const std::vector<uint8_t>* data = wav.Find("data");
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->size(), 3u * 1024 * 4);
  // 0.707 x 0.75 x 32767 = 17374.7; 0.707 x -1.5 is limited to -1, that is -32767.
  EXPECT_EQ(Sample(*data, 0), 17375);
  EXPECT_EQ(Sample(*data, 1), 17375);
  EXPECT_EQ(Sample(*data, 2), -32767);
  EXPECT_EQ(Sample(*data, 3), -32767);
  // Left 0.5 + 0.707 x 3 x -0.25 = -0.03025 (-991.2); right -0.25 + 0.707 x 3 x -0.25 = -0.78025
  // (-25566.4).
  EXPECT_EQ(Sample(*data, 2 * 1024), -991);
  EXPECT_EQ(Sample(*data, 2 * 1024 + 1), -25566);
  EXPECT_EQ(Sample(*data, 2 * 2047 + 1), -25566);
  for (size_t i = 2 * 2048; i < 2 * 3072; ++i) ASSERT_EQ(Sample(*data, i), 0) << i;
}

TEST_F(CaptureTest, EveryDeviceCapturesUnderItsOwnNumber) {
  InitWithMemorySink();
  for (uint32_t id = 1; id <= 10; ++id) ASSERT_EQ(SoundEngine::AddSecondaryOutput(id, 8, 0), SN_Success);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"mix.wav"), SN_Success);
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  const std::vector<uint8_t> main = ReadFileBytes(Path("mix.wav"));
  ASSERT_EQ(main.size(), 46u + 4096);
  EXPECT_EQ(Sample(std::vector<uint8_t>(main.begin() + 46, main.end()), 0), 16384);
  // The secondary devices had nothing passed: a frame of silence each.
  for (int n = 1; n <= 10; ++n) {
    const std::vector<uint8_t> file = ReadFileBytes(Path("mix" + std::to_string(n) + ".wav"));
    ASSERT_EQ(file.size(), 46u + 4096) << n;
    EXPECT_TRUE(std::all_of(file.begin() + 46, file.end(), [](uint8_t b) { return b == 0; })) << n;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("mix:.wav")));

  // Without a dot the number goes in front; a device added while capturing joins in.
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"take"), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::AddSecondaryOutput(11, 8, 0), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  EXPECT_EQ(ReadFileBytes(Path("take")).size(), 46u + 2 * 4096);
  EXPECT_EQ(ReadFileBytes(Path("1take")).size(), 46u + 2 * 4096);
  EXPECT_EQ(ReadFileBytes(Path("11take")).size(), 46u + 4096);
}

TEST_F(CaptureTest, MarkersLongerThan255CharactersAreCutAndSaidOnce) {
  InitWithMemorySink();
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"long.wav"), SN_Success);
  Render();
  log_.Take();
  const std::string longText(300, 'x');
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker(longText.c_str()), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker((std::string(255, 'y') + "z").c_str()), SN_Success);
  ASSERT_EQ(SoundEngine::AddOutputCaptureMarker(std::string(255, 'w').c_str()), SN_Success);
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  const std::string said = log_.Take();
  const size_t first = said.find("markers are cut to 255 characters");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(said.find("markers are cut to 255 characters", first + 1), std::string::npos);
  WavChunks wav(ReadFileBytes(Path("long.wav")));
  ASSERT_TRUE(wav.valid);
  const std::vector<uint8_t>* list = wav.Find("LIST");
  ASSERT_NE(list, nullptr);
  // "adtl", then a label of 255 x's at frame 1024 and one of 255 y's and 255 w's joined at 2048.
  const std::string labels(list->begin(), list->end());
  EXPECT_NE(labels.find(std::string(255, 'x') + std::string(1, '\0')), std::string::npos);
  EXPECT_EQ(labels.find(std::string(256, 'x')), std::string::npos);
  EXPECT_NE(labels.find(std::string(255, 'y') + std::string(255, 'w')), std::string::npos);
  EXPECT_EQ(labels.find('z'), std::string::npos);
}

TEST_F(CaptureTest, TermClosesARunningCaptureWithItsSizes) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMaskStereo), 1024, &StereoTone);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"open.wav"), SN_Success);
  Render(2);
  SoundEngine::Term();
  WavChunks wav(ReadFileBytes(Path("open.wav")));
  ASSERT_TRUE(wav.valid);
  EXPECT_EQ(wav.riffSize, 38u + 2 * 4096);
  ASSERT_NE(wav.Find("data"), nullptr);
  EXPECT_EQ(wav.Find("data")->size(), 2u * 4096);
}

TEST_F(CaptureTest, TheCaptureOfAStereoOutputAndOfAFiveOneMixIntoItHoldsNaNAsSilence) {
  InitWithMemorySink();
  Tone().Set(StandardConfig(kMaskStereo), BrokenFrames::kFrame, &BrokenFrames::Broken);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"broken.wav"), SN_Success);
  Render();
  // Five-one into the stereo capture: a NaN centre folds into both fronts, which are silent.
  Tone().Set(StandardConfig(kMask51), BrokenFrames::kFrame,
             [](uint32_t c, uint32_t) { return c == 2 ? BrokenFrames::kNaN : 0.25f; });
  Render();
  ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
  Render();
  const std::vector<int16_t> samples = OutputTest::DataSamples(OutputTest::ReadFileBytes(Path("broken.wav")));
  ASSERT_EQ(samples.size(), size_t(2) * BrokenFrames::kFrame * 2);
  BrokenFrames::ExpectPlayedStereo16(samples, BrokenFrames::kFrame);
  EXPECT_TRUE(std::all_of(samples.begin() + BrokenFrames::kFrame * 2, samples.end(), [](int16_t s) { return s == 0; }));
}


}  // namespace
