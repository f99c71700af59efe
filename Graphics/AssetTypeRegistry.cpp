// The default extension table and the particle value types, registered by the entry point.
#include "Graphics/AssetTypeRegistry.h"

#include "Base/Reflection/Registration.h"
#include "Base/Serialization/ValueText.h"
#include "Graphics/Font.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Graphics/Texture.h"

namespace Base {

AssetTypeRegistry& AssetTypeRegistry::GetInstance() {
  static AssetTypeRegistry instance;
  return instance;
}

void AssetTypeRegistry::RegisterExtension(const char* extension, uint32_t assetType) {
  m_extensions.emplace_back(extension);
  m_assetTypes[extension] = assetType;
}

void RegisterDefaultExtensions() {
  AssetTypeRegistry& registry = AssetTypeRegistry::GetInstance();
  registry.RegisterExtension<Graphics::Mesh>(".cong", 1);
  registry.RegisterExtension<Graphics::Material>(".mat", 2);
  registry.RegisterExtension<Graphics::Font>(".spritefont", 5);
  registry.RegisterExtension<Graphics::Tex2D>(".png", 3);
  registry.RegisterExtension(".arche", 4);
}

}  // namespace Base

namespace Graphics {

namespace {

// One record per value type: the three share a C++ representation.
template <int Id>
struct ParticleValue {
  int32_t value;
};

template <int Id>
void RegisterParticleValue(const char* name) {
  Base::Reflection::TypeInfo* record =
      Base::Reflection::RegisterType<int32_t, ParticleValue<Id>>(Base::Reflection::TypeRegistry::GetInstance(), 4, name,
                                                                  name, true);
  Base::ValueText::SetTextFunctions(record, &Base::ValueText::WriteInt, &Base::ValueText::ReadInt);
}

}  // namespace

void RegisterParticleEnumTypes() {
  RegisterParticleValue<0>("EmitterShapeType");
  RegisterParticleValue<1>("RotationType");
  RegisterParticleValue<2>("ParticleBlendState");
}

}  // namespace Graphics
