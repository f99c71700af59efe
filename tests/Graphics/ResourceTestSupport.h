// Shared by the resource tests: the renderer fixture with the resource managers emptied after each
// test, and content files written by the project's writers under unique names, removed afterwards.
#pragma once

#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"
#include "tests/Graphics/RendererFixture.h"
#include "tools/ContentWriters/MeshWriter.h"
#include "tools/ContentWriters/TextureWriters.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ResourceTest {

class ResourceFixture : public GpuTest::RendererFixture {
 protected:
  void TearDown() override {
    for (const std::string& path : files_) std::remove(path.c_str());
    Base::Resources<Graphics::Material>::Instance().Clear();
    Base::Resources<Graphics::Mesh>::Instance().Clear();
    Base::Resources<Graphics::Shader>::Instance().Clear();
    Base::Resources<Graphics::Tex2D>::Instance().Clear();
    Base::Resources<Graphics::TexCube>::Instance().Clear();
    Graphics::ForgetShaderFailures();  // they went with the shaders
  }

  // A name no other test process uses: the test's own name and this process id.
  std::string Unique(const std::string& stem) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return "OrvTest_" + std::string(info->name()) + "_" + std::to_string(getpid()) + "_" + stem;
  }

  // Writes `bytes` to `path` and removes the file when the test ends.
  void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(ContentWriters::WriteFileBytes(path, bytes)) << path;
    files_.push_back(path);
  }
  void WriteText(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  }
  void Track(const std::string& path) { files_.push_back(path); }

  std::vector<std::string> files_;
};

}  // namespace ResourceTest
