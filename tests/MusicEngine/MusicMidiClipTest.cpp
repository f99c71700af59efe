// Music MIDI clips over media the clip writer makes: header and tempo, notes landing on their exact
// samples (480 ticks per quarter at 120 bpm and 48 kHz is 50 samples a tick), running status, system
// exclusive and meta events, seeking, loops, stops, the play's speed, and media that ends early.
#include <array>
#include <functional>
#include <limits>
#include <tuple>

#include "MusicEngine/MusicMidiClip.h"
#include "SoundEngine/Midi/MidiEventTarget.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/MidiClipWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct HeardEvent {
  uint64_t sample;  // from the clip's first frame
  uint8_t type, channel, data1, data2;
  bool flagA, flagB;
  bool operator==(const HeardEvent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const HeardEvent& h) {
  return out << "{" << h.sample << " " << int(h.type) << "/" << int(h.channel) << " " << int(h.data1) << " "
             << int(h.data2) << (h.flagA ? " A" : "") << (h.flagB ? " B" : "") << "}";
}

// A clip of 480 ticks per quarter: a control change at 0, a note on channel 3 from tick 960 to 1,440
// (its note-off a note-on of velocity 0 under running status), system exclusive and meta events
// between, and a second note from 1,920 to 2,400.
Tools::MidiClipMedia TwoNotes() {
  Tools::MidiClipMedia clip;
  clip.events.push_back({0, {0xB3, 7, 100}});
  clip.events.push_back(Tools::MidiMeta(0, 0x03, {'b', 'a', 's', 's'}));
  Tools::AddMidiNote(clip, 960, 3, 60, 100, 480, true);
  clip.events.push_back(Tools::MidiSysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  Tools::AddMidiNote(clip, 480, 3, 64, 90, 480);
  clip.events.push_back(Tools::MidiMeta(0, 0x2F, {}));
  return clip;
}

// One pass of 192 ticks (9,600 samples): a note from 0 to 96, then the end of the track at 192.
Tools::MidiClipMedia LoopPass() {
  Tools::MidiClipMedia clip;
  Tools::AddMidiNote(clip, 0, 0, 48, 80, 96);
  clip.events.push_back(Tools::MidiMeta(96, 0x2F, {}));
  return clip;
}

Tools::MidiClipMedia ZeroDeltas() {
  Tools::MidiClipMedia clip;
  Tools::AddMidiNote(clip, 0, 1, 50, 70, 0);
  Tools::AddMidiNote(clip, 0, 1, 52, 70, 0);
  return clip;
}

// A pass of 12 ticks at 57,377 ticks per quarter, about a tenth of a millisecond: a program change
// with a stray high bit in its data, then 19 more of its status at the same tick.
Tools::MidiClipMedia TinyLoop() {
  Tools::MidiClipMedia clip;
  clip.ticksPerQuarter = 57377;
  clip.tempo = 124.0f;
  clip.events.push_back({12, {0xC7, 0x91}});
  for (int i = 0; i < 19; ++i) clip.events.push_back({0, {0xC7, 0x00}});
  return clip;
}

// The fuzz target's seeds: everything the writer makes, and the media that end the events early.
std::vector<std::pair<std::string, Bytes>> MidiSeeds() {
  Bytes strayData = Tools::WriteMidiClip(LoopPass());
  strayData.insert(strayData.begin() + 6, {0x00, 0xFF, 0x01, 0x00, 0x00, 0x40, 0x40});
  Bytes longQuantity = Tools::WriteMidiClip(TwoNotes());
  longQuantity.insert(longQuantity.end(), {0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1});
  Bytes pastEnd = Tools::WriteMidiClip(TwoNotes());
  pastEnd.insert(pastEnd.end(), {0x00, 0xF0, 0x7F, 0x01});
  Tools::MidiClipMedia plain = TwoNotes();
  plain.runningStatus = false;
  return {{"two-notes.mid", Tools::WriteMidiClip(TwoNotes())},
          {"two-notes-plain.mid", Tools::WriteMidiClip(plain)},
          {"loop-pass.mid", Tools::WriteMidiClip(LoopPass())},
          {"zero-deltas.mid", Tools::WriteMidiClip(ZeroDeltas())},
          {"stray-data-byte.mid", strayData},
          {"long-quantity.mid", longQuantity},
          {"sysex-past-end.mid", pastEnd},
          {"tiny-loop.mid", Tools::WriteMidiClip(TinyLoop())}};
}

// The sound engine's real managers and pools; the music engine's headers stay out, as its play
// parameters name a MIDI record of their own.
class MusicMidiClipTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    target_ = SN::CSnMidiEventTarget::Create(5, nullptr, 0, nullptr);
    ASSERT_NE(target_, nullptr);
  }
  void TearDown() override {
    target_->Release();
    BankFixture::TearDown();
  }
  bool Logged(const char* text) {
    logged_ += log_.Take();
    return logged_.find(text) != std::string::npos;
  }
  // Plays `frames` frames of `music` samples each; offsets divided by `speed` as the play's MIDI
  // clock does, sample positions counted in output frames of music / speed samples.
  std::vector<HeardEvent> Run(SN::CSnMusicMidiClipPlayer& clip, uint32_t frames, uint32_t music = 1024,
                              float speed = 1.0f, std::function<void(uint32_t)> before = nullptr) {
    std::vector<HeardEvent> heard;
    const uint32_t output = uint32_t(music / speed);
    for (uint32_t frame = 0; frame < frames; ++frame) {
      if (before) before(frame);
      SN::SnMidiEventQueue queue;
      ended_ += clip.GenerateFrame(*target_, queue, music, 48000);
      SN::ScaleMidiOffsetsBySpeed(queue, speed);
      while (SN::SnMidiEventNode* node = queue.head) {
        queue.head = node->next;
        const SN::SnMidiEvent& e = node->event;
        heard.push_back({uint64_t(frame) * output + node->frameOffset, e.type, e.channel, e.data1, e.data2,
                         node->FlagA(), node->FlagB()});
        node->target->Release();
        SN::PoolDelete(SN::g_DefaultPoolId, node);
      }
    }
    return heard;
  }
  SN::SNRESULT Open(SN::CSnMusicMidiClipPlayer& clip, const Bytes& media, double beginMs = 0.0, bool loops = false) {
    media_ = media;
    return clip.Open(media_.data(), uint32_t(media_.size()), 120.0f, beginMs, loops);
  }

  SN::CSnMidiEventTarget* target_ = nullptr;
  Bytes media_;
  int ended_ = 0;
  std::string logged_;
};

