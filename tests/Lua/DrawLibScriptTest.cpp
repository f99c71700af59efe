// The 2D drawing library as scripts see it: published by the graphics system as it initialises, the
// sample overlay script run frame after frame against a real canvas, every bound name used, and
// memory that stays flat.
#include "Graphics/Canvas.h"
#include "Graphics/DrawLib.h"
#include "Graphics/Font.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/GraphicsSystem.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Texture.h"
#include "LuaFixture.h"

#include <fstream>
#include <sstream>

namespace {

class GraphicsLibrary : public LuaFixture {};

TEST_F(GraphicsLibrary, TheGraphicsSystemPublishesItForScriptsAsTheSurfaceLibrary) {
  Core::ScriptHost* previous = Core::SetScriptHost(&env_);
  EXPECT_EQ(Eval("type(graphics)"), "nil");
  {
    Graphics::GraphicsSystem system;
    system.Initialize(nullptr);
    EXPECT_EQ(Eval("type(graphics), type(graphics:GetSpriteDepth())"), "userdata number");
    EXPECT_EQ(Run("graphics:SetDepth(0.25)"), "");
    EXPECT_FLOAT_EQ(Graphics::DrawLib::GetInstance().GetSpriteDepth(), 0.25f);
    Graphics::DrawLib::GetInstance().ResetStates();

    const Base::FunctionRegistry::Category* surface = Base::FunctionRegistry::GetInstance().FindCategory("surface.");
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->flag, 1);
    EXPECT_EQ(surface->typeName, "DrawLib*");
    EXPECT_EQ(surface->description,
              "The surface library contains a variety of 2D draw calls. Actual draw calls use preceding Setter calls "
              "for attributes.");
    EXPECT_EQ(Base::FunctionRegistry::GetInstance().FindCategory("graphics"), nullptr);
    system.Shutdown(nullptr);
  }
  Core::SetScriptHost(previous);
}

class DrawLibScript : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    canvas_ = Graphics::GraphicsMaster::GetInstance().CreateCanvasFramePair(nullptr, 1920, 1080);
    ASSERT_EQ(canvas_, 0);  // the sample draws on canvas 0
    draw_.InitializeBaseAssets();
    env_.SetGlobal("graphics", Variant(Base::Reflection::TypeOf<Graphics::DrawLib*>(), &draw_));
    env_.LoadFolder("engine/libraries");
    env_.LoadFolder("engine");
    ASSERT_EQ(Run("dofile('content/lua/game/DrawLibSample.lua')"), "");
    Take();
  }
  void TearDown() override {
    draw_.Flush();
    draw_.EndFrame();
    Graphics::GraphicsMaster::GetInstance().Shutdown();
    Base::Resources<Graphics::Font>::Instance().Clear();
    Base::Resources<Graphics::Tex2D>::Instance().Clear();
    LuaFixture::TearDown();
  }

  // One frame as the graphics system runs it: scripts draw, blocks are handed over (and the frame
  // before released), the canvas's list is taken for drawing.
  Graphics::RenderList Frame() {
    EXPECT_EQ(Run("DrawLibSample.Draw(1 / 60)"), "");
    draw_.Flush();
    Graphics::Canvas* canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(canvas_);
    canvas->End();
    Graphics::RenderList list = *canvas->TakeReadyList();
    canvas->Begin(nullptr);
    return list;
  }

  Graphics::DrawLib draw_;
  int canvas_ = -1;
};

TEST_F(DrawLibScript, SampleUsesEveryBoundNameAndRecordsItsDrawing) {
  std::ifstream file("content/lua/game/DrawLibSample.lua");
  std::stringstream text;
  text << file.rdbuf();
  const std::vector<Base::FunctionRegistry::Entry>* methods =
      Base::FunctionRegistry::GetInstance().GetCategoryEntries("DrawLib");
  ASSERT_NE(methods, nullptr);
  for (const auto& method : *methods)
    EXPECT_NE(text.str().find(":" + method.name + "(") + text.str().find("." + method.name + "("),
              2 * std::string::npos)
        << method.name;

  Graphics::RenderList list = Frame();
  EXPECT_EQ(Take().find("[ Error ]"), std::string::npos);
  Graphics::RenderList::Layer* screen = list.GetRecord(3);
  Graphics::RenderList::Layer* scene = list.GetRecord(1);
  EXPECT_EQ(screen->block.sprites.size(), 4u);
  EXPECT_EQ(screen->block.texts.size(), 3u);  // the title, the prompt and the way out
  ASSERT_EQ(scene->blocks.size(), 1u);
  EXPECT_EQ(scene->blocks[0].sprites.size(), 1u);
  EXPECT_EQ(scene->blocks[0].texts.size(), 1u);
  EXPECT_EQ(scene->lights.size(), 1u);
}

// The compiler's traces are heap objects too, bounded by its own limits: they go first.
constexpr const char* kCollect = "if jit then jit.flush() end collectgarbage('collect') __kb = collectgarbage('count')";

TEST_F(DrawLibScript, AThousandFramesKeepMemoryFlat) {
  double luaKilobytes = 0;
  uint32_t frameCapacity = 0;
  for (int frame = 0; frame < 1000; ++frame) {
    Frame();
    ASSERT_EQ(draw_.GetFrameLightCount(), 1u);  // the frame just drawn; the one before is gone
    if (frame == 500) {  // past the first frames' one-time growth (string and trace warm-up)
      Run(kCollect);
      luaKilobytes = Number("__kb");
      frameCapacity = draw_.GetFrameCapacity();
    }
  }
  Run(kCollect);
  // A table that rehashes once (userdata keys hash by address) may keep a few kilobytes more; anything
  // kept per frame would be 8 bytes or more a frame, 4 KB over these 500.
  EXPECT_LT(Number("__kb") - luaKilobytes, 4.0);
  EXPECT_EQ(draw_.GetFrameCapacity(), frameCapacity);
  EXPECT_EQ(Take().find("[ Error ]"), std::string::npos);
}

}  // namespace
