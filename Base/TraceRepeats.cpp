// The repeated-line filter in front of the trace log.
#include "Base/TraceRepeats.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

namespace Base {

TraceRepeats& TraceRepeats::GetInstance() {
  static TraceRepeats repeats;
  return repeats;
}

void TraceRepeats::Print(TraceLevel level, TraceModule module, const char* format, ...) {
  if (!format) return;
  char text[sizeof Line::text];
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  // A line too long to keep is said whole, every time.
  if (size_t(length) >= sizeof text) {
    std::string whole(size_t(length) + 1, '\0');
    va_start(args, format);
    vsnprintf(whole.data(), whole.size(), format, args);
    va_end(args);
    whole.pop_back();
    TraceLog::GetInstance().LogMsg(level, module, whole.c_str());
    return;
  }
  const uint64_t hash = std::hash<std::string_view>{}(text) ^ (uint64_t(module) << 8 | uint64_t(level));
  std::lock_guard<std::mutex> guard(m_lock);
  if (Line* line = Find(hash, text)) {
    // Within the frame it was first said in, a line is said every time: several voices or calls may
    // meet it at once. Said again in a later frame, it repeats: from then on it is counted.
    if (line->lastFrame != m_frame || line->repeats) {
      ++line->repeats;
      line->lastFrame = m_frame;
      return;
    }
  } else {
    Keep(hash, level, module, text);
  }
  TraceLog::GetInstance().LogMsg(level, module, text);
}

TraceRepeats::Line* TraceRepeats::Find(uint64_t hash, const char* text) {
  for (Line& line : m_lines)
    if (line.used && line.hash == hash && strcmp(line.text, text) == 0) return &line;
  return nullptr;
}

void TraceRepeats::Keep(uint64_t hash, TraceLevel level, TraceModule module, const char* text) {
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
  *slot = Line{hash, m_frame, 0, level, module, {}, true};
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
    TraceLog::GetInstance().Print(line.level, line.module, "%s (said %u more times)", line.text, line.repeats);
  line.used = false;
}

}  // namespace Base
