// Requests from outside that the program end: SIGINT (Ctrl+C), SIGTERM and SIGHUP (its terminal
// closed), and a display whose connection was lost (its X server ended). Each is noted where it
// arrives, in a signal handler or in the X library's error call from inside a frame, and answered by
// the program between two frames: the frame in progress finishes and the shutdown runs in its order,
// rather than the process ending from inside the frame with its objects half used.
#pragma once

#include <dirent.h>
#include <signal.h>

#include <string>
#include <vector>

struct SDL_Window;

namespace Platform {

struct StopRequest {
  enum Kind { None, Signal, DisplayLost };
  Kind kind = None;
  int signal = 0;       // SIGINT, SIGTERM or SIGHUP, for Signal
  std::string display;  // the display's name, for DisplayLost
};

// A line made ahead of time for a signal handler to write, which may neither format nor allocate: its
// whole text (colours and end of line included) and the descriptor it goes to. An empty text says nothing.
struct FixedLine {
  std::string text;
  int fd = -1;
};
// Makes the line for a name: a stop signal's ("SIGINT") or a display's (":1").
using FixedLineMaker = FixedLine (*)(const char* name);

// Installs the program's handlers of SIGINT, SIGTERM and SIGHUP, from the main thread. The first such
// signal is noted; any next one, of any of the three, ends the process at once, as that signal does by
// default, so that a program stuck in a frame can still be stopped. A signal the program was started
// with ignored (SIGINT of a shell's background job) stays ignored. The stop signals are the main
// thread's: the threads the program starts (StartThread) have them blocked.
// A stop the program is stuck in ends the process as the signal does by default, its stuck line said
// (SetStopSignalLines). Stuck is judged by the program's own progress (MarkProgress), not by the clock:
// after the stop, while no progress is marked, the program's threads are looked at every 20 ms. The
// time in which any of them ran on a processor is counted, and kStuckBusyMs of it ends the process (a
// loop that never reaches its next frame, on any thread). So does the time in which none of them ran or
// waited for a processor: kStuckWaitMs of it while none waits for the disk either (a present waiting
// for ever on an X server that does not answer), kStuckDiskMs while one does (a disk that never
// answers), in proportion for a mix. Where the threads' states cannot be read (no /proc), kStuckUnseenMs
// of that time: a waiting program cannot be told from one a loaded machine holds off its processors,
// and the stuck line says the threads were unseen. A program that moves, or waits on its own threads
// while a loaded machine keeps them from a processor, is not cut short.
void InstallStopSignalHandlers();
constexpr long kStuckWaitMs = 2000;
constexpr long kStuckDiskMs = 20000;
constexpr long kStuckUnseenMs = 10000;
constexpr long kStuckBusyMs = 10000;
// Marks the main thread's progress: each pass of the main loop and each system's start and shutdown.
// Cheap, from the main thread.
void MarkProgress();
// Whether a thread of the process, `except` (a thread id) aside, is running, waiting for a processor or
// waiting for the disk: the program has work under way, however slowly the machine lets it go.
// `tasks` is /proc/self/task, opened.
bool AnyThreadAtWork(DIR* tasks, long except);
// The same look, naming them: the ids of the threads at work, `except` aside, into `atWork` (emptied
// first). False when a thread's state could not be read (or `tasks` is null).
bool ThreadsAtWork(DIR* tasks, long except, std::vector<long>& atWork);
// Held while a thread of the program's is started: it starts with the stop signals blocked.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t m_previous;
};
// The line the first stop signal's handler says as it arrives, made now for each of the three: a second
// signal that ends the process before the frame in progress has finished no longer ends it unsaid.
// `stuck` makes, for each, the line said when the program is stuck in that stop and ended: it is
// called with the signal's name and a stand-in for how long the program was stuck ("2.1 s"), put in as
// the line is said.
using StuckLineMaker = FixedLine (*)(const char* signal, const char* stuckFor);
void SetStopSignalLines(FixedLineMaker received, StuckLineMaker stuck = nullptr);
// Whether the noted signal's handler said its line (it had one): the program then does not say it again.
bool StopSignalSaid();
// The request noted, or None. A signal outranks a lost display: Ctrl+C in the terminal of a virtual
// display ends its server as well, and what was asked for is the signal's end.
StopRequest PendingStop();
// The name of the display whose watched connection was lost (below), empty while none was. Any thread.
std::string LostDisplayName();
// "SIGINT", "SIGTERM", "SIGHUP", or "signal" for any other.
const char* StopSignalName(int signal);
// Called last, after the shutdown: a program stopped by a signal ends as that signal ends it, its
// output flushed (a shell sees the signal; the exit status reads 128 + its number). Returns when no
// signal was noted; a stop signal after that says nothing and ends the process as it does by default.
void EndAsStopSignalAsks();
// The same at once, without the flush, for a signal handler: returns when no stop signal has come.
void EndAsStopSignalAsksNow();
// Ends the process at once as `signal` does by default: its handler set aside, the signal let through
// on the calling thread and raised. Only calls a signal handler may make.
[[noreturn]] void EndBySignal(int signal);

