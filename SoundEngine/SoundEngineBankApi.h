// The sound engine's bank calls: loading and unloading banks, preparing events, game syncs and banks,
// the game's own media and the stream-cache pins of events. Each call hands one command to the bank
// manager instead of the command queue. A call with a callback returns once the command is accepted
// (the callback reports the outcome, on the bank thread or, with the plain manager, inside the call);
// a call without one waits for the outcome. With no bank manager (before Init, after Term) every
// call returns SN_Failure and hands nothing on.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Banks/SoundBankManager.h"

namespace SN {

enum SnPreparationType : uint32_t {
  SnPreparation_Load = 0,
  SnPreparation_Unload = 1,
};

// What PrepareBank reads of a bank: its structure alone, or its media as well.
enum SnBankContent : uint32_t {
  SnBankContent_StructureOnly = 0,
  SnBankContent_All = 1,
};

enum SnGroupType : uint32_t {
  SnGroupType_Switch = 0,
  SnGroupType_State = 1,
};

namespace SoundEngine {

// Bank names: at most the first 259 bytes (258 units of a 16-bit name) count, cut at the last '.';
// the id is the name hash of what is left, and that name is kept for opening the bank.
uint32_t BankIdOfName(const char* name);
uint32_t BankIdOfName(const char16_t* name);

// Loads. `poolId` -1: the bank's media get a pool of their own. The id is written before the
// command is handed on. Images must be non-null, 16-byte aligned and at least 28 bytes
// (SN_InvalidParameter); without a pool their media stay where they lie, with one they are copied.
SNRESULT LoadBank(const char* name, int32_t poolId, uint32_t& bankId);
SNRESULT LoadBank(const char16_t* name, int32_t poolId, uint32_t& bankId);
SNRESULT LoadBank(uint32_t bankId, int32_t poolId);
SNRESULT LoadBank(const void* image, uint32_t size, uint32_t& bankId);
SNRESULT LoadBank(const void* image, uint32_t size, int32_t poolId, uint32_t& bankId);
SNRESULT LoadBank(const char* name, SnBankCallback callback, void* cookie, int32_t poolId, uint32_t& bankId);
SNRESULT LoadBank(const char16_t* name, SnBankCallback callback, void* cookie, int32_t poolId, uint32_t& bankId);
SNRESULT LoadBank(uint32_t bankId, SnBankCallback callback, void* cookie, int32_t poolId);
SNRESULT LoadBank(const void* image, uint32_t size, SnBankCallback callback, void* cookie, uint32_t& bankId);
SNRESULT LoadBank(const void* image, uint32_t size, SnBankCallback callback, void* cookie, int32_t poolId,
                  uint32_t& bankId);

// Unloads; `image` names a bank loaded in place. The waiting forms write the pool the bank's media lay
// in (-1: a pool of their own) to `poolId` when it is not null.
SNRESULT UnloadBank(uint32_t bankId, const void* image, int32_t* poolId = nullptr);
SNRESULT UnloadBank(const char* name, const void* image, int32_t* poolId = nullptr);
SNRESULT UnloadBank(const char16_t* name, const void* image, int32_t* poolId = nullptr);
SNRESULT UnloadBank(uint32_t bankId, const void* image, SnBankCallback callback, void* cookie);
SNRESULT UnloadBank(const char* name, const void* image, SnBankCallback callback, void* cookie);
SNRESULT UnloadBank(const char16_t* name, const void* image, SnBankCallback callback, void* cookie);

// Preparation. SN_InvalidParameter for a count of 0 or a null array (or name); SN_InsufficientMemory
// when the ids cannot be copied. One id travels as itself, more as a copy the command owns.
SNRESULT PrepareEvent(SnPreparationType type, const uint32_t* eventIds, uint32_t count);
SNRESULT PrepareEvent(SnPreparationType type, const char* const* eventNames, uint32_t count);
SNRESULT PrepareEvent(SnPreparationType type, const char16_t* const* eventNames, uint32_t count);
SNRESULT PrepareEvent(SnPreparationType type, const uint32_t* eventIds, uint32_t count, SnBankCallback callback,
                      void* cookie);
SNRESULT PrepareEvent(SnPreparationType type, const char* const* eventNames, uint32_t count, SnBankCallback callback,
                      void* cookie);
SNRESULT PrepareEvent(SnPreparationType type, const char16_t* const* eventNames, uint32_t count,
                      SnBankCallback callback, void* cookie);

SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, uint32_t groupId, const uint32_t* valueIds,
                          uint32_t count);
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char* groupName,
                          const char* const* valueNames, uint32_t count);
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char16_t* groupName,
                          const char16_t* const* valueNames, uint32_t count);
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, uint32_t groupId, const uint32_t* valueIds,
                          uint32_t count, SnBankCallback callback, void* cookie);
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char* groupName,
                          const char* const* valueNames, uint32_t count, SnBankCallback callback, void* cookie);
