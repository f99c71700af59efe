// The game objects the game registered: positions, listeners, aux sends, obstruction and occlusion,
// the switch values switching nodes keep per object, and the positioning update that publishes the
// built-in game parameters. Audio thread only, but for the order the game's registrations are
// posted in and what they will find (any thread, under its own lock).
#pragma once

#include <cstdint>
#include <mutex>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/SortedU32Array.h"
#include "SoundEngine/IdHashTable.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"
#include "SoundEngine/Messages.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

constexpr uint32_t kMaxGameObjectAuxSends = 4;

struct SnNodeSwitchState {
  uint32_t nodeId;
  uint32_t switchId;
  uint32_t extra;
};

struct SnSwitchPair {
  uint32_t switchId;
  uint32_t extra;
};

class CSnRegisteredObj {
 public:
  static constexpr uint32_t kRefMask = 0x3FFFFFFFu;
  static constexpr uint32_t kDirtyBit = 0x40000000u;

  explicit CSnRegisteredObj(uint32_t id) : m_id(id) {}
  ~CSnRegisteredObj();
  CSnRegisteredObj(const CSnRegisteredObj&) = delete;
  CSnRegisteredObj& operator=(const CSnRegisteredObj&) = delete;

  void AddRef() { m_flags = (m_flags & ~kRefMask) | ((m_flags + 1) & kRefMask); }
  // The holder that brings the count to 0 destroys and frees the object.
  void Release();
  uint32_t RefCount() const { return m_flags & kRefMask; }
  bool IsDirty() const { return (m_flags & kDirtyBit) != 0; }
  void SetDirty() { m_flags |= kDirtyBit; }

  uint32_t ID() const { return m_id; }
  const SnPositionBlock& Positions() const { return m_positions; }
  uint8_t ListenerMask() const { return m_positions.listenerMask; }
  const SnAuxSendValue& AuxSend(uint32_t slot) const { return m_auxSends[slot]; }
  uint8_t Obstruction(uint32_t listener) const { return m_obstruction[listener]; }
  uint8_t Occlusion(uint32_t listener) const { return m_occlusion[listener]; }
  float OutputBusVolume() const { return m_outputBusVolume; }
  float AttenuationScaling() const { return m_attenuationScaling; }
  const SnArray<SnEmitterListenerRay>& Rays() const { return m_rays; }

  SnSwitchPair GetNodeSwitchState(uint32_t nodeId) const;
  SNRESULT SetNodeSwitchState(uint32_t nodeId, SnSwitchPair pair);
  void ClearNodeSwitchState(uint32_t nodeId);
  SNRESULT AddModifiedNode(const SnNodeKey& node);
  uint32_t CountEmitterListenerRays(uint32_t mask) const;
  // Rebuilds the rays and publishes the nearest one, when the positioning is dirty.
  void UpdatePositioning();

  // Pending-action records of this object in the audio manager's lists: a removal or pause for an
  // object with none has nothing to walk.
  uint32_t PendingActionCount() const { return m_pendingActions; }
  void CountPendingAction(bool linked) { m_pendingActions = linked ? m_pendingActions + 1 : m_pendingActions - 1; }

  // Ids of game parameters and modulators holding values keyed by this object.
  SnSortedU32Array& ModulatorIds() { return m_modulators; }
  SnSortedU32Array& ParameterIds() { return m_parameters; }

 private:
  friend class CSnRegistryMgr;

  SnSortedU32Array m_modulators;
  SnSortedU32Array m_parameters;
  SnPooledList<SnNodeKey>* m_pModifiedNodes = nullptr;
  SnPositionBlock m_positions;
  SnAuxSendValue m_auxSends[kMaxGameObjectAuxSends] = {};
  SnArray<SnNodeSwitchState> m_switchStates;
  uint8_t m_obstruction[kMaxListeners] = {};
  uint8_t m_occlusion[kMaxListeners] = {};
  float m_outputBusVolume = 1.0f;
  float m_attenuationScaling = 1.0f;
  SnArray<SnEmitterListenerRay> m_rays;
  uint32_t m_id;
  uint32_t m_flags = 1 | kDirtyBit;
  uint32_t m_pendingActions = 0;
};

