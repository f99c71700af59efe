// The bank manager: the records of loaded banks and the pair-keyed list they stand in, the media
// table that hands media bytes to playing sources, the bank-name table, and the commands that load
// and unload banks. Every command goes through the one queue of bank commands (BankCommandTurns.h):
// the plain manager runs it in the calling game thread's loop or at a pass's end, the threaded one
// (ThreadedBankManager.h) on the bank thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Threading.h"
#include "SoundEngine/Banks/BankCommandTurns.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/Banks/LentMemoryHolds.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/PendingBankCallbacks.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/IdHashTable.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

constexpr SNRESULT SN_BankNotLoaded = SNRESULT(54);      // an unload of a bank that is not in the list
constexpr SNRESULT SN_BankAlreadyLoaded = SNRESULT(69);  // a second explicit load of the same bank
// The HIRC type of a master or mix bus: a new one clears the master buses before it is made.
constexpr uint8_t kHircMasterBusType = 8;

// SnBankCallback (PendingBankCallbacks.h): (id, image, result, pool id, cookie): the id is the bank's for
// bank commands; the image only for a bank loaded in place; the pool id the command's for loads and
// unloads, else -1.

enum SnBankCommandType : uint32_t {
  SnBankCommand_Load = 0,
  SnBankCommand_Unload = 1,            // extra: with a callback, its answer, carried from the call on
  SnBankCommand_PrepareEvents = 2,      // bankId: count; poolId: the id, or an id array of the pool's
  SnBankCommand_UnprepareEvents = 3,
  SnBankCommand_PrepareGameSyncs = 4,   // sourceKind: group type; bankId: group; image: non-null to prepare;
                                        // imageSize: count; extra: the id, or an id array of the pool's
  SnBankCommand_ClearPreparedEvents = 5,
  SnBankCommand_PrepareBank = 6,        // sourceKind: 1 structure and media, else structure only
  SnBankCommand_UnprepareBank = 7,
  SnBankCommand_ClearBanks = 8,        // extra: a waiting caller's answer, on its stack
  SnBankCommand_ReleaseMedia = 10,
};

enum SnBankSourceKind : uint32_t {
  SnBankSource_Name = 0,     // opened by the name recorded for the bank id
  SnBankSource_Id = 1,       // opened by id
  SnBankSource_InPlace = 2,  // a caller's image whose media stay where they lie
  SnBankSource_Copied = 3,   // a caller's image whose media are copied
};

// The alignment of every media block and bank image the banks keep or copy.
constexpr uint32_t kMediaAlignment = 16;

// What a bank's HIRC objects of one type are made from. Kinds join by type as the engine's object
// classes exist; a type without a kind is passed over by its size.
struct SnHircKind {
  SnIndexList list;
  // Makes the object from its payload (which starts with its id), not yet in the index.
  SNRESULT (*create)(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object);
  // An object already loaded is kept as it is unless this answers true; it is then read again in place.
  bool (*readsAgain)(CSnIndexedObject* object);
  SNRESULT (*readAgain)(CSnIndexedObject* object, const uint8_t* payload, uint32_t size);
};
// Returns the kind it replaces; null removes the type's kind. Actions (type 3), events (type 4) and
// dialogue events (type 15) have theirs from the start.
const SnHircKind* SetHircKind(uint8_t type, const SnHircKind* kind);

// The creation function of a kind whose payload is its id, then what the kind's SetInitialValues
// reads: made in the default pool, not yet in the index. On failure `object` holds what was made,
// for the loader to release.
template <typename Kind, typename... Args>
SNRESULT CreateFromPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& object, Args... args) {
  object = nullptr;
  uint32_t id = 0;
  if (size < sizeof id) return SN_Failure;
  memcpy(&id, payload, sizeof id);
  Kind* made = PoolNew<Kind>(g_DefaultPoolId, id, args...);
  if (!made) return SN_InsufficientMemory;
  object = made;
  return made->SetInitialValues(payload + sizeof id, size - uint32_t(sizeof id));
}

