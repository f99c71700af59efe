// The light components: directional, point and spot lights on game objects, placed and aimed by their
// object's Transform each frame and submitted to the space's canvas. Colours are set in 0 to 255 and
// stored over 255; a light's intensity is the w of its diffuse colour.
#pragma once

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/Light.h"

#include <type_traits>

namespace Graphics {

// What the three light components share: the component half, the light renderable, the layer and
// Transform they are drawn on, and the colour and intensity setters.
template <class LightBase>
class LightComponent : public Core::GameComponent, public LightBase {
 public:
  void SetDiffuse(Base::Vec3 color) { SetColour255(this->m_data.m_diffuse, color); }
  Base::Vec3 GetDiffuse() const { return {this->m_data.m_diffuse.x, this->m_data.m_diffuse.y, this->m_data.m_diffuse.z}; }
  void SetIntensity(float intensity) { this->m_data.m_diffuse.w = intensity; }
  float GetIntensity() const { return this->m_data.m_diffuse.w; }
  // Point and spot lights only.
  void SetAtten(Base::Vec3 attenuation) { this->m_data.m_attenuation = attenuation; }
  Base::Vec3 GetAtten() const { return this->m_data.m_attenuation; }

  // Fields after the two bases, in this order.
  CanvasLayer m_layer = CanvasLayer(1);
  Base::Handle m_transform = Base::kNullHandle;

 protected:
  LightComponent() = default;
  // The light half is built afresh and takes the other's values when it can be copied whole; the
  // directional light copies its own, leaving out the GPU objects of its shadow map.
  LightComponent(const LightComponent& other)
      : Core::GameComponent(other), LightBase(), m_layer(other.m_layer), m_transform(other.m_transform) {
    if constexpr (std::is_copy_assignable_v<LightBase>) static_cast<LightBase&>(*this) = other;
  }
  LightComponent& operator=(const LightComponent& other) {
    Assign(other);
    if constexpr (std::is_copy_assignable_v<LightBase>) static_cast<LightBase&>(*this) = other;
    m_layer = other.m_layer;
    m_transform = other.m_transform;
    return *this;
  }

  // Records the Transform and connects "Draw" and "SelectedInEditor", keyed by the component's handle.
  void Connect(const char* kind, const Base::Function& draw, const Base::Function& selected);
  void Disconnect();
  Core::Transform* Transform(const char* kind) { return ResolveTransform(*this, m_transform, kind, m_missing); }
  // The light on its layer (a bad layer is put back to the last good one).
  void SubmitLight(const char* kind);

  static void SetColour255(Base::Vec4& stored, Base::Vec3 color) {
    stored.x = color.x / 255.0f;
    stored.y = color.y / 255.0f;
    stored.z = color.z / 255.0f;
  }

  MissingReport m_missing;
  LayerGuard m_layerGuard{1};
};

class DirectionalLight : public LightComponent<BaseDLight> {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_DirectionalLight;

  DirectionalLight() = default;
  // A copy renders into a shadow map of its own: the GPU objects are never shared between lights.
  DirectionalLight(const DirectionalLight& other);
  DirectionalLight& operator=(const DirectionalLight& other);

  void Initialize() override;
  void Uninitialize() override { Disconnect(); }
  // The direction from the Transform's rotation, the shadow camera aimed along it, then submission.
  void Submit();
  // Three parallel guide lines along the direction through the object.
  void OnSelectedInEditor();

  Base::Vec4 GetShadowColor() const { return m_data.m_shadowCol; }
  void SetShadowColor(Base::Vec3 color) { SetColour255(m_data.m_shadowCol, color); }
  void SetCastsShadow(bool casts) { m_castsShadow = casts; }
  bool GetCastsShadow() const { return m_castsShadow; }
  void DrawDebug(bool on) { m_debugDraw = on; }

  bool m_debugDraw = false;

 private:
  // Everything of the light half but the shadow map and its depth buffer, which stay this light's own.
  void CopyLight(const DirectionalLight& other);
};

class PointLight : public LightComponent<BasePLight> {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_PointLight;

  PointLight() = default;
  PointLight(const PointLight&) = default;
  PointLight& operator=(const PointLight&) = default;

  void Initialize() override;
  void Uninitialize() override { Disconnect(); }
  // The position from the Transform (kept when it is gone), then submission.
  void Submit();
  // A wire sphere of the light's radius.
  void OnSelectedInEditor();

  void SetRadius(float radius) { m_data.m_radius = radius; }
  float GetRadius() const { return m_data.m_radius; }
};

class SpotLight : public LightComponent<BaseSLight> {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_SpotLight;

  SpotLight() = default;
  SpotLight(const SpotLight&) = default;
  SpotLight& operator=(const SpotLight&) = default;

  void Initialize() override;
  void Uninitialize() override { Disconnect(); }
  // Position and direction from the Transform (kept when it is gone), the cone cosines from the
  // angles, then submission.
  void Submit();
  // The outer and inner cones as wire cones.
  void OnSelectedInEditor();

  void SetInnerAngle(float degrees) { m_innerAngle = degrees; }
  void SetOuterAngle(float degrees) { m_outerAngle = degrees; }
  Base::Vec2 GetInnerOuterAngles() const { return {m_innerAngle, m_outerAngle}; }
  void SetFalloff(float falloff) { m_data.m_falloff = falloff; }
  float GetFalloff() const { return m_data.m_falloff; }
  void SetBeamLength(float length) { m_beamLength = length; }
  float GetBeamLength() const { return m_beamLength; }
};

}  // namespace Graphics
