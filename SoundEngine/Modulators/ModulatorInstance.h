// The per-key instances of a modulator: what they are bound to, their times and state, their users,
// the two kinds' parameter setters and whether they need a signal per sample. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/Modulators/ModulatorTypes.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnModulatorObject;

// What an ending instance stops: the engine's Init plugs in its own (voices and hierarchy nodes);
// while the slot is empty nothing is stopped.
class ISnModulatorDrivenTargets {
 public:
  virtual ~ISnModulatorDrivenTargets() = default;
  // At once, without a fade.
  virtual void StopPlaybackInstance(CSnPlaybackInstance* instance) = 0;
  // The node's pending actions and voices for the game object and playing id.
  virtual void StopNodeFor(CSnIndexedObject* node, CSnRegisteredObj* gameObject, uint32_t playingId) = 0;
};
inline ISnModulatorDrivenTargets*& ModulatorDrivenTargets() { return ServiceSlot<ISnModulatorDrivenTargets>(); }
// The engine's: it stops playback instances and hierarchy nodes.
ISnModulatorDrivenTargets& EngineModulatorTargets();

// Seconds to samples at the engine's rate, rounded half away from zero; negative and not-a-number
// give 0, and the count stops below kModulatorNever.
uint32_t ModulatorSecondsToSamples(float seconds);
// A sum of sample counts, held below kModulatorNever.
uint32_t ModulatorSampleSum(uint64_t a, uint64_t b, uint64_t c = 0);

class CSnModulatorInstance {
 public:
  CSnModulatorInstance() = default;
  CSnModulatorInstance(const CSnModulatorInstance&) = delete;
  CSnModulatorInstance& operator=(const CSnModulatorInstance&) = delete;
  // Stops what the instance drives.
  virtual ~CSnModulatorInstance();

  virtual SnModulatorKind Kind() const = 0;
  // False for an id the kind does not have.
  virtual bool SetParam(uint32_t parameterId, float value) = 0;

  // Binds the instance to its owner and the trigger; an instance bound to another game object,
  // playing id or trigger record is stopped first. Also restarts an envelope.
  SNRESULT Init(CSnModulatorObject* owner, const SnModulatorInstantiationParams& params);
  // State finished; stops the bound playback instance or the nodes (only for owners that say so),
  // then forgets every binding.
  void StopTarget();
  // The release begins `offset` samples from now, unless one is already scheduled.
  void ScheduleRelease(uint32_t offset);
  bool IsInactive() const;

  // The value readers see: this frame's output when there is one, else the value last kept.
  float CurrentValue() const { return m_pOutput ? m_pOutput->value : m_lastValue; }
  float LastValue() const { return m_lastValue; }

  // Voices and effects that read the instance. A per-voice or per-note instance with no user left
  // is dropped at the end of the frame; one whose users are all paused is not advanced.
  void AddUser() { ++m_users; }
  void RemoveUser();
  void PauseUser() { ++m_pausedUsers; }
  void ResumeUser();
  // A user that reads the signal sample by sample (the kind still decides whether it needs one).
  void SetSamplesWanted(bool wanted);
  uint32_t SamplesPerFrameWanted() const { return m_samplesPerFrame; }

  // The owner's tree lets the instance go while it is still bound (finished or without users, it
  // waits on a processing list for the end of the frame): from then on the instance holds a reference
  // to its owner until it is unbound, so that the owner, whose bank may go meanwhile, outlives it.
  void HoldOwner();

  void AddRef() { ++m_refCount; }
  // Destroyed (to the default pool) with the last reference.
  void Release();

  CSnModulatorObject* Owner() const { return m_pOwner; }
  const SnRTPCKey& Key() const { return m_key; }
  uint32_t State() const { return m_state; }
  uint32_t EffectiveScope() const { return m_effectiveScope; }
  uint64_t ElapsedSamples() const { return m_elapsed; }
  uint32_t ReleaseStart() const { return m_releaseStart; }
  uint32_t HeldNodeCount() const { return m_nodes.Count(); }
  bool IsLive() const { return m_effectiveScope == SnModulatorScope_Global || m_pausedUsers < m_users; }