// True for the completion the *Wait calls pass: a caller blocks on it.
bool IsWaitingCallback(SnBankCallback callback);
// A callback counted among the callbacks to come: any but a waiting caller's.
bool CountsCallback(const SnBankCommand& command);
// What a command's callback is told besides its result: the id (its bank's, or its one event's, else
// 0) and the pool id (a load's or an unload's, else -1).
uint32_t CallbackId(const SnBankCommand& command);
int32_t CallbackPoolId(const SnBankCommand& command);

// Marks the calling thread as running a bank callback for the scope's life.
class SnBankCallbackScope {
 public:
  SnBankCallbackScope();
  ~SnBankCallbackScope();
  SnBankCallbackScope(const SnBankCallbackScope&) = delete;
  SnBankCallbackScope& operator=(const SnBankCallbackScope&) = delete;
  static bool InCallbackOnThisThread();
};

// The lock of the loaded-bank list and of every bank record's release; taken after GlobalAudioLock(),
// never before it.
Platform::ReentrantLock& BankListLock();

class CSnEvent;
class CSnSoundBankManager;

// One loaded or prepared bank: its objects, media index and DATA block.
class CSnBankRecord final : public CSnLoadedBank {
 public:
  static constexpr uint8_t kStateUnloading = 0x01;
  static constexpr uint8_t kFlagLoaded = 0x01;
  static constexpr uint8_t kFlagOwnsIndex = 0x02;
  static constexpr uint8_t kFlagMediaPrepared = 0x04;
  // Not a bank: the owner of a copy of media the game set, which its readers hold as they hold a
  // bank, so that taking the copy back asks them to let go as an unload does.
  static constexpr uint8_t kFlagGameMedia = 0x08;

  CSnBankRecord(CSnSoundBankManager& manager, uint32_t bankId, const void* image)
      : m_bankId(bankId), m_image(image), m_manager(&manager) {}
  ~CSnBankRecord() override;

  SNRESULT ReserveObjects(uint32_t count) override;
  SNRESULT LoadObject(uint8_t type, uint32_t size, CSnSoundBankReader& reader) override;
  void AddObject(CSnIndexedObject* object) override;
  SNRESULT LoadMediaIndex(const SnMediaIndexView& index) override;
  SNRESULT LoadMediaData(CSnSoundBankReader& reader, uint32_t size, SnBankLoadMode mode) override;
  SNRESULT AddBankName(uint32_t bankId, const char* name, uint32_t length) override;

  // The pair-keyed list's view of the record.
  uint32_t PairId() const { return m_bankId; }
  const void* PairPointer() const { return m_image; }
  CSnBankRecord*& NextInBucket() { return m_pNextInBucket; }

  uint32_t BankId() const { return m_bankId; }
  bool IsUnloading() const { return m_stateFlags & kStateUnloading; }
  bool IsLoaded() const { return m_bankFlags & kFlagLoaded; }
  bool IsGameMedia() const { return m_bankFlags & kFlagGameMedia; }
  uint32_t ObjectCount() const { return m_objectCount; }
  CSnIndexedObject* Object(uint32_t index) const { return m_objects[index]; }
  uint32_t MediaIndexCount() const { return m_indexCount; }
  const uint8_t* Data() const { return m_pData; }
  uint32_t DataSize() const { return m_dataSize; }
  int32_t UseCount() const { return m_useCount.load(); }
  // The pool a caller gave for the DATA, or -1 for a pool of the bank's own.
  int32_t CallerPoolId() const { return m_ownPool ? kInvalidPoolId : m_poolId; }

 private:
  friend class CSnSoundBankManager;
  SnMediaIndexEntry IndexEntry(uint32_t i) const;
  // Releases every object the bank holds, under the audio lock.
  void ReleaseObjects();
  // Frees the DATA block (and a pool of its own) and an owned index.
  void FreeMedia();
  // The DATA block alone: a prepared bank keeps its index.
  void FreeData();
  SNRESULT ReadMediaEntries(CSnSoundBankReader& reader, uint32_t size);
  // SN_InvalidFile when an index entry lies past the DATA chunk read.
  SNRESULT CheckIndexAgainstData() const;

