// The engine's text file wrapper.
#include "Base/Serialization/File.h"

#include <locale.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Base/Log.h"
#include "Base/Serialization/TextBytes.h"

namespace Base {
namespace {

// Text files must read the same whatever locale the process runs in: every formatted read and write
// that goes through the C library switches this thread to the "C" locale for its duration (the global
// locale is left alone).
class CLocaleScope {
 public:
  CLocaleScope() : m_previous(uselocale(Locale())) {}
  ~CLocaleScope() { uselocale(m_previous); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  static locale_t Locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c ? c : LC_GLOBAL_LOCALE;
  }
  locale_t m_previous;
};

// White space as the "C" locale's isspace sees it, which is what fscanf's "%s" stops at.
constexpr std::array<bool, 256> kBlanks = [] {
  std::array<bool, 256> blanks{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) blanks[c] = true;
  return blanks;
}();
bool IsBlank(int c) { return c != EOF && kBlanks[static_cast<unsigned char>(c)]; }

#if defined(__SSE2__)
using TextBytes::BlankMask16;
#endif
using TextBytes::SameBytes;


// The first character in [p, end) that is not blank / that is blank, or end. Sixteen bytes at a time
// where they are there: a line's indentation or a token then ends without a mispredicted branch per
// byte; the last few bytes of the window go one by one.
const char* SkipBlanks(const char* p, const char* end) {
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16)
    if (const unsigned other = ~BlankMask16(p) & 0xFFFFu) return p + __builtin_ctz(other);
#endif
  while (p < end && IsBlank(static_cast<unsigned char>(*p))) ++p;
  return p;
}
const char* SkipNonBlanks(const char* p, const char* end) {
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16)
    if (const unsigned blanks = BlankMask16(p)) return p + __builtin_ctz(blanks);
#endif
  while (p < end && !IsBlank(static_cast<unsigned char>(*p))) ++p;
  return p;
}
bool IsDigit(int c) { return unsigned(c - '0') <= 9u; }

// For letters only: the lower-case letter for either case (EOF stays EOF).
int Lower(int c) { return c | 0x20; }

const char* ModeString(int mode) {
  switch (mode) {
    case File::Mode_Read:
      return "r";
    case File::Mode_Write:
      return "w";
    case File::Mode_Append:
      return "a";
    default:
      return nullptr;
  }
}

// --- Numbers ----------------------------------------------------------------------------------------------

constexpr float kFloatPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr double kDoublePowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A decimal number taken digit by digit: up to 19 significant digits times a power of ten. When the
// digits and the power of ten are both exact in the target type, one multiplication or division gives
// the correctly rounded value, the same as strtof / strtod; other numbers go to std::from_chars.
struct DecimalDigits {
  void Add(int digit, bool afterPoint) {
    if (significant == 19) {
      exact = false;
      return;
    }
    mantissa = mantissa * 10 + uint64_t(digit);
    if (mantissa != 0) ++significant;
    if (afterPoint) --scale;
  }

  template <class T, size_t kPowers>
  bool Convert(T& value, uint64_t largest, const T (&powers)[kPowers]) const {
    constexpr int kLargestPower = int(kPowers) - 1;
    if (!exact) return false;
    uint64_t digits = mantissa;
    int power = scale + (exponentNegative ? -exponent : exponent);
    if (digits == 0) {
      value = T(0);
      return true;
    }
    // "%f" writes six decimals: 20.000000 is 20.
    while (power < 0 && digits % 10 == 0 && (digits > largest || power < -kLargestPower)) {
      digits /= 10;
      ++power;
    }
    if (digits > largest || power < -kLargestPower || power > kLargestPower) return false;
    value = power < 0 ? T(digits) / powers[-power] : T(digits) * powers[power];
    return true;
  }

  uint64_t mantissa = 0;
  int significant = 0;
  int scale = 0;  // minus the digits after the point
  int exponent = 0;
  bool exponentNegative = false;
  bool exact = true;
};

// --- Scanning the loaded bytes ----------------------------------------------------------------------------

// ScanText's answer for a format or an input it leaves to the C library.
constexpr int kUnsupported = INT_MIN;

// A read position over the loaded bytes with the stream's end-of-file flag, kept in locals while a
// format is scanned.
struct Cursor {
  int Get() {
    if (at < end) return *at++;
    atEnd = hitEnd = true;
    return EOF;
  }
  void Unget(int c) {
    if (c == EOF) return;
    --at;
    atEnd = false;
  }
  // Reads blanks up to the next character, which stays unread.
  void SkipBlanks() {
    at = reinterpret_cast<const unsigned char*>(
        Base::SkipBlanks(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(end)));
    if (at == end) atEnd = hitEnd = true;
  }

  const unsigned char* at;
  const unsigned char* end;
  bool atEnd;
  bool hitEnd = false;  // some read found no byte
};

constexpr uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of eight decimal digits, one per byte (0 .. 9), the first in the lowest byte.
uint64_t EightDigitsValue(uint64_t digits) {
  digits = digits * 10 + (digits >> 8);
  return (((digits & 0x000000FF000000FFu) * (100 + (uint64_t(1000000) << 32))) +
          (((digits >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t(10000) << 32)))) >>
         32;
}

