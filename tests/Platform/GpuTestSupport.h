// Shared helpers of the graphics tests: a headless device, small targets, shaders, read-back.
#pragma once

#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/Graphics/ShaderContainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace GpuTest {

using namespace Platform;

struct Rgba {
  float r, g, b, a;
};

// Position-and-colour vertices drawn straight in clip space (x right, y up, z into the screen).
struct Vertex {
  float x, y, z;
  float r, g, b, a;
};

// Two clockwise triangles covering [x0, x1] x [y0, y1] of clip space (y up), in one colour.
inline std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, float z, Rgba c) {
  return {{x0, y1, z, c.r, c.g, c.b, c.a}, {x1, y1, z, c.r, c.g, c.b, c.a}, {x0, y0, z, c.r, c.g, c.b, c.a},
          {x1, y1, z, c.r, c.g, c.b, c.a}, {x1, y0, z, c.r, c.g, c.b, c.a}, {x0, y0, z, c.r, c.g, c.b, c.a}};
}

// Whether every channel is within `tolerance`; a failure shows both colours.
inline ::testing::AssertionResult Near(Rgba got, Rgba want, float tolerance = 1e-5f) {
  const float d[4] = {got.r - want.r, got.g - want.g, got.b - want.b, got.a - want.a};
  for (float x : d)
    if (!(x <= tolerance && -x <= tolerance))
      return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << ", " << got.a
                                           << "), want (" << want.r << ", " << want.g << ", " << want.b << ", "
                                           << want.a << ")";
  return ::testing::AssertionSuccess();
}

inline const char* kColourVS = R"(#version 450
layout(location = 0) in vec3 in_POSITION;
layout(location = 1) in vec4 in_COLOR;
layout(location = 0) out vec4 v_colour;
void main() { gl_Position = vec4(in_POSITION, 1.0); v_colour = in_COLOR; }
)";

inline const char* kColourPS = R"(#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 0) out vec4 o_colour;
void main() { o_colour = v_colour; }
)";

class GpuFixture : public ::testing::Test {
 protected:
  // Test areas above the layer take the renderer's device instead.
  void SetUp() override {
    ASSERT_EQ(CreateGpuDevice(GpuDriverType::Hardware, nullptr, 0, device_.GetAddressOf(), nullptr,
                              context_.GetAddressOf()),
              kGpuOk);
  }

  GpuRef<GpuVertexShader> VertexShader(const std::string& source) {
    std::string error;
    std::vector<uint8_t> code = PackShaderSource(GpuShaderStage::Vertex, source, &error);
    EXPECT_FALSE(code.empty()) << error;
    GpuRef<GpuVertexShader> vs;
    EXPECT_EQ(device_->CreateVertexShader(code.data(), code.size(), vs.GetAddressOf()), kGpuOk);
    lastVertexCode_ = code;
    return vs;
  }

  GpuRef<GpuPixelShader> PixelShader(const std::string& source) {
    std::string error;
    std::vector<uint8_t> code = PackShaderSource(GpuShaderStage::Pixel, source, &error);
    GpuRef<GpuPixelShader> ps;
    EXPECT_EQ(device_->CreatePixelShader(code.data(), code.size(), ps.GetAddressOf()), kGpuOk);
    return ps;
  }

  // The colour pipeline: position + colour vertices from slot 0.
  void UseColourPipeline() {
    vs_ = VertexShader(kColourVS);
    ps_ = PixelShader(kColourPS);
    BindVertexLayout(lastVertexCode_);
  }

  // Binds vs_ and ps_ with a position + colour layout checked against `vertexCode`, for triangle lists.
  void BindVertexLayout(const std::vector<uint8_t>& vertexCode) {
    const GpuInputElementDesc elements[] = {
        {"POSITION", 0, GpuFormat_R32G32B32_Float, 0, 0, GpuInputClass::PerVertex, 0},
        {"COLOR", 0, GpuFormat_R32G32B32A32_Float, 0, kGpuAppendAligned, GpuInputClass::PerVertex, 0},
    };
    ASSERT_EQ(device_->CreateInputLayout(elements, 2, vertexCode.data(), vertexCode.size(), layout_.GetAddressOf()),
              kGpuOk);
    context_->SetInputLayout(layout_.Get());
    context_->SetVertexShader(vs_.Get());
    context_->SetPixelShader(ps_.Get());
    context_->SetPrimitiveTopology(GpuTopology::TriangleList);
  }

