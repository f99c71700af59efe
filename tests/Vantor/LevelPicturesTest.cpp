// Each of the game's levels as a player first meets it, rendered by the game in process (its systems,
// scripts and window, headless) at a small size with a fixed frame time: the sky above the horizon, a
// lit and a shadowed patch of ground, each model where it stands (its pixels change when it is taken
// away) and the overlay text, readable against what lies behind it. Every random source is seeded as
// each level opens, so a picture is the same bytes on every run. ORV_WRITE_SCREENSHOTS=<folder> also
// writes each picture there as <Level>.png (`make screenshots`), once its test has passed: a failed
// test leaves the picture already there as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Base/MathUtil.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Device.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/GraphicsSystem.h"
#include "Platform/PngImage.h"
#include "Vantor/Program.h"
#include "Vantor/Window32.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/RunTool.h"
#include "tests/Support/TextFiles.h"
#include "tools/ContentWriters/TextureWriters.h"

namespace {

using Base::Vec3;

constexpr int kWidth = 480;
constexpr int kHeight = 270;  // 16:9, so the picture fills the frame without bars

struct Pixel {
  uint8_t r, g, b, a;
  int Brightness() const { return int(r) + int(g) + int(b); }
  int Distance(const Pixel& o) const { return std::abs(r - o.r) + std::abs(g - o.g) + std::abs(b - o.b); }
  // Relative luminance of the sRGB colour, 0 to 1, as contrast ratios are defined on.
  double Luminance() const {
    auto linear = [](uint8_t v) {
      const double c = v / 255.0;
      return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
  }
};

double Contrast(const Pixel& a, const Pixel& b) {
  const double x = a.Luminance() + 0.05, y = b.Luminance() + 0.05;
  return std::max(x, y) / std::min(x, y);
}

std::ostream& operator<<(std::ostream& out, const Pixel& p) {
  return out << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ")";
}

using Picture = std::vector<Pixel>;

class LevelPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.Init();
    // A small window of its own rather than the desktop: the frame is the picture.
    Vantor::Window32* window = program_.GetWindow();
    ASSERT_NE(window, nullptr);
    window->SetFullscreen(false);
    window->Resize(kWidth, kHeight);
    canvas_ = window->GetCanvasId();
  }
  void TearDown() override {
    program_.Shutdown();
    // `make screenshots` writes the pictures anew; any other run holds them to those under docs/.
    const char* writing = std::getenv("ORV_WRITE_SCREENSHOTS");
    if (!writing || !*writing) ExpectAsDocumented();
    if (!HasFailure()) SavePicture();
  }

  Core::Engine& Engine() { return program_.GetEngine(); }

  // Opens the level and plays `frames` frames of a sixtieth of a second; no error or warning is logged.
  // The random sources start from the same seeds each time, so the same frames draw the same picture.
  void Open(const char* level, int frames) {
    log_.Take();
    Base::SeedRandom(kPictureSeed);
    Base::SeedRand15(1);
    Engine().ChangeLevel(level);
    Step(frames + 1);
    const std::string log = log_.Take();
    EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[Warning]"), std::string::npos) << log;
  }
  void Step(int frames) {
    for (int i = 0; i < frames; ++i) Engine().FrameStep(1.0f / 60.0f);
  }

  // The window's last drawn frame.
  Picture Take(const char* level) {
    Graphics::GraphicsMaster& master = Graphics::GraphicsMaster::GetInstance();
    Graphics::Canvas* canvas = master.GetCanvas(canvas_);
    Graphics::Frame* frame = canvas ? master.GetFrame(int(canvas->GetFrameID())) : nullptr;
    if (!frame) {
      ADD_FAILURE() << "the window has no frame";
      return Picture(size_t(kWidth) * kHeight);
    }
    Platform::GpuTexture2D* texture = nullptr;
    EXPECT_EQ(frame->GetSwapChain()->GetBuffer(0, &texture), Platform::kGpuOk);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(Graphics::GetDevice()->m_device->ReadTexels(texture, 0, &bytes), Platform::kGpuOk);
    if (texture) texture->Release();
    Picture picture(size_t(kWidth) * kHeight);
    if (bytes.size() != picture.size() * sizeof(Pixel)) {
      ADD_FAILURE() << "the frame holds " << bytes.size() << " bytes, not " << kWidth << " x " << kHeight;
      return picture;
    }
    std::memcpy(picture.data(), bytes.data(), bytes.size());
    if (level) {
      saved_ = picture;
      savedLevel_ = level;
    }
    return picture;
  }

