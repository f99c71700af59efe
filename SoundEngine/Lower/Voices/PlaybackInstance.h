// The playback instance: the engine-side object of one playing sound. It owns the play's game
// object, playing id and source, its parameter block, gain factors and fades, its pause count and
// virtual-voice state, and its registrations with the limiters and the playing-id manager; it
// drives its voice through the lower engine's voice command queue. The limiters and the deferred
// instance commands reach it through the fields and operations at the top of the class.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/LeafNode.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"
#include "SoundEngine/Lower/Voices/PlaybackInstanceParams.h"
#include "SoundEngine/Lower/Spatial/PositionPathMotion.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/PlayParams.h"
#include "SoundEngine/Sources/SourceInstance.h"

namespace SN {

class CSnBankRecord;
class CSnLoadedBank;
class CSnRegisteredObj;
class CSnPropertyNode;
class CSnNodeLimiter;
class CSnPositionPath;
struct SnPathSavedState;
class CSnMidiNoteState;
struct SnPositioningParams;
struct SnMotionContext;
struct SnEmitterListenerRay;

// What a node's inherited virtual-voice setting asks of an instance over its limit.
enum SnVirtualBehaviour : uint8_t {
  SnVirtual_ContinueToPlay = 0,
  SnVirtual_Kill = 1,
  SnVirtual_BecomeVirtual = 2,
};

// Deferred commands the voice manager hands to an instance at the end of the audio pass.
enum SnInstanceCommandKind : uint32_t {
  SnInstanceCommand_FadeBegun = 3,         // carries a time; to an instance: its source nears its end
  SnInstanceCommand_ContextDetached = 4,   // carries an argument; the instance is retired after it
  SnInstanceCommand_PauseVoice = 6,        // to a music voice silenced for a pause: its voice pauses now
};

// The action codes of `ExecuteActionOnInstance`.
enum SnInstanceActionCode : uint32_t {
  SnInstanceAction_Stop = 0,
  SnInstanceAction_Pause = 1,
  SnInstanceAction_Resume = 2,
  SnInstanceAction_StopLooping = 3,
  SnInstanceAction_ReleaseModulators = 5,
};

struct SnInstanceActionRecord {
  uint32_t code = SnInstanceAction_Stop;
  CSnRegisteredObj* gameObject = nullptr;  // null: any
  uint32_t playingId = 0;                  // 0: any
  TransParamsBase fade;
  uint8_t force = 0;
  const CSnHierarchyNode* node = nullptr;  // a stop-looping's: only the levels at or under it stop
};

// Matches an instance by its link key (0, null or 255: any) and hands it a parameter change.
struct SnInstanceParamFilter {
  uint32_t parameterId = 0;
  SnRTPCKey key;
  float value = 0.0f;
};

// The play's priority as the voice manager computed it.
struct SnPriorityRecord {
  float priority = 50.0f;
  uint32_t sequenceNumber = 0;  // filled by the instance at construction
  float basePriority = 50.0f;
  float offsetAtMaxDistance = 0.0f;

  // The base with the share of the offset that `distance` takes of `maxDistance` (all of it at or
  // beyond), held to 0..100.
  float AtDistance(float distance, float maxDistance) const {
    const float share = maxDistance > distance ? distance / maxDistance : 1.0f;
    return kPriorityRange.Hold(basePriority + offsetAtMaxDistance * share);
  }
};

// One auxiliary send as the voice pipeline takes it: kind 1 game-defined, 2 user-defined.
struct SnInstanceAuxSend {
  uint32_t busId = 0;
  float level = 0.0f;
  uint32_t kind = 0;
};
constexpr uint32_t kMaxInstanceAuxSends = 8;

// The parameter block a node fills for an instance.
struct SnInstanceParamBlock {
  float volume = 0.0f;  // dB
  float gain = 1.0f;    // linear
  float params[3] = {};  // parameters 2, 3 and 4
  float further[8] = {};  // the sixth is the second volume (dB)
  float userSendLevels[4] = {};  // dB
  uint32_t userSendBusIds[4] = {};
  float gameSendVolume = 0.0f;  // dB
  uint32_t useGameSends = 0;