  GpuRef<GpuBuffer> Buffer(const void* data, uint32_t bytes, uint32_t bind) {
    GpuBufferDesc d;
    d.byteWidth = bytes;
    d.bindFlags = bind;
    GpuSubresourceData init{data, 0, 0};
    GpuRef<GpuBuffer> b;
    EXPECT_EQ(device_->CreateBuffer(d, &init, b.GetAddressOf()), kGpuOk);
    return b;
  }

  void DrawVertices(const std::vector<Vertex>& vertices) {
    GpuRef<GpuBuffer> vb = Buffer(vertices.data(), uint32_t(vertices.size() * sizeof(Vertex)), GpuBind_VertexBuffer);
    GpuBuffer* b = vb.Get();
    uint32_t stride = sizeof(Vertex), offset = 0;
    context_->SetVertexBuffers(0, 1, &b, &stride, &offset);
    context_->Draw(uint32_t(vertices.size()), 0);
  }

  // A colour target of `size` x `size` bound alone (no depth) with a full viewport.
  void MakeTarget(uint32_t size, GpuFormat format = GpuFormat_R32G32B32A32_Float) {
    size_ = size;
    GpuTexture2DDesc d;
    d.width = d.height = size;
    d.format = format;
    d.bindFlags = GpuBind_RenderTarget | GpuBind_ShaderResource;
    ASSERT_EQ(device_->CreateTexture2D(d, nullptr, target_.GetAddressOf()), kGpuOk);
    ASSERT_EQ(device_->CreateRenderTargetView(target_.Get(), nullptr, rtv_.GetAddressOf()), kGpuOk);
    GpuRenderTargetView* v = rtv_.Get();
    context_->SetRenderTargets(1, &v, depthView_.Get());
    GpuViewport vp{0, 0, float(size), float(size), 0, 1};
    context_->SetViewports(1, &vp);
    const float black[4] = {0, 0, 0, 0};
    context_->ClearRenderTargetView(rtv_.Get(), black);
  }

  void MakeDepth(GpuFormat format = GpuFormat_D24_UNorm_S8_UInt) {
    GpuTexture2DDesc d;
    d.width = d.height = size_;
    d.format = format;
    d.bindFlags = GpuBind_DepthStencil;
    ASSERT_EQ(device_->CreateTexture2D(d, nullptr, depth_.GetAddressOf()), kGpuOk);
    ASSERT_EQ(device_->CreateDepthStencilView(depth_.Get(), nullptr, depthView_.GetAddressOf()), kGpuOk);
    GpuRenderTargetView* v = rtv_.Get();
    context_->SetRenderTargets(1, &v, depthView_.Get());
    context_->ClearDepthStencilView(depthView_.Get(), GpuClear_Depth | GpuClear_Stencil, 1.0f, 0);
  }

  std::vector<Rgba> ReadFloats(GpuTexture2D* texture, uint32_t subresource = 0) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadTexels(texture, subresource, &bytes), kGpuOk);
    std::vector<Rgba> out(bytes.size() / sizeof(Rgba));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(Rgba));
    return out;
  }
  Rgba At(const std::vector<Rgba>& pixels, uint32_t x, uint32_t y) const { return pixels[y * size_ + x]; }

  // The D24S8 texel at (x, y) of the depth target: depth in the low 24 bits, stencil in the top 8.
  uint32_t DepthStencilAt(uint32_t x, uint32_t y) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(device_->ReadTexels(depth_.Get(), 0, &bytes), kGpuOk);
    uint32_t v = 0;
    std::memcpy(&v, &bytes[(y * size_ + x) * 4], 4);
    return v;
  }
  float DepthAt(uint32_t x, uint32_t y) { return float(DepthStencilAt(x, y) & 0xffffff) / 16777215.0f; }

  GpuRef<GpuDevice> device_;
  GpuRef<GpuContext> context_;
  GpuRef<GpuVertexShader> vs_;
  GpuRef<GpuPixelShader> ps_;
  GpuRef<GpuInputLayout> layout_;
  GpuRef<GpuTexture2D> target_;
  GpuRef<GpuRenderTargetView> rtv_;
  GpuRef<GpuTexture2D> depth_;
  GpuRef<GpuDepthStencilView> depthView_;
  std::vector<uint8_t> lastVertexCode_;
  uint32_t size_ = 0;
};

}  // namespace GpuTest
