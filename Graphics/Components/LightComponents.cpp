// The light components' frames, editor guides and registration.
#include "Graphics/Components/LightComponents.h"

#include <cmath>

#include "Base/MathUtil.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/GraphicsMaster.h"

namespace Graphics {

template <class LightBase>
void LightComponent<LightBase>::Connect(const char* kind, const Base::Function& draw, const Base::Function& selected) {
  if (Core::GameObject* owner = ResolveOwner(*this, kind, m_missing)) {
    m_transform = owner->m_components[Core::ComponentType_Transform];
    owner->GetHooks().AddComponentListener("SelectedInEditor", m_self, selected);
  }
  if (m_space) m_space->GetHooks().AddComponentListener("Draw", m_self, draw);
}

template <class LightBase>
void LightComponent<LightBase>::Disconnect() {
  if (m_space) m_space->GetHooks().RemoveComponentListener("Draw", m_self);
  if (Core::GameObject* owner = GetOwner()) owner->GetHooks().RemoveComponentListener("SelectedInEditor", m_self);
}

template <class LightBase>
void LightComponent<LightBase>::SubmitLight(const char* kind) {
  GraphicsMaster::GetInstance().Render(static_cast<LightBase*>(this), m_layerGuard.Check(m_layer, kind, *this));
}

// ---- Directional light

DirectionalLight::DirectionalLight(const DirectionalLight& other) : LightComponent(other) { CopyLight(other); }

DirectionalLight& DirectionalLight::operator=(const DirectionalLight& other) {
  LightComponent::operator=(other);
  CopyLight(other);
  return *this;
}

void DirectionalLight::CopyLight(const DirectionalLight& other) {
  m_worldMatrix = other.m_worldMatrix;
  m_vertexShader = other.m_vertexShader;
  m_pixelShader = other.m_pixelShader;
  m_shadowCamera = other.m_shadowCamera;
  m_castsShadow = other.m_castsShadow;
  m_data = other.m_data;
  m_depthWriter = other.m_depthWriter;
  m_shadowDrawer = other.m_shadowDrawer;
  m_shadowViewport = other.m_shadowViewport;
  m_debugDraw = other.m_debugDraw;
}

void DirectionalLight::Initialize() {
  Connect("DirectionalLight", Listener<&DirectionalLight::Submit>("DirectionalLight::Draw"),
          Listener<&DirectionalLight::OnSelectedInEditor>("DirectionalLight::OnSelectedInEditor"));
}

void DirectionalLight::Submit() {
  if (Core::Transform* transform = Transform("DirectionalLight")) {
    const Base::Mat3 rotation = transform->Rotation().ToMat3();
    m_data.m_direction = Base::Vec3(rotation(0, 2), rotation(1, 2), rotation(2, 2));
    if (m_castsShadow) {
      m_shadowCamera.SetPosition(transform->Translation());
      m_shadowCamera.LookAt(m_shadowCamera.GetPosition() + m_data.m_direction);
    }
  }
  if (m_debugDraw) {
    const Base::Vec3 from = m_shadowCamera.GetPosition();
    DebugDraw::GetInstance().DrawLine(from, from + m_data.m_direction * 10.0f, {0.0f, 1.0f, 0.0f});
  }
  SubmitLight("DirectionalLight");
}

void DirectionalLight::OnSelectedInEditor() {
  Core::Transform* transform = Transform("DirectionalLight");
  if (!transform) return;
  const Base::Vec3 p = transform->Translation(), d = m_data.m_direction * 50.0f;
  const Base::Vec3 offsets[3] = {{0, 0, 0}, {0, 1, 0}, {0, -1, 0}};
  for (const Base::Vec3& o : offsets) DebugDraw::GetInstance().DrawLine(p - d + o, p + d + o, {1.0f, 1.0f, 0.0f});
}

// ---- Point light

void PointLight::Initialize() {
  Connect("PointLight", Listener<&PointLight::Submit>("PointLight::Draw"),
          Listener<&PointLight::OnSelectedInEditor>("PointLight::OnSelectedInEditor"));
}

void PointLight::Submit() {
  if (Core::Transform* transform = Transform("PointLight")) m_data.m_position = transform->Translation();
  SubmitLight("PointLight");
}

void PointLight::OnSelectedInEditor() {
  Core::Transform* transform = Transform("PointLight");
  if (!transform) return;
  DebugDraw::GetInstance().DrawSphere(transform->Translation(), m_data.m_radius, Base::Vec3(0, 0, 0),
                                      Base::Vec3(1, 1, 0), false);
}

// ---- Spot light

void SpotLight::Initialize() {
  Connect("SpotLight", Listener<&SpotLight::Submit>("SpotLight::Draw"),
          Listener<&SpotLight::OnSelectedInEditor>("SpotLight::OnSelectedInEditor"));
}

void SpotLight::Submit() {
  if (Core::Transform* transform = Transform("SpotLight")) {
    m_data.m_position = transform->Translation();
    const Base::Mat3 rotation = transform->Rotation().ToMat3();
    m_data.m_direction = Base::Vec4(-rotation(0, 1), -rotation(1, 1), -rotation(2, 1), 0.0f);
  }
  m_data.m_innerCos = float(std::cos(double(Base::DegToRad(m_innerAngle)) * 0.5));
  m_data.m_outerCos = float(std::cos(double(Base::DegToRad(m_outerAngle)) * 0.5));
  SubmitLight("SpotLight");
}

void SpotLight::OnSelectedInEditor() {
  Core::Transform* transform = Transform("SpotLight");
  if (!transform) return;
  const float b = m_beamLength;
  const float outer = float(std::tan(double(Base::DegToRad(m_outerAngle * 0.5f)))) * b;
  const float inner = float(std::tan(double(Base::DegToRad(m_innerAngle * 0.5f)))) * b;
  const Base::Mat3 m = transform->Rotation().ToMat3();
  const Base::Vec3 centre = transform->Translation() + Base::Vec3(m(0, 1), m(1, 1), m(2, 1)) * (-0.5f * b);
  const Base::Mat4 rotation(m);
  DebugDraw& draw = DebugDraw::GetInstance();
  draw.DrawCone(centre, outer, b, rotation, {1.0f, 1.0f, 0.0f}, false);
  draw.DrawCone(centre, inner, b, rotation, {0.0f, 1.0f, 0.0f}, false);
}

}  // namespace Graphics

