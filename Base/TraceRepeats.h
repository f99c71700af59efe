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
class TraceRepeats {
 public:
  static TraceRepeats& GetInstance();

  void Print(TraceLevel level, TraceModule module, const char* format, ...) __attribute__((format(printf, 4, 5)));
  // A frame of the area ended: the lines not said in it nor in the one before are closed.
  void EndFrame();
  // Every line still counted is closed (the area stops, or a test leaves the log as found).
  void Flush();

  TraceRepeats(const TraceRepeats&) = delete;
  TraceRepeats& operator=(const TraceRepeats&) = delete;

 private:
  TraceRepeats() = default;
  struct Line {
    const char* format = nullptr;
    uint64_t lastFrame = 0;
    uint32_t repeats = 0;
    TraceLevel level = TraceLevel_Error;
    TraceModule module = TraceModule_General;
    char text[512] = {};
    bool used = false;
  };
  static constexpr uint32_t kLines = 64;
  Line* Find(const char* format, TraceLevel level, TraceModule module);
  void Keep(const char* format, TraceLevel level, TraceModule module, const char* text);
  void Close(Line& line);

  std::mutex m_lock;
  uint64_t m_frame = 0;
  Line m_lines[kLines];
};

}  // namespace Base
