// A font resource: the directory "content/font/<name>" of one typeface rasterised at several sizes,
// one ".spritefont" file per size; text at any size uses the nearest larger size, scaled.
#pragma once

#include "Base/Vector.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace DirectX {
class SpriteFontChar;
}

namespace Graphics {

class Font {
 public:
  explicit Font(const char* name);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  bool IsLoaded() const { return m_loaded; }

  // (scale, sprite font): the first size strictly above `size`, else the largest, with
  // scale = size / that size. (0, null) for a font with no sizes.
  std::pair<float, DirectX::SpriteFontChar*> GetFontForSize(float size) const;

  // The text's width and height at `size`. Bytes the font has no glyph for are left out (the
  // first such text of the font is logged); (0, 0) when nothing can be measured.
  Base::Vec2 MeasureString(const char* text, float size);

  // `text` without the bytes `font` has no glyph for; logs the first such text of this font.
  std::string DrawableText(const DirectX::SpriteFontChar& font, const char* text);

  // The size a ".spritefont" file name gives: the decimal text between its last '_' and its last
  // '.'; 0 when there is none or it is not a positive number.
  static float SizeFromFileName(const std::string& fileName);

  bool m_loaded = false;
  std::vector<std::pair<float, std::unique_ptr<DirectX::SpriteFontChar>>> m_sizes;
  std::string m_directory = "content/font/";
  std::string m_extension = ".spritefont";
  std::string m_unused;

 private:
  bool LoadDirectory(const std::string& name, bool firstAttempt);
  bool m_warnedMissingGlyph = false;
};

}  // namespace Graphics
