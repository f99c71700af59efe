// The hierarchy node base: links, reference counting and teardown, activity, properties, effect
// slots, game-parameter targets and state links.
#include "SoundEngine/Hierarchy/HierarchyNode.h"

#include "Base/Assert.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/PropTransitionSet.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

SnNodeActivity::~SnNodeActivity() {
  for (ObjectEntry& entry : objects) PoolDelete(g_DefaultPoolId, entry.limiter);
}

CSnNodeLimiter::Kind SnNodeActivity::LimiterKindOf(const CSnHierarchyNode* node) {
  return node->IsBus() ? CSnNodeLimiter::Kind_Bus : CSnNodeLimiter::Kind_Node;
}

SnNodeActivity::ObjectEntry* SnNodeActivity::FindObject(CSnRegisteredObj* gameObject) {
  for (ObjectEntry& entry : objects)
    if (entry.gameObject == gameObject) return &entry;
  return nullptr;
}

CSnHierarchyNode::CSnHierarchyNode(uint32_t id, bool isBus)
    : CSnIndexedObject(id, isBus ? SnIndex_Busses : SnIndex_Nodes) {
  if (isBus) m_flagsB |= kIsBus;
}

// ---- teardown ----

void CSnHierarchyNode::BeforeDestroy() {
  EndStateTransitions();
  CSnHierarchyNode* secondary = SecondaryOutput();
  if (m_activity) {
    for (CSnHierarchyNode* up : {m_parent, m_outputBus, secondary})
      if (up) up->RemoveActiveChild(this);
    // Its limiters' links leave the nodes above while they are still linked.
    PoolDelete(g_DefaultPoolId, m_activity);
    m_activity = nullptr;
  }
  if (m_parent) m_parent->RemoveChild(this);
  if (m_outputBus) m_outputBus->RemoveChild(this);
  if (secondary) secondary->RemoveChild(this);
  // The references go last: each may be the one that ends the node above.
  CSnHierarchyNode* held[] = {m_parent, m_outputBus, secondary};
  m_parent = m_outputBus = nullptr;
  if (m_secondaryOutput) *m_secondaryOutput = nullptr;
  for (CSnHierarchyNode* node : held)
    if (node) node->Release();
}

CSnHierarchyNode::~CSnHierarchyNode() {
  m_flagsB |= kDestroyed;
  if (m_fx) PoolDelete(g_DefaultPoolId, m_fx);
  if (m_globalValues) PoolDelete(g_DefaultPoolId, m_globalValues);
  while (CSnStateGroupLink* link = m_stateLinks) {
    m_stateLinks = link->m_pNextLink;
    link->EndTransitions();
    if (g_pStateMgr) g_pStateMgr->UnregisterStateUser(link->GroupId(), link);
    PoolDelete(g_DefaultPoolId, link);
  }
  if (m_secondaryOutput) MemoryMgr::Free(g_DefaultPoolId, m_secondaryOutput);
  if (m_activity) PoolDelete(g_DefaultPoolId, m_activity);
  if (m_spareActivity && m_spareIsRecord)
    PoolDelete(g_DefaultPoolId, static_cast<SnNodeActivity*>(m_spareActivity));
  else if (m_spareActivity)
    MemoryMgr::Free(g_DefaultPoolId, m_spareActivity);
  if (m_targets) {
    const uint64_t mask = m_targets->ParameterMask();
    for (uint32_t parameter = 0; parameter < 64; ++parameter)
      if ((mask & ParameterBit(parameter)) && g_pRTPCMgr) g_pRTPCMgr->RemoveSubscription(RTPCSubscriber(), parameter);
    PoolDelete(g_DefaultPoolId, m_targets);
  }
}

// ---- links ----

// Plays count on the roads up from their node when they start and give the counts back on the roads
// of when they end: a link changing under them (a container loaded later adopting a sound that
// plays) would have them give back counts they never took, and free a limiter another play is in.
// They leave their counts before the change and join them again on the new roads.
bool CSnHierarchyNode::LeaveCountsAbove() const {
  return m_activity && m_activity->playing > 0 && VoiceManager::LeaveCountsThrough(this);
}

