// Output devices named by the platform: ids found by part of a playback device's name, and a
// playback device's arrival, pumped by a window, rebuilding the main output.
#include "OutputTestSupport.h"

#include <SDL2/SDL.h>

#include <memory>

#include "Platform/AudioDevices.h"
#include "Platform/Window.h"
#include "SoundEngine/Lower/Output/Platform/AudioEndpoints.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;
using OutputTest::SinkLog;

class AudioEndpointsTest : public OutputFixture {
 protected:
  void TearDown() override {
    window_.reset();
    Platform::SetAudioPlaybackDeviceNamesForTests({});
    OutputFixture::TearDown();
  }
  void OpenWindow() {
    std::string error;
    window_.reset(Platform::Window::Create("endpoints", 32, 16, Platform::Window::Hidden | Platform::Window::MessagesOnly, &error));
    ASSERT_NE(window_, nullptr) << error;
    Pump();
  }
  // What the game's loop does between frames.
  void Pump() {
    Platform::WindowEvent event;
    while (window_->PollEvent(event)) {
    }
  }
  static void PushDeviceAdded(bool capture) {
    SDL_Event event{};
    event.type = SDL_AUDIODEVICEADDED;
    event.adevice.which = 0;
    event.adevice.iscapture = capture ? 1 : 0;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
  }
  // Passes until the memory sink was made `made` times; the passes it took, or -1 past `most`.
  int RenderUntilMade(int made, int most) {
    for (int pass = 1; pass <= most; ++pass) {
      // A device without its sink renders by the clock meanwhile.
      OutputTest::ManualClock::AdvanceMs(22);
      Render();
      if (SinkLog().made >= made) return pass;
    }
    return -1;
  }
  std::unique_ptr<Platform::Window> window_;
};

TEST_F(AudioEndpointsTest, IdsComeFromTheFirstNameHoldingTheWord) {
  // The dummy driver has no device of its own: nothing is found in its place.
  EXPECT_TRUE(Platform::AudioPlaybackDeviceNames().empty());
  EXPECT_EQ(GetDeviceIDFromName(u"dummy"), kNoDeviceId);

  Platform::SetAudioPlaybackDeviceNamesForTests(
      {"Built-in Audio Analog Stereo", "USB Headset Digital Stereo", "HDMI Audio Output"});
  EXPECT_EQ(GetDeviceIDFromName(u"USB"), SoundEngine::GetIDFromString("USB Headset Digital Stereo"));
  // Two names hold "Stereo": the platform's order decides.
  EXPECT_EQ(GetDeviceIDFromName(u"Stereo"), SoundEngine::GetIDFromString("Built-in Audio Analog Stereo"));
  EXPECT_EQ(GetDeviceIDFromName(u"HDMI Audio Output"), DeviceIdOfName("HDMI Audio Output"));
  // Case counts in the match, as the platform's names are compared as they stand.
  EXPECT_EQ(GetDeviceIDFromName(u"usb"), kNoDeviceId);
  EXPECT_EQ(GetDeviceIDFromName(u"Bluetooth"), kNoDeviceId);
  EXPECT_EQ(GetDeviceIDFromName(nullptr), kNoDeviceId);
  EXPECT_EQ(GetDeviceIDFromName(u""), kNoDeviceId);
  EXPECT_EQ(Platform::DefaultAudioPlaybackDeviceName(), "Built-in Audio Analog Stereo");

  Platform::SetAudioPlaybackDeviceNamesForTests({"Casque \xC3\xA9tude"});
  EXPECT_EQ(GetDeviceIDFromName(u"\u00e9tude"), DeviceIdOfName("Casque \xC3\xA9tude"));
  EXPECT_EQ(GetDirectSoundInstance(), nullptr);
  EXPECT_EQ(GetEngineXAudio2Interface(), nullptr);
}

TEST_F(AudioEndpointsTest, APlaybackArrivalRebuildsTheMainOutputAndACaptureArrivalNothing) {
  InitWithMemorySink();
  OpenWindow();
  ASSERT_EQ(SinkLog().made, 1);
  // A capture device arrives: over more than a whole cycle of recreation frames nothing is made.
  PushDeviceAdded(true);
  Pump();
  EXPECT_EQ(RenderUntilMade(2, 40), -1);
  EXPECT_EQ(SinkLog().terms, 0);

  PushDeviceAdded(false);
  Pump();
  // The first check after the notice drops the sink's claim; it is made again on a recreation frame.
  const int passes = RenderUntilMade(2, 40);
  ASSERT_GT(passes, 0);
  EXPECT_LE(passes, 32);
  EXPECT_EQ(SinkLog().terms, 1);
  EXPECT_EQ(SinkLog().plays, 2);  // the first sink at start, the new one at once
  // One notice, one rebuild.
  EXPECT_EQ(RenderUntilMade(3, 40), -1);
}

TEST_F(AudioEndpointsTest, ArrivalsBeforeInitAndAfterTermRaiseNothing) {
  OpenWindow();
  PushDeviceAdded(false);
  Pump();
  InitWithMemorySink();
  EXPECT_EQ(RenderUntilMade(2, 40), -1);
  SoundEngine::Term();
  PushDeviceAdded(false);
  Pump();
  InitWithMemorySink();
  EXPECT_EQ(RenderUntilMade(3, 40), -1);
  EXPECT_EQ(SinkLog().made, 2);
}

}  // namespace
