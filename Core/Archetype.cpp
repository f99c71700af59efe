// Archetype records: filling them from object trees, making object trees from them, deep copies, and
// the archetype block of ".arche" files.
#include "Core/Archetype.h"

#include <utility>

#include "Base/Reflection/Registration.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Log.h"
#include "Core/ObjectText.h"
#include "Core/Transform.h"

namespace {

using Base::Reflection::TypeInfo;
using Base::Reflection::TypeOf;
using Base::Reflection::Variant;
using Core::DetachedComponent;
using Core::GameComponent;
using Core::GameObject;
using Core::GameSpace;

// What a script component keeps in an archetype: its script's name and how the script restores it.
constexpr const char* kScriptStateMembers[] = {"m_compType", "m_loadFunction"};

void CopyScriptState(GameComponent& to, const GameComponent& from) {
  const TypeInfo* type = to.m_typeInfo;
  if (!type || type != from.m_typeInfo) return;
  for (const char* name : kScriptStateMembers) {
    const Base::Reflection::Member* member = type->FindMember(name);
    if (!member || !member->type || !member->type->Assign) continue;
    member->type->Assign(reinterpret_cast<char*>(&to) + member->offset,
                         reinterpret_cast<const char*>(&from) + member->offset);
  }
}

// Stored components are made by the creator of their type id and filled member by member, exactly
// as SetFromObject fills them, so that a copy equals its source.
DetachedComponent StoreCopy(const GameComponent& source) {
  const Core::ComponentCreator* creator = Core::ComponentRegistry::GetCreator(source.m_componentType);
  if (!creator) return nullptr;
  DetachedComponent copy(creator->CreateDetached());
  if (!copy) return nullptr;
  if (source.m_componentType == Core::ComponentType_LuaComponent) {
    CopyScriptState(*copy, source);
  } else if (const TypeInfo* type = Core::ComponentRegistry::GetType(source.m_componentType); type && type->Assign) {
    type->Assign(copy.get(), &source);
  }
  return copy;
}

}  // namespace

// --- Records --------------------------------------------------------------------------------------------

Archetype::Archetype() = default;
Archetype::~Archetype() = default;
Archetype::Archetype(Archetype&&) noexcept = default;
Archetype& Archetype::operator=(Archetype&&) noexcept = default;

Archetype::Archetype(const Archetype& other) { CopyContent(other); }

Archetype& Archetype::operator=(const Archetype& other) {
  if (&other == this) return *this;
  // Built aside first: `other` may be one of this record's own descendants.
  Archetype copy(other);
  *this = std::move(copy);
  return *this;
}

void Archetype::CopyContent(const Archetype& other) {
  m_name = other.m_name;
  m_archetype = other.m_archetype;
  for (uint32_t type = 0; type < Core::ComponentType_Count; ++type)
    m_components[type] = other.m_components[type] ? StoreCopy(*other.m_components[type]) : nullptr;
  m_luaComponents.clear();
  for (const DetachedComponent& script : other.m_luaComponents)
    if (script)
      if (DetachedComponent copy = StoreCopy(*script)) m_luaComponents.push_back(std::move(copy));
  m_children.clear();
  for (const std::unique_ptr<ArchetypeData>& child : other.m_children)
    if (child) m_children.push_back(std::make_unique<ArchetypeData>(*child));
}

void Archetype::Clear() {
  m_name.clear();
  m_archetype.clear();
  for (DetachedComponent& component : m_components) component.reset();
  m_luaComponents.clear();
  m_children.clear();
}

bool Archetype::IsEmpty() const {
  for (const DetachedComponent& component : m_components)
    if (component) return false;
  return m_name.empty() && m_archetype.empty() && m_luaComponents.empty() && m_children.empty();
}

void Archetype::Fill(const GameObject& object) {
  m_name = object.m_name;
  m_archetype = object.m_archetype;
  for (uint32_t type = 0; type < Core::ComponentType_LuaComponent; ++type)
    if (const GameComponent* component = object.GetComponent(int(type))) m_components[type] = StoreCopy(*component);
  for (uint32_t i = 0; i < object.LuaComponentCount(); ++i) {
    GameComponent* script = object.GetLuaComponent(i);
    if (!script) continue;
    // The script keeps its state on its own side until asked to put it into the members.
    script->RefreshState();
    if (DetachedComponent copy = StoreCopy(*script)) m_luaComponents.push_back(std::move(copy));
  }
  for (const GameObject* child : object.ChildObjectList()) {
    if (!child) continue;
    auto record = std::make_unique<ArchetypeData>();
    record->SetFromObject(*child);
    m_children.push_back(std::move(record));
  }
}

