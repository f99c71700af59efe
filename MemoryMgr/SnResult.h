// The result code of every sound-engine operation; kept with the lowest sound-engine library so
// that all of them share one set.
#pragma once

#include <cstdint>

namespace SN {

enum SNRESULT : int32_t {
  SN_Success = 1,
  SN_Failure = 2,
  SN_NothingChanged = 3,
  SN_InvalidPoolId = 14,
  SN_IdNotFound = 15,
  SN_NoMoreData = 17,
  SN_PartialSuccess = 22,
  SN_InvalidParameter = 31,
  SN_PathNotFound = 36,
  SN_DataReady = 45,
  SN_NoDataReady = 46,
  SN_InsufficientMemory = 52,
  SN_NoTransferPossible = 53,
  SN_FileNotFound = 66,
  SN_MemoryMgrNotInitialized = 74,
  SN_StreamMgrNotInitialized = 75,
  SN_NoSSE = 76,
};

}  // namespace SN
