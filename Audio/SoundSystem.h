// The sound system: the last of the engine's systems, where the sound engine's life in the game will
// be driven from (initialised with the engine, asked to render every frame step, stopped at shutdown).
// Until the sound engine joins it keeps its place in the order, the mute switches the emitters share,
// and answers every event post with the failure a sound engine without banks gives.
#pragma once

#include <cstdint>
#include <string>

#include "Core/System.h"

namespace Audio {

class SoundSystem : public Core::System {
 public:
  // The newest sound system is the instance the emitters reach.
  SoundSystem();
  ~SoundSystem() override;
  static SoundSystem* GetInstance();

  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "SoundSystem"; }
  void FrameStep(float dt, Core::SpaceList* spaces);

  void SetAudioMuted(bool muted) { m_audioMuted = muted; }
  void SetBGMMuted(bool muted) { m_bgmMuted = muted; }
  bool GetAudioMuted() const { return m_audioMuted != 0; }
  bool GetBGMMuted() const { return m_bgmMuted != 0; }
  // Logs "Sound Event \"%s\" post failure." when the event does not play: without a sound engine, never.
  void PostNamedEvent(const std::string& name, uint32_t gameObject);

 private:
  uint8_t m_bgmMuted = 0;
  uint8_t m_audioMuted = 0;
};

}  // namespace Audio
