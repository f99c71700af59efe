// The sound-emitter component: gives its object a voice in the sound engine under an id of its own,
// lets scripts post named events on it, and carries the script switches for the global mutes.
// The sound engine sees every emitter as an unpositioned game object.
#pragma once

#include <cstdint>
#include <string>

#include "Core/GameComponent.h"

namespace Audio {

class SoundSystem;

class SoundEmitter : public Core::GameComponent {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_SoundEmitter;

  // Draws the next id (1, 2, 3 ... in construction order, never reused). A copy keeps its source's.
  SoundEmitter();
  // A copy holds no registration of its own until it is initialised.
  SoundEmitter(const SoundEmitter& other)
      : GameComponent(other), m_gameObjectId(other.m_gameObjectId), m_name(other.m_name), m_soundSystem(other.m_soundSystem) {}

  // Remembers the sound system the mute switches go to and registers the game object under the
  // emitter's name. Copies share their source's id: the game object is registered by the first of
  // them to initialise and unregistered when the last one uninitialises.
  void Initialize() override;
  void Uninitialize() override;
  GameComponent& Assign(const GameComponent& other) override;

  void PostEvent(const std::string& name);
  // Sets a state group's state for every object (the music's mood, for one).
  void SetState(const std::string& group, const std::string& state);
  // Nothing (false) on an emitter that was never initialised.
  bool GetBGMMuted() const;
  void SetBGMMuted(bool muted);
  bool GetAudioMuted() const;
  void SetAudioMuted(bool muted);

  uint32_t GetGameObjectId() const { return m_gameObjectId; }
  const std::string& GetName() const { return m_name; }

  // Fields after the base, in this order.
  uint32_t m_gameObjectId;
  std::string m_name = "Placeholder";
  SoundSystem* m_soundSystem = nullptr;

 private:
  // Counted among its id's holders: only a registration that succeeded is counted and let go.
  bool m_holdsRegistration = false;
};

}  // namespace Audio