  // The frame pass's side of the instance.
  void MarkFinished() { m_state = SnModulatorState_Finished; }
  void TakePreviousOutput();
  void Advance(uint32_t samples) { m_elapsed += samples; }
  void SetOutput(SnModulatorOutput* output) { m_pOutput = output; }
  // The voice's modulator list lets go: the voice may go before the instance, so an ending instance
  // no longer stops it.
  void ForgetDrivenVoice() { m_pDriven = nullptr; }
  // All users paused: the value reached is kept and the frame's buffer is no longer read.
  void FreezeOutput() {
    if (m_pOutput) m_lastValue = m_pOutput->value;
    m_pOutput = nullptr;
  }
  SnModulatorOutput* Output() const { return m_pOutput; }

  CSnModulatorInstance* m_pNextInList = nullptr;  // the registry's processing list
  // The owner's list of the instances bound to it, whoever else holds them (its tree, a processing
  // list, a voice): its end reaches each of them through these, without memory of its own.
  CSnModulatorInstance* m_pPrevBound = nullptr;
  CSnModulatorInstance* m_pNextBound = nullptr;

 protected:
  // The kind's parameters from the owner, and its samples-per-frame need.
  virtual void SetUpKind(const SnModulatorInstantiationParams& params) = 0;
  virtual uint32_t ComputeSamplesNeeded() const = 0;
  void RefreshSamplesNeeded() { m_samplesPerFrame = ComputeSamplesNeeded(); }
  bool Bound() const { return m_pOwner != nullptr; }
  bool SamplesAsked() const { return m_samplesAsked; }

  CSnModulatorObject* m_pOwner = nullptr;
  uint32_t m_releaseStart = kModulatorNever;
  uint32_t m_state = 0;
  uint32_t m_samplesPerFrame = 0;

 private:
  void Unbind();

  CSnPlaybackInstance* m_pDriven = nullptr;
  SnArray<CSnIndexedObject*> m_nodes;  // each with a reference
  CSnRegisteredObj* m_pGameObject = nullptr;
  void* m_pSharedRecord = nullptr;
  SnRTPCKey m_key;  // reduced to the owner's scope
  uint32_t m_playingId = 0;
  uint32_t m_frameOffset = 0;
  SnModulatorOutput* m_pOutput = nullptr;
  uint64_t m_elapsed = 0;
  int32_t m_refCount = 0;
  uint32_t m_effectiveScope = SnModulatorScope_Note;
  float m_lastValue = 0.0f;
  uint32_t m_users = 0;
  uint32_t m_pausedUsers = 0;
  bool m_samplesAsked = false;
  bool m_ownerHeld = false;  // the instance holds a reference to m_pOwner (HoldOwner)

 protected:
  uint32_t FrameOffset() const { return m_frameOffset; }
};

class CSnOscillatorInstance final : public CSnModulatorInstance {
 public:
  SnModulatorKind Kind() const override { return SnModulator_Oscillator; }
  bool SetParam(uint32_t parameterId, float value) override;
  const SnOscillatorParams& Params() const { return m_params; }
  SnOscillatorState& OscillatorState() { return m_oscillator; }
  // Redoes the setup when a parameter changed it since the last frame.
  void SetUpIfChanged();

 protected:
  void SetUpKind(const SnModulatorInstantiationParams& params) override;
  uint32_t ComputeSamplesNeeded() const override;

 private:
  SnOscillatorParams m_params;
  SnOscillatorState m_oscillator;
  bool m_needsSetup = false;
};

class CSnEnvelopeInstance final : public CSnModulatorInstance {
 public:
  SnModulatorKind Kind() const override { return SnModulator_Envelope; }
  bool SetParam(uint32_t parameterId, float value) override;
  const SnEnvelopeParams& Params() const { return m_params; }

 protected:
  void SetUpKind(const SnModulatorInstantiationParams& params) override;
  uint32_t ComputeSamplesNeeded() const override;

 private:
  SnEnvelopeParams m_params;
};

}  // namespace SN
