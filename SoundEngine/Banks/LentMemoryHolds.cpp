// The holds of lent memory and the answers waiting for them.
#include "SoundEngine/Banks/LentMemoryHolds.h"

#include "Base/Assert.h"

namespace SN {
namespace {

// The uses this thread took of readers outside an audio pass and has not given back. A thread keeps
// few at a time; past the table they are only counted, and then any reader may be one of them.
struct OwnReaderUse {
  const CSnLentMemoryHolds::Hold* hold;
  int32_t count;
};
constexpr uint32_t kOwnReaderSlots = 16;
thread_local OwnReaderUse t_ownReaderUses[kOwnReaderSlots] = {};
thread_local int32_t t_ownReaderUsesBeyond = 0;

int32_t OwnReaderUses(const CSnLentMemoryHolds::Hold& hold) {
  int32_t count = t_ownReaderUsesBeyond;
  for (const OwnReaderUse& use : t_ownReaderUses)
    if (use.hold == &hold) count += use.count;
  return count;
}

}  // namespace

void CSnLentMemoryHolds::NoteOwnUse(const Hold& hold, int32_t change) {
  OwnReaderUse* free = nullptr;
  for (OwnReaderUse& use : t_ownReaderUses) {
    if (use.hold == &hold) {
      // Given back on another thread, or taken inside a pass: never below none.
      if (change > 0 || use.count > 0) use.count += change;
      if (!use.count) use.hold = nullptr;
      return;
    }
    if (!use.hold && !free) free = &use;
  }
  if (change < 0) {
    if (t_ownReaderUsesBeyond > 0) --t_ownReaderUsesBeyond;
  } else if (free) {
    *free = OwnReaderUse{&hold, change};
  } else {
    t_ownReaderUsesBeyond += change;
  }
}

bool CSnLentMemoryHolds::Counts(const Answer::Selection& selection, const Hold& hold) {
  if (hold.m_order > selection.upTo) return false;
  switch (selection.of) {
    case OfKey: return hold.m_key == selection.key;
    case OfBank: return hold.m_bankId == selection.bankId && hold.m_image == selection.image;
    default: return true;
  }
}

void CSnLentMemoryHolds::Begin(Hold& hold, void* owner, const void* key, uint32_t bankId, const void* image,
                               int32_t poolId, const std::atomic<int32_t>* uses) {
  Platform::ReentrantGuard guard(m_lock);
  ORV_ASSERT(!hold.Held());
  hold.m_owner = owner;
  hold.m_key = key;
  hold.m_bankId = bankId;
  hold.m_image = image;
  hold.m_poolId = poolId;
  hold.m_uses = uses;
  hold.m_endHandled = false;
  hold.m_order = ++m_begun;
  hold.m_next = m_holds;
  m_holds = &hold;
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

CSnLentMemoryHolds::Waiting CSnLentMemoryHolds::Progress(const void* waiter) {
  Answer* answer = nullptr;
  {
    Platform::ReentrantGuard guard(m_lock);
    Answer** link = &m_answers;
    while (*link && (*link)->m_waiter != waiter) link = &(*link)->m_next;
    if (!*link) return Waiting::NotYet;
    bool endPending = false, otherReaders = false;
    for (const Hold* hold = m_holds; hold; hold = hold->m_next) {
      if (!Counts((*link)->m_selection, *hold)) continue;
      if (!hold->m_endHandled) {
        endPending = true;
        continue;
      }
      // None left: it is ending on another thread right now.
      const int32_t uses = hold->m_uses->load(std::memory_order_acquire);
      if (uses <= 0 || uses > OwnReaderUses(*hold)) otherReaders = true;
    }
    if (endPending) return Waiting::EndPending;
    if (otherReaders) return Waiting::OtherReaders;
    answer = *link;
    *link = answer->m_next;
    answer->m_next = nullptr;
  }
  answer->Run();
  return Waiting::Answered;
}

}  // namespace SN
