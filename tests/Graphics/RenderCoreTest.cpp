// The render core: its set-up and the refusals around it, and each pass of a canvas draw proved by the
// pixels it leaves in a small offscreen frame.
#include "Base/DebugTimer.h"
#include "Base/MathUtil.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/DepthBuffer.h"
#include "Graphics/Mesh.h"
#include "Graphics/ProceduralMeshes.h"
#include "Graphics/RenderTarget.h"
#include "Platform/Clock.h"
#include "tests/Graphics/RenderSceneSupport.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

using RenderTest::Model;
using RenderTest::Pixel;
using RenderTest::SceneFixture;
using Base::Vec3;
using Base::Vec4;

namespace {

size_t Count(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

class RenderCoreSetUp : public ResourceTest::ResourceFixture {};

TEST_F(RenderCoreSetUp, BuildsTargetsBuffersShadersAndMeshesInOrder) {
  Graphics::RenderCore core;
  const std::string log = log_.Take();
  ASSERT_TRUE(core.IsInitialized());
  const size_t begin = log.find("[ Info  ][Graphics] Initializing Render Core");
  const size_t gBuffer = log.find("Creating GBuffer");
  const size_t shaders = log.find("ObjectSpace_VS");
  const size_t end = log.find("[ Info  ][Graphics] Render Core Initialized");
  ASSERT_NE(begin, std::string::npos) << log;
  EXPECT_LT(begin, gBuffer);
  EXPECT_LT(gBuffer, shaders);
  EXPECT_LT(shaders, end);
  EXPECT_EQ(Count(log, "Initializing RenderTarget 1920 x 1080"), 2u) << log;
  EXPECT_EQ(Count(log, "Initializing RenderTarget 32 x 32"), 1u);
  EXPECT_EQ(Count(log, "Creating Vertex Buffer, (Size: 256, Stride: 0, Slot: 0, Offset: 0)"), 2u);
  EXPECT_EQ(Count(log, "Creating Constant Buffer, (Size: 256, Stride: 0, Slot: 0, Offset: 0)"), 4u);
  EXPECT_EQ(Count(log, "Creating Constant Buffer, (Size: 1024, Stride: 0, Slot: 0, Offset: 0)"), 1u);
  for (auto mesh : {Graphics::RenderCore::QuadMesh, Graphics::RenderCore::TorusMesh})
    EXPECT_NE(Base::Resources<Graphics::Mesh>::Instance().GetResourceById(core.GetMeshID(mesh)), nullptr);
}

TEST_F(RenderCoreSetUp, LightVolumesAreBuiltWithTheRendererBeforeAnyLight) {
  auto& meshes = Base::Resources<Graphics::Mesh>::Instance();
  Graphics::RenderCore core;
  ASSERT_TRUE(core.IsInitialized());
  const uint32_t entries = meshes.GetEntryCount();
  const uint32_t sphere = Graphics::GetPointLightMesh(), cone = Graphics::GetSpotLightMesh();
  ASSERT_LT(sphere, entries);
  ASSERT_LT(cone, entries);
  // Sphere of 16 bands: 17 rings of 33 vertices, 16 x 33 quads. Cone of 32 sides: an apex and a rim
  // vertex at each of 33 steps round (the last closes the ring) and 32 for the cap; 33 side and 30
  // cap triangles.
  EXPECT_EQ(meshes.GetResourceById(sphere)->GetVertexCount(), 17u * 33u);
  EXPECT_EQ(meshes.GetResourceById(sphere)->GetIndexCount(), 16u * 33u * 6u);
  EXPECT_EQ(meshes.GetResourceById(cone)->GetVertexCount(), 2u * 33u + 32u);
  EXPECT_EQ(meshes.GetResourceById(cone)->GetIndexCount(), (33u + 30u) * 3u);

  // Lights made and asked for their volumes afterwards build nothing more.
  Graphics::BasePLight point;
  Graphics::BaseSLight spot;
  EXPECT_EQ(Graphics::GetPointLightMesh(), sphere);
  EXPECT_EQ(Graphics::GetSpotLightMesh(), cone);
  EXPECT_EQ(meshes.GetEntryCount(), entries);

  // An emptied mesh manager has lost them: no id names a volume until the renderer builds them again.
  meshes.Clear();
  EXPECT_EQ(Graphics::GetPointLightMesh(), uint32_t(-1));
  EXPECT_EQ(meshes.GetEntryCount(), 0u);
}

// A content tree whose shader folder lacks one file: the set-up stops there and the core refuses to draw.
TEST_F(RenderCoreSetUp, AMissingShaderStopsTheSetUpAndTheCoreRefusesToDraw) {
  namespace fs = std::filesystem;
  const fs::path home = fs::current_path();
  const fs::path root = fs::temp_directory_path() / Unique("tree");
  fs::create_directories(root / "content/shaders");
  for (const auto& file : fs::directory_iterator(home / "content/shaders"))
    if (file.path().extension() == ".cso" && file.path().stem() != "ToScreen_PS")
      fs::create_symlink(file.path(), root / "content/shaders" / file.path().filename());
  fs::current_path(root);
  Base::Resources<Graphics::Shader>::Instance().Clear();
  {
    Graphics::RenderCore core;
    const std::string log = log_.Take();
    EXPECT_FALSE(core.IsInitialized());
    EXPECT_NE(log.find("Failed to Initialize Render Core"), std::string::npos) << log;
    EXPECT_EQ(log.find("Render Core Initialized"), std::string::npos);
    EXPECT_EQ(log.find("Debug_VS"), std::string::npos);

    Graphics::Frame frame(nullptr, 16, 16);
    Graphics::RenderList list;
    core.RenderCanvas(&list, &frame);
    EXPECT_NE(log_.Take().find("[ Error ][Graphics] Render Core is not initialized"), std::string::npos);
  }
  fs::current_path(home);
  fs::remove_all(root);
}

// The shared unit quad that particles are drawn with, corners at (+-1, +-1, 0), is still a quad once
// the render core has shut down (emptying the mesh manager) and started again behind a mesh loaded
// first.
TEST_F(RenderCoreSetUp, TheSharedQuadIsAQuadAgainAfterTheRenderCoreStartsAnew) {
  Base::Resources<Graphics::Mesh>& meshes = Base::Resources<Graphics::Mesh>::Instance();
  auto expectUnitQuad = [&meshes](uint32_t id) {
    Graphics::Mesh* quad = meshes.GetResourceById(id);
    ASSERT_NE(quad, nullptr);
    EXPECT_EQ(quad->GetVertexCount(), 4u);
    EXPECT_EQ(quad->GetIndexCount(), 6u);
    EXPECT_EQ(quad->m_boundsMin, Vec3(-1, -1, 0));
    EXPECT_EQ(quad->m_boundsMax, Vec3(1, 1, 0));
  };
  Graphics::RenderCore& core = Graphics::RenderCore::GetInstance();
  ASSERT_TRUE(core.IsInitialized());
  expectUnitQuad(Graphics::GetQuadMesh());
  core.Shutdown();
  ASSERT_NE(meshes.GetResourceByName("Crate.cong"), nullptr);
  Graphics::RenderCore& again = Graphics::RenderCore::GetInstance();
  ASSERT_TRUE(again.IsInitialized());
  expectUnitQuad(Graphics::GetQuadMesh());
  again.Shutdown();  // the renderer this test started lets its device go, as the graphics system's would
}

class RenderPasses : public SceneFixture {
 protected:
  // A sun casting shadows along `direction`, its camera 40 units back looking at the origin.
  static void AimSun(Graphics::BaseDLight& sun, Vec3 direction) {
    direction.Normalize();
    sun.m_data.m_direction = direction;
    sun.m_castsShadow = true;
    sun.m_shadowCamera.SetPosition(direction * -40.0f);
    sun.m_shadowCamera.LookAt(Vec3(0, 0, 0));
  }
  std::vector<uint8_t> ShadowMapOf(Graphics::BaseDLight& sun) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadTexels(sun.GetShadowTexture(), 0, &bytes), Platform::kGpuOk);
    return bytes;
  }
};

