// Fuzz target of the mesh and animation file readers. An input starting with 'A' is an animation
// file, read beside the sample skinned mesh as its pairing rule finds it; anything else is a mesh
// file. Both are read into a mesh without GPU buffers, as the loader fills one before uploading.
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "Graphics/Mesh.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path, "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Graphics::Mesh mesh;
  if (data[0] == 'A') {
    static const std::vector<uint8_t> skinned = ReadAll("content/meshes/Worm.cong");
    const std::string meshPath = OrvFuzz::WriteScratch(skinned.data(), skinned.size(), ".cong");
    // The loader pairs <folder>/<stem>.cong with content/animations/<stem>.conga.
    const std::string stem = meshPath.substr(meshPath.find_last_of('/'), meshPath.size() - meshPath.find_last_of('/') - 5);
    const std::string animationPath = std::string(Files::kAnimationFolder) + stem + ".conga";
    if (FILE* f = std::fopen(animationPath.c_str(), "wb")) {
      std::fwrite(data + 1, 1, size - 1, f);
      std::fclose(f);
    }
    Files::LoadMesh(meshPath, mesh);
    std::remove(animationPath.c_str());
  } else {
    Files::LoadMesh(OrvFuzz::WriteScratch(data, size, ".cong"), mesh);
  }
  if (mesh.IsAnimated()) {
    const Graphics::AnimationData& animation = mesh.GetAnimationData();
    const auto* range = animation.FindAnimationByHash(0);
    if (range && range->frameCount) {
      volatile float time = animation.GetAnimationByIndex(range->firstRecord)->time;
      (void)time;
    }
  }
  return 0;
}
