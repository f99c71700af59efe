// The renderer's fixed pipeline states, created once and selected by index.
#pragma once

#include "Platform/Graphics/GpuResources.h"

#include <memory>

namespace DirectX {
class CommonStates;
}

namespace Graphics {

class RenderStateSet {
 public:
  // Blend: 0 none, 1 premultiplied alpha, 2 additive, 3 subtractive, 4 ONE/INV_SRC_COLOR,
  // 5 the toolkit's additive. Rasterizer: 0 solid culling back faces, 1 wireframe, 2 solid
  // without culling or depth clip. Samplers: 0 anisotropic wrap, 1 anisotropic clamp.
  // Depth-stencil: 0 none, 1 depth with stencil counting, 2 stencil not-equal without depth,
  // 3 depth test without writes. Null entries select the device defaults.
  static constexpr int kBlendCount = 6;
  static constexpr int kRasterizerCount = 3;
  static constexpr int kSamplerCount = 2;
  static constexpr int kDepthStencilCount = 4;

  static RenderStateSet& GetInstance();

  // Releases the rasterizer, sampler and depth-stencil states. Blend entries stay: 1 and 5 are
  // the toolkit cache's, 2 to 4 live until exit.
  void Release();
  // The device is going: every state goes with it, and the next GetInstance builds the set anew
  // on the device of that time. Nothing happens when the set was never made.
  static void DeviceDestroyed();

  Platform::GpuBlendState* m_blendStates[kBlendCount] = {};
  Platform::GpuRasterizerState* m_rasterizerStates[kRasterizerCount] = {};
  Platform::GpuSamplerState* m_samplerStates[kSamplerCount] = {};
  Platform::GpuDepthStencilState* m_depthStencilStates[kDepthStencilCount] = {};

  RenderStateSet(const RenderStateSet&) = delete;
  RenderStateSet& operator=(const RenderStateSet&) = delete;

 private:
  RenderStateSet();
  ~RenderStateSet();
  void Build();
  void DropAll();

  bool m_built = false;
  // Keeps the cache that owns blend entries 1 and 5 alive as long as the set.
  std::unique_ptr<DirectX::CommonStates> m_commonStates;
};

}  // namespace Graphics
