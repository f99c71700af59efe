// The bank builder run as content authors run it: descriptions it would write wrongly are refused with
// their file and line, a non-zero exit and no file at all; what it writes is read back by the chunk loop.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/Support/RunTool.h"
#include "tests/Support/WaitFor.h"
#include "tools/FileWriter/FileWriter.h"

namespace {

using BankTest::RecordingBank;

class MakeSoundBanksToolTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    input_ = root_ + "/in/";
    output_ = root_ + "/out/";
    std::filesystem::create_directories(input_);
    std::filesystem::create_directories(output_);
  }
  void Describe(const std::string& name, const std::string& text) {
    std::ofstream(input_ + name, std::ios::binary) << text;
  }
  // Runs the tool on the named descriptions of the input folder; its exit code and what it printed.
  int Run(const std::vector<std::string>& names, std::string& printed) {
    std::string command = std::string(ORV_MAKE_SOUND_BANKS) + " " + output_;
    for (const std::string& name : names) command += " '" + input_ + name + "'";
    return OrvTest::RunTool(command, printed);
  }
  std::vector<std::string> Written() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(output_)) names.push_back(entry.path().filename());
    return names;
  }
  std::vector<uint8_t> Output(const std::string& name) const {
    std::ifstream in(output_ + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string input_, output_;
};

TEST_F(MakeSoundBanksToolTest, BadDescriptionsAreRefusedWithTheirLineAndNoFile) {
  struct Case {
    std::string text;
    std::string message;
  };
  std::string manyPoints = "envcurve 0 0 1 0\n";
  for (int i = 0; i < 65536; ++i) manyPoints += "envpoint 0 0 " + std::to_string(i) + " 0 0\n";
  // 23 tones of a minute of eight channels at 192 kHz fit under 4 GiB; the 24th does not.
  std::string largeMedia;
  for (int i = 0; i < 24; ++i) largeMedia += "tone T" + std::to_string(i) + " 192000 8 60000 440\n";
  // 24 loose tones of that size took the builder past 4 GiB of memory as well, with none refused.
  std::string looseMedia;
  for (int i = 0; i < 24; ++i) looseMedia += "tone T" + std::to_string(i) + " 192000 8 60000 440 loose\n";
  // Groups nested 10,000 deep overflowed the builder's stack; the engine refuses more than 64 levels.
  std::string nested = "segment S 120 4 4 1000 0 1000\nplaylist P 0";
  for (int i = 0; i < 10000; ++i) nested += " { 0";
  nested += " S" + std::string(10000 * 2, ' ');
  for (int i = 0; i < 10000; ++i) nested[nested.size() - 1 - 2 * i] = '}';
  // Written, the engine would refuse the containers 65 levels up a chain, and whole banks for the rest.
  std::string chain = "tone T 8000 1 10 440\nsound M0 T Master\n";
  for (int i = 1; i <= 65; ++i) chain += "mixer M" + std::to_string(i) + " - M" + std::to_string(i - 1) + "\n";
  const std::string sound = "tone T 8000 1 10 440\nsound S T Master\n";
  const Case cases[] = {
      {looseMedia, "line 24: tone \"T23\" takes the media made with the bank, loose files included, past 4 GiB"},
      {nested, "line 2: playlist groups nest at most 64 deep, the playlist's own level counted"},
      {chain, "line 67: \"M65\": the nodes below it nest more than 64 levels deep"},
      {"bus Master -\nbus A A", "line 2: bus \"A\" is its own parent"},
      {"bus A B\nbus B A", "line 1: bus \"A\" names the bus of line 2, declared after it: the engine loads a parent bus first"},
      {sound + "random R Master S R", "line 3: \"R\" holds itself"},
      {sound + "random A Master S B\nsequence B Master A",
       "line 3: \"A\" names the node of line 4, declared after it: the engine loads children first"},
      {sound + "random R Master S S S", "line 3: \"R\" lists one of its children more than once"},
      {"platform " + std::string(100000, 'x'), "line 1: a platform name has at most 64 characters"},
      // A header of 4 GiB used to be written whole, with exit 0.
      {"platform Linux\nheadersize 4294967295", "line 2: \"4294967295\" is more than a header chunk's 65536 bytes"},
      // A 16-bit point count wrote 65536 points as 0.
      {manyPoints, "line 65537: a curve holds at most 65535 points"},
      {largeMedia, "line 24: tone \"T23\" takes the bank's media past 4 GiB"},
      {"event Play_A @1\nevent Play_A @2", "line 2: event \"Play_A\" is given twice (first on line 1)"},
      {"object 4 @5\nevent @5", "line 2: event \"@5\" is given twice (first on line 1)"},
      // A sound and a container share the list of hierarchy nodes; an action of that id does not.
      {"object 3 @9\nobject 2 @9\nobject 5 @9", "line 3: object \"@9\" is given twice (first on line 2)"},
      {"parameter Speed 0 0 0 0 0\nparameter speed 1 0 0 0 0",
       "line 2: parameter \"speed\" is given twice (first on line 1)"},
      {"platform Linux\nplatform Windows", "line 2: the platform is given twice (first on line 1)"},
      {"bankname Init\n\nbankname init", "line 3: bank name \"init\" is given twice (first on line 1)"},
      {"tone Beep 8000 1 10 440\ntone beep 8000 1 10 440",
       "line 2: the media id of tone \"beep\" is given twice (first on line 1)"},
      // -1 was read as 4294967295, 010 as 8, 0x10 as 16; NaN and infinity were taken as values.
      {"voices -1", "line 1: \"-1\" is not a whole number"},
      {"voices 010", "line 1: \"010\" is not a whole number"},
      {"voices 0x10", "line 1: \"0x10\" is not a whole number"},
      {"voices 12x", "line 1: \"12x\" is not a whole number"},
      {"threshold nan", "line 1: \"nan\" is not a number"},
      {"threshold -inf", "line 1: \"-inf\" is not a number"},
      {"threshold 1e39", "line 1: \"1e39\" is not a number"},
      {"event Play @-5", "line 1: \"-5\" is not a whole number"},
      {"chunk ZZZZ -1", "line 1: \"-1\" is not hex"},
      {"motion 65536", "line 1: \"65536\" does not fit in 16 bits"},
      {"\n\nevent", "line 3: \"event\" takes 1 or more values"},
      {"tone Hum 8000 1 10 440\nloop Hum 5 200", "line 1: tone \"Hum\": the loop lies outside the tone"},
      // A prefetch is of a streamed file, holds the header a voice reads first and no more than the file.
      {"tone T 8000 1 10 440\nprefetch T 100",
       "line 2: tone \"T\" is not loose: only a streamed tone has its first bytes prefetched"},
      {"tone T 8000 1 10 440 loose\nprefetch T 67",
       "line 2: the prefetch of tone \"T\" does not hold its header of 68 bytes"},
      {"tone T 8000 1 10 440 loose\nprefetch T 229", "line 2: the prefetch of tone \"T\" is more than its 228 bytes"},
      {"tone T 8000 1 10 440 loose\nprefetch T 100\nprefetch T 200",
       "line 3: the prefetch of tone \"T\" is given twice (first on line 2)"},
      // A music track is written as its tone streams when its line is read.
      {"tone T 8000 1 10 440 loose\nmusictrack M T\nprefetch T 100",
       "line 3: the prefetch of tone \"T\" comes after the music track of line 2 that streams it: give the "
       "prefetch first"},
      // A source plug-in's node names a source plug-in; a sound names what it plays, and only one such.
      {"sourceplugin G 35", "line 1: \"35\" is not a source plug-in's key (2 in its low four bits)"},
      {"sourceplugin G 34\nmotionsource M G", "line 2: tone \"G\" is not declared"},
      {"tone G 8000 1 10 440\nsourceplugin G 34\nsound S G Master",
       "line 3: \"G\" names both a tone and a source plug-in"},
  };
  for (const Case& test : cases) {
    // A good description first: the run writes nothing, not even its bank.
    Describe("Fine.txt", "platform Linux\nevent Play_Fine\n");
    Describe("Bad.txt", test.text);
    std::string printed;
    EXPECT_EQ(Run({"Fine.txt", "Bad.txt"}, printed), 2) << test.message;
    EXPECT_NE(printed.find("MakeSoundBanks: " + input_ + "Bad.txt: " + test.message), std::string::npos)
        << test.message << "\n" << printed.substr(printed.size() > 2000 ? printed.size() - 2000 : 0);
    EXPECT_TRUE(Written().empty()) << test.message;
  }
}

// Up to the engine's bound nesting is written: a playlist's root and 63 groups, a sound under 64 mixers.
TEST_F(MakeSoundBanksToolTest, NestingUpToTheEnginesBoundIsWritten) {
  std::string text = "platform Linux\nsegment S 120 4 4 1000 0 1000\nplaylist P 0";
  for (int i = 0; i < 63; ++i) text += " { 0";
  text += " S";
  for (int i = 0; i < 63; ++i) text += " }";
  text += "\ntone T 8000 1 10 440\nsound M0 T Master\n";
  for (int i = 1; i <= 64; ++i) text += "mixer M" + std::to_string(i) + " - M" + std::to_string(i - 1) + "\n";
  Describe("Deep.txt", text);
  std::string printed;
  ASSERT_EQ(Run({"Deep.txt"}, printed), 0) << printed;
  EXPECT_EQ(Written(), std::vector<std::string>{"Deep.bnk"});
}

// Every number was finite, yet levels of 3e38 dB became infinite gains and a depth of 3e38 percent a
// modulator far past its swing: values outside what the engine holds them to are refused, with the
// word and the limits; values at the limits are written.
TEST_F(MakeSoundBanksToolTest, LevelsCurvesOnThemAndModulatorValuesOutsideTheirLimitsAreRefused) {
  const std::string head = "platform Linux\ntone T 48000 1 10 440\n";
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {head + "sound S T - volume 3e38", "line 3: \"3e38\" is outside the levels of -4096 to 24"},
      {head + "motionsource M T volume 24.5", "line 3: \"24.5\" is outside the levels of -4096 to 24"},
      {"bus B - volume 3e38", "line 1: \"3e38\" is outside the levels of -4096 to 24"},
      {"bus B - busvolume 3e38", "line 1: \"3e38\" is outside the levels of -4096 to 24"},
      {"bus B - maxduck -5000", "line 1: \"-5000\" is outside the levels of -4096 to 24"},
      {"bus A -\nbus B - duck A 100 10 10 4 0", "line 2: \"100\" is outside the levels of -4096 to 24"},
      {"effect G gain 3e38", "line 1: \"3e38\" is outside the levels of -4096 to 24"},
      {"effect G gain 0 rtpc 0 Speed 0:0 100:3e38",
       "line 1: the point \"100:3e38\" of a curve on a level is outside the levels of -4096 to 24"},
      {"modulator lfo W\n" + head + "sound S T -\nrtpc S volume modulator W 0:0 100:3e38",
       "line 5: the point \"100:3e38\" of a curve on a level is outside the levels of -4096 to 24"},
      {head + "sound S T -\nrtpc S 36 Speed 0:-5000",
       "line 4: the point \"0:-5000\" of a curve on a level is outside the levels of -4096 to 24"},
      {head + "sound S T -\nrtpc S 8 Speed 0:50 100:3e38",
       "line 4: the point \"100:3e38\" of a curve on a priority is outside the priorities of 0 to 100"},
      {head + "sound S T - pitch 2401", "line 3: \"2401\" is outside the values of \"pitch\" of -2400 to 2400"},
      {"modulator lfo W 2=3e38", "line 1: \"2=3e38\" is outside property 2's limits of 0 to 100"},
      {"modulator lfo W 4=-1", "line 1: \"4=-1\" is outside property 4's limits of 0 to 20000"},
      {"modulator envelope E 12=101", "line 1: \"12=101\" is outside property 12's limits of 0 to 100"},
      {"modulator lfo W\nmodulator lfo D\nrtpc W 50 modulator D 0:0 1:1",
       "line 3: \"50\" is not a parameter of an lfo (42 to 48)"},
      {"modulator envelope E\nrtpc E 53 Speed 0:0 100:101",
       "line 2: the point \"100:101\" of a curve on a modulator's property 12 is outside the property's limits of 0 "
       "to 100"},
      {"modulator lfo W\nrtpc W 42 modulator W 0:0 1:1", "line 2: a modulator does not drive itself"},
  };
  for (const Case& test : cases) {
    Describe("Bad.txt", test.text);
    std::string printed;
    EXPECT_EQ(Run({"Bad.txt"}, printed), 2) << test.message;
    EXPECT_NE(printed.find("MakeSoundBanks: " + input_ + "Bad.txt: " + test.message), std::string::npos)
        << test.message << "\n" << printed.substr(printed.size() > 2000 ? printed.size() - 2000 : 0);
    EXPECT_TRUE(Written().empty()) << test.message;
  }
  // The limits themselves, a curve on pitch far beyond a level, a held sustain and a depth range
  // reaching past 100 percent (the engine holds the drawn depth) are all written.
  Describe("Edges.txt", head +
                            "sound S T - volume 24\nbus B - volume -4096 busvolume 24 maxduck -96\n"
                            "effect G gain 24 rtpc 0 Speed 0:-4096 100:24\n"
                            "rtpc S volume Speed 0:-4096 100:24\nrtpc S pitch Speed 0:-1200 100:3e38\n"
                            "modulator lfo W 2=100 4=20000 8=-180 2~-1,3\nmodulator envelope E 13=-1 12=0\n"
                            "rtpc W 42 modulator E 0:0 1:100\nrtpc E 53 Speed 0:0 100:100\n");
  std::string printed;
  EXPECT_EQ(Run({"Edges.txt"}, printed), 0) << printed;
  EXPECT_EQ(Written().size(), 1u);
}

