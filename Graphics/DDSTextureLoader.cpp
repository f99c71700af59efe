// DDS reading: header validation, the pixel-format mapping, level sizes, and texture creation (one-
// and two-dimensional textures with their arrays, cubes, and volumes) with device-built mip chains
// when the file holds one level.
#include "Graphics/DDSTextureLoader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace DirectX {

using namespace Platform;

namespace {

bool Masks(const DDS_PIXELFORMAT& pf, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return pf.RBitMask == r && pf.GBitMask == g && pf.BBitMask == b && pf.ABitMask == a;
}

bool InRange(uint32_t f, uint32_t lo, uint32_t hi) { return f >= lo && f <= hi; }

}  // namespace

std::string NarrowPath(const wchar_t* path) {
  std::string out;
  if (!path) return out;
  for (; *path; ++path) out.push_back(char(uint8_t(*path)));
  return out;
}

size_t BitsPerPixel(uint32_t f) {
  if (InRange(f, 1, 4)) return 128;
  if (InRange(f, 5, 8)) return 96;
  if (InRange(f, 9, 22) || f == 102 || f == 108 || f == 109) return 64;
  if (InRange(f, 23, 47) || InRange(f, 67, 69) || InRange(f, 87, 93) || f == 100 || f == 101 || f == 107) return 32;
  if (f == 104 || f == 105) return 24;
  if (InRange(f, 48, 59) || f == 85 || f == 86 || f == 114 || f == 115) return 16;
  if (f == 103 || f == 106 || f == 110) return 12;
  if (InRange(f, 60, 65) || InRange(f, 73, 78) || InRange(f, 82, 84) || InRange(f, 94, 99) || InRange(f, 111, 113))
    return 8;
  if (InRange(f, 70, 72) || InRange(f, 79, 81)) return 4;
  if (f == 66) return 1;
  return 0;
}

uint32_t MakeSRGBFormat(uint32_t f) {
  switch (f) {
    case 28: return 29;
    case 71: return 72;
    case 74: return 75;
    case 77: return 78;
    case 87: return 91;
    case 88: return 93;
    case 98: return 99;
    default: return f;
  }
}

uint32_t DDSPixelFormatToDXGI(const DDS_PIXELFORMAT& pf) {
  if (pf.flags & DDS_RGB) {
    if (pf.RGBBitCount == 32) {
      if (Masks(pf, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)) return 28;
      if (Masks(pf, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)) return 87;
      if (Masks(pf, 0xFF0000, 0xFF00, 0xFF, 0)) return 88;
      if (Masks(pf, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)) return 24;
      if (Masks(pf, 0xFFFF, 0xFFFF0000, 0, 0)) return 35;
      if (Masks(pf, 0xFFFFFFFF, 0, 0, 0)) return 41;
    } else if (pf.RGBBitCount == 16) {
      if (Masks(pf, 0x7C00, 0x3E0, 0x1F, 0x8000)) return 86;
      if (Masks(pf, 0xF800, 0x7E0, 0x1F, 0)) return 85;
      if (Masks(pf, 0xF00, 0xF0, 0xF, 0xF000)) return 115;
    }
  } else if (pf.flags & DDS_LUMINANCE) {
    if (pf.RGBBitCount == 8 && Masks(pf, 0xFF, 0, 0, 0)) return 61;
    if (pf.RGBBitCount == 16 && Masks(pf, 0xFFFF, 0, 0, 0)) return 56;
    if (pf.RGBBitCount == 16 && Masks(pf, 0xFF, 0, 0, 0xFF00)) return 49;
  } else if (pf.flags & DDS_ALPHA) {
    if (pf.RGBBitCount == 8) return 65;
  } else if (pf.flags & DDS_FOURCC) {
    switch (pf.fourCC) {
      case MakeFourCC('D', 'X', 'T', '1'): return 71;
      case MakeFourCC('D', 'X', 'T', '3'):
      case MakeFourCC('D', 'X', 'T', '2'): return 74;
      case MakeFourCC('D', 'X', 'T', '5'):
      case MakeFourCC('D', 'X', 'T', '4'): return 77;
      case MakeFourCC('A', 'T', 'I', '1'):
      case MakeFourCC('B', 'C', '4', 'U'): return 80;
      case MakeFourCC('B', 'C', '4', 'S'): return 81;
      case MakeFourCC('A', 'T', 'I', '2'):
      case MakeFourCC('B', 'C', '5', 'U'): return 83;
      case MakeFourCC('B', 'C', '5', 'S'): return 84;
      case MakeFourCC('R', 'G', 'B', 'G'): return 68;
      case MakeFourCC('G', 'R', 'G', 'B'): return 69;
      case MakeFourCC('Y', 'U', 'Y', '2'): return 107;
      case 36: return 11;
      case 110: return 13;
      case 111: return 54;
      case 112: return 34;
      case 113: return 10;
      case 114: return 41;
      case 115: return 16;
      case 116: return 2;
      default: break;
    }
  }
  return 0;
}