  uint8_t m_stateFlags = 0;
  uint32_t m_bankId;
  const void* m_image;
  CSnBankRecord* m_pNextInBucket = nullptr;
  uint8_t* m_pData = nullptr;
  const uint8_t* m_pIndex = nullptr;
  uint32_t m_dataSize = 0;
  int32_t m_poolId = kInvalidPoolId;
  uint8_t m_ownPool = 0;
  uint32_t m_indexHandled = 0;
  uint32_t m_indexCount = 0;
  // Its sources in the media table; none may outlive the record.
  uint32_t m_sourcesInTable = 0;
  // What it reads of the game's while it ends, and the answer an unload with a callback gives once that
  // is free: kept from its load on and claimed at the unload's call (under the bank-list lock), so that
  // an unload of a loaded bank never lacks the memory to answer.
  CSnLentMemoryHolds::Hold m_hold;
  CSnLentMemoryHolds::Answer* m_unloadAnswer = nullptr;
  CSnIndexedObject** m_objects = nullptr;
  uint32_t m_objectCount = 0;
  uint32_t m_objectCapacity = 0;
  std::atomic<int32_t> m_useCount{0};
  std::atomic<int32_t> m_refCount{0};
  uint8_t m_bankFlags = 0;
  uint32_t m_preparationCount = 0;
  CSnSoundBankManager* m_manager;
  uint8_t m_sourceKind = 0;
  uint32_t m_typesSaid[8] = {};  // HIRC types without a kind, logged once per load
  bool m_mastersCleared = false;  // this load let go of the earlier master buses
  bool m_dataSeen = false;
  bool m_indexSeen = false;
};

// What GetMedia hands out.
struct SnMediaRef {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  CSnBankRecord* bank = nullptr;  // the bank whose data it is (or the game's copy's owner), or null
};

struct SnMediaItem {
  uint32_t mediaId;
  const void* data;
  uint32_t size;
};

class CSnSoundBankManager : public ISnBankRecordReceiver, public ISnBankCommandRunner {
 public:
  explicit CSnSoundBankManager(bool bankThread = false);
  ~CSnSoundBankManager() override;
  CSnSoundBankManager(const CSnSoundBankManager&) = delete;
  CSnSoundBankManager& operator=(const CSnSoundBankManager&) = delete;

  virtual SNRESULT Init();
  virtual void Term();
  // The command takes its place in the queue. Plain manager, on a game thread: runs in the thread's
  // loop (CSnBankCommandTurns::Call) and returns its result, or 1 when made inside a callback that
  // loop calls and only queued. Inside a pass, or on the audio thread, it never waits for another
  // thread's command (which may be waiting for the pass's lock): kept, 1, it runs after a pass once
  // the commands ahead of it have run; the callback has the outcome. Threaded: 1 once queued. No
  // memory to keep it: 52, and nothing of it is done.
  SNRESULT QueueCommand(const SnBankCommand& command);
  // Through the callbacks to come, so that a cancelled call is not called back; a waiting caller is
  // always told. Inside a command run without the bank thread, the answer is handed to the place that
  // began the command's chain: a game thread, which calls back inside its call, or a pass's end.
  virtual void CallCallback(const SnBankCommand& command, uint32_t id, SNRESULT result, int32_t poolId);
  virtual void StopThread() {}
  // Term's first step, before it waits for the calls inside: the queue refuses calls, and the
  // commands queued go unrun (a caller waiting for one gets SN_Failure; a callback comes where its
  // place's callbacks come, see Drop); a command running ends.
  void CloseQueue();
  // The commands queued and not yet begun.
  uint32_t QueuedCount() { return m_queue.Count(); }
  // No callback of the calls made with the cookie before this starts once it returns; a call made
  // after it calls back. It waits for their callbacks running on other threads, except inside an
  // audio pass, on the audio thread and on the bank thread, where that could wait for this thread.
  virtual void CancelCookie(void* cookie);
  // Whether the calling thread is the bank thread (never, for the plain manager).
  virtual bool IsBankThread() const { return false; }

  SNRESULT LastResult() const { return m_lastResult; }

