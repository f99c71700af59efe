// The script debug-draw library: the global "debugdraw", its bound names, and what a script's calls
// leave in the debug-draw queue.
#include "Graphics/DebugDraw.h"
#include "Lua/LuaDebugDraw.h"
#include "LuaFixture.h"

namespace {

using Base::Vec3;
using Base::Vec4;
using Graphics::DebugDraw;

alignas(8) char g_canvas;

class DebugDrawLibrary : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    queue_.m_canvas = reinterpret_cast<Graphics::Canvas*>(&g_canvas);
    Reset();
  }
  void TearDown() override {
    Reset();
    queue_.m_canvas = nullptr;
    LuaFixture::TearDown();
  }
  // The library object and the queue outlive every test: start each from their first state.
  void Reset() {
    queue_.m_wire.clear();
    queue_.m_solid.clear();
    queue_.m_drawTime = 0.0f;
    queue_.m_oneShot = false;
    library_ = Lua::LuaDebugDraw();
  }
  std::vector<DebugDraw::Shape>& Wire(int kind) { return queue_.m_wire[queue_.m_canvas][kind]; }
  std::vector<DebugDraw::Shape>& Solid(int kind) { return queue_.m_solid[queue_.m_canvas][kind]; }

  DebugDraw& queue_ = DebugDraw::GetInstance();
  Lua::LuaDebugDraw& library_ = Lua::LuaDebugDraw::GetInstance();
};

TEST_F(DebugDrawLibrary, IsPublishedAsALibraryWithItsBoundMethods) {
  EXPECT_EQ(Eval("type(debugdraw), table.concat(_R.LuaDebugDraw.__cfunctions, ',')"),
            "userdata SetSolid,SetDrawTime,PushDrawTime,SetColor,DrawPoint,DrawLine,DrawQuad,DrawCube,DrawSphere,"
            "DrawCylinder,DrawCone,DrawTorus");

  const Base::FunctionRegistry& registry = Base::FunctionRegistry::GetInstance();
  const Base::FunctionRegistry::Category* category = registry.FindCategory("debugdraw");
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(category->description, "Debug draw functions");
  EXPECT_EQ(category->typeName, "LuaDebugDraw*");
  EXPECT_EQ(category->flag, 0);
  std::string order;
  for (const auto* each : registry.GetCategories()) order += each->name + " ";
  EXPECT_NE(order.find("interface trace debugdraw debugtime "), std::string::npos) << order;

  const std::vector<Base::FunctionRegistry::Entry>* methods = registry.GetCategoryEntries("LuaDebugDraw");
  ASSERT_NE(methods, nullptr);
  ASSERT_EQ(methods->size(), 12u);
  EXPECT_EQ((*methods)[2].description, "\"Sets the debug draw time (one call only)\"");
  EXPECT_EQ((*methods)[9].description, "\"Draws a Cyclinder\"");
}

