// Fuzz target of media files: the header parser with markers, envelope and seek table, then the PCM
// and ADPCM sources prepared on the bytes (looping, seeking, skipping) and their buffers resampled to
// planar float, as a voice would play them.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/MarkerList.h"
#include "SoundEngine/Sources/PcmSource.h"
#include "SoundEngine/Sources/PitchResampler.h"
#include "bench/SoundBenchSupport.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

void Play(SN::CSnMediaSource& source, SourceTest::FakeInstance& instance) {
  if (source.PrepareSource() != SN::SN_Success) return;
  SN::CSnPitchResampler resampler;
  const bool resample = resampler.Init(instance.format, 48000) == SN::SN_Success;
  resampler.SetPitch(350.0f, true);
  std::vector<float> planes(size_t(256) * (instance.format.Channels() ? instance.format.Channels() : 1));
  SN::SnVoiceBuffer out;
  out.data = planes.data();
  out.maxFrames = 256;
  out.channelConfig = instance.format.channelConfig;
  for (int i = 0; i < 24; ++i) {
    SN::SnVoiceBuffer in;
    in.maxFrames = 300;
    source.GetBuffer(in);
    if (resample && in.validFrames) {
      resampler.m_requestedFrames = 256;
      while (in.validFrames && resampler.Run(in, out) == SN::SN_DataReady) resampler.m_outputOffset = 0;
    }
    in.FreeMarkers();
    source.ReleaseBuffer();
    source.GetEnvelopeDb(in.validFrames);
    if (i == 8) {
      instance.seek = SN::SnSeekRequest{true, false, true, 0.0f, 1000, 0};
      source.ApplyPendingSeek();
    }
    if (i == 12) {
      uint32_t frames = 700;
      source.SkipFrames(frames);
    }
    if (in.result != SN::SN_DataReady) break;
  }
  source.StopStream();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SoundBench::InitMemory();
  SN::g_DefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16 << 20, 16, SN::SnMemPool_AllocHook, 0);
  SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16 << 20, 64, SN::SnMemPool_AllocHook, 16);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  SN::SnMediaChunk fmt, akd, seek;
  uint32_t loopBegin, loopEnd, dataSize, dataOffset;
  SN::CSnMarkerList markers;
  if (SN::ParseMediaHeader(data, uint32_t(size), fmt, &markers, loopBegin, loopEnd, dataSize, dataOffset, &akd,
                           &seek) == SN::SN_Success) {
    SN::SnWaveFormat format;
    if (SN::ReadWaveFormat(fmt, format) == SN::SN_Success) SN::CheckWaveFormat(format);
  }
  markers.Free();
  const std::vector<uint8_t> bytes(data, data + size);
  for (uint16_t loops : {uint16_t(1), uint16_t(3)}) {
    SourceTest::FakeInstance pcm(bytes);
    pcm.loopCount = loops;
    SN::CSnPcmSource pcmSource(&pcm);
    Play(pcmSource, pcm);
    SourceTest::FakeInstance adpcm(bytes, 0x20000);
    adpcm.loopCount = loops;
    SN::CSnAdpcmSource adpcmSource(&adpcm);
    Play(adpcmSource, adpcm);
  }
  return 0;
}