// The value of the `count` (0 .. 8) decimal digits at p; eight bytes are read.
uint64_t DigitsValue(const unsigned char* p, int count) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  return count > 0 ? EightDigitsValue((word - 0x3030303030303030u) << (8 * (8 - count))) : 0;
}

// The digits at the start of the eight bytes at p: their count (8 when all eight are digits) and value.
int DigitsInWord(const unsigned char* p, uint64_t& value) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  const uint64_t digits = word - 0x3030303030303030u;
  // A byte's top bit is set when it is below '0' or above '9'; a borrow or carry from such a byte
  // changes only the bytes after it, so the first marked byte is the first that is no digit.
  const uint64_t others = ((word + 0x4646464646464646u) | digits) & 0x8080808080808080u;
  const int count = others == 0 ? 8 : __builtin_ctzll(others) >> 3;
  value = DigitsValue(p, count);
  return count;
}

// The run of digits from p on, appended to `mantissa` (mantissa * 10 + digit for each; past 19 digits
// the caller counts again). Eight bytes at a time while eight are there: a "%f" number's six decimals
// and its integer part each take one step.
const unsigned char* TakeDigits(const unsigned char* p, const unsigned char* end, uint64_t& mantissa) {
  while (end - p >= 8) {
    uint64_t value;
    const int count = DigitsInWord(p, value);
    mantissa = mantissa * kPowersOfTen[count] + value;
    p += count;
    if (count < 8) return p;
  }
  for (; p < end && IsDigit(*p); ++p) mantissa = mantissa * 10 + uint64_t(*p - '0');
  return p;
}

// The decimals at p (`count` digits, fewer than eight) without their trailing zeros: how many are left,
// and their value in `value`. "%f" writes six decimals, mostly ending in zeros (20.000000 is 20): without
// them the value is put together from fewer digits and nearly every such number takes the one exact step.
int DecimalsWithoutTrailingZeros(const unsigned char* p, int count, uint64_t& value) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  const uint64_t digits = (word - 0x3030303030303030u) & (count > 0 ? ~uint64_t(0) >> (8 * (8 - count)) : 0);
  // The top bit of each byte that holds a digit other than 0; the last of them ends the kept decimals.
  const uint64_t nonZero = (((digits & 0x7F7F7F7F7F7F7F7Fu) + 0x7F7F7F7F7F7F7F7Fu) | digits) & 0x8080808080808080u;
  const int kept = nonZero == 0 ? 0 : (63 - __builtin_clzll(nonZero)) / 8 + 1;
  value = kept > 0 ? EightDigitsValue(digits << (8 * (8 - kept))) : 0;
  return kept;
}

constexpr int kNotPlain = INT_MIN + 1;

// m * 10^-k in double, rounded to float, is m / 10^k correctly rounded for every m up to 2^24 and k up
// to 7 (the plain numbers' decimals): the double result is within 2^-52 of the quotient (relative),
// and a quotient lies at least 1 / (2^25 * 10^7), about 2^-48.3, from every float midpoint it is not.
// It is never one: m / 10^k is a binary fraction only when 5^k divides m, and then has at most 24 bits.
constexpr double kFloatScales[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};

// A "%f"-shaped number from its parts: the integer digits' value, the decimals at `fraction`
// (`fractionDigits` of them, fewer than eight) and their value. False where the exact conversion cannot
// give the value, which the general reading then takes.
template <class T>
[[gnu::always_inline]] inline bool PlainNumberValue(bool negative, uint64_t integer, const unsigned char* fraction,
                                                    int fractionDigits, uint64_t decimals, T& out) {
  constexpr uint64_t kExact = sizeof(T) == sizeof(float) ? uint64_t(1) << 24 : uint64_t(1) << 53;
  int kept = fractionDigits;
  uint64_t mantissa = integer * kPowersOfTen[kept] + decimals;
  // Too many digits for the exact step: the same number with its trailing zeros gone has the same
  // correctly rounded value, and mostly fewer.
  if (mantissa > kExact) {
    kept = DecimalsWithoutTrailingZeros(fraction, fractionDigits, decimals);
    mantissa = integer * kPowersOfTen[kept] + decimals;
  }
  T value;
  if (mantissa <= kExact) {
    // Digits and power of ten both exact: one correctly rounded division, as DecimalDigits::Convert does.
    // A float's is a multiplication in double instead, a third of a division's latency and the same
    // value: see kFloatScales.
    if constexpr (sizeof(T) == sizeof(float))
      value = T(double(mantissa) * kFloatScales[kept]);
    else
      value = T(mantissa) / kDoublePowers[kept];
  } else {
    DecimalDigits number;
    number.mantissa = mantissa;
    number.scale = -kept;
    bool converted;
    if constexpr (sizeof(T) == sizeof(float))
      converted = number.Convert(value, kExact, kFloatPowers);
    else
      converted = number.Convert(value, kExact, kDoublePowers);
    if (!converted) return false;
  }
  out = negative ? -value : value;
  return true;
}

