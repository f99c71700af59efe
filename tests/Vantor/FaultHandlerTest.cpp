// The game's fault and stop handlers. Unit level, each in a child process of its own (the handlers are
// the process's): a fault on a thread other than the one inside a window-system call is an ordinary
// crash with its dump and its line, and one on that thread with the display's server gone is the
// display's loss; protocol errors are each said once, however many in a frame and however many in all.
// A crash's line comes first and always, on any thread, once; a stop's line is said before a next stop
// ends the process, and a stop decides the end. The real game: its display ended as the first window is
// made (reached locally or over TCP) ends it with the lost-display line, never a crash; two Ctrl+Cs 50 ms
// apart end it with the first one's line said; a stop ends it, saying it was stuck, while its X server
// does not answer, and in order while its driver's threads wait for a processor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/CrashDump.h"
#include "Platform/ProgramStop.h"
#include "Platform/Threading.h"
#include "Platform/Window.h"
#include "tests/Vantor/GameProcess.h"

// Built apart from the other tests (see CMakeLists.txt): the X client header's macros stay here.
#include <X11/Xlib.h>

namespace FaultHandlerTests {

using namespace GameProcess;

class FaultHandlerTest : public TestFolder {
 protected:
  // Runs `body` in a child in the folder, its standard error in err.txt; returns its wait status.
  template <typename Body>
  int RunChild(Body body, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0 || !freopen((dir_ / "err.txt").c_str(), "w", stderr)) _exit(120);
      body();
      std::fflush(stderr);
      _exit(0);
    }
    return WaitForEnd(child, limit, "the child");
  }
  std::string Errors() { return ReadText(dir_ / "err.txt"); }

  // Runs `body(ready)` in a child in the folder (the stop signals as by default), its standard error a
  // pipe; returns its wait status, and what it said in `said`. With `whenHeld`, the pipe is full until
  // the child writes to `ready`, `whenHeld(child)` has run and 200 ms have passed: whichever handler
  // speaks first waits in its write meanwhile.
  template <typename Body>
  int Speak(Body body, std::string& said, void (*whenHeld)(pid_t) = nullptr) {
    int errors[2], ready[2];
    if (pipe(errors) != 0 || pipe(ready) != 0) return -1;
    child_ = fork();
    if (child_ == 0) {
      close(errors[0]);
      close(ready[0]);
      for (const int stop : {SIGINT, SIGTERM, SIGHUP}) signal(stop, SIG_DFL);
      if (chdir(dir_.c_str()) != 0 || dup2(errors[1], STDERR_FILENO) < 0) _exit(120);
      if (whenHeld) {
        fcntl(STDERR_FILENO, F_SETFL, O_NONBLOCK);
        while (write(STDERR_FILENO, "x", 1) == 1) {
        }
        fcntl(STDERR_FILENO, F_SETFL, 0);
      }
      body(ready[1]);
      _exit(0);
    }
    close(errors[1]);
    close(ready[1]);
    if (whenHeld) {
      pollfd sign{ready[0], POLLIN, 0};
      EXPECT_EQ(poll(&sign, 1, 30000), 1) << "the child did not say it was held";
      whenHeld(child_);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
    OrvTest::WaitUntil(
        [&] {
          char buffer[4096];
          for (ssize_t got; (got = read(errors[0], buffer, sizeof buffer)) != 0; said.append(buffer, size_t(got)))
            if (got < 0) return false;
          return true;
        },
        "the child's standard error to close", std::chrono::seconds(30), std::chrono::milliseconds(1));
    close(errors[0]);
    close(ready[0]);
    said.erase(0, said.find_first_not_of('x'));
    return WaitForEnd(child_, std::chrono::seconds(30), "the child");
  }
  pid_t child_ = -1;
};

// A fault at an address no one may touch.
void FaultOnAPage() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 1;
}

