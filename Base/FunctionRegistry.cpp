// The function registry: script names, categories, help texts and duplicate warnings.
#include "Base/FunctionRegistry.h"

#include <algorithm>

#include "Base/Reflection/TypeInfo.h"
#include "Base/TraceLog.h"

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
  for (Category* category : categories_) delete category;
}

void FunctionRegistry::PushDescription(const char* text) { pendingDescriptions_.emplace_back(text ? text : ""); }

std::string FunctionRegistry::TakeDescription() {
  if (pendingDescriptions_.empty()) return std::string();
  std::string text = std::move(pendingDescriptions_.back());
  pendingDescriptions_.pop_back();
  return text;
}

void FunctionRegistry::RegisterMethod(Function* function, std::string_view qualifiedName, const char* luaName) {
  const std::string qualified(qualifiedName);
  const Reflection::TypeInfo* thisType = function->GetSignature().GetThisType();
  Entry entry{function, ScriptName(qualifiedName, luaName), thisType ? thisType->name : std::string(),
              TakeDescription()};

  TraceLog& log = TraceLog::GetInstance();
  log.Print(TraceLevel_Verbose, TraceModule_Base, "Registered Method %s with name \"%s\" in category %s",
            qualified.c_str(), entry.name.c_str(), entry.category.c_str());
  if (!thisType)
    log.Print(TraceLevel_Warning, TraceModule_Base, "Method %s is not actually a method!", entry.name.c_str());
  Append(std::move(entry));
}

void FunctionRegistry::RegisterFunction(Function* function, std::string_view qualifiedName,
                                        const char* luaName) {
  const std::string qualified(qualifiedName);
  const size_t colon = qualifiedName.find(':');
  // A free function takes its pending help text too, so it cannot shift texts onto later methods.
  Entry entry{function, ScriptName(qualifiedName, luaName),
              colon == std::string_view::npos ? std::string() : qualified.substr(0, colon), TakeDescription()};

  TraceLog& log = TraceLog::GetInstance();
  if (entry.category.empty())
    log.Print(TraceLevel_Verbose, TraceModule_Base, "Registered function %s with name %s in no category",
              qualified.c_str(), entry.name.c_str());
  else
    log.Print(TraceLevel_Verbose, TraceModule_Base, "Registered function %s with name %s in category %s",
              qualified.c_str(), entry.name.c_str(), entry.category.c_str());
  if (function->IsMethod())
    log.Print(TraceLevel_Warning, TraceModule_Base,
              "Function %s is a member function but is being registered with the wrong function!",
              entry.name.c_str());
  Append(std::move(entry));
}

bool FunctionRegistry::IsDuplicate(const Entry& entry) const {
  auto same = [&](const Entry& other) {
    return other.category == entry.category &&
           (other.function == entry.function || other.name == entry.name ||
            other.function->GetThunk() == entry.function->GetThunk());
  };
  if (entry.category.empty()) return std::any_of(entries_.begin(), entries_.end(), same);
  const std::vector<Entry>* category = GetCategoryEntries(entry.category);
  return category && std::any_of(category->begin(), category->end(), same);
}

void FunctionRegistry::Append(Entry&& entry) {
  if (IsDuplicate(entry))
    TraceLog::GetInstance().Print(TraceLevel_Warning, TraceModule_Base,
                                  "Possible registration of the same function twice!");
  if (!entry.category.empty()) entriesByCategory_[entry.category].push_back(entry);
  entries_.push_back(std::move(entry));
}

void FunctionRegistry::RegisterCategory(Reflection::TypeInfo* type, const char* name, uint8_t flag,
                                        const char* description) {
  Category* category = new Category{type, description ? description : "", name ? name : "",
                                    type ? type->name : std::string(), flag};
  categories_.push_back(category);
  std::string key = category->typeName;
  if (!key.empty() && key.back() == '*') key.pop_back();
  categoriesByTypeName_[key] = category;
  categoriesByName_[category->name] = category;
}

const std::vector<FunctionRegistry::Entry>* FunctionRegistry::GetCategoryEntries(std::string_view category) const {
  const auto found = entriesByCategory_.find(category);
  return found == entriesByCategory_.end() ? nullptr : &found->second;
}

const FunctionRegistry::Category* FunctionRegistry::FindCategory(std::string_view libraryName) const {
  const auto found = categoriesByName_.find(libraryName);
  return found == categoriesByName_.end() ? nullptr : found->second;
}

const FunctionRegistry::Category* FunctionRegistry::FindCategoryByType(std::string_view typeName) const {
  const auto found = categoriesByTypeName_.find(typeName);
  return found == categoriesByTypeName_.end() ? nullptr : found->second;
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