TEST_F(RenderPasses, NullListsAndFramesAreRefused) {
  Graphics::RenderList list;
  core_->RenderCanvas(&list, nullptr);
  core_->RenderCanvas(nullptr, frame_);
  EXPECT_EQ(Count(log_.Take(), "[ Error ][Graphics] Trying to draw with invalid state/frame"), 2u);
}

TEST_F(RenderPasses, BackgroundIsTheClearColourAndAnUnlitModelShowsItsAlbedo) {
  const Vec4 albedo(0.2f, 0.6f, 0.9f, 1.0f);
  Model box("default.cong", Vec3(0, 0, 0), Vec3(4, 4, 4), albedo);
  DrawFrame({&box});
  std::vector<Pixel> px = ReadAndPresent();
  EXPECT_TRUE(IsClear(At(px, 1, 1)));
  EXPECT_TRUE(IsClear(At(px, 62, 62)));
  const Pixel centre = At(px, 32, 32);
  EXPECT_NEAR(centre.r, 51, 2);
  EXPECT_NEAR(centre.g, 153, 2);
  EXPECT_NEAR(centre.b, 230, 2);

  // An empty list composes nothing: only the clear colour remains.
  DrawFrame({});
  px = ReadAndPresent();
  EXPECT_TRUE(IsClear(At(px, 32, 32)));
}

