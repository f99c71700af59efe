// The engine's text file wrapper.
#include "Base/Serialization/File.h"

#include <locale.h>

#include <clocale>
#include <cstdarg>

#include "Base/TraceLog.h"

namespace Base {
namespace {

// Text files must read the same whatever locale the process runs in: every formatted read and write
// switches this thread to the "C" locale for its duration (the global locale is left alone).
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(Locale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  static locale_t Locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c ? c : LC_GLOBAL_LOCALE;
  }
  locale_t previous_;
};

// White space as the "C" locale's isspace sees it, which is what fscanf's "%s" stops at.
bool IsBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

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

}  // namespace

File::~File() { Close(); }

void File::Open(std::string_view path, int mode) {
  // Reopening must not leak the stream that is still open.
  Close();
  path_.assign(path);
  if (const char* flags = ModeString(mode)) {
    stream_ = std::fopen(path_.c_str(), flags);
    if (stream_) std::setvbuf(stream_, buffer_, _IOFBF, sizeof(buffer_));
  }
  if (IsGood())
    TraceLog::GetInstance().Print(TraceLevel_Verbose, TraceModule_Base, "Opened file: %s", path_.c_str());
  else
    TraceLog::GetInstance().Print(TraceLevel_Error, TraceModule_Base, "Failed to open file: %s",
                                  path_.c_str());
}

void File::Close() {
  if (!stream_ || stream_ == stdout) return;
  std::fclose(stream_);
  stream_ = nullptr;
  TraceLog::GetInstance().Print(TraceLevel_Verbose, TraceModule_Base, "Closed file: %s", path_.c_str());
}

bool File::Exists(const char* path) {
  if (!path) return false;
  FILE* probe = std::fopen(path, "r");
  if (!probe) return false;
  std::fclose(probe);
  return true;
}

bool File::IsGood() const {
  // A read error counts as the end of input, so that no reader waits for tokens that never come.
  return stream_ && !std::feof(stream_) && !std::ferror(stream_);
}

void File::Write(const char* format, ...) {
  if (!stream_) return;
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream_, format, args);
  va_end(args);
}

int File::Scan(const char* format, ...) {
  if (!stream_) return EOF;
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  const int count = std::vfscanf(stream_, format, args);
  va_end(args);
  return count;
}

void File::WriteText(std::string_view text) {
  if (stream_ && !text.empty()) fwrite_unlocked(text.data(), 1, text.size(), stream_);
}

void File::Seek(long offset) {
  if (stream_) std::fseek(stream_, offset, SEEK_CUR);
}

long File::Tell() const { return stream_ ? std::ftell(stream_) : -1L; }

void File::SeekTo(long position) {
  if (stream_ && position >= 0) std::fseek(stream_, position, SEEK_SET);
}

bool File::ReadToken(char* token, size_t capacity) {
  if (!stream_ || capacity < 2) return false;
  int c;
  do c = getc_unlocked(stream_);
  while (c != EOF && IsBlank(c));
  if (c == EOF) return false;
  size_t length = 0;
  for (;;) {
    token[length++] = char(c);
    if (length == capacity - 1) break;  // the rest of the run is the next token
    c = getc_unlocked(stream_);
    if (c == EOF) break;
    if (IsBlank(c)) {
      ungetc(c, stream_);  // like fscanf, the blank after a token stays in the stream
      break;
    }
  }
  token[length] = '\0';
  return true;
}

std::string File::ReadUntil(char delimiter) {
  std::string text;
  if (!stream_) return text;
  for (int c; (c = getc_unlocked(stream_)) != EOF && c != static_cast<unsigned char>(delimiter);)
    text += char(c);
  return text;
}

std::string File::ReadUntilAny(std::string_view delimiters) {
  std::string text;
  if (!stream_) return text;
  for (int c; (c = getc_unlocked(stream_)) != EOF;) {
    if (delimiters.find(char(c)) != std::string_view::npos) break;
    text += char(c);
  }
  return text;
}

}  // namespace Base