void SurfaceInfo(uint32_t width, uint32_t height, uint32_t fmt, size_t* outNumBytes, size_t* outRowBytes,
                 size_t* outNumRows) {
  size_t numBytes = 0, rowBytes = 0, numRows = 0;
  size_t bcBytes = 0, packedBytes = 0;
  bool planar = false;
  if (InRange(fmt, 70, 72) || InRange(fmt, 79, 81)) bcBytes = 8;
  else if (InRange(fmt, 73, 78) || InRange(fmt, 82, 84) || InRange(fmt, 94, 99)) bcBytes = 16;
  else if (fmt == 68 || fmt == 69 || fmt == 107) packedBytes = 4;
  else if (fmt == 108 || fmt == 109) packedBytes = 8;
  else if (fmt == 103 || fmt == 106) { planar = true; packedBytes = 2; }
  else if (fmt == 104 || fmt == 105) { planar = true; packedBytes = 4; }

  if (bcBytes) {
    const size_t across = width > 0 ? std::max<size_t>(1, (size_t(width) + 3) / 4) : 0;
    const size_t down = height > 0 ? std::max<size_t>(1, (size_t(height) + 3) / 4) : 0;
    rowBytes = across * bcBytes;
    numRows = down;
    numBytes = rowBytes * down;
  } else if (fmt == 110) {
    rowBytes = ((size_t(width) + 3) / 4) * 4;
    numRows = size_t(height) * 2;
    numBytes = rowBytes * numRows;
  } else if (planar) {
    rowBytes = ((size_t(width) + 1) / 2) * packedBytes;
    numBytes = rowBytes * height + (rowBytes * height + 1) / 2;
    numRows = height + (size_t(height) + 1) / 2;
  } else if (packedBytes) {
    rowBytes = ((size_t(width) + 1) / 2) * packedBytes;
    numRows = height;
    numBytes = rowBytes * height;
  } else {
    rowBytes = (size_t(width) * BitsPerPixel(fmt) + 7) / 8;
    numRows = height;
    numBytes = rowBytes * height;
  }
  if (outNumBytes) *outNumBytes = numBytes;
  if (outRowBytes) *outRowBytes = rowBytes;
  if (outNumRows) *outNumRows = numRows;
}

uint32_t DDSAlphaMode(const DDS_HEADER* header) {
  if (!(header->ddspf.flags & DDS_FOURCC)) return DDS_ALPHA_MODE_UNKNOWN;
  if (header->ddspf.fourCC == MakeFourCC('D', 'X', '1', '0')) {
    const auto* ext = reinterpret_cast<const DDS_HEADER_DXT10*>(reinterpret_cast<const uint8_t*>(header) +
                                                                 sizeof(DDS_HEADER));
    const uint32_t mode = ext->miscFlags2 & 0x7;
    return mode >= 1 && mode <= 4 ? mode : DDS_ALPHA_MODE_UNKNOWN;
  }
  if (header->ddspf.fourCC == MakeFourCC('D', 'X', 'T', '2') || header->ddspf.fourCC == MakeFourCC('D', 'X', 'T', '4'))
    return DDS_ALPHA_MODE_PREMULTIPLIED;
  return DDS_ALPHA_MODE_UNKNOWN;
}

