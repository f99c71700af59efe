// DrawLib as scripts use it: colour maths, stacks, recording into canvases and 3D2D blocks, the
// per-frame hand-over and release, and the 2D pass read back from a target.
#include "DirectX/CommonStates.h"
#include "DirectX/SpriteBatch.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/DrawLib.h"
#include "Graphics/DrawLibPass.h"
#include "Graphics/Font.h"
#include "Graphics/GraphicsMaster.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"
#include "tests/Graphics/RendererFixture.h"

#include <cmath>

namespace {

using GpuTest::Rgba;

class DrawLibTest : public GpuTest::RendererFixture {
 protected:
  void SetUp() override {
    RendererFixture::SetUp();
    auto& master = Graphics::GraphicsMaster::GetInstance();
    canvasA_ = master.CreateCanvasFramePair(nullptr, 64, 64);
    canvasB_ = master.CreateCanvasFramePair(nullptr, 64, 64);
    ASSERT_GE(canvasA_, 0);
    ASSERT_GE(canvasB_, 0);
    draw_.InitializeBaseAssets();
    draw_.ResetStates();
    log_.Take();
  }
  void TearDown() override {
    draw_.Flush();
    draw_.EndFrame();
    Base::Resources<Graphics::Font>::Instance().Clear();
    Base::Resources<Graphics::Tex2D>::Instance().Clear();
    Graphics::GraphicsMaster::GetInstance().Shutdown();
  }

  // What a canvas recorded since the last call, at `layer`.
  Graphics::RenderList::Layer Recorded(int canvasId, int layer) {
    Graphics::Canvas* canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(canvasId);
    canvas->End();
    Graphics::RenderList* list = canvas->TakeReadyList();
    Graphics::RenderList::Layer copy = *list->GetRecord(layer);
    canvas->Begin(nullptr);
    return copy;
  }

