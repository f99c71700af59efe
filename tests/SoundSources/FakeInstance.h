// A playback instance stand-in for the sources: it holds media and a descriptor, and records the
// format, markers and play positions a source hands it.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Sources/SourceInstance.h"

namespace SourceTest {

class FakeInstance : public SN::ISnSourceInstance {
 public:
  explicit FakeInstance(std::vector<uint8_t> bytes = {}, uint32_t codec = 0x10000, uint32_t storage = 3)
      : media(std::move(bytes)) {
    desc.codecId = codec;
    desc.sourceId = 77;
    desc.flags = storage << SN::CSnSourceDesc::kStorageShift;
    durations.reserve(4);  // a source handed on to in a frame that counts the heap tells its duration there
  }
  const SN::CSnSourceDesc& SourceDesc() const override { return desc; }
  const uint8_t* MediaData() const override { return media.empty() ? nullptr : media.data(); }
  uint32_t MediaSize() const override { return uint32_t(media.size()); }
  const uint8_t* PrefetchData() const override { return prefetch.empty() ? nullptr : prefetch.data(); }
  uint32_t PrefetchSize() const override { return uint32_t(prefetch.size()); }
  uint16_t LoopCount() const override { return loopCount; }
  float PitchCents() const override { return pitch; }
  bool IsMotion() const override { return motion; }
  SN::SnSeekRequest& Seek() override { return seek; }
  void SetMediaFormat(const SN::SnMediaFormat& f) override {
    format = f;
    ++formatsSet;
  }
  bool WantsMarkers() const override { return wantsMarkers; }
  void PostMarker(const SN::SnMediaMarker& marker) override { markers.push_back(marker.id); }
  void PostDuration(float duration, float estimated) override { durations.push_back({duration, estimated}); }
  bool TracksPlayPosition() const override { return tracksPosition; }
  void UpdatePlayPosition(uint32_t position, float, uint32_t) override { positions.push_back(position); }
  bool WaitsForBuffering() const override { return waitForBuffering; }
  void PostBufferingStatus(SN::SNRESULT status, uint32_t) override { buffering.push_back(status); }
  void DetachVoice() override { ++detached; }
  bool HasInitialOffset() const override { return hasInitialOffset; }
  int32_t InitialOffset() const override { return initialOffset; }
  void SetInitialOffset(int32_t samples) override { initialOffset = samples; }
  float RateFactor() const override { return rateFactor; }
  int32_t StopOffset() const override { return stopOffset; }

  SN::CSnSourceDesc desc;
  std::vector<uint8_t> media, prefetch;
  uint16_t loopCount = 1;
  float pitch = 0.0f;
  bool motion = false;
  bool wantsMarkers = true;
  bool tracksPosition = false;
  bool waitForBuffering = false;
  bool hasInitialOffset = false;
  int32_t initialOffset = 0;
  float rateFactor = 1.0f;
  int32_t stopOffset = -1;
  SN::SnSeekRequest seek;
  SN::SnMediaFormat format;
  int formatsSet = 0;
  int detached = 0;
  std::vector<uint32_t> markers, positions;
  std::vector<SN::SNRESULT> buffering;
  std::vector<std::pair<float, float>> durations;
};

}  // namespace SourceTest
