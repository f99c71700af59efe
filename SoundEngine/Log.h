// Trace-log lines of the sound engine (all its libraries): every line is tagged "[Audio]".
#pragma once

#include "Base/TraceRepeats.h"

// SOUND_LOG(Error, "invalid memory pool id %d", id)
#define SOUND_LOG(level, ...) ORV_TRACE(Audio, level, __VA_ARGS__)
// A line that may come every frame (an event posted while its bank is away, the plays of a bank on its
// way out): said once, then counted while it comes again frame after frame (the audio thread's frames),
// other ids and values alike, and its count said once a frame passed without it.
#define SOUND_LOG_REPEATING(level, ...) \
  ::Base::TraceRepeats::GetInstance().Print(::Base::TraceLevel_##level, ::Base::TraceModule_Audio, __VA_ARGS__)
// The same of a line about one object of many (an event, a file, a source): its count names the other
// ids it stood for, so that none of them goes unsaid.
#define SOUND_LOG_REPEATING_ABOUT(level, id, ...)                                                            \
  ::Base::TraceRepeats::GetInstance().PrintAbout(uint32_t(id), ::Base::TraceLevel_##level, ::Base::TraceModule_Audio, \
                                                 __VA_ARGS__)
