// The modulators a playing voice takes from its nodes' curves: each modulator a curve of the sound or
// of a node above it names is instantiated for the play and attached to the voice's list with the
// mappings of the curves that name it. The voice reads them every frame (the game-parameter manager
// leaves those curves to it). When an envelope that stops what it drives ends, the voice or the
// nodes it was made for stop here.
#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

// The voice parameters a node's curves may modulate, in ascending order: the curves are visited, and
// so the modulators listed, parameter by parameter.
constexpr uint32_t kVoiceParameterIds[] = {kVoiceVolumeParameter, kVoicePitchParameter, kVoiceLowPassParameter,
                                           kVoiceHighPassParameter};
static_assert(kVoiceVolumeParameter < kVoicePitchParameter && kVoicePitchParameter < kVoiceLowPassParameter &&
                  kVoiceLowPassParameter < kVoiceHighPassParameter && kVoiceHighPassParameter < 32,
              "the voice's parameters in ascending order, each one of the first 32");

// The same parameters as bits of a node's curve mask: a node with none of them is passed at once.
constexpr uint64_t VoiceCurveBits() {
  uint64_t bits = 0;
  for (uint32_t id : kVoiceParameterIds) bits |= ParameterBit(id);
  return bits;
}

SnParamMask VoiceParameters() {
  SnParamMask mask;
  for (uint32_t id : kVoiceParameterIds) mask.low |= SnParamMask::Of(id).low;
  return mask;
}

// A curve of the voice's volume gives decibels; the voice reads them as a factor on its gain.
float GainOf(float decibels) { return float(std::pow(10.0, double(decibels) / 20.0)); }

// How a voice reads a modulator through a node's curve: for the volume a factor on the gain, else
// an offset in the parameter's own units. A gain's curve of two points is the straight line in gain
// between them that the game-parameter manager makes of it (its evaluation leaves those curves to the
// voice), so that a modulator moves the gain as base + slope x value, sample by sample; every other
// curve is evaluated point by point as the bank writes it, from a copy of its points the mapping owns.
SnModulatorMapping MappingOf(const CSnCurveGraph& graph, uint32_t parameterId, CSnHierarchyNode& node,
                             uint32_t modulatorId) {
  SnModulatorMapping mapping;
  mapping.parameterId = parameterId;
  mapping.decibels = parameterId == kVoiceVolumeParameter;
  mapping.base = mapping.decibels ? 1.0f : 0.0f;
  if (!graph.points || !graph.pointCount) return mapping;
  for (uint32_t i = 0; i < graph.pointCount; ++i)
    if (!std::isfinite(graph.points[i].x) || !std::isfinite(graph.points[i].y)) {
      SOUND_LOG(Error, "Node %u: the curve of modulator %u on parameter %u has a point that is not a number; "
                "it modulates nothing", node.ID(), modulatorId, parameterId);
      return mapping;
    }
  const SnRTPCGraphPoint& first = graph.points[0];
  const SnRTPCGraphPoint& last = graph.points[graph.pointCount - 1];
  // Past its ends the line holds its end values, as the curve does.
  mapping.low = first.x;
  mapping.high = last.x;
  if (mapping.decibels && graph.pointCount == 2 &&
      g_pRTPCMgr->GetLinearGainCurve(node.RTPCSubscriber(), parameterId, modulatorId, mapping.slope, mapping.base))
    return mapping;
  auto* points =
      static_cast<SnRTPCGraphPoint*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnRTPCGraphPoint) * graph.pointCount));
  if (points) {
    std::memcpy(points, graph.points, sizeof(SnRTPCGraphPoint) * graph.pointCount);
    mapping.curve = graph;
    mapping.curve.points = points;
    return mapping;
  }
  SOUND_LOG(Error, "Node %u: no memory for the curve of modulator %u; it is read as a line through its ends",
            node.ID(), modulatorId);
  auto value = [&](float x) {
    const float y = graph.Evaluate(x);
    return mapping.decibels ? GainOf(y) : y;
  };
  const float y0 = value(first.x), y1 = value(last.x);
  if (!std::isfinite(y0) || !std::isfinite(y1)) return mapping;
  mapping.slope = last.x > first.x ? (y1 - y0) / (last.x - first.x) : 0.0f;
  mapping.base = y0 - mapping.slope * first.x;
  return mapping;
}

template <typename Visit>
void ForEachVoiceCurve(CSnHierarchyNode& node, Visit&& visit) {
  const uint64_t curves = node.ParameterMask() & VoiceCurveBits();
  if (!curves || !g_pRTPCMgr) return;
  // Every voice starts here: the four parameters a voice follows are asked, not all 32.
  for (uint32_t parameterId : kVoiceParameterIds) {
    if (!(curves & ParameterBit(parameterId))) continue;
    struct Cookie {
      Visit* visit;
      uint32_t parameterId;
    } cookie{&visit, parameterId};
    g_pRTPCMgr->ForEachModulatorCurve(
        node.RTPCSubscriber(), parameterId,
        [](void* raw, uint32_t modulatorId, const CSnCurveGraph& graph) {
          auto* c = static_cast<Cookie*>(raw);
          (*c->visit)(modulatorId, c->parameterId, graph);
        },
        &cookie);
  }
}