  float& SecondVolume() { return further[5]; }
  float SecondVolume() const { return further[5]; }
};

class CSnPlaybackInstance : public ISnVoiceInstance,
                            public ISnTransitionTarget,
                            public ISnPlaybackInstanceParams,
                            public ISnPathTarget,
                            public ISnSourceInstance,
                            public ISnLeafInstance {
 public:
  // The 4-bit pipeline state the voice pipeline keeps in the instance.
  enum PipelineState : uint8_t { Pipeline_None = 0, Pipeline_SourcePlaying = 1, Pipeline_Launching = 3 };
  // Reasons of `StopNow`: 0 and 2 release the transitions and the path.
  static constexpr uint8_t kStopReleasesAll = 0;
  // The pending state carried into a play.
  enum PendingState : uint8_t { Pending_None = 0, Pending_Pause = 1, Pending_Stop = 2 };

  struct Args {
    CSnPropertyNode* node = nullptr;
    const CSnSourceDesc* source = nullptr;
    bool ownsSource = false;  // a resolved external source: cleared and freed with the instance
    CSnRegisteredObj* gameObject = nullptr;
    SnMidiEvent midiEvent;
    uint32_t midiTargetId = 0;
    uint32_t playMode = 0;  // the play request's: a continuous play hands it to its next item
    uint32_t playingId = 0;
    SnPriorityRecord priority;
    bool isMotion = false;
    int32_t seekOffset = 0;  // samples
    int32_t frameOffset = 0;
    // Without a node (music, tools, tests): the behaviour over a voice limit.
    uint8_t voiceBehaviour = SnVirtual_ContinueToPlay;
    // Without a node: the positioning settings (kept by the caller while the play lasts), the
    // positioning mode and 3D type (PositioningModeOf, ThreeDTypeOf) and the centre percentage.
    const SnPositioningParams* positioning = nullptr;
    uint8_t positioningBits = 0;
  };

  explicit CSnPlaybackInstance(const Args& args);
  ~CSnPlaybackInstance() override;
  CSnPlaybackInstance(const CSnPlaybackInstance&) = delete;
  CSnPlaybackInstance& operator=(const CSnPlaybackInstance&) = delete;

  // ---- what the limiters and the voice manager's deferred commands call ----
  // Stops at once, without a fade; the voice manager has marked it stopping. The instance stays in
  // its limiters and the active list until it is retired: limiters walk their arrays around this.
  virtual void StopNow() { StopNow(kStopReleasesAll, false); }
  // The notification handler of the deferred commands.
  virtual void OnInstanceCommand(uint32_t kind, uint32_t parameter, float time);
  // Releases what the instance holds: its limiters, transitions, playing-id reference, node.
  virtual void Term(uint32_t flags);
  // Runs the destructor and gives the memory back to the default pool.
  virtual void Destroy();
  // The voice it posts commands to the lower engine as.
  virtual ISnVoiceInstance* Voice() { return this; }

  // Marks it stopping with the reason (unless it already is) and stops it at once.
  void Kill(uint8_t stopReason) {
    if (m_stopping) return;
    m_stopping = true;
    m_stopReason = stopReason & 7;
    LeaveGlobalLimiter();
    StopNow();
  }
  // Over a limit with the virtual-voice behaviour in force: killed, or made virtual this frame. One
  // that continues to play does so past a node's limit; past the engine-wide maximum
  // (`capsContinuing`) it goes virtual too, or that maximum would cap nothing.
  void StopForVoiceLimit(uint8_t stopReason, bool capsContinuing = false) {
    if (m_virtualBehaviour == SnVirtual_Kill)
      Kill(stopReason);
    else if (m_virtualBehaviour == SnVirtual_BecomeVirtual || capsContinuing)
      m_limitedThisFrame = true;
  }

  float Priority() const final { return m_priority; }
  uint32_t SequenceNumber() const { return m_sequenceNumber; }

  // ---- life ----
  // Registers with its limiters (either may be null), the global limiter and the playing-id manager
  // and attaches its parameter link. SN_Failure for playing id 0.
  virtual SNRESULT Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB);
  // Posts play (or play paused) to the voice command queue after starting a fade-in.
  SNRESULT Play(const TransParamsBase& fade, bool beginPaused, bool newPlayBatch);
  void Stop(const TransParamsBase& fade, bool fromAction);
  void Pause(const TransParamsBase& fade);
  void Resume(const TransParamsBase& fade, bool force);
  virtual void StopNow(uint8_t reason, bool flag);
  virtual void PauseNow(bool silently);
  virtual void ResumeNow();
  void StopImmediately();
  void StopWithReason(uint8_t reason);
  void StopLooping() override;
  // A break of `node` reaching this play: the sound stops looping (a continuous child also leaves the
  // levels of its performance at or under the node).
  virtual void StopLoopingUnder(const CSnHierarchyNode*) { StopLooping(); }
  virtual void SeekTime(uint32_t ms, bool snapToMarker);
  virtual void SeekPercent(float fraction, bool snapToMarker);
  // A continuous performance's hand-on points; nothing for a standard play. `timeLeftMs` is the time
  // the source has left when it nears its end.
  virtual void UpdatePlayProgress(uint32_t /*timeLeftMs*/) {}
  virtual void SetContinuousFlag(bool /*value*/) {}
  virtual void PrepareNextNow() {}
  // A virtual voice is heard again: where its source goes on. SN_NothingChanged for a play that
  // simply resumes where skipping brought it; SN_Success when the instance has set a seek (and a
  // frame offset) to rejoin what its owner plays; SN_Failure when its owner refuses it, and the
  // voice ends.
  virtual SNRESULT SyncSeekFromOwner() { return SN_NothingChanged; }
  void ExecuteActionOnInstance(const SnInstanceActionRecord& record);
  // Leaves the limiters and the virtual state; once only.
  void OnPlaybackEnded();
  // A killed instance counts for no limit again: it leaves the engine-wide one at once, so that a
  // burst of plays over the maximum does not walk past every voice it killed, each time.
  void LeaveGlobalLimiter();
  void EnterVirtual();
  void LeaveVirtual(bool enforceLimit);
  // The pipeline's marks.
  void MarkSourcePlaying() { m_pipelineState = Pipeline_SourcePlaying; }
  void MarkLaunching() { m_pipelineState = Pipeline_Launching; }
  void MarkSourceStopped() { m_pipelineState = Pipeline_None; }
  void NotifyNearEnd(uint32_t value);
  void DetachVoiceContext(uint32_t arg);
  // The sounding note the play belongs to: the voice joins it (a reference held) until Term, and
  // ends when the note does.
  void SetMidiNoteContext(CSnMidiNoteState* note);
  CSnMidiNoteState* MidiNoteContext() const { return m_midiNote; }
  // A note-off inside this frame: the voice gives the samples before `offset` and ends there, where
  // a stop without one ends it at the frame's start.
  void SetMidiStopOffset(uint32_t offset) { m_midiStopOffset = offset > 0x7FFFFFFFu ? 0x7FFFFFFF : int32_t(offset); }
  int32_t StopOffset() const override { return m_midiStopOffset; }
  void SetVoicePipeline(ISnVoicePipeline* pipeline) { m_pipeline = pipeline; }
  // The node counted this play against its limits: the count is given back when the play ends.
  void TakeNodeCount() { m_nodeCounted = true; }
  // A link above its node is about to change: the play leaves the counts and limiters it joined on
  // the roads of now (false when it holds none), and after the change joins them on the new roads,
  // so that its end gives its counts back where it took them.
  bool LeaveNodeCount();
  void RejoinNodeCount();
  bool m_rejoinsCount = false;  // left its counts for a link's change: the voice manager rejoins it
  // The arguments of a play's instance, as the voice manager's factory fills them.
  static Args ArgsFor(CSnPropertyNode* node, const CSnSourceDesc* source, const CSnPlayParams& params,
                      const SnPriorityRecord& priority, bool ownsSource);

