// The repeated-line filter in front of the trace log.
#include "Base/TraceRepeats.h"

#include <cstdarg>
#include <cstring>
#include <string>

namespace Base {

namespace {

// FNV-1a: a line known by its text is found by this, the text itself being kept only in part.
uint64_t HashOf(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ uint8_t(c)) * 1099511628211ull;
  return hash;
}

}  // namespace

TraceRepeats& TraceRepeats::GetInstance() {
  static TraceRepeats repeats(true);
  return repeats;
}

TraceRepeats& TraceRepeats::OfGameFrames() {
  static TraceRepeats repeats(false);
  return repeats;
}

void TraceRepeats::Print(TraceLevel level, TraceModule module, const char* format, ...) {
  if (!format) return;
  std::lock_guard<std::mutex> guard(m_lock);
  if (Line* line = Find(format, 0, level, module)) {
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
  Keep(format, 0, level, module, text);
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

void TraceRepeats::PrintEach(TraceLevel level, TraceModule module, const char* format, ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length < 0) return;
  std::string text(size_t(length) + 1, '\0');
  va_start(args, format);
  vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.pop_back();
  SayText(level, module, text);
}

void TraceRepeats::LogMsg(TraceLevel level, TraceModule module, const char* text) {
  SayText(level, module, text ? text : "");
}

void TraceRepeats::SayText(TraceLevel level, TraceModule module, const std::string& text) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_holding) {
      const uint64_t hash = HashOf(text);
      if (Line* line = Find(nullptr, hash, level, module)) {
        ++line->repeats;
        line->lastFrame = m_frame;
        return;
      }
      Keep(nullptr, hash, level, module, text.c_str());
    }
  }
  TraceLog::GetInstance().LogMsg(level, module, text.c_str());
}

TraceRepeats::Line* TraceRepeats::Find(const char* format, uint64_t textHash, TraceLevel level, TraceModule module) {
  for (Line& line : m_lines)
    if (line.used && line.format == format && line.textHash == textHash && line.level == level &&
        line.module == module)
      return &line;
  return nullptr;
}

void TraceRepeats::Keep(const char* format, uint64_t textHash, TraceLevel level, TraceModule module,
                        const char* text) {
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
  *slot = Line{format, textHash, m_frame, 0, level, module, {}, true};
  strncpy(slot->text, text, sizeof slot->text - 1);
}

void TraceRepeats::EndFrame() {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_frame;
  // A line known by its text may come again at any time (a collision, a level entered again): it waits
  // for the Flush.
  for (Line& line : m_lines)
    if (line.used && line.format && line.lastFrame + 2 <= m_frame) Close(line);
}

void TraceRepeats::Flush() {
  std::lock_guard<std::mutex> guard(m_lock);
  for (Line& line : m_lines)
    if (line.used) Close(line);
}

void TraceRepeats::SetHolding(bool holding) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_holding = holding;
}

void TraceRepeats::Close(Line& line) {
  if (line.repeats && line.format) {
    TraceLog::GetInstance().Print(line.level, line.module, "%s (and %u more like it)", line.text, line.repeats);
  } else if (line.repeats) {
    // The count follows the text's first line: a script's traceback is not said again.
    const char* text = line.text;
    const int first = int(strcspn(text, "\n"));
    TraceLog::GetInstance().Print(line.level, line.module, "%.*s (and %u times more)", first, text,
                                  line.repeats);
  }
  line.used = false;
}

}  // namespace Base
