// Test helper: the game's sample levels are built here from components, object by object, so that the
// checked-in space files are exactly what the engine writes. The pieces every level shares live here:
// objects placed in a space, models, the sky, and a sun aimed at the ground with its shadows.
#pragma once

#include <cmath>
#include <string>

#include "Base/Matrix.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/LightComponents.h"
#include "Graphics/Components/Model.h"
#include "Graphics/Components/Skybox.h"

namespace OrvTest {

using Base::Vec3;

// The rotation whose forward axis (the one cameras look along and lights shine along) is `direction`,
// with no roll: rows right, up and forward of the column-vector matrix.
inline Base::Quaternion Facing(Vec3 direction) {
  const Vec3 f = direction.Normalized();
  Vec3 right(f.z, 0.0f, -f.x);  // world up crossed with forward
  if (right.LengthSquared() < 1e-8f) right = Vec3(1.0f, 0.0f, 0.0f);  // straight up or down
  right.Normalize();
  const Vec3 up(f.y * right.z - f.z * right.y, f.z * right.x - f.x * right.z, f.x * right.y - f.y * right.x);
  Base::Mat3 m;
  const Vec3 rows[3] = {right, up, f};
  for (int r = 0; r < 3; ++r) {
    m(r, 0) = rows[r].x;
    m(r, 1) = rows[r].y;
    m(r, 2) = rows[r].z;
  }
  return Base::Quaternion(m);
}

// An object with a Transform, placed (and scaled) in its parent's frame.
inline Core::GameObject* AddObject(Core::GameSpace& space, const char* name, Vec3 position,
                                   Vec3 scale = {1.0f, 1.0f, 1.0f}, Core::GameObject* parent = nullptr) {
  Core::GameObject* object = space.CreateObject();
  object->Name(name);
  auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
  object->AttachComponent(transform);
  transform->SetLocalTranslation(position);
  transform->SetLocalScale(scale);
  if (parent) object->SetParent(parent);
  return object;
}

template <class C>
C* Attach(Core::GameObject* object, uint32_t type) {
  auto* component = static_cast<C*>(object->GetSpace()->CreateComponent(type));
  object->AttachComponent(component);
  return component;
}

inline void Turn(Core::GameObject* object, Base::Quaternion rotation) {
  object->GetComponent<Core::Transform>()->SetLocalRotation(rotation);
}

inline Graphics::Model* Look(Core::GameObject* object, const char* mesh, const char* material,
                             Vec3 colour = {255.0f, 255.0f, 255.0f}) {
  auto* model = Attach<Graphics::Model>(object, Core::ComponentType_Model);
  model->m_meshName = mesh;
  model->m_materialName = material;
  model->SetBlendColor(colour);
  return model;
}

// The active camera at `position` looking at `target`.
inline Graphics::Camera* AddCamera(Core::GameSpace& space, const char* name, Vec3 position, Vec3 target) {
  Core::GameObject* object = AddObject(space, name, position);
  Turn(object, Facing(target - position));
  auto* camera = Attach<Graphics::Camera>(object, Core::ComponentType_Camera);
  camera->m_isActive = true;
  return camera;
}

// The sky sphere, drawn unlit on the layer under the lit scene.
inline Graphics::Skybox* AddSky(Core::GameSpace& space) {
  return Attach<Graphics::Skybox>(AddObject(space, "Sky", {0.0f, 0.0f, 0.0f}), Core::ComponentType_Skybox);
}

// A warm sun shining along `direction` onto `target` from `distance` away. Its shadow camera looks
// from where the object is, so whatever should cast or take a shadow must lie ahead of it. Shade is
// a cool blue rather than black, as under an open sky.
inline Graphics::DirectionalLight* AddSun(Core::GameSpace& space, const char* name, Vec3 direction, Vec3 target,
                                          float distance, Core::GameObject* parent = nullptr) {
  const Vec3 d = direction.Normalized();
  Core::GameObject* object = AddObject(space, name, target - d * distance, {1.0f, 1.0f, 1.0f}, parent);
  Turn(object, Facing(d));
  auto* sun = Attach<Graphics::DirectionalLight>(object, Core::ComponentType_DirectionalLight);
  sun->SetDiffuse({255.0f, 246.0f, 230.0f});
  sun->SetShadowColor({62.0f, 72.0f, 96.0f});
  sun->SetCastsShadow(true);
  return sun;
}

}  // namespace OrvTest
