// The chunk loop over the malformed corpus and over hand-made cases: result codes, every chunk reader
// held inside its chunk, load modes routing the media, and the music hook.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SoundBankManager.h"
#include "tests/SoundBanks/BankTestSupport.h"

namespace {

using BankTest::Build;
using BankTest::Corpus;
using BankTest::CorpusEntry;
using BankTest::RecordingBank;

class BankChunkLoopTest : public BankTest::BankFixture {};

TEST_F(BankChunkLoopTest, TheMalformedCorpusGivesItsResults) {
  const std::vector<CorpusEntry> corpus = Corpus();
  ASSERT_GE(corpus.size(), 25u);
  for (const CorpusEntry& entry : corpus) {
    ASSERT_NE(entry.expected, 0) << entry.name << " names no expected result";
    RecordingBank bank;
    EXPECT_EQ(int(LoadImage(Build(entry.text, entry.name), bank)), entry.expected) << entry.name;
  }
}

TEST_F(BankChunkLoopTest, TheFuzzSeedsAreTheCorpusAsTheBankWriterWritesIt) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  for (const CorpusEntry& entry : Corpus()) seeds.emplace_back(entry.name + ".bnk", Build(entry.text, entry.name));
  BankTest::ExpectCommittedSeeds("sound_bank", seeds, "ORV_WRITE_BANK_SEEDS");
}

TEST_F(BankChunkLoopTest, AFirstChunkThatIsNotTheHeaderCreatesNothing) {
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("headertag HDKB\nevent @100\nbankname Init"), bank), SN::SN_InvalidFile);
  EXPECT_TRUE(bank.objects.empty());
  EXPECT_TRUE(bank.names.empty());
  EXPECT_EQ(bank.reserved, 0u);
}

TEST_F(BankChunkLoopTest, HeaderVersionAndSizes) {
  RecordingBank wrong;
  EXPECT_EQ(LoadImage(Build("version 114\nmotion 1\nbankname Init"), wrong), SN::SN_WrongBankVersion);
  EXPECT_EQ(header_.motionFlag, 1);  // recorded whatever the result
  EXPECT_TRUE(wrong.names.empty());

  RecordingBank longer;
  EXPECT_EQ(LoadImage(Build("headersize 24\nbankname Init"), longer), SN::SN_Success);
  EXPECT_EQ(longer.names.size(), 1u);

  // Nothing is read past a short header's chunk: the reader stops at its end.
  const std::vector<uint8_t> shorter = Build("headersize 16\nbankname Init");
  RecordingBank bank;
  reader_.SetMemory(shorter.data(), uint32_t(shorter.size()));
  EXPECT_EQ(SN::ReadBankChunks(reader_, bank, SN::SnBankLoad_Normal, header_), SN::SN_ShortRead);
  EXPECT_EQ(reader_.Position(), 8u + 16u);
  reader_.Close();
}

TEST_F(BankChunkLoopTest, ChunkReadersStopAtTheirChunksEvenWithBytesLeftInside) {
  // The settings chunk carries eight more bytes after its last field that read like a header chunk.
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("chunk STMG 0000a0c2 4000 00000000 00000000 00000000 42484b44 14000000\n"
                            "bankname Init"),
                      bank),
            SN::SN_Success);
  EXPECT_EQ(bank.names.count(BankTest::Id("Init")), 1u);

  // A media reader that takes none of its chunk: no index entries to read by.
  RecordingBank media;
  EXPECT_EQ(LoadImage(Build("chunk DIDX\nchunk DATA 42484b44 14000000 0102030405060708\nbankname Init"), media,
                      SN::SnBankLoad_MediaOnly),
            SN::SN_Success);
  EXPECT_EQ(media.dataCalls, 1);
  EXPECT_EQ(media.names.count(BankTest::Id("Init")), 1u);
}

TEST_F(BankChunkLoopTest, CountsBeyondTheChunkFailBeforeAnythingIsReserved) {
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("chunk HIRC 02000000 04 04000000 64000000\nbankname Init"), bank), SN::SN_InvalidFile);
  EXPECT_EQ(bank.reserved, 0u);
  EXPECT_TRUE(bank.names.empty());
}

TEST_F(BankChunkLoopTest, ObjectsReadPartlyAreLeftAtTheirEnd) {
  // The hook reads one byte of its 8-byte music object; the next object is still found.
  static int musicObjects = 0;
  musicObjects = 0;
  SN::SoundEngine::SetExtraHircObjectLoader([](const SN::SnHircObjectHeader& header, SN::CSnLoadedBank* bank,
                                               uint32_t) -> SN::SNRESULT {
    if (header.type < 10 || header.type > 13) return SN::SN_NothingChanged;
    uint8_t first = 0;
    if (bank->LoadingReader()->ReadExact(&first, 1) != SN::SN_Success) return SN::SN_Failure;
    ++musicObjects;
    bank->AddObject(nullptr);
    return SN::SN_Success;
  });
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("object 10 @6 01020304\nobject 11 @7\nevent @100 @1"), bank), SN::SN_Success);
  EXPECT_EQ(musicObjects, 2);
  EXPECT_EQ(bank.added.size(), 2u);
  ASSERT_EQ(bank.objects.size(), 1u);
  EXPECT_EQ(bank.objects[0].id, 100u);
  EXPECT_EQ(bank.reserved, 3u);

  // A type no loader takes ends the HIRC chunk with 3; without the hook it is only skipped.
  RecordingBank refused;
  EXPECT_EQ(LoadImage(Build("object 23 @5 00\nevent @100\nbankname Init"), refused), SN::SN_NothingChanged);
  EXPECT_TRUE(refused.objects.empty());
  EXPECT_TRUE(refused.names.empty());
  SN::SoundEngine::SetExtraHircObjectLoader(nullptr);
  RecordingBank skipped;
  EXPECT_EQ(LoadImage(Build("object 23 @5 00\nobject 10 @6\nevent @100\nbankname Init"), skipped), SN::SN_Success);
  ASSERT_EQ(skipped.objects.size(), 1u);
  EXPECT_EQ(skipped.objects[0].type, 4);
  EXPECT_EQ(skipped.names.size(), 1u);
}

