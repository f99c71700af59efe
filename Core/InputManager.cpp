// The input system's frame step and its process-wide instance.
#include "Core/InputManager.h"

#include "Base/Input/Gamepad.h"
#include "Base/Input/InputBackend.h"

namespace Core {
namespace {

InputManager* g_instance = nullptr;

}  // namespace

InputManager::InputManager(Base::InputBackend* backend) : m_backend(backend) { g_instance = this; }

InputManager::~InputManager() {
  if (g_instance == this) g_instance = nullptr;
}

InputManager* InputManager::GetInstance() { return g_instance; }

void InputManager::Initialize(Engine* engine) {
  if (engine) RegisterFrameStep<&InputManager::FrameStep>(*engine, this, "InputManager::FrameStep");
}

void InputManager::FrameStep(float, SpaceList*) {
  if (!m_backend) return;
  if (Base::Gamepad* gamepad = m_backend->GetGamepad()) gamepad->Poll();
}

}  // namespace Core
