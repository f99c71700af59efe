// The music renderer: the one music object of the process, made at the first Init and freed at the
// sound engine's last frame; it holds the music settings and loads music objects from banks.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicEngine.h"
#include "SoundEngine/GameSyncHooks.h"

namespace SN {

class CSnIndexedObject;
class CSnLoadedBank;

class CSnMusicRenderer {
 public:
  // Null when the music engine is not running.
  static CSnMusicRenderer* Instance();
  // Makes the renderer and joins the frame the first time; later calls only take the settings.
  static SNRESULT Create(const SnMusicSettings& settings);

  // The sound engine's hook for bank objects of types 10 to 13; SN_NothingChanged for any other.
  static SNRESULT LoadHircObject(const SnHircObjectHeader& header, CSnLoadedBank* bank, uint32_t bankId);

  explicit CSnMusicRenderer(const SnMusicSettings& settings) : m_settings(settings) {}
  const SnMusicSettings& Settings() const { return m_settings; }
  // Frames the renderer has taken part in.
  uint64_t Frames() const { return m_frames; }

 private:
  static void Frame(bool lastCall);
  static void Destroy();

  SnMusicSettings m_settings;
  uint64_t m_frames = 0;
};

}  // namespace SN
