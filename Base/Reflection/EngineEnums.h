// The reflected enumeration built before main by the base library (the engine core builds its own).
#pragma once

#include "Base/Reflection/Enum.h"

namespace Base::Enums {

const Enum& AssetTypes();  // "DefaultAsset" 0 .. "Space" 6; "countAssetTypes" 7

}  // namespace Base::Enums
