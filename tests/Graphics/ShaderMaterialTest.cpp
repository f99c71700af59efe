// Shader resources from packed shader files and materials from ".mat" files: the input-layout slot
// rule, what counts as loaded, the material grammar and its fallbacks.
#include "tests/Graphics/ResourceTestSupport.h"

#include <filesystem>

namespace {

using Platform::GpuInputClass;

const char* const kInstancedVS = R"(#version 450
layout(location = 0) in vec3 in_POSITION;
layout(location = 1) in vec2 in_TEXCOORD;
layout(location = 2) in vec3 in_NORMAL;
layout(location = 3) in vec3 in_TANGENT;
layout(location = 4) in vec3 in_BINORMAL;
layout(location = 5) in mat4 in_WORLD;
void main() { gl_Position = in_WORLD * vec4(in_POSITION + in_NORMAL + in_TANGENT + in_BINORMAL, in_TEXCOORD.x); }
)";

// One WORLD row and no BINORMAL.
const char* const kWorldOnlyVS = R"(#version 450
layout(location = 0) in vec3 in_POSITION;
layout(location = 1) in vec4 in_WORLD;
void main() { gl_Position = in_WORLD + vec4(in_POSITION, 1.0); }
)";

const char* const kPlainPS = R"(#version 450
layout(location = 0) out vec4 o_colour;
void main() { o_colour = vec4(1.0); }
)";

class ShadersAndMaterials : public ResourceTest::ResourceFixture {
 protected:
  // content/shaders/<unique name>.cso packed from GLSL; returns the base name.
  std::string WriteShader(const std::string& stem, Platform::GpuShaderStage stage, const char* source) {
    std::string error;
    const std::vector<uint8_t> code = Platform::PackShaderSource(stage, source, &error);
    EXPECT_FALSE(code.empty()) << error;
    std::filesystem::create_directories("content/shaders");
    const std::string name = Unique(stem);
    WriteFile("content/shaders/" + name + ".cso", code);
    return name;
  }

  std::vector<Platform::GpuInputElementDesc> Elements(const char* source,
                                                      std::vector<Platform::ShaderInputParameter>& inputs) {
    std::string error;
    const std::vector<uint8_t> code = Platform::PackShaderSource(Platform::GpuShaderStage::Vertex, source, &error);
    EXPECT_EQ(Platform::ReflectShader(code.data(), code.size(), &inputs), Platform::kGpuOk);
    return Graphics::BuildInputLayoutElements(inputs);
  }

  std::string WriteMaterial(const std::string& stem, const std::string& text) {
    const std::string name = Unique(stem) + ".mat";
    WriteText("content/materials/" + name, text);
    return name;
  }
};

TEST_F(ShadersAndMaterials, WorldRowsFollowTheBinormalIntoTheInstanceSlot) {
  std::vector<Platform::ShaderInputParameter> inputs;
  const auto elements = Elements(kInstancedVS, inputs);
  ASSERT_EQ(elements.size(), 9u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(elements[i].inputSlot, 0u) << i;
    EXPECT_EQ(elements[i].inputSlotClass, GpuInputClass::PerVertex);
  }
  for (int i = 5; i < 9; ++i) {
    EXPECT_EQ(elements[i].inputSlot, 2u) << i;
    EXPECT_EQ(elements[i].inputSlotClass, GpuInputClass::PerInstance);
    EXPECT_EQ(elements[i].instanceDataStepRate, 1u);
    EXPECT_EQ(elements[i].semanticIndex, uint32_t(i - 5));
    EXPECT_EQ(elements[i].format, Platform::GpuFormat_R32G32B32A32_Float);
  }
  EXPECT_EQ(elements[1].format, Platform::GpuFormat_R32G32_Float);
  EXPECT_EQ(elements[0].format, Platform::GpuFormat_R32G32B32_Float);
}

TEST_F(ShadersAndMaterials, WorldRowsWithoutABinormalStayPerVertexInSlotOne) {
  std::vector<Platform::ShaderInputParameter> inputs;
  const auto elements = Elements(kWorldOnlyVS, inputs);
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0].inputSlot, 0u);
  EXPECT_EQ(elements[1].inputSlot, 1u);
  EXPECT_EQ(elements[1].inputSlotClass, GpuInputClass::PerVertex);
  EXPECT_EQ(elements[1].instanceDataStepRate, 0u);
}

