// The object text in one place: space files after their name line, object blocks, component blocks,
// archetype blocks and handles written as object indices, in both directions. Reading is one pass over
// the tokens through the serializer's walker: nothing is read twice and no position is gone back to.
#pragma once

#include <cstdint>
#include <string>

#include "Base/Handle.h"
#include "Base/Reflection/Variant.h"

namespace Base {
class File;
class Serializer;
}  // namespace Base

class Archetype;

namespace Core {

class GameComponent;
class GameObject;
class GameSpace;
class SpaceComponent;
struct SpaceLoadContext;

namespace ObjectText {

// --- Space files ------------------------------------------------------------------------------------------
// One line of a level or space file without its line end ("\r\n" or "\n").
std::string ReadLine(Base::File& file);
// Everything after the name line: the count line (or a file without one), the "SpaceComponents" block and
// the object blocks; then the objects are linked and initialised (ReadObjects). A count that is no
// number, or more objects than a space holds, is reported ("Invalid object count") and the space is
// finished without objects. A file that ends inside a block, or before every object its count line gives,
// is reported ("Space file cut short") and the space is finished with what was read. True when the text
// was read whole.
bool ReadSpace(Base::File& file, GameSpace& space);
// The object blocks up to the end of the file, into the context's objects by header index (or one new
// object per "GameObject" header without a count); then links and initialises the objects, initialises
// the space component and fires the engine hook "Initialized".
void ReadObjects(Base::File& file, GameSpace& space, SpaceLoadContext& context);
// Name line, count line, "SpaceComponents" block and the object blocks; numbers the objects into the
// context (an object's m_guid becomes its index in the file).
void WriteSpace(Base::File& file, GameSpace& space, SpaceLoadContext& context);

// --- Object and component blocks --------------------------------------------------------------------------
// An object block from its header on; false (logged) when the header names no game object.
bool ReadObject(Base::File& file, Base::Serializer& serializer, GameObject& object);
// The rest of an object block after its header: members and component blocks, attached to the object.
void ReadObjectBody(Base::File& file, Base::Serializer& serializer, GameObject& object);
void WriteObject(Base::File& file, Base::Serializer& serializer, const GameObject& object);
// The next component block into a new component of the space (the caller attaches it). Blocks of
// unknown component types are passed over with a warning. Null when a "}" brings the depth to
// stopDepth, at the end of input, or on a name that opens no component block (the name is consumed).
GameComponent* ReadComponent(Base::File& file, Base::Serializer& serializer, GameSpace& space, int32_t stopDepth);
// The next space-component block into the space's own space component of that type; null as above.
SpaceComponent* ReadSpaceComponent(Base::File& file, Base::Serializer& serializer, GameSpace& space,
                                   int32_t stopDepth);

// --- Archetype blocks -------------------------------------------------------------------------------------
// An ".arche" file's block ("Archetype" with its children, or a plain "GameObject" block) into an
// object; false (logged) when the file holds neither.
bool ReadArchetype(Base::File& file, GameObject& object);
// A child record's block after its "ArchetypeData" name into an object; false when it does not open as
// a record does.
bool ReadArchetypeData(Base::File& file, GameObject& object);
// A record's block at the serializer's depth under the given type name ("Archetype" or "ArchetypeData").
void WriteArchetype(Base::File& file, Base::Serializer& serializer, const Archetype& record, const char* typeName);

// --- Handles --------------------------------------------------------------------------------------------
// A handle as the index of its object in the space file being read or written (-1 for none).
void WriteHandle(Base::File& file, Base::Handle handle);
Base::Handle ReadHandle(Base::File& file);

}  // namespace ObjectText
}  // namespace Core
