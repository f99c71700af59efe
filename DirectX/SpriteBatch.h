// Textured, coloured, rotated and mirrored quads collected between Begin and End and drawn in
// runs of one texture through a vertex buffer that every batch of a context fills as a ring.
#pragma once

#include "Base/Matrix.h"
#include "Base/Vector.h"
#include "Platform/Graphics/GpuContext.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace DirectX {

enum SpriteSortMode : int32_t {
  SpriteSortMode_Queued = 0,           // drawn at End in the order of the Draw calls
  SpriteSortMode_Immediate = 1,        // each sprite drawn inside its own Draw
  SpriteSortMode_ByTexture = 2,        // at End, by texture view address
  SpriteSortMode_DepthDescending = 3,  // at End, largest layer depth first (back to front)
  SpriteSortMode_DepthAscending = 4,   // at End, smallest layer depth first
};

// Only the low two bits count.
enum SpriteFlip : int32_t {
  SpriteFlip_None = 0,
  SpriteFlip_Horizontally = 1,
  SpriteFlip_Vertically = 2,
  SpriteFlip_Both = 3,
};

// The batch's failures; the text is what went wrong (for a refused GPU creation or map, "Failed to" and
// the step and object, as "Failed to create the sprite batch's index buffer").
class SpriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A sprite shader that could not be read ("load") or made ("create"): the step and the file, so that the
// renderer reports it as it reports its own shaders.
class SpriteShaderError : public SpriteError {
 public:
  SpriteShaderError(const char* failedStep, const std::string& file)
      : SpriteError(std::string("Failed to ") + failedStep + " Shader " + file), step(failedStep), path(file) {}
  const char* step;
  std::string path;
};

// Output rotation of the display: 0 leaves Begin's matrix as the whole transform, any other
// value appends the viewport's pixel-to-clip matrix (turned for 2, 3 and 4).
enum SpriteRotation : uint32_t {
  SpriteRotation_Unspecified = 0,
  SpriteRotation_Identity = 1,
  SpriteRotation_Rotate90 = 2,
  SpriteRotation_Rotate180 = 3,
  SpriteRotation_Rotate270 = 4,
};

// One vertex as the sprite shaders read it.
struct SpriteVertex {
  float position[3];  // z is the layer depth
  float colour[4];
  float uv[2];
};
static_assert(sizeof(SpriteVertex) == 36, "the sprite input layout is 36 bytes a vertex");

class SpriteBatch {
 public:
  static constexpr uint32_t SpritesPerBuffer = 2048;
  static constexpr uint32_t MinTailSprites = 128;
  static constexpr uint32_t MinQueueCapacity = 64;

  using ShaderCallback = std::function<void()>;

  // The shaders, index buffer and states are shared by every batch of the device, the vertex
  // and constant buffers by every batch of the context. Throws SpriteError when they cannot be
  // made (the shaders come from "content/shaders/SpriteBatch_VS.cso" and "SpriteBatch_PS.cso").
  explicit SpriteBatch(Platform::GpuContext* context);
  virtual ~SpriteBatch();
  SpriteBatch(const SpriteBatch&) = delete;
  SpriteBatch& operator=(const SpriteBatch&) = delete;

  // Null states take the defaults: premultiplied alpha blend, no depth, back-face culling,
  // linear clamp sampling. The callback runs last when the pipeline is bound.
  void Begin(SpriteSortMode sortMode = SpriteSortMode_Queued, Platform::GpuBlendState* blend = nullptr,
             Platform::GpuSamplerState* sampler = nullptr, Platform::GpuDepthStencilState* depthStencil = nullptr,
             Platform::GpuRasterizerState* rasterizer = nullptr, ShaderCallback callback = nullptr,
             const Base::Mat4& transform = Base::Mat4());

  // `source` is left, top, right, bottom in texels (right and bottom exclusive), or null for the
  // whole texture. `origin` is in the source area's texels: the point that lands on `position`
  // and about which the sprite turns.
  void Draw(Platform::GpuShaderResourceView* texture, const Base::Vec2& position, const Platform::GpuRect* source,
            const Base::Vec4& colour, float rotation, const Base::Vec2& origin, const Base::Vec2& scale,
            SpriteFlip flip = SpriteFlip_None, float layerDepth = 0.0f);
  // The same with 4-float vectors of which the first two components are used.
  void Draw(Platform::GpuShaderResourceView* texture, const Base::Vec4& position, const Platform::GpuRect* source,
            const Base::Vec4& colour, float rotation, const Base::Vec4& origin, const Base::Vec4& scale,
            SpriteFlip flip = SpriteFlip_None, float layerDepth = 0.0f);

  void End();

  void SetRotation(SpriteRotation rotation);
  SpriteRotation GetRotation() const;

  // Inside a Begin/End pair.
  bool IsInPair() const;
  // For tests: queued sprites, the queue's capacity and the context's ring position.
  uint32_t QueuedCount() const;
  uint32_t QueueCapacity() const;
  uint32_t WritePosition() const;

  class Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace DirectX
