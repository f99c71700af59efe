// Shader resources: reading ".cso" files, creating the device shaders and the vertex input layout.
#include "Graphics/Shader.h"

#include "Graphics/Device.h"
#include "Graphics/Log.h"
#include "Platform/Graphics/GpuContext.h"
#include "Platform/Graphics/GpuDevice.h"

#include <cstdio>
#include <cstring>

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

}  // namespace

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

Shader::Shader(const char* name) : m_path(name ? name : "") {
  if (m_path.find("_VS") != std::string::npos)
    m_kind = VertexShader;
  else if (m_path.find("_PS") != std::string::npos)
    m_kind = PixelShader;
  else
    return;

  if (!ReadBytecode()) return;
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (!device) return;
  if (m_kind == VertexShader) {
    if (Platform::GpuFailed(device->CreateVertexShader(m_bytecode.data(), m_bytecode.size(), &m_vertexShader))) {
      GFX_LOG(Error, "Failed to create Shader %s", m_path.c_str());
      return;
    }
    if (!CreateInputLayout()) return;
  } else if (Platform::GpuFailed(device->CreatePixelShader(m_bytecode.data(), m_bytecode.size(), &m_pixelShader))) {
    GFX_LOG(Error, "Failed to create Shader %s", m_path.c_str());
    return;
  }
  m_loaded = true;
}

Shader::~Shader() { Release(); }

bool Shader::ReadBytecode() {
  const std::string base = m_directory + m_path;
  GFX_LOG(Verbose, "Loading Shader %s", base.c_str());
  const std::string file = base + ".cso";
  FILE* f = std::fopen(file.c_str(), "rb");
  long length = -1;
  if (f && std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  bool read = false;
  if (f && length >= 0) {
    std::rewind(f);
    m_bytecode.resize(size_t(length));
    read = std::fread(m_bytecode.data(), 1, m_bytecode.size(), f) == m_bytecode.size();
  }
  if (f) std::fclose(f);
  if (!read) {
    GFX_LOG(Error, "Failed to load Shader %s", file.c_str());
    m_bytecode.clear();
    return false;
  }
  m_bytecodeSize = uint32_t(m_bytecode.size());
  m_path = file;
  return true;
}

bool Shader::CreateInputLayout() {
  std::vector<Platform::ShaderInputParameter> inputs;
  Platform::GpuDevice* device = GetDevice()->m_device;
  if (Platform::GpuFailed(Platform::ReflectShader(m_bytecode.data(), m_bytecode.size(), &inputs))) {
    GFX_LOG(Error, "Failed to reflect Shader %s", m_path.c_str());
    return false;
  }
  const std::vector<Platform::GpuInputElementDesc> elements = BuildInputLayoutElements(inputs);
  if (Platform::GpuFailed(device->CreateInputLayout(elements.data(), uint32_t(elements.size()), m_bytecode.data(),
                                                    m_bytecode.size(), &m_inputLayout))) {
    GFX_LOG(Error, "Failed to create the input layout of Shader %s", m_path.c_str());
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
