// The records of musical time shared by every music node: meter, stingers, markers and sync types.
#pragma once

#include <cmath>
#include <cstdint>

namespace SN {

// Where a transition or a stinger may take effect.
enum SnMusicSyncType : uint32_t {
  SnMusicSync_Immediate = 0,
  SnMusicSync_NextGrid = 1,
  SnMusicSync_NextBar = 2,
  SnMusicSync_NextBeat = 3,
  SnMusicSync_NextCue = 4,
  SnMusicSync_NextUserCue = 5,
  SnMusicSync_EntryCue = 6,
  SnMusicSync_ExitCue = 7,
  SnMusicSync_Count = 8,
};

// In samples at the output rate; the tempo as the bank stores it.
struct SnMusicMeter {
  float tempo = 0.0f;
  uint32_t beat = 0;
  uint32_t bar = 0;
  uint32_t gridPeriod = 0;
  uint32_t gridOffset = 0;
};

// The rate the engine mixes at unless asked for half of it: a meter that fits here fits everywhere.
constexpr uint32_t kMusicHighestSampleRate = 48000;

// A meter's beat and bar in samples at `rate`, the beat rounded to the nearest sample. False when the
// tempo is not a finite number above 0, a time signature number is 0, or the bar does not fit a signed
// 32-bit sample count: such a meter would misplace every later sync point. The bank builder refuses
// what the bank reader would refuse.
inline bool MusicMeterSamples(float tempo, uint8_t beatsPerBar, uint8_t beatValue, uint32_t rate, uint32_t& beat,
                              uint32_t& bar) {
  if (!std::isfinite(tempo) || tempo <= 0.0f || beatsPerBar == 0 || beatValue == 0) return false;
  const double rounded = (4.0 / beatValue) * (60.0 / double(tempo)) * rate + 0.5;
  if (!(rounded < 2147483648.0)) return false;
  const uint64_t whole = uint64_t(rounded), samples = uint64_t(beatsPerBar) * whole;
  if (samples > 2147483647u) return false;
  beat = uint32_t(whole);
  bar = uint32_t(samples);
  return true;
}

struct SnMusicStinger {
  uint32_t triggerId;
  uint32_t segmentId;  // 0: the trigger plays nothing
  uint32_t syncType;
  uint32_t cueFilter;  // 0: any cue
  uint32_t dontRepeatTime;
  uint32_t lookAheadSegments;
};
static_assert(sizeof(SnMusicStinger) == 24, "a stinger is six words in a bank");

struct SnMusicMarker {
  uint32_t id;
  uint32_t position;  // samples from the segment's beginning
  char* name;         // owned, NUL-terminated; null when the bank gives none
};

// Milliseconds as the bank stores them to samples at `rate`, rounded half away from zero. False
// when the value is not finite or does not fit a signed 32-bit sample count. Inline: the bank builder
// refuses the times the engine would.
inline bool MusicMsToSamples(double ms, uint32_t rate, int32_t& samples) {
  const double exact = double(rate) * ms * 0.001;
  if (!std::isfinite(exact)) return false;
  const double rounded = exact > 0.0 ? exact + 0.5 : exact - 0.5;
  // Truncation toward zero keeps the half-away-from-zero rounding.
  if (rounded >= 2147483648.0 || rounded <= -2147483649.0) return false;
  samples = int32_t(rounded);
  return true;
}
// Transition offsets: whole samples per millisecond times the milliseconds; false past a signed
// 32-bit sample count.
bool MusicOffsetToSamples(int32_t ms, uint32_t rate, int32_t& samples);

// ---- music time: signed 64-bit samples, where the maximum stands for "no time" ----
constexpr int64_t kMusicNoTime = INT64_MAX;
// The maximum stays the maximum; no sum or difference leaves the range. In place: every frame and
// every switch adds and takes music times many times over.
inline int64_t MusicTimeAdd(int64_t a, int64_t b) {
  if (a == kMusicNoTime || b == kMusicNoTime) return kMusicNoTime;
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
  return sum;
}
inline int64_t MusicTimeSub(int64_t a, int64_t b) {
  if (a == kMusicNoTime) return kMusicNoTime;
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) return b < 0 ? INT64_MAX : INT64_MIN;
  return difference;
}
// Into a 32-bit field, saturated.
int32_t MusicTimeToS32(int64_t t);
// Whole samples per millisecond (the integer rate / 1000) times the milliseconds, in 64 bits.
int64_t MusicRateMs(uint32_t rate, int64_t ms);
// Samples to milliseconds, rounded half away from zero, saturated into 32 bits.
int32_t MusicSamplesToMs(int64_t samples, uint32_t rate);

}  // namespace SN
