// The bank calls of the sound engine: each checks its arguments, builds one bank command and either
// hands it to the bank manager with the caller's callback or waits for it on the caller's thread.
#include "SoundEngine/SoundEngineBankApi.h"

#include <atomic>
#include <cstring>
#include <string>

#include "Platform/TextNarrowing.h"
#include "SoundEngine/ApiQueue.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN::SoundEngine {

namespace {

constexpr size_t kNarrowBankNameCut = 259;
constexpr size_t kWideBankNameCut = 258;
constexpr uintptr_t kImageAlignment = 16;
constexpr uint32_t kSmallestImage = 28;

// Said once per engine run: the calls keep working, only the pins wait for their manager.
std::atomic<bool> g_pinManagerMissingSaid{false};

CSnSoundBankManager* Banks(const char* caller) {
  if (g_pBankManager && IsInitialized()) return g_pBankManager;
  SOUND_LOG(Warning, "%s: the sound engine is not initialised", caller);
  return nullptr;
}

SNRESULT Queue(CSnSoundBankManager& banks, SnBankCommand command, SnBankCallback callback, void* cookie) {
  command.callback = callback;
  command.cookie = cookie;
  return banks.QueueCommand(command);
}

SNRESULT Wait(CSnSoundBankManager& banks, const SnBankCommand& command) { return banks.QueueAndWait(command); }

std::string Stem(std::string name) {
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string NarrowBankName(const char* name) { return Stem(std::string(name, strnlen(name, kNarrowBankNameCut))); }

std::string NarrowBankName(const char16_t* name) {
  std::u16string cut;
  for (size_t i = 0; i < kWideBankNameCut && name[i]; ++i) cut.push_back(name[i]);
  return Stem(Platform::NarrowText(cut));
}

// The id of a named bank, its name kept for opening it; SN_InvalidParameter for a null or empty name.
template <typename Char>
SNRESULT RegisterBankName(CSnSoundBankManager& banks, const Char* name, const char* caller, uint32_t& bankId) {
  if (!name || !name[0]) {
    SOUND_LOG(Error, "%s: no bank name", caller);
    return SN_InvalidParameter;
  }
  const std::string stem = NarrowBankName(name);
  bankId = GetIDFromString(stem.c_str());
  if (stem.empty()) return SN_Success;  // ".bnk" alone: opened by id
  return banks.AddBankFileName(bankId, stem.data(), uint32_t(stem.size()));
}

SnBankCommand LoadCommand(uint32_t sourceKind, uint32_t bankId, int32_t poolId) {
  SnBankCommand command;
  command.type = SnBankCommand_Load;
  command.sourceKind = sourceKind;
  command.bankId = bankId;
  command.poolId = poolId;
  return command;
}

template <typename Char>
SNRESULT NameLoadCommand(CSnSoundBankManager& banks, const Char* name, int32_t poolId, uint32_t& bankId,
                         SnBankCommand& command) {
  const SNRESULT named = RegisterBankName(banks, name, "LoadBank", bankId);
  command = LoadCommand(SnBankSource_Name, bankId, poolId);
  return named;
}

// In place without a pool, copied with one; the id comes from the image's header.
SNRESULT ImageLoadCommand(const void* image, uint32_t size, int32_t poolId, bool copied, uint32_t& bankId,
                          SnBankCommand& command) {
  if (!image || reinterpret_cast<uintptr_t>(image) % kImageAlignment != 0 || size < kSmallestImage) {
    SOUND_LOG(Error, "LoadBank: a bank image must be non-null, aligned on 16 bytes and at least 28 bytes long");
    return SN_InvalidParameter;
  }
  bankId = BankIdOfImage(image, size);
  command = LoadCommand(copied ? SnBankSource_Copied : SnBankSource_InPlace, bankId, poolId);
  command.image = image;
  command.imageSize = size;
  return SN_Success;
}

SnBankCommand UnloadCommand(uint32_t bankId, const void* image) {
  SnBankCommand command;
  command.type = SnBankCommand_Unload;
  command.sourceKind = image ? SnBankSource_InPlace : SnBankSource_Id;
  command.bankId = bankId;
  command.image = image;
  return command;
}

template <typename Char>
SNRESULT UnloadByName(const Char* name, const void* image, int32_t* poolId, SnBankCallback callback, void* cookie,
                      bool waits) {
  SN_CALL_IN_FLIGHT("UnloadBank", SN_Failure);
  if (poolId) *poolId = kInvalidPoolId;
  CSnSoundBankManager* banks = Banks("UnloadBank");
  if (!banks) return SN_Failure;
  uint32_t bankId = 0;
  const SNRESULT named = RegisterBankName(*banks, name, "UnloadBank", bankId);
  if (named != SN_Success) return named;
  if (waits) return banks->UnloadBankWait(bankId, image, poolId);
  return Queue(*banks, UnloadCommand(bankId, image), callback, cookie);
}

// The ids of `count` names, as a command carries them (see CommandIdsWord).
template <typename Char>
SNRESULT HashedIdsWord(const Char* const* names, uint32_t count, uintptr_t& word) {
  for (uint32_t i = 0; i < count; ++i)
    if (!names[i]) return SN_InvalidParameter;
  if (count == 1) {
    word = GetIDFromString(names[0]);
    return SN_Success;
  }
  auto* ids = static_cast<uint32_t*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(uint32_t) * count));
  if (!ids) return SN_InsufficientMemory;
  for (uint32_t i = 0; i < count; ++i) ids[i] = GetIDFromString(names[i]);
  word = reinterpret_cast<uintptr_t>(ids);
  return SN_Success;
}