TEST_F(RenderPasses, AModelOnTheRightOfTheSceneIsOnTheRightOfTheFrame) {
  // An asymmetric scene fixes the matrix convention: +x right, +y up for a camera looking down +z.
  Model right("default.cong", Vec3(3, 2, 0), Vec3(2, 2, 2), Vec4(1, 0, 0, 1));
  DrawFrame({&right});
  const std::vector<Pixel> px = ReadAndPresent();
  const Pixel upperRight = At(px, 32 + 12, 32 - 8), lowerLeft = At(px, 32 - 12, 32 + 8);
  EXPECT_GT(upperRight.r, 200);
  EXPECT_LT(upperRight.g, 20);
  EXPECT_TRUE(IsClear(lowerLeft));
}

TEST_F(RenderPasses, APointLightBrightensOnlyNearbyPixelsAndFollowsTheLight) {
  Model wall("default.cong", Vec3(0, 0, 2), Vec3(20, 20, 1));
  Graphics::BasePLight light;
  light.m_data.m_position = Vec3(-3, 0, 0.5f);
  light.m_data.m_radius = 3.0f;
  light.m_data.m_attenuation = Vec3(1, 0, 0);
  DrawFrame({&wall, &light});
  std::vector<Pixel> px = ReadAndPresent();
  const int leftLit = At(px, 20, 32).Brightness(), rightLit = At(px, 44, 32).Brightness();
  EXPECT_GT(leftLit, 150);
  EXPECT_EQ(rightLit, 0);

  light.m_data.m_position = Vec3(3, 0, 0.5f);
  DrawFrame({&wall, &light});
  px = ReadAndPresent();
  EXPECT_EQ(At(px, 20, 32).Brightness(), 0);
  EXPECT_GT(At(px, 44, 32).Brightness(), 150);
}

TEST_F(RenderPasses, ASpotLightLightsInsideItsConeOnly) {
  Model wall("default.cong", Vec3(0, 0, 2), Vec3(20, 20, 1));
  Graphics::BaseSLight spot;
  spot.m_data.m_position = Vec3(0, 0, -2);
  spot.m_data.m_direction = Vec4(0, 0, 1, 0);
  spot.m_data.m_attenuation = Vec3(1, 0, 0);
  spot.m_innerAngle = 20.0f;
  spot.m_outerAngle = 30.0f;
  spot.m_data.m_innerCos = std::cos(Base::DegToRad(10.0f));
  spot.m_data.m_outerCos = std::cos(Base::DegToRad(15.0f));
  spot.m_beamLength = 10.0f;
  DrawFrame({&wall, &spot});
  const std::vector<Pixel> px = ReadAndPresent();
  EXPECT_GT(At(px, 32, 32).Brightness(), 400);  // on the axis
  EXPECT_EQ(At(px, 4, 32).Brightness(), 0);     // far outside the cone
}