// One of the links up (parent, output bus, secondary output) goes to `to`, which it holds; the old one
// is let go only once the plays have joined their counts on the new road.
void CSnHierarchyNode::Relink(CSnHierarchyNode*& link, CSnHierarchyNode* to) {
  if (to == link) return;
  const bool recount = LeaveCountsAbove();
  if (m_activity) m_movedWhileActive = true;
  if (to) to->AddRef();
  CSnHierarchyNode* old = link;
  link = to;
  if (recount) VoiceManager::RejoinCounts();
  if (old) old->Release();
}

void CSnHierarchyNode::SetParent(CSnHierarchyNode* parent) { Relink(m_parent, parent); }

void CSnHierarchyNode::SetOutputBus(CSnHierarchyNode* bus) { Relink(m_outputBus, bus); }

void CSnHierarchyNode::SetSecondaryOutput(CSnHierarchyNode* output) {
  if (!output && !m_secondaryOutput) return;
  if (!m_secondaryOutput) {
    m_secondaryOutput = static_cast<CSnHierarchyNode**>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CSnHierarchyNode*)));
    if (!m_secondaryOutput) return;
    *m_secondaryOutput = nullptr;
  }
  Relink(*m_secondaryOutput, output);
}

SNRESULT CSnHierarchyNode::AddChild(CSnHierarchyNode*) { return SN_Failure; }

SNRESULT CSnHierarchyNode::AddChildById(uint32_t childId) {
  if (childId == 0) return SN_InvalidPoolId;
  if (!g_pObjectIndex) return SN_IdNotFound;
  auto* child = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(childId, false));
  if (!child) return SN_IdNotFound;
  const SNRESULT result = AddChild(child);
  child->Release();
  return result;
}

SNRESULT CSnHierarchyNode::CheckDepthBelow(const CSnHierarchyNode* child) const {
  // The child's level: this node's parents counted up to the top.
  uint32_t level = 0;
  for (const CSnHierarchyNode* node = this; node && level <= kMaxDepth; node = node->m_parent, ++level) {
    if (node == child) {
      SOUND_LOG(Error, "Node %u: it cannot go below node %u, which lies below it", child->ID(), ID());
      return SN_Failure;
    }
  }
  // Then the levels of the child's own subtree, walked with a stack of its own as deep as the bound.
  struct Step {
    const CSnHierarchyNode* node;
    uint32_t next;
  };
  Step path[kMaxDepth + 1];
  uint32_t below = 0;
  path[0] = {child, 0};
  while (level + below <= kMaxDepth) {
    Step& step = path[below];
    if (step.next < step.node->LinkedChildCount()) {
      const CSnHierarchyNode* next = step.node->LinkedChild(step.next++);
      if (next && ++below + level <= kMaxDepth) path[below] = {next, 0};
    } else if (below == 0) {
      return SN_Success;
    } else {
      --below;
    }
  }
  SOUND_LOG(Error, "Node %u: below node %u its nodes would nest more than %u levels deep; it is refused there",
            child->ID(), ID(), kMaxDepth);
  return SN_Failure;
}

// ---- actions ----

SNRESULT CSnHierarchyNode::NotifyActionKind(uint32_t kind, CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms,
                                            uint32_t curve) {
  SnActionParams params;
  params.kind = kind;
  params.gameObject = gameObject;
  params.playingId = playingId;
  params.transitionMs = ms;
  params.fadeCurve = curve;
  ExecuteAction(params);
  return SN_Success;
}

void CSnHierarchyNode::Stop(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms, uint32_t curve) {
  NotifyActionKind(SnActionParams::Stop, gameObject, playingId, ms, curve);
}
void CSnHierarchyNode::Pause(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms, uint32_t curve) {
  NotifyActionKind(SnActionParams::Pause, gameObject, playingId, ms, curve);
}
void CSnHierarchyNode::Resume(CSnRegisteredObj* gameObject, uint32_t playingId, int32_t ms, uint32_t curve) {
  NotifyActionKind(SnActionParams::Resume, gameObject, playingId, ms, curve);
}

void CSnHierarchyNode::PauseOwnTransitions(CSnRegisteredObj* gameObject, bool pause) {
  // The values every object hears are held by the records of every object alone.
  if (gameObject) return;
  if (m_globalValues) m_globalValues->PauseTransitions(pause);
  for (CSnStateGroupLink* link = m_stateLinks; link; link = link->m_pNextLink) link->PauseTransitions(pause);
}

