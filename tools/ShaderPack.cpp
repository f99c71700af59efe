// Packs a GLSL 4.50 source into the engine's compiled-shader file after checking it compiles.
//   ShaderPack --validator <glslangValidator> <Name_VS.glsl | Name_PS.glsl> <output.cso>
// The stage comes from the name as the engine decides it when loading: "_VS" vertex, else "_PS"
// pixel.
#include "Platform/Graphics/ShaderContainer.h"
#include "tools/FileWriter/FileWriter.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "ShaderPack: error: %s\n", message.c_str());
  return 1;
}

bool Validate(const std::string& validator, const std::string& stage, const std::string& source) {
  const char* argv[] = {validator.c_str(), "-S", stage.c_str(), source.c_str(), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, validator.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Pack(int argc, char** argv) {
  if (argc != 5 || std::strcmp(argv[1], "--validator") != 0)
    return Fail("usage: ShaderPack --validator <glslangValidator> <source.glsl> <output.cso>");
  std::string validator = argv[2], sourcePath = argv[3], outputPath = argv[4];
  // A rejected source must not leave an old file behind; an accepted one replaces the file whole,
  // and only when its bytes change.
  const auto reject = [&](const std::string& message) {
    std::filesystem::remove(outputPath);
    return Fail(message);
  };

  std::string name = std::filesystem::path(sourcePath).stem().string();
  Platform::ShaderContainer shader;
  if (name.find("_VS") != std::string::npos)
    shader.stage = Platform::GpuShaderStage::Vertex;
  else if (name.find("_PS") != std::string::npos)
    shader.stage = Platform::GpuShaderStage::Pixel;
  else
    return reject(sourcePath + ": the name says neither _VS nor _PS");

  std::ifstream in(sourcePath, std::ios::binary);
  if (!in) return reject(sourcePath + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  shader.source = text.str();

  if (!Validate(validator, shader.stage == Platform::GpuShaderStage::Vertex ? "vert" : "frag", sourcePath))
    return reject(sourcePath + ": does not compile");
  std::string error;
  if (shader.stage == Platform::GpuShaderStage::Vertex &&
      !Platform::ExtractInputSignature(shader.source, &shader.inputs, &error))
    return reject(sourcePath + ": " + error);

  std::vector<uint8_t> bytes = Platform::PackShaderContainer(shader);
  if (!Tools::WriteFileWhole(outputPath, bytes)) return reject(outputPath + ": cannot be written");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever the library or the file system throws is one more error of the packer, not a crash.
  try {
    return Pack(argc, argv);
  } catch (const std::exception& failure) {
    return Fail(failure.what());
  }
}
