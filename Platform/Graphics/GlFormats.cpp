// The format table: storage, transfer and vertex-fetch parameters per layer format.
#include "Platform/Graphics/GlFormats.h"

#include <algorithm>
#include <iterator>

namespace Platform {

namespace {

constexpr uint16_t C = GlFormat_Compressed, D = GlFormat_Depth, S = GlFormat_Stencil,
                   SR = GlFormat_Srgb, I = GlFormat_Integer, R = GlFormat_Renderable,
                   A = GlFormat_AlphaOnly, X = GlFormat_OpaqueAlpha, V = GlFormat_Vertex;

const GlFormatInfo kFormats[] = {
    {GpuFormat_R32G32B32A32_Float, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16, R | V, 4, GL_FLOAT, false},
    {GpuFormat_R32G32B32A32_UInt, GL_RGBA32UI, GL_RGBA_INTEGER, GL_UNSIGNED_INT, 16, I | R | V, 4, GL_UNSIGNED_INT, false},
    {GpuFormat_R32G32B32A32_SInt, GL_RGBA32I, GL_RGBA_INTEGER, GL_INT, 16, I | R | V, 4, GL_INT, false},
    {GpuFormat_R32G32B32_Float, GL_RGB32F, GL_RGB, GL_FLOAT, 12, V, 3, GL_FLOAT, false},
    {GpuFormat_R32G32B32_UInt, GL_RGB32UI, GL_RGB_INTEGER, GL_UNSIGNED_INT, 12, I | V, 3, GL_UNSIGNED_INT, false},
    {GpuFormat_R32G32B32_SInt, GL_RGB32I, GL_RGB_INTEGER, GL_INT, 12, I | V, 3, GL_INT, false},
    {GpuFormat_R16G16B16A16_Float, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8, R | V, 4, GL_HALF_FLOAT, false},
    {GpuFormat_R16G16B16A16_UNorm, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8, R | V, 4, GL_UNSIGNED_SHORT, true},
    {GpuFormat_R32G32_Float, GL_RG32F, GL_RG, GL_FLOAT, 8, R | V, 2, GL_FLOAT, false},
    {GpuFormat_R32G32_UInt, GL_RG32UI, GL_RG_INTEGER, GL_UNSIGNED_INT, 8, I | R | V, 2, GL_UNSIGNED_INT, false},
    {GpuFormat_R32G32_SInt, GL_RG32I, GL_RG_INTEGER, GL_INT, 8, I | R | V, 2, GL_INT, false},
    {GpuFormat_R10G10B10A2_UNorm, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, R, 0, 0, false},
    {GpuFormat_R11G11B10_Float, GL_R11F_G11F_B10F, GL_RGB, GL_UNSIGNED_INT_10F_11F_11F_REV, 4, R, 0, 0, false},
    {GpuFormat_R8G8B8A8_UNorm, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, R | V, 4, GL_UNSIGNED_BYTE, true},
    {GpuFormat_R8G8B8A8_UNorm_SRGB, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, SR | R, 0, 0, false},
    {GpuFormat_R8G8B8A8_UInt, GL_RGBA8UI, GL_RGBA_INTEGER, GL_UNSIGNED_BYTE, 4, I | R | V, 4, GL_UNSIGNED_BYTE, false},
    {GpuFormat_R16G16_Float, GL_RG16F, GL_RG, GL_HALF_FLOAT, 4, R | V, 2, GL_HALF_FLOAT, false},
    {GpuFormat_R16G16_UNorm, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4, R | V, 2, GL_UNSIGNED_SHORT, true},
    {GpuFormat_D32_Float, GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT, 4, D, 0, 0, false},
    {GpuFormat_R32_Float, GL_R32F, GL_RED, GL_FLOAT, 4, R | V, 1, GL_FLOAT, false},
    {GpuFormat_R32_UInt, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, 4, I | R | V, 1, GL_UNSIGNED_INT, false},
    {GpuFormat_R32_SInt, GL_R32I, GL_RED_INTEGER, GL_INT, 4, I | R | V, 1, GL_INT, false},
    {GpuFormat_D24_UNorm_S8_UInt, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, D | S, 0, 0, false},
    {GpuFormat_R8G8_UNorm, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, 2, R | V, 2, GL_UNSIGNED_BYTE, true},
    {GpuFormat_R16_Float, GL_R16F, GL_RED, GL_HALF_FLOAT, 2, R | V, 1, GL_HALF_FLOAT, false},
    {GpuFormat_D16_UNorm, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, D, 0, 0, false},
    {GpuFormat_R16_UNorm, GL_R16, GL_RED, GL_UNSIGNED_SHORT, 2, R, 1, GL_UNSIGNED_SHORT, true},
    {GpuFormat_R16_UInt, GL_R16UI, GL_RED_INTEGER, GL_UNSIGNED_SHORT, 2, I | R, 1, GL_UNSIGNED_SHORT, false},
    {GpuFormat_R8_UNorm, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, R, 0, 0, false},
    {GpuFormat_A8_UNorm, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, A, 0, 0, false},
    {GpuFormat_BC1_UNorm, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, 8, C, 0, 0, false},
    {GpuFormat_BC1_UNorm_SRGB, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT1_EXT, 0, 0, 8, C | SR, 0, 0, false},
    {GpuFormat_BC2_UNorm, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC2_UNorm_SRGB, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT3_EXT, 0, 0, 16, C | SR, 0, 0, false},
    {GpuFormat_BC3_UNorm, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC3_UNorm_SRGB, GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT, 0, 0, 16, C | SR, 0, 0, false},
    {GpuFormat_BC4_UNorm, GL_COMPRESSED_RED_RGTC1, 0, 0, 8, C, 0, 0, false},
    {GpuFormat_BC4_SNorm, GL_COMPRESSED_SIGNED_RED_RGTC1, 0, 0, 8, C, 0, 0, false},
    {GpuFormat_BC5_UNorm, GL_COMPRESSED_RG_RGTC2, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC5_SNorm, GL_COMPRESSED_SIGNED_RG_RGTC2, 0, 0, 16, C, 0, 0, false},
    // Red in the high five bits, blue in the low five: GL's 5-6-5 packing of RGB.
    {GpuFormat_B5G6R5_UNorm, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, R, 0, 0, false},
    {GpuFormat_B8G8R8A8_UNorm, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, R | V, GL_BGRA, GL_UNSIGNED_BYTE, true},
    {GpuFormat_B8G8R8X8_UNorm, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, R | X, 0, 0, false},
    {GpuFormat_B8G8R8A8_UNorm_SRGB, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, SR | R, 0, 0, false},
    {GpuFormat_B8G8R8X8_UNorm_SRGB, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, SR | R | X, 0, 0, false},
    {GpuFormat_BC6H_UF16, GL_COMPRESSED_RGB_BPTC_UNSIGNED_FLOAT, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC6H_SF16, GL_COMPRESSED_RGB_BPTC_SIGNED_FLOAT, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC7_UNorm, GL_COMPRESSED_RGBA_BPTC_UNORM, 0, 0, 16, C, 0, 0, false},
    {GpuFormat_BC7_UNorm_SRGB, GL_COMPRESSED_SRGB_ALPHA_BPTC_UNORM, 0, 0, 16, C | SR, 0, 0, false},
};

}  // namespace

const GlFormatInfo* FindGlFormat(GpuFormat format) {
  // Sorted by number; a direct index would waste little but this stays obviously correct.
  auto it = std::lower_bound(std::begin(kFormats), std::end(kFormats), format,
                             [](const GlFormatInfo& f, GpuFormat v) { return f.format < v; });
  return (it != std::end(kFormats) && it->format == format) ? it : nullptr;
}

void GlSurfaceInfo(const GlFormatInfo& info, uint32_t width, uint32_t height, uint32_t* rowBytes,
                   uint32_t* rows) {
  if (info.flags & GlFormat_Compressed) {
    uint32_t across = width > 0 ? std::max(1u, (width + 3) / 4) : 0;
    *rowBytes = across * info.bytes;
    *rows = height > 0 ? std::max(1u, (height + 3) / 4) : 0;
  } else {
    *rowBytes = width * info.bytes;
    *rows = height;
  }
}

}  // namespace Platform
