// The view volume of a camera component as six planes in the physics library's frame, for the
// colliders' camera query.
#pragma once

#include "ZarnPhys/Raycast.h"

namespace Graphics {
class Camera;
}

namespace Physics {

// Near, far, then the four side planes; each normal points into the volume.
struct CameraFrustum {
  ZarnPhys::Plane planes[6];
};

CameraFrustum BuildCameraFrustum(const Graphics::Camera& camera);

}  // namespace Physics
