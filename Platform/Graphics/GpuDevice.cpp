// Device creation, object creation, the program and framebuffer caches, texture transfers.
#include "Platform/Graphics/GpuDevice.h"

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

uint32_t MipCount(uint32_t w, uint32_t h) {
  uint32_t n = 1;
  for (uint32_t m = std::max(w, h); m > 1; m >>= 1) ++n;
  return n;
}

GlEnum TargetFor(GpuViewDimension d) {
  switch (d) {
    case GpuViewDimension::Texture2DArray: return GL_TEXTURE_2D_ARRAY;
    case GpuViewDimension::TextureCube: return GL_TEXTURE_CUBE_MAP;
    case GpuViewDimension::TextureCubeArray: return GL_TEXTURE_CUBE_MAP_ARRAY;
    default: return GL_TEXTURE_2D;
  }
}

GpuViewDimension NaturalDimension(const GpuTexture2DDesc& d) {
  if (d.miscFlags & GpuMisc_TextureCube)
    return d.arraySize == 6 ? GpuViewDimension::TextureCube : GpuViewDimension::TextureCubeArray;
  return d.arraySize > 1 ? GpuViewDimension::Texture2DArray : GpuViewDimension::Texture2D;
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

GpuObject::GpuObject(GpuDeviceLink* link) : serial_(g_nextSerial.fetch_add(1)), link_(link) {
  link_->AddRef();
}

GpuObject::~GpuObject() { link_->Release(); }

GpuBuffer::~GpuBuffer() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    if (mapped_) glUnmapNamedBuffer(name_);
    glDeleteBuffers(1, &name_);
  }
}

GpuTexture2D::~GpuTexture2D() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    glDeleteTextures(1, &name_);
  }
}

void GpuShaderResourceView::GetResource(GpuResource** out) const {
  *out = texture_.Get();
  if (*out) (*out)->AddRef();
}

GpuShaderResourceView::~GpuShaderResourceView() {
  if (GpuDevice* d = LiveDevice(); d && ownsName_) {
    d->Gl().Ensure();
    glDeleteTextures(1, &name_);
  }
}

void GpuRenderTargetView::GetResource(GpuResource** out) const {
  *out = texture_.Get();
  if (*out) (*out)->AddRef();
}

GpuRenderTargetView::~GpuRenderTargetView() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    d->ForgetView(Serial());
    if (clearFbo_) glDeleteFramebuffers(1, &clearFbo_);
  }
}

void GpuDepthStencilView::GetResource(GpuResource** out) const {
  *out = texture_.Get();
  if (*out) (*out)->AddRef();
}

GpuDepthStencilView::~GpuDepthStencilView() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    d->ForgetView(Serial());
    if (clearFbo_) glDeleteFramebuffers(1, &clearFbo_);
  }
}

GpuShader::~GpuShader() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    d->ForgetShader(Serial());
    glDeleteShader(name_);
  }
}

GpuInputLayout::~GpuInputLayout() {
  if (GpuDevice* d = LiveDevice()) {
    d->Gl().Ensure();
    glDeleteVertexArrays(1, &vao_);
  }
}

GpuSamplerState::~GpuSamplerState() {
  if (GpuDevice* d = LiveDevice(); d && name_) {
    d->Gl().Ensure();
    glDeleteSamplers(1, &name_);
  }
}

// ---- device life ---------------------------------------------------------------------------

GpuResult CreateGpuDevice(GpuDriverType type, const GpuFeatureLevel* levels, uint32_t levelCount,
                          GpuDevice** device, GpuFeatureLevel* achieved, GpuContext** context) {
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
    *context = created->context_.get();
  }
  if (device)
    *device = created;
  else
    created->Release();
  return kGpuOk;
}

