// The repeated-line filter in front of the trace log.
#include "Base/TraceRepeats.h"

#include <cstdio>
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

thread_local bool t_handsOver = false;

}  // namespace

TraceRepeats::HandOverScope::HandOverScope() : m_previous(t_handsOver) { t_handsOver = true; }
TraceRepeats::HandOverScope::~HandOverScope() { t_handsOver = m_previous; }
bool TraceRepeats::HandsOver() { return t_handsOver; }

TraceRepeats& TraceRepeats::GetInstance() {
  static TraceRepeats repeats(true);
  return repeats;
}

TraceRepeats& TraceRepeats::OfGameFrames() {
  static TraceRepeats repeats(false);
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
  char text[sizeof Line::text];
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (length < 0) return;
  Lines said;
  {
    std::unique_lock<std::mutex> guard(m_lock, std::defer_lock);
    // A handing-over thread never waits for the table: held elsewhere, the line goes over unfolded.
    if (t_handsOver && !guard.try_lock()) {
      HandOver(level, module, text);
      return;
    }
    if (!guard.owns_lock()) guard.lock();
    // Frames that ended while another thread held the table close their lines first, so that a line
    // due to close is said anew rather than counted.
    CloseDue(said);
    Line* line = Find(format, 0, level, module, m_stopped ? text : nullptr);
    if (m_stopped && !line) {
      // No frame will come to say the counts: a line of another kind says them. The lines stay kept,
      // so that calls of a few kinds taking turns are still counted rather than said each time.
      for (Line& other : m_lines)
        if (other.used) SayCount(other, said);
    }
    if (line) {
      ++line->repeats;
      line->lastFrame = m_frame.load(std::memory_order_acquire);
      if (id) NoteId(*line, *id);
    } else {
      Keep(format, 0, level, module, text, id, said);
      if (size_t(length) < sizeof text) {
        said.push_back({level, module, text});
      } else {
        // A line too long to keep is said whole; its count follows what was kept of it.
        std::string whole(size_t(length) + 1, '\0');
        vsnprintf(whole.data(), whole.size(), format, args);
        whole.pop_back();
        said.push_back({level, module, std::move(whole)});
      }
    }
  }
  // A line only counted writes nothing, nor the counts before it: counting never waits for the log.
  if (said.empty()) return;
  if (t_handsOver)
    HandOver(said);
  else
    Write(said);
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
  Lines said;
  {
    std::unique_lock<std::mutex> guard(m_lock, std::defer_lock);
    if (t_handsOver && !guard.try_lock()) {
      HandOver(level, module, text.c_str());
      return;
    }
    if (!guard.owns_lock()) guard.lock();
    if (m_holding) {
      const uint64_t hash = HashOf(text);
      if (Line* line = Find(nullptr, hash, level, module, nullptr)) {
        ++line->repeats;
        line->lastFrame = m_frame.load(std::memory_order_acquire);
        return;
      }
      Keep(nullptr, hash, level, module, text.c_str(), nullptr, said);
    }
  }
  said.push_back({level, module, text});
  if (t_handsOver)
    HandOver(said);
  else
    Write(said);
}

void TraceRepeats::Write(const Lines& said) {
  // The counts closed by frames before this line come before it.
  WriteClosed();
  for (const Said& line : said) TraceLog::GetInstance().LogMsg(line.level, line.module, line.text.c_str());
}

void TraceRepeats::HandOver(const Lines& said) {
  for (const Said& line : said) HandOver(line.level, line.module, line.text.c_str());
}

void TraceRepeats::HandOver(TraceLevel level, TraceModule module, const char* text) {
  if (!Push(level, module, text)) m_dropped.fetch_add(1, std::memory_order_relaxed);
}

bool TraceRepeats::Push(TraceLevel level, TraceModule module, const char* text) {
  uint32_t position = m_closedWritten.load(std::memory_order_relaxed);
  for (;;) {
    Closed& slot = m_closed[position % kClosed];
    const int32_t lag = int32_t(slot.sequence.load(std::memory_order_acquire) - position);
    if (lag < 0) return false;  // full: the slot's line of a turn ago is not written yet
    if (lag > 0) {
      position = m_closedWritten.load(std::memory_order_relaxed);
      continue;
    }
    if (m_closedWritten.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) break;
  }
  Closed& slot = m_closed[position % kClosed];
  slot.level = level;
  slot.module = module;
  strncpy(slot.text, text, sizeof slot.text - 1);
  slot.text[sizeof slot.text - 1] = '\0';
  slot.sequence.store(position + 1, std::memory_order_release);
  return true;
}