  Graphics::DrawLib draw_;
  int canvasA_ = -1, canvasB_ = -1;
};

TEST_F(DrawLibTest, ColoursArePremultipliedAndAlphaMultiplierKeepsZeroAlpha) {
  draw_.SetDrawColor(255, 0, 0, 128);
  const Base::Vec4 c = draw_.GetSpriteState().colour;
  EXPECT_NEAR(c.x, 128 / 255.0f, 1e-6);
  EXPECT_EQ(c.y, 0.0f);
  EXPECT_NEAR(c.w, 128 / 255.0f, 1e-6);
  draw_.SetDrawColor(255, 255, 255, 0);
  draw_.SetTextColor(0, 255, 0, 51);
  draw_.SetAlphaMultiplier(255);
  EXPECT_EQ(draw_.GetSpriteState().colour, Base::Vec4(0, 0, 0, 1));
  EXPECT_NEAR(draw_.GetTextState().colour.y, 1.0f, 1e-6);  // the text's alpha was divided out
  EXPECT_EQ(draw_.GetTextState().colour.w, 1.0f);
}

TEST_F(DrawLibTest, MissingFontsAreTheArialIdAndMissingTexturesNoId) {
  const uint32_t arial = draw_.GetFontId("Arial");
  const uint32_t fontEntries = Base::Resources<Graphics::Font>::Instance().GetEntryCount();
  const uint32_t textureEntries = Base::Resources<Graphics::Tex2D>::Instance().GetEntryCount();
  for (int name = 0; name < 50; ++name) {
    EXPECT_EQ(draw_.GetFontId(("OrvTest_NoFace" + std::to_string(name)).c_str()), arial);
    EXPECT_EQ(draw_.GetTextureID(("OrvTest_none" + std::to_string(name) + ".png").c_str()), uint32_t(-1));
  }
  EXPECT_EQ(Base::Resources<Graphics::Font>::Instance().GetEntryCount(), fontEntries);
  EXPECT_EQ(Base::Resources<Graphics::Tex2D>::Instance().GetEntryCount(), textureEntries);
  const std::string log = log_.Take();
  EXPECT_NE(log.find("Could not find fontName OrvTest_NoFace49 defaulting to Arial"), std::string::npos);
  EXPECT_NE(log.find("Failed to Create Texture from, content/textures/OrvTest_none49.png"), std::string::npos);

  // A sprite of no texture records nothing a draw could resolve, and measures as nothing.
  draw_.SetTexture(draw_.GetTextureID("OrvTest_none.png"));
  EXPECT_EQ(draw_.GetTextureSize(), Base::Vec2(0, 0));
}

TEST_F(DrawLibTest, StacksDefaultAndRefuseLayersOutOfRange) {
  EXPECT_EQ(draw_.PopLayer(), 3u);
  EXPECT_EQ(draw_.PopCanvas(), 0u);
  draw_.PushLayer(7);
  EXPECT_NE(log_.Take().find("DrawLib layer 7 is out of range"), std::string::npos);
  EXPECT_EQ(draw_.GetCurrentLayer(), 3u);
  draw_.PushLayer(2);
  EXPECT_EQ(draw_.PopLayer(), 2u);

  // Empty text records nothing and needs no canvas; a missing canvas drops the draw with the error.
  draw_.PushCanvas(999);
  draw_.DrawSpriteText("");
  EXPECT_EQ(log_.Take(), "");
  draw_.DrawRect(0, 0, 1, 1);
  EXPECT_NE(log_.Take().find("Attempting to use DrawLib with invalid canvas"), std::string::npos);
}

TEST_F(DrawLibTest, DrawsRecordIntoTheCurrentCanvasLayerWithTheStateTheyCopy) {
  draw_.PushCanvas(uint32_t(canvasA_));
  draw_.PushLayer(2);
  draw_.SetTexture(12345);
  draw_.DrawTexturedRectRotated(1, 2, 3, 4, 90);
  draw_.DrawRect(5, 6, 7, 8);
  draw_.SetTextPos(9, 10);
  draw_.DrawSpriteText("hello");
  const Graphics::RenderList::Layer layer = Recorded(canvasA_, 2);
  ASSERT_EQ(layer.block.sprites.size(), 2u);
  EXPECT_EQ(layer.block.sprites[0].texture, 12345u);
  EXPECT_NEAR(layer.block.sprites[1].rotation, std::acos(-1.0f) / 2, 1e-6);  // kept, but untextured
  EXPECT_NE(layer.block.sprites[1].texture, 12345u);
  EXPECT_EQ(layer.block.sprites[1].position, Base::Vec3(5, 6, 0));
  ASSERT_EQ(layer.block.texts.size(), 1u);
  EXPECT_STREQ(layer.block.texts[0].text, "hello");
  EXPECT_EQ(layer.block.texts[0].position, Base::Vec3(9, 10, 0));
}

TEST_F(DrawLibTest, BlocksGoToTheirOwnCanvasAndEnd3D2DOutsideABlockChangesNothing) {
  draw_.PushCanvas(uint32_t(canvasA_));
  draw_.Start3D2D({0, 0, 0}, {0, 0, 0}, 10, 10);
  draw_.Start3D2D({1, 0, 0}, {0, 0, 0}, 10, 10);
  draw_.DrawRect(0, 0, 1, 1);  // into the first block
  draw_.End3D2D();
  draw_.End3D2D();  // outside: warned, the index stays on the second block
  EXPECT_NE(log_.Take().find("End3D2D called outside a 3D2D block"), std::string::npos);
  draw_.PushCanvas(uint32_t(canvasB_));
  draw_.Start3D2D({2, 0, 0}, {0, 0, 0}, 10, 10);
  draw_.DrawRect(0, 0, 2, 2);  // the current block is the second
  draw_.End3D2D();
  draw_.PushCanvas(777);
  draw_.Start3D2D({3, 0, 0}, {0, 0, 0}, 10, 10);  // its canvas does not exist
  draw_.End3D2D();
  ASSERT_EQ(draw_.GetBlocks().size(), 4u);
  EXPECT_EQ(draw_.GetBlocks()[0].sprites.size(), 1u);
  EXPECT_EQ(draw_.GetBlocks()[1].sprites.size(), 1u);

  draw_.Flush();
  EXPECT_NE(log_.Take().find("Attempting to use DrawLib with invalid canvas"), std::string::npos);
  EXPECT_TRUE(draw_.GetBlocks().empty());
  EXPECT_EQ(draw_.GetCurrentCanvasId(), 0u);
  EXPECT_EQ(draw_.GetCurrentLayer(), 3u);
  const Graphics::RenderList::Layer a = Recorded(canvasA_, 1), b = Recorded(canvasB_, 1);
  ASSERT_EQ(a.blocks.size(), 2u);  // the two opened on A, in order
  EXPECT_EQ(a.blocks[1].transform.m[3], 1.0f);
  EXPECT_EQ(a.blocks[0].offset, Base::Vec4(-5, 5, 0, 0));
  ASSERT_EQ(b.blocks.size(), 1u);
  EXPECT_EQ(b.blocks[0].transform.m[3], 2.0f);
}

TEST_F(DrawLibTest, FrameStorageIsReleasedEveryFrameAndStaysFlat) {
  uint32_t capacity = 0;
  for (int frame = 0; frame < 1000; ++frame) {
    draw_.PushCanvas(uint32_t(canvasA_));
    for (int i = 0; i < 20; ++i) draw_.DrawSpriteText("a line of text drawn every frame");
    draw_.DrawPointLight();
    draw_.Flush();  // releases the frame before; this one stays until it is drawn
    const Graphics::RenderList::Layer layer = Recorded(canvasA_, 3);
    ASSERT_EQ(layer.block.texts.size(), 20u);
    ASSERT_STREQ(layer.block.texts[19].text, "a line of text drawn every frame");
    ASSERT_EQ(draw_.GetFrameLightCount(), 1u);
    if (frame == 1) capacity = draw_.GetFrameCapacity();
    if (frame > 1) {
      ASSERT_EQ(draw_.GetFrameCapacity(), capacity) << frame;  // no growth once both fitted
    }
  }
  draw_.EndFrame();
  EXPECT_EQ(draw_.GetFrameBytes(), 0u);
  EXPECT_EQ(draw_.GetFrameLightCount(), 0u);
}

// The pass read back from a 64 x 64 target through a screen camera (x 0..64, y -64..0).
class DrawLibPassTest : public DrawLibTest {
 protected:
  void SetUp() override {
    DrawLibTest::SetUp();
    MakeTarget(64);
    camera_.m_isOrtho = true;
    camera_.m_orthoCentered = false;
    camera_.SetOrthoSize(64, 64);
    camera_.SetPosition({0, 0, -1});
    layer_.camera = &camera_;
    batch_ = std::make_unique<DirectX::SpriteBatch>(context_.Get());
    states_ = std::make_unique<DirectX::CommonStates>(device_.Get());
    pixelShader_ = Base::Resources<Graphics::Shader>::Instance().GetResourceByName("DrawLib_PS");
    ASSERT_NE(pixelShader_, nullptr);
  }
  void TearDown() override {
    batch_.reset();
    Base::Resources<Graphics::Shader>::Instance().Clear();
    DrawLibTest::TearDown();
  }

