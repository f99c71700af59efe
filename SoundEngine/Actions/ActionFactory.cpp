// Making actions: the class of each action type, and the bank loader of action objects.
#include "SoundEngine/Actions/ActionClasses.h"

#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {

template <typename Action>
CSnEventAction* Make(uint16_t type, uint32_t id) {
  return PoolNew<Action>(g_DefaultPoolId, id, type);
}

SNRESULT ReadBody(CSnEventAction& action, const uint8_t* payload, uint32_t size) {
  SnBankCursor cursor(payload, size);
  if (action.ReadCommon(cursor) != SN_Success || action.ReadParameters(cursor) != SN_Success) {
    SOUND_LOG(Error, "Action %u of type 0x%04X: its parameters run past the end of its %u bytes", action.ID(),
              unsigned(action.ActionType()), size);
    return SN_Failure;
  }
  action.ConvertDelayToSamples();
  action.MarkParametersRead();
  return SN_Success;
}

}  // namespace

CSnEventAction* CreateActionObject(uint16_t actionType, uint32_t id) {
  switch (actionType >> 8) {
    case 0x01: return Make<CSnActionStop>(actionType, id);
    case 0x02: return Make<CSnActionPause>(actionType, id);
    case 0x03: return Make<CSnActionResume>(actionType, id);
    case 0x04: return Make<CSnActionPlay>(actionType, id);
    case 0x06: case 0x07: return Make<CSnActionSetFlag>(actionType, id);
    case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x20: case 0x30:
      return Make<CSnActionSetValue>(actionType, id);
    case 0x10: case 0x11: return Make<CSnActionUseState>(actionType, id);
    case 0x12: return Make<CSnActionSetState>(actionType, id);
    case 0x13: case 0x14: return Make<CSnActionSetGameParameter>(actionType, id);
    case 0x18: return Make<CSnActionDuckRecovery>(actionType, id);
    case 0x19: return Make<CSnActionSetSwitch>(actionType, id);
    case 0x1A: case 0x1B: return Make<CSnActionBypassEffect>(actionType, id);
    case 0x1C: return Make<CSnActionStopPendingPlays>(actionType, id);
    case 0x1D: return Make<CSnActionTrigger>(actionType, id);
    case 0x1E: return Make<CSnActionSeek>(actionType, id);
    case 0x1F: return Make<CSnActionNodeCommand>(actionType, id);
    case 0x21: return Make<CSnActionPlayEvent>(actionType, id);
    case 0x22: return Make<CSnActionResetPlaylist>(actionType, id);
    default: return nullptr;
  }
}

CSnEventAction* CreateAction(uint16_t actionType, uint32_t id) {
  CSnEventAction* action = CreateActionObject(actionType, id);
  if (action && g_pObjectIndex) g_pObjectIndex->List(SnIndex_Actions).Insert(action);
  return action;
}

SNRESULT ReadActionPayload(const uint8_t* payload, uint32_t size, CSnIndexedObject*& out) {
  out = nullptr;
  SnBankCursor peek(payload, size);
  uint32_t id = 0;
  uint16_t type = 0;
  if (!peek.Take(id) || !peek.Take(type)) {
    SOUND_LOG(Error, "Action object of %u bytes has no type", size);
    return SN_Failure;
  }
  // Continue-playback actions are the engine's own: a bank cannot bring one.
  if ((type >> 8) == 0x05) {
    SOUND_LOG(Error, "Action %u has type 0x%04X, which no bank may hold", id, unsigned(type));
    return SN_Failure;
  }
  CSnEventAction* action = CreateActionObject(type, id);
  if (!action) {
    SOUND_LOG(Error, "Action %u has type 0x%04X, which no action class serves", id, unsigned(type));
    return SN_Failure;
  }
  if (ReadBody(*action, payload, size) != SN_Success) {
    action->Release();
    return SN_Failure;
  }
  out = action;
  return SN_Success;
}

bool ActionReadsAgain(CSnIndexedObject* object) {
  const CSnEventAction* action = static_cast<const CSnEventAction*>(object);
  return action->ActionType() == SnAction_Play && !action->ParametersRead();
}

SNRESULT ReadActionAgain(CSnIndexedObject* object, const uint8_t* payload, uint32_t size) {
  return ReadBody(*static_cast<CSnEventAction*>(object), payload, size);
}

}  // namespace SN
