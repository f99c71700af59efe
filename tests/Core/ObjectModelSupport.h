// Shared pieces of the object-model tests: captured log lines, recorded script calls, a script
// component stand-in registered at the script component type id, and spaces kept off the stack.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "Base/function/Thunk.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "tests/Support/LogCapture.h"

namespace ObjectModelTest {

using LogCapture = OrvTest::LogCapture;

// Every script call as "name(arg, arg)"; texts quoted, numbers and bools printed, spaces by name. Tests
// may add their own events to the same list, to read the order of everything.
inline std::vector<std::string>& ScriptCalls() {
  static std::vector<std::string> calls;
  return calls;
}
// Runs after each recorded script call: lets a test act at a precise point.
inline std::function<void(const std::string&)>& OnScriptCall() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

inline std::string DescribeArgument(const Base::Reflection::Variant& arg) {
  using Base::Reflection::TypeOf;
  if (arg.type == TypeOf<std::string>()) return "\"" + *static_cast<std::string*>(arg.data) + "\"";
  if (arg.type == TypeOf<char*>()) return "\"" + std::string(arg.data ? static_cast<const char*>(arg.data) : "") + "\"";
  if (arg.type == TypeOf<unsigned>()) return std::to_string(*static_cast<unsigned*>(arg.data));
  if (arg.type == TypeOf<bool>()) return *static_cast<bool*>(arg.data) ? "true" : "false";
  if (arg.type == TypeOf<Core::GameSpace*>()) return "space " + static_cast<Core::GameSpace*>(arg.data)->GetName();
  if (arg.type == TypeOf<float>()) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", *static_cast<float*>(arg.data));
    return text;
  }
  return "?";
}

inline void RecordScriptCall(const char* function, const Base::Reflection::Variant* args, unsigned count,
                             Base::Reflection::Variant*) {
  std::string call = std::string(function) + "(";
  for (unsigned i = 0; i < count; ++i) call += (i ? ", " : "") + DescribeArgument(args[i]);
  ScriptCalls().push_back(call + ")");
  if (OnScriptCall()) OnScriptCall()(ScriptCalls().back());
}

// The recorder as the script host the object model calls.
class RecordingScripts final : public Core::ScriptHost {
 public:
  bool CallFunction(const char* name, const Variant* args, unsigned count, Variant* result) override {
    RecordScriptCall(name, args, count, result);
    return true;
  }
};

// Stands in for the script component at its type id: records what the object does to it.
class ScriptStub : public Core::GameComponent {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_LuaComponent;
  ScriptStub() { ++Live(); }
  ScriptStub(const ScriptStub& other) : GameComponent(other), m_compType(other.m_compType) { ++Live(); }
  ~ScriptStub() override { --Live(); }
  void Initialize() override { Events().push_back(m_compType + ":init"); }
  void Uninitialize() override { Events().push_back(m_compType + ":uninit"); }
  void RefreshState() override { Events().push_back(m_compType + ":refresh"); }
  void NotifyRemoved() override { Events().push_back(m_compType + ":removed"); }

  static int& Live() {
    static int live = 0;
    return live;
  }
  static std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
  }

  // Long enough to live on the heap, so that a skipped destructor shows up as a leak.
  std::string m_compType = "script component stand-in";
};

// Registers the stand-in at the script type id for a test and gives the id back to its owner after.
class ScriptStubScope {
 public:
  ScriptStubScope() : previous_(Core::ComponentRegistry::GetCreator(Core::ComponentType_LuaComponent)) {
    Core::ComponentRegistry::Register(Creator());
  }
  ~ScriptStubScope() {
    if (previous_) Core::ComponentRegistry::Register(*previous_);
  }
  ScriptStubScope(const ScriptStubScope&) = delete;
  ScriptStubScope& operator=(const ScriptStubScope&) = delete;

  static Core::ComponentCreator& Creator() {
    static Core::ComponentCreatorType<ScriptStub> creator(Core::ComponentType_LuaComponent);
    return creator;
  }

 private:
  Core::ComponentCreator* previous_;
};

// Spaces are large: always on the heap.
inline std::unique_ptr<Core::GameSpace> NewSpace(const char* name) {
  return std::make_unique<Core::GameSpace>(name);
}

// A named object with a transform at `at`, under `parent` when one is given.
inline Core::GameObject* AddObject(Core::GameSpace& space, const char* name, Base::Vec3 at,
                                   Core::GameObject* parent = nullptr) {
  Core::GameObject* object = space.CreateObject();
  object->Name(name);
  auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
  transform->SetLocalTranslation(at);
  object->AttachComponent(transform);
  if (parent) object->SetParent(parent);
  return object;
}

// A bound function of `Fn` under `name`, as hook tables take them.
template <auto Fn>
Base::Function Make(const char* name) {
  return Base::Function(Base::MakeSignature<Fn>(), &Base::Thunk<Fn>, name);
}

// Installs the script recorder for a test, and clears the records.
class ObjectModelTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptCalls().clear();
    ScriptStub::Events().clear();
    OnScriptCall() = nullptr;
    previousHost_ = Core::SetScriptHost(&recorder_);
  }
  void TearDown() override {
    Core::SetScriptHost(previousHost_);
    Core::SetEngineHooks(nullptr);
    OnScriptCall() = nullptr;
  }

  RecordingScripts recorder_;
  Core::ScriptHost* previousHost_ = nullptr;
  LogCapture log_;
};

}  // namespace ObjectModelTest
