// MIDI event targets and their timed queue.
#include "SoundEngine/Midi/MidiEventTarget.h"

#include "Base/Assert.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnMidiEventTarget::CSnMidiEventTarget(uint32_t id, CSnRegisteredObj* gameObject, uint32_t playingId,
                                       CSnIndexedObject* node)
    : m_id(id), m_pGameObject(gameObject), m_playingId(playingId), m_pNode(node) {
  if (m_pGameObject) m_pGameObject->AddRef();
  if (m_pNode) m_pNode->AddRef();
}

CSnMidiEventTarget::~CSnMidiEventTarget() {
  if (m_pNode) m_pNode->Release();
  if (m_pGameObject) m_pGameObject->Release();
}

CSnMidiEventTarget* CSnMidiEventTarget::Create(uint32_t id, CSnRegisteredObj* gameObject, uint32_t playingId,
                                               CSnIndexedObject* node) {
  return PoolNew<CSnMidiEventTarget>(g_DefaultPoolId, id, gameObject, playingId, node);
}

void CSnMidiEventTarget::Release() {
  ORV_ASSERT(m_pending > 0);
  if (--m_pending == 0) Destroy();
}

void CSnMidiEventTarget::Destroy() { PoolDelete(g_DefaultPoolId, this); }

void CSnMidiEventTarget::QueueEvent(SnMidiEventQueue& queue, const SnMidiEvent& event, uint32_t frameOffset,
                                    uint32_t value, bool flagA, bool flagB) {
  if (event.type < 0x80 || event.type >= 0xF0 || m_closed) return;
  auto* node = PoolNew<SnMidiEventNode>(g_DefaultPoolId);
  if (!node) return;
  node->target = this;
  node->event = event;
  node->frameOffset = frameOffset;
  node->word = (flagB ? SnMidiEventNode::kFlagB : 0u) | (flagA ? SnMidiEventNode::kFlagA : 0u) | (value & 0x3FFFFFFFu);
  node->next = nullptr;
  ++m_pending;
  // Messages mostly come in time order: one later than the queue's last goes straight to its end. (The
  // tail is only read while the queue holds nodes: a queue being drained clears it when it empties.)
  if (queue.head && queue.tail && queue.tail->frameOffset < frameOffset) {
    queue.tail->next = node;
    queue.tail = node;
    return;
  }
  SnMidiEventNode* before = nullptr;
  SnMidiEventNode* at = queue.head;
  while (at) {
    if (at->frameOffset > frameOffset) break;
    if (at->frameOffset == frameOffset && ((at->FlagA() && !flagA) || (!at->FlagB() && flagB))) break;
    before = at;
    at = at->next;
  }
  node->next = at;
  if (before) before->next = node; else queue.head = node;
  if (!at) queue.tail = node;
}

}  // namespace SN
