// Shaders packed by the build's own tool: reflection, per-stage constants and a drawn triangle.
#include "tests/Platform/GpuTestSupport.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using namespace GpuTest;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PackedShader : public GpuFixture {};

TEST_F(PackedShader, ReflectsItsSignatureAndDrawsATriangleWithPerStageConstants) {
  std::vector<uint8_t> vsCode = ReadFile(ORV_TEST_SHADER_DIR "/Triangle_VS.cso");
  std::vector<uint8_t> psCode = ReadFile(ORV_TEST_SHADER_DIR "/Triangle_PS.cso");
  ASSERT_FALSE(vsCode.empty());
  std::vector<ShaderInputParameter> inputs;
  ASSERT_EQ(ReflectShader(vsCode.data(), vsCode.size(), &inputs), kGpuOk);
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].semanticName, "POSITION");
  EXPECT_EQ(inputs[0].mask, 7);
  EXPECT_EQ(inputs[1].semanticName, "COLOR");
  EXPECT_EQ(inputs[1].semanticIndex, 0u);
  EXPECT_EQ(inputs[1].mask, 15);
  EXPECT_EQ(inputs[1].componentType, GpuComponentType::Float32);

  MakeTarget(16);
  ASSERT_EQ(device_->CreateVertexShader(vsCode.data(), vsCode.size(), vs_.GetAddressOf()), kGpuOk);
  ASSERT_EQ(device_->CreatePixelShader(psCode.data(), psCode.size(), ps_.GetAddressOf()), kGpuOk);
  BindVertexLayout(vsCode);
  // Both stages read slot 0; a mix-up would move the triangle by the tint and clip it away.
  const float offset[4] = {0, 0, 0, 0}, tint[4] = {1, 0.5f, 2, 1};
  GpuRef<GpuBuffer> vsConstants = Buffer(offset, sizeof offset, GpuBind_ConstantBuffer);
  GpuRef<GpuBuffer> psConstants = Buffer(tint, sizeof tint, GpuBind_ConstantBuffer);
  GpuBuffer* vsb = vsConstants.Get();
  GpuBuffer* psb = psConstants.Get();
  context_->SetConstantBuffers(GpuShaderStage::Vertex, 0, 1, &vsb);
  context_->SetConstantBuffers(GpuShaderStage::Pixel, 0, 1, &psb);
  DrawVertices({{-1, 1, 0.5f, 1, 0, 0, 1}, {1, 1, 0.5f, 0, 1, 0, 1}, {-1, -1, 0.5f, 0, 0, 1, 1}});

  std::vector<Rgba> px = ReadFloats(target_.Get());
  for (uint32_t y = 0; y < 16; ++y) {
    for (uint32_t x = 0; x < 16; ++x) {
      float cx = (x + 0.5f) / 8 - 1, cy = 1 - (y + 0.5f) / 8;
      float green = (cx + 1) / 2, blue = (1 - cy) / 2, red = 1 - green - blue;
      Rgba got = At(px, x, y);
      if (red < -1e-3f) {
        ASSERT_EQ(got.a, 0.0f) << x << "," << y;
      } else if (red > 1e-3f) {
        ASSERT_TRUE(Near(got, {red, green * 0.5f, blue * 2.0f, 1.0f})) << x << "," << y;
      }
    }
  }
}

TEST(ShaderPackTool, RejectsSourcesThatDoNotCompileOrDoNotNameTheirStage) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "orv_shaderpack_test";
  std::filesystem::create_directories(dir);
  auto pack = [&](const std::string& name, const std::string& source) {
    std::ofstream(dir / name) << source;
    std::string out = (dir / "out.cso").string();
    std::ofstream(out) << "stale";
    std::string command = std::string(ORV_SHADER_PACK) + " --validator " + ORV_GLSLANG_VALIDATOR + " " +
                          (dir / name).string() + " " + out + " 2>/dev/null >/dev/null";
    int status = std::system(command.c_str());
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::filesystem::exists(out));
  };
  EXPECT_EQ(pack("Broken_PS.glsl", "#version 450\nvoid main() { undefined_call(); }\n"), std::make_pair(1, false));
  EXPECT_EQ(pack("Nameless.glsl", "#version 450\nvoid main() {}\n"), std::make_pair(1, false));
  // A semantic index no integer holds is one more error, not an uncaught exception.
  EXPECT_EQ(pack("Huge_VS.glsl", "#version 450\nlayout(location = 0) in vec3 in_POSITION99999999999999999999;\n"
                                 "void main() { gl_Position = vec4(in_POSITION99999999999999999999, 1.0); }\n"),
            std::make_pair(1, false));
  EXPECT_EQ(pack("Good_PS.glsl", "#version 450\nlayout(location = 0) out vec4 o;\nvoid main() { o = vec4(1); }\n"),
            std::make_pair(0, true));
  std::filesystem::remove_all(dir);
}

}  // namespace
