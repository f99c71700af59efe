// Sprite font loading, the glyph walk shared by measuring and drawing, and block mirroring.
#include "DirectX/SpriteFont.h"

#include "DirectX/BinaryReader.h"
#include "Platform/Graphics/GlFormats.h"
#include "Platform/Graphics/GpuDevice.h"

#include <algorithm>
#include <cwctype>

namespace DirectX {

using namespace Platform;

class SpriteFontChar::Impl {
 public:
  struct Entry {
    SpriteGlyph glyph;
    bool present = false;
  };

  Impl(GpuDevice* device, BinaryReader& reader) {
    static const char kMagic[] = "SPRTFONT";
    for (int i = 0; i < 8; ++i)
      if (reader.Read<uint8_t>() != uint8_t(kMagic[i])) throw SpriteError("Not a sprite font builder output binary");

    const uint32_t count = reader.Read<uint32_t>();
    const SpriteGlyph* glyphs = reader.ReadArray<SpriteGlyph>(count);
    for (uint32_t i = 0; i < count; ++i) {
      SpriteGlyph glyph;
      std::memcpy(&glyph, &glyphs[i], sizeof glyph);  // records sit unaligned in the file
      Entry& entry = m_table[glyph.character & 0xff];
      entry.glyph = glyph;
      entry.present = true;
    }
    m_lineSpacing = reader.Read<float>();
    const uint8_t defaultCharacter = uint8_t(reader.Read<uint32_t>() & 0xff);
    if (defaultCharacter != 0) {
      if (!m_table[defaultCharacter].present) throw SpriteError("Character not in font");
      m_default = &m_table[defaultCharacter];
    }

    GpuTexture2DDesc desc;
    desc.width = reader.Read<uint32_t>();
    desc.height = reader.Read<uint32_t>();
    desc.format = GpuFormat(reader.Read<uint32_t>());
    const uint32_t pitch = reader.Read<uint32_t>();
    const uint32_t rows = reader.Read<uint32_t>();
    const uint8_t* pixels = reader.ReadArray<uint8_t>(size_t(pitch) * rows);

    // The upload reads whole rows of the texture, so the stored rows must cover them.
    const GlFormatInfo* format = FindGlFormat(desc.format);
    uint32_t rowBytes = 0, neededRows = 0;
    if (format) GlSurfaceInfo(*format, desc.width, desc.height, &rowBytes, &neededRows);
    if (!format || desc.width == 0 || desc.height == 0 || pitch < rowBytes || rows < neededRows)
      throw SpriteError("");
    if (!device) return;

    desc.usage = GpuUsage::Immutable;
    desc.bindFlags = GpuBind_ShaderResource;
    GpuSubresourceData init{pixels, pitch, 0};
    GpuRef<GpuTexture2D> texture;
    if (GpuFailed(device->CreateTexture2D(desc, &init, texture.GetAddressOf()))) throw SpriteError("");
    GpuShaderResourceViewDesc viewDesc;
    viewDesc.format = desc.format;
    if (GpuFailed(device->CreateShaderResourceView(texture.Get(), &viewDesc, m_texture.GetAddressOf())))
      throw SpriteError("");
  }

  // Extents from file values: taken in 64 bits, where no pair of 32-bit edges overflows.
  static float Width(const SpriteGlyph& g) { return float(int64_t(g.right) - g.left); }
  static float Height(const SpriteGlyph& g) { return float(int64_t(g.bottom) - g.top); }

  const SpriteGlyph& LookupGlyph(uint8_t c) const {
    if (m_table[c].present) return m_table[c].glyph;
    if (m_default) return m_default->glyph;
    throw SpriteError("Character not in font");
  }

