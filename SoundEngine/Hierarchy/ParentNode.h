// The nodes of the sound hierarchy that hold children (the actor-mixer and every container): the
// children in id order, the rules of who may join, and stop, pause, resume, parameter changes and
// preparation passed down. Threads as the node base: built on the bank thread under
// GlobalAudioLock(), played and told on the audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/PropertyNode.h"

namespace SN {

constexpr uint8_t kHircActorMixerType = 7;
constexpr SNRESULT SN_WrongChildKind = SNRESULT(4);
constexpr SNRESULT SN_TooManyChildren = SNRESULT(9);

// One line of a subtree listing.
struct SnSubtreeEntry {
  uint32_t childId;
  uint32_t parentId;
  uint32_t depth;
};

class CSnParentNode : public CSnPropertyNode {
 public:
  explicit CSnParentNode(uint32_t id) : CSnPropertyNode(id, false) {}
  ~CSnParentNode() override;

  // Joins the child in id order; the child's parent link holds the reference on this node. The
  // caller keeps its own reference on the child.
  SNRESULT AddChild(CSnHierarchyNode* child) override;
  // Only a child whose parent is this node leaves.
  void RemoveChild(CSnHierarchyNode* child) override;
  void RemoveChildById(uint32_t childId);
  // SN_Success, or why the child may not join (SN_ChildAlreadyHasAParent, SN_AlreadyListed,
  // SN_CannotAddItself, SN_Failure for a loop or a tree too deep; containers first SN_TooManyChildren
  // and SN_WrongChildKind).
  virtual SNRESULT MayAddChild(const CSnHierarchyNode* child) const;

  uint32_t LinkedChildCount() const override { return m_children.Count(); }
  const CSnHierarchyNode* LinkedChild(uint32_t index) const override { return m_children[index]; }
  uint16_t ChildCount() const { return uint16_t(m_children.Count()); }
  CSnHierarchyNode* ChildAt(uint32_t index) const { return m_children[index]; }
  // By bisection on the id; null when not a child.
  CSnHierarchyNode* FindChild(uint32_t childId) const;
  // The node of the id with a reference: a child found by bisection, else any loaded node; null
  // when none has it.
  CSnHierarchyNode* FindNodeAndAddRef(uint32_t id) const;
  // Whether a node of the id is loaded (a listed child, else the index's).
  bool NodeLoaded(uint32_t id) const;
  // The node of the id plays or stops for the call: a listed child as it is, since the audio lock the
  // caller holds keeps it listed, any other node with a reference; SN_IdNotFound when none has it.
  SNRESULT PlayNodeOfId(uint32_t id, CSnPlayParams& params) const;
  SNRESULT StopNodeOfId(uint32_t id, CSnRegisteredObj* gameObject, int32_t fadeMs) const;
  // Appends the subtree below this node, depth first, until `count` reaches `capacity`.
  void ListSubtree(SnSubtreeEntry* out, uint32_t capacity, uint32_t& count, uint32_t depth = 0) const;

  // Stop, pause and resume go to the children from the highest id down, and only while something
  // plays below; seeks likewise.
  void ExecuteAction(const SnActionParams& params) override;
  // Only the children that have something playing hear a parameter change.
  void DeliverParameterChange(const SnParamChange& change) override;
  void ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) override;
  // What reaches a parent for the sounds below it goes on to its children with instances playing;
  // positioning and effect bypasses only to those that take them from this parent.
  void DeliverPositioningParameter(float value, uint32_t parameterId, CSnRegisteredObj* gameObject,
                                   const SnInstanceExclusions* exclusions) override;
  void DeliverEffectBypass(CSnRegisteredObj* gameObject, uint32_t values, uint32_t mask,
                           const SnInstanceExclusions* exclusions) override;
  void EffectSlotChanged(uint32_t slot) override;
  void ValuesChanged() override;
  // Every child in order; on the first failure those already prepared are unprepared again.
  SNRESULT PrepareData() override;
  void UnprepareData() override;
  void GatherStreamedSources(SnStreamGather& gather, bool current) const override;

  // The child list of a payload: u32 count, then each child id, added by id. Counts are checked
  // against the bytes left before anything is allocated; SN_Failure past the object's end.
  SNRESULT ReadChildren(const uint8_t*& cursor, const uint8_t* end);
  // A payload that fails after its children joined lets them go, or they would keep the node alive.
  void DropChildren();

 protected:
  bool PlaysBelow() const;
  // The first index whose child id is not below `childId`.
  uint32_t LowerBound(uint32_t childId) const;
  bool IsActiveChild(const CSnHierarchyNode* child) const;

  // `deliver` on every child with instances playing, unless its flags B hold one of `skipFlags`.
  template <class Deliver>
  void ForActiveChildren(uint8_t skipFlags, Deliver deliver) {
    for (uint32_t i = 0; i < m_children.Count(); ++i) {
      CSnHierarchyNode* child = m_children[i];
      if (IsActiveChild(child) && !(child->FlagsB() & skipFlags)) deliver(*child);
    }
  }

  SnArray<CSnHierarchyNode*> m_children;
  // The children's ids in the same order: look-ups bisect them without touching the children.
  SnArray<uint32_t> m_childIds;
};

// Groups sounds and containers to share their properties; never played itself.
class CSnActorMixer final : public CSnParentNode {
 public:
  explicit CSnActorMixer(uint32_t id) : CSnParentNode(id) {}
  uint32_t NodeCategory() const override { return Category_ActorMixer; }
  // The common node parameters, then the child list.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);
  // An actor-mixer plays nothing: 0, and a line that says so.
  SNRESULT PlayNode(CSnPlayParams& params) override;
};

// The base of every container: it fixes which kinds it may hold.
class CSnContainerNode : public CSnParentNode {
 public:
  explicit CSnContainerNode(uint32_t id) : CSnParentNode(id) {}
  SNRESULT MayAddChild(const CSnHierarchyNode* child) const override;
};

}  // namespace SN
