// The modulators attached to one playing voice (or to what a continuous performance hands on): each
// instance with its mappings onto the voice's parameters, and the combined modulation a parameter
// reads from them, as one factor or as per-modulator buffers and ramps. Audio thread only.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/Curves.h"

namespace SN {

class CSnModulatorInstance;

// The parameters a voice's modulators map onto: its volume as a factor on its gain, its pitch (cents)
// and its filters (0-100) as offsets added to their values.
constexpr uint32_t kVoiceVolumeParameter = 0;
constexpr uint32_t kVoicePitchParameter = 2;
constexpr uint32_t kVoiceLowPassParameter = 3;
constexpr uint32_t kVoiceHighPassParameter = 4;
inline bool VoiceModulatesParameter(uint32_t parameterId) {
  return parameterId == kVoiceVolumeParameter || parameterId == kVoicePitchParameter ||
         parameterId == kVoiceLowPassParameter || parameterId == kVoiceHighPassParameter;
}

// A set of parameter ids 0 to 63, one bit each.
struct SnParamMask {
  uint32_t low = 0;
  uint32_t high = 0;
  static SnParamMask Of(uint32_t parameterId) {
    SnParamMask mask;
    if (parameterId < 32) mask.low = 1u << parameterId;
    else if (parameterId < 64) mask.high = 1u << (parameterId - 32);
    return mask;
  }
  bool Has(uint32_t parameterId) const {
    if (parameterId < 32) return (low >> parameterId) & 1u;
    return parameterId < 64 && ((high >> (parameterId - 32)) & 1u);
  }
};

// The value a mapping reads at a modulator's value: base + slope x the value (held to [low, high]),
// or, where the mapping carries a curve, the curve at the value, as a linear gain when the curve
// gives decibels. Any thread; never anything but a finite number.
struct SnModulatorMapping {
  SnModulatorMapping() = default;
  SnModulatorMapping(float base, float slope, uint32_t parameterId) : base(base), slope(slope), parameterId(parameterId) {}

  float base = 1.0f;
  float slope = 0.0f;
  uint32_t parameterId = 0;
  float low = -3.4028235e38f;
  float high = 3.4028235e38f;
  // The mapping's own copy of the curve's points (default pool), freed with the mapping by the list
  // that holds it; no points: the straight line above.
  CSnCurveGraph curve;
  bool decibels = false;

  float Map(float value) const;
  bool HasCurve() const { return curve.points != nullptr; }
  // Gives the copy of the points back; the mapping becomes its straight line.
  void FreeCurve();
};

// What owns the curves that map a modulator onto parameters: a hierarchy node or an effect definition.
class ISnModulatorMappingOwner {
 public:
  // Appends the mappings that use `modulatorId` for parameters in `filter`.
  virtual void AppendModulatorMappings(uint32_t modulatorId, const SnParamMask& filter,
                                       SnArray<SnModulatorMapping>& mappings) = 0;

 protected:
  ~ISnModulatorMappingOwner() = default;
};

enum SnModulatorMappingKind : uint32_t {
  SnModulatorMapping_None = 0,
  SnModulatorMapping_Node = 2,
  SnModulatorMapping_Effect = 3,
};

struct SnModulatorMappingRequest {
  ISnModulatorMappingOwner* owner = nullptr;
  uint32_t kind = SnModulatorMapping_None;
  SnParamMask filter;
};

// A per-sample signal a parameter follows this frame, and how the parameter maps it.
struct SnModulatorBuffer {
  const float* samples = nullptr;
  uint32_t frameSamples = 0;
  float base = 1.0f;
  float slope = 0.0f;
  const SnModulatorMapping* mapping = nullptr;  // the mapping itself, for one that carries a curve
};

// A parameter value that moves linearly from `from` to `to` over the frame.
struct SnModulatorRamp {
  float from = 1.0f;
  float to = 1.0f;
};

class CSnModulatorInstanceList {
 public:
  static constexpr uint32_t kPoolCapacity = 4;
  static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

  CSnModulatorInstanceList() = default;
  CSnModulatorInstanceList(const CSnModulatorInstanceList&) = delete;
  CSnModulatorInstanceList& operator=(const CSnModulatorInstanceList&) = delete;
  virtual ~CSnModulatorInstanceList() { Detach(); }

  // Holds the instance (a reference and a user) and appends the mappings the request's owner has
  // for it. SN_Failure when the list's record cannot be made or a node cannot be had.
  virtual SNRESULT AttachInstance(CSnModulatorInstance* instance, const SnModulatorMappingRequest& request);

  // Every node's mappings go (their memory stays), before the modulators are instantiated again.
  void ClearMappings();
  // An instance shared with other voices freezes only when all its users are paused.
  void Pause();
  void Resume();
  // Each instance not yet released begins its release `offset` samples on.
  void Release(uint32_t offset);
  // Lets go of the record; the last owner's let-go releases every instance.
  void Detach();
  // Another owner (a continuous performance handing on) shares this list's instances.
  void ShareWith(CSnModulatorInstanceList& other);

  // The product of base + slope x value over the mappings in `mask`; exactly 1.0 when none match.
  float GetFactor(const SnParamMask& mask) const;
  // The same, reading a buffered instance at its buffer's end.
  float GetFactorWithBuffers(const SnParamMask& mask) const;
  // The sum of base + slope x value over the mappings in `mask` (a buffered instance read at its
  // buffer's end): exactly 0 when none match.
  float GetOffset(const SnParamMask& mask) const;
  void CountModulations(const SnParamMask& mask, uint32_t& buffered, uint32_t& scalar) const;
  // Fills up to the counts given (in) and returns how many were filled (out).
  void CollectModulations(const SnParamMask& mask, SnModulatorBuffer* buffers, uint32_t& bufferCount,
                          SnModulatorRamp* ramps, uint32_t& rampCount) const;

  uint32_t InstanceCount() const { return m_record ? m_record->nodeCount : 0; }
  bool HasRecord() const { return m_record != nullptr; }
  int32_t StateWord() const { return m_state; }
  void SetStateWord(int32_t state) { m_state = state; }

  // The shared record's own steps; public for the owners that hand it on.
  struct Node {
    Node* next = nullptr;
    CSnModulatorInstance* instance = nullptr;
    SnArray<SnModulatorMapping> mappings;
  };
  struct Record {
    Node* first = nullptr;
    Node* last = nullptr;
    Node* freeNodes = nullptr;
    uint32_t poolCapacity = 0;
    uint32_t maxNodes = kNoLimit;
    uint32_t nodeCount = 0;
    Node* pool = nullptr;
    uint32_t refCount = 1;
  };
  static Record* CreateRecord();
  static SNRESULT InitPool(Record& record, uint32_t capacity);
  static void ReleaseRecord(Record* record);

 private:
  template <typename Visit>
  void ForEachMapping(const SnParamMask& mask, Visit visit) const;

  Record* m_record = nullptr;
  int32_t m_state = -1;
};

}  // namespace SN
