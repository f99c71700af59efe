// A font resource: the directory "content/font/<name>" of one typeface rasterised at several sizes,
// one ".spritefont" file per size; text at any size uses the nearest larger size, scaled. A name
// without a directory stands for the fallback font, which the font manager shares.
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

  // The font that every font name without a directory stands for.
  static constexpr const char* kFallbackName = "Arial";
  // A font without a directory does not load but names the fallback: the font manager maps its name
  // to the one shared fallback font instead of loading a copy of it per name. Null otherwise.
  const char* StandInName() const { return m_standIn; }
  // Names that load neither way keep no entry of the font manager.
  static constexpr bool kKeepsFailedNames = false;

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
  bool LoadDirectory(const std::string& name);
  bool m_warnedMissingGlyph = false;
  const char* m_standIn = nullptr;
};

}  // namespace Graphics
