// Music objects from a bank: found or made, read under the global audio lock, entered in the object
// index once whole and handed to the bank, which keeps a reference until it is unloaded.
#include <cstring>

#include "MusicEngine/MusicContainers.h"
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint8_t kHircSegment = 10;
constexpr uint8_t kHircTrack = 11;
constexpr uint8_t kHircSwitchContainer = 12;
constexpr uint8_t kHircPlaylistContainer = 13;

// The object's bytes, given back to the reader when the load of the object ends.
class ObjectData {
 public:
  ObjectData(CSnSoundBankReader* reader, uint32_t size)
      : m_reader(reader), m_data(reader ? reader->GetData(size) : nullptr), m_size(size) {}
  ~ObjectData() {
    if (m_data) m_reader->ReleaseData();
  }
  ObjectData(const ObjectData&) = delete;
  ObjectData& operator=(const ObjectData&) = delete;
  const uint8_t* Bytes() const { return m_data; }
  uint32_t Size() const { return m_size; }
  uint32_t Id() const {
    uint32_t id = 0;
    memcpy(&id, m_data, sizeof id);
    return id;
  }

 private:
  CSnSoundBankReader* m_reader;
  const uint8_t* m_data;
  uint32_t m_size;
};

// A track found in the node list that another bank read without media of its own.
CSnMusicTrackNode* TrackToReadAgain(CSnIndexedObject* object) {
  auto* node = static_cast<CSnHierarchyNode*>(object);
  if (node->NodeCategory() != kMusicCategoryTrack) return nullptr;
  auto* track = static_cast<CSnMusicTrackNode*>(node);
  return track->HasProvidedMedia() ? nullptr : track;
}

SNRESULT ReadNew(CSnMusicTrackNode& track, const ObjectData& data) {
  return track.ReadBankData(data.Bytes(), data.Size(), false);
}
template <typename Node>
SNRESULT ReadNew(Node& node, const ObjectData& data) {
  return node.ReadBankData(data.Bytes(), data.Size());
}

// Made and read under the audio lock, so that no frame sees a half-built node; entered in the node
// list only once whole. An object another bank loaded is only referenced, but for a track without
// media of its own, which is read again.
template <typename Node>
SNRESULT LoadNode(const SnHircObjectHeader& header, CSnLoadedBank* bank) {
  ObjectData data(bank->LoadingReader(), header.size);
  if (!data.Bytes() || header.size < sizeof(uint32_t)) {
    SOUND_LOG(Error, "Music object of type %u: its %u bytes could not be had", unsigned(header.type), header.size);
    return SN_Failure;
  }
  const uint32_t id = data.Id();
  CSnObjectIndexList& list = g_pObjectIndex->GetNodeList(false);
  CSnIndexedObject* object = list.FindAndAddRef(id);
  if (object && header.type == kHircTrack) {
    if (CSnMusicTrackNode* track = TrackToReadAgain(object)) {
      Platform::ReentrantGuard audio(GlobalAudioLock());
      const SNRESULT result = track->ReadBankData(data.Bytes(), data.Size(), true);
      if (result != SN_Success) {
        SOUND_LOG(Error, "Music track %u could not be read again (%d)", id, int(result));
        track->Release();
        return result;
      }
    }
  }
  if (!object) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    Node* node = PoolNew<Node>(g_DefaultPoolId, id);
    if (!node) return SN_Failure;
    const SNRESULT result = ReadNew(*node, data);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Music object %u of type %u could not be read (%d)", id, unsigned(header.type), int(result));
      node->Release();
      return result;
    }
    list.Insert(node);
    object = node;
  }
  bank->AddObject(object);
  return SN_Success;
}

}  // namespace

SNRESULT CSnMusicRenderer::LoadHircObject(const SnHircObjectHeader& header, CSnLoadedBank* bank, uint32_t) {
  if (header.type < kHircSegment || header.type > kHircPlaylistContainer) return SN_NothingChanged;
  if (!bank || !g_pObjectIndex) return SN_Failure;
  switch (header.type) {
    case kHircSegment:
      return LoadNode<CSnMusicSegmentNode>(header, bank);
    case kHircTrack:
      return LoadNode<CSnMusicTrackNode>(header, bank);
    case kHircSwitchContainer:
      return LoadNode<CSnMusicSwitchContainer>(header, bank);
    default:  // the random/sequence container
      return LoadNode<CSnMusicPlaylistContainer>(header, bank);
  }
}

}  // namespace SN