void CSnHierarchyNode::ApplyToOwnTransitions(const SnActionParams& params) {
  if (!params.ownTransitions || params.kind > SnActionParams::Resume) return;
  PauseOwnTransitions(params.gameObject, params.kind == SnActionParams::Pause);
}

void CSnHierarchyNode::ParameterChanged(uint32_t parameterId, const SnRTPCKey& key, float value, bool extraFlag) {
  if (!HandlesParameter(parameterId)) return;
  DeliverParameterChange(SnParamChange{parameterId, key, 0, uint8_t(extraFlag), value});
}

// ---- activity ----

SnNodeActivity* CSnHierarchyNode::EnsureActivity() {
  if (m_activity) return m_activity;
  void* room = m_spareActivity;
  m_spareActivity = nullptr;
  if (m_spareIsRecord) {
    m_spareIsRecord = false;
    auto* kept = static_cast<SnNodeActivity*>(room);
    if (!CSnNodeLimiter::WouldFollow(this, MaxInstances())) {
      // Empty as a new one, it takes the node's settings of now as a new one would.
      CSnPlaybackLimiter& limiter = kept->limiter.Limiter();
      limiter.SetMaximum(MaxInstances());
      limiter.SetOlderFirst(m_flagsA & kLimiterOldestFirst);
      limiter.SetUseVirtualBehaviour(m_flagsA & kLimiterGoVirtual);
      kept->limitsGlobally = m_flagsA & kLimitsGlobally;
      m_activity = kept;
    } else {
      kept->~SnNodeActivity();
    }
  }
  if (!m_activity && !room) room = MemoryMgr::Malign(g_DefaultPoolId, sizeof(SnNodeActivity), alignof(SnNodeActivity));
  if (!m_activity && room)
    m_activity = new (room) SnNodeActivity(this, MaxInstances(), bool(m_flagsA & kLimiterOldestFirst),
                                           bool(m_flagsA & kLimiterGoVirtual), bool(m_flagsA & kLimitsGlobally));
  if (!m_activity) {
    SOUND_LOG(Error, "Node %u: no memory for its activity record", ID());
    return nullptr;
  }
  bool registered = true;
  // Each node above once: a secondary output may be the output bus or the parent as well.
  CSnHierarchyNode* const secondary = SecondaryOutput();
  CSnHierarchyNode* const ups[] = {m_outputBus, secondary != m_outputBus ? secondary : nullptr,
                                   m_parent != m_outputBus && m_parent != secondary ? m_parent : nullptr};
  for (CSnHierarchyNode* up : ups)
    if (up && !up->AddActiveChild(this)) registered = false;
  if (!registered) SOUND_LOG(Error, "Node %u: could not register as active above", ID());
  return m_activity;
}

void CSnHierarchyNode::FreeActivityIfEmpty() {
  if (!m_activity || !m_activity->Empty()) return;
  SnNodeActivity* activity = m_activity;
  m_activity = nullptr;
  if (!m_spareActivity && activity->limiter.Limiter().Count() == 0 && !activity->limiter.FollowsParameter()) {
    // Nothing in it differs from a new record but the settings, which it takes again when it is used.
    m_spareActivity = activity;
    m_spareIsRecord = true;
  } else {
    activity->~SnNodeActivity();
    if (m_spareActivity)
      MemoryMgr::Free(g_DefaultPoolId, activity);
    else
      m_spareActivity = activity;
  }
  CSnHierarchyNode* const secondary = SecondaryOutput();
  if (m_outputBus) m_outputBus->RemoveActiveChild(this);
  if (secondary) secondary->RemoveActiveChild(this);
  if (m_parent) m_parent->RemoveActiveChild(this);
}

bool CSnHierarchyNode::AddActiveChild(CSnHierarchyNode* child) {
  SnNodeActivity* activity = EnsureActivity();
  if (!activity) return false;
  // A child registers when its record is made and leaves when it is freed, so it is not here yet:
  // unless its links moved while it was active and left it in the list of a node it left.
  if (child->m_movedWhileActive && activity->children.IndexOf(child) >= 0) return true;
  return activity->children.Add(child) != nullptr;
}

void CSnHierarchyNode::RemoveActiveChild(CSnHierarchyNode* child) {
  if (!m_activity) return;
  const int32_t index = m_activity->children.IndexOf(child);
  if (index < 0) return;
  m_activity->children.RemoveAt(uint32_t(index));
  FreeActivityIfEmpty();
}

