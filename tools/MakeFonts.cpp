// Rasterises a TrueType font into a font directory of ".spritefont" files, one per pixel size:
//   MakeFonts <font.ttf> <output directory> <name> <size> [<size> ...]
// writes <output directory>/<name>_<size>.spritefont. Glyphs are premultiplied white (R8G8B8A8)
// for the printable ASCII and Latin-1 bytes; the font has no default character.
#include "ContentWriters/SpriteFontWriter.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "MakeFonts: error: %s\n", message.c_str());
  return 1;
}

struct Rendered {
  uint32_t code;
  int32_t width, height, left, top, advance;
  std::vector<uint8_t> coverage;  // width x height
  int32_t x = 0, y = 0;           // place in the texture
};

// Shelf packing with a texel of space around every glyph, so linear filtering never bleeds.
uint32_t Pack(std::vector<Rendered>& glyphs, uint32_t width) {
  int32_t x = 1, y = 1, shelf = 0;
  for (Rendered& g : glyphs) {
    if (x + g.width + 1 > int32_t(width)) {
      x = 1;
      y += shelf + 1;
      shelf = 0;
    }
    g.x = x;
    g.y = y;
    x += g.width + 1;
    shelf = std::max(shelf, g.height);
  }
  return uint32_t(y + shelf + 1);
}

bool WriteSize(FT_Face face, int size, const std::string& path) {
  if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(size)) != 0) return false;
  const int32_t ascender = int32_t(face->size->metrics.ascender >> 6);
  std::vector<Rendered> glyphs;
  for (uint32_t code = 32; code < 256; ++code) {
    if (code >= 127 && code < 160) continue;  // control bytes
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    Rendered g{code, int32_t(bitmap.width), int32_t(bitmap.rows), slot->bitmap_left, slot->bitmap_top,
               int32_t(slot->advance.x >> 6), {}};
    g.coverage.resize(size_t(g.width) * size_t(g.height));
    for (int32_t row = 0; row < g.height; ++row)
      for (int32_t col = 0; col < g.width; ++col)
        g.coverage[size_t(row * g.width + col)] = bitmap.buffer[row * bitmap.pitch + col];
    glyphs.push_back(std::move(g));
  }
  if (glyphs.empty()) return false;

  const uint32_t width = size <= 24 ? 256 : size <= 48 ? 512 : 1024;
  const uint32_t height = Pack(glyphs, width);
  ContentWriters::SpriteFontDesc desc;
  desc.lineSpacing = float(face->size->metrics.height >> 6);
  desc.width = width;
  desc.height = height;
  desc.rowPitch = width * 4;
  desc.rowCount = height;
  desc.pixels.assign(size_t(desc.rowPitch) * height, 0);
  for (const Rendered& g : glyphs) {
    for (int32_t row = 0; row < g.height; ++row)
      for (int32_t col = 0; col < g.width; ++col) {
        const uint8_t a = g.coverage[size_t(row * g.width + col)];
        uint8_t* texel = &desc.pixels[size_t(g.y + row) * desc.rowPitch + size_t(g.x + col) * 4];
        texel[0] = texel[1] = texel[2] = texel[3] = a;  // white, premultiplied
      }
    ContentWriters::SpriteFontGlyph out;
    out.character = g.code;
    out.left = g.x;
    out.top = g.y;
    out.right = g.x + g.width;
    out.bottom = g.y + g.height;
    out.xOffset = float(g.left);
    out.yOffset = float(ascender - g.top);
    out.xAdvance = float(g.advance - g.left - g.width);
    desc.glyphs.push_back(out);
  }
  return ContentWriters::WriteSpriteFontFile(path, desc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return Fail("usage: MakeFonts <font.ttf> <output directory> <name> <size> [<size> ...]");
  FT_Library library;
  if (FT_Init_FreeType(&library) != 0) return Fail("FreeType does not start");
  FT_Face face;
  if (FT_New_Face(library, argv[1], 0, &face) != 0) return Fail(std::string(argv[1]) + ": not a font FreeType reads");
  std::error_code error;
  std::filesystem::create_directories(argv[2], error);
  int result = 0;
  for (int i = 4; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    const std::string path = std::string(argv[2]) + "/" + argv[3] + "_" + argv[i] + ".spritefont";
    if (size <= 0 || !WriteSize(face, size, path)) result = Fail(path + ": cannot be written");
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return result;
}
