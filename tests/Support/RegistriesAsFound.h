// Test helper: puts the type and function registries back as it found them when it goes, and empties
// the records of the test's own types again, so that a test registering names passes when run again.
#pragma once

#include <memory>
#include <vector>

#include "Base/FunctionRegistry.h"
#include "Base/Reflection/TypeInfo.h"
#include "Base/Reflection/TypeRegistry.h"

namespace OrvTest {

class RegistriesAsFound {
 public:
  RegistriesAsFound()
      : types_(Base::Reflection::TypeRegistry::GetInstance().GetTypes()),
        functions_(Base::FunctionRegistry::GetInstance().Save()) {}
  ~RegistriesAsFound() {
    Base::Reflection::TypeRegistry::GetInstance().RestoreTypes(std::move(types_));
    Base::FunctionRegistry::GetInstance().Restore(std::move(functions_));
    // A record cannot be assigned: it is built again in place, as empty as before its first use.
    for (Base::Reflection::TypeInfo* record : records_) {
      std::destroy_at(record);
      std::construct_at(record);
    }
  }
  RegistriesAsFound(const RegistriesAsFound&) = delete;
  RegistriesAsFound& operator=(const RegistriesAsFound&) = delete;

  // T is the test's own type, unknown before it: its record is emptied again with the registries.
  template <class T>
  void Forget() {
    records_.push_back(Base::Reflection::TypeOf<T>());
  }

 private:
  Base::Reflection::TypeRegistry::Types types_;
  Base::FunctionRegistry::Saved functions_;
  std::vector<Base::Reflection::TypeInfo*> records_;
};

}  // namespace OrvTest