TEST_F(BankChunkLoopTest, AnObjectLoaderThatReadsPastItsObjectFailsTheLoad) {
  SN::SoundEngine::SetExtraHircObjectLoader([](const SN::SnHircObjectHeader&, SN::CSnLoadedBank* bank,
                                               uint32_t) -> SN::SNRESULT {
    uint8_t bytes[12];
    return bank->LoadingReader()->ReadExact(bytes, sizeof bytes);
  });
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("object 12 @6 0102\nevent @100"), bank), SN::SN_InvalidFile);
  EXPECT_TRUE(bank.objects.empty());
}

TEST_F(BankChunkLoopTest, ALoaderFailureEndsTheLoadWithItsResult) {
  RecordingBank full;
  full.reserveResult = SN::SN_InsufficientMemory;
  EXPECT_EQ(LoadImage(Build("event @100"), full), SN::SN_Failure);
  RecordingBank refusing;
  refusing.objectResult = SN::SN_ZeroActionId;
  EXPECT_EQ(LoadImage(Build("event @100 @0\nevent @101"), refusing), SN::SN_ZeroActionId);
  EXPECT_EQ(refusing.objects.size(), 1u);
}

TEST_F(BankChunkLoopTest, LoadModesRouteTheMediaChunks) {
  const std::vector<uint8_t> image = Build("tone A 8000 1 3 500\ntone B 8000 2 2 700\nevent @100");
  for (SN::SnBankLoadMode mode : {SN::SnBankLoad_Normal, SN::SnBankLoad_MediaOnly, SN::SnBankLoad_StructureOnly,
                                  SN::SnBankLoad_PreparedMedia}) {
    RecordingBank bank;
    ASSERT_EQ(LoadImage(image, bank, mode), SN::SN_Success) << mode;
    EXPECT_EQ(bank.objects.size(), 1u);
    if (mode == SN::SnBankLoad_StructureOnly) {
      EXPECT_EQ(bank.indexCalls, 0);
      EXPECT_EQ(bank.dataCalls, 0);
      continue;
    }
    EXPECT_EQ(bank.indexCalls, 1) << mode;
    ASSERT_EQ(bank.dataCalls, 1) << mode;
    EXPECT_EQ(bank.dataMode, mode);
    ASSERT_EQ(bank.index.size(), 2u);
    // Tone A: 24 frames of 2 bytes after a 68-byte header, so B starts at 128 (116 rounded to 16).
    EXPECT_EQ(bank.index[0].size, 116u);
    EXPECT_EQ(bank.index[1].offset, 128u);
    EXPECT_EQ(bank.index[1].size, 68u + 16u * 4u);
    if (mode == SN::SnBankLoad_Normal) {
      EXPECT_EQ(bank.data.size(), 128u + 132u);
    } else {
      EXPECT_EQ(bank.media[BankTest::Id("B")].size(), 132u);
    }
  }
}

TEST_F(BankChunkLoopTest, TheLoopGoesOnAfterAChunkItDoesNotKnow) {
  RecordingBank bank;
  EXPECT_EQ(LoadImage(Build("chunk ZZZZ 00112233445566778899\nchunk PADX\nbankname Init"), bank), SN::SN_Success);
  EXPECT_EQ(bank.names.size(), 1u);
  RecordingBank cut;
  EXPECT_EQ(LoadImage(Build("chunk ZZZZ 00112233445566778899\ncut 3"), cut), SN::SN_InvalidFile);
}

TEST_F(BankChunkLoopTest, TypesNothingLoadsArePassedOverWithOneWarningEachLoad) {
  // Every engine type has a loader: two are taken away for the test's life.
  const SN::SnHircKind* motionBus = SN::SetHircKind(16, nullptr);
  const SN::SnHircKind* motionSource = SN::SetHircKind(17, nullptr);
  struct Restore {
    const SN::SnHircKind* bus;
    const SN::SnHircKind* source;
    ~Restore() {
      SN::SetHircKind(16, bus);
      SN::SetHircKind(17, source);
    }
  } restore{motionBus, motionSource};
  const std::vector<uint8_t> image = Build("object 16 @1 00\nobject 17 @2 00\nobject 16 @3 00\nobject 16 @4 00\nevent @100");
  auto count = [](const std::string& text, const std::string& line) {
    size_t found = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++found;
    return found;
  };
  const uint32_t bankId = BankTest::Id("TestBank");
  const std::string id = std::to_string(bankId);
  for (int load = 0; load < 2; ++load) {
    log_.Take();
    uint32_t loaded = 0;
    ASSERT_EQ(SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), true, -1, &loaded),
              SN::SN_Success);
    EXPECT_EQ(loaded, bankId);
    const std::string text = log_.Take();
    EXPECT_EQ(count(text, "Bank " + id + ": objects of type 16 are passed over: nothing loads them"), 1u) << text;
    EXPECT_EQ(count(text, "Bank " + id + ": objects of type 17 are passed over: nothing loads them"), 1u) << text;
    EXPECT_EQ(count(text, "passed over"), 2u) << text;
    EXPECT_EQ(SN::g_pBankManager->UnloadBankWait(bankId, nullptr), SN::SN_Success);
  }
}

}  // namespace
