// The repeated-line filter in front of the trace log.
#include "Base/TraceRepeats.h"

#include <cstdarg>
#include <cstring>
#include <string>

namespace Base {

TraceRepeats& TraceRepeats::GetInstance() {
  static TraceRepeats repeats;
  return repeats;
}

void TraceRepeats::Print(TraceLevel level, TraceModule module, const char* format, ...) {
  if (!format) return;
  std::lock_guard<std::mutex> guard(m_lock);
  if (Line* line = Find(format, level, module)) {
    ++line->repeats;
    line->lastFrame = m_frame;
    return;
  }
  char text[sizeof Line::text];
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  Keep(format, level, module, text);
  if (size_t(length) < sizeof text) {
    TraceLog::GetInstance().LogMsg(level, module, text);
    return;
  }
  // A line too long to keep is said whole; its count follows what was kept of it.
  std::string whole(size_t(length) + 1, '\0');
  va_start(args, format);
  vsnprintf(whole.data(), whole.size(), format, args);
  va_end(args);
  whole.pop_back();
  TraceLog::GetInstance().LogMsg(level, module, whole.c_str());
}

TraceRepeats::Line* TraceRepeats::Find(const char* format, TraceLevel level, TraceModule module) {
  for (Line& line : m_lines)
    if (line.used && line.format == format && line.level == level && line.module == module) return &line;
  return nullptr;
}

void TraceRepeats::Keep(const char* format, TraceLevel level, TraceModule module, const char* text) {
  Line* slot = nullptr;
  for (Line& line : m_lines) {
    if (!line.used) {
      slot = &line;
      break;
    }
    if (!slot || line.lastFrame < slot->lastFrame) slot = &line;
  }
  // A full table gives up its stalest line: its count is said now rather than lost.
  if (slot->used) Close(*slot);
  *slot = Line{format, m_frame, 0, level, module, {}, true};
  strncpy(slot->text, text, sizeof slot->text - 1);
}

void TraceRepeats::EndFrame() {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_frame;
  for (Line& line : m_lines)
    if (line.used && line.lastFrame + 2 <= m_frame) Close(line);
}

void TraceRepeats::Flush() {
  std::lock_guard<std::mutex> guard(m_lock);
  for (Line& line : m_lines)
    if (line.used) Close(line);
}

void TraceRepeats::Close(Line& line) {
  if (line.repeats)
    TraceLog::GetInstance().Print(line.level, line.module, "%s (and %u more like it)", line.text, line.repeats);
  line.used = false;
}

}  // namespace Base
