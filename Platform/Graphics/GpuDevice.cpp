// Device creation, object creation, the program and framebuffer caches, texture transfers.
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/ProgramStop.h"

#include "Platform/Graphics/GlContext.h"
#include "Platform/Graphics/GlFormats.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuSwapChain.h"

#include "Platform/Window.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

namespace Platform {

namespace {

std::atomic<uint64_t> g_nextSerial{16};  // below 16: the device's own zero objects
GpuMessageSink g_sink = nullptr;

uint32_t MipCount(uint32_t w, uint32_t h, uint32_t d = 1) {
  uint32_t n = 1;
  for (uint32_t m = std::max({w, h, d}); m > 1; m >>= 1) ++n;
  return n;
}

GlEnum TargetFor(GpuViewDimension d) {
  switch (d) {
    case GpuViewDimension::Texture2DArray: return GL_TEXTURE_2D_ARRAY;
    case GpuViewDimension::TextureCube: return GL_TEXTURE_CUBE_MAP;
    case GpuViewDimension::TextureCubeArray: return GL_TEXTURE_CUBE_MAP_ARRAY;
    case GpuViewDimension::Texture1D: return GL_TEXTURE_1D;
    case GpuViewDimension::Texture1DArray: return GL_TEXTURE_1D_ARRAY;
    case GpuViewDimension::Texture3D: return GL_TEXTURE_3D;
    default: return GL_TEXTURE_2D;
  }
}

GpuViewDimension NaturalDimension(const GpuTexture2DDesc& d) {
  if (d.miscFlags & GpuMisc_TextureCube)
    return d.arraySize == 6 ? GpuViewDimension::TextureCube : GpuViewDimension::TextureCubeArray;
  return d.arraySize > 1 ? GpuViewDimension::Texture2DArray : GpuViewDimension::Texture2D;
}

// The view a texture gets when none is described: all of it, as the kind it was made.
GpuViewDimension NaturalDimension(GpuTexture* texture) {
  switch (texture->Kind()) {
    case GpuResourceKind::Texture1D:
      return texture->Shape().arraySize > 1 ? GpuViewDimension::Texture1DArray : GpuViewDimension::Texture1D;
    case GpuResourceKind::Texture3D: return GpuViewDimension::Texture3D;
    default: return NaturalDimension(static_cast<GpuTexture2D*>(texture)->GetDesc());
  }
}

bool DimensionFitsKind(GpuViewDimension d, GpuResourceKind kind) {
  switch (d) {
    case GpuViewDimension::Texture1D: case GpuViewDimension::Texture1DArray: return kind == GpuResourceKind::Texture1D;
    case GpuViewDimension::Texture3D: return kind == GpuResourceKind::Texture3D;
    case GpuViewDimension::Unknown: return false;
    default: return kind == GpuResourceKind::Texture2D;
  }
}

// Targets whose array items are the third coordinate of GL's image calls.
bool LayeredIn3D(GlEnum target) {
  return target == GL_TEXTURE_2D_ARRAY || target == GL_TEXTURE_CUBE_MAP || target == GL_TEXTURE_CUBE_MAP_ARRAY;
}

// What every texture kind checks of its use before storage is made.
GpuResult CheckTextureUse(const GlFormatInfo& info, uint32_t bindFlags, GpuUsage usage, const GpuSubresourceData* init) {
  if ((bindFlags & GpuBind_RenderTarget) && !(info.flags & GlFormat_Renderable)) return kGpuInvalidArg;
  if ((bindFlags & GpuBind_DepthStencil) && !(info.flags & GlFormat_Depth)) return kGpuInvalidArg;
  if (usage == GpuUsage::Immutable && !init) return kGpuInvalidArg;
  return kGpuOk;
}

void SetSwizzle(GlName texture, const GlFormatInfo& info) {
  if (info.flags & GlFormat_AlphaOnly) {
    const GLint swizzle[4] = {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED};
    glTextureParameteriv(texture, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  } else if (info.flags & GlFormat_OpaqueAlpha) {
    const GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ONE};
    glTextureParameteriv(texture, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  }
}

// GL packs D24S8 with depth in the high bits; the layer's byte layout has it in the low bits.
void RotateDepthStencil(uint8_t* data, size_t bytes, bool toGl) {
  for (size_t i = 0; i + 4 <= bytes; i += 4) {
    uint32_t v;
    std::memcpy(&v, data + i, 4);
    v = toGl ? (v << 8) | (v >> 24) : (v >> 8) | (v << 24);
    std::memcpy(data + i, &v, 4);
  }
}

GlEnum SamplerTarget(GLenum type) {
  switch (type) {
    case GL_SAMPLER_1D: case GL_SAMPLER_1D_SHADOW: case GL_INT_SAMPLER_1D: case GL_UNSIGNED_INT_SAMPLER_1D:
      return GL_TEXTURE_1D;
    case GL_SAMPLER_1D_ARRAY: case GL_SAMPLER_1D_ARRAY_SHADOW: case GL_INT_SAMPLER_1D_ARRAY:
    case GL_UNSIGNED_INT_SAMPLER_1D_ARRAY:
      return GL_TEXTURE_1D_ARRAY;
    case GL_SAMPLER_3D: case GL_INT_SAMPLER_3D: case GL_UNSIGNED_INT_SAMPLER_3D:
      return GL_TEXTURE_3D;
    case GL_SAMPLER_2D: case GL_SAMPLER_2D_SHADOW: case GL_INT_SAMPLER_2D: case GL_UNSIGNED_INT_SAMPLER_2D:
      return GL_TEXTURE_2D;
    case GL_SAMPLER_2D_ARRAY: case GL_SAMPLER_2D_ARRAY_SHADOW: case GL_INT_SAMPLER_2D_ARRAY:
    case GL_UNSIGNED_INT_SAMPLER_2D_ARRAY:
      return GL_TEXTURE_2D_ARRAY;
    case GL_SAMPLER_CUBE: case GL_SAMPLER_CUBE_SHADOW: case GL_INT_SAMPLER_CUBE: case GL_UNSIGNED_INT_SAMPLER_CUBE:
      return GL_TEXTURE_CUBE_MAP;
    case GL_SAMPLER_CUBE_MAP_ARRAY: case GL_SAMPLER_CUBE_MAP_ARRAY_SHADOW:
    case GL_INT_SAMPLER_CUBE_MAP_ARRAY: case GL_UNSIGNED_INT_SAMPLER_CUBE_MAP_ARRAY:
      return GL_TEXTURE_CUBE_MAP_ARRAY;
    default:
      return 0;
  }
}

// A sampler uniform named "..._sN" reads sampler slot N; any other reads slot 0.
uint8_t SamplerSlotFromName(std::string name) {
  if (size_t bracket = name.find('['); bracket != std::string::npos) name.resize(bracket);
  size_t us = name.rfind("_s");
  if (us == std::string::npos || us + 2 >= name.size()) return 0;
  uint32_t slot = 0;
  for (size_t i = us + 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    slot = slot * 10 + uint32_t(name[i] - '0');
  }
  return slot < kGpuSamplerSlots ? uint8_t(slot) : 0;
}

bool SameName(const char* a, const std::string& b) {
  return a && strcasecmp(a, b.c_str()) == 0;
}

}  // namespace

// ---- messages and hooks -------------------------------------------------------------------

void SetGpuMessageSink(GpuMessageSink sink) { g_sink = sink; }

void GpuMessage(bool isError, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (g_sink)
    g_sink(isError, text);
  else
    std::fprintf(stderr, "%s: %s\n", isError ? "gpu error" : "gpu", text);
}

GpuTestHooks& GetGpuTestHooks() {
  static GpuTestHooks hooks;
  return hooks;
}

// ---- objects -------------------------------------------------------------------------------

GpuObject::GpuObject(GpuDeviceLink* link) : m_serial(g_nextSerial.fetch_add(1)), m_link(link) {
  m_link->AddRef();
}

GpuObject::~GpuObject() { m_link->Release(); }

GpuBuffer::~GpuBuffer() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    if (m_mapped) glUnmapNamedBuffer(m_name);
    glDeleteBuffers(1, &m_name);
  }
}

