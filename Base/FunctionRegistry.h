// The process-wide list of everything scripts may call: bound methods and free functions with their
// script names, categories and help texts, and the function categories published as Lua libraries.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Base/function/Function.h"

namespace Base {

class FunctionRegistry {
 public:
  struct Entry {
    Function* function;
    std::string name;         // the name scripts call it by
    std::string category;     // this-type's registered name, or a free function's library ("" for none)
    std::string description;
  };

  struct Category {
    Reflection::TypeInfo* type;
    std::string description;
    std::string name;      // library name ("core")
    std::string typeName;  // the type's registered name, trailing '*' included
    uint8_t flag;
  };

  static FunctionRegistry& GetInstance();

  FunctionRegistry(const FunctionRegistry&) = delete;
  FunctionRegistry& operator=(const FunctionRegistry&) = delete;
  ~FunctionRegistry();

  // Help texts are pushed right before the registrations that take them; each registration takes the
  // most recent one (last in, first out), or an empty text when none is pending.
  void PushDescription(const char* text);
  void RegisterMethod(Function* function, std::string_view qualifiedName, const char* luaName = nullptr);
  void RegisterFunction(Function* function, std::string_view qualifiedName, const char* luaName = nullptr);
  void RegisterCategory(Reflection::TypeInfo* type, const char* name, uint8_t flag, const char* description);

  const std::vector<Entry>& GetEntries() const { return m_entries; }
  // The entries of one category in registration order, or null when it has none.
  const std::vector<Entry>* GetCategoryEntries(std::string_view category) const;
  const std::map<std::string, std::vector<Entry>, std::less<>>& GetEntriesByCategory() const {
    return m_entriesByCategory;
  }
  const Category* FindCategory(std::string_view libraryName) const;
  // By the type's registered name without a trailing '*' ("Engine" for "Engine*").
  const Category* FindCategoryByType(std::string_view typeName) const;
  const std::vector<Category*>& GetCategories() const { return m_categories; }

  // Everything registered so far, taken by a test that puts the registry back as it found it.
  struct Saved {
    std::vector<Entry> entries;
    std::map<std::string, std::vector<Entry>, std::less<>> entriesByCategory;
    std::map<std::string, Category*, std::less<>> categoriesByTypeName;
    std::map<std::string, Category*, std::less<>> categoriesByName;
    std::vector<Category*> categories;
    std::deque<std::string> pendingDescriptions;
  };
  Saved Save() const;
  // Back to what Save() took; the categories registered since then are deleted.
  void Restore(Saved saved);

 private:
  FunctionRegistry() = default;
  std::string TakeDescription();
  bool IsDuplicate(const Entry& entry) const;
  void Append(Entry&& entry);

  std::vector<Entry> m_entries;
  std::map<std::string, std::vector<Entry>, std::less<>> m_entriesByCategory;
  std::map<std::string, Category*, std::less<>> m_categoriesByTypeName;
  std::map<std::string, Category*, std::less<>> m_categoriesByName;
  std::vector<Category*> m_categories;  // owned
  std::deque<std::string> m_pendingDescriptions;
};

// Registers a bound function with the registry and, for a method, with its class's record: the
// common tail of every Bind<Fn>. A description, when given, is pushed first so this binding takes it.
void RegisterBinding(Function& function, std::string_view qualifiedName, const char* luaName,
                     const char* description);

}  // namespace Base
