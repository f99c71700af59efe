// Binding bookkeeping and its translation into GL state, applied lazily and only where changed.
#include "Platform/Graphics/GpuContext.h"

#include "Platform/Graphics/GlContext.h"
#include "Platform/Graphics/GlFormats.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

namespace Platform {

namespace {

const GpuBlendDesc kDefaultBlend{};
const GpuDepthStencilDesc kDefaultDepth{};
const GpuRasterizerDesc kDefaultRaster{};

// The upper-left clip origin also mirrors GL's facing rule, so the winding the caller sees on
// screen is the one GL is told.
GLenum FrontFace(bool counterClockwise) { return counterClockwise ? GL_CCW : GL_CW; }

GLenum BlendFactor(GpuBlend b) {
  static const GLenum k[] = {
      GL_ZERO, GL_ONE, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
      GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA, GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA_SATURATE,
      GL_CONSTANT_COLOR, GL_ONE_MINUS_CONSTANT_COLOR, GL_SRC1_COLOR, GL_ONE_MINUS_SRC1_COLOR,
      GL_SRC1_ALPHA, GL_ONE_MINUS_SRC1_ALPHA};
  return k[uint32_t(b)];
}

GLenum BlendOp(GpuBlendOp op) {
  static const GLenum k[] = {GL_FUNC_ADD, GL_FUNC_SUBTRACT, GL_FUNC_REVERSE_SUBTRACT, GL_MIN, GL_MAX};
  return k[uint32_t(op)];
}

GLenum Compare(GpuComparison c) {
  static const GLenum k[] = {GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL, GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  return k[uint32_t(c)];
}

GLenum StencilOp(GpuStencilOp op) {
  static const GLenum k[] = {GL_KEEP, GL_ZERO, GL_REPLACE, GL_INCR, GL_DECR, GL_INVERT, GL_INCR_WRAP, GL_DECR_WRAP};
  return k[uint32_t(op)];
}

GLenum AddressMode(GpuAddressMode m) {
  static const GLenum k[] = {GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_BORDER,
                             GL_MIRROR_CLAMP_TO_EDGE};
  return k[uint32_t(m)];
}

GLenum DrawMode(GpuTopology t) {
  static const GLenum k[] = {0, GL_POINTS, GL_LINES, GL_LINE_STRIP, GL_TRIANGLES, GL_TRIANGLE_STRIP};
  return k[uint32_t(t)];
}

bool SameFunction(const GpuRenderTargetBlendDesc& a, const GpuRenderTargetBlendDesc& b) {
  return a.srcBlend == b.srcBlend && a.destBlend == b.destBlend && a.blendOp == b.blendOp &&
         a.srcBlendAlpha == b.srcBlendAlpha && a.destBlendAlpha == b.destBlendAlpha &&
         a.blendOpAlpha == b.blendOpAlpha;
}

void CopyFunction(GpuRenderTargetBlendDesc& to, const GpuRenderTargetBlendDesc& from) {
  to.srcBlend = from.srcBlend;
  to.destBlend = from.destBlend;
  to.blendOp = from.blendOp;
  to.srcBlendAlpha = from.srcBlendAlpha;
  to.destBlendAlpha = from.destBlendAlpha;
  to.blendOpAlpha = from.blendOpAlpha;
}

bool SameFace(const GpuStencilOpDesc& a, const GpuStencilOpDesc& b) {
  return a.stencilFailOp == b.stencilFailOp && a.stencilDepthFailOp == b.stencilDepthFailOp &&
         a.stencilPassOp == b.stencilPassOp && a.stencilFunc == b.stencilFunc;
}

void Toggle(GLenum cap, bool on) { on ? glEnable(cap) : glDisable(cap); }

}  // namespace

GpuContext::GpuContext(GpuDevice* device) : device_(device) {}

GpuContext::~GpuContext() = default;

void GpuContext::InitGlState() {
  glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
  glEnable(GL_FRAMEBUFFER_SRGB);
  glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
  glEnable(GL_PRIMITIVE_RESTART_FIXED_INDEX);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // GL now matches the applied-state records, which start at the layer's defaults.
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glStencilFuncSeparate(GL_FRONT_AND_BACK, GL_ALWAYS, 0, 0xff);
  glStencilMask(0xff);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glFrontFace(FrontFace(false));
  glBlendColor(0, 0, 0, 0);
  appliedBlendFactor_[0] = appliedBlendFactor_[1] = appliedBlendFactor_[2] = appliedBlendFactor_[3] = 0;
  appliedStencilRef_ = 0;
  appliedDepthState_ = nullptr;
  appliedRasterState_ = nullptr;
  appliedBlendState_ = nullptr;
  appliedBlendHasPixelShader_ = true;
}

void GpuContext::GetDevice(GpuDevice** out) {
  device_->AddRef();
  *out = device_;
}

// ---- bindings ------------------------------------------------------------------------------

void GpuContext::SetInputLayout(GpuInputLayout* layout) {
  layout_ = layout;
  dirty_ |= kDirtyInput;
}

void GpuContext::SetVertexBuffers(uint32_t startSlot, uint32_t count, GpuBuffer* const* buffers,
                                  const uint32_t* strides, const uint32_t* offsets) {
  for (uint32_t i = 0; i < count && startSlot + i < kGpuVertexSlots; ++i) {
    uint32_t s = startSlot + i;
    vertexBuffers_[s] = buffers ? buffers[i] : nullptr;
    strides_[s] = strides ? strides[i] : 0;
    offsets_[s] = offsets ? offsets[i] : 0;
  }
  dirty_ |= kDirtyInput;
}

void GpuContext::SetIndexBuffer(GpuBuffer* buffer, GpuFormat format, uint32_t offset) {
  indexBuffer_ = buffer;
  bool shorts = format == GpuFormat_R16_UInt;
  indexType_ = shorts ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
  indexSize_ = shorts ? 2 : 4;
  indexOffset_ = offset;
  dirty_ |= kDirtyInput;
}

void GpuContext::SetVertexShader(GpuVertexShader* shader) {
  if (shader == vertexShader_.Get()) return;
  vertexShader_ = shader;
  dirty_ |= kDirtyProgram;
}

void GpuContext::SetPixelShader(GpuPixelShader* shader) {
  if (shader == pixelShader_.Get()) return;
  pixelShader_ = shader;
  dirty_ |= kDirtyProgram;
}

void GpuContext::SetConstantBuffers(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                                    GpuBuffer* const* buffers) {
  uint32_t st = uint32_t(stage);
  for (uint32_t i = 0; i < count && startSlot + i < kGpuConstantSlots; ++i) {
    uint32_t s = startSlot + i;
    GpuBuffer* b = buffers ? buffers[i] : nullptr;
    if (constants_[st][s].Get() == b) continue;  // rebinding per draw is common and free
    constants_[st][s] = b;
    dirtyConstants_ |= 1u << (st * kGpuConstantSlots + s);
    dirty_ |= kDirtyConstants;
  }
}

void GpuContext::SetShaderResources(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                                    GpuShaderResourceView* const* views) {
  uint32_t st = uint32_t(stage);
  for (uint32_t i = 0; i < count && startSlot + i < kGpuResourceSlots; ++i)
    resources_[st][startSlot + i] = views ? views[i] : nullptr;
  dirty_ |= kDirtyTextures;
}

void GpuContext::GetShaderResources(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                                    GpuShaderResourceView** views) const {
  for (uint32_t i = 0; i < count; ++i) {
    GpuShaderResourceView* view =
        startSlot + i < kGpuResourceSlots ? resources_[uint32_t(stage)][startSlot + i].Get() : nullptr;
    if (view) view->AddRef();
    views[i] = view;
  }
}

void GpuContext::SetSamplers(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                             GpuSamplerState* const* samplers) {
  uint32_t st = uint32_t(stage);
  for (uint32_t i = 0; i < count && startSlot + i < kGpuSamplerSlots; ++i)
    samplers_[st][startSlot + i] = samplers ? samplers[i] : nullptr;
  dirty_ |= kDirtyTextures;
}

void GpuContext::SetRenderTargets(uint32_t count, GpuRenderTargetView* const* views, GpuDepthStencilView* depth) {
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) targets_[i] = (views && i < count) ? views[i] : nullptr;
  depthTarget_ = depth;
  dirty_ |= kDirtyTargets;
}

void GpuContext::GetRenderTargets(uint32_t count, GpuRenderTargetView** views, GpuDepthStencilView** depth) const {
  for (uint32_t i = 0; views && i < count; ++i) {
    GpuRenderTargetView* view = i < kGpuRenderTargets ? targets_[i].Get() : nullptr;
    if (view) view->AddRef();
    views[i] = view;
  }
  if (depth) {
    *depth = depthTarget_.Get();
    if (*depth) (*depth)->AddRef();
  }
}

void GpuContext::SetBlendState(GpuBlendState* state, const float factor[4], uint32_t) {
  blend_ = state;
  for (int i = 0; i < 4; ++i) blendFactor_[i] = factor ? factor[i] : 1.0f;
  dirty_ |= kDirtyBlend;
}

void GpuContext::SetDepthStencilState(GpuDepthStencilState* state, uint32_t stencilRef) {
  depthStencil_ = state;
  stencilRef_ = stencilRef & 0xff;
  dirty_ |= kDirtyDepth;
}

void GpuContext::SetRasterizerState(GpuRasterizerState* state) {
  rasterizer_ = state;
  dirty_ |= kDirtyRaster;
}

void GpuContext::SetViewports(uint32_t count, const GpuViewport* viewports) {
  viewportCount_ = std::min(count, kGpuViewports);
  for (uint32_t i = 0; i < viewportCount_; ++i) viewports_[i] = viewports[i];
  dirty_ |= kDirtyViewports;
}

void GpuContext::GetViewports(uint32_t* count, GpuViewport* viewports) const {
  if (!count) return;
  if (!viewports) {
    *count = viewportCount_;
    return;
  }
  *count = std::min(*count, viewportCount_);
  for (uint32_t i = 0; i < *count; ++i) viewports[i] = viewports_[i];
}

void GpuContext::SetScissorRects(uint32_t count, const GpuRect* rects) {
  scissorCount_ = std::min(count, kGpuViewports);
  for (uint32_t i = 0; i < scissorCount_; ++i) scissors_[i] = rects[i];
  dirty_ |= kDirtyScissors;
}

void GpuContext::ClearState() {
  layout_.Reset();
  for (uint32_t i = 0; i < kGpuVertexSlots; ++i) {
    vertexBuffers_[i].Reset();
    strides_[i] = offsets_[i] = 0;
  }
  indexBuffer_.Reset();
  topology_ = GpuTopology::Undefined;
  vertexShader_.Reset();
  pixelShader_.Reset();
  for (int st = 0; st < 2; ++st) {
    for (auto& c : constants_[st]) c.Reset();
    for (auto& r : resources_[st]) r.Reset();
    for (auto& s : samplers_[st]) s.Reset();
  }
  for (auto& t : targets_) t.Reset();
  depthTarget_.Reset();
  blend_.Reset();
  blendFactor_[0] = blendFactor_[1] = blendFactor_[2] = blendFactor_[3] = 1;
  depthStencil_.Reset();
  stencilRef_ = 0;
  rasterizer_.Reset();
  viewportCount_ = scissorCount_ = 0;
  dirtyConstants_ = (1u << (2 * kGpuConstantSlots)) - 1;
  dirty_ = kDirtyAll;
}

// ---- applying ------------------------------------------------------------------------------

bool GpuContext::PrepareDraw() {
  if (!vertexShader_ || topology_ == GpuTopology::Undefined) return false;
  if (dirty_) {
    if (dirty_ & kDirtyProgram) ApplyProgram();
    if (!program_ || !program_->valid) return false;
    if (dirty_ & kDirtyInput) ApplyInput();
    if (dirty_ & kDirtyTargets) ApplyTargets();
    if (dirty_ & kDirtyViewports) {
      for (uint32_t i = 0; i < viewportCount_; ++i) {
        const GpuViewport& v = viewports_[i];
        glViewportIndexedf(i, v.topLeftX, v.topLeftY, v.width, v.height);
        glDepthRangeIndexed(i, v.minDepth, v.maxDepth);
      }
    }
    if (dirty_ & kDirtyScissors) {
      for (uint32_t i = 0; i < scissorCount_; ++i) {
        const GpuRect& r = scissors_[i];
        glScissorIndexed(i, r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
      }
    }
    if (dirty_ & kDirtyBlend) ApplyBlend();
    if (dirty_ & kDirtyDepth) ApplyDepthStencil();
    if (dirty_ & kDirtyRaster) ApplyRasterizer();
    if (dirty_ & kDirtyConstants) ApplyConstants();
    if (dirty_ & kDirtyTextures) ApplyTextures();
    dirty_ = 0;
  }
  return program_ && program_->valid;
}

void GpuContext::ApplyProgram() {
  program_ = device_->FindProgram(vertexShader_.Get(), pixelShader_.Get());
  if (program_->valid && program_->serial != appliedProgram_) {
    glUseProgram(program_->name);
    appliedProgram_ = program_->serial;
    dirty_ |= kDirtyTextures;
  }
  // Without a pixel shader nothing reaches the colour targets.
  if (bool(pixelShader_) != appliedBlendHasPixelShader_) dirty_ |= kDirtyBlend;
}

void GpuContext::ApplyInput() {
  GpuInputLayout* layout = layout_ ? layout_.Get() : device_->emptyLayout_.Get();
  if (layout->Serial() != appliedLayout_) {
    glBindVertexArray(layout->vao_);
    appliedLayout_ = layout->Serial();
  }
  for (uint32_t mask = layout->slotMask_; mask; mask &= mask - 1) {
    uint32_t s = uint32_t(__builtin_ctz(mask));
    GpuBuffer* b = vertexBuffers_[s].Get();
    uint64_t serial = b ? b->Serial() : 1;
    if (layout->boundSerial_[s] != serial || layout->boundOffset_[s] != offsets_[s] ||
        layout->boundStride_[s] != strides_[s]) {
      // A slot without a buffer reads zeros, which callers rely on.
      glVertexArrayVertexBuffer(layout->vao_, s, b ? b->name_ : device_->zeroBuffer_, b ? offsets_[s] : 0,
                                b ? strides_[s] : 0);
      layout->boundSerial_[s] = serial;
      layout->boundOffset_[s] = offsets_[s];
      layout->boundStride_[s] = strides_[s];
    }
  }
  uint64_t indexSerial = indexBuffer_ ? indexBuffer_->Serial() : 1;
  if (layout->boundIndexSerial_ != indexSerial) {
    glVertexArrayElementBuffer(layout->vao_, indexBuffer_ ? indexBuffer_->name_ : 0);
    layout->boundIndexSerial_ = indexSerial;
  }
}

void GpuContext::ApplyTargets() {
  GpuDevice::FramebufferKey key;
  bool any = false;
  GpuRenderTargetView* views[kGpuRenderTargets];
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) {
    views[i] = targets_[i].Get();
    key[i] = views[i] ? views[i]->Serial() : 0;
    any |= views[i] != nullptr;
  }
  key[8] = depthTarget_ ? depthTarget_->Serial() : 0;
  any |= bool(depthTarget_);
  if (appliedFramebuffer_ != ~0u && std::equal(key.begin(), key.end(), appliedTargetsKey_)) return;
  GlName fbo = any ? device_->FindFramebuffer(key, views, depthTarget_.Get()) : 0;
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  appliedFramebuffer_ = fbo;
  std::copy(key.begin(), key.end(), appliedTargetsKey_);
}

void GpuContext::ApplyBlend() {
  bool hasPs = bool(pixelShader_);
  if (blend_.Get() == appliedBlendState_ && hasPs == appliedBlendHasPixelShader_ &&
      std::memcmp(blendFactor_, appliedBlendFactor_, sizeof blendFactor_) == 0)
    return;
  ++device_->stats_.stateApplies;
  const GpuBlendDesc& want = blend_ ? blend_->desc_ : kDefaultBlend;
  if (want.alphaToCoverageEnable != appliedBlend_.alphaToCoverageEnable) {
    Toggle(GL_SAMPLE_ALPHA_TO_COVERAGE, want.alphaToCoverageEnable);
    appliedBlend_.alphaToCoverageEnable = want.alphaToCoverageEnable;
  }
  if (!want.independentBlendEnable && appliedBlendUniform_) {
    // One set of calls covers all eight targets.
    const GpuRenderTargetBlendDesc& w = want.renderTarget[0];
    GpuRenderTargetBlendDesc& h = appliedBlend_.renderTarget[0];
    uint8_t mask = hasPs ? w.renderTargetWriteMask : 0;
    if (w.blendEnable) {
      if (!SameFunction(w, h)) {
        glBlendFuncSeparate(BlendFactor(w.srcBlend), BlendFactor(w.destBlend), BlendFactor(w.srcBlendAlpha),
                            BlendFactor(w.destBlendAlpha));
        glBlendEquationSeparate(BlendOp(w.blendOp), BlendOp(w.blendOpAlpha));
        CopyFunction(h, w);
      }
      if (!h.blendEnable) glEnable(GL_BLEND);
    } else if (h.blendEnable) {
      glDisable(GL_BLEND);
    }
    h.blendEnable = w.blendEnable;
    if (mask != h.renderTargetWriteMask) {
      glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
      h.renderTargetWriteMask = mask;
    }
    for (int i = 1; i < 8; ++i) appliedBlend_.renderTarget[i] = h;
  } else {
    for (GLuint i = 0; i < 8; ++i) {
      const GpuRenderTargetBlendDesc& w = want.renderTarget[want.independentBlendEnable ? i : 0];
      GpuRenderTargetBlendDesc& h = appliedBlend_.renderTarget[i];
      uint8_t mask = hasPs ? w.renderTargetWriteMask : 0;
      if (w.blendEnable) {
        if (!SameFunction(w, h)) {
          glBlendFuncSeparatei(i, BlendFactor(w.srcBlend), BlendFactor(w.destBlend),
                               BlendFactor(w.srcBlendAlpha), BlendFactor(w.destBlendAlpha));
          glBlendEquationSeparatei(i, BlendOp(w.blendOp), BlendOp(w.blendOpAlpha));
          CopyFunction(h, w);
        }
        if (!h.blendEnable) glEnablei(GL_BLEND, i);
      } else if (h.blendEnable) {
        glDisablei(GL_BLEND, i);
      }
      h.blendEnable = w.blendEnable;
      if (mask != h.renderTargetWriteMask) {
        glColorMaski(i, mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
        h.renderTargetWriteMask = mask;
      }
    }
    appliedBlendUniform_ = !want.independentBlendEnable;
  }
  if (std::memcmp(blendFactor_, appliedBlendFactor_, sizeof blendFactor_) != 0) {
    glBlendColor(blendFactor_[0], blendFactor_[1], blendFactor_[2], blendFactor_[3]);
    std::memcpy(appliedBlendFactor_, blendFactor_, sizeof blendFactor_);
  }
  appliedBlendState_ = blend_.Get();
  appliedBlendHasPixelShader_ = hasPs;
}

void GpuContext::ApplyDepthStencil() {
  if (depthStencil_.Get() == appliedDepthState_ && stencilRef_ == appliedStencilRef_) return;
  ++device_->stats_.stateApplies;
  const GpuDepthStencilDesc& w = depthStencil_ ? depthStencil_->desc_ : kDefaultDepth;
  GpuDepthStencilDesc& h = appliedDepth_;
  if (w.depthEnable != h.depthEnable) Toggle(GL_DEPTH_TEST, w.depthEnable);
  h.depthEnable = w.depthEnable;
  if (w.depthEnable) {
    if (w.depthFunc != h.depthFunc) glDepthFunc(Compare(w.depthFunc));
    h.depthFunc = w.depthFunc;
    bool write = w.depthWriteMask == GpuDepthWriteMask::All;
    if (write != glDepthWrite_) glDepthMask(write);
    glDepthWrite_ = write;
  }
  if (w.stencilEnable != h.stencilEnable) Toggle(GL_STENCIL_TEST, w.stencilEnable);
  h.stencilEnable = w.stencilEnable;
  if (w.stencilEnable) {
    bool refChanged = stencilRef_ != appliedStencilRef_ || w.stencilReadMask != h.stencilReadMask;
    const GpuStencilOpDesc* faces[2] = {&w.frontFace, &w.backFace};
    GpuStencilOpDesc* have[2] = {&h.frontFace, &h.backFace};
    const GLenum glFaces[2] = {GL_FRONT, GL_BACK};
    for (int f = 0; f < 2; ++f) {
      if (SameFace(*faces[f], *have[f]) && !refChanged) continue;
      glStencilFuncSeparate(glFaces[f], Compare(faces[f]->stencilFunc), GLint(stencilRef_), w.stencilReadMask);
      glStencilOpSeparate(glFaces[f], StencilOp(faces[f]->stencilFailOp), StencilOp(faces[f]->stencilDepthFailOp),
                          StencilOp(faces[f]->stencilPassOp));
      *have[f] = *faces[f];
    }
    h.stencilReadMask = w.stencilReadMask;
    appliedStencilRef_ = stencilRef_;
    if (w.stencilWriteMask != glStencilWrite_) glStencilMask(w.stencilWriteMask);
    glStencilWrite_ = w.stencilWriteMask;
  }
  appliedDepthState_ = depthStencil_.Get();
  if (!w.stencilEnable) appliedStencilRef_ = stencilRef_;
}

void GpuContext::ApplyRasterizer() {
  if (rasterizer_.Get() == appliedRasterState_) return;
  ++device_->stats_.stateApplies;
  const GpuRasterizerDesc& w = rasterizer_ ? rasterizer_->desc_ : kDefaultRaster;
  GpuRasterizerDesc& h = appliedRaster_;
  if (w.fillMode != h.fillMode)
    glPolygonMode(GL_FRONT_AND_BACK, w.fillMode == GpuFillMode::Wireframe ? GL_LINE : GL_FILL);
  if (w.cullMode != h.cullMode) {
    if (w.cullMode == GpuCullMode::None) {
      glDisable(GL_CULL_FACE);
    } else {
      if (h.cullMode == GpuCullMode::None) glEnable(GL_CULL_FACE);
      GLenum face = w.cullMode == GpuCullMode::Front ? GL_FRONT : GL_BACK;
      if (face != glCullFace_) glCullFace(face);
      glCullFace_ = face;
    }
  }
  if (w.frontCounterClockwise != h.frontCounterClockwise) glFrontFace(FrontFace(w.frontCounterClockwise));
  // Without depth clipping the pipeline clamps depth instead.
  if (w.depthClipEnable != h.depthClipEnable) Toggle(GL_DEPTH_CLAMP, !w.depthClipEnable);
  if (w.scissorEnable != h.scissorEnable) Toggle(GL_SCISSOR_TEST, w.scissorEnable);
  if (w.depthBias != h.depthBias || w.slopeScaledDepthBias != h.slopeScaledDepthBias ||
      w.depthBiasClamp != h.depthBiasClamp) {
    bool on = w.depthBias != 0 || w.slopeScaledDepthBias != 0;
    Toggle(GL_POLYGON_OFFSET_FILL, on);
    Toggle(GL_POLYGON_OFFSET_LINE, on);
    if (on && device_->hasPolygonOffsetClamp_)
      glPolygonOffsetClamp(w.slopeScaledDepthBias, float(w.depthBias), w.depthBiasClamp);
    else if (on)
      glPolygonOffset(w.slopeScaledDepthBias, float(w.depthBias));
  }
  h = w;
  appliedRasterState_ = rasterizer_.Get();
}

void GpuContext::ApplyConstants() {
  for (uint32_t mask = dirtyConstants_; mask; mask &= mask - 1) {
    uint32_t binding = uint32_t(__builtin_ctz(mask));
    GpuBuffer* b = constants_[binding / kGpuConstantSlots][binding % kGpuConstantSlots].Get();
    uint64_t serial = b ? b->Serial() : 0;
    if (appliedConstants_[binding] == serial) continue;
    glBindBufferBase(GL_UNIFORM_BUFFER, binding, b ? b->name_ : 0);
    appliedConstants_[binding] = serial;
  }
  dirtyConstants_ = 0;
}

GlName GpuContext::SamplerName(GpuSamplerState* sampler) {
  if (sampler->name_) return sampler->name_;
  const GpuSamplerDesc& d = sampler->desc_;
  GlName s = 0;
  glCreateSamplers(1, &s);
  GLenum minFilter = GL_LINEAR_MIPMAP_LINEAR, magFilter = GL_LINEAR;
  switch (d.filter) {
    case GpuFilter::MinMagMipPoint: case GpuFilter::ComparisonMinMagMipPoint:
      minFilter = GL_NEAREST_MIPMAP_NEAREST; magFilter = GL_NEAREST; break;
    case GpuFilter::MinMagPointMipLinear: minFilter = GL_NEAREST_MIPMAP_LINEAR; magFilter = GL_NEAREST; break;
    case GpuFilter::MinMagLinearMipPoint: minFilter = GL_LINEAR_MIPMAP_NEAREST; break;
    default: break;
  }
  glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
  glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, GLint(magFilter));
  bool anisotropic = d.filter == GpuFilter::Anisotropic || d.filter == GpuFilter::ComparisonAnisotropic;
  glSamplerParameterf(s, GL_TEXTURE_MAX_ANISOTROPY, anisotropic ? float(d.maxAnisotropy) : 1.0f);
  glSamplerParameteri(s, GL_TEXTURE_WRAP_S, GLint(AddressMode(d.addressU)));
  glSamplerParameteri(s, GL_TEXTURE_WRAP_T, GLint(AddressMode(d.addressV)));
  glSamplerParameteri(s, GL_TEXTURE_WRAP_R, GLint(AddressMode(d.addressW)));
  glSamplerParameterf(s, GL_TEXTURE_LOD_BIAS, d.mipLODBias);
  glSamplerParameterf(s, GL_TEXTURE_MIN_LOD, d.minLOD);
  glSamplerParameterf(s, GL_TEXTURE_MAX_LOD, d.maxLOD);
  glSamplerParameterfv(s, GL_TEXTURE_BORDER_COLOR, d.borderColor);
  bool comparison = d.filter >= GpuFilter::ComparisonMinMagMipPoint;
  glSamplerParameteri(s, GL_TEXTURE_COMPARE_MODE, comparison ? GL_COMPARE_REF_TO_TEXTURE : GL_NONE);
  glSamplerParameteri(s, GL_TEXTURE_COMPARE_FUNC, GLint(Compare(d.comparisonFunc)));
  sampler->name_ = s;
  return s;
}

void GpuContext::ApplyTextures() {
  for (const GpuDevice::TextureUse& use : program_->textures) {
    GpuShaderResourceView* view = resources_[use.stage][use.slot].Get();
    GlName name;
    uint64_t serial;
    if (view && view->target_ == use.target) {
      name = view->name_;
      serial = view->Serial();
    } else {
      // Unbound (or of the wrong kind): samples as zero.
      int kind = use.target == GL_TEXTURE_2D ? 0 : use.target == GL_TEXTURE_2D_ARRAY ? 1
                 : use.target == GL_TEXTURE_CUBE_MAP ? 2 : 3;
      name = device_->zeroTextures_[kind];
      serial = uint64_t(kind) + 1;
    }
    if (appliedTextures_[use.unit] != serial) {
      glBindTextureUnit(use.unit, name);
      appliedTextures_[use.unit] = serial;
    }
    GpuSamplerState* sampler = samplers_[use.stage][use.samplerSlot].Get();
    GlName samplerName = sampler ? SamplerName(sampler) : device_->defaultSampler_;
    if (appliedSamplers_[use.unit] != samplerName) {
      glBindSampler(use.unit, samplerName);
      appliedSamplers_[use.unit] = samplerName;
    }
  }
}

// ---- clears, transfers, draws --------------------------------------------------------------

void GpuContext::BeginRawWrite() {
  if (appliedRaster_.scissorEnable) glDisable(GL_SCISSOR_TEST);
  if (appliedBlend_.renderTarget[0].renderTargetWriteMask != GpuColorWrite_All) glColorMaski(0, 1, 1, 1, 1);
  if (!glDepthWrite_) glDepthMask(GL_TRUE);
  if (glStencilWrite_ != 0xff) glStencilMask(0xff);
}

void GpuContext::EndRawWrite() {
  if (appliedRaster_.scissorEnable) glEnable(GL_SCISSOR_TEST);
  uint8_t mask = appliedBlend_.renderTarget[0].renderTargetWriteMask;
  if (mask != GpuColorWrite_All) glColorMaski(0, mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
  if (!glDepthWrite_) glDepthMask(GL_FALSE);
  if (glStencilWrite_ != 0xff) glStencilMask(glStencilWrite_);
}

void GpuContext::ClearRenderTargetView(GpuRenderTargetView* view, const float colour[4]) {
  if (!view || !colour) return;
  device_->Gl().Ensure();
  if (!view->clearFbo_)
    view->clearFbo_ = device_->MakeViewFramebuffer(view->texture_.Get(), view->desc_.mipSlice,
                                                    view->desc_.firstArraySlice, false);
  BeginRawWrite();
  if (view->texture_->info_->flags & GlFormat_Integer) {
    const GLuint v[4] = {GLuint(colour[0]), GLuint(colour[1]), GLuint(colour[2]), GLuint(colour[3])};
    glClearNamedFramebufferuiv(view->clearFbo_, GL_COLOR, 0, v);
  } else {
    glClearNamedFramebufferfv(view->clearFbo_, GL_COLOR, 0, colour);
  }
  EndRawWrite();
  ++device_->stats_.clears;
}

void GpuContext::ClearDepthStencilView(GpuDepthStencilView* view, uint32_t flags, float depth, uint8_t stencil) {
  if (!view || !(flags & (GpuClear_Depth | GpuClear_Stencil))) return;
  device_->Gl().Ensure();
  if (!view->clearFbo_)
    view->clearFbo_ = device_->MakeViewFramebuffer(view->texture_.Get(), view->desc_.mipSlice,
                                                    view->desc_.firstArraySlice, true);
  bool hasStencil = view->texture_->info_->flags & GlFormat_Stencil;
  depth = std::clamp(depth, 0.0f, 1.0f);
  GLint s = stencil;
  BeginRawWrite();
  if ((flags & GpuClear_Depth) && (flags & GpuClear_Stencil) && hasStencil)
    glClearNamedFramebufferfi(view->clearFbo_, GL_DEPTH_STENCIL, 0, depth, s);
  else if (flags & GpuClear_Depth)
    glClearNamedFramebufferfv(view->clearFbo_, GL_DEPTH, 0, &depth);
  else if (hasStencil)
    glClearNamedFramebufferiv(view->clearFbo_, GL_STENCIL, 0, &s);
  EndRawWrite();
  ++device_->stats_.clears;
}

GpuResult GpuContext::Map(GpuResource* resource, uint32_t subresource, GpuMap type, uint32_t,
                          GpuMappedSubresource* mapped) {
  if (!resource || !mapped || subresource != 0 || resource->Kind() != GpuResourceKind::Buffer)
    return kGpuInvalidArg;
  auto* buffer = static_cast<GpuBuffer*>(resource);
  const GpuBufferDesc& d = buffer->desc_;
  GLbitfield access;
  if (type == GpuMap::WriteDiscard || type == GpuMap::WriteNoOverwrite) {
    if (d.usage != GpuUsage::Dynamic || !(d.cpuAccessFlags & GpuCpuAccess_Write)) return kGpuInvalidArg;
    access = GL_MAP_WRITE_BIT |
             (type == GpuMap::WriteDiscard ? GL_MAP_INVALIDATE_BUFFER_BIT : GL_MAP_UNSYNCHRONIZED_BIT);
  } else {
    if (d.usage != GpuUsage::Staging) return kGpuInvalidArg;
    access = (type == GpuMap::Read ? GL_MAP_READ_BIT : 0) | (type == GpuMap::Write ? GL_MAP_WRITE_BIT : 0) |
             (type == GpuMap::ReadWrite ? GL_MAP_READ_BIT | GL_MAP_WRITE_BIT : 0);
  }
  if (buffer->mapped_) return kGpuInvalidCall;
  device_->Gl().Ensure();
  void* data = glMapNamedBufferRange(buffer->name_, 0, d.byteWidth, access);
  if (!data) return kGpuFail;
  buffer->mapped_ = true;
  mapped->data = data;
  mapped->rowPitch = mapped->depthPitch = d.byteWidth;
  ++device_->stats_.maps;
  return kGpuOk;
}

void GpuContext::Unmap(GpuResource* resource, uint32_t) {
  if (!resource || resource->Kind() != GpuResourceKind::Buffer) return;
  auto* buffer = static_cast<GpuBuffer*>(resource);
  if (!buffer->mapped_) return;
  device_->Gl().Ensure();
  glUnmapNamedBuffer(buffer->name_);
  buffer->mapped_ = false;
}

void GpuContext::UpdateSubresource(GpuResource* resource, uint32_t subresource, const GpuBox* box,
                                   const void* data, uint32_t rowPitch, uint32_t) {
  if (!resource || !data) return;
  device_->Gl().Ensure();
  if (resource->Kind() == GpuResourceKind::Buffer) {
    auto* buffer = static_cast<GpuBuffer*>(resource);
    uint32_t begin = box ? box->left : 0;
    uint32_t end = box ? box->right : buffer->desc_.byteWidth;
    if (end > buffer->desc_.byteWidth || begin >= end || buffer->mapped_) return;
    glNamedBufferSubData(buffer->name_, begin, end - begin, data);
    return;
  }
  auto* texture = static_cast<GpuTexture2D*>(resource);
  const GpuTexture2DDesc& d = texture->desc_;
  if (subresource >= d.mipLevels * d.arraySize) return;
  uint32_t mip = subresource % d.mipLevels, layer = subresource / d.mipLevels;
  uint32_t w = std::max(1u, d.width >> mip), h = std::max(1u, d.height >> mip);
  uint32_t x = 0, y = 0;
  if (box) {
    if (box->right > w || box->bottom > h || box->left >= box->right || box->top >= box->bottom) return;
    x = box->left;
    y = box->top;
    w = box->right - box->left;
    h = box->bottom - box->top;
  }
  device_->UploadTexture(texture, mip, layer, x, y, w, h, data, rowPitch);
}

void GpuContext::GenerateMips(GpuShaderResourceView* view) {
  if (!view) return;
  device_->Gl().Ensure();
  glGenerateTextureMipmap(view->name_);
}

void GpuContext::Draw(uint32_t vertexCount, uint32_t startVertex) {
  device_->Gl().Ensure();
  if (!PrepareDraw()) return;
  glDrawArrays(DrawMode(topology_), GLint(startVertex), GLsizei(vertexCount));
  ++device_->stats_.draws;
}

void GpuContext::DrawInstanced(uint32_t vertexCount, uint32_t instanceCount, uint32_t startVertex,
                               uint32_t startInstance) {
  device_->Gl().Ensure();
  if (!PrepareDraw()) return;
  glDrawArraysInstancedBaseInstance(DrawMode(topology_), GLint(startVertex), GLsizei(vertexCount),
                                    GLsizei(instanceCount), startInstance);
  ++device_->stats_.draws;
}

void GpuContext::DrawIndexed(uint32_t indexCount, uint32_t startIndex, int32_t baseVertex) {
  device_->Gl().Ensure();
  if (!indexBuffer_ || !PrepareDraw()) return;
  auto* first = reinterpret_cast<const void*>(uintptr_t(indexOffset_) + uintptr_t(startIndex) * indexSize_);
  glDrawElementsBaseVertex(DrawMode(topology_), GLsizei(indexCount), indexType_, first, baseVertex);
  ++device_->stats_.draws;
}

void GpuContext::DrawIndexedInstanced(uint32_t indexCount, uint32_t instanceCount, uint32_t startIndex,
                                      int32_t baseVertex, uint32_t startInstance) {
  device_->Gl().Ensure();
  if (!indexBuffer_ || !PrepareDraw()) return;
  auto* first = reinterpret_cast<const void*>(uintptr_t(indexOffset_) + uintptr_t(startIndex) * indexSize_);
  glDrawElementsInstancedBaseVertexBaseInstance(DrawMode(topology_), GLsizei(indexCount), indexType_, first,
                                                GLsizei(instanceCount), baseVertex, startInstance);
  ++device_->stats_.draws;
}

void GpuContext::Flush() {
  device_->Gl().Ensure();
  glFlush();
}

}  // namespace Platform
