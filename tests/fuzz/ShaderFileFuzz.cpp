// Fuzz target of the shader resource loader: an input is a ".cso" file in the game's shader folder,
// loaded on a headless device as a material loads it (device shader, stored signature, input layout).
// Its stage word picks the name's kind, so well-formed inputs of either stage get past the name.
// Whatever the file held, the device goes on working: a buffer made after the load is made.
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Graphics/Device.h"
#include "Graphics/Shader.h"
#include "Platform/Graphics/GpuDevice.h"
#include "Platform/Graphics/ShaderContainer.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t stage = 0;
  if (size >= offsetof(Platform::ShaderFileHeader, inputCount))
    std::memcpy(&stage, data + offsetof(Platform::ShaderFileHeader, stage), sizeof stage);
  const std::string name =
      "orv_fuzz_" + std::to_string(getpid()) + (stage == uint32_t(Platform::GpuShaderStage::Pixel) ? "_PS" : "_VS");
  const std::string path = "content/shaders/" + name + ".cso";  // where the loader reads shaders from
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  { Graphics::Shader shader(name.c_str()); }
  std::remove(path.c_str());

  Platform::GpuBufferDesc desc;
  desc.byteWidth = 16;
  desc.bindFlags = Platform::GpuBind_VertexBuffer;
  Platform::GpuBuffer* buffer = nullptr;
  if (Platform::GpuFailed(Graphics::GetDevice()->m_device->CreateBuffer(desc, nullptr, &buffer))) std::abort();
  buffer->Release();
  return 0;
}