  // The game's calls, each ending in the command's callback. A name is cut at its last '.'.
  SNRESULT LoadBank(const char* name, SnBankCallback callback, void* cookie, int32_t poolId, uint32_t* bankId);
  SNRESULT LoadBank(uint32_t bankId, SnBankCallback callback, void* cookie, int32_t poolId);
  SNRESULT LoadBankImage(const void* image, uint32_t size, bool copyMedia, SnBankCallback callback, void* cookie,
                         int32_t poolId, uint32_t* bankId);
  SNRESULT UnloadBank(uint32_t bankId, const void* image, SnBankCallback callback, void* cookie);
  SNRESULT ClearBanks(SnBankCallback callback, void* cookie);
  // The same, waiting for the outcome: the load's or unload's own result.
  SNRESULT LoadBankWait(const char* name, int32_t poolId, uint32_t* bankId);
  SNRESULT LoadBankWait(uint32_t bankId, int32_t poolId);
  SNRESULT LoadBankImageWait(const void* image, uint32_t size, bool copyMedia, int32_t poolId, uint32_t* bankId);
  // The unload's result and, through `poolId`, the pool its DATA lay in (-1: a pool of its own). It
  // answers once nothing reads the bank's memory (see WaitForAnswer).
  SNRESULT UnloadBankWait(uint32_t bankId, const void* image, int32_t* poolId = nullptr);

  // Preparation. Id arrays are the caller's; the command keeps a copy of its own.
  SNRESULT PrepareBank(uint32_t bankId, bool withMedia, SnBankCallback callback, void* cookie);
  SNRESULT UnprepareBank(uint32_t bankId, SnBankCallback callback, void* cookie);
  SNRESULT PrepareEvents(bool prepare, const uint32_t* ids, uint32_t count, SnBankCallback callback, void* cookie);
  SNRESULT PrepareGameSyncs(bool prepare, uint32_t groupType, uint32_t groupId, const uint32_t* ids, uint32_t count,
                            SnBankCallback callback, void* cookie);
  SNRESULT ClearPreparedEvents(SnBankCallback callback, void* cookie);
  // Command 10: one reference of a media entry goes; SN_Failure while others remain.
  SNRESULT ReleaseMediaReference(uint32_t mediaId, SnBankCallback callback, void* cookie);
  // Queues the command with a completion that wakes this caller, and waits for its result; refused (2,
  // logged) where the wait would be for this very thread (ThisThread::KeepsBankCalls). A command
  // refused here gives back what it owns.
  SNRESULT QueueAndWait(SnBankCommand command, int32_t* poolId = nullptr);
  // The word a preparation command carries for `count` ids: the one id itself, or a default-pool copy
  // of the array that the command owns from then on. `failed` when the copy cannot be made.
  static uintptr_t CommandIdsWord(const uint32_t* ids, uint32_t count, bool& failed);
  // A node's media (its descriptor's source id, file id, size, language bit and codec): staged while a
  // preparation command runs, loaded at once otherwise. The descriptor's data is not kept.
  SNRESULT PrepareMedia(const CSnSourceDesc& request);
  // A prepared node's media goes. Skipped while a command undoes itself: the references its staged
  // media took are given back by the command, one per request. While a command stages, a node that
  // lets go again (a container's child failed) withdraws its request, which holds no reference yet.
  void UnprepareMedia(uint32_t mediaId);
  uint32_t EventPreparationCount(uint32_t eventId);

  // Any thread; takes the bank lock. A reference to the media, or null. A bank's last one given back
  // outside a pass hands the bank's end to a pass.
  SnMediaRef GetMedia(uint32_t mediaId);
  void ReleaseMedia(uint32_t mediaId, CSnBankRecord* bank);
  // Media the game provides: SN_Failure for a null array or a null or empty item, and then nothing
  // of the call stays.
  SNRESULT SetMedia(const SnMediaItem* items, uint32_t count);
  SNRESULT UnsetMedia(const SnMediaItem* items, uint32_t count);
  uint32_t MediaReferences(uint32_t mediaId);

  // Records `name` (".bnk" included) for the bank id unless one is recorded.
  SNRESULT AddBankFileName(uint32_t bankId, const char* name, uint32_t length);
  SNRESULT NameLoadCommand(const char* caller, const char* name, int32_t poolId, uint32_t* bankId,
                           SnBankCommand& command);
  const char* BankFileName(uint32_t bankId);

  // Any thread, under the bank-list lock: the record of a bank, or null.
  CSnBankRecord* FindBank(uint32_t bankId, const void* image = nullptr);
  uint32_t BankCount();
  uint16_t MotionFlag() const { return m_motionFlag; }
  // While set, loads leave the default motion bus and the master buses as they are.
  void SetKeepBuses(bool keep) { m_keepBuses = keep; }
  SNRESULT SetBankLoadIOSettings(float throughputBytesPerMs, uint8_t priority);

