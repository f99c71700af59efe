// Image-file textures: format choice, sRGB tagging, area-average down-scaling and creation.
#include "Graphics/WICTextureLoader.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace DirectX {

using namespace Platform;

namespace {

// Converted buffers above this are refused as out of memory rather than attempted.
constexpr uint64_t kMaxImageBytes = 1ull << 30;

// Bytes per channel and channels of the formats the decoder can deliver.
void ChannelLayout(ImagePixelFormat format, uint32_t* channelBytes, uint32_t* channels) {
  switch (format) {
    case ImagePixelFormat::Gray8: *channelBytes = 1, *channels = 1; return;
    case ImagePixelFormat::Gray16: *channelBytes = 2, *channels = 1; return;
    case ImagePixelFormat::BGRA32:
    case ImagePixelFormat::RGBA32: *channelBytes = 1, *channels = 4; return;
    case ImagePixelFormat::RGBA64: *channelBytes = 2, *channels = 4; return;
    default: *channelBytes = 0, *channels = 0; return;
  }
}

// Area-average scaling (each target texel the mean of the source texels it covers), the quality
// the loader's contract asks of its scaler.
bool ScaleDown(const uint8_t* src, uint32_t sw, uint32_t sh, size_t srcPitch, uint8_t* dst, uint32_t tw, uint32_t th,
               size_t dstPitch, ImagePixelFormat format) {
  uint32_t cb = 0, channels = 0;
  ChannelLayout(format, &cb, &channels);
  if (!cb || !tw || !th) return false;
  std::vector<double> sums(size_t(tw) * channels);
  for (uint32_t ty = 0; ty < th; ++ty) {
    const uint32_t y0 = uint32_t(uint64_t(ty) * sh / th), y1 = std::max(y0 + 1, uint32_t(uint64_t(ty + 1) * sh / th));
    std::fill(sums.begin(), sums.end(), 0.0);
    for (uint32_t tx = 0; tx < tw; ++tx) {
      const uint32_t x0 = uint32_t(uint64_t(tx) * sw / tw), x1 = std::max(x0 + 1, uint32_t(uint64_t(tx + 1) * sw / tw));
      for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t* row = src + size_t(y) * srcPitch;
        for (uint32_t x = x0; x < x1; ++x)
          for (uint32_t c = 0; c < channels; ++c) {
            const uint8_t* p = row + (size_t(x) * channels + c) * cb;
            sums[size_t(tx) * channels + c] += cb == 1 ? p[0] : double(uint16_t(p[0] | p[1] << 8));
          }
      }
      const double count = double(x1 - x0) * double(y1 - y0);
      uint8_t* out = dst + size_t(ty) * dstPitch + size_t(tx) * channels * cb;
      for (uint32_t c = 0; c < channels; ++c) {
        const uint32_t v = uint32_t(sums[size_t(tx) * channels + c] / count + 0.5);
        if (cb == 1) {
          out[c] = uint8_t(v);
        } else {
          out[c * 2] = uint8_t(v);
          out[c * 2 + 1] = uint8_t(v >> 8);
        }
      }
    }
  }
  return true;
}

}  // namespace

uint32_t WICFormatToDXGI(ImagePixelFormat format) {
  switch (format) {
    case ImagePixelFormat::RGBA64: return GpuFormat_R16G16B16A16_UNorm;
    case ImagePixelFormat::RGBA32: return GpuFormat_R8G8B8A8_UNorm;
    case ImagePixelFormat::BGRA32: return GpuFormat_B8G8R8A8_UNorm;
    case ImagePixelFormat::Gray16: return GpuFormat_R16_UNorm;
    case ImagePixelFormat::Gray8: return GpuFormat_R8_UNorm;
    default: return 0;
  }
}

uint32_t WICFormatBitsPerPixel(ImagePixelFormat format) { return ImageBitsPerPixel(format); }

ImagePixelFormat WICConversionTarget(ImagePixelFormat format) {
  switch (format) {
    case ImagePixelFormat::BlackWhite:
    case ImagePixelFormat::Gray2:
    case ImagePixelFormat::Gray4: return ImagePixelFormat::Gray8;
    case ImagePixelFormat::Indexed1:
    case ImagePixelFormat::Indexed2:
    case ImagePixelFormat::Indexed4:
    case ImagePixelFormat::Indexed8:
    case ImagePixelFormat::BGR24: return ImagePixelFormat::RGBA32;
    case ImagePixelFormat::RGB48: return ImagePixelFormat::RGBA64;
    default: return ImagePixelFormat::Unknown;
  }
}

