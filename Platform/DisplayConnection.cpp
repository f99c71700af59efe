// The watch on the X display connections of the program. The X library calls its I/O error handler
// when a connection fails, then the connection's exit handler, which by default ends the process: from
// inside whatever call found the loss (a frame's present), running the exit's destructors under
// objects still in use. A watched connection gets an exit handler that returns instead; the library then
// marks it dead and its calls on it return without effect, and the program ends in order.
//
// A protocol error goes to the library's error handler, whose default prints it and ends the process
// the same way. The OpenGL driver makes one up itself when a server that is going away no longer knows
// the window it presents (GLXBadDrawable): such an error is noted here, and settled between two frames,
// when the server has either gone (its loss) or is still there (the error is said, the game goes on).
#include "Platform/ProgramStop.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <unistd.h>

namespace Platform {

namespace {

// The watched connections. The windowing library keeps one per video start; a few suffice.
constexpr int kMostWatched = 8;
Display* g_watched[kMostWatched] = {};
std::mutex g_lock;  // the list, the names and the noted error; the handlers run on the thread whose call failed
char g_lostName[256] = {};
bool g_handlersInstalled = false;
// The display the program connects to (DISPLAY, taken before the first connection): read by the
// probe of its server, which may run in a fault's signal handler, so it is never written after.
char g_displayName[256] = {};
DisplayNotices g_notices;

// A protocol error not settled yet; later ones before the settling are the same frame's.
struct NotedError {
  Display* display = nullptr;
  unsigned char code = 0, request = 0, minor = 0;
  bool noted = false;
};
NotedError g_noted;
// The errors said already, by error and request: each is said once.
struct SaidError {
  unsigned char code, request, minor;
};
constexpr int kMostSaid = 16;
SaidError g_said[kMostSaid] = {};
int g_saidCount = 0;

// Calls into the window system in progress, and those of them that wait for the server (ProgramStop.h):
// only the main thread makes them.
std::atomic<int> g_windowSystemCalls{0};
std::atomic<int> g_waitingCalls{0};
static_assert(std::atomic<int>::is_always_lock_free);

bool Watched(Display* display) {
  for (Display* watched : g_watched)
    if (watched == display) return true;
  return false;
}

// The X display the window is on; null under another window system.
Display* XDisplayOf(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
  return info.info.x11.display;
}

// Whether a local server, taking connections on its socket as every X server here does, refused one
// or has no socket any more: it has gone. A display of another host is never found gone. Only system
// calls, so that a fault's signal handler may ask.
bool LocalServerGone() {
  const char* name = g_displayName;
  if (std::strncmp(name, "unix:", 5) == 0) name += 4;
  if (name[0] != ':' || name[1] < '0' || name[1] > '9') return false;
  char path[64] = "/tmp/.X11-unix/X";
  size_t at = std::strlen(path);
  for (const char* digit = name + 1; *digit >= '0' && *digit <= '9' && at + 1 < sizeof path; ++digit)
    path[at++] = *digit;
  path[at] = '\0';
  // The abstract name first (Linux servers take both), then the file.
  for (const bool abstract : {true, false}) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path, at + 1);
    const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + at + (abstract ? 0 : 1));
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool taken = connect(probe, reinterpret_cast<const sockaddr*>(&address), size) == 0;
    const int reason = errno;
    close(probe);
    if (taken) return false;
    if (reason != ECONNREFUSED && reason != ENOENT) return false;
  }
  return true;
}

void NoteLoss(Display* display) {
  if (g_lostName[0]) return;
  const char* name = display ? DisplayString(display) : nullptr;
  if (!name || !name[0]) name = g_displayName[0] ? g_displayName : "(unnamed)";
  std::snprintf(g_lostName, sizeof g_lostName, "%s", name);
}

// Said, then the process ends as a noted stop would end it, without the exit's destructors.
[[noreturn]] void EndAtOnce(const char* display) {
  if (g_notices.lost) g_notices.lost(display);
  std::fflush(nullptr);
  EndAsStopSignalAsks();
  _exit(1);
}

void ReturnFromLoss(Display*, void*) {}

int OnConnectionLost(Display* display) {
  bool watched = false;
  std::string name;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    NoteLoss(display);
    name = g_lostName;
    watched = Watched(display);
  }
  if (watched && g_waitingCalls.load(std::memory_order_relaxed) == 0) return 0;
  // A connection without the returning exit handler (one the windowing library opened before the window
  // or for its wake-ups): the library ends the process once this returns. A call waiting for the server
  // would wait on for ever once this returns. It ends here instead.
  EndAtOnce(name.c_str());
}

int OnProtocolError(Display* display, XErrorEvent* error) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_noted.noted || g_lostName[0]) return 0;
  g_noted = {display, error->error_code, error->request_code, error->minor_code, true};
  return 0;
}

