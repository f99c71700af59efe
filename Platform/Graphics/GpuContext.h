// The immediate context: records pipeline bindings and resolves them into GL state at draws.
#pragma once

#include "Platform/Graphics/GpuDevice.h"

namespace Platform {

constexpr uint32_t kGpuConstantSlots = 14;
constexpr uint32_t kGpuResourceSlots = 16;
constexpr uint32_t kGpuSamplerSlots = 16;
constexpr uint32_t kGpuRenderTargets = 8;
constexpr uint32_t kGpuViewports = 16;

class GpuContext {
 public:
  // The context lives and dies with its device and shares its count.
  uint32_t AddRef() { return device_->AddRef(); }
  uint32_t Release() { return device_->Release(); }
  void GetDevice(GpuDevice** out);
  bool IsDeferred() const { return false; }

  void SetInputLayout(GpuInputLayout* layout);
  void SetVertexBuffers(uint32_t startSlot, uint32_t count, GpuBuffer* const* buffers,
                        const uint32_t* strides, const uint32_t* offsets);
  // Formats R16_UInt or R32_UInt.
  void SetIndexBuffer(GpuBuffer* buffer, GpuFormat format, uint32_t offset);
  void SetPrimitiveTopology(GpuTopology topology) { topology_ = topology; }

  void SetVertexShader(GpuVertexShader* shader);
  void SetPixelShader(GpuPixelShader* shader);
  void SetConstantBuffers(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                          GpuBuffer* const* buffers);
  void SetShaderResources(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                          GpuShaderResourceView* const* views);
  void SetSamplers(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                   GpuSamplerState* const* samplers);
  // What is bound, each non-null entry with a reference added; slots past the last are null.
  void GetShaderResources(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                          GpuShaderResourceView** views) const;

  void SetRenderTargets(uint32_t count, GpuRenderTargetView* const* views, GpuDepthStencilView* depth);
  // The first `count` targets and the depth view (either may be null), references added.
  void GetRenderTargets(uint32_t count, GpuRenderTargetView** views, GpuDepthStencilView** depth) const;
  // A null state selects the default; a null factor means (1, 1, 1, 1).
  void SetBlendState(GpuBlendState* state, const float factor[4], uint32_t sampleMask);
  void SetDepthStencilState(GpuDepthStencilState* state, uint32_t stencilRef);
  void SetRasterizerState(GpuRasterizerState* state);
  void SetViewports(uint32_t count, const GpuViewport* viewports);
  // In: capacity of `viewports` (may be null to ask the count). Out: the count bound.
  void GetViewports(uint32_t* count, GpuViewport* viewports) const;
  void SetScissorRects(uint32_t count, const GpuRect* rects);

  // Clears ignore the scissor and every write mask.
  void ClearRenderTargetView(GpuRenderTargetView* view, const float colour[4]);
  void ClearDepthStencilView(GpuDepthStencilView* view, uint32_t clearFlags, float depth, uint8_t stencil);

  // Buffers only: discard and no-overwrite need a dynamic buffer with CPU write access.
  GpuResult Map(GpuResource* resource, uint32_t subresource, GpuMap type, uint32_t flags,
                GpuMappedSubresource* mapped);
  void Unmap(GpuResource* resource, uint32_t subresource);
  void UpdateSubresource(GpuResource* resource, uint32_t subresource, const GpuBox* box,
                         const void* data, uint32_t rowPitch, uint32_t depthPitch);
  void GenerateMips(GpuShaderResourceView* view);

  void Draw(uint32_t vertexCount, uint32_t startVertex);
  void DrawIndexed(uint32_t indexCount, uint32_t startIndex, int32_t baseVertex);
  void DrawInstanced(uint32_t vertexCount, uint32_t instanceCount, uint32_t startVertex,
                     uint32_t startInstance);
  void DrawIndexedInstanced(uint32_t indexCount, uint32_t instanceCount, uint32_t startIndex,
                            int32_t baseVertex, uint32_t startInstance);

  // Unbinds everything and restores every default state.
  void ClearState();
  void Flush();

  GpuContext(const GpuContext&) = delete;
  GpuContext& operator=(const GpuContext&) = delete;
  ~GpuContext();

 private:
  friend class GpuDevice;
  friend class GpuSwapChain;
  explicit GpuContext(GpuDevice* device);
  void InitGlState();