  // ---- parameters (the instance's parameter link and its gains) ----
  // Driven parameter `paramId` moved to `value` by `delta`.
  void ParamChanged(uint32_t paramId, float value, float delta);
  void SetParamById(float value, uint32_t paramId);
  void ResetParamFlags(bool clearAll);
  static uint64_t GetSupportedParams();
  // A game parameter (or modulator) holds a value keyed by this instance: it goes at Term.
  bool AddOwnedValueId(uint32_t id, bool modulator);
  virtual void ComputeParameters();
  // The factor of `key` (its bit 31 the kind); exactly 1.0 removes it. With `keep` it outlives the
  // parameters being computed again. False when out of memory.
  bool SetGainFactorEntry(float value, uint32_t key, bool replace, bool keep = false);
  void RecomputeGain();
  void RecomputeGainIfDirty() {
    if (m_gainDirty) RecomputeGain();
  }
  bool ParametersComputed() const { return m_paramsComputed; }

  // ---- motion ----
  // A voice that gives motion (a motion instance, or one whose node has a motion output) gets its
  // context while a player has a motion device: made once, its levels started from the node's motion
  // path. Per frame, before the parameters: one made now is counted in them. A sound (no motion
  // instance) with a context then has the motion outputs made of those of `players` (a bit each)
  // that have a device and hear one of its game object's listeners, or of `listenerMask` when the
  // object's listeners are about to change to it.
  void UpdateMotion(uint32_t players) { UpdateMotion(players, ListenerMask()); }
  void UpdateMotion(uint32_t players, uint32_t listenerMask);
  void ReleaseMotionContext();
  const SnMotionContext* MotionContext() const { return m_motionContext; }
  // The listeners of its game object (listener 0 without one).
  uint32_t ListenerMask() const;
  bool IsInaudible();
  void SetPriority(float priority);
  uint8_t GetVoiceBehaviour(uint8_t* extra = nullptr);
  void ApplyIfKeyMatches(const SnInstanceParamFilter& filter);
  void SetEffectBypass(uint32_t values, uint32_t mask) override;
  // Up to 8 sends; fewer end with bus id 0. Returns the count.
  uint32_t ComputeAuxSends(SnInstanceAuxSend (&sends)[kMaxInstanceAuxSends]) const;
  bool HasAuxSends() const;
  // Positioning, attenuation and path, then the audibility test: 3 with reason 41 when inaudible.
  SNRESULT PrepareForPlay(float initialValue, bool skipAudibilityTest, uint32_t* outReason);

