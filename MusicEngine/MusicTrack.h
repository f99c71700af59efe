// The music track: the leaf of a segment. It owns its sources and places them on the segment's
// timeline as clips, split into sub-tracks of which one plays at a time, with automation on clips.
//
// Threads: read on the bank thread under GlobalAudioLock(); queried on the audio thread.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicNode.h"
#include "SoundEngine/Banks/SourceDesc.h"

namespace SN {

struct SnMusicTrackClip {
  uint32_t subTrack;
  uint32_t sourceId;
  int32_t begin;           // samples from the segment's beginning: play-at + begin trim
  uint32_t length;         // samples
  int32_t sourceDuration;  // samples, never 0
  int32_t sourceOffset;    // samples into the source, 0 to the duration
};
static_assert(sizeof(SnMusicTrackClip) == 24, "a clip is six words");

// A bank clip as stored: two words and four f64 milliseconds.
constexpr uint32_t kMusicBankClipBytes = 40;

struct SnMusicAutomationPoint {
  float time;  // samples from the clip's beginning
  float value;
  uint32_t interpolation;
};
static_assert(sizeof(SnMusicAutomationPoint) == 12, "automation points are stored as they lie in a bank");

struct SnMusicClipAutomation {
  uint32_t clipIndex;  // into the stored clips
  uint32_t type;
  SnMusicAutomationPoint* points;  // owned
  uint32_t pointCount;
};

enum SnMusicTrackType : uint32_t {
  SnMusicTrack_Normal = 0,
  SnMusicTrack_Random = 1,
  SnMusicTrack_Sequence = 2,
  SnMusicTrack_Switch = 3,
};

struct SnMusicTrackSwitchParams {
  static constexpr uint32_t kNoSync = 8;
  uint32_t groupId = 0;
  uint32_t defaultSwitch = 0;
  uint8_t groupType = 0;  // 1 state group, 0 switch group
  uint32_t* switchIds = nullptr;  // owned, index = sub-track
  uint32_t switchCount = 0;
  uint32_t fadeOutMs = 0;
  uint32_t fadeOutCurve = 0;
  int32_t fadeOutOffset = 0;  // samples
  uint32_t syncType = kNoSync;
  uint32_t cueFilter = 0;
  uint32_t fadeInMs = 0;
  uint32_t fadeInCurve = 0;
  int32_t fadeInOffset = 0;  // samples
};

class CSnMusicMidiClipContext;
class CSnMusicTrackContext;

class CSnMusicTrackNode : public CSnPropertyNode {
 public:
  static constexpr uint8_t kTrackMidiOverridesEvents = 0x01;
  static constexpr uint8_t kTrackMidiOverridesTracking = 0x02;
  static constexpr uint8_t kTrackMidiOption = 0x04;
  static constexpr uint32_t kNoSwitch = 0xFFFFFFFFu;

  explicit CSnMusicTrackNode(uint32_t id) : CSnPropertyNode(id, false) {}
  ~CSnMusicTrackNode() override;

  uint32_t NodeCategory() const override { return kMusicCategoryTrack; }
  uint32_t MonitorType() const override { return 8; }

  // `again`: the track was read by another bank; its type, switch data and look-ahead stay. While
  // contexts play the track, only sources it lacks are added: clips and automation stay.
  SNRESULT ReadBankData(const uint8_t* data, uint32_t size, bool again);

  // ---- sources ----
  // A source already present stays (SN_Success); SN_Failure when it cannot be added.
  SNRESULT AddMediaSource(uint32_t sourceId, uint32_t codecId, uint32_t fileId, uint32_t size, uint32_t flags);
  SNRESULT AddPluginSource(uint32_t sourceId);
  const CSnSourceDesc* FindSource(uint32_t sourceId) const;
  uint32_t SourceCount() const { return m_sources.Count(); }
  // Whether a source of the track came with its media from a bank.
  bool HasProvidedMedia() const;

  // ---- timeline ----
  uint32_t ClipCount() const { return m_clips.Count(); }
  const SnMusicTrackClip& Clip(uint32_t index) const { return m_clips[index]; }
  uint32_t AutomationCount() const { return m_automation.Count(); }
  const SnMusicClipAutomation& Automation(uint32_t index) const { return m_automation[index]; }
  uint32_t SubTrackCount() const { return m_subTracks; }
  SnMusicTrackType TrackType() const { return m_type; }
  const SnMusicTrackSwitchParams* SwitchParams() const { return m_switch; }
  // The switch a sub-track plays for; kNoSwitch for a sub-track the bank gave none.
  uint32_t SwitchOfSubTrack(uint32_t subTrack) const;
  uint8_t TrackFlags() const { return m_trackFlags; }

