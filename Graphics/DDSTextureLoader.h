// Turns DDS files (with or without the DX10 extension header; 1D and 2D textures, their arrays, cube
// maps and volumes) into textures of the graphics layer with their shader-resource views. Results
// are the layer's platform-style result codes; nothing is logged here, the callers log.
#pragma once

#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DirectX {

using HRESULT = Platform::GpuResult;

inline constexpr HRESULT E_POINTER_ = int32_t(0x80004003);
inline constexpr HRESULT E_UNEXPECTED_ = int32_t(0x8000FFFF);
inline constexpr HRESULT E_NOINTERFACE_ = int32_t(0x80004002);
inline constexpr HRESULT kErrorInvalidData = int32_t(0x8007000D);
inline constexpr HRESULT kErrorHandleEof = int32_t(0x80070026);
// A system error number as a result code.
inline HRESULT ResultFromErrno(int error) { return int32_t(0x80070000u | (uint32_t(error) & 0xFFFFu)); }

enum DDSAlphaModeValue : uint32_t { DDS_ALPHA_MODE_UNKNOWN = 0, DDS_ALPHA_MODE_PREMULTIPLIED = 2 };

#pragma pack(push, 1)
struct DDS_PIXELFORMAT {
  uint32_t size;
  uint32_t flags;
  uint32_t fourCC;
  uint32_t RGBBitCount;
  uint32_t RBitMask, GBitMask, BBitMask, ABitMask;
};
struct DDS_HEADER {
  uint32_t size;
  uint32_t flags;
  uint32_t height;
  uint32_t width;
  uint32_t pitchOrLinearSize;
  uint32_t depth;
  uint32_t mipMapCount;
  uint32_t reserved1[11];
  DDS_PIXELFORMAT ddspf;
  uint32_t caps, caps2, caps3, caps4;
  uint32_t reserved2;
};
struct DDS_HEADER_DXT10 {
  uint32_t dxgiFormat;
  uint32_t resourceDimension;
  uint32_t miscFlag;
  uint32_t arraySize;
  uint32_t miscFlags2;
};
#pragma pack(pop)
static_assert(sizeof(DDS_PIXELFORMAT) == 32);
static_assert(sizeof(DDS_HEADER) == 124);
static_assert(sizeof(DDS_HEADER_DXT10) == 20);

inline constexpr uint32_t DDS_MAGIC = 0x20534444;  // "DDS "
inline constexpr uint32_t DDS_FOURCC = 0x4, DDS_RGB = 0x40, DDS_LUMINANCE = 0x20000, DDS_ALPHA = 0x2;
inline constexpr uint32_t DDS_HEADER_FLAGS_VOLUME = 0x800000, DDS_HEIGHT = 0x2;
inline constexpr uint32_t DDS_CUBEMAP = 0x200, DDS_CUBEMAP_ALLFACES = 0xFE00;
inline constexpr uint32_t DDS_RESOURCE_MISC_TEXTURECUBE = 0x4;
enum DDSDimension : uint32_t { DDS_DIMENSION_TEXTURE1D = 2, DDS_DIMENSION_TEXTURE2D = 3, DDS_DIMENSION_TEXTURE3D = 4 };

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// The path of a wide name whose characters are single bytes (how the texture resources widen them).
std::string NarrowPath(const wchar_t* path);

size_t BitsPerPixel(uint32_t format);
uint32_t MakeSRGBFormat(uint32_t format);
uint32_t DDSPixelFormatToDXGI(const DDS_PIXELFORMAT& pf);
void SurfaceInfo(uint32_t width, uint32_t height, uint32_t format, size_t* outNumBytes, size_t* outRowBytes,
                 size_t* outNumRows);
uint32_t DDSAlphaMode(const DDS_HEADER* header);

HRESULT ReadDDSFile(const wchar_t* fileName, std::vector<uint8_t>* buffer, const DDS_HEADER** header,
                    const uint8_t** bitData, size_t* bitSize);

HRESULT FillDDSInitData(uint32_t width, uint32_t height, uint32_t depth, uint32_t mipCount, uint32_t arraySize,
                        uint32_t format, size_t maxsize, size_t bitSize, const uint8_t* bitData, uint32_t& twidth,
                        uint32_t& theight, uint32_t& tdepth, uint32_t& skipMip,
                        Platform::GpuSubresourceData* initData);

HRESULT CreateDDSResources(Platform::GpuDevice* device, uint32_t resDim, uint32_t width, uint32_t height,
                           uint32_t depth, uint32_t mipCount, uint32_t arraySize, uint32_t format,
                           Platform::GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags,
                           bool forceSRGB, bool isCubeMap, const Platform::GpuSubresourceData* initData,
                           Platform::GpuResource** texture, Platform::GpuShaderResourceView** textureView);

HRESULT CreateTextureFromDDSData(Platform::GpuDevice* device, Platform::GpuContext* context, const DDS_HEADER* header,
                                 const uint8_t* bitData, size_t bitSize, size_t maxsize, Platform::GpuUsage usage,
                                 uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags, bool forceSRGB,
                                 Platform::GpuResource** texture, Platform::GpuShaderResourceView** textureView);

HRESULT LoadDDSTextureFileEx(Platform::GpuDevice* device, Platform::GpuContext* context, const wchar_t* fileName,
                             size_t maxsize, Platform::GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags,
                             uint32_t miscFlags, bool forceSRGB, Platform::GpuResource** texture,
                             Platform::GpuShaderResourceView** textureView, uint32_t* alphaMode);

HRESULT LoadDDSTextureFile(Platform::GpuDevice* device, Platform::GpuContext* context, const wchar_t* fileName,
                           Platform::GpuResource** texture, Platform::GpuShaderResourceView** textureView,
                           size_t maxsize = 0, uint32_t* alphaMode = nullptr);

}  // namespace DirectX
