// Per-key modulator instances: binding, stopping, releasing, users, and the kinds' setters.
#include "SoundEngine/Modulators/ModulatorInstance.h"

#include <algorithm>
#include <cmath>

#include "Base/Assert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Modulators/ModulatorGenerators.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

uint32_t ModulatorSecondsToSamples(float seconds) {
  const double samples = double(seconds) * double(LowerEngine::SampleRate());
  if (!(samples > 0.0)) return 0;
  const double rounded = std::floor(samples + 0.5);
  return rounded >= double(kModulatorMaxSamples) ? kModulatorMaxSamples : uint32_t(rounded);
}

uint32_t ModulatorSampleSum(uint64_t a, uint64_t b, uint64_t c) {
  const uint64_t sum = a + b + c;
  return sum >= kModulatorMaxSamples ? kModulatorMaxSamples : uint32_t(sum);
}

CSnModulatorInstance::~CSnModulatorInstance() { StopTarget(); }

void CSnModulatorInstance::Release() {
  ORV_ASSERT(m_refCount > 0);
  if (--m_refCount == 0) PoolDelete(g_DefaultPoolId, this);
}

void CSnModulatorInstance::RemoveUser() {
  ORV_ASSERT(m_users > 0);
  if (m_users) --m_users;
  if (m_pausedUsers > m_users) m_pausedUsers = m_users;
}

void CSnModulatorInstance::ResumeUser() {
  if (m_pausedUsers) --m_pausedUsers;
}

void CSnModulatorInstance::SetSamplesWanted(bool wanted) {
  m_samplesAsked = wanted;
  RefreshSamplesNeeded();
}

SNRESULT CSnModulatorInstance::Init(CSnModulatorObject* owner, const SnModulatorInstantiationParams& params) {
  if (Bound() && (params.sharedRecord != m_pSharedRecord || params.playingId != m_playingId ||
                  params.gameObject != m_pGameObject))
    StopTarget();
  // Bound to another modulator before: that one is let go first.
  if (m_pOwner && m_pOwner != owner) Unbind();
  const uint32_t scope = owner->Scope();
  if (!m_pOwner) owner->LinkBound(this);
  m_pOwner = owner;
  m_state = SnModulatorState_Running;
  m_elapsed = 0;
  m_frameOffset = params.frameOffset;
  m_key = CSnModulatorObject::ReduceKey(CSnModulatorObject::KeyOf(params), scope);
  m_pGameObject = scope < SnModulatorScope_Global ? params.gameObject : nullptr;
  m_pDriven = scope == SnModulatorScope_PlaybackInstance ? params.playbackInstance : nullptr;
  if (scope < SnModulatorScope_GameObject) {
    m_playingId = params.playingId;
    if (!m_pSharedRecord) m_pSharedRecord = params.sharedRecord;
    if (params.node && m_nodes.IndexOf(params.node) < 0 && m_nodes.Add(params.node)) params.node->AddRef();
  }
  m_effectiveScope = scope;
  if (scope < SnModulatorScope_GameObject && m_key.midiChannel == 255 && m_key.midiNote == 255 && !m_key.playingId &&
      !m_key.playbackInstance)
    m_effectiveScope = SnModulatorScope_GameObject;
  if (!m_key.gameObject) m_effectiveScope = SnModulatorScope_Global;
  SetUpKind(params);
  RefreshSamplesNeeded();
  return SN_Success;
}

void CSnModulatorInstance::StopTarget() {
  m_state = SnModulatorState_Finished;
  if (!m_pOwner) return;
  if (m_pOwner->StopsDrivenOnEnd()) {
    if (ISnModulatorDrivenTargets* targets = ModulatorDrivenTargets()) {
      // An envelope of one voice ends that voice only: the rest of its play (a delayed play of the
      // same node among them) goes on. One of a play ends the nodes it was triggered on, for the play.
      if (m_pOwner->Scope() == SnModulatorScope_PlaybackInstance) {
        if (m_pDriven) targets->StopPlaybackInstance(m_pDriven);
      } else {
        for (CSnIndexedObject* node : m_nodes) targets->StopNodeFor(node, m_pGameObject, m_playingId);
      }
    }
  }
  Unbind();
}

void CSnModulatorInstance::HoldOwner() {
  if (!m_pOwner || m_ownerHeld) return;
  m_pOwner->AddRef();
  m_ownerHeld = true;
}

