// The sound emitter's ids, its events and mute switches, and its registration with the factory.
#include "Audio/SoundEmitter.h"

#include <unordered_map>

#include "Audio/Log.h"
#include "Audio/SoundSystem.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "SoundEngine/SoundEngineApi.h"

namespace Audio {

namespace {

uint32_t g_nextGameObjectId = 1;

// Initialised emitters per game object id (the instances of one archetype share theirs).
std::unordered_map<uint32_t, uint32_t>& Holders() {
  static std::unordered_map<uint32_t, uint32_t> holders;
  return holders;
}

}  // namespace

SoundEmitter::SoundEmitter() : m_gameObjectId(g_nextGameObjectId++) {}

void SoundEmitter::Initialize() {
  m_soundSystem = SoundSystem::GetInstance();
  if (m_holdsRegistration) return;
  auto holder = Holders().find(m_gameObjectId);
  if (holder == Holders().end()) {
    // Counted once registered: after a failure the next copy to initialise tries again.
    if (SN::SoundEngine::RegisterGameObj(m_gameObjectId, m_name.c_str(), 1) != SN::SN_Success) {
      AUDIO_LOG(Error, "Sound Object ID: %i \"%s\" failed to register.", int(m_gameObjectId), m_name.c_str());
      return;
    }
    holder = Holders().emplace(m_gameObjectId, 0u).first;
  }
  ++holder->second;
  m_holdsRegistration = true;
}

void SoundEmitter::Uninitialize() {
  if (!m_holdsRegistration) return;  // never initialised, or its registration failed
  m_holdsRegistration = false;
  auto holder = Holders().find(m_gameObjectId);
  if (holder == Holders().end() || --holder->second != 0) return;
  Holders().erase(holder);
  SN::SoundEngine::UnregisterGameObj(m_gameObjectId);
}

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

void SoundEmitter::SetState(const std::string& group, const std::string& state) {
  if (SN::SoundEngine::SetState(group.c_str(), state.c_str()) != SN::SN_Success)
    AUDIO_LOG(Error, "State \"%s\" of group \"%s\" could not be set.", state.c_str(), group.c_str());
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
  ORV_METHOD(SetState);
  ORV_METHOD(GetBGMMuted);
  ORV_METHOD(SetBGMMuted);
  ORV_METHOD(GetAudioMuted);
  ORV_METHOD(SetAudioMuted);
}