TEST_F(MusicMidiClipTest, TheHeaderGivesTheRatesAndBadHeadersOrTemposAreRefused) {
  const Bytes media = Tools::WriteMidiClip(TwoNotes());
  // Big-endian ticks, little-endian tempo, then the first event: running status drops a status byte.
  EXPECT_EQ(Bytes(media.begin(), media.begin() + 6), (Bytes{0x01, 0xE0, 0x00, 0x00, 0xF0, 0x42}));
  SN::SnMidiClipParser parser;
  ASSERT_EQ(parser.Open(media.data(), uint32_t(media.size())), SN::SN_Success);
  EXPECT_EQ(parser.TicksPerQuarter(), 480u);
  EXPECT_NEAR(parser.MsPerTick(), 60000.0 / (480.0 * 120.0), 1e-12);
  EXPECT_NEAR(parser.TicksPerMs(), 0.96, 1e-12);
  for (float bad : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    parser.SetTempo(bad);
    EXPECT_EQ(parser.Tempo(), 120.0f) << bad;
  }
  parser.SetTempo(60.0f);
  EXPECT_NEAR(parser.MsPerTick(), 60000.0 / (480.0 * 60.0), 1e-12);

  auto refused = [&](Bytes bytes, const char* message) {
    EXPECT_EQ(parser.Open(bytes.data(), uint32_t(bytes.size())), SN::SN_Failure) << message;
    EXPECT_FALSE(parser.IsOpen());
    EXPECT_TRUE(Logged(message)) << message;
  };
  refused(Bytes(media.begin(), media.begin() + 5), "MIDI clip of 5 bytes has no header");
  Bytes noTicks = media;
  noTicks[0] = noTicks[1] = 0;
  refused(noTicks, "0 ticks per quarter at 120 bpm");
  for (float tempo : {0.0f, -120.0f, std::numeric_limits<float>::quiet_NaN()}) {
    Tools::MidiClipMedia clip = TwoNotes();
    clip.tempo = tempo;
    refused(Tools::WriteMidiClip(clip), "480 ticks per quarter at");
  }
  refused(Bytes(media.begin(), media.begin() + 6), "MIDI clip has no readable first event");
  EXPECT_EQ(parser.SeekMs(0.0), SN::SN_Failure);
}

