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
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>
#include <unistd.h>
#include <vector>

#include "Platform/PreparedLine.h"

namespace Platform {

namespace {

// The watched connections. The windowing library keeps one per video start; a few suffice.
constexpr int kMostWatched = 8;
Display* g_watched[kMostWatched] = {};
std::mutex g_lock;  // the list, the names and the noted error; the handlers run on the thread whose call failed
char g_lostName[256] = {};
// The watch lasts from PrepareDisplayWatch to the video system's end (EndDisplayWatch), which gives back
// what it found: the X library's handlers, and SIGPIPE's disposition where the watch ignored it.
bool g_handlersInstalled = false;
XIOErrorHandler g_previousConnectionLost = nullptr;
XErrorHandler g_previousProtocolError = nullptr;
bool g_pipeIgnored = false;
// The display the program connects to (DISPLAY, taken as the watch starts, before the first
// connection): read by the probe of its server, which may run in a fault's signal handler, so it is
// written only while no window-system call is under way (the watch's start and end).
char g_displayName[256] = {};
DisplayNotices g_notices;

// A protocol error by its error and request: each distinct one is said once, however many there are.
struct ProtocolError {
  Display* display = nullptr;
  unsigned char code = 0, request = 0, minor = 0;
  bool operator==(const ProtocolError& other) const {
    return code == other.code && request == other.request && minor == other.minor;
  }
};
// The errors noted since the last settling (a frame's), each once, none of them said before.
std::vector<ProtocolError> g_noted;
// The errors said already.
std::vector<ProtocolError> g_said;

// The window-system calls in progress on this thread: a fault is the display's loss only on a thread
// inside one. Read by the fault handler, so its storage is the thread's static block, reached without
// a call.
thread_local int t_windowSystemCalls __attribute__((tls_model("initial-exec"))) = 0;
// Those that wait for the server's answer, on any thread (ProgramStop.h): only the main thread makes them.
std::atomic<int> g_waitingCalls{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The loss's line for the fault handler, made once the display's name is known.
PreparedLine g_faultLossLine;
// The window system's connections to the display's server, as the fault handler finds them: those its
// start opened (before any window is watched), and each watched display's. The descriptor the X library
// talks to the server on, and the socket's inode (a descriptor closed and taken again is not one).
struct OwnConnection {
  std::atomic<int> fd{-1};
  std::atomic<unsigned long> inode{0};
};
OwnConnection g_ownConnections[kMostWatched];
static_assert(std::atomic<unsigned long>::is_always_lock_free, "a signal handler reads it");
// The descriptors open at the last PrepareDisplayWatch, before the window system started: none is its.
constexpr int kMostDescriptors = 1024;
std::vector<bool> g_openBefore;

// Whether the recorded connection is still open as it was.
bool StillOpen(const OwnConnection& own) {
  struct stat status {};
  const int fd = own.fd.load();
  return fd >= 0 && fstat(fd, &status) == 0 && status.st_ino == own.inode.load();
}

// Adds a connection of the window system's, once, in place of one closed since (under g_lock).
void AddOwnConnection(int fd) {
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) return;
  for (OwnConnection& own : g_ownConnections)
    if (own.fd.load() == fd && own.inode.load() == status.st_ino) return;
  for (OwnConnection& own : g_ownConnections)
    if (!StillOpen(own)) {
      own.fd.store(-1);
      own.inode.store(status.st_ino);
      own.fd.store(fd);
      return;
    }
}

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

// The socket of a local server, as every X server here takes connections on ("/tmp/.X11-unix/X<n>",
// under the abstract name as well); false for a display reached over a network.
bool LocalServerSocket(char (&path)[64], size_t& size) {
  const char* name = g_displayName;
  if (std::strncmp(name, "unix:", 5) == 0) name += 4;
  if (name[0] != ':' || name[1] < '0' || name[1] > '9') return false;
  std::strcpy(path, "/tmp/.X11-unix/X");
  size = std::strlen(path);
  for (const char* digit = name + 1; *digit >= '0' && *digit <= '9' && size + 1 < sizeof path; ++digit)
    path[size++] = *digit;
  path[size] = '\0';
  return true;
}

// The display's number ("host:<n>.<screen>"), -1 when the name has none.
int DisplayNumber() {
  const char* colon = std::strrchr(g_displayName, ':');
  if (!colon || colon[1] < '0' || colon[1] > '9') return -1;
  return std::atoi(colon + 1);
}

// Whether `fd` is a connection to the display's server: its local socket, or its TCP port (6000 + n).
bool PeerIsDisplayServer(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
  const int number = DisplayNumber();
  if (peer.ss_family == AF_INET)
    return number >= 0 && ntohs(reinterpret_cast<const sockaddr_in&>(peer).sin_port) == 6000 + number;
  if (peer.ss_family == AF_INET6)
    return number >= 0 && ntohs(reinterpret_cast<const sockaddr_in6&>(peer).sin6_port) == 6000 + number;
  char path[64];
  size_t size = 0;
  if (peer.ss_family != AF_UNIX || !LocalServerSocket(path, size)) return false;
  // The server's name for its socket, abstract (a leading zero byte) or a file.
  const sockaddr_un& local = reinterpret_cast<const sockaddr_un&>(peer);
  const size_t pathLength = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
  const char* name = local.sun_path;
  size_t nameLength = strnlen(name, pathLength);
  if (pathLength > 0 && name[0] == '\0') {
    ++name;
    nameLength = pathLength - 1;
    while (nameLength > 0 && name[nameLength - 1] == '\0') --nameLength;
  }
  return nameLength == size && std::memcmp(name, path, size) == 0;
}

// Whether the connection the window system uses for the game's display has hung up: the server closed
// it, which a live server does not do to a client that is still talking to it. The same for every
// transport (a local socket, TCP); a connection of the program's that is not the window system's says
// nothing. Only system calls, so that a fault's signal handler may ask.
bool OwnConnectionHungUp() {
  for (const OwnConnection& own : g_ownConnections) {
    if (!StillOpen(own)) continue;
    pollfd state{own.fd.load(), POLLIN | POLLRDHUP, 0};
    if (poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLRDHUP | POLLERR))) return true;
  }
  return false;
}

