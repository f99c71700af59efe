// Test helpers for hearing the game's sound system: the clock the null output follows, moved a frame
// at a time by the tests, a frame rendered by the audio thread once what was posted has been taken,
// and the output capture read back as its left plane.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Clock.h"
#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "tests/Support/CaptureModel.h"

namespace AudioTest {

constexpr uint32_t kCaptureFrame = 1024;

inline std::atomic<int64_t>& CaptureTicks() {
  static std::atomic<int64_t> ticks{1000};
  return ticks;
}
inline int64_t CaptureNow() { return CaptureTicks().load(); }

// Runs `render` (which asks the sound engine to render) until `done` holds under the global audio
// lock, where the audio thread applies what was posted.
template <typename Render, typename Done>
void RenderedWhen(Render render, Done done) {
  for (;;) {
    render();
    {
      Platform::ReentrantGuard guard(SN::GlobalAudioLock());
      if (done()) return;
    }
    std::this_thread::yield();
  }
}

// One frame of the clock: what was posted is handed over, the clock moves one frame and the audio
// thread renders it.
template <typename Render>
void RenderOneFrame(Render render) {
  uint32_t before = 0;
  RenderedWhen(render, [&] { return before = SN::g_pAudioMgr->CurrentFrame(), true; });
  CaptureTicks() += (int64_t(kCaptureFrame) * Platform::kTicksPerSecond + 47999) / 48000;
  RenderedWhen(render, [&] { return SN::g_pAudioMgr->CurrentFrame() > before; });
}

// The left plane of a capture file (the game's voices are centred: the right is the same).
inline std::vector<double> CapturedLeft(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<int16_t> samples = OrvTest::WaveDataSamples(
      std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  std::vector<double> left;
  for (size_t i = 0; i + 1 < samples.size(); i += 2) {
    EXPECT_EQ(samples[i], samples[i + 1]) << "sample " << i / 2;
    left.push_back(samples[i]);
  }
  return left;
}

}  // namespace AudioTest