std::vector<fs::path> DumpsIn(const fs::path& folder) {
  std::vector<fs::path> dumps;
  for (const auto& entry : fs::directory_iterator(folder)) dumps.push_back(entry.path());
  return dumps;
}

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
    const std::vector<fs::path> dumps = DumpsIn(dir_ / "dumps");
    ASSERT_EQ(dumps.size(), 1u) << errors;
    EXPECT_EQ(errors.rfind("The game crashed: SIGSEGV (signal 11) at address 0x", 0), 0u) << errors;
    EXPECT_NE(errors.find("; its dump is dumps/" + dumps[0].filename().string() + ".\n"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("lost"), std::string::npos) << errors;
  }
}

// A program's display check under the offscreen driver, then its end: the video system's end ends the
// display's watch, which gives the X library's handlers and SIGPIPE's disposition back as it found them.
// A watch started after it is the next program's own: a fault inside a window-system call on the display
// DISPLAY now names, whose server is gone, is that display's loss.
TEST_F(FaultHandlerTest, TheVideoSystemsEndGivesTheDisplaysWatchBack) {
  const std::string display = UnservedDisplay();
  const int status = RunChild([&] {
    const XErrorHandler ownError = [](::Display*, XErrorEvent*) { return 0; };
    const XIOErrorHandler ownLoss = [](::Display*) { return 0; };
    XSetErrorHandler(ownError);
    XSetIOErrorHandler(ownLoss);
    unsetenv("DISPLAY");
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    std::string error;
    const auto fail = [](const char* what) {
      std::fprintf(stderr, "%s\n", what);
      std::fflush(stderr);
      _exit(3);
    };
    if (!Platform::Window::DisplayAvailable(&error)) fail(error.c_str());
    Platform::Window::ReleaseDisplayHold();
    if (XSetErrorHandler(ownError) != ownError || XSetIOErrorHandler(ownLoss) != ownLoss)
      fail("the X library's handlers were not given back");
    struct sigaction broken {};
    if (sigaction(SIGPIPE, nullptr, &broken) != 0 || broken.sa_handler != SIG_DFL) fail("SIGPIPE stays ignored");
    Platform::InstallCrashHandler();
    setenv("DISPLAY", display.c_str(), 1);
    Platform::PrepareDisplayWatch();
    Platform::SetDisplayNotices({nullptr, nullptr, LostLine});
    const Platform::WindowSystemCall call;
    FaultOnAPage();
  });
  const std::string errors = Errors();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << errors;
  EXPECT_EQ(errors, "lost " + display + "\n");
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

// Another connection of the program's to the display's live server, closed by it (its client killed):
// a fault inside a window-system call is still an ordinary crash. Only the window system's connection
// hanging up is the display's loss.
TEST_F(FaultHandlerTest, AnotherConnectionClosedByTheServerIsNoDisplayLoss) {
  const VirtualDisplay server = StartVirtualDisplay();
  if (server.name.empty()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  std::string said;
  const int status = Speak(
      [&](int) {
        setenv("DISPLAY", server.name.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        Platform::InstallCrashHandler();
        std::string error;
        if (!Platform::Window::DisplayAvailable(&error) ||
            !Platform::Window::Create("own", 64, 64, Platform::Window::Hidden | Platform::Window::MessagesOnly, &error))
          _exit(3);
        ::Display* other = XOpenDisplay(server.name.c_str());
        ::Display* killer = XOpenDisplay(server.name.c_str());
        if (!other || !killer) _exit(4);
        const Pixmap owned = XCreatePixmap(other, DefaultRootWindow(other), 1, 1, DefaultDepth(other, 0));
        XSync(other, False);
        XKillClient(killer, owned);
        XSync(killer, False);
        pollfd hungUp{ConnectionNumber(other), POLLRDHUP, 0};
        if (poll(&hungUp, 1, 10000) != 1) _exit(5);
        const Platform::WindowSystemCall call;
        FaultOnAPage();
      },
      said);
  StopVirtualDisplay(server);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status << "\n" << said;
  EXPECT_EQ(said.rfind("The game crashed: SIGSEGV (signal 11) at address 0x", 0), 0u) << said;
}

// The crash's one line: first, always, once.
class CrashLineTest : public FaultHandlerTest {};

#if defined(__x86_64__)
// The main thread's stack and frame pointers broken (a smashed stack): the dump's backtrace faults in its
// turn, after the line has named the dump, which holds the registers.
TEST_F(CrashLineTest, ABacktraceThatFaultsLeavesTheLineSaid) {
  fs::create_directory(dir_ / "dumps");
  std::string said;
  const int status = Speak(
      [](int) {
        Platform::InstallCrashHandler();
        asm volatile("mov $16, %%rsp\n\tmov $16, %%rbp\n\tpush %%rax" ::: "memory");
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status << "\n" << said;
  const std::vector<fs::path> dumps = DumpsIn(dir_ / "dumps");
  ASSERT_EQ(dumps.size(), 1u) << said;
  EXPECT_EQ(said, "The game crashed: SIGSEGV (signal 11) at address 0x0000000000000008; its dump is dumps/" +
                      dumps[0].filename().string() + ".\n");
  EXPECT_NE(ReadText(dumps[0]).find("\nregisters\nrip 0x"), std::string::npos) << ReadText(dumps[0]);
}

// The same with an illegal instruction: the dump's backtrace faults, and the process still ends by the
// signal its line named.
TEST_F(CrashLineTest, AFaultInTheDumpEndsByTheSignalSaid) {
  fs::create_directory(dir_ / "dumps");
  std::string said;
  const int status = Speak(
      [](int) {
        Platform::InstallCrashHandler();
        asm volatile("mov $16, %%rsp\n\tmov $16, %%rbp\n\tud2" ::: "memory");
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGILL) << status << "\n" << said;
  EXPECT_EQ(said.rfind("The game crashed: SIGILL (signal 4) at address 0x", 0), 0u) << said;
  const std::vector<fs::path> dumps = DumpsIn(dir_ / "dumps");
  EXPECT_TRUE(dumps.size() == 1 && ReadText(dumps[0]).find("\nend\n") == std::string::npos) << "no dump cut short";
}

// Sends the thread named `name` of `process`, wherever it waits, to an illegal instruction, as a stray
// jump would: the trap is the thread's own, under its own signal mask.
void TrapThreadNamed(pid_t process, const std::string& name) {
  pid_t thread = -1;
  OrvTest::WaitUntil(
      [&] {
        std::error_code gone;
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(process) + "/task", gone))
          if (ReadText(task.path() / "comm") == name + "\n") thread = std::stoi(task.path().filename().string());
        return thread > 0;
      },
      "the thread " + name, std::chrono::seconds(10), std::chrono::milliseconds(1));
  user_regs_struct registers{};
  ASSERT_EQ(ptrace(PTRACE_SEIZE, thread, nullptr, nullptr), 0) << std::strerror(errno);
  ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr);
  waitpid(thread, nullptr, __WALL);
  ptrace(PTRACE_GETREGS, thread, nullptr, &registers);
  // As if the trap were called from where the thread waits: the dump's backtrace walks its real frames
  // from there, never whatever the stack held at its top.
  registers.rsp -= sizeof(uintptr_t);
  ptrace(PTRACE_POKEDATA, thread, reinterpret_cast<void*>(registers.rsp), reinterpret_cast<void*>(registers.rip));
  registers.rip = reinterpret_cast<uintptr_t>(+[] { __builtin_trap(); });
  registers.orig_rax = ~0ull;  // the wait it was in is not restarted
  ptrace(PTRACE_SETREGS, thread, nullptr, &registers);
  ptrace(PTRACE_DETACH, thread, nullptr, nullptr);
}

// An illegal instruction on the thread that watches a stop's end is said and dumped, and ends the process.
TEST_F(CrashLineTest, AFaultOnTheStopWatchThreadIsSaid) {
  fs::create_directory(dir_ / "dumps");
  std::string said;
  const int status = Speak(
      [](int ready) {
        Platform::InstallCrashHandler();
        Platform::InstallStopSignalHandlers();
        [[maybe_unused]] const ssize_t sign = write(ready, "r", 1);
        sleep(10);
      },
      said, [](pid_t child) { TrapThreadNamed(child, "StopWatch"); });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGILL) << status << "\n" << said;
  EXPECT_EQ(said.rfind("The game crashed: SIGILL (signal 4) at address 0x", 0), 0u) << said;
  const std::vector<fs::path> dumps = DumpsIn(dir_ / "dumps");
  EXPECT_TRUE(dumps.size() == 1 && ReadText(dumps[0]).ends_with("end\n")) << "no whole dump";
}
#endif

int Deeper(int depth) {
  volatile char frame[1024];
  frame[0] = char(depth);
  return depth < INT_MAX - 1 ? Deeper(depth + 1) + frame[0] : 0;
}

// A stack overflow on a thread the program started (its audio, bank and stream threads, its workers) is
// said as one on the main thread is. Run afresh without the address sanitizer's own stacks for threads,
// as the game runs without the sanitizer.
TEST_F(CrashLineTest, AStackOverflowOnAThreadOfOursIsSaid) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  const char* options = std::getenv("ASAN_OPTIONS");
  const std::string saved = options ? options : "";
  setenv("ASAN_OPTIONS", (saved + ":use_sigaltstack=0").c_str(), 1);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (chdir(dir_.c_str()) != 0) _exit(120);
        Platform::InstallCrashHandler();
        Platform::JoinThread(Platform::StartThread([](void*) { return uint32_t(Deeper(0)); }, nullptr, {}, "deep"));
      },
      testing::KilledBySignal(SIGSEGV), "The game crashed: SIGSEGV \\(signal 11\\) at address 0x[0-9a-f]+; no dump");
  GTEST_FLAG_SET(death_test_style, style);
  options ? setenv("ASAN_OPTIONS", saved.c_str(), 1) : unsetenv("ASAN_OPTIONS");
}