bool CSnHierarchyNode::ActivityUp(uint32_t mask) {
  SnNodeActivity* activity = EnsureActivity();
  if (!activity) return false;
  ++activity->activeChildren;
  bool ok = true;
  if ((mask & 1) && m_outputBus) {
    ok = m_outputBus->ActivityUp(3) && ok;
    mask &= ~1u;
  }
  CSnHierarchyNode* secondary = SecondaryOutput();
  if ((mask & 2) && secondary) {
    ok = secondary->ActivityUp(3) && ok;
    mask &= ~2u;
  }
  if (m_parent) ok = m_parent->ActivityUp(mask) && ok;
  return ok;
}

void CSnHierarchyNode::ActivityDown(uint32_t mask) {
  if (!m_activity || m_activity->activeChildren <= 0) {
    SOUND_LOG(Error, "Node %u: activity down without activity", ID());
    return;
  }
  --m_activity->activeChildren;
  FreeActivityIfEmpty();
  if ((mask & 1) && m_outputBus) {
    m_outputBus->ActivityDown(3);
    mask &= ~1u;
  }
  CSnHierarchyNode* secondary = SecondaryOutput();
  if ((mask & 2) && secondary) {
    secondary->ActivityDown(3);
    mask &= ~2u;
  }
  if (m_parent) m_parent->ActivityDown(mask);
}

// ---- properties ----

int32_t CSnHierarchyNode::IntProperty(uint32_t id) const { return m_properties.GetOr(id, IntPropertyDefault(id)); }

ISnEffectDefinition* CSnHierarchyNode::GetMixerPlugin() const {
  for (const CSnHierarchyNode* node = this; node; node = node->Parent()) {
    if (!node->HasProperty(SnProp_AttachedMixer)) continue;
    const auto id = uint32_t(node->IntProperty(SnProp_AttachedMixer));
    if (id == kNoPlugin) return nullptr;  // this node says "none" for everything below it
    // A shared definition first, as the bus mixers are; else the node's own.
    CSnEffectDefinition* definition = FindEffectDefinition(id, true);
    if (!definition) definition = FindEffectDefinition(id, false);
    return definition ? definition->MixEffect() : nullptr;
  }
  return nullptr;
}

SNRESULT CSnHierarchyNode::SetIntProperty(uint8_t id, int32_t value) {
  if (IntProperty(id) == value) return SN_Success;
  if (m_properties.Set(id, value) != SN_Success) return SN_Failure;
  ValuesChanged();
  return SN_Success;
}

SNRESULT CSnHierarchyNode::SetFloatProperty(uint8_t id, float value) {
  if (FloatProperty(id) == value) return SN_Success;
  if (m_properties.Set(id, value) != SN_Success) return SN_Failure;
  ValuesChanged();
  return SN_Success;
}

const uint8_t* CSnHierarchyNode::ExtendedPropertySlot(uint32_t index) const {
  const int32_t found = m_properties.Find(index + 60);
  return found < 0 ? nullptr : m_properties.ValueAt(uint32_t(found));
}

void CSnHierarchyNode::SetFlagA(uint8_t bit, bool on) {
  const uint8_t old = m_flagsA;
  m_flagsA = uint8_t(on ? m_flagsA | bit : m_flagsA & ~bit);
  if (old == m_flagsA || !m_activity) return;
  // The limiters of the record take the new policy at once.
  auto apply = [&](CSnPlaybackLimiter& limiter) {
    if (bit == kLimiterOldestFirst) limiter.SetOlderFirst(on);
    if (bit == kLimiterGoVirtual) limiter.SetUseVirtualBehaviour(on);
  };
  apply(m_activity->limiter.Limiter());
  for (SnNodeActivity::ObjectEntry& entry : m_activity->objects) apply(entry.limiter->Limiter());
}

void CSnHierarchyNode::SetMaxInstances(uint16_t maximum) {
  m_limits = uint16_t((m_limits & ~kMaxInstancesMask) | (maximum & kMaxInstancesMask));
  if (!m_activity) return;
  m_activity->limiter.Limiter().SetMaximum(MaxInstances());
  for (SnNodeActivity::ObjectEntry& entry : m_activity->objects) entry.limiter->Limiter().SetMaximum(MaxInstances());
}

