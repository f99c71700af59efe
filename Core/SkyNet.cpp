// The script-update system's frame step.
#include "Core/SkyNet.h"

namespace Core {

void SkyNet::Initialize(Engine* engine) {
  if (engine) RegisterFrameStep<&SkyNet::FrameStep>(*engine, this, "SkyNet::FrameStep");
}

void SkyNet::FrameStep(float dt, SpaceList*) { Scripts().Call("skynet:Update", dt); }

}  // namespace Core
