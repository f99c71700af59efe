// Processor features: every x86-64 processor has SSE; elsewhere the compiler tells.
#include "SoundEngine/CpuInfo.h"

namespace SN {

CSnCpuInfo::CSnCpuInfo() {
#if defined(__x86_64__) || defined(__SSE__)
  m_features |= Feature_SSE;
#endif
}

CSnCpuInfo& CSnCpuInfo::GetInstance() {
  static CSnCpuInfo instance;
  return instance;
}

}  // namespace SN
