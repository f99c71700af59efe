// The factory: level and space files, component blocks, and the archetype cache.
#include "Core/Factory.h"

#include <cstdio>
#include <memory>

#include "Base/Reflection/Registration.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/ComponentCreator.h"
#include "Core/ContentPath.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Hooks.h"
#include "Core/Log.h"
#include "Core/ObjectText.h"
#include "Core/SpaceComponent.h"
#include "Core/Transform.h"

namespace Core {
namespace {

// Every object of a new tree is initialised once, children before their parent, the root last.
void InitializeTree(GameObject& root) {
  root.InitializeChildren();
  root.Initialize();
}

// What every object made from an archetype has: a Transform at the origin and the archetype's name.
void FinishArchetypeRoot(GameObject& object, const char* name) {
  Transform* transform = object.GetComponent<Transform>();
  if (!transform && object.GetSpace()) {
    if (GameComponent* component = object.GetSpace()->CreateComponent(ComponentType_Transform)) {
      object.AttachComponent(component);
      transform = object.GetComponent<Transform>();
    }
  }
  if (transform) transform->SetTranslation({0.0f, 0.0f, 0.0f});
  object.m_archetype = name;
}

void ReportMissingArchetype(const char* name) {
  CORE_LOG(Warning, "Archetype \"%s\" not found! (Could not find file.)", name);
}

}  // namespace

Factory::Factory() : m_archetypes(8) { m_archetypes.max_load_factor(1.0f); }

Factory& Factory::GetInstance() {
  static Factory factory;
  return factory;
}

const Archetype& Factory::EmptyArchetype() {
  static const Archetype empty;
  return empty;
}

std::string Factory::MakeContentPath(std::string_view name, FileKind kind) {
  switch (kind) {
    case FileKind_Archetype:
      return Core::MakeContentPath(name, kArchetypeFolder, kArchetypeExtension);
    case FileKind_Space:
      return Core::MakeContentPath(name, kSpaceFolder, kSpaceExtension);
    case FileKind_Level:
      return Core::MakeContentPath(name, kLevelFolder, kLevelExtension);
  }
  return ToContentPath(name);
}

// --- Levels and spaces ----------------------------------------------------------------------------------

Factory::LevelLoad Factory::LoadLevel(const char* name, SpaceHost& host) {
  LevelLoad load;
  const std::string path = MakeContentPath(name ? name : "", FileKind_Level);
  if (!IsReadableFile(path)) {
    CORE_LOG(Warning, "Tried to load level that doesn't exist: %s", path.c_str());
    return load;
  }
  load.fileRead = true;
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  ObjectText::ReadLine(file);  // the first line is the level's own business
  // Names are separated by blanks and line ends; the last one counts with or without a line end.
  for (bool more = file.IsGood(); more;) {
    const std::string space = file.ReadUntilAny(" \r\n");
    more = file.IsGood();
    if (space.empty()) continue;
    ++load.spacesNamed;
    bool whole = false;
    if (LoadSpace(space.c_str(), host, &whole)) ++load.spacesLoaded;
    if (whole) ++load.spacesWhole;
  }
  file.Close();
  return load;
}

GameSpace* Factory::LoadSpace(const char* name, SpaceHost& host, bool* whole) {
  if (whole) *whole = false;
  const std::string path = MakeContentPath(name ? name : "", FileKind_Space);
  if (!IsReadableFile(path)) {
    CORE_LOG(Warning, "Tried to load space that doesn't exist: %s", path.c_str());
    return nullptr;
  }
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  const std::string spaceName = ObjectText::ReadLine(file);
  if (spaceName.empty()) {
    CORE_LOG(Error, "Space file names no space: %s", path.c_str());
    return nullptr;
  }
  if (host.GetGameSpace(spaceName.c_str())) {
    CORE_LOG(Warning, "Attempted to load a Space that is already open \"%s\"", spaceName.c_str());
    return nullptr;
  }
  GameSpace* space = host.NewGameSpace(spaceName.c_str());
  if (!space) return nullptr;

  const bool read = ObjectText::ReadSpace(file, *space);
  if (whole) *whole = read;
  if (Hooks* engine = GetEngineHooks()) engine->Call("GameSpaceLoaded", space);
  file.Close();
  return space;
}

// --- Archetypes -------------------------------------------------------------------------------------------

GameObject* Factory::ReadArchetypeFile(GameSpace& space, const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  if (!file.IsGood()) {
    CORE_LOG(Warning, "Failed to load archetype from file: %s", path.c_str());
    return nullptr;
  }
  GameObject* object = space.CreateObject();
  if (!object) return nullptr;
  if (!Archetype::Deserialize(file, Base::Reflection::Variant(Base::Reflection::TypeOf<Archetype>(), object))) {
    // Nothing was read into it: an empty object must not pass for the archetype.
    space.DestroyObject(object);
    return nullptr;
  }
  return object;
}

GameObject* Factory::LoadObjectFromArchetype(GameSpace* space, const char* name) {
  if (!name) name = "";
  if (!space) {
    CORE_LOG(Error, "Attempted to load archetype \"%s\" into no game space", name);
    return nullptr;
  }
  if (const auto cached = m_archetypes.find(std::string_view(name)); cached != m_archetypes.end()) {
    GameObject* object = cached->second.Instantiate(*space);
    if (!object) return nullptr;
    FinishArchetypeRoot(*object, name);
    InitializeTree(*object);
    return object;
  }

  const std::string path = MakeContentPath(name, FileKind_Archetype);
  if (!IsReadableFile(path)) {
    ReportMissingArchetype(name);
    return nullptr;
  }
  GameObject* object = ReadArchetypeFile(*space, path);
  if (!object) return nullptr;
  FinishArchetypeRoot(*object, name);
  InitializeTree(*object);
  if (m_archetypes.find(std::string_view(name)) == m_archetypes.end()) m_archetypes[name].SetFromObject(*object);
  return object;
}

const Archetype& Factory::GetArchetype(const char* name, bool loadIfMissing) {
  if (!name) return EmptyArchetype();
  if (const auto cached = m_archetypes.find(std::string_view(name)); cached != m_archetypes.end())
    return cached->second;
  if (loadIfMissing) {
    LoadArchetype(name);
    return GetArchetype(name, false);
  }
  return EmptyArchetype();
}

bool Factory::LoadArchetype(const char* name) {
  if (!name) return false;
  if (&GetArchetype(name, false) != &EmptyArchetype()) return true;
  const std::string path = MakeContentPath(name, FileKind_Archetype);
  if (!IsReadableFile(path)) {
    ReportMissingArchetype(name);
    return false;
  }
  // Read into a space of its own, which no engine list knows and which goes when the record is made.
  auto scratch = std::make_unique<GameSpace>();
  GameObject* object = ReadArchetypeFile(*scratch, path);
  if (!object) return false;
  object->m_archetype = name;
  m_archetypes[name].SetFromObject(*object);
  return true;
}

// --- Component blocks and creators -------------------------------------------------------------------------

GameComponent* Factory::ReadComponent(Base::File& file, GameSpace& space, Base::Serializer& serializer,
                                      int32_t stopDepth) {
  return space.ReadComponent(file, serializer, stopDepth);
}

SpaceComponent* Factory::ReadSpaceComponent(Base::File& file, GameSpace& space, Base::Serializer& serializer,
                                            int32_t stopDepth) {
  return space.ReadSpaceComponent(file, serializer, stopDepth);
}

void Factory::RegisterComponentCreator(ComponentCreator& creator) { ComponentRegistry::Register(creator); }

void Factory::RegisterSpaceComponentCreator(SpaceCompCreator& creator) { SpaceComponentRegistry::Register(creator); }

ComponentCreator* Factory::GetComponentCreator(uint32_t type) { return ComponentRegistry::GetCreator(type); }

Base::Reflection::TypeInfo* Factory::GetComponentType(uint32_t type) { return ComponentRegistry::GetType(type); }

SpaceCompCreator* Factory::GetSpaceComponentCreator(uint32_t type) { return SpaceComponentRegistry::GetCreator(type); }

}  // namespace Core

ORV_REFLECT_CLASS(Core::Factory) {
  type.Method<&Core::Factory::LoadObjectFromArchetype>("Core::Factory::LoadObjectFromArchetype",
                                                       "LoadObjectFromArchetype", "Loads archtype into GameObject");
}