HRESULT ReadDDSFile(const wchar_t* fileName, std::vector<uint8_t>* buffer, const DDS_HEADER** header,
                    const uint8_t** bitData, size_t* bitSize) {
  if (!buffer || !header || !bitData || !bitSize) return E_POINTER_;
  *header = nullptr;
  *bitData = nullptr;
  *bitSize = 0;
  const std::string path = NarrowPath(fileName);
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return ResultFromErrno(errno == ENOENT ? 2 : errno);
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  std::rewind(file);
  if (length < 0) {
    std::fclose(file);
    return kGpuFail;
  }
  if (uint64_t(length) >= (1ull << 32) || size_t(length) < sizeof(uint32_t) + sizeof(DDS_HEADER)) {
    std::fclose(file);
    return kGpuFail;
  }
  buffer->resize(size_t(length));
  const size_t read = std::fread(buffer->data(), 1, buffer->size(), file);
  std::fclose(file);
  if (read != buffer->size()) return kGpuFail;

  uint32_t magic;
  std::memcpy(&magic, buffer->data(), 4);
  if (magic != DDS_MAGIC) return kGpuFail;
  const auto* hdr = reinterpret_cast<const DDS_HEADER*>(buffer->data() + 4);
  if (hdr->size != sizeof(DDS_HEADER) || hdr->ddspf.size != sizeof(DDS_PIXELFORMAT)) return kGpuFail;
  size_t offset = 4 + sizeof(DDS_HEADER);
  if ((hdr->ddspf.flags & DDS_FOURCC) && hdr->ddspf.fourCC == MakeFourCC('D', 'X', '1', '0')) {
    if (buffer->size() < offset + sizeof(DDS_HEADER_DXT10)) return kGpuFail;
    offset += sizeof(DDS_HEADER_DXT10);
  }
  *header = hdr;
  *bitData = buffer->data() + offset;
  *bitSize = buffer->size() - offset;
  return kGpuOk;
}

HRESULT FillDDSInitData(uint32_t width, uint32_t height, uint32_t depth, uint32_t mipCount, uint32_t arraySize,
                        uint32_t format, size_t maxsize, size_t bitSize, const uint8_t* bitData, uint32_t& twidth,
                        uint32_t& theight, uint32_t& tdepth, uint32_t& skipMip, GpuSubresourceData* initData) {
  if (!bitData || !initData) return E_POINTER_;
  if (arraySize == 0) return kGpuFail;
  skipMip = 0;
  twidth = theight = tdepth = 0;
  const uint8_t* src = bitData;
  const uint8_t* end = bitData + bitSize;
  size_t index = 0;
  for (uint32_t j = 0; j < arraySize; ++j) {
    uint32_t w = width, h = height, d = depth;
    for (uint32_t i = 0; i < mipCount; ++i) {
      size_t numBytes = 0, rowBytes = 0;
      SurfaceInfo(w, h, format, &numBytes, &rowBytes, nullptr);
      if (mipCount <= 1 || !maxsize || (w <= maxsize && h <= maxsize && d <= maxsize)) {
        if (!twidth) {
          twidth = w;
          theight = h;
          tdepth = d;
        }
        initData[index].sysMem = src;
        initData[index].sysMemPitch = uint32_t(rowBytes);
        initData[index].sysMemSlicePitch = uint32_t(numBytes);
        ++index;
      } else if (!j) {
        ++skipMip;
      }
      // Compare against what is left rather than forming a pointer past the end.
      const uint64_t levelBytes = uint64_t(numBytes) * d;
      if (levelBytes > uint64_t(end - src)) return kErrorHandleEof;
      src += levelBytes;
      w = std::max(1u, w >> 1);
      h = std::max(1u, h >> 1);
      d = std::max(1u, d >> 1);
    }
  }
  return index > 0 ? kGpuOk : kGpuFail;
}

