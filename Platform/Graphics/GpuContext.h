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
  uint32_t AddRef() { return m_device->AddRef(); }
  uint32_t Release() { return m_device->Release(); }
  void GetDevice(GpuDevice** out);
  bool IsDeferred() const { return false; }

  void SetInputLayout(GpuInputLayout* layout);
  void SetVertexBuffers(uint32_t startSlot, uint32_t count, GpuBuffer* const* buffers,
                        const uint32_t* strides, const uint32_t* offsets);
  // Formats R16_UInt or R32_UInt.
  void SetIndexBuffer(GpuBuffer* buffer, GpuFormat format, uint32_t offset);
  void SetPrimitiveTopology(GpuTopology topology) { m_topology = topology; }

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

  // Clears ignore the scissor and every write mask. A clear waits until its view is next drawn to and
  // is then issued on the framebuffer bound for that draw, where the driver folds it into the draw's
  // own pass; a later clear of the same view replaces it. Anything that reads the texture first
  // (sampling, read-back, an upload, mip generation, a present) gets it issued on its own before.
  // With `rect` (texels from the top-left corner, right and bottom excluded) only that part of the
  // view is cleared; it waits like a whole clear, and a waiting clear it does not cover is issued first.
  void ClearRenderTargetView(GpuRenderTargetView* view, const float colour[4], const GpuRect* rect = nullptr);
  void ClearDepthStencilView(GpuDepthStencilView* view, uint32_t clearFlags, float depth, uint8_t stencil,
                             const GpuRect* rect = nullptr);

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
  friend class GpuRenderTargetView;
  friend class GpuDepthStencilView;
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
  // Issues the clears still waiting on views of `texture`, each through its view's own framebuffer.
  void ResolveClears(GpuTexture* texture);
  template <class View>
  void ResolveClearsOf(std::vector<View*>& pending, GpuTexture* texture, const View* except);
  void ResolveClear(GpuRenderTargetView* view);
  void ResolveClear(GpuDepthStencilView* view);
  // Issues a view's waiting clear (through `issue`) on a framebuffer of that view alone.
  template <class View, class Issue>
  void ClearOnOwn(View* view, bool depth, Issue issue);
  // Issues the waiting clears of the bound views on the bound framebuffer.
  void IssueBoundClears();
  void IssueColourClear(GpuRenderTargetView* view, GlName framebuffer, int drawBuffer);
  void IssueDepthClear(GpuDepthStencilView* view, GlName framebuffer);
  // Around a clear of part of a view, inside BeginRawWrite and EndRawWrite: the scissor holds it in.
  void BeginPartClear(const GpuRect& rect);
  void EndPartClear();
  // Something outside the binding model (a present, a framebuffer deletion) touched GL.
  void ForgetFramebufferBinding() { m_appliedFramebuffer = ~0u; m_dirty |= kDirtyTargets; }

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

  GpuDevice* m_device;
  uint32_t m_dirty = kDirtyAll;

  // Bindings as the caller made them.
  GpuRef<GpuInputLayout> m_layout;
  GpuRef<GpuBuffer> m_vertexBuffers[kGpuVertexSlots];
  uint32_t m_strides[kGpuVertexSlots] = {};
  uint32_t m_offsets[kGpuVertexSlots] = {};
  GpuRef<GpuBuffer> m_indexBuffer;
  GlEnum m_indexType = 0;
  uint32_t m_indexSize = 4;
  uint32_t m_indexOffset = 0;
  GpuTopology m_topology = GpuTopology::Undefined;
  GpuRef<GpuVertexShader> m_vertexShader;
  GpuRef<GpuPixelShader> m_pixelShader;
  GpuRef<GpuBuffer> constants_[2][kGpuConstantSlots];
  GpuRef<GpuShaderResourceView> resources_[2][kGpuResourceSlots];
  GpuRef<GpuSamplerState> samplers_[2][kGpuSamplerSlots];
  GpuRef<GpuRenderTargetView> m_targets[kGpuRenderTargets];
  GpuRef<GpuDepthStencilView> m_depthTarget;
  GpuRef<GpuBlendState> m_blend;
  float m_blendFactor[4] = {1, 1, 1, 1};
  GpuRef<GpuDepthStencilState> m_depthStencil;
  uint32_t m_stencilRef = 0;
  GpuRef<GpuRasterizerState> m_rasterizer;
  GpuViewport m_viewports[kGpuViewports];
  uint32_t m_viewportCount = 0;
  GpuRect m_scissors[kGpuViewports];
  uint32_t m_scissorCount = 0;
  int32_t m_partClearSavedBox[4] = {};  // the draws' scissor box while a part clear has its own

  // What GL holds now.
  GpuDevice::Program* m_program = nullptr;
  uint64_t m_appliedProgram = 0;
  uint64_t m_appliedLayout = 0;
  GlName m_appliedFramebuffer = ~0u;
  uint64_t m_appliedTargetsKey[9] = {};
  uint64_t m_appliedConstants[2 * kGpuConstantSlots] = {};
  uint32_t m_dirtyConstants = 0;  // bit per GL binding (stage * 14 + slot)
  uint64_t m_appliedTextures[32] = {};
  GlName m_appliedSamplers[32] = {};
  const void* m_appliedBlendState = nullptr;
  bool m_appliedBlendHasPixelShader = false;
  float m_appliedBlendFactor[4] = {-1, -1, -1, -1};
  GpuBlendDesc m_appliedBlend;
  const void* m_appliedDepthState = reinterpret_cast<const void*>(1);
  uint32_t m_appliedStencilRef = ~0u;
  GpuDepthStencilDesc m_appliedDepth;
  const void* m_appliedRasterState = reinterpret_cast<const void*>(1);
  GpuRasterizerDesc m_appliedRaster;
  bool m_appliedBlendUniform = true;  // all eight targets hold the same blend
  bool m_glDepthWrite = true;         // GL's depth mask, which clears have to lift
  uint8_t m_glStencilWrite = 0xff;
  GlEnum m_glCullFace = 0x0405;  // GL_BACK, kept while culling is off

  // Views whose clear is not issued yet. Not references: a view that dies issues its clear first.
  std::vector<GpuRenderTargetView*> m_pendingColour;
  std::vector<GpuDepthStencilView*> m_pendingDepth;
};

}  // namespace Platform
