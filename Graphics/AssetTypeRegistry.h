// The asset-type registry: for every resource file extension the engine knows, its asset type and,
// where a resource manager exists for it, a bound loader that adds such a file to that manager.
// Filled once at start-up; also the registration of the particle system's value types.
#pragma once

#include "Base/function/Thunk.h"
#include "Base/ResourceCollection.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Base {

class AssetTypeRegistry {
 public:
  static AssetTypeRegistry& GetInstance();

  // Files of `extension` are loaded by Resources<T>: its singleton is the loader's bound object and
  // the collection the resource manager's extension map names.
  template <class T>
  void RegisterExtension(const char* extension, uint32_t assetType) {
    Resources<T>& manager = Resources<T>::Instance();
    Function loader(MakeSignature<&ResourceCollection::LoadResourceVoid, Resources<T>>(),
                    &Thunk<&ResourceCollection::LoadResourceVoid, Resources<T>>, "Resources<T>::LoadResourceVoid");
    loader.SetObject(Reflection::Variant(Reflection::TypeOf<Resources<T>*>(), &manager));
    m_loaders[extension] = loader;
    m_extensions.emplace_back(extension);
    m_assetTypes[extension] = assetType;
    ResourceManager::GetInstance().m_extensionMap[extension] = &manager;
  }
  // An extension with an asset type and no loader.
  void RegisterExtension(const char* extension, uint32_t assetType);

  std::unordered_map<std::string, Function> m_loaders;
  std::vector<std::string> m_extensions;
  std::unordered_map<std::string, uint32_t> m_assetTypes;
};

// ".cong" meshes, ".mat" materials, ".spritefont" fonts, ".png" textures, ".arche" archetypes.
void RegisterDefaultExtensions();

}  // namespace Base

namespace Graphics {

// "EmitterShapeType", "RotationType" and "ParticleBlendState": 4-byte values written and read as
// signed integers.
void RegisterParticleEnumTypes();

}  // namespace Graphics
