// The object text of space, object and archetype files, read in one pass and written in the same form.
#include "Core/ObjectText.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "Base/Reflection/Registration.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/Archetype.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Log.h"
#include "Core/SpaceComponent.h"

namespace Core::ObjectText {
namespace {

using Base::File;
using Base::Serializer;
using Base::Reflection::Member;
using Base::Reflection::TypeInfo;
using Base::Reflection::TypeOf;
using Base::Reflection::Variant;

constexpr std::string_view kSpaceComponentsLine = "SpaceComponents";
constexpr std::string_view kChildrenLine = "Children";

// A name that must outlive the next read (views point into the file's window or the walker's buffer).
struct SavedName {
  explicit SavedName(std::string_view name) : size(std::min(name.size(), sizeof(text) - 1)) {
    std::memcpy(text, name.data(), size);
    text[size] = '\0';
  }
  const char* c_str() const { return text; }
  size_t size;
  char text[Serializer::kLongestToken + 1];
};

// A whole line of decimal digits that fits an int32 and is not negative.
bool ParseCount(const std::string& line, int32_t& count) {
  const char* begin = line.data();
  const char* end = begin + line.size();
  const auto [stop, error] = std::from_chars(begin, end, count);
  return !line.empty() && error == std::errc() && stop == end && count >= 0;
}

// How a block that is neither a member nor a component is answered: a word that opens no block is
// stray text, reported once per run of such words by the caller's own message.
using StrayReport = void (*)(File& file, const char* word);

void ReportStrayInObject(File& file, const char* word) {
  CORE_LOG(Warning, "Skipped unexpected text at \"%s\" in file: %s", word, file.GetPath().c_str());
}

void ReportStrayInArchetype(File& file, const char* word) {
  CORE_LOG(Warning, "Skipped unexpected text at \"%s\" in archetype file: %s", word, file.GetPath().c_str());
}

// The record a component block name stands for, looked up once: the creator's record when the name is
// its own, else the registry's (a type that is known but has no creator in this build). Null for names
// that are no component type or no registered type.
TypeInfo* ComponentBlockType(std::string_view name, uint32_t& id) {
  id = ComponentTypeFromName(name);
  if (id >= ComponentType_Count) return nullptr;
  TypeInfo* type = ComponentRegistry::GetType(id);
  if (!type || type->name != name) type = Base::Reflection::TypeRegistry::GetInstance().FindType(name);
  return type;
}

// Reads a block into a value made only for it and thrown away, so that the blocks after it line up.
void ReadIntoScratch(File& file, Serializer& serializer, TypeInfo* type) {
  if (!type->New || !type->Delete) {
    serializer.SkipBlock(file);
    return;
  }
  void* scratch = type->New();
  if (!scratch) {
    serializer.SkipBlock(file);
    return;
  }
  serializer.DeserializeBody(file, Variant(type, scratch), type);
  type->Delete(scratch);
}

// The block of a component whose name has been read: a new component of the space, or null (logged
// by the space) when none can be made; its block is then read into a scratch value.
GameComponent* ReadComponentBlock(File& file, Serializer& serializer, GameSpace& space, uint32_t id, TypeInfo* type) {
  GameComponent* component = space.CreateComponent(id);
  if (!component) {
    ReadIntoScratch(file, serializer, type);
    return nullptr;
  }
  serializer.DeserializeBody(file, Variant(component->m_typeInfo, component), type);
  return component;
}

// A name inside an object or archetype block that is no member: a component block (read and attached),
// a block of a type this build does not have (passed over with a warning), or a stray word (false).
bool ReadBlockItem(File& file, Serializer& serializer, GameObject& object, std::string_view name) {
  GameSpace* space = object.GetSpace();
  uint32_t id;
  if (TypeInfo* type = ComponentBlockType(name, id); type && space) {
    if (GameComponent* component = ReadComponentBlock(file, serializer, *space, id, type)) {
      component->m_owner = object.GetSelf();
      object.AttachComponent(component);
    }
    return true;
  }
  const SavedName saved(name);
  // A component of a kind this build does not have must not cost the rest of the object.
  if (serializer.SkipBlock(file)) {
    CORE_LOG(Warning, "Skipped a block of unknown component type \"%s\" in file: %s", saved.c_str(),
             file.GetPath().c_str());
    return true;
  }
  return false;
}

// What a block reader makes of a name that is no member: not its own, read, or read and the block closed
// with it (archetype children end their record).
enum class Special { NotMine, Read, Closed };

// The items of an object or archetype block up to its closing "}": the object's members (tried in
// declared order), component blocks, and the names `special` reads itself.
template <class SpecialNames>
void ReadItems(File& file, Serializer& serializer, GameObject& object, int32_t outer, StrayReport stray,
               SpecialNames&& special) {
  const TypeInfo* objectType = TypeOf<GameObject>();
  char* self = reinterpret_cast<char*>(&object);
  size_t nextMember = 0;
  bool inStray = false;
  std::string_view name;
  while (serializer.ReadName(file, outer, name)) {
    if (serializer.GetDepth() == outer) {
      // The block never opened: this name belongs to whatever follows it.
      serializer.PutBack(name);
      return;
    }
    if (const Member* member = Serializer::FindMember(objectType->members, name, nextMember)) {
      inStray = false;
      if (member->type) member->type->Deserialize(file, Variant(member->type, self + member->offset));
      continue;
    }
    if (const Special answer = special(name); answer != Special::NotMine) {
      if (answer == Special::Closed) return;
      inStray = false;
      continue;
    }
    const SavedName word(name);
    if (ReadBlockItem(file, serializer, object, name)) {
      inStray = false;
      continue;
    }
    // A member line an object does not keep: its words go one by one, reported once.
    if (!inStray) stray(file, word.c_str());
    inStray = true;
  }
}

// --- Space files --------------------------------------------------------------------------------------

// The "SpaceComponents" block after its name: each block into the space's own component of its type.
// False when the input ends inside the block.
bool ReadSpaceComponents(File& file, Serializer& serializer, GameSpace& space) {
  const int32_t outer = serializer.GetDepth();
  std::string_view token;
  const Serializer::TokenKind kind = serializer.NextToken(file, token);
  if (kind != Serializer::Token_Open) {
    // A "SpaceComponents" line without its block: what follows is the objects'.
    if (kind != Serializer::Token_End) serializer.PutBack(token);
    serializer.SetDepth(outer);
    return true;
  }
  while (ReadSpaceComponent(file, serializer, space, outer)) {
  }
  // Stopped on a stray name or at the end: the rest of the block is passed over, up to its "}" if it has one.
  while (serializer.GetDepth() > outer) {
    if (serializer.NextToken(file, token) == Serializer::Token_End) {
      serializer.SetDepth(outer);
      return false;
    }
  }
  return true;
}

// A file cut short builds half a space: the objects after the cut and the rest of the one it falls in are
// missing. It is said once, so that whoever loads the space knows it is not whole.
void ReportCutShort(File& file, const std::string& what) {
  CORE_LOG(Error, "Space file cut short: %s %s.", file.GetPath().c_str(), what.c_str());
}

void FinishSpace(GameSpace& space) {
  space.InitializeObjects();
  if (SpaceComponent* component = space.GetSpaceComponent()) component->Initialize();
  if (Hooks* engine = GetEngineHooks()) engine->Call("Initialized", &space);
}

// "12:GameObject" into 12 and "GameObject"; false when the header has no colon.
bool SplitHeader(std::string_view header, std::string_view& index, std::string_view& typeName) {
  const size_t colon = header.find(':');
  if (colon == std::string_view::npos) return false;
  index = header.substr(0, colon);
  typeName = header.substr(colon + 1);
  return true;
}

// The object blocks, then the space finished; false (reported) when the file ends inside a block or
// before every object its count line gives.
bool ReadObjectsWith(File& file, Serializer& serializer, GameSpace& space, SpaceLoadContext& context) {
  const std::string& objectName = TypeOf<GameObject>()->name;
  std::string_view token;
  size_t objectsRead = 0;
  bool endsInside = false;
  for (;;) {
    serializer.SetDepth(0);
    const Serializer::TokenKind kind = serializer.NextToken(file, token);
    if (kind == Serializer::Token_End) break;
    if (kind != Serializer::Token_Name) continue;
    std::string_view typeName = token;
    std::string_view indexText;
    if (!context.noCount && !SplitHeader(token, indexText, typeName)) continue;
    if (typeName != objectName) continue;

    GameObject* object = nullptr;
    if (context.noCount) {
      object = space.CreateObject();
      if (!object) continue;
      context.objects.push_back(object->GetSelf());
    } else {
      int32_t index = -1;
      const char* end = indexText.data() + indexText.size();
      const auto [stop, error] = std::from_chars(indexText.data(), end, index);
      if (error != std::errc() || stop != end || indexText.empty()) {
        CORE_LOG(Error, "Invalid object header \"%s\" in space file: %s", SavedName(token).c_str(),
                 file.GetPath().c_str());
        continue;
      }
      if (index < 0 || size_t(index) >= context.objects.size() || !(object = space.GetGameObject(context.objects[index]))) {
        CORE_LOG(Error, "Object header \"%s\" names no object of the space in file: %s", SavedName(token).c_str(),
                 file.GetPath().c_str());
        continue;
      }
    }
    ReadObjectBody(file, serializer, *object);
    ++objectsRead;
    // A block closes on its "}" or, never opened, hands its next name back: anything else is the end.
    if (!serializer.StoppedAtDepth() && !serializer.HasPutBack() && !file.IsGood()) {
      endsInside = true;
      break;
    }
  }
  FinishSpace(space);
  if (endsInside) {
    ReportCutShort(file, "ends inside an object block, after " + std::to_string(objectsRead - 1) + " whole objects");
    return false;
  }
  if (!context.noCount && objectsRead < context.objects.size()) {
    ReportCutShort(file, "holds " + std::to_string(objectsRead) + " of the " + std::to_string(context.objects.size()) +
                             " objects its count line gives");
    return false;
  }
  return true;
}

}  // namespace

std::string ReadLine(File& file) {
  std::string line;
  file.ReadUntil('\n', line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool ReadSpace(File& file, GameSpace& space) {
  SpaceLoadContext context;
  SpaceLoadContext::Scope attach(context);
  context.space = &space;
  Serializer serializer(&context);
  Base::SerializerScope scope(file, serializer);

  const std::string countLine = ReadLine(file);
  int32_t count = 0;
  bool whole = true;
  if (countLine == TypeOf<GameObject>()->name) {
    // No count: the line was the first object's header, and every object block makes its own object.
    context.noCount = true;
    serializer.PutBack(countLine);
  } else if (countLine == kSpaceComponentsLine) {
    context.noCount = true;
    whole = ReadSpaceComponents(file, serializer, space);
  } else if (ParseCount(countLine, count) && uint32_t(count) <= GameSpace::kMaxObjects) {
    space.CreateObjects(uint32_t(count), context.objects);
    std::string_view token;
    if (serializer.NextToken(file, token) == Serializer::Token_Name) {
      if (token == kSpaceComponentsLine)
        whole = ReadSpaceComponents(file, serializer, space);
      else
        serializer.PutBack(token);
    }
  } else if (!countLine.empty() || file.IsGood()) {
    // Nothing of the file is read (a count beyond the space's capacity would only reserve memory); the
    // space stays, as the engine owns it, and is finished as an empty one.
    CORE_LOG(Error, "Invalid object count \"%s\" in space file: %s", countLine.c_str(), file.GetPath().c_str());
    FinishSpace(space);
    return false;
  }
  if (!whole) {
    FinishSpace(space);
    ReportCutShort(file, "ends inside its SpaceComponents block");
    return false;
  }
  return ReadObjectsWith(file, serializer, space, context);
}

void ReadObjects(File& file, GameSpace& space, SpaceLoadContext& context) {
  SpaceLoadContext::Scope attach(context);
  context.space = &space;
  Serializer serializer(&context);
  Base::SerializerScope scope(file, serializer);
  ReadObjectsWith(file, serializer, space, context);
}

void WriteSpace(File& file, GameSpace& space, SpaceLoadContext& context) {
  SpaceLoadContext::Scope attach(context);
  context.space = &space;
  const std::vector<GameObject*> objects = space.GetObjects();
  for (GameObject* object : objects) {
    object->m_guid = uint32_t(context.objects.size());
    context.objects.push_back(object->GetSelf());
  }

  Serializer serializer(&context);
  Base::SerializerScope scope(file, serializer);
  file.Write("%s\r\n", space.GetName().c_str());
  if (!context.headersWithoutIndex) file.Write("%i\r\n", int(context.objects.size()));
  file.WriteText("SpaceComponents\r\n");
  const int32_t depth = serializer.GetDepth();
  Serializer::WriteIndent(file, depth);
  file.WriteText("{\r\n");
  if (SpaceComponent* component = space.GetSpaceComponent()) {
    serializer.SetDepth(depth + 1);
    Serializer::WriteIndent(file, depth + 1);
    serializer.SerializeInstance(file, Variant(component->m_typeInfo, dynamic_cast<void*>(component)));
    serializer.SetDepth(depth);
  }
  Serializer::WriteIndent(file, depth);
  file.WriteText("}\r\n");

  for (GameObject* object : objects)
    if (context.writeAllObjects || (context.writeObjectsWithoutArchetype && object->m_archetype.empty()))
      WriteObject(file, serializer, *object);
}

// --- Object and component blocks ----------------------------------------------------------------------

bool ReadObject(File& file, Serializer& serializer, GameObject& object) {
  Base::SerializerScope attach(file, serializer);
  const int32_t depth = serializer.GetDepth();
  if (serializer.ReadType(file, depth - 1) != TypeOf<GameObject>()) {
    CORE_LOG(Error, "Attempted to deserialize invalid object file: %s", file.GetPath().c_str());
    serializer.SetDepth(depth);
    return false;
  }
  ReadObjectBody(file, serializer, object);
  return true;
}

void ReadObjectBody(File& file, Serializer& serializer, GameObject& object) {
  Base::SerializerScope attach(file, serializer);
  ReadItems(file, serializer, object, serializer.GetDepth(), &ReportStrayInObject,
            [](std::string_view) { return Special::NotMine; });
}

void WriteObject(File& file, Serializer& serializer, const GameObject& object) {
  Base::SerializerScope attach(file, serializer);
  const TypeInfo* record = TypeOf<GameObject>();
  const int32_t depth = serializer.GetDepth();
  const SpaceLoadContext* context = SpaceLoadContext::Current();

  Serializer::WriteIndent(file, depth);
  if (context && context->headersWithoutIndex)
    file.Write("%s\r\n", record->name.c_str());
  else
    file.Write("%d:%s\r\n", int(object.m_guid), record->name.c_str());
  Serializer::WriteIndent(file, depth);
  file.WriteText("{\r\n");

  serializer.SetDepth(depth + 1);
  char* self = reinterpret_cast<char*>(const_cast<GameObject*>(&object));
  for (const Member& member : record->members) {
    if (!member.type || !member.name) continue;
    Serializer::WriteIndent(file, depth + 1);
    file.WriteText(member.name);
    file.WriteText(" ");
    member.type->Serialize(file, Variant(member.type, self + member.offset));
  }
  auto writeComponent = [&](GameComponent* component) {
    if (!component || !component->m_typeInfo) return;
    Serializer::WriteIndent(file, depth + 1);
    serializer.SetDepth(depth + 1);
    component->m_typeInfo->Serialize(file, Variant(component->m_typeInfo, component));
  };
  for (uint32_t type = 0; type < ComponentType_LuaComponent; ++type) writeComponent(object.GetComponent(int(type)));
  for (uint32_t i = 0; i < object.LuaComponentCount(); ++i) writeComponent(object.GetLuaComponent(i));

  serializer.SetDepth(depth);
  Serializer::WriteIndent(file, depth);
  file.WriteText("}\r\n");
}

GameComponent* ReadComponent(File& file, Serializer& serializer, GameSpace& space, int32_t stopDepth) {
  std::string_view name;
  while (serializer.ReadName(file, stopDepth, name)) {
    uint32_t id;
    if (TypeInfo* type = ComponentBlockType(name, id)) {
      if (GameComponent* component = ReadComponentBlock(file, serializer, space, id, type)) return component;
      continue;  // not made (logged); its block was passed over
    }
    const SavedName saved(name);
    if (!serializer.SkipBlock(file)) return nullptr;
    CORE_LOG(Warning, "Skipped a block of unknown component type \"%s\" in file: %s", saved.c_str(),
             file.GetPath().c_str());
  }
  return nullptr;
}

SpaceComponent* ReadSpaceComponent(File& file, Serializer& serializer, GameSpace& space, int32_t stopDepth) {
  const Base::Enum& names = SpaceComponentTypeEnum();
  std::string_view name;
  while (serializer.ReadName(file, stopDepth, name)) {
    const SavedName saved(name);
    const int32_t id = names.HasValue(name) ? names.GetValue(name) : -1;
    TypeInfo* type = Base::Reflection::TypeRegistry::GetInstance().FindType(name);
    if (id < 0 || uint32_t(id) >= GameSpace::kSpaceComponentTypes || !type) {
      if (!serializer.SkipBlock(file)) return nullptr;
      CORE_LOG(Warning, "Skipped a block of unknown space component type \"%s\" in file: %s", saved.c_str(),
               file.GetPath().c_str());
      continue;
    }
    if (SpaceComponent* component = space.GetSpaceComponent(uint32_t(id))) {
      serializer.DeserializeBody(file, Variant(component->m_typeInfo, dynamic_cast<void*>(component)), type);
      return component;
    }
    CORE_LOG(Warning, "Space \"%s\" has no %s space component to read into", space.GetName().c_str(), saved.c_str());
    ReadIntoScratch(file, serializer, type);
  }
  return nullptr;
}

// --- Archetype blocks ---------------------------------------------------------------------------------

namespace {

bool ReadRecordBody(File& file, Serializer& serializer, GameObject& object);

// Passes over one child record whose object could not be made, so that its siblings still line up.
void SkipRecord(File& file, Serializer& serializer) {
  const int32_t depth = serializer.GetDepth();
  std::string_view token;
  for (Serializer::TokenKind kind; (kind = serializer.NextToken(file, token)) != Serializer::Token_End;) {
    if (kind == Serializer::Token_Open) break;
  }
  serializer.SkipToDepth(file, depth);
}

// "Children" has been read, inside a record's block at depth outer + 1.
void ReadChildren(File& file, Serializer& serializer, GameObject& object, int32_t outer) {
  GameSpace* space = object.GetSpace();
  std::string_view token;
  if (serializer.NextToken(file, token) != Serializer::Token_Open) {
    ReportStrayInArchetype(file, kChildrenLine.data());
    serializer.SkipToDepth(file, outer);
    return;
  }
  const TypeInfo* childType = TypeOf<Archetype::ArchetypeData>();
  std::string_view name;
  while (serializer.ReadName(file, outer + 1, name)) {
    if (name != childType->name) {
      ReportStrayInArchetype(file, SavedName(name).c_str());
      serializer.SkipToDepth(file, outer + 1);
      break;
    }
    GameObject* child = space->CreateObject();
    if (!child) {
      // The space is full (logged).
      SkipRecord(file, serializer);
      continue;
    }
    const bool read = ReadRecordBody(file, serializer, *child);
    serializer.SetDepth(outer + 2);
    if (read) {
      child->SetParent(&object);
    } else {
      ReportStrayInArchetype(file, childType->name.c_str());
      space->DestroyObject(child);
    }
  }
  if (!serializer.SkipToDepth(file, outer)) ReportStrayInArchetype(file, object.GetName());
}

// The body of an archetype record after its type name: the descendant count (not needed), "{", the
// members, the component blocks, "Children" with the child records, and the closing "}". False when the
// block does not open as a record's does.
bool ReadRecordBody(File& file, Serializer& serializer, GameObject& object) {
  const int32_t outer = serializer.GetDepth();
  std::string_view token;
  Serializer::TokenKind kind = serializer.NextToken(file, token);
  if (kind == Serializer::Token_Name) kind = serializer.NextToken(file, token);
  if (kind != Serializer::Token_Open) {
    serializer.SetDepth(outer);
    return false;
  }
  if (!object.GetSpace()) {
    serializer.SkipToDepth(file, outer);
    return true;
  }
  // The children come last: reading them closes the record's block.
  ReadItems(file, serializer, object, outer, &ReportStrayInArchetype, [&](std::string_view name) {
    if (name != kChildrenLine) return Special::NotMine;
    ReadChildren(file, serializer, object, outer);
    return Special::Closed;
  });
  return true;
}

void InvalidArchetypeFile(File& file) {
  CORE_LOG(Error, "Attempted to deserialize invalid archetype file: %s", file.GetPath().c_str());
}

// The serializer already at work on the file, or a fresh one.
template <class Read>
bool WithSerializer(File& file, Read&& read) {
  Serializer fresh;
  Serializer& serializer = file.GetSerializer() ? *file.GetSerializer() : fresh;
  Base::SerializerScope attach(file, serializer);
  return read(serializer);
}

}  // namespace

bool ReadArchetype(File& file, GameObject& object) {
  return WithSerializer(file, [&](Serializer& serializer) {
    // An archetype's handles mean nothing in a space file being read meanwhile (a script may load one
    // while a space initialises): its reads see a context of their own.
    SpaceLoadContext isolated;
    isolated.space = object.GetSpace();
    SpaceLoadContext::Scope scope(isolated);

    const int32_t depth = serializer.GetDepth();
    const TypeInfo* type = serializer.ReadType(file, depth - 1);
    if (type && type == TypeOf<GameObject>()) {
      ReadObjectBody(file, serializer, object);
      return true;
    }
    if (!type || type != TypeOf<Archetype>() || !ReadRecordBody(file, serializer, object)) {
      InvalidArchetypeFile(file);
      return false;
    }
    return true;
  });
}

bool ReadArchetypeData(File& file, GameObject& object) {
  return WithSerializer(file, [&](Serializer& serializer) {
    if (ReadRecordBody(file, serializer, object)) return true;
    // The parent's read of its children picks up again at the next child or the end of the block.
    ReportStrayInArchetype(file, TypeOf<Archetype::ArchetypeData>()->name.c_str());
    return false;
  });
}

void WriteArchetype(File& file, Serializer& serializer, const Archetype& record, const char* typeName) {
  const int32_t depth = serializer.GetDepth();
  file.WriteText(typeName);
  file.WriteText("\r\n");
  Serializer::WriteIndent(file, depth);
  file.Write("%u\r\n", record.DescendantCount());
  Serializer::WriteIndent(file, depth);
  file.WriteText("{\r\n");

  serializer.SetDepth(depth + 1);
  const char* self = reinterpret_cast<const char*>(&record);
  for (const Member& member : TypeOf<Archetype>()->members) {
    if (!member.type || !member.name) continue;
    Serializer::WriteIndent(file, depth + 1);
    file.WriteText(member.name);
    file.WriteText(" ");
    member.type->Serialize(file, Variant(member.type, const_cast<char*>(self) + member.offset));
  }
  auto writeComponent = [&](const GameComponent* component) {
    if (!component || !component->m_typeInfo) return;
    Serializer::WriteIndent(file, depth + 1);
    serializer.SetDepth(depth + 1);
    serializer.SerializeInstance(file, Variant(component->m_typeInfo, const_cast<GameComponent*>(component)));
  };
  for (const DetachedComponent& component : record.m_components) writeComponent(component.get());
  for (const DetachedComponent& script : record.m_luaComponents) writeComponent(script.get());

  Serializer::WriteIndent(file, depth + 1);
  file.WriteText("Children\r\n");
  Serializer::WriteIndent(file, depth + 1);
  file.WriteText("{\r\n");
  const char* childName = TypeOf<Archetype::ArchetypeData>()->name.c_str();
  for (const std::unique_ptr<Archetype::ArchetypeData>& child : record.m_children) {
    Serializer::WriteIndent(file, depth + 2);
    serializer.SetDepth(depth + 2);
    WriteArchetype(file, serializer, *child, childName);
  }
  serializer.SetDepth(depth);
  Serializer::WriteIndent(file, depth + 1);
  file.WriteText("}\r\n");
  Serializer::WriteIndent(file, depth);
  file.WriteText("}\r\n");
}

// --- Handles --------------------------------------------------------------------------------------------

void WriteHandle(File& file, Base::Handle handle) {
  int index = -1;
  if (const SpaceLoadContext* context = SpaceLoadContext::Current(); context && context->space)
    if (const GameObject* object = context->space->GetGameObject(handle)) index = int(object->m_guid);
  file.Write("%s %d\r\n", TypeOf<Base::Handle>()->name.c_str(), index);
}

Base::Handle ReadHandle(File& file) {
  // The type name goes by on a walk of its own, as every value's does.
  Serializer own;
  std::string_view typeName;
  int32_t index = -1;
  if (!own.ReadName(file, 0, typeName) || file.ScanValue(index) != 1) return Base::kNullHandle;
  const SpaceLoadContext* context = SpaceLoadContext::Current();
  if (!context || index < 0 || size_t(index) >= context->objects.size()) return Base::kNullHandle;
  return context->objects[size_t(index)];
}

}  // namespace Core::ObjectText

namespace Core {
// The names the rest of the engine knows the handle text by.
void WriteHandleText(Base::File& file, Base::Handle handle) { ObjectText::WriteHandle(file, handle); }
Base::Handle ReadHandleText(Base::File& file) { return ObjectText::ReadHandle(file); }
}  // namespace Core
