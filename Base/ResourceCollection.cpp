// The registry under every resource manager: entries, the name map and the lookups.
#include "Base/ResourceCollection.h"

#include "Base/Log.h"

namespace Base {

int32_t ResourceCollection::AddEntry(Entry entry) {
  const int32_t index = int32_t(m_entries.size());
  entry.index = index;
  if (!entry.name.empty()) m_nameMap.try_emplace(entry.name, index);
  m_entries.push_back(std::move(entry));
  return index;
}

int32_t ResourceCollection::GetResourceID(std::string_view name) const {
  auto it = m_nameMap.find(std::string(name));
  return it == m_nameMap.end() ? -1 : it->second;
}

void ResourceCollection::Clear() {
  for (Entry& entry : m_entries) DeleteResourceVoid(entry.resource);
  m_nameMap.clear();
  m_entries.clear();
}

void* ResourceCollection::ResourceById(uint32_t index) {
  if (index >= m_entries.size()) return nullptr;
  if (m_entries[index].loaded) return m_entries[index].resource;
  return LoadEntry(m_entries[index]);
}

void* ResourceCollection::ResourceByName(const char* name) {
  auto it = m_nameMap.find(name ? name : "");
  if (it != m_nameMap.end() && m_entries[size_t(it->second)].loaded) return m_entries[size_t(it->second)].resource;
  return AddResourceVoid(name);
}

void* ResourceCollection::FinishLoad(Entry& entry, void* resource, bool valid) {
  if (!valid) {
    BASE_LOG_EACH(Warning, "Invalid file \"%s\" loaded.", entry.name.c_str());
    return nullptr;
  }
  entry.resource = resource;
  entry.loaded = true;
  return resource;
}

std::string FinalPathElement(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  if (slash == std::string_view::npos) return std::string(name);
  if (slash + 1 == name.size()) return name.size() == 1 ? std::string(name) : std::string(".");
  return std::string(name.substr(slash + 1));
}

ResourceManager& ResourceManager::GetInstance() {
  static ResourceManager instance;
  return instance;
}

}  // namespace Base
