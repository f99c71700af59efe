// The segment-information repository: a function-local static array under its own mutex, stamped
// on the engine's tick clock.
#include "MusicEngine/MusicSegmentInfo.h"

#include <mutex>

#include "Platform/Clock.h"
#include "SoundEngine/Containers.h"

namespace SN {

namespace {
struct Entry {
  uint32_t playingId;
  SnSegmentInfo info;
  int64_t stamp;  // ticks of the last update
};

struct Repository {
  std::mutex lock;
  SnArray<Entry> entries;
  Entry* Find(uint32_t playingId) {
    for (Entry& entry : entries)
      if (entry.playingId == playingId) return &entry;
    return nullptr;
  }
};

Repository& TheRepository() {
  static Repository repository;
  return repository;
}
}  // namespace

namespace SegmentInfoRepository {

SNRESULT CreateEntry(uint32_t playingId) {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  Entry* entry = repository.Find(playingId);
  if (!entry) entry = repository.entries.Add(Entry{playingId, {}, 0}, 4);
  if (!entry) return SN_Failure;
  entry->info = SnSegmentInfo{};
  entry->stamp = Platform::TicksNow();
  return SN_Success;
}

void UpdateEntry(uint32_t playingId, const SnSegmentInfo& info) {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  if (Entry* entry = repository.Find(playingId)) {
    entry->info = info;
    entry->stamp = Platform::TicksNow();
  }
}

void EraseEntry(uint32_t playingId) {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  for (uint32_t i = 0; i < repository.entries.Count(); ++i)
    if (repository.entries[i].playingId == playingId) {
      repository.entries.RemoveAt(i);
      return;
    }
}

SNRESULT Read(uint32_t playingId, SnSegmentInfo& info, bool extrapolate) {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  const Entry* entry = repository.Find(playingId);
  if (!entry) return SN_Failure;
  info = entry->info;
  if (extrapolate && (info.preEntryDuration > 0 || info.activeDuration > 0 || info.postExitDuration > 0)) {
    const int64_t elapsedMs = (Platform::TicksNow() - entry->stamp) / (Platform::kTicksPerSecond / 1000);
    const int64_t position = int64_t(info.currentPosition) + (elapsedMs > 0 ? elapsedMs : 0);
    info.currentPosition = position > INT32_MAX ? INT32_MAX : int32_t(position);
  }
  return SN_Success;
}

void Clear() {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  repository.entries.Term();
}

uint32_t EntryCount() {
  Repository& repository = TheRepository();
  std::lock_guard<std::mutex> guard(repository.lock);
  return repository.entries.Count();
}

}  // namespace SegmentInfoRepository

namespace MusicEngine {
SNRESULT GetPlayingSegmentInfo(uint32_t playingId, SnSegmentInfo& info, bool extrapolate) {
  return SegmentInfoRepository::Read(playingId, info, extrapolate);
}
}  // namespace MusicEngine

}  // namespace SN
