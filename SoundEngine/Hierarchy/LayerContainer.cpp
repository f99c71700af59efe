// Layer containers: their payload, their layers and the play of every child.
#include "SoundEngine/Hierarchy/LayerContainer.h"

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnLayerContainer::~CSnLayerContainer() { DropLayers(); }

void CSnLayerContainer::DropLayers() {
  for (CSnContainerLayer* layer : m_layers) {
    layer->SetOwner(nullptr);
    PoolDelete(g_DefaultPoolId, layer);
  }
  m_layers.Term();
}

SNRESULT CSnLayerContainer::SetInitialValues(const uint8_t* data, uint32_t size) {
  const SNRESULT read = ReadPayload(data, size);
  if (read != SN_Success) {
    // The layers go first: the children they attached are leaving.
    DropLayers();
    DropChildren();
  }
  return read;
}

SNRESULT CSnLayerContainer::ReadPayload(const uint8_t* data, uint32_t size) {
  const uint8_t* cursor = data;
  const uint8_t* end = data + size;
  const SNRESULT base = ReadBaseParams(cursor, end, false);
  if (base != SN_Success) return base;
  const SNRESULT children = ReadChildren(cursor, end);
  if (children != SN_Success) return children;
  SnBankCursor in(cursor, uint32_t(end - cursor));
  uint32_t layers = 0;
  // A layer takes at least its id, a curve count, a crossfade parameter and a child count.
  constexpr uint32_t kSmallestLayer = 4 + 2 + 4 + 1 + 4;
  if (!in.Take(layers) || uint64_t(layers) * kSmallestLayer > in.Left()) {
    SOUND_LOG(Error, "Layer container %u: its layers run past the end of the object", ID());
    return SN_Failure;
  }
  if (layers && !m_layers.GrowBy(layers)) return SN_Failure;
  for (uint32_t i = 0; i < layers; ++i) {
    uint32_t layerId = 0;
    in.Take(layerId);
    auto* layer = PoolNew<CSnContainerLayer>(g_DefaultPoolId, layerId);
    if (!layer) return SN_Failure;
    layer->SetOwner(this);
    const SNRESULT read = layer->SetInitialValues(in);
    if (read != SN_Success) {
      SOUND_LOG(Error, "Layer container %u: layer %u cannot be read (%d)", ID(), layerId, int(read));
      layer->SetOwner(nullptr);
      PoolDelete(g_DefaultPoolId, layer);
      return read;
    }
    m_layers.Add(layer);
  }
  return SN_Success;
}

SNRESULT CSnLayerContainer::AddChild(CSnHierarchyNode* child) {
  const SNRESULT added = CSnMultiChildContainer::AddChild(child);
  if (added == SN_Success)
    for (CSnContainerLayer* layer : m_layers) layer->ChildJoined(child);
  return added;
}

void CSnLayerContainer::RemoveChild(CSnHierarchyNode* child) {
  if (!child) return;
  for (CSnContainerLayer* layer : m_layers) layer->ChildLeft(child->ID());
  CSnMultiChildContainer::RemoveChild(child);
}

SNRESULT CSnLayerContainer::PlayNode(CSnPlayParams& params) {
  CSnContinuousPlaylist* playlist = AddPlaylistUse(params);
  const uint32_t key = UseKeyOf(playlist);
  // An empty container has nothing to fail: SN_Success.
  SNRESULT result = SN_Success;
  uint32_t played = 0;
  for (uint32_t i = 0; i < m_children.Count(); ++i) {
    CSnHierarchyNode* child = m_children[i];
    child->AddRef();
    auto* node = static_cast<CSnPropertyNode*>(child);
    result = PlayChild(params, key, [node](CSnPlayParams& copy) { return node->Play(copy); });
    if (result == SN_Success) {
      ++played;
      ApplyCrossfade(child, params.gameObject);
    }
    child->Release();
  }
  return EndContinuousPlay(params, playlist, played, played ? SN_Success : result);
}

void CSnLayerContainer::AddLayerValues(const CSnHierarchyNode& child, SnSoundParams& params, uint32_t mask,
                                       const SnRTPCKey& key) const {
  for (const CSnContainerLayer* layer : m_layers) layer->ApplyToParams(child, params, mask, key);
}

void CSnLayerContainer::ApplyCrossfade(CSnHierarchyNode* child, CSnRegisteredObj* gameObject) const {
  // A new voice begins at its layer's crossfade gain for the object: until the parameter changes,
  // nothing else would tell it.
  const SnRTPCKey key = SnRTPCKey::ForObject(gameObject);
  for (const CSnContainerLayer* layer : m_layers) {
    float gain = 1.0f;
    if (layer && layer->CrossfadeGain(child->ID(), key, gain))
      static_cast<CSnPropertyNode*>(child)->ApplyGainFactor(gameObject, gain);
  }
}

namespace {

const SnHircKind kLayerKind = {SnIndex_Nodes, CreateFromPayload<CSnLayerContainer>, nullptr, nullptr};
const bool kRegistered = (SetHircKind(kHircLayerType, &kLayerKind), true);

}  // namespace
}  // namespace SN
