// The float ring sink: slots filled on the audio thread, handed over and taken on the platform's
// playback thread, the ring counted with one atomic, all rings paced together.
#include "SoundEngine/Lower/Output/Platform/FloatRingSink.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN {
namespace {

// The ring always has this many slots at least; more when the settings ask for more buffers.
constexpr uint32_t kMinSlots = 8;
// What a ring asks when no ring limits it.
constexpr int32_t kUnlimitedFrames = 1000;

// Every float ring sink, newest first. Audio thread.
CSnFloatRingSink*& Rings() {
  static CSnFloatRingSink* head = nullptr;
  return head;
}

uint32_t MaskForChannelCount(uint32_t channels) {
  if (channels >= 7) return kMask71;
  if (channels >= 4) return kMask51;
  return kMaskStereo;
}

}  // namespace

CSnFloatRingSink::~CSnFloatRingSink() {
  // Closing waits for a pass under way: nothing reads the ring after this.
  if (m_pOutput) Platform::CloseAudioPullOutput(m_pOutput);
  if (m_pRing) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pRing);
}

void CSnFloatRingSink::Term(SnMemPoolId pool) {
  for (CSnFloatRingSink** link = &Rings(); *link; link = &(*link)->m_pNextRing) {
    if (*link == this) {
      *link = m_pNextRing;
      break;
    }
  }
  CSnSink::Term(pool);
}

SNRESULT CSnFloatRingSink::Init(uint32_t channelMask) {
  if (channelMask == 0) channelMask = MaskForChannelCount(Platform::DefaultAudioOutputChannels());
  m_channels = MaskChannelCount(channelMask);
  m_channelConfig = StandardConfig(channelMask);
  m_frameSamples = LowerEngine::SamplesPerFrame();
  m_slotSamples = m_channels * m_frameSamples;
  m_sinkBuffers = LowerEngine::PlatformSettings().sinkBufferCount & 0xFFFF;
  // More buffers than slots would let the audio thread write over slots still queued.
  m_slotCount = std::max(kMinSlots, m_sinkBuffers);
  m_pOutput = Platform::OpenAudioPullOutput(LowerEngine::SampleRate(), m_channels, m_frameSamples, &Fill, this);
  if (!m_pOutput) return SN_Failure;
  const size_t bytes = size_t(m_slotCount) * m_slotSamples * sizeof(float);
  m_pRing = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
  if (!m_pRing) return SN_InsufficientMemory;
  std::memset(m_pRing, 0, bytes);
  const SNRESULT frame = AllocFrameBuffer(m_channelConfig);
  if (frame != SN_Success) return frame;
  // Queued as deep as the main output's ring, so that both play the same frame at once. Writing
  // goes on from the slot after those queued: the platform takes slots in the order handed over.
  const CSnSink* main = LowerEngine::MainDevice() ? LowerEngine::MainDevice()->Sink() : nullptr;
  if (main && main == LowerEngine::MainSink() && main->Kind() == SnSinkKind_Engine) {
    const auto* ring = static_cast<const CSnFloatRingSink*>(main);
    const uint32_t filled = std::min(ring->FilledSlots(), m_slotCount);
    m_filled.store(int32_t(filled), std::memory_order_release);
    m_writeIndex = filled % m_slotCount;
    m_submitIndex = 0;
    m_readIndex = 0;
    for (uint32_t i = 0; i < filled; ++i) {
      m_submitIndex = (m_submitIndex + 1) % m_slotCount;
      ++m_queued;
    }
  }
  m_pNextRing = Rings();
  Rings() = this;
  return SN_Success;
}

SNRESULT CSnFloatRingSink::Play() { return m_pOutput && m_pOutput->Start() ? SN_Success : SN_Failure; }