TEST_F(RenderPasses, AShadowedRegionIsDarkerThanTheLitOne) {
  Model wall("default.cong", Vec3(0, 0, 5), Vec3(30, 30, 1));
  Model blocker("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2));
  Graphics::BaseDLight sun;
  Vec3 direction(1, 0, 1);
  direction.Normalize();
  sun.m_data.m_direction = direction;
  sun.m_castsShadow = true;
  sun.m_shadowCamera.SetPosition(direction * -40.0f);
  sun.m_shadowCamera.LookAt(Vec3(0, 0, 0));
  DrawFrame({&wall, &blocker, &sun});
  const std::vector<Pixel> px = ReadAndPresent();
  // On the wall's face (z 4.5) the light, running along +x+z, leaves the block's shadow between x 2.5
  // and 6.5.
  const int shadowed = AtWorld(px, Vec3(4, 0, 4.5f)).Brightness(), lit = AtWorld(px, Vec3(-3, 0, 4.5f)).Brightness();
  EXPECT_GT(lit, 300);
  EXPECT_LT(shadowed, lit / 4);

  // Without its shadow map the same light lights the wall there too.
  sun.m_castsShadow = false;
  DrawFrame({&wall, &blocker, &sun});
  EXPECT_GT(AtWorld(ReadAndPresent(), Vec3(4, 0, 4.5f)).Brightness(), 300);
}

// A shadow pass clears only what the pass before it drew: when the caster moves, its old shadow goes,
// and the map holds what a light drawing it for the first time (a whole clear) holds.
TEST_F(RenderPasses, AShadowFollowsItsCasterAndTheMapHoldsWhatAFirstPassWouldDraw) {
  Model wall("default.cong", Vec3(0, 0, 5), Vec3(30, 30, 1));
  Model blocker("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2));
  const Vec3 direction(1, 0, 1);
  Graphics::BaseDLight sun;
  AimSun(sun, direction);
  DrawFrame({&wall, &blocker, &sun});
  const std::vector<Pixel> start = ReadAndPresent();
  const int lit = AtWorld(start, Vec3(-3, 0, 4.5f)).Brightness();
  EXPECT_LT(AtWorld(start, Vec3(4, 0, 4.5f)).Brightness(), lit / 4);

  blocker.Place(Vec3(-1, 3, -1), Vec3(2, 2, 2));  // its shadow now falls from x 2.5 up, 3 higher
  DrawFrame({&wall, &blocker, &sun});
  const std::vector<Pixel> moved = ReadAndPresent();
  EXPECT_GT(AtWorld(moved, Vec3(4, 0, 4.5f)).Brightness(), 300);  // where the shadow was
  EXPECT_LT(AtWorld(moved, Vec3(4, 3, 4.5f)).Brightness(), lit / 4);
  const std::vector<uint8_t> kept = ShadowMapOf(sun);

  Graphics::BaseDLight fresh;
  AimSun(fresh, direction);
  DrawFrame({&wall, &blocker, &fresh});
  const std::vector<Pixel> first = ReadAndPresent();
  EXPECT_TRUE(kept == ShadowMapOf(fresh));
  EXPECT_EQ(std::memcmp(moved.data(), first.data(), moved.size() * sizeof(Pixel)), 0);

  // With no caster left, the next pass still clears what the last one drew.
  wall.m_shadowCaster = blocker.m_shadowCaster = false;
  DrawFrame({&wall, &blocker, &sun});
  ReadAndPresent();
  const std::vector<uint8_t> empty = ShadowMapOf(sun);
  EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](uint8_t b) { return b == 0; }));
}

// A skinned caster is bounded where its bones put it: moved by its bones alone and back, the map holds
// what the first pass drew.
TEST_F(RenderPasses, ASkinnedCastersShadowIsClearedWhereItsBonesHadPutIt) {
  Model wall("default.cong", Vec3(0, 0, 5), Vec3(30, 30, 1));
  Model worm("Worm.cong", Vec3(-2, 0, 0), Vec3(1, 1, 1));
  std::vector<Base::Mat4> bones(8);
  worm.m_bones = bones.data();
  worm.m_boneCount = uint32_t(bones.size());
  const Vec3 direction(0, 0, 1);
  Graphics::BaseDLight sun;
  AimSun(sun, direction);
  DrawFrame({&wall, &worm, &sun});
  ReadAndPresent();
  const std::vector<uint8_t> before = ShadowMapOf(sun);
  // The bones are kept transposed: a move of 20 up, past the wall's part of the map.
  for (Base::Mat4& bone : bones) bone = Base::Mat4::BuildTranslation(Vec3(0, 20, 0)).Transposed();
  DrawFrame({&wall, &worm, &sun});
  ReadAndPresent();
  EXPECT_FALSE(ShadowMapOf(sun) == before);
  // Back at rest: the pass clears where the bones had put it, and the map is the first pass's again.
  for (Base::Mat4& bone : bones) bone = Base::Mat4();
  DrawFrame({&wall, &worm, &sun});
  ReadAndPresent();
  EXPECT_TRUE(ShadowMapOf(sun) == before);
}

TEST_F(RenderPasses, ADebugShapeOfTwoHundredthsIsDrawnInTwoFramesAndQueuedWithoutACanvasOnCanvasZero) {
  Graphics::DebugDraw& queue = Graphics::DebugDraw::GetInstance();
  ASSERT_EQ(queue.m_canvas, nullptr);
  queue.m_drawTime = 0.02f;
  queue.m_oneShot = true;
  queue.DrawCube(Vec3(0, 0, 0), Vec3(3, 3, 3), Base::Mat4(), Vec3(1, 0, 0), true);
  ASSERT_EQ(queue.m_solid[canvas_][Graphics::DebugDraw::Cube].size(), 1u);
  for (int frame = 0; frame < 3; ++frame) {
    DrawFrame({});
    const Pixel centre = At(ReadAndPresent(), 32, 32);
    if (frame < 2) {
      EXPECT_EQ(centre.r, 255) << frame;
      EXPECT_EQ(centre.g, 0) << frame;
    } else {
      EXPECT_TRUE(IsClear(centre));
    }
  }
  EXPECT_TRUE(queue.m_solid[canvas_][Graphics::DebugDraw::Cube].empty());
  queue.ForgetCanvas(canvas_);
}

