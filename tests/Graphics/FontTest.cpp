// Font directories written with the content writer: sizes found and picked, files skipped with
// their warning, missing names sharing the one Arial font, and text measured at a requested size.
#include "DirectX/SpriteFont.h"
#include "Graphics/Font.h"
#include "tests/Graphics/ResourceTestSupport.h"
#include "tools/ContentWriters/SpriteFontWriter.h"

#include <cmath>
#include <filesystem>

namespace {

class FontTest : public ResourceTest::ResourceFixture {
 protected:
  void TearDown() override {
    Base::Resources<Graphics::Font>::Instance().Clear();
    std::error_code error;
    if (!name_.empty()) std::filesystem::remove_all("content/font/" + name_, error);
    ResourceFixture::TearDown();
  }

  // A font directory of this test with block fonts named by the font's name and each of `files`
  // (glyph height = the size the name gives).
  void MakeDirectory(const std::vector<std::string>& files) {
    name_ = Unique("Face");
    std::filesystem::create_directories("content/font/" + name_);
    for (const std::string& file : files) {
      const float size = Graphics::Font::SizeFromFileName(file);
      const int32_t height = size > 0 ? int32_t(size) : 5;
      const std::string path = "content/font/" + name_ + "/" + name_ + file;
      ASSERT_TRUE(ContentWriters::WriteSpriteFontFile(path, ContentWriters::MakeBlockFont("ab", height / 2, height,
                                                                                          float(height))));
    }
  }

  std::string name_;
};

TEST_F(FontTest, SizesSortedAndPickedAsTheNextLargerSize) {
  MakeDirectory({"F_48.spritefont", "F_12.spritefont", "F_24.spritefont"});
  Graphics::Font font(name_.c_str());
  ASSERT_TRUE(font.IsLoaded());
  ASSERT_EQ(font.m_sizes.size(), 3u);
  EXPECT_EQ(font.m_sizes[0].first, 12.0f);
  EXPECT_EQ(font.m_sizes[2].first, 48.0f);
  auto [scale24, font24] = font.GetFontForSize(24);
  EXPECT_EQ(font24, font.m_sizes[2].second.get());
  EXPECT_FLOAT_EQ(scale24, 0.5f);
  auto [scale10, font10] = font.GetFontForSize(10);
  EXPECT_EQ(font10, font.m_sizes[0].second.get());
  EXPECT_FLOAT_EQ(scale10, 10.0f / 12.0f);
  auto [scale60, font60] = font.GetFontForSize(60);
  EXPECT_EQ(font60, font.m_sizes[2].second.get());
  EXPECT_FLOAT_EQ(scale60, 1.25f);

  // "ab" at 24 uses the 48 file (two 24-wide glyphs, 1 apart, 48 tall) at half scale.
  const Base::Vec2 measured = font.MeasureString("ab", 24);
  EXPECT_FLOAT_EQ(measured.x, (24 + 1 + 24) * 0.5f);
  EXPECT_FLOAT_EQ(measured.y, 24.0f);
}

TEST_F(FontTest, FilesWithoutASizeOrUnreadableAreSkippedWithAWarning) {
  MakeDirectory({"F_16.spritefont", "F_16.5.spritefont", "F.spritefont", "F_0.spritefont"});
  const std::string directory = "content/font/" + name_ + "/";
  WriteText(directory + name_ + "F_20.spritefont", "not a font");
  WriteText(directory + "Other_30.spritefont", "x");  // its name lacks the font's name: not looked at
  WriteText(directory + name_ + "F_40.txt", "x");
  log_.Take();
  Graphics::Font font(name_.c_str());
  const std::string log = log_.Take();
  ASSERT_TRUE(font.IsLoaded());
  ASSERT_EQ(font.m_sizes.size(), 2u);
  EXPECT_EQ(font.m_sizes[0].first, 16.0f);
  EXPECT_EQ(font.m_sizes[1].first, 16.5f);
  for (const char* skipped : {"F.spritefont", "F_0.spritefont", "F_20.spritefont"})
    EXPECT_NE(log.find("Could not load font " + directory + name_ + skipped), std::string::npos) << log;
  EXPECT_EQ(log.find("Other_30"), std::string::npos);
  // No size is infinite: every request gives a finite scale.
  EXPECT_TRUE(std::isfinite(font.GetFontForSize(100).first));
}

TEST_F(FontTest, MissingDirectoriesShareTheOneFallbackAndAnEmptyOneIsRefused) {
  auto& fonts = Base::Resources<Graphics::Font>::Instance();
  Graphics::Font* arial = fonts.GetResourceByName("Arial");
  ASSERT_NE(arial, nullptr);  // the build's Arial directory
  EXPECT_EQ(arial->m_sizes.size(), 7u);
  log_.Take();
  // Every missing name resolves to that font: no entry, no copy of its sizes, each name reported.
  for (const char* missing : {"NoSuchFace", "NoOtherFace"}) {
    EXPECT_EQ(fonts.GetResourceByName(missing), arial) << missing;
    EXPECT_EQ(fonts.GetResourceID(missing), fonts.GetResourceID("Arial")) << missing;
    EXPECT_NE(log_.Take().find(std::string("Could not find fontName ") + missing + " defaulting to Arial"),
              std::string::npos);
  }
  EXPECT_EQ(fonts.GetResourceByName("NoSuchFace"), arial);  // found by name now, without a new report
  EXPECT_EQ(log_.Take().find("Could not find fontName"), std::string::npos);
  EXPECT_EQ(fonts.GetEntryCount(), 1u);
  // Made by itself, such a font holds nothing and names its stand-in.
  Graphics::Font alone("NoSuchFace");
  EXPECT_FALSE(alone.IsLoaded());
  EXPECT_TRUE(alone.m_sizes.empty());
  EXPECT_STREQ(alone.StandInName(), "Arial");

  MakeDirectory({});
  Graphics::Font empty(name_.c_str());
  EXPECT_FALSE(empty.IsLoaded());
  EXPECT_EQ(empty.StandInName(), nullptr);
  EXPECT_NE(log_.Take().find("No Font files found in Font Directory content/font/" + name_), std::string::npos);
  EXPECT_EQ(fonts.GetResourceByName(name_), nullptr);
  EXPECT_EQ(fonts.GetResourceByName(name_), nullptr);
  EXPECT_EQ(fonts.GetEntryCount(), 1u);  // a refused name keeps no entry
  EXPECT_EQ(fonts.GetResourceID(name_), -1);
}

TEST_F(FontTest, MissingGlyphsAreLeftOutAndLoggedOnce) {
  MakeDirectory({"_10.spritefont"});  // "ab", 5 x 10
  Graphics::Font font(name_.c_str());
  log_.Take();
  EXPECT_EQ(font.MeasureString("aXb", 10), font.MeasureString("ab", 10));
  EXPECT_EQ(font.MeasureString("aXb\xff", 10), font.MeasureString("ab", 10));
  const std::string log = log_.Take();
  EXPECT_NE(log.find("Character not in font"), std::string::npos);
  EXPECT_EQ(log.find("Character not in font"), log.rfind("Character not in font"));  // once
  EXPECT_EQ(font.MeasureString(nullptr, 10), Base::Vec2(0, 0));
}

}  // namespace