// Two threads fault, the second while the first one's line waits to be written: the first is said whole,
// once, and the process ends by its signal.
TEST_F(CrashLineTest, OfTwoThreadsFaultingTheFirstIsSaidWhole) {
  std::string said;
  const int status = Speak(
      [](int ready) {
        Platform::InstallCrashHandler();
        static std::atomic<bool> faulting{false};
        Platform::StartThread(
            [](void*) {
              faulting = true;
              FaultOnAPage();
              return 0u;
            },
            nullptr, {}, "first");
        while (!faulting) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        [[maybe_unused]] const ssize_t sign = write(ready, "r", 1);
        FaultOnAPage();
      },
      said, [](pid_t) {});
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status << "\n" << said;
  EXPECT_EQ(said.rfind("The game crashed: SIGSEGV (signal 11) at address 0x", 0), 0u) << said;
  EXPECT_EQ(said.find("The game crashed", 1), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
}

// A signal sent (by kill here; abort sends one too) names its sender rather than an address, and a dump
// that cannot be made says why in words.
TEST_F(CrashLineTest, ASentSignalNamesItsSenderAndAnUnmadeDumpItsReason) {
  WriteText(dir_ / "dumps", "a file where the folder would be\n");
  std::string said;
  const int status = Speak(
      [](int) {
        Platform::InstallCrashHandler();
        kill(getpid(), SIGBUS);
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << status << "\n" << said;
  const std::regex line("The game crashed: SIGBUS \\(signal 7\\) sent by process " + std::to_string(child_) +
                        "; no dump was written, as dumps/CRASH_[0-9_]+\\.dmp could not be made \\(Not a directory\\)\\.\n");
  EXPECT_TRUE(std::regex_match(said, line)) << said;
}

// Another run's dumps named for each second this crash may come in: its own dump is a new file beside
// them, and theirs are as they were.
TEST_F(CrashLineTest, ACrashInTheSecondOfAnotherDumpKeepsBoth) {
  fs::create_directory(dir_ / "dumps");
  const time_t now = time(nullptr);
  for (time_t second = now - 1; second <= now + 10; ++second) {
    tm local{};
    localtime_r(&second, &local);
    WriteText(dir_ / "dumps" /
                  ("CRASH_" + std::to_string(local.tm_mon) + "_" + std::to_string(local.tm_mday) + "_" +
                   std::to_string(local.tm_hour) + "_" + std::to_string(local.tm_min) + "_" +
                   std::to_string(local.tm_sec) + ".dmp"),
              "another run's\n");
  }
  std::string said;
  Speak(
      [](int) {
        Platform::InstallCrashHandler();
        FaultOnAPage();
      },
      said);
  const size_t named = said.find("; its dump is dumps/");
  ASSERT_NE(named, std::string::npos) << said;
  const fs::path own = dir_ / said.substr(named + 14, said.size() - named - 16);
  EXPECT_EQ(own.filename().string().find("-2.dmp"), own.filename().string().size() - 6) << said;
  std::vector<fs::path> dumps = DumpsIn(dir_ / "dumps");
  EXPECT_EQ(dumps.size(), 13u);
  for (const fs::path& dump : dumps)
    EXPECT_EQ(ReadText(dump).substr(0, 13), dump == own ? "ORVANEL CRASH" : "another run's") << dump;
}

// The stop signals' handlers, with the stop's line on standard error.
class StopSignalTest : public FaultHandlerTest {};

Platform::FixedLine StopLine(const char* signal) { return {std::string(signal) + " received\n", 2}; }

// Ctrl+C, then a SIGTERM: the second stop, of another kind, ends the process at once, by itself.
TEST_F(StopSignalTest, ASecondStopOfAnotherKindEndsTheProcessAtOnce) {
  std::string said;
  const int status = Speak(
      [](int) {
        Platform::InstallStopSignalHandlers();
        Platform::SetStopSignalLines(StopLine);
        raise(SIGINT);
        raise(SIGTERM);
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << "\n" << said;
  EXPECT_EQ(said, "SIGINT received\n");
}

// Two Ctrl+Cs, the second as soon as the first is taken, while its line waits to be written, a thread of
// the program's running beside the main one: the second ends the process once the first has said its line.
TEST_F(StopSignalTest, ASecondCtrlCWaitsForTheFirstOnesLine) {
  std::string said;
  const int status = Speak(
      [](int ready) {
        Platform::InstallStopSignalHandlers();
        Platform::SetStopSignalLines(StopLine);
        Platform::StartThread([](void*) { return uint32_t(sleep(30)); }, nullptr, {}, "beside");
        [[maybe_unused]] const ssize_t sign = write(ready, "r", 1);
        for (int slept = 0; slept < 300; ++slept) usleep(100000);
      },
      said,
      [](pid_t child) {
        kill(child, SIGINT);
        // Two signals of a kind pending at once are one: the second comes once the first is taken.
        OrvTest::WaitUntil(
            [&] {
              const std::string status = ReadText("/proc/" + std::to_string(child) + "/status");
              const size_t pending = status.find("ShdPnd:");
              return pending != std::string::npos && (std::stoull(status.substr(pending + 7), nullptr, 16) & 2) == 0;
            },
            "the first SIGINT to be taken", std::chrono::seconds(10), std::chrono::milliseconds(1));
        kill(child, SIGINT);
      });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << "\n" << said;
  EXPECT_EQ(said, "SIGINT received\n");
}

// Ctrl+C, then the display's loss found by a fault inside a window-system call: the loss is said, and
// the stop that came first decides the end.
TEST_F(StopSignalTest, AStopBeforeTheDisplaysLossDecidesTheEnd) {
  const std::string display = UnservedDisplay();
  std::string said;
  const int status = Speak(
      [&](int) {
        Platform::InstallCrashHandler();
        Platform::InstallStopSignalHandlers();
        Platform::SetStopSignalLines(StopLine);
        setenv("DISPLAY", display.c_str(), 1);
        Platform::PrepareDisplayWatch();
        Platform::SetDisplayNotices({nullptr, nullptr, LostLine});
        raise(SIGINT);
        const Platform::WindowSystemCall call;
        FaultOnAPage();
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << "\n" << said;
  EXPECT_EQ(said, "SIGINT received\nlost " + display + "\n");
}

// The program has ended without a stop; a SIGTERM then, in its exit, says nothing and ends it as by default.
TEST_F(StopSignalTest, ASignalAfterTheEndSaysNothing) {
  std::string said;
  const int status = Speak(
      [](int) {
        Platform::InstallStopSignalHandlers();
        Platform::SetStopSignalLines(StopLine);
        Platform::EndAsStopSignalAsks();
        raise(SIGTERM);
      },
      said);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << "\n" << said;
  EXPECT_EQ(said, "");
}

Platform::FixedLine StuckLine(const char* signal, const char* stuckFor) {
  return {std::string("stuck for ") + stuckFor + " after " + signal + "\n", 2};
}

// A SIGTERM while the main thread waits for a worker that runs half of kStuckBusyMs (a shutdown's busy
// step): the program is slow, not stuck, and ends in order by the signal.
TEST_F(StopSignalTest, AStopWaitingOnABusyWorkerIsNotCutShort) {
  const int status = RunChild([] {
    Platform::InstallStopSignalHandlers();
    Platform::SetStopSignalLines(StopLine, StuckLine);
    Platform::Thread* worker = Platform::StartThread([](void*) {
      timespec ran{};
      while (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ran) == 0 && ran.tv_sec < Platform::kStuckBusyMs / 2000) {
      }
      return 0u;
    }, nullptr, {}, "worker");
    raise(SIGTERM);
    Platform::JoinThread(worker);
    Platform::MarkProgress();
    Platform::EndAsStopSignalAsks();
  }, std::chrono::seconds(240));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(Errors(), "SIGTERM received\n");
}

// A SIGTERM, then the main thread waits for ever: the stop's watch ends the program by the signal.
class StopWatchTest : public FaultHandlerTest {
 protected:
  // With `spin`, a thread of the program's loops for ever; unless `seen`, no file may be opened (the
  // threads' states unread). The stuck line must follow the stop's, its time followed by `note`. How
  // long the program took to end.
  std::chrono::milliseconds StuckStop(bool spin, bool seen, const std::string& note) {
    const auto from = std::chrono::steady_clock::now();
    // kStuckBusyMs of a spinning thread's time took a minute at a load of 45.
    const int status = RunChild([spin, seen] {
      Platform::InstallStopSignalHandlers();
      Platform::SetStopSignalLines(StopLine, StuckLine);
      if (spin)
        Platform::StartThread([](void*) { for (volatile bool on = true; on;) {} return 0u; }, nullptr, {}, "spin");
      if (!seen) {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = 0;
        setrlimit(RLIMIT_NOFILE, &files);
      }
      raise(SIGTERM);
      for (;;) pause();
    }, std::chrono::seconds(240));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(std::regex_match(Errors(), std::regex("SIGTERM received\nstuck for [0-9]+\\.[0-9] s" + note +
                                                      " after SIGTERM\n")))
        << Errors();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from);
  }
};

// A thread of the program's spinning while the main one waits (a worker's loop that never ends): the
// program runs, but makes no progress, and ends once it has run kStuckBusyMs.
TEST_F(StopWatchTest, AThreadSpinningWhileTheMainOneWaitsEndsTheStop) {
  EXPECT_GE(StuckStop(true, true, "").count(), Platform::kStuckBusyMs);
}

// No /proc to read (here, no file may be opened): a still program cannot be told from one held off the
// processors, and is given kStuckUnseenMs, its line saying its threads went unseen. A suite of its own
// for its time.
class UnseenStopWatchTest : public StopWatchTest {};
TEST_F(UnseenStopWatchTest, WithoutTheThreadsStatesAStillProgramEndsLaterSayingSo) {
  EXPECT_GE(StuckStop(false, false, " \\(its threads unseen\\)").count(), Platform::kStuckUnseenMs);
}

// The real game in a content tree of the test's own.
class GameFaultTest : public GameProcessTest {
 protected:
  // The display's server ended (SIGINT or SIGTERM, as a terminal's Ctrl+C or a session's end do; SIGKILL
  // now and then) 0-40 ms after the first window's line, `starts` times, the game reaching it through its
  // local socket or `overTcp` (DISPLAY=127.0.0.1:<n>, as a forwarded session has): each start ends with
  // the lost-display line and exit code 1, never by a signal.
  void EndServersAsTheWindowIsMade(int starts, bool overTcp) {
    for (int start = 0; start < starts; ++start) {
      const int signal = (int[]){SIGINT, SIGTERM, SIGINT, SIGTERM, SIGKILL}[start % 5];
      const int delay = start * 41 / starts;
      SCOPED_TRACE("start " + std::to_string(start) + ": the server ended by signal " + std::to_string(signal) +
                   " " + std::to_string(delay) + " ms after the window's line");
      VirtualDisplay server = StartVirtualDisplay(overTcp ? std::vector<std::string>{"-listen", "tcp"}
                                                          : std::vector<std::string>{});
      if (server.name.empty()) GTEST_SKIP() << "Xvfb is not installed or did not start";
      if (overTcp) server.name = "127.0.0.1" + server.name;
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
};

// An ending server drops its clients a few milliseconds before it stops taking connections; the
// window system's driver may fault on the broken connection, in the window set-up or after it.
TEST_F(GameFaultTest, ADisplayEndedAsTheWindowIsMadeEndsWithTheLostDisplayLine) { EndServersAsTheWindowIsMade(30, false); }

// The same over TCP, in a suite of its own for its time.
class NetworkDisplayTest : public GameFaultTest {};
TEST_F(NetworkDisplayTest, ADisplayOverTcpEndedAsTheWindowIsMadeEndsWithTheLostDisplayLine) {
  EndServersAsTheWindowIsMade(10, true);
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

// The X server held still (SIGSTOP) while the game plays, then one SIGTERM (a service manager's): the
// frame's present waits on the server for ever, and the game, stuck, still ends by the signal within
// seconds, its stuck line said.
class GameStopTest : public GameProcessTest {
 protected:
  // The game under a server held still as it plays, stopped by one SIGTERM; with `spin`, a thread of
  // its own runs for ever from the stop on (SpinOnFile.c, preloaded). It ends by the signal, its stuck
  // line said. How long it took from the signal, or -1 without an X server.
  std::chrono::milliseconds StopWhileTheServerIsHeld(bool spin) {
    const VirtualDisplay server = StartVirtualDisplay();
    if (server.name.empty()) return std::chrono::milliseconds(-1);
    MarkFileOnThirdFrame();
    // The preloaded library comes before the address sanitizer's runtime, which would refuse it.
    const char* options = std::getenv("ASAN_OPTIONS");
    const pid_t game = StartUnder(server, spin ? std::vector<std::pair<std::string, std::string>>{
                                                    {"LD_PRELOAD", ORV_SPIN_LIBRARY},
                                                    {"ASAN_OPTIONS", std::string(options ? options : "") +
                                                                         ":verify_asan_link_order=0"}}
                                               : std::vector<std::pair<std::string, std::string>>{});
    int status = -1;
    const bool running = AwaitFile(game, dir_ / "running", status);
    kill(server.server, SIGSTOP);
    // Its next frames reach the server and wait for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (spin) WriteText(dir_ / "spin", "");
    kill(game, SIGTERM);
    const auto stopped = std::chrono::steady_clock::now();
    // A spinning thread's kStuckBusyMs at a load of 45 took 94 s.
    if (status == -1) status = WaitForEnd(game, std::chrono::seconds(180), "the game held by its X server");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped);
    kill(server.server, SIGCONT);
    StopVirtualDisplay(server);
    const std::string output = Output();
    EXPECT_TRUE(running) << output;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << "\n" << output;
    EXPECT_NE(output.find("[ Info  ][Base] SIGTERM received: the game ends.\n"), std::string::npos) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\[ Error \]\[Base\] The game was stuck for [0-9]+\.[0-9] s )"
                                                     R"(after SIGTERM: it ends now, without its shutdown\.\n)")))
        << output;
    std::printf("The game ended %lld ms after its stop.\n", static_cast<long long>(took.count()));
    return took;
  }
};
TEST_F(GameStopTest, AStopEndsTheGameWhileItsXServerDoesNotAnswer) {
  if (StopWhileTheServerIsHeld(false).count() < 0) GTEST_SKIP() << "Xvfb is not installed or did not start";
}

// The same while a thread of the game's runs on for ever: the game runs but makes no progress, and ends
// once it has run kStuckBusyMs.
class GameBusyStopTest : public GameStopTest {};
TEST_F(GameBusyStopTest, AStopEndsTheGameWhileItsXServerDoesNotAnswerAndAThreadOfItsSpins) {
  const auto took = StopWhileTheServerIsHeld(true);
  if (took.count() < 0) GTEST_SKIP() << "Xvfb is not installed or did not start";
  EXPECT_GE(took.count(), Platform::kStuckBusyMs);
}

// The game's threads named `prefix`.
std::vector<pid_t> ThreadsNamed(pid_t process, const std::string& prefix) {
  std::vector<pid_t> threads;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(process) + "/task"))
    if (ReadText(task.path() / "comm").rfind(prefix, 0) == 0) threads.push_back(std::stoi(task.path().filename()));
  return threads;
}

// Holds `threads` of another process off the processors as a loaded machine does, runnable but not
// running: each pinned to one processor that busy loops of the test's own keep, at the lowest priority.
// Let go at its end (a priority raised back only where the test may).
class ProcessorHold {
 public:
  explicit ProcessorHold(std::vector<pid_t> threads) : m_threads(std::move(threads)) {
    sched_getaffinity(0, sizeof m_all, &m_all);
    int first = 0;
    while (!CPU_ISSET(first, &m_all)) ++first;
    CPU_ZERO(&m_one);
    CPU_SET(first, &m_one);
    for (int i = 0; i < 8; ++i)
      m_loops.emplace_back([this] {
        pthread_setaffinity_np(pthread_self(), sizeof m_one, &m_one);
        while (m_holding.load(std::memory_order_relaxed)) {
        }
      });
    for (const pid_t thread : m_threads) {
      sched_setaffinity(thread, sizeof m_one, &m_one);
      setpriority(PRIO_PROCESS, id_t(thread), 19);
    }
  }
  ~ProcessorHold() {
    for (const pid_t thread : m_threads) {
      setpriority(PRIO_PROCESS, id_t(thread), 0);
      sched_setaffinity(thread, sizeof m_all, &m_all);
    }
    m_holding.store(false);
    for (std::thread& loop : m_loops) loop.join();
  }

 private:
  std::vector<pid_t> m_threads;
  cpu_set_t m_all{}, m_one{};
  std::atomic<bool> m_holding{true};
  std::vector<std::thread> m_loops;
};

// Ctrl+C while the graphics driver's threads are held off the processors, as a busy machine holds
// them, for twice the stop's wait: the game's main thread waits on them at its frame's end and in its
// shutdown. The game is slow, not stuck: it ends in order, by the signal, once they run.
class GameSlowStopTest : public GameProcessTest {};
TEST_F(GameSlowStopTest, ACtrlCWhileTheDriversThreadsWaitForAProcessorEndsTheGameInOrder) {
  MarkFileOnThirdFrame();
  const pid_t game = Start({{"SDL_VIDEODRIVER", "offscreen"}});
  int status = -1;
  ASSERT_TRUE(AwaitFile(game, dir_ / "running", status)) << Output();
  const std::vector<pid_t> drivers = ThreadsNamed(game, "llvmpipe");
  if (drivers.empty()) {
    Kill(game);
    GTEST_SKIP() << "the offscreen driver draws without the software renderer's threads";
  }
  {
    const ProcessorHold held(drivers);
    kill(game, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * Platform::kStuckWaitMs));
  }
  status = Wait(game, 120);
  const std::string output = Output();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status << "\n" << output;
  const size_t stop = output.find("[ Info  ][Base] SIGINT received: the game ends.\n");
  const size_t graphics = output.find("[ Info  ][Graphics] Shutting down Graphics Master\n");
  EXPECT_NE(graphics, std::string::npos) << output;
  EXPECT_LT(stop, graphics) << output;
  EXPECT_EQ(output.find("stuck"), std::string::npos) << output;
}

}  // namespace FaultHandlerTests