TEST_F(ShadersAndMaterials, ShadersAreLoadedOnlyWhenReadAndCreated) {
  auto& shaders = Base::Resources<Graphics::Shader>::Instance();
  const std::string vs = WriteShader("Mesh_VS_PS", Platform::GpuShaderStage::Vertex, kInstancedVS);
  Graphics::Shader* vertex = shaders.GetResourceByName(vs);
  ASSERT_NE(vertex, nullptr);
  EXPECT_EQ(vertex->m_kind, Graphics::Shader::VertexShader);  // "_VS" wins over "_PS"
  EXPECT_NE(vertex->m_inputLayout, nullptr);
  EXPECT_EQ(vertex->m_path, "content/shaders/" + vs + ".cso");

  log_.Take();
  EXPECT_EQ(shaders.GetResourceByName("OrvTest_Missing_PS"), nullptr);
  const std::string log = log_.Take();
  EXPECT_NE(log.find("Failed to load Shader content/shaders/OrvTest_Missing_PS.cso"), std::string::npos);
  EXPECT_NE(log.find("Invalid file \"OrvTest_Missing_PS\" loaded."), std::string::npos);

  const std::string corrupt = Unique("Corrupt_PS");
  WriteText("content/shaders/" + corrupt + ".cso", "OSHD but nothing else");
  EXPECT_EQ(shaders.GetResourceByName(corrupt), nullptr);
  // A pixel shader's code given to a vertex name: the shader cannot be made.
  const std::string ps = WriteShader("Swapped_PS", Platform::GpuShaderStage::Pixel, kPlainPS);
  std::filesystem::copy_file("content/shaders/" + ps + ".cso", "content/shaders/" + ps + "_VS.cso");
  Track("content/shaders/" + ps + "_VS.cso");
  EXPECT_EQ(shaders.GetResourceByName(ps + "_VS"), nullptr);
  EXPECT_EQ(shaders.GetResourceByName("NoKind"), nullptr);
  EXPECT_NE(shaders.GetResourceByName(ps), nullptr);
}

// A material naming shaders that do not load (a damaged file's every token, as its reader takes them)
// leaves the shader collection as it was: the failure is remembered, not a name for each, and each name
// is said once however often it comes, the first few of them. A material naming the real shader still
// finds it.
TEST_F(ShadersAndMaterials, MissingShadersAMaterialNamesKeepNothingOfTheirNames) {
  auto& shaders = Base::Resources<Graphics::Shader>::Instance();
  const std::string ps = WriteShader("Kept_PS", Platform::GpuShaderStage::Pixel, kPlainPS);
  ASSERT_NE(shaders.GetResourceByName(ps), nullptr);
  const uint32_t entries = shaders.GetEntryCount();
  EXPECT_FALSE(Graphics::AnyShaderFailed());
  std::string text = "PS:\n{\n";
  for (int i = 0; i < 2000; ++i)
    text += Unique("Gone" + std::to_string(i % 1000) + "_PS") + " word" + std::to_string(i) + "\n";
  text += ps + "\n}\n";
  log_.Take();
  Graphics::Material material(WriteMaterial("Damaged", text).c_str());
  const std::string log = log_.Take();
  EXPECT_EQ(shaders.GetEntryCount(), entries);
  EXPECT_TRUE(Graphics::AnyShaderFailed());
  ASSERT_EQ(material.m_shaderIDs.size(), 1u);
  EXPECT_EQ(material.m_shaderIDs[0], shaders.GetResourceID(ps));
  // The first name once, though the material names it twice; the thousandth each time.
  const auto count = [&log](const std::string& text) {
    size_t found = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
    return found;
  };
  EXPECT_EQ(count("Failed to load Shader content/shaders/" + Unique("Gone0_PS") + ".cso\n"), 1u);
  EXPECT_EQ(count("Failed to load Shader content/shaders/" + Unique("Gone999_PS") + ".cso\n"), 2u);
  Graphics::ForgetShaderFailures();
  EXPECT_FALSE(Graphics::AnyShaderFailed());
}

// A shader file's stored signature may name what GL cannot take: a location past its attributes, or so
// many inputs in one slot that their offsets pass its reach. The layout fails with the shader's error,
// and no GL error is left behind to fail the device's next call.
TEST_F(ShadersAndMaterials, ASignatureGlCannotTakeFailsTheLayoutAndLeavesTheDeviceWorking) {
  std::string error;
  const std::vector<uint8_t> plain = Platform::PackShaderSource(Platform::GpuShaderStage::Vertex, kWorldOnlyVS, &error);
  Platform::ShaderContainer pastLocations, pastOffsets;
  ASSERT_TRUE(Platform::ParseShaderContainer(plain.data(), plain.size(), &pastLocations, &error)) << error;
  pastOffsets = pastLocations;
  pastLocations.inputs[1].location = 1000;
  for (int i = 0; i < 200; ++i)
    pastOffsets.inputs.push_back({"PAD" + std::to_string(i), 0, 0, 15, Platform::GpuComponentType::Float32});

  auto& shaders = Base::Resources<Graphics::Shader>::Instance();
  for (const auto& [stem, shader] : {std::pair{"PastLocations_VS", &pastLocations}, {"PastOffsets_VS", &pastOffsets}}) {
    const std::string name = Unique(stem);
    WriteFile("content/shaders/" + name + ".cso", Platform::PackShaderContainer(*shader));
    log_.Take();
    EXPECT_EQ(shaders.GetResourceByName(name), nullptr);
    const std::string log = log_.Take();
    EXPECT_NE(log.find("Failed to create the input layout of Shader content/shaders/" + name + ".cso"),
              std::string::npos) << log;

    Platform::GpuBufferDesc desc;
    desc.byteWidth = 16;
    desc.bindFlags = Platform::GpuBind_VertexBuffer;
    Platform::GpuBuffer* buffer = nullptr;
    ASSERT_EQ(Graphics::GetDevice()->m_device->CreateBuffer(desc, nullptr, &buffer), Platform::kGpuOk);
    buffer->Release();
  }
}