// The memory of one new registered object and its entry, both or neither: the game's call takes it,
// so that the pass that registers the object cannot fail for memory.
struct SnObjectMemory {
  void* object = nullptr;
  void* entry = nullptr;
};

class CSnRegistryMgr {
 public:
  SNRESULT Init();
  void Term();

  // Any thread: only the default pool is touched, and it locks itself.
  static SnObjectMemory ReserveObjectMemory();
  static void FreeObjectMemory(const SnObjectMemory& memory);
  // Any thread. The game's registrations and unregistrations are posted holding PostOrder()
  // (ApiQueue::PostInOrder), so they reach the pass in the order they took it, and under it the
  // registry is known as the pass will find it once it has handled every one posted so far. Taken
  // inside the audio lock (a pass's post) and never held across a wait: only the default pool's lock
  // is taken under it.
  std::mutex& PostOrder() { return m_postOrder; }
  // Under PostOrder(), as a registration is posted: true when the object will be registered by then
  // (`memory` empty: its message only sets the listener mask), or when `memory` now holds what a new
  // one needs; false, nothing taken, when the pool has none.
  bool NoteRegistration(uint32_t id, SnObjectMemory& memory);
  // Under PostOrder(), as an unregistration of the object (or of every one, for 0xFFFFFFFF) is posted.
  void NoteUnregistration(uint32_t id);
  // Registers the object, or sets the listeners of the registered one; `memory`, when given, is taken
  // over either way. Null only when none was given and the pool has none.
  CSnRegisteredObj* RegisterGameObj(uint32_t id, uint32_t listenerMask, SnObjectMemory memory = {});
  void UnregisterGameObj(uint32_t id);
  void UnregisterAllGameObj();
  SNRESULT SetActiveListeners(uint32_t id, uint32_t mask);
  SNRESULT SetPosition(uint32_t id, const SnSoundPosition& position);
  SNRESULT SetMultiplePositions(uint32_t id, const SnSoundPosition* positions, uint16_t count, uint8_t type);
  SNRESULT SetGameObjectAuxSendValues(uint32_t id, const SnAuxSendValue* values, uint32_t count);
  SNRESULT SetObjectObstructionAndOcclusion(uint32_t id, uint32_t listener, float obstruction, float occlusion);
  SNRESULT SetGameObjectOutputBusVolume(uint32_t id, float volume);
  SNRESULT SetAttenuationScalingFactor(uint32_t id, float factor);

  CSnRegisteredObj* GetObjAndAddref(uint32_t id);
  // Registered objects only, no reference added.
  CSnRegisteredObj* Find(uint32_t id);
  void FlagObjectsForListeners(uint32_t mask);
  SnPooledList<SnNodeKey>::Item* AddModifiedNode(const SnNodeKey& node);
  // From one object, or from every registered object when `object` is null.
  void ClearNodeSwitchState(uint32_t nodeId, CSnRegisteredObj* object);
  void UpdateFrame();

  uint32_t RegisteredCount() const { return m_objects.Count(); }
  uint32_t UnregisteredReferencedCount() const { return m_unregisteredReferenced.Count(); }

 private:
  friend class CSnRegisteredObj;
  void Unregister(SnIdHashTable193<CSnRegisteredObj*>::Iterator it);
  // An object still held (by a voice, a pending action) keeps its position updates while it is.
  void KeepWhileHeld(CSnRegisteredObj* object, const char* caller);
  void ForgetUnregistered(CSnRegisteredObj* object);

  SnPooledList<SnNodeKey> m_modifiedNodes;
  SnIdHashTable193<CSnRegisteredObj*> m_objects;
  SnArray<CSnRegisteredObj*> m_unregisteredReferenced;
  std::mutex m_postOrder;
  // The ids registered once every registration and unregistration posted is handled (not object 0).
  SnIdHashTable193<bool> m_posted;
};

// Null before initialisation and after termination.
extern CSnRegistryMgr* g_pRegistryMgr;

}  // namespace SN
