// Output devices and their list: adding and removing, sinks made and replaced, the per-frame check
// and output, suspended mode, speaker angles and the capture of what each device plays.
#include "SoundEngine/Lower/Output/OutputDevice.h"

#include <atomic>
#include <cstring>
#include <new>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Output/CaptureFile.h"
#include "SoundEngine/Lower/Output/Sink.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/PairGainTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

struct DeviceList {
  CSnOutputDevice* head = nullptr;
  CSnOutputDevice* tail = nullptr;
  uint32_t count = 0;
  CSnSink* mainSink = nullptr;
  std::atomic<bool> deviceChanged{false};
  float previousMasterVolume = 1.0f;
  float masterVolume = 1.0f;
  char16_t* captureName = nullptr;  // default pool; the running capture's name with a digit put in
  uint32_t captureDigitAt = 0;
  // Capture names past the first device carry a decimal number where the digit goes.
  uint32_t captureNumber = 0;
  bool markerCutSaid = false;  // once per capture
};

namespace {

DeviceList& Devices() {
  static DeviceList list;
  return list;
}

size_t NameLength(const char16_t* name) {
  size_t length = 0;
  while (name[length]) ++length;
  return length;
}

}  // namespace

CSnOutputDevice::CSnOutputDevice(uint32_t outputType, uint32_t deviceId, const SnOutputSettings& settings,
                                 uint32_t sinkTypeWord, bool isMain)
    : m_outputType(outputType),
      m_deviceId(deviceId),
      m_panningRule(settings.panningRule),
      m_settings(settings),
      m_sinkTypeWord(sinkTypeWord),
      m_isMain(isMain) {}

CSnOutputDevice::~CSnOutputDevice() {
  CloseCapture();
  TermSink();
  if (m_pSpeakerAngles) MemoryMgr::Free(g_LEngineDefaultPoolId, m_pSpeakerAngles);
  FreePairGainTables(m_pPairTables);
}

void CSnOutputDevice::TermSink() {
  if (!m_pSink) return;
  if (m_isMain && Devices().mainSink == m_pSink) Devices().mainSink = nullptr;
  m_pSink->Term(g_LEngineDefaultPoolId);
  m_pSink = nullptr;
}

uint32_t CSnOutputDevice::GetMaxFrames() const { return LowerEngine::SamplesPerFrame(); }

SNRESULT CSnOutputDevice::SignalAudioThread() {
  if (!m_isMain) return SN_Failure;
  LowerEngine::WakeAudioThread();
  return SN_Success;
}

uint32_t CSnOutputDevice::GetNumSinkBuffers() const {
  return LowerEngine::PlatformSettings().sinkBufferCount & 0xFFFF;
}

CSnSink* CSnOutputDevice::MakeSink(bool playNow) {
  CSnSink* sink = nullptr;
  if (m_settings.customSinkFactory) {
    // Game code, also when Init makes the device: its calls meet the engine down; a throw makes no sink.
    const SnCustomSinkFactory factory = m_settings.customSinkFactory;
    GameCode::Call(GameCode::Kind::SinkFactory, [&] { sink = factory(g_LEngineDefaultPoolId); });
    if (sink) {
      // The sink's own calls are the game's too.
      const auto sinkCall = [](auto&& code) { GameCode::Call(GameCode::Kind::CustomSink, code); };
      SnSinkFormat format{LowerEngine::SampleRate(), m_settings.channelConfig, 32, true,
                          4 * ChannelCount(m_settings.channelConfig)};
      SNRESULT made = SN_Failure;
      sinkCall([&] { made = sink->Init(g_LEngineDefaultPoolId, this, format); });
      if (made == SN_Success) m_settings.channelConfig = format.channelConfig;
      if (made == SN_Success && playNow) sinkCall([&] { made = sink->Play(); });
      if (made != SN_Success) {
        sinkCall([&] { sink->Term(g_LEngineDefaultPoolId); });
        sink = nullptr;
      }
      return sink;
    }
  } else {
    sink = SinkFactory::Create(m_settings, m_sinkTypeWord, m_deviceId, Devices().mainSink);
    if (sink) m_settings.channelConfig = sink->ChannelConfig();
  }
  if (sink && playNow && sink->Play() != SN_Success) {
    sink->Term(g_LEngineDefaultPoolId);
    sink = nullptr;
  }
  return sink;
}

