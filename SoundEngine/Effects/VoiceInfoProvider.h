// The context an effect plug-in on a voice asks about that voice: how it is positioned and panned,
// its rays to the listeners that the effect's output device renders, the game object's positions,
// its listeners' data, the volume matrices of its mix and the parameters of the mixer its sound
// names. The continue-playback action embeds one for the owner it hands on. Audio thread.
#pragma once

#include <cstdint>
#include <utility>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Pipeline/VoiceQueries.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

class CSnPlaybackInstance;
class ISnEffectDefinition;
class ISnPluginParam;
class ISnVoicePipeline;
struct SnEmitterListenerRay;
struct SnListenerData;
struct SnSoundPosition;

// What GetVoiceInformation of a voice effect's context gives the plug-in. The play and its game
// object it tells as the voice pipeline does (VoiceQueries.h), forwarding to it.
class ISnVoiceInformation : public ISnVoiceQueries {
 public:
  // The plug-in's own copy of the parameters of the mixer the played sound names (or the nearest
  // node above it), made on the first call and following their game parameters for this voice;
  // null when no node names a loaded mixer with parameters.
  virtual ISnPluginParam* GetInputMixerParams() = 0;
  virtual uint32_t GetExtraWord() = 0;
  virtual uint32_t GetWordAfterOwner() = 0;
  virtual void SetWordAfterOwner(uint32_t value) = 0;
  // Positioned in 3D, or panned in 2D by its panner.
  virtual bool IsPositioned() = 0;
  virtual float GetCenterPercentage() = 0;
  virtual uint8_t GetPositioningMode() = 0;
  virtual uint8_t Get3DType() = 0;
  // {left-right, front-rear, 0} in -1..1 for a 2D voice its panner pans, else zeros.
  virtual void GetPanning(float (&pan)[3]) = 0;
  // The rays of a 3D voice to the listeners its device renders; SN_Failure past the last.
  virtual uint32_t GetRayCount() = 0;
  virtual SNRESULT GetRay(uint32_t index, SnEmitterListenerRay& ray) = 0;
  virtual uint32_t GetNumEmitterPositions() = 0;
  virtual SNRESULT GetEmitterPosition(uint32_t index, SnSoundPosition& position) = 0;
  virtual uint32_t GetListenerMask() = 0;
  // SN_Failure unless the mask and the device's listeners have exactly one listener in common.
  virtual SNRESULT GetListenerData(uint32_t mask, SnListenerData& data) = 0;
  // At the index-th ray's distance along the ground (distance x cos(elevation)), the attenuation's
  // spread curve (B) and focus curve (A); 0 without the ray, an attenuation or the curve.
  virtual float GetCurveValueB(uint32_t index) = 0;
  virtual float GetCurveValueA(uint32_t index) = 0;
  // The id of the sound the voice plays; 0 without one.
  virtual uint32_t GetNodeId() = 0;
  // While the plug-in processes a frame: the floats each matrix of the mix holds, (the output
  // channels rounded up to four) x the voice's channels; 0 while none is known.
  virtual uint32_t GetVolumeMatrixFloats() = 0;
  // The last frame's matrix (first) and the one before it (second), `floats` values each; past
  // what is known, and when nothing is, zeros.
  virtual void GetVolumeMatrices(float* first, float* second, uint32_t floats) = 0;

 protected:
  ~ISnVoiceInformation() = default;
};

class CSnVoiceInfoProvider final : public ISnVoiceInformation {
 public:
  CSnVoiceInfoProvider() = default;
  // Over a voice's pipeline, for the output device of that type and id, with the plug-in's word.
  CSnVoiceInfoProvider(ISnVoicePipeline* pipeline, uint32_t outputType, uint32_t deviceId, uint32_t extraWord)
      : m_pipeline(pipeline), m_outputType(outputType), m_deviceId(deviceId), m_extraWord(extraWord) {}
  // The input mixer's copy goes with its subscriptions, then the definition's reference.
  ~CSnVoiceInfoProvider();
  CSnVoiceInfoProvider(const CSnVoiceInfoProvider&) = delete;
  CSnVoiceInfoProvider& operator=(const CSnVoiceInfoProvider&) = delete;

