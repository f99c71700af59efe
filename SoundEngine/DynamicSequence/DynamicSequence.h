// A dynamic sequence: a playlist of audio nodes the game fills and edits while it plays, each item
// played after the one before it ends, on one game object under one playing id. Kept in the object
// index's list of dynamic sequences. Its playlist is guarded by its own lock; everything else is
// touched on the audio thread only (the play state is read by the game's unlock as well).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/DynamicSequence/SequenceReceiver.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnRegisteredObj;

// Node 0 is a placeholder: it plays nothing and only calls back as ended.
struct SnPlaylistItem {
  uint32_t audioNodeId;
  uint32_t delayMs;
  void* customInfo;  // returned in the item's callbacks
};

// The game's playlist, edited between LockPlaylist and UnlockPlaylist.
class SnDynamicPlaylist {
 public:
  uint32_t Count() const { return m_items.Count(); }
  // Null past the end.
  SnPlaylistItem* ItemAt(uint32_t index) { return index < m_items.Count() ? &m_items[index] : nullptr; }
  // False when there is no room.
  bool Enqueue(uint32_t audioNodeId, uint32_t delayMs = 0, void* customInfo = nullptr) {
    return m_items.Add({audioNodeId, delayMs, customInfo}, 4) != nullptr;
  }
  // False past the end or when there is no room.
  bool Insert(uint32_t index, uint32_t audioNodeId, uint32_t delayMs = 0, void* customInfo = nullptr) {
    return m_items.InsertAt(index, {audioNodeId, delayMs, customInfo}) != nullptr;
  }
  bool Remove(uint32_t index) {
    if (index >= m_items.Count()) return false;
    m_items.RemoveAt(index);
    return true;
  }
  void RemoveAll() { m_items.Term(); }

 private:
  SnArray<SnPlaylistItem> m_items;
};

enum SnSequenceState : uint32_t {
  SnSequenceState_Stopped = 0,
  SnSequenceState_Playing = 1,
  SnSequenceState_Waiting = 2,  // playing, but the playlist ran empty
};

// Actions aimed at every playing sound that reach sequences too.
enum SnGlobalAction : uint32_t {
  SnGlobalAction_Stop = 0,
  SnGlobalAction_Pause = 1,
  SnGlobalAction_Resume = 2,
};

class CSnDynamicSequence final : public CSnIndexedObject {
 public:
  enum Type : uint32_t {
    Type_SampleAccurate = 0,  // items continue one performance (a continuity id)
    Type_NormalTransition = 1,
  };

  // In the index under the playing id, with the one reference the game's Close gives back; null
  // when out of memory. Any thread.
  static CSnDynamicSequence* Create(uint32_t playingId, uint32_t type);

  // Game thread: the playlist, locked until UnlockPlaylist on the same thread. An unlock that pairs
  // with no lock of this thread is refused (false) and changes nothing; else `waiting` says whether
  // the sequence waits for items. Unless `mayWait` (on the engine's own threads, where the holder
  // may be waiting for this very thread), a playlist another thread holds is refused: null.
  SnDynamicPlaylist* LockPlaylist(bool mayWait = true);
  bool UnlockPlaylist(bool& waiting);
  bool IsClosed() const { return m_closed.load(); }
  // Any thread: from now on the game's commands are refused.
  void MarkClosed() { m_closed = true; }
  SnSequenceState State() const { return SnSequenceState(m_state.load()); }
  uint32_t PauseCount() const { return m_pauseCount; }

  // Audio thread (the queued messages).
  void Bind(CSnRegisteredObj* gameObject);
  void RunCommand(SnSequenceCommand command, int32_t fadeMs, uint32_t curve);
  void ApplyGlobalAction(SnGlobalAction action, CSnRegisteredObj* gameObject);
  // Audio thread, by the playback instance as its item ends: the next item becomes the current one
  // and a new next one is taken; its node id (0: none), delay and custom info.
  uint32_t GetNextToPlay(uint32_t& delayMs, void*& customInfo);

  // Audio thread: every sequence of the index (a game object of null: all of them).
  static void ApplyGlobalActionToAll(SnGlobalAction action, CSnRegisteredObj* gameObject);
  // At Term: a sequence whose Close was not handled (never sent, or still queued) gives back its
  // playing id's count and the game's reference.
  void ReleaseAtTerm() override;

  CSnDynamicSequence(uint32_t playingId, uint32_t type)
      : CSnIndexedObject(playingId, SnIndex_DynamicSequences), m_type(type) {}

 private:
  void BeforeDestroy() override;

  void Play(int32_t fadeMs, uint32_t curve);
  void Pause(int32_t fadeMs, uint32_t curve);
  void Resume(int32_t fadeMs, uint32_t curve);
  void Stop(int32_t fadeMs, uint32_t curve);
  void Break();
  void Close();
  // The game's reference and the count it keeps on the playing id, given back once: by the handled
  // Close or at Term.
  void GiveBackGameReference();
  // Under the playlist lock: placeholders call back at once; no item leaves the sequence waiting. The
  // pass never waits for the lock: a game thread holding it may be waiting for the pass. A playlist
  // held elsewhere leaves the sequence waiting too, and the holder's unlock wakes it.
  void TakeNext();
  SNRESULT PlayItem(const SnPlaylistItem& item, int32_t fadeMs, uint32_t curve);
  void ActOnItems(bool current, bool next, uint32_t action, int32_t fadeMs, uint32_t curve);
  void ItemEnded(const SnPlaylistItem& item);

  SnDynamicPlaylist m_playlist;
  Platform::ReentrantLock m_playlistLock;
  std::atomic<uint32_t> m_state{SnSequenceState_Stopped};
  CSnRegisteredObj* m_gameObject = nullptr;  // one reference
  uint32_t m_type;
  SnPlaylistItem m_current{};
  SnPlaylistItem m_next{};
  uint32_t m_pauseCount = 0;
  uint32_t m_continuityId = 0;
  std::atomic<bool> m_closed{false};  // the game's commands are refused
  std::atomic<bool> m_gameReferenceGiven{false};
  // The thread that holds the playlist through LockPlaylist, and how many times; the depth is
  // touched only by that thread while it holds the lock.
  std::atomic<std::thread::id> m_playlistOwner{};
  uint32_t m_playlistDepth = 0;
};

// Init puts the engine's receiver of the sequence messages in its slot when the slot is empty; Term
// takes it out again.
void InstallSequenceReceiver();
void RemoveSequenceReceiver();

}  // namespace SN