// The shape "%f" writes, [-+]digits.digits with fewer than eight digits on each side, read straight
// from two words of the text at p, which must have 24 bytes to read. The end of the number, or null for
// anything else (or a value the exact conversion cannot give), which the general reading then takes.
template <class T>
[[gnu::always_inline]] inline const unsigned char* PlainNumberAt(const unsigned char* p, T& out) {
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint64_t integer;
  const int integerDigits = DigitsInWord(p, integer);
  if (integerDigits == 0 || integerDigits == 8 || p[integerDigits] != '.') return nullptr;
  const unsigned char* const fraction = p + integerDigits + 1;
  uint64_t decimals;
  const int fractionDigits = DigitsInWord(fraction, decimals);
  if (fractionDigits == 8 || Lower(fraction[fractionDigits]) == 'e') return nullptr;
  if (!PlainNumberValue(negative, integer, fraction, fractionDigits, decimals, out)) return nullptr;
  return fraction + fractionDigits;
}

// PlainNumberAt from the character just read; kNotPlain where it gives nothing.
template <class T>
[[gnu::always_inline]] inline int ScanPlainNumber(Cursor& in, T* out) {
  const unsigned char* p = in.at - 1;
  if (in.end - p < 24) return kNotPlain;
  T value;
  const unsigned char* const end = PlainNumberAt(p, value);
  if (!end) return kNotPlain;
  in.at = end;
  if (out) *out = value;
  return 1;
}

// A float or double conversion from the character just read: takes what glibc's scanf gathers (a sign,
// digits with one point, then after a digit an exponent mark with its sign and digits) and converts it
// as strtof / strtod would. Like scanf, it looks at one character past the number: at the end of the
// text that sets the end-of-file flag.
template <class T>
int ScanNumber(Cursor& in, T* out) {
  if (const int scanned = ScanPlainNumber(in, out); scanned != kNotPlain) return scanned;
  const unsigned char* p = in.at - 1;
  const unsigned char* const start = p;
  const unsigned char* const end = in.end;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  DecimalDigits number;
  bool digit = false;
  if (p < end) {
    if (Lower(*p) == 'n' || Lower(*p) == 'i') return kUnsupported;  // infinities and NaNs
    if (*p == '0') {
      ++p;
      if (p < end && Lower(*p) == 'x') return kUnsupported;  // hexadecimal
      digit = true;
    }
    // Both runs of digits in one tight pass each: up to 19 digits in all fit the mantissa as they
    // stand; longer runs are counted again digit by digit to keep their first 19 significant ones.
    uint64_t mantissa = 0;
    const unsigned char* const integer = p;
    p = TakeDigits(p, end, mantissa);
    const unsigned char* const integerEnd = p;
    const unsigned char* fraction = p;
    if (p < end && *p == '.') {
      fraction = ++p;
      p = TakeDigits(p, end, mantissa);
    }
    const ptrdiff_t fractionDigits = p - fraction;
    const ptrdiff_t digits = (integerEnd - integer) + fractionDigits;
    digit = digit || digits > 0;
    if (digits <= 19) {
      number.mantissa = mantissa;
      number.scale = -int(fractionDigits);
    } else {
      for (const unsigned char* q = integer; q < integerEnd; ++q) number.Add(*q - '0', false);
      for (const unsigned char* q = fraction; q < p; ++q) number.Add(*q - '0', true);
    }
    if (digit && p < end && Lower(*p) == 'e') {
      ++p;
      if (p < end && (*p == '-' || *p == '+')) number.exponentNegative = *p++ == '-';
      for (; p < end && IsDigit(*p); ++p)
        if (number.exponent < 100000) number.exponent = number.exponent * 10 + (*p - '0');
    }
  }
  in.at = p;
  if (p == end) in.atEnd = in.hitEnd = true;
  if (!digit) return 0;  // nothing but a sign or a point
  T value;
  bool converted;
  if constexpr (sizeof(T) == sizeof(float))
    converted = number.Convert(value, uint64_t(1) << 24, kFloatPowers);
  else
    converted = number.Convert(value, uint64_t(1) << 53, kDoublePowers);
  if (converted) {
    if (negative) value = -value;
  } else {
    const char* first = reinterpret_cast<const char*>(start + (*start == '+' ? 1 : 0));
    const auto result = std::from_chars(first, reinterpret_cast<const char*>(p), value);
    if (result.ec != std::errc()) return kUnsupported;  // out of range: the C library's own value
  }
  if (out) *out = value;
  return 1;
}

// A "%d" (int) or "%u" (unsigned) conversion from the character just read: a sign and digits, and one
// look past them (the end-of-file flag at the end of the text). 0 when no digit follows, else 1 (the
// value stored unless `out` is null).
template <class T>
int ScanInteger(Cursor& in, int c, T* out) {
  const unsigned char* p = in.at - 1;
  const bool negative = c == '-';
  if (c == '-' || c == '+') ++p;
  const unsigned char* const digits = p;
  // As strtol / strtoul on the digits: clamped to the 64-bit range, then cut to 32 bits.
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; p < in.end && IsDigit(*p); ++p) {
    const uint64_t digit = uint64_t(*p - '0');
    if (magnitude > (UINT64_MAX - digit) / 10)
      overflow = true;
    else
      magnitude = magnitude * 10 + digit;
  }
  in.at = p;
  if (p == in.end) in.atEnd = in.hitEnd = true;
  if (p == digits) return 0;
  if (!out) return 1;
  if constexpr (std::is_signed_v<T>) {
    int64_t value;
    if (negative)
      value = overflow || magnitude > uint64_t(INT64_MAX) + 1 ? INT64_MIN : int64_t(0 - magnitude);
    else
      value = overflow || magnitude > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(magnitude);
    *out = T(value);
  } else {
    const uint64_t value = overflow ? UINT64_MAX : negative ? 0 - magnitude : magnitude;
    *out = T(value);
  }
  return 1;
}

