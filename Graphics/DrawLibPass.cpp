// Sprite and text records to sprite-batch draws: y-up placement, the block's plane and offset.
#include "Graphics/DrawLibPass.h"

#include "DirectX/CommonStates.h"
#include "DirectX/SpriteBatch.h"
#include "DirectX/SpriteFont.h"
#include "Base/Reflection/Registration.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Font.h"
#include "Graphics/Log.h"
#include "Graphics/RenderCore.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace Graphics {

namespace {

// One line per distinct failure: a broken record would otherwise log every frame.
void LogFailureOnce(const char* what) {
  static std::mutex mutex;
  static std::set<std::string> logged;
  std::lock_guard<std::mutex> lock(mutex);
  if (logged.insert(what).second) GFX_LOG(Error, "DrawLib pass: %s", what);
}

void DrawSprites(const DrawBlock& block, DirectX::SpriteBatch& batch) {
  auto& textures = Base::Resources<Tex2D>::Instance();
  for (const SpriteRecord& sprite : block.sprites) {
    Tex2D* texture = textures.GetResourceById(sprite.texture);
    if (!texture || !texture->GetShaderResourceView(0)) continue;
    const Base::Vec2 size = texture->GetSize();
    const int32_t width = int32_t(size.x), height = int32_t(size.y);
    if (width <= 0 || height <= 0) continue;
    Platform::GpuRect source{int32_t(float(width) * sprite.uvMin.x), int32_t(float(height) * sprite.uvMin.y),
                             int32_t(float(width) * sprite.uvMax.x), int32_t(float(height) * sprite.uvMax.y)};
    // UVs given right to left (or bottom to top) mirror the sprite. A reversed source rectangle
    // would turn the quad's winding and the rasteriser would cull it: the same quad is drawn from
    // the rectangle put right with the batch mirroring the texture instead.
    int flip = DirectX::SpriteFlip_None;
    if (source.right < source.left) {
      std::swap(source.left, source.right);
      flip |= DirectX::SpriteFlip_Horizontally;
    }
    if (source.bottom < source.top) {
      std::swap(source.top, source.bottom);
      flip |= DirectX::SpriteFlip_Vertically;
    }
    const Base::Vec2 origin(float(source.right - source.left) * 0.5f, float(source.bottom - source.top) * 0.5f);
    const Base::Vec2 scale(sprite.scale.x / float(width), -(sprite.scale.y / float(height)));
    const Base::Vec2 position(
        sprite.position.x + 0.5f * sprite.scale.x * (sprite.uvMax.x - sprite.uvMin.x) + block.offset.x,
        -sprite.position.y - 0.5f * sprite.scale.y * (sprite.uvMax.y - sprite.uvMin.y) + block.offset.y);
    batch.Draw(texture->GetShaderResourceView(0), position, &source, sprite.colour, sprite.rotation, origin, scale,
               DirectX::SpriteFlip(flip), sprite.position.z);
  }
}

void DrawTexts(const DrawBlock& block, DirectX::SpriteBatch& batch, BaseCamera* camera) {
  auto& fonts = Base::Resources<Font>::Instance();
  for (const TextRecord& text : block.texts) {
    Font* font = fonts.GetResourceById(text.font);
    if (!font || !text.text) continue;
    const auto [scale, spriteFont] = font->GetFontForSize(text.size);
    if (!spriteFont) continue;
    Base::Vec2 textScale = text.scale;
    if (camera && !camera->m_isOrtho) textScale = textScale * 0.005f;
    const std::string drawable = font->DrawableText(*spriteFont, text.text);
    spriteFont->DrawString(&batch, drawable.c_str(),
                           Base::Vec2(block.offset.x + text.position.x, block.offset.y - text.position.y),
                           text.colour, text.rotation, Base::Vec2(0, 0),
                           Base::Vec2(textScale.x * scale, -(textScale.y * scale)), DirectX::SpriteFlip_None,
                           text.position.z);
  }
}

void DrawBlockRecords(const DrawBlock& block, BaseCamera* camera, DirectX::SpriteBatch& batch,
                      const DirectX::CommonStates& states, Shader* pixelShader) {
  // The batch takes row vectors: the plane's transform, transposed, then the camera.
  const Base::Mat4 viewProjection = camera ? camera->GetViewProjectionMatrix() : Base::Mat4();
  const Base::Mat4 transform = block.transform.Transposed() * viewProjection;
  batch.SetRotation(DirectX::SpriteRotation_Unspecified);
  try {
    batch.Begin(DirectX::SpriteSortMode_DepthDescending, states.PremultipliedAlphaBlend(), states.LinearWrapSampler(),
                states.DepthReadOnly(), states.CullBackFaces(),
                [pixelShader] {
                  if (pixelShader) pixelShader->Bind();
                },
                transform);
    DrawSprites(block, batch);
    DrawTexts(block, batch, camera);
    batch.End();
  } catch (const std::exception& failure) {
    LogFailureOnce(failure.what());
    // A later Begin would refuse a batch left open: draw what was queued, or give up on it.
    if (batch.IsInPair()) {
      try {
        batch.End();
      } catch (const std::exception& again) {
        LogFailureOnce(again.what());
      }
    }
  }
}

}  // namespace

void RenderDrawLibPass(const RenderList::Layer& layer, BaseCamera* camera, DirectX::SpriteBatch& batch,
                       const DirectX::CommonStates& states, Shader* pixelShader) {
  if (layer.block.sprites.empty() && layer.block.texts.empty() && layer.blocks.empty()) return;
  DrawBlockRecords(layer.block, camera, batch, states, pixelShader);
  for (const DrawBlock& block : layer.blocks) DrawBlockRecords(block, camera, batch, states, pixelShader);
}

}  // namespace Graphics

ORV_ON_LOAD { Graphics::RenderCore::SetDrawLibPass(&Graphics::RenderDrawLibPass); }
