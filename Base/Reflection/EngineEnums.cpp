// The reflected enumeration of the base library: built on first use, and before main.
// Areas above it build their own from their own lists (Core: "ComponentType", "Generics",
// "SpaceComponentType").
#include "Base/Reflection/EngineEnums.h"

#include "Base/Reflection/Registration.h"

namespace Base::Enums {

const Enum& AssetTypes() {
  static const Enum values("AssetTypes", {"DefaultAsset", "Mesh", "Material", "Texture", "Archetype", "Font",
                                          "Space", "countAssetTypes"});
  return values;
}

ORV_ON_LOAD { AssetTypes(); }

}  // namespace Base::Enums
