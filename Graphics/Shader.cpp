// Shader resources: reading ".cso" files, creating the device shaders and the vertex input layout.
#include "Graphics/Shader.h"

#include "DirectX/BinaryReader.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Device.h"
#include "Graphics/Log.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace Graphics {

namespace {

Platform::GpuFormat ElementFormat(uint8_t mask, Platform::GpuComponentType type) {
  using namespace Platform;
  // Rows: 1, 2, 3 and 4 components; columns: unsigned, signed, float (the default for others).
  static const GpuFormat kTable[4][3] = {
      {GpuFormat_R32_UInt, GpuFormat_R32_SInt, GpuFormat_R32_Float},
      {GpuFormat_R32G32_UInt, GpuFormat_R32G32_SInt, GpuFormat_R32G32_Float},
      {GpuFormat_R32G32B32_UInt, GpuFormat_R32G32B32_SInt, GpuFormat_R32G32B32_Float},
      {GpuFormat_R32G32B32A32_UInt, GpuFormat_R32G32B32A32_SInt, GpuFormat_R32G32B32A32_Float},
  };
  const int row = mask >= 8 ? 3 : mask >= 4 ? 2 : mask >= 2 ? 1 : 0;
  const int column = type == GpuComponentType::UInt32 ? 0 : type == GpuComponentType::SInt32 ? 1 : 2;
  return kTable[row][column];
}

// "_VS" anywhere in the name makes a vertex shader, else "_PS" a pixel shader; -1 for neither.
int32_t KindOfName(const std::string& name) {
  if (name.find("_VS") != std::string::npos) return Shader::VertexShader;
  if (name.find("_PS") != std::string::npos) return Shader::PixelShader;
  return -1;
}

// Shaders that did not load since the render core began: whether any did, and the names said, each
// once however many materials name it. Past the first few names a failure is said each time: a game
// ends on its first one, and a stream of names (a damaged material) must not grow what is kept.
struct ShaderFailures {
  bool any = false;
  bool own = false;  // one the render core reads itself (the sprite batch's), outside the collection
  std::vector<std::string> said;
};
constexpr size_t kSaidShaderNames = 32;
ShaderFailures g_failures;

}  // namespace

void ReportShaderFailure(const char* step, const std::string& name, const std::string& path) {
  g_failures.any = true;
  if (std::find(g_failures.said.begin(), g_failures.said.end(), name) != g_failures.said.end()) return;
  if (g_failures.said.size() < kSaidShaderNames) g_failures.said.push_back(name);
  GFX_LOG(Error, "Failed to %s Shader %s", step, path.c_str());
}

void ReportOwnShaderFailure(const char* step, const std::string& path) {
  g_failures.own = true;
  GFX_LOG(Error, "Failed to %s Shader %s", step, path.c_str());
}

// A name of no shader kind is no shader (only a warning says so): it is never reported, and does not count.
bool AnyShaderFailed() { return g_failures.any || g_failures.own; }

void ForgetShaderFailures() { g_failures = ShaderFailures(); }

std::vector<Platform::GpuInputElementDesc> BuildInputLayoutElements(
    const std::vector<Platform::ShaderInputParameter>& inputs) {
  std::vector<Platform::GpuInputElementDesc> elements;
  elements.reserve(inputs.size());
  uint32_t slot = 0;
  bool perInstance = false;
  for (const Platform::ShaderInputParameter& input : inputs) {
    if (input.semanticName == "WORLD" && slot < 2) ++slot;
    elements.push_back({input.semanticName.c_str(), input.semanticIndex, ElementFormat(input.mask, input.componentType),
                        slot, Platform::kGpuAppendAligned,
                        perInstance ? Platform::GpuInputClass::PerInstance : Platform::GpuInputClass::PerVertex,
                        perInstance ? 1u : 0u});
    if (input.semanticName == "BINORMAL") {
      ++slot;
      perInstance = true;
    }
  }
  return elements;
}

Shader::Shader(const char* name) : m_path(name ? name : ""), m_name(m_path) {
  const int32_t kind = KindOfName(m_path);
  if (kind < 0) return;
  m_kind = kind;

  if (!ReadBytecode()) return;
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (!device) return;
  if (m_kind == VertexShader) {
    if (Platform::GpuFailed(device->CreateVertexShader(m_bytecode.data(), m_bytecode.size(), &m_vertexShader))) {
      ReportShaderFailure("create", m_name, m_path);
      return;
    }
    if (!CreateInputLayout()) return;
  } else if (Platform::GpuFailed(device->CreatePixelShader(m_bytecode.data(), m_bytecode.size(), &m_pixelShader))) {
    ReportShaderFailure("create", m_name, m_path);
    return;
  }
  m_loaded = true;
}

Shader::~Shader() { Release(); }

bool Shader::ReadBytecode() {
  const std::string base = m_directory + m_path;
  GFX_LOG(Verbose, "Loading Shader %s", base.c_str());
  const std::string file = base + ".cso";
  // Only a regular file of sane size is read: a folder in its place reads as no shader, not as an
  // allocation of everything.
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  if (DirectX::BinaryReader::ReadWholeFile(std::wstring(file.begin(), file.end()), bytes, size) != 0) {
    ReportShaderFailure("load", m_name, file);
    m_bytecode.clear();
    return false;
  }
  m_bytecode.assign(bytes.get(), bytes.get() + size);
  m_bytecodeSize = uint32_t(m_bytecode.size());
  m_path = file;
  return true;
}

bool Shader::CreateInputLayout() {
  std::vector<Platform::ShaderInputParameter> inputs;
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (Platform::GpuFailed(Platform::ReflectShader(m_bytecode.data(), m_bytecode.size(), &inputs))) {
    ReportShaderFailure("reflect", m_name, m_path);
    return false;
  }
  const std::vector<Platform::GpuInputElementDesc> elements = BuildInputLayoutElements(inputs);
  if (Platform::GpuFailed(device->CreateInputLayout(elements.data(), uint32_t(elements.size()), m_bytecode.data(),
                                                    m_bytecode.size(), &m_inputLayout))) {
    ReportShaderFailure("create the input layout of", m_name, m_path);
    return false;
  }
  return true;
}

void Shader::Bind() {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (!context) return;
  if (m_kind == VertexShader) {
    context->SetInputLayout(m_inputLayout);
    context->SetVertexShader(m_vertexShader);
  } else {
    context->SetPixelShader(m_pixelShader);
  }
}

void Shader::Release() {
  if (m_inputLayout) m_inputLayout->Release();
  if (m_pixelShader) m_pixelShader->Release();
  if (m_vertexShader) m_vertexShader->Release();
  m_inputLayout = nullptr;
  m_pixelShader = nullptr;
  m_vertexShader = nullptr;
  m_bytecode.clear();
  m_bytecodeSize = 0;
}

}  // namespace Graphics
