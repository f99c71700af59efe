// Shared by the renderer tests: a small offscreen canvas/frame pair drawn by the render core, a camera
// looking down +z at the origin, and the frame's back buffer read back as 8-bit pixels.
#pragma once

#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/RenderCore.h"
#include "Graphics/RenderableObject.h"
#include "tests/Graphics/ResourceTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace RenderTest {

struct Pixel {
  uint8_t r, g, b, a;
  int Brightness() const { return int(r) + int(g) + int(b); }
};

// A model of a content mesh placed by translation and scale.
struct Model : Graphics::BaseModel {
  Model(const char* mesh, const Base::Vec3& position, const Base::Vec3& scale, const Base::Vec4& colour = {1, 1, 1, 1}) {
    SetMeshByFilename(mesh);
    m_color = colour;
    Place(position, scale);
  }
  void Place(const Base::Vec3& position, const Base::Vec3& scale) {
    m_worldMatrix = Base::Mat4::BuildTranslation(position) * Base::Mat4::BuildScale(scale);
  }
};

class SceneFixture : public ResourceTest::ResourceFixture {
 protected:
  static constexpr int kSize = 64;
  static constexpr float kClear[4] = {0.25f, 0.5f, 0.75f, 1.0f};

  void SetUp() override {
    ResourceFixture::SetUp();
    core_ = &Graphics::RenderCore::GetInstance();
    ASSERT_TRUE(core_->IsInitialized());
    canvasId_ = master_.CreateCanvasFramePair(nullptr, kSize, kSize);
    canvas_ = master_.GetCanvas(canvasId_);
    frame_ = master_.GetFrame(int(canvas_->GetFrameID()));
    camera_.SetPosition(Base::Vec3(0, 0, -10));
    camera_.LookAt(Base::Vec3(0, 0, 0));
    log_.Take();
  }
  // The renderer goes with its device, as at the end of a run: the next test starts both anew, and no
  // rasteriser threads outlive the test.
  void TearDown() override {
    master_.Shutdown();
    core_->Shutdown();
    ResourceFixture::TearDown();
  }

  // One frame as the graphics system draws it: clear, record `renderables` in `layer`, finish, draw.
  void DrawFrame(std::initializer_list<Graphics::RenderableObject*> renderables, int layer = 0) {
    master_.Clear(canvasId_, Base::Vec4(kClear[0], kClear[1], kClear[2], kClear[3]));
    canvas_->Begin(&camera_);
    for (Graphics::RenderableObject* renderable : renderables) canvas_->Submit(renderable, layer);
    canvas_->End();
    master_.Draw(canvasId_);
  }
  // What the last frame drew; the next clear takes effect once it is presented.
  std::vector<Pixel> ReadAndPresent() {
    std::vector<Pixel> pixels = ReadBack();
    master_.Present(canvasId_);
    return pixels;
  }

  std::vector<Pixel> ReadBack() {
    Platform::GpuTexture2D* texture = nullptr;
    EXPECT_EQ(frame_->GetSwapChain()->GetBuffer(0, &texture), Platform::kGpuOk);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadTexels(texture, 0, &bytes), Platform::kGpuOk);
    texture->Release();
    std::vector<Pixel> pixels(bytes.size() / sizeof(Pixel));
    std::memcpy(pixels.data(), bytes.data(), pixels.size() * sizeof(Pixel));
    return pixels;
  }
  static Pixel At(const std::vector<Pixel>& pixels, int x, int y) { return pixels[size_t(y) * kSize + size_t(x)]; }
  // The pixel a world point lands on through the camera (row vector times the view-projection) and
  // the viewport the frame is composed into (16:9 letter-boxed for this camera).
  Pixel AtWorld(const std::vector<Pixel>& pixels, const Base::Vec3& world) {
    const Base::Mat4 vp = camera_.GetViewProjectionMatrix();
    const float v[4] = {world.x, world.y, world.z, 1.0f};
    float clip[4] = {};
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) clip[j] += v[i] * vp.m[i * 4 + j];
    const Platform::GpuViewport& port = frame_->IsLetterBox() ? frame_->GetLetterBoxViewport() : frame_->GetFullViewport();
    const int x = int(port.topLeftX + (clip[0] / clip[3] + 1.0f) * 0.5f * port.width);
    const int y = int(port.topLeftY + (1.0f - clip[1] / clip[3]) * 0.5f * port.height);
    EXPECT_TRUE(x >= 0 && x < kSize && y >= 0 && y < kSize) << world.x << ", " << world.y << ", " << world.z;
    return At(pixels, std::clamp(x, 0, kSize - 1), std::clamp(y, 0, kSize - 1));
  }
  static bool IsClear(const Pixel& p) {
    auto near = [](uint8_t v, float f) { return std::abs(int(v) - int(f * 255.0f + 0.5f)) <= 1; };
    return near(p.r, kClear[0]) && near(p.g, kClear[1]) && near(p.b, kClear[2]);
  }

  Graphics::GraphicsMaster& master_ = Graphics::GraphicsMaster::GetInstance();
  Graphics::RenderCore* core_ = nullptr;
  Graphics::Canvas* canvas_ = nullptr;
  Graphics::Frame* frame_ = nullptr;
  int canvasId_ = 0;
  Graphics::BaseCamera camera_;
};

}  // namespace RenderTest

// The software rasteriser draws on the calling thread: the same pixels on every run, and no worker
// threads left running when the process ends.
[[maybe_unused]] inline const int kRenderTestSingleThreadRaster = setenv("LP_NUM_THREADS", "0", 0);
