// Dynamic buffers: creation lines, in-place refills, growth by re-creation, binding by kind.
#include "tests/Graphics/RendererFixture.h"

#include "Graphics/GPUBuffer.h"

namespace {

using namespace GpuTest;
using Graphics::GPUBuffer;

class GpuBufferTest : public RendererFixture {
 protected:
  std::vector<uint8_t> Contents(const GPUBuffer& b, size_t count = ~size_t(0)) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadBuffer(b.GetBuffer(), &bytes), kGpuOk);
    if (count < bytes.size()) bytes.resize(count);
    return bytes;
  }
};

TEST_F(GpuBufferTest, RefillsInPlaceUpToCapacityAndGrowsByRecreation) {
  uint8_t a[64], b[64];
  for (int i = 0; i < 64; ++i) {
    a[i] = uint8_t(i);
    b[i] = uint8_t(200 - i);
  }
  GPUBuffer vb(GPUBuffer::Vertex, a, 48, 12, 0, 0);
  EXPECT_EQ(log_.Take(), "[Verbose][Graphics] Creating Vertex Buffer, (Size: 48, Stride: 12, Slot: 0, Offset: 0)\n");
  EXPECT_EQ(Contents(vb), std::vector<uint8_t>(a, a + 48));
  uint64_t first = vb.GetBuffer()->Serial();
  uint64_t maps = device_->Stats().maps;

  vb.Update(b, 48, 12, 0, 0);  // exactly the capacity: one map-discard, no log
  EXPECT_EQ(log_.Take(), "");
  EXPECT_EQ(vb.GetBuffer()->Serial(), first);
  EXPECT_EQ(device_->Stats().maps, maps + 1);
  EXPECT_EQ(Contents(vb), std::vector<uint8_t>(b, b + 48));

  vb.Update(a, 0, 12, 0, 0);  // nothing copied
  EXPECT_EQ(Contents(vb), std::vector<uint8_t>(b, b + 48));

  vb.Update(a, 49, 16, 1, 4);  // one byte more: a new buffer of the new size
  EXPECT_EQ(log_.Take(), "[Verbose][Graphics] Creating Vertex Buffer, (Size: 49, Stride: 16, Slot: 1, Offset: 4)\n");
  EXPECT_NE(vb.GetBuffer()->Serial(), first);
  EXPECT_EQ(vb.GetCapacity(), 49u);
  EXPECT_EQ(Contents(vb), std::vector<uint8_t>(a, a + 49));

  vb.Update(b, 20, 16, 1, 4);  // smaller updates never shrink it
  EXPECT_EQ(vb.GetCapacity(), 49u);
  EXPECT_EQ(Contents(vb, 20), std::vector<uint8_t>(b, b + 20));

  GPUBuffer empty(GPUBuffer::Constant, nullptr, 256, 0, 0, 0);
  GPUBuffer indices(GPUBuffer::Index, a, 24, 4, 0, 0);
  EXPECT_EQ(log_.Take(),
            "[Verbose][Graphics] Creating Constant Buffer, (Size: 256, Stride: 0, Slot: 0, Offset: 0)\n"
            "[Verbose][Graphics] Creating Index Buffer, (Size: 24, Stride: 4, Slot: 0, Offset: 0)\n");
  empty.Update(b, 64, 0, 0, 0);
  EXPECT_EQ(Contents(empty, 64), std::vector<uint8_t>(b, b + 64));

  vb.Release();
  EXPECT_EQ(vb.GetBuffer(), nullptr);
  EXPECT_EQ(vb.GetCapacity(), 0u);
  EXPECT_EQ(vb.GetSize(), 0u);
}

TEST_F(GpuBufferTest, BindsVertexIndexAndPerStageConstantBuffersForDrawing) {
  MakeTarget(16);
  vs_ = VertexShader(R"(#version 450
layout(location = 0) in vec3 in_POSITION;
layout(location = 1) in vec4 in_COLOR;
layout(location = 0) out vec4 v_colour;
layout(std140, binding = 1) uniform Move { vec4 g_move; };
void main() { gl_Position = vec4(in_POSITION + g_move.xyz, 1.0); v_colour = in_COLOR; }
)");
  ps_ = PixelShader(R"(#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 0) out vec4 o_colour;
layout(std140, binding = 1) uniform Tint { vec4 g_tint; };
void main() { o_colour = v_colour * g_tint * (gl_FragCoord.x / 16.0); }
)");
  BindVertexLayout(lastVertexCode_);

  // A quad over the left half, moved right by the vertex-stage constant.
  const Vertex quad[4] = {{-1, 1, 0.5f, 1, 1, 1, 1}, {0, 1, 0.5f, 1, 1, 1, 1}, {-1, -1, 0.5f, 1, 1, 1, 1},
                          {0, -1, 0.5f, 1, 1, 1, 1}};
  const uint32_t indices[6] = {0, 1, 2, 1, 3, 2};
  const float move[4] = {1, 0, 0, 0}, tint[4] = {1, 0.5f, 0.25f, 1};
  GPUBuffer vb(GPUBuffer::Vertex, quad, sizeof quad, sizeof(Vertex), 0, 0);
  GPUBuffer ib(GPUBuffer::Index, indices, sizeof indices, 4, 0, 0);
  GPUBuffer vsConstants(GPUBuffer::Constant, move, sizeof move, 0, 1, 0);
  GPUBuffer psConstants(GPUBuffer::Constant, tint, sizeof tint, 0, 1, 0);
  vb.Bind(false);
  ib.Bind(false);
  vsConstants.Bind(true);
  psConstants.Bind(false);
  context_->DrawIndexed(6, 0, 0);
  std::vector<Rgba> px = ReadFloats(target_.Get());
  EXPECT_EQ(At(px, 3, 8).a, 0.0f);  // moved away from the left half
  EXPECT_NEAR(At(px, 12, 8).r, 12.5f / 16, 1e-6);
  EXPECT_NEAR(At(px, 12, 8).g, 0.5f * 12.5f / 16, 1e-6);
  EXPECT_NEAR(At(px, 12, 8).b, 0.25f * 12.5f / 16, 1e-6);

  // A refill of the pixel constants reaches the next draw; the earlier draw keeps its values.
  const float green[4] = {0, 1, 0, 1}, stay[4] = {0, 0, 0, 0};
  vsConstants.Update(stay, sizeof stay, 0, 1, 0);
  psConstants.Update(green, sizeof green, 0, 1, 0);
  context_->DrawIndexed(6, 0, 0);
  px = ReadFloats(target_.Get());
  EXPECT_NEAR(At(px, 3, 8).g, 3.5f / 16, 1e-6);
  EXPECT_EQ(At(px, 3, 8).r, 0.0f);
  EXPECT_NEAR(At(px, 12, 8).r, 12.5f / 16, 1e-6);
}

}  // namespace
