// The repeated-line filter in front of the trace log.
#include "Base/TraceRepeats.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace Base {

TraceRepeats& TraceRepeats::GetInstance() {
  static TraceRepeats repeats;
  return repeats;
}

void TraceRepeats::Print(TraceLevel level, TraceModule module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(nullptr, level, module, format, args);
  va_end(args);
}

void TraceRepeats::PrintAbout(uint32_t id, TraceLevel level, TraceModule module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Say(&id, level, module, format, args);
  va_end(args);
}

void TraceRepeats::Say(const uint32_t* id, TraceLevel level, TraceModule module, const char* format, va_list args) {
  if (!format) return;
  std::lock_guard<std::mutex> guard(m_lock);
  // Frames that ended while another thread held the table close their lines first, so that a line
  // due to close is said anew rather than counted.
  CloseDue();
  char text[sizeof Line::text];
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (length < 0) return;
  Line* line = Find(format, level, module, m_stopped ? text : nullptr);
  if (m_stopped && !line) {
    // No frame will come to say the counts: a line of another kind says them. The lines stay kept,
    // so that calls of a few kinds taking turns are still counted rather than said each time.
    for (Line& other : m_lines)
      if (other.used) SayCount(other);
  }
  if (line) {
    ++line->repeats;
    line->lastFrame = m_frame.load(std::memory_order_acquire);
    if (id) NoteId(*line, *id);
    return;
  }
  Keep(format, level, module, text, id);
  if (size_t(length) < sizeof text) {
    TraceLog::GetInstance().LogMsg(level, module, text);
  } else {
    // A line too long to keep is said whole; its count follows what was kept of it.
    std::string whole(size_t(length) + 1, '\0');
    vsnprintf(whole.data(), whole.size(), format, args);
    whole.pop_back();
    TraceLog::GetInstance().LogMsg(level, module, whole.c_str());
  }
  // Frames that ended while this line was being written.
  CloseDue();
}

TraceRepeats::Line* TraceRepeats::Find(const char* format, TraceLevel level, TraceModule module, const char* text) {
  for (Line& line : m_lines)
    if (line.used && line.format == format && line.level == level && line.module == module &&
        (!text || strcmp(line.text, text) == 0))
      return &line;
  return nullptr;
}

void TraceRepeats::Keep(const char* format, TraceLevel level, TraceModule module, const char* text,
                        const uint32_t* id) {
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
  slot->format = format;
  slot->lastFrame = m_frame.load(std::memory_order_acquire);
  slot->repeats = 0;
  slot->level = level;
  slot->module = module;
  strncpy(slot->text, text, sizeof slot->text - 1);
  slot->text[sizeof slot->text - 1] = '\0';
  slot->used = true;
  slot->hasId = id != nullptr;
  slot->moreIds = false;
  slot->firstId = id ? *id : 0;
  slot->idCount = 0;
}

void TraceRepeats::NoteId(Line& line, uint32_t id) {
  if (!line.hasId || id == line.firstId) return;
  for (uint32_t i = 0; i < line.idCount; ++i)
    if (line.ids[i] == id) return;
  if (line.idCount < kCountedIds)
    line.ids[line.idCount++] = id;
  else
    line.moreIds = true;
}

void TraceRepeats::EndFrame() {
  m_frame.fetch_add(1, std::memory_order_acq_rel);
  std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
  if (lock.owns_lock()) CloseDue();
}

void TraceRepeats::CloseDue() {
  const uint64_t frame = m_frame.load(std::memory_order_acquire);
  for (Line& line : m_lines)
    if (line.used && line.lastFrame + 2 <= frame) Close(line);
}

void TraceRepeats::Flush() {
  std::lock_guard<std::mutex> guard(m_lock);
  CloseAll();
}

void TraceRepeats::Start() {
  std::lock_guard<std::mutex> guard(m_lock);
  CloseAll();
  m_stopped = false;
}

void TraceRepeats::Stop() {
  std::lock_guard<std::mutex> guard(m_lock);
  CloseAll();
  m_stopped = true;
}

void TraceRepeats::CloseAll() {
  for (Line& line : m_lines)
    if (line.used) Close(line);
}

void TraceRepeats::Close(Line& line) {
  SayCount(line);
  line.used = false;
}

void TraceRepeats::SayCount(Line& line) {
  if (!line.repeats) return;
  const uint32_t repeats = line.repeats;
  line.repeats = 0;
  if (!line.idCount) {
    TraceLog::GetInstance().Print(line.level, line.module, "%s (and %u more like it)", line.text, repeats);
    return;
  }
  // "also for id 7", "also for ids 7, 9 and 11", "also for ids 7, 9, 11, 13 and 40 others".
  const uint32_t named = line.idCount < kNamedIds ? line.idCount : kNamedIds;
  char ids[128];
  int at = snprintf(ids, sizeof ids, "id%s", line.idCount > 1 ? "s" : "");
  for (uint32_t i = 0; i < named; ++i) {
    const bool last = i + 1 == named && line.idCount == named;
    at += snprintf(ids + at, sizeof ids - size_t(at), "%s %u", i == 0 ? "" : last ? " and" : ",", line.ids[i]);
  }
  if (line.idCount > named)
    snprintf(ids + at, sizeof ids - size_t(at), " and %s%u other%s", line.moreIds ? "over " : "",
             line.idCount - named, line.idCount - named > 1 || line.moreIds ? "s" : "");
  line.idCount = 0;
  line.moreIds = false;
  TraceLog::GetInstance().Print(line.level, line.module, "%s (and %u more like it, also for %s)", line.text, repeats,
                                ids);
}

}  // namespace Base
