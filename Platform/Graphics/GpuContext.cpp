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

GpuContext::GpuContext(GpuDevice* device) : m_device(device) {}

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
  m_appliedBlendFactor[0] = m_appliedBlendFactor[1] = m_appliedBlendFactor[2] = m_appliedBlendFactor[3] = 0;
  m_appliedStencilRef = 0;
  m_appliedDepthState = nullptr;
  m_appliedRasterState = nullptr;
  m_appliedBlendState = nullptr;
  m_appliedBlendHasPixelShader = true;
}

void GpuContext::GetDevice(GpuDevice** out) {
  m_device->AddRef();
  *out = m_device;
}

// ---- bindings ------------------------------------------------------------------------------

void GpuContext::SetInputLayout(GpuInputLayout* layout) {
  m_layout = layout;
  m_dirty |= kDirtyInput;
}

void GpuContext::SetVertexBuffers(uint32_t startSlot, uint32_t count, GpuBuffer* const* buffers,
                                  const uint32_t* strides, const uint32_t* offsets) {
  for (uint32_t i = 0; i < count && startSlot + i < kGpuVertexSlots; ++i) {
    uint32_t s = startSlot + i;
    m_vertexBuffers[s] = buffers ? buffers[i] : nullptr;
    m_strides[s] = strides ? strides[i] : 0;
    m_offsets[s] = offsets ? offsets[i] : 0;
  }
  m_dirty |= kDirtyInput;
}

void GpuContext::SetIndexBuffer(GpuBuffer* buffer, GpuFormat format, uint32_t offset) {
  m_indexBuffer = buffer;
  bool shorts = format == GpuFormat_R16_UInt;
  m_indexType = shorts ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
  m_indexSize = shorts ? 2 : 4;
  m_indexOffset = offset;
  m_dirty |= kDirtyInput;
}

void GpuContext::SetVertexShader(GpuVertexShader* shader) {
  if (shader == m_vertexShader.Get()) return;
  m_vertexShader = shader;
  m_dirty |= kDirtyProgram;
}

void GpuContext::SetPixelShader(GpuPixelShader* shader) {
  if (shader == m_pixelShader.Get()) return;
  m_pixelShader = shader;
  m_dirty |= kDirtyProgram;
}

void GpuContext::SetConstantBuffers(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                                    GpuBuffer* const* buffers) {
  uint32_t st = uint32_t(stage);
  for (uint32_t i = 0; i < count && startSlot + i < kGpuConstantSlots; ++i) {
    uint32_t s = startSlot + i;
    GpuBuffer* b = buffers ? buffers[i] : nullptr;
    if (constants_[st][s].Get() == b) continue;  // rebinding per draw is common and free
    constants_[st][s] = b;
    m_dirtyConstants |= 1u << (st * kGpuConstantSlots + s);
    m_dirty |= kDirtyConstants;
  }
}

void GpuContext::SetShaderResources(GpuShaderStage stage, uint32_t startSlot, uint32_t count,
                                    GpuShaderResourceView* const* views) {
  uint32_t st = uint32_t(stage);
  for (uint32_t i = 0; i < count && startSlot + i < kGpuResourceSlots; ++i)
    resources_[st][startSlot + i] = views ? views[i] : nullptr;
  m_dirty |= kDirtyTextures;
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
  m_dirty |= kDirtyTextures;
}

void GpuContext::SetRenderTargets(uint32_t count, GpuRenderTargetView* const* views, GpuDepthStencilView* depth) {
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) m_targets[i] = (views && i < count) ? views[i] : nullptr;
  m_depthTarget = depth;
  m_dirty |= kDirtyTargets;
}

void GpuContext::GetRenderTargets(uint32_t count, GpuRenderTargetView** views, GpuDepthStencilView** depth) const {
  for (uint32_t i = 0; views && i < count; ++i) {
    GpuRenderTargetView* view = i < kGpuRenderTargets ? m_targets[i].Get() : nullptr;
    if (view) view->AddRef();
    views[i] = view;
  }
  if (depth) {
    *depth = m_depthTarget.Get();
    if (*depth) (*depth)->AddRef();
  }
}

void GpuContext::SetBlendState(GpuBlendState* state, const float factor[4], uint32_t) {
  m_blend = state;
  for (int i = 0; i < 4; ++i) m_blendFactor[i] = factor ? factor[i] : 1.0f;
  m_dirty |= kDirtyBlend;
}