bool GpuDevice::Init(GlContext* gl, GpuFeatureLevel level) {
  gl_ = gl;
  level_ = level;
  link_ = new GpuDeviceLink;
  link_->device = this;
  gl_->Ensure();
  hasPolygonOffsetClamp_ = epoxy_has_gl_extension("GL_ARB_polygon_offset_clamp") ||
                           epoxy_has_gl_extension("GL_EXT_polygon_offset_clamp");

  // What unbound shader-resource slots sample: zero in every channel.
  const uint8_t zeros[4 * 6] = {};
  const GlEnum targets[4] = {GL_TEXTURE_2D, GL_TEXTURE_2D_ARRAY, GL_TEXTURE_CUBE_MAP, GL_TEXTURE_CUBE_MAP_ARRAY};
  for (int i = 0; i < 4; ++i) {
    glCreateTextures(targets[i], 1, &zeroTextures_[i]);
    if (i == 0) {
      glTextureStorage2D(zeroTextures_[i], 1, GL_RGBA8, 1, 1);
      glTextureSubImage2D(zeroTextures_[i], 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, zeros);
    } else if (i == 2) {
      glTextureStorage2D(zeroTextures_[i], 1, GL_RGBA8, 1, 1);
      glTextureSubImage3D(zeroTextures_[i], 0, 0, 0, 0, 1, 1, 6, GL_RGBA, GL_UNSIGNED_BYTE, zeros);
    } else {
      GLsizei layers = i == 1 ? 1 : 6;
      glTextureStorage3D(zeroTextures_[i], 1, GL_RGBA8, 1, 1, layers);
      glTextureSubImage3D(zeroTextures_[i], 0, 0, 0, 0, 1, 1, layers, GL_RGBA, GL_UNSIGNED_BYTE, zeros);
    }
  }
  glCreateBuffers(1, &zeroBuffer_);
  const uint8_t zeroVertex[64] = {};
  glNamedBufferData(zeroBuffer_, sizeof zeroVertex, zeroVertex, GL_STATIC_DRAW);

  context_.reset(new GpuContext(this));
  context_->InitGlState();

  auto* empty = new GpuInputLayout(link_);
  glCreateVertexArrays(1, &empty->vao_);
  emptyLayout_.Attach(empty);

  GpuSamplerState* sampler = nullptr;
  CreateSamplerState(GpuSamplerDesc{}, &sampler);
  defaultSampler_ = context_->SamplerName(sampler);
  sampler->name_ = 0;  // the device keeps the GL object for itself
  sampler->Release();
  return glGetError() == GL_NO_ERROR;
}

