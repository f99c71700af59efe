// Test helper: the real game run as a child process in a content tree of the test's own, and X servers
// of the test's own for it. What a test starts here ends with the test, and every wait on it has a
// deadline. No X client header here: its macros must not reach the files that include this one.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/Support/WaitFor.h"

namespace GameProcess {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// In a child just forked from the test (`parent`): what the test starts ends with it. A test binary
// killed (as CTest does at its time-out) takes the game and its X server with it; the signal survives
// the exec. The parent may have gone before the child asked.
inline void EndWithTheTest(pid_t parent) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(123);
}

// Ends `child` at once and collects it; its wait status.
inline int Kill(pid_t child) {
  int status = 0;
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return status;
}

// The wait status of `child` (`what`); killed, and the test failed, when it outlives `limit`.
inline int WaitForEnd(pid_t child, std::chrono::seconds limit, const std::string& what) {
  int status = 0;
  if (!OrvTest::WaitUntil([&] { return waitpid(child, &status, WNOHANG) != 0; }, what + " to end", limit,
                          std::chrono::milliseconds(20)))
    status = Kill(child);
  return status;
}

// An X server of the test's own. It picks a free display number itself and writes it to a pipe once it
// takes connections, so that test processes running side by side never race for one. The game
// connects to the display twice (it checks for one first, then makes its window): without -noreset the
// server resets when its last client leaves, and a connection made during that reset is dropped.
struct VirtualDisplay {
  pid_t server = -1;
  std::string name;  // empty when the server did not start
};

// `resets` leaves out -noreset, for a server as xvfb-run starts it.
inline VirtualDisplay StartVirtualDisplay(const std::vector<std::string>& options = {}, bool resets = false) {
  int ready[2];
  if (!fs::exists("/usr/bin/Xvfb") || pipe(ready) != 0) return {};
  std::vector<std::string> words = {"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1280x720x24",
                                    "-nolisten", "tcp", "-br"};
  if (!resets) words.push_back("-noreset");
  words.insert(words.end(), options.begin(), options.end());
  VirtualDisplay display;
  const pid_t parent = getpid();
  display.server = fork();
  if (display.server == 0) {
    EndWithTheTest(parent);
    close(ready[0]);
    if (!freopen("/dev/null", "w", stderr)) _exit(121);
    std::vector<char*> arguments;
    for (std::string& word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);
    execv("/usr/bin/Xvfb", arguments.data());
    _exit(122);
  }
  close(ready[1]);
  // The number's line, or the pipe's end when the server ended without one.
  fcntl(ready[0], F_SETFL, O_NONBLOCK);
  std::string number;
  bool said = false;
  OrvTest::WaitUntil(
      [&] {
        char c;
        for (ssize_t got; (got = read(ready[0], &c, 1)) != -1;) {
          if (got == 0 || c == '\n') return said = true;
          number += c;
        }
        return false;
      },
      "Xvfb's display number", OrvTest::kWaitLimit, std::chrono::milliseconds(10));
  close(ready[0]);
  if (said && !number.empty()) {
    display.name = ":" + number;
  } else if (display.server > 0) {
    Kill(display.server);
    display.server = -1;
  }
  return display;
}

// Sends the server `signal` and collects it; one that outlives the signal by the deadline is killed,
// and the test fails.
inline void StopVirtualDisplay(const VirtualDisplay& display, int signal = SIGTERM) {
  if (display.server <= 0) return;
  kill(display.server, signal);
  WaitForEnd(display.server, OrvTest::kWaitLimit, "the X server, sent signal " + std::to_string(signal) + ",");
}