SNRESULT CSnFloatRingSink::IsDataNeeded(uint32_t& frames) {
  int32_t most = kUnlimitedFrames;
  for (const CSnFloatRingSink* ring = Rings(); ring; ring = ring->m_pNextRing) {
    // Signed: a ring fuller than its buffer count asks for nothing, never for a wrapped count.
    const int32_t room = int32_t(ring->m_sinkBuffers) - ring->m_filled.load(std::memory_order_acquire);
    most = std::min(most, std::max(room, 0));
  }
  frames = uint32_t(most);
  if (!m_lost && m_pOutput && m_pOutput->IsLost()) {
    m_lost = true;
    SOUND_LOG(Warning, "Float ring output: the platform lost the device");
  }
  return m_lost ? SN_Failure : SN_Success;
}

void CSnFloatRingSink::Commit(bool silent) {
  float* slot = Slot(m_writeIndex);
  const uint32_t frames = silent ? 0 : std::min<uint32_t>(m_frameBuffer.validFrames, m_frameSamples);
  if (frames) {
    // Held to full scale on the way into the slot: the float platform would play anything.
    if (m_frameBuffer.channelConfig == m_channelConfig)
      FrameConvert::ClipToFullScale(m_frameBuffer.samples, slot, size_t(frames) * m_channels);
    else
      FrameConvert::InterleavedToFloat(m_frameBuffer.samples, m_frameBuffer.channelConfig, slot, m_channelConfig,
                                       frames);
  }
  // A short frame ends in silence, not in what the slot held a ring ago.
  std::memset(slot + size_t(frames) * m_channels, 0, size_t(m_frameSamples - frames) * m_channels * sizeof(float));
  m_writeIndex = (m_writeIndex + 1) % m_slotCount;
  // Publishes the slot to the playback thread.
  m_filled.fetch_add(1, std::memory_order_acq_rel);
}

void CSnFloatRingSink::WriteFrame() { Commit(false); }
void CSnFloatRingSink::WriteSilence() { Commit(true); }

uint32_t CSnFloatRingSink::GetWaitTime() { return 2 * LowerEngine::FrameDurationMs(); }

void CSnFloatRingSink::Submit() {
  if (m_queued >= m_sinkBuffers) return;
  if (m_queued == 0 && m_playedAny) m_starved.store(true, std::memory_order_release);
  const uint32_t filled = uint32_t(std::max(m_filled.load(std::memory_order_acquire), 0));
  while (m_queued < filled && m_queued < m_slotCount) {
    m_submitIndex = (m_submitIndex + 1) % m_slotCount;
    ++m_queued;
  }
}

void CSnFloatRingSink::Fill(void* context, float* out, uint32_t frames) {
  auto* self = static_cast<CSnFloatRingSink*>(context);
  self->Submit();
  const uint32_t channels = self->m_channels;
  while (frames) {
    if (self->m_queued == 0) {
      std::memset(out, 0, size_t(frames) * channels * sizeof(float));
      return;
    }
    const uint32_t run = std::min(frames, self->m_frameSamples - self->m_readFrame);
    std::memcpy(out, self->Slot(self->m_readIndex) + size_t(self->m_readFrame) * channels,
                size_t(run) * channels * sizeof(float));
    out += size_t(run) * channels;
    frames -= run;
    self->m_playedAny = true;
    self->m_readFrame += run;
    if (self->m_readFrame == self->m_frameSamples) {
      // A slot played whole is a finished buffer: the audio thread may fill it again.
      self->m_readFrame = 0;
      self->m_readIndex = (self->m_readIndex + 1) % self->m_slotCount;
      --self->m_queued;
      self->m_filled.fetch_sub(1, std::memory_order_acq_rel);
      LowerEngine::WakeAudioThread();
    }
  }
}

CSnSink* CreateFloatRingSink(uint32_t channelMask) {
  void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnFloatRingSink));
  if (!memory) return nullptr;
  auto* sink = new (memory) CSnFloatRingSink;
  if (sink->Init(channelMask) != SN_Success) {
    sink->Term(g_LEngineDefaultPoolId);
    return nullptr;
  }
  return sink;
}

}  // namespace SN