void CSnOutputDevice::TakeSink(CSnSink* sink) {
  TermSink();
  m_pSink = sink;
  m_channelConfig = m_settings.customSinkFactory ? m_settings.channelConfig : sink->ChannelConfig();
  // A device whose frame is one of one back pair and one side speaker plays the side pair.
  const uint32_t mask = ChannelMask(m_channelConfig);
  if (ConfigType(m_channelConfig) == kConfigTypeStandard &&
      ((mask & kSpeakerBackLeft) != 0) != ((mask & kSpeakerSideLeft) != 0) && (mask & kSpeakerBackLeft)) {
    m_channelConfig = StandardConfig((mask & ~0x30u) | 0x600u);
  }
  m_settings.channelConfig = m_channelConfig;
  if (m_isMain) Devices().mainSink = m_settings.customSinkFactory ? nullptr : sink;
  m_state = (m_sinkTypeWord & kSinkWordSilent) && !m_settings.customSinkFactory ? SnDeviceState::Silent
                                                                                : SnDeviceState::OwnSink;
}

SNRESULT CSnOutputDevice::SwitchToDummySink() {
  if (m_state == SnDeviceState::Silent && m_pSink) return SN_Success;
  SnOutputSettings silent{m_panningRule, m_channelConfig, nullptr};
  CSnSink* sink = SinkFactory::Create(silent, kSinkWordSilent, m_deviceId, Devices().mainSink);
  if (!sink) return SN_Failure;
  const SNRESULT played = sink->Play();
  if (played != SN_Success) {
    sink->Term(g_LEngineDefaultPoolId);
    return played;
  }
  TermSink();
  m_pSink = sink;
  m_channelConfig = sink->ChannelConfig();
  if (m_isMain) Devices().mainSink = sink;
  m_state = SnDeviceState::Silent;
  return SN_Success;
}

void CSnOutputDevice::PassData(SnMixBuffer& mix) {
  const DeviceList& list = Devices();
  mix.previousGain *= m_previousVolume * list.previousMasterVolume;
  mix.nextGain *= m_volume * list.masterVolume;
  // The capture takes the frame as the platform sink plays it, speaker by speaker; a mix the sink
  // does not play leaves the capture's frame silent too.
  if (m_pCaptureBuffer && mix.validFrames) {
    const uint32_t frames = mix.maxFrames < m_pCaptureBuffer->maxFrames ? mix.maxFrames : m_pCaptureBuffer->maxFrames;
    auto* out = reinterpret_cast<int16_t*>(m_pCaptureBuffer->samples);
    const SnChannelConfig layout = m_pCaptureBuffer->channelConfig;
    if (FrameConvert::MixToInt16(mix, frames, mix.previousGain, mix.nextGain, layout, m_pCaptureScratch, out)) {
      const uint32_t channels = ChannelCount(layout);
      std::memset(out + size_t(frames) * channels, 0, size_t(m_pCaptureBuffer->maxFrames - frames) * channels * 2);
      m_pCaptureBuffer->validFrames = mix.validFrames;
    }
  }
  if (m_pSink) m_pSink->PassData(mix, mix.previousGain, mix.nextGain);
}