SNRESULT IdsWord(const uint32_t* ids, uint32_t count, uintptr_t& word) {
  bool failed = false;
  word = CSnSoundBankManager::CommandIdsWord(ids, count, failed);
  return failed ? SN_InsufficientMemory : SN_Success;
}

template <typename Char>
SNRESULT IdsWord(const Char* const* names, uint32_t count, uintptr_t& word) {
  return HashedIdsWord(names, count, word);
}

// A callback of null with `waits` false queues the command with no one told of its end.
template <typename Ids>
SNRESULT PrepareEventImpl(SnPreparationType type, Ids ids, uint32_t count, bool waits, SnBankCallback callback,
                          void* cookie) {
  SN_CALL_IN_FLIGHT("PrepareEvent", SN_Failure);
  CSnSoundBankManager* banks = Banks("PrepareEvent");
  if (!banks) return SN_Failure;
  if (!ids || count == 0) {
    SOUND_LOG(Error, "PrepareEvent: no events to prepare (%u, array %s)", count, ids ? "given" : "null");
    return SN_InvalidParameter;
  }
  uintptr_t word = 0;
  const SNRESULT copied = IdsWord(ids, count, word);
  if (copied != SN_Success) {
    if (copied == SN_InvalidParameter) SOUND_LOG(Error, "PrepareEvent: an event name is null");
    return copied;
  }
  SnBankCommand command;
  command.type = type == SnPreparation_Load ? SnBankCommand_PrepareEvents : SnBankCommand_UnprepareEvents;
  command.bankId = count;
  command.poolId = intptr_t(word);
  return waits ? Wait(*banks, command) : Queue(*banks, command, callback, cookie);
}

uint32_t GroupId(uint32_t groupId) { return groupId; }
template <typename Char>
uint32_t GroupId(const Char* groupName) {
  return GetIDFromString(groupName);
}
bool GroupGiven(uint32_t) { return true; }
template <typename Char>
bool GroupGiven(const Char* groupName) {
  return groupName != nullptr;
}

template <typename Group, typename Ids>
SNRESULT PrepareGameSyncsImpl(SnPreparationType type, SnGroupType groupType, Group group, Ids ids, uint32_t count,
                              bool waits, SnBankCallback callback, void* cookie) {
  SN_CALL_IN_FLIGHT("PrepareGameSyncs", SN_Failure);
  CSnSoundBankManager* banks = Banks("PrepareGameSyncs");
  if (!banks) return SN_Failure;
  if (!GroupGiven(group) || !ids || count == 0) {
    SOUND_LOG(Error, "PrepareGameSyncs: no group or no values to prepare (%u)", count);
    return SN_InvalidParameter;
  }
  uintptr_t word = 0;
  const SNRESULT copied = IdsWord(ids, count, word);
  if (copied != SN_Success) return copied;
  SnBankCommand command;
  command.type = SnBankCommand_PrepareGameSyncs;
  command.sourceKind = groupType;
  command.bankId = GroupId(group);
  command.image = type == SnPreparation_Load ? banks : nullptr;
  command.imageSize = count;
  command.extra = reinterpret_cast<void*>(word);
  return waits ? Wait(*banks, command) : Queue(*banks, command, callback, cookie);
}

