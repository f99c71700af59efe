// The holds of lent memory and the answers waiting for them.
#include "SoundEngine/Banks/LentMemoryHolds.h"

#include "Base/Assert.h"

namespace SN {
bool CSnLentMemoryHolds::Counts(const Answer::Selection& selection, const Hold& hold) {
  if (hold.m_order > selection.upTo) return false;
  switch (selection.of) {
    case OfKey: return hold.m_key == selection.key;
    case OfBank: return hold.m_bankId == selection.bankId && hold.m_image == selection.image;
    default: return true;
  }
}

void CSnLentMemoryHolds::Begin(Hold& hold, void* owner, const void* key, uint32_t bankId, const void* image,
                               int32_t poolId) {
  Platform::ReentrantGuard guard(m_lock);
  ORV_ASSERT(!hold.Held());
  hold.m_owner = owner;
  hold.m_key = key;
  hold.m_bankId = bankId;
  hold.m_image = image;
  hold.m_poolId = poolId;
  hold.m_endHandled = false;
  hold.m_order = ++m_begun;
  hold.m_next = m_holds;
  m_holds = &hold;
}

void CSnLentMemoryHolds::EndPosted(Hold& hold) {
  Platform::ReentrantGuard guard(m_lock);
  if (hold.Held()) hold.m_endHandled = false;
}

void CSnLentMemoryHolds::EndHandled(Hold& hold) {
  Platform::ReentrantGuard guard(m_lock);
  if (hold.Held()) hold.m_endHandled = true;
}

CSnLentMemoryHolds::Answer* CSnLentMemoryHolds::Release(Hold& hold) {
  Answer* due = nullptr;
  Answer** dueTail = &due;
  Platform::ReentrantGuard guard(m_lock);
  if (!hold.Held()) return nullptr;
  for (Hold** link = &m_holds; *link; link = &(*link)->m_next) {
    if (*link != &hold) continue;
    *link = hold.m_next;
    break;
  }
  // In the order they were made: an unload's callback before the later caller that joined it.
  for (Answer** link = &m_answers; *link;) {
    Answer* answer = *link;
    if (!Counts(answer->m_selection, hold) || --answer->m_left != 0) {
      link = &answer->m_next;
      continue;
    }
    *link = answer->m_next;
    answer->m_next = nullptr;
    *dueTail = answer;
    dueTail = &answer->m_next;
  }
  hold.m_order = 0;
  hold.m_next = nullptr;
  return due;
}

void CSnLentMemoryHolds::RunAll(Answer* answers) {
  while (Answer* answer = answers) {
    answers = answer->m_next;
    answer->Run();
  }
}

bool CSnLentMemoryHolds::Register(Answer* answer, Of of, const void* key, uint32_t bankId, const void* image,
                                  const void* waiter, int32_t* poolId) {
  Answer::Selection selection{of, key, image, bankId, 0};
  uint32_t left = 0;
  Platform::ReentrantGuard guard(m_lock);
  selection.upTo = m_begun;
  for (const Hold* hold = m_holds; hold; hold = hold->m_next) {
    if (!Counts(selection, *hold)) continue;
    if (poolId && !left) *poolId = hold->m_poolId;
    ++left;
  }
  if (!left || !answer) return left != 0;
  answer->m_selection = selection;
  answer->m_waiter = waiter;
  answer->m_left = left;
  answer->m_next = nullptr;
  Answer** link = &m_answers;
  while (*link) link = &(*link)->m_next;
  *link = answer;
  return true;
}

void CSnLentMemoryHolds::AnswerForKey(Answer* answer, const void* key, const void* waiter) {
  if (!Register(answer, OfKey, key, 0, nullptr, waiter, nullptr) && answer) answer->Run();
}

bool CSnLentMemoryHolds::AnswerForBank(Answer* answer, uint32_t bankId, const void* image, const void* waiter,
                                       int32_t* poolId) {
  return Register(answer, OfBank, nullptr, bankId, image, waiter, poolId);
}

void CSnLentMemoryHolds::AnswerForAll(Answer* answer, const void* waiter) {
  if (!Register(answer, OfAll, nullptr, 0, nullptr, waiter, nullptr) && answer) answer->Run();
}

void* CSnLentMemoryHolds::AnyHolder() {
  Platform::ReentrantGuard guard(m_lock);
  return m_holds ? m_holds->m_owner : nullptr;
}

bool CSnLentMemoryHolds::EndPending(const void* waiter) {
  Platform::ReentrantGuard guard(m_lock);
  const Answer* answer = m_answers;
  while (answer && answer->m_waiter != waiter) answer = answer->m_next;
  if (!answer) return false;
  for (const Hold* hold = m_holds; hold; hold = hold->m_next)
    if (Counts(answer->m_selection, *hold) && !hold->m_endHandled) return true;
  return false;
}

}  // namespace SN