TEST_F(MusicMidiClipTest, NotesLandOnTheirSamplesThroughRunningStatusSysExAndMeta) {
  SN::CSnMusicMidiClipPlayer clip;
  ASSERT_EQ(Open(clip, Tools::WriteMidiClip(TwoNotes())), SN::SN_Success);
  const std::vector<HeardEvent> expected = {
      {0, 0xB0, 3, 7, 100, false, true},      {48000, 0x90, 3, 60, 100, false, false},
      {72000, 0x80, 3, 60, 0, false, false},  {96000, 0x90, 3, 64, 90, false, false},
      {120000, 0x80, 3, 64, 64, false, false},
  };
  EXPECT_EQ(Run(clip, 200), expected);
  // Written without running status the clip says the same.
  Tools::MidiClipMedia plain = TwoNotes();
  plain.runningStatus = false;
  SN::CSnMusicMidiClipPlayer again;
  ASSERT_EQ(Open(again, Tools::WriteMidiClip(plain)), SN::SN_Success);
  EXPECT_EQ(Run(again, 200), expected);

  // At speed 2 the music frame holds 2,048 samples and lands in 1,024: every note comes twice as soon.
  SN::CSnMusicMidiClipPlayer fast;
  ASSERT_EQ(Open(fast, Tools::WriteMidiClip(TwoNotes())), SN::SN_Success);
  const std::vector<HeardEvent> heard = Run(fast, 100, 2048, 2.0f);
  ASSERT_EQ(heard.size(), 5u);
  EXPECT_EQ(heard[1].sample, 24000u);
  EXPECT_EQ(heard[2].sample, 36000u);
  // 1,000 samples into a music frame is 500 into the output frame.
  SN::SnMidiEventQueue queue;
  target_->QueueEvent(queue, SN::SnMidiEvent{0x90, 0, 1, 1}, 1000, 0, false, false);
  SN::ScaleMidiOffsetsBySpeed(queue, 2.0f);
  EXPECT_EQ(queue.head->frameOffset, 500u);
  SN::ScaleMidiOffsetsBySpeed(queue, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(queue.head->frameOffset, 500u);
  target_->Release();
  SN::PoolDelete(SN::g_DefaultPoolId, queue.head);
}

TEST_F(MusicMidiClipTest, SeeksAndLoopsGoRoundWithoutEndAndZeroLengthPassesPlayOnce) {
  // A begin at 1,000 ms puts the note of tick 960 at the first sample.
  SN::CSnMusicMidiClipPlayer late;
  ASSERT_EQ(Open(late, Tools::WriteMidiClip(TwoNotes()), 1000.0), SN::SN_Success);
  std::vector<HeardEvent> heard = Run(late, 2);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard[0], (HeardEvent{0, 0x90, 3, 60, 100, false, true}));
  // A begin past the last event of a clip that does not loop plays nothing.
  SN::CSnMusicMidiClipPlayer past;
  EXPECT_EQ(Open(past, Tools::WriteMidiClip(TwoNotes()), 5000.0), SN::SN_Failure);

  // A loop of 9,600 samples repeats its note.
  SN::CSnMusicMidiClipPlayer loop;
  ASSERT_EQ(Open(loop, Tools::WriteMidiClip(LoopPass()), 0.0, true), SN::SN_Success);
  heard = Run(loop, 30);
  std::vector<uint64_t> ons, offs;
  for (const HeardEvent& h : heard) (h.type == 0x90 ? ons : offs).push_back(h.sample);
  EXPECT_EQ(ons, (std::vector<uint64_t>{0, 9600, 19200, 28800}));
  EXPECT_EQ(offs, (std::vector<uint64_t>{4800, 14400, 24000}));

  // A begin a million passes in, 50 ms into the pass: the note-off 50 ms on, the next note-on 150 ms on.
  SN::CSnMusicMidiClipPlayer far;
  ASSERT_EQ(Open(far, Tools::WriteMidiClip(LoopPass()), 200.0 * 1000000 + 50.0, true), SN::SN_Success);
  heard = Run(far, 8);
  ASSERT_GE(heard.size(), 2u);
  EXPECT_EQ(heard[0].sample, 2400u);
  EXPECT_EQ(heard[0].type, 0x80);
  EXPECT_EQ(heard[1].sample, 7200u);

  // Every delta 0: the loop would never move on; the clip plays its events once.
  SN::CSnMusicMidiClipPlayer still;
  ASSERT_EQ(Open(still, Tools::WriteMidiClip(ZeroDeltas()), 0.0, true), SN::SN_Success);
  EXPECT_EQ(Run(still, 3).size(), 4u);
  SN::CSnMusicMidiClipPlayer stillFar;
  EXPECT_EQ(Open(stillFar, Tools::WriteMidiClip(ZeroDeltas()), 1.0e9, true), SN::SN_Failure);
}

