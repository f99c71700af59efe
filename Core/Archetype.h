// Archetypes: a stored game object tree (names, detached copies of its components, its script
// components and its children) that the factory caches and instantiates into spaces, and the archetype
// block of ".arche" files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Base/Reflection/Variant.h"
#include "Core/GameComponent.h"

namespace Base {
class File;
class Serializer;
}  // namespace Base

namespace Core {
class GameObject;
class GameSpace;

// Deletes a component made on its own (not in a space pool).
struct DetachedComponentDeleter {
  void operator()(GameComponent* component) const { DeleteDetachedComponent(component); }
};
using DetachedComponent = std::unique_ptr<GameComponent, DetachedComponentDeleter>;
}  // namespace Core

// The root record of an archetype. A record owns everything it stores; copies are deep.
class Archetype {
 public:
  class ArchetypeData;

  Archetype();
  Archetype(const Archetype& other);
  Archetype& operator=(const Archetype& other);
  Archetype(Archetype&&) noexcept;
  Archetype& operator=(Archetype&&) noexcept;
  ~Archetype();

  // Replaces the whole content with the object tree under `object`; the stored root Transform gets the
  // local translation (0, 0, 0), so that every instance is placed by whoever makes it.
  void SetFromObject(const Core::GameObject& object);
  // A new, uninitialised object tree in `space`, linked parent to child without "Parented" hooks; null
  // when the space cannot make the root object.
  Core::GameObject* Instantiate(Core::GameSpace& space) const;
  // Every record below this one.
  unsigned DescendantCount() const;
  bool IsEmpty() const;

  // The read hook of the "Archetype" type: `value` holds a game object, which receives an "Archetype"
  // block (with its children) or a plain "GameObject" block. False (logged) when the file holds neither.
  static bool Deserialize(Base::File& file, const Base::Reflection::Variant& value);
  // The write hook: `value` holds an Archetype. The caller has indented the first line.
  static void Serialize(Base::File& file, const Base::Reflection::Variant& value);

  // Fields in this order.
  std::string m_name;
  std::string m_archetype;
  Core::DetachedComponent m_components[Core::ComponentType_Count];  // slot 18 stays empty
  std::vector<Core::DetachedComponent> m_luaComponents;
  std::vector<std::unique_ptr<ArchetypeData>> m_children;

 protected:
  // Fills this (cleared) record from the object and its subtree.
  void Fill(const Core::GameObject& object);
  void Clear();
  void CopyContent(const Archetype& other);
};

// A child record: the same content, written as an "ArchetypeData" block inside its parent's "Children".
class Archetype::ArchetypeData : public Archetype {
 public:
  // Fills a fresh record from the object and its subtree; translations are kept.
  void SetFromObject(const Core::GameObject& object);

  // The read hook of the "ArchetypeData" type: the caller has read the type name; `value` holds the
  // child object. False (logged) when the variant is not of that type.
  static bool Deserialize(Base::File& file, const Base::Reflection::Variant& value);
  static void Serialize(Base::File& file, const Base::Reflection::Variant& value);
};
