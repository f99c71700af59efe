// Scratch files and the quiet log of the fuzz targets.
#include "tests/fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Base/TraceLog.h"

namespace OrvFuzz {

std::string WriteScratch(const uint8_t* data, size_t size, const char* extension) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orv_fuzz_" + std::to_string(getpid()) + extension)).string();
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  return path;
}

int QuietLog() {
  static FILE* nowhere = std::fopen("/dev/null", "w");
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  if (nowhere) log.SetOutput(nowhere);
  log.SetLevel(Base::TraceLevel_Error);
  return 0;
}

}  // namespace OrvFuzz
