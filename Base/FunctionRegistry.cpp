// The function registry: script names, categories, help texts and duplicate warnings.
#include "Base/FunctionRegistry.h"

#include <algorithm>

#include "Base/Log.h"
#include "Base/Reflection/TypeInfo.h"

namespace Base {
namespace {

// The Lua name when given, else what follows the last ':' of the qualified name.
std::string ScriptName(std::string_view qualifiedName, const char* luaName) {
  if (luaName) return luaName;
  const size_t colon = qualifiedName.rfind(':');
  return std::string(colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1));
}

}  // namespace

FunctionRegistry& FunctionRegistry::GetInstance() {
  static FunctionRegistry registry;
  return registry;
}

FunctionRegistry::~FunctionRegistry() {
  for (Category* category : m_categories) delete category;
}

FunctionRegistry::Saved FunctionRegistry::Save() const {
  return {m_entries, m_entriesByCategory, m_categoriesByTypeName, m_categoriesByName, m_categories,
          m_pendingDescriptions};
}

void FunctionRegistry::Restore(Saved saved) {
  for (Category* category : m_categories)
    if (std::find(saved.categories.begin(), saved.categories.end(), category) == saved.categories.end())
      delete category;
  m_entries = std::move(saved.entries);
  m_entriesByCategory = std::move(saved.entriesByCategory);
  m_categoriesByTypeName = std::move(saved.categoriesByTypeName);
  m_categoriesByName = std::move(saved.categoriesByName);
  m_categories = std::move(saved.categories);
  m_pendingDescriptions = std::move(saved.pendingDescriptions);
}

void FunctionRegistry::PushDescription(const char* text) { m_pendingDescriptions.emplace_back(text ? text : ""); }

std::string FunctionRegistry::TakeDescription() {
  if (m_pendingDescriptions.empty()) return std::string();
  std::string text = std::move(m_pendingDescriptions.back());
  m_pendingDescriptions.pop_back();
  return text;
}

void FunctionRegistry::RegisterMethod(Function* function, std::string_view qualifiedName, const char* luaName) {
  const std::string qualified(qualifiedName);
  const Reflection::TypeInfo* thisType = function->GetSignature().GetThisType();
  Entry entry{function, ScriptName(qualifiedName, luaName), thisType ? thisType->name : std::string(),
              TakeDescription()};

  BASE_LOG(Verbose, "Registered Method %s with name \"%s\" in category %s", qualified.c_str(), entry.name.c_str(),
           entry.category.c_str());
  if (!thisType) BASE_LOG(Warning, "Method %s is not actually a method!", entry.name.c_str());
  Append(std::move(entry));
}

void FunctionRegistry::RegisterFunction(Function* function, std::string_view qualifiedName,
                                        const char* luaName) {
  const std::string qualified(qualifiedName);
  const size_t colon = qualifiedName.find(':');
  // A free function takes its pending help text too, so it cannot shift texts onto later methods.
  Entry entry{function, ScriptName(qualifiedName, luaName),
              colon == std::string_view::npos ? std::string() : qualified.substr(0, colon), TakeDescription()};

  if (entry.category.empty())
    BASE_LOG(Verbose, "Registered function %s with name %s in no category", qualified.c_str(), entry.name.c_str());
  else
    BASE_LOG(Verbose, "Registered function %s with name %s in category %s", qualified.c_str(), entry.name.c_str(),
             entry.category.c_str());
  if (function->IsMethod())
    BASE_LOG(Warning, "Function %s is a member function but is being registered with the wrong function!",
             entry.name.c_str());
  Append(std::move(entry));
}

bool FunctionRegistry::IsDuplicate(const Entry& entry) const {
  auto same = [&](const Entry& other) {
    return other.category == entry.category &&
           (other.function == entry.function || other.name == entry.name ||
            other.function->GetThunk() == entry.function->GetThunk());
  };
  if (entry.category.empty()) return std::any_of(m_entries.begin(), m_entries.end(), same);
  const std::vector<Entry>* category = GetCategoryEntries(entry.category);
  return category && std::any_of(category->begin(), category->end(), same);
}

void FunctionRegistry::Append(Entry&& entry) {
  if (IsDuplicate(entry)) BASE_LOG(Warning, "Possible registration of the same function twice!");
  if (!entry.category.empty()) m_entriesByCategory[entry.category].push_back(entry);
  m_entries.push_back(std::move(entry));
}

void FunctionRegistry::RegisterCategory(Reflection::TypeInfo* type, const char* name, uint8_t flag,
                                        const char* description) {
  Category* category = new Category{type, description ? description : "", name ? name : "",
                                    type ? type->name : std::string(), flag};
  m_categories.push_back(category);
  std::string key = category->typeName;
  if (!key.empty() && key.back() == '*') key.pop_back();
  m_categoriesByTypeName[key] = category;
  m_categoriesByName[category->name] = category;
}

const std::vector<FunctionRegistry::Entry>* FunctionRegistry::GetCategoryEntries(std::string_view category) const {
  const auto found = m_entriesByCategory.find(category);
  return found == m_entriesByCategory.end() ? nullptr : &found->second;
}

const FunctionRegistry::Category* FunctionRegistry::FindCategory(std::string_view libraryName) const {
  const auto found = m_categoriesByName.find(libraryName);
  return found == m_categoriesByName.end() ? nullptr : found->second;
}

const FunctionRegistry::Category* FunctionRegistry::FindCategoryByType(std::string_view typeName) const {
  const auto found = m_categoriesByTypeName.find(typeName);
  return found == m_categoriesByTypeName.end() ? nullptr : found->second;
}

void RegisterBinding(Function& function, std::string_view qualifiedName, const char* luaName,
                     const char* description) {
  FunctionRegistry& registry = FunctionRegistry::GetInstance();
  if (description) registry.PushDescription(description);
  if (!function.IsMethod()) {
    registry.RegisterFunction(&function, qualifiedName, luaName);
    return;
  }
  registry.RegisterMethod(&function, qualifiedName, luaName);
  function.GetSignature().GetThisType()->AddMethod(&function, qualifiedName, luaName);
}

}  // namespace Base