  // The level's picture goes to ORV_WRITE_SCREENSHOTS whole or not at all: written beside its place,
  // then moved over the old one.
  void SavePicture() {
    const char* folder = std::getenv("ORV_WRITE_SCREENSHOTS");
    if (!folder || !*folder || savedLevel_.empty()) return;
    ContentWriters::PngDesc desc;
    desc.width = kWidth;
    desc.height = kHeight;
    desc.kind = ContentWriters::PngKind::Rgb;
    std::vector<uint8_t> rows;
    for (const Pixel& p : saved_) rows.insert(rows.end(), {p.r, p.g, p.b});
    const std::filesystem::path path = std::filesystem::path(folder) / (savedLevel_ + ".png");
    std::filesystem::path next = path;
    next += ".new";
    std::error_code moved;
    const bool written = ContentWriters::WritePng(next.string(), desc, rows);
    if (written) std::filesystem::rename(next, path, moved);
    if (!written || moved) {
      std::filesystem::remove(next, moved);
      ADD_FAILURE() << "the picture could not be written to " << path;
    }
  }

  // The level's picture against the one under docs/ that the README shows. Software GL may round a few
  // pixels otherwise on another machine (a channel a few steps off along an edge or in a blend), so a
  // pixel counts as changed only past kChannelTolerance in some channel, and the picture as drifted
  // when more than kChangedPixels of its 129,600 did (0.1%). Text moved by a column, a model by a pixel
  // or a colour changed by a tenth changes thousands.
  void ExpectAsDocumented() {
    static constexpr int kChannelTolerance = 8;
    static constexpr size_t kChangedPixels = 130;
    if (savedLevel_.empty()) return;
    const std::string path = "docs/" + savedLevel_ + ".png";
    Platform::PngImage png;
    ASSERT_TRUE(png.Open(path)) << path;
    ASSERT_EQ(png.Width(), uint32_t(kWidth)) << path;
    ASSERT_EQ(png.Height(), uint32_t(kHeight)) << path;
    Picture documented(size_t(kWidth) * kHeight);
    ASSERT_TRUE(png.CopyPixels(Platform::ImagePixelFormat::RGBA32, reinterpret_cast<uint8_t*>(documented.data()),
                               kWidth * 4, documented.size() * sizeof(Pixel)))
        << path;
    size_t changed = 0;
    for (size_t i = 0; i < documented.size(); ++i) {
      const Pixel a = saved_[i], b = documented[i];
      if (std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)}) > kChannelTolerance) ++changed;
    }
    EXPECT_LE(changed, kChangedPixels) << "the picture differs from " << path << " in " << changed
                                       << " pixels: `make screenshots` writes it anew";
  }

  static Pixel At(const Picture& picture, int x, int y) {
    return picture[size_t(std::clamp(y, 0, kHeight - 1)) * kWidth + size_t(std::clamp(x, 0, kWidth - 1))];
  }

  Core::GameSpace* Space(const char* name) {
    Core::GameSpace* space = Engine().GetGameSpace(name);
    EXPECT_NE(space, nullptr) << name;
    return space;
  }

  // Where a world point lands through the space's active camera (row vector times view-projection).
  void Project(Core::GameSpace* space, Vec3 world, int* x, int* y) {
    *x = *y = -1;
    Graphics::GraphicsSystem* graphics = Graphics::GraphicsSystem::GetInstance();
    auto* camera = space && graphics ? dynamic_cast<Graphics::BaseCamera*>(space->GetComponent(
                                           graphics->GetActiveCamera(space)))
                                     : nullptr;
    ASSERT_NE(camera, nullptr) << "the level is seen through a camera";
    const Base::Mat4 vp = camera->GetViewProjectionMatrix();
    const float v[4] = {world.x, world.y, world.z, 1.0f};
    float clip[4] = {};
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) clip[j] += v[i] * vp.m[i * 4 + j];
    ASSERT_GT(clip[3], 0.0f) << "in front of the camera";
    *x = int((clip[0] / clip[3] + 1.0f) * 0.5f * kWidth);
    *y = int((1.0f - clip[1] / clip[3]) * 0.5f * kHeight);
    EXPECT_TRUE(*x >= 0 && *x < kWidth && *y >= 0 && *y < kHeight)
        << world.x << ", " << world.y << ", " << world.z << " is off the picture";
  }
  Pixel AtWorld(const Picture& picture, Core::GameSpace* space, Vec3 world) {
    int x = 0, y = 0;
    Project(space, world, &x, &y);
    return At(picture, x, y);
  }
  Vec3 Position(Core::GameSpace* space, const char* object) {
    Core::GameObject* found = space ? space->FindGameObject(object) : nullptr;
    EXPECT_NE(found, nullptr) << object;
    return found ? found->GetComponent<Core::Transform>()->Translation() : Vec3();
  }

  // A clear sky across the top of the picture: blue over red, bright, and the same all along.
  static void ExpectSky(const Picture& picture, int fromX, int toX) {
    for (int x = fromX; x < toX; x += 8) {
      const Pixel sky = At(picture, x, 3);
      EXPECT_GT(int(sky.b), int(sky.r) + 30) << "sky at " << x << ": " << sky;
      EXPECT_GT(int(sky.b), 170) << "sky at " << x << ": " << sky;
    }
  }
  // The sun lights the open ground and the shadow of what stands in its way is clearly darker, yet
  // not black: shade under an open sky.
  void ExpectLitAndShadowed(const Picture& picture, Core::GameSpace* space, Vec3 open, Vec3 shaded) {
    const Pixel lit = AtWorld(picture, space, open), shadow = AtWorld(picture, space, shaded);
    EXPECT_GT(lit.Brightness(), 300) << "lit ground " << lit;
    EXPECT_LT(shadow.Brightness() * 10, lit.Brightness() * 6) << "shadow " << shadow << " against " << lit;
    EXPECT_GT(shadow.Brightness(), 60) << "shadow " << shadow;
  }
  // Each object's pixel at `where` changes clearly once the object is gone.
  void ExpectDrawnWhereTheyStand(Core::GameSpace* space, const std::vector<std::pair<const char*, Vec3>>& objects) {
    const Picture before = Take(nullptr);
    std::vector<Pixel> seen;
    for (const auto& [name, where] : objects) {
      seen.push_back(AtWorld(before, space, where));
      space->Destroy(space->FindGameObject(name));
    }
    Step(2);
    const Picture after = Take(nullptr);
    for (size_t i = 0; i < objects.size(); ++i) {
      const Pixel without = AtWorld(after, space, objects[i].second);
      EXPECT_GT(seen[i].Distance(without), 40) << objects[i].first << ": " << seen[i] << " with, " << without
                                               << " without";
    }
  }
  // Overlay text: light grey to white ink inside the box (x0, y0)-(x1, y1) on a darker panel; the sky
  // there is far bluer than grey, the ground far darker.
  static void ExpectText(const Picture& picture, int x0, int y0, int x1, int y1) {
    int ink = 0, dark = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const Pixel p = At(picture, x, y);
        const int low = std::min({p.r, p.g, p.b}), high = std::max({p.r, p.g, p.b});
        if (low > 165 && high - low < 30) ++ink;
        if (p.Brightness() < 200) ++dark;
      }
    EXPECT_GE(ink, 6) << "text pixels";
    EXPECT_GE(dark, 20) << "panel pixels";
  }

  // How a line of overlay text inside the box (x0, y0)-(x1, y1) stands out from what lies behind it:
  // the contrast of its brightest ink pixel (`warm`: tinted like the Splash prompt, else light grey to
  // white) with the brightest pixel of the strip just left of its first ink, on its rows. The rows
  // the ink spans go to `top` and `bottom`.
  static double TextContrast(const Picture& picture, int x0, int y0, int x1, int y1, bool warm, int* top,
                             int* bottom) {
    *top = y1, *bottom = y0 - 1;
    int left = x1;
    Pixel ink{0, 0, 0, 255};
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const Pixel p = At(picture, x, y);
        const int low = std::min({p.r, p.g, p.b}), high = std::max({p.r, p.g, p.b});
        if (warm ? (p.r < 120 || int(p.r) - int(p.b) < 40) : (low < 90 || high - low >= 30)) continue;
        *top = std::min(*top, y), *bottom = std::max(*bottom, y), left = std::min(left, x);
        if (p.Luminance() > ink.Luminance()) ink = p;
      }
    if (*bottom < *top) {
      ADD_FAILURE() << "no " << (warm ? "warm" : "light") << " text in the box";
      return 0.0;
    }
    Pixel behind{0, 0, 0, 255};
    for (int y = *top; y <= *bottom; ++y)
      for (int x = left - 4; x < left - 1; ++x)
        if (At(picture, x, y).Luminance() > behind.Luminance()) behind = At(picture, x, y);
    return Contrast(ink, behind);
  }

  static constexpr uint32_t kPictureSeed = 20261207;

  OrvTest::LogCapture log_;
  Vantor::Program program_;
  int canvas_ = -1;
  Picture saved_;           // the level's picture, written once the test has passed
  std::string savedLevel_;
};

