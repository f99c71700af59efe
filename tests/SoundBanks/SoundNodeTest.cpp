// Sounds read from banks: their source records, their plays reaching the voice manager, MIDI
// note-ons publishing note, velocity and frequency, note tracking, seeks and the loop count.
#include <algorithm>
#include <cmath>

#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Midi/MidiNoteState.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"

namespace {

using namespace HierarchyTest;
using SN::CSnPlayParams;
using SN::CSnSourceDesc;
using SN::SnMidiEvent;

class SoundNodeTest : public HierarchyFixture {
 protected:
  CSnPlayParams NoteOn(uint8_t note, uint8_t velocity, uint32_t target = 77) {
    CSnPlayParams params;
    params.midiEvent = {SnMidiEvent::kNoteOn, 0, note, velocity};
    params.midiTargetId = target;
    return params;
  }
  float Published(uint32_t parameter, uint8_t note, uint32_t target = 77) {
    SN::SnRTPCKey key;
    key.midiTargetId = target;
    key.midiChannel = 0;
    key.midiNote = note;
    float value = -1.0f;
    return SN::g_pRTPCMgr->GetValue(parameter, key, value) ? value : -1.0f;
  }
};

TEST_F(SoundNodeTest, SourceRecordsBecomeDescriptorsAndPlaysReachTheVoiceManager) {
  Tools::BankSource streamed;
  streamed.streamType = 1;
  streamed.sourceId = 8;
  streamed.sizeOrFileId = 9000;
  streamed.flags = 1;
  Tools::BankSource prefetched = streamed;
  prefetched.streamType = 2;
  prefetched.sourceId = 9;
  Tools::BankSource plugin;
  plugin.classId = 0x00640002;
  plugin.sourceId = 10;
  plugin.pluginParams = {1, 2, 3};
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 480)), SoundObject(101, streamed), SoundObject(102, prefetched),
                  SoundObject(103, plugin)}),
            SN::SN_Success);

  const CSnSourceDesc& memory = Sound(100)->Source();
  EXPECT_EQ(Sound(100)->NodeCategory(), 3u);
  EXPECT_EQ(memory.sourceId, 7u);
  EXPECT_EQ(memory.mediaSize, 480u);
  EXPECT_EQ(memory.fileId, 0xFFFFFFFFu);
  EXPECT_EQ(memory.codecId, 0x00010001u);
  EXPECT_EQ(memory.StorageType(), uint32_t(CSnSourceDesc::Storage_InMemory));
  const CSnSourceDesc& file = Sound(101)->Source();
  EXPECT_EQ(file.StorageType(), uint32_t(CSnSourceDesc::Storage_Streamed));
  EXPECT_EQ(file.fileId, 9000u);
  EXPECT_EQ(file.flags & (CSnSourceDesc::kLanguageFile | CSnSourceDesc::kPrefetched), CSnSourceDesc::kLanguageFile);
  EXPECT_EQ(Sound(102)->Source().flags & CSnSourceDesc::kPrefetched, CSnSourceDesc::kPrefetched);
  EXPECT_EQ(Sound(103)->Source().StorageType(), uint32_t(CSnSourceDesc::Storage_Plugin));
  EXPECT_TRUE(Sound(103)->HasSource());

  CSnPlayParams params;
  params.gameObject = GameObject(5);
  params.playingId = 55;
  ASSERT_EQ(Sound(100)->Play(params), SN::SN_Success);
  ASSERT_EQ(player_.plays.size(), 1u);
  EXPECT_EQ(player_.plays[0].node, Sound(100));
  EXPECT_EQ(player_.plays[0].sourceId, 7u);
  EXPECT_EQ(player_.plays[0].gameObject, params.gameObject);
  EXPECT_EQ(player_.plays[0].playingId, 55u);
  // The voice manager's answer is the play's.
  player_.result = SN::SNRESULT(3);
  EXPECT_EQ(Sound(101)->Play(params), SN::SNRESULT(3));
}