// Watches the connection of the X display `window` is on (nothing for another window system): its
// loss is noted as a request to stop, and the X library's calls on it then return without effect,
// where the library would otherwise end the process from inside the call that found the loss. A
// connection of the windowing library's own that is not watched (it opens one more, for its wake-ups)
// ends the process at once when it finds the loss, without running the exit's destructors, in the
// way a noted stop would end it.
void WatchDisplayConnection(SDL_Window* window);
// Installs the X library's handlers before the first connection is made (a display check's), so that
// a loss found by any connection, watched or not, is the program's to say.
void PrepareDisplayWatch();
// Called as soon as the video system has started on the display, after PrepareDisplayWatch: the
// connections to the display's server opened since are the window system's (its display's and its
// wake-ups'), whose hang-up is the display's loss before any window is watched (see WindowSystemCall).
void NoteDisplayConnections();
// Ends the watch once the video system is down (it returns while the video system is up): the X
// library's handlers and SIGPIPE's disposition are given back as PrepareDisplayWatch found them, and
// the connections, the errors said and the display's name are forgotten, so that a program started
// again in the process watches the display DISPLAY then names, as the first one did.
void EndDisplayWatch();
// Lets go of one hold on the video system (each window and graphics context has one, and a display
// check that found one): the last one ends the display's watch.
void ReleaseVideo();

// What the program says of its display from inside the window system: `lost`, with the display's name,
// when its loss ends the process at once (see above, and EndIfFaultIsDisplayLoss); `error`, with the
// whole text, for a protocol error the game goes on after.
using DisplayLossSink = void (*)(const char* display);
using DisplayErrorSink = void (*)(const char* text);
struct DisplayNotices {
  DisplayLossSink lost = nullptr;
  DisplayErrorSink error = nullptr;
  // The loss's line as the fault handler writes it, made for the display's name once that is known.
  FixedLineMaker lostLine = nullptr;
};
void SetDisplayNotices(DisplayNotices notices);
// Settles the protocol errors noted since the last call, on the main thread between two frames: on a
// display whose server has gone they are the display's loss (LostDisplayName then names it); otherwise
// each distinct error and request is said, the first time it comes, however many come in a frame or in
// all, and nothing else follows from them.
void SettleDisplayErrors();

// Marks a call into the window system (a window made, the drawing context made, a frame presented) for
// its length, on the thread that makes it. The OpenGL driver may fault inside one when the server goes
// away under it: a fault on that thread while the display's server has gone (the connection the window
// system uses for the display hung up, whatever its transport, or, for a local server, nothing takes
// connections on its socket) is the display's loss, said as one and ended at once, exit code 1, or as
// a stop signal that came before it asks. Another connection of the program's to that server that was
// closed says nothing. A fault on any other thread is an ordinary crash.
// A call that waits for the server's answer (a window shown waits to see it mapped) would wait forever
// once the connection is lost inside it: that loss, too, is said and ended at once.
struct WindowSystemCall {
  enum Kind { Returns, WaitsForServer };
  explicit WindowSystemCall(Kind kind = Returns);
  ~WindowSystemCall();
  WindowSystemCall(const WindowSystemCall&) = delete;
  WindowSystemCall& operator=(const WindowSystemCall&) = delete;

 private:
  Kind m_kind;
};
// Called by the fault handler, on the faulting thread, before it says anything: returns when the fault is
// not such a loss.
// Only calls a signal handler may make: the loss's line (DisplayNotices::lostLine) by write(2), then the
// end (EndAsStopSignalAsksNow, or _exit).
void EndIfFaultIsDisplayLoss();
// Whether the watched connection of `window`'s display is lost, asked of the server itself: the window
// system waits forever on a server that has gone for some of its replies (a window's hiding, before it
// is destroyed), and the window's owner then leaves the window and the video system as they are.
// False for a window on another window system.
bool DisplayConnectionLost(SDL_Window* window);

}  // namespace Platform
