// Plain descriptions, enumerations and result codes of the graphics layer (no GL in here).
#pragma once

#include <cstdint>

namespace Platform {

class Window;

// Results keep the numeric values of the platform result codes, so loaders that report such
// codes can pass the layer's results through unchanged. Negative means failure.
using GpuResult = int32_t;
constexpr GpuResult kGpuOk = 0;
constexpr GpuResult kGpuFalse = 1;
constexpr GpuResult kGpuFail = int32_t(0x80004005);
constexpr GpuResult kGpuInvalidArg = int32_t(0x80070057);
constexpr GpuResult kGpuOutOfMemory = int32_t(0x8007000E);
constexpr GpuResult kGpuNotSupported = int32_t(0x80070032);
constexpr GpuResult kGpuInvalidCall = int32_t(0x887A0001);
inline bool GpuFailed(GpuResult r) { return r < 0; }

// Pixel and vertex formats. The numbers are the ones texture files and the renderer's records
// store, so they are kept exactly.
enum GpuFormat : uint32_t {
  GpuFormat_Unknown = 0,
  GpuFormat_R32G32B32A32_Float = 2,
  GpuFormat_R32G32B32A32_UInt = 3,
  GpuFormat_R32G32B32A32_SInt = 4,
  GpuFormat_R32G32B32_Float = 6,
  GpuFormat_R32G32B32_UInt = 7,
  GpuFormat_R32G32B32_SInt = 8,
  GpuFormat_R16G16B16A16_Float = 10,
  GpuFormat_R16G16B16A16_UNorm = 11,
  GpuFormat_R32G32_Float = 16,
  GpuFormat_R32G32_UInt = 17,
  GpuFormat_R32G32_SInt = 18,
  GpuFormat_R10G10B10A2_UNorm = 24,
  GpuFormat_R11G11B10_Float = 26,
  GpuFormat_R8G8B8A8_UNorm = 28,
  GpuFormat_R8G8B8A8_UNorm_SRGB = 29,
  GpuFormat_R8G8B8A8_UInt = 30,
  GpuFormat_R16G16_Float = 34,
  GpuFormat_R16G16_UNorm = 35,
  GpuFormat_D32_Float = 40,
  GpuFormat_R32_Float = 41,
  GpuFormat_R32_UInt = 42,
  GpuFormat_R32_SInt = 43,
  GpuFormat_D24_UNorm_S8_UInt = 45,
  GpuFormat_R8G8_UNorm = 49,
  GpuFormat_R16_Float = 54,
  GpuFormat_D16_UNorm = 55,
  GpuFormat_R16_UNorm = 56,
  GpuFormat_R16_UInt = 57,
  GpuFormat_R8_UNorm = 61,
  GpuFormat_A8_UNorm = 65,
  GpuFormat_BC1_UNorm = 71,
  GpuFormat_BC1_UNorm_SRGB = 72,
  GpuFormat_BC2_UNorm = 74,
  GpuFormat_BC2_UNorm_SRGB = 75,
  GpuFormat_BC3_UNorm = 77,
  GpuFormat_BC3_UNorm_SRGB = 78,
  GpuFormat_BC4_UNorm = 80,
  GpuFormat_BC4_SNorm = 81,
  GpuFormat_BC5_UNorm = 83,
  GpuFormat_BC5_SNorm = 84,
  GpuFormat_B5G6R5_UNorm = 85,
  GpuFormat_B8G8R8A8_UNorm = 87,
  GpuFormat_B8G8R8X8_UNorm = 88,
  GpuFormat_B8G8R8A8_UNorm_SRGB = 91,
  GpuFormat_B8G8R8X8_UNorm_SRGB = 93,
  GpuFormat_BC6H_UF16 = 95,
  GpuFormat_BC6H_SF16 = 96,
  GpuFormat_BC7_UNorm = 98,
  GpuFormat_BC7_UNorm_SRGB = 99,
};

// Feature levels as the renderer compares them (higher is more capable).
enum GpuFeatureLevel : uint32_t {
  GpuFeatureLevel_9_1 = 0x9100,
  GpuFeatureLevel_9_2 = 0x9200,
  GpuFeatureLevel_9_3 = 0x9300,
  GpuFeatureLevel_10_0 = 0xa000,
  GpuFeatureLevel_10_1 = 0xa100,
  GpuFeatureLevel_11_0 = 0xb000,
};

// Hardware: the video driver SDL picks (a display when there is one). Software: SDL's offscreen
// driver, rendering with the system's software rasteriser.
enum class GpuDriverType : uint32_t { Hardware, Software };

enum class GpuUsage : uint32_t { Default, Immutable, Dynamic, Staging };

enum GpuBindFlag : uint32_t {
  GpuBind_VertexBuffer = 0x1,
  GpuBind_IndexBuffer = 0x2,
  GpuBind_ConstantBuffer = 0x4,
  GpuBind_ShaderResource = 0x8,
  GpuBind_RenderTarget = 0x20,
  GpuBind_DepthStencil = 0x40,
};

enum GpuCpuAccessFlag : uint32_t { GpuCpuAccess_Write = 0x10000, GpuCpuAccess_Read = 0x20000 };

enum GpuResourceMiscFlag : uint32_t { GpuMisc_GenerateMips = 0x1, GpuMisc_TextureCube = 0x4 };

enum class GpuMap : uint32_t { Read = 1, Write = 2, ReadWrite = 3, WriteDiscard = 4, WriteNoOverwrite = 5 };

enum GpuClearFlag : uint32_t { GpuClear_Depth = 0x1, GpuClear_Stencil = 0x2 };

// What CheckFormatSupport reports.
enum GpuFormatSupport : uint32_t {
  GpuSupport_Buffer = 0x1,
  GpuSupport_VertexBuffer = 0x2,
  GpuSupport_IndexBuffer = 0x4,
  GpuSupport_Texture1D = 0x10,
  GpuSupport_Texture2D = 0x20,
  GpuSupport_Texture3D = 0x40,
  GpuSupport_TextureCube = 0x80,
  GpuSupport_ShaderSample = 0x400,
  GpuSupport_MipAutogen = 0x20000,
  GpuSupport_RenderTarget = 0x4000,
  GpuSupport_Blendable = 0x8000,
  GpuSupport_DepthStencil = 0x10000,
};

enum class GpuShaderStage : uint32_t { Vertex = 0, Pixel = 1 };
enum class GpuTopology : uint32_t { Undefined, PointList, LineList, LineStrip, TriangleList, TriangleStrip };
enum class GpuInputClass : uint32_t { PerVertex, PerInstance };
enum class GpuViewDimension : uint32_t {
  Unknown, Texture2D, Texture2DArray, TextureCube, TextureCubeArray, Texture1D, Texture1DArray, Texture3D,
};

enum class GpuBlend : uint32_t {
  Zero, One, SrcColor, InvSrcColor, SrcAlpha, InvSrcAlpha, DestAlpha, InvDestAlpha, DestColor,
  InvDestColor, SrcAlphaSat, BlendFactor, InvBlendFactor, Src1Color, InvSrc1Color, Src1Alpha,
  InvSrc1Alpha,
};
enum class GpuBlendOp : uint32_t { Add, Subtract, RevSubtract, Min, Max };
enum GpuColorWrite : uint8_t {
  GpuColorWrite_Red = 1, GpuColorWrite_Green = 2, GpuColorWrite_Blue = 4, GpuColorWrite_Alpha = 8,
  GpuColorWrite_All = 15,
};
enum class GpuComparison : uint32_t { Never, Less, Equal, LessEqual, Greater, NotEqual, GreaterEqual, Always };
enum class GpuStencilOp : uint32_t { Keep, Zero, Replace, IncrSat, DecrSat, Invert, Incr, Decr };
enum class GpuDepthWriteMask : uint32_t { Zero, All };
enum class GpuFillMode : uint32_t { Solid, Wireframe };
enum class GpuCullMode : uint32_t { None, Front, Back };
enum class GpuFilter : uint32_t {
  MinMagMipPoint, MinMagPointMipLinear, MinMagLinearMipPoint, MinMagMipLinear, Anisotropic,
  ComparisonMinMagMipPoint, ComparisonMinMagMipLinear, ComparisonAnisotropic,
};
enum class GpuAddressMode : uint32_t { Wrap, Mirror, Clamp, Border, MirrorOnce };

struct GpuBufferDesc {
  uint32_t byteWidth = 0;
  GpuUsage usage = GpuUsage::Default;
  uint32_t bindFlags = 0;
  uint32_t cpuAccessFlags = 0;
  uint32_t miscFlags = 0;
  uint32_t structureByteStride = 0;
};

struct GpuSubresourceData {
  const void* sysMem = nullptr;
  uint32_t sysMemPitch = 0;       // bytes per row (per row of blocks for compressed formats)
  uint32_t sysMemSlicePitch = 0;
};

struct GpuTexture1DDesc {
  uint32_t width = 0;
  uint32_t mipLevels = 1;         // 0: the full chain
  uint32_t arraySize = 1;
  GpuFormat format = GpuFormat_Unknown;
  GpuUsage usage = GpuUsage::Default;
  uint32_t bindFlags = 0;
  uint32_t cpuAccessFlags = 0;
  uint32_t miscFlags = 0;
};

struct GpuTexture2DDesc {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t mipLevels = 1;         // 0: the full chain
  uint32_t arraySize = 1;
  GpuFormat format = GpuFormat_Unknown;
  uint32_t sampleCount = 1;
  uint32_t sampleQuality = 0;
  GpuUsage usage = GpuUsage::Default;
  uint32_t bindFlags = 0;
  uint32_t cpuAccessFlags = 0;
  uint32_t miscFlags = 0;
};

// A volume: depth slices of width x height texels, each level halving all three.
struct GpuTexture3DDesc {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
  uint32_t mipLevels = 1;         // 0: the full chain
  GpuFormat format = GpuFormat_Unknown;
  GpuUsage usage = GpuUsage::Default;
  uint32_t bindFlags = 0;
  uint32_t cpuAccessFlags = 0;
  uint32_t miscFlags = 0;
};

// For cube arrays, firstArraySlice is the first face and arraySize the number of cubes.
struct GpuShaderResourceViewDesc {
  GpuFormat format = GpuFormat_Unknown;
  GpuViewDimension dimension = GpuViewDimension::Texture2D;
  uint32_t mostDetailedMip = 0;
  uint32_t mipLevels = 0xffffffffu;  // all from mostDetailedMip on
  uint32_t firstArraySlice = 0;
  uint32_t arraySize = 1;
};

struct GpuRenderTargetViewDesc {
  GpuFormat format = GpuFormat_Unknown;
  GpuViewDimension dimension = GpuViewDimension::Texture2D;
  uint32_t mipSlice = 0;
  uint32_t firstArraySlice = 0;
};

struct GpuDepthStencilViewDesc {
  GpuFormat format = GpuFormat_Unknown;
  GpuViewDimension dimension = GpuViewDimension::Texture2D;
  uint32_t flags = 0;
  uint32_t mipSlice = 0;
  uint32_t firstArraySlice = 0;
};

struct GpuMappedSubresource {
  void* data = nullptr;
  uint32_t rowPitch = 0;
  uint32_t depthPitch = 0;
};

struct GpuBox {
  uint32_t left, top, front, right, bottom, back;
};

struct GpuViewport {
  float topLeftX = 0, topLeftY = 0, width = 0, height = 0, minDepth = 0, maxDepth = 1;
};

struct GpuRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

constexpr uint32_t kGpuAppendAligned = 0xffffffffu;

struct GpuInputElementDesc {
  const char* semanticName;
  uint32_t semanticIndex;
  GpuFormat format;
  uint32_t inputSlot;
  uint32_t alignedByteOffset;
  GpuInputClass inputSlotClass;
  uint32_t instanceDataStepRate;
};

struct GpuRenderTargetBlendDesc {
  bool blendEnable = false;
  GpuBlend srcBlend = GpuBlend::One;
  GpuBlend destBlend = GpuBlend::Zero;
  GpuBlendOp blendOp = GpuBlendOp::Add;
  GpuBlend srcBlendAlpha = GpuBlend::One;
  GpuBlend destBlendAlpha = GpuBlend::Zero;
  GpuBlendOp blendOpAlpha = GpuBlendOp::Add;
  uint8_t renderTargetWriteMask = GpuColorWrite_All;
};

struct GpuBlendDesc {
  bool alphaToCoverageEnable = false;
  bool independentBlendEnable = false;
  GpuRenderTargetBlendDesc renderTarget[8];
};

struct GpuRasterizerDesc {
  GpuFillMode fillMode = GpuFillMode::Solid;
  GpuCullMode cullMode = GpuCullMode::Back;
  bool frontCounterClockwise = false;
  int32_t depthBias = 0;
  float depthBiasClamp = 0;
  float slopeScaledDepthBias = 0;
  bool depthClipEnable = true;
  bool scissorEnable = false;
  bool multisampleEnable = false;
  bool antialiasedLineEnable = false;
};

struct GpuStencilOpDesc {
  GpuStencilOp stencilFailOp = GpuStencilOp::Keep;
  GpuStencilOp stencilDepthFailOp = GpuStencilOp::Keep;
  GpuStencilOp stencilPassOp = GpuStencilOp::Keep;
  GpuComparison stencilFunc = GpuComparison::Always;
};

struct GpuDepthStencilDesc {
  bool depthEnable = true;
  GpuDepthWriteMask depthWriteMask = GpuDepthWriteMask::All;
  GpuComparison depthFunc = GpuComparison::Less;
  bool stencilEnable = false;
  uint8_t stencilReadMask = 0xff;
  uint8_t stencilWriteMask = 0xff;
  GpuStencilOpDesc frontFace;
  GpuStencilOpDesc backFace;
};

struct GpuSamplerDesc {
  GpuFilter filter = GpuFilter::MinMagMipLinear;
  GpuAddressMode addressU = GpuAddressMode::Clamp;
  GpuAddressMode addressV = GpuAddressMode::Clamp;
  GpuAddressMode addressW = GpuAddressMode::Clamp;
  float mipLODBias = 0;
  uint32_t maxAnisotropy = 1;
  GpuComparison comparisonFunc = GpuComparison::Never;
  float borderColor[4] = {1, 1, 1, 1};
  float minLOD = -3.402823466e+38f;
  float maxLOD = 3.402823466e+38f;
};

// A swap chain presents into a window; without a window it keeps an offscreen back buffer that
// only tests read.
struct GpuSwapChainDesc {
  uint32_t width = 0;
  uint32_t height = 0;
  GpuFormat format = GpuFormat_R8G8B8A8_UNorm;
  uint32_t bufferCount = 1;
  Window* outputWindow = nullptr;
  bool windowed = true;
};

// One entry of a vertex shader's stored input signature.
enum class GpuComponentType : uint32_t { Unknown = 0, UInt32 = 1, SInt32 = 2, Float32 = 3 };

}  // namespace Platform
