// The voice manager's bookkeeping of running instances: the active-instance list with the count of
// virtual ones, the engine-wide limiter (256 voices), the lists of active node limiters of kinds 1
// and 2, the frame's limiter pass, and the queue of deferred instance commands (64 pooled nodes,
// more from the default pool). Audio thread, under the global audio lock; Init and Term with the
// lower engine's.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnHierarchyNode;
class CSnPlaybackInstance;
class CSnPlaybackLimiter;
class CSnPropertyNode;
class CSnRegisteredObj;
class CSnSourceDesc;
struct CSnPlayParams;
struct SnPriorityRecord;

// What a play's creator object makes: the kind of playback instance its container wants (continuous,
// music). Without one a play makes a standard instance.
class ISnPlaybackInstanceCreator {
 public:
  // An instance from the default pool, or null when none can be made.
  virtual CSnPlaybackInstance* CreatePlaybackInstance(CSnPropertyNode* node, const CSnSourceDesc* source,
                                                      const CSnPlayParams& params, const SnPriorityRecord& priority,
                                                      bool ownsSource) = 0;

 protected:
  ~ISnPlaybackInstanceCreator() = default;
};

// A test hook by design: takes the leaf plays in place of the voice manager (a recorder in tests,
// a tool). The engine never fills it; null, the voice manager plays them.
class ISnLeafPlayer {
 public:
  virtual ~ISnLeafPlayer() = default;
  virtual SNRESULT PlayLeafNode(CSnPropertyNode* node, const CSnSourceDesc& source, CSnPlayParams& params) = 0;
};
inline ISnLeafPlayer*& LeafPlayer() { return ServiceSlot<ISnLeafPlayer>(); }

namespace VoiceManager {

constexpr uint16_t kDefaultMaxVoices = 256;
constexpr uint32_t kPooledInstanceCommands = 64;
// Commands past the pooled ones stay on the free list once run, up to this many: a burst of plays
// takes its items from the default pool once, not one allocation per command every frame.
constexpr uint32_t kKeptInstanceCommands = 4096;

// Empties the lists and counts and takes the command pool; `SN_InsufficientMemory` without it.
SNRESULT InitInstanceBookkeeping();
// Retires every active instance, frees the command queue, empties the limiters' lists.
void TermInstanceBookkeeping();

// Appends a launched instance to the active list.
void AddActiveInstance(CSnPlaybackInstance* instance);
uint32_t ActiveInstanceCount();
// The head of the active list, walked through `m_pNextActive`.
CSnPlaybackInstance* FirstActiveInstance();
uint32_t ExcludedInstanceCount();
// An instance turned virtual: no longer counted against the engine-wide maximum.
void ExcludeInstance();
// An instance back from virtual: counted again, and with `enforce` the engine-wide limiter
// chooses one to give way when that takes the count past the maximum.
void RecountInstance(bool enforce);

CSnPlaybackLimiter& GlobalLimiter();
void SetGlobalMaximum(uint16_t maximum);

// The node limiters holding instances, each kind pushed at the head with its first instance.
void LinkActiveLimiterKind1(CSnPlaybackLimiter* limiter);
void LinkActiveLimiterKind2(CSnPlaybackLimiter* limiter);
void UnlinkActiveLimiterKind1(CSnPlaybackLimiter* limiter);
void UnlinkActiveLimiterKind2(CSnPlaybackLimiter* limiter);
CSnPlaybackLimiter* FirstActiveLimiterKind1();
CSnPlaybackLimiter* FirstActiveLimiterKind2();

// Per frame, after transitions and paths: last frame's limiting remembered, then every kind-1,
// kind-2 and the engine-wide limiter applied.
void ApplyLimiters();

// Plays a sound node's source for the play's game object: priority, memory threshold and limits
// admit it, a playback instance is made, registered and launched. SN_Success; SN_NothingChanged when
// refused (limits, memory, inaudible without virtual voices); SN_Failure when it could not be made or
// an external source is not in the play's list. An installed leaf player takes the play instead.
SNRESULT PlayLeafNode(CSnPropertyNode* node, const CSnSourceDesc* source, CSnPlayParams& params);
// Before a link above `node` changes: the playing instances counted on a road through it leave those
// counts (false when none did); RejoinCounts() counts them again on the roads of after the change.
bool LeaveCountsThrough(const CSnHierarchyNode* node);
void RejoinCounts();
// The node counts the play against its limits (the play is then the node's and its ancestors'
// activity: their gains, mutes and parameters reach it), the instance joins the limiter the count
// names and registers. `asVirtual` in: the global limit allows only a virtual voice; out: the voice
// plays virtual. SN_NothingChanged when the limits refuse it; else `Init`'s result. Either way the
// count is the instance's: its end gives it back. Without memory for the count the play is counted
// nowhere and refused (SN_NothingChanged).
SNRESULT InitInstanceWithLimits(CSnPropertyNode& node, CSnPlaybackInstance& instance, float priority,
                                CSnRegisteredObj* gameObject, bool mayGoVirtual, bool& asVirtual);
// The one factory of standard playback instances (a play without a creator object): from the default
// pool, null without memory.
CSnPlaybackInstance* CreateStandardPlaybackInstance(CSnPropertyNode* node, const CSnSourceDesc* source,
                                                    const CSnPlayParams& params, const SnPriorityRecord& priority,
                                                    bool ownsSource);
// Stops every active instance of the playing id (0: none) with the fade; not an action's stop.
void StopPlayingID(uint32_t playingId, int32_t transitionMs, uint32_t curve);
// Stops at once the motion plays of a game object the game lets go (null: of every object but object
// 0): a pad must not rumble on for an object that is no more. Its sounds play on.
void StopMotionOfGameObject(const CSnRegisteredObj* gameObject);
// The play's priority: the node's (50 when not finite), with the share of its distance offset that the
// emitter's nearest listener distance takes of the attenuation's greatest distance (scaled by the game
// object's scaling and handed back in `outMaxDistance`; 0 without an attenuation), clamped to 0..100.
void ComputePlayPriority(SnPriorityRecord& record, const CSnPropertyNode* node, CSnRegisteredObj* gameObject,
                         float* outMaxDistance);
// The smallest distance, over the listeners of the object's mask and each of its positions (the default
// position when it has none), each divided by its listener's scaling factor; 1e10 when there is none.
float MinListenerDistance(const CSnRegisteredObj* gameObject);
// 1 allowed, 2 refused, 80 allowed as a virtual voice.
SNRESULT CheckGlobalVoiceLimit(float priority);
// False when a pool is over its threshold and no lower-priority instance can be killed for room.
bool MemoryThresholdAllowsPlay(float priority);

// Defers a command to the end of the pass; when no node can be had the queue is run first.
// `SN_InsufficientMemory` when even then none can be had.
SNRESULT QueueInstanceCommand(CSnPlaybackInstance* instance, uint32_t kind, uint32_t parameter, float time);
// Runs the queue in order; an instance whose context was detached is retired.
void RunQueuedInstanceCommands();
uint32_t QueuedInstanceCommandCount();


}  // namespace VoiceManager
}  // namespace SN
