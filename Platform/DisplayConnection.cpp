// The watch on the X display connection of the program's windows. The X library calls its I/O error
// handler when a connection fails, then the connection's exit handler, which by default ends the
// process: from inside whatever call found the loss (a frame's present), running the exit's destructors
// under objects still in use. A watched connection gets an exit handler that returns instead; the
// library then marks it dead and its calls on it return without effect, and the program ends in order.
#include "Platform/ProgramStop.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace Platform {

namespace {

// The watched connections. The windowing library keeps one per video start; a few suffice.
constexpr int kMostWatched = 8;
Display* g_watched[kMostWatched] = {};
std::mutex g_lock;  // the list and the name; the handler runs on the thread whose X call failed
char g_lostName[256] = {};
bool g_handlerInstalled = false;

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

void ReturnFromLoss(Display*, void*) {}

int OnConnectionLost(Display* display) {
  bool watched = false;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_lostName[0]) {
      const char* name = display ? DisplayString(display) : nullptr;
      std::snprintf(g_lostName, sizeof g_lostName, "%s", name && name[0] ? name : "(unnamed)");
    }
    watched = Watched(display);
  }
  if (watched) return 0;
  // A connection without the returning exit handler: the library ends the process once this returns.
  // It ends here instead, without the destructors, as the stop would have ended it.
  std::fflush(nullptr);
  EndAsStopSignalAsks();
  _exit(1);
}

}  // namespace

std::string LostDisplayName() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_lostName;
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
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_handlerInstalled) {
    XSetIOErrorHandler(OnConnectionLost);
    g_handlerInstalled = true;
  }
  if (Watched(display)) return;
  for (Display*& slot : g_watched)
    if (!slot) {
      slot = display;
      XSetIOErrorExitHandler(display, ReturnFromLoss, nullptr);
      return;
    }
}

}  // namespace Platform