// The crate spins on a floor under a sun from the front left; its shadow lies back and to the right.
TEST_F(LevelPictures, SplashShowsItsStageUnderTheSkyWithTheTitle) {
  Open("Splash", 4);
  const Picture picture = Take("Splash");
  Core::GameSpace* stage = Space("SplashStage");
  ASSERT_NE(stage, nullptr);
  ExpectSky(picture, kWidth / 3, kWidth * 3 / 4);
  // The sun shines along (0.4, -0.75, 0.55): from the shadow point the way back to it passes 0.9 up
  // within 0.4 of the crate's axis, inside it whichever way it has turned.
  ExpectLitAndShadowed(picture, stage, {-2.5f, 0.0f, -2.0f}, {0.85f, 0.0f, 0.75f});
  ExpectText(picture, 0, 0, kWidth / 4, kHeight / 8);
  // The prompt, and the way out below it, read at 4.5:1 or better against the panel behind them.
  int top = 0, bottom = 0, quitTop = 0, quitBottom = 0;
  EXPECT_GE(TextContrast(picture, 0, 0, kWidth / 3, kHeight / 4, true, &top, &bottom), 4.5) << "the prompt";
  EXPECT_GE(TextContrast(picture, 0, bottom + 3, kWidth / 3, bottom + 16, false, &quitTop, &quitBottom), 4.5)
      << "the way out";
  ExpectDrawnWhereTheyStand(stage, {{"Crate", {0.0f, 0.5f, -0.5f}}});
  // A moment later, as readable.
  Step(24);
  EXPECT_GE(TextContrast(Take(nullptr), 0, 0, kWidth / 3, kHeight / 4, true, &top, &bottom), 4.5) << "the prompt";
}

