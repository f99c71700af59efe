// Canvases and the Graphics Master: ids and their messages, clear and present pairing, list
// rotation, filing and render order, per-frame cameras, and layer indices out of range.
#include "Base/ResourceCollection.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"
#include "tests/Graphics/RendererFixture.h"

#include <array>
#include <memory>

namespace {

using namespace GpuTest;
using Graphics::Canvas;
using Graphics::GraphicsMaster;
using Graphics::RenderList;

struct ListedModel : Graphics::BaseModel {
  ListedModel(uint32_t material, uint32_t mesh) {
    m_materialID = material;
    m_meshID = mesh;
  }
  void Draw(const void*, uint32_t, bool) override {}
};

struct TestLight : Graphics::Light {
  explicit TestLight(Type type) : Light(type) {}
  void Draw(const void*, uint32_t, bool) override {}
  const void* GetLightData() const override { return this; }
  uint32_t GetLightDataSize() const override { return 0; }
};

// Neither a model nor a light, as particle systems are.
struct Particles : Graphics::RenderableObject {
  void Draw(const void*, uint32_t, bool) override {}
  bool IsDrawnBefore(const RenderableObject*) const override { return false; }
};

struct ModelAndLight : ListedModel, TestLight {
  ModelAndLight() : ListedModel(0, 0), TestLight(Point) {}
  using ListedModel::Draw;
};

struct DrawCall {
  int count = 0;
  RenderList* list = nullptr;
  Graphics::Frame* frame = nullptr;
};
DrawCall g_drawn;

class Canvases : public RendererFixture {
 protected:
  void SetUp() override {
    RendererFixture::SetUp();
    installed_ = master_.SetCanvasRenderer([](RenderList& list, Graphics::Frame& frame) {
      ++g_drawn.count;
      g_drawn.list = &list;
      g_drawn.frame = &frame;
    });
    g_drawn = {};
    emptyBefore_ = {Empty<Graphics::Mesh>(), Empty<Graphics::Material>(), Empty<Graphics::Shader>(),
                    Empty<Graphics::Tex2D>()};
  }
  void TearDown() override {
    // Models load the default mesh and material (with its shader and textures) on first use: the
    // managers that were empty are emptied again, as the resource tests expect to find them.
    EmptyAgain<Graphics::Mesh>(emptyBefore_[0]);
    EmptyAgain<Graphics::Material>(emptyBefore_[1]);
    EmptyAgain<Graphics::Shader>(emptyBefore_[2]);
    EmptyAgain<Graphics::Tex2D>(emptyBefore_[3]);
    master_.Shutdown();
    // The render core's entry, when it had installed it: later tests draw through it.
    master_.SetCanvasRenderer(installed_);
  }

  Canvas* Pair(int width = 64, int height = 36) {
    return master_.GetCanvas(master_.CreateCanvasFramePair(nullptr, width, height));
  }

  GraphicsMaster& master_ = GraphicsMaster::GetInstance();
  GraphicsMaster::CanvasRenderer installed_ = nullptr;

 private:
  template <class T>
  static bool Empty() {
    return Base::Resources<T>::Instance().GetEntryCount() == 0;
  }
  template <class T>
  static void EmptyAgain(bool wasEmpty) {
    if (wasEmpty) Base::Resources<T>::Instance().Clear();
  }
  std::array<bool, 4> emptyBefore_{};
};

TEST_F(Canvases, PairsGetDenseIdsAndLogTheirCreation) {
  EXPECT_EQ(master_.CreateCanvasFramePair(nullptr, 64, 36), 0);
  std::string lines = log_.Take();
  EXPECT_NE(lines.find("[Verbose][Graphics] Created new frame (size: 64x36 id: 0)\n"
                       "[Verbose][Graphics] Created canvas (id: 0 frame id: 0)\n"
                       "[Verbose][Graphics] Created new Canvas/Frame pair, 64 x 36 with CanvasID 0 and FrameID 0\n"),
            std::string::npos)
      << lines;
  EXPECT_EQ(master_.CreateCanvasFramePair(nullptr, 32, 32), 1);
  Canvas* canvas = master_.GetCanvas(1);
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->GetID(), 1u);
  EXPECT_EQ(canvas->GetFrameID(), 1u);
  EXPECT_EQ(master_.GetFrame(1)->GetID(), 1u);
  EXPECT_EQ(canvas->GetFrameSize(), Base::Vec2(32, 32));
  EXPECT_EQ(master_.GetCanvas(2), nullptr);
  EXPECT_EQ(master_.GetCanvas(-1), nullptr);
  EXPECT_EQ(master_.GetFrame(-1), nullptr);

