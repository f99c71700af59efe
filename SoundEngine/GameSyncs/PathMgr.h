// 3D position paths: a path plays vertex lists for the sounds that use it, lives while it has users
// or holders, and keeps the lists it already played in a shared record.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"

namespace SN {

class CSnRefCountedObject;

// As banks store it.
struct SnPathVertex {
  float position[3];
  uint32_t durationMs;
};
static_assert(sizeof(SnPathVertex) == 16, "a bank vertex");

// One vertex list of a play list, with how far each of its vertices may stray at random.
struct SnPathListItem {
  const SnPathVertex* vertices;
  uint32_t vertexCount;
  float ranges[3] = {};  // along x, z and y
};

// Which lists a path has played, shared between a path and the saved state of its sound.
struct SnPathPlayedList {
  uint32_t refCount;
  uint8_t* played;  // one byte per list
  uint32_t count;
};

SnPathPlayedList* CreatePlayedList(uint32_t listCount);
void AddRefPlayedList(SnPathPlayedList* record);
void ReleasePlayedList(SnPathPlayedList* record);

// Where a sound's paths left off: the next play of the sound goes on from there.
struct SnPathSavedState {
  uint16_t listIndex = 0;
  SnPathPlayedList* playedList = nullptr;  // one reference when not null
};
// Back to the first list with nothing played.
void ResetPathState(SnPathSavedState& state);

constexpr SNRESULT SN_PathNotPlaying = SNRESULT(38);
constexpr SNRESULT SN_PathNotPaused = SNRESULT(39);
constexpr SNRESULT SN_PathUserNotAdded = SNRESULT(40);
constexpr SNRESULT SN_PathUserNotFound = SNRESULT(41);

enum SnPathState : uint32_t { SnPathState_Idle = 0, SnPathState_Playing = 1, SnPathState_Paused = 2 };

class CSnPositionPath {
 public:
  enum Flags : uint8_t { Flag_DontSaveState = 2 };
  static constexpr uint8_t kMaxUsers = 8;

  ~CSnPositionPath();

  // 31 without lists; 2 when the path is not idle. A saved state with a played list makes the path go
  // on from its list.
  SNRESULT SetPlayList(const SnPathListItem* lists, uint32_t listCount, uint32_t modeFlags, uint8_t flags,
                       SnPathSavedState* savedState);
  // Unless the path is told not to, it keeps `savedState` up to date with the list it is on from here:
  // the state must outlive the path's lists.
  SNRESULT PlayFromSavedState(SnPathSavedState* savedState);
  SNRESULT Pause();   // 38 unless playing
  SNRESULT Resume();  // 39 unless paused
  void AssignPlayedList(SnPathPlayedList* record);
  // The object its lists and saved state live in, referenced while the path lives: a path carried on
  // by a holder may outlive the sounds that played it.
  void HoldListsOwner(CSnRefCountedObject* owner);
  void AddHolder() { ++m_holderCount; }
  void Terminate();

  uint32_t State() const { return m_state; }
  bool IsPrepared() const { return m_prepared; }
  SnPathPlayedList* PlayedList() const { return m_pPlayedList; }
  uint16_t ListIndex() const { return m_listIndex; }
  const SnPathListItem* CurrentList() const { return m_pCurrentList; }
  const SnPathListItem* Lists() const { return m_pLists; }
  uint32_t ListCount() const { return m_listCount; }
  uint32_t ModeFlags() const { return m_modeFlags; }
  uint8_t Flags() const { return m_flags; }
  uint8_t HolderCount() const { return m_holderCount; }
  uint8_t UserCount() const { return m_userCount; }
  uint32_t LaunchFrame() const { return m_launchFrame; }

 private:
  friend class CSnPathMgr;
  friend class CSnPathMotion;  // moves the path on through its lists

  // The list moved on: the saved state follows.
  void ListChanged() {
    if (m_pSavedState) m_pSavedState->listIndex = m_listIndex;
  }

  uint32_t m_state = SnPathState_Idle;
  SnPathPlayedList* m_pPlayedList = nullptr;
  uint16_t m_listIndex = 0;
  const SnPathListItem* m_pCurrentList = nullptr;
  uint8_t m_flags = 0;
  uint8_t m_holderCount = 0;
  uint8_t m_userCount = 0;
  SnArray<uint32_t> m_users;
  const SnPathListItem* m_pLists = nullptr;
  uint32_t m_listCount = 0;
  uint32_t m_modeFlags = 0;
  bool m_prepared = false;
  uint32_t m_launchFrame = 0;
  SnPathSavedState* m_pSavedState = nullptr;  // where the path's sound keeps it, not owned
  CSnRefCountedObject* m_pListsOwner = nullptr;
};

class CSnPathMgr {
 public:
  SNRESULT Init(uint32_t maximum);
  void Term();

  CSnPositionPath* CreatePath();
  SNRESULT AddPathUser(CSnPositionPath* path, uint32_t userId);
  SNRESULT RemovePathUser(CSnPositionPath* path, uint32_t userId);
  void ReleasePathHolder(CSnPositionPath* path);
  SNRESULT DeletePath(CSnPositionPath* path);
  void ProcessFrame(uint32_t frame);

  uint32_t Count() const { return m_count; }

 private:
  void DeleteIfUnused(CSnPositionPath* path);

  CSnPositionPath** m_pPaths = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  uint32_t m_maximum = 0;
};

// Null while the sound engine is not initialised.
extern CSnPathMgr* g_pPathMgr;

}  // namespace SN