ORV_ON_LOAD {
  Core::RegisterComponentCreator<Graphics::DirectionalLight>(Core::ComponentType_DirectionalLight);
  Core::RegisterComponentCreator<Graphics::PointLight>(Core::ComponentType_PointLight);
  Core::RegisterComponentCreator<Graphics::SpotLight>(Core::ComponentType_SpotLight);
}

ORV_REFLECT_TYPE(Graphics::BaseDLight::DLightData, false) {
  using Data = Graphics::BaseDLight::DLightData;
  type.Field(&Data::m_diffuse, "m_diffuse");
  type.Field(&Data::m_shadowCol, "m_shadowCol");
}

ORV_REFLECT_TYPE(Graphics::BasePLight::PLightData, false) {
  using Data = Graphics::BasePLight::PLightData;
  type.Field(&Data::m_radius, "m_radius");
  type.Field(&Data::m_attenuation, "m_attenuation");
  type.Field(&Data::m_diffuse, "m_diffuse");
}

ORV_REFLECT_TYPE(Graphics::BaseSLight::SLightData, false) {
  using Data = Graphics::BaseSLight::SLightData;
  type.Field(&Data::m_attenuation, "m_attenuation");
  type.Field(&Data::m_diffuse, "m_diffuse");
  type.Field(&Data::m_falloff, "m_falloff");
}

