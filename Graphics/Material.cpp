// The ".mat" grammar: sections opened by a token with ':' ("PS" for shaders, "Texture" for
// textures), entries up to a token with '}', brace tokens skipped.
#include "Graphics/Material.h"

#include "Graphics/Log.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"

#include <fstream>

namespace Graphics {

namespace {

bool Has(const std::string& token, const char* part) { return token.find(part) != std::string::npos; }

}  // namespace

Material::Material(const char* name) { Load(name ? name : ""); }

void Material::Load(const std::string& name) {
  m_loaded = false;
  Base::Resources<Shader>::Instance();
  Base::Resources<Tex2D>::Instance();
  {
    std::ifstream file(m_directory + name);
    if (file.is_open()) {
      m_name = name;
      m_loaded = Parse(file);
    }
  }
  if (m_loaded) return;
  GFX_LOG(Warning, "Failed to load material %s attempting to replace with default material", name.c_str());
  m_name = "default.mat";
  std::ifstream fallback(m_directory + "default.mat");
  if (fallback.is_open()) m_loaded = Parse(fallback);
  if (!m_loaded) GFX_LOG(Error, "Could not find default material");
}

bool Material::Parse(std::istream& stream) {
  std::string token;
  while (stream >> token) {
    if (!Has(token, ":")) continue;
    const bool shaders = Has(token, "PS");
    if (!shaders && !Has(token, "Texture")) {
      GFX_LOG(Warning, "Warning, Material File has invalid information\n");
      return false;
    }
    while (!Has(token, "}")) {
      if (!(stream >> token)) {
        GFX_LOG(Warning, "Warning, Material File has invalid information\n");
        return false;
      }
      if (Has(token, "{") || Has(token, "}")) continue;
      if (shaders) {
        auto& manager = Base::Resources<Shader>::Instance();
        if (manager.GetResourceByName(token)) m_shaderIDs.push_back(manager.GetResourceID(token));
      } else if (Has(token, ".dds")) {
        m_textures.push_back(Base::Resources<TexCube>::Instance().GetResourceByName(token));
      } else {
        m_textures.push_back(Base::Resources<Tex2D>::Instance().GetResourceByName(token));
      }
    }
  }
  return true;
}

void Material::BindShaders() {
  auto& manager = Base::Resources<Shader>::Instance();
  for (int32_t id : m_shaderIDs)
    if (Shader* shader = manager.GetResourceById(uint32_t(id))) shader->Bind();
}

void Material::BindTextures(uint32_t firstSlot) {
  for (size_t i = 0; i < m_textures.size(); ++i) {
    if (m_textures[i])
      m_textures[i]->Bind(firstSlot + uint32_t(i));
    else
      UnbindTextureSlot(firstSlot + uint32_t(i));
  }
}

}  // namespace Graphics
