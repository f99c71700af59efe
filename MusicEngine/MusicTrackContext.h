// A playing sub-track of a music track: its clips as a time-ordered schedule of source plays and
// stops, the music voices it made (its children), and the automation curves that drive them.
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "SoundEngine/PoolObject.h"
#include "MusicEngine/MusicContext.h"
#include "MusicEngine/MusicSlots.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"

namespace SN {

class CSnMusicPlaybackInstance;
class CSnMusicSegmentContext;
class CSnMusicTrackNode;
struct SnMusicClipAutomation;
struct SnMusicTrackClip;

class CSnMusicTrackContext final : public CSnMusicContext {
 public:
  // Connected to the segment context; null when out of memory.
  static CSnMusicTrackContext* Create(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track, uint32_t subTrack);
  ~CSnMusicTrackContext() override;

  void SetPlaying() override;
  void OnStopComplete() override;
  // Its modulators are made again, as a play's first voice found them.
  void OnReset() override;

  // Where in the segment (samples from its beginning) the context begins.
  void SetBeginPosition(int32_t position) { m_begin = position; }
  // One frame from `time` (samples from the segment's beginning).
  void Process(int64_t time, int64_t length, float speed);
  // Where a voice of this context heard again after being virtual goes on: the source sample
  // (`seek`) that the music reaches `frameOffset` samples (whole frames: a stream's look-ahead) from
  // the frame being rendered. False when the context is stopping or the clip is over by then.
  bool GetSourceEntry(const CSnMusicPlaybackInstance& voice, int32_t& seek, int32_t& frameOffset) const;
  // The voice or MIDI clip ends: it no longer appears in the schedule or the automation.
  void Forget(const CSnChildContext* child);

  CSnMusicTrackNode* Track() const { return m_track; }
  uint32_t SubTrack() const { return m_subTrack; }
  CSnMusicSegmentContext* Segment() const;
  CSnModulatorInstanceList& Modulators() { return m_modulators; }

 private:
  struct Automation {
    const SnMusicClipAutomation* automation;
    CSnMusicPlaybackInstance* target;
    int32_t clipBegin;
    Automation* next;
  };
  struct Action {
    enum Kind : uint32_t { PlayClip = 0, StopClip = 1 };
    Action* next;
    int64_t time;
    uint32_t kind;
    const SnMusicTrackClip* clip;
    int32_t length;
    int32_t sourceOffset;
    int32_t lookAhead;
    Automation* automations;
    CSnChildContext* target;
    bool removeAutomations;
  };

  template <typename T, typename... Args>
  friend T* NewMusicContext(Args&&...);
  void DeleteSelf() override;
  CSnMusicTrackContext(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track, uint32_t subTrack);
  void BuildSchedule();
  void Insert(Action* action);
  void FreeAction(Action* action);
  // The active automation and every action still scheduled.
  void FreeSchedule();
  void RunSchedule(int64_t time, int64_t length, float speed);
  void PlayClip(Action* action, int64_t time, int64_t length, float speed);
  // The stop of `child` at the clip's end, not yet in the schedule; null (the child stopped now)
  // without memory.
  Action* NewClipStop(CSnChildContext* child, const SnMusicTrackClip& clip);
  // The modulators the track's curves (and its ancestors') name, once for all its voices: an LFO
  // runs on from one clip into the next.
  void InstantiateModulators();
  CSnMusicPlaybackInstance* CreateClipSource(const Action& action, int32_t offset, float speed);
  // A clip of MIDI media plays through the play's MIDI clock rather than as a voice.
  CSnChildContext* CreateMidiClip(const Action& action, int32_t offset);
  static void Apply(const Automation& automation, int64_t at);
  void AlignEntry(CSnMusicPlaybackInstance* voice, float speed);

  Action* m_schedule = nullptr;
  Automation* m_automations = nullptr;
  CSnMusicTrackNode* m_track;
  uint32_t m_subTrack;
  CSnModulatorInstanceList m_modulators;
  int32_t m_begin = 0;
  int64_t m_frameTime = 0;  // where in the segment the frame last processed began
  bool m_scheduleBuilt = false;
  bool m_releasedByStop = false;
  // A clip's play and, once it plays, its stop.
  SnMusicSlots<Action, 2> m_actionRoom;
};

// The value of an automation curve `at` samples from its clip's beginning (linear between points,
// held before the first and after the last).
float EvaluateMusicAutomation(const SnMusicClipAutomation& automation, float at);

}  // namespace SN
