// The end of a program's use of the platform: what areas keep for the whole run goes first, then SDL.
#pragma once

namespace Platform {

// Registers `step` to run at Shutdown, the latest registered first. An area above the platform that
// keeps an object for the whole run (the renderer's device) registers its release here, before `main`.
// A step may run more than once and does nothing when there is nothing left to release.
void AddShutdownStep(void (*step)());

// Runs the registered steps once each, then shuts every SDL subsystem down. Called last in `main`:
// windows are closed and the GL driver's worker threads joined before `main` returns, so no thread
// of ours or of the driver is left running while the process exits. Safe to call again. A graphics
// device still held after the steps is reported as an error and keeps SDL up, so that its release
// later still finds the driver it draws with.
void Shutdown();

}  // namespace Platform
