// The graphics device: creates every GPU object and owns the OpenGL context they live in.
#pragma once

#include "Platform/Graphics/GpuResources.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Platform {

class GlContext;
class GpuContext;
class GpuSwapChain;

// Counters that tests and benchmarks read.
struct GpuStats {
  uint64_t draws = 0;
  uint64_t presents = 0;
  uint64_t clears = 0;        // issued to GL: repeated clears with nothing drawn between count once
  uint64_t clearsOnOwn = 0;   // of those, issued through the view's own framebuffer rather than the bound one
  uint64_t maps = 0;
  uint64_t programLinks = 0;
  uint64_t stateApplies = 0;  // blend, depth-stencil or rasterizer states pushed to GL
};

// Where the layer's diagnostics go (shader compile logs, refused calls). Standard error until
// the engine installs its trace log.
using GpuMessageSink = void (*)(bool isError, const char* text);
void SetGpuMessageSink(GpuMessageSink sink);
void GpuMessage(bool isError, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Test hooks: driver types whose bit (1 << type) is set fail to create a device; while
// `failStateObjects` is set, blend, rasterizer, depth-stencil and sampler states fail to create;
// buffers whose bind flags share a bit with `failingBufferBinds` fail to create.
struct GpuTestHooks {
  uint32_t failingDrivers = 0;
  bool failStateObjects = false;
  uint32_t failingBufferBinds = 0;
};
GpuTestHooks& GetGpuTestHooks();

// Whether a GL renderer string names a rasteriser that runs on the CPU.
bool IsSoftwareRenderer(const char* renderer);
// The most anisotropy a sampler gets on a device. A software rasteriser gathers a pixel's whole
// anisotropic footprint on one of its threads. On thin or edge-on triangles over small textures the
// level of detail runs past the last mip level, so no cap on the ratio bounds that footprint: tens of
// thousands of texels for one pixel, and frames of seconds, under x2 as under x16. There anisotropic
// samplers filter trilinearly; hardware gets what samplers ask for (x16 at most).
constexpr uint32_t kSoftwareMaxAnisotropy = 1;
uint32_t DeviceMaxAnisotropy(const char* renderer);

// Creates a device and its immediate context. `levels` (may be null: 11_0 only) are tried in
// order; the first the device can offer is reported in `achieved`.
GpuResult CreateGpuDevice(GpuDriverType type, const GpuFeatureLevel* levels, uint32_t levelCount,
                          GpuDevice** device, GpuFeatureLevel* achieved, GpuContext** context);

class GpuDevice {
 public:
  uint32_t AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release();

  GpuResult CreateBuffer(const GpuBufferDesc& desc, const GpuSubresourceData* init, GpuBuffer** out);
  // `init` holds one entry per subresource, mip levels of slice 0 first. One-dimensional textures
  // take no block-compressed or depth format; volumes take what GL stores in three dimensions.
  GpuResult CreateTexture1D(const GpuTexture1DDesc& desc, const GpuSubresourceData* init,
                            GpuTexture1D** out);
  GpuResult CreateTexture2D(const GpuTexture2DDesc& desc, const GpuSubresourceData* init,
                            GpuTexture2D** out);
  GpuResult CreateTexture3D(const GpuTexture3DDesc& desc, const GpuSubresourceData* init,
                            GpuTexture3D** out);
  GpuResult CreateShaderResourceView(GpuResource* resource, const GpuShaderResourceViewDesc* desc,
                                     GpuShaderResourceView** out);
  GpuResult CreateRenderTargetView(GpuResource* resource, const GpuRenderTargetViewDesc* desc,
                                   GpuRenderTargetView** out);
  GpuResult CreateDepthStencilView(GpuResource* resource, const GpuDepthStencilViewDesc* desc,
                                   GpuDepthStencilView** out);
  GpuResult CreateVertexShader(const void* code, size_t size, GpuVertexShader** out);
  GpuResult CreatePixelShader(const void* code, size_t size, GpuPixelShader** out);
  GpuResult CreateInputLayout(const GpuInputElementDesc* elements, uint32_t count,
                              const void* vertexShaderCode, size_t size, GpuInputLayout** out);
  GpuResult CreateBlendState(const GpuBlendDesc& desc, GpuBlendState** out);
  GpuResult CreateRasterizerState(const GpuRasterizerDesc& desc, GpuRasterizerState** out);
  GpuResult CreateDepthStencilState(const GpuDepthStencilDesc& desc, GpuDepthStencilState** out);
  GpuResult CreateSamplerState(const GpuSamplerDesc& desc, GpuSamplerState** out);
  GpuResult CreateSwapChain(const GpuSwapChainDesc& desc, GpuSwapChain** out);

  GpuFeatureLevel GetFeatureLevel() const { return m_level; }
  GpuResult CheckFormatSupport(GpuFormat format, uint32_t* support) const;
  void GetImmediateContext(GpuContext** out);

  // Test hooks. Texels of one subresource, rows top first (a volume's slices front first), in the
  // format's own byte layout (blocks for compressed formats; depth in the low 24 bits for D24S8).
  GpuResult ReadTexels(GpuTexture* texture, uint32_t subresource, std::vector<uint8_t>* out);
  // The whole contents of a buffer that is not mapped.
  GpuResult ReadBuffer(GpuBuffer* buffer, std::vector<uint8_t>* out);
  const GpuStats& Stats() const { return m_stats; }
  // The driver's renderer string, and the anisotropy samplers are capped at on it.
  const std::string& RendererName() const { return m_rendererName; }
  uint32_t MaxAnisotropy() const { return m_maxAnisotropy; }

  GpuDevice(const GpuDevice&) = delete;
  GpuDevice& operator=(const GpuDevice&) = delete;

 private:
  friend class GpuContext;
  friend class GpuSwapChain;
  friend class GpuBuffer;
  friend class GpuTexture;
  friend class GpuShaderResourceView;
  friend class GpuRenderTargetView;
  friend class GpuDepthStencilView;
  friend class GpuShader;
  friend class GpuInputLayout;
  friend class GpuSamplerState;
  friend GpuResult CreateGpuDevice(GpuDriverType, const GpuFeatureLevel*, uint32_t, GpuDevice**,
                                   GpuFeatureLevel*, GpuContext**);

  // A linked vertex + pixel pair with where its textures and samplers come from.
  struct TextureUse {
    uint8_t unit;
    uint8_t stage;
    uint8_t slot;
    uint8_t samplerSlot;
    GlEnum target;
  };
  struct Program {
    GlName name = 0;
    uint64_t serial = 0;
    bool valid = false;
    uint64_t vs = 0, ps = 0;
    std::vector<TextureUse> textures;
  };
  struct PairHash {
    size_t operator()(const std::pair<uint64_t, uint64_t>& k) const {
      return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
    }
  };
  // The views bound as outputs, by serial: 8 colour targets and the depth-stencil view.
  using FramebufferKey = std::array<uint64_t, 9>;
  struct KeyHash {
    size_t operator()(const FramebufferKey& k) const {
      uint64_t h = 0;
      for (uint64_t v : k) h = (h ^ v) * 0x100000001B3ull;
      return size_t(h);
    }
  };

  GpuDevice() = default;
  ~GpuDevice();
  bool Init(GlContext* gl, GpuFeatureLevel level);

  GlContext& Gl() { return *m_gl; }
  Program* FindProgram(GpuShader* vs, GpuShader* ps);
  void LinkProgram(Program& p, GpuShader* vs, GpuShader* ps);
  GlName FindFramebuffer(const FramebufferKey& key, GpuRenderTargetView* const* rtvs,
                         GpuDepthStencilView* dsv);
  GlName MakeViewFramebuffer(GpuTexture2D* texture, uint32_t mip, uint32_t layer, bool depth);
  // Gives a new texture its GL storage of `target` and the initial data of its subresources.
  GpuResult MakeTextureStorage(GpuTexture* texture, GlEnum target, const GlFormatInfo& info,
                               const GpuSubresourceData* init);
  // Writes `box` (texels of the level; front and back select a volume's slices) of one
  // subresource. Pitches of 0 mean tightly packed rows and slices.
  void UploadTexture(GpuTexture* texture, uint32_t mip, uint32_t layer, const GpuBox& box, const void* data,
                     uint32_t rowPitch, uint32_t depthPitch);
  // Called by dying objects while the device lives.
  void ForgetView(uint64_t serial);
  void ForgetShader(uint64_t serial);

  std::atomic<uint32_t> m_refs{1};
  GpuDeviceLink* m_link = nullptr;
  GlContext* m_gl = nullptr;
  std::unique_ptr<GpuContext> m_context;
  GpuFeatureLevel m_level = GpuFeatureLevel_11_0;
  GpuStats m_stats;
  bool m_hasPolygonOffsetClamp = false;
  std::string m_rendererName;
  uint32_t m_maxAnisotropy = 16;

  std::unordered_map<std::pair<uint64_t, uint64_t>, Program, PairHash> m_programs;
  std::unordered_map<FramebufferKey, GlName, KeyHash> m_framebuffers;
  // What unbound slots (or slots holding a view of another kind) sample, one per sampler kind:
  // 2D, 2D array, cube, cube array, 1D, 1D array, 3D.
  static constexpr int kZeroTextureKinds = 7;
  static int ZeroTextureKind(GlEnum target);
  GlName m_zeroTextures[kZeroTextureKinds] = {};
  GlName m_zeroBuffer = 0;        // what unbound vertex slots read
  GlName m_defaultSampler = 0;    // linear, clamp: the state of an unbound sampler slot
  GpuRef<GpuInputLayout> m_emptyLayout;
};

}  // namespace Platform