HRESULT CreateDDSResources(GpuDevice* device, uint32_t resDim, uint32_t width, uint32_t height, uint32_t depth,
                           uint32_t mipCount, uint32_t arraySize, uint32_t format, GpuUsage usage, uint32_t bindFlags,
                           uint32_t cpuAccessFlags, uint32_t miscFlags, bool forceSRGB, bool isCubeMap,
                           const GpuSubresourceData* initData, GpuResource** texture,
                           GpuShaderResourceView** textureView) {
  if (!device) return E_POINTER_;
  if (forceSRGB) format = MakeSRGBFormat(format);
  const uint32_t plainMisc = miscFlags & ~uint32_t(GpuMisc_TextureCube);

  GpuRef<GpuResource> tex;
  GpuShaderResourceViewDesc view;
  view.format = GpuFormat(format);
  HRESULT hr = kGpuNotSupported;
  switch (resDim) {
    case DDS_DIMENSION_TEXTURE1D: {
      GpuTexture1DDesc desc;
      desc.width = width;
      desc.mipLevels = mipCount;
      desc.arraySize = arraySize;
      desc.format = GpuFormat(format);
      desc.usage = usage;
      desc.bindFlags = bindFlags;
      desc.cpuAccessFlags = cpuAccessFlags;
      desc.miscFlags = plainMisc;
      GpuTexture1D* created = nullptr;
      hr = device->CreateTexture1D(desc, initData, &created);
      tex.Attach(created);
      view.dimension = arraySize > 1 ? GpuViewDimension::Texture1DArray : GpuViewDimension::Texture1D;
      view.arraySize = arraySize;
      break;
    }
    case DDS_DIMENSION_TEXTURE2D: {
      GpuTexture2DDesc desc;
      desc.width = width;
      desc.height = height;
      desc.mipLevels = mipCount;
      desc.arraySize = arraySize;
      desc.format = GpuFormat(format);
      desc.usage = usage;
      desc.bindFlags = bindFlags;
      desc.cpuAccessFlags = cpuAccessFlags;
      desc.miscFlags = isCubeMap ? (miscFlags | GpuMisc_TextureCube) : plainMisc;
      GpuTexture2D* created = nullptr;
      hr = device->CreateTexture2D(desc, initData, &created);
      tex.Attach(created);
      if (isCubeMap && arraySize > 6) {
        view.dimension = GpuViewDimension::TextureCubeArray;
        view.arraySize = arraySize / 6;
      } else if (isCubeMap) {
        view.dimension = GpuViewDimension::TextureCube;
        view.arraySize = 6;
      } else if (arraySize > 1) {
        view.dimension = GpuViewDimension::Texture2DArray;
        view.arraySize = arraySize;
      } else {
        view.dimension = GpuViewDimension::Texture2D;
      }
      break;
    }
    case DDS_DIMENSION_TEXTURE3D: {
      GpuTexture3DDesc desc;
      desc.width = width;
      desc.height = height;
      desc.depth = depth;
      desc.mipLevels = mipCount;
      desc.format = GpuFormat(format);
      desc.usage = usage;
      desc.bindFlags = bindFlags;
      desc.cpuAccessFlags = cpuAccessFlags;
      desc.miscFlags = plainMisc;
      GpuTexture3D* created = nullptr;
      hr = device->CreateTexture3D(desc, initData, &created);
      tex.Attach(created);
      view.dimension = GpuViewDimension::Texture3D;
      break;
    }
    default:
      return kGpuNotSupported;
  }
  if (GpuFailed(hr)) return hr;

  if (textureView) {
    view.mipLevels = mipCount == 0 ? 0xffffffffu : AsTexture(tex.Get())->Shape().mipLevels;
    hr = device->CreateShaderResourceView(tex.Get(), &view, textureView);
    if (GpuFailed(hr)) return hr;
  }
  if (texture) *texture = tex.Detach();
  return kGpuOk;
}

namespace {

HRESULT CreateWithInitData(GpuDevice* device, uint32_t resDim, uint32_t width, uint32_t height, uint32_t depth,
                           uint32_t mipCount, uint32_t arraySize, uint32_t format, size_t maxsize, GpuUsage usage,
                           uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags, bool forceSRGB,
                           bool isCubeMap, const uint8_t* bitData, size_t bitSize, GpuResource** texture,
                           GpuShaderResourceView** textureView) {
  std::unique_ptr<GpuSubresourceData[]> initData(new (std::nothrow) GpuSubresourceData[size_t(mipCount) * arraySize]);
  if (!initData) return kGpuOutOfMemory;
  uint32_t twidth = 0, theight = 0, tdepth = 0, skipMip = 0;
  HRESULT hr = FillDDSInitData(width, height, depth, mipCount, arraySize, format, maxsize, bitSize, bitData, twidth,
                               theight, tdepth, skipMip, initData.get());
  if (GpuFailed(hr)) return hr;
  return CreateDDSResources(device, resDim, twidth, theight, tdepth, mipCount - skipMip, arraySize, format, usage,
                            bindFlags, cpuAccessFlags, miscFlags, forceSRGB, isCubeMap, initData.get(), texture,
                            textureView);
}

}  // namespace

