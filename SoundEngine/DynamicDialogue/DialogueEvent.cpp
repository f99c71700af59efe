// Reading a dialogue event's payload: every size is checked against the payload in 64 bits before
// the tree is copied.
#include "SoundEngine/DynamicDialogue/DialogueEvent.h"

#include <cstring>

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

SNRESULT CSnDialogueEvent::ReadFromBank(const uint8_t* payload, uint32_t size) {
  SnBankCursor cursor(payload, size);
  uint32_t id = 0, depth = 0, treeSize = 0;
  uint8_t probability = 0, mode = 0;
  const uint8_t* nodes = nullptr;
  bool whole = cursor.Take(id) && cursor.Take(probability) && cursor.Take(depth);
  // The argument data is not used by the resolver; 5 bytes each.
  whole = whole && uint64_t(depth) * 5 <= cursor.Left() && cursor.TakeBytes(depth * 5);
  whole = whole && cursor.Take(treeSize) && cursor.Take(mode);
  whole = whole && (nodes = cursor.TakeBytes(treeSize)) != nullptr;
  if (!whole) {
    SOUND_LOG(Error, "Dialogue event %u: its tree lies past its %u bytes", ID(), size);
    return SN_Failure;
  }
  m_tree.SetProbability(probability);
  m_tree.SetMode(mode);
  const SNRESULT result = m_tree.SetTree(nodes, treeSize, depth);
  if (result != SN_Success) SOUND_LOG(Error, "Dialogue event %u: its tree is refused (%d)", ID(), int(result));
  return result;
}

SNRESULT ReadDialogueEventPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object) {
  uint32_t id = 0;
  if (size < sizeof id) return SN_Failure;
  memcpy(&id, payload, sizeof id);
  auto* event = PoolNew<CSnDialogueEvent>(g_DefaultPoolId, id);
  if (!event) return SN_InsufficientMemory;
  const SNRESULT result = event->ReadFromBank(payload, size);
  if (result != SN_Success) {
    PoolDelete(g_DefaultPoolId, event);  // never in the index
    return result;
  }
  object = event;
  return SN_Success;
}

}  // namespace SN