// "X_GLXSwapBuffers of GLX (150.11)": the request as the X library's error text names it.
std::string RequestName(Display* display, unsigned char request, unsigned char minor) {
  char number[32], text[256] = {};
  std::string extension;
  if (request < 128) {
    std::snprintf(number, sizeof number, "%u", request);
  } else {
    int count = 0;
    if (char** names = XListExtensions(display, &count)) {
      for (int i = 0; i < count && extension.empty(); ++i) {
        int opcode = 0, event = 0, error = 0;
        if (XQueryExtension(display, names[i], &opcode, &event, &error) && opcode == request) extension = names[i];
      }
      XFreeExtensionList(names);
    }
    std::snprintf(number, sizeof number, "%s.%u", extension.c_str(), minor);
  }
  XGetErrorDatabaseText(display, "XRequest", number, "", text, sizeof text);
  char codes[32];
  std::snprintf(codes, sizeof codes, request < 128 ? "%u" : "%u.%u", request, minor);
  std::string name = text[0] ? text : "an unnamed request";
  if (!extension.empty()) name += " of " + extension;
  return name + " (" + codes + ")";
}

}  // namespace

void SetDisplayNotices(DisplayNotices notices) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_notices = notices;
}

void PrepareDisplayWatch() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_handlersInstalled) return;
  g_handlersInstalled = true;
  const char* name = std::getenv("DISPLAY");
  std::snprintf(g_displayName, sizeof g_displayName, "%s", name ? name : "");
  // A write to a server that has gone fails, and the X library takes that for the loss it is, where the
  // signal it raises by default would end the process without a word.
  struct sigaction broken {};
  if (sigaction(SIGPIPE, nullptr, &broken) == 0 && broken.sa_handler == SIG_DFL) {
    broken.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &broken, nullptr);
  }
  XSetIOErrorHandler(OnConnectionLost);
  XSetErrorHandler(OnProtocolError);
}

std::string LostDisplayName() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lostName;
}

void SettleDisplayErrors() {
  NotedError noted;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    noted = std::exchange(g_noted, NotedError());
    if (!noted.noted || g_lostName[0]) return;
    // The server has gone, or is going: its loss, found before the connection itself fails.
    if (LocalServerGone()) {
      NoteLoss(noted.display);
      return;
    }
    for (int i = 0; i < g_saidCount; ++i)
      if (g_said[i].code == noted.code && g_said[i].request == noted.request && g_said[i].minor == noted.minor)
        return;
    if (g_saidCount < kMostSaid) g_said[g_saidCount++] = {noted.code, noted.request, noted.minor};
  }
  char error[256] = {};
  XGetErrorText(noted.display, noted.code, error, sizeof error);
  const std::string text = std::string("An X request failed on the display ") + DisplayString(noted.display) + ": " +
                           error + " in " + RequestName(noted.display, noted.request, noted.minor) +
                           "; the game goes on.";
  DisplayErrorSink say = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    say = g_notices.error;
  }
  if (say) say(text.c_str());
}

bool DisplayConnectionLost(SDL_Window* window) {
  Display* display = XDisplayOf(window);
  if (!display) return false;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!Watched(display)) return false;
  }
  // A round trip: a server that has gone is found here, not in a later call that waits on it.
  XSync(display, False);
  return !LostDisplayName().empty();
}

void WatchDisplayConnection(SDL_Window* window) {
  Display* display = XDisplayOf(window);
  if (!display) return;
  PrepareDisplayWatch();
  std::lock_guard<std::mutex> hold(g_lock);
  if (Watched(display)) return;
  for (Display*& slot : g_watched)
    if (!slot) {
      slot = display;
      XSetIOErrorExitHandler(display, ReturnFromLoss, nullptr);
      return;
    }
}

WindowSystemCall::WindowSystemCall(Kind kind) : m_kind(kind) {
  g_windowSystemCalls.fetch_add(1, std::memory_order_relaxed);
  if (m_kind == WaitsForServer) g_waitingCalls.fetch_add(1, std::memory_order_relaxed);
}

WindowSystemCall::~WindowSystemCall() {
  if (m_kind == WaitsForServer) g_waitingCalls.fetch_sub(1, std::memory_order_relaxed);
  g_windowSystemCalls.fetch_sub(1, std::memory_order_relaxed);
}

void EndIfFaultIsDisplayLoss() {
  if (g_windowSystemCalls.load(std::memory_order_relaxed) == 0 || !LocalServerGone()) return;
  // The lock may be the faulting call's own: the name is read without it, as the probe read it.
  EndAtOnce(g_lostName[0] ? g_lostName : g_displayName);
}

}  // namespace Platform