GpuTexture::~GpuTexture() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    glDeleteTextures(1, &m_name);
  }
}

void GpuShaderResourceView::GetResource(GpuResource** out) const {
  *out = m_texture.Get();
  if (*out) (*out)->AddRef();
}

GpuShaderResourceView::~GpuShaderResourceView() {
  if (GpuDevice* d = LiveDevice(); d && m_ownsName) {
    d->Gl().Ensure();
    glDeleteTextures(1, &m_name);
  }
}

void GpuRenderTargetView::GetResource(GpuResource** out) const {
  *out = m_texture.Get();
  if (*out) (*out)->AddRef();
}

GpuRenderTargetView::~GpuRenderTargetView() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    // Its texture may still be read through other views.
    if (d->m_context) d->m_context->ResolveClear(this);
    d->ForgetView(Serial());
    if (m_clearFbo) glDeleteFramebuffers(1, &m_clearFbo);
  }
}

void GpuDepthStencilView::GetResource(GpuResource** out) const {
  *out = m_texture.Get();
  if (*out) (*out)->AddRef();
}

GpuDepthStencilView::~GpuDepthStencilView() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    // Its texture may still be read through other views.
    if (d->m_context) d->m_context->ResolveClear(this);
    d->ForgetView(Serial());
    if (m_clearFbo) glDeleteFramebuffers(1, &m_clearFbo);
  }
}

GpuShader::~GpuShader() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    d->ForgetShader(Serial());
    glDeleteShader(m_name);
  }
}

GpuInputLayout::~GpuInputLayout() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    glDeleteVertexArrays(1, &m_vao);
  }
}

GpuSamplerState::~GpuSamplerState() {
  if (GpuDevice* d = LiveDevice(); d && m_name) {
    d->Gl().Ensure();
    glDeleteSamplers(1, &m_name);
  }
}

// ---- device life ---------------------------------------------------------------------------

bool IsSoftwareRenderer(const char* renderer) {
  if (!renderer) return false;
  static const char* const kSoftware[] = {"llvmpipe", "softpipe", "swrast", "Software Rasterizer", "SWR"};
  for (const char* name : kSoftware)
    if (std::strstr(renderer, name)) return true;
  return false;
}

uint32_t DeviceMaxAnisotropy(const char* renderer) {
  return IsSoftwareRenderer(renderer) ? kSoftwareMaxAnisotropy : 16u;
}

GpuResult CreateGpuDevice(GpuDriverType type, const GpuFeatureLevel* levels, uint32_t levelCount,
                          GpuDevice** device, GpuFeatureLevel* achieved, GpuContext** context) {
  const WindowSystemCall call;
  if (device) *device = nullptr;
  if (context) *context = nullptr;
  GpuFeatureLevel level = GpuFeatureLevel_11_0;
  if (levels && levelCount) {
    const GpuFeatureLevel* end = levels + levelCount;
    const GpuFeatureLevel* it = std::find_if(levels, end, [](GpuFeatureLevel l) {
      return l >= GpuFeatureLevel_9_1 && l <= GpuFeatureLevel_11_0;
    });
    if (it == end) return kGpuInvalidArg;
    level = *it;
  }
  if (GetGpuTestHooks().failingDrivers & (1u << uint32_t(type))) return kGpuNotSupported;

  std::string error;
  GlContext* gl = GlContext::Create(type, &error);
  if (!gl) {
    GpuMessage(false, "driver type %u: %s", uint32_t(type), error.c_str());
    return kGpuNotSupported;
  }
  auto* created = new GpuDevice;
  if (!created->Init(gl, level)) {
    created->Release();
    return kGpuFail;
  }
  if (achieved) *achieved = level;
  if (context) {
    created->AddRef();
    *context = created->m_context.get();
  }
  if (device)
    *device = created;
  else
    created->Release();
  return kGpuOk;
}