TEST_F(MusicMidiClipTest, AStoppedClipKeepsItsNoteOffsAndControllersButNoNewNotes) {
  // A note from 0 to 500, one from 750 to 1,550, and the sustain pedal at 800.
  Tools::MidiClipMedia media;
  media.events = {{0, {0x90, 40, 90}}, {10, {0x80, 40, 64}}, {5, {0x90, 41, 90}}, {1, {0xB0, 64, 127}},
                  {15, {0x80, 41, 64}}};
  SN::CSnMusicMidiClipPlayer clip;
  ASSERT_EQ(Open(clip, Tools::WriteMidiClip(media)), SN::SN_Success);
  clip.Stop(600);
  clip.Stop(900);  // the earlier stop stands
  EXPECT_EQ(clip.StopOffset(), 600u);
  const std::vector<HeardEvent> heard = Run(clip, 3);
  const std::vector<HeardEvent> expected = {
      {0, 0x90, 0, 40, 90, false, true},
      {500, 0x80, 0, 40, 64, false, false},
      {800, 0xB0, 0, 64, 127, false, false},
      {1550, 0x80, 0, 41, 64, true, false},
  };
  EXPECT_EQ(heard, expected);
  EXPECT_TRUE(clip.Ended());
  EXPECT_EQ(ended_, 1);

  // Stopping at once ends the clip there; a second stop gives back nothing more.
  SN::CSnMusicMidiClipPlayer now;
  ASSERT_EQ(Open(now, Tools::WriteMidiClip(media)), SN::SN_Success);
  EXPECT_TRUE(now.Stop(SN::CSnMusicMidiClipPlayer::kNoStop));
  EXPECT_FALSE(now.Stop(SN::CSnMusicMidiClipPlayer::kNoStop));
  EXPECT_TRUE(now.StoppedAtOnce());
  for (const HeardEvent& h : Run(now, 3)) EXPECT_NE(h.type, 0x90) << h;

  // A paused clip holds its place.
  SN::CSnMusicMidiClipPlayer paused;
  ASSERT_EQ(Open(paused, Tools::WriteMidiClip(TwoNotes())), SN::SN_Success);
  paused.SetPaused(true);
  EXPECT_TRUE(Run(paused, 100).empty());
  paused.SetPaused(false);
  EXPECT_EQ(Run(paused, 50)[1].sample, 48000u);
}

TEST_F(MusicMidiClipTest, AClipPlayingAgainLearnsTheLastValueOfEachControllerBeforeItsMessage) {
  Tools::MidiClipMedia media;
  media.events = {{0, {0xB3, 7, 100}}, {10, {0xB3, 7, 80}}, {0, {0xB1, 64, 127}}, {5, {0xB2, 7, 50}},
                  {5, {0x93, 60, 90}},  {5, {0xB3, 7, 20}}};
  const Bytes bytes = Tools::WriteMidiClip(media);
  SN::SnMidiClipParser parser;
  ASSERT_EQ(parser.Open(bytes.data(), uint32_t(bytes.size())), SN::SN_Success);
  parser.Advance(12.0);
  ASSERT_EQ(parser.Messages().Count(), 3u);
  const SN::SnMidiClipParser::State before = parser.SaveState();
  SN::SnArray<SN::SnMidiClipMessage> controllers;
  parser.ControllersBefore(4, controllers);
  // Channel 3's volume at its later value, channel 1's sustain, channel 2's volume kept apart.
  ASSERT_EQ(controllers.Count(), 3u);
  auto entry = [&](uint32_t i) {
    const SN::SnMidiClipMessage& m = controllers[i];
    return std::vector<int>{m.type, m.channel, m.data1, m.data2, int(m.eventIndex)};
  };
  EXPECT_EQ(entry(0), (std::vector<int>{0xB0, 3, 7, 80, 1}));
  EXPECT_EQ(entry(1), (std::vector<int>{0xB0, 1, 64, 127, 2}));
  EXPECT_EQ(entry(2), (std::vector<int>{0xB0, 2, 7, 50, 3}));
  // The parser goes on from where it was.
  EXPECT_EQ(parser.CurrentTick(), before.tick);
  EXPECT_EQ(parser.Current().eventIndex, before.eventIndex);
  parser.Advance(30.0);
  ASSERT_EQ(parser.Messages().Count(), 3u);
  EXPECT_EQ(parser.Messages()[1].type, 0x90);
  controllers.Term();
}