uint32_t GpuDevice::Release() {
  uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

GpuDevice::~GpuDevice() {
  if (gl_) gl_->Ensure();
  emptyLayout_.Reset();
  context_.reset();  // releases every bound object while GL is still usable
  if (gl_) {
    for (auto& [key, program] : programs_)
      if (program.name) glDeleteProgram(program.name);
    for (auto& [key, fbo] : framebuffers_) glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(4, zeroTextures_);
    glDeleteBuffers(1, &zeroBuffer_);
    glDeleteSamplers(1, &defaultSampler_);
  }
  if (link_) {
    link_->device = nullptr;  // objects still held elsewhere no longer touch GL
    link_->Release();
  }
  delete gl_;
}

void GpuDevice::GetImmediateContext(GpuContext** out) {
  AddRef();
  *out = context_.get();
}

// ---- object creation -----------------------------------------------------------------------

GpuResult GpuDevice::CreateBuffer(const GpuBufferDesc& desc, const GpuSubresourceData* init,
                                  GpuBuffer** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (desc.byteWidth == 0) return kGpuInvalidArg;
  if (desc.usage == GpuUsage::Dynamic && !(desc.cpuAccessFlags & GpuCpuAccess_Write)) return kGpuInvalidArg;
  if (desc.usage == GpuUsage::Immutable && (!init || !init->sysMem)) return kGpuInvalidArg;
  gl_->Ensure();
  auto* buffer = new GpuBuffer(link_, desc);
  glCreateBuffers(1, &buffer->name_);
  GLenum usage = desc.usage == GpuUsage::Dynamic   ? GL_DYNAMIC_DRAW
                 : desc.usage == GpuUsage::Staging ? GL_STREAM_READ
                                                   : GL_STATIC_DRAW;
  glNamedBufferData(buffer->name_, desc.byteWidth, init ? init->sysMem : nullptr, usage);
  if (glGetError() != GL_NO_ERROR) {
    buffer->Release();
    return kGpuOutOfMemory;
  }
  *out = buffer;
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
  if ((desc.bindFlags & GpuBind_RenderTarget) && !(info->flags & GlFormat_Renderable)) return kGpuInvalidArg;
  if ((desc.bindFlags & GpuBind_DepthStencil) && !(info->flags & GlFormat_Depth)) return kGpuInvalidArg;
  if (desc.usage == GpuUsage::Immutable && !init) return kGpuInvalidArg;
  uint32_t full = MipCount(desc.width, desc.height);
  desc.mipLevels = desc.mipLevels == 0 ? full : desc.mipLevels;
  if (desc.mipLevels > full) return kGpuInvalidArg;

  gl_->Ensure();
  auto* texture = new GpuTexture2D(link_, desc);
  texture->info_ = info;
  texture->target_ = TargetFor(NaturalDimension(desc));
  glCreateTextures(texture->target_, 1, &texture->name_);
  if (texture->target_ == GL_TEXTURE_2D || texture->target_ == GL_TEXTURE_CUBE_MAP)
    glTextureStorage2D(texture->name_, desc.mipLevels, info->internalFormat, desc.width, desc.height);
  else
    glTextureStorage3D(texture->name_, desc.mipLevels, info->internalFormat, desc.width, desc.height,
                       desc.arraySize);
  if (glGetError() != GL_NO_ERROR) {
    texture->Release();
    return kGpuOutOfMemory;
  }
  SetSwizzle(texture->name_, *info);
  if (init) {
    for (uint32_t slice = 0; slice < desc.arraySize; ++slice) {
      for (uint32_t mip = 0; mip < desc.mipLevels; ++mip) {
        const GpuSubresourceData& data = init[slice * desc.mipLevels + mip];
        if (!data.sysMem) continue;
        UploadTexture(texture, mip, slice, 0, 0, std::max(1u, desc.width >> mip),
                      std::max(1u, desc.height >> mip), data.sysMem, data.sysMemPitch);
      }
    }
  }
  *out = texture;
  return kGpuOk;
}

void GpuDevice::UploadTexture(GpuTexture2D* texture, uint32_t mip, uint32_t layer, uint32_t x,
                              uint32_t y, uint32_t w, uint32_t h, const void* data, uint32_t rowPitch) {
  const GlFormatInfo& info = *texture->info_;
  uint32_t rowBytes, rows;
  GlSurfaceInfo(info, w, h, &rowBytes, &rows);
  const uint8_t* src = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> packed;
  bool depthStencil = info.format == GpuFormat_D24_UNorm_S8_UInt;
  if ((rowPitch && rowPitch != rowBytes) || depthStencil) {
    uint32_t pitch = rowPitch ? rowPitch : rowBytes;
    packed.resize(size_t(rowBytes) * rows);
    for (uint32_t r = 0; r < rows; ++r) std::memcpy(&packed[size_t(r) * rowBytes], src + size_t(r) * pitch, rowBytes);
    if (depthStencil) RotateDepthStencil(packed.data(), packed.size(), true);
    src = packed.data();
  }
  gl_->Ensure();
  bool flat = texture->target_ == GL_TEXTURE_2D;
  if (info.flags & GlFormat_Compressed) {
    GLsizei bytes = GLsizei(rowBytes * rows);
    if (flat)
      glCompressedTextureSubImage2D(texture->name_, mip, x, y, w, h, info.internalFormat, bytes, src);
    else
      glCompressedTextureSubImage3D(texture->name_, mip, x, y, layer, w, h, 1, info.internalFormat, bytes, src);
  } else if (flat) {
    glTextureSubImage2D(texture->name_, mip, x, y, w, h, info.uploadFormat, info.uploadType, src);
  } else {
    glTextureSubImage3D(texture->name_, mip, x, y, layer, w, h, 1, info.uploadFormat, info.uploadType, src);
  }
}

GpuResult GpuDevice::CreateShaderResourceView(GpuResource* resource, const GpuShaderResourceViewDesc* descIn,
                                              GpuShaderResourceView** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (!resource || resource->Kind() != GpuResourceKind::Texture2D) return kGpuInvalidArg;
  auto* texture = static_cast<GpuTexture2D*>(resource);
  const GpuTexture2DDesc& td = texture->desc_;
  if (!(td.bindFlags & GpuBind_ShaderResource)) return kGpuInvalidArg;

  GpuShaderResourceViewDesc desc;
  if (descIn) {
    desc = *descIn;
  } else {
    desc.dimension = NaturalDimension(td);
    desc.arraySize = desc.dimension == GpuViewDimension::TextureCubeArray ? td.arraySize / 6 : td.arraySize;
  }
  if (desc.format == GpuFormat_Unknown) desc.format = td.format;
  if (desc.mipLevels == 0xffffffffu && desc.mostDetailedMip < td.mipLevels)
    desc.mipLevels = td.mipLevels - desc.mostDetailedMip;
  uint32_t layers = desc.dimension == GpuViewDimension::Texture2D          ? 1
                    : desc.dimension == GpuViewDimension::TextureCube      ? 6
                    : desc.dimension == GpuViewDimension::TextureCubeArray ? desc.arraySize * 6
                                                                           : desc.arraySize;
  const GlFormatInfo* info = FindGlFormat(desc.format);
  if (!info || desc.mipLevels == 0 || desc.mostDetailedMip + desc.mipLevels > td.mipLevels ||
      layers == 0 || desc.firstArraySlice + layers > td.arraySize ||
      desc.dimension == GpuViewDimension::Unknown)
    return kGpuInvalidArg;

  gl_->Ensure();
  auto* view = new GpuShaderResourceView(link_);
  view->texture_ = texture;
  view->desc_ = desc;
  view->target_ = TargetFor(desc.dimension);
  bool whole = view->target_ == texture->target_ && desc.mostDetailedMip == 0 &&
               desc.mipLevels == td.mipLevels && desc.firstArraySlice == 0 && layers == td.arraySize &&
               info->internalFormat == texture->info_->internalFormat &&
               (info->flags & (GlFormat_AlphaOnly | GlFormat_OpaqueAlpha)) ==
                   (texture->info_->flags & (GlFormat_AlphaOnly | GlFormat_OpaqueAlpha));
  if (whole) {
    view->name_ = texture->name_;
  } else {
    glGenTextures(1, &view->name_);
    view->ownsName_ = true;
    glTextureView(view->name_, view->target_, texture->name_, info->internalFormat, desc.mostDetailedMip,
                  desc.mipLevels, desc.firstArraySlice, layers);
    if (glGetError() != GL_NO_ERROR) {
      view->Release();
      return kGpuInvalidArg;
    }
    SetSwizzle(view->name_, *info);
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
  if (!(texture->desc_.bindFlags & GpuBind_RenderTarget)) return kGpuInvalidArg;
  GpuRenderTargetViewDesc d = desc ? *desc : GpuRenderTargetViewDesc{};
  if (d.format == GpuFormat_Unknown) d.format = texture->desc_.format;
  if (d.mipSlice >= texture->desc_.mipLevels || d.firstArraySlice >= texture->desc_.arraySize)
    return kGpuInvalidArg;
  auto* view = new GpuRenderTargetView(link_);
  view->texture_ = texture;
  view->desc_ = d;
  *out = view;
  return kGpuOk;
}

GpuResult GpuDevice::CreateDepthStencilView(GpuResource* resource, const GpuDepthStencilViewDesc* desc,
                                            GpuDepthStencilView** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (!resource || resource->Kind() != GpuResourceKind::Texture2D) return kGpuInvalidArg;
  auto* texture = static_cast<GpuTexture2D*>(resource);
  if (!(texture->desc_.bindFlags & GpuBind_DepthStencil)) return kGpuInvalidArg;
  GpuDepthStencilViewDesc d = desc ? *desc : GpuDepthStencilViewDesc{};
  if (d.format == GpuFormat_Unknown) d.format = texture->desc_.format;
  if (d.mipSlice >= texture->desc_.mipLevels || d.firstArraySlice >= texture->desc_.arraySize)
    return kGpuInvalidArg;
  auto* view = new GpuDepthStencilView(link_);
  view->texture_ = texture;
  view->desc_ = d;
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
  gl_->Ensure();
  GlName name = CompileShader(GpuShaderStage::Vertex, container.source);
  if (!name) return kGpuInvalidArg;
  auto* shader = new GpuVertexShader(link_);
  shader->name_ = name;
  shader->inputs_ = std::move(container.inputs);
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
  gl_->Ensure();
  GlName name = CompileShader(GpuShaderStage::Pixel, container.source);
  if (!name) return kGpuInvalidArg;
  auto* shader = new GpuPixelShader(link_);
  shader->name_ = name;
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
  gl_->Ensure();
  auto* layout = new GpuInputLayout(link_);
  glCreateVertexArrays(1, &layout->vao_);
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
    if (info->flags & GlFormat_Integer)
      glVertexArrayAttribIFormat(layout->vao_, location, info->vertexSize, info->vertexType, offset);
    else
      glVertexArrayAttribFormat(layout->vao_, location, info->vertexSize, info->vertexType,
                                info->vertexNormalized, offset);
    glVertexArrayAttribBinding(layout->vao_, location, e.inputSlot);
    glEnableVertexArrayAttrib(layout->vao_, location);
    // A per-instance step rate of 0 repeats the first element for every instance.
    GLuint divisor = e.inputSlotClass == GpuInputClass::PerInstance
                         ? (e.instanceDataStepRate ? e.instanceDataStepRate : 0xffffffffu)
                         : 0;
    glVertexArrayBindingDivisor(layout->vao_, e.inputSlot, divisor);
    layout->slotMask_ |= 1u << e.inputSlot;
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
  *out = new GpuBlendState(link_, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateRasterizerState(const GpuRasterizerDesc& desc, GpuRasterizerState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  *out = new GpuRasterizerState(link_, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateDepthStencilState(const GpuDepthStencilDesc& desc, GpuDepthStencilState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  *out = new GpuDepthStencilState(link_, desc);
  return kGpuOk;
}

GpuResult GpuDevice::CreateSamplerState(const GpuSamplerDesc& desc, GpuSamplerState** out) {
  if (!out) return kGpuInvalidArg;
  *out = nullptr;
  if (GetGpuTestHooks().failStateObjects) return kGpuOutOfMemory;
  GpuSamplerDesc d = desc;
  d.maxAnisotropy = std::clamp(d.maxAnisotropy, 1u, 16u);
  *out = new GpuSamplerState(link_, d);
  return kGpuOk;
}

GpuResult GpuDevice::CreateSwapChain(const GpuSwapChainDesc& descIn, GpuSwapChain** out) {
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
  if (window && !gl_->MakeCurrentOn(window)) {
    GpuMessage(true, "swap chain: %s", SDL_GetError());
    return kGpuFail;
  }
  auto* chain = new GpuSwapChain(link_, desc);
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
  auto [it, inserted] = programs_.try_emplace({vs->Serial(), ps ? ps->Serial() : 0});
  if (inserted) LinkProgram(it->second, vs, ps);
  return &it->second;
}

void GpuDevice::LinkProgram(Program& p, GpuShader* vs, GpuShader* ps) {
  ++stats_.programLinks;
  p.serial = g_nextSerial.fetch_add(1);
  p.vs = vs->Serial();
  p.ps = ps ? ps->Serial() : 0;
  GlName program = glCreateProgram();
  glAttachShader(program, vs->name_);
  if (ps) glAttachShader(program, ps->name_);
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
                      : (texture->info_->flags & GlFormat_Stencil) ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                   : GL_DEPTH_ATTACHMENT;
  if (texture->target_ == GL_TEXTURE_2D)
    glNamedFramebufferTexture(fbo, attachment, texture->name_, mip);
  else
    glNamedFramebufferTextureLayer(fbo, attachment, texture->name_, mip, layer);
  glNamedFramebufferDrawBuffer(fbo, depth ? GL_NONE : GL_COLOR_ATTACHMENT0);
  return fbo;
}

GlName GpuDevice::FindFramebuffer(const FramebufferKey& key, GpuRenderTargetView* const* rtvs,
                                  GpuDepthStencilView* dsv) {
  if (auto it = framebuffers_.find(key); it != framebuffers_.end()) return it->second;
  GlName fbo = 0;
  glCreateFramebuffers(1, &fbo);
  GLenum buffers[kGpuRenderTargets];
  GLsizei used = 0;  // draw buffers past the last target would cost the driver per draw
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) {
    buffers[i] = GL_NONE;
    if (GpuRenderTargetView* v = rtvs[i]) {
      used = GLsizei(i + 1);
      GpuTexture2D* t = v->texture_.Get();
      if (t->target_ == GL_TEXTURE_2D)
        glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0 + i, t->name_, v->desc_.mipSlice);
      else
        glNamedFramebufferTextureLayer(fbo, GL_COLOR_ATTACHMENT0 + i, t->name_, v->desc_.mipSlice,
                                       v->desc_.firstArraySlice);
      buffers[i] = GL_COLOR_ATTACHMENT0 + i;
    }
  }
  if (used)
    glNamedFramebufferDrawBuffers(fbo, used, buffers);
  else
    glNamedFramebufferDrawBuffer(fbo, GL_NONE);
  if (dsv) {
    GpuTexture2D* t = dsv->texture_.Get();
    GLenum attachment = (t->info_->flags & GlFormat_Stencil) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
    if (t->target_ == GL_TEXTURE_2D)
      glNamedFramebufferTexture(fbo, attachment, t->name_, dsv->desc_.mipSlice);
    else
      glNamedFramebufferTextureLayer(fbo, attachment, t->name_, dsv->desc_.mipSlice, dsv->desc_.firstArraySlice);
  }
  GLenum status = glCheckNamedFramebufferStatus(fbo, GL_DRAW_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) GpuMessage(true, "render targets cannot be bound together (0x%x)", status);
  framebuffers_.emplace(key, fbo);
  return fbo;
}

void GpuDevice::ForgetView(uint64_t serial) {
  for (auto it = framebuffers_.begin(); it != framebuffers_.end();) {
    if (std::find(it->first.begin(), it->first.end(), serial) != it->first.end()) {
      if (context_ && context_->appliedFramebuffer_ == it->second) context_->ForgetFramebufferBinding();
      glDeleteFramebuffers(1, &it->second);
      it = framebuffers_.erase(it);
    } else {
      ++it;
    }
  }
}

void GpuDevice::ForgetShader(uint64_t serial) {
  for (auto it = programs_.begin(); it != programs_.end();) {
    if (it->second.vs == serial || it->second.ps == serial) {
      if (context_ && context_->program_ == &it->second) {
        context_->program_ = nullptr;
        context_->appliedProgram_ = 0;
        context_->dirty_ |= GpuContext::kDirtyProgram;
      }
      if (it->second.name) glDeleteProgram(it->second.name);
      it = programs_.erase(it);
    } else {
      ++it;
    }
  }
}

// ---- test hooks ----------------------------------------------------------------------------

GpuResult GpuDevice::ReadTexels(GpuTexture2D* texture, uint32_t subresource, std::vector<uint8_t>* out) {
  if (!texture || !out) return kGpuInvalidArg;
  const GpuTexture2DDesc& d = texture->desc_;
  if (subresource >= d.mipLevels * d.arraySize) return kGpuInvalidArg;
  uint32_t mip = subresource % d.mipLevels, layer = subresource / d.mipLevels;
  uint32_t w = std::max(1u, d.width >> mip), h = std::max(1u, d.height >> mip);
  const GlFormatInfo& info = *texture->info_;
  uint32_t rowBytes, rows;
  GlSurfaceInfo(info, w, h, &rowBytes, &rows);
  out->assign(size_t(rowBytes) * rows, 0);
  gl_->Ensure();
  GLsizei bytes = GLsizei(out->size());
  if (info.flags & GlFormat_Compressed)
    glGetCompressedTextureSubImage(texture->name_, mip, 0, 0, layer, w, h, 1, bytes, out->data());
  else
    glGetTextureSubImage(texture->name_, mip, 0, 0, layer, w, h, 1, info.uploadFormat, info.uploadType,
                         bytes, out->data());
  if (info.format == GpuFormat_D24_UNorm_S8_UInt) RotateDepthStencil(out->data(), out->size(), false);
  return glGetError() == GL_NO_ERROR ? kGpuOk : kGpuFail;
}

GpuResult GpuDevice::ReadBuffer(GpuBuffer* buffer, std::vector<uint8_t>* out) {
  if (!buffer || !out || buffer->mapped_) return kGpuInvalidArg;
  out->assign(buffer->desc_.byteWidth, 0);
  gl_->Ensure();
  glGetNamedBufferSubData(buffer->name_, 0, GLsizeiptr(out->size()), out->data());
  return kGpuOk;
}

}  // namespace Platform