SnBankCommand PrepareBankCommand(SnPreparationType type, uint32_t bankId, SnBankContent content) {
  SnBankCommand command;
  command.type = type == SnPreparation_Load ? SnBankCommand_PrepareBank : SnBankCommand_UnprepareBank;
  command.sourceKind = content == SnBankContent_All ? 1 : 0;
  command.bankId = bankId;
  return command;
}

template <typename Char>
SNRESULT PrepareNamedBank(SnPreparationType type, const Char* name, SnBankContent content, bool waits,
                          SnBankCallback callback, void* cookie) {
  SN_CALL_IN_FLIGHT("PrepareBank", SN_Failure);
  CSnSoundBankManager* banks = Banks("PrepareBank");
  if (!banks) return SN_Failure;
  uint32_t bankId = 0;
  const SNRESULT named = RegisterBankName(*banks, name, "PrepareBank", bankId);
  if (named != SN_Success) return named;
  const SnBankCommand command = PrepareBankCommand(type, bankId, content);
  return waits ? Wait(*banks, command) : Queue(*banks, command, callback, cookie);
}

// The pin manager, or null (said once) while it does not exist.
ISnStreamCachePinMgr* Pins(const char* caller) {
  if (!ApiQueue::Running(caller)) return nullptr;
  ISnStreamCachePinMgr* pins = StreamCachePinMgr();
  if (!pins && !g_pinManagerMissingSaid.exchange(true))
    SOUND_LOG(Warning, "%s: stream-cache pinning is not available", caller);
  return pins;
}

SNRESULT PostPin(uint32_t eventId, bool pin, uint8_t activePriority, uint8_t inactivePriority, const char* caller) {
  SN_CALL_IN_FLIGHT(caller, SN_Failure);
  if (!Pins(caller)) return SN_Failure;
  return ApiQueue::PostOnEvent<SnMsgPinEvent>(SnMsg_PinEvent, eventId, caller, [&](SnMsgPinEvent& m) {
    m.unused = 0xFFFFFFFFu;  // every game object
    m.activePriority = activePriority;
    m.inactivePriority = inactivePriority;
    m.pin = pin;
  });
}

// The media calls: SN_InvalidParameter for a null array, then the manager's own.
SNRESULT MediaCall(const SnMediaItem* items, uint32_t count, const char* caller,
                   SNRESULT (CSnSoundBankManager::*call)(const SnMediaItem*, uint32_t)) {
  SN_CALL_IN_FLIGHT(caller, SN_Failure);
  CSnSoundBankManager* banks = Banks(caller);
  if (!banks) return SN_Failure;
  if (!items) {
    SOUND_LOG(Error, "%s: no media array", caller);
    return SN_InvalidParameter;
  }
  return (banks->*call)(items, count);
}

}  // namespace

uint32_t BankIdOfName(const char* name) { return name ? GetIDFromString(NarrowBankName(name).c_str()) : 0; }
uint32_t BankIdOfName(const char16_t* name) { return name ? GetIDFromString(NarrowBankName(name).c_str()) : 0; }

void ResetBankApiState() { g_pinManagerMissingSaid = false; }

// ---- loads ----

namespace {

// Builds the load with `make`, which may refuse it, and hands it on: waited for, or queued with the
// callback.
template <typename Make>
SNRESULT Load(bool waits, SnBankCallback callback, void* cookie, Make&& make) {
  SN_CALL_IN_FLIGHT("LoadBank", SN_Failure);
  CSnSoundBankManager* banks = Banks("LoadBank");
  if (!banks) return SN_Failure;
  SnBankCommand command;
  const SNRESULT made = make(*banks, command);
  if (made != SN_Success) return made;
  return waits ? Wait(*banks, command) : Queue(*banks, command, callback, cookie);
}

template <typename Char>
SNRESULT LoadNamed(const Char* name, bool waits, SnBankCallback callback, void* cookie, int32_t poolId,
                   uint32_t& bankId) {
  return Load(waits, callback, cookie, [&](CSnSoundBankManager& banks, SnBankCommand& command) {
    return NameLoadCommand(banks, name, poolId, bankId, command);
  });
}

SNRESULT LoadImage(const void* image, uint32_t size, bool waits, SnBankCallback callback, void* cookie,
                   int32_t poolId, bool copied, uint32_t& bankId) {
  return Load(waits, callback, cookie, [&](CSnSoundBankManager&, SnBankCommand& command) {
    return ImageLoadCommand(image, size, poolId, copied, bankId, command);
  });
}

SNRESULT LoadById(uint32_t bankId, bool waits, SnBankCallback callback, void* cookie, int32_t poolId) {
  return Load(waits, callback, cookie, [&](CSnSoundBankManager&, SnBankCommand& command) {
    command = LoadCommand(SnBankSource_Id, bankId, poolId);
    return SN_Success;
  });
}

}  // namespace