TEST_F(MusicMidiClipTest, ALongLoopingClipGivesEachChannelMessageInItsWindowPassAfterPass) {
  // 125 bpm at 480 ticks per quarter is a tick a millisecond: windows of 12.5, 7.25 and 300 ms end on
  // whole ticks or exact fractions, so a message's window and its time in it are known exactly.
  // Statuses repeat in runs of four (running status), of one and two data bytes, with system
  // exclusive and meta events among them.
  Tools::MidiClipMedia media;
  media.tempo = 125.0f;
  struct Event {
    uint64_t tick;
    bool channel;
    std::tuple<int, int, int, int, float, uint32_t> record;  // its time to be set in the window
  };
  std::vector<Event> pass;
  uint64_t tick = 0;
  for (uint32_t n = 0; n < 400; ++n) {
    const uint32_t delta = n * 5 % 7;
    tick += delta;
    if (n % 13 == 6) {
      media.events.push_back(n % 2 ? Tools::MidiMeta(delta, 0x01, {'x'}) : Tools::MidiSysEx(delta, {0x7E, 0xF7}));
      pass.push_back({tick, false, {}});
      continue;
    }
    const uint8_t kind = std::array<uint8_t, 6>{0x90, 0x80, 0xB0, 0xC0, 0xD0, 0xE0}[n / 4 % 6];
    const uint8_t channel = uint8_t(n / 8 % 16), value = uint8_t(n * 37 % 128);
    const uint8_t second = kind == 0x90 && n % 3 == 0 ? 0 : uint8_t(n % 128);  // velocity 0 ends a note
    const bool oneByte = kind == 0xC0 || kind == 0xD0;
    const uint8_t status = uint8_t(kind | channel);
    media.events.push_back({delta, oneByte ? Bytes{status, value} : Bytes{status, value, second}});
    const int type = kind == 0x90 && second == 0 ? 0x80 : kind;
    pass.push_back({tick, true, {type, channel, value, oneByte ? 0 : second, 0.0f, n}});
  }
  const uint64_t passTicks = tick;  // the first event's delta is 0: a pass is its deltas' sum
  const Bytes bytes = Tools::WriteMidiClip(media);
  SN::SnMidiClipParser parser;
  ASSERT_EQ(parser.Open(bytes.data(), uint32_t(bytes.size())), SN::SN_Success);
  parser.SetLooping(true);
  std::vector<std::tuple<int, int, int, int, float, uint32_t>> heard, expected;
  double begin = 0.0;
  for (uint32_t window = 0; begin < 3.5 * double(passTicks); ++window) {
    const double width = std::array<double, 3>{12.5, 7.25, 300.0}[window % 3];
    parser.Advance(width);
    for (const SN::SnMidiClipMessage& m : parser.Messages())
      heard.emplace_back(m.type, m.channel, m.data1, m.data2, m.timeMs, m.eventIndex);
    for (uint64_t p = 0; p < 4; ++p) {
      for (Event e : pass) {
        const double at = double(p * passTicks + e.tick);
        if (!e.channel || at < begin || at >= begin + width) continue;
        std::get<4>(e.record) = float(at - begin);
        expected.push_back(e.record);
      }
    }
    begin += width;
  }
  EXPECT_GT(expected.size(), 1000u);
  EXPECT_EQ(heard, expected);
}

