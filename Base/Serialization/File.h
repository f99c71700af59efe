// The stream wrapper every engine text file goes through: open/close with log lines, C-locale
// printf/scanf, blank-separated tokens, reads up to delimiters, and remembered positions. Reading goes
// through a fixed window refilled from the stream, so a file of any size costs the same memory.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "Base/Serialization/TextBytes.h"

namespace Base {

class Serializer;

class File {
 public:
  enum Mode : int {
    Mode_Read = 0,    // "r"
    Mode_Write = 1,   // "w"
    Mode_Append = 2,  // "a"
  };

  // The engine's text files end their lines like this; readers accept "\r\n" and "\n".
  static constexpr const char* kLineEnd = "\r\n";

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Records the path in every case. A stream still open from an earlier Open is closed first.
  // Logs "Opened file: %s" (Verbose) or "Failed to open file: %s" (Error).
  void Open(std::string_view path, int mode);
  // Closes an open stream (never standard output) and logs "Closed file: %s"; otherwise nothing.
  void Close();
  static bool Exists(const char* path);
  // A stream is open and has hit neither end of file nor a read error.
  bool IsGood() const { return m_reading ? !m_atEnd && !m_failed : StreamIsGood(); }

  // fprintf / fscanf on the stream, always with the "C" locale's number format. A closed file
  // writes nothing and scans as end of input (EOF).
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int Scan(const char* format, ...) __attribute__((format(scanf, 2, 3)));
  void WriteText(std::string_view text);
  // Scan(" {%f, %f}") .. Scan(" {%f, %f, %f, %f}") into values[0 .. count-1] (count 2 to 4), with the
  // same answer, consumption and end-of-file flag, without walking a format: the braced value forms.
  int ScanBracedFloats(float* const* values, int count);
  // Scan("%d"), Scan("%u"), Scan("%f") and Scan("%lf") into one value, with the same answer, consumption
  // and end-of-file flag, without walking a format.
  int ScanValue(int32_t& value);
  int ScanValue(uint32_t& value);
  int ScanValue(float& value);
  int ScanValue(double& value);

  // Passes over blanks and tabs of the current line; then takes `c` when it comes next (true).
  bool TakeOnLine(char c);

  // Relative move (fseek from the current position); Tell / SeekTo return to a remembered position.
  void Seek(long offset);
  long Tell() const;
  void SeekTo(long position);
  // To the end of the file (fseek(0, SEEK_END)): the next read finds the end of input.
  void SeekToEnd();

  // fscanf("%255s") without the format machinery: skips white space, then takes up to capacity - 1
  // non-blank characters (the rest of a longer run is the next token). False at the end of input.
  bool ReadToken(char* token, size_t capacity);
  // The same token without the copy: a view of at most `longest` characters that stays valid until the
  // next read, seek or Close. Empty (and false) at the end of input.
  bool ReadTokenView(std::string_view& token, size_t longest = 255);

  // Reads the next token when it is `expected`: true, with the same consumption as ReadTokenView(token,
  // longest) giving that token. Otherwise false with nothing consumed, also where the window cannot tell
  // at once (near its end): the caller then reads the token the general way. For readers that know what
  // the next name usually is (the serializer's members in their declared order, a value's type name).
  bool TakeToken(std::string_view expected, size_t longest = 255);

  // The characters up to the delimiter (consumed, not returned) or to the end of the file.
  std::string ReadUntil(char delimiter);
  std::string ReadUntilAny(std::string_view delimiters);
  // The same into `text` (replaced; its storage is reused): true when the delimiter was found, false
  // when the end of the file came first.
  bool ReadUntil(char delimiter, std::string& text);
  // Passes over everything up to and including the delimiter; false when the end of the file came first.
  bool SkipUntil(char delimiter);

  const std::string& GetPath() const { return m_path; }
  // The stream itself. A file opened for reading reads ahead of this file's position into its window:
  // moves on the stream do not move this file's reads (use Seek / SeekTo / SeekToEnd).
  FILE* GetStream() const { return m_stream; }

  // Reading window: refilled whenever fewer than kLookahead unread bytes are left in it, so that a
  // token (at most 255 bytes) or a number never has to be put together from two fills.
  static constexpr size_t kWindowSize = 64 * 1024;
  static constexpr size_t kLookahead = 4 * 1024;

  // The serializer working on this file right now, so that a type's own text function can reach its
  // depth and context; null outside Serializer::SerializeInstance / DeserializeInstance.
  Serializer* GetSerializer() const { return m_serializer; }
  void SetSerializer(Serializer* serializer) { m_serializer = serializer; }

