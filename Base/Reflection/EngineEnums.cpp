// The engine's reflected enumerations: built on first use, and all of them before main.
#include "Base/Reflection/EngineEnums.h"

#include "Base/Reflection/Registration.h"

namespace Base::Enums {

const Enum& AssetTypes() {
  static const Enum values("AssetTypes", {"DefaultAsset", "Mesh", "Material", "Texture", "Archetype", "Font",
                                          "Space", "countAssetTypes"});
  return values;
}

// The numbers are the slots of a game object's component handles and of a space's component pools.
const Enum& ComponentType() {
  static const Enum values("ComponentType",
                           {"Transform", "Camera", "Model", "RigidBody", "ColliderCube", "ColliderCapsule",
                            "ColliderGround", "ColliderSphere", "ColliderSlant", "ColliderPolytope",
                            "AnimationController", "SoundEmitter", "Spinner", "Skybox", "PointLight", "SpotLight",
                            "DirectionalLight", "ParticleSystem", "LuaComponent", "countComponents"});
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
  ComponentType();
  Generics();
  SpaceComponentType();
}

}  // namespace Base::Enums