TEST_F(MusicMidiClipTest, ALoopUnderAMillisecondPlaysOnceAndACrowdedFrameIsCutWithOneWarning) {
  using Parser = SN::SnMidiClipParser;
  // The tiny loop would repeat about two hundred times a frame: it plays its 20 events once.
  SN::CSnMusicMidiClipPlayer tiny;
  ASSERT_EQ(Open(tiny, Tools::WriteMidiClip(TinyLoop()), 0.0, true), SN::SN_Success);
  const std::vector<HeardEvent> heard = Run(tiny, 48);
  ASSERT_EQ(heard.size(), 20u);
  // 12 ticks of 60,000 / (57,377 x 120) ms are 5.02 samples.
  EXPECT_EQ(heard[0], (HeardEvent{5, 0xC0, 7, 0x11, 0, false, true}));
  EXPECT_EQ(heard[19], (HeardEvent{5, 0xC0, 7, 0, 0, false, false}));
  EXPECT_TRUE(Logged("MIDI clip loops every 0.1045")) << logged_;
  EXPECT_TRUE(Logged("under 1 ms: it plays once"));
  // Sought far in, it has nothing left to play.
  SN::CSnMusicMidiClipPlayer far;
  EXPECT_EQ(Open(far, Tools::WriteMidiClip(TinyLoop()), 1.0e12, true), SN::SN_Failure);

  // 20,000 controller moves at tick 0, then a note at 960 (48,000 samples): the first frame gives the
  // first 512 and walks no further than 8,192 events; the frames after walk the rest without giving
  // them, and the note comes on its sample.
  Tools::MidiClipMedia crowd;
  const uint32_t crowded = 20000;
  for (uint32_t i = 0; i < crowded; ++i) crowd.events.push_back({0, {0xB2, 7, uint8_t(i % 128)}});
  crowd.events.push_back({960, {0x92, 60, 100}});
  const Bytes bytes = Tools::WriteMidiClip(crowd);
  logged_.clear();
  Parser parser;
  ASSERT_EQ(parser.Open(bytes.data(), uint32_t(bytes.size())), SN::SN_Success);
  std::vector<std::pair<uint32_t, uint32_t>> work;  // messages given, events walked so far
  for (int frame = 0; frame < 4; ++frame) {
    parser.Advance(1024.0 / 48.0);
    work.emplace_back(parser.Messages().Count(), parser.Current().eventIndex);
  }
  const std::vector<std::pair<uint32_t, uint32_t>> expectedWork = {
      {Parser::kMaxMessagesPerWindow, Parser::kMaxEventsPerWindow},
      {0, 2 * Parser::kMaxEventsPerWindow},
      {0, crowded},
      {0, crowded}};
  EXPECT_EQ(work, expectedWork);
  SN::CSnMusicMidiClipPlayer clip;
  ASSERT_EQ(Open(clip, bytes), SN::SN_Success);
  const std::vector<HeardEvent> crowdHeard = Run(clip, 50);
  ASSERT_EQ(crowdHeard.size(), Parser::kMaxMessagesPerWindow + 1);
  EXPECT_EQ(crowdHeard[511], (HeardEvent{0, 0xB0, 2, 7, 511 % 128, false, false}));
  EXPECT_EQ(crowdHeard[512], (HeardEvent{48000, 0x90, 2, 60, 100, false, false}));
  // One warning for each clip, however many frames are cut.
  Logged("");
  const std::string warning = "MIDI clip has more than 512 messages in a frame: the rest are dropped";
  size_t warnings = 0;
  for (size_t at = logged_.find(warning); at != std::string::npos; at = logged_.find(warning, at + 1)) ++warnings;
  EXPECT_EQ(warnings, 2u) << logged_;
}

TEST_F(MusicMidiClipTest, MediaThatIsNoEventEndsTheEvents) {
  for (const auto& [name, bytes] : MidiSeeds()) {
    SCOPED_TRACE(name);
    SN::CSnMusicMidiClipPlayer clip;
    const bool opened = Open(clip, bytes, 0.0, true) == SN::SN_Success;
    const std::vector<HeardEvent> heard = opened ? Run(clip, 200) : std::vector<HeardEvent>{};
    if (name == "stray-data-byte.mid") {
      // A data byte after a meta event, before any channel status: nothing to repeat.
      EXPECT_TRUE(heard.empty());
    }
    if (name == "long-quantity.mid" || name == "sysex-past-end.mid") {
      // The notes before the bad bytes play; the loop never goes round past them.
      EXPECT_EQ(heard.size(), 5u);
    }
  }
}

TEST(MusicMidiClipSeeds, TheFuzzSeedsAreTheWritersClips) {
  BankTest::ExpectCommittedSeeds("midi_clip", MidiSeeds(), "ORV_WRITE_MIDI_SEEDS");
}

}  // namespace