  Graphics::SpriteRecord Rect(float x, float y, float w, float h) {
    Graphics::SpriteRecord r = draw_.GetSpriteState();
    r.position = Base::Vec3(x, y, 0);
    r.scale = Base::Vec2(w, h);
    return r;
  }
  std::vector<Rgba> Render() {
    const float black[4] = {0, 0, 0, 0};
    context_->ClearRenderTargetView(rtv_.Get(), black);
    Graphics::RenderDrawLibPass(layer_, layer_.camera, *batch_, *states_, pixelShader_);
    return ReadFloats(target_.Get());
  }
  // Lit pixels in row y.
  static int RowWidth(const std::vector<Rgba>& px, uint32_t y) {
    int n = 0;
    for (uint32_t x = 0; x < 64; ++x) n += px[y * 64 + x].a > 0.5f;
    return n;
  }

  Graphics::BaseCamera camera_;
  Graphics::RenderList::Layer layer_;
  std::unique_ptr<DirectX::SpriteBatch> batch_;
  std::unique_ptr<DirectX::CommonStates> states_;
  Graphics::Shader* pixelShader_ = nullptr;
};

TEST_F(DrawLibPassTest, RectanglesLandAtTheirCornerInTheirColour) {
  draw_.SetDrawColor(255, 0, 0, 255);
  layer_.block.sprites.push_back(Rect(8, 8, 16, 16));
  draw_.SetDrawColor(255, 0, 0, 128);
  layer_.block.sprites.push_back(Rect(40, 40, 8, 8));
  const std::vector<Rgba> px = Render();
  EXPECT_TRUE(GpuTest::Near(At(px, 16, 16), {1, 0, 0, 1}, 1e-3f));
  EXPECT_TRUE(GpuTest::Near(At(px, 8, 8), {1, 0, 0, 1}, 1e-3f));
  EXPECT_TRUE(GpuTest::Near(At(px, 4, 16), {0, 0, 0, 0}));
  EXPECT_TRUE(GpuTest::Near(At(px, 24, 16), {0, 0, 0, 0}));
  EXPECT_TRUE(GpuTest::Near(At(px, 44, 44), {128 / 255.0f, 0, 0, 128 / 255.0f}, 3e-3f));
}

TEST_F(DrawLibPassTest, RotatedAndMirroredSpritesLandWhereThePlacementPutsThem) {
  Graphics::SpriteRecord turned = Rect(8, 14, 16, 4);  // centre (16, 16), turned a quarter: 4 x 16
  turned.rotation = std::acos(-1.0f) / 2;
  layer_.block.sprites.push_back(turned);
  std::vector<Rgba> px = Render();
  EXPECT_GT(At(px, 16, 10).a, 0.5f);
  EXPECT_GT(At(px, 16, 22).a, 0.5f);
  EXPECT_EQ(At(px, 10, 16).a, 0.0f);
  EXPECT_EQ(At(px, 22, 16).a, 0.0f);

  // UVs swapped left to right: the sprite mirrors about its left edge, covering x - w to x.
  layer_.block.sprites.clear();
  Graphics::SpriteRecord mirrored = Rect(48, 8, 16, 16);
  mirrored.uvMin = Base::Vec2(1, 0);
  mirrored.uvMax = Base::Vec2(0, 1);
  layer_.block.sprites.push_back(mirrored);
  px = Render();
  EXPECT_GT(At(px, 40, 16).a, 0.5f);
  EXPECT_GT(At(px, 33, 16).a, 0.5f);
  EXPECT_EQ(At(px, 50, 16).a, 0.0f);
  EXPECT_EQ(At(px, 30, 16).a, 0.0f);
}

TEST_F(DrawLibPassTest, TextInksInsideItsMeasuredBoxOnly) {
  draw_.SetTextSize(16);
  const Base::Vec2 size = draw_.GetTextSize("Hg");
  ASSERT_GT(size.x, 8.0f);
  Graphics::TextRecord text = draw_.GetTextState();
  text.position = Base::Vec3(10, 20, 0);
  text.text = "Hg";
  layer_.block.texts.push_back(text);
  const std::vector<Rgba> px = Render();
  int inside = 0, outside = 0;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      const bool inBox = x + 1 >= 10 && x < 10 + size.x + 1 && y + 1 >= 20 && y < 20 + size.y + 1;
      if (At(px, x, y).a > 0) (inBox ? inside : outside) += 1;
    }
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);

  // A byte the font lacks is left out, logged, and the batch is closed for the next draw.
  layer_.block.texts[0].text = "H\x01g";
  Render();
  EXPECT_FALSE(batch_->IsInPair());
  EXPECT_NE(log_.Take().find("Character not in font"), std::string::npos);
}

TEST_F(DrawLibPassTest, PanelsOnPlanesShrinkWithDistanceInPerspective) {
  Graphics::BaseCamera perspective;
  perspective.SetAspect(64, 64);
  perspective.SetPosition({0, 0, -20.5f});
  perspective.LookAt({0, 0, 0});
  layer_.camera = &perspective;
  auto panelWidth = [&](float z) {
    draw_.Start3D2D({0, 0, z}, {0, 0, 0}, 8, 8);
    draw_.DrawRect(0, 0, 8, 8);
    draw_.End3D2D();
    layer_.blocks.clear();
    draw_.PushCanvas(uint32_t(canvasA_));
    draw_.Flush();
    layer_.blocks = Recorded(canvasA_, 1).blocks;
    return RowWidth(Render(), 32);
  };
  draw_.PushCanvas(uint32_t(canvasA_));
  const int near = panelWidth(0);
  const int far = panelWidth(20.5f);
  EXPECT_GT(near, 20);
  EXPECT_NEAR(float(far), near / 2.0f, 2.0f);
  EXPECT_EQ(At(Render(), 2, 2).a, 0.0f);
}

}  // namespace