// ---- game parameters ----

uint64_t CSnHierarchyNode::OverrideMask() const {
  uint64_t mask = 0;
  if ((m_flagsB & kOverridesEffects) || !m_parent) mask |= uint64_t(0x1F) << 24;
  if (m_flagsB & kDerivedOverride) mask |= uint64_t(0xF) << 32;
  if ((m_flagsA & kOverridesPriority) || !m_parent) mask |= ParameterBit(8);
  if (m_flagsB & kHasPositioning)
    mask |= (uint64_t(0x3F) << 10) | ParameterBit(20) | ParameterBit(21) | ParameterBit(37) | ParameterBit(38);
  return mask;
}

float CSnHierarchyNode::CurveValue(uint32_t parameterId, const SnRTPCKey& key) const {
  if (!g_pRTPCMgr) return 0.0f;
  return g_pRTPCMgr->EvaluateSubscription(const_cast<CSnHierarchyNode*>(this)->RTPCSubscriber(), parameterId, key);
}

SNRESULT CSnHierarchyNode::AddCurve(uint32_t rtpcId, uint32_t rtpcType, uint32_t accumulation, uint32_t parameterId,
                                    uint32_t curveId, uint32_t scaling, const SnRTPCGraphPoint* points,
                                    uint32_t pointCount) {
  if (parameterId >= 64) {
    SOUND_LOG(Error, "Node %u: curve for parameter %u, beyond the 64 a node follows", ID(), parameterId);
    return SN_InvalidParameter;
  }
  if (!m_targets) {
    m_targets = PoolNew<CSnRTPCTargetSet>(g_DefaultPoolId);
    if (!m_targets) return SN_Failure;
  }
  if (!g_pRTPCMgr) return SN_Failure;
  const SNRESULT result =
      g_pRTPCMgr->AddCurveSubscription(RTPCSubscriber(), rtpcId, rtpcType, accumulation, parameterId, curveId, scaling,
                                       points, pointCount, SnRTPCKey{}, SnSubscription_Node, m_targets->Count() > 0);
  if (result == SN_Success) {
    const uint64_t bit = ParameterBit(parameterId);
    const bool newBit = !(m_targets->ParameterMask() & bit);
    m_targets->SetParameterMask(m_targets->ParameterMask() | bit);
    if (newBit) ReregisterLinks();
  } else if (m_targets->ParameterMask() == 0 && m_targets->Count() == 0) {
    PoolDelete(g_DefaultPoolId, m_targets);
    m_targets = nullptr;
  }
  return result;
}

void CSnHierarchyNode::RemoveCurve(uint32_t parameterId) {
  if (!HasCurve(parameterId)) return;
  if (g_pRTPCMgr) g_pRTPCMgr->RemoveSubscription(RTPCSubscriber(), parameterId);
  m_targets->SetParameterMask(m_targets->ParameterMask() & ~ParameterBit(parameterId));
  ReregisterLinks();
  if (m_targets->ParameterMask() == 0 && m_targets->Count() == 0) {
    PoolDelete(g_DefaultPoolId, m_targets);
    m_targets = nullptr;
  }
  CurveRemoved(parameterId);
}

void CSnHierarchyNode::ReregisterLinks() {
  for (CSnTargetLink* link = CSnTargetLink::First(); link; link = link->Next())
    if (link->Target()) link->Reattach();
}

void CSnHierarchyNode::AddTarget(CSnTargetLink* link, uint64_t wanted, uint64_t provided, bool forward) {
  const uint64_t overrides = OverrideMask();
  const uint64_t offer = (overrides | SupportedMask()) & wanted;
  if (m_targets) {
    const uint64_t serve = offer & m_targets->ParameterMask() & ~provided;
    const bool hadEntries = m_targets->Count() > 0;
    if (serve) {
      if (m_targets->SetEntry(link, serve) && !hadEntries && g_pRTPCMgr)
        g_pRTPCMgr->ActivateSubscriptions(RTPCSubscriber(), m_targets->ParameterMask());
    } else if (m_targets->RemoveEntry(link) && m_targets->Count() == 0 && g_pRTPCMgr) {
      g_pRTPCMgr->DeactivateSubscriptions(RTPCSubscriber(), m_targets->ParameterMask());
    }
  }
  provided |= overrides;
  if (!(wanted & ~provided)) return;
  if (m_parent) m_parent->AddTarget(link, wanted, provided, forward && !m_outputBus);
  if (forward && m_outputBus) m_outputBus->AddTarget(link, wanted, provided, true);
}

