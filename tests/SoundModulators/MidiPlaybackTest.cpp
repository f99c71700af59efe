// MIDI through a playback context: queue order, note pairing, sustain, controllers and pitch bend,
// all-notes-off, ending a target, a note's voices at its note-off, and a note-on's offset in its
// frame. The nodes, voices and parameters answer through a recorder.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundModulators/SoundTestObjects.h"

namespace {

using namespace SN;
using ModulationTest::FakeVoice;

struct Recorder final : ISnMidiPlayback {
  uint32_t NodeCategory(CSnIndexedObject*) override { return category; }
  void PlayNote(CSnMidiEventTarget&, const SnMidiEvent& event, uint32_t frameOffset, CSnMidiNoteState& note) override {
    plays.push_back({event, frameOffset});
    for (uint32_t v = 0; v < voicesPerNote; ++v)
      note.AddVoice(FakeVoice(++nextVoice), kind, ignoreNoteOff && v == 0);
    // As sounds do: each keeps an entry with the note, one of them to play again at its note-off.
    for (uint32_t mode : entryModes)
      note.AddEntry(MidiNoteEntryPool().Take(mode, nullptr, event.channel, uint8_t(event.note + mode)));
    notes.push_back(&note);
  }
  void PlayNoteEntry(CSnMidiEventTarget&, const SnMidiNoteEntry& entry, const SnMidiEvent& noteOff,
                     uint32_t frameOffset) override {
    entryPlays.push_back({SnMidiEvent{noteOff.status, entry.Channel(), entry.Note(), noteOff.velocity}, frameOffset});
  }
  void ReleaseVoice(CSnPlaybackInstance* voice, uint32_t frameOffset) override { released.push_back({voice, frameOffset}); }
  void StopVoice(CSnPlaybackInstance* voice) override { stopped.push_back(voice); }
  void PauseVoice(CSnPlaybackInstance* voice) override { paused.push_back(voice); }
  void ResumeVoice(CSnPlaybackInstance* voice) override { resumed.push_back(voice); }
  void SetParameter(uint32_t id, float value, const SnRTPCKey& key) override { sets.push_back({id, value, key}); }
  void ResetParameter(uint32_t id, const SnRTPCKey&) override { resets.push_back(id); }
  void MidiCallback(uint32_t playingId, const SnMidiEvent& event) override { callbacks.push_back({playingId, event}); }

  struct Play {
    SnMidiEvent event;
    uint32_t offset;
  };
  std::vector<uint32_t> entryModes;
  std::vector<Play> entryPlays;
  struct Set {
    uint32_t id;
    float value;
    SnRTPCKey key;
  };
  uint32_t category = 11;
  uint32_t voicesPerNote = 1;
  CSnMidiNoteState::VoiceKind kind = CSnMidiNoteState::Voice_Release;
  bool ignoreNoteOff = false;
  uintptr_t nextVoice = 0;
  std::vector<Play> plays;
  std::vector<CSnMidiNoteState*> notes;
  std::vector<std::pair<CSnPlaybackInstance*, uint32_t>> released;
  std::vector<CSnPlaybackInstance*> stopped, paused, resumed;
  std::vector<Set> sets;
  std::vector<uint32_t> resets;
  std::vector<std::pair<uint32_t, SnMidiEvent>> callbacks;
};

SnMidiEvent On(uint8_t channel, uint8_t note, uint8_t velocity = 100) { return {SnMidi_NoteOn, channel, note, velocity}; }
SnMidiEvent Off(uint8_t channel, uint8_t note, uint8_t velocity = 0) { return {SnMidi_NoteOff, channel, note, velocity}; }
SnMidiEvent CC(uint8_t channel, uint8_t controller, uint8_t value) {
  return {SnMidi_ControlChange, channel, controller, value};
}

class MidiTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    context_ = new CSnMidiPlaybackContext(recorder_);
    target_ = CSnMidiEventTarget::Create(7, g_pRegistryMgr->RegisterGameObj(5, 1), 42, nullptr);
  }
  void TearDown() override {
    delete context_;
    target_->Release();
    BankFixture::TearDown();
  }
  Recorder recorder_;
  CSnMidiPlaybackContext* context_ = nullptr;
  CSnMidiEventTarget* target_ = nullptr;
};

