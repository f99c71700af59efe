// The source factory: a playback instance's descriptor picks a plug-in, PCM or ADPCM source (in
// memory or streamed), or a registered codec's.
#include <algorithm>
#include <new>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/PcmSource.h"
#include "SoundEngine/Sources/PluginSource.h"
#include "SoundEngine/Sources/StreamedSources.h"

namespace SN {

namespace {

// The built-in sources share one size of block, kept for the next voices; a registered codec's
// source is made and sized by its factory.
constexpr size_t kBuiltInSize = std::max({sizeof(CSnPcmSource), sizeof(CSnAdpcmSource), sizeof(CSnPcmStreamSource),
                                          sizeof(CSnAdpcmStreamSource), sizeof(CSnPluginSource)});
constexpr size_t kBuiltInAlignment = std::max({alignof(CSnPcmSource), alignof(CSnAdpcmSource),
                                               alignof(CSnPcmStreamSource), alignof(CSnAdpcmStreamSource),
                                               alignof(CSnPluginSource)});

CSnKeptBlocks& KeptSources() {
  static CSnKeptBlocks kept(kBuiltInSize, kBuiltInAlignment, g_LEngineDefaultPoolId);
  return kept;
}

}  // namespace

void CSnVoiceSource::Destroy() {
  const bool kept = m_flags & kKeptBlock;
  this->~CSnVoiceSource();
  if (kept)
    KeptSources().Keep(this);
  else
    MemoryMgr::Free(g_LEngineDefaultPoolId, this);
}

namespace {

constexpr uint32_t kCodecPcm = 1;
constexpr uint32_t kCodecAdpcm = 2;

template <class T>
CSnVoiceSource* Make(ISnSourceInstance* instance) {
  void* memory = KeptSources().Take();
  if (!memory) {
    LowerEngine::NoteNoRoomForVoice();
    return nullptr;
  }
  T* source = new (memory) T(instance);
  source->MarkKeptBlock();
  return source;
}

CSnVoiceSource* MakeSource(ISnSourceInstance* instance) {
  const CSnSourceDesc& desc = instance->SourceDesc();
  const uint32_t storage = desc.StorageType();
  if (storage == CSnSourceDesc::Storage_Plugin) return Make<CSnPluginSource>(instance);
  if (storage == CSnSourceDesc::Storage_None) {
    SOUND_LOG(Error, "Source %u refused: it says nothing of where its bytes are kept", desc.sourceId);
    return nullptr;
  }
  if (desc.codecId < 0x10000) {
    SOUND_LOG(Error, "Source %u refused: codec id 0x%X", desc.sourceId, desc.codecId);
    return nullptr;
  }
  const uint32_t codec = desc.codecId >> 16;
  if (codec == kCodecPcm || codec == kCodecAdpcm) {
    const bool pcm = codec == kCodecPcm;
    if (storage == CSnSourceDesc::Storage_Streamed)
      return pcm ? Make<CSnPcmStreamSource>(instance) : Make<CSnAdpcmStreamSource>(instance);
    if (storage == CSnSourceDesc::Storage_InMemory)
      return pcm ? Make<CSnPcmSource>(instance) : Make<CSnAdpcmSource>(instance);
    SOUND_LOG(Error, "Source %u refused: storage %u for PCM or ADPCM", desc.sourceId, storage);
    return nullptr;
  }
  // Other codecs exist only when the game registered them; the codec id is their registry key.
  ISnSoftwareCodec* source = CSnPluginFactoryTable::CreateCodec(instance, storage, desc.codecId);
  if (!source) SOUND_LOG(Error, "Source %u refused: codec 0x%X is not registered", desc.sourceId, desc.codecId);
  return source;
}

}  // namespace

CSnVoiceSource* CreateVoiceSource(ISnSourceInstance* instance) {
  if (!instance) return nullptr;
  CSnVoiceSource* source = MakeSource(instance);
  if (!source) instance->DetachVoice();
  return source;
}

}  // namespace SN
