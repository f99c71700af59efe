// The game's fault and stop handlers. Unit level, each in a child process of its own (the handlers are
// the process's): a fault on a thread other than the one inside a window-system call is an ordinary
// crash with its dump and its line, and one on that thread with the display's server gone is the
// display's loss; protocol errors are each said once, however many in a frame and however many in all.
// The real game: its display ended as the first window is made ends it with the lost-display line, never
// a crash; two Ctrl+Cs 50 ms apart end it with the first one's line said.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/CrashDump.h"
#include "Platform/ProgramStop.h"
#include "tests/Vantor/GameProcess.h"

// Built apart from the other tests (see CMakeLists.txt): the X client header's macros stay here.
#include <X11/Xlib.h>

namespace FaultHandlerTests {

using namespace GameProcess;

class FaultHandlerTest : public TestFolder {
 protected:
  // Runs `body` in a child in the folder, its standard error in err.txt; returns its wait status.
  template <typename Body>
  int RunChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0 || !freopen((dir_ / "err.txt").c_str(), "w", stderr)) _exit(120);
      body();
      std::fflush(stderr);
      _exit(0);
    }
    return WaitForEnd(child, std::chrono::seconds(60), "the child");
  }
  std::string Errors() { return ReadText(dir_ / "err.txt"); }
};

// The loss's line as the fault handler writes it, on standard error.
Platform::FixedLine LostLine(const char* display) { return {std::string("lost ") + display + "\n", 2}; }

// A display nobody serves: the display's server is gone for the check.
std::string UnservedDisplay() {
  for (int number = 900;; ++number)
    if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) return ":" + std::to_string(number);
}

// The main thread inside a window-system call, a display whose server has gone: a fault on that thread
// is the display's loss (its line, exit code 1); a fault on another thread is a crash like any other,
// with its dump, its line, and the signal's end.
TEST_F(FaultHandlerTest, OnlyAFaultOnTheThreadInTheWindowSystemIsTheDisplaysLoss) {
  fs::create_directory(dir_ / "dumps");
  const std::string display = UnservedDisplay();
  for (const bool otherThread : {false, true}) {
    SCOPED_TRACE(otherThread ? "a fault on another thread" : "a fault on the calling thread");
    const int status = RunChild([&] {
      Platform::InstallCrashHandler();
      setenv("DISPLAY", display.c_str(), 1);
      Platform::PrepareDisplayWatch();
      Platform::SetDisplayNotices({nullptr, nullptr, LostLine});
      void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      const auto fault = [page] { *static_cast<volatile int*>(page) = 1; };
      const Platform::WindowSystemCall call;
      if (!otherThread) fault();
      std::thread(fault).join();
    });
    const std::string errors = Errors();
    if (!otherThread) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << errors;
      EXPECT_EQ(errors, "lost " + display + "\n");
      continue;
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status << "\n" << errors;
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(dir_ / "dumps")) dumps.push_back(entry.path());
    ASSERT_EQ(dumps.size(), 1u) << errors;
    EXPECT_EQ(errors.rfind("The game crashed: SIGSEGV (signal 11) at address 0x", 0), 0u) << errors;
    EXPECT_NE(errors.find("; its dump is dumps/" + dumps[0].filename().string() + ".\n"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("lost"), std::string::npos) << errors;
  }
}

// Requests naming a resource that does not exist, each failing with its own error or request.
constexpr ::Atom kWindowName = 39;  // the predefined atom WM_NAME
void FailRequests(::Display* x, int count) {
  const XID none = XAllocID(x);
  const ::Window root = DefaultRootWindow(x);
  const std::vector<void (*)(::Display*, XID, ::Window)> requests = {
      [](::Display* d, XID id, ::Window) { XDestroyWindow(d, id); },
      [](::Display* d, XID id, ::Window) { XFreePixmap(d, id); },
      [](::Display* d, XID id, ::Window) { XDestroySubwindows(d, id); },
      [](::Display* d, XID id, ::Window) { XAddToSaveSet(d, id); },
      [](::Display* d, XID id, ::Window r) { XReparentWindow(d, id, r, 0, 0); },
      [](::Display* d, XID id, ::Window) { XMapWindow(d, id); },
      [](::Display* d, XID id, ::Window) { XMapSubwindows(d, id); },
      [](::Display* d, XID id, ::Window) { XUnmapWindow(d, id); },
      [](::Display* d, XID id, ::Window) { XUnmapSubwindows(d, id); },
      [](::Display* d, XID id, ::Window) { XRaiseWindow(d, id); },
      [](::Display* d, XID id, ::Window) { XCirculateSubwindowsUp(d, id); },
      [](::Display* d, XID id, ::Window) { XSetWindowBackground(d, id, 0); },
      [](::Display* d, XID id, ::Window) { XStoreName(d, id, "x"); },
      [](::Display* d, XID id, ::Window) { XDeleteProperty(d, id, kWindowName); },
      [](::Display* d, XID id, ::Window) { XSetSelectionOwner(d, kWindowName, id, 0); },
      [](::Display* d, XID id, ::Window) { XUngrabButton(d, 1, 0, id); },
      [](::Display* d, XID id, ::Window) { XUnloadFont(d, id); },
      [](::Display* d, XID id, ::Window) { XClearWindow(d, id); },
      [](::Display* d, XID id, ::Window) { XFreeColormap(d, id); },
      [](::Display* d, XID id, ::Window) { XInstallColormap(d, id); },
      [](::Display* d, XID id, ::Window) { XUninstallColormap(d, id); },
      [](::Display* d, XID id, ::Window) { XFreeCursor(d, id); },
  };
  for (int i = 0; i < count && i < int(requests.size()); ++i) requests[size_t(i)](x, none, root);
  XSync(x, False);
}

