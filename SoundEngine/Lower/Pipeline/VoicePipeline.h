// The voice pipeline: the lower engine's object for one playing sound. It pulls its source one
// frame at a time, runs the sound's insert effects, computes the voice's gains and 2D matrices and
// adds the frame into the mix buses it is connected to (the dry path and the auxiliary sends per
// output device). The lower engine makes one per launched playback instance through the installed
// factory and destroys it when the sound ends. Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Pipeline/VoiceFilter.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Lower/Pipeline/VoiceQueries.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"

namespace SN {

class CSnPlaybackInstance;
class CSnVoiceInsertEffect;
class ISnVoiceSource;

constexpr uint32_t kVoiceInsertSlots = 4;

class CSnVoicePipeline final : public ISnVoicePipeline, public ISnVoiceConnections, public ISnVoiceQueries {
 public:
  // Output connection to one mix bus; 16-byte aligned in the lower engine's pool.
  struct Connection {
    float previousVolume = 0.0f;
    float nextVolume = 0.0f;
    float previousFactor = 0.0f;  // only a motion connection (type 0x80 device) keeps a factor
    float nextFactor = 0.0f;
    float* previousMatrix = nullptr;
    float* nextMatrix = nullptr;
    uint32_t matrixChannels = 0;  // the voice channels the matrices were sized for
    Connection* next = nullptr;
    ISnMixBusInput* bus = nullptr;
    uint32_t type = SnConnection_Dry;
    SnPan2DValues panned;
    bool pannedIn2D = false;  // `panned` made its last matrix
    bool firstFrameDone = false;
    // The pair of matrices of a mono or stereo voice on a bus of up to four channels (or a mono one
    // on up to eight) lives here: a connection made costs one allocation, not two.
    static constexpr uint32_t kMatrixFloatsInPlace = 16;
    alignas(16) float matricesInPlace[kMatrixFloatsInPlace];
  };

  // Made by the factory in the lower engine's pool; null when out of memory.
  static CSnVoicePipeline* New();

  // ISnVoicePipeline
  SNRESULT Init(ISnVoiceInstance* instance, uint32_t outputRate) override;
  SNRESULT TryLaunch() override;
  // The next instance of a sample-accurate chain: its source follows this one's last sample in the
  // same frame, through the same resampler; one that waits, is not ready then or has another layout
  // begins on its own after it. SN_JoinedPipeline, or SN_Failure when its source cannot be made.
  SNRESULT AddSecondSource(ISnVoiceInstance* instance) override;
  SNRESULT ConnectBuses() override;
  void Begin() override;
  void Pause() override;
  void Resume() override;
  void StopLooping(ISnVoiceInstance* instance) override;
  void Seek() override;
  State GetState() const override { return m_state; }
  ISnVoiceInstance* FirstSource() const override;
  ISnVoiceInstance* SecondSource() const override;
  bool UsesMedia(const void* data) const override;
  bool UsesBankMedia(const CSnLoadedBank* bank) const override;
  bool RelocateBankMedia(const CSnLoadedBank* bank) override;
  bool MoveSourceMedia(const CSnPlaybackInstance* instance, const uint8_t* newData, const uint8_t* oldData,
                       uint32_t size) override;
  bool SourceCanDeliver() override { return !m_paused; }
  void RunFrame(SnVoiceFrameState& frame) override;
  void EndSource() override;
  void ReleaseFrameBuffer() override;
  void EndOfFrame() override;
  void Destroy() override;
  void SetEffectBypass(uint32_t values, uint32_t mask) override;
  ISnVoiceConnections* Connections() override { return this; }
  ISnVoiceQueries* Queries() override { return this; }

  // ISnVoiceQueries
  uint32_t GetGameObjectId() override;
  uint32_t GetNumGameObjectPositions() override;
  SNRESULT GetGameObjectPosition(uint32_t index, SnSoundPosition& position) override;
  uint8_t GetPositioningType() override;
  uint32_t GetPlayingId() override;
  float GetAttenuationScaling() override;
  float GetOutputBusVolume() override;
  int32_t GetPriorityAtDistance(float distance) override;
  uint8_t GetVoiceBehaviour() override;

