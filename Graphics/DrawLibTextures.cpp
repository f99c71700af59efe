// DrawLib's calls on the 2D texture manager, kept in a source file of their own.
#include "Graphics/DrawLib.h"

#include "Graphics/Font.h"
#include "Graphics/Log.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Texture.h"

namespace Graphics {

uint32_t DrawLib::GetTextureID(const char* fileName) {
  if (!fileName) return uint32_t(-1);
  auto& textures = Base::Resources<Tex2D>::Instance();
  textures.GetResourceByName(fileName);
  return uint32_t(textures.GetResourceID(fileName));
}

Base::Vec2 DrawLib::GetTextureSize() {
  Tex2D* texture = Base::Resources<Tex2D>::Instance().GetResourceById(m_sprite.texture);
  return texture ? texture->GetSize() : Base::Vec2(0, 0);
}

void DrawLib::InitializeBaseAssets() {
  auto& textures = Base::Resources<Tex2D>::Instance();
  if (!textures.GetResourceByName("White.png")) {
    GFX_LOG(Error, "DrawLib could not find White.png");
    return;
  }
  auto& fonts = Base::Resources<Font>::Instance();
  if (!fonts.GetResourceByName("Arial")) {
    GFX_LOG(Error, "DrawLib could not find Arial.spritefont");
    return;
  }
  m_whiteTexture = m_sprite.texture = uint32_t(textures.GetResourceID("White.png"));
  m_text.font = uint32_t(fonts.GetResourceID("Arial"));
}

}  // namespace Graphics
