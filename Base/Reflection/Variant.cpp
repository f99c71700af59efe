// Reflected variants: construction in place, text and deep equality.
#include "Base/Reflection/Variant.h"

#include "Base/Reflection/TypeInfo.h"

namespace Base::Reflection {

Variant::Variant(std::string* text) : data(text), type(TypeOf<std::string>()) {}

void Variant::PlacementNew() const {
  if (type && type->PlacementNew) type->PlacementNew(data);
}

void Variant::PlacementDelete() const {
  if (type && type->PlacementDelete) type->PlacementDelete(data);
}

void Variant::Serialize(File& file) const {
  if (type) type->Serialize(file, *this);
}

void Variant::Deserialize(File& file) const {
  if (type) type->Deserialize(file, *this);
}

bool Variant::operator==(const Variant& other) const {
  if (type != other.type) return false;
  // Without a value on one side there is nothing to compare: equal only when both are empty. A pointer
  // type's data is the pointer itself, so comparing data is its equality.
  if (!type || !data || !other.data || type->isPointer) return data == other.data;
  if (type->Equals) return type->Equals(data, other.data);
  for (const Member& member : type->members)
    if (!(member.GetVariant(data) == member.GetVariant(other.data))) return false;
  return true;
}

}  // namespace Base::Reflection
