// The stream manager's two seams to the file system: the resolver that opens files by name or id
// into descriptors, and the hooks that move their bytes (blocking, or completing later).
#pragma once

#include "StreamMgr/ISnStreamMgr.h"

namespace SN::StreamMgr {

class ISnFileLocationResolver {
 public:
  virtual ~ISnFileLocationResolver() = default;
  // `syncOpen` false asks for a deferred open; the resolver may leave the file for later (size 0)
  // and the device opens it again on its thread with `syncOpen` true.
  virtual SNRESULT OpenById(uint32_t fileId, SnOpenMode mode, SnFileLookupFlags* flags, bool& syncOpen,
                            SnFileDescriptor& descriptor) = 0;
  virtual SNRESULT OpenByName(const char16_t* name, SnOpenMode mode, SnFileLookupFlags* flags, bool& syncOpen,
                              SnFileDescriptor& descriptor) = 0;
};

class ISnLowLevelIOHook {
 public:
  virtual ~ISnLowLevelIOHook() = default;
  virtual SNRESULT Close(SnFileDescriptor& descriptor) = 0;
  virtual uint32_t GetFileBlockSize(SnFileDescriptor& descriptor) = 0;
  virtual void DescribeDevice(SnDeviceInfo& info) = 0;
  virtual uint32_t GetDeviceParam() = 0;
};

// Every transfer completes before the call returns, on the device's thread. 1 only when every
// byte asked for moved.
class ISnIOHookBlocking : public ISnLowLevelIOHook {
 public:
  virtual SNRESULT Read(SnFileDescriptor& descriptor, SnTransferHints& hints, void* buffer,
                        SnTransferRequest& request) = 0;
  virtual SNRESULT Write(SnFileDescriptor& descriptor, SnTransferHints& hints, void* buffer,
                         SnTransferRequest& request) = 0;
};

// A transfer handed to a deferred hook. The hook calls `complete(transfer, result)` exactly once,
// from any thread, when the bytes have moved (result 1) or could not (2).
struct SnAsyncTransfer {
  SnTransferRequest request;
  void* buffer;
  void (*complete)(SnAsyncTransfer* transfer, SNRESULT result);
  void* cookie;               // the device's record of the transfer
};

// Transfers are lined up and complete later; the device keeps at most its maximum in flight.
class ISnIOHookDeferred : public ISnLowLevelIOHook {
 public:
  // A result other than 1 means the transfer was not taken and `complete` will not be called.
  virtual SNRESULT ReadAsync(SnFileDescriptor& descriptor, SnTransferHints& hints, SnAsyncTransfer& transfer) = 0;
  virtual SNRESULT WriteAsync(SnFileDescriptor& descriptor, SnTransferHints& hints, SnAsyncTransfer& transfer) = 0;
};

}  // namespace SN::StreamMgr
