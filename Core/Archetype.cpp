// Archetype records: filling them from object trees, making object trees from them, deep copies, and
// the archetype block of ".arche" files.
#include "Core/Archetype.h"

#include <cstring>
#include <utility>

#include "Base/Reflection/Registration.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"

namespace {

using Base::Reflection::TypeInfo;
using Base::Reflection::TypeOf;
using Base::Reflection::Variant;
using Core::DetachedComponent;
using Core::GameComponent;
using Core::GameObject;
using Core::GameSpace;

#define ORV_CORE_LOG(level, ...) Base::TraceLog::GetInstance().Print(level, Base::TraceModule_Core, __VA_ARGS__)

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

bool ReadToken(Base::File& file, char (&token)[256]) { return file.ReadToken(token, sizeof(token)); }

// Reads on until a "}" brings the depth to `target` (or the input ends); true when only braces were
// passed over on the way.
bool SkipToDepth(Base::File& file, Base::Serializer& serializer, int32_t target) {
  bool clean = true;
  char token[256];
  while (serializer.GetDepth() > target && ReadToken(file, token)) {
    if (std::strcmp(token, "{") == 0) {
      serializer.SetDepth(serializer.GetDepth() + 1);
    } else if (std::strcmp(token, "}") == 0) {
      serializer.SetDepth(serializer.GetDepth() - 1);
    } else {
      clean = false;
    }
  }
  serializer.SetDepth(target);
  return clean;
}

// `where` names the word or block at which the unexpected text began.
void ReportSkippedText(Base::File& file, const char* where) {
  ORV_CORE_LOG(Base::TraceLevel_Warning, "Skipped unexpected text at \"%s\" in archetype file: %s", where,
               file.GetPath().c_str());
}

// The body of an archetype block after its type name: the descendant count (not needed), "{", the
// members, the component blocks, "Children" with the child blocks, and the closing "}". False when the
// block does not open as an archetype block does.
bool ReadRecordBody(Base::File& file, Base::Serializer& serializer, GameObject& object) {
  const int32_t outer = serializer.GetDepth();
  char token[256];
  if (!ReadToken(file, token)) return false;
  if (std::strcmp(token, "{") != 0 && (!ReadToken(file, token) || std::strcmp(token, "{") != 0)) return false;
  serializer.SetDepth(outer + 1);

  // As many member reads as an archetype has members; a name that is no object member stays unread.
  const TypeInfo* objectType = TypeOf<GameObject>();
  char* self = reinterpret_cast<char*>(&object);
  for (size_t i = 0; i < TypeOf<Archetype>()->members.size(); ++i) {
    const long position = file.Tell();
    const Base::Reflection::Member* member = serializer.ReadMember(file, objectType->members, outer);
    if (!member || !member->type) {
      file.SeekTo(position);
      serializer.SetDepth(outer + 1);
      break;
    }
    member->type->Deserialize(file, Variant(member->type, self + member->offset));
  }

  GameSpace* space = object.GetSpace();
  if (!space) return true;
  for (;;) {
    while (GameComponent* component = space->ReadComponent(file, serializer, outer, "Children")) {
      component->m_owner = object.GetSelf();
      object.AttachComponent(component);
    }
    if (serializer.GetDepth() == outer) return true;  // the block closed without children
    if (!ReadToken(file, token)) return true;         // cut short
    if (std::strcmp(token, "Children") == 0) break;
    // A stray word (a member line an archetype does not keep) must not cost the blocks after it.
    ReportSkippedText(file, token);
  }
  if (!ReadToken(file, token) || std::strcmp(token, "{") != 0) {
    ReportSkippedText(file, "Children");
    SkipToDepth(file, serializer, outer);
    return true;
  }
  serializer.SetDepth(outer + 2);
  const TypeInfo* childType = TypeOf<Archetype::ArchetypeData>();
  for (;;) {
    const TypeInfo* type = serializer.ReadType(file, outer + 1);
    if (!type && (serializer.StoppedAtDepth() || !file.IsGood())) break;
    if (type != childType) {
      ReportSkippedText(file, type ? type->name.c_str() : "Children");
      SkipToDepth(file, serializer, outer + 1);
      break;
    }
    GameObject* child = space->CreateObject();
    if (!child) {
      // The space is full (logged): the child's block is passed over so that its siblings still line up.
      while (ReadToken(file, token) && std::strcmp(token, "{") != 0) {
      }
      serializer.SetDepth(outer + 3);
      SkipToDepth(file, serializer, outer + 2);
      continue;
    }
    const bool read = Archetype::ArchetypeData::Deserialize(file, Variant(TypeOf<Archetype::ArchetypeData>(), child));
    serializer.SetDepth(outer + 2);
    if (read)
      child->SetParent(&object);
    else
      space->DestroyObject(child);
  }
  if (!SkipToDepth(file, serializer, outer)) ReportSkippedText(file, object.GetName());
  return true;
}

void InvalidArchetypeFile(Base::File& file) {
  ORV_CORE_LOG(Base::TraceLevel_Error, "Attempted to deserialize invalid archetype file: %s", file.GetPath().c_str());
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

void Archetype::WriteBlock(Base::File& file, Base::Serializer& serializer, const char* typeName) const {
  const int32_t depth = serializer.GetDepth();
  file.WriteText(typeName);
  file.WriteText("\r\n");
  Base::Serializer::WriteIndent(file, depth);
  file.Write("%u\r\n", DescendantCount());
  Base::Serializer::WriteIndent(file, depth);
  file.WriteText("{\r\n");

  serializer.SetDepth(depth + 1);
  const char* self = reinterpret_cast<const char*>(this);
  for (const Base::Reflection::Member& member : TypeOf<Archetype>()->members) {
    if (!member.type || !member.name) continue;
    Base::Serializer::WriteIndent(file, depth + 1);
    file.WriteText(member.name);
    file.WriteText(" ");
    member.type->Serialize(file, Variant(member.type, const_cast<char*>(self) + member.offset));
  }
  auto writeComponent = [&](const GameComponent* component) {
    if (!component || !component->m_typeInfo) return;
    Base::Serializer::WriteIndent(file, depth + 1);
    serializer.SetDepth(depth + 1);
    serializer.SerializeInstance(file, Variant(component->m_typeInfo, const_cast<GameComponent*>(component)));
  };
  for (const DetachedComponent& component : m_components) writeComponent(component.get());
  for (const DetachedComponent& script : m_luaComponents) writeComponent(script.get());

  Base::Serializer::WriteIndent(file, depth + 1);
  file.WriteText("Children\r\n");
  Base::Serializer::WriteIndent(file, depth + 1);
  file.WriteText("{\r\n");
  const char* childName = TypeOf<ArchetypeData>()->name.c_str();
  for (const std::unique_ptr<ArchetypeData>& child : m_children) {
    Base::Serializer::WriteIndent(file, depth + 2);
    serializer.SetDepth(depth + 2);
    child->WriteBlock(file, serializer, childName);
  }
  serializer.SetDepth(depth);
  Base::Serializer::WriteIndent(file, depth + 1);
  file.WriteText("}\r\n");
  Base::Serializer::WriteIndent(file, depth);
  file.WriteText("}\r\n");
}

void Archetype::Serialize(Base::File& file, const Variant& value) {
  if (!value.data) return;
  Base::Serializer fresh;
  Base::Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  static_cast<const Archetype*>(value.data)->WriteBlock(file, serializer, TypeOf<Archetype>()->name.c_str());
}

void Archetype::ArchetypeData::Serialize(Base::File& file, const Variant& value) {
  if (!value.data) return;
  Base::Serializer fresh;
  Base::Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  static_cast<const ArchetypeData*>(value.data)->WriteBlock(file, serializer, TypeOf<ArchetypeData>()->name.c_str());
}

bool Archetype::Deserialize(Base::File& file, const Variant& value) {
  GameObject* object = static_cast<GameObject*>(value.data);
  if (!object) return false;
  Base::Serializer fresh;
  Base::Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  // An archetype's handles mean nothing in a space file being read meanwhile (a script may load one
  // while a space initialises): its reads see a context of their own.
  Core::SpaceLoadContext isolated;
  isolated.space = object->GetSpace();
  Core::SpaceLoadContext::Scope scope(isolated);

  const long position = file.Tell();
  const int32_t depth = serializer.GetDepth();
  const TypeInfo* type = serializer.ReadType(file, depth - 1);
  if (type && type == TypeOf<GameObject>()) {
    file.SeekTo(position);
    serializer.SetDepth(depth);
    return object->ReadText(file, serializer);
  }
  if (!type || type != TypeOf<Archetype>() || !ReadRecordBody(file, serializer, *object)) {
    InvalidArchetypeFile(file);
    return false;
  }
  return true;
}

bool Archetype::ArchetypeData::Deserialize(Base::File& file, const Variant& value) {
  if (value.type != TypeOf<ArchetypeData>()) {
    ORV_CORE_LOG(Base::TraceLevel_Error, "Attempted to deserialize invalid archetype data file: %s",
                 file.GetPath().c_str());
    return false;
  }
  GameObject* object = static_cast<GameObject*>(value.data);
  if (!object) return false;
  Base::Serializer fresh;
  Base::Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  if (!ReadRecordBody(file, serializer, *object)) {
    // The parent's read of its children resynchronises on the next child or the end of the block.
    ReportSkippedText(file, "ArchetypeData");
    return false;
  }
  return true;
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