TEST_F(MakeSoundBanksToolTest, FoldersAndBanksMadeTwiceAreRefused) {
  std::filesystem::create_directories(input_ + "Folder.txt");
  std::string printed;
  EXPECT_EQ(Run({"Folder.txt"}, printed), 2);
  EXPECT_NE(printed.find("\"" + input_ + "Folder.txt\" is a folder, not a bank description"), std::string::npos)
      << printed;

  std::filesystem::create_directories(input_ + "other");
  Describe("Init.txt", "platform Linux\n");
  Describe("other/Init.txt", "platform Linux\nvoices 10\n");
  Describe("init.bank", "platform Linux\n");
  EXPECT_EQ(Run({"Init.txt", "other/Init.txt"}, printed), 2);
  EXPECT_NE(printed.find(input_ + "other/Init.txt: bank \"Init\" is also made from " + input_ + "Init.txt"),
            std::string::npos)
      << printed;
  // Names that differ in case hash to one id, and so to one bank.
  EXPECT_EQ(Run({"Init.txt", "init.bank"}, printed), 2);
  EXPECT_NE(printed.find("bank \"init\" is also made from"), std::string::npos) << printed;
  EXPECT_EQ(Run({"Missing.txt"}, printed), 2);
  EXPECT_NE(printed.find("cannot read \"" + input_ + "Missing.txt\""), std::string::npos) << printed;
  EXPECT_TRUE(Written().empty());
}

