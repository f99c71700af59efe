// The platform sink over a real SDL device, headless: SDL's disk driver writes what it plays to a
// file. The file holds a silent lead-in (the ring, and whatever SDL wrote before the device started),
// then the capture sample for sample, then silence
// once the engine stops writing; a device that cannot open is retried quietly, also on the audio
// thread, which gives back SDL's per-thread state when it ends; opening the device is no arrival.
#include "OutputTestSupport.h"

#include <SDL2/SDL.h>

#include <memory>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "Platform/Window.h"
#include "SoundEngine/Lower/Output/Platform/LoopBufferSink.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using OutputTest::ManualClock;
using OutputTest::OutputFixture;
using OutputTest::ReadFileBytes;

// SDL's disk driver, writing to `file`, for the helper's lifetime; the variables are put back.
class DiskDriver {
 public:
  explicit DiskDriver(const std::string& file) {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.emplace_back(value != nullptr, value ? value : "");
    }
    setenv("SDL_AUDIODRIVER", "disk", 1);
    SetFile(file);
    unsetenv("SDL_DISKAUDIODELAY");  // SDL's own: one buffer's duration, as a sound card plays
  }
  ~DiskDriver() {
    for (size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i].first)
        setenv(kNames[i], saved_[i].second.c_str(), 1);
      else
        unsetenv(kNames[i]);
    }
  }
  static void SetFile(const std::string& file) { setenv("SDL_DISKAUDIOFILE", file.c_str(), 1); }

 private:
  static constexpr const char* kNames[3] = {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE", "SDL_DISKAUDIODELAY"};
  std::vector<std::pair<bool, std::string>> saved_;
};

// A frame that differs from every other: a slow ramp across the whole take, the right side negated.
std::atomic<uint32_t>& FramesPassed() {
  static std::atomic<uint32_t> frames{0};
  return frames;
}
void PassRampToMainDevice(bool lastCall) {
  CSnOutputDevice* main = LowerEngine::MainDevice();
  if (lastCall || !main) return;
  static std::vector<float> planes(2 * 1024);
  const uint32_t frame = FramesPassed()++;
  for (uint32_t t = 0; t < 1024; ++t) {
    planes[t] = float(frame * 1024 + t) / 65536.0f - 0.25f;
    planes[1024 + t] = -planes[t];
  }
  SnMixBuffer mix{};
  mix.samples = planes.data();
  mix.channelConfig = StandardConfig(kMaskStereo);
  mix.maxFrames = mix.validFrames = 1024;
  mix.previousGain = mix.nextGain = 1.0f;
  main->PassData(mix);
}

class DiskDriverTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    FramesPassed() = 0;
    // The looping buffer's path: its 16-bit frames are what the driver's file holds.
    settings_.mainOutputKind = SnSinkKind_LoopBuffer;
    rememberedKinds_ = SinkFactory::RememberedKinds();
    SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
  }
  void TearDown() override {
    SoundEngine::RemoveBehavioralExtension(&PassRampToMainDevice);
    if (leftMissing_) OpenTheDeviceOnce();
    SinkFactory::SetRememberedKinds(rememberedKinds_);
    OutputFixture::TearDown();
  }
  // A device that could not open is said once until one opens: a test that ends with the device
  // missing opens it once more, so that the next test's failure is said again.
  void OpenTheDeviceOnce() {
    SoundEngine::Term();
    DiskDriver disk(Path("opened.raw"));
    SnInitSettings settings = settings_;
    settings.useAudioThread = 0;
    EXPECT_EQ(SoundEngine::Init(&settings, &platform_), SN_Success);
    EXPECT_NE(MainSink(), nullptr);
    SoundEngine::Term();
  }
  static CSnLoopBufferSink* MainSink() {
    CSnOutputDevice* main = LowerEngine::MainDevice();
    return main ? dynamic_cast<CSnLoopBufferSink*>(main->Sink()) : nullptr;
  }
  uint32_t rememberedKinds_ = SnSinkKind_Silent;
  bool leftMissing_ = false;
  static bool AllZero(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    return std::all_of(bytes.begin() + long(from), bytes.begin() + long(to), [](uint8_t b) { return b == 0; });
  }
};

