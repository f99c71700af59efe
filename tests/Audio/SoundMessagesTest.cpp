// What the game's sound says when a player's set-up is wrong: a bank that did not load names its file
// (the initialisation bank's when that is the one missing) and the folder it was looked for in, an SDL audio driver that does not exist is said once as SDL
// gives it, and names from outside reach the log as one line of sane length.
#include <cstdlib>
#include <fstream>
#include <optional>

#include "Audio/LogText.h"
#include "SoundTestTree.h"

namespace {

using AudioTest::ScratchTree;
using AudioTest::SoundSystemFixture;

std::string BankFolder() { return (std::filesystem::current_path() / "Sound/Banks/").string(); }

// The log's lines that begin with `start`.
std::string LinesStarting(const std::string& log, const std::string& start) {
  std::string kept;
  for (size_t at = 0; at < log.size();) {
    const size_t end = std::min(log.find('\n', at), log.size() - 1) + 1;
    if (log.compare(at, start.size(), start) == 0) kept += log.substr(at, end - at);
    at = end;
  }
  return kept;
}

TEST_F(SoundSystemFixture, ABankThatDidNotLoadNamesItsFileAndItsFolder) {
  ScratchTree tree(true);
  std::filesystem::remove("Sound/Banks/GeneralBank.bnk");
  Start();
  const std::string missing = "[ Error ][Audio] Could not load bank \"GeneralBank.bnk\" from sound project: ";
  EXPECT_EQ(LinesStarting(log_.Take(), missing), missing + "GeneralBank.bnk is not in " + BankFolder() + ".\n");
  Stop();

  // The bank's first ten bytes and nothing more: the reader stops short.
  const std::string cut = tree.GeneralBankBytes().substr(0, 10);
  std::ofstream("Sound/Banks/GeneralBank.bnk", std::ios::binary).write(cut.data(), std::streamsize(cut.size()));
  Start();
  EXPECT_EQ(LinesStarting(log_.Take(), missing),
            missing + "GeneralBank.bnk in " + BankFolder() + " is damaged or no bank (result 56).\n");
}

// Without the initialisation bank no bank loads: the error names that file and its folder, and the
// general bank's line says what it lacked rather than calling its own file bad.
TEST_F(SoundSystemFixture, AMissingInitialisationBankIsTheFileNamed) {
  ScratchTree tree(true);
  std::filesystem::remove("Sound/Banks/Init.bnk");
  Start();
  const std::string errors = LinesStarting(log_.Take(), "[ Error ][Audio] Could not load bank ");
  EXPECT_EQ(errors, "[ Error ][Audio] Could not load bank \"Init.bnk\" from sound project: Init.bnk is not in " +
                        BankFolder() + ".\n" +
                        "[ Error ][Audio] Could not load bank \"GeneralBank.bnk\" from sound project: it needs "
                        "Init.bnk, which did not load.\n");
}

// An environment variable set for the test's length.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(SoundSystemFixture, AnAudioDriverThatDoesNotExistIsSaidOnceAndTheGamePlaysOnSilent) {
  ScratchTree tree(true);
  {
    ScopedVariable driver("SDL_AUDIODRIVER", "no-such-driver");
    Start();
  }
  const std::string warnings = LinesStarting(log_.Take(), "[Warning][Audio] SDL's audio did not start (");
  // SDL's own words name the driver asked for.
  EXPECT_NE(warnings.find("no-such-driver"), std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
  EXPECT_NE(warnings.find("): the game plays on without sound.\n"), std::string::npos) << warnings;
  // Silent, not stopped: the bank is there and its events post.
  EXPECT_TRUE(SN::SoundEngine::IsInitialized());
  EXPECT_NE(SN::SoundEngine::PostEvent("Mute_BGM_Bus", Audio::SoundSystem::kGlobalGameObject), 0u);
  Stop();

  // The next start finds the driver and says nothing of it.
  Start();
  EXPECT_EQ(LinesStarting(log_.Take(), "[Warning][Audio] SDL's audio"), "");
}

TEST_F(SoundSystemFixture, AnEventNameFromOutsideIsLoggedOnOneLineEscapedAndCut) {
  ScratchTree tree(true);
  Start();
  log_.Take();
  system_.PostNamedEvent("Play\n[ Error ][Audio] forged", Audio::SoundSystem::kGlobalGameObject);
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Event \"Play\\n[ Error ][Audio] forged\" post failure.\n");

  const std::string huge(1 << 20, 'x');
  system_.PostNamedEvent(huge, Audio::SoundSystem::kGlobalGameObject);
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Event \"" + std::string(Audio::kLoggedNameBytes, 'x') +
                             "... (1048576 bytes)\" post failure.\n");
}

TEST(LogSafe, EscapesWhatCouldEndOrForgeALineAndKeepsWholeCharacters) {
  using Audio::LogSafe;
  EXPECT_EQ(LogSafe("Play_Tune"), "Play_Tune");
  EXPECT_EQ(LogSafe("a\r\nb\tc"), "a\\r\\nb\\tc");
  EXPECT_EQ(LogSafe("say \"hi\" \\ bye"), "say \\\"hi\\\" \\\\ bye");
  EXPECT_EQ(LogSafe("\x01\x1b[31m\x7f"), "\\x01\\x1B[31m\\x7F");
  EXPECT_EQ(LogSafe(std::string_view("a\0b", 3)), "a\\x00b");
  // UTF-8 stays as it is; stray, overlong, surrogate and cut-off sequences are escaped byte by byte.
  EXPECT_EQ(LogSafe("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\xB5");
  EXPECT_EQ(LogSafe("\xFF\xC0\xAF"), "\\xFF\\xC0\\xAF");
  EXPECT_EQ(LogSafe("\xED\xA0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(LogSafe("end \xE2\x82"), "end \\xE2\\x82");

  // The cut falls before a character that would cross it, and the whole length is told.
  const std::string nearly(Audio::kLoggedNameBytes - 1, 'a');
  EXPECT_EQ(LogSafe(nearly + "\xC3\xBC" + "tail"), nearly + "... (" + std::to_string(nearly.size() + 6) + " bytes)");
  EXPECT_EQ(LogSafe(std::string(Audio::kLoggedNameBytes, 'b')), std::string(Audio::kLoggedNameBytes, 'b'));
}

}  // namespace
