// The sound system: the last of the engine's systems. It brings the sound engine up with the engine
// (memory, streaming, file I/O, sound and music engines, the first bank), asks it to render every
// frame step, pauses it while the window is minimised, keeps the mute switches the emitters share,
// and takes it all down in reverse at shutdown.
#pragma once

#include <cstdint>
#include <string>

#include "Core/System.h"

namespace Audio {

class CSnFilePackageLowLevelIOBlocking;

// The game's one low-level I/O object, built before main; the sound system drives its life.
CSnFilePackageLowLevelIOBlocking& LowLevelIO();

class SoundSystem : public Core::System {
 public:
  // The newest sound system is the instance the emitters reach.
  SoundSystem();
  ~SoundSystem() override;
  static SoundSystem* GetInstance();

  // Never stops on a failure: each failed step logs its line and the next one runs.
  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "SoundSystem"; }
  void Shutdown(Core::Engine* engine) override;

  void FrameStep(float dt, Core::SpaceList* spaces);
  void OnWindowMinimize();
  void OnWindowFocus();

  // Each call posts its event again, also when the flag does not change.
  void SetAudioMuted(bool muted);
  void SetBGMMuted(bool muted);
  bool GetAudioMuted() const { return m_audioMuted != 0; }
  bool GetBGMMuted() const { return m_bgmMuted != 0; }
  // Logs "Sound Event \"%s\" post failure." when the engine gives no playing id.
  void PostNamedEvent(const std::string& name, uint32_t gameObject);

  // The game object the system's own events go to.
  static constexpr uint32_t kGlobalGameObject = 3;

 private:
  uint8_t m_bgmMuted = 0;
  uint8_t m_audioMuted = 0;
  // A restore while muted resumes nothing; the resume is made good when the master unmutes.
  bool m_resumeOwed = false;
  // The memory hooks are the program's only where nobody had installed any.
  bool m_installedMemoryHooks = false;
};

}  // namespace Audio