TEST_F(RenderPasses, ModelsOfOneMeshAndMaterialShareABatchUnlessAnimated) {
  Model a("Worm.cong", Vec3(-2, 0, 0), Vec3(1, 1, 1)), b("Worm.cong", Vec3(2, 0, 0), Vec3(1, 1, 1));
  DrawFrame({&a, &b});
  EXPECT_EQ(core_->GetLastBatchCount(), 1u);
  // The worm runs 4 units along +x from its origin.
  std::vector<Pixel> px = ReadAndPresent();
  EXPECT_GT(At(px, 28, 32).Brightness(), 600);
  EXPECT_GT(At(px, 45, 32).Brightness(), 600);

  std::vector<Base::Mat4> bones(8);
  a.m_bones = b.m_bones = bones.data();
  a.m_boneCount = b.m_boneCount = uint32_t(bones.size());
  const uint64_t before = device_->Stats().draws;
  DrawFrame({&a, &b});
  EXPECT_EQ(core_->GetLastBatchCount(), 2u);
  // Two model draws, the fullbright quad twice (no lights) and the composition.
  EXPECT_EQ(device_->Stats().draws - before, 5u);
  px = ReadAndPresent();
  EXPECT_GT(At(px, 28, 32).Brightness(), 600);  // skinned by identity bones, in the same place
  EXPECT_GT(At(px, 45, 32).Brightness(), 600);
}

TEST_F(RenderPasses, EveryLightIsDrawnWhateverHowManyDirectionalLightsComeFirst) {
  Model wall("default.cong", Vec3(0, 0, 2), Vec3(20, 20, 1));
  Graphics::BaseDLight first, second;
  for (Graphics::BaseDLight* light : {&first, &second}) light->m_data.m_diffuse = Vec4(0.1f, 0.1f, 0.1f, 1.0f);
  Graphics::BasePLight red;
  red.m_data.m_position = Vec3(-3, 0, 0.5f);
  red.m_data.m_radius = 3.0f;
  red.m_data.m_attenuation = Vec3(1, 0, 0);
  red.m_data.m_diffuse = Vec4(1, 0, 0, 1);
  DrawFrame({&wall, &first, &second, &red});
  const std::vector<Pixel> px = ReadAndPresent();
  const Pixel nearRed = AtWorld(px, Vec3(-3, 0, 1.5f)), far = AtWorld(px, Vec3(3, 0, 1.5f));
  EXPECT_GT(int(nearRed.r), int(nearRed.b) + 100);  // the point light after two directional ones
  EXPECT_GT(int(far.b), 30);                        // both directional lights, 0.1 each
  EXPECT_EQ(far.r, far.b);
}

// The light passes of a layer read the G-buffer only where that layer drew, so what an earlier layer
// left there never shows: a light filling the whole frame in layer 1 brightens its small box and
// nothing of layer 0's wall around it. The G-buffer is left uncleared between layers for this reason;
// a frame's clears are the light target, the depth of each drawn layer and the composition's depth.
TEST_F(RenderPasses, ALayerLightsOnlyWhatItDrewWhateverAnEarlierLayerLeftInTheGBuffer) {
  Model wall("default.cong", Vec3(0, 0, 2), Vec3(20, 20, 1), Vec4(0.5f, 0.5f, 0.5f, 1));
  Model box("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2), Vec4(1, 1, 1, 1));
  Graphics::BasePLight light;
  light.m_data.m_position = Vec3(0, 0, -4);
  light.m_data.m_radius = 50.0f;
  light.m_data.m_attenuation = Vec3(1, 0, 0);
  light.m_data.m_diffuse = Vec4(1, 0, 0, 1);
  auto draw = [&](bool lit) {
    master_.Clear(canvasId_, Vec4(kClear[0], kClear[1], kClear[2], kClear[3]));
    canvas_->Begin(&camera_);
    canvas_->Submit(&wall, 0);
    canvas_->Submit(&box, 1);
    if (lit) canvas_->Submit(&light, 1);
    canvas_->End();
    master_.Draw(canvasId_);
    return ReadAndPresent();
  };
  const std::vector<Pixel> unlit = draw(false);
  const uint64_t clearsBefore = device_->Stats().clears;
  const std::vector<Pixel> lit = draw(true);
  const uint64_t clears = device_->Stats().clears - clearsBefore;
  // Unlit, the box is white and the wall around it grey: each pixel says which layer it shows.
  int boxPixels = 0, red = 0, changedOutside = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const Pixel a = At(unlit, x, y), b = At(lit, x, y);
      if (a.r == 255 && a.g == 255 && a.b == 255) {
        ++boxPixels;
        red += b.r > 200 && b.g < 30 && b.b < 30;
      } else {
        changedOutside += a.r != b.r || a.g != b.g || a.b != b.b;
      }
    }
  EXPECT_GT(boxPixels, 16);
  EXPECT_EQ(red, boxPixels);
  EXPECT_EQ(changedOutside, 0);
  EXPECT_EQ(At(unlit, 32, 20).g, 128);  // the wall above the box, unlit
  // The frame, the light target, the depth of layers 0 and 1 and the composition's depth (the debug
  // pass's depth clear joins the next frame's first).
  EXPECT_EQ(clears, 5u);
}