 private:
  // Reading works on a window of the file's bytes with the stream's own bookkeeping: a position that
  // may pass the end after a seek, an end-of-file flag set by a read that found no byte (and cleared
  // by a seek or a byte put back), and a read error flag.
  // Brings at least kLookahead unread bytes into the window, or everything left of the file. The check
  // is inline: nearly every read finds enough bytes ahead already.
  void Fill() {
    if (!m_exhausted && m_filled - m_at < kLookahead) Refill();
  }
  void Refill();
  // Moves the window to a file position: the next read fills it from there.
  void Reposition(long position);
  long Position() const { return m_base + long(m_at); }
  bool StreamIsGood() const;
  // A read that found no byte: the end-of-file flag, or the read error the filling met there.
  void HitEnd() { (m_readError ? m_failed : m_atEnd) = true; }
  int ScanLoaded(const char* format, va_list args);
  // Runs a scanner (int(Cursor&)) over the window at this file's position and keeps its consumption
  // and end-of-file flag; defined and used in File.cpp only.
  template <class Scanner>
  int ScanLoaded(Scanner scan);
  int ScanWithStdio(const char* format, va_list args);
  // One value through the window's scanner, or through `withFormat` (the same Scan with its format)
  // where the scanner leaves it to the C library.
  template <class T, class Fallback>
  int ScanSingleValue(T& value, Fallback&& withFormat);
  // ScanBracedFloats for every form and place of the text.
  [[gnu::noinline]] int ScanBracedFromAnywhere(float* const* values, int count);
  // TakeToken where its first look cannot decide: near the window's end, long names and runs of blanks.
  [[gnu::noinline]] bool TakeTokenFromAnywhere(std::string_view expected, size_t longest);
  // Up to and including the delimiter, appending to `text` unless it is null.
  bool TakeUntil(char delimiter, std::string* text);

  FILE* m_stream = nullptr;
  char m_buffer[32768];  // the stream's own buffer: writes go to the disk in large blocks
  std::string m_path;
  Serializer* m_serializer = nullptr;

  std::unique_ptr<char[]> m_window;  // a file opened for reading: kWindowSize bytes, kept across opens
  // The read position and the end of the filled bytes are kept apart: next to each other, the compiler
  // loads both with one wide load, which has to wait for the narrow store of the read position before
  // it (every read stores it), on every read.
  size_t m_at = 0;                   // the read position in the window; the file position is m_base + m_at
  long m_base = 0;                   // file position of m_window[0]
  size_t m_filled = 0;               // bytes of the window read from the file
  bool m_exhausted = false;          // the stream has nothing past the window's bytes
  bool m_reading = false;            // an open file whose reads work on the window
  bool m_atEnd = false;              // the end-of-file flag: set by a read that found no byte, cleared by seeks
  bool m_failed = false;             // the read error flag (also set by a write to a file opened for reading)
  bool m_readError = false;          // the stream stopped with an error where the window's bytes end
  unsigned m_lineSkip = 0;           // the blanks before the last name TakeToken took after more than one
};

inline bool File::TakeToken(std::string_view expected, size_t longest) {
  const size_t size = expected.size();
#if defined(__SSE2__)
  // Mostly the blanks before the name, the name and the blank after it are all in the next sixteen bytes,
  // far from the window's end: one look at them finds where the name starts and where the token there
  // ends. This part is inline in its callers (the rest is another function): the serializer takes two
  // names a line.
  if (m_reading && !m_atEnd && !m_failed && size - 1 < (longest < 15 ? longest : 15) &&
      m_filled - m_at >= kLookahead + 16) {
    const char* const at = m_window.get() + m_at;
    const unsigned blanks = TextBytes::BlankMask16(at);
    const unsigned skip = unsigned(__builtin_ctz(~blanks));  // below 17: bit 16 of ~blanks is set
    if (skip + size < 16) {
      if (((blanks >> skip) & ((2u << size) - 1)) != 1u << size ||
          !TextBytes::SameBytes(at + skip, expected.data(), size))
        return false;
      // Every read starts from where the last one stopped. Worked out from a count of blanks known
      // beforehand (one after a member's name, as many as before the last name at a line's start), that
      // place does not wait for these bytes to be loaded and looked at: only the branch that checks the
      // guess does, and it mostly guesses right.
      size_t guessed = m_at + m_lineSkip + size;
      // Worked out before the check: in its branch the compiler would otherwise count from `skip`.
      asm volatile("" : "+r"(guessed));
      if (skip == 1) {
        m_at += 1 + size;
      } else if (skip == m_lineSkip) {
        m_at = guessed;
      } else {
        m_at += skip + size;
        m_lineSkip = skip;
      }
      return true;
    }
  }
#endif
  return TakeTokenFromAnywhere(expected, longest);
}

}  // namespace Base