// A language's loose file is written in its language's folder, where the engine finds it under that language
// and nowhere else.
TEST_F(MakeSoundBanksToolTest, ALanguagesLooseFileIsWrittenWhereTheEngineLooksForIt) {
  output_ = banks_;
  Describe("Voices.txt", "tone Spoken 8000 1 10 440 loose\nlanguage Spoken French\ntone Plain 8000 1 10 440 loose\n");
  std::string printed;
  ASSERT_EQ(Run({"Voices.txt"}, printed), 0) << printed;
  const std::string spoken = std::to_string(BankTest::Id("Spoken")) + ".snm";
  const std::string plain = std::to_string(BankTest::Id("Plain")) + ".snm";
  EXPECT_TRUE(std::filesystem::exists(banks_ + "French/" + spoken));
  EXPECT_FALSE(std::filesystem::exists(banks_ + spoken));
  EXPECT_TRUE(std::filesystem::exists(banks_ + plain));
  constexpr uint32_t kPcm = 1;
  ASSERT_EQ(SN::StreamMgr::SetCurrentLanguage(u"French"), SN::SN_Success);
  EXPECT_EQ(reader_.OpenByID(BankTest::Id("Spoken"), 0, kPcm, nullptr, true), SN::SN_Success);
  reader_.Close();
  EXPECT_EQ(reader_.OpenByID(BankTest::Id("Plain"), 0, kPcm, nullptr, true), SN::SN_Success);
  reader_.Close();
  ASSERT_EQ(SN::StreamMgr::SetCurrentLanguage(u"German"), SN::SN_Success);
  EXPECT_NE(reader_.OpenByID(BankTest::Id("Spoken"), 0, kPcm, nullptr, true), SN::SN_Success);
  reader_.Close();
  ASSERT_EQ(SN::StreamMgr::SetCurrentLanguage(u""), SN::SN_Success);
  log_.Take();
}