// Whether nothing takes connections on the local server's socket (refused, or no socket any more).
bool NoServerListening(const char* path, size_t size) {
  // The abstract name first (Linux servers take both), then the file.
  for (const bool abstract : {true, false}) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path, size + 1);
    const socklen_t length =
        socklen_t(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + size + (abstract ? 0 : 1));
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool taken = connect(probe, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    const int reason = errno;
    close(probe);
    if (taken) return false;
    if (reason != ECONNREFUSED && reason != ENOENT) return false;
  }
  return true;
}

// Whether the display's server has gone: it hung up on the window system's connection, or (a local
// server) takes no connections at all, as before any window was made. An X server that ends drops its
// clients some milliseconds before it stops taking connections. Only system calls, so that a fault's
// signal handler may ask; errno is kept for the code it interrupted.
bool ServerGone() {
  const int saved = errno;
  char path[64];
  size_t size = 0;
  const bool gone = OwnConnectionHungUp() || (LocalServerSocket(path, size) && NoServerListening(path, size));
  errno = saved;
  return gone;
}

// The fault handler's line for the display, once both the name and the maker are known (under g_lock).
void PrepareFaultLossLine() {
  if (g_handlersInstalled && g_notices.lostLine)
    g_faultLossLine.Set(g_notices.lostLine(g_displayName[0] ? g_displayName : "(unnamed)"));
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
  if (g_lostName[0]) return 0;
  const ProtocolError noted{display, error->error_code, error->request_code, error->minor_code};
  if (std::find(g_said.begin(), g_said.end(), noted) != g_said.end()) return 0;
  if (std::find(g_noted.begin(), g_noted.end(), noted) == g_noted.end()) g_noted.push_back(noted);
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
  PrepareFaultLossLine();
}