void GpuContext::SetDepthStencilState(GpuDepthStencilState* state, uint32_t stencilRef) {
  m_depthStencil = state;
  m_stencilRef = stencilRef & 0xff;
  m_dirty |= kDirtyDepth;
}

void GpuContext::SetRasterizerState(GpuRasterizerState* state) {
  m_rasterizer = state;
  m_dirty |= kDirtyRaster;
}

void GpuContext::SetViewports(uint32_t count, const GpuViewport* viewports) {
  m_viewportCount = std::min(count, kGpuViewports);
  for (uint32_t i = 0; i < m_viewportCount; ++i) m_viewports[i] = viewports[i];
  m_dirty |= kDirtyViewports;
}

void GpuContext::GetViewports(uint32_t* count, GpuViewport* viewports) const {
  if (!count) return;
  if (!viewports) {
    *count = m_viewportCount;
    return;
  }
  *count = std::min(*count, m_viewportCount);
  for (uint32_t i = 0; i < *count; ++i) viewports[i] = m_viewports[i];
}

void GpuContext::SetScissorRects(uint32_t count, const GpuRect* rects) {
  m_scissorCount = std::min(count, kGpuViewports);
  for (uint32_t i = 0; i < m_scissorCount; ++i) m_scissors[i] = rects[i];
  m_dirty |= kDirtyScissors;
}

void GpuContext::ClearState() {
  m_layout.Reset();
  for (uint32_t i = 0; i < kGpuVertexSlots; ++i) {
    m_vertexBuffers[i].Reset();
    m_strides[i] = m_offsets[i] = 0;
  }
  m_indexBuffer.Reset();
  m_topology = GpuTopology::Undefined;
  m_vertexShader.Reset();
  m_pixelShader.Reset();
  for (int st = 0; st < 2; ++st) {
    for (auto& c : constants_[st]) c.Reset();
    for (auto& r : resources_[st]) r.Reset();
    for (auto& s : samplers_[st]) s.Reset();
  }
  for (auto& t : m_targets) t.Reset();
  m_depthTarget.Reset();
  m_blend.Reset();
  m_blendFactor[0] = m_blendFactor[1] = m_blendFactor[2] = m_blendFactor[3] = 1;
  m_depthStencil.Reset();
  m_stencilRef = 0;
  m_rasterizer.Reset();
  m_viewportCount = m_scissorCount = 0;
  m_dirtyConstants = (1u << (2 * kGpuConstantSlots)) - 1;
  m_dirty = kDirtyAll;
}

// ---- applying ------------------------------------------------------------------------------

