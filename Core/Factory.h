// The factory: the one way content enters the engine. Turns level, space and archetype names into
// files of the content tree, reads a level into game spaces and a space file into one game space,
// reads component blocks through the registered creators, and caches archetypes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Base/Reflection/TypeInfo.h"
#include "Core/Archetype.h"

namespace Base {
class File;
class Serializer;
}  // namespace Base

namespace Core {

class ComponentCreator;
class GameComponent;
class GameObject;
class GameSpace;
class SpaceCompCreator;
class SpaceComponent;

// What level and space loads need from the owner of the live game spaces (the engine).
class SpaceHost {
 public:
  virtual ~SpaceHost() = default;
  // The live space of that name, or null.
  virtual GameSpace* GetGameSpace(const char* name) = 0;
  // A new live space of that name, already given its space components; null when none can be made.
  virtual GameSpace* NewGameSpace(const char* name) = 0;
};

class Factory {
 public:
  enum FileKind : uint32_t {
    FileKind_Archetype = 0,
    FileKind_Space = 1,
    FileKind_Level = 2,
  };

  static Factory& GetInstance();
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  // The name itself when it names an existing file, else the kind's folder + name + extension; '\' in
  // names becomes '/'.
  static std::string MakeContentPath(std::string_view name, FileKind kind);

  // --- Levels and spaces ------------------------------------------------------------------------------
  // How far a level load came: whether its file was read, and of the spaces it names, how many were
  // made and how many of those were read whole. Every shortfall was logged as it happened.
  struct LevelLoad {
    bool fileRead = false;
    uint32_t spacesNamed = 0;
    uint32_t spacesLoaded = 0;
    uint32_t spacesWhole = 0;
    bool Whole() const { return fileRead && spacesNamed > 0 && spacesWhole == spacesNamed; }
  };
  // Loads every space a level file names, in file order. A space that fails is skipped; the spaces
  // loaded before it stay.
  LevelLoad LoadLevel(const char* name, SpaceHost& host);
  // Reads a space file into a new space of `host` and fires the engine hook "GameSpaceLoaded" with it.
  // Null when the file is missing or its space is already open. A bad count line is reported and the
  // space is kept, without objects; a file cut short is reported and the space keeps what was read.
  // `whole`, when given, tells whether the file was read whole.
  GameSpace* LoadSpace(const char* name, SpaceHost& host, bool* whole = nullptr);

  // --- Archetypes ---------------------------------------------------------------------------------------
  // A new, initialised object tree in `space` from the cached archetype, or read from its file (and
  // cached) the first time. The root always has a Transform, at the origin, and the archetype name
  // `name`. Null (logged) when there is no such archetype or its file holds no object.
  GameObject* LoadObjectFromArchetype(GameSpace* space, const char* name);
  // The cached archetype, loading it first when asked; EmptyArchetype() when it is not cached.
  const Archetype& GetArchetype(const char* name, bool loadIfMissing);
  // True when the archetype is cached afterwards.
  bool LoadArchetype(const char* name);
  // The one record nothing fills: compare addresses with it.
  static const Archetype& EmptyArchetype();
  size_t CachedArchetypeCount() const { return m_archetypes.size(); }
  // Forgets every cached archetype (tools and tests; the engine keeps them for the whole run).
  void ClearArchetypes() { m_archetypes.clear(); }

  // --- Component blocks ---------------------------------------------------------------------------------
  // The next component block of an object block into a new component of `space` (the caller attaches
  // it), or null at the end of the components. Blocks of unknown component types are skipped.
  GameComponent* ReadComponent(Base::File& file, GameSpace& space, Base::Serializer& serializer, int32_t stopDepth = 0);
  // The next space-component block into the space's own space component of that type, or null.
  SpaceComponent* ReadSpaceComponent(Base::File& file, GameSpace& space, Base::Serializer& serializer,
                                     int32_t stopDepth = 0);

  // --- Creators ------------------------------------------------------------------------------------------
  // The creator tables live in the registries, so that static initialisers can fill them before the
  // factory exists; these are the factory's names for them.
  static void RegisterComponentCreator(ComponentCreator& creator);
  static void RegisterSpaceComponentCreator(SpaceCompCreator& creator);
  static ComponentCreator* GetComponentCreator(uint32_t type);
  static Base::Reflection::TypeInfo* GetComponentType(uint32_t type);
  static SpaceCompCreator* GetSpaceComponentCreator(uint32_t type = 0);

 private:
  Factory();

  // Reads an archetype file into a new object of `space`; null (logged) when the file cannot be opened
  // or holds no object block, in which case nothing is left in the space.
  static GameObject* ReadArchetypeFile(GameSpace& space, const std::string& path);

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, Archetype, NameHash, std::equal_to<>> m_archetypes;
};

}  // namespace Core