TEST_F(SoundNodeTest, ASourceNoSoundCanHaveFailsTheBank) {
  Tools::BankSource unknownClass = MemorySource(7, 4);
  unknownClass.classId = 0x00010003;
  EXPECT_EQ(Load({SoundObject(110, unknownClass)}), SN::SN_Failure);
  Tools::BankSource unknownStream = MemorySource(7, 4);
  unknownStream.streamType = 3;
  EXPECT_EQ(Load({SoundObject(111, unknownStream)}), SN::SN_Failure);
  // Plug-in parameters said to be longer than the object.
  Tools::BankSource plugin;
  plugin.classId = 0x00640002;
  plugin.sourceId = 12;
  Tools::BankObject shortObject = SoundObject(112, plugin);
  shortObject.payload[4 + 14] = 0xFF;  // the parameter size's low byte
  EXPECT_EQ(Load({shortObject}), SN::SN_Failure);
  EXPECT_EQ(Sound(110), nullptr);
  EXPECT_EQ(Sound(111), nullptr);
  EXPECT_EQ(Sound(112), nullptr);
  EXPECT_TRUE(Logged("stream type 3 is unknown"));
}

TEST_F(SoundNodeTest, NoteOnsPublishNoteVelocityAndFrequencyForTheirKey) {
  Tools::BankNodeParams turnedAway;
  turnedAway.properties = {Tools::BankNodeProperty::Int(SN::SnProp_MidiPlayMode, 2)};
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 480)), SoundObject(101, MemorySource(8, 480), turnedAway)}),
            SN::SN_Success);
  SN::CSnMidiNoteEntryPool& pool = SN::MidiNoteEntryPool();
  const uint32_t outBefore = pool.OutCount();
  SN::CSnMidiNoteState* note = SN::CSnMidiNoteState::Create({SnMidiEvent::kNoteOn, 0, 69, 100}, 77);
  ASSERT_NE(note, nullptr);
  CSnPlayParams params = NoteOn(69, 100);
  params.midiNote = note;
  ASSERT_EQ(Sound(100)->Play(params), SN::SN_Success);
  EXPECT_EQ(Published(133, 69), 69.0f);
  EXPECT_EQ(Published(129, 69), 100.0f);
  EXPECT_EQ(Published(132, 69), 440.0f);
  params = NoteOn(81, 90);
  ASSERT_EQ(Sound(100)->Play(params), SN::SN_Success);  // outside a note: nothing keeps an entry
  EXPECT_EQ(Published(132, 81), 880.0f);
  EXPECT_EQ(SN::CSnSoundNode::MidiNoteFrequency(57), 220.0f);
  EXPECT_NEAR(SN::CSnSoundNode::MidiNoteFrequency(60), 261.6256f, 1e-3f);
  EXPECT_EQ(pool.OutCount(), outBefore + 1);
  const SN::SnMidiNoteEntry* entry = note->Entries();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->node, Sound(100));
  EXPECT_EQ(entry->channelAndNote, 69);
  EXPECT_EQ(entry->playMode, 0u);
  EXPECT_EQ(player_.plays.size(), 2u);

  // Velocity 0 is no note-on: the sound plays and publishes nothing for note 70.
  params = NoteOn(70, 0);
  params.midiNote = note;
  ASSERT_EQ(Sound(100)->Play(params), SN::SN_Success);
  EXPECT_EQ(Published(133, 70), Published(133, 71));
  EXPECT_EQ(player_.plays.size(), 3u);

  // Play mode 2: the note is published and kept to play at its note-off; nothing plays now.
  params = NoteOn(72, 64);
  params.midiNote = note;
  EXPECT_EQ(Sound(101)->Play(params), SN::SN_MidiFiltered);
  EXPECT_EQ(player_.plays.size(), 3u);
  EXPECT_EQ(Published(133, 72), 72.0f);
  ASSERT_NE(entry->next, nullptr);
  EXPECT_EQ(entry->next->playMode, SN::kMidiPlayOnNoteOff);
  EXPECT_EQ(entry->next->node, Sound(101));
  EXPECT_EQ(pool.OutCount(), outBefore + 2);

  // The note's end gives both entries back, with the references they held on their sounds.
  const uint32_t references = Sound(101)->AddRef() - 1;
  Sound(101)->Release();
  note->Release();
  EXPECT_EQ(pool.OutCount(), outBefore);
  EXPECT_GE(pool.KeptCount(), 2u);
  EXPECT_EQ(Sound(101)->AddRef() - 1, references - 1);
  Sound(101)->Release();
}

