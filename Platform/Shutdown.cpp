// The steps run at the end of a program, and the SDL shutdown after them.
#include "Platform/Shutdown.h"

#include "Platform/Graphics/GlContext.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/ProgramStop.h"

#include <SDL2/SDL.h>

#include <vector>

namespace Platform {

namespace {

std::vector<void (*)()>& Steps() {
  static std::vector<void (*)()> steps;
  return steps;
}

}  // namespace

void AddShutdownStep(void (*step)()) {
  if (step) Steps().push_back(step);
}

void Shutdown() {
  // A step may release what an earlier-registered area still uses, never the reverse.
  const std::vector<void (*)()>& steps = Steps();
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) (*it)();
  // A device still held would make GL calls into an unloaded driver when it is released later:
  // SDL stays up for it, and the fault of whoever holds it is reported instead of a crash.
  if (int held = GlContext::LiveCount()) {
    GpuMessage(true, "%d graphics device(s) still held at shutdown; the driver's threads outlive it", held);
    return;
  }
  // A display whose server has gone still holds the game's window, which SDL would wait forever to
  // see hidden: the video system is left to the process's end.
  if (!LostDisplayName().empty()) return;
  // Windows still open are closed here; the last GL window unloads the driver, which joins its
  // rasteriser threads. Windows released later see video down and leave SDL alone.
  SDL_Quit();
  EndDisplayWatch();
}

}  // namespace Platform