  // ---- positioning ----
  // The path of a sound positioned along one: the path carried from the item before when it comes
  // from the same settings, else one made and given its play list, then begun from where the
  // settings' last path left off. 1, or the failure after the path is deleted.
  SNRESULT SetupPath();
  // Up to `capacity` rays from the listeners to the emitter; the count. `positionType` 1 takes the
  // game object's positions, any other the listener-relative position of the path.
  uint32_t ComputeEmitterListenerRays(uint32_t positionType, SnEmitterListenerRay* rays, uint32_t capacity);
  // The most rays ComputeEmitterListenerRays can give for the game object's listeners.
  uint32_t RayCapacityNeeded() const;
  // Parameters 13 to 15: the attenuation-derived cone values. Always 1.
  SNRESULT SetRTPCParam13To15(uint32_t paramId, float value);
  int32_t GetPriorityAtDistance(float distance) const;
  void UpdatePriorityFromDistance(float distance);
  // 2 past the end, or for a mask that selects no listener of the game object.
  // The game object's positions: one when it has a single position or none (the default one).
  uint32_t GameObjectPositionCount() const;
  SNRESULT GetGameObjectPosition(uint32_t index, SnSoundPosition& out) const;
  SNRESULT GetEmitterPosition(uint32_t index, uint32_t listenerMask, SnSoundPosition& out) const;
  SNRESULT GetListenerData(uint32_t listenerMask, SnListenerData& out) const;
  bool HasMultiPositionType1() const;
  // The game object's multi-position type (3 bits) for a voice placed by its positions, else 0.
  uint8_t MultiPositionType() const;
  // What the gains and filters of its rays read: volume, bus volume, attenuation and cone values,
  // base filters, and the obstruction and occlusion of each listener (copied into the arrays).
  void GetVoiceGainParams(SnVoiceGainParams& params, uint8_t (&obstruction)[kMaxListeners],
                          uint8_t (&occlusion)[kMaxListeners]) const;
  uint8_t PositioningMode() const { return m_positioningMode; }
  uint8_t ThreeDType() const { return m_threeDType; }
  const SnInstancePositioning* Positioning() const { return m_positioning; }
  CSnPositionPath* Path() const { return m_path; }
  // The node whose settings the path plays (0 without a path): what the next item of a performance
  // matches before it takes the path on.
  uint32_t PathId() const { return m_pathId; }
  // ISnPathTarget
  void SetPathPosition(const float position[3]) override;
  bool IsPathPositionFrozen() const override;