SNRESULT LoadBank(const char* name, int32_t poolId, uint32_t& bankId) {
  return LoadNamed(name, true, nullptr, nullptr, poolId, bankId);
}
SNRESULT LoadBank(const char16_t* name, int32_t poolId, uint32_t& bankId) {
  return LoadNamed(name, true, nullptr, nullptr, poolId, bankId);
}
SNRESULT LoadBank(uint32_t bankId, int32_t poolId) { return LoadById(bankId, true, nullptr, nullptr, poolId); }
SNRESULT LoadBank(const void* image, uint32_t size, uint32_t& bankId) {
  return LoadImage(image, size, true, nullptr, nullptr, kInvalidPoolId, false, bankId);
}
SNRESULT LoadBank(const void* image, uint32_t size, int32_t poolId, uint32_t& bankId) {
  return LoadImage(image, size, true, nullptr, nullptr, poolId, true, bankId);
}
SNRESULT LoadBank(const char* name, SnBankCallback callback, void* cookie, int32_t poolId, uint32_t& bankId) {
  return LoadNamed(name, false, callback, cookie, poolId, bankId);
}
SNRESULT LoadBank(const char16_t* name, SnBankCallback callback, void* cookie, int32_t poolId, uint32_t& bankId) {
  return LoadNamed(name, false, callback, cookie, poolId, bankId);
}
SNRESULT LoadBank(uint32_t bankId, SnBankCallback callback, void* cookie, int32_t poolId) {
  return LoadById(bankId, false, callback, cookie, poolId);
}
SNRESULT LoadBank(const void* image, uint32_t size, SnBankCallback callback, void* cookie, uint32_t& bankId) {
  return LoadImage(image, size, false, callback, cookie, kInvalidPoolId, false, bankId);
}
SNRESULT LoadBank(const void* image, uint32_t size, SnBankCallback callback, void* cookie, int32_t poolId,
                  uint32_t& bankId) {
  return LoadImage(image, size, false, callback, cookie, poolId, true, bankId);
}

// ---- unloads ----

SNRESULT UnloadBank(uint32_t bankId, const void* image, int32_t* poolId) {
  SN_CALL_IN_FLIGHT("UnloadBank", SN_Failure);
  if (poolId) *poolId = kInvalidPoolId;
  CSnSoundBankManager* banks = Banks("UnloadBank");
  return banks ? banks->UnloadBankWait(bankId, image, poolId) : SN_Failure;
}

SNRESULT UnloadBank(const char* name, const void* image, int32_t* poolId) {
  return UnloadByName(name, image, poolId, nullptr, nullptr, true);
}

SNRESULT UnloadBank(const char16_t* name, const void* image, int32_t* poolId) {
  return UnloadByName(name, image, poolId, nullptr, nullptr, true);
}

SNRESULT UnloadBank(uint32_t bankId, const void* image, SnBankCallback callback, void* cookie) {
  SN_CALL_IN_FLIGHT("UnloadBank", SN_Failure);
  CSnSoundBankManager* banks = Banks("UnloadBank");
  return banks ? Queue(*banks, UnloadCommand(bankId, image), callback, cookie) : SN_Failure;
}

SNRESULT UnloadBank(const char* name, const void* image, SnBankCallback callback, void* cookie) {
  return UnloadByName(name, image, nullptr, callback, cookie, false);
}

SNRESULT UnloadBank(const char16_t* name, const void* image, SnBankCallback callback, void* cookie) {
  return UnloadByName(name, image, nullptr, callback, cookie, false);
}

// ---- preparation ----

