// Test helper: the script environment the engine calls each frame, standing in for the real one when a
// test runs the engine without scripts: every call succeeds and nothing runs.
#pragma once

#include "Core/EngineLinks.h"

namespace OrvTest {

class SilentScripts : public Core::ScriptHost {
 public:
  bool CallFunction(const char*, const Variant*, unsigned, Variant*) override { return true; }
};

}  // namespace OrvTest