// The pool keeps what comes back for the next notes and hands out no more than its maximum.
TEST_F(SoundNodeTest, TheNoteEntryPoolIsBoundedAndReusesItsEntries) {
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4))}), SN::SN_Success);
  SN::CSnMidiNoteEntryPool pool(2);
  SN::SnMidiNoteEntry* first = pool.Take(0, Sound(100), 1, 60);
  SN::SnMidiNoteEntry* second = pool.Take(2, nullptr, 1, 61);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->Channel(), 1u);
  EXPECT_EQ(first->Note(), 60u);
  EXPECT_EQ(pool.Take(0, nullptr, 1, 62), nullptr);
  EXPECT_EQ(pool.Take(0, nullptr, 1, 63), nullptr);
  pool.Give(first);
  EXPECT_EQ(pool.KeptCount(), 1u);
  SN::SnMidiNoteEntry* again = pool.Take(1, nullptr, 2, 64);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->node, nullptr);
  EXPECT_EQ(again->channelAndNote, 0x0240);
  pool.Give(again);
  pool.Give(second);
  EXPECT_EQ(pool.OutCount(), 0u);
  pool.Term();
  EXPECT_EQ(pool.KeptCount(), 0u);
}

TEST_F(SoundNodeTest, NoteTrackingRaisesThePitchFromTheRootNote) {
  Tools::BankNodeParams tracked;
  tracked.priorityFlags = uint8_t((SN::CSnHierarchyNode::kMidiOverridesTracking | SN::CSnHierarchyNode::kMidiTracking)
                                  << 2);
  tracked.properties = {Tools::BankNodeProperty::Int(SN::SnProp_MidiTrackingRoot, 60),
                        Tools::BankNodeProperty::Float(SN::SnProp_Pitch, 50.0f)};
  Tools::BankNodeParams untracked;
  untracked.properties = tracked.properties;
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4), tracked), SoundObject(101, MemorySource(8, 4), untracked)}),
            SN::SN_Success);
  auto pitch = [](SN::CSnSoundNode* sound, uint32_t note) {
    SN::SnSoundParams params;
    SN::SnRTPCKey key;
    key.midiNote = note;
    sound->GetSoundParams(params, SN::SnParamGroup_Pitch, key, nullptr, false, true);
    return params.pitch;
  };
  EXPECT_EQ(pitch(Sound(100), 64), 450.0f);
  EXPECT_EQ(pitch(Sound(100), 55), -450.0f);
  EXPECT_EQ(pitch(Sound(100), 255), 50.0f);
  EXPECT_EQ(pitch(Sound(101), 64), 50.0f);
}

TEST_F(SoundNodeTest, SeeksClampAndReachTheMatchingInstancesOthersReachAll) {
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4))}), SN::SN_Success);
  SN::CSnSoundNode* sound = Sound(100);
  SN::CSnRegisteredObj* a = GameObject(1);
  SN::CSnRegisteredObj* b = GameObject(2);
  FakeInstance first(a, 11), second(b, 12), third(a, 13);
  for (FakeInstance* instance : {&first, &second, &third}) sound->AttachInstance(instance);

  SN::SnActionParams seek;
  seek.kind = SN::SnActionParams::Seek;
  seek.gameObject = a;
  seek.seek.ms = -250;
  sound->ExecuteAction(seek);
  EXPECT_EQ(first.seeks, (std::vector<std::pair<float, bool>>{{0.0f, false}}));
  EXPECT_TRUE(second.seeks.empty());
  EXPECT_EQ(third.seeks.size(), 1u);

  seek.gameObject = nullptr;
  seek.playingId = 12;
  seek.seekFlags = 3;  // by fraction, to the nearest marker
  seek.seek.fraction = 1.5f;
  sound->ExecuteAction(seek);
  seek.seek.fraction = std::nanf("");
  sound->ExecuteAction(seek);
  EXPECT_EQ(second.seeks, (std::vector<std::pair<float, bool>>{{1.0f, true}, {0.0f, true}}));

  SN::SnActionParams pause;
  pause.kind = SN::SnActionParams::Pause;
  pause.playingId = 11;  // the instance decides whether it matches
  sound->ExecuteAction(pause);
  for (FakeInstance* instance : {&first, &second, &third}) EXPECT_EQ(instance->kinds, std::vector<uint32_t>{1});

  sound->ParameterChanged(2, SN::SnRTPCKey{}, 100.0f, false);
  EXPECT_EQ(third.parameters, std::vector<uint32_t>{2});

  for (FakeInstance* instance : {&second, &first, &third}) sound->DetachInstance(instance);
  EXPECT_EQ(sound->FirstInstance(), nullptr);
}

