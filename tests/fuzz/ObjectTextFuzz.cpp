// Fuzz target of the object text readers: the input's first byte picks the file kind ('L' a level,
// 'A' an archetype, anything else a space) and the rest is the file, loaded through the factory as
// content is. Levels name spaces of the content tree, so the target runs from the repository root.
#include <memory>
#include <string>
#include <vector>

#include "Core/Factory.h"
#include "Core/GameSpace.h"
#include "Core/SpaceComponent.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Owns the spaces a load makes, as the engine does, until the input is done.
class Host : public Core::SpaceHost {
 public:
  Core::GameSpace* GetGameSpace(const char* name) override {
    for (const auto& space : spaces_)
      if (space->GetName() == name) return space.get();
    return nullptr;
  }
  Core::GameSpace* NewGameSpace(const char* name) override {
    spaces_.push_back(std::make_unique<Core::GameSpace>(name));
    Core::GameSpace* space = spaces_.back().get();
    if (Core::SpaceCompCreator* creator = Core::SpaceComponentRegistry::GetCreator(0))
      space->AddSpaceComponent(creator->Create(space));
    return space;
  }

 private:
  std::vector<std::unique_ptr<Core::GameSpace>> spaces_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char kind = char(data[0]);
  const char* extension = kind == 'L' ? ".level" : kind == 'A' ? ".arche" : ".space";
  const std::string path = OrvFuzz::WriteScratch(data + 1, size - 1, extension);
  Core::Factory& factory = Core::Factory::GetInstance();
  {
    Host host;
    if (kind == 'L') {
      factory.LoadLevel(path.c_str(), host);
    } else if (kind == 'A') {
      Core::GameSpace* space = host.NewGameSpace("FuzzArchetypes");
      factory.LoadObjectFromArchetype(space, path.c_str());
    } else {
      factory.LoadSpace(path.c_str(), host);
    }
  }
  // Each input starts from an empty cache, as a fresh run of the game does.
  factory.ClearArchetypes();
  return 0;
}
