// The insert effects of a voice: up to four plug-ins between the source and the voice's gains, run
// in place on the frame or out of place into a buffer of their own (which may change the channel
// layout and keep sounding after the source ended). The effect definitions come from the sound's
// node through the installed provider; without one a voice has no inserts. Audio thread, under the
// global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnLoadedBank;
class CSnModulatorInstanceList;
class CSnPropertyNode;
class ISnEffectDefinition;

// An effect plug-in that writes into a buffer of its own. Init may change the format's layout; the
// output then has that layout.
class ISnOutOfPlaceEffectPlugin : public ISnPlugin {
 public:
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, ISnEffectPluginContext* context, ISnPluginParam* params,
                        SnAudioFormat& format) = 0;
  // Reads `input` (no valid frames once the source ended: `inputEnded`), writes `output` and sets
  // its valid frames; true when it has nothing more to give after the input ended.
  virtual bool ProcessOutOfPlace(const SnMixBuffer& input, bool inputEnded, SnMixBuffer& output) = 0;

 protected:
  ~ISnOutOfPlaceEffectPlugin() = default;
};

// Where a voice finds the effect of a slot of its sound: a reference for the caller, or null.
class ISnVoiceEffectProvider {
 public:
  virtual ~ISnVoiceEffectProvider() = default;
  virtual ISnEffectDefinition* VoiceEffect(CSnPropertyNode* node, uint32_t slot, bool& bypass) = 0;
  // The slots that may hold an effect for the node's voices (bit n for slot n): a voice asks for
  // those alone.
  virtual uint32_t EffectSlots(CSnPropertyNode* node) {
    (void)node;
    return 0xF;
  }
};
inline ISnVoiceEffectProvider*& VoiceEffectProvider() { return ServiceSlot<ISnVoiceEffectProvider>(); }

class CSnVoiceInsertEffect {
 public:
  // The plug-in of `definition` for a voice whose frames arrive as `format` (the output's layout on
  // return); null when it cannot be made or refuses (logged), the format then unchanged. Its
  // parameters follow the curves for the voice's `key`; their modulators join `modulators`.
  static CSnVoiceInsertEffect* Create(ISnEffectDefinition* definition, uint32_t slot, void* voiceInformation,
                                      SnChannelConfig& format, uint16_t maxFrames, const SnRTPCKey& key = SnRTPCKey{},
                                      CSnModulatorInstanceList* modulators = nullptr);
  void Destroy();

  // One frame: `buffer` in, the effect's output out. `status` 45, or 17 when upstream finished; on
  // return 17 once the effect has nothing more, 2 when out of memory.
  void Process(SnMixBuffer*& buffer, uint32_t& status);
  // The frames past the valid ones up to the next multiple of 16 are cleared for the mixing kernels,
  // never past the buffer's own capacity.
  static void ClearToVectorEnd(SnMixBuffer& buffer);

  uint32_t EffectId() const { return m_effectId; }
  ISnPlugin* Plugin() const { return m_plugin; }
  bool InPlace() const { return m_inPlace; }
  // Out of place: the layout of its output.
  SnChannelConfig OutputFormat() const { return m_output.channelConfig; }
  bool Finished() const { return m_finished; }
  // The media its context handed the plug-in: whether it holds `data` / `bank`'s data, and the move
  // of the bank's to another holder (false when some could not move).
  bool UsesMedia(const void* data) const;
  bool UsesBankMedia(const CSnLoadedBank* bank) const;
  bool RelocateBankMedia(const CSnLoadedBank* bank);
  bool m_bypassed = false;

 private:
  class Context;
  CSnVoiceInsertEffect() = default;
  ~CSnVoiceInsertEffect();

  ISnPlugin* m_plugin = nullptr;
  ISnPluginParam* m_params = nullptr;
  ISnEffectDefinition* m_definition = nullptr;
  Context* m_context = nullptr;
  uint32_t m_effectId = 0;
  bool m_inPlace = true;
  bool m_finished = false;
  bool m_upstreamEnded = false;
  SnMixBuffer m_output;  // out of place: its own frames
};

}  // namespace SN
