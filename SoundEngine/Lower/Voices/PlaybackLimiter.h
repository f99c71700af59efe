// A limit on the number of instances playing: the instances it counts, sorted by descending
// priority, with its maximum, its tie order and whether it sends instances over the limit to their
// virtual-voice behaviour. The engine-wide limiter and the node limiters are all of this kind.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnPlaybackInstance;
class CSnRegisteredObj;

constexpr SNRESULT SN_PlayAsVirtual = SNRESULT(80);

class CSnPlaybackLimiter {
 public:
  CSnPlaybackLimiter(uint16_t maximum, bool olderFirst, bool useVirtualBehaviour)
      : m_instances(olderFirst), m_maximum(maximum), m_useVirtualBehaviour(useVirtualBehaviour ? 1 : 0) {}
  ~CSnPlaybackLimiter() { Term(); }
  CSnPlaybackLimiter(const CSnPlaybackLimiter&) = delete;
  CSnPlaybackLimiter& operator=(const CSnPlaybackLimiter&) = delete;

  // Frees the array (default pool).
  void Term();

  // Inserts by descending priority; equal priorities by creation order as the tie order says.
  // False when the array cannot grow.
  bool Add(CSnPlaybackInstance* instance);
  // False when the instance is not in the array.
  bool Remove(CSnPlaybackInstance* instance);
  // The instance's priority changed: it moves to its place. A priority that is not finite sorts as 50.
  void PriorityChanged(CSnPlaybackInstance* instance);
  // The tie order changed: the array is sorted again.
  void SetOlderFirst(bool olderFirst);
  bool OlderFirst() const;
  void SetUseVirtualBehaviour(bool use) { m_useVirtualBehaviour = use ? 1 : 0; }

  // May one more instance of priority `newPriority` play? 1 yes (perhaps after `*outGivesWay` was
  // chosen to give way, and killed unless left to the frame's limiter pass), 80 as a virtual
  // voice, 2 no. `gameObject` null: every instance is eligible.
  SNRESULT EnforceForNewInstance(uint16_t maximum, float newPriority, const CSnRegisteredObj* gameObject,
                                 bool newLosesTies, bool useVirtualBehaviour, CSnPlaybackInstance** outGivesWay,
                                 uint8_t stopReason);
  // The frame's pass: instances past the maximum that count are stopped with `stopReason` or sent
  // to their virtual-voice behaviour. A maximum of 0 is no limit. With `capsContinuing` (the
  // engine-wide maximum) an instance that would continue to play goes virtual instead.
  void ApplyLimit(uint8_t stopReason, bool capsContinuing = false);

  uint32_t Count() const { return m_instances.Count(); }
  CSnPlaybackInstance* At(uint32_t index) const { return m_instances[index]; }
  uint16_t Maximum() const { return m_maximum; }
  void SetMaximum(uint16_t maximum) { m_maximum = maximum; }
  bool UsesVirtualBehaviour() const { return m_useVirtualBehaviour != 0; }

  // The frame's limit pass clears the marks of the last one: runs of marked instances seen before it
  // are no longer known to be passed over.
  static void NewLimitPass() { ++LimitPassNumber(); }

  SnPriorityArray<CSnPlaybackInstance> m_instances;  // its order flag: older instances first among equals
  uint16_t m_maximum;
  uint8_t m_useVirtualBehaviour;
  // An instance of a priority that is not finite came in or moved, since the array was last empty.
  bool m_notFinite = false;
  CSnPlaybackLimiter* m_pNextActive = nullptr;  // the voice manager's list of active limiters

 private:
  static uint32_t& LimitPassNumber() {
    static uint32_t number = 0;
    return number;
  }
  // Stopping and limited-this-frame instances stay so until the next limit pass: a run of them that
  // an admission walked over is remembered, and the admissions after it step over it at once, while
  // plays keep coming between two passes. Entries added or removed before it move it; one added
  // inside it, or any reordering, forgets it.
  struct SkippedRun {
    uint32_t start = 0;
    uint32_t length = 0;  // 0: none known
    uint32_t pass = 0;
  };
  bool RunKnown() const { return m_run.length && m_run.pass == LimitPassNumber(); }
  SkippedRun m_run;
};

}  // namespace SN