// Protocol errors on a display that is still there, frame by frame: two different ones in the first
// frame are both said; twenty (those two among them) in the second are said but for those two; the same
// twenty in the third say nothing. Each is said once, however many there are.
TEST_F(FaultHandlerTest, EachDistinctProtocolErrorIsSaidOnce) {
  const VirtualDisplay server = StartVirtualDisplay();
  if (server.name.empty()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  const int status = RunChild([&] {
    setenv("DISPLAY", server.name.c_str(), 1);
    Platform::PrepareDisplayWatch();
    Platform::SetDisplayNotices({nullptr, [](const char* text) { std::fprintf(stderr, "%s\n", text); }, nullptr});
    ::Display* x = XOpenDisplay(server.name.c_str());
    if (!x) _exit(3);
    for (const int count : {2, 20, 20}) {
      FailRequests(x, count);
      Platform::SettleDisplayErrors();
      std::fprintf(stderr, "frame\n");
    }
    XCloseDisplay(x);
  });
  StopVirtualDisplay(server);
  const std::string errors = Errors();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << errors;
  std::vector<std::set<std::string>> frames(1);
  std::set<std::string> all;
  std::istringstream lines(errors);
  for (std::string line; std::getline(lines, line);) {
    if (line == "frame") {
      frames.emplace_back();
      continue;
    }
    EXPECT_EQ(line.rfind("An X request failed on the display " + server.name + ": ", 0), 0u) << line;
    EXPECT_TRUE(all.insert(line).second) << "said twice: " << line;
    frames.back().insert(line);
  }
  ASSERT_EQ(frames.size(), 4u) << errors;
  EXPECT_EQ(frames[0].size(), 2u) << errors;
  EXPECT_EQ(frames[1].size(), 18u) << errors;
  EXPECT_EQ(frames[2].size(), 0u) << errors;
}

// The real game in a content tree of the test's own.
class GameFaultTest : public GameProcessTest {};

// The display's server ended (SIGINT or SIGTERM, as a terminal's Ctrl+C or a session's end do; SIGKILL
// now and then) 0-40 ms after the first window's line, while the window system makes that window: its
// driver may fault on the broken connection, in the window set-up or after it. An ending server drops
// its clients a few milliseconds before it stops taking connections. Every start ends with the
// lost-display line and exit code 1, never by a signal.
TEST_F(GameFaultTest, ADisplayEndedAsTheWindowIsMadeEndsWithTheLostDisplayLine) {
  constexpr int kStarts = 30;
  for (int start = 0; start < kStarts; ++start) {
    const int signal = (int[]){SIGINT, SIGTERM, SIGINT, SIGTERM, SIGKILL}[start % 5];
    const int delay = start * 41 / kStarts;
    SCOPED_TRACE("start " + std::to_string(start) + ": the server ended by signal " + std::to_string(signal) +
                 " " + std::to_string(delay) + " ms after the window's line");
    const VirtualDisplay server = StartVirtualDisplay();
    if (server.name.empty()) GTEST_SKIP() << "Xvfb is not installed or did not start";
    const pid_t game = StartUnder(server);
    int status = -1;
    const bool reached = AwaitOutput(game, "[Base] Created new window", status, std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    StopVirtualDisplay(server, signal);
    ASSERT_TRUE(reached) << "the game ended (" << status << ") before the window's line\n" << Output();
    status = Wait(game, 120);
    const std::string output = Output();
    const std::string lost = "[ Error ][Base] The display " + server.name + " was lost: the game ends.\n";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << output;
    const size_t at = output.find(lost);
    EXPECT_NE(at, std::string::npos) << output;
    EXPECT_EQ(output.find(lost, at + 1), std::string::npos) << output;
    EXPECT_EQ(output.find("The game crashed"), std::string::npos) << output;
    if (HasFailure()) return;
  }
}

// Ctrl+C twice, 50 ms apart, while a frame takes longer than that: the second ends the game at once, as
// asked, and the first one's line has been said.
TEST_F(GameFaultTest, TwoCtrlCsFiftyMillisecondsApartSayTheFirstOnesLine) {
  WriteText(dir_ / "content/lua/game/zz_slow.lua", R"(
local frames = 0
Hook:Add("PostFrameStep", "slow", function()
  frames = frames + 1
  if frames == 3 then io.open("running", "w"):close() end
  if frames >= 3 then
    local until_ = os.clock() + 0.3
    while os.clock() < until_ do end
  end
end)
)");
  const pid_t game = Start({{"SDL_VIDEODRIVER", "offscreen"}});
  int status = -1;
  ASSERT_TRUE(AwaitFile(game, dir_ / "running", status))
      << "the game ended (" << status << ") before its third frame\n" << Output();
  kill(game, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(game, SIGINT);
  status = Wait(game, 120);
  const std::string output = Output();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << "\n" << output;
  const std::string line = "[ Info  ][Base] SIGINT received: the game ends.\n";
  const size_t at = output.find(line);
  EXPECT_NE(at, std::string::npos) << output;
  EXPECT_EQ(output.find(line, at + 1), std::string::npos) << output;
}

}  // namespace FaultHandlerTests