TEST_F(ShadersAndMaterials, MaterialSectionsListShadersAndTextures) {
  const std::string ps = WriteShader("Lit_PS", Platform::GpuShaderStage::Pixel, kPlainPS);
  const std::string vs = WriteShader("Lit_VS", Platform::GpuShaderStage::Vertex, kWorldOnlyVS);
  // "PSHADERS:" opens a shader section; sections repeat; "{" and "}" must stand alone.
  const std::string name = WriteMaterial("Lit", "Texture: { White.png Sky.dds }\r\nPSHADERS: { " + vs + " " + ps +
                                                    " }\nTexture: { Checker.png }\n");
  Graphics::Material* material = Base::Resources<Graphics::Material>::Instance().GetResourceByName(name);
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(material->m_name, name);
  auto& shaders = Base::Resources<Graphics::Shader>::Instance();
  EXPECT_EQ(material->m_shaderIDs, std::vector<int32_t>({shaders.GetResourceID(vs), shaders.GetResourceID(ps)}));
  ASSERT_EQ(material->m_textures.size(), 3u);
  EXPECT_EQ(material->m_textures[0], Base::Resources<Graphics::Tex2D>::Instance().GetResourceByName("White.png"));
  EXPECT_EQ(material->m_textures[1], Base::Resources<Graphics::TexCube>::Instance().GetResourceByName("Sky.dds"));
  EXPECT_EQ(material->m_textures[2], Base::Resources<Graphics::Tex2D>::Instance().GetResourceByName("Checker.png"));

  const std::string empty = WriteMaterial("Braces", "{ nothing here }");
  Graphics::Material* plain = Base::Resources<Graphics::Material>::Instance().GetResourceByName(empty);
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(plain->m_shaderIDs.empty() && plain->m_textures.empty());
  EXPECT_EQ(plain->m_name, empty);
}

TEST_F(ShadersAndMaterials, BadMaterialsFallBackToTheDefault) {
  auto& materials = Base::Resources<Graphics::Material>::Instance();
  const std::string invalid = WriteMaterial("Invalid", "Colour: { red }");
  const std::string unterminated = WriteMaterial("Open", "Texture: { White.png");
  for (const std::string& name : {invalid, unterminated, std::string("OrvTest_absent.mat")}) {
    Graphics::Material* material = materials.GetResourceByName(name);
    ASSERT_NE(material, nullptr) << name;
    EXPECT_EQ(material->m_name, "default.mat");
    const std::string log = log_.Take();
    EXPECT_NE(log.find("Failed to load material " + name + " attempting to replace with default material"),
              std::string::npos);
  }
}

TEST_F(ShadersAndMaterials, TexturesThatFailedBindNoViewAtTheirSlot) {
  const std::string name = WriteMaterial("Holes", "Texture: { White.png OrvTest_absent.png Checker.png }");
  Graphics::Material* material = Base::Resources<Graphics::Material>::Instance().GetResourceByName(name);
  ASSERT_NE(material, nullptr);
  ASSERT_EQ(material->m_textures.size(), 3u);
  EXPECT_EQ(material->m_textures[1], nullptr);

  // A view left at slot 1 by an earlier draw must not stay bound for this material.
  Graphics::Tex2D* white = Base::Resources<Graphics::Tex2D>::Instance().GetResourceByName("White.png");
  ASSERT_NE(white, nullptr);
  white->Bind(1);
  material->BindTextures(0);
  Platform::GpuShaderResourceView* bound[3] = {};
  context_->GetShaderResources(Platform::GpuShaderStage::Pixel, 0, 3, bound);
  EXPECT_NE(bound[0], nullptr);
  EXPECT_EQ(bound[1], nullptr);
  EXPECT_NE(bound[2], nullptr);
  for (auto* view : bound)
    if (view) view->Release();
}

}  // namespace