bool GpuContext::PrepareDraw() {
  if (!m_vertexShader || m_topology == GpuTopology::Undefined) return false;
  if (m_dirty) {
    if (m_dirty & kDirtyProgram) ApplyProgram();
    if (!m_program || !m_program->valid) return false;
    if (m_dirty & kDirtyInput) ApplyInput();
    if (m_dirty & kDirtyTargets) ApplyTargets();
    if (m_dirty & kDirtyViewports) {
      for (uint32_t i = 0; i < m_viewportCount; ++i) {
        const GpuViewport& v = m_viewports[i];
        glViewportIndexedf(i, v.topLeftX, v.topLeftY, v.width, v.height);
        glDepthRangeIndexed(i, v.minDepth, v.maxDepth);
      }
    }
    if (m_dirty & kDirtyScissors) {
      for (uint32_t i = 0; i < m_scissorCount; ++i) {
        const GpuRect& r = m_scissors[i];
        glScissorIndexed(i, r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
      }
    }
    if (m_dirty & kDirtyBlend) ApplyBlend();
    if (m_dirty & kDirtyDepth) ApplyDepthStencil();
    if (m_dirty & kDirtyRaster) ApplyRasterizer();
    if (m_dirty & kDirtyConstants) ApplyConstants();
    if (m_dirty & kDirtyTextures) ApplyTextures();
    m_dirty = 0;
  }
  return m_program && m_program->valid;
}

void GpuContext::ApplyProgram() {
  m_program = m_device->FindProgram(m_vertexShader.Get(), m_pixelShader.Get());
  if (m_program->valid && m_program->serial != m_appliedProgram) {
    glUseProgram(m_program->name);
    m_appliedProgram = m_program->serial;
    m_dirty |= kDirtyTextures;
  }
  // Without a pixel shader nothing reaches the colour targets.
  if (bool(m_pixelShader) != m_appliedBlendHasPixelShader) m_dirty |= kDirtyBlend;
}

void GpuContext::ApplyInput() {
  GpuInputLayout* layout = m_layout ? m_layout.Get() : m_device->m_emptyLayout.Get();
  if (layout->Serial() != m_appliedLayout) {
    glBindVertexArray(layout->m_vao);
    m_appliedLayout = layout->Serial();
  }
  for (uint32_t mask = layout->m_slotMask; mask; mask &= mask - 1) {
    uint32_t s = uint32_t(__builtin_ctz(mask));
    GpuBuffer* b = m_vertexBuffers[s].Get();
    uint64_t serial = b ? b->Serial() : 1;
    if (layout->m_boundSerial[s] != serial || layout->m_boundOffset[s] != m_offsets[s] ||
        layout->m_boundStride[s] != m_strides[s]) {
      // A slot without a buffer reads zeros, which callers rely on.
      glVertexArrayVertexBuffer(layout->m_vao, s, b ? b->m_name : m_device->m_zeroBuffer, b ? m_offsets[s] : 0,
                                b ? m_strides[s] : 0);
      layout->m_boundSerial[s] = serial;
      layout->m_boundOffset[s] = m_offsets[s];
      layout->m_boundStride[s] = m_strides[s];
    }
  }
  uint64_t indexSerial = m_indexBuffer ? m_indexBuffer->Serial() : 1;
  if (layout->m_boundIndexSerial != indexSerial) {
    glVertexArrayElementBuffer(layout->m_vao, m_indexBuffer ? m_indexBuffer->m_name : 0);
    layout->m_boundIndexSerial = indexSerial;
  }
}

void GpuContext::ApplyTargets() {
  GpuDevice::FramebufferKey key;
  bool any = false;
  GpuRenderTargetView* views[kGpuRenderTargets];
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) {
    views[i] = m_targets[i].Get();
    key[i] = views[i] ? views[i]->Serial() : 0;
    any |= views[i] != nullptr;
  }
  key[8] = m_depthTarget ? m_depthTarget->Serial() : 0;
  any |= bool(m_depthTarget);
  if (m_appliedFramebuffer == ~0u || !std::equal(key.begin(), key.end(), m_appliedTargetsKey)) {
    GlName fbo = any ? m_device->FindFramebuffer(key, views, m_depthTarget.Get()) : 0;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    m_appliedFramebuffer = fbo;
    std::copy(key.begin(), key.end(), m_appliedTargetsKey);
  }
  IssueBoundClears();
}