  // Audio thread (message 24), or the caller's when the audio manager cannot take it.
  void FinishBankRecord(CSnLoadedBank* bank) override;
  // An unload message never read (the engine stops): the load's use goes as well.
  void DropBankRecord(CSnLoadedBank* bank) override { FinishBankRecord(bank); }
  // A pass has ended on this thread: the commands kept in passes may run now (see QueueCommand). Not
  // inside a bank callback, which a chain of calls would nest there.
  void AfterPass() override;

 protected:
  // The wait of a waiting call for `done`, its cookie `waiter` (see QueueAndWait). An answer about lent memory
  // comes once nothing reads the memory (CSnLentMemoryHolds). Without the audio thread no other
  // thread may render the pass that handles a bank's end: the caller renders passes itself while an
  // end it waits for is not handled, and so never answers on a pass that stopped short of it. Every
  // use of the bank is waited for, this thread's own too: it gives them back before it waits.
  void WaitForAnswer(Platform::Event& done, const void* waiter);
  // What a command that will not run owns: the id array of a preparation, an unload's answer.
  void FreeCommand(const SnBankCommand& command);

  // The callbacks still to come, one per call, counted when a command is taken: every counted
  // callback is called through here, or withdrawn when its command will not run.
  CSnPendingBankCallbacks m_cookies;
  // Every bank command, in the order of the calls.
  CSnBankCommandTurns m_queue;

 private:
  friend class CSnBankRecord;
  // The queue's: one command on the calling thread, the callback told its outcome; or one dropped.
  SNRESULT ExecuteCommand(const SnBankCommand& command) override;
  void DropCommand(const SnBankCommand& command) override;
  void CallBack(const SnBankCommand& command, const SnBankAnswer& answer) override;

  struct MediaSource {
    CSnBankRecord* bank;  // for media the game set, the owner of that copy (IsGameMedia)
    const uint8_t* data;
    uint32_t size;
  };
  struct MediaEntry {
    uint8_t* ownData;
    uint32_t ownSize;
    MediaSource* sources;
    uint32_t sourceCount;
    uint32_t refCount;
  };

  // One step of a preparation command, undone in reverse when a later one fails.
  struct UndoStep {
    enum Kind : uint8_t { Event, Node, Bank, GameSync, Media } kind;
    uint32_t id;
    CSnIndexedObject* event;
  };
  using UndoLog = SnArray<UndoStep>;