// The stack stands, the tumbler is still falling and the controls show at the top left.
TEST_F(LevelPictures, PlaygroundShowsTheStackItsShadowAndTheControls) {
  Open("Playground", 8);
  const Picture picture = Take("Playground");
  Core::GameSpace* playground = Space("Playground");
  ASSERT_NE(playground, nullptr);
  ExpectSky(picture, kWidth / 2, kWidth);
  // The way back along the sun (0.4, -0.75, 0.55) from the shadow point meets the stack's axis 1.5 up.
  ExpectLitAndShadowed(picture, playground, {-4.0f, 0.0f, -5.0f}, {0.8f, 0.0f, 1.1f});
  ExpectText(picture, 0, 0, kWidth / 3, kHeight / 4);
  ExpectDrawnWhereTheyStand(playground, {{"Tower1", {0.0f, 1.5f, -0.5f}},
                                         {"Tumbler", Position(playground, "Tumbler")},
                                         {"Pyramid", Position(playground, "Pyramid")}});
}

// The sandbox's ground, worm, turntable and windmill under the sky space's sun and sky.
TEST_F(LevelPictures, SandboxShowsItsSceneUnderTheSkySpacesSun) {
  Open("Sandbox", 4);
  const Picture picture = Take("Sandbox");
  Core::GameSpace* world = Space("SandboxWorld");
  ASSERT_NE(world, nullptr);
  ExpectSky(picture, 0, kWidth);
  // The way back along the sun (0.4, -0.75, 0.55) from the shadow point meets the windmill tower's
  // axis 2.5 up; the tower stands at (7, 0, 10), its front face at z 9.4.
  ExpectLitAndShadowed(picture, world, {-3.0f, 0.0f, -5.0f}, {8.33f, 0.0f, 11.83f});
  ExpectText(picture, 0, 0, kWidth / 3, kHeight / 4);  // its keys
  ExpectDrawnWhereTheyStand(world, {{"Worm", {-7.7f, 0.25f, 1.0f}},
                                    {"Tower", {7.45f, 1.0f, 9.4f}},
                                    {"Turntable", Position(world, "Turntable")}});
}