void CSnOutputDevice::EndFrame() {
  if (m_pCapture && m_pCaptureBuffer) {
    const uint32_t bytes = ChannelCount(m_pCaptureBuffer->channelConfig) * LowerEngine::SamplesPerFrame() * 2;
    if (m_pCaptureBuffer->validFrames == 0) std::memset(m_pCaptureBuffer->samples, 0, bytes);
    m_pCapture->PassSampleData(m_pCaptureBuffer->samples, bytes);
    m_pCaptureBuffer->validFrames = 0;
  }
  if (m_pSink) m_pSink->EndFrame();
  m_previousVolume = m_volume;
}

SNRESULT CSnOutputDevice::SetSpeakerAngles(const float* degrees, uint32_t count, float heightDegrees) {
  if (!(heightDegrees >= -90.0f && heightDegrees <= 90.0f)) return SN_InvalidParameter;
  if (!degrees && count) return SN_InvalidParameter;
  const uint32_t n = count > m_speakerAngleCount ? count : m_speakerAngleCount;
  if (n == 0) return SN_Failure;
  auto* units = static_cast<uint32_t*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, n * sizeof(uint32_t)));
  float* all = static_cast<float*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, n * sizeof(float)));
  if (!units || !all) {
    MemoryMgr::Free(g_LEngineDefaultPoolId, units);
    MemoryMgr::Free(g_LEngineDefaultPoolId, all);
    return SN_InsufficientMemory;
  }
  for (uint32_t i = 0; i < count; ++i) all[i] = degrees[i];
  for (uint32_t i = count; i < m_speakerAngleCount; ++i)
    all[i] = float(m_pSpeakerAngles[i]) * 360.0f / float(kAngleUnitsPerCircle);
  uint32_t spacing = 0;
  const SNRESULT result = CSnSpeakerPan::DegreesToAngles(all, n, units, spacing);
  MemoryMgr::Free(g_LEngineDefaultPoolId, all);
  if (result == SN_Success) {
    MemoryMgr::Free(g_LEngineDefaultPoolId, m_pSpeakerAngles);
    m_pSpeakerAngles = units;
    m_speakerAngleCount = n;
    m_inverseMinSpacing = spacing ? 1.0f / float(spacing) : 0.0f;
    m_heightAngle = heightDegrees;
    // The tables follow the angles: the next pan builds them again.
    FreePairGainTables(m_pPairTables);
  } else {
    MemoryMgr::Free(g_LEngineDefaultPoolId, units);
  }
  return result;
}

SNRESULT CSnOutputDevice::GetSpeakerAngles(float* degrees, uint32_t& count, float& heightDegrees) const {
  if (!m_pSink) return SN_Failure;
  if (ConfigType(m_channelConfig) != kConfigTypeStandard) {
    count = 0;
    heightDegrees = 0.0f;
    return SN_Failure;
  }
  if (!degrees) {
    count = kDefaultSpeakerAngleCount;
  } else {
    uint32_t n = count < kDefaultSpeakerAngleCount ? count : kDefaultSpeakerAngleCount;
    if (n > m_speakerAngleCount) n = m_speakerAngleCount;
    CSnSpeakerPan::AnglesToDegrees(m_pSpeakerAngles, n, degrees);
    count = n;
  }
  heightDegrees = m_heightAngle;
  return SN_Success;
}

