// The reflected enumerations of the base library: built on first use, and all of them before main.
// Areas above it build their own (Core: "ComponentType", from its list of component classes).
#include "Base/Reflection/EngineEnums.h"

#include "Base/Reflection/Registration.h"

namespace Base::Enums {

const Enum& AssetTypes() {
  static const Enum values("AssetTypes", {"DefaultAsset", "Mesh", "Material", "Texture", "Archetype", "Font",
                                          "Space", "countAssetTypes"});
  return values;
}

const Enum& Generics() {
  static const Enum values("Generics", {"GameComponent", "GameObject", "Abstract"});
  return values;
}

const Enum& SpaceComponentType() {
  static const Enum values("SpaceComponentType", {"TestSpaceComp", "countSpaceComponents"});
  return values;
}

ORV_ON_LOAD {
  AssetTypes();
  Generics();
  SpaceComponentType();
}

}  // namespace Base::Enums
