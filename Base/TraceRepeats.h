// Lines that come again frame after frame: said once, then counted, and the count said once they stop.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Base/TraceLog.h"

namespace Base {

// An area whose lines may repeat every frame (an error met by every voice, a call the game makes each
// frame) says them through this. A line is one call site (its format): the first saying is printed
// whole, the ones after it (of other voices, ids or values too) are only counted while they keep
// coming, and once a whole frame passed without one the count is printed after the first text. A line
// about one object of many (an event, a file, a source) names it with PrintAbout, and its count names
// the other objects it folded. Any thread; the frames are the area's own.
//
// The game's frame loop has an instance of its own (OfGameFrames) for what fails on every frame or every
// lookup (a missing texture or font, a failing script): there a line is its whole text (PrintEach,
// LogMsg), so that two files are each said once, and it is counted until the game ends (Flush), however
// far apart it comes. It holds lines back only while the engine runs (SetHolding); outside, as in a test
// of one area, it says every line.
class TraceRepeats {
 public:
  // The sound engine's, stepped by its audio frames.
  static TraceRepeats& GetInstance();
  // The game loop's, stepped by the engine's frames.
  static TraceRepeats& OfGameFrames();

  void Print(TraceLevel level, TraceModule module, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // The same of a line about object `id`: its count says which other ids it stood for.
  void PrintAbout(uint32_t id, TraceLevel level, TraceModule module, const char* format, ...)
      __attribute__((format(printf, 5, 6)));
  // A line known by its whole text, said once and counted until Flush.
  void PrintEach(TraceLevel level, TraceModule module, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // A finished text (a script's), printed literally: as PrintEach.
  void LogMsg(TraceLevel level, TraceModule module, const char* text);
  // A frame of the area ended: the lines not said in it nor in the one before are closed. Called on
  // the area's real-time thread, so it never waits, writes nor allocates: when another thread holds
  // the table, the next line or frame closes them; the counts it closes are handed to WriteClosed
  // through a ring of fixed room, and a line whose count finds the ring full stays kept for a later
  // frame. No thread holds the table while a line is written.
  void EndFrame();
  // Writes the counts the frames closed, oldest first: on a thread that may wait for the log (the
  // game's, once a frame); every line said on another thread writes them first as well.
  void WriteClosed();
  // Every line still counted is closed (the area stops, or a test leaves the log as found).
  void Flush();
  // The area starts or stops its frames: every count is said. Stopped, no frame comes to say them, so
  // a line not kept yet (another call site, or another text) says them first.
  void Start();
  void Stop();
  // Whether lines are held back and counted; the sound engine's instance always holds them.
  void SetHolding(bool holding);

  // A real-time thread (the sound engine's audio thread) never writes the log: while a scope of this
  // lives on a thread, the lines it says (here and through TraceLog) are handed to WriteClosed through
  // the same ring of fixed room as the closed counts, folded as on any thread when the table is free
  // and handed over as they are when it is not. What finds the ring full is counted, and the count is
  // written with the next hand-over.
  class HandOverScope {
   public:
    HandOverScope();
    ~HandOverScope();
    HandOverScope(const HandOverScope&) = delete;
    HandOverScope& operator=(const HandOverScope&) = delete;

   private:
    bool m_previous;
  };
  static bool HandsOver();
  // A finished line of a handing-over thread, as it is.
  void HandOver(TraceLevel level, TraceModule module, const char* text);

  TraceRepeats(const TraceRepeats&) = delete;
  TraceRepeats& operator=(const TraceRepeats&) = delete;

 private:
  explicit TraceRepeats(bool holding) : m_holding(holding) {
    for (uint32_t i = 0; i < kClosed; ++i) m_closed[i].sequence.store(i, std::memory_order_relaxed);
  }
  // The distinct other ids a line's count names: a few by number, the rest counted up to this.
  static constexpr uint32_t kNamedIds = 4;
  static constexpr uint32_t kCountedIds = 64;
  struct Line {
    const char* format = nullptr;  // null for a line known by its text
    uint64_t textHash = 0;
    uint64_t lastFrame = 0;
    uint32_t repeats = 0;
    TraceLevel level = TraceLevel_Error;
    TraceModule module = TraceModule_General;
    char text[512] = {};
    bool used = false;
    bool hasId = false;
    bool moreIds = false;  // more distinct ids came than are kept
    uint32_t firstId = 0;
    uint32_t idCount = 0;
    uint32_t ids[kCountedIds] = {};
  };
  static constexpr uint32_t kLines = 64;
  // What a call has to say, written once the table is let go: no thread waits on another's output.
  struct Said {
    TraceLevel level;
    TraceModule module;
    std::string text;
  };
  using Lines = std::vector<Said>;
  void Say(const uint32_t* id, TraceLevel level, TraceModule module, const char* format, va_list args);
  void SayText(TraceLevel level, TraceModule module, const std::string& text);
  void Write(const Lines& said);
  // Into the ring, or counted as dropped when it is full.
  void HandOver(const Lines& said);
  bool Push(TraceLevel level, TraceModule module, const char* text);
  // The kept line of a call site or a text; with `text`, the one of a call site that said that text.
  Line* Find(const char* format, uint64_t textHash, TraceLevel level, TraceModule module, const char* text);
  void Keep(const char* format, uint64_t textHash, TraceLevel level, TraceModule module, const char* text,
            const uint32_t* id, Lines& said);
  static void NoteId(Line& line, uint32_t id);
  void CloseDue(Lines& said);
  bool IsDue(const Line& line, uint64_t frame) const { return line.used && line.format && line.lastFrame + 2 <= frame; }
  // Every line closed; `stopped`, when given, is the area's new state.
  void CloseAll(const bool* stopped);
  void Close(Line& line, Lines& said);
  // Its count, if any, said and begun again; the line stays kept.
  static void SayCount(Line& line, Lines& said);
  // The same into `text`: false when it has no count.
  static bool FormatCount(Line& line, char* text, size_t size);

  // A count closed by a frame or a line handed over, waiting for WriteClosed. Its writers (EndFrame,
  // handing-over threads) each claim a slot by its sequence and never wait; its readers take turns
  // under m_writeLock. A slot's sequence is its position when free and one past it when filled.
  struct Closed {
    std::atomic<uint32_t> sequence{0};
    TraceLevel level;
    TraceModule module;
    char text[sizeof Line::text + 192];
  };
  static constexpr uint32_t kClosed = 2 * kLines;
  Closed m_closed[kClosed];
  std::atomic<uint32_t> m_closedWritten{0};
  uint32_t m_closedRead = 0;  // under m_writeLock
  std::atomic<uint32_t> m_dropped{0};
  std::mutex m_writeLock;

  std::mutex m_lock;
  bool m_holding;
  std::atomic<uint64_t> m_frame{0};
  bool m_stopped = false;
  Line m_lines[kLines];
};

}  // namespace Base