SNRESULT CSnOutputDevice::OpenCapture(const char16_t* fileName) {
  if (m_pCapture) return SN_Success;
  const uint32_t channels = ChannelCount(m_channelConfig);
  const uint32_t frames = LowerEngine::SamplesPerFrame();
  if (channels == 0) return SN_Failure;
  if (channels > kMaxFrameChannels) return SN_Failure;
  auto* buffer = PoolNew<SnMixBuffer>(g_LEngineDefaultPoolId);
  void* samples = buffer ? MemoryMgr::Malign(g_LEngineDefaultPoolId, size_t(channels) * frames * 2, 16) : nullptr;
  void* scratch =
      samples ? MemoryMgr::Malign(g_LEngineDefaultPoolId, size_t(kMaxFrameChannels) * frames * sizeof(float), 16)
              : nullptr;
  if (!scratch) {
    if (samples) MemoryMgr::Falign(g_LEngineDefaultPoolId, samples);
    if (buffer) PoolDelete(g_LEngineDefaultPoolId, buffer);
    return SN_InsufficientMemory;
  }
  buffer->samples = static_cast<float*>(samples);
  // The layout the file was opened with, whatever sink the device takes later.
  buffer->channelConfig = m_channelConfig;
  buffer->state = kBufferNeedsData;
  buffer->maxFrames = uint16_t(frames);
  buffer->validFrames = 0;
  m_pCapture = CSnCaptureFile::Create(fileName, uint16_t(channels), LowerEngine::SampleRate(), 16, 1);
  if (!m_pCapture) {
    MemoryMgr::Falign(g_LEngineDefaultPoolId, scratch);
    MemoryMgr::Falign(g_LEngineDefaultPoolId, samples);
    PoolDelete(g_LEngineDefaultPoolId, buffer);
    return SN_Failure;
  }
  m_pCaptureBuffer = buffer;
  m_pCaptureScratch = static_cast<float*>(scratch);
  return SN_Success;
}

void CSnOutputDevice::CloseCapture() {
  if (m_pCapture) m_pCapture->Close();
  m_pCapture = nullptr;
  if (m_pCaptureBuffer) {
    MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pCaptureBuffer->samples);
    MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pCaptureScratch);
    PoolDelete(g_LEngineDefaultPoolId, m_pCaptureBuffer);
    m_pCaptureBuffer = nullptr;
    m_pCaptureScratch = nullptr;
  }
}

void CSnOutputDevice::AddCaptureMarker(const char* text) {
  if (m_pCapture) m_pCapture->AddMarker(text);
}