TEST_F(DebugDrawLibrary, AScriptQueuesPrimitivesInItsColourAndFillMode) {
  // Yellow wireframe until the script says otherwise; lines stay wireframe and points keep their colour.
  ASSERT_EQ(Run("debugdraw:DrawLine(Vector3.new(0, 0, 0), Vector3.new(0, 0, 5))\n"
                "debugdraw:DrawCube(Vector3.new(1, 2, 3), Vector3.new(2, 2, 2), Vector3.new(0, 0, 0))\n"
                "debugdraw:SetColor(Vector3.new(0, 0, 1))\n"
                "debugdraw:SetSolid(true)\n"
                "debugdraw:DrawLine(Vector3.new(0, 0, 0), Vector3.new(1, 0, 0))\n"
                "debugdraw:DrawPoint(Vector3.new(4, 4, 4), Vector3.new(1, 0, 0))\n"
                "debugdraw:DrawSphere(Vector3.new(0, 0, 0), 2, Vector3.new(0, 0, 0))\n"
                "debugdraw:DrawTorus(Vector3.new(0, 0, 0), 1, 3, Vector3.new(0, 0, 0))\n"),
            "");
  ASSERT_EQ(Wire(DebugDraw::Line).size(), 2u);
  EXPECT_EQ(Wire(DebugDraw::Line)[0].colour, Vec4(1, 1, 0, 1));
  EXPECT_NEAR((Wire(DebugDraw::Line)[0].world.Transposed() * Vec4(1, 0, 0, 1)).z, 5.0f, 1e-5f);
  EXPECT_EQ(Wire(DebugDraw::Line)[1].colour, Vec4(0, 0, 1, 1));
  ASSERT_EQ(Wire(DebugDraw::Cube).size(), 1u);
  EXPECT_EQ(Wire(DebugDraw::Cube)[0].colour, Vec4(1, 1, 0, 1));
  ASSERT_EQ(Solid(DebugDraw::Cube).size(), 1u);
  EXPECT_EQ(Solid(DebugDraw::Cube)[0].colour, Vec4(1, 0, 0, 1));
  for (int kind : {DebugDraw::Sphere, DebugDraw::Torus}) {
    ASSERT_EQ(Solid(kind).size(), 1u) << kind;
    EXPECT_EQ(Solid(kind)[0].colour, Vec4(0, 0, 1, 1));
  }
  EXPECT_FLOAT_EQ(Solid(DebugDraw::Sphere)[0].world.m[0], 4.0f);
  EXPECT_FLOAT_EQ(Solid(DebugDraw::Torus)[0].world.m[5], 3.0f);
  EXPECT_TRUE(library_.IsSolid());
  EXPECT_EQ(library_.GetColor(), Vec3(0, 0, 1));
}

TEST_F(DebugDrawLibrary, APushedDrawTimeServesOneCallAndReplacesTheLastingOne) {
  ASSERT_EQ(Run("debugdraw:SetDrawTime(5)\n"
                "debugdraw:DrawCube(Vector3.new(0, 0, 0), Vector3.new(1, 1, 1), Vector3.new(0, 0, 0))\n"
                "debugdraw:PushDrawTime(2)\n"
                "debugdraw:DrawCube(Vector3.new(0, 0, 0), Vector3.new(1, 1, 1), Vector3.new(0, 0, 0))\n"
                "debugdraw:DrawCube(Vector3.new(0, 0, 0), Vector3.new(1, 1, 1), Vector3.new(0, 0, 0))\n"),
            "");
  const auto& cubes = Wire(DebugDraw::Cube);
  ASSERT_EQ(cubes.size(), 3u);
  EXPECT_EQ(cubes[0].time, 5.0f);
  EXPECT_EQ(cubes[1].time, 2.0f);
  EXPECT_EQ(cubes[2].time, 0.0f);

  // A lifetime that would never run out is refused; a wrong argument count is reported and ignored.
  Take();
  EXPECT_EQ(Run("debugdraw:SetDrawTime(1)\n"
                "debugdraw:SetDrawTime(math.huge)\n"
                "debugdraw:PushDrawTime(0/0)\n"
                "debugdraw:DrawLine(Vector3.new(0, 0, 0))\n"),
            "");
  const std::string log = Take();
  EXPECT_TRUE(HasLine(log, "[ Error ][Lua] Wrong argument count calling function DrawLine from lua"));
  EXPECT_TRUE(HasLine(log, "[ Error ][Lua] debugdraw:SetDrawTime needs a finite number of seconds; the draw time "
                           "is unchanged"));
  EXPECT_TRUE(HasLine(log, "[ Error ][Lua] debugdraw:PushDrawTime needs a finite number of seconds; the draw "
                           "time is unchanged"));
  EXPECT_EQ(queue_.m_drawTime, 1.0f);
  EXPECT_FALSE(queue_.m_oneShot);
  EXPECT_EQ(Wire(DebugDraw::Line).size(), 0u);
}

}  // namespace
