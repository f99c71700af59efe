// Which modulators drive which targets (a subscription, or a modulator driven by other modulators),
// the per-key contexts made for them, and the modulators' frame processing.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnModulatorRegistry {
 public:
  // Targets are subscription addresses or tagged modulator ids, so the two never meet.
  static uint64_t TargetOfSubscription(const void* subscription) { return uint64_t(reinterpret_cast<uintptr_t>(subscription)); }
  static uint64_t TargetOfModulator(uint32_t modulatorId) { return (uint64_t(1) << 63) | modulatorId; }
  static bool IsSubscriptionTarget(uint64_t target) { return (target >> 63) == 0; }

  using ContextVisitor = void (*)(void* context, uint32_t modulatorId, void* cookie);

  SNRESULT Init();
  void Term();
  // What Term of the sound engine does before the voices go: every instance let go, every link dropped.
  void TermContents();

  SNRESULT Attach(uint64_t target, uint32_t modulatorId);
  // An entry left without modulators is dropped.
  void Detach(uint64_t target, uint32_t modulatorId);
  uint32_t CountAttached(uint64_t target) const;
  // Every subscription a curve of which names the modulator (a modulator that arrives after them
  // learns its readers here).
  template <typename Visit>
  void ForEachSubscriptionOf(uint32_t modulatorId, Visit&& visit) const {
    for (const Link* head : m_buckets)
      for (const Link* link = head; link; link = link->next)
        if (IsSubscriptionTarget(link->target) && link->modulators.IndexOf(modulatorId) >= 0)
          visit(reinterpret_cast<void*>(uintptr_t(link->target)));
  }

  // 2 when any context of a modulator that exists could not be made, else 1.
  SNRESULT InstantiateForKey(uint64_t target, const SnRTPCKey& key, ContextVisitor visitor = nullptr,
                             void* cookie = nullptr);
  // Once per audio frame: the modulators' generation and end-of-frame step.
  void ProcessFrame();

 private:
  struct Link {
    uint64_t target;
    SnArray<uint32_t> modulators;
    Link* next;
  };
  static uint32_t BucketOfTarget(uint64_t target) { return uint32_t(target % kIndexBuckets); }
  Link* FindLink(uint64_t target) const;
  SNRESULT Instantiate(uint64_t target, const SnRTPCKey& key, ContextVisitor visitor, void* cookie, uint32_t depth);

  Link* m_buckets[kIndexBuckets] = {};
};

// Null while the sound engine is not initialised.
extern CSnModulatorRegistry* g_pModulatorRegistry;

}  // namespace SN