namespace LowerEngine {
namespace {

// The name of the capture of the device numbered `number` (0: the main device's, as given).
bool CaptureNameFor(uint32_t number, char16_t* out, size_t room) {
  const DeviceList& list = Devices();
  const char16_t* name = list.captureName;
  const size_t length = NameLength(name);
  char16_t digits[12];
  size_t digitCount = 0;
  if (number) {
    char16_t reversed[12];
    for (uint32_t n = number; n; n /= 10) reversed[digitCount++] = char16_t(u'0' + n % 10);
    for (size_t i = 0; i < digitCount; ++i) digits[i] = reversed[digitCount - 1 - i];
  }
  if (length + digitCount + 1 > room) return false;
  size_t at = 0;
  for (size_t i = 0; i < list.captureDigitAt; ++i) out[at++] = name[i];
  for (size_t i = 0; i < digitCount; ++i) out[at++] = digits[i];
  for (size_t i = list.captureDigitAt; i < length; ++i) out[at++] = name[i];
  out[at] = 0;
  return true;
}

void OpenDeviceCapture(CSnOutputDevice* device) {
  DeviceList& list = Devices();
  const uint32_t number = device->IsMainOutput() ? 0 : ++list.captureNumber;
  const size_t room = NameLength(list.captureName) + 12;
  auto* name = static_cast<char16_t*>(MemoryMgr::Malloc(g_DefaultPoolId, room * sizeof(char16_t)));
  if (!name || (CaptureNameFor(number, name, room) && device->OpenCapture(name) == SN_InsufficientMemory))
    SOUND_LOG_REPEATING_ABOUT(Error, device->DeviceId(),
                              "StartOutputCapture: no memory to capture output %u of type %u", device->DeviceId(),
                              device->OutputType());
  MemoryMgr::Free(g_DefaultPoolId, name);
}

void Append(CSnOutputDevice* device) {
  DeviceList& list = Devices();
  device->m_pNext = nullptr;
  if (list.tail)
    list.tail->m_pNext = device;
  else
    list.head = device;
  list.tail = device;
  ++list.count;
}

void DestroyDevice(CSnOutputDevice* device) { PoolDelete(g_DefaultPoolId, device); }

// The listeners a removed secondary output took from the main device, and that no other output
// holds, are the main device's again, with the voices playing for them: a listener no device renders
// would keep its voices silent for good. Motion outputs never took any.
void ReturnListenersToMainDevice(const CSnOutputDevice& removed) {
  CSnOutputDevice* mainDevice = MainDevice();
  if (!mainDevice || removed.OutputType() == SnOutput_Motion) return;
  uint32_t returned = removed.ListenerMask() & ~mainDevice->m_listenerMask;
  for (CSnOutputDevice* d = mainDevice->m_pNext; d; d = d->m_pNext)
    if (d->OutputType() != SnOutput_Motion) returned &= ~d->m_listenerMask;
  if (!returned) return;
  mainDevice->m_listenerMask |= returned;
  ListenerTable().SetOutputDevice(returned, SnOutput_Main, 0);
  UpdateDeviceRouting(SnOutput_Main, 0, mainDevice->m_listenerMask);
}

SNRESULT AddOutputDevice(uint32_t outputType, uint32_t deviceId, const SnOutputSettings& settings,
                         uint32_t sinkTypeWord, uint32_t listenerMask, bool isMain) {
  if (sinkTypeWord == SnOutput_SecondaryAlias) sinkTypeWord = SnOutput_Secondary;
  auto* device = PoolNew<CSnOutputDevice>(g_DefaultPoolId, outputType, deviceId, settings, sinkTypeWord, isMain);
  if (!device) return SN_InsufficientMemory;
  if (CSnSink* sink = device->MakeSink(false)) {
    device->TakeSink(sink);
  } else if (device->SwitchToDummySink() != SN_Success) {
    SOUND_LOG(Error, "Output device (%u, %u): neither a sink nor a silent sink could be made", outputType, deviceId);
    DestroyDevice(device);
    return SN_InsufficientMemory;
  }
  float degrees[kDefaultSpeakerAngleCount];
  float height = 0.0f;
  CSnSpeakerPan::DefaultSpeakerAngles(device->ChannelConfig(), degrees, height);
  if (device->SetSpeakerAngles(degrees, kDefaultSpeakerAngleCount, height) != SN_Success) {
    DestroyDevice(device);
    return SN_Failure;
  }
  Append(device);
  DeviceList& list = Devices();
  if (outputType == SnOutput_Motion) {
    // Motion outputs take no listener here: the later devices' listeners are not theirs.
    for (CSnOutputDevice* d = list.head ? list.head->m_pNext : nullptr; d; d = d->m_pNext) listenerMask &= ~d->m_listenerMask;
    listenerMask = 0;
  }
  if (listenerMask) {
    if (list.head && list.head != device) list.head->m_listenerMask &= ~listenerMask;
    device->m_listenerMask = listenerMask;
    ListenerTable().SetOutputDevice(listenerMask, outputType, deviceId);
  }
  if (list.captureName) OpenDeviceCapture(device);
  return SN_Success;
}

}  // namespace

SNRESULT AddMainOutputDevice(const SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t listenerMask) {
  return AddOutputDevice(SnOutput_Main, 0, settings, sinkTypeWord | kSinkWordMain, listenerMask, true);
}

SNRESULT AddOutputDeviceIfAbsent(const SnOutputSettings& settings, uint32_t outputType, uint32_t deviceId,
                                 uint32_t listenerMask) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (outputType == SnOutput_Main && deviceId == 0) return SN_Failure;
  if (FindOutputDevice(outputType, deviceId)) return SN_Success;
  return AddOutputDevice(outputType, deviceId, settings, outputType, listenerMask, false);
}

