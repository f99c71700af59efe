// POSIX files for the blocking hook, and path composition under the base and language folders.
// Composed paths are 16-bit; the content-path conversion turns them into the '/' UTF-8 paths opened.
#include "Audio/DefaultIOHookBlocking.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Platform/ContentPath.h"

namespace Audio {

namespace {

uint32_t Length(const char16_t* text) {
  uint32_t length = 0;
  while (text[length]) ++length;
  return length;
}

// Appends `text` at `length` (the caller checked the room).
void Append(char16_t* path, uint32_t& length, const char16_t* text) {
  for (; *text; ++text) path[length++] = *text;
  path[length] = 0;
}

void AppendAscii(char16_t* path, uint32_t& length, const char* text) {
  for (; *text; ++text) path[length++] = char16_t(*text);
  path[length] = 0;
}

}  // namespace

SN::SNRESULT CSnFileLocationBase::SetBaseFolder(const char16_t* path) {
  if (!path) return SN::SN_InvalidParameter;
  const uint32_t subFolder = Length(m_bankPath) > Length(m_audioSrcPath) ? Length(m_bankPath) : Length(m_audioSrcPath);
  if (subFolder + 1 + Length(SN::StreamMgr::GetCurrentLanguage()) + Length(path) >= kMaxPathChars)
    return SN::SN_InvalidParameter;
  uint32_t length = 0;
  while (path[length] && length < kMaxPathChars - 1) {
    m_basePath[length] = path[length];
    ++length;
  }
  m_basePath[length] = 0;
  struct stat status {};
  const std::string folder = Platform::ToContentPath(m_basePath);
  return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? SN::SN_Success : SN::SN_PathNotFound;
}

std::string CSnFileLocationBase::BankFolder() const {
  char16_t folder[2 * kMaxPathChars] = {};
  uint32_t length = 0;
  Append(folder, length, m_basePath);
  Append(folder, length, m_bankPath);
  std::string path = Platform::ToContentPath(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

SN::SNRESULT CSnFileLocationBase::ComposePathById(uint32_t fileId, const SN::SnFileLookupFlags* flags,
                                                  SN::SnOpenMode, char16_t* path) {
  if (!flags || flags->companyId > 1) return SN::SN_Failure;
  const char16_t* subFolder = flags->codecId ? m_audioSrcPath : m_bankPath;
  if (Length(m_basePath) + Length(subFolder) >= kMaxPathChars) return SN::SN_Failure;
  uint32_t length = 0;
  path[0] = 0;
  Append(path, length, m_basePath);
  Append(path, length, subFolder);
  const char16_t* language = SN::StreamMgr::GetCurrentLanguage();
  if (flags->languageSpecific && language[0]) {
    if (length + 1 + Length(language) >= kMaxPathChars) return SN::SN_Failure;
    Append(path, length, language);
    Append(path, length, u"\\");
  }
  if (length >= 246) return SN::SN_Failure;
  char file[16];
  snprintf(file, sizeof file, flags->codecId ? "%u.snm" : "%u.bnk", fileId);
  AppendAscii(path, length, file);
  return SN::SN_Success;
}

SN::SNRESULT CSnFileLocationBase::ComposePathByName(const char16_t* name, const SN::SnFileLookupFlags* flags,
                                                    SN::SnOpenMode mode, char16_t* path) {
  if (!name || Length(name) >= kMaxPathChars) return SN::SN_InvalidParameter;
  const bool fullPath = flags && flags->companyId == 0 && flags->codecId == 201;
  uint32_t length = 0;
  path[0] = 0;
  if (!fullPath) Append(path, length, m_basePath);
  uint32_t count = Length(name);
  const char16_t* subFolder = nullptr;
  const char16_t* language = nullptr;
  if (flags && mode == SN::SnOpenMode_Read) {
    if (flags->companyId == 0 && flags->codecId == 0) {
      if (count + Length(m_bankPath) >= kMaxPathChars) return SN::SN_Failure;
      subFolder = m_bankPath;
      count += Length(m_bankPath);
    }
    const char16_t* current = SN::StreamMgr::GetCurrentLanguage();
    if (flags->languageSpecific && current[0]) {
      if (count + 1 + Length(current) >= kMaxPathChars) return SN::SN_Failure;
      language = current;
      count += 1 + Length(current);
    }
  }
  if (length + count >= kMaxPathChars) return SN::SN_Failure;
  if (subFolder) Append(path, length, subFolder);
  if (language) {
    Append(path, length, language);
    Append(path, length, u"\\");
  }
  Append(path, length, name);
  return SN::SN_Success;
}

SN::SNRESULT CSnDefaultIOHookBlocking::Init(const SN::SnDeviceSettings& settings, bool deferredOpens) {
  if (settings.schedulerTypeFlags != SN::SnScheduler_Blocking) return SN::SN_Failure;
  m_deferredOpens = deferredOpens;
  if (!SN::StreamMgr::GetFileLocationResolver()) SN::StreamMgr::SetFileLocationResolver(this);
  m_deviceId = SN::StreamMgr::CreateDevice(settings, this);
  return m_deviceId != SN::kInvalidDeviceId ? SN::SN_Success : SN::SN_Failure;
}

void CSnDefaultIOHookBlocking::Term() {
  if (SN::StreamMgr::GetFileLocationResolver() == this) SN::StreamMgr::SetFileLocationResolver(nullptr);
  SN::StreamMgr::DestroyDevice(m_deviceId);
  m_deviceId = SN::kInvalidDeviceId;
}

SN::SNRESULT CSnDefaultIOHookBlocking::OpenPath(const char16_t* path, SN::SnOpenMode mode, int64_t& handle) {
  handle = 0;
  if (!path) return SN::SN_InvalidParameter;
  int flags;
  switch (mode) {
    case SN::SnOpenMode_Read: flags = O_RDONLY; break;
    case SN::SnOpenMode_Write: flags = O_WRONLY | O_CREAT; break;
    case SN::SnOpenMode_WriteOverwrite: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case SN::SnOpenMode_ReadWrite: flags = O_RDWR | O_CREAT; break;
    default: return SN::SN_InvalidParameter;
  }
  const std::string file = Platform::ToContentPath(path);
  int fd;
  do {
    fd = open(file.c_str(), flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? SN::SN_FileNotFound : SN::SN_Failure;
  handle = fd;
  return SN::SN_Success;
}

namespace {

// Opening a composed path: the descriptor's size, first block and device are filled in.
template <typename Compose>
SN::SNRESULT OpenComposed(bool deferredOpens, uint32_t deviceId, bool& syncOpen, SN::SnFileDescriptor& descriptor,
                          SN::SnOpenMode mode, Compose compose,
                          SN::SNRESULT (*openPath)(const char16_t*, SN::SnOpenMode, int64_t&)) {
  SN::SNRESULT result = SN::SN_Success;
  if (!syncOpen && deferredOpens) {
    descriptor.fileSize = 0;
    descriptor.firstBlock = 0;
  } else {
    syncOpen = true;
    char16_t path[kMaxPathChars];
    result = compose(path);
    if (result == SN::SN_Success) {
      result = openPath(path, mode, descriptor.osHandle);
      if (result == SN::SN_Success) {
        struct stat status {};
        descriptor.fileSize = fstat(int(descriptor.osHandle), &status) == 0 ? int64_t(status.st_size) : 0;
        descriptor.firstBlock = 0;
      }
    } else {
      // A name no path can hold (null, or too long) is the caller's error and says so; any other
      // path that could not be made is a failed open.
      if (result != SN::SN_InvalidParameter) result = SN::SN_Failure;
    }
  }
  descriptor.deviceId = deviceId;
  descriptor.customParam = nullptr;
  descriptor.packageBlockSize = 0;
  return result;
}

}  // namespace

SN::SNRESULT CSnDefaultIOHookBlocking::OpenById(uint32_t fileId, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags,
                                                bool& syncOpen, SN::SnFileDescriptor& descriptor) {
  return OpenComposed(
      m_deferredOpens, m_deviceId, syncOpen, descriptor, mode,
      [&](char16_t* path) { return ComposePathById(fileId, flags, mode, path); }, &OpenPath);
}

SN::SNRESULT CSnDefaultIOHookBlocking::OpenByName(const char16_t* name, SN::SnOpenMode mode,
                                                  SN::SnFileLookupFlags* flags, bool& syncOpen,
                                                  SN::SnFileDescriptor& descriptor) {
  return OpenComposed(
      m_deferredOpens, m_deviceId, syncOpen, descriptor, mode,
      [&](char16_t* path) { return ComposePathByName(name, flags, mode, path); }, &OpenPath);
}

namespace {

// Moves every byte asked for, retrying short and interrupted calls; 2 when the file ends first.
template <typename Call>
SN::SNRESULT MoveAll(uint32_t size, Call call) {
  uint32_t moved = 0;
  while (moved < size) {
    const ssize_t done = call(moved);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return SN::SN_Failure;
    moved += uint32_t(done);
  }
  return SN::SN_Success;
}

}  // namespace

SN::SNRESULT CSnDefaultIOHookBlocking::Read(SN::SnFileDescriptor& descriptor, SN::SnTransferHints&, void* buffer,
                                            SN::SnTransferRequest& request) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  const int fd = int(descriptor.osHandle);
  return MoveAll(request.requestedSize, [&](uint32_t moved) {
    return pread(fd, bytes + moved, request.requestedSize - moved, off_t(request.filePosition + moved));
  });
}

SN::SNRESULT CSnDefaultIOHookBlocking::Write(SN::SnFileDescriptor& descriptor, SN::SnTransferHints&, void* buffer,
                                             SN::SnTransferRequest& request) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const int fd = int(descriptor.osHandle);
  return MoveAll(request.requestedSize, [&](uint32_t moved) {
    return pwrite(fd, bytes + moved, request.requestedSize - moved, off_t(request.filePosition + moved));
  });
}

SN::SNRESULT CSnDefaultIOHookBlocking::Close(SN::SnFileDescriptor& descriptor) {
  return close(int(descriptor.osHandle)) == 0 ? SN::SN_Success : SN::SN_Failure;
}

uint32_t CSnDefaultIOHookBlocking::GetFileBlockSize(SN::SnFileDescriptor&) { return 1; }

void CSnDefaultIOHookBlocking::DescribeDevice(SN::SnDeviceInfo& info) {
  static constexpr char16_t kName[] = u"POSIX Blocking";
  info.deviceId = m_deviceId;
  info.canRead = true;
  info.canWrite = true;
  for (uint32_t i = 0; i < 16; ++i) info.name[i] = i < sizeof kName / sizeof kName[0] ? kName[i] : 0;
  info.nameLength = sizeof kName / sizeof kName[0];
}

uint32_t CSnDefaultIOHookBlocking::GetDeviceParam() { return m_deferredOpens ? 1 : 0; }

}  // namespace Audio