TEST_F(RenderPasses, ALayerWithOnlyLightsIsNotDrawn) {
  Graphics::BasePLight light;
  const uint64_t before = device_->Stats().draws;
  DrawFrame({&light});
  EXPECT_EQ(device_->Stats().draws - before, 1u);  // the composition alone
  EXPECT_EQ(core_->GetLastBatchCount(), 0u);
}

struct DrawLibCall {
  int calls = 0;
  size_t sprites = 0;
  Graphics::BaseCamera* camera = nullptr;
  Graphics::Shader* shader = nullptr;
} g_drawLib;

TEST_F(RenderPasses, LayersWith2DRecordsHandThemToTheInstalledDrawLibPass) {
  g_drawLib = {};
  auto record = [](const Graphics::RenderList::Layer& layer, Graphics::BaseCamera* camera, DirectX::SpriteBatch&,
                   const DirectX::CommonStates&, Graphics::Shader* shader) {
    ++g_drawLib.calls;
    g_drawLib.sprites = layer.block.sprites.size();
    g_drawLib.camera = camera;
    g_drawLib.shader = shader;
  };
  const Graphics::RenderCore::DrawLibPass installed = Graphics::RenderCore::SetDrawLibPass(record);
  master_.Clear(canvasId_, Vec4(0, 0, 0, 1));
  canvas_->Begin(&camera_);
  canvas_->AddRectCommand(3, Graphics::SpriteRecord{});
  canvas_->End();
  master_.Draw(canvasId_);
  Graphics::RenderCore::SetDrawLibPass(installed);
  EXPECT_EQ(g_drawLib.calls, 1);  // only layer 3 has anything to draw
  EXPECT_EQ(g_drawLib.sprites, 1u);
  EXPECT_EQ(g_drawLib.camera, canvas_->GetCamera2D());
  EXPECT_EQ(g_drawLib.shader, Graphics::FindLoadedShader("DrawLib_PS"));
}