TEST_F(MidiTest, TheQueueKeepsOffsetsAndPutsFlaggedNodesInTheirPlace) {
  SnMidiEventQueue queue;
  target_->QueueEvent(queue, On(0, 60), 100, 0, true, false);
  target_->QueueEvent(queue, On(0, 61), 50, 0, false, false);
  target_->QueueEvent(queue, Off(0, 60), 100, 0, false, false);  // before the flag-A node of its offset
  target_->QueueEvent(queue, On(0, 62), 100, 0, false, true);   // flag B: before those without it
  target_->QueueEvent(queue, SnMidiEvent{0x40, 0, 0, 0}, 0, 0, false, false);
  target_->QueueEvent(queue, SnMidiEvent{0xF8, 0, 0, 0}, 0, 0, false, false);
  std::vector<uint8_t> notes;
  for (SnMidiEventNode* node = queue.head; node; node = node->next) notes.push_back(node->event.data1);
  EXPECT_EQ(notes, (std::vector<uint8_t>{61, 62, 60, 60}));
  EXPECT_EQ(queue.tail->event.type, SnMidi_NoteOn);
  EXPECT_EQ(target_->PendingCount(), 5u);
  target_->Close();
  target_->QueueEvent(queue, On(0, 63), 0, 0, false, false);
  EXPECT_EQ(target_->PendingCount(), 5u);
  context_->ProcessQueue(queue, 1024);
  EXPECT_EQ(queue.head, nullptr);
  EXPECT_EQ(recorder_.callbacks.size(), 4u);
  EXPECT_EQ(recorder_.callbacks[0].first, 42u);
}

TEST_F(MidiTest, ANoteOnOfVelocityZeroEndsTheNoteWithTheFirstOnesVelocity) {
  context_->Schedule(*target_, On(1, 64, 90), 10);
  context_->Schedule(*target_, SnMidiEvent{SnMidi_NoteOn, 1, 64, 0}, 500);
  context_->Schedule(*target_, Off(1, 65), 20);  // no partner: dropped
  EXPECT_EQ(context_->PendingCount(*target_), 2u);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.plays.size(), 1u);
  EXPECT_EQ(recorder_.plays[0].offset, 10u);
  ASSERT_EQ(recorder_.released.size(), 1u);
  EXPECT_EQ(recorder_.released[0].second, 500u);
  EXPECT_EQ(context_->PendingCount(*target_), 0u);
  EXPECT_EQ(context_->HeldCount(), 1u);  // its voice still sounds
  recorder_.notes[0]->RemoveVoice(recorder_.released[0].first);
  context_->Advance(1024);
  EXPECT_EQ(context_->HeldCount(), 0u);
}

TEST_F(MidiTest, TheSustainPedalHoldsNoteOffsOfItsChannelUntilItLifts) {
  context_->Schedule(*target_, CC(3, SnMidiCC_Sustain, 127), 0);
  context_->Schedule(*target_, On(3, 60), 0);
  context_->Schedule(*target_, On(4, 60), 0);
  context_->Advance(1024);
  EXPECT_EQ(context_->SustainMask(*target_), 1u << 3);
  context_->Schedule(*target_, Off(3, 60), 10);
  context_->Schedule(*target_, Off(4, 60), 10);
  context_->Advance(1024);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.released.size(), 1u);  // channel 4's note only
  EXPECT_EQ(context_->PendingCount(*target_), 1u);  // channel 3's held note-off
  context_->Schedule(*target_, CC(3, SnMidiCC_Sustain, 63), 0);
  context_->Advance(1024);  // the pedal lifts as this frame ends
  context_->Advance(1024);
  EXPECT_EQ(recorder_.released.size(), 2u);
  EXPECT_EQ(context_->SustainMask(*target_), 0u);
  EXPECT_EQ(context_->PendingCount(*target_), 0u);
}

TEST_F(MidiTest, ControllersAndPitchBendSetParameters) {
  context_->Schedule(*target_, CC(2, 7, 100), 0);
  context_->Schedule(*target_, SnMidiEvent{SnMidi_PitchBend, 2, 0, 64}, 0);
  context_->Advance(256);
  ASSERT_EQ(recorder_.sets.size(), 2u);
  EXPECT_EQ(recorder_.sets[0].id, 8u);
  EXPECT_EQ(recorder_.sets[0].value, 100.0f);
  EXPECT_EQ(recorder_.sets[0].key.midiChannel, 2u);
  EXPECT_EQ(recorder_.sets[0].key.midiTargetId, 7u);
  EXPECT_NE(recorder_.sets[0].key.gameObject, nullptr);
  EXPECT_EQ(recorder_.sets[1].id, kMidiPitchBendParameter);
  EXPECT_EQ(recorder_.sets[1].value, 64.0f);
  context_->Schedule(*target_, CC(2, SnMidiCC_Sustain, 100), 0);
  context_->Schedule(*target_, CC(2, SnMidiCC_ResetAllControllers, 0), 0);
  target_->m_globalParameters = true;
  context_->Advance(256);
  ASSERT_EQ(recorder_.resets.size(), 133u);
  EXPECT_EQ(recorder_.resets.front(), 1u);
  EXPECT_EQ(recorder_.resets.back(), 133u);
  EXPECT_EQ(context_->SustainMask(*target_), 0u);
  EXPECT_EQ(recorder_.sets.back().key.gameObject, nullptr);
}

