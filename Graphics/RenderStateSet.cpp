// Builds the renderer's state tables in the order blend, rasterizer, sampler, depth-stencil.
#include "Graphics/RenderStateSet.h"

#include "DirectX/CommonStates.h"
#include "Graphics/Device.h"

#include <cfloat>

namespace Graphics {

using namespace Platform;

namespace {

GpuBlendState* MakeBlend(GpuDevice* device, GpuBlend src, GpuBlend dest, GpuBlendOp op, GpuBlend srcA,
                         GpuBlend destA, GpuBlendOp opA) {
  GpuBlendDesc d;
  d.alphaToCoverageEnable = false;
  d.independentBlendEnable = false;
  d.renderTarget[0] = {true, src, dest, op, srcA, destA, opA, GpuColorWrite_All};
  GpuBlendState* state = nullptr;
  device->CreateBlendState(d, &state);
  return state;
}

GpuRasterizerState* MakeRasterizer(GpuDevice* device, GpuFillMode fill, GpuCullMode cull, bool depthClip) {
  GpuRasterizerDesc d;
  d.fillMode = fill;
  d.cullMode = cull;
  d.frontCounterClockwise = false;
  d.depthBias = 0;
  d.depthBiasClamp = 0;
  d.slopeScaledDepthBias = 0;
  d.depthClipEnable = depthClip;
  d.scissorEnable = false;
  d.multisampleEnable = true;
  d.antialiasedLineEnable = true;
  GpuRasterizerState* state = nullptr;
  device->CreateRasterizerState(d, &state);
  return state;
}

GpuSamplerState* MakeSampler(GpuDevice* device, GpuAddressMode mode) {
  GpuSamplerDesc d;
  d.filter = GpuFilter::Anisotropic;
  d.addressU = d.addressV = d.addressW = mode;
  d.maxAnisotropy = 16;
  d.mipLODBias = 0;
  d.comparisonFunc = GpuComparison::Never;  // unused with anisotropic filtering
  d.borderColor[0] = d.borderColor[1] = d.borderColor[2] = d.borderColor[3] = 0;
  d.minLOD = 0;
  d.maxLOD = FLT_MAX;
  GpuSamplerState* state = nullptr;
  device->CreateSamplerState(d, &state);
  return state;
}

GpuDepthStencilState* MakeDepth(GpuDevice* device, bool depth, GpuDepthWriteMask write, bool stencil,
                                GpuStencilOpDesc front) {
  GpuDepthStencilDesc d;
  d.depthEnable = depth;
  d.depthWriteMask = write;
  d.depthFunc = GpuComparison::Less;
  d.stencilEnable = stencil;
  d.stencilReadMask = d.stencilWriteMask = 0xff;
  d.frontFace = front;
  d.backFace = {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::Keep, GpuComparison::Never};
  GpuDepthStencilState* state = nullptr;
  device->CreateDepthStencilState(d, &state);
  return state;
}

RenderStateSet* g_set = nullptr;  // the instance once made

}  // namespace

RenderStateSet& RenderStateSet::GetInstance() {
  static RenderStateSet instance;
  if (!instance.m_built) instance.Build();
  return instance;
}

void RenderStateSet::DeviceDestroyed() {
  if (g_set) g_set->DropAll();
}

RenderStateSet::RenderStateSet() { g_set = this; }

void RenderStateSet::Build() {
  m_built = true;
  GpuDevice* device = GetDevice()->m_device;
  if (!device) return;  // creation failed and was reported; every entry selects the default
  using B = GpuBlend;
  using Op = GpuBlendOp;
  m_commonStates = std::make_unique<DirectX::CommonStates>(device);
  m_blendStates[0] = nullptr;
  m_blendStates[1] = m_commonStates->PremultipliedAlphaBlend();
  m_blendStates[2] = MakeBlend(device, B::One, B::One, Op::Add, B::One, B::Zero, Op::Add);
  m_blendStates[3] = MakeBlend(device, B::One, B::One, Op::Subtract, B::One, B::Zero, Op::Subtract);
  m_blendStates[4] = MakeBlend(device, B::One, B::InvSrcColor, Op::Add, B::Zero, B::InvSrcAlpha, Op::Add);
  m_blendStates[5] = m_commonStates->AdditiveBlend();

  m_rasterizerStates[0] = MakeRasterizer(device, GpuFillMode::Solid, GpuCullMode::Back, true);
  m_rasterizerStates[1] = MakeRasterizer(device, GpuFillMode::Wireframe, GpuCullMode::Back, true);
  m_rasterizerStates[2] = MakeRasterizer(device, GpuFillMode::Solid, GpuCullMode::None, false);

  m_samplerStates[0] = MakeSampler(device, GpuAddressMode::Wrap);
  m_samplerStates[1] = MakeSampler(device, GpuAddressMode::Clamp);

  const GpuStencilOpDesc keep{GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::Keep, GpuComparison::Always};
  m_depthStencilStates[0] = nullptr;
  m_depthStencilStates[1] = MakeDepth(device, true, GpuDepthWriteMask::All, true,
                                      {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::IncrSat, GpuComparison::Always});
  m_depthStencilStates[2] = MakeDepth(device, false, GpuDepthWriteMask::All, true,
                                      {GpuStencilOp::Keep, GpuStencilOp::Keep, GpuStencilOp::Keep, GpuComparison::NotEqual});
  m_depthStencilStates[3] = MakeDepth(device, true, GpuDepthWriteMask::Zero, false, keep);
}

RenderStateSet::~RenderStateSet() {
  DropAll();
  g_set = nullptr;
}

void RenderStateSet::DropAll() {
  Release();
  for (int i = 2; i <= 4; ++i)
    if (m_blendStates[i]) m_blendStates[i]->Release();
  for (auto*& blend : m_blendStates) blend = nullptr;
  m_commonStates.reset();
  m_built = false;
}

void RenderStateSet::Release() {
  auto drop = [](auto*& state) {
    if (state) state->Release();
    state = nullptr;
  };
  for (auto*& s : m_rasterizerStates) drop(s);
  for (auto*& s : m_samplerStates) drop(s);
  for (auto*& s : m_depthStencilStates) drop(s);
}

}  // namespace Graphics
