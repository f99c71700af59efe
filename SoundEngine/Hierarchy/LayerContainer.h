// The layer container: every play plays all of its children at once; its layers shape how the
// children they list sound. Audio thread; read on the bank thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/ContainerLayer.h"
#include "SoundEngine/Hierarchy/MultiChildContainer.h"

namespace SN {

constexpr uint8_t kHircLayerType = 9;

class CSnLayerContainer final : public CSnMultiChildContainer {
 public:
  explicit CSnLayerContainer(uint32_t id) : CSnMultiChildContainer(id) {}
  ~CSnLayerContainer() override;

  uint32_t NodeCategory() const override { return Category_Layer; }
  // The common node parameters, the children, then each layer: its id and its own payload.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // The layers hear of every child that joins or leaves.
  SNRESULT AddChild(CSnHierarchyNode* child) override;
  void RemoveChild(CSnHierarchyNode* child) override;
  // Every child plays; SN_Success when one did (or there is none), else the last child's result.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  void AddLayerValues(const CSnHierarchyNode& child, SnSoundParams& params, uint32_t mask,
                      const SnRTPCKey& key) const override;

  uint32_t LayerCount() const { return m_layers.Count(); }
  CSnContainerLayer* LayerAt(uint32_t index) const { return m_layers[index]; }

 private:
  SNRESULT ReadPayload(const uint8_t* data, uint32_t size);
  void DropLayers();
  // The child's voices of the object take the crossfade gain its layers give it now.
  void ApplyCrossfade(CSnHierarchyNode* child, CSnRegisteredObj* gameObject) const;

  SnArray<CSnContainerLayer*> m_layers;
};

}  // namespace SN