void TraceRepeats::WriteClosed() {
  // A handing-over thread writes nothing: each line it read here would come straight back.
  if (t_handsOver) return;
  std::lock_guard<std::mutex> turn(m_writeLock);
  for (;;) {
    Closed& closed = m_closed[m_closedRead % kClosed];
    if (closed.sequence.load(std::memory_order_acquire) != m_closedRead + 1) break;
    TraceLog::GetInstance().LogMsg(closed.level, closed.module, closed.text);
    // The slot is the writers' again once written.
    closed.sequence.store(m_closedRead + kClosed, std::memory_order_release);
    ++m_closedRead;
  }
  if (const uint32_t dropped = m_dropped.exchange(0, std::memory_order_relaxed))
    TraceLog::GetInstance().Print(TraceLevel_Warning, TraceModule_Audio,
                                  "Log: %u lines of the audio thread were not written: the hand-over to the log was full",
                                  dropped);
}

TraceRepeats::Line* TraceRepeats::Find(const char* format, uint64_t textHash, TraceLevel level, TraceModule module,
                                       const char* text) {
  for (Line& line : m_lines)
    if (line.used && line.format == format && line.textHash == textHash && line.level == level &&
        line.module == module && (!text || strcmp(line.text, text) == 0))
      return &line;
  return nullptr;
}

void TraceRepeats::Keep(const char* format, uint64_t textHash, TraceLevel level, TraceModule module,
                        const char* text, const uint32_t* id, Lines& said) {
  Line* slot = nullptr;
  for (Line& line : m_lines) {
    if (!line.used) {
      slot = &line;
      break;
    }
    if (!slot || line.lastFrame < slot->lastFrame) slot = &line;
  }
  // A full table gives up its stalest line: its count is said now rather than lost.
  if (slot->used) Close(*slot, said);
  slot->format = format;
  slot->textHash = textHash;
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
  const uint64_t frame = m_frame.fetch_add(1, std::memory_order_acq_rel) + 1;
  std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
  if (!lock.owns_lock()) return;  // the next line or frame closes them
  for (Line& line : m_lines) {
    if (!IsDue(line, frame)) continue;
    if (line.repeats) {
      char count[sizeof Closed::text];
      const uint32_t repeats = line.repeats, idCount = line.idCount;
      const bool moreIds = line.moreIds;
      FormatCount(line, count, sizeof count);
      if (!Push(line.level, line.module, count)) {
        // Closed by a later frame.
        line.repeats = repeats;
        line.idCount = idCount;
        line.moreIds = moreIds;
        break;
      }
    }
    line.used = false;
  }
}

void TraceRepeats::CloseDue(Lines& said) {
  const uint64_t frame = m_frame.load(std::memory_order_acquire);
  // A line known by its text may come again at any time (a collision, a level entered again): it waits
  // for the Flush.
  for (Line& line : m_lines)
    if (IsDue(line, frame)) Close(line, said);
}

void TraceRepeats::Flush() { CloseAll(nullptr); }

void TraceRepeats::Start() {
  const bool stopped = false;
  CloseAll(&stopped);
}

void TraceRepeats::Stop() {
  const bool stopped = true;
  CloseAll(&stopped);
}

void TraceRepeats::SetHolding(bool holding) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_holding = holding;
}

void TraceRepeats::CloseAll(const bool* stopped) {
  Lines said;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    for (Line& line : m_lines)
      if (line.used) Close(line, said);
    if (stopped) m_stopped = *stopped;
  }
  Write(said);
}

void TraceRepeats::Close(Line& line, Lines& said) {
  SayCount(line, said);
  line.used = false;
}

void TraceRepeats::SayCount(Line& line, Lines& said) {
  char count[sizeof Closed::text];
  if (FormatCount(line, count, sizeof count)) said.push_back({line.level, line.module, count});
}

bool TraceRepeats::FormatCount(Line& line, char* count, size_t size) {
  if (!line.repeats) return false;
  const uint32_t repeats = line.repeats;
  line.repeats = 0;
  if (!line.format) {
    // The count follows the text's first line: a script's traceback is not said again.
    snprintf(count, size, "%.*s (and %u times more)", int(strcspn(line.text, "\n")), line.text, repeats);
    return true;
  }
  if (!line.idCount) {
    snprintf(count, size, "%s (and %u more like it)", line.text, repeats);
    return true;
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
  snprintf(count, size, "%s (and %u more like it, also for %s)", line.text, repeats, ids);
  return true;
}

}  // namespace Base