  SNRESULT LoadBankCommand(const SnBankCommand& command);
  SNRESULT PrepareBankCommand(uint32_t bankId, bool withMedia, bool explicitPreparation);
  SNRESULT UnprepareBankCommand(uint32_t bankId, bool explicitPreparation);
  SNRESULT PrepareEventsCommand(const SnBankCommand& command);
  SNRESULT UnprepareEventsCommand(const SnBankCommand& command);
  SNRESULT PrepareGameSyncsCommand(const SnBankCommand& command);
  SNRESULT ClearPreparedEventsCommand();
  SNRESULT PrepareEvent(CSnEvent* event, UndoLog& undo);
  void UnprepareEventActions(CSnEvent* event);
  void Undo(UndoLog& undo);
  SNRESULT LoadStagedMedia(UndoLog& undo);
  SNRESULT LoadMediaNow(const CSnSourceDesc& request);
  void ReleaseRecordReference(CSnBankRecord* record);
  SNRESULT UnloadBankCommand(const SnBankCommand& command);
  // An unload of a bank not in the list that is still ending answers once its memory is free: SN_Success
  // then, 54 when it is not ending (the answer it carries serves).
  SNRESULT JoinEnding(const SnBankCommand& command);
  // The clear answers once every bank it took out, and every bank ending before it, is free.
  SNRESULT ClearBanksCommand(const SnBankCommand& command);
  // A command's answer about lent memory: the callback, called through the callbacks to come.
  struct MemoryAnswer;
  MemoryAnswer* NewAnswer(const SnBankCommand& command, uint32_t id, int32_t poolId);
  // At the call of an unload with a callback: the answer its bank keeps, when the bank is loaded and
  // no other unload has claimed it, else one of the pool (null: no memory).
  MemoryAnswer* ClaimAnswer(const SnBankCommand& command);
  // The answer an unload carries (`extra`), not used: a waiting caller's stays on its stack; one of
  // the pool goes back to its bank when that is loaded without one, else it is freed.
  void FreeAnswer(const SnBankCommand& command);
  // What a record's memory is held as: its image when it is read in place, else the record.
  static const void* LentKey(const CSnBankRecord* record);
  SNRESULT ReleaseMediaCommand(uint32_t mediaId);
  SNRESULT OpenBank(CSnBankRecord& record, const SnBankCommand& command);
  void NoteMotionFlag(const SnBankHeader& header);
  // Posts the record's end to the audio thread; it ends when its use count reaches 0.
  void PostUnload(CSnBankRecord* record);
  // Under the bank-list lock: the record leaves the list to end, holding what it reads of the game's.
  void TakeOut(CSnBankRecord* record);
  // The last use ends the record.
  void DropUse(CSnBankRecord* record);
  // The record reads nothing of the game's any more; the answers waiting for it last run.
  void EndRecord(CSnBankRecord* record);
  void DestroyRecord(CSnBankRecord* record);
  SNRESULT AddMediaSource(uint32_t mediaId, CSnBankRecord* bank, const uint8_t* data, uint32_t size);
  // The source of the bank (or of the game's copy's owner).
  void RemoveMediaSource(uint32_t mediaId, CSnBankRecord* bank);
  // A game's copy an UnsetMedia takes back: its owner (null: none set at that address), the size it
  // was set with, and where the engine's own copy of it lies in the call's stand-in block.
  struct TakenMedia {
    CSnBankRecord* owner;
    uint32_t size;
    uint32_t offset;  // kNoStandInCopy: nothing reads it, no copy is made
  };
  static constexpr uint32_t kNoStandInCopy = 0xFFFFFFFFu;
  SNRESULT UnsetMediaInPass(const SnMediaItem* items, uint32_t count);
  // Under the bank lock: the owner of the game's copy `item` names, handed out no more; null for none.
  CSnBankRecord* TakeBackGameMedia(const SnMediaItem& item, uint32_t& setSize);
  // One record of the engine's own holding a copy of each taken media something reads, each a source
  // beside the game's, for the voices of a running frame to move onto; null when no memory.
  CSnBankRecord* StandInCopies(const SnMediaItem* items, uint32_t count, const TakenMedia* taken, uint32_t bytes);
  // Its copies leave the table: handed out no more.
  void ForgetStandIn(const SnMediaItem* items, uint32_t count, const TakenMedia* taken, CSnBankRecord* standIn);
  // The owner of the game's copy at `data`, not already being taken back, and the size it was set
  // with; null for none.
  CSnBankRecord* FindGameMedia(uint32_t mediaId, const void* data, uint32_t* setSize = nullptr);
  // Caller holds the bank lock: one reference less, the entry erased at none.
  void DropMediaReference(const SnIdHashTable193<MediaEntry>::Iterator& it);
  SNRESULT AddBankMediaSources(CSnBankRecord& record);
  void RemoveBankMediaSources(CSnBankRecord& record);

  CSnSoundBankReader m_reader;
  Platform::ReentrantLock m_bankLock;
  SnIdPairHashTable193<CSnBankRecord> m_banks;
  // The records out of the list until they read nothing of the game's, and the answers waiting for them.
  CSnLentMemoryHolds m_holds;
  SnIdHashTable193<MediaEntry> m_media;
  SnIdHashTable193<char*> m_names;
  uint16_t m_motionFlag = 0;
  bool m_keepBuses = false;
  struct StagedMedia {
    CSnSourceDesc request;  // holds no data of its own
    uint32_t requests;  // each requester gives one reference back when it is unprepared
  };
  SnArray<StagedMedia> m_staged;  // sorted by media id, one per id
  bool m_staging = false;
  bool m_undoing = false;
  SNRESULT m_lastResult = SN_Success;
  bool m_initialized = false;
  bool m_installedReceiver = false;
};

// Null while the sound engine is not initialised.
extern CSnSoundBankManager* g_pBankManager;

}  // namespace SN