// A "%d" or "%u" number as the writers put it, [-+] and up to fifteen digits, read from two words of
// the text at p (which must have 24 bytes to read) and cut to T as ScanInteger does. The end of the
// number, or null where it is not that shape.
template <class T>
const unsigned char* PlainIntegerAt(const unsigned char* p, T& out) {
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint64_t magnitude;
  int digits = DigitsInWord(p, magnitude);
  if (digits == 0) return nullptr;
  if (digits == 8) {
    uint64_t low;
    const int more = DigitsInWord(p + 8, low);
    if (more == 8) return nullptr;
    magnitude = magnitude * kPowersOfTen[more] + low;
    digits += more;
  }
  if constexpr (std::is_signed_v<T>)
    out = T(negative ? -int64_t(magnitude) : int64_t(magnitude));
  else
    out = T(negative ? 0 - magnitude : magnitude);
  return p + digits;
}

// Scan("%d"), Scan("%u"), Scan("%f") or Scan("%lf") by the type of `out`, without a format to walk.
template <class T>
int ScanSingle(Cursor& in, T* out) {
  in.SkipBlanks();
  const int c = in.Get();
  if (c == EOF) return EOF;
  if constexpr (std::is_floating_point_v<T>)
    return ScanNumber(in, out);
  else
    return ScanInteger(in, c, out);
}

// What glibc's fscanf does for white space, literal characters and the conversions %c, %s, %d, %u and
// %e/%f/%g (also with 'l'), with or without '*': the same characters consumed, the same character put
// back, the same values, count and end-of-file flag. Widths on numbers, other conversions, and
// infinities, NaNs, hexadecimal and out-of-range floats in the input are left to the C library.
int ScanText(Cursor& in, const char* format, va_list args) {
  int done = 0;
  bool skipSpace = false;
  const auto inputError = [&done] { return done == 0 ? EOF : done; };
  for (const char* f = format; *f != '\0';) {
    const int fc = static_cast<unsigned char>(*f++);
    if (fc >= 0x80) return kUnsupported;  // multibyte format characters
    if (fc != '%') {
      if (IsBlank(fc)) {
        skipSpace = true;
        continue;
      }
      int c = in.Get();
      if (c == EOF) return inputError();
      if (skipSpace) {
        while (IsBlank(c))
          if ((c = in.Get()) == EOF) return inputError();
        skipSpace = false;
      }
      if (c != fc) {
        in.Unget(c);
        return done;
      }
      continue;
    }

    const bool suppress = *f == '*';
    if (suppress) ++f;
    int width = -1;
    if (IsDigit(*f)) {
      width = 0;
      while (IsDigit(*f) && width < 100000) width = width * 10 + (*f++ - '0');
      if (width == 0 || IsDigit(*f) || *f == '$') return kUnsupported;
    }
    const bool isLong = *f == 'l';
    if (isLong) ++f;
    const char conversion = *f;
    switch (conversion) {
      case 'c':
      case 's':
        if (isLong) return kUnsupported;
        break;
      case 'd':
      case 'u':
        if (isLong || width != -1) return kUnsupported;
        break;
      case 'e':
      case 'f':
      case 'g':
      case 'E':
      case 'G':
        if (width != -1) return kUnsupported;
        break;
      default:
        return kUnsupported;
    }
    ++f;

    if (skipSpace || conversion != 'c') {
      in.SkipBlanks();
      skipSpace = false;
    }

    int c = in.Get();
    if (c == EOF) return inputError();
    switch (conversion) {
      case 'c': {
        char* out = suppress ? nullptr : va_arg(args, char*);
        if (width == -1) width = 1;
        do {
          if (out) *out++ = char(c);
        } while (--width > 0 && (c = in.Get()) != EOF);
        if (out) ++done;
        break;
      }
      case 's': {
        char* out = suppress ? nullptr : va_arg(args, char*);
        do {
          if (IsBlank(c)) {
            in.Unget(c);
            break;
          }
          if (out) *out++ = char(c);
        } while ((width <= 0 || --width > 0) && (c = in.Get()) != EOF);
        if (out) {
          *out = '\0';
          ++done;
        }
        break;
      }
      case 'd':
      case 'u': {
        const int scanned = conversion == 'd' ? ScanInteger(in, c, suppress ? nullptr : va_arg(args, int*))
                                              : ScanInteger(in, c, suppress ? nullptr : va_arg(args, unsigned*));
        if (scanned == 0) return done;
        if (!suppress) ++done;
        break;
      }
      default: {
        const int scanned = isLong ? ScanNumber(in, suppress ? nullptr : va_arg(args, double*))
                                   : ScanNumber(in, suppress ? nullptr : va_arg(args, float*));
        if (scanned == kUnsupported) return kUnsupported;
        if (scanned == 0) return done;
        if (!suppress) ++done;
        break;
      }
    }
  }
  if (skipSpace) in.SkipBlanks();
  return done;
}

