// Fuzz target of the packed-shader reader: a compiled-shader file as the graphics layer reflects it,
// the vertex-input declarations of its source as the packer reads them, and a check that what was
// read packs to a file that reads back the same.
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Graphics/ShaderContainer.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool SameInputs(const std::vector<Platform::ShaderInputParameter>& a,
                const std::vector<Platform::ShaderInputParameter>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].semanticName != b[i].semanticName || a[i].semanticIndex != b[i].semanticIndex ||
        a[i].location != b[i].location || a[i].mask != b[i].mask || a[i].componentType != b[i].componentType)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Platform::ShaderInputParameter> reflected;
  Platform::ReflectShader(data, size, &reflected);

  Platform::ShaderContainer shader;
  std::string error;
  if (!Platform::ParseShaderContainer(data, size, &shader, &error)) return 0;
  std::vector<Platform::ShaderInputParameter> declared;
  Platform::ExtractInputSignature(shader.source, &declared, &error);

  const std::vector<uint8_t> packed = Platform::PackShaderContainer(shader);
  Platform::ShaderContainer again;
  if (!Platform::ParseShaderContainer(packed.data(), packed.size(), &again, &error) ||
      again.stage != shader.stage || again.source != shader.source || !SameInputs(again.inputs, shader.inputs))
    std::abort();
  return 0;
}
