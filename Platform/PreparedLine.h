// A line a signal handler writes as it stands: made ahead of time (formatting and allocation are not a
// handler's to do), then written with write(2) alone. Filled once, before the handlers that read it may
// run; a handler that finds it not ready writes nothing.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "Platform/ProgramStop.h"

namespace Platform {

class PreparedLine {
 public:
  void Set(const FixedLine& line) {
    m_ready.store(false);
    m_size = line.text.size() < sizeof m_text ? line.text.size() : sizeof m_text;
    std::memcpy(m_text, line.text.data(), m_size);
    m_fd = line.fd;
    m_ready.store(m_size > 0 && m_fd >= 0);
  }
  // Stands in a line for a part known only as it is said (Write's `fill`).
  static constexpr char kSlot = '\x1a';
  // Whether the line was written whole, `fill` in place of its slot where it has one. The caller's
  // errno is kept.
  bool Write(const char* fill = "") const {
    if (!m_ready.load()) return false;
    char line[sizeof m_text + 64];
    size_t size = 0;
    for (size_t i = 0; i < m_size; ++i) {
      if (m_text[i] != kSlot) {
        line[size++] = m_text[i];
        continue;
      }
      for (const char* c = fill; *c && size + (m_size - i) < sizeof line; ++c) line[size++] = *c;
    }
    const int saved = errno;
    size_t done = 0;
    while (done < size) {
      const ssize_t written = write(m_fd, line + done, size - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += size_t(written);
    }
    errno = saved;
    return done == size;
  }

 private:
  char m_text[512] = {};
  size_t m_size = 0;
  int m_fd = -1;
  std::atomic<bool> m_ready{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler reads it");
};

}  // namespace Platform
