// What the sound engine asks of the processor before it starts.
#pragma once

#include <cstdint>

namespace SN {

class CSnCpuInfo {
 public:
  static CSnCpuInfo& GetInstance();
  enum Feature : uint32_t { Feature_SSE = 1 };
  bool HasFeature(uint32_t mask) const { return (m_features & mask) == mask; }

 private:
  CSnCpuInfo();
  uint32_t m_features = 0;
};

}  // namespace SN