  // Brings GL up to date with the bindings; false when there is nothing to draw with.
  bool PrepareDraw();
  void ApplyProgram();
  void ApplyInput();
  void ApplyTargets();
  void ApplyBlend();
  void ApplyDepthStencil();
  void ApplyRasterizer();
  void ApplyConstants();
  void ApplyTextures();
  GlName SamplerName(GpuSamplerState* sampler);
  // Clears and presents write past the scissor and the colour mask; these lift and restore them.
  void BeginRawWrite();
  void EndRawWrite();
  // Something outside the binding model (a present, a framebuffer deletion) touched GL.
  void ForgetFramebufferBinding() { appliedFramebuffer_ = ~0u; dirty_ |= kDirtyTargets; }

  enum : uint32_t {
    kDirtyProgram = 1 << 0,
    kDirtyInput = 1 << 1,
    kDirtyTargets = 1 << 2,
    kDirtyViewports = 1 << 3,
    kDirtyScissors = 1 << 4,
    kDirtyBlend = 1 << 5,
    kDirtyDepth = 1 << 6,
    kDirtyRaster = 1 << 7,
    kDirtyConstants = 1 << 8,
    kDirtyTextures = 1 << 9,
    kDirtyAll = (1 << 10) - 1,
  };

  GpuDevice* device_;
  uint32_t dirty_ = kDirtyAll;

  // Bindings as the caller made them.
  GpuRef<GpuInputLayout> layout_;
  GpuRef<GpuBuffer> vertexBuffers_[kGpuVertexSlots];
  uint32_t strides_[kGpuVertexSlots] = {};
  uint32_t offsets_[kGpuVertexSlots] = {};
  GpuRef<GpuBuffer> indexBuffer_;
  GlEnum indexType_ = 0;
  uint32_t indexSize_ = 4;
  uint32_t indexOffset_ = 0;
  GpuTopology topology_ = GpuTopology::Undefined;
  GpuRef<GpuVertexShader> vertexShader_;
  GpuRef<GpuPixelShader> pixelShader_;
  GpuRef<GpuBuffer> constants_[2][kGpuConstantSlots];
  GpuRef<GpuShaderResourceView> resources_[2][kGpuResourceSlots];
  GpuRef<GpuSamplerState> samplers_[2][kGpuSamplerSlots];
  GpuRef<GpuRenderTargetView> targets_[kGpuRenderTargets];
  GpuRef<GpuDepthStencilView> depthTarget_;
  GpuRef<GpuBlendState> blend_;
  float blendFactor_[4] = {1, 1, 1, 1};
  GpuRef<GpuDepthStencilState> depthStencil_;
  uint32_t stencilRef_ = 0;
  GpuRef<GpuRasterizerState> rasterizer_;
  GpuViewport viewports_[kGpuViewports];
  uint32_t viewportCount_ = 0;
  GpuRect scissors_[kGpuViewports];
  uint32_t scissorCount_ = 0;

  // What GL holds now.
  GpuDevice::Program* program_ = nullptr;
  uint64_t appliedProgram_ = 0;
  uint64_t appliedLayout_ = 0;
  GlName appliedFramebuffer_ = ~0u;
  uint64_t appliedTargetsKey_[9] = {};
  uint64_t appliedConstants_[2 * kGpuConstantSlots] = {};
  uint32_t dirtyConstants_ = 0;  // bit per GL binding (stage * 14 + slot)
  uint64_t appliedTextures_[32] = {};
  GlName appliedSamplers_[32] = {};
  const void* appliedBlendState_ = nullptr;
  bool appliedBlendHasPixelShader_ = false;
  float appliedBlendFactor_[4] = {-1, -1, -1, -1};
  GpuBlendDesc appliedBlend_;
  const void* appliedDepthState_ = reinterpret_cast<const void*>(1);
  uint32_t appliedStencilRef_ = ~0u;
  GpuDepthStencilDesc appliedDepth_;
  const void* appliedRasterState_ = reinterpret_cast<const void*>(1);
  GpuRasterizerDesc appliedRaster_;
  bool appliedBlendUniform_ = true;  // all eight targets hold the same blend
  bool glDepthWrite_ = true;         // GL's depth mask, which clears have to lift
  uint8_t glStencilWrite_ = 0xff;
  GlEnum glCullFace_ = 0x0405;  // GL_BACK, kept while culling is off
};

}  // namespace Platform
