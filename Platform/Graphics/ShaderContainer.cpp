// Packing, parsing and reflecting the engine's compiled-shader container.
#include "Platform/Graphics/ShaderContainer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <regex>

namespace Platform {

namespace {

std::string StripComments(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 2;
      out += ' ';
    } else {
      out += text[i++];
    }
  }
  return out;
}

struct TypeShape {
  const char* name;
  uint8_t mask;
  GpuComponentType type;
  uint32_t rows;
};

// The number a run of decimal digits spells when `rows` consecutive numbers from it all fit in 32 bits
// (a matrix input takes one location and one semantic index per row); false otherwise.
bool ParseFirstOfRows(const std::string& digits, uint32_t rows, uint32_t* value) {
  uint64_t number = 0;
  for (char c : digits) {
    number = number * 10 + uint64_t(c - '0');
    if (number > UINT32_MAX) return false;
  }
  if (number + rows - 1 > UINT32_MAX) return false;
  *value = uint32_t(number);
  return true;
}

const TypeShape kTypes[] = {
    {"float", 1, GpuComponentType::Float32, 1}, {"vec2", 3, GpuComponentType::Float32, 1},
    {"vec3", 7, GpuComponentType::Float32, 1},  {"vec4", 15, GpuComponentType::Float32, 1},
    {"int", 1, GpuComponentType::SInt32, 1},    {"ivec2", 3, GpuComponentType::SInt32, 1},
    {"ivec3", 7, GpuComponentType::SInt32, 1},  {"ivec4", 15, GpuComponentType::SInt32, 1},
    {"uint", 1, GpuComponentType::UInt32, 1},   {"uvec2", 3, GpuComponentType::UInt32, 1},
    {"uvec3", 7, GpuComponentType::UInt32, 1},  {"uvec4", 15, GpuComponentType::UInt32, 1},
    {"mat3", 7, GpuComponentType::Float32, 3},  {"mat4", 15, GpuComponentType::Float32, 4},
};

}  // namespace

std::vector<uint8_t> PackShaderContainer(const ShaderContainer& shader) {
  ShaderFileHeader header{};
  std::memcpy(header.magic, "OSHD", 4);
  header.version = kShaderFileVersion;
  header.stage = uint32_t(shader.stage);
  header.inputCount = uint32_t(shader.inputs.size());
  header.sourceBytes = uint32_t(shader.source.size());

  std::vector<uint8_t> bytes(sizeof header + shader.inputs.size() * sizeof(ShaderFileInput) +
                             shader.source.size());
  uint8_t* at = bytes.data();
  std::memcpy(at, &header, sizeof header);
  at += sizeof header;
  for (const ShaderInputParameter& in : shader.inputs) {
    ShaderFileInput rec{};
    std::strncpy(rec.semanticName, in.semanticName.c_str(), sizeof rec.semanticName - 1);
    rec.semanticIndex = in.semanticIndex;
    rec.location = in.location;
    rec.mask = in.mask;
    rec.componentType = uint32_t(in.componentType);
    std::memcpy(at, &rec, sizeof rec);
    at += sizeof rec;
  }
  std::memcpy(at, shader.source.data(), shader.source.size());
  return bytes;
}

bool ParseShaderContainer(const void* data, size_t size, ShaderContainer* out, std::string* error) {
  ShaderFileHeader header;
  if (!data || size < sizeof header) {
    *error = "shader file too short";
    return false;
  }
  std::memcpy(&header, data, sizeof header);
  if (std::memcmp(header.magic, "OSHD", 4) != 0 || header.version != kShaderFileVersion) {
    *error = "not a compiled shader of this engine";
    return false;
  }
  if (header.stage > uint32_t(GpuShaderStage::Pixel)) {
    *error = "unknown shader stage";
    return false;
  }
  uint64_t need = sizeof header + uint64_t(header.inputCount) * sizeof(ShaderFileInput) +
                  header.sourceBytes;
  if (need != size) {
    *error = "shader file size does not match its header";
    return false;
  }
  const uint8_t* at = static_cast<const uint8_t*>(data) + sizeof header;
  out->stage = GpuShaderStage(header.stage);
  out->inputs.clear();
  for (uint32_t i = 0; i < header.inputCount; ++i, at += sizeof(ShaderFileInput)) {
    ShaderFileInput rec;
    std::memcpy(&rec, at, sizeof rec);
    rec.semanticName[sizeof rec.semanticName - 1] = 0;
    if (rec.componentType > uint32_t(GpuComponentType::Float32)) rec.componentType = 0;
    out->inputs.push_back({rec.semanticName, rec.semanticIndex, rec.location,
                           uint8_t(rec.mask & 15), GpuComponentType(rec.componentType)});
  }
  out->source.assign(reinterpret_cast<const char*>(at), header.sourceBytes);
  return true;
}

bool ExtractInputSignature(const std::string& source, std::vector<ShaderInputParameter>* out,
                           std::string* error) {
  static const std::regex kInput(
      R"(layout\s*\(\s*location\s*=\s*(\d+)\s*\)\s*in\s+(?:(?:flat|smooth|noperspective)\s+)?(\w+)\s+(\w+)\s*;)");
  static const std::regex kSemantic(R"(in_([A-Za-z_][A-Za-z0-9_]*?)(\d*))");
  out->clear();
  std::string text = StripComments(source);
  for (std::sregex_iterator it(text.begin(), text.end(), kInput), end; it != end; ++it) {
    std::string type = (*it)[2], name = (*it)[3];
    const TypeShape* shape = nullptr;
    for (const TypeShape& t : kTypes)
      if (type == t.name) shape = &t;
    std::smatch sem;
    if (!shape) {
      *error = "input '" + name + "' has a type a vertex input cannot have: " + type;
      return false;
    }
    if (!std::regex_match(name, sem, kSemantic)) {
      *error = "input '" + name + "' is not named in_SEMANTIC";
      return false;
    }
    uint32_t location = 0, index = 0;
    if (!ParseFirstOfRows((*it)[1], shape->rows, &location)) {
      *error = "input '" + name + "' has a location out of range: " + std::string((*it)[1]);
      return false;
    }
    if (sem[2].length() && !ParseFirstOfRows(sem[2], shape->rows, &index)) {
      *error = "input '" + name + "' has a semantic index out of range";
      return false;
    }
    for (uint32_t row = 0; row < shape->rows; ++row)
      out->push_back({sem[1], index + row, location + row, shape->mask, shape->type});
  }
  std::sort(out->begin(), out->end(),
            [](const ShaderInputParameter& a, const ShaderInputParameter& b) {
              return a.location < b.location;
            });
  for (size_t i = 1; i < out->size(); ++i) {
    if ((*out)[i].location == (*out)[i - 1].location) {
      *error = "two inputs share location " + std::to_string((*out)[i].location);
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> PackShaderSource(GpuShaderStage stage, const std::string& source,
                                      std::string* error) {
  ShaderContainer shader;
  shader.stage = stage;
  shader.source = source;
  if (stage == GpuShaderStage::Vertex && !ExtractInputSignature(source, &shader.inputs, error))
    return {};
  return PackShaderContainer(shader);
}

GpuResult ReflectShader(const void* code, size_t size, std::vector<ShaderInputParameter>* inputs) {
  ShaderContainer shader;
  std::string error;
  if (!inputs || !ParseShaderContainer(code, size, &shader, &error)) return kGpuInvalidArg;
  *inputs = std::move(shader.inputs);
  return kGpuOk;
}

}  // namespace Platform
