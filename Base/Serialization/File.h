// The stream wrapper every engine text file goes through: open/close with log lines, C-locale
// printf/scanf, blank-separated tokens, reads up to delimiters, and remembered positions.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

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
  bool IsGood() const;

  // fprintf / fscanf on the stream, always with the "C" locale's number format. A closed file
  // writes nothing and scans as end of input (EOF).
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int Scan(const char* format, ...) __attribute__((format(scanf, 2, 3)));
  void WriteText(std::string_view text);

  // Relative move (fseek from the current position); Tell / SeekTo return to a remembered position.
  void Seek(long offset);
  long Tell() const;
  void SeekTo(long position);

  // fscanf("%255s") without the format machinery: skips white space, then takes up to capacity - 1
  // non-blank characters (the rest of a longer run is the next token). False at the end of input.
  bool ReadToken(char* token, size_t capacity);

  // The characters up to the delimiter (consumed, not returned) or to the end of the file.
  std::string ReadUntil(char delimiter);
  std::string ReadUntilAny(std::string_view delimiters);

  const std::string& GetPath() const { return path_; }
  FILE* GetStream() const { return stream_; }

  // The serializer working on this file right now, so that a type's own text function can reach its
  // depth and context; null outside Serializer::SerializeInstance / DeserializeInstance.
  Serializer* GetSerializer() const { return serializer_; }
  void SetSerializer(Serializer* serializer) { serializer_ = serializer; }

 private:
  FILE* stream_ = nullptr;
  char buffer_[32768];  // the stream's own buffer: reads and writes go to the disk in large blocks
  std::string path_;
  Serializer* serializer_ = nullptr;
};

}  // namespace Base