  // ISnPlaybackInstanceParams: a property that follows a game parameter for this instance.
  void SetRTPCProperty(uint32_t propertyId, float value) override;
  // ISnTransitionTarget
  void TransitionUpdate(uint32_t kind, float value, bool done) override;

  // ISnVoiceInstance
  bool IsStoppedWithoutOffset() const override { return m_stoppedNow && m_pendingOffset < 0 && m_midiStopOffset < 0; }
  bool IsPaused() const override { return m_paused; }
  bool IsMotion() const override { return m_isMotion; }
  float PitchRatio() const override { return m_playbackSpeed; }
  int32_t InitialOffset() const override { return m_pendingOffset; }
  void SetInitialOffset(int32_t samples) override { m_pendingOffset = samples; }
  // The lower engine could not play the voice: it ends and is retired at the end of the pass.
  void Stop() override;
  void StopRefused() override;
  ISnVoicePipeline* Pipeline() const override { return m_pipeline; }
  ISnVoicePipeline* PipelineForSecondSource() const override { return nullptr; }
  CSnPlaybackInstance* PlaybackInstance() override { return this; }

  // ISnSourceInstance: what the voice's source reads of the play and writes back to it.
  const CSnSourceDesc& SourceDesc() const override { return *m_source; }
  const uint8_t* MediaData() const override { return m_media; }
  uint32_t MediaSize() const override { return m_mediaSize; }
  // A prefetched stream's first bytes are the media its bank holds under the source's id.
  const uint8_t* PrefetchData() const override {
    return m_source && (m_source->flags & CSnSourceDesc::kPrefetched) ? m_media : nullptr;
  }
  uint32_t PrefetchSize() const override { return PrefetchData() ? m_mediaSize : 0; }
  // The pitch with its modulators' offset, as the source reads it every frame.
  float PitchCents() const override {
    return m_block.params[0] + m_modulators.GetOffset(SnParamMask::Of(kVoicePitchParameter));
  }
  SnSeekRequest& Seek() override { return m_sourceSeek; }
  void SetMediaFormat(const SnMediaFormat& format) override { m_mediaFormat = format; }
  // A play that came due part-way into a frame: the frame loop has taken that frame's samples off its
  // offset, so the source opens the frame with the silence before the due sample.
  bool HasInitialOffset() const override { return m_hasFrameOffset; }
  float RateFactor() const override { return m_playbackSpeed; }
  // Markers and play positions go to the playing id when its post asked for them.
  bool WantsMarkers() const override { return m_callbackFlags & SnCallback_Marker; }
  void PostMarker(const SnMediaMarker& marker) override;
  // Its voice's source had no data when its frame came: the playing id hears of it (callback type
  // SnCallback_Starvation) when its post asked for that.
  void ReportStarvation();
  bool TracksPlayPosition() const override { return m_callbackFlags & SnCallback_EnableGetSourcePlayPosition; }
  // The game reshapes the voice's speaker matrices itself when its post asked for them.
  bool WantsVolumeMatrix() const { return m_callbackFlags & SnCallback_SpeakerVolumeMatrix; }
  void UpdatePlayPosition(uint32_t position, float rate, uint32_t total) override;
  void AddPlayPositionEntry() override;
  void RemovePlayPositionEntry() override;
  // A post that asked for its stream buffering has its streamed voice wait until its stream is filled,
  // and the playing id hears each check of it.
  bool WaitsForBuffering() const override { return m_callbackFlags & SnCallback_EnableGetSourceStreamBuffering; }
  void PostBufferingStatus(SNRESULT result, uint32_t bufferedMs) override;
  // The playing id hears its source's durations (callback type SnCallback_Duration) when it asked.
  void PostDuration(float duration, float estimated) override;
  // Its pitch moves with curves, fades and modulators: every change glides.
  bool PitchImmediate() const override { return false; }
  // Holds the media of its descriptor (a bank's bytes stay in place) while a source reads them;
  // false when the descriptor names no media in memory. Released by ReleaseMedia or at destruction.
  bool AcquireMedia();
  void ReleaseMedia();
  // True while the media it holds for its source is `bank`'s data.
  bool HoldsBankMedia(const CSnLoadedBank* bank) const;
  // The bank's data is about to go: media held from it is taken again from another holder of the
  // same id and the voice's source moved there (RefreshMedia). True when the media could not move:
  // the voice still reads the bank.
  bool OnMediaContextChanged(const CSnLoadedBank* bank);
  // Takes the media again from its descriptor and moves the source onto it; the old reference goes.
  // False when no other holder has it, when the copies differ in size or the source cannot follow:
  // the instance keeps what it held.
  bool RefreshMedia();
  const SnMediaFormat& MediaFormat() const { return m_mediaFormat; }

