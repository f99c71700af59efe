// A material: the shaders and textures a model is drawn with, read from a ".mat" text file under
// "content/materials/"; a missing or malformed file becomes "default.mat".
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace Graphics {

class Texture;

class Material {
 public:
  explicit Material(const char* name);

  bool IsLoaded() const { return m_loaded; }
  void Load(const std::string& name);
  // Reads sections until the end of the stream; false on an unknown section or one the file ends
  // inside (the entries read so far stay).
  bool Parse(std::istream& stream);
  void BindShaders();
  // Texture i goes to pixel slot firstSlot + i; an entry that failed to load binds no view there.
  void BindTextures(uint32_t firstSlot);

  std::vector<int32_t> m_shaderIDs;
  std::vector<Texture*> m_textures;  // owned by the texture managers; null where a load failed
  std::string m_name;
  std::string m_directory = "content/materials/";
  bool m_loaded = false;
};

}  // namespace Graphics