  // Calls action(glyph, x, y) for every glyph that shows, in text order.
  template <typename Action>
  void WalkGlyphs(const char* text, Action&& action) const {
    float x = 0, y = 0;
    for (const char* p = text; *p; ++p) {
      const uint8_t c = uint8_t(*p);
      if (c == '\n') {
        y += m_lineSpacing;
        x = 0;
        continue;
      }
      if (c == '\r') continue;
      const SpriteGlyph& glyph = LookupGlyph(c);
      x = std::max(x + glyph.xOffset, 0.0f);
      const float width = Width(glyph), height = Height(glyph);
      // The byte's test as a 16-bit character sign-extended from the byte.
      const bool blank = std::iswspace(wint_t(uint16_t(int16_t(int8_t(c))))) && width <= 1 && height <= 1;
      if (!blank) action(glyph, x, y);
      x += width + glyph.xAdvance;
    }
  }

  Base::Vec4 Measure(const char* text) const {
    Base::Vec4 result(0, 0, 0, 0);
    WalkGlyphs(text, [&](const SpriteGlyph& glyph, float x, float y) {
      const float w = Width(glyph);
      const float h = std::max(Height(glyph) + glyph.yOffset, m_lineSpacing);
      result.x = std::max(result.x, x + w);
      result.y = std::max(result.y, y + h);
    });
    return result;
  }

  void Draw(SpriteBatch* batch, const char* text, const Base::Vec2& position, const Base::Vec4& colour, float rotation,
            Base::Vec2 origin, const Base::Vec2& scale, SpriteFlip flip, float depth) const {
    static constexpr float kDirection[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    static constexpr float kMirror[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    const int f = int(flip) & 3;
    if (f != 0) {
      const Base::Vec4 size = Measure(text);
      origin.x -= kMirror[f][0] * size.x;
      origin.y -= kMirror[f][1] * size.y;
    }
    WalkGlyphs(text, [&](const SpriteGlyph& glyph, float x, float y) {
      const float w = Width(glyph), h = Height(glyph);
      Base::Vec2 glyphOrigin(kDirection[f][0] * x + origin.x, kDirection[f][1] * (y + glyph.yOffset) + origin.y);
      if (f != 0) {
        glyphOrigin.x += kMirror[f][0] * w;
        glyphOrigin.y += kMirror[f][1] * h;
      }
      const GpuRect source{glyph.left, glyph.top, glyph.right, glyph.bottom};
      batch->Draw(m_texture.Get(), position, &source, colour, rotation, glyphOrigin, scale, flip, depth);
    });
  }

  GpuRef<GpuShaderResourceView> m_texture;
  Entry m_table[256];
  const Entry* m_default = nullptr;
  float m_lineSpacing = 0;
};

SpriteFontChar::SpriteFontChar(GpuDevice* device, const std::wstring& fileName) {
  BinaryReader reader(fileName);
  m_impl = std::make_unique<Impl>(device, reader);
}

SpriteFontChar::SpriteFontChar(GpuDevice* device, BinaryReader& reader)
    : m_impl(std::make_unique<Impl>(device, reader)) {}

SpriteFontChar::~SpriteFontChar() = default;

Base::Vec4 SpriteFontChar::MeasureString(const char* text) const { return m_impl->Measure(text); }

void SpriteFontChar::DrawString(SpriteBatch* batch, const char* text, const Base::Vec2& position,
                                const Base::Vec4& colour, float rotation, const Base::Vec2& origin,
                                const Base::Vec2& scale, SpriteFlip flip, float layerDepth) const {
  m_impl->Draw(batch, text, position, colour, rotation, origin, scale, flip, layerDepth);
}

void SpriteFontChar::DrawString(SpriteBatch* batch, const char* text, const Base::Vec4& position,
                                const Base::Vec4& colour, float rotation, const Base::Vec4& origin,
                                const Base::Vec4& scale, SpriteFlip flip, float layerDepth) const {
  m_impl->Draw(batch, text, Base::Vec2(position.x, position.y), colour, rotation, Base::Vec2(origin.x, origin.y),
               Base::Vec2(scale.x, scale.y), flip, layerDepth);
}

bool SpriteFontChar::ContainsCharacter(uint8_t c) const { return m_impl->m_table[c].present || m_impl->m_default; }
float SpriteFontChar::GetLineSpacing() const { return m_impl->m_lineSpacing; }
GpuShaderResourceView* SpriteFontChar::GetTexture() const { return m_impl->m_texture.Get(); }

}  // namespace DirectX
