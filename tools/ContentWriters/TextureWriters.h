// Writes the texture files of the content tree: DDS files (RGBA8, BGRA8 and BC1 data, with the
// plain or the DX10 header; 2D textures, arrays, cube maps and mip chains) and PNG files of every
// PNG pixel kind through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ContentWriters {

enum class DdsFormat : uint32_t { RGBA8 = 28, BGRA8 = 87, BC1 = 71 };

struct DdsDesc {
  uint32_t width = 1;
  uint32_t height = 1;
  uint32_t mipCount = 1;   // levels stored per item
  uint32_t arraySize = 1;  // items; for a cube map, the number of cubes
  DdsFormat format = DdsFormat::RGBA8;
  bool cube = false;
  bool dx10 = false;       // write the DX10 extension header
};

// Bytes of one level (BC1: 8 per 4x4 block; the others 4 per texel).
uint32_t DdsLevelBytes(DdsFormat format, uint32_t width, uint32_t height);
// Bytes of every level of every item (six faces per cube).
uint32_t DdsDataBytes(const DdsDesc& desc);
// Header and data; `data` holds every item (face) with its levels, largest first.
std::vector<uint8_t> WriteDdsBytes(const DdsDesc& desc, const std::vector<uint8_t>& data);

enum class PngKind { Gray, GrayAlpha, Rgb, Rgba, Palette };

struct PngDesc {
  uint32_t width = 1;
  uint32_t height = 1;
  PngKind kind = PngKind::Rgba;
  int bitDepth = 8;
  bool srgb = false;                 // an sRGB rendering-intent chunk
  bool interlaced = false;
  std::vector<uint8_t> palette;      // RGB triples (Palette)
  std::vector<uint8_t> transparency; // tRNS: alpha per palette entry, or one 16-bit gray / RGB key
};

// `rows` holds height rows packed as PNG stores them (samples big-endian at 16 bits, sub-byte
// samples packed from the high bit). False when libpng refuses the description.
bool WritePng(const std::string& path, const PngDesc& desc, const std::vector<uint8_t>& rows);

}  // namespace ContentWriters