void GpuContext::ApplyBlend() {
  bool hasPs = bool(m_pixelShader);
  if (m_blend.Get() == m_appliedBlendState && hasPs == m_appliedBlendHasPixelShader &&
      std::memcmp(m_blendFactor, m_appliedBlendFactor, sizeof m_blendFactor) == 0)
    return;
  ++m_device->m_stats.stateApplies;
  const GpuBlendDesc& want = m_blend ? m_blend->m_desc : kDefaultBlend;
  if (want.alphaToCoverageEnable != m_appliedBlend.alphaToCoverageEnable) {
    Toggle(GL_SAMPLE_ALPHA_TO_COVERAGE, want.alphaToCoverageEnable);
    m_appliedBlend.alphaToCoverageEnable = want.alphaToCoverageEnable;
  }
  if (!want.independentBlendEnable && m_appliedBlendUniform) {
    // One set of calls covers all eight targets.
    const GpuRenderTargetBlendDesc& w = want.renderTarget[0];
    GpuRenderTargetBlendDesc& h = m_appliedBlend.renderTarget[0];
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
    for (int i = 1; i < 8; ++i) m_appliedBlend.renderTarget[i] = h;
  } else {
    for (GLuint i = 0; i < 8; ++i) {
      const GpuRenderTargetBlendDesc& w = want.renderTarget[want.independentBlendEnable ? i : 0];
      GpuRenderTargetBlendDesc& h = m_appliedBlend.renderTarget[i];
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
    m_appliedBlendUniform = !want.independentBlendEnable;
  }
  if (std::memcmp(m_blendFactor, m_appliedBlendFactor, sizeof m_blendFactor) != 0) {
    glBlendColor(m_blendFactor[0], m_blendFactor[1], m_blendFactor[2], m_blendFactor[3]);
    std::memcpy(m_appliedBlendFactor, m_blendFactor, sizeof m_blendFactor);
  }
  m_appliedBlendState = m_blend.Get();
  m_appliedBlendHasPixelShader = hasPs;
}

void GpuContext::ApplyDepthStencil() {
  if (m_depthStencil.Get() == m_appliedDepthState && m_stencilRef == m_appliedStencilRef) return;
  ++m_device->m_stats.stateApplies;
  const GpuDepthStencilDesc& w = m_depthStencil ? m_depthStencil->m_desc : kDefaultDepth;
  GpuDepthStencilDesc& h = m_appliedDepth;
  if (w.depthEnable != h.depthEnable) Toggle(GL_DEPTH_TEST, w.depthEnable);
  h.depthEnable = w.depthEnable;
  if (w.depthEnable) {
    if (w.depthFunc != h.depthFunc) glDepthFunc(Compare(w.depthFunc));
    h.depthFunc = w.depthFunc;
    bool write = w.depthWriteMask == GpuDepthWriteMask::All;
    if (write != m_glDepthWrite) glDepthMask(write);
    m_glDepthWrite = write;
  }
  if (w.stencilEnable != h.stencilEnable) Toggle(GL_STENCIL_TEST, w.stencilEnable);
  h.stencilEnable = w.stencilEnable;
  if (w.stencilEnable) {
    bool refChanged = m_stencilRef != m_appliedStencilRef || w.stencilReadMask != h.stencilReadMask;
    const GpuStencilOpDesc* faces[2] = {&w.frontFace, &w.backFace};
    GpuStencilOpDesc* have[2] = {&h.frontFace, &h.backFace};
    const GLenum glFaces[2] = {GL_FRONT, GL_BACK};
    for (int f = 0; f < 2; ++f) {
      if (SameFace(*faces[f], *have[f]) && !refChanged) continue;
      glStencilFuncSeparate(glFaces[f], Compare(faces[f]->stencilFunc), GLint(m_stencilRef), w.stencilReadMask);
      glStencilOpSeparate(glFaces[f], StencilOp(faces[f]->stencilFailOp), StencilOp(faces[f]->stencilDepthFailOp),
                          StencilOp(faces[f]->stencilPassOp));
      *have[f] = *faces[f];
    }
    h.stencilReadMask = w.stencilReadMask;
    m_appliedStencilRef = m_stencilRef;
    if (w.stencilWriteMask != m_glStencilWrite) glStencilMask(w.stencilWriteMask);
    m_glStencilWrite = w.stencilWriteMask;
  }
  m_appliedDepthState = m_depthStencil.Get();
  if (!w.stencilEnable) m_appliedStencilRef = m_stencilRef;
}

void GpuContext::ApplyRasterizer() {
  if (m_rasterizer.Get() == m_appliedRasterState) return;
  ++m_device->m_stats.stateApplies;
  const GpuRasterizerDesc& w = m_rasterizer ? m_rasterizer->m_desc : kDefaultRaster;
  GpuRasterizerDesc& h = m_appliedRaster;
  if (w.fillMode != h.fillMode)
    glPolygonMode(GL_FRONT_AND_BACK, w.fillMode == GpuFillMode::Wireframe ? GL_LINE : GL_FILL);
  if (w.cullMode != h.cullMode) {
    if (w.cullMode == GpuCullMode::None) {
      glDisable(GL_CULL_FACE);
    } else {
      if (h.cullMode == GpuCullMode::None) glEnable(GL_CULL_FACE);
      GLenum face = w.cullMode == GpuCullMode::Front ? GL_FRONT : GL_BACK;
      if (face != m_glCullFace) glCullFace(face);
      m_glCullFace = face;
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
    if (on && m_device->m_hasPolygonOffsetClamp)
      glPolygonOffsetClamp(w.slopeScaledDepthBias, float(w.depthBias), w.depthBiasClamp);
    else if (on)
      glPolygonOffset(w.slopeScaledDepthBias, float(w.depthBias));
  }
  h = w;
  m_appliedRasterState = m_rasterizer.Get();
}

void GpuContext::ApplyConstants() {
  for (uint32_t mask = m_dirtyConstants; mask; mask &= mask - 1) {
    uint32_t binding = uint32_t(__builtin_ctz(mask));
    GpuBuffer* b = constants_[binding / kGpuConstantSlots][binding % kGpuConstantSlots].Get();
    uint64_t serial = b ? b->Serial() : 0;
    if (m_appliedConstants[binding] == serial) continue;
    glBindBufferBase(GL_UNIFORM_BUFFER, binding, b ? b->m_name : 0);
    m_appliedConstants[binding] = serial;
  }
  m_dirtyConstants = 0;
}

GlName GpuContext::SamplerName(GpuSamplerState* sampler) {
  if (sampler->m_name) return sampler->m_name;
  const GpuSamplerDesc& d = sampler->m_desc;
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
  const uint32_t anisotropy = anisotropic ? std::min(d.maxAnisotropy, m_device->m_maxAnisotropy) : 1u;
  glSamplerParameterf(s, GL_TEXTURE_MAX_ANISOTROPY, float(anisotropy));
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
  sampler->m_name = s;
  return s;
}

void GpuContext::ApplyTextures() {
  for (const GpuDevice::TextureUse& use : m_program->textures) {
    GpuShaderResourceView* view = resources_[use.stage][use.slot].Get();
    GlName name;
    uint64_t serial;
    if (view && view->m_target == use.target) {
      ResolveClears(view->m_texture.Get());
      name = view->m_name;
      serial = view->Serial();
    } else {
      // Unbound (or of the wrong kind): samples as zero.
      const int kind = GpuDevice::ZeroTextureKind(use.target);
      name = m_device->m_zeroTextures[kind];
      serial = uint64_t(kind) + 1;
    }
    if (m_appliedTextures[use.unit] != serial) {
      glBindTextureUnit(use.unit, name);
      m_appliedTextures[use.unit] = serial;
    }
    GpuSamplerState* sampler = samplers_[use.stage][use.samplerSlot].Get();
    GlName samplerName = sampler ? SamplerName(sampler) : m_device->m_defaultSampler;
    if (m_appliedSamplers[use.unit] != samplerName) {
      glBindSampler(use.unit, samplerName);
      m_appliedSamplers[use.unit] = samplerName;
    }
  }
}

// ---- clears, transfers, draws --------------------------------------------------------------

void GpuContext::BeginRawWrite() {
  if (m_appliedRaster.scissorEnable) glDisable(GL_SCISSOR_TEST);
  for (GLuint i = 0; i < kGpuRenderTargets; ++i)
    if (m_appliedBlend.renderTarget[i].renderTargetWriteMask != GpuColorWrite_All) glColorMaski(i, 1, 1, 1, 1);
  if (!m_glDepthWrite) glDepthMask(GL_TRUE);
  if (m_glStencilWrite != 0xff) glStencilMask(0xff);
}

void GpuContext::EndRawWrite() {
  if (m_appliedRaster.scissorEnable) glEnable(GL_SCISSOR_TEST);
  for (GLuint i = 0; i < kGpuRenderTargets; ++i) {
    uint8_t mask = m_appliedBlend.renderTarget[i].renderTargetWriteMask;
    if (mask != GpuColorWrite_All) glColorMaski(i, mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
  }
  if (!m_glDepthWrite) glDepthMask(GL_FALSE);
  if (m_glStencilWrite != 0xff) glStencilMask(m_glStencilWrite);
}

// A clear issued through a framebuffer of the view's own makes the software rasteriser finish what
// it binned, then run a pass over the whole target for the clear alone; issued on the framebuffer the
// next draw uses, it costs nearly nothing. Hence clears wait for their view's next draw.
namespace {

// Whether a clear of `rect` (whole when null) covers a waiting one (of `waiting` unless whole).
bool CoversWaiting(const GpuRect* rect, bool waitingWhole, const GpuRect& w) {
  if (!rect) return true;
  if (waitingWhole) return false;
  return rect->left <= w.left && rect->top <= w.top && rect->right >= w.right && rect->bottom >= w.bottom;
}

bool IsEmpty(const GpuRect* rect) { return rect && (rect->right <= rect->left || rect->bottom <= rect->top); }

}  // namespace

void GpuContext::ClearRenderTargetView(GpuRenderTargetView* view, const float colour[4], const GpuRect* rect) {
  if (!view || !colour || IsEmpty(rect)) return;
  GpuTexture* texture = view->m_texture.Get();
  // Another view of the texture may overlap this one: its clear goes first, in call order.
  ResolveClearsOf(m_pendingColour, texture, view);
  // A waiting clear this one does not cover keeps what lies outside it: it goes first, on its own.
  if (view->m_clearPending && !CoversWaiting(rect, view->m_clearWhole, view->m_clearRect)) ResolveClear(view);
  std::copy(colour, colour + 4, view->m_clearColour);
  view->m_clearWhole = !rect;
  if (rect) view->m_clearRect = *rect;
  if (!view->m_clearPending) {
    view->m_clearPending = true;
    ++texture->m_pendingClears;
    m_pendingColour.push_back(view);
  }
  m_dirty |= kDirtyTargets | kDirtyTextures;
}

void GpuContext::ClearDepthStencilView(GpuDepthStencilView* view, uint32_t flags, float depth, uint8_t stencil,
                                       const GpuRect* rect) {
  flags &= GpuClear_Depth | GpuClear_Stencil;
  if (!view || !flags || IsEmpty(rect)) return;
  GpuTexture* texture = view->m_texture.Get();
  ResolveClearsOf(m_pendingDepth, texture, view);
  // Whole clears join whatever waits; a part clear only a waiting clear it covers of no other aspect.
  const bool joins = !rect ? view->m_clearWhole : CoversWaiting(rect, view->m_clearWhole, view->m_clearRect) && (view->m_clearFlags & ~flags) == 0;
  if (view->m_clearFlags && !joins) ResolveClear(view);
  if (flags & GpuClear_Depth) view->m_clearDepth = std::clamp(depth, 0.0f, 1.0f);
  if (flags & GpuClear_Stencil) view->m_clearStencil = stencil;
  view->m_clearWhole = !rect;
  if (rect) view->m_clearRect = *rect;
  if (!view->m_clearFlags) {
    ++texture->m_pendingClears;
    m_pendingDepth.push_back(view);
  }
  view->m_clearFlags |= flags;
  m_dirty |= kDirtyTargets | kDirtyTextures;
}

void GpuContext::BeginPartClear(const GpuRect& rect) {
  glGetIntegeri_v(GL_SCISSOR_BOX, 0, m_partClearSavedBox);
  glEnable(GL_SCISSOR_TEST);
  glScissorIndexed(0, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

void GpuContext::EndPartClear() {
  glDisable(GL_SCISSOR_TEST);
  glScissorIndexedv(0, m_partClearSavedBox);
}

void GpuContext::IssueColourClear(GpuRenderTargetView* view, GlName framebuffer, int drawBuffer) {
  const float* colour = view->m_clearColour;
  if (!view->m_clearWhole) BeginPartClear(view->m_clearRect);
  if (view->m_texture->m_info->flags & GlFormat_Integer) {
    const GLuint v[4] = {GLuint(colour[0]), GLuint(colour[1]), GLuint(colour[2]), GLuint(colour[3])};
    glClearNamedFramebufferuiv(framebuffer, GL_COLOR, drawBuffer, v);
  } else {
    glClearNamedFramebufferfv(framebuffer, GL_COLOR, drawBuffer, colour);
  }
  if (!view->m_clearWhole) EndPartClear();
  view->m_clearWhole = true;
  view->m_clearPending = false;
  --view->m_texture->m_pendingClears;
  m_pendingColour.erase(std::find(m_pendingColour.begin(), m_pendingColour.end(), view));
  ++m_device->m_stats.clears;
}

void GpuContext::IssueDepthClear(GpuDepthStencilView* view, GlName framebuffer) {
  const uint32_t flags = view->m_clearFlags;
  const bool hasStencil = view->m_texture->m_info->flags & GlFormat_Stencil;
  const float depth = view->m_clearDepth;
  const GLint stencil = view->m_clearStencil;
  if (!view->m_clearWhole) BeginPartClear(view->m_clearRect);
  if ((flags & GpuClear_Depth) && (flags & GpuClear_Stencil) && hasStencil)
    glClearNamedFramebufferfi(framebuffer, GL_DEPTH_STENCIL, 0, depth, stencil);
  else if (flags & GpuClear_Depth)
    glClearNamedFramebufferfv(framebuffer, GL_DEPTH, 0, &depth);
  else if (hasStencil)
    glClearNamedFramebufferiv(framebuffer, GL_STENCIL, 0, &stencil);
  if (!view->m_clearWhole) EndPartClear();
  view->m_clearWhole = true;
  view->m_clearFlags = 0;
  --view->m_texture->m_pendingClears;
  m_pendingDepth.erase(std::find(m_pendingDepth.begin(), m_pendingDepth.end(), view));
  ++m_device->m_stats.clears;
}

template <class View, class Issue>
void GpuContext::ClearOnOwn(View* view, bool depth, Issue issue) {
  if (!view->m_clearFbo)
    view->m_clearFbo = m_device->MakeViewFramebuffer(view->m_texture.Get(), view->m_desc.mipSlice,
                                                    view->m_desc.firstArraySlice, depth);
  BeginRawWrite();
  issue(view->m_clearFbo);
  EndRawWrite();
  ++m_device->m_stats.clearsOnOwn;
}

void GpuContext::ResolveClear(GpuRenderTargetView* view) {
  if (view->m_clearPending) ClearOnOwn(view, false, [&](GlName fbo) { IssueColourClear(view, fbo, 0); });
}

void GpuContext::ResolveClear(GpuDepthStencilView* view) {
  if (view->m_clearFlags) ClearOnOwn(view, true, [&](GlName fbo) { IssueDepthClear(view, fbo); });
}

template <class View>
void GpuContext::ResolveClearsOf(std::vector<View*>& pending, GpuTexture* texture, const View* except) {
  if (!texture || !texture->m_pendingClears) return;
  m_device->Gl().Ensure();
  for (size_t i = pending.size(); i-- > 0;)
    if (pending[i] != except && pending[i]->m_texture.Get() == texture) ResolveClear(pending[i]);
}

void GpuContext::ResolveClears(GpuTexture* texture) {
  ResolveClearsOf(m_pendingColour, texture, static_cast<GpuRenderTargetView*>(nullptr));
  ResolveClearsOf(m_pendingDepth, texture, static_cast<GpuDepthStencilView*>(nullptr));
}

void GpuContext::IssueBoundClears() {
  if (m_pendingColour.empty() && m_pendingDepth.empty()) return;
  // A waiting view of a bound texture that is not itself bound may overlap a bound one.
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i)
    if (GpuRenderTargetView* view = m_targets[i].Get(); view && !view->m_clearPending) ResolveClears(view->m_texture.Get());
  if (m_depthTarget && !m_depthTarget->m_clearFlags) ResolveClears(m_depthTarget->m_texture.Get());
  bool raw = false;
  for (uint32_t i = 0; i < kGpuRenderTargets; ++i) {
    GpuRenderTargetView* view = m_targets[i].Get();
    if (!view || !view->m_clearPending) continue;
    if (!raw) BeginRawWrite();
    raw = true;
    IssueColourClear(view, m_appliedFramebuffer, int(i));
  }
  if (m_depthTarget && m_depthTarget->m_clearFlags) {
    if (!raw) BeginRawWrite();
    raw = true;
    IssueDepthClear(m_depthTarget.Get(), m_appliedFramebuffer);
  }
  if (raw) EndRawWrite();
}

GpuResult GpuContext::Map(GpuResource* resource, uint32_t subresource, GpuMap type, uint32_t,
                          GpuMappedSubresource* mapped) {
  if (!resource || !mapped || subresource != 0 || resource->Kind() != GpuResourceKind::Buffer)
    return kGpuInvalidArg;
  auto* buffer = static_cast<GpuBuffer*>(resource);
  const GpuBufferDesc& d = buffer->m_desc;
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
  if (buffer->m_mapped) return kGpuInvalidCall;
  m_device->Gl().Ensure();
  void* data = glMapNamedBufferRange(buffer->m_name, 0, d.byteWidth, access);
  if (!data) return kGpuFail;
  buffer->m_mapped = true;
  mapped->data = data;
  mapped->rowPitch = mapped->depthPitch = d.byteWidth;
  ++m_device->m_stats.maps;
  return kGpuOk;
}

void GpuContext::Unmap(GpuResource* resource, uint32_t) {
  if (!resource || resource->Kind() != GpuResourceKind::Buffer) return;
  auto* buffer = static_cast<GpuBuffer*>(resource);
  if (!buffer->m_mapped) return;
  m_device->Gl().Ensure();
  glUnmapNamedBuffer(buffer->m_name);
  buffer->m_mapped = false;
}

void GpuContext::UpdateSubresource(GpuResource* resource, uint32_t subresource, const GpuBox* box,
                                   const void* data, uint32_t rowPitch, uint32_t depthPitch) {
  if (!resource || !data) return;
  m_device->Gl().Ensure();
  if (resource->Kind() == GpuResourceKind::Buffer) {
    auto* buffer = static_cast<GpuBuffer*>(resource);
    uint32_t begin = box ? box->left : 0;
    uint32_t end = box ? box->right : buffer->m_desc.byteWidth;
    if (end > buffer->m_desc.byteWidth || begin >= end || buffer->m_mapped) return;
    glNamedBufferSubData(buffer->m_name, begin, end - begin, data);
    return;
  }
  GpuTexture* texture = AsTexture(resource);
  const GpuTextureShape& s = texture->m_shape;
  if (subresource >= s.mipLevels * s.arraySize) return;
  ResolveClears(texture);
  uint32_t mip = subresource % s.mipLevels, layer = subresource / s.mipLevels;
  const GpuBox level{0, 0, 0, std::max(1u, s.width >> mip), std::max(1u, s.height >> mip),
                     std::max(1u, s.depth >> mip)};
  if (box && (box->right > level.right || box->bottom > level.bottom || box->back > level.back ||
              box->left >= box->right || box->top >= box->bottom || box->front >= box->back))
    return;
  m_device->UploadTexture(texture, mip, layer, box ? *box : level, data, rowPitch, depthPitch);
}

void GpuContext::GenerateMips(GpuShaderResourceView* view) {
  if (!view) return;
  m_device->Gl().Ensure();
  ResolveClears(view->m_texture.Get());
  glGenerateTextureMipmap(view->m_name);
}

void GpuContext::Draw(uint32_t vertexCount, uint32_t startVertex) {
  m_device->Gl().Ensure();
  if (!PrepareDraw()) return;
  glDrawArrays(DrawMode(m_topology), GLint(startVertex), GLsizei(vertexCount));
  ++m_device->m_stats.draws;
}

void GpuContext::DrawInstanced(uint32_t vertexCount, uint32_t instanceCount, uint32_t startVertex,
                               uint32_t startInstance) {
  m_device->Gl().Ensure();
  if (!PrepareDraw()) return;
  glDrawArraysInstancedBaseInstance(DrawMode(m_topology), GLint(startVertex), GLsizei(vertexCount),
                                    GLsizei(instanceCount), startInstance);
  ++m_device->m_stats.draws;
}

void GpuContext::DrawIndexed(uint32_t indexCount, uint32_t startIndex, int32_t baseVertex) {
  m_device->Gl().Ensure();
  if (!m_indexBuffer || !PrepareDraw()) return;
  auto* first = reinterpret_cast<const void*>(uintptr_t(m_indexOffset) + uintptr_t(startIndex) * m_indexSize);
  glDrawElementsBaseVertex(DrawMode(m_topology), GLsizei(indexCount), m_indexType, first, baseVertex);
  ++m_device->m_stats.draws;
}

void GpuContext::DrawIndexedInstanced(uint32_t indexCount, uint32_t instanceCount, uint32_t startIndex,
                                      int32_t baseVertex, uint32_t startInstance) {
  m_device->Gl().Ensure();
  if (!m_indexBuffer || !PrepareDraw()) return;
  auto* first = reinterpret_cast<const void*>(uintptr_t(m_indexOffset) + uintptr_t(startIndex) * m_indexSize);
  glDrawElementsInstancedBaseVertexBaseInstance(DrawMode(m_topology), GLsizei(indexCount), m_indexType, first,
                                                GLsizei(instanceCount), baseVertex, startInstance);
  ++m_device->m_stats.draws;
}

void GpuContext::Flush() {
  m_device->Gl().Ensure();
  glFlush();
}

}  // namespace Platform