bool GpuDevice::Init(GlContext* gl, GpuFeatureLevel level) {
  m_gl = gl;
  m_level = level;
  m_link = new GpuDeviceLink;
  m_link->device = this;
  m_gl->Ensure();
  m_hasPolygonOffsetClamp = epoxy_has_gl_extension("GL_ARB_polygon_offset_clamp") ||
                           epoxy_has_gl_extension("GL_EXT_polygon_offset_clamp");
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  m_rendererName = renderer ? renderer : "";
  m_maxAnisotropy = DeviceMaxAnisotropy(m_rendererName.c_str());

  // What unbound shader-resource slots sample: zero in every channel.
  const uint8_t zeros[4] = {};
  const GlEnum targets[kZeroTextureKinds] = {GL_TEXTURE_2D, GL_TEXTURE_2D_ARRAY, GL_TEXTURE_CUBE_MAP,
                                             GL_TEXTURE_CUBE_MAP_ARRAY, GL_TEXTURE_1D, GL_TEXTURE_1D_ARRAY,
                                             GL_TEXTURE_3D};
  for (int i = 0; i < kZeroTextureKinds; ++i) {
    GlName& name = m_zeroTextures[i];
    glCreateTextures(targets[i], 1, &name);
    switch (targets[i]) {
      case GL_TEXTURE_1D: glTextureStorage1D(name, 1, GL_RGBA8, 1); break;
      case GL_TEXTURE_2D: case GL_TEXTURE_CUBE_MAP: case GL_TEXTURE_1D_ARRAY:
        glTextureStorage2D(name, 1, GL_RGBA8, 1, 1);
        break;
      default: glTextureStorage3D(name, 1, GL_RGBA8, 1, 1, targets[i] == GL_TEXTURE_CUBE_MAP_ARRAY ? 6 : 1);
    }
    glClearTexImage(name, 0, GL_RGBA, GL_UNSIGNED_BYTE, zeros);
  }
  glCreateBuffers(1, &m_zeroBuffer);
  const uint8_t zeroVertex[64] = {};
  glNamedBufferData(m_zeroBuffer, sizeof zeroVertex, zeroVertex, GL_STATIC_DRAW);

  m_context.reset(new GpuContext(this));
  m_context->InitGlState();

  auto* empty = new GpuInputLayout(m_link);
  glCreateVertexArrays(1, &empty->m_vao);
  m_emptyLayout.Attach(empty);

  GpuSamplerState* sampler = nullptr;
  CreateSamplerState(GpuSamplerDesc{}, &sampler);
  m_defaultSampler = m_context->SamplerName(sampler);
  sampler->m_name = 0;  // the device keeps the GL object for itself
  sampler->Release();
  return glGetError() == GL_NO_ERROR;
}

