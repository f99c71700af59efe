// Loading a font directory size by size, picking a size for a request, and measuring text.
#include "Graphics/Font.h"

#include "DirectX/SpriteFont.h"
#include "Graphics/Device.h"
#include "Graphics/Log.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace Graphics {

Font::Font(const char* name) { m_loaded = LoadDirectory(name ? name : ""); }

Font::~Font() = default;

float Font::SizeFromFileName(const std::string& fileName) {
  const size_t underscore = fileName.rfind('_');
  const size_t dot = fileName.rfind('.');
  if (underscore == std::string::npos || dot == std::string::npos || dot <= underscore + 1) return 0;
  const std::string digits = fileName.substr(underscore + 1, dot - underscore - 1);
  char* end = nullptr;
  const float size = std::strtof(digits.c_str(), &end);
  if (end == digits.c_str() || !(size > 0) || size > 1e6f) return 0;
  return size;
}

bool Font::LoadDirectory(const std::string& name) {
  GFX_LOG(Verbose, "Loading font %s", name.c_str());
  const std::string path = m_directory + name;
  std::error_code error;
  if (!name.empty() && std::filesystem::is_directory(path, error)) {
    Device* device = GetDevice();
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
      entries.push_back(it->path());
    for (const std::filesystem::path& entry : entries) {
      const std::string fileName = entry.filename().string();
      if (entry.extension().string() != m_extension || fileName.find(name) == std::string::npos) continue;
      const std::string fullPath = entry.generic_string();
      // A file without a size in its name would scale text by infinity: it is not a size.
      const float size = SizeFromFileName(fileName);
      if (size <= 0) {
        GFX_LOG_EACH(Warning, "Could not load font %s", fullPath.c_str());
        continue;
      }
      try {
        auto font = std::make_unique<DirectX::SpriteFontChar>(device->m_device,
                                                              std::wstring(fullPath.begin(), fullPath.end()));
        m_sizes.emplace_back(size, std::move(font));
      } catch (const std::exception&) {
        GFX_LOG_EACH(Warning, "Could not load font %s", fullPath.c_str());
      }
    }
    if (m_sizes.empty()) {
      GFX_LOG_EACH(Warning, "No Font files found in Font Directory %s", path.c_str());
      return false;
    }
    std::sort(m_sizes.begin(), m_sizes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return true;
  }
  GFX_LOG_EACH(Warning, "Could not find fontName %s defaulting to Arial", name.c_str());
  if (name == kFallbackName) {
    // The folder looked for follows in a line of its own: without it no text is drawn anywhere.
    GFX_LOG_EACH(Error, "Could not find Arial font");
    GFX_LOG_EACH(Info, "The font folder %s is not a folder: no text is drawn.", path.c_str());
    return false;
  }
  // Every missing name would otherwise hold a whole copy of the fallback's sizes.
  m_standIn = kFallbackName;
  return false;
}

std::pair<float, DirectX::SpriteFontChar*> Font::GetFontForSize(float size) const {
  if (m_sizes.empty()) return {0.0f, nullptr};
  for (const auto& [fontSize, font] : m_sizes)
    if (fontSize > size) return {size / fontSize, font.get()};
  return {size / m_sizes.back().first, m_sizes.back().second.get()};
}

std::string Font::DrawableText(const DirectX::SpriteFontChar& font, const char* text) {
  std::string kept;
  if (!text) return kept;
  for (const char* p = text; *p; ++p) {
    const uint8_t c = uint8_t(*p);
    if (c == '\n' || c == '\r' || font.ContainsCharacter(c)) {
      kept.push_back(*p);
    } else if (!m_warnedMissingGlyph) {
      m_warnedMissingGlyph = true;
      GFX_LOG(Warning, "Character not in font: byte %u of \"%s\" is left out", unsigned(c), text);
    }
  }
  return kept;
}

Base::Vec2 Font::MeasureString(const char* text, float size) {
  const auto [scale, font] = GetFontForSize(size);
  if (!font || !text) return Base::Vec2(0, 0);
  try {
    const Base::Vec4 measured = font->MeasureString(DrawableText(*font, text).c_str());
    return Base::Vec2(measured.x * scale, measured.y * scale);
  } catch (const std::exception& failure) {
    GFX_LOG(Error, "Could not measure text: %s", failure.what());
    return Base::Vec2(0, 0);
  }
}

}  // namespace Graphics
