// The end points of the mix graph: one output device per (output type, device id) with its sink,
// speaker layout and angles, volume, listener mask and optional capture, and the device list with
// its per-frame check (how many frames to render, lost devices, recovery, suspended mode).
// Audio thread under the global audio lock, or lower-engine Init and Term, unless a function says
// otherwise.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

class CSnCaptureFile;
class CSnSink;
struct SnPairGainTable;

// Output types as the API passes them.
enum SnAudioOutputType : uint32_t {
  SnOutput_Secondary = 8,
  SnOutput_SecondaryAlias = 16,
  SnOutput_Main = 32,
  SnOutput_SecondaryPlatform = 64,
  SnOutput_Motion = 128,
};

// Bits of a device's sink type word beside the sink kinds.
constexpr uint32_t kSinkWordSilent = 0x8;
constexpr uint32_t kSinkWordMain = 0x20;
// Devices with any of these bits never set the pace of rendering.
constexpr uint32_t kSinkWordNotAFrameSource = 0x98;

enum class SnDeviceState : uint32_t {
  Silent = 0,         // running on the silent timer sink
  OwnSink = 1,        // running on its own sink
  SwitchToSilent = 2, // suspended mode asked for the silent sink
  Lost = 3,           // sink lost or never made: a new one is to be made
};

class CSnOutputDevice {
 public:
  CSnOutputDevice(uint32_t outputType, uint32_t deviceId, const SnOutputSettings& settings, uint32_t sinkTypeWord,
                  bool isMain);
  ~CSnOutputDevice();
  CSnOutputDevice(const CSnOutputDevice&) = delete;
  CSnOutputDevice& operator=(const CSnOutputDevice&) = delete;

  // The device's share of the frame: gains scaled by the device and master volumes, the capture
  // written from it, then the sink's pass. The mix may have any layout.
  void PassData(SnMixBuffer& mix);
  // Capture write (silence when nothing was passed), the sink's end of frame, the volume ramp.
  void EndFrame();

  // Degrees; `SN_InvalidParameter` for a height outside -90..90 or a NaN angle, 2 when refused or
  // out of memory.
  SNRESULT SetSpeakerAngles(const float* degrees, uint32_t count, float heightDegrees);
  SNRESULT GetSpeakerAngles(float* degrees, uint32_t& count, float& heightDegrees) const;

  SNRESULT OpenCapture(const char16_t* fileName);
  void CloseCapture();
  void AddCaptureMarker(const char* text);
  bool IsCapturing() const { return m_pCapture != nullptr; }

  // What a sink plug-in may ask of the device it plays for.
  uint32_t GetMaxFrames() const;
  bool IsMainOutput() const { return m_isMain; }
  SNRESULT SignalAudioThread();
  uint32_t GetNumSinkBuffers() const;
  const CSnCpuInfo& GetCpuInfo() const { return CSnCpuInfo::GetInstance(); }
  ISnStreamMgr* GetStreamMgr() const { return ISnStreamMgr::m_pStreamMgr; }
  void GetOutputID(uint32_t& deviceId, uint32_t& outputType) const {
    deviceId = m_deviceId;
    outputType = m_outputType;
  }

  void SetVolume(float volume) { m_volume = volume; }
  void SetPanningRule(uint32_t rule) { m_panningRule = rule; }

  CSnOutputDevice* Next() const { return m_pNext; }
  uint32_t OutputType() const { return m_outputType; }
  uint32_t DeviceId() const { return m_deviceId; }
  uint32_t ListenerMask() const { return m_listenerMask; }
  SnChannelConfig ChannelConfig() const { return m_channelConfig; }
  uint32_t PanningRule() const { return m_panningRule; }
  float Volume() const { return m_volume; }
  SnDeviceState State() const { return m_state; }
  CSnSink* Sink() const { return m_pSink; }

  // The device list's steps (OutputDevice.cpp) below; nothing else reaches them.
  // A sink made and set up for the settings, played when asked; null when none could be had.
  CSnSink* MakeSink(bool playNow);
  // Takes a made sink (terminating the old one) and its layout.
  void TakeSink(CSnSink* sink);
  SNRESULT SwitchToDummySink();
  void TermSink();

  CSnOutputDevice* m_pNext = nullptr;
  uint32_t m_outputType;
  uint32_t m_deviceId;
  uint32_t m_listenerMask = 0;
  SnChannelConfig m_channelConfig = 0;
  uint32_t* m_pSpeakerAngles = nullptr;  // 512ths of a circle, lower-engine pool
  uint32_t m_speakerAngleCount = 0;
  float m_inverseMinSpacing = 0.0f;
  float m_heightAngle = 0.0f;
  SnPairGainTable* m_pPairTables = nullptr;  // built for the angles above, one per speaker mask
  uint32_t m_panningRule;
  SnOutputSettings m_settings;
  uint32_t m_sinkTypeWord;
  CSnSink* m_pSink = nullptr;
  float m_previousVolume = 1.0f;
  float m_volume = 1.0f;
  CSnCaptureFile* m_pCapture = nullptr;
  SnMixBuffer* m_pCaptureBuffer = nullptr;  // interleaved 16-bit, the device's layout at its opening
  float* m_pCaptureScratch = nullptr;       // a float frame for mixes of another layout
  bool m_isMain;
  SnDeviceState m_state = SnDeviceState::Lost;
};

namespace LowerEngine {

// Adds the main device (32, 0) rendering the master bus. 1, 52 (no memory, no sink), 2 (angles).
SNRESULT AddMainOutputDevice(const SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t listenerMask);
// 2 for (32, 0); 1 without change when the key exists; else adds a secondary device.
SNRESULT AddOutputDeviceIfAbsent(const SnOutputSettings& settings, uint32_t outputType, uint32_t deviceId,
                                 uint32_t listenerMask);
// 2 when no device has the key.
SNRESULT RemoveOutputDevice(uint32_t outputType, uint32_t deviceId);
void TermOutputDevices();

// Frames the devices can take now (0: none; in suspended mode the clock decides).
uint32_t CheckOutputDeviceList();
// Every device's end of frame, in list order.
void EndOutputFrame();
void BeginDeviceSinks();
// Suspended mode: every device onto the silent sink, and back. 1, or the first failure / 0.
SNRESULT SwitchDevicesToDummySinks();
SNRESULT RestoreDeviceSinks();
// Any thread: the platform saw a device change; the first device's sink is made again.
void NotifyDeviceChanged();

CSnOutputDevice* FindOutputDevice(uint32_t outputType, uint32_t deviceId);
// A player's motion output hears its player's listener beside the device that renders that
// listener: it takes the listener from no other device and the listener table keeps its device.
// Nothing when the player has no motion output.
void SetMotionOutputListeners(uint32_t player, uint32_t listenerMask);
CSnOutputDevice* MainDevice();
CSnOutputDevice* FirstOutputDevice();
uint32_t OutputDeviceCount();
// The sink of the main device while it is a built-in one; null otherwise.
CSnSink* MainSink();

// Master volumes: the ramp of every device runs from the previous to the current one.
void SetMasterVolume(float volume);
void EndMasterVolumeFrame();

void StartOutputCapture(const char16_t* fileName);
// The running capture's name as the game gave it; null while none runs.
const char16_t* OutputCaptureName();
void StopOutputCapture();
void AddOutputCaptureMarker(const char* text);

}  // namespace LowerEngine
}  // namespace SN