  // ISnLeafInstance: what its sound's node hands down to the plays in its chain.
  CSnRegisteredObj* InstanceGameObject() const override { return m_pGameObject; }
  uint32_t InstancePlayingId() const override { return m_playingId; }
  const CSnSourceDesc* InstanceSource() const override { return m_source; }
  void ApplyAction(const SnActionParams& params) override;
  void SeekToTime(int32_t milliseconds, bool toNearestMarker) override;
  void SeekToFraction(float fraction, bool toNearestMarker) override { SeekPercent(fraction, toNearestMarker); }
  // A run-time change of a node above (a set value, a bus's ducking): its delta, for this play's key.
  void ParameterChanged(const SnParamChange& change) override;
  void SetGainFactor(float gain) override;
  const SnRTPCKey& InstanceKey() const override { return Key(); }
  bool SetNodeGainEntry(float value, uint32_t entryKey) override { return SetGainFactorEntry(value, entryKey, false); }
  void SetPositioningParameter(float value, uint32_t parameterId) override { SetParamById(value, parameterId); }
  void NodeValuesChanged() override { ResetParamFlags(false); }
  void NodeEffectChanged(uint32_t slot) override;

  // ---- queries ----
  CSnPropertyNode* Node() const { return m_node; }
  uint32_t PlayingId() const { return m_playingId; }
  const CSnSourceDesc* Source() const { return m_source; }
  const SnInstanceParamBlock& Params() const { return m_block; }
  float LinearGain() const { return m_block.gain; }
  float Volume() const { return m_block.volume; }
  // The modulators driving this voice and their mappings onto its parameters.
  CSnModulatorInstanceList& Modulators() { return m_modulators; }
  const CSnModulatorInstanceList& Modulators() const { return m_modulators; }
  // A source plug-in's parameters follow their curves for this play; their modulators join the voice's.
  const SnRTPCKey* ParamKey() const override { return &Key(); }
  CSnModulatorInstanceList* VoiceModulators() override { return &m_modulators; }
  float PlayStopFactor() const { return m_playStopFactor; }
  float PauseResumeFactor() const { return m_pauseResumeFactor; }
  uint32_t PauseCount() const { return m_pauseCount; }
  uint16_t LoopCount() const override { return m_loopCount; }
  bool IsStoppedNow() const { return m_stoppedNow; }
  bool IsStopping() const { return m_stopping; }
  bool IsVirtual() const { return m_virtual; }
  bool VirtualRequested() const { return m_virtualRequested; }
  bool BypassesAllEffects() const { return m_bypassAllEffects; }
  bool SeekPending() const { return m_seekPending; }
  bool SeekIsPercent() const { return m_seekIsPercent; }
  bool SeekSnapsToMarker() const { return m_snapToMarker; }
  uint32_t SeekTarget() const { return m_seekTarget; }
  uint8_t PipelineStateBits() const { return m_pipelineState; }
  bool NearEnd() const { return m_nearEnd; }
  CSnTransition* PlayStopTransition() const { return m_playStop; }
  CSnTransition* PauseResumeTransition() const { return m_pauseResume; }
  float PanLeftRight() const { return m_panLeftRight; }
  float PanFrontRear() const { return m_panFrontRear; }
  float PanCentre() const { return m_panCentre; }
  bool PannerEnabled() const { return m_pannerEnabled; }
  uint32_t GainFactorCount() const { return m_gainFactors.Count(); }
  const SnRTPCKey& Key() const { return m_link.Key(); }
  void SetPendingState(PendingState state) { m_pendingState = state; }

