// The sprite batch read back from a small target: placement, rotation, mirroring, ordering,
// runs and the ring of vertices, and the misuse it refuses.
#include "DirectX/SpriteBatch.h"

#include "tests/Platform/GpuTestSupport.h"

#include <cmath>
#include <numbers>

namespace {

using namespace GpuTest;
using DirectX::SpriteBatch;

class SpriteBatchTest : public GpuFixture {
 protected:
  void SetUp() override {
    GpuFixture::SetUp();
    MakeTarget(32);
    batch_ = std::make_unique<SpriteBatch>(context_.Get());
    white_ = Texture(4, 1, {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu});
    GpuSamplerDesc point;
    point.filter = GpuFilter::MinMagMipPoint;
    ASSERT_EQ(device_->CreateSamplerState(point, point_.GetAddressOf()), kGpuOk);
  }

  // An RGBA8 texture of one row per `width` texels (0xAABBGGRR words).
  GpuRef<GpuShaderResourceView> Texture(uint32_t width, uint32_t height, std::vector<uint32_t> texels) {
    GpuTexture2DDesc d;
    d.width = width;
    d.height = height;
    d.format = GpuFormat_R8G8B8A8_UNorm;
    d.bindFlags = GpuBind_ShaderResource;
    GpuSubresourceData init{texels.data(), width * 4, 0};
    GpuRef<GpuTexture2D> texture;
    EXPECT_EQ(device_->CreateTexture2D(d, &init, texture.GetAddressOf()), kGpuOk);
    GpuRef<GpuShaderResourceView> view;
    EXPECT_EQ(device_->CreateShaderResourceView(texture.Get(), nullptr, view.GetAddressOf()), kGpuOk);
    return view;
  }

  // A w x h pixel rectangle of the white texture with its top-left corner at (x, y).
  void Rect(float x, float y, float w, float h, Base::Vec4 colour, float depth = 0, float rotation = 0,
            Base::Vec2 origin = {}) {
    batch_->Draw(white_.Get(), Base::Vec2(x, y), nullptr, colour, rotation, origin, Base::Vec2(w / 4, h), 
                 DirectX::SpriteFlip_None, depth);
  }

  uint64_t Draws() const { return device_->Stats().draws; }

  std::unique_ptr<SpriteBatch> batch_;
  GpuRef<GpuShaderResourceView> white_;
  GpuRef<GpuSamplerState> point_;
};

TEST_F(SpriteBatchTest, RectangleLandsOnItsPixelsInPremultipliedColour) {
  batch_->Begin();
  Rect(8, 8, 16, 16, {1, 0, 0, 1});
  Rect(0, 28, 4, 4, {0.5f, 0, 0, 0.5f});  // half-transparent red over the cleared black
  batch_->End();
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 16, 16), {1, 0, 0, 1}, 1e-3f));
  EXPECT_TRUE(Near(At(px, 8, 8), {1, 0, 0, 1}, 1e-3f));
  EXPECT_TRUE(Near(At(px, 23, 23), {1, 0, 0, 1}, 1e-3f));
  EXPECT_TRUE(Near(At(px, 7, 16), {0, 0, 0, 0}));
  EXPECT_TRUE(Near(At(px, 24, 16), {0, 0, 0, 0}));
  EXPECT_TRUE(Near(At(px, 2, 30), {0.5f, 0, 0, 0.5f}, 1e-2f));
}

