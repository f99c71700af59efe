// Handle resolution with one report per loss, and the canvas-layer check of the drawing components.
#include "Graphics/Components/ComponentSupport.h"

#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Log.h"

namespace Graphics {

namespace {
constexpr uint32_t kLayerCount = 4;
}

std::nullptr_t MissingReport::Miss(const char* kind, const Core::GameComponent& self, const char* what) {
  if (!m_reported) {
    m_reported = true;
    GFX_LOG(Warning, "%s %u has no live %s", kind, uint32_t(self.m_self), what);
  }
  return nullptr;
}

Core::GameObject* ResolveOwner(const Core::GameComponent& self, const char* kind, MissingReport& report) {
  Core::GameObject* owner = self.GetOwner();
  if (!owner) return report.Miss(kind, self, "owner");
  return owner;
}

Core::Transform* ResolveTransform(const Core::GameComponent& self, Base::Handle handle, const char* kind,
                                  MissingReport& report) {
  Core::GameComponent* component = self.m_space ? self.m_space->GetComponent(handle) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_Transform)
    return report.Miss(kind, self, "Transform");
  return static_cast<Core::Transform*>(component);
}

int LayerGuard::Check(CanvasLayer& layer, const char* kind, const Core::GameComponent& self) {
  const uint32_t value = uint32_t(layer);
  if (value < kLayerCount) {
    m_good = value;
    return int(value);
  }
  GFX_LOG(Warning, "%s %u: canvas layer %u is not 0 to 3, keeping layer %u", kind, uint32_t(self.m_self), value,
          m_good);
  layer = CanvasLayer(m_good);
  return int(m_good);
}

}  // namespace Graphics
