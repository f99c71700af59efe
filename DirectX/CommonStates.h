// The toolkit's fixed blend, depth, rasterizer and sampler states, one shared set per device.
#pragma once

#include "Platform/Graphics/GpuDevice.h"

#include <memory>

namespace DirectX {

class CommonStates {
 public:
  // Shares the states of every other CommonStates of the same device.
  explicit CommonStates(Platform::GpuDevice* device);
  virtual ~CommonStates();
  CommonStates(const CommonStates&) = delete;
  CommonStates& operator=(const CommonStates&) = delete;

  // Each state is made on its first request and kept while any CommonStates of the device
  // lives. No reference is added. A state the device cannot create is logged and comes back
  // null (the device default); a later request tries again.
  Platform::GpuBlendState* PremultipliedAlphaBlend() const;
  Platform::GpuBlendState* AdditiveBlend() const;
  Platform::GpuDepthStencilState* NoDepth() const;
  Platform::GpuDepthStencilState* DepthReadOnly() const;
  Platform::GpuRasterizerState* CullBackFaces() const;
  Platform::GpuSamplerState* LinearWrapSampler() const;
  Platform::GpuSamplerState* LinearClampSampler() const;

  class Impl;

 private:
  std::shared_ptr<Impl> m_impl;
};

// Devices whose states are alive (for tests).
size_t CommonStatesLiveDevices();

}  // namespace DirectX
