// A compiled shader resource read from "content/shaders/<name>.cso": a vertex shader with the input
// layout its stored signature implies, or a pixel shader; the kind comes from the name.
#pragma once

#include "Platform/Graphics/GpuResources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Graphics {

// The input elements of a vertex signature: slot 0 per vertex until "BINORMAL" (later elements
// move to the next slot, per instance with step rate 1); each "WORLD" row bumps the slot while
// it is below 2. Semantic names point into `inputs`.
std::vector<Platform::GpuInputElementDesc> BuildInputLayoutElements(
    const std::vector<Platform::ShaderInputParameter>& inputs);

// A shader that did not load leaves its passes drawing garbage or nothing, so the program ends on it.
// "Failed to <step> Shader <file>", where `step` is what went wrong: "load", "create", "reflect" or
// "create the input layout of". A shader resource's is said once for its name (`name`, the one it was
// asked for by), for the first few names; the failure is remembered until the next render core.
void ReportShaderFailure(const char* step, const std::string& name, const std::string& path);
// A shader the render core reads itself, outside the collection; remembered until the next render core.
void ReportOwnShaderFailure(const char* step, const std::string& path);
// A new render core forgets the failures of the last (its shutdown let go of every shader).
void ForgetShaderFailures();
// Whether a shader resource, or one of the render core's own, did not load since the render core began.
bool AnyShaderFailed();

class Shader {
 public:
  enum Kind : int32_t { VertexShader = 0, PixelShader = 1 };

  // Reads directory + name + ".cso" and creates the shader (and for a vertex shader its input
  // layout). Loaded only when all of that succeeded.
  explicit Shader(const char* name);
  ~Shader();
  Shader(const Shader&) = delete;
  Shader& operator=(const Shader&) = delete;

  bool IsLoaded() const { return m_loaded; }
  // A name that does not load keeps no entry of the collection (its failure is remembered above): a
  // material naming many missing shaders must not grow it.
  static constexpr bool kKeepsFailedNames = false;
  void Bind();
  void Release();

  Platform::GpuInputLayout* m_inputLayout = nullptr;
  Platform::GpuVertexShader* m_vertexShader = nullptr;
  Platform::GpuPixelShader* m_pixelShader = nullptr;
  std::vector<uint8_t> m_bytecode;
  uint32_t m_bytecodeSize = 0;
  bool m_loaded = false;
  int32_t m_kind = VertexShader;
  std::string m_directory = "content/shaders/";
  std::string m_path;

 private:
  std::string m_name;  // the name it was asked for by
  bool ReadBytecode();
  bool CreateInputLayout();
};

}  // namespace Graphics
