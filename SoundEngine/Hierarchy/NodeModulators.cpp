// The modulators a playing voice takes from its nodes' curves: each modulator a curve of the sound or
// of a node above it names is instantiated for the play and attached to the voice's list with the
// mappings of the curves that name it. The voice reads them every frame (the game-parameter manager
// leaves those curves to it).
#include <cmath>

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/PlaybackInstance.h"
#include "SoundEngine/Modulators/ModulatorObject.h"
#include "SoundEngine/Modulators/ModulatorService.h"

namespace SN {
namespace {

// The voice parameters a node's curves may modulate, in ascending order: the curves are visited, and
// so the modulators listed, parameter by parameter.
constexpr uint32_t kVoiceParameterIds[] = {kVoiceVolumeParameter, kVoicePitchParameter, kVoiceLowPassParameter,
                                           kVoiceHighPassParameter};
static_assert(kVoiceVolumeParameter < kVoicePitchParameter && kVoicePitchParameter < kVoiceLowPassParameter &&
                  kVoiceLowPassParameter < kVoiceHighPassParameter && kVoiceHighPassParameter < 32,
              "the voice's parameters in ascending order, each one of the first 32");

SnParamMask VoiceParameters() {
  SnParamMask mask;
  for (uint32_t id : kVoiceParameterIds) mask.low |= SnParamMask::Of(id).low;
  return mask;
}

// A mapping base + slope x m through the curve's end points, in the voice's terms: for the volume a
// factor on the gain (the curve gives decibels), else an offset in the parameter's own units.
SnModulatorMapping MappingOf(const CSnCurveGraph& graph, uint32_t parameterId) {
  SnModulatorMapping mapping;
  mapping.parameterId = parameterId;
  const bool factor = parameterId == kVoiceVolumeParameter;
  auto value = [&](float x) {
    const float y = graph.Evaluate(x);
    return factor ? float(std::pow(10.0, double(y) / 20.0)) : y;
  };
  if (!graph.points || !graph.pointCount) {
    mapping.base = factor ? 1.0f : 0.0f;
    return mapping;
  }
  const float x0 = graph.points[0].x, x1 = graph.points[graph.pointCount - 1].x;
  const float y0 = value(x0), y1 = value(x1);
  mapping.slope = x1 > x0 ? (y1 - y0) / (x1 - x0) : 0.0f;
  mapping.base = y0 - mapping.slope * x0;
  return mapping;
}

template <typename Visit>
void ForEachVoiceCurve(CSnHierarchyNode& node, Visit&& visit) {
  if (!g_pRTPCMgr) return;
  // Every voice starts here: the four parameters a voice follows are asked, not all 32.
  for (uint32_t parameterId : kVoiceParameterIds) {
    if (!node.HasCurve(parameterId)) continue;
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
      if (!mappings.Add(MappingOf(graph, parameterId)))
        SOUND_LOG(Error, "Node %u: no memory for the mapping of modulator %u", m_node.ID(), modulatorId);
    });
  }

 private:
  CSnHierarchyNode& m_node;
};

void AttachNodeModulators(CSnHierarchyNode& node, const SnModulatorInstantiationParams& params,
                          CSnModulatorInstanceList& list, uint32_t playingId) {
  // Most nodes have no curve on a voice parameter, and so no modulator to list.
  uint64_t voiceCurves = 0;
  for (uint32_t parameterId : kVoiceParameterIds) voiceCurves |= ParameterBit(parameterId);
  if (!(node.ParameterMask() & voiceCurves)) return;
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
    if (made != SN_Success || !instance || list.AttachInstance(instance, request) != SN_Success)
      SOUND_LOG(Error, "Playing id %u: modulator %u of node %u could not be attached", playingId, modulatorId,
                node.ID());
  }
  modulators.Term();
}

}  // namespace

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
