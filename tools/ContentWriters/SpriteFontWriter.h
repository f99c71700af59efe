// Writes ".spritefont" files: the magic, the glyph records, line spacing, default character and
// the glyph texture's rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ContentWriters {

// Laid out as the file stores a glyph record.
struct SpriteFontGlyph {
  uint32_t character = 0;
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  float xOffset = 0, yOffset = 0, xAdvance = 0;
};
static_assert(sizeof(SpriteFontGlyph) == 32, "written as it stands");

struct SpriteFontDesc {
  std::vector<SpriteFontGlyph> glyphs;  // in file order
  float lineSpacing = 0;
  uint32_t defaultCharacter = 0;  // 0: none
  uint32_t width = 0, height = 0;
  uint32_t format = 28;           // R8G8B8A8_UNorm
  uint32_t rowPitch = 0;          // bytes
  uint32_t rowCount = 0;
  std::vector<uint8_t> pixels;    // rowPitch x rowCount bytes, top row first
};

std::vector<uint8_t> WriteSpriteFontBytes(const SpriteFontDesc& desc);
bool WriteSpriteFontFile(const std::string& path, const SpriteFontDesc& desc);

// A font of solid glyphs for tests: every code of `characters` gets a `glyphWidth` x `glyphHeight`
// block of premultiplied white in an RGBA texture, x advance 1, y offset 0.
SpriteFontDesc MakeBlockFont(const std::string& characters, int32_t glyphWidth, int32_t glyphHeight,
                             float lineSpacing, uint32_t defaultCharacter = 0);

}  // namespace ContentWriters