  // A destroyed canvas leaves a null slot and no default canvas behind.
  master_.SetDefaultCanvas(1);
  delete canvas;
  EXPECT_EQ(master_.GetCanvas(1), nullptr);
  EXPECT_EQ(master_.GetDefaultCanvas(), nullptr);
  log_.Take();
  master_.Clear(1, {0, 0, 0, 1});
  EXPECT_EQ(log_.Take(), "[Warning][Graphics] Attempted to Clear invalid Canvas using ID 1\n");

  master_.Shutdown();
  EXPECT_EQ(log_.Take().rfind("[ Info  ][Graphics] Shutting down Graphics Master\n", 0), 0u);
  EXPECT_EQ(master_.GetCanvas(0), nullptr);
  EXPECT_EQ(master_.GetFrame(0), nullptr);
  EXPECT_EQ(master_.CreateCanvasFramePair(nullptr, 8, 8), 0);
}

TEST_F(Canvases, InvalidIdsAreReportedWithTheIdAndDoNothing) {
  Canvas* canvas = Pair();
  log_.Take();
  master_.Clear(-1, {1, 1, 1, 1});
  master_.Draw(-1);
  master_.Present(-1);
  master_.Draw(7);
  EXPECT_EQ(log_.Take(),
            "[Warning][Graphics] Attempted to Clear invalid Canvas using ID -1\n"
            "[Warning][Graphics] Attempted to Draw invalid Canvas using ID -1\n"
            "[Warning][Graphics] Attempted to Present invalid Canvas using ID -1\n"
            "[Warning][Graphics] Attempted to Draw invalid Canvas using ID 7\n");

  // A canvas on a frame that does not exist is not valid either.
  const int orphan = master_.CreateCanvas(5);
  log_.Take();
  master_.Present(orphan);
  EXPECT_EQ(log_.Take(), "[Warning][Graphics] Attempted to Present invalid Canvas using ID 1\n");

  Particles particles;
  master_.SetDefaultCanvas(9);
  master_.Render(&particles, 0);
  EXPECT_EQ(log_.Take(), "[Warning][Graphics] Calling master render before setting default canvas\n");
  master_.SetDefaultCanvas(0);
  EXPECT_EQ(master_.GetDefaultCanvas(), canvas);
  master_.Render(&particles, 2);
  EXPECT_EQ(log_.Take(), "");
}

TEST_F(Canvases, TwoClearsThenOnePresentPresentsOnce) {
  Canvas* canvas = Pair();
  Graphics::Frame* frame = master_.GetFrame(int(canvas->GetFrameID()));
  const uint64_t presents = device_->Stats().presents;
  master_.Present(0);
  EXPECT_EQ(device_->Stats().presents, presents);
  master_.Clear(0, {0, 0, 1, 1});
  master_.Clear(0, {1, 0, 0, 1});
  EXPECT_EQ(frame->GetClearColour(), Base::Vec4(0, 0, 1, 1));
  master_.Present(0);
  master_.Present(0);
  EXPECT_EQ(device_->Stats().presents, presents + 1);
}

TEST_F(Canvases, DrawHandsTheFinishedListToTheRenderCoreOnceAndIsSilentOtherwise) {
  Canvas* canvas = Pair();
  log_.Take();
  master_.Draw(0);
  EXPECT_EQ(g_drawn.count, 0);
  EXPECT_EQ(log_.Take(), "");

  ListedModel late(3, 0), early(1, 9);
  log_.Take();  // the models' default mesh and material load on first use
  canvas->Begin(nullptr);
  master_.SetDefaultCanvas(0);
  master_.Render(&late, 0);
  master_.Render(&early, 0);
  canvas->End();
  EXPECT_TRUE(canvas->HasNewList());
  master_.Draw(0);
  ASSERT_EQ(g_drawn.count, 1);
  EXPECT_EQ(g_drawn.frame, master_.GetFrame(0));
  EXPECT_FALSE(canvas->HasNewList());
  const RenderList::Layer* layer = g_drawn.list->GetRecord(0);
  ASSERT_EQ(layer->models.size(), 2u);
  EXPECT_EQ(layer->models[0], &early);  // sorted on the way out
  master_.Draw(0);
  EXPECT_EQ(g_drawn.count, 1);
  EXPECT_EQ(log_.Take(), "");
}