// The node's curves as the owner of a voice's mappings.
class NodeCurveMappings final : public ISnModulatorMappingOwner {
 public:
  explicit NodeCurveMappings(CSnHierarchyNode& node) : m_node(node) {}
  void AppendModulatorMappings(uint32_t modulatorId, const SnParamMask& filter,
                               SnArray<SnModulatorMapping>& mappings) override {
    ForEachVoiceCurve(m_node, [&](uint32_t id, uint32_t parameterId, const CSnCurveGraph& graph) {
      if (id != modulatorId || !filter.Has(parameterId)) return;
      SnModulatorMapping mapping = MappingOf(graph, parameterId, m_node, modulatorId);
      if (mappings.Add(mapping)) return;
      mapping.FreeCurve();
      SOUND_LOG(Error, "Node %u: no memory for the mapping of modulator %u", m_node.ID(), modulatorId);
    });
  }

  // Whether the node's curves map the modulator onto the voice's volume.
  bool MapsVolume(uint32_t modulatorId) {
    bool found = false;
    ForEachVoiceCurve(m_node, [&](uint32_t id, uint32_t parameterId, const CSnCurveGraph&) {
      found = found || (id == modulatorId && parameterId == kVoiceVolumeParameter);
    });
    return found;
  }

 private:
  CSnHierarchyNode& m_node;
};

void AttachNodeModulators(CSnHierarchyNode& node, const SnModulatorInstantiationParams& params,
                          CSnModulatorInstanceList& list, uint32_t playingId) {
  // Most nodes a voice passes on its way up have no curve on its parameters.
  if (!(node.ParameterMask() & VoiceCurveBits()) || !g_pRTPCMgr) return;
  SnArray<uint32_t> modulators;
  ForEachVoiceCurve(node, [&](uint32_t modulatorId, uint32_t, const CSnCurveGraph&) {
    if (modulators.IndexOf(modulatorId) < 0 && !modulators.Add(modulatorId))
      SOUND_LOG(Error, "Node %u: no memory to list modulator %u for a voice", node.ID(), modulatorId);
  });
  NodeCurveMappings owner(node);
  const SnModulatorMappingRequest request{&owner, SnModulatorMapping_Node, VoiceParameters()};
  for (uint32_t modulatorId : modulators) {
    CSnModulatorObject* object = FindModulatorAndAddRef(modulatorId);
    // A modulator of a bank not loaded (yet) modulates nothing.
    if (!object) continue;
    CSnModulatorInstance* instance = nullptr;
    const SNRESULT made = object->Instantiate(params, DefaultModulatorObjects().List(), &instance);
    object->Release();
    if (made != SN_Success || !instance || list.AttachInstance(instance, request) != SN_Success) {
      SOUND_LOG(Error, "Playing id %u: modulator %u of node %u could not be attached", playingId, modulatorId,
                node.ID());
      continue;
    }
    // The voice scales its samples by a volume modulator one sample at a time where the modulator
    // moves too fast for a ramp a frame; it decides from its rate and times whether it does.
    if (owner.MapsVolume(modulatorId)) instance->SetSamplesWanted(true);
    AttachModulatorDrivers(modulatorId, CSnModulatorObject::KeyOf(params), list);
  }
  modulators.Term();
}

// At once, as a stop without a fade from the game would: a looping sound whose envelope has ended
// gives its voice and its limiter slot back. Any thread: it takes the global audio lock (re-entrant,
// so a frame pass loses nothing to it). The engine's Term lets the instances go while the voices
// still stand; nothing is stopped then, the voices go with the engine.
class CSnEngineModulatorTargets final : public ISnModulatorDrivenTargets {
 public:
  void StopPlaybackInstance(CSnPlaybackInstance* instance) override {
    if (!SoundEngine::IsInitialized()) return;
    Platform::ReentrantGuard audio(GlobalAudioLock());
    TransParamsBase now;
    now.durationMs = 0;
    now.shape = SnCurve_Linear;
    instance->Stop(now, false);
  }

  void StopNodeFor(CSnIndexedObject* object, CSnRegisteredObj* gameObject, uint32_t playingId) override {
    if (!SoundEngine::IsInitialized()) return;
    if (object->List() != SnIndex_Nodes && object->List() != SnIndex_Busses) return;
    Platform::ReentrantGuard audio(GlobalAudioLock());
    auto* node = static_cast<CSnHierarchyNode*>(object);
    // What the trigger still had waiting under the node would start it again.
    if (g_pAudioMgr) g_pAudioMgr->RemovePendingActionsUnderNodeForObject(node, gameObject, playingId);
    node->Stop(gameObject, playingId, 0, SnCurve_Linear);
  }
};

}  // namespace

ISnModulatorDrivenTargets& EngineModulatorTargets() {
  static CSnEngineModulatorTargets targets;
  return targets;
}

void CSnPropertyNode::InstantiateVoiceModulators(const CSnPlayParams& play, CSnPlaybackInstance& voice) {
  SnModulatorInstantiationParams params;
  params.gameObject = play.gameObject;
  params.midi = {play.midiEvent.status, play.midiEvent.channel, play.midiEvent.note, play.midiEvent.velocity};
  params.midiTargetId = play.GetMidiTargetID();
  params.playingId = play.playingId;
  params.playbackInstance = &voice;
  params.frameOffset = play.frameOffset > 0 ? uint32_t(play.frameOffset) : 0u;
  params.node = this;
  InstantiateModulators(params, voice.Modulators(), voice.PlayingId());
}

void CSnPropertyNode::InstantiateModulators(const SnModulatorInstantiationParams& params,
                                            CSnModulatorInstanceList& list, uint32_t playingId) {
  for (CSnHierarchyNode* node = this; node && !node->IsBus(); node = node->Parent())
    AttachNodeModulators(*node, params, list, playingId);
}

}  // namespace SN