// The bytes PlainBracedAt may look at: the blank and brace before the numbers and each number's words.
constexpr size_t kPlainBracedRoom = 16 + 4 * 26 + 1;

#if defined(__SSE2__)
// Bit i of `other` set where byte i of the sixty-four at p is no decimal digit, of `signs` where it is
// '-' or '+'.
struct ByteMasks {
  uint64_t other;
  uint64_t signs;
};
ByteMasks MasksOfSixtyFour(const unsigned char* p) {
  ByteMasks masks{0, 0};
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i fromZero = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(fromZero, _mm_set1_epi8(9)), fromZero);
    const __m128i sign =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')));
    masks.other |= uint64_t(~unsigned(_mm_movemask_epi8(digit)) & 0xFFFFu) << (16 * i);
    masks.signs |= uint64_t(unsigned(_mm_movemask_epi8(sign))) << (16 * i);
  }
  return masks;
}

// PlainBracedAt for a value that ends within the sixty-four bytes at p. Where each number's point and
// end lie is read off masks of those bytes: the next number's place is known a few instructions after
// the last one's, instead of after two dependent loads and word tests per number. Accepts exactly the
// texts PlainBracedAt's own walk accepts (that fit) and converts their digits the same way; null
// (nothing stored) for the rest, which that walk then reads.
const unsigned char* PlainBracedInSixtyFour(const unsigned char* p, float* const* values, int count) {
  static_assert(kPlainBracedRoom >= 64 + 8, "the masks' bytes and a digit word from the last of them");
  int at = *p == ' ' ? 1 : 0;
  if (p[at] != '{') return nullptr;
  ++at;
  const ByteMasks masks = MasksOfSixtyFour(p);
  // A search that finds nothing stops at the last byte: a number running there is refused below.
  const uint64_t stops = masks.other | uint64_t(1) << 63;
  float read[4];
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (p[at] != ',' || p[at + 1] != ' ') return nullptr;
      at += 2;
    }
    if (at > 60) return nullptr;
    const int integer = at + int((masks.signs >> at) & 1);
    const int point = integer + __builtin_ctzll(stops >> integer);
    const int integerDigits = point - integer;
    if (integerDigits == 0 || integerDigits > 7 || point > 61 || p[point] != '.') return nullptr;
    const int fraction = point + 1;
    const int end = fraction + __builtin_ctzll(stops >> fraction);
    const int fractionDigits = end - fraction;
    // The character after the number is checked as a separator or the closing brace.
    if (fractionDigits > 7 ||
        !PlainNumberValue(p[at] == '-', DigitsValue(p + integer, integerDigits), p + fraction, fractionDigits,
                          DigitsValue(p + fraction, fractionDigits), read[i]))
      return nullptr;
    at = end;
  }
  if (p[at] != '}') return nullptr;
  for (int i = 0; i < count; ++i) *values[i] = read[i];
  return p + at + 1;
}
#endif

// " {%f, %f, ...}" as the writers put it at p (which must have kPlainBracedRoom bytes to read): at most
// one blank, "{", plain numbers each after ", " but the first, "}". Stores the numbers as ScanBraced
// would read them and gives the end of the text read; null (nothing stored) for anything else, which
// ScanBraced's own walk then reads.
const unsigned char* PlainBracedAt(const unsigned char* p, float* const* values, int count) {
  if (*p == ' ') ++p;
  if (*p != '{') return nullptr;
  ++p;
  float read[4];
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (p[0] != ',' || p[1] != ' ') return nullptr;
      p += 2;
    }
    p = PlainNumberAt(p, read[i]);
    if (!p) return nullptr;
  }
  if (*p != '}') return nullptr;
  for (int i = 0; i < count; ++i) *values[i] = read[i];
  return p + 1;
}

// ScanText's walk of " {%f, %f, ...}" with `count` conversions, without reading a format: the braced
// forms of vectors and quaternions are the bulk of a space file's numbers.
int ScanBraced(Cursor& in, float* const* values, int count) {
  int done = 0;
  const auto inputError = [&done] { return done == 0 ? EOF : done; };
  int c = in.Get();
  if (c == EOF) return inputError();
  while (IsBlank(c))
    if ((c = in.Get()) == EOF) return inputError();
  if (c != '{') {
    in.Unget(c);
    return done;
  }
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if ((c = in.Get()) == EOF) return inputError();
      if (c != ',') {
        in.Unget(c);
        return done;
      }
    }
    // Mostly the one blank after a comma: no wider search for it.
    while (in.at < in.end && IsBlank(*in.at)) ++in.at;
    if (in.Get() == EOF) return inputError();
    int scanned = ScanPlainNumber(in, values[i]);
    if (scanned == kNotPlain) scanned = ScanNumber(in, values[i]);
    if (scanned == kUnsupported) return kUnsupported;
    if (scanned == 0) return done;
    ++done;
  }
  if ((c = in.Get()) == EOF) return inputError();
  if (c != '}') in.Unget(c);
  return done;
}

}  // namespace

