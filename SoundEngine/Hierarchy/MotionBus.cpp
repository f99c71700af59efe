// Motion buses: the secondary output their children's motion plays go to, the default motion bus
// that takes the plays of nodes naming none, and the run-time changes their motion voices take. The
// default is held without a reference (a bus that goes clears it) under the bus list's lock.
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/NodeIdList.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {
namespace {

CSnBusNode*& DefaultSlot() {
  static CSnBusNode* bus = nullptr;
  return bus;
}

// The bus list's lock, or none before the index exists (then nothing else can see a bus).
struct BusListGuard {
  BusListGuard() : lock(g_pObjectIndex ? &g_pObjectIndex->GetNodeList(true).Lock() : nullptr) {
    if (lock) lock->lock();
  }
  ~BusListGuard() {
    if (lock) lock->unlock();
  }
  BusListGuard(const BusListGuard&) = delete;
  BusListGuard& operator=(const BusListGuard&) = delete;
  Platform::ReentrantLock* lock;
};

}  // namespace

void CSnBusNode::BecomeDefaultMotionBus() {
  BusListGuard guard;
  if (!DefaultSlot()) DefaultSlot() = this;
}

void CSnBusNode::LeaveDefaultMotionBus() {
  BusListGuard guard;
  if (DefaultSlot() == this) DefaultSlot() = nullptr;
}

CSnBusNode* CSnBusNode::DefaultMotionBus() {
  BusListGuard guard;
  CSnBusNode* bus = DefaultSlot();
  if (bus) bus->AddRef();
  return bus;
}

CSnBusNode* CSnBusNode::TakeDefaultMotionBus() {
  BusListGuard guard;
  CSnBusNode* bus = DefaultSlot();
  if (bus) bus->AddRef();
  DefaultSlot() = nullptr;
  return bus;
}

void CSnBusNode::RestoreDefaultMotionBus(CSnBusNode* bus) {
  BusListGuard guard;
  if (!DefaultSlot() && bus) DefaultSlot() = bus;
}

namespace {
CSnHierarchyNode* NearestMotionOutput(const CSnHierarchyNode* node) {
  for (; node; node = node->Parent()) {
    CSnHierarchyNode* output = node->SecondaryOutput();
    if (output && output->IsBus()) return output;
  }
  return nullptr;
}
}  // namespace

CSnBusNode* CSnBusNode::MotionBusFor(const CSnHierarchyNode* node) {
  if (CSnHierarchyNode* output = NearestMotionOutput(node)) {
    output->AddRef();
    return static_cast<CSnBusNode*>(output);
  }
  return DefaultMotionBus();
}

void CSnBusNode::TellMotionVoices() {
  for (CSnPlaybackInstance* instance = VoiceManager::FirstActiveInstance(); instance;
       instance = instance->m_pNextActive) {
    if (!instance->IsMotion() && !instance->MotionContext()) continue;
    CSnBusNode* bus = MotionBusFor(instance->Node());
    for (const CSnHierarchyNode* above = bus; above; above = above->Parent()) {
      if (above != this) continue;
      instance->NodeValuesChanged();
      break;
    }
    if (bus) bus->Release();
  }
}

bool CSnBusNode::HasMotionOutput(const CSnHierarchyNode* node) { return NearestMotionOutput(node) != nullptr; }

ISnMixBusNode* CSnBusNode::MotionMixNodeFor(const CSnHierarchyNode* node, ISnBusNodeDirectory& directory) {
  CSnBusNode* bus = MotionBusFor(node);
  if (!bus) return nullptr;
  ISnMixBusNode* mixNode = directory.FindBusNode(bus->ID());
  bus->Release();
  return mixNode;
}

SNRESULT CSnBusNode::CanAddMotionChild(CSnHierarchyNode* child) const {
  if (child->IsBus()) {
    if (m_childBuses.IndexOf(static_cast<CSnBusNode*>(child)) >= 0) return SN_AlreadyListed;
    if (child == this) return SN_CannotAddItself;
    // A motion bus's child buses keep the parent rule of every bus.
    if (child->Parent() && child->Parent() != this) return SN_ChildAlreadyHasAParent;
    return SN_Success;
  }
  // Another output a node has does not refuse it: a motion bus is a second road beside it.
  return m_children.IndexOf(child) >= 0 ? SN_AlreadyListed : SN_Success;
}

SNRESULT CSnBusNode::AddMotionChild(CSnHierarchyNode* child) {
  const SNRESULT inserted = InsertById(m_children, child);
  if (inserted != SN_Success) return inserted;
  // The child's secondary-output link holds the reference on this bus.
  child->SetSecondaryOutput(this);
  if (child->SecondaryOutput() == this) return SN_Success;
  RemoveFrom(m_children, child);  // no memory for the child's link
  return SN_Failure;
}

void CSnBusNode::RemoveMotionChild(CSnHierarchyNode* child) {
  if (child->SecondaryOutput() != this) return;
  RemoveFrom(m_children, child);
}

}  // namespace SN
