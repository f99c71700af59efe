// Lines that come again frame after frame: said once, then counted, and the count said once they stop.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "Base/TraceLog.h"

namespace Base {

// An area whose lines may repeat every frame (an error met by every voice, a call the game makes each
// frame) says them through this. A line is one call site (its format): the first saying is printed
// whole, the ones after it (of other voices, ids or values too) are only counted while they keep
// coming, and once a whole frame passed without one the count is printed after the first text. Any
// thread; the frames are the area's own.
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
  // A line known by its whole text, said once and counted until Flush.
  void PrintEach(TraceLevel level, TraceModule module, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // A finished text (a script's), printed literally: as PrintEach.
  void LogMsg(TraceLevel level, TraceModule module, const char* text);
  // A frame of the area ended: the lines not said in it nor in the one before are closed.
  void EndFrame();
  // Every line still counted is closed (the area stops, or a test leaves the log as found).
  void Flush();
  // Whether lines are held back and counted; the sound engine's instance always holds them.
  void SetHolding(bool holding);

  TraceRepeats(const TraceRepeats&) = delete;
  TraceRepeats& operator=(const TraceRepeats&) = delete;

 private:
  explicit TraceRepeats(bool holding) : m_holding(holding) {}
  struct Line {
    const char* format = nullptr;  // null for a line known by its text
    uint64_t textHash = 0;
    uint64_t lastFrame = 0;
    uint32_t repeats = 0;
    TraceLevel level = TraceLevel_Error;
    TraceModule module = TraceModule_General;
    char text[512] = {};
    bool used = false;
  };
  static constexpr uint32_t kLines = 64;
  Line* Find(const char* format, uint64_t textHash, TraceLevel level, TraceModule module);
  void Keep(const char* format, uint64_t textHash, TraceLevel level, TraceModule module, const char* text);
  void SayText(TraceLevel level, TraceModule module, const std::string& text);
  void Close(Line& line);

  std::mutex m_lock;
  bool m_holding;
  uint64_t m_frame = 0;
  Line m_lines[kLines];
};

}  // namespace Base