SNRESULT RemoveOutputDevice(uint32_t outputType, uint32_t deviceId) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  DeviceList& list = Devices();
  CSnOutputDevice* previous = nullptr;
  for (CSnOutputDevice* d = list.head; d; previous = d, d = d->m_pNext) {
    if (d->OutputType() != outputType || d->DeviceId() != deviceId) continue;
    if (previous)
      previous->m_pNext = d->m_pNext;
    else
      list.head = d->m_pNext;
    if (list.tail == d) list.tail = previous;
    --list.count;
    ReturnListenersToMainDevice(*d);
    DestroyDevice(d);
    return SN_Success;
  }
  return SN_Failure;
}

void TermOutputDevices() {
  DeviceList& list = Devices();
  while (CSnOutputDevice* d = list.head) {
    list.head = d->m_pNext;
    DestroyDevice(d);
  }
  list.tail = nullptr;
  list.count = 0;
  list.mainSink = nullptr;
  list.previousMasterVolume = list.masterVolume = 1.0f;
  MemoryMgr::Free(g_DefaultPoolId, list.captureName);
  list.captureName = nullptr;
  list.captureNumber = 0;
  list.deviceChanged = false;
}

CSnOutputDevice* FindOutputDevice(uint32_t outputType, uint32_t deviceId) {
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext)
    if (d->OutputType() == outputType && d->DeviceId() == deviceId) return d;
  return nullptr;
}

void SetMotionOutputListeners(uint32_t player, uint32_t listenerMask) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (CSnOutputDevice* device = FindOutputDevice(SnOutput_Motion, player)) device->m_listenerMask = listenerMask;
}

CSnOutputDevice* MainDevice() {
  CSnOutputDevice* first = Devices().head;
  return first && first->IsMainOutput() ? first : nullptr;
}
CSnOutputDevice* FirstOutputDevice() { return Devices().head; }
uint32_t OutputDeviceCount() { return Devices().count; }
CSnSink* MainSink() { return Devices().mainSink; }

void SetMasterVolume(float volume) { Devices().masterVolume = volume; }
void EndMasterVolumeFrame() { Devices().previousMasterVolume = Devices().masterVolume; }

void NotifyDeviceChanged() {
  Devices().deviceChanged = true;
  if (g_pAudioMgr) WakeAudioThread();
}

void BeginDeviceSinks() {
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext)
    if (d->Sink()) d->Sink()->Play();
}

void EndOutputFrame() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext) d->EndFrame();
}

uint32_t CheckOutputDeviceList() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  DeviceList& list = Devices();
  if (list.deviceChanged.exchange(false) && list.head && list.head->m_state != SnDeviceState::Lost) {
    list.head->m_state = SnDeviceState::Lost;
    if (SoundEngine::IsInitialized()) WakeAudioThread();
  }
  const uint32_t frameIndex = g_pAudioMgr ? g_pAudioMgr->CurrentFrame() : 0;
  const bool mayRecreate = (frameIndex % 32) < (PlatformSettings().sinkBufferCount & 0xFFFF);
  const bool suspendRequested = IsSuspendRequested();
  uint32_t minFrames = 0xFFFFFFFFu;
  bool anySource = false;
  for (CSnOutputDevice* d = list.head; d; d = d->m_pNext) {
    SnDeviceState state = d->m_state;
    uint32_t frames = 0;
    if (!d->m_pSink) {
      state = SnDeviceState::Lost;
    } else if (state == SnDeviceState::OwnSink) {
      if (d->m_pSink->IsDataNeeded(frames) == SN_Failure) state = d->m_state = SnDeviceState::Lost;
    } else if (state != SnDeviceState::SwitchToSilent && !suspendRequested) {
      state = SnDeviceState::Lost;
    }
    const bool frameSource = (d->m_sinkTypeWord & kSinkWordNotAFrameSource) == 0;
    if (state == SnDeviceState::SwitchToSilent) {
      d->SwitchToDummySink();
    } else if (state == SnDeviceState::Lost) {
      if (mayRecreate) {
        if (CSnSink* sink = d->MakeSink(true)) {
          d->TakeSink(sink);
          if (d->m_state == SnDeviceState::OwnSink && sink->IsDataNeeded(frames) == SN_Success) state = SnDeviceState::OwnSink;
        } else if (d->m_state != SnDeviceState::Silent || !d->m_pSink) {
          d->SwitchToDummySink();
        }
      }
    }
    if (state == SnDeviceState::OwnSink && frameSource) {
      if (frames < minFrames) minFrames = frames;
      anySource = true;
    }
  }
  if (anySource) {
    if (IsSuspendedModeActive() && !suspendRequested) LeaveSuspendedMode();
    return minFrames;
  }
  minFrames = 0;
  if (list.head && list.head->m_pSink) list.head->m_pSink->IsDataNeeded(minFrames);
  if (!IsSuspendedModeActive()) {
    EnterSuspendedMode(true);
    return 0;
  }
  return minFrames;
}