// --- Opening and closing ----------------------------------------------------------------------------------

File::~File() { Close(); }

void File::Open(std::string_view path, int mode) {
  // Reopening must not leak the stream that is still open.
  Close();
  m_path.assign(path);
  if (const char* flags = ModeString(mode)) {
    m_stream = std::fopen(m_path.c_str(), flags);
    if (m_stream) {
      if (mode == Mode_Read) {
        // The window is the buffer: the stream's own would only be a second copy of every byte.
        std::setvbuf(m_stream, nullptr, _IONBF, 0);
        if (!m_window) m_window = std::make_unique_for_overwrite<char[]>(kWindowSize);
        m_reading = true;
        Reposition(0);
      } else {
        std::setvbuf(m_stream, m_buffer, _IOFBF, sizeof(m_buffer));
      }
    }
  }
  if (IsGood())
    BASE_LOG(Verbose, "Opened file: %s", m_path.c_str());
  else
    BASE_LOG(Error, "Failed to open file: %s", m_path.c_str());
}

void File::Close() {
  if (!m_stream || m_stream == stdout) return;
  std::fclose(m_stream);
  m_stream = nullptr;
  m_base = 0;
  m_filled = m_at = 0;
  m_exhausted = m_reading = m_atEnd = m_failed = m_readError = false;
  BASE_LOG(Verbose, "Closed file: %s", m_path.c_str());
}

bool File::Exists(const char* path) {
  if (!path) return false;
  FILE* probe = std::fopen(path, "r");
  if (!probe) return false;
  std::fclose(probe);
  return true;
}

bool File::StreamIsGood() const {
  // A read error counts as the end of input, so that no reader waits for tokens that never come.
  return m_stream && !feof_unlocked(m_stream) && !ferror_unlocked(m_stream);
}

// --- The reading window -----------------------------------------------------------------------------------

void File::Reposition(long position) {
  m_base = position;
  m_filled = m_at = 0;
  m_exhausted = m_readError = false;
  clearerr_unlocked(m_stream);
}

void File::Refill() {
  if (m_at >= m_filled) {
    m_base += long(m_at);
    m_at = m_filled = 0;
  } else if (m_at > 0) {
    // The unread tail moves to the front; it is shorter than kLookahead.
    std::memmove(m_window.get(), m_window.get() + m_at, m_filled - m_at);
    m_base += long(m_at);
    m_filled -= m_at;
    m_at = 0;
  }
  const size_t wanted = kWindowSize - m_filled;
  const size_t got = fread_unlocked(m_window.get() + m_filled, 1, wanted, m_stream);
  m_filled += got;
  if (got < wanted) {
    // A read error shows where the stream would have shown it: when the reads get there.
    m_exhausted = true;
    m_readError = ferror_unlocked(m_stream) != 0;
    clearerr_unlocked(m_stream);
  }
}

// --- Writing ----------------------------------------------------------------------------------------------

void File::Write(const char* format, ...) {
  if (!m_stream) return;
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  std::vfprintf(m_stream, format, args);
  va_end(args);
  // A file opened for reading refuses writes with its stream's error flag.
  if (m_reading && ferror_unlocked(m_stream)) m_failed = true;
}

void File::WriteText(std::string_view text) {
  if (!m_stream || text.empty()) return;
  fwrite_unlocked(text.data(), 1, text.size(), m_stream);
  if (m_reading && ferror_unlocked(m_stream)) m_failed = true;
}

// --- Reading ----------------------------------------------------------------------------------------------

int File::Scan(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = EOF;
  if (m_reading) {
    // What ScanLoaded leaves to the C library is scanned again from the same starting point (the values
    // already assigned are assigned the same again).
    va_list attempt;
    va_copy(attempt, args);
    count = ScanLoaded(format, attempt);
    va_end(attempt);
    if (count == kUnsupported) count = ScanWithStdio(format, args);
  } else if (m_stream) {
    count = ScanWithStdio(format, args);
  }
  va_end(args);
  return count;
}

template <class Scanner>
int File::ScanLoaded(Scanner scan) {
  Fill();
  const auto* window = reinterpret_cast<const unsigned char*>(m_window.get());
  Cursor in{window + m_at, window + m_filled, m_atEnd};
  const int count = scan(in);
  if (count == kUnsupported) return count;
  // A conversion that ran into the window's end while the file goes on (thousands of blanks or digits)
  // is the C library's, from the same starting point.
  if (in.hitEnd && !m_exhausted) return kUnsupported;
  m_at = size_t(in.at - window);
  if (m_readError)
    m_failed = m_failed || in.hitEnd;
  else
    m_atEnd = in.atEnd;
  return count;
}

int File::ScanLoaded(const char* format, va_list args) {
  return ScanLoaded([&](Cursor& in) { return ScanText(in, format, args); });
}

