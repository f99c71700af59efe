// Trace log lines: "<level tag><module tag> text\n", coloured by level when writing to a terminal.
#include "Base/TraceLog.h"

#include "Base/TraceRepeats.h"

#include <string>
#include <unistd.h>

namespace Base {
namespace {

const char* const kLevelTags[kTraceLevelCount] = {"[ Error ]", "[Warning]", "[ Debug ]", "[ Info  ]",
                                                  "[Verbose]"};
const char* const kModuleTags[kTraceModuleCount] = {"[Base]",    "[Core]", "[Graphics]",
                                                    "[Physics]", "[Audio]", "[Gameplay]",
                                                    "[Lua]",     "[Editor]", "[General]"};
// The console attributes of the levels as ANSI colours: bright red, yellow, green, bright white, grey.
const char* const kLevelColours[kTraceLevelCount] = {"\x1b[91m", "\x1b[93m", "\x1b[32m", "\x1b[97m",
                                                     "\x1b[90m"};
const char* const kColourReset = "\x1b[0m";

bool ValidLevel(TraceLevel level) { return level >= 0 && level < kTraceLevelCount; }
bool ValidModule(TraceModule module) { return module < kTraceModuleCount; }

}  // namespace

TraceLog& TraceLog::GetInstance() {
  static TraceLog instance;
  return instance;
}

TraceLog::TraceLog() : m_output(stdout) {}

bool TraceLog::Passes(TraceLevel level) const { return ValidLevel(level) && level <= m_level && m_console; }

bool TraceLog::ModuleMuted(TraceModule module) const { return ValidModule(module) && m_mutes[module]; }

void TraceLog::MuteAll(bool mute) {
  for (bool& m : m_mutes) m = mute;
}

void TraceLog::MuteAllButOne(TraceModule module) {
  if (!ValidModule(module)) return;
  for (bool& m : m_mutes) m = true;
  m_mutes[module] = false;
}

void TraceLog::WriteNow(TraceLevel level, TraceModule module, const char* body, va_list* args) {
  std::string line = kLevelTags[level];
  line += kModuleTags[module];
  line += ' ';
  line += body;
  line += '\n';

  const bool colour = isatty(fileno(m_output)) != 0;
  if (colour) fputs(kLevelColours[level], m_output);
  if (args)
    vfprintf(m_output, line.c_str(), *args);
  else
    fputs(line.c_str(), m_output);
  if (colour) fputs(kColourReset, m_output);
  fflush(m_output);
}

std::string TraceLog::FixedLine(TraceLevel level, TraceModule module, const char* text) const {
  if (!ValidModule(module) || !Passes(level) || m_mutes[module]) return {};
  std::string line = kLevelTags[level];
  line += kModuleTags[module];
  line += ' ';
  line += text ? text : "";
  line += '\n';
  if (isatty(fileno(m_output)) != 0) line = kLevelColours[level] + line + kColourReset;
  return line;
}

void TraceLog::Write(TraceLevel level, TraceModule module, const char* body, va_list* args) {
  // A real-time thread's line goes to the thread that writes the log (TraceRepeats::HandOverScope).
  if (TraceRepeats::HandsOver()) {
    char text[1024];
    if (args)
      vsnprintf(text, sizeof text, body, *args);
    else
      snprintf(text, sizeof text, "%s", body);
    TraceRepeats::GetInstance().HandOver(level, module, text);
    return;
  }
  WriteNow(level, module, body, args);
}

void TraceLog::Print(TraceLevel level, TraceModule module, const char* format, ...) {
  if (!ValidModule(module) || !Passes(level) || m_mutes[module] || !format) return;
  va_list args;
  va_start(args, format);
  Write(level, module, format, &args);
  va_end(args);
}

void TraceLog::PrintGeneral(TraceLevel level, const char* format, ...) {
  if (!Passes(level) || !format) return;
  va_list args;
  va_start(args, format);
  Write(level, TraceModule_General, format, &args);
  va_end(args);
}

void TraceLog::LogMsg(TraceLevel level, TraceModule module, const char* text) {
  if (!ValidModule(module) || !Passes(level) || m_mutes[module]) return;
  Write(level, module, text ? text : "", nullptr);
}

void TraceLog::LogMsgEach(TraceLevel level, TraceModule module, const char* text) {
  TraceRepeats::OfGameFrames().LogMsg(level, module, text);
}

void OpenConsole() {}

void ReportError(const char* /*condition*/, const char* file, int line, const char* format, ...) {
  char message[2048 + 1];
  if (format) {
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
  } else {
    snprintf(message, sizeof message, "No Error Message");
  }
  fprintf(stderr, "%s(%d) : %s\n", file ? file : "", line, message);
  fflush(stderr);
}

}  // namespace Base
