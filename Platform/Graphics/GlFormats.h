// How each layer format maps onto OpenGL storage, upload and vertex-fetch parameters.
#pragma once

#include "Platform/Graphics/GpuTypes.h"

#include <epoxy/gl.h>

namespace Platform {

enum GlFormatFlag : uint16_t {
  GlFormat_Compressed = 0x1,
  GlFormat_Depth = 0x2,
  GlFormat_Stencil = 0x4,
  GlFormat_Srgb = 0x8,
  GlFormat_Integer = 0x10,
  GlFormat_Renderable = 0x20,
  GlFormat_AlphaOnly = 0x40,   // sampled as (0, 0, 0, r)
  GlFormat_OpaqueAlpha = 0x80, // sampled alpha is always 1
  GlFormat_Vertex = 0x100,
};

struct GlFormatInfo {
  GpuFormat format;
  GLenum internalFormat;
  GLenum uploadFormat;   // pixel transfer format (unused for compressed)
  GLenum uploadType;
  uint8_t bytes;         // per texel, or per 4x4 block when compressed
  uint16_t flags;
  uint16_t vertexSize;   // components for vertex fetch (GL_BGRA for BGRA)
  GLenum vertexType;
  bool vertexNormalized;
};

// Null for formats the layer does not handle.
const GlFormatInfo* FindGlFormat(GpuFormat format);

// Bytes of one row (of blocks) and number of rows (of blocks) of a level.
void GlSurfaceInfo(const GlFormatInfo& info, uint32_t width, uint32_t height, uint32_t* rowBytes,
                   uint32_t* rows);

}  // namespace Platform