TEST_F(MakeSoundBanksToolTest, WhatItWritesLoadsAsDescribed) {
  // The name ends at the last '.', as the engine cuts a bank's file name.
  std::string actions;
  for (int i = 1; i <= 999; ++i) actions += " @" + std::to_string(i);
  std::string points = "envcurve 1 2 1 0\n";
  for (int i = 0; i < 65535; ++i) points += "envpoint 1 2 " + std::to_string(i) + " 1 4\n";
  Describe("Music.v2.txt", "platform Linux\nevent Play_Long" + actions + "\ntone Far 8000 1 1 1000 loose\n" + points);
  std::string printed;
  ASSERT_EQ(Run({"Music.v2.txt"}, printed), 0) << printed;
  EXPECT_EQ(printed, "");  // the engine's registrations at load say nothing
  const uint32_t farId = BankTest::Id("Far");
  std::vector<std::string> written = Written();
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{std::to_string(farId) + ".snm", "Music.v2.bnk"}));

  const std::vector<uint8_t> bank = Output("Music.v2.bnk");
  RecordingBank loaded;
  ASSERT_EQ(LoadImage(bank, loaded), SN::SN_Success) << log_.Take();
  EXPECT_EQ(header_.bankId, BankTest::Id("Music.v2"));
  ASSERT_EQ(loaded.objects.size(), 1u);
  EXPECT_EQ(loaded.objects[0].payload.size(), 8u + 999u * 4u);
  uint32_t count = 0, last = 0;
  memcpy(&count, loaded.objects[0].payload.data() + 4, 4);
  memcpy(&last, loaded.objects[0].payload.data() + 8 + 998 * 4, 4);
  EXPECT_EQ(count, 999u);
  EXPECT_EQ(last, 999u);
  // The last curve holds all of its 65535 points: the count stored right after its two flag bytes.
  const size_t envs = std::string(bank.begin(), bank.end()).find("ENVS");
  ASSERT_NE(envs, std::string::npos);
  uint16_t stored = 0;
  memcpy(&stored, bank.data() + envs + 8 + 5 * 4 + 2, 2);
  EXPECT_EQ(stored, 65535);
}