ORV_REFLECT_CLASS(Graphics::DirectionalLight) {
  using Graphics::DirectionalLight;
  Core::InstallComponentOps(type.Record());
  type.Field(&DirectionalLight::m_data, "m_data");
  type.Field(&DirectionalLight::m_layer, "m_layer");
  Base::Function& drawDebug = type.Method<&DirectionalLight::DrawDebug>("DrawDebug");
  type.Field(&DirectionalLight::m_debugDraw, "m_debugDraw", &drawDebug, nullptr);
  type.Method<&DirectionalLight::SetDiffuse>("SetDiffuse", nullptr, "Sets the diffuse value of the light, a value is intensity");
  type.Method<&DirectionalLight::GetDiffuse>("GetDiffuse", nullptr, "Gets the diffuse value of the light");
  // The shadow colour's two help texts are crossed over, as scripts' documentation has always shown them.
  type.Method<&DirectionalLight::GetShadowColor>("GetShadowColor", nullptr, "Sets the color value of the shadow");
  type.Method<&DirectionalLight::SetShadowColor>("SetShadowColor", nullptr, "Gets the color value of the shadow");
  type.Method<&DirectionalLight::SetIntensity>("SetIntensity", nullptr, "Sets the intensity value of the light");
  type.Method<&DirectionalLight::GetIntensity>("GetIntensity", nullptr, "Gets the intensity value of the light");
  Base::Function& setCasts =
      type.Method<&DirectionalLight::SetCastsShadow>("SetCastsShadow", nullptr, "Turns Shadow Casting on and off");
  type.Field(&DirectionalLight::m_castsShadow, "m_castsShadow", &setCasts, nullptr);
  type.Method<&DirectionalLight::GetCastsShadow>("GetCastsShadow", nullptr, "Returns if the light is casting shadow");
}

ORV_REFLECT_CLASS(Graphics::PointLight) {
  using Graphics::PointLight;
  Core::InstallComponentOps(type.Record());
  type.Field(&PointLight::m_data, "m_data");
  type.Field(&PointLight::m_layer, "m_layer");
  type.Method<&PointLight::SetDiffuse>("SetDiffuse", nullptr, "Sets the diffuse value of the light");
  type.Method<&PointLight::GetDiffuse>("GetDiffuse", nullptr, "Gets the diffuse value of the light");
  type.Method<&PointLight::SetIntensity>("SetIntensity", nullptr, "Sets the intensity value of the light");
  type.Method<&PointLight::GetIntensity>("GetIntensity", nullptr, "Gets the intensity value of the light");
  type.Method<&PointLight::SetAtten>("SetAtten", nullptr, "Sets the attenuation values of the light");
  type.Method<&PointLight::GetAtten>("GetAtten", nullptr, "Gets the attenuation values of the light");
  type.Method<&PointLight::SetRadius>("SetRadius", nullptr, "Sets the radius value of the light");
  type.Method<&PointLight::GetRadius>("GetRadius", nullptr, "Gets the radius value of the light");
}

ORV_REFLECT_CLASS(Graphics::SpotLight) {
  using Graphics::SpotLight;
  Core::InstallComponentOps(type.Record());
  type.Field(&SpotLight::m_data, "m_data");
  type.Field(&SpotLight::m_layer, "m_layer");
  type.Field(&SpotLight::m_beamLength, "m_beamLength");
  type.Field(&SpotLight::m_innerAngle, "m_innerAngle");
  type.Field(&SpotLight::m_outerAngle, "m_outerAngle");
  type.Method<&SpotLight::SetDiffuse>("SetDiffuse", nullptr, "Sets the diffuse value of the light");
  type.Method<&SpotLight::GetDiffuse>("GetDiffuse", nullptr, "Gets the diffuse value of the light");
  type.Method<&SpotLight::SetIntensity>("SetIntensity", nullptr, "Sets the intensity value of the light");
  type.Method<&SpotLight::GetIntensity>("GetIntensity", nullptr, "Gets the intensity value of the light");
  type.Method<&SpotLight::SetAtten>("SetAtten", nullptr, "Sets the attenuation values of the light");
  type.Method<&SpotLight::GetAtten>("GetAtten", nullptr, "Gets the attenuation values of the light");
  type.Method<&SpotLight::SetInnerAngle>("SetInnerAngle", nullptr, "Sets the inner angle of the spotLight");
  type.Method<&SpotLight::SetOuterAngle>("SetOuterAngle", nullptr, "Sets the outer angle of the spotLight");
  type.Method<&SpotLight::GetInnerOuterAngles>("GetInnerOuterAngles", nullptr,
                                               "Gets the inner outer angles of the spotlight as a vec2");
  type.Method<&SpotLight::SetFalloff>("SetFalloff", nullptr, "Sets the falloff of the spotLight");
  type.Method<&SpotLight::GetFalloff>("GetFalloff", nullptr, "Gets the falloff of the spotLight");
  type.Method<&SpotLight::SetBeamLength>("SetBeamLength", nullptr, "Sets the beamLength of the spotLight");
  type.Method<&SpotLight::GetBeamLength>("GetBeamLength", nullptr, "Gets the beamLength of the spotLight");
}