  // ISnVoiceConnections
  ISnVoicePipeline* Pipeline() override { return this; }
  SNRESULT PrepareEffects() override;
  uint32_t TakeListenerMask() override;
  // An audio voice whose node has a motion bus for its second output, while motion devices exist:
  // its frames reach the players' devices beside its buses (it is never mixed in a motion bus).
  bool FeedsMotion() const override { return m_feedsMotion; }
  bool IsMotion() const override;
  uint32_t MotionPlayerMask() const override { return 0; }
  ISnMixBusNode* OutputBus() const override { return m_outputBus; }
  CSnRegisteredObj* GameObject() const override;
  uint32_t Priority() const override;
  bool RoutesToDevice(uint32_t deviceType, uint32_t deviceId) const override;
  SNRESULT AddConnection(ISnMixBusInput* bus, uint32_t type) override;
  void RemoveDeviceConnections(uint32_t deviceType, uint32_t deviceId) override;
  SnAuxSendTable& AuxSends() override { return m_auxSends; }
  void FirstGainPass() override;
  // Reports the voice's level to the buses of its dry paths, for their dynamic-range windows.
  void SecondGainPass() override;
  void ForEachPluginOf(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie) override;

  // Replaces the effect of one slot while playing; the voice's layout follows the new chain.
  void ReplaceEffect(uint32_t slot) override;
  uint32_t ConnectionCount() const { return m_connectionCount; }
  const Connection* FirstConnection() const { return m_connections; }
  SnChannelConfig OutputFormat() const { return m_outputFormat; }
  const CSnVoiceInsertEffect* Insert(uint32_t slot) const { return slot < kVoiceInsertSlots ? m_inserts[slot] : nullptr; }
  float VoiceGain() const { return m_nextGain; }
  // The rays of a 3D voice as this frame computed them.
  const SnEmitterListenerRay* Rays() const { return m_rays; }
  uint32_t RayCount() const { return m_rayCount; }
  const CSnVoiceFilter& Filter() const { return m_filter; }

 private:
  // Lacking memory to be heard: refused (logged once for a shortage) and ended.
  void EndForWantOfMemory();
  CSnVoicePipeline() = default;
  ~CSnVoicePipeline();
  void DestroyConnection(Connection* connection);
  void DestroyConnections();
  // The voice moved on to an instance of another bus: its connections are made again for it.
  void RouteAgain();
  // The output bus of the instance's node (and whether it also feeds motion); true when it changed.
  bool TakeOutputBus();
  // RunFrame before the instance of a chain's next item takes the voice over.
  void MixFrame(SnVoiceFrameState& frame);
  static void FreeMatrices(Connection& connection);
  bool SizeMatrices(Connection& connection, uint32_t voiceChannels);
  // The connection's next matrix and volume, and its share of the filter values.
  void PrepareConnection(Connection& connection, const SnMixBuffer& buffer);
  void Pan3D(Connection& connection, const SnMixBuffer& buffer);
  // Hands the connection's matrices to the game's speaker-volume-matrix callback before they are mixed.
  void NotifyVolumeMatrix(Connection& connection, SnChannelConfig input);
  // False when the connection has nothing to mix with yet.
  bool MixInto(Connection& connection, SnMixBuffer& buffer, uint32_t leadingSilence);
  // A 3D voice's rays and their gains for this frame.
  void ComputeRays();
  // `unwritten`: the frames of opening silence the source left unwritten.
  void RunFilters(SnMixBuffer& buffer, uint32_t unwritten);
  // The players' gains of a voice feeding motion, for this frame; false when it feeds none.
  bool ComputeFeedbackGains();
  void FeedMotion(const SnMixBuffer& buffer);
  void RebuildFormat();
  // The first source ended `frames` frames into a frame of `requested` without going on into the
  // second inside itself: the second becomes the voice's source with its instance, and gives the rest
  // of the frame when it is ready, of the same layout and due inside the frame.
  uint32_t ChainSecondSource(uint32_t frames, uint32_t requested);
  // The second instance takes the first's place once the voice plays its source, at the end of the
  // frame that joined them.
  void MoveOnToNextInstance();
  // The first source is done without having gone on into the second: the second becomes the voice's
  // source, pending while it is not ready or has another layout; its instance is due.
  void BeginSecondSource();
  // The voice's source made ready and its layout taken (the inserts made again for another one);
  // false when it cannot be prepared. While its data is on its way it stays pending.
  bool TakeSourceFormat();
  void TellNearEnd();
  // The voice went from 2D to 3D or back since the last frame: its level's split between its gain
  // and its connections' volumes moves over to the new one's before the frame ramps.
  void CarryLevelAcross();
  // Heard again after being virtual: its source goes on where its instance says.
  void LeaveVirtual();
  // The slot's effect from the provider, made for frames of `format` (its output layout on return).
  void MakeInsert(uint32_t slot, SnChannelConfig& format);
  // The matrices the inserts' plug-ins read: the last frame's of the dry path to the device the
  // voice information answers for; none once the inserts have run.
  void ShowVolumeMatrices();

