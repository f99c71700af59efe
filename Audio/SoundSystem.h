// The sound system: the last of the engine's systems. It brings the sound engine up with the engine
// (memory, streaming, file I/O, sound and music engines, the first bank), asks it to render every
// frame step, pauses it while the window is minimised, fades out the sounds of a level that goes,
// keeps the mute switches the emitters share, lets player 0's pad rumble, and takes it all down in
// reverse at shutdown.
#pragma once

#include <cstdint>
#include <string>

#include "Audio/RumbleMotionDevice.h"
#include "Core/System.h"

namespace Base {
class GamepadSource;
}

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
  // A level's sounds end with it: each emitter of a space that goes has what it plays faded out.
  void OnGameSpaceDeleted(Core::GameSpace* space);
  void OnWindowMinimize();
  void OnWindowFocus();

  // Each call posts its event again, also when the flag does not change.
  void SetAudioMuted(bool muted);
  void SetBGMMuted(bool muted);
  bool GetAudioMuted() const { return m_audioMuted != 0; }
  bool GetBGMMuted() const { return m_bgmMuted != 0; }
  // Logs "Sound Event \"%s\" post failure." when the engine gives no playing id.
  void PostNamedEvent(const std::string& name, uint32_t gameObject);

  // The pads whose motors player 0's rumble device drives; null (the default) takes the input
  // system's gamepads. Set before Initialize.
  void SetRumblePads(Base::GamepadSource* pads) { m_rumblePads = pads; }

  // The game object the system's own events go to.
  static constexpr uint32_t kGlobalGameObject = 3;
  // The player whose pad rumbles: the game has one.
  static constexpr uint8_t kRumblePlayer = 0;

 private:
  void AddRumbleDevice();

  uint8_t m_bgmMuted = 0;
  uint8_t m_audioMuted = 0;
  // A restore while muted resumes nothing; the resume is made good when the master unmutes.
  bool m_resumeOwed = false;
  // The memory hooks are the program's only where nobody had installed any.
  bool m_installedMemoryHooks = false;
  Base::GamepadSource* m_rumblePads = nullptr;
  // What the rumble device drives; it lives as long as the system, past the engine's end.
  GamepadRumble m_rumble;
};

}  // namespace Audio
