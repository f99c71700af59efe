// Shared by the physics tests over real game spaces: a physics system, spaces with (or without) a
// world of their own, components attached by type, frames stepped at 60 a second, and everything
// (worlds, pose records, the meshes and materials polytopes load) put back as it was afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Base/TraceLog.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Base/ResourceCollection.h"
#include "Physics/PhysicsSystem.h"
#include "tests/Support/LogCapture.h"

namespace PhysicsTest {

// How often `what` occurs in `text` (log lines in a captured log).
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Worlds : public ::testing::Test {
 protected:
  void SetUp() override { Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Verbose); }
  void TearDown() override {
    for (auto& space : spaces_) system_.GameSpaceDeleted(space.get());
    spaces_.clear();
    Physics::PhysicsSystem::TransformList().clear();
    Base::Resources<Graphics::Mesh>::Instance().Clear();
    Base::Resources<Graphics::Material>::Instance().Clear();
  }

  Core::GameSpace* AddSpace(const char* name = "Level", bool withWorld = true) {
    spaces_.push_back(std::make_unique<Core::GameSpace>(name));
    Core::GameSpace* space = spaces_.back().get();
    space->Activate();
    if (withWorld) system_.GameSpaceCreated(space);
    list_.push_back(space);
    return space;
  }

  template <class T>
  T* Attach(Core::GameObject* object) {
    auto* component = static_cast<T*>(object->GetSpace()->CreateComponent(T::kComponentType));
    object->AttachComponent(component);
    return component;
  }

  void Step(int frames = 1) {
    for (int i = 0; i < frames; ++i) system_.FrameStep(1.0f / 60.0f, &list_);
  }

  OrvTest::LogCapture log_;
  Physics::PhysicsSystem system_;
  std::vector<std::unique_ptr<Core::GameSpace>> spaces_;
  Core::SpaceList list_;
};

}  // namespace PhysicsTest