SNRESULT PrepareEvent(SnPreparationType type, const uint32_t* eventIds, uint32_t count) {
  return PrepareEventImpl(type, eventIds, count, true, nullptr, nullptr);
}
SNRESULT PrepareEvent(SnPreparationType type, const char* const* eventNames, uint32_t count) {
  return PrepareEventImpl(type, eventNames, count, true, nullptr, nullptr);
}
SNRESULT PrepareEvent(SnPreparationType type, const char16_t* const* eventNames, uint32_t count) {
  return PrepareEventImpl(type, eventNames, count, true, nullptr, nullptr);
}
SNRESULT PrepareEvent(SnPreparationType type, const uint32_t* eventIds, uint32_t count, SnBankCallback callback,
                      void* cookie) {
  return PrepareEventImpl(type, eventIds, count, false, callback, cookie);
}
SNRESULT PrepareEvent(SnPreparationType type, const char* const* eventNames, uint32_t count, SnBankCallback callback,
                      void* cookie) {
  return PrepareEventImpl(type, eventNames, count, false, callback, cookie);
}
SNRESULT PrepareEvent(SnPreparationType type, const char16_t* const* eventNames, uint32_t count,
                      SnBankCallback callback, void* cookie) {
  return PrepareEventImpl(type, eventNames, count, false, callback, cookie);
}

SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, uint32_t groupId, const uint32_t* valueIds,
                          uint32_t count) {
  return PrepareGameSyncsImpl(type, groupType, groupId, valueIds, count, true, nullptr, nullptr);
}
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char* groupName,
                          const char* const* valueNames, uint32_t count) {
  return PrepareGameSyncsImpl(type, groupType, groupName, valueNames, count, true, nullptr, nullptr);
}
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char16_t* groupName,
                          const char16_t* const* valueNames, uint32_t count) {
  return PrepareGameSyncsImpl(type, groupType, groupName, valueNames, count, true, nullptr, nullptr);
}
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, uint32_t groupId, const uint32_t* valueIds,
                          uint32_t count, SnBankCallback callback, void* cookie) {
  return PrepareGameSyncsImpl(type, groupType, groupId, valueIds, count, false, callback, cookie);
}
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char* groupName,
                          const char* const* valueNames, uint32_t count, SnBankCallback callback, void* cookie) {
  return PrepareGameSyncsImpl(type, groupType, groupName, valueNames, count, false, callback, cookie);
}
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char16_t* groupName,
                          const char16_t* const* valueNames, uint32_t count, SnBankCallback callback, void* cookie) {
  return PrepareGameSyncsImpl(type, groupType, groupName, valueNames, count, false, callback, cookie);
}

SNRESULT PrepareBank(SnPreparationType type, uint32_t bankId, SnBankContent content) {
  SN_CALL_IN_FLIGHT("PrepareBank", SN_Failure);
  CSnSoundBankManager* banks = Banks("PrepareBank");
  return banks ? Wait(*banks, PrepareBankCommand(type, bankId, content)) : SN_Failure;
}
SNRESULT PrepareBank(SnPreparationType type, const char* name, SnBankContent content) {
  return PrepareNamedBank(type, name, content, true, nullptr, nullptr);
}
SNRESULT PrepareBank(SnPreparationType type, const char16_t* name, SnBankContent content) {
  return PrepareNamedBank(type, name, content, true, nullptr, nullptr);
}
SNRESULT PrepareBank(SnPreparationType type, uint32_t bankId, SnBankCallback callback, void* cookie,
                     SnBankContent content) {
  SN_CALL_IN_FLIGHT("PrepareBank", SN_Failure);
  CSnSoundBankManager* banks = Banks("PrepareBank");
  return banks ? Queue(*banks, PrepareBankCommand(type, bankId, content), callback, cookie) : SN_Failure;
}
SNRESULT PrepareBank(SnPreparationType type, const char* name, SnBankCallback callback, void* cookie,
                     SnBankContent content) {
  return PrepareNamedBank(type, name, content, false, callback, cookie);
}
SNRESULT PrepareBank(SnPreparationType type, const char16_t* name, SnBankCallback callback, void* cookie,
                     SnBankContent content) {
  return PrepareNamedBank(type, name, content, false, callback, cookie);
}

SNRESULT ClearPreparedEvents() {
  SN_CALL_IN_FLIGHT("ClearPreparedEvents", SN_Failure);
  CSnSoundBankManager* banks = Banks("ClearPreparedEvents");
  if (!banks) return SN_Failure;
  SnBankCommand command;
  command.type = SnBankCommand_ClearPreparedEvents;
  return Wait(*banks, command);
}

