// The base of every music node but the track: a meter a node may impose on its subtree, stingers,
// music flags and an id-sorted child list, read from the music node block of a bank object.
//
// Threads: built and read on the bank thread under GlobalAudioLock(); queried on the audio thread.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicTypes.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"

namespace SN {

class CSnMatrixAwareContext;
class CSnMusicContext;
class CSnRegisteredObj;

// Why a parent turns a child away.
constexpr SNRESULT SN_WrongChildKind = SNRESULT(4);
constexpr SNRESULT SN_AlreadyAChild = SNRESULT(5);
constexpr SNRESULT SN_TooManyChildren = SNRESULT(9);
constexpr SNRESULT SN_ChildHasParent = SNRESULT(21);
constexpr SNRESULT SN_ChildIsItself = SNRESULT(23);

// Categories of the music kinds.
constexpr uint32_t kMusicCategoryTrack = 6;
constexpr uint32_t kMusicCategorySegment = 7;
constexpr uint32_t kMusicCategoryPlaylist = 8;
constexpr uint32_t kMusicCategorySwitch = 9;

// Reads the fields of a music bank object one after another; a field past the object's end fails
// and names the object in the log.
class SnMusicReader {
 public:
  SnMusicReader(uint32_t objectId, const uint8_t* data, uint32_t size) : m_id(objectId), m_cursor(data, size) {}
  template <typename T>
  bool Read(T& value, const char* what) {
    if (m_cursor.Take(value)) return true;
    Short(what);
    return false;
  }
  // `count` entries of `bytes` each: false (logged) when the object cannot hold them, before anything
  // is allocated for them.
  bool Holds(uint64_t count, uint64_t bytes, const char* what) const;
  const uint8_t* Take(uint32_t size, const char* what) {
    const uint8_t* bytes = m_cursor.TakeBytes(size);
    if (!bytes) Short(what);
    return bytes;
  }
  uint32_t Left() const { return m_cursor.Left(); }
  uint32_t ObjectId() const { return m_id; }
  // The rest of the bytes as the node-parameter reader takes them; `Advance` reports what it used.
  const uint8_t* Here() { return m_cursor.TakeBytes(0); }
  void Advance(uint32_t used) { m_cursor.TakeBytes(used); }

 private:
  void Short(const char* what) const;
  uint32_t m_id;
  SnBankCursor m_cursor;
};

class CSnMusicHierarchyNode : public CSnPropertyNode {
 public:
  static constexpr uint8_t kMusicOverridesEvents = 0x01;
  static constexpr uint8_t kMusicOverridesTracking = 0x02;
  static constexpr uint8_t kMusicOverridesMeter = 0x04;
  static constexpr uint8_t kMusicMidiOption = 0x08;
  static constexpr uint32_t kMaxChildren = 65535;

  explicit CSnMusicHierarchyNode(uint32_t id) : CSnPropertyNode(id, false) {}
  ~CSnMusicHierarchyNode() override;

  uint32_t MonitorType() const override { return 9; }

  // ---- children ----
  // SN_Success, or why the child is turned away (SN_TooManyChildren, SN_WrongChildKind,
  // SN_ChildHasParent, SN_AlreadyAChild, SN_ChildIsItself).
  SNRESULT MayAddChild(const CSnHierarchyNode* child) const;
  // Inserts in id order and becomes the child's parent; the caller keeps its own reference.
  SNRESULT AddChild(CSnHierarchyNode* child) override;
  void RemoveChild(CSnHierarchyNode* child) override;
  uint32_t ChildCount() const { return m_children.Count(); }
  CSnHierarchyNode* Child(uint32_t index) const { return m_children[index]; }

  // ---- musical time ----
  uint8_t MusicFlags() const { return m_musicFlags; }
  // Its own meter when it overrides its parent's, else the nearest overriding ancestor's; the
  // topmost music node's fields as they are when none does.
  const SnMusicMeter& GetMeter() const;
  const SnMusicStinger& Stinger(uint32_t index) const { return m_stingers[index]; }
  uint32_t StingerCount() const { return m_stingers.Count(); }
  // The stinger of `triggerId` of the nearest node, this one or an ancestor, or null.
  const SnMusicStinger* FindStinger(uint32_t triggerId) const;

  // ---- the hierarchy's calls ----
  void ExecuteAction(const SnActionParams& params) override;
  // A change of this node's or an ancestor's or bus's parameter goes on to the children that play.
  void DeliverParameterChange(const SnParamChange& change) override;
  // A gain or mute of this node or above it goes on to the children that play.
  void ApplyGainFactor(CSnRegisteredObj* gameObject, float gain) override;
  // Kinds that play by themselves say so; the others refuse, logged once.
  SNRESULT PlayNode(CSnPlayParams& params) override;
  // The kind's playing context under `parent` (null: a play's root), referenced once for the
  // caller and not yet prepared; null for kinds that do not play or out of memory.
  virtual CSnMatrixAwareContext* CreateContext(CSnMusicContext*, CSnRegisteredObj*, const CSnPlayParams&) {
    return nullptr;
  }
  // A change of the playback speed (property 54) has every play work its speed out again.
  SNRESULT SetFloatProperty(uint8_t id, float value) override;
  // The node's parameters and the playback speed (41), which its plays follow.
  uint64_t SupportedMask() const override { return CSnPropertyNode::SupportedMask() | (uint64_t(1) << 41); }
  // The musical dependencies (stinger segments, transition segments), then the children; undone
  // on failure.
  SNRESULT PrepareData() override;
  void UnprepareData() override;
  virtual SNRESULT PrepareMusicDependencies();
  virtual void UnprepareMusicDependencies();

 protected:
  // Which child categories this kind takes.
  virtual bool TakesChildCategory(uint32_t category) const = 0;
  // The music node block of the bank object: flags, common node parameters, children, meter and
  // stingers.
  SNRESULT ReadMusicParams(SnMusicReader& in);

 private:
  SNRESULT ReadChildren(SnMusicReader& in);
  SNRESULT ReadMeter(SnMusicReader& in);
  SNRESULT ReadStingers(SnMusicReader& in);
  const CSnMusicHierarchyNode* MusicParent() const;

  SnArray<CSnHierarchyNode*> m_children;
  SnArray<SnMusicStinger> m_stingers;
  SnMusicMeter m_meter;
  uint8_t m_musicFlags = 0;
};

// A music kind that does not play by itself: SN_Failure, said once per process.
SNRESULT MusicCannotPlayYet(uint32_t nodeId);

// The output rate music times are converted at.
uint32_t MusicSampleRate();

}  // namespace SN
