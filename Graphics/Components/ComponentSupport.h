// What the drawing components share: finding their object's Transform without trusting a stale handle,
// and keeping the canvas layer that files and scripts give them within the canvas's four.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Reflection/Registration.h"
#include "Core/GameComponent.h"
#include "Graphics/GraphicsSystem.h"

namespace Core {
class GameObject;
class Transform;
}  // namespace Core

namespace Graphics {

// The listener a component connects to a hook: its method bound once, under `name`.
template <auto Method>
const Base::Function& Listener(const char* name) {
  static const Base::Function function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
  return function;
}

// Reports a missing piece once per component: the first miss is logged, later ones are silent, so a
// broken object does not flood the log every frame.
class MissingReport {
 public:
  // Logs "<kind> <handle> has no live <what>" the first time; always returns null for chaining.
  std::nullptr_t Miss(const char* kind, const Core::GameComponent& self, const char* what);

 private:
  bool m_reported = false;
};

// The component's owner, or null (reported once).
Core::GameObject* ResolveOwner(const Core::GameComponent& self, const char* kind, MissingReport& report);
// The Transform behind `handle` in the component's space, or null (reported once).
Core::Transform* ResolveTransform(const Core::GameComponent& self, Base::Handle handle, const char* kind,
                                  MissingReport& report);

// A canvas layer as files and scripts set it, with the last good one: a value outside 0 to 3 is
// refused with a warning and the previous layer is put back.
struct LayerGuard {
  explicit LayerGuard(uint32_t layer) : m_good(layer) {}
  // The layer to submit to; `layer` is put back to the last good one when it is out of range.
  int Check(CanvasLayer& layer, const char* kind, const Core::GameComponent& self);

  uint32_t m_good;
};

}  // namespace Graphics
