// Writes the texture files of the content tree: DDS files (RGBA8, BGRA8, B5G6R5 and BC1 data, with
// the plain or the DX10 header; 1D and 2D textures, arrays, cube maps, volumes and mip chains) and
// PNG files of every PNG pixel kind through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ContentWriters {

enum class DdsFormat : uint32_t { RGBA8 = 28, BGRA8 = 87, B5G6R5 = 85, BC1 = 71 };

// The DX10 header's resource dimensions; a file without that header is 2D, or a volume when its
// depth is above 1.
enum class DdsDimension : uint32_t { Texture1D = 2, Texture2D = 3, Texture3D = 4 };

struct DdsDesc {
  uint32_t width = 1;
  uint32_t height = 1;     // 1 for a one-dimensional texture
  uint32_t depth = 1;      // slices of a volume: above 1 makes one
  uint32_t mipCount = 1;   // levels stored per item
  uint32_t arraySize = 1;  // items; for a cube map, the number of cubes
  DdsFormat format = DdsFormat::RGBA8;
  bool cube = false;
  bool dx10 = false;       // write the DX10 extension header
  DdsDimension dimension = DdsDimension::Texture2D;  // with the DX10 header: 1D needs it
};

// Bytes of one slice of a level (BC1: 8 per 4x4 block; B5G6R5 2 per texel; the others 4).
uint32_t DdsLevelBytes(DdsFormat format, uint32_t width, uint32_t height);
// Bytes of every level of every item (six faces per cube; each level of a volume all its slices).
uint32_t DdsDataBytes(const DdsDesc& desc);
// Header and data; `data` holds every item (face) with its levels, largest first, each level of a
// volume its slices front first.
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
