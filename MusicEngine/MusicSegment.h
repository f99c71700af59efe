// The music segment: the unit of musical time. Its markers run from the entry cue to the exit cue,
// and it answers where the next grid point, bar, beat or cue lies, in samples from the entry cue.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicNode.h"

namespace SN {

struct SnMusicRuleDestination;
class CSnMatrixAwareContext;
class CSnMusicContext;
class CSnRegisteredObj;

class CSnMusicSegmentNode : public CSnMusicHierarchyNode {
 public:
  explicit CSnMusicSegmentNode(uint32_t id) : CSnMusicHierarchyNode(id) {}
  ~CSnMusicSegmentNode() override;

  uint32_t NodeCategory() const override { return kMusicCategorySegment; }
  // A play action on the segment: it plays alone, from its pre-entry part, as a play's root.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  // The segment's playing context (a chain of its one segment) under `parent`; null without markers
  // or memory.
  CSnMatrixAwareContext* CreateContext(CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                                       const CSnPlayParams& params) override;

  // The music node block, the duration and the markers: SN_Failure for a field past the end, a
  // time that does not fit a sample count, markers out of order or outside the duration, or fewer
  // than two markers.
  SNRESULT ReadBankData(const uint8_t* data, uint32_t size);

  // ---- timing; positions are samples from the entry cue ----
  // SN_Success with the sync point and its cue id (0 for grid, bar and beat), or SN_Failure.
  SNRESULT FindSyncPoint(int32_t position, uint32_t syncType, uint32_t cueFilter, bool exclusive, uint32_t& cueId,
                         int32_t& syncPosition) const;
  // Where a destination rule enters this segment; `sourceCue` replaces the rule's filter when the
  // rule matches cue names.
  int32_t ResolveDestinationCue(const SnMusicRuleDestination& rule, int32_t position, uint32_t sourceCue,
                                uint32_t& cueId) const;
  int32_t PickRandomCue(int32_t position, uint32_t cueFilter, bool excludeEntryCue, uint32_t& cueId) const;
  int32_t SnapToNearestMarker(int32_t position) const;
  void CountMusicalEvents(int32_t begin, int32_t length, uint32_t& bars, uint32_t& beats, uint32_t& grids) const;

  // 0 for a segment not loaded whole.
  int32_t GetActiveDuration() const { return m_active; }
  int32_t GetPreEntryDuration() const { return HasCues() ? int32_t(EntryCue().position) : 0; }
  int32_t GetPostExitDuration() const { return HasCues() ? int32_t(m_duration - ExitCue().position) : 0; }
  uint32_t Duration() const { return m_duration; }
  uint32_t MarkerCount() const { return m_markers.Count(); }
  const SnMusicMarker& Marker(uint32_t index) const { return m_markers[index]; }

 protected:
  bool TakesChildCategory(uint32_t category) const override { return category == kMusicCategoryTrack; }

 private:
  bool HasCues() const { return m_markers.Count() >= 2; }
  const SnMusicMarker& EntryCue() const { return m_markers[0]; }
  const SnMusicMarker& ExitCue() const { return m_markers[m_markers.Count() - 1]; }
  void FreeMarkers();
  SNRESULT ReadMarkers(SnMusicReader& in);
  // A track whose look-ahead is longer than the segment, said once as the bank is read.
  void SayLookAheadsPastTheEnd() const;

  SnArray<SnMusicMarker> m_markers;
  uint32_t m_duration = 0;
  // Kept from the markers for the timing questions: exit - entry, and the entry cue's position.
  int32_t m_active = 0;
  int32_t m_entry = 0;
};

}  // namespace SN