  // Takes a reference on the new owner, then gives back the one on the old.
  void SetOwner(CSnRefCountedObject* owner) {
    if (owner) owner->AddRef();
    if (m_owner) m_owner->Release();
    m_owner = owner;
  }
  CSnRefCountedObject* Owner() const { return m_owner; }
  // The voice and the output device it answers for (a voice's inserts: the main output).
  void Bind(ISnVoicePipeline* pipeline, uint32_t outputType, uint32_t deviceId) {
    m_pipeline = pipeline;
    m_outputType = outputType;
    m_deviceId = deviceId;
  }
  uint32_t OutputType() const { return m_outputType; }
  uint32_t DeviceId() const { return m_deviceId; }
  // The mixing code's matrices while the plug-ins run, `floats` values each (null: none known).
  void SetVolumeMatrices(const float* first, const float* second, uint32_t floats) {
    m_matrices[0] = first;
    m_matrices[1] = second;
    m_matrixFloats = first && second ? floats : 0;
  }

  ISnPluginParam* GetInputMixerParams() override;

  uint32_t GetExtraWord() override { return m_extraWord; }
  uint32_t GetWordAfterOwner() override { return m_wordAfterOwner; }
  void SetWordAfterOwner(uint32_t value) override { m_wordAfterOwner = value; }
  bool IsPositioned() override;
  float GetCenterPercentage() override;
  uint8_t GetPositioningMode() override;
  uint8_t Get3DType() override;
  void GetPanning(float (&pan)[3]) override;
  uint32_t GetRayCount() override;
  SNRESULT GetRay(uint32_t index, SnEmitterListenerRay& ray) override;
  uint32_t GetNumEmitterPositions() override;
  SNRESULT GetEmitterPosition(uint32_t index, SnSoundPosition& position) override;
  uint32_t GetListenerMask() override;
  SNRESULT GetListenerData(uint32_t mask, SnListenerData& data) override;
  float GetCurveValueB(uint32_t index) override;
  float GetCurveValueA(uint32_t index) override;
  uint32_t GetNodeId() override;
  uint32_t GetVolumeMatrixFloats() override { return m_matrixFloats; }
  void GetVolumeMatrices(float* first, float* second, uint32_t floats) override;
  uint32_t GetGameObjectId() override { return Ask(&ISnVoiceQueries::GetGameObjectId, 0u); }
  uint32_t GetNumGameObjectPositions() override { return Ask(&ISnVoiceQueries::GetNumGameObjectPositions, 0u); }
  SNRESULT GetGameObjectPosition(uint32_t index, SnSoundPosition& position) override {
    return Ask(&ISnVoiceQueries::GetGameObjectPosition, SN_Failure, index, position);
  }
  uint8_t GetPositioningType() override { return Ask(&ISnVoiceQueries::GetPositioningType, uint8_t(0)); }
  uint32_t GetPlayingId() override { return Ask(&ISnVoiceQueries::GetPlayingId, 0u); }
  float GetAttenuationScaling() override { return Ask(&ISnVoiceQueries::GetAttenuationScaling, 1.0f); }
  float GetOutputBusVolume() override { return Ask(&ISnVoiceQueries::GetOutputBusVolume, 1.0f); }
  int32_t GetPriorityAtDistance(float distance) override {
    return Ask(&ISnVoiceQueries::GetPriorityAtDistance, 0, distance);
  }
  uint8_t GetVoiceBehaviour() override { return Ask(&ISnVoiceQueries::GetVoiceBehaviour, uint8_t(0)); }

 private:
  CSnPlaybackInstance* Instance() const;
  ISnVoiceQueries* Queries() const;
  // The pipeline's answer, or `none` without a pipeline that answers.
  template <typename Result, typename... Params, typename... Args>
  Result Ask(Result (ISnVoiceQueries::*query)(Params...), Result none, Args&&... args) const {
    ISnVoiceQueries* queries = Queries();
    return queries ? (queries->*query)(std::forward<Args>(args)...) : none;
  }
  // The listeners of the provider's device: none when the device is not in the list.
  uint32_t DeviceListenerMask() const;
  // The index-th of the pipeline's rays whose listener the device renders; null past the last.
  const SnEmitterListenerRay* DeviceRay(uint32_t index) const;
  float CurveAtRay(uint32_t index, uint32_t curve) const;

  ISnVoicePipeline* m_pipeline = nullptr;
  CSnRefCountedObject* m_owner = nullptr;
  uint32_t m_wordAfterOwner = 0;
  uint32_t m_outputType = 0;
  uint32_t m_deviceId = 0;
  uint32_t m_extraWord = 0;
  const float* m_matrices[2] = {};
  uint32_t m_matrixFloats = 0;
  // The input mixer's definition (one reference) and the copy made of its parameters.
  ISnEffectDefinition* m_mixerDefinition = nullptr;
  ISnPluginParam* m_mixerParams = nullptr;
  bool m_mixerLooked = false;
};

}  // namespace SN
