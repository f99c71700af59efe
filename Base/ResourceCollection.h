// Per-type resource managers: a registry of named entries addressed by index (the resource ids that
// components keep) or by name, loading each asset on first use; and the list of every manager.
#pragma once

#include "Base/TraceLog.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Base {

class ResourceCollection {
 public:
  struct Entry {
    std::string fileName;  // final element of the name; for information only
    std::string name;      // the name as added: the map key
    void* resource = nullptr;
    int32_t index = -1;
    bool loaded = false;
  };

  virtual ~ResourceCollection() = default;

  // Builds the asset of an entry, stores it there when it is valid; null otherwise.
  virtual void* LoadEntry(Entry& entry) { (void)entry; return nullptr; }
  // Appends an entry for `name`, loads it and returns the asset (null when it did not load).
  virtual void* AddResourceVoid(const char* name) { (void)name; return nullptr; }
  // Destroys an asset of this collection's type; accepts null.
  virtual void DeleteResourceVoid(void* resource) { ::operator delete(resource); }
  // The loader the asset-type registry binds: adds the file by name.
  void LoadResourceVoid(const char* name) { AddResourceVoid(name); }

  // Appends the entry (its index is the previous count) and maps its name when the name is not
  // empty and not yet mapped. Returns the index.
  int32_t AddEntry(Entry entry);
  // The mapped index, or -1.
  int32_t GetResourceID(std::string_view name) const;
  uint32_t GetEntryCount() const { return uint32_t(m_entries.size()); }
  const Entry* GetEntry(uint32_t index) const { return index < m_entries.size() ? &m_entries[index] : nullptr; }
  // Destroys every asset, then forgets every entry and name.
  void Clear();

 protected:
  // The entry's asset when loaded, else one load attempt; null for an index past the end.
  void* ResourceById(uint32_t index);
  // The loaded asset of a mapped name, else a new entry for it (AddResourceVoid).
  void* ResourceByName(const char* name);
  // Shared steps of loading an entry: the log line, then store the asset or reject it.
  void* FinishLoad(Entry& entry, void* resource, bool valid);

  std::unordered_map<std::string, int32_t> m_nameMap;
  std::vector<Entry> m_entries;
};

// The final path element of a name: the text after its last '/' or '\' ("." when it ends in one).
std::string FinalPathElement(std::string_view name);

// Every collection ever created, in creation order, and the extension map of the asset registry.
class ResourceManager {
 public:
  static ResourceManager& GetInstance();

  std::vector<ResourceCollection*> m_collections;
  std::unordered_map<std::string, ResourceCollection*> m_extensionMap;
};

// The manager of one asset type T. T is built from the entry's name and is valid when its
// IsLoaded() says so; destruction is T's own (virtual where T has a virtual destructor).
//
// A name that does not load keeps its entry (not loaded) and every later lookup of it adds another,
// unless T says otherwise with either of these optional members:
//   static constexpr bool kKeepsFailedNames = false;  such a name gets no entry and no map slot
//       (a later lookup tries and reports again), so unloadable names cost nothing kept;
//   const char* StandInName() const;  on an asset that did not load: the name (a literal) of the
//       shared asset its name resolves to, or null. The name is mapped to that asset's entry: no
//       entry and no asset of its own, and it is not reported as an invalid file.
template <class T>
class Resources : public ResourceCollection {
 public:
  static Resources& Instance() {
    static Resources instance;
    return instance;
  }

  T* GetResourceByName(const char* name) { return static_cast<T*>(ResourceByName(name)); }
  T* GetResourceByName(const std::string& name) { return GetResourceByName(name.c_str()); }
  T* GetResourceById(uint32_t id) { return static_cast<T*>(ResourceById(id)); }
  T* AddResource(const std::string& name) { return AddResource(name.c_str()); }
  T* AddResource(const char* name) { return static_cast<T*>(AddResourceVoid(name)); }
  T* LoadResource(Entry& entry) { return static_cast<T*>(LoadEntry(entry)); }
  void DeleteResource(T* resource) { delete resource; }

  void* LoadEntry(Entry& entry) override {
    const char* standIn = nullptr;
    return Load(entry, &standIn);
  }
  void* AddResourceVoid(const char* name) override {
    Entry entry;
    entry.name = name ? name : "";
    entry.fileName = FinalPathElement(entry.name);
    const char* standIn = nullptr;
    void* resource = Load(entry, &standIn);
    if (!resource && standIn) return ResolveToStandIn(entry.name, standIn);
    if (resource || KeepsFailedNames()) AddEntry(std::move(entry));
    return resource;
  }
  void DeleteResourceVoid(void* resource) override { DeleteResource(static_cast<T*>(resource)); }

  ~Resources() override { Clear(); }

 private:
  Resources() { ResourceManager::GetInstance().m_collections.push_back(this); }

  static constexpr bool KeepsFailedNames() {
    if constexpr (requires { T::kKeepsFailedNames; })
      return T::kKeepsFailedNames;
    else
      return true;
  }

  // Builds the asset of an entry; one that did not load but names a stand-in (`standIn` set) is
  // no invalid file.
  void* Load(Entry& entry, const char** standIn) {
    ORV_TRACE(Base, Verbose, "Allocating new Resource in Resource Manager");
    T* resource = new T(entry.name.c_str());
    const bool valid = resource->IsLoaded();
    if (!valid) {
      if constexpr (requires(const T& asset) { asset.StandInName(); }) *standIn = resource->StandInName();
      DeleteResource(resource);
      if (*standIn) return nullptr;
    }
    return FinishLoad(entry, valid ? resource : nullptr, valid);
  }

  // The shared asset `standIn` names, with `name` mapped to its entry; null when it does not load.
  void* ResolveToStandIn(const std::string& name, const char* standIn) {
    if (name == standIn) return nullptr;  // a stand-in that stands for itself has nothing to share
    T* shared = GetResourceByName(standIn);
    const int32_t index = GetResourceID(standIn);
    if (!shared || index < 0 || m_entries[size_t(index)].resource != shared) return nullptr;
    if (!name.empty()) m_nameMap.try_emplace(name, index);
    return shared;
  }
};

}  // namespace Base
