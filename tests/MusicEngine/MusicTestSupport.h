// Test helpers of the music engine: the sound engine with its real managers and bank manager, the
// music engine initialised on it, and banks of music objects written by the bank writer.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "MusicEngine/MusicEngine.h"
#include "MusicEngine/MusicSegment.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicWriter.h"

namespace MusicTest {

// 120 bpm in 4/4 at 48 kHz: a beat of 24,000 samples, a bar of 96,000; a grid of 250 ms from 100 ms.
inline Tools::BankMusicNode Meter120() {
  Tools::BankMusicNode node;
  node.tempo = 120.0f;
  node.beatsPerBar = 4;
  node.beatValue = 4;
  node.gridPeriodMs = 250.0;
  node.gridOffsetMs = 100.0;
  node.overridesMeter = 1;
  return node;
}

// Entry at 500 ms, a user cue 3,250 ms after it, the exit 8,000 ms after it, 9,000 ms long.
inline Tools::BankMusicSegment Segment120(uint32_t id) {
  Tools::BankMusicSegment segment;
  segment.id = id;
  segment.node = Meter120();
  segment.durationMs = 9000.0;
  segment.markers = {{1, 500.0, "Entry"}, {77, 3750.0, "Chorus"}, {2, 8500.0, ""}};
  return segment;
}

// Playlist records as the writer takes them: a group of `children` records following it, an item.
inline Tools::BankPlaylistRecord PlaylistGroup(uint32_t itemId, uint32_t children, uint32_t mode = 0,
                                               uint16_t loops = 1) {
  Tools::BankPlaylistRecord record;
  record.itemId = itemId;
  record.childCount = children;
  record.playMode = mode;
  record.loopCount = loops;
  return record;
}
inline Tools::BankPlaylistRecord PlaylistItem(uint32_t itemId, uint32_t segmentId, uint32_t weight = 50000,
                                              uint16_t loops = 1) {
  Tools::BankPlaylistRecord record;
  record.itemId = itemId;
  record.segmentId = segmentId;
  record.weight = weight;
  record.loopCount = loops;
  return record;
}

// The same records under the short names the container and iterator tests write their lists in.
template <typename... Fields>
Tools::BankPlaylistRecord Group(Fields... fields) { return PlaylistGroup(fields...); }
template <typename... Fields>
Tools::BankPlaylistRecord Item(Fields... fields) { return PlaylistItem(fields...); }

// A segment counting its preparations.
class CountingSegment : public SN::CSnMusicSegmentNode {
 public:
  explicit CountingSegment(uint32_t id) : CSnMusicSegmentNode(id) {}
  SN::SNRESULT PrepareData() override {
    ++prepared;
    return SN::SN_Success;
  }
  void UnprepareData() override { --prepared; }
  int prepared = 0;
};

class MusicFixture : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    ASSERT_EQ(SN::MusicEngine::Init(nullptr), SN::SN_Success);
  }
  void TearDown() override {
    for (uint32_t bank : loaded_) SN::g_pBankManager->UnloadBankWait(bank, nullptr);
    for (SN::CSnIndexedObject* node : made_) node->Release();
    BankFixture::TearDown();
  }

  // Loads a bank of `objects` in order, as a copy of the image; its result.
  SN::SNRESULT LoadBank(const std::vector<Tools::BankObject>& objects, uint32_t bankId = 0) {
    Tools::BankDescription bank;
    bank.bankId = bankId ? bankId : 2000 + uint32_t(images_.size());
    bank.objects = objects;
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    images_.push_back(Tools::WriteBank(bank));
    const std::vector<uint8_t>& image = images_.back();
    uint32_t id = 0;
    const SN::SNRESULT result =
        SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &id);
    if (result == SN::SN_Success) loaded_.push_back(id);
    return result;
  }
  // Loads the bank the text describes; its result.
  SN::SNRESULT LoadText(const std::string& text) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, "Music", bank, error)) << error;
    return LoadBank(bank.objects);
  }
  // Each text after `head` is refused with its error.
  static void ExpectRefused(const std::string& head, std::initializer_list<std::pair<std::string, const char*>> refused) {
    for (const auto& [text, error] : refused) {
      Tools::BankDescription bank;
      std::string got;
      EXPECT_FALSE(Tools::ParseBankText(head + text + "\n", "Music", bank, got)) << text;
      EXPECT_EQ(got, error) << text;
    }
  }
  SN::SNRESULT Unload(uint32_t bankId) {
    std::erase(loaded_, bankId);
    return SN::g_pBankManager->UnloadBankWait(bankId, nullptr);
  }
  static Tools::BankObject SegmentObject(const Tools::BankMusicSegment& segment) {
    return {Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)};
  }
  // The loaded node of `id`, no reference kept (its banks hold them); null when absent.
  template <typename Node = SN::CSnHierarchyNode>
  Node* Find(uint32_t id) {
    SN::CSnIndexedObject* found = SN::g_pObjectIndex->FindNodeAndAddRef(id, false);
    if (found) found->Release();
    return static_cast<Node*>(found);
  }
  // A counting segment read from the writer's bytes and entered in the node list, as a bank would;
  // released at the end of the test.
  CountingSegment* Counting(uint32_t id) {
    auto* segment = SN::PoolNew<CountingSegment>(SN::g_DefaultPoolId, id);
    const std::vector<uint8_t> bytes = Tools::MusicSegmentPayload(Segment120(id), false);
    {
      Platform::ReentrantGuard audio(SN::GlobalAudioLock());
      EXPECT_EQ(segment->ReadBankData(bytes.data(), uint32_t(bytes.size())), SN::SN_Success);
    }
    SN::g_pObjectIndex->GetNodeList(false).Insert(segment);
    made_.push_back(segment);
    return segment;
  }
  bool Logged(const char* text) {
    logged_ += log_.Take();
    return logged_.find(text) != std::string::npos;
  }

  std::string logged_;
  std::vector<std::vector<uint8_t>> images_;
  std::vector<uint32_t> loaded_;
  std::vector<SN::CSnIndexedObject*> made_;  // made by the test itself, one reference each
};

}  // namespace MusicTest