TEST_F(MidiTest, AllNotesOffClosesTheChannelsNotesDueByThen) {
  context_->Schedule(*target_, On(5, 60), 0);
  context_->Schedule(*target_, On(5, 62), 100);
  context_->Schedule(*target_, On(6, 60), 0);
  context_->Schedule(*target_, On(5, 64), 900);
  context_->Schedule(*target_, CC(5, SnMidiCC_AllNotesOff, 0), 200);
  context_->Advance(1024);
  std::vector<uint32_t> offsets;
  for (const auto& [voice, offset] : recorder_.released) offsets.push_back(offset);
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0u, 100u}));
  EXPECT_EQ(context_->PendingCount(*target_), 2u);  // channel 6's note and the one due after the controller
}

TEST_F(MidiTest, ANoteOfFiveVoicesStopsThemAllAndSparesOneThatIgnoresNoteOffs) {
  recorder_.voicesPerNote = 5;
  recorder_.kind = CSnMidiNoteState::Voice_Stop;
  context_->Schedule(*target_, On(0, 60), 0);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.notes.size(), 1u);
  EXPECT_EQ(recorder_.notes[0]->Voices().Count(), 5u);
  context_->Schedule(*target_, Off(0, 60), 64);
  context_->Advance(1024);
  EXPECT_EQ(recorder_.stopped.size(), 5u);
  for (const CSnMidiNoteState::Voice& voice : recorder_.notes[0]->Voices()) EXPECT_EQ(voice.stopOffset, 64u);
  recorder_.ignoreNoteOff = true;
  context_->Schedule(*target_, On(0, 61), 0);
  context_->Schedule(*target_, Off(0, 61), 0);
  context_->Advance(1024);
  EXPECT_EQ(recorder_.stopped.size(), 9u);
}

TEST_F(MidiTest, ANoteOnSoundsFromItsOffsetInItsFrame) {
  context_->Schedule(*target_, On(0, 60), 300);
  context_->Schedule(*target_, On(0, 62), 1300);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.plays.size(), 2u);
  EXPECT_EQ(recorder_.plays[0].offset, 300u);
  EXPECT_EQ(recorder_.plays[1].offset, 1300u);  // the voice waits out the rest itself
  EXPECT_EQ(recorder_.plays[0].event.data1, 60u);
}

// A note's note-off plays the entries its sounds left to play then, at the note-off's offset; the
// entries go back to their pool when the note is over.
TEST_F(MidiTest, ANoteOffPlaysTheEntriesKeptForItThenTheyGoBack) {
  const uint32_t out = MidiNoteEntryPool().OutCount();
  recorder_.voicesPerNote = 0;
  recorder_.entryModes = {0, kMidiPlayOnNoteOff};
  context_->Schedule(*target_, On(2, 60, 90), 0);
  context_->Advance(1024);
  EXPECT_EQ(MidiNoteEntryPool().OutCount(), out + 2);
  EXPECT_TRUE(recorder_.entryPlays.empty());
  context_->Schedule(*target_, Off(2, 60), 700);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.entryPlays.size(), 1u);
  EXPECT_EQ(recorder_.entryPlays[0].offset, 700u);
  EXPECT_EQ(recorder_.entryPlays[0].event.channel, 2u);
  EXPECT_EQ(recorder_.entryPlays[0].event.note, 61u);
  EXPECT_TRUE(recorder_.entryPlays[0].event.IsNoteOff());
  EXPECT_EQ(recorder_.entryPlays[0].event.velocity, 90u);  // the note-off takes its note-on's velocity
  context_->Advance(1024);
  EXPECT_EQ(context_->HeldCount(), 0u);
  EXPECT_EQ(MidiNoteEntryPool().OutCount(), out);
}

