// Shared by the tests of the physics system's script side: a game space with a physics world and
// the system's callbacks registered, a Lua environment installed as the script host (with "physics"
// and "space" published), and shorthand for objects owning library spheres.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Base/TraceLog.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Lua/Environment.h"
#include "Physics/PhysicsSystem.h"
#include "ZarnPhys/PhysicsSpace.h"
#include "tests/Support/LogCapture.h"

class ScriptedWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Verbose);
    env_.Init();
    env_.PostInit();
    previousHost_ = Core::SetScriptHost(&env_);
    space_ = std::make_unique<Core::GameSpace>("Level");
    space_->Activate();
    Core::AddLiveSpace(space_.get());
    list_.push_back(space_.get());
    system_.GameSpaceCreated(space_.get());
    world_ = Physics::PhysicsSystem::FindSpace(space_.get());
    system_.Initialize(nullptr);
    env_.SetGlobal("space", Base::Reflection::Variant(Base::Reflection::TypeOf<Core::GameSpace*>(), space_.get()));
    log_.Take();
  }
  void TearDown() override {
    system_.GameSpaceDeleted(space_.get());
    Core::RemoveLiveSpace(space_.get());
    Core::SetScriptHost(previousHost_);
    env_.Close();
  }

  // Runs script text; returns its error, or "" when it ran.
  std::string Run(const std::string& code) {
    lua_State* L = env_.GetState();
    const int top = lua_gettop(L);
    std::string error;
    if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) error = lua_tostring(L, -1);
    lua_settop(L, top);
    return error;
  }
  // A Lua expression through tostring, or the error.
  std::string Eval(const std::string& expression) {
    if (std::string error = Run("__eval = tostring(" + expression + ")"); !error.empty()) return error;
    lua_State* L = env_.GetState();
    lua_getglobal(L, "__eval");
    std::string text = lua_tostring(L, -1);
    lua_pop(L, 1);
    return text;
  }

  Core::GameObject* AddObject(const char* name) {
    Core::GameObject* object = space_->CreateObject();
    object->AttachComponent(space_->CreateComponent(Core::ComponentType_Transform));
    object->Initialize();
    object->Name(name);
    return object;
  }

  // A sphere of radius 1 (with a body when asked) at a physics-frame position, owned by `object`.
  ZarnPhys::Entity* AddSphere(Core::GameObject* object, Base::Vec3 position, bool body,
                              uint32_t groupMask = 0xFFFFFFFFu) {
    ZarnPhys::EntityTransform at;
    at.userData.object = object;
    at.position = position;
    ZarnPhys::ColliderDescription sphere;
    sphere.kind = ZarnPhys::ColliderKind_Sphere;
    sphere.shape[0] = 1.0f;
    sphere.groupMask = groupMask;
    sphere.boundingHalfExtents = Base::Vec3(1.0f, 1.0f, 1.0f);
    ZarnPhys::Entity* entity = nullptr;
    world_->CreateCollider(&entity, sphere, at);
    if (body) world_->CreateRigidBody(&entity, ZarnPhys::RigidBodyDescription(), at);
    return entity;
  }

  OrvTest::LogCapture log_;
  Lua::Environment env_;
  Core::ScriptHost* previousHost_ = nullptr;
  Physics::PhysicsSystem system_;
  std::unique_ptr<Core::GameSpace> space_;
  Core::SpaceList list_;

 public:
  ZarnPhys::PhysicsSpace* world_ = nullptr;
};