HRESULT CreateTextureFromDDSData(GpuDevice* device, GpuContext* context, const DDS_HEADER* header,
                                 const uint8_t* bitData, size_t bitSize, size_t maxsize, GpuUsage usage,
                                 uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags, bool forceSRGB,
                                 GpuResource** texture, GpuShaderResourceView** textureView) {
  if (!device || !header || !bitData) return E_POINTER_;
  uint32_t width = header->width, height = header->height, depth = header->depth;
  uint32_t resDim = 0, arraySize = 1, format = 0;
  bool isCubeMap = false;
  const uint32_t mipCount = header->mipMapCount ? header->mipMapCount : 1;

  if ((header->ddspf.flags & DDS_FOURCC) && header->ddspf.fourCC == MakeFourCC('D', 'X', '1', '0')) {
    const auto* ext = reinterpret_cast<const DDS_HEADER_DXT10*>(reinterpret_cast<const uint8_t*>(header) +
                                                                 sizeof(DDS_HEADER));
    arraySize = ext->arraySize;
    if (arraySize == 0) return kErrorInvalidData;
    format = ext->dxgiFormat;
    if (InRange(format, 111, 114) || BitsPerPixel(format) == 0) return kGpuNotSupported;
    switch (ext->resourceDimension) {
      case DDS_DIMENSION_TEXTURE1D:
        if ((header->flags & DDS_HEIGHT) && height != 1) return kErrorInvalidData;
        height = depth = 1;
        break;
      case DDS_DIMENSION_TEXTURE2D:
        if (ext->miscFlag & DDS_RESOURCE_MISC_TEXTURECUBE) {
          if (arraySize > 0xFFFFFFFFu / 6) return kGpuNotSupported;
          arraySize *= 6;
          isCubeMap = true;
        }
        depth = 1;
        break;
      case DDS_DIMENSION_TEXTURE3D:
        if (!(header->flags & DDS_HEADER_FLAGS_VOLUME)) return kErrorInvalidData;
        if (arraySize > 1) return kGpuNotSupported;
        break;
      default: return kGpuNotSupported;
    }
    resDim = ext->resourceDimension;
  } else {
    format = DDSPixelFormatToDXGI(header->ddspf);
    if (format == 0) return kGpuNotSupported;
    if (header->flags & DDS_HEADER_FLAGS_VOLUME) {
      resDim = DDS_DIMENSION_TEXTURE3D;
    } else {
      if (header->caps2 & DDS_CUBEMAP) {
        if ((header->caps2 & DDS_CUBEMAP_ALLFACES) != DDS_CUBEMAP_ALLFACES) return kGpuNotSupported;
        arraySize = 6;
        isCubeMap = true;
      }
      depth = 1;
      resDim = DDS_DIMENSION_TEXTURE2D;
    }
  }

  if (mipCount > 15) return kGpuNotSupported;
  switch (resDim) {
    case DDS_DIMENSION_TEXTURE1D:
      if (arraySize > 2048 || width > 16384) return kGpuNotSupported;
      break;
    case DDS_DIMENSION_TEXTURE2D:
      if (arraySize > 2048 || width > 16384 || height > 16384) return kGpuNotSupported;
      break;
    default:
      if (width > 2048 || height > 2048 || depth > 2048) return kGpuNotSupported;
      break;
  }

  uint32_t support = 0;
  const bool autogen = mipCount == 1 && context && textureView &&
                       !GpuFailed(device->CheckFormatSupport(GpuFormat(format), &support)) &&
                       (support & GpuSupport_MipAutogen) &&
                       (resDim != DDS_DIMENSION_TEXTURE3D || device->GetFeatureLevel() >= GpuFeatureLevel_10_0);
  if (autogen) {
    // The file must hold the whole top level (every item, every slice of a volume) before storage
    // for the declared size is made: a short file must not cost a full-size chain first.
    size_t numBytes = 0, rowBytes = 0;
    SurfaceInfo(width, height, format, &numBytes, &rowBytes, nullptr);
    const uint64_t topBytes = uint64_t(numBytes) * (resDim == DDS_DIMENSION_TEXTURE3D ? depth : arraySize);
    if (topBytes > bitSize) return kErrorHandleEof;
    GpuResource* tex = nullptr;
    GpuShaderResourceView* view = nullptr;
    HRESULT hr = CreateDDSResources(device, resDim, width, height, depth, 0, arraySize, format, usage,
                                    bindFlags | GpuBind_RenderTarget, cpuAccessFlags, miscFlags | GpuMisc_GenerateMips,
                                    forceSRGB, isCubeMap, nullptr, &tex, &view);
    if (GpuFailed(hr)) return hr;
    if (resDim == DDS_DIMENSION_TEXTURE3D) {
      context->UpdateSubresource(tex, 0, nullptr, bitData, uint32_t(rowBytes), uint32_t(numBytes));
    } else if (arraySize > 1) {
      // Each item's top level lives at item x (the texture's own mip count): the chain the device
      // built, whatever the view was asked to show.
      const uint32_t mipLevels = AsTexture(tex)->Shape().mipLevels;
      for (uint32_t item = 0; item < arraySize; ++item)
        context->UpdateSubresource(tex, item * mipLevels, nullptr, bitData + size_t(item) * numBytes,
                                   uint32_t(rowBytes), uint32_t(numBytes));
    } else {
      context->UpdateSubresource(tex, 0, nullptr, bitData, uint32_t(rowBytes), uint32_t(numBytes));
    }
    context->GenerateMips(view);
    *textureView = view;
    if (texture) *texture = tex;
    else tex->Release();
    return kGpuOk;
  }

  HRESULT hr = CreateWithInitData(device, resDim, width, height, depth, mipCount, arraySize, format, maxsize, usage,
                                  bindFlags, cpuAccessFlags, miscFlags, forceSRGB, isCubeMap, bitData, bitSize,
                                  texture, textureView);
  if (GpuFailed(hr) && !maxsize && mipCount > 1) {
    const GpuFeatureLevel level = device->GetFeatureLevel();
    const bool volume = resDim == DDS_DIMENSION_TEXTURE3D;
    if (level >= GpuFeatureLevel_10_0) maxsize = volume ? 2048 : 8192;
    else if (level >= GpuFeatureLevel_9_3) maxsize = volume ? 256 : 4096;
    else maxsize = volume ? 256 : isCubeMap ? 512 : 2048;
    hr = CreateWithInitData(device, resDim, width, height, depth, mipCount, arraySize, format, maxsize, usage,
                            bindFlags, cpuAccessFlags, miscFlags, forceSRGB, isCubeMap, bitData, bitSize, texture,
                            textureView);
  }
  return hr;
}

