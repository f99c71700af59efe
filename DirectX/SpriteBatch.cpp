// The sprite batch: queue, ordering, runs of one texture, and the per-device and per-context
// resources all batches share.
#include "DirectX/SpriteBatch.h"

#include "DirectX/BinaryReader.h"
#include "DirectX/CommonStates.h"
#include "DirectX/SharedResourcePool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace DirectX {

using namespace Platform;

namespace {

constexpr uint32_t kVerticesPerSprite = 4;
constexpr uint32_t kIndicesPerSprite = 6;
constexpr int32_t kSourceInTexels = 4;
constexpr int32_t kDestSizeInPixels = 8;

// `what` names the refused step and object, so that the one error line says which it was.
void ThrowIfFailed(GpuResult result, const char* what) {
  if (GpuFailed(result)) throw SpriteError(std::string("Failed to ") + what);
}

constexpr const char* kSpriteVertexShader = "content/shaders/SpriteBatch_VS.cso";
constexpr const char* kSpritePixelShader = "content/shaders/SpriteBatch_PS.cso";

// A shader file's bytes; an unreadable file (a folder in its place, say) is no shader.
std::vector<uint8_t> ReadShaderFile(const char* path) {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  const std::string name(path);
  if (BinaryReader::ReadWholeFile(std::wstring(name.begin(), name.end()), bytes, size) != 0)
    throw SpriteShaderError("load", path);
  return std::vector<uint8_t>(bytes.get(), bytes.get() + size);
}

}  // namespace

