// Test helpers for hearing the game's sound system: the clock the null output follows, moved a frame
// at a time by the tests, a frame rendered by the audio thread once what was posted has been taken,
// and the output capture read back as its left plane.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Clock.h"
#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "tests/Support/CaptureModel.h"
#include "tests/Support/WaitFor.h"

namespace AudioTest {

constexpr uint32_t kCaptureFrame = 1024;

inline std::atomic<int64_t>& CaptureTicks() {
  static std::atomic<int64_t> ticks{1000};
  return ticks;
}
inline int64_t CaptureNow() { return CaptureTicks().load(); }

// Runs `render` (which asks the sound engine to render) until `done` holds under the global audio
// lock, where the audio thread applies what was posted; a failure names `what` once the wait's limit
// has passed.
template <typename Render, typename Done, typename What>
bool RenderedWhen(Render render, Done done, const What& what) {
  return OrvTest::WaitUntil(
      [&] {
        render();
        Platform::ReentrantGuard guard(SN::GlobalAudioLock());
        return done();
      },
      what);
}

// One frame of the clock: what was posted is handed over, the clock moves one frame and the audio
// thread renders it.
template <typename Render>
bool RenderOneFrame(Render render) {
  uint32_t before = 0;
  if (!RenderedWhen(render, [&] { return before = SN::g_pAudioMgr->CurrentFrame(), true; }, "the audio lock"))
    return false;
  CaptureTicks() += (int64_t(kCaptureFrame) * Platform::kTicksPerSecond + 47999) / 48000;
  return RenderedWhen(render, [&] { return SN::g_pAudioMgr->CurrentFrame() > before; }, [&] {
    return "frame " + std::to_string(before + 1) + " to be rendered (clock at " + std::to_string(CaptureNow()) +
           " ticks, CurrentFrame() " + std::to_string(SN::g_pAudioMgr->CurrentFrame()) + ")";
  });
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