TEST_F(DiskDriverTest, TheFileHoldsTheRingsLeadInThenTheCaptureThenSilence) {
  DiskDriver disk(Path("played.raw"));
  // A ring of 48 frames: a second of play before a slow pass could starve it.
  platform_.sinkBufferCount = 48;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  CSnLoopBufferSink* sink = MainSink();
  ASSERT_NE(sink, nullptr);
  ASSERT_FALSE(sink->Output()->IsNullDevice());
  const uint32_t ring = sink->RingBytes();
  ASSERT_EQ(ring, 48u * 4096);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&PassRampToMainDevice), SN_Success);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"capture.wav"), SN_Success);
  // Frames are rendered as the device plays them, until more than a ring of them is written: the
  // whole ring then holds frames that were played, none of which may be heard again.
  SNRESULT rendered = SN_Success;
  ASSERT_TRUE(OrvTest::WaitUntil(
      [&] {
        if (g_pAudioMgr->CurrentFrame() >= 56) return true;
        rendered = SoundEngine::RenderAudio();
        return rendered != SN_Success;
      },
      [&] { return "frame 56 played (CurrentFrame() " + std::to_string(g_pAudioMgr->CurrentFrame()) + ")"; }));
  ASSERT_EQ(rendered, SN_Success);
  EXPECT_EQ(LowerEngine::LastStarvationFrame(), 0xFFFFFFFFu);
  const uint64_t written = uint64_t(ring) + uint64_t(g_pAudioMgr->CurrentFrame()) * 4096;
  // Then nothing more: the device plays eight frames past the last one written.
  OrvTest::WaitUntil([&] { return sink->Output()->PlayedBytes() >= written + 8 * 4096; }, [&] {
    return std::to_string(written + 8 * 4096) + " bytes played (" + std::to_string(sink->Output()->PlayedBytes()) + ")";
  });
  SoundEngine::Term();

  const std::vector<uint8_t> capture = ReadFileBytes(Path("capture.wav"));
  ASSERT_GT(capture.size(), 46u);
  const std::vector<uint8_t> data(capture.begin() + 46, capture.end());
  ASSERT_EQ(data.size(), written - ring);
  const std::vector<uint8_t> played = ReadFileBytes(Path("played.raw"));
  // SDL writes silence of its own while the device is opened and not yet started: the lead-in is
  // the ring at least, in whole frames. The ramp's first sample is not 0.
  size_t lead = 0;
  while (lead < played.size() && played[lead] == 0) ++lead;
  lead -= lead % 4;
  EXPECT_GE(lead, ring);
  ASSERT_GE(played.size(), lead + data.size() + 8 * 4096);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), played.begin() + long(lead)));
  EXPECT_TRUE(AllZero(played, lead + data.size(), played.size()));
  // The capture is the ramp itself: frame 3, sample 5 of the left side.
  const int16_t left = int16_t(data[(3 * 1024 + 5) * 4] | data[(3 * 1024 + 5) * 4 + 1] << 8);
  EXPECT_EQ(left, int16_t(lrintf((float(3 * 1024 + 5) / 65536.0f - 0.25f) * 32767.0f)));
}

