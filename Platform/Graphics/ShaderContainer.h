// The engine's compiled-shader file (".cso"): stage, stored input signature and GLSL source.
#pragma once

#include "Platform/Graphics/GpuTypes.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Platform {

// One vertex input as reflection reports it. `location` is the GLSL attribute location.
struct ShaderInputParameter {
  std::string semanticName;
  uint32_t semanticIndex = 0;
  uint32_t location = 0;
  uint8_t mask = 0;  // components used: 1 x, 3 xy, 7 xyz, 15 xyzw
  GpuComponentType componentType = GpuComponentType::Unknown;
};

struct ShaderContainer {
  GpuShaderStage stage = GpuShaderStage::Vertex;
  std::vector<ShaderInputParameter> inputs;  // vertex shaders only
  std::string source;                        // GLSL 4.50
};

// File layout, little-endian: header, `inputCount` input records, then the source bytes.
struct ShaderFileHeader {
  char magic[4];  // "OSHD"
  uint32_t version;
  uint32_t stage;
  uint32_t inputCount;
  uint32_t sourceBytes;
};
struct ShaderFileInput {
  char semanticName[32];  // zero-terminated
  uint32_t semanticIndex;
  uint32_t location;
  uint32_t mask;
  uint32_t componentType;
};
static_assert(sizeof(ShaderFileHeader) == 20);
static_assert(sizeof(ShaderFileInput) == 48);
constexpr uint32_t kShaderFileVersion = 1;

std::vector<uint8_t> PackShaderContainer(const ShaderContainer& shader);
bool ParseShaderContainer(const void* data, size_t size, ShaderContainer* out, std::string* error);

// Reads the vertex inputs of a GLSL source. Inputs are declared
//   layout(location = N) in TYPE in_SEMANTICk;
// where the trailing digits k are the semantic index (0 when absent); a mat3/mat4 input takes
// consecutive locations and semantic indices, one row each.
bool ExtractInputSignature(const std::string& source, std::vector<ShaderInputParameter>* out,
                           std::string* error);

// Convenience for code that builds shaders in memory: extracts the signature of a vertex
// source and packs; an empty result on a bad declaration.
std::vector<uint8_t> PackShaderSource(GpuShaderStage stage, const std::string& source,
                                      std::string* error);

// The input signature stored in a compiled shader.
GpuResult ReflectShader(const void* code, size_t size, std::vector<ShaderInputParameter>* inputs);

}  // namespace Platform