// A folder of the test's own, removed after it.
class TestFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("orv_test_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

// The real game in a content tree of the test's own.
class GameProcessTest : public TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    // The game's own levels and engine scripts; the game folder is the test's.
    fs::create_directories(dir_ / "content/lua");
    for (const char* copied : {"data", "lua/engine", "lua/game"})
      fs::copy(fs::path("content") / copied, dir_ / "content" / copied, fs::copy_options::recursive);
    // What the renderer reads is shared, not copied: shaders, meshes, materials, textures and fonts.
    for (const char* shared : {"shaders", "meshes", "animations", "materials", "textures", "font"})
      if (fs::exists(fs::path("content") / shared))
        fs::create_directory_symlink(fs::absolute(fs::path("content") / shared), dir_ / "content" / shared);
    // The game's banks as the build writes them.
    fs::create_directories(dir_ / "Sound");
    fs::create_directory_symlink(fs::absolute("Sound/Banks"), dir_ / "Sound/Banks");
  }

  // One script more in the tree: the game leaves the file `name` at its third frame and plays on.
  void MarkFileOnThirdFrame(const std::string& name = "running") {
    WriteText(dir_ / ("content/lua/game/zz_" + name + ".lua"),
              "local frames = 0\n"
              "Hook:Add(\"PostFrameStep\", \"" + name + "\", function()\n"
              "  frames = frames + 1\n"
              "  if frames == 3 then io.open(\"" + name + "\", \"w\"):close() end\n"
              "end)\n");
  }
  // Starts the game (or `executable`) in the tree (or `folder`) with the given environment changes (an
  // empty value takes the variable away); its output goes to the tree's out.txt.
  pid_t Start(const std::vector<std::pair<std::string, std::string>>& environment,
              const fs::path& executable = ORV_GAME_EXECUTABLE, const fs::path& folder = {}) {
    const fs::path output = dir_ / "out.txt";
    // A wait on the output reads this run's lines, never the last run's.
    fs::remove(output);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
      EndWithTheTest(parent);
      if (chdir((folder.empty() ? dir_ : folder).c_str()) != 0) _exit(120);
      for (const auto& [name, value] : environment)
        value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
      if (!freopen(output.c_str(), "w", stdout) || !freopen(output.c_str(), "a", stderr)) _exit(121);
      // Ctrl+C reaches the game as from a terminal, whatever the test runner was started with.
      signal(SIGINT, ignoreInterrupt_ ? SIG_IGN : SIG_DFL);
      execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
      _exit(122);
    }
    return child;
  }
  // The game on that display through SDL's X11 driver, with the `environment` changes besides.
  pid_t StartUnder(const VirtualDisplay& display, std::vector<std::pair<std::string, std::string>> environment = {}) {
    // The X client libraries keep a message-bus connection to the end: not the game's to free.
    WriteText(dir_ / "lsan.supp", ReadText("tests/lsan.supp") + "leak:libdbus-1.so\n");
    environment.insert(environment.end(),
                       {{"DISPLAY", display.name},
                        {"SDL_VIDEODRIVER", "x11"},
                        {"LSAN_OPTIONS", "suppressions=" + (dir_ / "lsan.supp").string() + ":print_suppressions=0"}});
    return Start(environment);
  }
  // The game's wait status; a run that outlives the limit is killed. The limit only catches a game
  // that never ends: the software-rendered Playground run takes past two minutes when every core is
  // busy (a parallel test run beside another build), so it stays under the test run's own 300 s.
  static int Wait(pid_t game, int seconds = 270) {
    return WaitForEnd(game, std::chrono::seconds(seconds), "the game");
  }
  std::string Output() { return ReadText(dir_ / "out.txt"); }

  // Polls `done` until it holds or the game ends (its wait status then in `status`). A software-
  // rendered frame under a loaded machine can take seconds: the game gets as long as any game run
  // (it is killed at 270 s).
  // `pause` between polls: shorter where the test acts at a moment after what it waits for.
  template <typename Done>
  static bool AwaitGame(pid_t game, Done done, const std::string& what, int& status,
                        std::chrono::milliseconds pause = std::chrono::milliseconds(10)) {
    const bool reached = OrvTest::WaitUntil([&] { return done() || waitpid(game, &status, WNOHANG) != 0; },
                                            what + " or the game's end", std::chrono::seconds(270), pause);
    if (!reached) status = Kill(game);
    return done();
  }
  // Waits until the game's script leaves `file` or the game ends (its wait status then in `status`):
  // true for the file.
  static bool AwaitFile(pid_t game, const fs::path& file, int& status) {
    return AwaitGame(game, [&] { return fs::exists(file); }, "the game's file " + file.filename().string(), status);
  }
  // Waits until the game's output holds `text` or the game ends (its wait status then in `status`).
  bool AwaitOutput(pid_t game, const std::string& text, int& status,
                   std::chrono::milliseconds pause = std::chrono::milliseconds(10)) {
    return AwaitGame(game, [&] { return Output().find(text) != std::string::npos; }, "the line \"" + text + "\"",
                     status, pause);
  }

  bool ignoreInterrupt_ = false;  // the game starts with SIGINT ignored, as a shell's background job
};

}  // namespace GameProcess