template <class T, class Fallback>
int File::ScanSingleValue(T& value, Fallback&& withFormat) {
  // The form the writers put, one blank and a plain number, far from the window's end: read at once,
  // as the scan below would read it. The rest is kept out of line, so that this part is a short call.
  if (m_reading && m_filled - m_at >= 64 && m_window[m_at] == ' ') {
    const auto* at = reinterpret_cast<const unsigned char*>(m_window.get()) + m_at + 1;
    T read;
    const unsigned char* end;
    if constexpr (std::is_floating_point_v<T>)
      end = PlainNumberAt(at, read);
    else
      end = PlainIntegerAt(at, read);
    if (end) {
      value = read;
      m_at = size_t(end - reinterpret_cast<const unsigned char*>(m_window.get()));
      return 1;
    }
  }
  const auto scan = [&]() __attribute__((noinline)) {
    if (!m_reading) return withFormat();
    const int count = ScanLoaded([&](Cursor& in) { return ScanSingle(in, &value); });
    return count != kUnsupported ? count : withFormat();
  };
  return scan();
}

// What the window cannot answer (and a file that is not being read) goes through the format.
int File::ScanValue(int32_t& value) { return ScanSingleValue(value, [&] { return Scan("%d", &value); }); }
int File::ScanValue(uint32_t& value) { return ScanSingleValue(value, [&] { return Scan("%u", &value); }); }
int File::ScanValue(float& value) { return ScanSingleValue(value, [&] { return Scan("%f", &value); }); }
int File::ScanValue(double& value) { return ScanSingleValue(value, [&] { return Scan("%lf", &value); }); }

int File::ScanBracedFloats(float* const* values, int count) {
#if defined(__SSE2__)
  // The form the writers put, far from the window's end: read at once, as the walks below would read
  // it. The rest is another function, so that this part is a short call.
  if (m_reading && values && count >= 2 && count <= 4 && m_filled - m_at >= kPlainBracedRoom) {
    const auto* window = reinterpret_cast<const unsigned char*>(m_window.get());
    if (const unsigned char* end = PlainBracedInSixtyFour(window + m_at, values, count)) {
      m_at = size_t(end - window);
      return count;
    }
  }
#endif
  return ScanBracedFromAnywhere(values, count);
}

int File::ScanBracedFromAnywhere(float* const* values, int count) {
  if (!values || count < 2 || count > 4) return 0;
  if (m_reading) {
    Fill();
    if (m_filled - m_at >= kPlainBracedRoom) {
      const auto* window = reinterpret_cast<const unsigned char*>(m_window.get());
      if (const unsigned char* end = PlainBracedAt(window + m_at, values, count)) {
        m_at = size_t(end - window);
        return count;
      }
    }
    const int scanned = ScanLoaded([&](Cursor& in) { return ScanBraced(in, values, count); });
    if (scanned != kUnsupported) return scanned;
  }
  // The C library's cases, and streams that are not loaded.
  switch (count) {
    case 2:
      return Scan(" {%f, %f}", values[0], values[1]);
    case 3:
      return Scan(" {%f, %f, %f}", values[0], values[1], values[2]);
    default:
      return Scan(" {%f, %f, %f, %f}", values[0], values[1], values[2], values[3]);
  }
}

int File::ScanWithStdio(const char* format, va_list args) {
  CLocaleScope c;
  if (!m_reading) return std::vfscanf(m_stream, format, args);
  // The stream itself, put at this file's position; the window starts again where the scan stopped.
  const long start = Position();
  if (std::fseek(m_stream, start, SEEK_SET) != 0) {
    HitEnd();
    return EOF;
  }
  const int count = std::vfscanf(m_stream, format, args);
  const bool ended = feof_unlocked(m_stream) != 0;
  const bool failed = ferror_unlocked(m_stream) != 0;
  const long stop = std::ftell(m_stream);
  Reposition(stop >= 0 ? stop : start);
  if (failed) {
    m_failed = true;
  } else if (ended) {
    // Nothing more to come: a read at the end of input sets the flag as the stream did.
    m_atEnd = true;
    m_exhausted = true;
  }
  return count;
}

bool File::ReadTokenView(std::string_view& token, size_t longest) {
  if (m_reading && longest > 0 && longest < kLookahead) {
    // Nearly every token: after its blanks at least a lookahead of bytes is in the window, so the token
    // ends inside it and no refill, end of input or cut can come into play.
    const char* window = m_window.get();
    const char* from = SkipBlanks(window + m_at, window + m_filled);
    if (size_t(window + m_filled - from) >= kLookahead) {
      const char* end = SkipNonBlanks(from + 1, from + longest);
      token = std::string_view(from, size_t(end - from));
      m_at = size_t(end - window);
      return true;
    }
  }
  token = {};
  if (!m_stream || longest == 0) return false;
  if (!m_reading) {
    getc_unlocked(m_stream);  // a stream open for writing fails the read and keeps the error
    return false;
  }
  Fill();
  const char* window = m_window.get();
  size_t at = size_t(SkipBlanks(window + m_at, window + m_filled) - window);
  if (m_filled - at < kLookahead && !m_exhausted) {
    // Blanks up to the end of the window, or a token near it: on with a refilled window.
    m_at = at;
    for (;;) {
      Fill();
      window = m_window.get();
      m_at = size_t(SkipBlanks(window + m_at, window + m_filled) - window);
      if (m_at < m_filled || m_exhausted) break;
    }
    Fill();  // the token starts within the lookahead of a fresh window
    window = m_window.get();
    at = m_at;
  }
  if (at == m_filled) {
    m_at = at;
    HitEnd();
    return false;
  }
  // Like fscanf's "%255s": the blank after a token stays unread; a token cut at the longest length
  // reads no further.
  const size_t limit = m_filled - at > longest ? at + longest : m_filled;
  const size_t end = size_t(SkipNonBlanks(window + at + 1, window + limit) - window);
  token = std::string_view(window + at, end - at);
  m_at = end;
  if (end == m_filled && m_exhausted && end - at < longest) HitEnd();
  return true;
}

