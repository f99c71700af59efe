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
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  ImagePixelFormat Format() const { return format_; }
  bool HasSrgbIntent() const { return srgb_; }

  // Decodes the image once into `pixels` (rows of `rowPitch` bytes, `size` bytes in all) as
  // `target`: the frame's own format, 8bppGray from lower gray depths, RGBA32 from indexed and
  // BGR24, RGBA64 from RGB48. False for any other conversion or a decoding error.
  bool CopyPixels(ImagePixelFormat target, uint8_t* pixels, uint32_t rowPitch, size_t size);

 private:
  void Close();

  void* png_ = nullptr;   // png_struct
  void* info_ = nullptr;  // png_info
  FILE* file_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  ImagePixelFormat format_ = ImagePixelFormat::Unknown;
  int depth_ = 0;
  int colorType_ = 0;
  bool trns_ = false;
  bool srgb_ = false;
  bool decoded_ = false;
};

}  // namespace Platform
