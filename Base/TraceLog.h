// The engine's one diagnostic channel: level- and module-tagged lines on standard output.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Base {

enum TraceLevel : int32_t {
  TraceLevel_Error = 0,
  TraceLevel_Warning = 1,
  TraceLevel_Debug = 2,
  TraceLevel_Info = 3,
  TraceLevel_Verbose = 4,
};

enum TraceModule : uint32_t {
  TraceModule_Base = 0,
  TraceModule_Core = 1,
  TraceModule_Graphics = 2,
  TraceModule_Physics = 3,
  TraceModule_Audio = 4,
  TraceModule_Gameplay = 5,
  TraceModule_Lua = 6,
  TraceModule_Editor = 7,
  TraceModule_General = 8,
};

constexpr int kTraceLevelCount = 5;
constexpr int kTraceModuleCount = 9;

class TraceLog {
 public:
  static TraceLog& GetInstance();

  void Print(TraceLevel level, TraceModule module, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void PrintGeneral(TraceLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // A finished text (from a script): printed literally, never used as a format.
  void LogMsg(TraceLevel level, TraceModule module, const char* text);
  // A finished text that a failure repeats (a script hook failing on every frame): said once, its count
  // at the game's end (TraceRepeats::OfGameFrames).
  void LogMsgEach(TraceLevel level, TraceModule module, const char* text);

  void SetLevel(TraceLevel level) { m_level = level; }
  TraceLevel GetLevel() const { return m_level; }
  bool ModuleMuted(TraceModule module) const;
  void MuteAll(bool mute);
  void MuteAllButOne(TraceModule module);

  // The line as it would be written now (tags, colours, end of line), empty when it would not pass, and
  // the descriptor it would go to: for a signal handler, which writes it later with write(2) alone.
  std::string FixedLine(TraceLevel level, TraceModule module, const char* text) const;
  int OutputDescriptor() const { return fileno(m_output); }

  // Where lines go; standard output unless a test redirects it.
  void SetOutput(FILE* stream) { m_output = stream; }
  FILE* GetOutput() const { return m_output; }
  void SetConsole(bool on) { m_console = on; }

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

 private:
  TraceLog();
  bool Passes(TraceLevel level) const;
  void Write(TraceLevel level, TraceModule module, const char* body, va_list* args);
  void WriteNow(TraceLevel level, TraceModule module, const char* body, va_list* args);

  FILE* m_output;
  bool m_console = true;
  bool m_mutes[kTraceModuleCount] = {};
  TraceLevel m_level = TraceLevel_Verbose;
};

// Creates and wires a console for the process. Output already goes to the process's own
// standard streams here, so there is nothing to do.
void OpenConsole();

// The binding templates' non-fatal error report: "file(line) : message\n" on standard error.
// `condition` is the failed test's text and is not printed; a null format prints "No Error Message".
void ReportError(const char* condition, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace Base

// One line of a module at a level, both given by their short names: ORV_TRACE(Core, Warning, "...", ...).
// Each area wraps it once in its own Log.h (CORE_LOG, GFX_LOG, LUA_LOG, ...); no area spells Print itself.
#define ORV_TRACE(module, level, ...)                                                          \
  ::Base::TraceLog::GetInstance().Print(::Base::TraceLevel_##level, ::Base::TraceModule_##module, \
                                        __VA_ARGS__)