uint32_t GpuDevice::Release() {
  uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

GpuDevice::~GpuDevice() {
  if (m_gl) m_gl->Ensure();
  m_emptyLayout.Reset();
  m_context.reset();  // releases every bound object while GL is still usable
  if (m_gl) {
    for (auto& [key, program] : m_programs)
      if (program.name) glDeleteProgram(program.name);
    for (auto& [key, fbo] : m_framebuffers) glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(kZeroTextureKinds, m_zeroTextures);
    glDeleteBuffers(1, &m_zeroBuffer);
    glDeleteSamplers(1, &m_defaultSampler);
  }
  if (m_link) {
    m_link->device = nullptr;  // objects still held elsewhere no longer touch GL
    m_link->Release();
  }
  delete m_gl;
}

int GpuDevice::ZeroTextureKind(GlEnum target) {
  switch (target) {
    case GL_TEXTURE_2D_ARRAY: return 1;
    case GL_TEXTURE_CUBE_MAP: return 2;
    case GL_TEXTURE_CUBE_MAP_ARRAY: return 3;
    case GL_TEXTURE_1D: return 4;
    case GL_TEXTURE_1D_ARRAY: return 5;
    case GL_TEXTURE_3D: return 6;
    default: return 0;
  }
}

void GpuDevice::GetImmediateContext(GpuContext** out) {
  AddRef();
  *out = m_context.get();
}

// ---- object creation -----------------------------------------------------------------------

GpuResult GpuDevice::CreateBuffer(const GpuBufferDesc& desc, const GpuSubresourceData* init,
                                  GpuBuffer** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (desc.byteWidth == 0) return kGpuInvalidArg;
  if (desc.usage == GpuUsage::Dynamic && !(desc.cpuAccessFlags & GpuCpuAccess_Write)) return kGpuInvalidArg;
  if (desc.usage == GpuUsage::Immutable && (!init || !init->sysMem)) return kGpuInvalidArg;
  if (GetGpuTestHooks().failingBufferBinds & desc.bindFlags) return kGpuOutOfMemory;
  m_gl->Ensure();
  auto* buffer = new GpuBuffer(m_link, desc);
  glCreateBuffers(1, &buffer->m_name);
  GLenum usage = desc.usage == GpuUsage::Dynamic   ? GL_DYNAMIC_DRAW
                 : desc.usage == GpuUsage::Staging ? GL_STREAM_READ
                                                   : GL_STATIC_DRAW;
  glNamedBufferData(buffer->m_name, desc.byteWidth, init ? init->sysMem : nullptr, usage);
  if (glGetError() != GL_NO_ERROR) {
    buffer->Release();
    return kGpuOutOfMemory;
  }
  *out = buffer;
  return kGpuOk;
}

GpuResult GpuDevice::CreateTexture1D(const GpuTexture1DDesc& descIn, const GpuSubresourceData* init,
                                     GpuTexture1D** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  const GlFormatInfo* info = FindGlFormat(descIn.format);
  // GL stores block-compressed and depth formats in two dimensions at least.
  if (!info || (info->flags & (GlFormat_Compressed | GlFormat_Depth))) return kGpuNotSupported;
  GpuTexture1DDesc desc = descIn;
  if (desc.width == 0 || desc.width > 16384 || desc.arraySize == 0 || desc.arraySize > 2048 ||
      (desc.miscFlags & GpuMisc_TextureCube))
    return kGpuInvalidArg;
  if (GpuResult r = CheckTextureUse(*info, desc.bindFlags, desc.usage, init); GpuFailed(r)) return r;
  const uint32_t full = MipCount(desc.width, 1);
  desc.mipLevels = desc.mipLevels == 0 ? full : desc.mipLevels;
  if (desc.mipLevels > full) return kGpuInvalidArg;

  auto* texture = new GpuTexture1D(m_link, desc);
  texture->m_shape = {desc.width, 1, 1, desc.mipLevels, desc.arraySize, desc.bindFlags};
  if (GpuResult r = MakeTextureStorage(texture, desc.arraySize > 1 ? GL_TEXTURE_1D_ARRAY : GL_TEXTURE_1D, *info, init);
      GpuFailed(r)) {
    texture->Release();
    return r;
  }
  *out = texture;
  return kGpuOk;
}

GpuResult GpuDevice::CreateTexture2D(const GpuTexture2DDesc& descIn, const GpuSubresourceData* init,
                                     GpuTexture2D** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  const GlFormatInfo* info = FindGlFormat(descIn.format);
  GpuTexture2DDesc desc = descIn;
  if (!info) return kGpuNotSupported;
  if (desc.width == 0 || desc.height == 0 || desc.width > 16384 || desc.height > 16384 ||
      desc.arraySize == 0 || desc.arraySize > 2048)
    return kGpuInvalidArg;
  if (desc.sampleCount != 1) return kGpuNotSupported;
  bool cube = desc.miscFlags & GpuMisc_TextureCube;
  if (cube && (desc.arraySize % 6 != 0 || desc.width != desc.height)) return kGpuInvalidArg;
  if (GpuResult r = CheckTextureUse(*info, desc.bindFlags, desc.usage, init); GpuFailed(r)) return r;
  uint32_t full = MipCount(desc.width, desc.height);
  desc.mipLevels = desc.mipLevels == 0 ? full : desc.mipLevels;
  if (desc.mipLevels > full) return kGpuInvalidArg;

  auto* texture = new GpuTexture2D(m_link, desc);
  texture->m_shape = {desc.width, desc.height, 1, desc.mipLevels, desc.arraySize, desc.bindFlags};
  if (GpuResult r = MakeTextureStorage(texture, TargetFor(NaturalDimension(desc)), *info, init); GpuFailed(r)) {
    texture->Release();
    return r;
  }
  *out = texture;
  return kGpuOk;
}

GpuResult GpuDevice::CreateTexture3D(const GpuTexture3DDesc& descIn, const GpuSubresourceData* init,
                                     GpuTexture3D** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  const GlFormatInfo* info = FindGlFormat(descIn.format);
  if (!info || (info->flags & GlFormat_Depth)) return kGpuNotSupported;
  GpuTexture3DDesc desc = descIn;
  if (desc.width == 0 || desc.height == 0 || desc.depth == 0 || desc.width > 2048 || desc.height > 2048 ||
      desc.depth > 2048 || (desc.miscFlags & GpuMisc_TextureCube))
    return kGpuInvalidArg;
  if (GpuResult r = CheckTextureUse(*info, desc.bindFlags, desc.usage, init); GpuFailed(r)) return r;
  const uint32_t full = MipCount(desc.width, desc.height, desc.depth);
  desc.mipLevels = desc.mipLevels == 0 ? full : desc.mipLevels;
  if (desc.mipLevels > full) return kGpuInvalidArg;

  auto* texture = new GpuTexture3D(m_link, desc);
  texture->m_shape = {desc.width, desc.height, desc.depth, desc.mipLevels, 1, desc.bindFlags};
  if (GpuResult r = MakeTextureStorage(texture, GL_TEXTURE_3D, *info, init); GpuFailed(r)) {
    texture->Release();
    return r;
  }
  *out = texture;
  return kGpuOk;
}

GpuResult GpuDevice::MakeTextureStorage(GpuTexture* texture, GlEnum target, const GlFormatInfo& info,
                                        const GpuSubresourceData* init) {
  const GpuTextureShape& s = texture->m_shape;
  m_gl->Ensure();
  texture->m_info = &info;
  texture->m_target = target;
  glCreateTextures(target, 1, &texture->m_name);
  const GLsizei mips = GLsizei(s.mipLevels);
  switch (target) {
    case GL_TEXTURE_1D: glTextureStorage1D(texture->m_name, mips, info.internalFormat, s.width); break;
    case GL_TEXTURE_1D_ARRAY:
      glTextureStorage2D(texture->m_name, mips, info.internalFormat, s.width, s.arraySize);
      break;
    case GL_TEXTURE_2D: case GL_TEXTURE_CUBE_MAP:
      glTextureStorage2D(texture->m_name, mips, info.internalFormat, s.width, s.height);
      break;
    case GL_TEXTURE_3D:
      glTextureStorage3D(texture->m_name, mips, info.internalFormat, s.width, s.height, s.depth);
      break;
    default: glTextureStorage3D(texture->m_name, mips, info.internalFormat, s.width, s.height, s.arraySize);
  }
  if (GLenum error = glGetError(); error != GL_NO_ERROR) {
    // A block format GL keeps out of volumes is an operation it refuses, not a lack of memory.
    return error == GL_OUT_OF_MEMORY ? kGpuOutOfMemory : kGpuNotSupported;
  }
  SetSwizzle(texture->m_name, info);
  if (init) {
    for (uint32_t item = 0; item < s.arraySize; ++item) {
      for (uint32_t mip = 0; mip < s.mipLevels; ++mip) {
        const GpuSubresourceData& data = init[item * s.mipLevels + mip];
        if (!data.sysMem) continue;
        const GpuBox level{0, 0, 0, std::max(1u, s.width >> mip), std::max(1u, s.height >> mip),
                           std::max(1u, s.depth >> mip)};
        UploadTexture(texture, mip, item, level, data.sysMem, data.sysMemPitch, data.sysMemSlicePitch);
      }
    }
  }
  return kGpuOk;
}

void GpuDevice::UploadTexture(GpuTexture* texture, uint32_t mip, uint32_t layer, const GpuBox& box,
                              const void* data, uint32_t rowPitch, uint32_t depthPitch) {
  const GlFormatInfo& info = *texture->m_info;
  const uint32_t x = box.left, y = box.top, z = box.front;
  const uint32_t w = box.right - box.left, h = box.bottom - box.top, d = box.back - box.front;
  uint32_t rowBytes, rows;
  GlSurfaceInfo(info, w, h, &rowBytes, &rows);
  const uint32_t pitch = rowPitch ? rowPitch : rowBytes;
  const size_t slicePitch = depthPitch ? depthPitch : size_t(pitch) * rows;
  const uint8_t* src = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> packed;
  const bool depthStencil = info.format == GpuFormat_D24_UNorm_S8_UInt;
  if (pitch != rowBytes || (d > 1 && slicePitch != size_t(rowBytes) * rows) || depthStencil) {
    packed.resize(size_t(rowBytes) * rows * d);
    uint8_t* to = packed.data();
    for (uint32_t slice = 0; slice < d; ++slice)
      for (uint32_t r = 0; r < rows; ++r, to += rowBytes)
        std::memcpy(to, src + slice * slicePitch + size_t(r) * pitch, rowBytes);
    if (depthStencil) RotateDepthStencil(packed.data(), packed.size(), true);
    src = packed.data();
  }
  m_gl->Ensure();
  const GLuint name = texture->m_name;
  const GlEnum target = texture->m_target;
  if (info.flags & GlFormat_Compressed) {
    const GLsizei bytes = GLsizei(size_t(rowBytes) * rows * d);
    if (target == GL_TEXTURE_2D)
      glCompressedTextureSubImage2D(name, mip, x, y, w, h, info.internalFormat, bytes, src);
    else if (target == GL_TEXTURE_3D)
      glCompressedTextureSubImage3D(name, mip, x, y, z, w, h, d, info.internalFormat, bytes, src);
    else
      glCompressedTextureSubImage3D(name, mip, x, y, layer, w, h, 1, info.internalFormat, bytes, src);
    return;
  }
  switch (target) {
    case GL_TEXTURE_1D: glTextureSubImage1D(name, mip, x, w, info.uploadFormat, info.uploadType, src); break;
    case GL_TEXTURE_1D_ARRAY:
      glTextureSubImage2D(name, mip, x, layer, w, 1, info.uploadFormat, info.uploadType, src);
      break;
    case GL_TEXTURE_2D: glTextureSubImage2D(name, mip, x, y, w, h, info.uploadFormat, info.uploadType, src); break;
    case GL_TEXTURE_3D:
      glTextureSubImage3D(name, mip, x, y, z, w, h, d, info.uploadFormat, info.uploadType, src);
      break;
    default: glTextureSubImage3D(name, mip, x, y, layer, w, h, 1, info.uploadFormat, info.uploadType, src);
  }
}

GpuResult GpuDevice::CreateShaderResourceView(GpuResource* resource, const GpuShaderResourceViewDesc* descIn,
                                              GpuShaderResourceView** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  GpuTexture* texture = AsTexture(resource);
  if (!texture) return kGpuInvalidArg;
  const GpuTextureShape& shape = texture->m_shape;
  if (!(shape.bindFlags & GpuBind_ShaderResource)) return kGpuInvalidArg;

  GpuShaderResourceViewDesc desc;
  if (descIn) {
    desc = *descIn;
  } else {
    desc.dimension = NaturalDimension(texture);
    desc.arraySize = desc.dimension == GpuViewDimension::TextureCubeArray ? shape.arraySize / 6 : shape.arraySize;
  }
  if (desc.format == GpuFormat_Unknown) desc.format = texture->m_info->format;
  if (desc.mipLevels == 0xffffffffu && desc.mostDetailedMip < shape.mipLevels)
    desc.mipLevels = shape.mipLevels - desc.mostDetailedMip;
  uint32_t layers = desc.dimension == GpuViewDimension::Texture2D || desc.dimension == GpuViewDimension::Texture1D ||
                            desc.dimension == GpuViewDimension::Texture3D
                        ? 1
                    : desc.dimension == GpuViewDimension::TextureCube      ? 6
                    : desc.dimension == GpuViewDimension::TextureCubeArray ? desc.arraySize * 6
                                                                           : desc.arraySize;
  const GlFormatInfo* info = FindGlFormat(desc.format);
  if (!info || desc.mipLevels == 0 || desc.mostDetailedMip + desc.mipLevels > shape.mipLevels ||
      layers == 0 || desc.firstArraySlice + layers > shape.arraySize || !DimensionFitsKind(desc.dimension, texture->Kind()))
    return kGpuInvalidArg;

  m_gl->Ensure();
  auto* view = new GpuShaderResourceView(m_link);
  view->m_texture = texture;
  view->m_desc = desc;
  view->m_target = TargetFor(desc.dimension);
  bool whole = view->m_target == texture->m_target && desc.mostDetailedMip == 0 &&
               desc.mipLevels == shape.mipLevels && desc.firstArraySlice == 0 && layers == shape.arraySize &&
               info->internalFormat == texture->m_info->internalFormat &&
               (info->flags & (GlFormat_AlphaOnly | GlFormat_OpaqueAlpha)) ==
                   (texture->m_info->flags & (GlFormat_AlphaOnly | GlFormat_OpaqueAlpha));
  if (whole) {
    view->m_name = texture->m_name;
  } else {
    glGenTextures(1, &view->m_name);
    view->m_ownsName = true;
    glTextureView(view->m_name, view->m_target, texture->m_name, info->internalFormat, desc.mostDetailedMip,
                  desc.mipLevels, desc.firstArraySlice, layers);
    if (glGetError() != GL_NO_ERROR) {
      view->Release();
      return kGpuInvalidArg;
    }
    SetSwizzle(view->m_name, *info);
  }
  *out = view;
  return kGpuOk;
}

GpuResult GpuDevice::CreateRenderTargetView(GpuResource* resource, const GpuRenderTargetViewDesc* desc,
                                            GpuRenderTargetView** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (!resource || resource->Kind() != GpuResourceKind::Texture2D) return kGpuInvalidArg;
  auto* texture = static_cast<GpuTexture2D*>(resource);
  if (!(texture->m_desc.bindFlags & GpuBind_RenderTarget)) return kGpuInvalidArg;
  GpuRenderTargetViewDesc d = desc ? *desc : GpuRenderTargetViewDesc{};
  if (d.format == GpuFormat_Unknown) d.format = texture->m_desc.format;
  if (d.mipSlice >= texture->m_desc.mipLevels || d.firstArraySlice >= texture->m_desc.arraySize)
    return kGpuInvalidArg;
  auto* view = new GpuRenderTargetView(m_link);
  view->m_texture = texture;
  view->m_desc = d;
  *out = view;
  return kGpuOk;
}

GpuResult GpuDevice::CreateDepthStencilView(GpuResource* resource, const GpuDepthStencilViewDesc* desc,
                                            GpuDepthStencilView** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (!resource || resource->Kind() != GpuResourceKind::Texture2D) return kGpuInvalidArg;
  auto* texture = static_cast<GpuTexture2D*>(resource);
  if (!(texture->m_desc.bindFlags & GpuBind_DepthStencil)) return kGpuInvalidArg;
  GpuDepthStencilViewDesc d = desc ? *desc : GpuDepthStencilViewDesc{};
  if (d.format == GpuFormat_Unknown) d.format = texture->m_desc.format;
  if (d.mipSlice >= texture->m_desc.mipLevels || d.firstArraySlice >= texture->m_desc.arraySize)
    return kGpuInvalidArg;
  auto* view = new GpuDepthStencilView(m_link);
  view->m_texture = texture;
  view->m_desc = d;
  *out = view;
  return kGpuOk;
}

namespace {

GlName CompileShader(GpuShaderStage stage, const std::string& source) {
  GlName name = glCreateShader(stage == GpuShaderStage::Vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
  const char* text = source.c_str();
  GLint length = GLint(source.size());
  glShaderSource(name, 1, &text, &length);
  glCompileShader(name);
  GLint ok = 0;
  glGetShaderiv(name, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetShaderInfoLog(name, sizeof log, nullptr, log);
    GpuMessage(true, "shader does not compile: %s", log);
    glDeleteShader(name);
    return 0;
  }
  return name;
}

}  // namespace

GpuResult GpuDevice::CreateVertexShader(const void* code, size_t size, GpuVertexShader** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  ShaderContainer container;
  std::string error;
  if (!ParseShaderContainer(code, size, &container, &error) || container.stage != GpuShaderStage::Vertex)
    return kGpuInvalidArg;
  m_gl->Ensure();
  GlName name = CompileShader(GpuShaderStage::Vertex, container.source);
  if (!name) return kGpuInvalidArg;
  auto* shader = new GpuVertexShader(m_link);
  shader->m_name = name;
  shader->m_inputs = std::move(container.inputs);
  *out = shader;
  return kGpuOk;
}

GpuResult GpuDevice::CreatePixelShader(const void* code, size_t size, GpuPixelShader** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  ShaderContainer container;
  std::string error;
  if (!ParseShaderContainer(code, size, &container, &error) || container.stage != GpuShaderStage::Pixel)
    return kGpuInvalidArg;
  m_gl->Ensure();
  GlName name = CompileShader(GpuShaderStage::Pixel, container.source);
  if (!name) return kGpuInvalidArg;
  auto* shader = new GpuPixelShader(m_link);
  shader->m_name = name;
  *out = shader;
  return kGpuOk;
}

GpuResult GpuDevice::CreateInputLayout(const GpuInputElementDesc* elements, uint32_t count,
                                       const void* code, size_t size, GpuInputLayout** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  std::vector<ShaderInputParameter> signature;
  if (GpuFailed(ReflectShader(code, size, &signature)) || (count && !elements)) return kGpuInvalidArg;

  std::vector<bool> matched(signature.size(), false);
  uint32_t nextOffset[kGpuVertexSlots] = {};
  m_gl->Ensure();
  // The signature is the shader file's: a location or offset GL refuses would leave its error behind
  // for whichever checked GL call comes next, failing that instead.
  GLint attributes = 0, reach = 0;
  glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &attributes);
  glGetIntegerv(GL_MAX_VERTEX_ATTRIB_RELATIVE_OFFSET, &reach);
  auto* layout = new GpuInputLayout(m_link);
  glCreateVertexArrays(1, &layout->m_vao);
  for (uint32_t i = 0; i < count; ++i) {
    const GpuInputElementDesc& e = elements[i];
    const GlFormatInfo* info = FindGlFormat(e.format);
    if (!info || !(info->flags & GlFormat_Vertex) || e.inputSlot >= kGpuVertexSlots) {
      GpuMessage(true, "input element %s%u: unusable format %u or slot %u", e.semanticName ? e.semanticName : "?",
                 e.semanticIndex, uint32_t(e.format), e.inputSlot);
      layout->Release();
      return kGpuInvalidArg;
    }
    uint32_t offset = e.alignedByteOffset == kGpuAppendAligned ? (nextOffset[e.inputSlot] + 3) & ~3u
                                                               : e.alignedByteOffset;
    nextOffset[e.inputSlot] = offset + info->bytes;
    auto sig = std::find_if(signature.begin(), signature.end(), [&](const ShaderInputParameter& p) {
      return p.semanticIndex == e.semanticIndex && SameName(e.semanticName, p.semanticName);
    });
    if (sig == signature.end()) continue;  // the shader does not read it
    matched[size_t(sig - signature.begin())] = true;
    GLuint location = sig->location;
    if (location >= GLuint(attributes) || offset > GLuint(reach)) {
      GpuMessage(true,
                 "input element %s%u: location %u or offset %u past the %d locations and %d-byte offsets GL takes",
                 e.semanticName ? e.semanticName : "?", e.semanticIndex, location, offset, attributes, reach);
      layout->Release();
      return kGpuInvalidArg;
    }
    if (info->flags & GlFormat_Integer)
      glVertexArrayAttribIFormat(layout->m_vao, location, info->vertexSize, info->vertexType, offset);
    else
      glVertexArrayAttribFormat(layout->m_vao, location, info->vertexSize, info->vertexType,
                                info->vertexNormalized, offset);
    glVertexArrayAttribBinding(layout->m_vao, location, e.inputSlot);
    glEnableVertexArrayAttrib(layout->m_vao, location);
    // A per-instance step rate of 0 repeats the first element for every instance.
    GLuint divisor = e.inputSlotClass == GpuInputClass::PerInstance
                         ? (e.instanceDataStepRate ? e.instanceDataStepRate : 0xffffffffu)
                         : 0;
    glVertexArrayBindingDivisor(layout->m_vao, e.inputSlot, divisor);
    layout->m_slotMask |= 1u << e.inputSlot;
  }
  for (size_t i = 0; i < signature.size(); ++i) {
    if (!matched[i]) {
      GpuMessage(true, "input layout has no element for shader input %s%u",
                 signature[i].semanticName.c_str(), signature[i].semanticIndex);
      layout->Release();
      return kGpuInvalidArg;
    }
  }
  *out = layout;
  return kGpuOk;
}

GpuResult GpuDevice::CreateBlendState(const GpuBlendDesc& desc, GpuBlendState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  *out = new GpuBlendState(m_link, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateRasterizerState(const GpuRasterizerDesc& desc, GpuRasterizerState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  *out = new GpuRasterizerState(m_link, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateDepthStencilState(const GpuDepthStencilDesc& desc, GpuDepthStencilState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  *out = new GpuDepthStencilState(m_link, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateSamplerState(const GpuSamplerDesc& desc, GpuSamplerState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  GpuSamplerDesc d = desc;
  d.maxAnisotropy = std::clamp(d.maxAnisotropy, 1u, 16u);
  *out = new GpuSamplerState(m_link, d);
  return kGpuOk;
}

GpuResult GpuDevice::CreateSwapChain(const GpuSwapChainDesc& descIn, GpuSwapChain** out) {
  const WindowSystemCall call;
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  GpuSwapChainDesc desc = descIn;
  SDL_Window* window = desc.outputWindow ? desc.outputWindow->Native() : nullptr;
  if (window) {
    if (!(SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL)) {
      GpuMessage(true, "swap chain: the window was not made for OpenGL");
      return kGpuInvalidArg;
    }
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    if (desc.width == 0) desc.width = uint32_t(w);
    if (desc.height == 0) desc.height = uint32_t(h);
  }
  const GlFormatInfo* info = FindGlFormat(desc.format);
  if (desc.width == 0 || desc.height == 0 || !info || !(info->flags & GlFormat_Renderable))
    return kGpuInvalidArg;
  if (window && !m_gl->MakeCurrentOn(window)) {
    GpuMessage(true, "swap chain: %s", SDL_GetError());
    return kGpuFail;
  }
  auto* chain = new GpuSwapChain(m_link, desc);
  if (GpuResult r = chain->CreateBackBuffer(); GpuFailed(r)) {
    chain->Release();
    return r;
  }
  *out = chain;
  return kGpuOk;
}

GpuResult GpuDevice::CheckFormatSupport(GpuFormat format, uint32_t* support) const {
  if (!support) return kGpuInvalidArg;
  *support = 0;
  const GlFormatInfo* info = FindGlFormat(format);
  if (!info) return kGpuFail;
  uint32_t s = GpuSupport_Texture2D | GpuSupport_TextureCube;
  if (!(info->flags & (GlFormat_Compressed | GlFormat_Depth))) s |= GpuSupport_Texture1D | GpuSupport_Texture3D;
  if (!(info->flags & GlFormat_Depth)) s |= GpuSupport_ShaderSample;
  if (info->flags & GlFormat_Vertex) s |= GpuSupport_Buffer | GpuSupport_VertexBuffer;
  if (format == GpuFormat_R16_UInt || format == GpuFormat_R32_UInt) s |= GpuSupport_IndexBuffer;
  if (info->flags & GlFormat_Depth) s |= GpuSupport_DepthStencil;
  if (info->flags & GlFormat_Renderable) {
    s |= GpuSupport_RenderTarget;
    if (!(info->flags & GlFormat_Integer)) s |= GpuSupport_Blendable | GpuSupport_MipAutogen;
  }
  *support = s;
  return kGpuOk;
}

// ---- caches --------------------------------------------------------------------------------

GpuDevice::Program* GpuDevice::FindProgram(GpuShader* vs, GpuShader* ps) {
  auto [it, inserted] = m_programs.try_emplace({vs->Serial(), ps ? ps->Serial() : 0});
  if (inserted) LinkProgram(it->second, vs, ps);
  return &it->second;
}

void GpuDevice::LinkProgram(Program& p, GpuShader* vs, GpuShader* ps) {
  ++m_stats.programLinks;
  p.serial = g_nextSerial.fetch_add(1);
  p.vs = vs->Serial();
  p.ps = ps ? ps->Serial() : 0;
  GlName program = glCreateProgram();
  glAttachShader(program, vs->m_name);
  if (ps) glAttachShader(program, ps->m_name);
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    GpuMessage(true, "vertex and pixel shader do not link: %s", log);
    glDeleteProgram(program);
    return;
  }

  // Sources name per-stage slots (binding = N); each stage gets its own range of GL bindings.
  GLint count = 0;
  glGetProgramInterfaceiv(program, GL_UNIFORM_BLOCK, GL_ACTIVE_RESOURCES, &count);
  for (GLint i = 0; i < count; ++i) {
    const GLenum props[3] = {GL_BUFFER_BINDING, GL_REFERENCED_BY_VERTEX_SHADER, GL_REFERENCED_BY_FRAGMENT_SHADER};
    GLint v[3] = {};
    glGetProgramResourceiv(program, GL_UNIFORM_BLOCK, GLuint(i), 3, props, 3, nullptr, v);
    if (v[1] && v[2]) GpuMessage(false, "a constant block read by both stages takes the vertex stage's slot");
    if (v[0] < 0 || v[0] >= GLint(kGpuConstantSlots)) {
      GpuMessage(true, "constant block binding %d is out of range", v[0]);
      continue;
    }
    glUniformBlockBinding(program, GLuint(i), GLuint((v[1] ? 0 : kGpuConstantSlots) + v[0]));
  }

  glGetProgramInterfaceiv(program, GL_UNIFORM, GL_ACTIVE_RESOURCES, &count);
  for (GLint i = 0; i < count; ++i) {
    const GLenum props[4] = {GL_TYPE, GL_ARRAY_SIZE, GL_LOCATION, GL_REFERENCED_BY_VERTEX_SHADER};
    GLint v[4] = {};
    glGetProgramResourceiv(program, GL_UNIFORM, GLuint(i), 4, props, 4, nullptr, v);
    GlEnum target = SamplerTarget(GLenum(v[0]));
    if (!target || v[2] < 0) continue;
    char name[256] = {};
    glGetProgramResourceName(program, GL_UNIFORM, GLuint(i), sizeof name, nullptr, name);
    uint8_t samplerSlot = SamplerSlotFromName(name);
    uint8_t stage = v[3] ? 0 : 1;
    for (GLint k = 0; k < v[1]; ++k) {
      GLint slot = 0;
      glGetUniformiv(program, v[2] + k, &slot);
      if (slot < 0 || slot >= GLint(kGpuResourceSlots)) {
        GpuMessage(true, "texture binding %d of %s is out of range", slot, name);
        continue;
      }
      uint8_t unit = uint8_t(stage * kGpuResourceSlots + uint32_t(slot));
      glProgramUniform1i(program, v[2] + k, unit);
      p.textures.push_back({unit, stage, uint8_t(slot), samplerSlot, target});
    }
  }
  p.name = program;
  p.valid = true;
}

GlName GpuDevice::MakeViewFramebuffer(GpuTexture2D* texture, uint32_t mip, uint32_t layer, bool depth) {
  GlName fbo = 0;
  glCreateFramebuffers(1, &fbo);
  GLenum attachment = !depth ? GL_COLOR_ATTACHMENT0
                      : (texture->m_info->flags & GlFormat_Stencil) ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                   : GL_DEPTH_ATTACHMENT;
  if (texture->m_target == GL_TEXTURE_2D)
    glNamedFramebufferTexture(fbo, attachment, texture->m_name, mip);
  else
    glNamedFramebufferTextureLayer(fbo, attachment, texture->m_name, mip, layer);
  glNamedFramebufferDrawBuffer(fbo, depth ? GL_NONE : GL_COLOR_ATTACHMENT0);
  return fbo;
}

GlName GpuDevice::FindFramebuffer(const FramebufferKey& key, GpuRenderTargetView* const* rtvs,
                                  GpuDepthStencilView* dsv) {
  if (auto it = m_framebuffers.find(key); it != m_framebuffers.end()) return it->second;
  GlName fbo = 0;
  glCreateFramebuffers(1, &fbo);
  GLenum buffers[kGpuRenderTargets];
  GLsizei used = 0;  // draw buffers past the last target would cost the driver per draw
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) {
    buffers[i] = GL_NONE;
    if (GpuRenderTargetView* v = rtvs[i]) {
      used = GLsizei(i + 1);
      GpuTexture2D* t = v->m_texture.Get();
      if (t->m_target == GL_TEXTURE_2D)
        glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0 + i, t->m_name, v->m_desc.mipSlice);
      else
        glNamedFramebufferTextureLayer(fbo, GL_COLOR_ATTACHMENT0 + i, t->m_name, v->m_desc.mipSlice,
                                       v->m_desc.firstArraySlice);
      buffers[i] = GL_COLOR_ATTACHMENT0 + i;
    }
  }
  if (used)
    glNamedFramebufferDrawBuffers(fbo, used, buffers);
  else
    glNamedFramebufferDrawBuffer(fbo, GL_NONE);
  if (dsv) {
    GpuTexture2D* t = dsv->m_texture.Get();
    GLenum attachment = (t->m_info->flags & GlFormat_Stencil) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
    if (t->m_target == GL_TEXTURE_2D)
      glNamedFramebufferTexture(fbo, attachment, t->m_name, dsv->m_desc.mipSlice);
    else
      glNamedFramebufferTextureLayer(fbo, attachment, t->m_name, dsv->m_desc.mipSlice, dsv->m_desc.firstArraySlice);
  }
  GLenum status = glCheckNamedFramebufferStatus(fbo, GL_DRAW_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) GpuMessage(true, "render targets cannot be bound together (0x%x)", status);
  m_framebuffers.emplace(key, fbo);
  return fbo;
}

void GpuDevice::ForgetView(uint64_t serial) {
  for (auto it = m_framebuffers.begin(); it != m_framebuffers.end();) {
    if (std::find(it->first.begin(), it->first.end(), serial) != it->first.end()) {
      if (m_context && m_context->m_appliedFramebuffer == it->second) m_context->ForgetFramebufferBinding();
      glDeleteFramebuffers(1, &it->second);
      it = m_framebuffers.erase(it);
    } else {
      ++it;
    }
  }
}

void GpuDevice::ForgetShader(uint64_t serial) {
  for (auto it = m_programs.begin(); it != m_programs.end();) {
    if (it->second.vs == serial || it->second.ps == serial) {
      if (m_context && m_context->m_program == &it->second) {
        m_context->m_program = nullptr;
        m_context->m_appliedProgram = 0;
        m_context->m_dirty |= GpuContext::kDirtyProgram;
      }
      if (it->second.name) glDeleteProgram(it->second.name);
      it = m_programs.erase(it);
    } else {
      ++it;
    }
  }
}

// ---- test hooks ----------------------------------------------------------------------------

GpuResult GpuDevice::ReadTexels(GpuTexture* texture, uint32_t subresource, std::vector<uint8_t>* out) {
  if (!texture || !out) return kGpuInvalidArg;
  const GpuTextureShape& s = texture->m_shape;
  if (subresource >= s.mipLevels * s.arraySize) return kGpuInvalidArg;
  uint32_t mip = subresource % s.mipLevels, layer = subresource / s.mipLevels;
  uint32_t w = std::max(1u, s.width >> mip), h = std::max(1u, s.height >> mip), d = std::max(1u, s.depth >> mip);
  const GlFormatInfo& info = *texture->m_info;
  uint32_t rowBytes, rows;
  GlSurfaceInfo(info, w, h, &rowBytes, &rows);
  m_context->ResolveClears(texture);
  out->assign(size_t(rowBytes) * rows * d, 0);
  // The item is the second coordinate of a 1D array and the third of layered 2D kinds.
  const GLint y = texture->m_target == GL_TEXTURE_1D_ARRAY ? GLint(layer) : 0;
  const GLint z = LayeredIn3D(texture->m_target) ? GLint(layer) : 0;
  m_gl->Ensure();
  GLsizei bytes = GLsizei(out->size());
  if (info.flags & GlFormat_Compressed)
    glGetCompressedTextureSubImage(texture->m_name, mip, 0, y, z, w, h, d, bytes, out->data());
  else
    glGetTextureSubImage(texture->m_name, mip, 0, y, z, w, h, d, info.uploadFormat, info.uploadType, bytes,
                         out->data());
  if (info.format == GpuFormat_D24_UNorm_S8_UInt) RotateDepthStencil(out->data(), out->size(), false);
  return glGetError() == GL_NO_ERROR ? kGpuOk : kGpuFail;
}

GpuResult GpuDevice::ReadBuffer(GpuBuffer* buffer, std::vector<uint8_t>* out) {
  if (!buffer || !out || buffer->m_mapped) return kGpuInvalidArg;
  out->assign(buffer->m_desc.byteWidth, 0);
  m_gl->Ensure();
  glGetNamedBufferSubData(buffer->m_name, 0, GLsizeiptr(out->size()), out->data());
  return kGpuOk;
}

}  // namespace Platform
