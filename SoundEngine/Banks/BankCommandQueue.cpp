// The one queue of bank commands: its tickets, its nodes and the block they come from.
#include "SoundEngine/Banks/BankCommandQueue.h"

#include <new>

#include "Base/PoisonRegion.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"

namespace SN {

SNRESULT CSnBankCommandQueue::Open() {
  Platform::ReentrantGuard guard(m_lock);
  if (!m_block) {
    void* memory = MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node) * kBlockNodes);
    if (!memory) return SN_InsufficientMemory;
    m_block = static_cast<Node*>(memory);
    for (uint32_t i = 0; i < kBlockNodes; ++i) {
      Node* node = new (&m_block[i]) Node;
      node->from = Node::Block;
      node->next = i + 1 < kBlockNodes ? &m_block[i + 1] : nullptr;
    }
    m_free = m_block;
    // Free nodes stay poisoned until taken.
    Base::PoisonRegion(m_block, sizeof(Node) * kBlockNodes);
  }
  m_open = true;
  return SN_Success;
}

void CSnBankCommandQueue::FreeBlockIfUnused() {
  if (!m_block || m_open || m_count || m_out) return;
  MemoryMgr::Free(g_DefaultPoolId, m_block);
  m_block = nullptr;
  m_free = nullptr;
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::NewNode() {
  Node* node = m_free;
  if (node) {
    Base::UnpoisonRegion(node, sizeof *node);
    m_free = node->next;
    *node = Node{};
    node->from = Node::Block;
    return node;
  }
  void* memory = MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Node));
  return memory ? new (memory) Node : nullptr;
}

void CSnBankCommandQueue::FreeNode(Node* node) {
  if (node->from == Node::Stack) return;
  --m_out;
  if (node->from == Node::Block) {
    node->next = m_free;
    m_free = node;
    Base::PoisonRegion(node, sizeof *node);
  } else {
    MemoryMgr::Free(g_DefaultPoolId, node);
  }
  FreeBlockIfUnused();
}

void CSnBankCommandQueue::Append(Node* node) {
  node->next = nullptr;
  node->ticket = ++m_lastTicket;
  (m_tail ? m_tail->next : m_head) = node;
  m_tail = node;
  ++m_count;
  if (node->caller) {
    ++node->caller->queued;
    ++node->caller->pending;
  }
}

CSnBankCommandQueue::Node* CSnBankCommandQueue::TakeHead() {
  Node* node = m_head;
  if (!node) return nullptr;
  m_head = node->next;
  if (!m_head) m_tail = nullptr;
  --m_count;
  if (node->caller) --node->caller->queued;
  if (node->from != Node::Stack) ++m_out;
  node->taken = true;
  return node;
}

uint32_t CSnBankCommandQueue::Count() {
  Platform::ReentrantGuard guard(m_lock);
  return m_count;
}

}  // namespace SN