  CSnPlaybackInstance* m_instance = nullptr;
  ISnVoiceSource* m_source = nullptr;
  CSnPlaybackInstance* m_nextInstance = nullptr;
  ISnVoiceSource* m_nextSource = nullptr;
  float* m_chainSamples = nullptr;  // a frame joined from both sources
  uint32_t m_chainFloats = 0;
  uint32_t m_outputRate = 48000;
  ISnMixBusNode* m_outputBus = nullptr;
  float m_previousGain = 0.0f;
  float m_nextGain = 0.0f;
  float m_modulatorGain = 1.0f;  // the volume modulators' factor this frame, which the source applies
  float m_connectionVolume = 1.0f;
  SnAuxSendTable m_auxSends{};
  uint32_t m_connectionCount = 0;
  Connection* m_connections = nullptr;
  CSnVoiceInsertEffect* m_inserts[kVoiceInsertSlots] = {};
  // What the inserts' plug-ins learn of the voice (GetVoiceInformation of their context).
  CSnVoiceInfoProvider m_voiceInfo;
  SnChannelConfig m_sourceFormat = 0;
  SnChannelConfig m_outputFormat = 0;
  SnMixBuffer m_frame;
  SnMixBuffer m_silence;  // what the inserts are fed once the source has ended
  State m_state = Created;
  uint32_t m_lastStatus = SnVoice_NeedsData;
  bool m_paused = false;
  bool m_sourceEnded = false;
  bool m_sourcePending = false;  // a chain's next source, become the voice's, not ready yet
  bool m_instanceDue = false;    // the voice plays the next instance's source: it takes over with the frame's end
  bool m_routeAgain = false;     // the instance it went on to sends to another bus
  bool m_firstFrameDone = false;
  bool m_madeWhole = false;  // it has mixed a frame with all it needs
  bool m_soundingPartOnly = false;  // as the source was last told
  bool m_effectsPrepared = false;
  bool m_threeD = false;
  // The rays of a 3D voice and what their gains and filters read of it (lower-engine pool).
  SnEmitterListenerRay* m_rays = nullptr;
  uint32_t m_rayCapacity = 0;
  uint32_t m_rayCount = 0;
  SnVoiceGainParams m_gainParams;
  uint8_t m_obstruction[kMaxListeners] = {};
  uint8_t m_occlusion[kMaxListeners] = {};
  float* m_scratch = nullptr;  // two matrices for combining rays
  uint32_t m_scratchFloats = 0;
  // The smallest filter values over the connections this frame, and the stage that applies them.
  SnOutputPathFilters m_filterValues;
  CSnVoiceFilter m_filter;
  uint32_t m_filterChannels = 0;
  bool m_filtersFromPaths = false;
  bool m_nearEndTold = false;
  bool m_starvationReported = false;
  bool m_skipped = false;  // its source skipped frames while the voice was virtual
  // An audio voice whose node has a motion output, and this frame's gains of the players it feeds.
  bool m_hasMotionOutput = false;
  bool m_feedsMotion = false;
  SnFeedbackGains m_feedback;
};

namespace LowerEngine {
// The real pipelines' factory, put in place by the voice manager's Init when no other is installed.
ISnVoicePipelineFactory& RealVoicePipelineFactory();
}  // namespace LowerEngine

}  // namespace SN
