// The text writers and readers of the base value types: each writes "<type name> <value>\r\n" and
// reads the same back after the type-name token. Type records install them with SetTextFunctions.
#pragma once

#include "Base/Reflection/TypeInfo.h"
#include "Base/Serialization/File.h"

namespace Base::ValueText {

using Reflection::Variant;

// Installs both text functions on a record (a type that reads and writes itself).
void SetTextFunctions(Reflection::TypeInfo* record, Reflection::TypeInfo::TextFn writer,
                      Reflection::TypeInfo::TextFn reader);

void WriteChar(File& file, const Variant& value);  // "%c"; read back as the first non-blank character
void ReadChar(File& file, const Variant& value);
void WriteInt(File& file, const Variant& value);  // "%d"; also enumerations stored as int32
void ReadInt(File& file, const Variant& value);
void WriteUnsigned(File& file, const Variant& value);  // "%u"
void ReadUnsigned(File& file, const Variant& value);
void WriteFloat(File& file, const Variant& value);  // "%f"
void ReadFloat(File& file, const Variant& value);
void WriteDouble(File& file, const Variant& value);  // "%lf"
void ReadDouble(File& file, const Variant& value);
void WriteBool(File& file, const Variant& value);  // "true" / "false"; any other word reads as false
void ReadBool(File& file, const Variant& value);
void WriteString(File& file, const Variant& value);  // "\"text\"": no escapes, blanks and line breaks kept
void ReadString(File& file, const Variant& value);

// Braced forms "{%f, %f}" .. "{%f, %f, %f, %f}". A line naming another type logs
// "Attempted to deseralize \"%s\" from different wrong type!" and leaves the value as it was.
void WriteVec2(File& file, const Variant& value);
void ReadVec2(File& file, const Variant& value);
void WriteVec3(File& file, const Variant& value);
void ReadVec3(File& file, const Variant& value);
void WriteVec4(File& file, const Variant& value);
void ReadVec4(File& file, const Variant& value);
void WriteQuaternion(File& file, const Variant& value);  // w, x, y, z: its members r, i, j, k
void ReadQuaternion(File& file, const Variant& value);

// A handle's raw 32 bits as "%d" (the null handle is -1). Game spaces replace these with writers that
// translate handles to object indices of the file being written.
void WriteHandle(File& file, const Variant& value);
void ReadHandle(File& file, const Variant& value);

}  // namespace Base::ValueText
