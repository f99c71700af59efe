// The crash handler: a fatal signal leaves a dump of the dying process under "dumps/" (when that
// folder exists in the working directory), then the signal's default handling ends the process.
#pragma once

namespace Platform {

// Installs the handler for the fatal signals (segmentation and bus faults, arithmetic and illegal
// instruction traps, aborts) on a stack of its own, so that a stack overflow can still be dumped.
// The dump is "dumps/CRASH_<month from 0>_<day>_<hour>_<minute>_<second>.dmp" in local time: two
// crashes in one second share a name and the later replaces the earlier.
void InstallCrashHandler();

}  // namespace Platform