TEST_F(Canvases, ListsRotateOncePerEndAndKeepTheirCameras) {
  Canvas* canvas = Pair();
  Graphics::BaseCamera scene;
  Particles a, b;
  canvas->Begin(&scene);
  canvas->Submit(&a, 1);
  canvas->End();
  canvas->Submit(2, &b);  // into the next recording, not the finished list
  canvas->End();          // a second End without Begin does not rotate again
  RenderList* ready = canvas->TakeReadyList();
  ASSERT_EQ(ready->GetRecord(1)->others.size(), 1u);
  EXPECT_EQ(ready->GetRecord(1)->others[0], &a);
  EXPECT_EQ(ready->GetCamera(0), &scene);
  EXPECT_EQ(ready->GetCamera(3), canvas->GetCamera2D());

  canvas->Begin(&scene);
  canvas->End();
  ready = canvas->TakeReadyList();
  ASSERT_EQ(ready->GetRecord(2)->others.size(), 1u);
  EXPECT_EQ(ready->GetRecord(2)->others[0], &b);

  // A cleared list keeps the cameras its set held until the next Begin.
  canvas->Begin(nullptr);
  canvas->Submit(&a, 0);
  canvas->End();
  canvas->End();
  EXPECT_TRUE(ready->IsCleared() || ready->GetRecord(0)->others.empty());
  RenderList* third = canvas->TakeReadyList();
  EXPECT_EQ(third->GetCamera(0), nullptr);
  EXPECT_EQ(third->GetCamera(3), canvas->GetCamera2D());
}

TEST_F(Canvases, RenderablesAreFiledByKindAndSortedModelsFirstThenLightsByKind) {
  RenderList list;
  ListedModel m31(3, 1), m12(1, 2), m11(1, 1);
  TestLight spot(Graphics::Light::Spot), directional(Graphics::Light::Directional), point(Graphics::Light::Point);
  Particles p1, p2;
  ModelAndLight both;
  for (Graphics::RenderableObject* r : std::initializer_list<Graphics::RenderableObject*>{
           &m31, &p1, &spot, &m12, &directional, &p2, &m11, &point, static_cast<ListedModel*>(&both)})
    list.Add(0, r);
  EXPECT_FALSE(list.IsCleared());
  list.Sort();
  const RenderList::Layer* layer = list.GetRecord(0);
  ASSERT_EQ(layer->models.size(), 4u);
  EXPECT_EQ(layer->models[0], static_cast<Graphics::BaseModel*>(&both));  // material 0, filed as a model
  EXPECT_EQ(layer->models[1], &m11);
  EXPECT_EQ(layer->models[2], &m12);
  EXPECT_EQ(layer->models[3], &m31);
  ASSERT_EQ(layer->lights.size(), 3u);
  EXPECT_EQ(layer->lights[0], &directional);
  EXPECT_EQ(layer->lights[1], &point);
  EXPECT_EQ(layer->lights[2], &spot);
  ASSERT_EQ(layer->others.size(), 2u);
  EXPECT_EQ(layer->others[0], &p1);  // submission order
  EXPECT_EQ(layer->others[1], &p2);

  // Across kinds: a model before anything else, a light before nothing else.
  EXPECT_TRUE(m31.IsDrawnBefore(&p1));
  EXPECT_FALSE(directional.IsDrawnBefore(&m11));
  EXPECT_FALSE(m11.IsDrawnBefore(&m11));

  Graphics::SpriteRecord sprite;
  list.AddRectCommand(3, sprite);
  list.AddBlock(3, Graphics::DrawBlock());
  list.GetRecord(3)->block.layer = 2;
  list.Clear();
  EXPECT_TRUE(list.IsCleared());
  EXPECT_TRUE(list.GetRecord(0)->models.empty());
  EXPECT_TRUE(list.GetRecord(3)->block.sprites.empty());
  EXPECT_TRUE(list.GetRecord(3)->blocks.empty());
  EXPECT_EQ(list.GetRecord(3)->block.layer, 2u);  // the block's words stay
}

