// The ".spritefont" layout, written front to back with no gaps.
#include "SpriteFontWriter.h"

#include "Bytes.h"
#include "tools/FileWriter/FileWriter.h"

namespace ContentWriters {

std::vector<uint8_t> WriteSpriteFontBytes(const SpriteFontDesc& desc) {
  std::vector<uint8_t> out;
  PutBytes(out, "SPRTFONT", 8);
  Put<uint32_t>(out, uint32_t(desc.glyphs.size()));
  for (const SpriteFontGlyph& g : desc.glyphs) Put(out, g);
  Put<float>(out, desc.lineSpacing);
  Put<uint32_t>(out, desc.defaultCharacter);
  Put<uint32_t>(out, desc.width);
  Put<uint32_t>(out, desc.height);
  Put<uint32_t>(out, desc.format);
  Put<uint32_t>(out, desc.rowPitch);
  Put<uint32_t>(out, desc.rowCount);
  out.insert(out.end(), desc.pixels.begin(), desc.pixels.end());
  return out;
}

bool WriteSpriteFontFile(const std::string& path, const SpriteFontDesc& desc) {
  return Tools::WriteFileWhole(path, WriteSpriteFontBytes(desc));
}

SpriteFontDesc MakeBlockFont(const std::string& characters, int32_t glyphWidth, int32_t glyphHeight,
                             float lineSpacing, uint32_t defaultCharacter) {
  SpriteFontDesc desc;
  desc.lineSpacing = lineSpacing;
  desc.defaultCharacter = defaultCharacter;
  desc.width = uint32_t(glyphWidth) * uint32_t(characters.size() ? characters.size() : 1);
  desc.height = uint32_t(glyphHeight ? glyphHeight : 1);
  desc.rowPitch = desc.width * 4;
  desc.rowCount = desc.height;
  desc.pixels.assign(size_t(desc.rowPitch) * desc.rowCount, 0xff);
  for (size_t i = 0; i < characters.size(); ++i) {
    SpriteFontGlyph g;
    g.character = uint8_t(characters[i]);
    g.left = int32_t(i) * glyphWidth;
    g.right = g.left + glyphWidth;
    g.bottom = glyphHeight;
    g.xAdvance = 1;
    desc.glyphs.push_back(g);
  }
  return desc;
}

}  // namespace ContentWriters