void CSnHierarchyNode::RemoveTarget(CSnTargetLink* link, bool forward) {
  if (m_targets && m_targets->RemoveEntry(link) && m_targets->Count() == 0 && g_pRTPCMgr)
    g_pRTPCMgr->DeactivateSubscriptions(RTPCSubscriber(), m_targets->ParameterMask());
  if (m_parent) m_parent->RemoveTarget(link, forward && !m_outputBus);
  if (forward && m_outputBus) m_outputBus->RemoveTarget(link, true);
}

// The targets to tell, copied first: a target may leave (or end) while it is told. Most changes reach
// a few targets; more go to the default pool.
class SnTargetCopy {
 public:
  ~SnTargetCopy() { m_more.Term(); }
  void Add(CSnTargetLink* link) {
    if (m_count < kLocal)
      m_local[m_count++] = link;
    else if (m_more.Add(link, 16))
      ++m_count;
  }
  uint32_t Count() const { return m_count; }
  CSnTargetLink* operator[](uint32_t i) const { return i < kLocal ? m_local[i] : m_more[i - kLocal]; }

 private:
  static constexpr uint32_t kLocal = 32;
  CSnTargetLink* m_local[kLocal];
  uint32_t m_count = 0;
  SnArray<CSnTargetLink*> m_more;
};

template <typename Tell>
void CSnHierarchyNode::TellCopied(const SnTargetCopy& copy, Tell&& tell) {
  const uint32_t stamp = m_targets->ChangeStamp();
  for (uint32_t i = 0; i < copy.Count(); ++i) {
    CSnTargetLink* link = copy[i];
    // Only after the set changed is each link looked for again.
    if (!m_targets || (m_targets->ChangeStamp() != stamp && !m_targets->HasEntry(link))) continue;
    tell(link);
  }
}

void CSnHierarchyNode::UpdateRTPC(uint32_t parameterId, const SnRTPCKey& key, float value, float delta, const void*) {
  if (!m_targets) return;
  SnTargetCopy copy;
  m_targets->ForEachMatching(parameterId, key, [&](const CSnRTPCTargetSet::Entry& entry) { copy.Add(entry.link); });
  TellCopied(copy, [&](CSnTargetLink* link) { link->SetParamValue(link->ParameterFrom(*this, parameterId), value, delta); });
}

void CSnHierarchyNode::CallEveryTarget() {
  if (!m_targets) return;
  SnTargetCopy copy;
  for (uint32_t i = 0; i < m_targets->Count(); ++i) copy.Add((*m_targets)[i].link);
  TellCopied(copy, [](CSnTargetLink* link) { link->Notify(); });
}

// ---- states ----

CSnStateGroupLink* CSnHierarchyNode::AddStateGroupLink(uint32_t groupId, uint8_t syncType, bool refresh) {
  for (CSnStateGroupLink* link = m_stateLinks; link; link = link->m_pNextLink)
    if (link->GroupId() == groupId) return link;
  if (!g_pStateMgr) return nullptr;
  auto* link = PoolNew<CSnStateGroupLink>(g_DefaultPoolId, this, groupId, syncType);
  if (!link) return nullptr;
  if (g_pStateMgr->RegisterStateUser(groupId, link) != SN_Success) {
    SOUND_LOG(Error, "Node %u: state group %u is not known", ID(), groupId);
    PoolDelete(g_DefaultPoolId, link);
    return nullptr;
  }
  link->m_pNextLink = m_stateLinks;
  m_stateLinks = link;
  link->SetCurrentState(g_pStateMgr->GetCurrentState(groupId));
  if (refresh) RefreshStateValues();
  return link;
}

SNRESULT CSnHierarchyNode::SetStatePropertySet(uint32_t groupId, uint32_t propertySetId, uint32_t stateId,
                                               bool refresh) {
  CSnStateGroupLink* link = AddStateGroupLink(groupId, 0, false);
  if (!link) return SN_InsufficientMemory;
  const SNRESULT result = link->SetStateProperties(propertySetId, stateId);
  // A failed mapping may have dropped the state's old set: the values follow either way.
  if (refresh) RefreshStateValues();
  return result;
}

