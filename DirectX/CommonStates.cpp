// The per-device state cache: lock-free reads once filled, one creation per state.
#include "DirectX/CommonStates.h"

#include "DirectX/SharedResourcePool.h"
#include "Graphics/Log.h"

#include <atomic>
#include <cfloat>
#include <mutex>

namespace DirectX {

using namespace Platform;

class CommonStates::Impl {
 public:
  explicit Impl(GpuDevice* device) : m_device(device) {}
  ~Impl() {
    for (auto& slot : m_slots)
      if (GpuObject* state = slot.load(std::memory_order_relaxed)) state->Release();
  }

  enum Slot { kPremultiplied, kAdditive, kNoDepth, kDepthRead, kCullBack, kLinearWrap, kLinearClamp, kCount };

  // Reads the slot twice around the lock, so only the first request of a state pays for it: the
  // release store of a made state pairs with the acquire loads.
  // A state the device refuses is logged and given as null, which selects the device default;
  // the next request tries again.
  template <typename State, typename Make>
  State* GetOrCreate(Slot slot, const char* name, Make make) {
    GpuObject* state = m_slots[slot].load(std::memory_order_acquire);
    if (state) return static_cast<State*>(state);
    std::lock_guard<std::mutex> lock(m_mutex);
    state = m_slots[slot].load(std::memory_order_acquire);
    if (!state) {
      State* created = nullptr;
      if (GpuFailed(make(m_device.Get(), &created)) || !created) {
        GFX_LOG(Error, "Failed to create the common state %s", name);
        return nullptr;
      }
      m_slots[slot].store(created, std::memory_order_release);
      state = created;
    }
    return static_cast<State*>(state);
  }

  GpuRef<GpuDevice> m_device;
  std::atomic<GpuObject*> m_slots[kCount] = {};
  std::mutex m_mutex;
};

namespace {

SharedResourcePool<GpuDevice*, CommonStates::Impl>& Pool() {
  static SharedResourcePool<GpuDevice*, CommonStates::Impl> pool;
  return pool;
}

GpuBlendDesc Blend(GpuBlend src, GpuBlend dest) {
  GpuBlendDesc d;
  d.alphaToCoverageEnable = false;
  d.independentBlendEnable = false;
  for (GpuRenderTargetBlendDesc& rt : d.renderTarget)  // targets 1 to 7 stay all zero
    rt = {false, GpuBlend::Zero, GpuBlend::Zero, GpuBlendOp::Add, GpuBlend::Zero, GpuBlend::Zero, GpuBlendOp::Add, 0};
  d.renderTarget[0] = {true, src, dest, GpuBlendOp::Add, src, dest, GpuBlendOp::Add, GpuColorWrite_All};
  return d;
}

GpuDepthStencilDesc Depth(bool enable) {
  GpuDepthStencilDesc d;
  d.depthEnable = enable;
  d.depthWriteMask = GpuDepthWriteMask::Zero;
  d.depthFunc = GpuComparison::LessEqual;
  d.stencilEnable = false;
  d.stencilReadMask = d.stencilWriteMask = 0xff;
  d.frontFace = d.backFace = {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::Keep, GpuComparison::Always};
  return d;
}

GpuSamplerDesc Sampler(GpuDevice* device, GpuAddressMode mode) {
  GpuSamplerDesc d;
  d.filter = GpuFilter::MinMagMipLinear;
  d.addressU = d.addressV = d.addressW = mode;
  d.mipLODBias = 0;
  d.maxAnisotropy = device->GetFeatureLevel() > GpuFeatureLevel_9_1 ? 16 : 2;
  d.comparisonFunc = GpuComparison::Never;
  d.borderColor[0] = d.borderColor[1] = d.borderColor[2] = d.borderColor[3] = 0;
  d.minLOD = 0;
  d.maxLOD = FLT_MAX;
  return d;
}

}  // namespace

CommonStates::CommonStates(GpuDevice* device) : m_impl(Pool().Acquire(device)) {}

CommonStates::~CommonStates() = default;

GpuBlendState* CommonStates::PremultipliedAlphaBlend() const {
  return m_impl->GetOrCreate<GpuBlendState>(
      Impl::kPremultiplied, "PremultipliedAlphaBlend", [](GpuDevice* d, GpuBlendState** out) {
        return d->CreateBlendState(Blend(GpuBlend::One, GpuBlend::InvSrcAlpha), out);
      });
}

GpuBlendState* CommonStates::AdditiveBlend() const {
  return m_impl->GetOrCreate<GpuBlendState>(Impl::kAdditive, "AdditiveBlend", [](GpuDevice* d, GpuBlendState** out) {
    return d->CreateBlendState(Blend(GpuBlend::SrcAlpha, GpuBlend::One), out);
  });
}

GpuDepthStencilState* CommonStates::NoDepth() const {
  return m_impl->GetOrCreate<GpuDepthStencilState>(
      Impl::kNoDepth, "NoDepth",
      [](GpuDevice* d, GpuDepthStencilState** out) { return d->CreateDepthStencilState(Depth(false), out); });
}

GpuDepthStencilState* CommonStates::DepthReadOnly() const {
  return m_impl->GetOrCreate<GpuDepthStencilState>(
      Impl::kDepthRead, "DepthReadOnly",
      [](GpuDevice* d, GpuDepthStencilState** out) { return d->CreateDepthStencilState(Depth(true), out); });
}

GpuRasterizerState* CommonStates::CullBackFaces() const {
  return m_impl->GetOrCreate<GpuRasterizerState>(Impl::kCullBack, "CullBackFaces",
                                                 [](GpuDevice* d, GpuRasterizerState** out) {
                                                   GpuRasterizerDesc r;
                                                   r.fillMode = GpuFillMode::Solid;
                                                   r.cullMode = GpuCullMode::Back;
                                                   r.frontCounterClockwise = false;
                                                   r.depthBias = 0;
                                                   r.depthBiasClamp = 0;
                                                   r.slopeScaledDepthBias = 0;
                                                   r.depthClipEnable = true;
                                                   r.scissorEnable = false;
                                                   r.multisampleEnable = true;
                                                   r.antialiasedLineEnable = false;
                                                   return d->CreateRasterizerState(r, out);
                                                 });
}

GpuSamplerState* CommonStates::LinearWrapSampler() const {
  return m_impl->GetOrCreate<GpuSamplerState>(
      Impl::kLinearWrap, "LinearWrapSampler",
      [](GpuDevice* d, GpuSamplerState** out) { return d->CreateSamplerState(Sampler(d, GpuAddressMode::Wrap), out); });
}

GpuSamplerState* CommonStates::LinearClampSampler() const {
  return m_impl->GetOrCreate<GpuSamplerState>(Impl::kLinearClamp, "LinearClampSampler",
                                              [](GpuDevice* d, GpuSamplerState** out) {
                                                return d->CreateSamplerState(Sampler(d, GpuAddressMode::Clamp), out);
                                              });
}

size_t CommonStatesLiveDevices() { return Pool().LiveCount(); }

}  // namespace DirectX