void PrepareDisplayWatch() {
  std::lock_guard<std::mutex> hold(g_lock);
  // What is open now is not the window system's, should it start next.
  g_openBefore.assign(kMostDescriptors, false);
  for (int fd = 0; fd < kMostDescriptors; ++fd) g_openBefore[size_t(fd)] = fcntl(fd, F_GETFD) != -1;
  if (g_handlersInstalled) return;
  g_handlersInstalled = true;
  const char* name = std::getenv("DISPLAY");
  std::snprintf(g_displayName, sizeof g_displayName, "%s", name ? name : "");
  // A write to a server that has gone fails, and the X library takes that for the loss it is, where the
  // signal it raises by default would end the process without a word.
  struct sigaction broken {};
  if (sigaction(SIGPIPE, nullptr, &broken) == 0 && broken.sa_handler == SIG_DFL) {
    broken.sa_handler = SIG_IGN;
    g_pipeIgnored = sigaction(SIGPIPE, &broken, nullptr) == 0;
  }
  g_previousConnectionLost = XSetIOErrorHandler(OnConnectionLost);
  g_previousProtocolError = XSetErrorHandler(OnProtocolError);
  PrepareFaultLossLine();
}

void EndDisplayWatch() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return;
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_handlersInstalled) return;
  g_handlersInstalled = false;
  XSetIOErrorHandler(g_previousConnectionLost);
  XSetErrorHandler(g_previousProtocolError);
  struct sigaction broken {};
  if (g_pipeIgnored && sigaction(SIGPIPE, nullptr, &broken) == 0 && broken.sa_handler == SIG_IGN) {
    broken.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &broken, nullptr);
  }
  g_pipeIgnored = false;
  // The connections went with the video system; a display opened later may take a closed one's address.
  std::fill(std::begin(g_watched), std::end(g_watched), nullptr);
  for (OwnConnection& own : g_ownConnections) {
    own.fd.store(-1);
    own.inode.store(0);
  }
  g_openBefore.clear();
  g_noted.clear();
  g_said.clear();
  g_faultLossLine.Set({});
  g_displayName[0] = '\0';
  g_lostName[0] = '\0';
}

void ReleaseVideo() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  EndDisplayWatch();
}

void NoteDisplayConnections() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_handlersInstalled) return;
  for (int fd = 0; fd < kMostDescriptors; ++fd)
    if (!g_openBefore[size_t(fd)] && PeerIsDisplayServer(fd)) AddOwnConnection(fd);
}

std::string LostDisplayName() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lostName;
}

void SettleDisplayErrors() {
  std::vector<ProtocolError> noted;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    noted.swap(g_noted);
    if (noted.empty() || g_lostName[0]) return;
    // The server has gone, or is going: its loss, found before the connection itself fails.
    if (ServerGone()) {
      NoteLoss(noted.front().display);
      return;
    }
    g_said.insert(g_said.end(), noted.begin(), noted.end());
  }
  DisplayErrorSink say = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    say = g_notices.error;
  }
  for (const ProtocolError& error : noted) {
    char text[256] = {};
    XGetErrorText(error.display, error.code, text, sizeof text);
    const std::string line = std::string("An X request failed on the display ") + DisplayString(error.display) +
                             ": " + text + " in " + RequestName(error.display, error.request, error.minor) +
                             "; the game goes on.";
    if (say) say(line.c_str());
  }
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
      AddOwnConnection(ConnectionNumber(display));
      return;
    }
}

WindowSystemCall::WindowSystemCall(Kind kind) : m_kind(kind) {
  ++t_windowSystemCalls;
  if (m_kind == WaitsForServer) g_waitingCalls.fetch_add(1, std::memory_order_relaxed);
}

WindowSystemCall::~WindowSystemCall() {
  if (m_kind == WaitsForServer) g_waitingCalls.fetch_sub(1, std::memory_order_relaxed);
  --t_windowSystemCalls;
}

void EndIfFaultIsDisplayLoss() {
  if (t_windowSystemCalls == 0 || !ServerGone()) return;
  // Whatever the faulting call held (the heap's lock, stdio's, ours) may never be let go: the line made
  // ahead is written as it stands, and the process ends without a destructor or a flush. The log
  // flushes each line it writes, so none of its lines are held back.
  if (!g_faultLossLine.Write()) {
    static const char kPlain[] = "The display was lost: the game ends.\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kPlain, sizeof kPlain - 1);
  }
  // A stop signal that came first decides the end, as it does on the X library's road (EndAtOnce).
  EndAsStopSignalAsksNow();
  _exit(1);
}

}  // namespace Platform
