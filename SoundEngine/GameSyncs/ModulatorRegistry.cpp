// The modulator link table and the per-key instantiation that walks modulators of modulators.
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"

#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnModulatorRegistry* g_pModulatorRegistry = nullptr;

namespace {
// Modulators driving modulators form a tree in banks; a cycle in bad data must not recurse forever.
constexpr uint32_t kMaxModulatorDepth = 16;
}  // namespace

SNRESULT CSnModulatorRegistry::Init() {
  for (Link*& head : m_buckets) head = nullptr;
  return SN_Success;
}

void CSnModulatorRegistry::TermContents() {
  ModulatorObjects::TermContents();
  for (Link*& head : m_buckets) {
    while (Link* link = head) {
      head = link->next;
      // The modulators must not keep subscriptions that outlive this table.
      if (IsSubscriptionTarget(link->target))
        for (uint32_t modulatorId : link->modulators)
          ModulatorObjects::LinkSubscription(modulatorId, reinterpret_cast<void*>(uintptr_t(link->target)), false);
      PoolDelete(g_DefaultPoolId, link);
    }
  }
}

void CSnModulatorRegistry::Term() { TermContents(); }

CSnModulatorRegistry::Link* CSnModulatorRegistry::FindLink(uint64_t target) const {
  for (Link* link = m_buckets[BucketOfTarget(target)]; link; link = link->next)
    if (link->target == target) return link;
  return nullptr;
}

SNRESULT CSnModulatorRegistry::Attach(uint64_t target, uint32_t modulatorId) {
  Link* link = FindLink(target);
  bool created = false;
  if (!link) {
    link = PoolNew<Link>(g_DefaultPoolId);
    if (!link) return SN_InsufficientMemory;
    link->target = target;
    Link*& head = m_buckets[BucketOfTarget(target)];
    link->next = head;
    head = link;
    created = true;
  }
  if (link->modulators.IndexOf(modulatorId) >= 0) return SN_Success;
  if (!link->modulators.Add(modulatorId)) {
    if (created) Detach(target, modulatorId);
    return SN_InsufficientMemory;
  }
  if (IsSubscriptionTarget(target))
    ModulatorObjects::LinkSubscription(modulatorId, reinterpret_cast<void*>(uintptr_t(target)), true);
  return SN_Success;
}

void CSnModulatorRegistry::Detach(uint64_t target, uint32_t modulatorId) {
  Link** slot = &m_buckets[BucketOfTarget(target)];
  for (; *slot; slot = &(*slot)->next) {
    Link* link = *slot;
    if (link->target != target) continue;
    const int32_t index = link->modulators.IndexOf(modulatorId);
    if (index >= 0) {
      link->modulators.RemoveAt(uint32_t(index));
      if (IsSubscriptionTarget(target))
        ModulatorObjects::LinkSubscription(modulatorId, reinterpret_cast<void*>(uintptr_t(target)), false);
    }
    if (link->modulators.Count() == 0) {
      *slot = link->next;
      PoolDelete(g_DefaultPoolId, link);
    }
    return;
  }
}

uint32_t CSnModulatorRegistry::CountAttached(uint64_t target) const {
  const Link* link = FindLink(target);
  return link ? link->modulators.Count() : 0;
}

SNRESULT CSnModulatorRegistry::Instantiate(uint64_t target, const SnRTPCKey& key, ContextVisitor visitor,
                                           void* cookie, uint32_t depth) {
  Link* link = FindLink(target);
  if (!link || depth > kMaxModulatorDepth) return SN_Success;
  SNRESULT result = SN_Success;
  for (uint32_t i = 0; i < link->modulators.Count(); ++i) {
    const uint32_t modulatorId = link->modulators[i];
    void* context = ModulatorObjects::GetOrCreateContext(modulatorId, key);
    if (!context) {
      // A modulator of a bank not loaded (yet) has no context to make and modulates nothing.
      if (ModulatorObjects::Exists(modulatorId)) result = SN_Failure;
      continue;
    }
    if (visitor) visitor(context, modulatorId, cookie);
    if (Instantiate(TargetOfModulator(modulatorId), key, visitor, cookie, depth + 1) != SN_Success) result = SN_Failure;
  }
  return result;
}

SNRESULT CSnModulatorRegistry::InstantiateForKey(uint64_t target, const SnRTPCKey& key, ContextVisitor visitor,
                                                 void* cookie) {
  return Instantiate(target, key, visitor, cookie, 0);
}

void CSnModulatorRegistry::ProcessFrame() {
  // The modulators take their list's lock where they need it: what an ending instance stops must
  // run outside it.
  if (g_pObjectIndex) ModulatorObjects::ProcessFrame();
}

}  // namespace SN