SNRESULT PrepareGameSyncs(SnPreparationType type, SnGroupType groupType, const char16_t* groupName,
                          const char16_t* const* valueNames, uint32_t count, SnBankCallback callback, void* cookie);

SNRESULT PrepareBank(SnPreparationType type, uint32_t bankId, SnBankContent content = SnBankContent_All);
SNRESULT PrepareBank(SnPreparationType type, const char* name, SnBankContent content = SnBankContent_All);
SNRESULT PrepareBank(SnPreparationType type, const char16_t* name, SnBankContent content = SnBankContent_All);
SNRESULT PrepareBank(SnPreparationType type, uint32_t bankId, SnBankCallback callback, void* cookie,
                     SnBankContent content = SnBankContent_All);
SNRESULT PrepareBank(SnPreparationType type, const char* name, SnBankCallback callback, void* cookie,
                     SnBankContent content = SnBankContent_All);
SNRESULT PrepareBank(SnPreparationType type, const char16_t* name, SnBankCallback callback, void* cookie,
                     SnBankContent content = SnBankContent_All);

// Waiting. ClearBanks first clears the prepared events and returns that failure, if any.
SNRESULT ClearPreparedEvents();
SNRESULT ClearBanks();

// Direct calls. Once CancelBankCallbackCookie returns, no callback of the calls made with the cookie
// before it runs or will run (called from inside one of them, it does not wait for itself; inside an
// audio pass or on the bank thread one running elsewhere may still end); a call made after it with
// the cookie calls back as usual.
SNRESULT CancelBankCallbackCookie(void* cookie);
SNRESULT SetBankLoadIOSettings(float throughputBytesPerMs, uint8_t priority);
// SN_InvalidParameter for a null array; SN_Success at once for a count of 0.
SNRESULT SetMedia(const SnMediaItem* items, uint32_t count);
SNRESULT UnsetMedia(const SnMediaItem* items, uint32_t count);

// Stream-cache pins of a loaded event (SN_Failure when it is not loaded, or while no pin manager
// exists). Pins are queued; the status is asked at once.
SNRESULT PinEventInStreamCache(uint32_t eventId, uint8_t activePriority, uint8_t inactivePriority);
SNRESULT PinEventInStreamCache(const char* eventName, uint8_t activePriority, uint8_t inactivePriority);
SNRESULT PinEventInStreamCache(const char16_t* eventName, uint8_t activePriority, uint8_t inactivePriority);
SNRESULT UnpinEventInStreamCache(uint32_t eventId);
SNRESULT UnpinEventInStreamCache(const char* eventName);
SNRESULT UnpinEventInStreamCache(const char16_t* eventName);
SNRESULT GetBufferStatusForPinnedEvent(uint32_t eventId, float& percentBuffered, bool& cachePinnedMemoryFull);
SNRESULT GetBufferStatusForPinnedEvent(const char* eventName, float& percentBuffered, bool& cachePinnedMemoryFull);
SNRESULT GetBufferStatusForPinnedEvent(const char16_t* eventName, float& percentBuffered,
                                       bool& cachePinnedMemoryFull);

// Init's part: the once-only warnings said again in the new run.
void ResetBankApiState();

}  // namespace SoundEngine
}  // namespace SN
