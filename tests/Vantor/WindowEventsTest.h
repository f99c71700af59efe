// Shared by the window and program tests: what the window tells both event channels, recorded in
// one list as "<channel>:<event>[ <argument>]" (engine hooks "hook:", script calls "lua:").
#pragma once

#include <string>
#include <vector>

#include "Base/Math.h"
#include "Core/EngineLinks.h"
#include "Core/Hooks.h"

namespace VantorTest {

// Listens on a hook table for the window's events.
class HookRecorder {
 public:
  explicit HookRecorder(std::vector<std::string>& log) : m_log(log) {}
  // Listens on `hooks` until Detach.
  void Attach(Core::Hooks& hooks);
  void Detach(Core::Hooks& hooks);

  void Close() { m_log.push_back("hook:GameWindowClose"); }
  void Minimize() { m_log.push_back("hook:GameWindowMinimize"); }
  void Restore() { m_log.push_back("hook:GameWindowRestore"); }
  void Focus(bool focused) { m_log.push_back(std::string("hook:WindowFocus ") + (focused ? "1" : "0")); }
  void Resize(Base::Vec2 size);

 private:
  std::vector<std::string>& m_log;
};

// A script host that records the calls made into it, with its first argument when that is text.
class ScriptRecorder : public Core::ScriptHost {
 public:
  explicit ScriptRecorder(std::vector<std::string>& log) : m_log(log) {}
  bool IsInitialized() const override { return true; }
  bool CallFunction(const char* name, const Variant* args, unsigned argCount, Variant* result) override;

 private:
  std::vector<std::string>& m_log;
};

}  // namespace VantorTest
