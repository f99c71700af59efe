// Whole-file reads for the binary reader: one open, one size query, one read.
#include "DirectX/BinaryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace DirectX {

namespace {

constexpr int32_t kFail = int32_t(0x80004005);
constexpr int32_t kOutOfMemory = int32_t(0x8007000E);

int32_t FromErrno(int error) { return int32_t(0x80070000u | (uint32_t(error) & 0xffffu)); }

}  // namespace

std::string NarrowPath(const std::wstring& path) {
  std::string narrow;
  narrow.reserve(path.size());
  for (wchar_t c : path) narrow.push_back(char(c));
  return narrow;
}

int32_t BinaryReader::ReadWholeFile(const std::wstring& fileName, std::unique_ptr<uint8_t[]>& data, size_t& size) {
  const int fd = ::open(NarrowPath(fileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat info;
  if (::fstat(fd, &info) != 0) return FromErrno(errno);
  if (!S_ISREG(info.st_mode) || uint64_t(info.st_size) >= (uint64_t(1) << 32)) return kFail;
  const size_t bytes = size_t(info.st_size);
  data.reset(new (std::nothrow) uint8_t[bytes ? bytes : 1]);
  if (!data) return kOutOfMemory;
  size_t done = 0;
  while (done < bytes) {  // one request; the loop only resumes a read a signal cut short
    const ssize_t got = ::read(fd, data.get() + done, bytes - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FromErrno(errno);
    if (got == 0) return kFail;
    done += size_t(got);
  }
  size = bytes;
  return 0;
}

BinaryReader::BinaryReader(const std::wstring& fileName) {
  size_t size = 0;
  if (ReadWholeFile(fileName, m_ownedData, size) != 0) throw SpriteError("BinaryReader");
  m_cursor = m_ownedData.get();
  m_end = m_cursor + size;
}

}  // namespace DirectX