TEST_F(RenderPasses, TheCompositionCopiesEveryTexelOfTheLitPictureToItsOwnPixel) {
  // A 16:9 frame fills its letter-box: the accumulation target and the viewport are one size.
  constexpr int kWidth = 96, kHeight = 54;
  frame_->Resize(kWidth, kHeight);
  Model wall("default.cong", Vec3(0, 0, 2), Vec3(20, 20, 1), Vec4(0.9f, 0.8f, 0.7f, 1));
  Model box("default.cong", Vec3(-1.3f, 0.4f, 0), Vec3(2, 2, 2), Vec4(1, 0.2f, 0.1f, 1));
  Graphics::BasePLight light;
  light.m_data.m_position = Vec3(1, -1, 0.5f);
  light.m_data.m_radius = 5.0f;
  light.m_data.m_attenuation = Vec3(1, 0, 0);
  DrawFrame({&wall, &box, &light});

  std::vector<uint8_t> accumulation;
  ASSERT_EQ(device_->ReadTexels(core_->GetLightTarget()->GetTexture(0), 0, &accumulation), Platform::kGpuOk);
  ASSERT_EQ(accumulation.size(), size_t(kWidth) * kHeight * 16);
  Platform::GpuTexture2D* back = nullptr;
  ASSERT_EQ(frame_->GetSwapChain()->GetBuffer(0, &back), Platform::kGpuOk);
  std::vector<uint8_t> picture;
  EXPECT_EQ(device_->ReadTexels(back, 0, &picture), Platform::kGpuOk);
  back->Release();
  ASSERT_EQ(picture.size(), size_t(kWidth) * kHeight * 4);
  master_.Present(canvasId_);

  // Each byte is its texel's value rounded (the back buffer is plain 8-bit): no neighbour blends in.
  int edges = 0, wrong = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const size_t i = size_t(y) * kWidth + size_t(x);
      float texel[4];
      std::memcpy(texel, &accumulation[i * 16], sizeof texel);
      for (int c = 0; c < 3; ++c) {
        const int want = int(std::lround(std::clamp(texel[c], 0.0f, 1.0f) * 255.0f));
        if (std::abs(int(picture[i * 4 + size_t(c)]) - want) > 1 && ++wrong <= 5)
          ADD_FAILURE() << "pixel " << x << ", " << y << " channel " << c << ": " << int(picture[i * 4 + size_t(c)])
                        << " for a texel of " << want;
      }
      if (x > 0) {
        float left[4];
        std::memcpy(left, &accumulation[(i - 1) * 16], sizeof left);
        edges += std::abs(texel[0] - left[0]) > 0.1f;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(edges, 10);  // the picture has hard edges a blur would soften
}

// The fullbright quad repeats a source smaller than the target: each pixel takes the texel at its
// position modulo the source's size, for sizes of no power of two as well (the shader wraps without an
// integer division).
TEST_F(RenderPasses, TheFullbrightQuadRepeatsASmallSourceTexelForTexel) {
  DrawFrame({});  // the targets take the frame's size
  ReadAndPresent();
  constexpr uint32_t kW = 3, kH = 5;
  std::vector<float> texels;
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) texels.insert(texels.end(), {0.25f * float(x), 0.125f * float(y), 0.5f, 1.0f});
  Platform::GpuTexture2DDesc d;
  d.width = kW;
  d.height = kH;
  d.format = Platform::GpuFormat_R32G32B32A32_Float;
  d.bindFlags = Platform::GpuBind_ShaderResource;
  const Platform::GpuSubresourceData init{texels.data(), kW * 16, 0};
  GpuTest::GpuRef<Platform::GpuTexture2D> source;
  GpuTest::GpuRef<Platform::GpuShaderResourceView> view;
  ASSERT_EQ(device_->CreateTexture2D(d, &init, source.GetAddressOf()), Platform::kGpuOk);
  ASSERT_EQ(device_->CreateShaderResourceView(source.Get(), nullptr, view.GetAddressOf()), Platform::kGpuOk);

  Graphics::Renderer::RenderTarget<1>* target = core_->GetLightTarget();
  target->BindAsRenderTargets(nullptr);
  frame_->SetFullViewport();
  Platform::GpuShaderResourceView* views[] = {view.Get()};
  context_->SetShaderResources(Platform::GpuShaderStage::Pixel, 1, 1, views);
  context_->SetDepthStencilState(nullptr, 0);
  context_->SetRasterizerState(nullptr);  // the debug pass ends in wireframe
  context_->SetPrimitiveTopology(Platform::GpuTopology::TriangleList);
  Graphics::Mesh* quad = Base::Resources<Graphics::Mesh>::Instance().GetResourceById(
      core_->GetMeshID(Graphics::RenderCore::QuadMesh));
  ASSERT_NE(quad, nullptr);
  quad->BindBuffers(false);
  Graphics::FindLoadedShader("ObjectSpace_VS")->Bind();
  Graphics::FindLoadedShader("Fullbright_PS")->Bind();
  context_->DrawIndexed(quad->GetIndexCount(), 0, 0);
  context_->SetShaderResources(Platform::GpuShaderStage::Pixel, 1, 1, nullptr);

  std::vector<uint8_t> bytes;
  ASSERT_EQ(device_->ReadTexels(target->GetTexture(0), 0, &bytes), Platform::kGpuOk);
  const uint32_t size = uint32_t(target->GetSize().x);
  ASSERT_EQ(bytes.size(), size_t(size) * size * 16);
  int wrong = 0;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      float got[4];
      std::memcpy(got, &bytes[(size_t(y) * size + x) * 16], sizeof got);
      const float* want = &texels[(size_t(y % kH) * kW + x % kW) * 4];
      if ((got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != 1.0f) && ++wrong <= 3)
        ADD_FAILURE() << "pixel " << x << ", " << y << ": " << got[0] << ", " << got[1];
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(RenderPasses, AnInstalledObserverIsToldTheEndOfEveryPassInOrder) {
  static std::vector<std::string> seen;
  seen.clear();
  const Graphics::RenderCore::PassObserver before = Graphics::RenderCore::SetPassObserver(
      [](const char* pass, int layer) { seen.push_back(std::string(pass) + " " + std::to_string(layer)); });
  Model box("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2));
  Model far("default.cong", Vec3(0, 0, 3), Vec3(2, 2, 2));
  Graphics::BasePLight light;
  DrawFrame({&box, &light});
  canvas_->Begin(&camera_);
  canvas_->Submit(&box, 0);
  canvas_->Submit(&far, 2);
  canvas_->End();
  master_.Draw(canvasId_);
  Graphics::RenderCore::SetPassObserver(before);
  ReadAndPresent();
  DrawFrame({&box});  // no observer: nothing told
  ReadAndPresent();

  const std::vector<std::string> layer0 = {"shadow maps 0", "g-buffer 0", "fullbright 0", "lights 0", "forward 0", "2d 0"};
  std::vector<std::string> want = {"begin -1"};
  want.insert(want.end(), layer0.begin(), layer0.end());
  want.insert(want.end(), {"compose -1", "debug shapes -1", "begin -1"});
  want.insert(want.end(), layer0.begin(), layer0.end());
  for (const std::string& pass : layer0) want.push_back(pass.substr(0, pass.size() - 1) + "2");
  want.insert(want.end(), {"compose -1", "debug shapes -1"});
  EXPECT_EQ(seen, want);
}

int64_t g_profilerNow = 0;

// The profiler's lights, forward and 2D sections add up over the layers of a frame, under a clock
// that moves only inside those passes: layer L spends L + 1 ms lighting, ten times that in the
// forward pass and a hundred times that in 2D.
TEST_F(RenderPasses, TheProfilerSectionsOfTheLayersAddUpOverTheFrame) {
  g_profilerNow = 1000;
  Platform::SetTickSource([] { return g_profilerNow; });
  const Graphics::RenderCore::PassObserver before =
      Graphics::RenderCore::SetPassObserver([](const char* pass, int layer) {
        const int64_t ms = 10000 * (layer + 1);
        if (std::strcmp(pass, "lights") == 0) g_profilerNow += ms;
        if (std::strcmp(pass, "forward") == 0) g_profilerNow += 10 * ms;
        if (std::strcmp(pass, "2d") == 0) g_profilerNow += 100 * ms;
      });
  Base::DebugTimer& timers = Base::DebugTimer::GetInstance();
  timers.NewFrame();
  Model box("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2));
  Model far("default.cong", Vec3(0, 0, 3), Vec3(2, 2, 2));
  canvas_->Begin(&camera_);
  canvas_->Submit(&box, 0);
  canvas_->Submit(&far, 2);
  canvas_->End();
  master_.Draw(canvasId_);
  Graphics::RenderCore::SetPassObserver(before);
  Platform::SetTickSource(nullptr);
  ReadAndPresent();

  std::map<std::string, Base::DebugTimerData> report;
  for (const Base::DebugTimerData& section : timers.GetTimers()) report[section.Name] = section;
  // Layers 0 and 2, in microseconds: 1 + 3 ms, 10 + 30 ms and 100 + 300 ms.
  EXPECT_EQ(report["Lights"].Duration, 4000u);
  EXPECT_EQ(report["ForwardPass"].Duration, 40000u);
  EXPECT_EQ(report["DrawLib"].Duration, 400000u);
  EXPECT_EQ(report["MultiPass"].Duration, 444000u);
  // All three end where layer 2's 2D pass ended, keep the order they first began in, and are closed.
  EXPECT_EQ(report["Lights"].EndTime, report["DrawLib"].EndTime);
  EXPECT_EQ(report["ForwardPass"].EndTime, report["DrawLib"].EndTime);
  EXPECT_LT(report["Lights"].Ordering, report["ForwardPass"].Ordering);
  EXPECT_LT(report["ForwardPass"].Ordering, report["DrawLib"].Ordering);
  for (const char* section : {"Lights", "ForwardPass", "DrawLib"}) {
    EXPECT_FALSE(timers.IsTimerRunning(section)) << section;
    EXPECT_FALSE(timers.IsTimerPaused(section)) << section;
  }
}

TEST_F(RenderPasses, TargetsFollowTheFrameSizeOnlyWhenItChanges) {
  DrawFrame({});
  EXPECT_EQ(core_->GetTargetSize().x, float(kSize));
  log_.Take();
  DrawFrame({});
  EXPECT_EQ(Count(log_.Take(), "Initializing RenderTarget"), 0u);
  frame_->Resize(32, 16);
  log_.Take();
  DrawFrame({});
  EXPECT_EQ(Count(log_.Take(), "Initializing RenderTarget 32 x 16"), 2u);
}

}  // namespace