// The build writes the game's banks into the source tree while another configuration's tests may
// read them: a bank whose bytes are unchanged is left as it is (the same file, its time brought up
// to date for the build), and a changed one replaces the old whole, so a reader holding the old one
// still reads all of it, and nothing written aside is left.
TEST_F(MakeSoundBanksToolTest, ABankIsReplacedWholeAndOnlyWhenItsBytesChange) {
  const std::string bank = output_ + "Same.bnk";
  Describe("Same.txt", "tone T 8000 1 10 440\nsound S T Master\n");
  std::string printed;
  ASSERT_EQ(Run({"Same.txt"}, printed), 0) << printed;
  const std::vector<uint8_t> first = Output("Same.bnk");
  struct stat before {};
  ASSERT_EQ(stat(bank.c_str(), &before), 0);
  std::ifstream held(bank, std::ios::binary);
  const auto old = std::filesystem::last_write_time(bank) - std::chrono::hours(1);
  std::filesystem::last_write_time(bank, old);

  ASSERT_EQ(Run({"Same.txt"}, printed), 0) << printed;
  struct stat again {};
  ASSERT_EQ(stat(bank.c_str(), &again), 0);
  EXPECT_EQ(again.st_ino, before.st_ino) << "unchanged bytes were written again";
  EXPECT_GT(std::filesystem::last_write_time(bank), old);

  Describe("Same.txt", "tone T 8000 1 20 440\nsound S T Master\n");
  ASSERT_EQ(Run({"Same.txt"}, printed), 0) << printed;
  EXPECT_NE(Output("Same.bnk"), first);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(held), std::istreambuf_iterator<char>()), first);
  EXPECT_EQ(Written(), std::vector<std::string>{"Same.bnk"});
}

// Two threads writing one file each write whole, and the last whole write stays; a file aside left by a
// writer killed on the way goes with the next write of its file.
TEST_F(MakeSoundBanksToolTest, WritesOfOneFileNeverShareTheFileAside) {
  const std::string path = output_ + "Shared.bnk";
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return waitpid(gone, nullptr, WNOHANG) == gone; }, "the forked child's end"));
  const std::string stale = path + ".writing." + std::to_string(gone);
  std::ofstream(stale) << "cut short";
  std::ofstream(stale + ".7") << "cut short";
  std::atomic<int> failed{0};
  // Each write's bytes differ from the last: none is left as it was.
  auto writes = [&](uint8_t byte) {
    std::vector<uint8_t> bytes(65536, byte);
    for (int i = 0; i < 200; ++i) {
      bytes[0] = uint8_t(i);
      failed += Tools::WriteFileWhole(path, bytes) ? 0 : 1;
    }
  };
  std::thread a(writes, uint8_t('a')), b(writes, uint8_t('b'));
  a.join();
  b.join();
  EXPECT_EQ(failed, 0);
  const std::vector<uint8_t> found = Output("Shared.bnk");
  ASSERT_EQ(found.size(), 65536u);
  EXPECT_EQ(std::count(found.begin() + 1, found.end(), found[1]), 65535);
  EXPECT_EQ(Written(), std::vector<std::string>{"Shared.bnk"});
}

}  // namespace