void Archetype::SetFromObject(const GameObject& object) {
  Clear();
  Fill(object);
  if (GameComponent* stored = m_components[Core::ComponentType_Transform].get();
      stored && stored->m_typeInfo == TypeOf<Core::Transform>())
    static_cast<Core::Transform*>(stored)->SetLocalTranslation({0.0f, 0.0f, 0.0f});
}

void Archetype::ArchetypeData::SetFromObject(const GameObject& object) {
  Clear();
  Fill(object);
}

GameObject* Archetype::Instantiate(GameSpace& space) const {
  GameObject* object = space.CreateObject();
  if (!object) return nullptr;
  object->m_name = m_name;
  object->m_archetype = m_archetype;
  for (uint32_t type = 0; type < Core::ComponentType_LuaComponent; ++type) {
    const GameComponent* stored = m_components[type].get();
    if (!stored) continue;
    GameComponent* component = space.CreateComponent(type);
    if (!component) continue;
    object->AttachComponent(component);
    if (const TypeInfo* record = Core::ComponentRegistry::GetType(type); record && record->Assign)
      record->Assign(component, stored);
  }
  for (const DetachedComponent& stored : m_luaComponents) {
    GameComponent* script = space.CreateComponent(Core::ComponentType_LuaComponent);
    if (!script) continue;
    CopyScriptState(*script, *stored);
    object->AttachComponent(script);
  }
  for (const std::unique_ptr<ArchetypeData>& record : m_children) {
    GameObject* child = record->Instantiate(space);
    if (!child) continue;
    // Linked directly: the tree is initialised as a whole later, so nothing listens yet.
    child->m_parent = object->GetSelf();
    object->m_children.push_back(child->GetSelf());
  }
  return object;
}

unsigned Archetype::DescendantCount() const {
  unsigned count = unsigned(m_children.size());
  for (const std::unique_ptr<ArchetypeData>& child : m_children) count += child->DescendantCount();
  return count;
}

// --- Text form ------------------------------------------------------------------------------------------
// The archetype block's format lives with the rest of the object text (Core/ObjectText.cpp).

namespace {

void WriteRecord(Base::File& file, const Variant& value, const TypeInfo* type) {
  if (!value.data) return;
  Base::Serializer fresh;
  Base::Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  Core::ObjectText::WriteArchetype(file, serializer, *static_cast<const Archetype*>(value.data), type->name.c_str());
}

}  // namespace

void Archetype::Serialize(Base::File& file, const Variant& value) { WriteRecord(file, value, TypeOf<Archetype>()); }

void Archetype::ArchetypeData::Serialize(Base::File& file, const Variant& value) {
  WriteRecord(file, value, TypeOf<ArchetypeData>());
}

bool Archetype::Deserialize(Base::File& file, const Variant& value) {
  GameObject* object = static_cast<GameObject*>(value.data);
  return object && Core::ObjectText::ReadArchetype(file, *object);
}

bool Archetype::ArchetypeData::Deserialize(Base::File& file, const Variant& value) {
  if (value.type != TypeOf<ArchetypeData>()) {
    CORE_LOG(Error, "Attempted to deserialize invalid archetype data file: %s", file.GetPath().c_str());
    return false;
  }
  GameObject* object = static_cast<GameObject*>(value.data);
  return object && Core::ObjectText::ReadArchetypeData(file, *object);
}

// The empty archetype of the factory is a plain default record; both types read into game objects.
ORV_REFLECT_TYPE(Archetype, false) {
  type->SetSerializeFunction(&Archetype::Serialize);
  type->SetDeserializeFunction([](Base::File& file, const Variant& value) { Archetype::Deserialize(file, value); });
  ORV_FIELD(m_name);
  ORV_FIELD(m_archetype);
}

ORV_REFLECT_TYPE(Archetype::ArchetypeData, false) {
  type->SetSerializeFunction(&Archetype::ArchetypeData::Serialize);
  type->SetDeserializeFunction(
      [](Base::File& file, const Variant& value) { Archetype::ArchetypeData::Deserialize(file, value); });
  ORV_FIELD(m_name);
  ORV_FIELD(m_archetype);
}