TEST_F(SoundNodeTest, LoopStopsGainsPositioningAndKeyVisitsReachTheInstancesTheyName) {
  Tools::BankNodeParams positioned;
  positioned.positioning.bits = 1;
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4)), SoundObject(101, MemorySource(8, 4), positioned)}),
            SN::SN_Success);
  SN::CSnRegisteredObj* a = GameObject(1);
  SN::CSnRegisteredObj* b = GameObject(2);
  FakeInstance first(a, 11), second(b, 12), third(a, 13);
  third.key.midiChannel = 3;
  third.key.midiNote = 60;
  SN::CSnSoundNode* sound = Sound(100);
  for (FakeInstance* instance : {&first, &second, &third}) sound->AttachInstance(instance);

  sound->StopLooping(a, 13);
  EXPECT_EQ(third.loopStops, 1u);
  EXPECT_EQ(first.loopStops + second.loopStops, 0u);
  sound->StopLooping(nullptr, 0);
  for (FakeInstance* instance : {&first, &second}) EXPECT_EQ(instance->loopStops, 1u);

  sound->SetInstanceGainEntry(b, 0.5f, 7);
  EXPECT_EQ(second.entries, (std::vector<std::pair<uint32_t, float>>{{7, 0.5f}}));
  EXPECT_TRUE(first.entries.empty());

  // The first sound positions nothing itself: its sounds follow their parent's positioning.
  sound->PositioningParameterUpdate(30.0f, 20);
  EXPECT_TRUE(first.positioning.empty());
  SN::CSnRegisteredObj* const excluded[] = {a};
  const SN::SnInstanceExclusions exclusions{excluded, 1};
  sound->DeliverPositioningParameter(30.0f, 20, nullptr, &exclusions);
  EXPECT_TRUE(first.positioning.empty());
  EXPECT_EQ(second.positioning, (std::vector<std::pair<uint32_t, float>>{{20, 30.0f}}));

  struct Visits {
    std::vector<uint32_t> ids;
    static void Record(SN::ISnLeafInstance& instance, void* context) {
      static_cast<Visits*>(context)->ids.push_back(instance.InstancePlayingId());
    }
  };
  auto visit = [&](const SN::SnRTPCKey& key) {
    Visits visits;
    sound->ForEachInstance(key, &Visits::Record, &visits);
    std::sort(visits.ids.begin(), visits.ids.end());
    return visits.ids;
  };
  EXPECT_EQ(visit(SN::SnRTPCKey{}), (std::vector<uint32_t>{11, 12, 13}));
  EXPECT_EQ(visit(SN::SnRTPCKey::ForObject(a)), (std::vector<uint32_t>{11, 13}));
  SN::SnRTPCKey note = SN::SnRTPCKey::ForObject(a);
  note.midiNote = 60;
  EXPECT_EQ(visit(note), (std::vector<uint32_t>{13}));  // a note asked for passes over the plays without one
  note.midiNote = 61;
  EXPECT_TRUE(visit(note).empty());
  note.midiNote = 255;
  note.midiChannel = 3;
  note.playingId = 13;
  EXPECT_EQ(visit(note), (std::vector<uint32_t>{13}));
  sound->ForEachInstance(SN::SnRTPCKey{}, nullptr, nullptr);  // no visitor: nothing happens

  for (FakeInstance* instance : {&first, &second, &third}) sound->DetachInstance(instance);

  // A sound that positions itself hands a new positioning value to its instances.
  SN::CSnSoundNode* own = Sound(101);
  EXPECT_TRUE(own->FlagsB() & SN::CSnHierarchyNode::kHasPositioning);
  FakeInstance fourth(a, 14);
  own->AttachInstance(&fourth);
  own->PositioningParameterUpdate(75.0f, 11);
  EXPECT_EQ(fourth.positioning, (std::vector<std::pair<uint32_t, float>>{{11, 75.0f}}));
  own->DetachInstance(&fourth);
}