  // The sub-track of a new play: random, next in sequence, or 0.
  uint16_t SelectSubTrack();
  // Samples of streaming needed before `position` (from the segment's beginning).
  int32_t GetMaxLookAhead(int32_t position) const;
  void SetLookAhead(uint32_t ms);
  int32_t LookAhead() const { return m_lookAhead; }

  // The track contexts playing it; counted so that a bank read again leaves their clips alone.
  void AddContext() { ++m_contexts; }
  void RemoveContext() { --m_contexts; }
  // The same contexts listed for the track's gain path (audio thread); a context that cannot be
  // listed plays on without it, logged.
  void ListContext(CSnMusicTrackContext* context);
  void UnlistContext(CSnMusicTrackContext* context);

  // ---- MIDI clips (audio thread) ----
  // The clips playing the track's MIDI; false without memory (the clip does not play).
  bool AddMidiClip(CSnMusicMidiClipContext* clip);
  void RemoveMidiClip(CSnMusicMidiClipContext* clip);
  // A clip begins: it takes the gain the track and its music ancestors give its game object now.
  void OnMidiClipAdded(CSnMusicMidiClipContext& clip);
  // The gain of the track's node path (its own mute, an ancestor's, its bus's) for `gameObject`
  // (null: every object) reaches the voices of its playing contexts and its MIDI clips, known by
  // the track.
  void ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) override;

  // ---- the hierarchy's calls ----
  // The track's plays are its segments' to stop, pause and resume: it holds only its own transitions.
  void ExecuteAction(const SnActionParams& params) override { ApplyToOwnTransitions(params); }
  // A parameter change from above (a bus's volume) reaches the voices of its playing contexts.
  void DeliverParameterChange(const SnParamChange& change) override;
  SNRESULT PlayNode(CSnPlayParams& params) override;
  // The bank media of every source; those prepared before a failure are released again.
  SNRESULT PrepareData() override;
  void UnprepareData() override;

 private:
  struct Source {
    uint32_t sourceId;
    CSnSourceDesc* desc;  // owned
  };
  // Where each bank clip went: a few on the stack, more from the pool.
  class ClipMap {
   public:
    ClipMap() = default;
    ClipMap(const ClipMap&) = delete;
    ClipMap& operator=(const ClipMap&) = delete;
    ~ClipMap();
    bool Reserve(uint32_t count);
    void Add(uint32_t stored) { m_entries[m_count++] = stored; }
    uint32_t Count() const { return m_count; }
    uint32_t operator[](uint32_t bankClip) const { return m_entries[bankClip]; }

   private:
    static constexpr uint32_t kLocal = 16;
    uint32_t m_local[kLocal];
    uint32_t* m_entries = m_local;
    uint32_t m_count = 0;
  };
  SNRESULT ReadSources(SnMusicReader& in);
  // Clip i of the bank becomes stored clip map[i], or kDropped; without `store` the bytes are only
  // checked and passed over.
  SNRESULT ReadClips(SnMusicReader& in, ClipMap& map, bool store);
  SNRESULT ReadAutomation(SnMusicReader& in, const ClipMap& map, bool store);
  SNRESULT ReadSwitch(SnMusicReader& in);
  SNRESULT AddSource(uint32_t sourceId, const CSnSourceDesc& desc);
  void ClearClips();
  void ClearAutomation();
  void ClearSwitch();
  uint32_t SourceLookAhead(const CSnSourceDesc& desc) const;

  SnArray<Source> m_sources;
  SnArray<CSnMusicMidiClipContext*> m_midiClips;
  SnArray<CSnMusicTrackContext*> m_playing;
  SnArray<SnMusicTrackClip> m_clips;
  SnArray<SnMusicClipAutomation> m_automation;
  SnMusicTrackSwitchParams* m_switch = nullptr;
  uint32_t m_subTracks = 0;
  SnMusicTrackType m_type = SnMusicTrack_Normal;
  uint32_t m_sequencePosition = 0xFFFFFFFFu;
  int32_t m_lookAhead = 0;
  // Whether a source streams: only then does a clip need time to stream before it plays.
  bool m_anyStreamed = false;
  uint32_t m_contexts = 0;
  uint8_t m_trackFlags = 0;
};

// The source record of a bank: codec or plug-in id, kind, source id, size or file id, flags, and a
// plug-in's parameter block, which the track does not keep.
struct SnMusicSourceRecord {
  static constexpr uint8_t kKindBankMedia = 0;
  static constexpr uint8_t kKindStreamed = 1;
  static constexpr uint8_t kKindPlugin = 2;
  uint32_t codecId;
  uint8_t kind;
  uint32_t sourceId;
  uint32_t sizeOrFileId;
  uint8_t flags;  // bit 0 language file, bit 1 prefetched
};
// SN_Failure for a record past the bytes or of an unknown kind.
SNRESULT ReadMusicSourceRecord(SnMusicReader& in, SnMusicSourceRecord& record);

}  // namespace SN
