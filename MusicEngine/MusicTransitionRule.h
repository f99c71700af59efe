// A transition rule of a music container: from which sources to which destinations, how the source
// leaves, how the destination enters, and an optional segment played between them.
#pragma once

#include <cstdint>

#include "SoundEngine/Containers.h"

namespace SN {

constexpr uint32_t kMusicAnyId = 0xFFFFFFFFu;

struct SnMusicRuleSource {
  static constexpr uint32_t kSyncTypeMask = 0x1F;
  static constexpr uint32_t kPlayPostExit = 0x20;
  int32_t fadeTimeMs = 0;
  uint32_t fadeCurve = 0;
  int32_t fadeOffset = 0;  // samples
  uint32_t cueFilter = 0;  // 0: any cue
  uint32_t flags = 0;
  uint32_t SyncType() const { return flags & kSyncTypeMask; }
};

struct SnMusicRuleDestination {
  static constexpr uint16_t kEntryKindMask = 0x07;
  static constexpr uint16_t kEntryCue = 0;
  static constexpr uint16_t kSameTime = 1;
  static constexpr uint16_t kRandomCue = 2;
  static constexpr uint16_t kRandomCueNotEntry = 3;
  static constexpr uint16_t kPlayPreEntry = 0x08;
  static constexpr uint16_t kMatchSourceCueName = 0x10;
  int32_t fadeTimeMs = 0;
  uint32_t fadeCurve = 0;
  int32_t fadeOffset = 0;  // samples
  uint32_t cueFilter = 0;
  uint32_t jumpToItem = 0;  // 0: none
  uint16_t flags = 0;
};

struct SnMusicFade {
  int32_t timeMs;
  uint32_t curve;
  int32_t offset;  // samples
};

struct SnMusicTransitionSegment {
  static constexpr uint8_t kPlayPreEntry = 0x01;
  static constexpr uint8_t kPlayPostExit = 0x02;
  uint32_t segmentId;
  SnMusicFade fadeIn;
  SnMusicFade fadeOut;
  uint8_t flags;

  // How the transition segment is entered: its own fade-in, at its entry cue.
  SnMusicRuleDestination Entry() const {
    SnMusicRuleDestination entry;
    entry.fadeTimeMs = fadeIn.timeMs;
    entry.fadeCurve = fadeIn.curve;
    entry.fadeOffset = fadeIn.offset;
    entry.flags = (flags & kPlayPreEntry) ? SnMusicRuleDestination::kPlayPreEntry : 0;
    return entry;
  }
};

struct SnMusicTransitionRule {
  SnMusicTransitionRule() = default;
  SnMusicTransitionRule(const SnMusicTransitionRule&) = delete;
  SnMusicTransitionRule& operator=(const SnMusicTransitionRule&) = delete;
  ~SnMusicTransitionRule() { Term(); }
  // Frees the transition segment and both id lists.
  void Term();

  SnArray<uint32_t> sources;       // kMusicAnyId first: any source
  SnArray<uint32_t> destinations;  // kMusicAnyId first: any destination
  SnMusicRuleSource source;
  SnMusicRuleDestination destination;
  SnMusicTransitionSegment* segment = nullptr;  // owned
  uint32_t index = 0;
};

}  // namespace SN
