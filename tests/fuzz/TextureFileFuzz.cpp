// Fuzz target of the texture file readers without a device: an input starting with 0x89 is a PNG
// decoded to the format the loader would pick; anything else a DDS file whose header is validated
// and whose levels (of 1D and 2D textures, arrays, cubes and volumes) are laid out as the loader
// lays them out.
#include <algorithm>
#include <string>
#include <vector>

#include "Graphics/DDSTextureLoader.h"
#include "Graphics/WICTextureLoader.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

void Png(const uint8_t* data, size_t size) {
  Platform::PngImage image;
  if (!image.Open(OrvFuzz::WriteScratch(data, size, ".png"))) return;
  Platform::ImagePixelFormat target = image.Format();
  if (!DirectX::WICFormatToDXGI(target)) target = DirectX::WICConversionTarget(target);
  const uint64_t pitch = (uint64_t(image.Width()) * Platform::ImageBitsPerPixel(target) + 7) / 8;
  if (pitch * image.Height() > (64u << 20)) return;
  std::vector<uint8_t> pixels(size_t(pitch * image.Height()));
  image.CopyPixels(target, pixels.data(), uint32_t(pitch), pixels.size());
}

void Dds(const uint8_t* data, size_t size) {
  const std::string path = OrvFuzz::WriteScratch(data, size, ".dds");
  const std::wstring wide(path.begin(), path.end());
  std::vector<uint8_t> buffer;
  const DirectX::DDS_HEADER* header = nullptr;
  const uint8_t* bits = nullptr;
  size_t bitSize = 0;
  if (Platform::GpuFailed(DirectX::ReadDDSFile(wide.c_str(), &buffer, &header, &bits, &bitSize))) return;
  uint32_t format = DirectX::DDSPixelFormatToDXGI(header->ddspf);
  uint32_t arraySize = (header->caps2 & DirectX::DDS_CUBEMAP) ? 6 : 1;
  uint32_t height = header->height;
  uint32_t depth = (header->flags & DirectX::DDS_HEADER_FLAGS_VOLUME) ? header->depth : 1;
  if ((header->ddspf.flags & DirectX::DDS_FOURCC) && header->ddspf.fourCC == DirectX::MakeFourCC('D', 'X', '1', '0')) {
    const auto* ext = reinterpret_cast<const DirectX::DDS_HEADER_DXT10*>(header + 1);
    format = ext->dxgiFormat;
    arraySize = ext->arraySize * ((ext->miscFlag & DirectX::DDS_RESOURCE_MISC_TEXTURECUBE) ? 6 : 1);
    if (ext->resourceDimension == DirectX::DDS_DIMENSION_TEXTURE1D) height = depth = 1;
    if (ext->resourceDimension == DirectX::DDS_DIMENSION_TEXTURE2D) depth = 1;
  }
  const uint32_t mips = header->mipMapCount ? header->mipMapCount : 1;
  // The loader's limits: volumes up to 2048 on each side, other kinds 16384 across.
  const uint32_t limit = depth > 1 ? 2048 : 16384;
  if (!format || !DirectX::BitsPerPixel(format) || mips > 15 || arraySize == 0 || arraySize > 2048 * 6 ||
      header->width > limit || height > limit || depth > 2048)
    return;
  std::vector<Platform::GpuSubresourceData> init(size_t(mips) * arraySize);
  uint32_t w = 0, h = 0, d = 0, skip = 0;
  DirectX::FillDDSInitData(header->width, height, depth, mips, arraySize, format, 0, bitSize, bits, w, h, d, skip,
                           init.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size && data[0] == 0x89)
    Png(data, size);
  else
    Dds(data, size);
  return 0;
}