  // The voice manager's list and limiter fields.
  CSnPlaybackInstance* m_pNextActive = nullptr;
  CSnPlaybackInstance* m_pPreviousActive = nullptr;  // an instance leaves the list without a walk
  CSnRegisteredObj* m_pGameObject = nullptr;
  float m_priority = 50.0f;
  uint32_t m_sequenceNumber = 0;
  // Commands in the manager's queue that name it: a retired instance's are looked for only if any.
  uint32_t m_queuedCommands = 0;
  // Detached while commands to it were still queued: retired by the last of them, which do not run.
  bool m_detachedPending = false;
  bool m_stopping = false;
  uint8_t m_stopReason = 0;  // 3 bits
  bool m_limitedThisFrame = false;
  bool m_limitedLastFrame = false;
  bool m_keptOutOfLimiting = false;
  bool m_excluded = false;  // virtual: not counted against the global maximum
  uint8_t m_virtualBehaviour = SnVirtual_ContinueToPlay;  // SnVirtualBehaviour, 4 bits

 protected:
  // A stand-in for the limiters' own tests: no node, no source, no registrations.
  CSnPlaybackInstance();

 protected:
  // The fields below are the derived instances' (continuous, dynamic sequence) as well.
  // The link through which the node's parameter curves reach the instance.
  class ParamLink final : public CSnTargetLink {
   public:
    ParamLink(CSnPlaybackInstance* owner, const SnRTPCKey& key) : CSnTargetLink(key), m_owner(owner) {}
    void SetParamValue(uint32_t parameterId, float value, float delta) override {
      m_owner->ParamChanged(parameterId, value, delta);
    }
    uint64_t WantedMask() const override { return CSnPlaybackInstance::GetSupportedParams(); }

   private:
    CSnPlaybackInstance* m_owner;
  };
  struct GainFactor {
    uint32_t key;
    uint32_t flags;  // bit 0 kind, bit 1 kept when parameters are computed again
    float factor;
  };

  SNRESULT PostVoiceCommand(SnVoiceCommandKind kind);
  // Starts or turns the fade of one slot; without a transition the end value applies at once.
  void RequestFade(CSnTransition*& slot, uint32_t kind, float from, float to, const TransParamsBase& fade);
  void ReleaseTransitions();
  void RemoveOwnedValues();
  void PauseTransition(CSnTransition* transition);
  void ResumeTransition(CSnTransition* transition);
  static SnRTPCKey KeyFor(const Args& args, CSnPlaybackInstance* self);
  // The sound's positioning settings, or the ones handed in without a node.
  const SnPositioningParams* PositioningSettings() const;
  uint8_t PositioningBits() const;
  // A record from the sound's settings; false without settings or memory.
  bool CreatePositioning();
  // The context when none is there and the manager has players with devices; true when made now.
  bool CreateMotionContext();
  // Resolves the attenuation and subscribes its curves for this instance; 2 when it is not loaded.
  SNRESULT ResolveAttenuation();
  void ReleasePath();
  // The path handed on by the item before, held until this instance took it or played without it.
  void CarryPath(CSnPositionPath* path, uint32_t pathId);
  void DropCarriedPath();
  // Where the paths of the settings this instance plays leave off; null without settings.
  SnPathSavedState* SavedPathState() const;
  void DestroyPositioning();

