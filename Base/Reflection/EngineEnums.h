// The reflected enumerations built before main by the base library ("ComponentType" is Core's).
#pragma once

#include "Base/Reflection/Enum.h"

namespace Base::Enums {

const Enum& AssetTypes();          // "DefaultAsset" 0 .. "Space" 6; "countAssetTypes" 7
const Enum& Generics();            // "GameComponent" 0, "GameObject" 1; "Abstract" 2
const Enum& SpaceComponentType();  // "TestSpaceComp" 0; "countSpaceComponents" 1

}  // namespace Base::Enums