HRESULT CreateTextureFromWICFrame(GpuDevice* device, GpuContext* context, PngImage& frame, size_t maxsize,
                                  GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags,
                                  bool forceSRGB, GpuResource** texture, GpuShaderResourceView** textureView) {
  const uint32_t width = frame.Width(), height = frame.Height();
  if (!maxsize) {
    const GpuFeatureLevel level = device->GetFeatureLevel();
    maxsize = level < GpuFeatureLevel_9_3 ? 2048 : level < GpuFeatureLevel_10_0 ? 4096
              : level < GpuFeatureLevel_11_0 ? 8192 : 16384;
  }
  uint32_t twidth = width, theight = height;
  if (width > maxsize || height > maxsize) {
    // A long thin image keeps its short side: scaled by the ratio it would truncate to no texels.
    const float ratio = float(height) / float(width);
    if (width > height) {
      twidth = uint32_t(maxsize);
      theight = std::max(1u, uint32_t(float(maxsize) * ratio));
    } else {
      theight = uint32_t(maxsize);
      twidth = std::max(1u, uint32_t(float(maxsize) / ratio));
    }
  }

  ImagePixelFormat convertTo = frame.Format();
  uint32_t format = WICFormatToDXGI(convertTo);
  uint32_t bpp = 0;
  if (format) {
    bpp = WICFormatBitsPerPixel(convertTo);
  } else {
    convertTo = WICConversionTarget(frame.Format());
    if (convertTo == ImagePixelFormat::Unknown) return kGpuNotSupported;
    format = WICFormatToDXGI(convertTo);
    bpp = WICFormatBitsPerPixel(convertTo);
  }
  if (!bpp) return kGpuFail;

  if (forceSRGB || frame.HasSrgbIntent()) format = MakeSRGBFormat(format);
  uint32_t support = 0;
  if (GpuFailed(device->CheckFormatSupport(GpuFormat(format), &support)) || !(support & GpuSupport_Texture2D)) {
    convertTo = ImagePixelFormat::RGBA32;
    format = GpuFormat_R8G8B8A8_UNorm;
    bpp = 32;
  }

  const uint64_t rowPitch = (uint64_t(twidth) * bpp + 7) / 8;
  const uint64_t imageSize = rowPitch * theight;
  if (!twidth || !theight || imageSize > kMaxImageBytes) return kGpuOutOfMemory;
  std::unique_ptr<uint8_t[]> temp(new (std::nothrow) uint8_t[size_t(imageSize)]);
  if (!temp) return kGpuOutOfMemory;

  if (twidth == width && theight == height) {
    if (!frame.CopyPixels(convertTo, temp.get(), uint32_t(rowPitch), size_t(imageSize))) return kGpuFail;
  } else {
    const uint64_t fullPitch = (uint64_t(width) * bpp + 7) / 8;
    if (fullPitch * height > kMaxImageBytes) return kGpuOutOfMemory;
    std::unique_ptr<uint8_t[]> full(new (std::nothrow) uint8_t[size_t(fullPitch * height)]);
    if (!full) return kGpuOutOfMemory;
    if (!frame.CopyPixels(convertTo, full.get(), uint32_t(fullPitch), size_t(fullPitch * height)) ||
        !ScaleDown(full.get(), width, height, size_t(fullPitch), temp.get(), twidth, theight, size_t(rowPitch),
                   convertTo))
      return kGpuFail;
  }

  support = 0;
  const bool autogen = context && textureView && !GpuFailed(device->CheckFormatSupport(GpuFormat(format), &support)) &&
                       (support & GpuSupport_MipAutogen);

  GpuTexture2DDesc desc;
  desc.width = twidth;
  desc.height = theight;
  desc.mipLevels = autogen ? 0 : 1;
  desc.arraySize = 1;
  desc.format = GpuFormat(format);
  desc.usage = usage;
  desc.bindFlags = bindFlags | GpuBind_RenderTarget;
  desc.cpuAccessFlags = cpuAccessFlags;
  desc.miscFlags = autogen ? (miscFlags | GpuMisc_GenerateMips) : miscFlags;
  GpuSubresourceData init{temp.get(), uint32_t(rowPitch), uint32_t(imageSize)};
  GpuRef<GpuTexture2D> tex;
  HRESULT hr = device->CreateTexture2D(desc, autogen ? nullptr : &init, tex.GetAddressOf());
  if (GpuFailed(hr)) return hr;
  if (!tex) return hr;

  if (textureView) {
    GpuShaderResourceViewDesc view;
    view.format = desc.format;
    view.dimension = GpuViewDimension::Texture2D;
    view.mipLevels = autogen ? 0xffffffffu : 1;
    hr = device->CreateShaderResourceView(tex.Get(), &view, textureView);
    if (GpuFailed(hr)) return hr;
    if (autogen) {
      context->UpdateSubresource(tex.Get(), 0, nullptr, temp.get(), uint32_t(rowPitch), uint32_t(imageSize));
      context->GenerateMips(*textureView);
    }
  }
  if (texture) *texture = tex.Detach();
  return kGpuOk;
}

HRESULT LoadWICTextureFileEx(GpuDevice* device, GpuContext* context, const wchar_t* fileName, size_t maxsize,
                             GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags,
                             bool forceSRGB, GpuResource** texture, GpuShaderResourceView** textureView) {
  if (texture) *texture = nullptr;
  if (textureView) *textureView = nullptr;
  if (!device || !fileName || (!texture && !textureView)) return kGpuInvalidArg;
  PngImage frame;
  if (!frame.Open(NarrowPath(fileName))) return kGpuFail;
  return CreateTextureFromWICFrame(device, context, frame, maxsize, usage, bindFlags, cpuAccessFlags, miscFlags,
                                   forceSRGB, texture, textureView);
}

HRESULT LoadWICTextureFile(GpuDevice* device, GpuContext* context, const wchar_t* fileName, GpuResource** texture,
                           GpuShaderResourceView** textureView, size_t maxsize) {
  return LoadWICTextureFileEx(device, context, fileName, maxsize, GpuUsage::Default, GpuBind_ShaderResource, 0, 0,
                              false, texture, textureView);
}

}  // namespace DirectX