TEST_F(DiskDriverTest, ADeviceThatCannotOpenIsSaidOnceUntilItOpens) {
  DiskDriver disk(root_ + "/missing/played.raw");
  leftMissing_ = true;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(LowerEngine::MainDevice()->Sink()->Kind(), uint32_t(SnSinkKind_Silent));
  // 70 frames by the clock: new sinks are tried on frames 0 to 3, 32 to 35 and 64 to 67.
  for (int pass = 0; pass < 70; ++pass) {
    ManualClock::AdvanceTicks(213334);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  std::string said = log_.Take();
  const std::string line = "The platform sound output could not be opened";
  size_t first = said.find(line);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(said.find(line, first + 1), std::string::npos);
  // After SDL's reason, the file and the variable that named it.
  EXPECT_NE(said.find("(SDL_DISKAUDIOFILE names " + root_ + "/missing/played.raw, which cannot be written)", first),
            std::string::npos)
      << said;
  // The device comes: it is played again on an allowed frame.
  DiskDriver::SetFile(Path("played.raw"));
  for (int pass = 0; pass < 40 && LowerEngine::IsSuspendedModeActive(); ++pass) {
    ManualClock::AdvanceTicks(213334);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  EXPECT_FALSE(LowerEngine::IsSuspendedModeActive());
  ASSERT_NE(MainSink(), nullptr);
  SoundEngine::Term();
  // Gone again after it opened: said again, once.
  DiskDriver::SetFile(root_ + "/missing/played.raw");
  log_.Take();
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  for (int pass = 0; pass < 40; ++pass) {
    ManualClock::AdvanceTicks(213334);
    ASSERT_EQ(SoundEngine::RenderAudio(), SN_Success);
  }
  said = log_.Take();
  first = said.find(line);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(said.find(line, first + 1), std::string::npos);
}

// The audio thread retries the device at its first pass while Init, on this thread, finishes: no
// race on the engine's state, and no per-thread state of SDL's left behind when the thread ends.
TEST_F(DiskDriverTest, ADeviceThatFailsAtStartIsRetriedOnTheAudioThread) {
  DiskDriver disk(root_ + "/missing/played.raw");
  leftMissing_ = true;
  settings_.useAudioThread = 1;
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  OrvTest::WaitUntil([] { return LowerEngine::IsSuspendedModeActive(); }, "the suspended mode");
  SoundEngine::Term();
  EXPECT_EQ(LowerEngine::MainOutputDevice(), nullptr);
}

// SDL tells of every device it finds when its audio starts, in the event that a device plugged in
// raises. Opening, closing and asking after the output (each starts SDL's audio afresh) is no
// arrival to the window's pump, which once made the game drop and reopen its device without end;
// a device plugged in while the output plays is still heard.
int& Arrivals() {
  static int arrivals = 0;
  return arrivals;
}
void CountArrival() { ++Arrivals(); }

TEST_F(DiskDriverTest, StartingTheDriverIsNoArrivalButAPluggedDeviceIs) {
  DiskDriver disk(Path("played.raw"));
  std::string error;
  std::unique_ptr<Platform::Window> window(
      Platform::Window::Create("disk", 32, 16, Platform::Window::Hidden | Platform::Window::MessagesOnly, &error));
  ASSERT_NE(window, nullptr) << error;
  auto pump = [&] {
    Platform::WindowEvent event;
    while (window->PollEvent(event)) {
    }
  };
  pump();
  Arrivals() = 0;
  Platform::SetAudioDeviceArrivalHandler(&CountArrival);
  struct Unhook {
    ~Unhook() { Platform::SetAudioDeviceArrivalHandler(nullptr); }
  } unhook;
  for (int open = 0; open < 2; ++open) {
    EXPECT_EQ(Platform::DefaultAudioOutputChannels(), 2u);
    EXPECT_EQ(Platform::AudioPlaybackDeviceNames().size(), 1u);
    Platform::AudioOutput* output = Platform::OpenAudioOutput(48000, 2, 1024, 8 * 4096);
    ASSERT_NE(output, nullptr);
    EXPECT_FALSE(output->IsNullDevice());
    EXPECT_TRUE(output->Start());
    pump();
    EXPECT_EQ(Arrivals(), 0) << "open " << open;
    if (open == 1) {
      SDL_Event plugged{};
      plugged.type = SDL_AUDIODEVICEADDED;
      plugged.adevice.which = 1;
      EXPECT_EQ(SDL_PushEvent(&plugged), 1);
      pump();
      EXPECT_EQ(Arrivals(), 1);
    }
    Platform::CloseAudioOutput(output);
  }
  pump();
  EXPECT_EQ(Arrivals(), 1);
}

}  // namespace