// One per device: what depends only on the device.
struct SpriteDeviceResources {
  explicit SpriteDeviceResources(GpuDevice* device) : states(device) {
    const std::vector<uint8_t> vs = ReadShaderFile(kSpriteVertexShader);
    const std::vector<uint8_t> ps = ReadShaderFile(kSpritePixelShader);
    if (GpuFailed(device->CreateVertexShader(vs.data(), vs.size(), vertexShader.GetAddressOf())))
      throw SpriteShaderError("create", kSpriteVertexShader);
    if (GpuFailed(device->CreatePixelShader(ps.data(), ps.size(), pixelShader.GetAddressOf())))
      throw SpriteShaderError("create", kSpritePixelShader);
    const GpuInputElementDesc elements[] = {
        {"SV_Position", 0, GpuFormat_R32G32B32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
        {"COLOR", 0, GpuFormat_R32G32B32A32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
        {"TEXCOORD", 0, GpuFormat_R32G32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
    };
    ThrowIfFailed(device->CreateInputLayout(elements, 3, vs.data(), vs.size(), inputLayout.GetAddressOf()),
                  "create the sprite batch's input layout");

    std::vector<uint16_t> indices;
    indices.reserve(SpriteBatch::SpritesPerBuffer * kIndicesPerSprite);
    for (uint32_t k = 0; k < SpriteBatch::SpritesPerBuffer; ++k) {
      const uint16_t v = uint16_t(k * kVerticesPerSprite);
      for (uint16_t i : {v, uint16_t(v + 1), uint16_t(v + 2), uint16_t(v + 1), uint16_t(v + 3), uint16_t(v + 2)})
        indices.push_back(i);
    }
    GpuBufferDesc desc;
    desc.byteWidth = uint32_t(indices.size() * sizeof(uint16_t));
    desc.bindFlags = GpuBind_IndexBuffer;
    GpuSubresourceData init{indices.data(), 0, 0};
    ThrowIfFailed(device->CreateBuffer(desc, &init, indexBuffer.GetAddressOf()), "create the sprite batch's index buffer");
  }

  CommonStates states;
  GpuRef<GpuVertexShader> vertexShader;
  GpuRef<GpuPixelShader> pixelShader;
  GpuRef<GpuInputLayout> inputLayout;
  GpuRef<GpuBuffer> indexBuffer;
};

// One per context: the ring of vertices that consecutive batches append to.
struct SpriteContextResources {
  explicit SpriteContextResources(GpuContext* ctx) : context(ctx) {
    GpuRef<GpuDevice> device;
    ctx->GetDevice(device.GetAddressOf());
    GpuBufferDesc constants;
    constants.byteWidth = sizeof(Base::Mat4);
    constants.usage = GpuUsage::Dynamic;
    constants.bindFlags = GpuBind_ConstantBuffer;
    constants.cpuAccessFlags = GpuCpuAccess_Write;
    ThrowIfFailed(device->CreateBuffer(constants, nullptr, constantBuffer.GetAddressOf()),
                  "create the sprite batch's constant buffer");
    GpuBufferDesc vertices;
    vertices.byteWidth = SpriteBatch::SpritesPerBuffer * kVerticesPerSprite * sizeof(SpriteVertex);
    vertices.usage = GpuUsage::Dynamic;
    vertices.bindFlags = GpuBind_VertexBuffer;
    vertices.cpuAccessFlags = GpuCpuAccess_Write;
    ThrowIfFailed(device->CreateBuffer(vertices, nullptr, vertexBuffer.GetAddressOf()),
                  "create the sprite batch's vertex buffer");
  }

  GpuRef<GpuContext> context;
  GpuRef<GpuBuffer> vertexBuffer;
  GpuRef<GpuBuffer> constantBuffer;
  uint32_t writePosition = 0;
  bool inImmediateMode = false;
};

namespace {

SharedResourcePool<GpuDevice*, SpriteDeviceResources>& DevicePool() {
  static SharedResourcePool<GpuDevice*, SpriteDeviceResources> pool;
  return pool;
}

SharedResourcePool<GpuContext*, SpriteContextResources>& ContextPool() {
  static SharedResourcePool<GpuContext*, SpriteContextResources> pool;
  return pool;
}

}  // namespace

// Fields in the order of the queued record; 16-byte aligned for four-float loads.
struct alignas(16) QueuedSprite {
  Base::Vec4 source;       // x, y, width, height: normalised unless kSourceInTexels
  Base::Vec4 destination;  // x, y, then size: pixels with kDestSizeInPixels, else texture scale
  Base::Vec4 colour;
  Base::Vec4 originRotationDepth;
  GpuShaderResourceView* texture;
  int32_t flags;
};

class SpriteBatch::Impl {
 public:
  explicit Impl(GpuContext* context) {
    GpuRef<GpuDevice> device;
    context->GetDevice(device.GetAddressOf());
    m_device = DevicePool().Acquire(device.Get());
    m_context = ContextPool().Acquire(context);
  }
  ~Impl() { std::free(m_queue); }

  void Begin(SpriteSortMode sortMode, GpuBlendState* blend, GpuSamplerState* sampler, GpuDepthStencilState* depth,
             GpuRasterizerState* rasterizer, ShaderCallback callback, const Base::Mat4& transform) {
    if (m_inPair) throw SpriteError("Cannot nest Begin calls on a single SpriteBatch");
    m_sortMode = sortMode;
    m_blend = blend;
    m_sampler = sampler;
    m_depthStencil = depth;
    m_rasterizer = rasterizer;
    m_callback = std::move(callback);
    m_transform = transform;
    if (sortMode == SpriteSortMode_Immediate) {
      if (m_context->inImmediateMode)
        throw SpriteError("Only one SpriteBatch at a time can use SpriteSortMode_Immediate");
      BindPipeline();
      m_context->inImmediateMode = true;
    }
    m_inPair = true;
  }

  void Draw(GpuShaderResourceView* texture, const Base::Vec4& destination, const GpuRect* source,
            const Base::Vec4& colour, const Base::Vec4& originRotationDepth, int32_t flags) {
    if (!texture) throw SpriteError("Texture cannot be null");
    if (!m_inPair) throw SpriteError("Begin must be called before Draw");
    if (m_count >= m_capacity) GrowQueue();

    QueuedSprite& sprite = m_queue[m_count];
    sprite.destination = destination;
    if (source) {
      const Base::Vec4 rect(float(source->left), float(source->top), float(int64_t(source->right) - source->left),
                            float(int64_t(source->bottom) - source->top));
      sprite.source = rect;
      if (!(flags & kDestSizeInPixels)) {
        sprite.destination.z *= rect.z;
        sprite.destination.w *= rect.w;
      }
      flags |= kSourceInTexels | kDestSizeInPixels;
    } else {
      sprite.source = Base::Vec4(0, 0, 1, 1);
    }
    sprite.colour = colour;
    sprite.originRotationDepth = originRotationDepth;
    sprite.texture = texture;
    sprite.flags = flags;

    if (m_sortMode == SpriteSortMode_Immediate) {
      const QueuedSprite* one = &sprite;
      DrawRun(texture, &one, 1);
      return;
    }
    ++m_count;
    if (m_textureRefs.empty() || m_textureRefs.back().Get() != texture) m_textureRefs.emplace_back(texture);
  }

  void End() {
    if (!m_inPair) throw SpriteError("Begin must be called before End");
    if (m_sortMode == SpriteSortMode_Immediate) {
      m_context->inImmediateMode = false;
    } else {
      if (m_context->inImmediateMode)
        throw SpriteError("Cannot end one SpriteBatch while another is using SpriteSortMode_Immediate");
      if (m_count > 0) {
        BindPipeline();
        DrawQueued();
      }
    }
    m_callback = nullptr;
    m_inPair = false;
  }

  SpriteRotation m_rotation = SpriteRotation_Identity;
  QueuedSprite* m_queue = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  std::vector<const QueuedSprite*> m_sorted;
  std::vector<GpuRef<GpuShaderResourceView>> m_textureRefs;
  bool m_inPair = false;
  SpriteSortMode m_sortMode = SpriteSortMode_Queued;
  GpuRef<GpuBlendState> m_blend;
  GpuRef<GpuSamplerState> m_sampler;
  GpuRef<GpuDepthStencilState> m_depthStencil;
  GpuRef<GpuRasterizerState> m_rasterizer;
  ShaderCallback m_callback;
  Base::Mat4 m_transform;
  std::shared_ptr<SpriteDeviceResources> m_device;
  std::shared_ptr<SpriteContextResources> m_context;

 private:
  void GrowQueue() {
    const uint32_t capacity = std::max(m_capacity * 2, MinQueueCapacity);
    auto* grown = static_cast<QueuedSprite*>(std::aligned_alloc(alignof(QueuedSprite), capacity * sizeof(QueuedSprite)));
    if (!grown) throw std::bad_alloc();
    if (m_count) std::memcpy(static_cast<void*>(grown), m_queue, m_count * sizeof(QueuedSprite));
    std::free(m_queue);
    m_queue = grown;
    m_capacity = capacity;
    m_sorted.clear();  // it pointed into the old array
  }

  Base::Mat4 ViewportMatrix() const {
    uint32_t count = 1;
    GpuViewport viewport;
    m_context->context->GetViewports(&count, &viewport);
    if (count != 1) throw SpriteError("No viewport is set");
    const float sx = viewport.width > 0 ? 2.0f / viewport.width : 0.0f;
    const float sy = viewport.height > 0 ? 2.0f / viewport.height : 0.0f;
    auto rows = [](std::initializer_list<float> v) {
      Base::Mat4 m;
      std::copy(v.begin(), v.end(), m.m);
      return m;
    };
    switch (m_rotation) {
      case SpriteRotation_Rotate90: return rows({0, -sy, 0, 0, -sx, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1});
      case SpriteRotation_Rotate180: return rows({-sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, 1, 0, 1, -1, 0, 1});
      case SpriteRotation_Rotate270: return rows({0, sy, 0, 0, sx, 0, 0, 0, 0, 0, 1, 0, -1, -1, 0, 1});
      default: return rows({sx, 0, 0, 0, 0, -sy, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1});
    }
  }

  void BindPipeline() {
    GpuContext* ctx = m_context->context.Get();
    const CommonStates& states = m_device->states;
    GpuBlendState* blend = m_blend ? m_blend.Get() : states.PremultipliedAlphaBlend();
    GpuDepthStencilState* depth = m_depthStencil ? m_depthStencil.Get() : states.NoDepth();
    GpuRasterizerState* rasterizer = m_rasterizer ? m_rasterizer.Get() : states.CullBackFaces();
    GpuSamplerState* sampler = m_sampler ? m_sampler.Get() : states.LinearClampSampler();

    ctx->SetBlendState(blend, nullptr, 0xffffffffu);
    ctx->SetDepthStencilState(depth, 0);
    ctx->SetRasterizerState(rasterizer);
    ctx->SetSamplers(GpuShaderStage::Pixel, 0, 1, &sampler);
    ctx->SetPrimitiveTopology(GpuTopology::TriangleList);
    ctx->SetInputLayout(m_device->inputLayout.Get());
    ctx->SetVertexShader(m_device->vertexShader.Get());
    ctx->SetPixelShader(m_device->pixelShader.Get());
    GpuBuffer* vertexBuffer = m_context->vertexBuffer.Get();
    const uint32_t stride = sizeof(SpriteVertex), offset = 0;
    ctx->SetVertexBuffers(0, 1, &vertexBuffer, &stride, &offset);
    ctx->SetIndexBuffer(m_device->indexBuffer.Get(), GpuFormat_R16_UInt, 0);

    const Base::Mat4 transform =
        m_rotation == SpriteRotation_Unspecified ? m_transform : m_transform * ViewportMatrix();
    GpuMappedSubresource mapped;
    ThrowIfFailed(ctx->Map(m_context->constantBuffer.Get(), 0, GpuMap::WriteDiscard, 0, &mapped),
                  "map the sprite batch's constant buffer");
    std::memcpy(mapped.data, transform.m, sizeof transform.m);
    ctx->Unmap(m_context->constantBuffer.Get(), 0);
    GpuBuffer* constants = m_context->constantBuffer.Get();
    ctx->SetConstantBuffers(GpuShaderStage::Vertex, 0, 1, &constants);

    if (ctx->IsDeferred()) m_context->writePosition = 0;
    if (m_callback) m_callback();
  }

  void OrderQueue() {
    if (m_sorted.size() < m_count) {
      const size_t from = m_sorted.size();
      m_sorted.resize(m_count);
      for (size_t k = from; k < m_count; ++k) m_sorted[k] = &m_queue[k];
    }
    auto first = m_sorted.begin(), last = m_sorted.begin() + m_count;
    switch (m_sortMode) {
      case SpriteSortMode_ByTexture:
        std::sort(first, last, [](const QueuedSprite* a, const QueuedSprite* b) {
          return std::less<const void*>()(a->texture, b->texture);
        });
        break;
      case SpriteSortMode_DepthDescending:
        std::sort(first, last, [](const QueuedSprite* a, const QueuedSprite* b) {
          return a->originRotationDepth.w > b->originRotationDepth.w;
        });
        break;
      case SpriteSortMode_DepthAscending:
        std::sort(first, last, [](const QueuedSprite* a, const QueuedSprite* b) {
          return a->originRotationDepth.w < b->originRotationDepth.w;
        });
        break;
      default: break;
    }
  }

  void DrawQueued() {
    OrderQueue();
    GpuShaderResourceView* current = nullptr;
    uint32_t runStart = 0;
    for (uint32_t k = 0; k < m_count; ++k) {
      GpuShaderResourceView* texture = m_sorted[k]->texture;
      if (texture != current) {
        if (k > runStart) DrawRun(current, &m_sorted[runStart], k - runStart);
        current = texture;
        runStart = k;
      }
    }
    if (m_count > runStart) DrawRun(current, &m_sorted[runStart], m_count - runStart);
    m_count = 0;
    m_textureRefs.clear();
    if (m_sortMode != SpriteSortMode_Queued) m_sorted.clear();
  }

  void DrawRun(GpuShaderResourceView* texture, const QueuedSprite* const* sprites, uint32_t count) {
    GpuContext* ctx = m_context->context.Get();
    ctx->SetShaderResources(GpuShaderStage::Pixel, 0, 1, &texture);
    GpuRef<GpuResource> resource;
    texture->GetResource(resource.GetAddressOf());
    GpuTexture2D* texture2D = AsTexture2D(resource.Get());
    if (!texture2D) throw SpriteError("SpriteBatch can only draw Texture2D resources");
    const Base::Vec2 size(float(texture2D->GetDesc().width), float(texture2D->GetDesc().height));
    const Base::Vec2 inverse(1.0f / size.x, 1.0f / size.y);

    while (count > 0) {
      uint32_t n = count;
      const uint32_t space = SpritesPerBuffer - m_context->writePosition;
      if (n > space) {
        if (space < MinTailSprites) {
          m_context->writePosition = 0;
          n = std::min(count, SpritesPerBuffer);
        } else {
          n = space;
        }
      }
      const GpuMap mode = m_context->writePosition == 0 ? GpuMap::WriteDiscard : GpuMap::WriteNoOverwrite;
      GpuMappedSubresource mapped;
      ThrowIfFailed(ctx->Map(m_context->vertexBuffer.Get(), 0, mode, 0, &mapped), "map the sprite batch's vertex buffer");
      auto* vertices = static_cast<SpriteVertex*>(mapped.data) + m_context->writePosition * kVerticesPerSprite;
      for (uint32_t k = 0; k < n; ++k) WriteSpriteVertices(*sprites[k], size, inverse, vertices + k * kVerticesPerSprite);
      ctx->Unmap(m_context->vertexBuffer.Get(), 0);
      ctx->DrawIndexed(n * kIndicesPerSprite, m_context->writePosition * kIndicesPerSprite, 0);
      m_context->writePosition += n;
      sprites += n;
      count -= n;
    }
  }

  static void WriteSpriteVertices(const QueuedSprite& sprite, const Base::Vec2& textureSize, const Base::Vec2& inverse,
                                  SpriteVertex* out) {
    constexpr float kEpsilon = 1.1920929e-07f;
    Base::Vec4 source = sprite.source;
    const Base::Vec2 sourceSize(source.z != 0 ? source.z : kEpsilon, source.w != 0 ? source.w : kEpsilon);
    Base::Vec2 origin(sprite.originRotationDepth.x / sourceSize.x, sprite.originRotationDepth.y / sourceSize.y);
    if (sprite.flags & kSourceInTexels) {
      source = Base::Vec4(source.x * inverse.x, source.y * inverse.y, source.z * inverse.x, source.w * inverse.y);
    } else {
      origin = Base::Vec2(origin.x * inverse.x, origin.y * inverse.y);
    }
    Base::Vec2 destSize(sprite.destination.z, sprite.destination.w);
    if (!(sprite.flags & kDestSizeInPixels)) destSize = Base::Vec2(destSize.x * textureSize.x, destSize.y * textureSize.y);

    const float rotation = sprite.originRotationDepth.z;
    Base::Vec2 a(1, 0), b(0, 1);
    if (rotation != 0) {
      const float c = std::cos(rotation), s = std::sin(rotation);
      a = Base::Vec2(c, s);
      b = Base::Vec2(-s, c);
    }
    static constexpr float kCorners[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    const int flip = sprite.flags & 3;
    for (int i = 0; i < 4; ++i) {
      const float px = (kCorners[i][0] - origin.x) * destSize.x;
      const float py = (kCorners[i][1] - origin.y) * destSize.y;
      SpriteVertex& v = out[i];
      v.position[0] = sprite.destination.x + px * a.x + py * b.x;
      v.position[1] = sprite.destination.y + px * a.y + py * b.y;
      v.position[2] = sprite.originRotationDepth.w;
      v.colour[0] = sprite.colour.x;
      v.colour[1] = sprite.colour.y;
      v.colour[2] = sprite.colour.z;
      v.colour[3] = sprite.colour.w;
      const float* uvCorner = kCorners[i ^ flip];
      v.uv[0] = uvCorner[0] * source.z + source.x;
      v.uv[1] = uvCorner[1] * source.w + source.y;
    }
  }
};

SpriteBatch::SpriteBatch(GpuContext* context) : m_impl(std::make_unique<Impl>(context)) {}

SpriteBatch::~SpriteBatch() = default;

void SpriteBatch::Begin(SpriteSortMode sortMode, GpuBlendState* blend, GpuSamplerState* sampler,
                        GpuDepthStencilState* depthStencil, GpuRasterizerState* rasterizer, ShaderCallback callback,
                        const Base::Mat4& transform) {
  m_impl->Begin(sortMode, blend, sampler, depthStencil, rasterizer, std::move(callback), transform);
}

void SpriteBatch::Draw(GpuShaderResourceView* texture, const Base::Vec2& position, const GpuRect* source,
                       const Base::Vec4& colour, float rotation, const Base::Vec2& origin, const Base::Vec2& scale,
                       SpriteFlip flip, float layerDepth) {
  m_impl->Draw(texture, Base::Vec4(position.x, position.y, scale.x, scale.y), source, colour,
               Base::Vec4(origin.x, origin.y, rotation, layerDepth), int32_t(flip) & 3);
}

void SpriteBatch::Draw(GpuShaderResourceView* texture, const Base::Vec4& position, const GpuRect* source,
                       const Base::Vec4& colour, float rotation, const Base::Vec4& origin, const Base::Vec4& scale,
                       SpriteFlip flip, float layerDepth) {
  m_impl->Draw(texture, Base::Vec4(position.x, position.y, scale.x, scale.y), source, colour,
               Base::Vec4(origin.x, origin.y, rotation, layerDepth), int32_t(flip) & 3);
}

void SpriteBatch::End() { m_impl->End(); }

void SpriteBatch::SetRotation(SpriteRotation rotation) { m_impl->m_rotation = rotation; }
SpriteRotation SpriteBatch::GetRotation() const { return m_impl->m_rotation; }
bool SpriteBatch::IsInPair() const { return m_impl->m_inPair; }
uint32_t SpriteBatch::QueuedCount() const { return m_impl->m_count; }
uint32_t SpriteBatch::QueueCapacity() const { return m_impl->m_capacity; }
uint32_t SpriteBatch::WritePosition() const { return m_impl->m_context->writePosition; }

}  // namespace DirectX