bool File::TakeTokenFromAnywhere(std::string_view expected, size_t longest) {
  // A file at its end or failed reads no name: the general reading says how.
  const size_t size = expected.size();
  if (!m_reading || m_atEnd || m_failed || size == 0 || size > longest || size >= kLookahead) return false;
  Fill();
  const char* window = m_window.get();
  const char* from = SkipBlanks(window + m_at, window + m_filled);
  if (size_t(window + m_filled - from) < kLookahead) return false;
  // The token read there ends at its first blank: it is the name when that blank comes right after the
  // name's length of equal bytes (a name with a blank in it is never one token).
  bool endsThere;
#if defined(__SSE2__)
  if (size < 16)  // the window holds at least a lookahead of bytes from here
    endsThere = (BlankMask16(from) & ((2u << size) - 1)) == 1u << size;
  else
#endif
    endsThere = SkipNonBlanks(from + 1, from + size + 1) == from + size;
  if (!endsThere || !SameBytes(from, expected.data(), size)) return false;
  m_at = size_t(from + size - window);
  return true;
}

bool File::ReadToken(char* token, size_t capacity) {
  if (!m_stream || capacity < 2) return false;
  std::string_view view;
  if (!ReadTokenView(view, capacity - 1)) return false;
  std::memcpy(token, view.data(), view.size());
  token[view.size()] = '\0';
  return true;
}

bool File::TakeUntil(char delimiter, std::string* text) {
  if (text) text->clear();
  if (!m_stream) return false;
  if (!m_reading) {
    getc_unlocked(m_stream);
    return false;
  }
  // Window by window: a text longer than the window arrives in pieces.
  for (;;) {
    Fill();
    if (m_at >= m_filled) {
      HitEnd();
      return false;
    }
    const char* from = m_window.get() + m_at;
    const size_t left = m_filled - m_at;
    const void* found = std::memchr(from, delimiter, left);
    const size_t length = found ? size_t(static_cast<const char*>(found) - from) : left;
    if (text) text->append(from, length);
    m_at += length;
    if (found) {
      ++m_at;
      return true;
    }
  }
}

bool File::ReadUntil(char delimiter, std::string& text) { return TakeUntil(delimiter, &text); }

bool File::SkipUntil(char delimiter) { return TakeUntil(delimiter, nullptr); }

bool File::TakeOnLine(char c) {
  if (!m_stream || !m_reading) return false;
  for (;;) {
    Fill();
    while (m_at < m_filled && (m_window[m_at] == ' ' || m_window[m_at] == '\t')) ++m_at;
    if (m_at < m_filled) break;
    if (m_exhausted) return false;
  }
  if (m_window[m_at] != c) return false;
  ++m_at;
  m_atEnd = false;
  return true;
}

std::string File::ReadUntil(char delimiter) {
  std::string text;
  ReadUntil(delimiter, text);
  return text;
}

std::string File::ReadUntilAny(std::string_view delimiters) {
  std::string text;
  if (!m_stream) return text;
  if (!m_reading) {
    getc_unlocked(m_stream);
    return text;
  }
  for (;;) {
    Fill();
    if (m_at >= m_filled) break;
    const char c = m_window[m_at++];
    if (delimiters.find(c) != std::string_view::npos) return text;
    text += c;
  }
  HitEnd();
  return text;
}

// --- Positions --------------------------------------------------------------------------------------------

void File::Seek(long offset) {
  if (!m_stream) return;
  if (!m_reading) {
    std::fseek(m_stream, offset, SEEK_CUR);
    return;
  }
  long target;
  if (__builtin_add_overflow(Position(), offset, &target) || target < 0) return;
  SeekTo(target);
}

long File::Tell() const {
  if (!m_stream) return -1L;
  return m_reading ? Position() : std::ftell(m_stream);
}

void File::SeekTo(long position) {
  if (!m_stream || position < 0) return;
  if (!m_reading) {
    std::fseek(m_stream, position, SEEK_SET);
    return;
  }
  m_atEnd = false;
  // Inside the window: no trip to the stream.
  if (position >= m_base && position <= m_base + long(m_filled)) {
    m_at = size_t(position - m_base);
    return;
  }
  if (std::fseek(m_stream, position, SEEK_SET) == 0) {
    Reposition(position);
    return;
  }
  // A stream that cannot seek: the position lies past what it can give.
  Reposition(position);
  m_exhausted = true;
}

void File::SeekToEnd() {
  if (!m_stream) return;
  if (!m_reading) {
    std::fseek(m_stream, 0, SEEK_END);
    return;
  }
  m_atEnd = false;
  if (std::fseek(m_stream, 0, SEEK_END) == 0) {
    const long end = std::ftell(m_stream);
    Reposition(end >= 0 ? end : Position());
  }
}

}  // namespace Base