// Leaving the Sandbox for Splash and coming back logs no warning (its fountain's particles go back to
// their pool before the pool goes), and the level, opened afresh from the same seeds, draws the same
// picture to the byte.
TEST_F(LevelPictures, ARoundTripFromTheSandboxWarnsOfNothingAndDrawsTheSamePicture) {
  Open("Sandbox", 4);
  const Picture first = Take(nullptr);
  Open("Splash", 1);
  Open("Sandbox", 4);
  const Picture again = Take(nullptr);
  size_t differing = 0;
  for (size_t i = 0; i < first.size(); ++i) differing += first[i].Distance(again[i]) != 0;
  EXPECT_EQ(differing, 0u) << "pixels that differ between two openings";
}

// `make screenshots` writes over the pictures under docs/. A picture test run where its level does not
// load (its file cut short) fails and leaves the picture there as it was; run where the game's content
// is whole, it passes and puts its picture in the old one's place. Each run is this test binary, alone on
// the Splash's picture test, in a content tree of this test's own.
TEST(LevelPictureFiles, OnlyAPassedTestWritesItsPicture) {
  namespace fs = std::filesystem;
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const fs::path tree = fs::path(OrvTest::TempPath("pictures_tree")), out = tree / "docs";
  fs::remove_all(tree);
  fs::create_directories(tree / "content");
  for (const fs::directory_entry& entry : fs::directory_iterator("content"))
    if (entry.path().filename() != "data")
      fs::create_directory_symlink(fs::absolute(entry.path()), tree / "content" / entry.path().filename());
  fs::copy("content/data", tree / "content/data", fs::copy_options::recursive);
  fs::create_directories(tree / "Sound");
  fs::create_directory_symlink(fs::absolute("Sound/Banks"), tree / "Sound/Banks");
  fs::create_directories(out);
  const fs::path picture = out / "Splash.png";
  OrvTest::WriteFile(picture.string(), "the picture before");
  const std::string run = "cd '" + tree.string() + "' && ORV_WRITE_SCREENSHOTS='" + out.string() + "' '" +
                          self.string() + "' --gtest_filter=LevelPictures.SplashShowsItsStageUnderTheSkyWithTheTitle";

  const fs::path level = tree / "content/data/levels/Splash.level";
  const std::string whole = OrvTest::ReadFile(level.string());
  OrvTest::WriteFile(level.string(), whole.substr(0, whole.size() / 2));
  std::string printed;
  EXPECT_EQ(OrvTest::RunTool(run, printed), 1) << printed;
  EXPECT_EQ(OrvTest::ReadFile(picture.string()), "the picture before") << printed;
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1) << "files beside the picture";

  OrvTest::WriteFile(level.string(), whole);
  EXPECT_EQ(OrvTest::RunTool(run, printed), 0) << printed;
  const std::string png = OrvTest::ReadFile(picture.string());
  ASSERT_GT(png.size(), 24u) << printed;
  EXPECT_EQ(png.substr(1, 3), "PNG");
  // The header's width and height, big-endian, at bytes 16 and 20.
  auto word = [&](size_t at) {
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
  };
  EXPECT_EQ(word(16), uint32_t(kWidth));
  EXPECT_EQ(word(20), uint32_t(kHeight));
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1) << "files beside the picture";
  fs::remove_all(tree);
}

}  // namespace
