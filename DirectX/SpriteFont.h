// A bitmap font read from a ".spritefont" file: one texture of glyphs and a 256-entry glyph table,
// measured and drawn one sprite per glyph through a sprite batch.
#pragma once

#include "DirectX/SpriteBatch.h"

#include <cstdint>
#include <memory>
#include <string>

namespace DirectX {

class BinaryReader;

// A glyph record exactly as the file stores it.
struct SpriteGlyph {
  uint32_t character;  // only the low byte is the code
  int32_t left, top, right, bottom;  // texels; right and bottom exclusive
  float xOffset;   // added to the pen before the glyph
  float yOffset;   // added to the glyph's top and to its measured height
  float xAdvance;  // added to the pen after the glyph's width
};
static_assert(sizeof(SpriteGlyph) == 32, "glyph records are read in place");

class SpriteFontChar {
 public:
  // Reads the file and makes its texture on `device`. Throws SpriteError on any failure:
  // "BinaryReader" (unreadable), "End of file", "Not a sprite font builder output binary",
  // "Character not in font" (a default character without a glyph), or no text (texture refused).
  SpriteFontChar(Platform::GpuDevice* device, const std::wstring& fileName);
  // The same from bytes already read. A null device reads and measures only (no texture).
  SpriteFontChar(Platform::GpuDevice* device, BinaryReader& reader);
  virtual ~SpriteFontChar();
  SpriteFontChar(const SpriteFontChar&) = delete;
  SpriteFontChar& operator=(const SpriteFontChar&) = delete;

  // (width, height, 0, 0) of the block of text in pixels at scale 1. Throws
  // "Character not in font" for a byte with no glyph when the font has no default.
  Base::Vec4 MeasureString(const char* text) const;

  // Between the batch's Begin and End; one Draw per visible glyph. Throws as MeasureString,
  // leaving the glyphs before the failing byte queued.
  void DrawString(SpriteBatch* batch, const char* text, const Base::Vec2& position, const Base::Vec4& colour,
                  float rotation, const Base::Vec2& origin, const Base::Vec2& scale,
                  SpriteFlip flip = SpriteFlip_None, float layerDepth = 0.0f) const;
  void DrawString(SpriteBatch* batch, const char* text, const Base::Vec4& position, const Base::Vec4& colour,
                  float rotation, const Base::Vec4& origin, const Base::Vec4& scale,
                  SpriteFlip flip = SpriteFlip_None, float layerDepth = 0.0f) const;

  // Whether `c` draws: its own glyph or the default one.
  bool ContainsCharacter(uint8_t c) const;
  float GetLineSpacing() const;
  Platform::GpuShaderResourceView* GetTexture() const;

  class Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace DirectX
