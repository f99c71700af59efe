// PNG decoding for the texture loader, over libpng: a decoded frame answers with its size, its
// pixel format named as the loader's format tables name them, whether it carries an sRGB rendering
// intent, and copies its pixels converted to one of the formats the loader asks for.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>

namespace Platform {

enum class ImagePixelFormat : uint32_t {
  Unknown,
  BlackWhite,   // 1 bit gray
  Gray2,
  Gray4,
  Gray8,
  Gray16,
  Indexed1,
  Indexed2,
  Indexed4,
  Indexed8,
  BGR24,        // 8-bit RGB files
  BGRA32,       // 8-bit RGBA and gray-alpha files
  RGB48,        // 16-bit RGB files
  RGBA64,       // 16-bit RGBA and gray-alpha files
  RGBA32,       // conversion target: R, G, B, A bytes
};

// Bits per pixel of a format (0 for Unknown).
uint32_t ImageBitsPerPixel(ImagePixelFormat format);

class PngImage {
 public:
  PngImage() = default;
  ~PngImage();
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;

  // Reads the file's header. False when the file cannot be opened or is not a readable PNG.
  bool Open(const std::string& path);
  uint32_t Width() const { return m_width; }
  uint32_t Height() const { return m_height; }
  ImagePixelFormat Format() const { return m_format; }
  bool HasSrgbIntent() const { return m_srgb; }

  // Decodes the image once into `pixels` (rows of `rowPitch` bytes, `size` bytes in all) as
  // `target`: the frame's own format, 8bppGray from lower gray depths, RGBA32 from indexed and
  // BGR24, RGBA64 from RGB48. False for any other conversion or a decoding error.
  bool CopyPixels(ImagePixelFormat target, uint8_t* pixels, uint32_t rowPitch, size_t size);

 private:
  void Close();

  void* m_png = nullptr;   // png_struct
  void* m_info = nullptr;  // png_info
  FILE* m_file = nullptr;
  uint32_t m_width = 0;
  uint32_t m_height = 0;
  ImagePixelFormat m_format = ImagePixelFormat::Unknown;
  int m_depth = 0;
  int m_colorType = 0;
  bool m_trns = false;
  bool m_srgb = false;
  bool m_decoded = false;
};

}  // namespace Platform
