// One file held in memory behind a blocking stream device, as resolver and hook at once: the bank
// reader's stream path over bytes a test or a fuzz input chose, with blocks of any size. Every
// transfer and its hints are recorded.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "StreamMgr/ISnStreamMgr.h"
#include "StreamMgr/LowLevelIO.h"

namespace BankTest {

class MemoryFileHook : public SN::StreamMgr::ISnIOHookBlocking, public SN::StreamMgr::ISnFileLocationResolver {
 public:
  struct Transfer {
    uint64_t position;
    uint32_t size;
    bool operator==(const Transfer&) const = default;
  };

  // Every name and id opens the one file.
  SN::SNRESULT OpenById(uint32_t, SN::SnOpenMode, SN::SnFileLookupFlags*, bool& syncOpen,
                        SN::SnFileDescriptor& d) override {
    return Open(syncOpen, d);
  }
  SN::SNRESULT OpenByName(const char16_t*, SN::SnOpenMode, SN::SnFileLookupFlags*, bool& syncOpen,
                          SN::SnFileDescriptor& d) override {
    return Open(syncOpen, d);
  }
  SN::SNRESULT Read(SN::SnFileDescriptor&, SN::SnTransferHints& hint, void* buffer,
                    SN::SnTransferRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex);
    transfers.push_back({request.filePosition, request.requestedSize});
    hints.push_back(hint);
    if (request.filePosition + request.requestedSize > file.size()) return SN::SN_Failure;
    if (request.requestedSize) memcpy(buffer, file.data() + request.filePosition, request.requestedSize);
    return SN::SN_Success;
  }
  SN::SNRESULT Write(SN::SnFileDescriptor&, SN::SnTransferHints&, void*, SN::SnTransferRequest&) override {
    return SN::SN_Failure;
  }
  SN::SNRESULT Close(SN::SnFileDescriptor&) override { return SN::SN_Success; }
  uint32_t GetFileBlockSize(SN::SnFileDescriptor&) override { return blockSize; }
  void DescribeDevice(SN::SnDeviceInfo& info) override { info = SN::SnDeviceInfo{deviceId, true, false, {u'm'}, 2}; }
  uint32_t GetDeviceParam() override { return 0; }

  std::vector<Transfer> Transfers() {
    std::lock_guard<std::mutex> lock(mutex);
    return transfers;
  }
  std::vector<SN::SnTransferHints> Hints() {
    std::lock_guard<std::mutex> lock(mutex);
    return hints;
  }

  std::vector<uint8_t> file;
  uint32_t blockSize = 2048;
  uint32_t deviceId = SN::kInvalidDeviceId;
  std::mutex mutex;
  std::vector<Transfer> transfers;
  std::vector<SN::SnTransferHints> hints;

 private:
  SN::SNRESULT Open(bool& syncOpen, SN::SnFileDescriptor& d) {
    syncOpen = true;
    d = SN::SnFileDescriptor{int64_t(file.size()), 0, 0, nullptr, 1, deviceId};
    return SN::SN_Success;
  }
};

}  // namespace BankTest
