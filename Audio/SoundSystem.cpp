// The sound system's place among the engine's systems and its shared mute switches.
#include "Audio/SoundSystem.h"

#include "Audio/Log.h"
#include "Base/Reflection/Registration.h"

namespace Audio {

namespace {

SoundSystem* g_instance = nullptr;

}  // namespace

SoundSystem::SoundSystem() { g_instance = this; }

SoundSystem::~SoundSystem() {
  if (g_instance == this) g_instance = nullptr;
}

SoundSystem* SoundSystem::GetInstance() { return g_instance; }

void SoundSystem::Initialize(Core::Engine* engine) {
  if (engine) Core::RegisterFrameStep<&SoundSystem::FrameStep>(*engine, this, "SoundSystem::FrameStep");
}

// The sound engine renders here once it is part of the game.
void SoundSystem::FrameStep(float, Core::SpaceList*) {}

void SoundSystem::PostNamedEvent(const std::string& name, uint32_t) {
  AUDIO_LOG(Error, "Sound Event \"%s\" post failure.", name.c_str());
}

}  // namespace Audio

ORV_REFLECT_CLASS(Audio::SoundSystem) {}
