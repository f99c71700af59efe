// The blocking file hook of the game's sound streaming: names and ids become paths under the base
// folder (and the current language's folder), files open and move their bytes through POSIX calls
// on the device's I/O thread.
#pragma once

#include <cstdint>
#include <string>

#include "StreamMgr/LowLevelIO.h"

namespace Audio {

constexpr uint32_t kMaxPathChars = 260;

// Paths under a base folder: bank files "<id>.bnk", media "<id>.snm", names as given.
class CSnFileLocationBase {
 public:
  virtual ~CSnFileLocationBase() = default;
  // 31 when the folder with the sub-folders and the language would be too long; 36 when the
  // stored folder names no existing directory (it stays stored).
  SN::SNRESULT SetBaseFolder(const char16_t* path);
  SN::SNRESULT ComposePathById(uint32_t fileId, const SN::SnFileLookupFlags* flags, SN::SnOpenMode mode,
                               char16_t* path);
  // The folder where banks are looked for, as opened ('/' separators, relative to the working
  // directory unless the base folder is absolute), ending in '/'; the language's folder is not in it.
  std::string BankFolder() const;
  SN::SNRESULT ComposePathByName(const char16_t* name, const SN::SnFileLookupFlags* flags, SN::SnOpenMode mode,
                                 char16_t* path);

 protected:
  char16_t m_basePath[kMaxPathChars] = {};
  char16_t m_bankPath[kMaxPathChars] = {};
  char16_t m_audioSrcPath[kMaxPathChars] = {};
};

class CSnDefaultIOHookBlocking : public SN::StreamMgr::ISnFileLocationResolver,
                                 public SN::StreamMgr::ISnIOHookBlocking,
                                 public CSnFileLocationBase {
 public:
  ~CSnDefaultIOHookBlocking() override = default;
  // 2 unless the settings ask for a blocking device (flags exactly 1). Installs this object as the
  // resolver when there is none, and creates the device.
  SN::SNRESULT Init(const SN::SnDeviceSettings& settings, bool deferredOpens);
  void Term();
  uint32_t DeviceId() const { return m_deviceId; }

  SN::SNRESULT OpenById(uint32_t fileId, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags, bool& syncOpen,
                        SN::SnFileDescriptor& descriptor) override;
  SN::SNRESULT OpenByName(const char16_t* name, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags, bool& syncOpen,
                          SN::SnFileDescriptor& descriptor) override;
  SN::SNRESULT Read(SN::SnFileDescriptor& descriptor, SN::SnTransferHints& hints, void* buffer,
                    SN::SnTransferRequest& request) override;
  SN::SNRESULT Write(SN::SnFileDescriptor& descriptor, SN::SnTransferHints& hints, void* buffer,
                     SN::SnTransferRequest& request) override;
  SN::SNRESULT Close(SN::SnFileDescriptor& descriptor) override;
  uint32_t GetFileBlockSize(SN::SnFileDescriptor& descriptor) override;
  void DescribeDevice(SN::SnDeviceInfo& info) override;
  uint32_t GetDeviceParam() override;

 protected:
  // 31 for a null path or an unknown mode, 66 when the file or a folder of its path is missing.
  static SN::SNRESULT OpenPath(const char16_t* path, SN::SnOpenMode mode, int64_t& handle);

  uint32_t m_deviceId = SN::kInvalidDeviceId;
  bool m_deferredOpens = false;
};

}  // namespace Audio
