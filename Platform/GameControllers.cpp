// SDL game controllers read into the pad's classic masks and ranges.
#include "Platform/GameControllers.h"

#include <SDL2/SDL.h>

namespace Platform {

namespace {

struct ButtonMask {
  SDL_GameControllerButton button;
  uint16_t mask;
};

constexpr ButtonMask kButtons[] = {
    {SDL_CONTROLLER_BUTTON_DPAD_UP, 0x0001},     {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0x0002},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0x0004},   {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0x0008},
    {SDL_CONTROLLER_BUTTON_START, 0x0010},       {SDL_CONTROLLER_BUTTON_BACK, 0x0020},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, 0x0040},   {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 0x0080},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0x0100}, {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 0x0200},
    {SDL_CONTROLLER_BUTTON_A, 0x1000},           {SDL_CONTROLLER_BUTTON_B, 0x2000},
    {SDL_CONTROLLER_BUTTON_X, 0x4000},           {SDL_CONTROLLER_BUTTON_Y, 0x8000},
};

// SDL's triggers run 0..32767.
uint8_t Trigger(SDL_GameController* pad, SDL_GameControllerAxis axis) {
  const int value = SDL_GameControllerGetAxis(pad, axis);
  return uint8_t(value <= 0 ? 0 : value >> 7);
}

// SDL's y axes point down; the pad's point up. -32768 has no positive twin: it becomes full up.
int16_t Up(int16_t down) { return down == INT16_MIN ? INT16_MAX : int16_t(-down); }

}  // namespace

GameControllers* GameControllers::Open(std::string* error) {
  // As for windows: the events this brings up must leave Ctrl+C and termination signals alone.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    if (error) *error = std::string("game controller initialisation failed: ") + SDL_GetError();
    return nullptr;
  }
  return new GameControllers();
}

GameControllers::~GameControllers() {
  for (SDL_GameController*& pad : m_pads)
    if (pad) SDL_GameControllerClose(pad);
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void GameControllers::Refresh() {
  SDL_GameControllerUpdate();
  for (SDL_GameController*& pad : m_pads) {
    if (pad && !SDL_GameControllerGetAttached(pad)) {
      SDL_GameControllerClose(pad);
      pad = nullptr;
    }
  }
  const int joysticks = SDL_NumJoysticks();
  for (int index = 0; index < joysticks; ++index) {
    if (!SDL_IsGameController(index)) continue;
    const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(index);
    bool open = false;
    int freeSlot = -1;
    for (int slot = 0; slot < kSlots; ++slot) {
      if (m_pads[slot] && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(m_pads[slot])) == id) open = true;
      if (!m_pads[slot] && freeSlot < 0) freeSlot = slot;
    }
    if (open || freeSlot < 0) continue;
    m_pads[freeSlot] = SDL_GameControllerOpen(index);
  }
}

bool GameControllers::Read(int slot, ControllerReading& reading) {
  if (slot < 0 || slot >= kSlots) return false;
  if (slot == 0) Refresh();
  SDL_GameController* pad = m_pads[slot];
  if (!pad) return false;
  reading = ControllerReading();
  for (const ButtonMask& entry : kButtons)
    if (SDL_GameControllerGetButton(pad, entry.button)) reading.buttons |= entry.mask;
  reading.leftTrigger = Trigger(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT);
  reading.rightTrigger = Trigger(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
  reading.leftStickX = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTX);
  reading.leftStickY = Up(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTY));
  reading.rightStickX = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_RIGHTX);
  reading.rightStickY = Up(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_RIGHTY));
  return true;
}

void GameControllers::SetVibration(int slot, uint16_t left, uint16_t right) {
  if (slot < 0 || slot >= kSlots || !m_pads[slot]) return;
  SDL_GameControllerRumble(m_pads[slot], left, right, SDL_MAX_UINT32);
}

}  // namespace Platform