void CSnModulatorInstance::Unbind() {
  // Let go last: the owner's end may walk the processing lists, and finds this instance unbound.
  CSnModulatorObject* held = m_ownerHeld ? m_pOwner : nullptr;
  m_ownerHeld = false;
  if (m_pOwner) m_pOwner->UnlinkBound(this);
  m_pOwner = nullptr;
  m_pDriven = nullptr;
  m_playingId = 0;
  m_frameOffset = 0;
  m_key = SnRTPCKey{};
  while (m_nodes.Count()) {
    CSnIndexedObject* node = m_nodes[m_nodes.Count() - 1];
    m_nodes.RemoveAt(m_nodes.Count() - 1);
    node->Release();
  }
  m_nodes.Term();
  m_pGameObject = nullptr;
  m_pSharedRecord = nullptr;
  m_samplesPerFrame = 0;
  if (held) held->Release();
}

void CSnModulatorInstance::ScheduleRelease(uint32_t offset) {
  if (m_releaseStart != kModulatorNever) return;
  m_releaseStart = ModulatorSampleSum(m_elapsed, offset);
  if (m_state != SnModulatorState_Finished) m_state = SnModulatorState_Releasing;
}

bool CSnModulatorInstance::IsInactive() const {
  if (!m_pOwner || m_state == SnModulatorState_Finished) return true;
  return m_effectiveScope < SnModulatorScope_GameObject && m_users == 0;
}

void CSnModulatorInstance::TakePreviousOutput() {
  if (!m_pOutput) return;
  if (m_pOutput->state != -1) m_state = uint32_t(m_pOutput->state);
  m_lastValue = m_pOutput->value;
}

// ---- oscillator ----

void CSnOscillatorInstance::SetUpKind(const SnModulatorInstantiationParams&) {
  float initialPhase = 0.0f;
  m_pOwner->DeriveOscillator(Key(), m_params, initialPhase);
  m_oscillator = SnOscillatorState{};
  SetupOscillator(m_oscillator, m_params.waveform, m_params.frequency, m_params.smoothing, &initialPhase);
  m_needsSetup = false;
}

bool CSnOscillatorInstance::SetParam(uint32_t parameterId, float value) {
  switch (parameterId) {
    case 42: m_params.depth = value * 0.01f; return true;
    case 43: m_params.fadeInSamples = ModulatorSecondsToSamples(value); return true;
    case 44:
      m_params.frequency = value;
      RefreshSamplesNeeded();
      break;
    // A shape selector: whole numbers only; what is not a waveform is silence.
    case 45: m_params.waveform = value >= 0.0f && value < 5.0f ? uint32_t(value) : 5u; break;
    case 46: m_params.smoothing = value * 0.01f; break;
    case 47: m_params.pulseWidth = value * 0.01f; break;
    default: return false;
  }
  m_needsSetup = true;
  return true;
}

void CSnOscillatorInstance::SetUpIfChanged() {
  if (!m_needsSetup) return;
  SetupOscillator(m_oscillator, m_params.waveform, m_params.frequency, m_params.smoothing, nullptr);
  m_needsSetup = false;
}

uint32_t CSnOscillatorInstance::ComputeSamplesNeeded() const {
  if (!Bound() || !SamplesAsked()) return 0;
  const uint32_t frame = LowerEngine::SamplesPerFrame();
  const float quarterFrameRate = kOscillatorSetupRate / float(frame) * 0.25f;
  return m_params.frequency > quarterFrameRate ? frame : 0;
}

// ---- envelope ----

void CSnEnvelopeInstance::SetUpKind(const SnModulatorInstantiationParams& params) {
  m_pOwner->DeriveEnvelope(Key(), m_params, m_releaseStart);
  m_params.levelScale = std::clamp(params.levelScale, 0.0f, 1.0f);
  if (!(m_params.levelScale >= 0.0f)) m_params.levelScale = 0.0f;
  m_params.startOffset = params.frameOffset;
}

bool CSnEnvelopeInstance::SetParam(uint32_t parameterId, float value) {
  switch (parameterId) {
    case 50:
      m_params.attackSamples = ModulatorSecondsToSamples(value);
      RefreshSamplesNeeded();
      return true;
    case 51: m_params.curve = value * 0.01f; return true;
    case 52:
      m_params.decaySamples = ModulatorSecondsToSamples(value);
      RefreshSamplesNeeded();
      return true;
    case 53: m_params.sustain = value * 0.01f; return true;
    case 54:
      m_releaseStart = value < 0.0f ? kModulatorNever
                                    : ModulatorSampleSum(ModulatorSecondsToSamples(value), m_params.attackSamples,
                                                         m_params.decaySamples);
      return true;
    case 55: m_params.releaseSamples = ModulatorSecondsToSamples(value); return true;
    default: return false;
  }
}

uint32_t CSnEnvelopeInstance::ComputeSamplesNeeded() const {
  if (!Bound() || !SamplesAsked()) return 0;
  const uint32_t frame = LowerEngine::SamplesPerFrame();
  return std::min(m_params.attackSamples, m_params.decaySamples) >= 2ull * frame ? 0 : frame;
}

}  // namespace SN