SNRESULT SwitchDevicesToDummySinks() {
  SNRESULT result = SN_Success;
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext) {
    if (d->m_state == SnDeviceState::Silent) continue;
    const SNRESULT switched = d->SwitchToDummySink();
    if (switched != SN_Success && result == SN_Success) result = switched;
  }
  return result;
}

SNRESULT RestoreDeviceSinks() {
  bool anyOwn = false;
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext) {
    if (d->m_state != SnDeviceState::OwnSink) {
      if (CSnSink* sink = d->MakeSink(true))
        d->TakeSink(sink);
      else if (d->m_state != SnDeviceState::Silent)
        d->SwitchToDummySink();
    }
    if (d->m_state == SnDeviceState::OwnSink && (d->m_sinkTypeWord & kSinkWordNotAFrameSource) == 0) anyOwn = true;
  }
  if (!anyOwn) {
    EnterSuspendedMode(true);
    return SNRESULT(0);
  }
  return SN_Success;
}

void StartOutputCapture(const char16_t* fileName) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  DeviceList& list = Devices();
  if (list.captureName || !fileName || !fileName[0]) return;
  const size_t length = NameLength(fileName);
  auto* name = static_cast<char16_t*>(MemoryMgr::Malloc(g_DefaultPoolId, (length + 1) * sizeof(char16_t)));
  if (!name) {
    SOUND_LOG_REPEATING(Error, "StartOutputCapture: no memory to keep the name of the capture");
    return;
  }
  std::memcpy(name, fileName, (length + 1) * sizeof(char16_t));
  // The number goes before the extension: the last dot past the first character, else the front.
  size_t at = 0;
  for (size_t i = length; i-- > 1;)
    if (name[i] == u'.') {
      at = i;
      break;
    }
  list.captureName = name;
  list.captureDigitAt = uint32_t(at);
  list.captureNumber = 0;
  list.markerCutSaid = false;
  for (CSnOutputDevice* d = list.head; d; d = d->m_pNext) OpenDeviceCapture(d);
}

const char16_t* OutputCaptureName() { return Devices().captureName; }

void StopOutputCapture() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  DeviceList& list = Devices();
  for (CSnOutputDevice* d = list.head; d; d = d->m_pNext) d->CloseCapture();
  MemoryMgr::Free(g_DefaultPoolId, list.captureName);
  list.captureName = nullptr;
  list.captureNumber = 0;
}

void AddOutputCaptureMarker(const char* text) {
  if (!text) return;
  char local[256];
  const size_t length = strnlen(text, sizeof local);
  if (length == sizeof local && Devices().captureName && !Devices().markerCutSaid) {
    SOUND_LOG(Warning, "AddOutputCaptureMarker: markers are cut to %zu characters", sizeof local - 1);
    Devices().markerCutSaid = true;
  }
  std::memcpy(local, text, length < sizeof local ? length : sizeof local - 1);
  local[length < sizeof local ? length : sizeof local - 1] = 0;
  for (CSnOutputDevice* d = Devices().head; d; d = d->m_pNext) d->AddCaptureMarker(local);
}

}  // namespace LowerEngine
}  // namespace SN
