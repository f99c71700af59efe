// Script components: a native component that names a script component type and carries its saved
// state as text, so that it lives in levels, archetypes and object copies like any other component.
// Its life is mirrored in the scripts ("game:AddComponent", "game:DeserializeComponent",
// "game:SerializeComponent", "game:RemoveComponent").
#pragma once

#include <string>

#include "Core/GameComponent.h"

namespace Base {
class File;
}

namespace Core {

class LuaComponent : public GameComponent {
 public:
  static constexpr uint32_t kComponentType = ComponentType_LuaComponent;

  // Creates the script side ("game:AddComponent", whose answer becomes the type name) and restores its
  // saved state ("game:DeserializeComponent"). Nothing for a component without a type name.
  void Initialize() override;
  // Pulls the state from the scripts into m_loadFunction while the owner is initialised.
  void RefreshState() override;
  // Tells the scripts ("game:RemoveComponent").
  void NotifyRemoved() override;

  // The text writer of the type: the state is refreshed from the scripts (for a component with an
  // owner), then the members are written as any instance's.
  static void Serialize(Base::File& file, const Base::Reflection::Variant& value);

  // Fields after the base, in this order. A failed script call leaves both as they were.
  std::string m_compType;      // the script component type
  std::string m_loadFunction;  // the saved state, text made by the scripts; empty when none

 private:
  // Asks "game:SerializeComponent" for the state; a failed call keeps the old one.
  void PullState();
};

}  // namespace Core