SNRESULT ClearBanks() {
  SN_CALL_IN_FLIGHT("ClearBanks", SN_Failure);
  CSnSoundBankManager* banks = Banks("ClearBanks");
  if (!banks) return SN_Failure;
  const SNRESULT cleared = ClearPreparedEvents();
  if (cleared != SN_Success) return cleared;
  SnBankCommand command;
  command.type = SnBankCommand_ClearBanks;
  return Wait(*banks, command);
}

// ---- direct calls ----

SNRESULT CancelBankCallbackCookie(void* cookie) {
  SN_CALL_IN_FLIGHT("CancelBankCallbackCookie", SN_Failure);
  CSnSoundBankManager* banks = Banks("CancelBankCallbackCookie");
  if (!banks) return SN_Failure;
  banks->CancelCookie(cookie);
  return SN_Success;
}

SNRESULT SetBankLoadIOSettings(float throughputBytesPerMs, uint8_t priority) {
  SN_CALL_IN_FLIGHT("SetBankLoadIOSettings", SN_Failure);
  CSnSoundBankManager* banks = Banks("SetBankLoadIOSettings");
  return banks ? banks->SetBankLoadIOSettings(throughputBytesPerMs, priority) : SN_Failure;
}

SNRESULT SetMedia(const SnMediaItem* items, uint32_t count) {
  return MediaCall(items, count, "SetMedia", &CSnSoundBankManager::SetMedia);
}

SNRESULT UnsetMedia(const SnMediaItem* items, uint32_t count) {
  return MediaCall(items, count, "UnsetMedia", &CSnSoundBankManager::UnsetMedia);
}

// ---- pins ----

SNRESULT PinEventInStreamCache(uint32_t eventId, uint8_t activePriority, uint8_t inactivePriority) {
  return PostPin(eventId, true, activePriority, inactivePriority, "PinEventInStreamCache");
}
SNRESULT PinEventInStreamCache(const char* eventName, uint8_t activePriority, uint8_t inactivePriority) {
  return PinEventInStreamCache(GetIDFromString(eventName), activePriority, inactivePriority);
}
SNRESULT PinEventInStreamCache(const char16_t* eventName, uint8_t activePriority, uint8_t inactivePriority) {
  return PinEventInStreamCache(GetIDFromString(eventName), activePriority, inactivePriority);
}

SNRESULT UnpinEventInStreamCache(uint32_t eventId) { return PostPin(eventId, false, 0, 0, "UnpinEventInStreamCache"); }
SNRESULT UnpinEventInStreamCache(const char* eventName) { return UnpinEventInStreamCache(GetIDFromString(eventName)); }
SNRESULT UnpinEventInStreamCache(const char16_t* eventName) {
  return UnpinEventInStreamCache(GetIDFromString(eventName));
}

SNRESULT GetBufferStatusForPinnedEvent(uint32_t eventId, float& percentBuffered, bool& cachePinnedMemoryFull) {
  SN_CALL_IN_FLIGHT("GetBufferStatusForPinnedEvent", SN_Failure);
  percentBuffered = 0.0f;
  cachePinnedMemoryFull = false;
  ISnStreamCachePinMgr* pins = Pins("GetBufferStatusForPinnedEvent");
  if (!pins) return SN_Failure;
  CSnIndexedObject* event = ApiQueue::FindEvent(eventId, "GetBufferStatusForPinnedEvent");
  if (!event) return SN_Failure;
  const SNRESULT result = pins->GetBufferStatus(event, percentBuffered, cachePinnedMemoryFull);
  event->Release();
  return result;
}
SNRESULT GetBufferStatusForPinnedEvent(const char* eventName, float& percentBuffered, bool& cachePinnedMemoryFull) {
  return GetBufferStatusForPinnedEvent(GetIDFromString(eventName), percentBuffered, cachePinnedMemoryFull);
}
SNRESULT GetBufferStatusForPinnedEvent(const char16_t* eventName, float& percentBuffered,
                                       bool& cachePinnedMemoryFull) {
  return GetBufferStatusForPinnedEvent(GetIDFromString(eventName), percentBuffered, cachePinnedMemoryFull);
}

}  // namespace SN::SoundEngine
