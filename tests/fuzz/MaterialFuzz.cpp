// Fuzz target of the ".mat" reader: an input is read as a material file's sections, on a material
// whose own file was read first. Names of real shaders and textures load them as the game would, on a
// headless device; unknown names fail their loads.
#include <cstdlib>
#include <sstream>
#include <string>

#include "Graphics/Material.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Graphics::Material* material = new Graphics::Material("default.mat");
  material->m_shaderIDs.clear();
  material->m_textures.clear();
  std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
  material->Parse(stream);
  return 0;
}