TEST_F(Canvases, TheSceneCameraSetsTheAspectAndTheLetterBoxOfTheFrame) {
  Canvas* canvas = Pair(1920, 1200);
  Graphics::Frame* frame = master_.GetFrame(0);
  Graphics::BaseCamera scene;
  canvas->Begin(&scene);
  EXPECT_FLOAT_EQ(scene.m_aspect, 16.0f / 9.0f);
  canvas->End();
  EXPECT_TRUE(frame->IsLetterBox());
  EXPECT_NEAR(canvas->GetCamera2D()->m_orthoSize.y, 1080, 1e-3f);  // spans the letter box

  scene.SetLetterBox(false);
  canvas->Begin(&scene);
  EXPECT_FLOAT_EQ(scene.m_aspect, 1.6f);
  canvas->End();
  EXPECT_FALSE(frame->IsLetterBox());
  EXPECT_EQ(canvas->GetCamera2D()->m_orthoSize, Base::Vec2(1920, 1200));

  // Without a frame: no aspect from it and no letter box, but the lists still rotate.
  Canvas* orphan = master_.GetCanvas(master_.CreateCanvas(9));
  EXPECT_EQ(orphan->GetFrameSize(), Base::Vec2(0, 0));
  scene.SetAspect(4, 3);
  orphan->Begin(&scene);
  EXPECT_FLOAT_EQ(scene.m_aspect, 4.0f / 3.0f);
  orphan->Resize(10, 10);
  orphan->SetFullScreen(true);
  orphan->End();
  EXPECT_TRUE(orphan->HasNewList());
  EXPECT_EQ(canvas->GetCamera2D()->m_orthoSize, Base::Vec2(1920, 1200));
}

TEST_F(Canvases, LayersOutsideZeroToThreeAreRefusedWithAWarningEverywhere) {
  Canvas* canvas = Pair();
  master_.SetDefaultCanvas(0);
  Particles particles;
  log_.Take();
  canvas->Submit(&particles, 4);
  canvas->Submit(-1, &particles);
  canvas->AddRectCommand(4, Graphics::SpriteRecord());
  canvas->AddTextCommand(-2, Graphics::TextRecord());
  canvas->AddBlock(100, Graphics::DrawBlock());
  EXPECT_EQ(canvas->GetCamera(5), nullptr);
  master_.Render(&particles, 4);
  RenderList list;
  list.SetCamera(-1, canvas->GetCamera2D());
  EXPECT_EQ(list.GetRecord(4), nullptr);
  EXPECT_EQ(log_.Take(),
            "[Warning][Graphics] Submit refused layer 4: canvases have layers 0 to 3\n"
            "[Warning][Graphics] Submit refused layer -1: canvases have layers 0 to 3\n"
            "[Warning][Graphics] AddRectCommand refused layer 4: canvases have layers 0 to 3\n"
            "[Warning][Graphics] AddTextCommand refused layer -2: canvases have layers 0 to 3\n"
            "[Warning][Graphics] AddBlock refused layer 100: canvases have layers 0 to 3\n"
            "[Warning][Graphics] GetCamera refused layer 5: canvases have layers 0 to 3\n"
            "[Warning][Graphics] Submit refused layer 4: canvases have layers 0 to 3\n"
            "[Warning][Graphics] SetCamera refused layer -1: canvases have layers 0 to 3\n"
            "[Warning][Graphics] GetRecord refused layer 4: canvases have layers 0 to 3\n");
  canvas->End();
  EXPECT_TRUE(canvas->TakeReadyList()->IsCleared());  // nothing got in

  // A shrunk list refuses the layers it no longer has.
  list.Resize(2);
  EXPECT_EQ(list.GetRecord(3), nullptr);
  EXPECT_NE(log_.Take(), "");
}

TEST_F(Canvases, AWindowGetsItsPairAndTheCanvasResizesItsFrame) {
  std::string error;
  std::unique_ptr<Platform::Window> window(Platform::Window::Create("game", 64, 36, Platform::Window::Hidden, &error));
  ASSERT_NE(window, nullptr) << error;
  const int id = master_.CreateCanvasFramePair(window.get(), 64, 36);
  Canvas* canvas = master_.GetCanvas(id);
  ASSERT_NE(canvas, nullptr);
  canvas->Resize(128, 72);
  EXPECT_EQ(canvas->GetFrameSize(), Base::Vec2(128, 72));
  master_.Clear(id, {0, 0, 0, 1});
  master_.Present(id);
  master_.Shutdown();  // before the window goes
}

TEST_F(Canvases, ADestroyedCanvasTakesItsDebugRecordsWithIt) {
  Canvas* canvas = Pair();
  Graphics::DebugDraw& queue = Graphics::DebugDraw::GetInstance();
  Graphics::Canvas* before = queue.m_canvas;
  queue.m_canvas = canvas;
  queue.DrawLine({0, 0, 0}, {1, 0, 0}, {1, 1, 1});
  EXPECT_EQ(queue.m_wire.count(canvas), 1u);
  master_.Shutdown();
  EXPECT_EQ(queue.m_canvas, nullptr);
  EXPECT_EQ(queue.m_wire.count(canvas), 0u);
  queue.m_canvas = before;
}

}  // namespace
