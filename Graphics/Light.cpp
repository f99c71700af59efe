// The render order of lights.
#include "Graphics/Light.h"

namespace Graphics {

bool Light::IsDrawnBefore(const RenderableObject* other) const {
  const auto* light = dynamic_cast<const Light*>(other);
  return light && m_lightType < light->m_lightType;
}

}  // namespace Graphics
