// The script-update system: once per frame step it hands dt to the scripts ("skynet:Update").
#pragma once

#include "Core/System.h"

namespace Core {

class SkyNet : public System {
 public:
  void Initialize(Engine* engine) override;
  const char* GetName() const override { return "SkyNet"; }
  void FrameStep(float dt, SpaceList* spaces);
};

}  // namespace Core
