// libpng behind the texture loader's image frame. libpng reports errors by a long jump, so the
// functions that call into it hold only plain values between the jump point and the calls.
#include "Platform/PngImage.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace Platform {

namespace {

enum Transform : uint32_t {
  Expand124 = 0x1,
  PaletteToRgb = 0x2,
  TrnsToAlpha = 0x4,
  GrayToRgb = 0x8,
  Bgr = 0x10,
  Swap = 0x20,
  Filler8 = 0x40,
  Filler16 = 0x80,
};

// Warnings of damaged but readable files are not the loader's business.
void IgnoreWarning(png_structp, png_const_charp) {}
void RaiseError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// The largest side accepted: four times the largest texture, so oversized images can still be
// scaled down, and far below what would exhaust memory.
constexpr uint32_t kMaxSide = 65536;

bool ReadHeader(png_structp png, png_infop info, FILE* file, png_uint_32* width, png_uint_32* height, int* depth,
                int* colorType, bool* trns, bool* srgb) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, width, height, depth, colorType, &interlace, nullptr, nullptr);
  *trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  int intent = 0;
  *srgb = png_get_sRGB(png, info, &intent) != 0;
  return true;
}

bool Decode(png_structp png, png_infop info, uint32_t transforms, png_bytepp rows, size_t rowBytes) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (transforms & Expand124) png_set_expand_gray_1_2_4_to_8(png);
  if (transforms & PaletteToRgb) png_set_palette_to_rgb(png);
  if (transforms & TrnsToAlpha) png_set_tRNS_to_alpha(png);
  if (transforms & GrayToRgb) png_set_gray_to_rgb(png);
  if (transforms & Bgr) png_set_bgr(png);
  if (transforms & Swap) png_set_swap(png);
  if (transforms & Filler8) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  if (transforms & Filler16) png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != rowBytes) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

uint32_t ImageBitsPerPixel(ImagePixelFormat format) {
  switch (format) {
    case ImagePixelFormat::BlackWhite:
    case ImagePixelFormat::Indexed1: return 1;
    case ImagePixelFormat::Gray2:
    case ImagePixelFormat::Indexed2: return 2;
    case ImagePixelFormat::Gray4:
    case ImagePixelFormat::Indexed4: return 4;
    case ImagePixelFormat::Gray8:
    case ImagePixelFormat::Indexed8: return 8;
    case ImagePixelFormat::Gray16: return 16;
    case ImagePixelFormat::BGR24: return 24;
    case ImagePixelFormat::BGRA32:
    case ImagePixelFormat::RGBA32: return 32;
    case ImagePixelFormat::RGB48: return 48;
    case ImagePixelFormat::RGBA64: return 64;
    default: return 0;
  }
}

PngImage::~PngImage() { Close(); }