HRESULT LoadDDSTextureFileEx(GpuDevice* device, GpuContext* context, const wchar_t* fileName, size_t maxsize,
                             GpuUsage usage, uint32_t bindFlags, uint32_t cpuAccessFlags, uint32_t miscFlags,
                             bool forceSRGB, GpuResource** texture, GpuShaderResourceView** textureView,
                             uint32_t* alphaMode) {
  if (texture) *texture = nullptr;
  if (textureView) *textureView = nullptr;
  if (alphaMode) *alphaMode = DDS_ALPHA_MODE_UNKNOWN;
  if (!device || !fileName || (!texture && !textureView)) return kGpuInvalidArg;

  std::vector<uint8_t> buffer;
  const DDS_HEADER* header = nullptr;
  const uint8_t* bitData = nullptr;
  size_t bitSize = 0;
  HRESULT hr = ReadDDSFile(fileName, &buffer, &header, &bitData, &bitSize);
  if (GpuFailed(hr)) return hr;
  hr = CreateTextureFromDDSData(device, context, header, bitData, bitSize, maxsize, usage, bindFlags, cpuAccessFlags,
                                miscFlags, forceSRGB, texture, textureView);
  if (!GpuFailed(hr) && alphaMode) *alphaMode = DDSAlphaMode(header);
  return hr;
}

HRESULT LoadDDSTextureFile(GpuDevice* device, GpuContext* context, const wchar_t* fileName, GpuResource** texture,
                           GpuShaderResourceView** textureView, size_t maxsize, uint32_t* alphaMode) {
  return LoadDDSTextureFileEx(device, context, fileName, maxsize, GpuUsage::Default, GpuBind_ShaderResource, 0, 0,
                              false, texture, textureView, alphaMode);
}

}  // namespace DirectX
