// Sprite fonts written by the content writer (and the build's font directory): loading and its
// refusals, the glyph walk's measurements, and text read back from a target.
#include "DirectX/BinaryReader.h"
#include "DirectX/SpriteFont.h"

#include "tests/Platform/GpuTestSupport.h"
#include "tools/ContentWriters/SpriteFontWriter.h"

namespace {

using ContentWriters::MakeBlockFont;
using ContentWriters::SpriteFontDesc;
using DirectX::SpriteFontChar;

// Loads from the writer's bytes without a device; the failure text, or "" when it loads.
std::string LoadError(const std::vector<uint8_t>& bytes) {
  try {
    DirectX::BinaryReader reader(bytes.data(), bytes.size());
    SpriteFontChar font(nullptr, reader);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

struct MeasuredFont {
  explicit MeasuredFont(const SpriteFontDesc& desc) : bytes(ContentWriters::WriteSpriteFontBytes(desc)) {
    DirectX::BinaryReader reader(bytes.data(), bytes.size());
    font = std::make_unique<SpriteFontChar>(nullptr, reader);
  }
  Base::Vec2 Measure(const char* text) const {
    const Base::Vec4 v = font->MeasureString(text);
    EXPECT_EQ(v.z, 0.0f);
    return Base::Vec2(v.x, v.y);
  }
  std::vector<uint8_t> bytes;
  std::unique_ptr<SpriteFontChar> font;
};

TEST(SpriteFont, RefusesBadFilesWithTheirMessages) {
  const std::vector<uint8_t> good = ContentWriters::WriteSpriteFontBytes(MakeBlockFont("ab", 2, 3, 4));
  EXPECT_EQ(LoadError(good), "");
  std::vector<uint8_t> longer = good;
  longer.insert(longer.end(), 7, 0xcc);
  EXPECT_EQ(LoadError(longer), "");  // bytes after the pixels are ignored
  for (size_t cut = 0; cut < good.size(); ++cut)
    ASSERT_EQ(LoadError(std::vector<uint8_t>(good.begin(), good.begin() + long(cut))), "End of file") << cut;

  std::vector<uint8_t> wrongMagic = good;
  wrongMagic[3] = 'X';
  EXPECT_EQ(LoadError(wrongMagic), "Not a sprite font builder output binary");
  EXPECT_EQ(LoadError(ContentWriters::WriteSpriteFontBytes(MakeBlockFont("ab", 2, 3, 4, 'z'))),
            "Character not in font");

  // A glyph count that would reach past the file, and rows too few for the texture's height.
  std::vector<uint8_t> hugeCount = good;
  hugeCount[8] = hugeCount[9] = hugeCount[10] = hugeCount[11] = 0xff;
  EXPECT_EQ(LoadError(hugeCount), "End of file");
  SpriteFontDesc shortRows = MakeBlockFont("ab", 2, 3, 4);
  shortRows.rowCount = 2;
  shortRows.pixels.resize(size_t(shortRows.rowPitch) * 2);
  EXPECT_THROW(
      {
        auto bytes = ContentWriters::WriteSpriteFontBytes(shortRows);
        DirectX::BinaryReader reader(bytes.data(), bytes.size());
        SpriteFontChar font(nullptr, reader);
      },
      DirectX::SpriteError);

  EXPECT_THROW(SpriteFontChar(nullptr, std::wstring(L"content/font/none.spritefont")), DirectX::SpriteError);
}

TEST(SpriteFont, MeasuresLinesAsTheGlyphWalkPlacesThem) {
  SpriteFontDesc desc = MakeBlockFont("ab ", 4, 6, 10);
  desc.glyphs[2].right = desc.glyphs[2].left;  // a 0 x 0 space advancing by 3
  desc.glyphs[2].bottom = 0;
  desc.glyphs[2].xAdvance = 3;
  desc.glyphs[1].xOffset = -2;  // 'b' pulls left, but never left of the line's start
  desc.glyphs[0].yOffset = 7;   // 'a' sits low: 6 + 7 = 13 tall
  MeasuredFont font(desc);

  EXPECT_EQ(font.Measure(""), Base::Vec2(0, 0));
  EXPECT_EQ(font.Measure("\n"), Base::Vec2(0, 0));
  EXPECT_EQ(font.Measure("b"), Base::Vec2(4, 10));          // at x 0, one line spacing tall
  EXPECT_EQ(font.Measure("a"), Base::Vec2(4, 13));
  EXPECT_EQ(font.Measure("ab"), Base::Vec2(4 + 1 - 2 + 4 + 1 - 1, 13));  // a: 0..4, pen 5, b at 3..7
  EXPECT_EQ(font.Measure("b b"), Base::Vec2(4 + 1 + 3 - 2 + 4, 10));  // the second b pulls left
  EXPECT_EQ(font.Measure("b\r\nb"), Base::Vec2(4, 20));
  EXPECT_EQ(font.Measure("bbb\nb"), font.Measure("bbb\r\nb"));

  SpriteFontDesc twice = MakeBlockFont("aa", 4, 6, 10);
  twice.glyphs[1].right = twice.glyphs[1].left + 9;  // the later record wins
  EXPECT_EQ(MeasuredFont(twice).Measure("a"), Base::Vec2(9, 10));

  EXPECT_FALSE(font.font->ContainsCharacter('c'));
  try {
    font.font->MeasureString("ac");
    ADD_FAILURE() << "a byte with no glyph and no default";
  } catch (const DirectX::SpriteError& e) {
    EXPECT_STREQ(e.what(), "Character not in font");
  }
  MeasuredFont withDefault(MakeBlockFont("ab", 4, 6, 10, 'b'));
  EXPECT_TRUE(withDefault.font->ContainsCharacter('c'));
  EXPECT_EQ(withDefault.Measure("c"), Base::Vec2(4, 10));
}

class SpriteFontDraw : public GpuTest::GpuFixture {};

TEST_F(SpriteFontDraw, GeneratedFontDrawsInsideItsMeasuredBox) {
  MakeTarget(64);
  SpriteFontChar font(device_.Get(), std::wstring(L"content/font/Arial/Arial_16.spritefont"));
  const Base::Vec4 size = font.MeasureString("Hg");
  ASSERT_GT(size.x, 8.0f);
  ASSERT_GE(size.y, 16.0f);
  DirectX::SpriteBatch batch(context_.Get());
  batch.Begin();
  font.DrawString(&batch, "Hg", Base::Vec2(10, 10), {1, 1, 1, 1}, 0, Base::Vec2(), Base::Vec2(1, 1));
  batch.End();
  std::vector<GpuTest::Rgba> px = ReadFloats(target_.Get());
  int inside = 0, outside = 0;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      const bool lit = At(px, x, y).a > 0;
      const bool inBox = x >= 10 && x < 10 + uint32_t(size.x) + 1 && y >= 10 && y < 10 + uint32_t(size.y) + 1;
      (inBox ? inside : outside) += lit;
    }
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);

  // Mirrored as a block: the box stays where it was, the ink moves within it.
  MakeTarget(64);
  batch.Begin();
  font.DrawString(&batch, "Hg", Base::Vec2(10, 10), {1, 1, 1, 1}, 0, Base::Vec2(), Base::Vec2(1, 1),
                  DirectX::SpriteFlip_Horizontally);
  batch.End();
  px = ReadFloats(target_.Get());
  int mirroredInside = 0;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      const bool inBox = x >= 10 && x < 10 + uint32_t(size.x) + 1 && y >= 10 && y < 10 + uint32_t(size.y) + 1;
      if (At(px, x, y).a > 0) (inBox ? mirroredInside : outside) += 1;
    }
  EXPECT_GT(mirroredInside, 20);
  EXPECT_EQ(outside, 0);
}

}  // namespace