TEST_F(SpriteBatchTest, RotationTurnsAboutTheOriginAndFlipMirrorsTheTexture) {
  // 16 wide, 4 tall about its centre, turned a quarter: 4 wide, 16 tall around (16, 16).
  batch_->Begin();
  Rect(16, 16, 16, 4, {0, 1, 0, 1}, 0, std::numbers::pi_v<float> / 2, Base::Vec2(2, 0.5f));
  batch_->End();
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 16, 9).g, 1.0f);
  EXPECT_EQ(At(px, 16, 22).g, 1.0f);
  EXPECT_EQ(At(px, 9, 16).g, 0.0f);
  EXPECT_EQ(At(px, 22, 16).g, 0.0f);

  // Left texel red, right texel green: flip 1 swaps them, flip 2 leaves a one-row texture alone.
  GpuRef<GpuShaderResourceView> pair = Texture(2, 1, {0xff0000ffu, 0xff00ff00u});
  batch_->Begin(DirectX::SpriteSortMode_Queued, nullptr, point_.Get());
  batch_->Draw(pair.Get(), Base::Vec2(0, 0), nullptr, {1, 1, 1, 1}, 0, {}, Base::Vec2(8, 8),
               DirectX::SpriteFlip_Horizontally);
  batch_->Draw(pair.Get(), Base::Vec2(16, 0), nullptr, {1, 1, 1, 1}, 0, {}, Base::Vec2(8, 8),
               DirectX::SpriteFlip_Vertically);
  batch_->End();
  px = ReadFloats(target_.Get());
  EXPECT_TRUE(Near(At(px, 2, 4), {0, 1, 0, 1}));
  EXPECT_TRUE(Near(At(px, 12, 4), {1, 0, 0, 1}));
  EXPECT_TRUE(Near(At(px, 18, 4), {1, 0, 0, 1}));
  EXPECT_TRUE(Near(At(px, 30, 4), {0, 1, 0, 1}));
}

TEST_F(SpriteBatchTest, SourceRectangleAndScaleSizeTheSprite) {
  GpuRef<GpuShaderResourceView> big = Texture(64, 64, std::vector<uint32_t>(64 * 64, 0xffffffffu));
  const GpuRect source{10, 20, 18, 28};  // 8 x 8 texels at scale 2: 16 x 16 pixels
  batch_->Begin();
  batch_->Draw(big.Get(), Base::Vec2(4, 4), &source, {1, 1, 1, 1}, 0, {}, Base::Vec2(2, 2));
  batch_->End();
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 4, 4).r, 1.0f);
  EXPECT_EQ(At(px, 19, 19).r, 1.0f);
  EXPECT_EQ(At(px, 20, 19).r, 0.0f);
  EXPECT_EQ(At(px, 19, 20).r, 0.0f);
  // A source of zero width divides by no zero: nothing covers a pixel, nothing is NaN.
  const GpuRect empty{10, 20, 10, 28};
  batch_->Begin();
  batch_->Draw(big.Get(), Base::Vec2(4, 4), &empty, {1, 1, 1, 1}, 0, Base::Vec2(1, 1), Base::Vec2(2, 2));
  batch_->End();
  px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 25, 25).r, 0.0f);
}

TEST_F(SpriteBatchTest, DepthModesOrderTheQueueAndTextureModeGroupsRuns) {
  auto lastDrawn = [&](DirectX::SpriteSortMode mode) {
    batch_->Begin(mode);
    Rect(0, 0, 8, 8, {1, 0, 0, 1}, 0.2f);  // P
    Rect(0, 0, 8, 8, {0, 1, 0, 1}, 0.8f);  // Q
    Rect(0, 0, 8, 8, {0, 0, 1, 1}, 0.5f);  // R
    batch_->End();
    return At(ReadFloats(target_.Get()), 4, 4);
  };
  EXPECT_TRUE(Near(lastDrawn(DirectX::SpriteSortMode_DepthDescending), {1, 0, 0, 1}));  // Q, R, P
  EXPECT_TRUE(Near(lastDrawn(DirectX::SpriteSortMode_DepthAscending), {0, 1, 0, 1}));   // P, R, Q
  EXPECT_TRUE(Near(lastDrawn(DirectX::SpriteSortMode_Queued), {0, 0, 1, 1}));           // as submitted

  GpuRef<GpuShaderResourceView> other = Texture(1, 1, {0xffffffffu});
  auto runs = [&](DirectX::SpriteSortMode mode) {
    const uint64_t before = Draws();
    batch_->Begin(mode);
    for (int i = 0; i < 4; ++i)
      batch_->Draw(i % 2 ? other.Get() : white_.Get(), Base::Vec2(0, 0), nullptr, {1, 1, 1, 1}, 0, {}, {1, 1});
    batch_->End();
    return Draws() - before;
  };
  EXPECT_EQ(runs(DirectX::SpriteSortMode_ByTexture), 2u);
  EXPECT_EQ(runs(DirectX::SpriteSortMode_Queued), 4u);
}

