// Fuzz target of spaces whose objects carry colliders and rigid bodies: the input is a space file,
// loaded through the factory into a space that has a physics world, as the game loads its levels, and
// then stepped for a few frames with the components' logic updates, so that whatever shapes, offsets,
// scales, body settings and particle emission a level file names reach the physics world, its step and
// the components' own steps.
#include <memory>
#include <string>
#include <vector>

#include "Core/Factory.h"
#include "Core/GameSpace.h"
#include "Core/SpaceComponent.h"
#include "Physics/PhysicsSystem.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Owns the spaces a load makes, each with its physics world from the moment it exists.
class Host : public Core::SpaceHost {
 public:
  explicit Host(Physics::PhysicsSystem& physics) : m_physics(physics) {}
  ~Host() override {
    for (Core::GameSpace* space : m_list) m_physics.GameSpaceDeleted(space);
  }
  Core::GameSpace* GetGameSpace(const char* name) override {
    for (Core::GameSpace* space : m_list)
      if (space->GetName() == name) return space;
    return nullptr;
  }
  Core::GameSpace* NewGameSpace(const char* name) override {
    m_spaces.push_back(std::make_unique<Core::GameSpace>(name));
    Core::GameSpace* space = m_spaces.back().get();
    if (Core::SpaceCompCreator* creator = Core::SpaceComponentRegistry::GetCreator(0))
      space->AddSpaceComponent(creator->Create(space));
    m_physics.GameSpaceCreated(space);
    m_list.push_back(space);
    return space;
  }
  Core::SpaceList& List() { return m_list; }

 private:
  Physics::PhysicsSystem& m_physics;
  std::vector<std::unique_ptr<Core::GameSpace>> m_spaces;
  Core::SpaceList m_list;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = OrvFuzz::WriteScratch(data, size, ".space");
  Physics::PhysicsSystem physics;
  {
    Host host(physics);
    Core::Factory::GetInstance().LoadSpace(path.c_str(), host);
    for (Core::GameSpace* space : host.List()) {
      space->Activate();
      physics.GameSpaceLoaded(space);
    }
    for (int frame = 0; frame < 4; ++frame) {
      physics.FrameStep(1.0f / 60.0f, &host.List());
      // The components' own logic steps (particle emission among them) on what the file gave them.
      for (Core::GameSpace* space : host.List()) space->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
    }
  }
  Physics::PhysicsSystem::TransformList().clear();
  Core::Factory::GetInstance().ClearArchetypes();
  return 0;
}
