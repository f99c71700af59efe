// A dialogue event (bank object type 15): its decision tree, kept in the object index's list of
// dialogue events, and the reader of its bank payload.
#pragma once

#include <cstdint>

#include "SoundEngine/DynamicDialogue/ArgumentPathTree.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

constexpr uint8_t kHircDialogueEventType = 15;

class CSnDialogueEvent final : public CSnIndexedObject {
 public:
  explicit CSnDialogueEvent(uint32_t id) : CSnIndexedObject(id, SnIndex_DialogueEvents) {}

  // Payload: id, probability (u8), depth d (u32), 5 x d bytes of argument data, tree size (u32),
  // mode (u8), the nodes. SN_Failure when the tree lies past the payload or fails its checks.
  SNRESULT ReadFromBank(const uint8_t* payload, uint32_t size);
  const CSnArgumentPathTree& Tree() const { return m_tree; }

 private:
  CSnArgumentPathTree m_tree;
};

// The bank manager's maker of type-15 objects: the event read whole, not yet in the index.
SNRESULT ReadDialogueEventPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object);

}  // namespace SN