void CSnHierarchyNode::RefreshStateValues() {
  for (CSnStateGroupLink* link = m_stateLinks; link; link = link->m_pNextLink) link->Refresh();
  ValuesChanged();
}

void CSnHierarchyNode::EndStateTransitions() {
  for (CSnStateGroupLink* link = m_stateLinks; link; link = link->m_pNextLink) link->EndTransitions();
}

bool CSnHierarchyNode::CollectSyncTypes(uint32_t groupId, SnArray<uint32_t>& types) {
  auto visit = [&](CSnHierarchyNode* node) {
    for (CSnStateGroupLink* link = node->m_stateLinks; link; link = link->m_pNextLink) {
      if (link->GroupId() != groupId) continue;
      if (link->SyncType() == 0) {
        types.Term();
        types.Add(0);
        return true;
      }
      if (types.IndexOf(link->SyncType()) < 0) types.Add(link->SyncType());
    }
    return false;
  };
  bool busVisited = false;
  for (CSnHierarchyNode* node = this; node; node = node->m_parent) {
    if (visit(node)) return true;
    if (!busVisited && node->m_outputBus) {
      busVisited = true;
      for (CSnHierarchyNode* bus = node->m_outputBus; bus; bus = bus->m_parent)
        if (visit(bus)) return true;
    }
  }
  return false;
}

// ---- effects ----

SNRESULT CSnHierarchyNode::SetEffectSlot(uint32_t slot, uint32_t effectId, bool shared, int32_t level) {
  if (slot > 3) return SN_InvalidParameter;
  if (!m_fx && !(m_fx = PoolNew<SnNodeFxSlots>(g_DefaultPoolId))) return SN_InsufficientMemory;
  if (level < m_fx->overrideLevel) return SN_Success;
  m_fx->overrideLevel = level;
  SnNodeFxSlots::Slot& entry = m_fx->slots[slot];
  if (entry.effectId == effectId && bool(entry.shared) == shared) return SN_Success;
  entry.effectId = effectId;
  entry.shared = shared;
  ValuesChanged();
  EffectSlotChanged(slot);
  return SN_Success;
}

SNRESULT CSnHierarchyNode::MarkSlotRendered(uint32_t slot, bool rendered) {
  if (slot > 3) return SN_InvalidParameter;
  if (!m_fx && !(m_fx = PoolNew<SnNodeFxSlots>(g_DefaultPoolId))) return SN_InsufficientMemory;
  SnNodeFxSlots::Slot& entry = m_fx->slots[slot];
  entry.rendered = rendered;
  if (rendered && entry.effectId) {
    entry.effectId = 0;
    entry.shared = 0;
    ValuesChanged();
    EffectSlotChanged(slot);
  }
  return SN_Success;
}

void CSnHierarchyNode::SetBypassBits(uint8_t bits, uint8_t mask) {
  if (!m_fx && !(m_fx = PoolNew<SnNodeFxSlots>(g_DefaultPoolId))) return;
  m_fx->bypass = uint8_t((m_fx->bypass & ~mask) | (bits & mask));
  BypassChanged();
}

// ---- value sets and preparation ----

CSnPropTransitionSet* CSnHierarchyNode::EnsureGlobalValueSet(ISnPropTransitionOwner* owner) {
  if (m_globalValues) return m_globalValues;
  auto* set = PoolNew<CSnPropTransitionSet>(g_DefaultPoolId, owner, nullptr);
  if (!set) return nullptr;
  if (g_pRegistryMgr && !g_pRegistryMgr->AddModifiedNode(SnNodeKey{ID(), IsBus()})) {
    PoolDelete(g_DefaultPoolId, set);
    return nullptr;
  }
  return m_globalValues = set;
}

SNRESULT CSnHierarchyNode::PrepareNodeData(uint32_t id) {
  auto* node = g_pObjectIndex ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(id, false)) : nullptr;
  if (!node) return SN_Failure;
  const SNRESULT result = node->PrepareData();
  if (result != SN_Success) node->Release();
  return result;
}

void CSnHierarchyNode::UnprepareNodeData(uint32_t id) {
  auto* node = g_pObjectIndex ? static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(id, false)) : nullptr;
  if (!node) return;
  node->UnprepareData();
  node->Release();  // the look-up's
  node->Release();  // the one preparation kept
}

}  // namespace SN