void PngImage::Close() {
  if (m_png) {
    png_structp png = static_cast<png_structp>(m_png);
    png_infop info = static_cast<png_infop>(m_info);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
  if (m_file) std::fclose(m_file);
  m_png = m_info = nullptr;
  m_file = nullptr;
  m_width = m_height = 0;
  m_format = ImagePixelFormat::Unknown;
  m_srgb = m_decoded = false;
}

bool PngImage::Open(const std::string& path) {
  Close();
  m_file = std::fopen(path.c_str(), "rb");
  if (!m_file) return false;
  png_byte signature[8];
  if (std::fread(signature, 1, 8, m_file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    Close();
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, RaiseError, IgnoreWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  m_png = png;
  m_info = info;
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0;
  bool trns = false;
  if (!info || !ReadHeader(png, info, m_file, &width, &height, &depth, &colorType, &trns, &m_srgb)) {
    Close();
    return false;
  }
  m_width = width;
  m_height = height;
  m_depth = depth;
  m_colorType = colorType;
  m_trns = trns;
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
      if (trns) m_format = depth == 16 ? ImagePixelFormat::RGBA64 : ImagePixelFormat::BGRA32;
      else m_format = depth == 1   ? ImagePixelFormat::BlackWhite
                     : depth == 2 ? ImagePixelFormat::Gray2
                     : depth == 4 ? ImagePixelFormat::Gray4
                     : depth == 8 ? ImagePixelFormat::Gray8
                                  : ImagePixelFormat::Gray16;
      break;
    case PNG_COLOR_TYPE_PALETTE:
      m_format = depth == 1   ? ImagePixelFormat::Indexed1
                : depth == 2 ? ImagePixelFormat::Indexed2
                : depth == 4 ? ImagePixelFormat::Indexed4
                             : ImagePixelFormat::Indexed8;
      break;
    case PNG_COLOR_TYPE_RGB:
      if (trns) m_format = depth == 16 ? ImagePixelFormat::RGBA64 : ImagePixelFormat::BGRA32;
      else m_format = depth == 16 ? ImagePixelFormat::RGB48 : ImagePixelFormat::BGR24;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_GRAY_ALPHA: m_format = depth == 16 ? ImagePixelFormat::RGBA64 : ImagePixelFormat::BGRA32; break;
    default: Close(); return false;
  }
  return true;
}

bool PngImage::CopyPixels(ImagePixelFormat target, uint8_t* pixels, uint32_t rowPitch, size_t size) {
  if (!m_png || m_decoded || !pixels) return false;
  const bool gray = m_colorType == PNG_COLOR_TYPE_GRAY || m_colorType == PNG_COLOR_TYPE_GRAY_ALPHA;
  uint32_t transforms = 0;
  if (target == m_format) {
    switch (m_format) {
      case ImagePixelFormat::Gray16: transforms = Swap; break;
      case ImagePixelFormat::BGR24: transforms = Bgr; break;
      case ImagePixelFormat::RGB48: transforms = Swap; break;
      case ImagePixelFormat::BGRA32:
        transforms = Bgr | (m_trns ? TrnsToAlpha : 0u) | (gray ? GrayToRgb | Expand124 : 0u);
        break;
      case ImagePixelFormat::RGBA64: transforms = Swap | (m_trns ? TrnsToAlpha : 0u) | (gray ? GrayToRgb : 0u); break;
      default: break;  // packed gray and indices, 8-bit gray: the file's own bytes
    }
  } else if (target == ImagePixelFormat::Gray8 &&
             (m_format == ImagePixelFormat::BlackWhite || m_format == ImagePixelFormat::Gray2 ||
              m_format == ImagePixelFormat::Gray4)) {
    transforms = Expand124;
  } else if (target == ImagePixelFormat::RGBA32 &&
             (m_format == ImagePixelFormat::Indexed1 || m_format == ImagePixelFormat::Indexed2 ||
              m_format == ImagePixelFormat::Indexed4 || m_format == ImagePixelFormat::Indexed8)) {
    transforms = PaletteToRgb | (m_trns ? TrnsToAlpha : 0u) | Filler8;
  } else if (target == ImagePixelFormat::RGBA32 && m_format == ImagePixelFormat::BGR24) {
    transforms = Filler8;
  } else if (target == ImagePixelFormat::RGBA64 && m_format == ImagePixelFormat::RGB48) {
    transforms = Swap | Filler16;
  } else {
    return false;
  }
  const size_t rowBytes = (size_t(m_width) * ImageBitsPerPixel(target) + 7) / 8;
  if (rowPitch < rowBytes || size_t(rowPitch) * m_height > size) return false;
  std::vector<png_bytep> rows(m_height);
  for (uint32_t y = 0; y < m_height; ++y) rows[y] = pixels + size_t(y) * rowPitch;
  m_decoded = true;
  return Decode(static_cast<png_structp>(m_png), static_cast<png_infop>(m_info), transforms, rows.data(), rowBytes);
}

}  // namespace Platform
