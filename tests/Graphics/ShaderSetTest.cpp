// The shipped shaders against the records the renderer streams and the slots it binds: per vertex
// shader the input slot, offset and per-instance flag of every input and each slot's stride, per
// shader the constant-buffer and texture slots its source declares.
#include "Graphics/DebugDraw.h"
#include "Graphics/Light.h"
#include "Graphics/Mesh.h"
#include "Graphics/Shader.h"
#include "Platform/Graphics/ShaderContainer.h"

#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Input {
  std::string semantic;  // name and index, "WORLD4"
  uint32_t slot;
  uint32_t offset;
  bool perInstance;
  bool operator==(const Input&) const = default;
};

struct Layout {
  std::vector<Input> inputs;
  std::map<uint32_t, uint32_t> strides;  // bytes the inputs of each slot cover
};

Platform::ShaderContainer Load(const std::string& name) {
  std::ifstream in("content/shaders/" + name + ".cso", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Platform::ShaderContainer shader;
  std::string error;
  EXPECT_TRUE(Platform::ParseShaderContainer(bytes.data(), bytes.size(), &shader, &error)) << name << ": " << error;
  return shader;
}

// The layout the engine builds from the stored signature, offsets appended within each slot.
Layout LayoutOf(const std::string& name) {
  const Platform::ShaderContainer shader = Load(name);
  Layout layout;
  for (const Platform::GpuInputElementDesc& e : Graphics::BuildInputLayoutElements(shader.inputs)) {
    const auto* input = &shader.inputs[layout.inputs.size()];
    const uint32_t bytes = uint32_t(std::popcount(unsigned(input->mask))) * 4u;
    uint32_t& end = layout.strides[e.inputSlot];
    layout.inputs.push_back({e.semanticName + std::to_string(e.semanticIndex), e.inputSlot, end,
                             e.inputSlotClass == Platform::GpuInputClass::PerInstance});
    end += bytes;
  }
  return layout;
}

uint32_t OffsetOf(const Layout& layout, const std::string& semantic) {
  for (const Input& input : layout.inputs)
    if (input.semantic == semantic) return input.offset;
  ADD_FAILURE() << "no input " << semantic;
  return ~0u;
}

uint32_t SlotOf(const Layout& layout, const std::string& semantic) {
  for (const Input& input : layout.inputs)
    if (input.semantic == semantic) return input.slot;
  return ~0u;
}

// "binding = N) uniform Block" and "binding = N) uniform sampler2D name" of a source.
std::set<uint32_t> Bindings(const std::string& name, bool textures) {
  const std::string source = Load(name).source;
  const std::regex pattern(textures ? R"(binding\s*=\s*(\d+)\)\s*uniform\s+sampler2D)"
                                    : R"(binding\s*=\s*(\d+)\)\s*uniform\s+[A-Za-z]+\s*\{)");
  std::set<uint32_t> out;
  for (std::sregex_iterator it(source.begin(), source.end(), pattern), end; it != end; ++it)
    out.insert(uint32_t(std::stoul((*it)[1])));
  return out;
}

void ExpectMeshVertexSlot(const Layout& layout) {
  EXPECT_EQ(OffsetOf(layout, "POSITION0"), 0u);
  EXPECT_EQ(OffsetOf(layout, "TEXCOORD0"), 16u);
  EXPECT_EQ(OffsetOf(layout, "NORMAL0"), 32u);
  for (const Input& input : layout.inputs)
    EXPECT_TRUE(input.slot != 0 || !input.perInstance) << input.semantic;
}

void ExpectMatrixRows(const Layout& layout, const char* semantic, uint32_t firstIndex, uint32_t slot, uint32_t base) {
  for (uint32_t row = 0; row < 4; ++row) {
    const std::string name = semantic + std::to_string(firstIndex + row);
    EXPECT_EQ(SlotOf(layout, name), slot) << name;
    EXPECT_EQ(OffsetOf(layout, name), base + 16 * row) << name;
  }
}

TEST(ShaderSet, ModelVertexFactoriesReadVerticesRecordsAndMatricesWhereThePassesStreamThem) {
  for (const char* name : {"VertexFactory_VS", "VertexFactoryAnimation_VS"}) {
    SCOPED_TRACE(name);
    const Layout layout = LayoutOf(name);
    ExpectMeshVertexSlot(layout);
    EXPECT_EQ(SlotOf(layout, "SHADOW0"), 1u);
    EXPECT_EQ(OffsetOf(layout, "SHADOW0"), 0u);
    EXPECT_EQ(OffsetOf(layout, "COLOR0"), 8u);
    EXPECT_EQ(layout.strides.at(1), 24u);
    ExpectMatrixRows(layout, "WORLD", 0, 2, 0);
    ExpectMatrixRows(layout, "WORLD", 4, 2, 64);
    EXPECT_EQ(layout.strides.at(2), 128u);
    for (const Input& input : layout.inputs)
      EXPECT_TRUE(input.slot == 0 || input.perInstance) << input.semantic;
  }
  EXPECT_EQ(LayoutOf("VertexFactory_VS").strides.at(0), sizeof(Graphics::MeshVertex));
  const Layout skinned = LayoutOf("VertexFactoryAnimation_VS");
  EXPECT_EQ(OffsetOf(skinned, "BLENDINDICES0"), offsetof(Graphics::SkinnedVertex, bones));
  EXPECT_EQ(OffsetOf(skinned, "BLENDWEIGHT0"), offsetof(Graphics::SkinnedVertex, weights));
  EXPECT_EQ(Bindings("VertexFactory_VS", false), (std::set<uint32_t>{0}));
  EXPECT_EQ(Bindings("VertexFactoryAnimation_VS", false), (std::set<uint32_t>{0, 1}));  // camera, bones
}

TEST(ShaderSet, LightVolumesReadTheLightRecordsInSlotOneAndTheirMatricesInSlotTwo) {
  const Layout point = LayoutOf("LightFactoryP_VS");
  ExpectMeshVertexSlot(point);
  EXPECT_EQ(SlotOf(point, "LIGHTPOSITION0"), 1u);
  EXPECT_EQ(OffsetOf(point, "LIGHTPOSITION0"), offsetof(Graphics::BasePLight::PLightData, m_position));
  EXPECT_EQ(OffsetOf(point, "RADIUS0"), offsetof(Graphics::BasePLight::PLightData, m_radius));
  EXPECT_EQ(OffsetOf(point, "ATTENUATION0"), offsetof(Graphics::BasePLight::PLightData, m_attenuation));
  EXPECT_EQ(OffsetOf(point, "DIFFUSE0"), offsetof(Graphics::BasePLight::PLightData, m_diffuse));
  EXPECT_EQ(point.strides.at(1), sizeof(Graphics::BasePLight::PLightData));
  ExpectMatrixRows(point, "WORLD", 0, 2, 0);
  EXPECT_EQ(point.strides.at(2), 64u);

  using Spot = Graphics::BaseSLight::SLightData;
  const Layout spot = LayoutOf("LightFactoryS_VS");
  ExpectMeshVertexSlot(spot);
  EXPECT_EQ(OffsetOf(spot, "LIGHTPOSITION0"), offsetof(Spot, m_position));
  EXPECT_EQ(OffsetOf(spot, "INNERCOS0"), offsetof(Spot, m_innerCos));
  EXPECT_EQ(OffsetOf(spot, "DIRECTION0"), offsetof(Spot, m_direction));
  EXPECT_EQ(OffsetOf(spot, "ATTENUATION0"), offsetof(Spot, m_attenuation));
  EXPECT_EQ(OffsetOf(spot, "OUTERCOS0"), offsetof(Spot, m_outerCos));
  EXPECT_EQ(OffsetOf(spot, "DIFFUSE0"), offsetof(Spot, m_diffuse));
  EXPECT_EQ(OffsetOf(spot, "FALLOFF0"), offsetof(Spot, m_falloff));
  EXPECT_EQ(spot.strides.at(1), sizeof(Spot));
  ExpectMatrixRows(spot, "WORLD", 0, 2, 0);
  EXPECT_EQ(spot.strides.at(2), 64u);
}

TEST(ShaderSet, DebugShapesReadTheQueuedRecordAsItIs) {
  using Shape = Graphics::DebugDraw::Shape;
  const Layout debug = LayoutOf("Debug_VS");
  ExpectMeshVertexSlot(debug);
  EXPECT_EQ(SlotOf(debug, "COLOR0"), 1u);
  EXPECT_EQ(OffsetOf(debug, "COLOR0"), offsetof(Shape, colour));
  ExpectMatrixRows(debug, "TRANSFORM", 0, 1, offsetof(Shape, world));
  EXPECT_EQ(OffsetOf(debug, "TIME0"), offsetof(Shape, time));
  EXPECT_EQ(debug.strides.at(1), sizeof(Shape));
  EXPECT_EQ(debug.strides.count(2), 0u);
  EXPECT_EQ(LayoutOf("ObjectSpace_VS").strides, (std::map<uint32_t, uint32_t>{{0, 80}}));
}

TEST(ShaderSet, PixelShadersReadTheSlotsThePassesBind) {
  struct Expected {
    const char* name;
    std::set<uint32_t> constants;
    std::set<uint32_t> textures;
  };
  const Expected table[] = {
      {"Fullbright_PS", {}, {1}},                 // the small target, or the albedo
      {"ToScreen_PS", {}, {0}},                   // the accumulation target
      {"GBuffer_PS", {}, {0}},                    // the material's first texture
      {"DrawLib_PS", {}, {0}},
      {"Debug_PS", {}, {}},
      {"Depth_Map_PS", {}, {}},
      {"DirectionalLight_PS", {0, 1}, {1, 2}},    // per-light, directional data; G-buffer
      {"DirectionalShadow_PS", {0, 1}, {0, 1, 2, 4}},  // and the shadow map
      {"PointLight_PS", {0}, {0, 1, 2}},
      {"SpotLight_PS", {0}, {0, 1, 2}},
  };
  for (const Expected& e : table) {
    EXPECT_EQ(Load(e.name).stage, Platform::GpuShaderStage::Pixel) << e.name;
    EXPECT_EQ(Bindings(e.name, false), e.constants) << e.name;
    EXPECT_EQ(Bindings(e.name, true), e.textures) << e.name;
  }
  for (const char* name : {"ObjectSpace_VS", "Debug_VS", "LightFactoryP_VS", "LightFactoryS_VS"})
    EXPECT_EQ(Bindings(name, false), name[0] == 'O' ? std::set<uint32_t>{} : std::set<uint32_t>{0}) << name;
}

}  // namespace