TEST_F(MidiTest, EndingATargetStopsItsNotesAndLetsItGo) {
  recorder_.voicesPerNote = 2;
  context_->Schedule(*target_, CC(9, SnMidiCC_Sustain, 127), 0);
  context_->Schedule(*target_, On(9, 60), 0);
  context_->Schedule(*target_, On(1, 61), 0);
  context_->Advance(1024);
  context_->Schedule(*target_, Off(1, 61), 0);
  context_->Advance(1024);
  ASSERT_EQ(context_->HeldCount(), 1u);
  context_->PauseTarget(*target_);
  EXPECT_EQ(recorder_.paused.size(), 4u);
  context_->ResumeTarget(*target_);
  EXPECT_EQ(recorder_.resumed.size(), 4u);
  const uint32_t before = target_->PendingCount();
  context_->EndTarget(*target_);
  EXPECT_EQ(context_->TargetCount(), 0u);
  EXPECT_EQ(context_->HeldCount(), 0u);
  // The sustained note got its note-off, and every voice of the held notes was stopped at once.
  EXPECT_EQ(recorder_.released.size(), 4u);
  EXPECT_EQ(recorder_.stopped.size(), 4u);
  EXPECT_LT(target_->PendingCount(), before);
  EXPECT_EQ(target_->PendingCount(), 1u);
}

// A note-on later in the frame than a target's retirement gets its note-off no earlier than itself:
// ahead of it, the note-off would find no voice and the note would sound on.
TEST_F(MidiTest, RetiringATargetStopsANoteThatBeginsLaterInTheFrame) {
  recorder_.kind = CSnMidiNoteState::Voice_Stop;
  context_->Schedule(*target_, On(2, 60), 500);
  context_->RetireTarget(*target_, 300);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.plays.size(), 1u);
  EXPECT_EQ(recorder_.plays[0].offset, 500u);
  ASSERT_EQ(recorder_.stopped.size(), 1u);
  EXPECT_EQ(recorder_.stopped[0], FakeVoice(1));
  EXPECT_EQ(context_->HeldCount(), 1u);  // the note's voice has not gone yet
  EXPECT_EQ(context_->PendingCount(*target_), 0u);
}

// Retiring a target lifts its pedal at the offset: the note-off the pedal held ends its note there
// rather than at the frame's start, and every note still open gets its note-off there too. The
// target's entry goes once nothing of it is pending, and not before.
TEST_F(MidiTest, RetiringATargetEndsItsHeldAndOpenNotesAtTheOffset) {
  context_->Schedule(*target_, CC(3, SnMidiCC_Sustain, 127), 0);
  context_->Schedule(*target_, On(3, 60), 0);
  context_->Schedule(*target_, On(5, 62), 0);
  context_->Advance(1024);
  context_->Schedule(*target_, Off(3, 60), 100);
  context_->Advance(1024);
  context_->Advance(1024);
  ASSERT_TRUE(recorder_.released.empty());
  const uint32_t referenced = target_->PendingCount();
  context_->ReleaseIfIdle(*target_);
  EXPECT_EQ(context_->TargetCount(), 1u);  // the held note-off and the open note are pending
  context_->RetireTarget(*target_, 300);
  EXPECT_EQ(context_->SustainMask(*target_), 0u);
  context_->Advance(1024);
  ASSERT_EQ(recorder_.released.size(), 2u);
  EXPECT_EQ(recorder_.released[0].second, 300u);
  EXPECT_EQ(recorder_.released[1].second, 300u);
  context_->ReleaseIfIdle(*target_);
  EXPECT_EQ(context_->TargetCount(), 0u);
  EXPECT_LT(target_->PendingCount(), referenced);
}

TEST_F(MidiTest, BussesTakeControlChangesOnly) {
  auto* node = PoolNew<ModulationTest::HeldNode>(g_DefaultPoolId, 3u);
  CSnMidiEventTarget* bus = CSnMidiEventTarget::Create(8, g_pRegistryMgr->RegisterGameObj(6, 1), 0, node);
  node->Release();
  recorder_.category = 0;
  context_->Schedule(*bus, On(0, 60), 0);
  context_->Schedule(*bus, CC(0, 1, 5), 0);
  EXPECT_EQ(context_->PendingCount(*bus), 1u);
  context_->EndTarget(*bus);
  EXPECT_TRUE(recorder_.plays.empty());
  EXPECT_TRUE(recorder_.callbacks.empty());
  bus->Release();
}

}  // namespace