TEST_F(SpriteBatchTest, RingWrapsAndQueueGrowsByDoubling) {
  auto drawMany = [&](uint32_t n) {
    const uint64_t before = Draws();
    batch_->Begin();
    for (uint32_t i = 0; i < n; ++i) Rect(0, 0, 1, 1, {1, 1, 1, 1});
    batch_->End();
    return Draws() - before;
  };
  EXPECT_EQ(drawMany(2049), 2u);  // 2048 with a discard, then 1 from the start
  EXPECT_EQ(batch_->WritePosition(), 1u);
  drawMany(1949);  // to 1950
  EXPECT_EQ(batch_->WritePosition(), 1950u);
  EXPECT_EQ(drawMany(200), 1u);  // a 98-sprite tail is skipped
  EXPECT_EQ(batch_->WritePosition(), 200u);
  drawMany(1700);  // to 1900
  EXPECT_EQ(drawMany(200), 2u);  // 148 behind, then 52 from the start
  EXPECT_EQ(batch_->WritePosition(), 52u);

  SpriteBatch fresh(context_.Get());
  std::vector<uint32_t> capacities;
  fresh.Begin();
  for (uint32_t n = 1; n <= 129; ++n) {
    fresh.Draw(white_.Get(), Base::Vec2(0, 0), nullptr, {1, 1, 1, 1}, 0, {}, {1, 1});
    if (n == 1 || n == 65 || n == 129) capacities.push_back(fresh.QueueCapacity());
  }
  fresh.End();
  EXPECT_EQ(capacities, (std::vector<uint32_t>{64, 128, 256}));
}

TEST_F(SpriteBatchTest, ImmediateModeDrawsInsideDrawAndCallsBackAtBegin) {
  int callbacks = 0;
  const uint64_t before = Draws();
  batch_->Begin(DirectX::SpriteSortMode_Immediate, nullptr, nullptr, nullptr, nullptr, [&] { ++callbacks; });
  EXPECT_EQ(callbacks, 1);
  Rect(0, 0, 4, 4, {1, 1, 1, 1});
  EXPECT_EQ(Draws() - before, 1u);
  Rect(4, 0, 4, 4, {1, 1, 1, 1});
  EXPECT_EQ(Draws() - before, 2u);

  SpriteBatch second(context_.Get());
  EXPECT_THROW(second.Begin(DirectX::SpriteSortMode_Immediate), DirectX::SpriteError);
  second.Begin();
  second.Draw(white_.Get(), Base::Vec2(0, 0), nullptr, {1, 1, 1, 1}, 0, {}, {1, 1});
  try {
    second.End();
    ADD_FAILURE() << "a queued End while another batch is immediate";
  } catch (const DirectX::SpriteError& e) {
    EXPECT_STREQ(e.what(), "Cannot end one SpriteBatch while another is using SpriteSortMode_Immediate");
  }
  batch_->End();
  second.End();

  // An empty queued batch binds nothing and drops its callback uncalled.
  batch_->Begin(DirectX::SpriteSortMode_Queued, nullptr, nullptr, nullptr, nullptr, [&] { ++callbacks; });
  batch_->End();
  EXPECT_EQ(callbacks, 1);
}

TEST_F(SpriteBatchTest, MisuseThrowsItsMessageAndChangesNothing) {
  auto message = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const DirectX::SpriteError& e) {
      return e.what();
    }
    return "(no throw)";
  };
  EXPECT_EQ(message([&] { batch_->End(); }), "Begin must be called before End");
  EXPECT_EQ(message([&] { Rect(0, 0, 1, 1, {}); }), "Begin must be called before Draw");
  batch_->Begin();
  EXPECT_EQ(message([&] { batch_->Begin(); }), "Cannot nest Begin calls on a single SpriteBatch");
  EXPECT_EQ(message([&] { batch_->Draw(nullptr, Base::Vec2(), nullptr, {}, 0, {}, {1, 1}); }),
            "Texture cannot be null");
  EXPECT_EQ(batch_->QueuedCount(), 0u);
  batch_->End();

  // With an output rotation the viewport is needed; with none Begin's matrix is the whole story.
  context_->SetViewports(0, nullptr);
  batch_->Begin();
  Rect(0, 0, 1, 1, {1, 1, 1, 1});
  EXPECT_EQ(message([&] { batch_->End(); }), "No viewport is set");
  EXPECT_TRUE(batch_->IsInPair());
  batch_->SetRotation(DirectX::SpriteRotation_Unspecified);
  EXPECT_EQ(message([&] { batch_->End(); }), "(no throw)");
  EXPECT_FALSE(batch_->IsInPair());
}

}  // namespace
