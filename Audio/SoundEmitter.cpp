// The sound emitter's ids, its events and mute switches, and its registration with the factory.
#include "Audio/SoundEmitter.h"

#include "Audio/SoundSystem.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"

namespace Audio {

namespace {

uint32_t g_nextGameObjectId = 1;

}  // namespace

SoundEmitter::SoundEmitter() : m_gameObjectId(g_nextGameObjectId++) {}

void SoundEmitter::Initialize() { m_soundSystem = SoundSystem::GetInstance(); }

Core::GameComponent& SoundEmitter::Assign(const Core::GameComponent& other) {
  GameComponent::Assign(other);
  if (other.m_typeInfo == m_typeInfo) {
    const SoundEmitter& source = static_cast<const SoundEmitter&>(other);
    m_gameObjectId = source.m_gameObjectId;
    m_name = source.m_name;
    m_soundSystem = source.m_soundSystem;
  }
  return *this;
}

void SoundEmitter::PostEvent(const std::string& name) {
  if (SoundSystem* system = m_soundSystem ? m_soundSystem : SoundSystem::GetInstance())
    system->PostNamedEvent(name, m_gameObjectId);
}

bool SoundEmitter::GetBGMMuted() const { return m_soundSystem && m_soundSystem->GetBGMMuted(); }

void SoundEmitter::SetBGMMuted(bool muted) {
  if (m_soundSystem) m_soundSystem->SetBGMMuted(muted);
}

bool SoundEmitter::GetAudioMuted() const { return m_soundSystem && m_soundSystem->GetAudioMuted(); }

void SoundEmitter::SetAudioMuted(bool muted) {
  if (m_soundSystem) m_soundSystem->SetAudioMuted(muted);
}

}  // namespace Audio

ORV_ON_LOAD { Core::RegisterComponentCreator<Audio::SoundEmitter>(Core::ComponentType_SoundEmitter); }

ORV_REFLECT_CLASS(Audio::SoundEmitter) {
  Core::InstallComponentOps(type.Record());
  ORV_METHOD(PostEvent);
  ORV_METHOD(GetBGMMuted);
  ORV_METHOD(SetBGMMuted);
  ORV_METHOD(GetAudioMuted);
  ORV_METHOD(SetAudioMuted);
}
