// Who still reads memory the game lent, and the answers waiting for it to be free. A bank record that
// leaves the loaded list to end holds what it read of the game's until it reads none of it: the image
// of a bank loaded in place (every record of one image holds it), or else the record itself (its DATA
// block, which may lie in a pool the game named). Its voices, sources and other readers hold the
// record through its use count until then, whoever took them and whichever thread gives them back:
// the record lets go only once its end has read the last of the game's memory. A call that answers
// about the memory (an unload's callback or its waiting caller, a clear) is kept here with the holds
// begun before it that it waits for, and runs once the last of them lets go.
//
// Threads: any. One lock of its own, taken last; no answer runs under it.
#pragma once

#include <cstdint>

#include "Platform/Threading.h"

namespace SN {

class CSnLentMemoryHolds {
 public:
  // A reader's hold, kept in the reader itself.
  class Hold {
   public:
    bool Held() const { return m_order != 0; }

   private:
    friend class CSnLentMemoryHolds;
    Hold* m_next = nullptr;
    void* m_owner = nullptr;
    const void* m_key = nullptr;
    const void* m_image = nullptr;
    uint64_t m_order = 0;  // its number among the holds begun; 0: holds nothing
    uint32_t m_bankId = 0;
    int32_t m_poolId = -1;  // the pool its DATA lies in
    bool m_endHandled = false;
  };

  // An answer about the memory.
  class Answer {
   public:
    virtual ~Answer() = default;
    // Once every hold it waits for has let go, or the engine stops: its last use (it may free itself).
    virtual void Run() = 0;

   private:
    friend class CSnLentMemoryHolds;
    // The holds it waits for: those of a key, of a bank, or all, begun up to a number.
    struct Selection {
      uint8_t of;
      const void* key;
      const void* image;
      uint32_t bankId;
      uint64_t upTo;
    };
    Answer* m_next = nullptr;
    const void* m_waiter = nullptr;
    Selection m_selection{};
    uint32_t m_left = 0;
  };

  CSnLentMemoryHolds() = default;
  CSnLentMemoryHolds(const CSnLentMemoryHolds&) = delete;
  CSnLentMemoryHolds& operator=(const CSnLentMemoryHolds&) = delete;

  // The reader `owner` leaves the loaded list to end: it holds `key` (its image, or itself) until
  // Release.
  void Begin(Hold& hold, void* owner, const void* key, uint32_t bankId, const void* image, int32_t poolId);
  // The reader's end is posted to a pass (its voices' stop, or its last use given back outside a
  // pass), or that pass has run (or the engine stops without it).
  void EndPosted(Hold& hold);
  void EndHandled(Hold& hold);
  // The reader reads nothing of the game's any more. The answers it was the last hold of are handed
  // back, to be run by RunAll with no lock held.
  Answer* Release(Hold& hold);
  static void RunAll(Answer* answers);

  // `answer` (null: none) runs once the holds of `key` begun so far have let go; at once when none holds.
  // `waiter` names a caller waiting for it (see Progress), or is null.
  void AnswerForKey(Answer* answer, const void* key, const void* waiter);
  // The same for the holds of bank `bankId` from `image` (null: not in place) begun so far; false when
  // none holds, and the answer is left to the caller. `poolId` gets the pool of one of them.
  bool AnswerForBank(Answer* answer, uint32_t bankId, const void* image, const void* waiter, int32_t* poolId);
  // The same for every hold begun so far.
  void AnswerForAll(Answer* answer, const void* waiter);

  // The owner of a hold not yet let go, or null (Term ends them).
  void* AnyHolder();

  // Whether the answer `waiter` waits for waits for a pass still to come: the end of one of its
  // holds is posted and not yet handled.
  bool EndPending(const void* waiter);

 private:
  enum Of : uint8_t { OfKey, OfBank, OfAll };
  static bool Counts(const Answer::Selection& selection, const Hold& hold);
  // Under the lock: the answer counts its holds; false when there are none.
  bool Register(Answer* answer, Of of, const void* key, uint32_t bankId, const void* image, const void* waiter,
                int32_t* poolId);

  Platform::ReentrantLock m_lock;
  Hold* m_holds = nullptr;
  Answer* m_answers = nullptr;
  uint64_t m_begun = 0;
};

}  // namespace SN