TEST_F(SoundNodeTest, EffectSlotsBypassAndValueChangesReachEveryInstance) {
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4))}), SN::SN_Success);
  SN::CSnSoundNode* sound = Sound(100);
  FakeInstance first(GameObject(1), 11), second(GameObject(2), 12);
  for (FakeInstance* instance : {&first, &second}) sound->AttachInstance(instance);

  ASSERT_EQ(sound->SetEffectSlot(1, 500, false, 0), SN::SN_Success);
  ASSERT_EQ(sound->SetEffectSlot(1, 500, false, 0), SN::SN_Success);  // unchanged: nobody is told
  for (FakeInstance* instance : {&first, &second}) {
    EXPECT_EQ(instance->effectSlots, std::vector<uint32_t>{1});
    EXPECT_EQ(instance->valuesChanged, 1u);
  }
  ASSERT_EQ(sound->MarkSlotRendered(1, true), SN::SN_Success);
  EXPECT_EQ(first.effectSlots, (std::vector<uint32_t>{1, 1}));

  // A root sound plays its own slots: bits 0-3 per slot, bit 4 for all of them.
  sound->SetBypassBits(0x12, 0x13);
  sound->SetBypassBits(0x01, 0x01);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0x12, 0x1F}, {0x13, 0x1F}};
  for (FakeInstance* instance : {&first, &second}) EXPECT_EQ(instance->bypass, expected);

  // Values changed from a state or a layer: each instance computes its parameters again.
  sound->ValuesChanged();
  EXPECT_EQ(second.valuesChanged, 3u);
  for (FakeInstance* instance : {&first, &second}) sound->DetachInstance(instance);
}

TEST_F(SoundNodeTest, TheLoopCountAddsItsRandomOffset) {
  Tools::BankNodeParams fixed;
  fixed.properties = {Tools::BankNodeProperty::Int(SN::SnProp_LoopCount, 3)};
  fixed.ranges = {{SN::SnProp_LoopCount, 2.0f, 2.0f}};
  Tools::BankNodeParams ranged = fixed;
  ranged.ranges = {{SN::SnProp_LoopCount, 0.0f, 4.0f}};
  Tools::BankNodeParams far = fixed;
  far.ranges = {{SN::SnProp_LoopCount, -10.0f, -10.0f}};
  ASSERT_EQ(Load({SoundObject(100, MemorySource(7, 4), fixed), SoundObject(101, MemorySource(7, 4), ranged),
                  SoundObject(102, MemorySource(7, 4), far), SoundObject(103, MemorySource(7, 4))}),
            SN::SN_Success);
  EXPECT_EQ(Sound(100)->GetLoopCount(), 5);
  bool low = false, high = false;
  for (int i = 0; i < 400; ++i) {
    const uint16_t count = Sound(101)->GetLoopCount();
    ASSERT_GE(count, 3);
    ASSERT_LE(count, 7);
    low = low || count == 3;
    high = high || count == 7;
  }
  EXPECT_TRUE(low && high);
  EXPECT_EQ(Sound(102)->GetLoopCount(), 0);  // saturated, not wrapped to 65529
  EXPECT_EQ(Sound(103)->GetLoopCount(), 1);
}

}  // namespace