  ParamLink m_link;
  SnArray<uint32_t> m_ownedValueIds[2];  // game parameters, modulators holding values keyed by it
  SnArray<GainFactor> m_gainFactors;
  float m_volumeOffset = 0.0f;
  float m_paramOffsets[3] = {};
  uint32_t m_playingId = 0;
  CSnTransition* m_playStop = nullptr;
  CSnTransition* m_pauseResume = nullptr;
  CSnPropertyNode* m_node = nullptr;
  const CSnSourceDesc* m_source = nullptr;
  ISnVoicePipeline* m_pipeline = nullptr;
  uint32_t m_channelConfig = 0x4001 | (1u << 8);
  SnInstanceParamBlock m_block;
  float m_baseVolume = 0.0f;
  float m_baseParam[2] = {};
  float m_rtpcDelta[2] = {};
  float m_playbackSpeed = 1.0f;
  float m_playStopFactor = 1.0f;
  float m_pauseResumeFactor = 1.0f;
  uint32_t m_seekTarget = 0;
  uint16_t m_loopCount = 1;
  SnPriorityRecord m_priorityRecord;
  uint32_t m_pauseCount = 0;
  float m_initialValue = 0.0f;
  float m_panLeftRight = 0.0f;
  float m_panFrontRear = 0.0f;
  float m_panCentre = 100.0f;
  bool m_pannerEnabled = false;
  int32_t m_pendingOffset = -1;
  int32_t m_midiStopOffset = -1;
  bool m_hasFrameOffset = false;
  uint32_t m_callbackFlags = 0;  // the playing id's, as its post asked
  CSnNodeLimiter* m_limiters[2] = {};
  SnInstancePositioning* m_positioning = nullptr;
  SnMotionContext* m_motionContext = nullptr;
  const SnPositioningParams* m_givenPositioning = nullptr;
  CSnPositionPath* m_path = nullptr;
  uint32_t m_pathId = 0;
  CSnPositionPath* m_carriedPath = nullptr;  // one holder reference
  uint32_t m_carriedPathId = 0;
  SnPositionBlock m_copiedPositions;
  bool m_positionsCopied = false;
  bool m_attenuationSubscribed = false;
  uint8_t m_givenPositioningBits = 0;
  uint8_t m_threeDType = 0;

  uint8_t m_pendingState = Pending_None;
  uint8_t m_pipelineState = Pipeline_None;
  uint8_t m_positioningMode = 0;
  uint8_t m_cachedBehaviour = 0;
  uint8_t m_cachedBehaviourExtra = 0;
  bool m_behaviourCached = false;
  bool m_paramsComputed = false;
  bool m_modulatorsInstantiated = true;
  CSnModulatorInstanceList m_modulators;
  bool m_nearEnd = false;
  bool m_transitionsReleased = false;
  bool m_endedAfterNearEnd = false;
  bool m_stoppedNow = false;
  bool m_paused = false;
  bool m_launched = false;
  bool m_reasonRecorded = false;
  bool m_isMotion = false;
  bool m_bypassAllEffects = false;
  bool m_seekPending = false;
  bool m_seekIsPercent = false;
  bool m_snapToMarker = false;
  bool m_virtualRequested = false;
  bool m_virtual = false;
  bool m_fadeInRunning = false;
  bool m_gainDirty = true;
  bool m_inLimiters = false;
  bool m_inGlobalLimiter = false;
  bool m_ended = false;
  bool m_playbackRefTaken = false;
  bool m_retireQueued = false;
  bool m_nodeCounted = false;
  bool m_ownsSource = false;
  bool m_real = true;  // false for the limiters' stand-ins
  bool m_inLeafChain = false;
  bool m_mediaHeld = false;
  CSnMidiNoteState* m_midiNote = nullptr;
  const uint8_t* m_media = nullptr;
  uint32_t m_mediaSize = 0;
  CSnBankRecord* m_mediaBank = nullptr;
  SnSeekRequest m_sourceSeek;
  SnMediaFormat m_mediaFormat;
};

}  // namespace SN
