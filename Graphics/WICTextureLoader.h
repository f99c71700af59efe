// Turns image files (PNG) into two-dimensional textures of the graphics layer with their views:
// the frame's pixel format is mapped to a texture format directly or through a conversion, sRGB
// content is tagged, oversized images are scaled down, and the device builds the mip chain where
// the format allows. Results are the layer's platform-style result codes; nothing is logged here.
#pragma once

#include "Graphics/DDSTextureLoader.h"
#include "Platform/PngImage.h"

namespace DirectX {

// The texture format of a frame format in the direct table, or 0.
uint32_t WICFormatToDXGI(Platform::ImagePixelFormat format);
uint32_t WICFormatBitsPerPixel(Platform::ImagePixelFormat format);
// The format a frame format is converted to when it has no direct entry (Unknown when none).
Platform::ImagePixelFormat WICConversionTarget(Platform::ImagePixelFormat format);

HRESULT CreateTextureFromWICFrame(Platform::GpuDevice* device, Platform::GpuContext* context, Platform::PngImage& frame,
                                  size_t maxsize, Platform::GpuUsage usage, uint32_t bindFlags,
                                  uint32_t cpuAccessFlags, uint32_t miscFlags, bool forceSRGB,
                                  Platform::GpuResource** texture, Platform::GpuShaderResourceView** textureView);

HRESULT LoadWICTextureFileEx(Platform::GpuDevice* device, Platform::GpuContext* context, const wchar_t* fileName,
                             size_t maxsize, Platform::GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags,
                             uint32_t miscFlags, bool forceSRGB, Platform::GpuResource** texture,
                             Platform::GpuShaderResourceView** textureView);

HRESULT LoadWICTextureFile(Platform::GpuDevice* device, Platform::GpuContext* context, const wchar_t* fileName,
                           Platform::GpuResource** texture, Platform::GpuShaderResourceView** textureView,
                           size_t maxsize = 0);

}  // namespace DirectX
