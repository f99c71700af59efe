// The motion source: a leaf whose sources drive the players' motion devices (rumble), each played
// as a voice of its own into the node's motion bus while motion devices exist. Audio thread; read
// on the bank thread under GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/LeafNode.h"

namespace SN {

constexpr uint8_t kHircMotionSourceType = 17;

// One source of a motion source node, in bank order.
struct SnMotionSource {
  uint32_t sourceId;  // the source's plug-in or media id
  CSnSourceDesc* desc;
  uint16_t firstValue;
  uint16_t secondValue;
  float value;
};

class CSnMotionSourceNode final : public CSnLeafNode {
 public:
  explicit CSnMotionSourceNode(uint32_t id) : CSnLeafNode(id) {}
  ~CSnMotionSourceNode() override;

  uint32_t NodeCategory() const override { return Category_Leaf; }

  // The payload after the id: the source count, each source's two values, initial value and record,
  // then the common node parameters. SN_Failure for a count the bytes cannot hold or a field past the
  // end; SN_InsufficientMemory without memory.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // Marks the play as a motion play and plays every source, only while motion devices can be had;
  // SN_Success either way.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  // Every source's media; the last failure, SN_Success when all are ready.
  SNRESULT PrepareData() override;
  void UnprepareData() override;

  // A new value reaches the playing instances of that source as its difference; the same value none.
  // SN_IdNotFound for a source the node does not have.
  SNRESULT SetSourceValue(uint32_t sourceId, float value);

  uint32_t SourceCount() const { return m_sources.Count(); }
  const SnMotionSource& Source(uint32_t index) const { return m_sources[index]; }

 private:
  SnMotionSource* FindSource(uint32_t sourceId);
  SNRESULT ReadSources(SnBankCursor& cursor);

  SnArray<SnMotionSource> m_sources;
};

}  // namespace SN
