// DDS and PNG writing for the content tools and the tests.
#include "tools/ContentWriters/TextureWriters.h"

#include "tools/ContentWriters/Bytes.h"
#include "tools/FileWriter/FileWriter.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ContentWriters {

namespace {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

bool WritePngRows(png_structp png, png_infop info, FILE* file, const PngDesc& desc, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  const int colorType = desc.kind == PngKind::Gray        ? PNG_COLOR_TYPE_GRAY
                        : desc.kind == PngKind::GrayAlpha ? PNG_COLOR_TYPE_GRAY_ALPHA
                        : desc.kind == PngKind::Rgb       ? PNG_COLOR_TYPE_RGB
                        : desc.kind == PngKind::Rgba      ? PNG_COLOR_TYPE_RGB_ALPHA
                                                          : PNG_COLOR_TYPE_PALETTE;
  png_set_IHDR(png, info, desc.width, desc.height, desc.bitDepth, colorType,
               desc.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (desc.kind == PngKind::Palette)
    png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(desc.palette.data()), int(desc.palette.size() / 3));
  if (!desc.transparency.empty()) {
    if (desc.kind == PngKind::Palette) {
      png_set_tRNS(png, info, desc.transparency.data(), int(desc.transparency.size()), nullptr);
    } else {
      png_color_16 key{};
      auto word = [&](size_t i) {
        return png_uint_16(i + 1 < desc.transparency.size() ? desc.transparency[i] << 8 | desc.transparency[i + 1] : 0);
      };
      key.gray = word(0);
      key.red = word(0);
      key.green = word(2);
      key.blue = word(4);
      png_set_tRNS(png, info, nullptr, 0, &key);
    }
  }
  if (desc.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

uint32_t DdsLevelBytes(DdsFormat format, uint32_t width, uint32_t height) {
  if (format == DdsFormat::BC1) return std::max(1u, (width + 3) / 4) * std::max(1u, (height + 3) / 4) * 8;
  return width * height * (format == DdsFormat::B5G6R5 ? 2 : 4);
}

uint32_t DdsDataBytes(const DdsDesc& desc) {
  uint32_t level = 0;
  for (uint32_t m = 0; m < desc.mipCount; ++m)
    level += DdsLevelBytes(desc.format, std::max(1u, desc.width >> m), std::max(1u, desc.height >> m)) *
             std::max(1u, desc.depth >> m);
  return level * desc.arraySize * (desc.cube ? 6 : 1);
}

std::vector<uint8_t> WriteDdsBytes(const DdsDesc& desc, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  Put(out, FourCC('D', 'D', 'S', ' '));
  Put(out, uint32_t(124));
  const bool volume = desc.depth > 1 || desc.dimension == DdsDimension::Texture3D;
  // caps, height, width, format, mips, depth
  Put(out, uint32_t(0x1 | 0x2 | 0x4 | 0x1000 | (desc.mipCount > 1 ? 0x20000 : 0) | (volume ? 0x800000 : 0)));
  Put(out, desc.height);
  Put(out, desc.width);
  Put(out, DdsLevelBytes(desc.format, desc.width, desc.height));
  Put(out, volume ? desc.depth : uint32_t(0));
  Put(out, desc.mipCount);
  for (int i = 0; i < 11; ++i) Put(out, uint32_t(0));
  // Pixel format.
  Put(out, uint32_t(32));
  if (desc.dx10) {
    Put(out, uint32_t(0x4));
    Put(out, FourCC('D', 'X', '1', '0'));
    for (int i = 0; i < 5; ++i) Put(out, uint32_t(0));
  } else if (desc.format == DdsFormat::BC1) {
    Put(out, uint32_t(0x4));
    Put(out, FourCC('D', 'X', 'T', '1'));
    for (int i = 0; i < 5; ++i) Put(out, uint32_t(0));
  } else if (desc.format == DdsFormat::B5G6R5) {
    Put(out, uint32_t(0x40));  // RGB without alpha
    Put(out, uint32_t(0));
    Put(out, uint32_t(16));
    Put(out, uint32_t(0xF800));
    Put(out, uint32_t(0x7E0));
    Put(out, uint32_t(0x1F));
    Put(out, uint32_t(0));
  } else {
    const bool rgba = desc.format == DdsFormat::RGBA8;
    Put(out, uint32_t(0x40 | 0x1));  // RGB with alpha
    Put(out, uint32_t(0));
    Put(out, uint32_t(32));
    Put(out, uint32_t(rgba ? 0xFF : 0xFF0000));
    Put(out, uint32_t(0xFF00));
    Put(out, uint32_t(rgba ? 0xFF0000 : 0xFF));
    Put(out, uint32_t(0xFF000000));
  }
  Put(out, uint32_t(0x1000 | (desc.mipCount > 1 ? 0x400008 : 0) | (desc.cube || volume ? 0x8 : 0)));  // caps
  Put(out, uint32_t((desc.cube ? 0x200 | 0xFE00 : 0) | (volume ? 0x200000 : 0)));                      // caps2
  for (int i = 0; i < 3; ++i) Put(out, uint32_t(0));
  if (desc.dx10) {
    Put(out, uint32_t(desc.format));
    Put(out, uint32_t(volume ? DdsDimension::Texture3D : desc.dimension));
    Put(out, uint32_t(desc.cube ? 0x4 : 0));
    Put(out, desc.arraySize);
    Put(out, uint32_t(0));
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bool WritePng(const std::string& path, const PngDesc& desc, const std::vector<uint8_t>& rows) {
  const int channels = desc.kind == PngKind::GrayAlpha ? 2 : desc.kind == PngKind::Rgb ? 3
                       : desc.kind == PngKind::Rgba    ? 4 : 1;
  const size_t rowBytes = (size_t(desc.width) * channels * desc.bitDepth + 7) / 8;
  if (rows.size() < rowBytes * desc.height) return false;
  // Encoded in memory first: the file is written whole, by the tools' one writer.
  char* encoded = nullptr;
  size_t encodedBytes = 0;
  FILE* file = open_memstream(&encoded, &encodedBytes);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_bytep> rowPointers(desc.height);
  for (uint32_t y = 0; y < desc.height; ++y) rowPointers[y] = const_cast<png_bytep>(rows.data() + y * rowBytes);
  bool ok = info && WritePngRows(png, info, file, desc, rowPointers.data());
  png_destroy_write_struct(&png, info ? &info : nullptr);
  ok = std::fclose(file) == 0 && ok;
  ok = ok && Tools::WriteFileWhole(path, encoded, encodedBytes);
  std::free(encoded);
  return ok;
}

}  // namespace ContentWriters
