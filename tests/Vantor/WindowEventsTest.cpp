// The recorders of the window's events on both channels.
#include "tests/Vantor/WindowEventsTest.h"

#include "Base/function/Thunk.h"

namespace VantorTest {

namespace {

template <auto Method>
Base::Function Listener(const char* name) {
  return Base::Function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
}

}  // namespace

void HookRecorder::Attach(Core::Hooks& hooks) {
  hooks.AddSystemListener("GameWindowClose", this, Listener<&HookRecorder::Close>("HookRecorder::Close"));
  hooks.AddSystemListener("GameWindowMinimize", this, Listener<&HookRecorder::Minimize>("HookRecorder::Minimize"));
  hooks.AddSystemListener("GameWindowRestore", this, Listener<&HookRecorder::Restore>("HookRecorder::Restore"));
  hooks.AddSystemListener("WindowFocus", this, Listener<&HookRecorder::Focus>("HookRecorder::Focus"));
  hooks.AddSystemListener("GameWindowResize", this, Listener<&HookRecorder::Resize>("HookRecorder::Resize"));
}

void HookRecorder::Detach(Core::Hooks& hooks) {
  for (const char* event : {"GameWindowClose", "GameWindowMinimize", "GameWindowRestore", "WindowFocus",
                            "GameWindowResize"})
    hooks.RemoveSystemListener(event, this);
}

void HookRecorder::Resize(Base::Vec2 size) {
  m_log.push_back("hook:GameWindowResize " + std::to_string(int(size.x)) + "x" + std::to_string(int(size.y)));
}

bool ScriptRecorder::CallFunction(const char* name, const Variant* args, unsigned argCount, Variant*) {
  std::string line = std::string("lua:") + name;
  using Base::Reflection::TypeOf;
  const bool text = argCount > 0 && (args[0].type == TypeOf<char*>() || args[0].type == TypeOf<const char*>());
  if (text && args[0].data)
    line += std::string(" ") + static_cast<const char*>(args[0].data);
  if (argCount > 1 && args[1].type == TypeOf<bool>())
    line += *static_cast<const bool*>(args[1].data) ? " 1" : " 0";
  m_log.push_back(line);
  return true;
}

}  // namespace VantorTest
