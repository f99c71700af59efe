// The particle system component: its logic step, editor handling, settings, the far-to-near
// instanced draw, and its registration.
#include "Graphics/Components/ParticleSystem.h"

#include <algorithm>
#include <utility>
#include <cmath>
#include <limits>

#include "Base/MathUtil.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/AssetTypeRegistry.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Device.h"
#include "Graphics/GPUBuffer.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Log.h"
#include "Graphics/Mesh.h"
#include "Graphics/ProceduralMeshes.h"
#include "Graphics/RenderCore.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"
#include "Graphics/Texture.h"

namespace Graphics {

namespace {

constexpr const char* kKind = "ParticleSystem";
constexpr const char* kFallbackTexture = "White.png";

Base::PBManager::Config PoolConfig() {
  Base::PBManager::Config config;
  config.objectsPerPage = 1000;
  config.maxPages = Graphics::ParticlePool::kMostParticles / config.objectsPerPage;
  config.debug = false;
  config.padBytes = 4;
  config.headerKind = Base::PBManager::Header_None;
  config.alignment = 4;
  return config;
}

}  // namespace

ParticlePool::ParticlePool() : Base::PBManager(sizeof(Particle), PoolConfig()) {}

ParticleSystem::ParticleSystem() {
  const char* names[2] = {"Particle_VS", "Particle_PS"};
  Shader** slots[2] = {&m_vertexShader, &m_pixelShader};
  for (int i = 0; i < 2; ++i) {
    *slots[i] = FindLoadedShader(names[i]);
    if (!*slots[i]) {
      GFX_LOG(Error, "Could not find particle pixel shader");
      GFX_LOG(Error, "Particle shader \"%s\" is missing: particle systems are not drawn", names[i]);
    }
  }
}

// A pool destroyed with blocks still handed out reports them as lost memory.
ParticleSystem::~ParticleSystem() { Clear(); }

ParticleSystem& ParticleSystem::operator=(const ParticleSystem& other) {
  Assign(other);
  Clear();
  m_emitter = other.m_emitter;
  m_shapeData = other.m_shapeData;
  m_textureID = other.m_textureID;
  m_textureResolved = other.m_textureResolved;
  m_vertexShader = other.m_vertexShader;
  m_pixelShader = other.m_pixelShader;
  return *this;
}

void ParticleSystem::Initialize() {
  KeepValidEmission();
  if (m_startActive) m_isActive = true;
  Core::GameObject* owner = ResolveOwner(*this, kKind, m_missing);
  if (owner) m_transform = owner->m_components[Core::ComponentType_Transform];
  SetEmitterShape(m_shapeType);
  if (m_space) {
    Core::Hooks& hooks = m_space->GetHooks();
    hooks.AddComponentListener("LogicUpdate", m_self, Listener<&ParticleSystem::Update>("ParticleSystem::Update"));
    hooks.AddComponentListener("Draw", m_self, Listener<&ParticleSystem::Submit>("ParticleSystem::Draw"));
    hooks.AddComponentListener("FrameUpdate", m_self, Listener<&ParticleSystem::FrameStep>("ParticleSystem::FrameStep"));
  }
  if (owner) {
    owner->GetHooks().AddComponentListener("SelectedInEditor", m_self,
                                           Listener<&ParticleSystem::SelectInEditor>("ParticleSystem::SelectInEditor"));
    owner->GetHooks().AddComponentListener(
        "DeselectedInEditor", m_self, Listener<&ParticleSystem::DeselectInEditor>("ParticleSystem::DeselectInEditor"));
  }
  SetTexture(m_textureName);
}

void ParticleSystem::Uninitialize() {
  if (Core::GameObject* owner = GetOwner()) {
    owner->GetHooks().RemoveComponentListener("DeselectedInEditor", m_self);
    owner->GetHooks().RemoveComponentListener("SelectedInEditor", m_self);
  }
  if (m_space) {
    Core::Hooks& hooks = m_space->GetHooks();
    hooks.RemoveComponentListener("FrameUpdate", m_self);
    hooks.RemoveComponentListener("Draw", m_self);
    hooks.RemoveComponentListener("LogicUpdate", m_self);
  }
}

void ParticleSystem::Clear() {
  m_particlePool.FreeAll();
  m_drawList.clear();
}

void ParticleSystem::Update(float dt) {
  m_drawList.clear();
  std::vector<Particle*> expired;
  m_particlePool.ForEachBlock([&](void* block) {
    auto* p = static_cast<Particle*>(block);
    p->life -= dt;
    if (p->life <= 0.0f) expired.push_back(p);
  });
  for (Particle* p : expired) m_particlePool.Free(p);
  m_particlePool.ForEachBlock([&](void* block) {
    Particle& p = *static_cast<Particle*>(block);
    const float f = p.life / p.lifeTime, g = (p.lifeTime - p.life) / p.lifeTime;
    const Base::Vec3 v = m_velocityOverLifeTime ? p.velocityStart * f + p.velocityEnd * g : Base::Vec3(0, 0, 0);
    p.position += (p.direction * p.speed) * dt + (v + p.velocity) * dt;
    p.scale = p.scaleStart * f + p.scaleEnd * g;
    p.color.x = p.colorStart.x * f + p.colorEnd.x * g;
    p.color.y = p.colorStart.y * f + p.colorEnd.y * g;
    p.color.z = p.colorStart.z * f + p.colorEnd.z * g;
    p.color.w = m_interpolateAlpha ? p.colorStart.w * f + p.colorEnd.w * g : 255.0f;
    if (p.deathFade >= p.life) p.color.w *= p.life / p.deathFade;
    switch (m_rotationType) {
      case 0: p.rotation = 0.0f; break;
      case 1:
      case 3: p.rotation += p.rotationSpeed * dt; break;
      case 2:
        if ((p.rotationSpeed > 0.0f && p.rotationEnd > p.rotation) || (p.rotationSpeed <= 0.0f && p.rotation > p.rotationEnd))
          p.rotation += p.rotationSpeed * dt;
        break;
      default: break;
    }
    m_drawList.push_back(&p);
  });
  if (m_isActive) {
    // Without a Transform there is nowhere to emit from.
    if (Core::Transform* transform = ResolveTransform(*this, m_transform, kKind, m_missing)) {
      if (!Emit(*this, dt, *transform) && !m_poolFullReported) {
        m_poolFullReported = true;
        GFX_LOG(Warning, "ParticleSystem %u: no room for another particle after %u; emission waits for room",
                uint32_t(m_self), m_particlePool.GetObjectsInUse());
      }
    }
  } else if (m_limitPulse > 0.0f && m_emitLimit != 0) {
    m_pulseTimer += dt;
    if (m_pulseTimer >= m_limitPulse) {
      m_isActive = true;
      m_emittedCount = 0;
      m_pulseTimer = 0.0f;
    }
  }
}

void ParticleSystem::Submit() {
  GraphicsMaster::GetInstance().Render(static_cast<RenderableObject*>(this), m_layerGuard.Check(m_layer, kKind, *this));
}

void ParticleSystem::FrameStep(float dt) {
  if (m_isSelected && m_space && m_space->Paused()) Update(dt);
}

void ParticleSystem::SelectInEditor() {
  m_isSelected = true;
  Core::Transform* transform = ResolveTransform(*this, m_transform, kKind, m_missing);
  if (!transform) return;
  const Base::Vec3 at = transform->Translation();
  const Base::Mat4 rotation(transform->Rotation().ToMat3());
  const Base::Vec3 red{1.0f, 0.0f, 0.0f};
  DebugDraw& draw = DebugDraw::GetInstance();
  switch (m_shapeType) {
    case EmitterShape_Box: draw.DrawCube(at, m_shapeData.dimension, rotation, red, false); break;
    case EmitterShape_Sphere:
    case EmitterShape_Hemisphere: draw.DrawSphere(at, m_shapeData.radius, rotation, red, false); break;
    case EmitterShape_Circle: draw.DrawTorus(at, m_shapeData.radius, 0.0f, rotation, red, false); break;
    default: break;
  }
}

void ParticleSystem::DeselectInEditor() {
  m_isSelected = false;
  if (!m_space || !m_space->Paused()) return;
  Clear();
  m_isActive = true;
  m_emittedCount = 0;
  m_emitAccumulator = 0.0f;
}

void ParticleSystem::SetActive(bool active) {
  m_isActive = active;
  m_emittedCount = 0;
  m_emitAccumulator = 0.0f;
}

void ParticleSystem::SetParticleCount(int count) {
  if (count < 0) {
    GFX_LOG(Warning, "ParticleSystem::SetParticleCount needs a count of at least 0; left unchanged.");
    return;
  }
  m_particleCount = uint32_t(count);
  if (m_particleCount > ParticlePool::kMostParticles) {
    GFX_LOG(Warning, "ParticleSystem::SetParticleCount: a system holds at most %u particles; the count is %u.",
            ParticlePool::kMostParticles, ParticlePool::kMostParticles);
    m_particleCount = ParticlePool::kMostParticles;
  }
  Clear();
}

void ParticleSystem::SetEmissionRate(float rate) {
  if (!(rate >= 0.0f) || !std::isfinite(rate)) {
    GFX_LOG(Warning, "ParticleSystem::SetEmissionRate needs a finite rate of at least 0; left unchanged.");
    return;
  }
  m_emitRate = rate;
}

void ParticleSystem::KeepValidEmission() {
  // The file holds the count unsigned: a negative one written there reads back above every int.
  if (m_particleCount > uint32_t(std::numeric_limits<int32_t>::max())) {
    GFX_LOG(Warning, "ParticleSystem %u: its m_particleCount is negative; it keeps 100", uint32_t(m_self));
    m_particleCount = 100;
  } else if (m_particleCount > ParticlePool::kMostParticles) {
    GFX_LOG(Warning, "ParticleSystem %u: its m_particleCount %u is more than a system holds; it keeps %u",
            uint32_t(m_self), m_particleCount, ParticlePool::kMostParticles);
    m_particleCount = ParticlePool::kMostParticles;
  }
  if (!(m_emitRate >= 0.0f) || !std::isfinite(m_emitRate)) {
    GFX_LOG(Warning, "ParticleSystem %u: its m_emitRate is not a finite rate of at least 0; it keeps 50",
            uint32_t(m_self));
    m_emitRate = 50.0f;
  }
}

void ParticleSystem::SetEmitLimit(unsigned limit) {
  m_emitLimit = limit;
  m_emittedCount = 0;
}

void ParticleSystem::SetLimitPulse(float pulse) {
  if (pulse >= 0.0f) m_limitPulse = pulse;
}

void ParticleSystem::SetEmitterShape(int32_t type) {
  const bool named = type == EmitterShape_Sphere || type == EmitterShape_Circle || type == EmitterShape_Hemisphere;
  m_shapeType = named ? type : EmitterShape_Box;
  m_emitter = &EmitterShape::ForType(m_shapeType);
}

float ParticleSystem::GetSpeedVariance() const { return std::fabs(m_speedVariance); }

void ParticleSystem::SetTexture(const std::string& name) {
  m_textureName = name;
  Base::Resources<Tex2D>& textures = Base::Resources<Tex2D>::Instance();
  if (!textures.GetResourceByName(name)) return;
  const int32_t id = textures.GetResourceID(name);
  if (id < 0) return;
  m_textureID = uint32_t(id);
  m_textureResolved = true;
}

void ParticleSystem::SetLayer(CanvasLayer layer) {
  CanvasLayer checked = layer;
  m_layerGuard.Check(checked, kKind, *this);
  m_layer = checked;
}

Base::Vec4 ParticleSystem::Clamped(Base::Vec4 c) {
  return {Base::Clamp(c.x, 0, 255), Base::Clamp(c.y, 0, 255), Base::Clamp(c.z, 0, 255), Base::Clamp(c.w, 0, 255)};
}

void ParticleSystem::SortFarFirst(std::vector<Particle*>& list, const Base::Vec3& eye) {
  thread_local std::vector<std::pair<float, Particle*>> keyed;
  keyed.clear();
  keyed.reserve(list.size());
  for (Particle* particle : list) {
    const float d = (particle->position - eye).LengthSquared();
    keyed.emplace_back(std::isnan(d) ? -std::numeric_limits<float>::infinity() : d, particle);
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < keyed.size(); ++i) list[i] = keyed[i].second;
}

Tex2D* ParticleSystem::DrawTexture() {
  Base::Resources<Tex2D>& textures = Base::Resources<Tex2D>::Instance();
  if (m_textureResolved)
    if (Tex2D* texture = textures.GetResourceById(m_textureID)) return texture;
  return textures.GetResourceByName(kFallbackTexture);
}

void ParticleSystem::Draw(const void*, uint32_t, bool) {
  // Without both shaders and a texture the quads cannot be drawn; the constructor named what is missing.
  Tex2D* texture = DrawTexture();
  Mesh* quad = Base::Resources<Mesh>::Instance().GetResourceById(GetQuadMesh());
  if (!m_vertexShader || !m_pixelShader || !quad) return;
  if (!texture) {
    m_missing.Miss(kKind, *this, "texture (nor \"White.png\")");
    return;
  }
  Platform::GpuContext* context = GetDevice()->m_context;
  context->SetPrimitiveTopology(Platform::GpuTopology::TriangleList);
  m_instances.clear();
  BaseCamera* camera = RenderCore::GetCurrentCamera();
  if (!camera) return;
  const Base::Vec3 eye = camera->GetPosition();
  Base::Vec3 axis = eye - camera->m_lookPoint;
  axis.Normalize();
  SortFarFirst(m_drawList, eye);
  // The view's rotation alone turns the quad to the camera: the row-vector view's 3x3, multiplying a
  // column vector, takes the camera's right and up axes into the world. Its translation row would
  // reach the corner's w and move each particle by an amount that depends on where the camera is.
  Base::Mat4 facing = camera->GetViewMatrix();
  facing.m[12] = facing.m[13] = facing.m[14] = 0.0f;
  Base::Vec3 origin(0, 0, 0);
  if (m_followTrans)
    if (Core::Transform* transform = ResolveTransform(*this, m_transform, kKind, m_missing)) origin = transform->Translation();
  for (const Particle* p : m_drawList) {
    const Base::Mat4 roll = Base::Mat4::BuildRotation(-p->rotation, axis);
    const Base::Mat4 world = Base::Mat4::BuildTranslation(p->position + origin) * roll * facing *
                             Base::Mat4::BuildScale(p->scale.x, p->scale.y, 1.0f);
    m_instances.push_back({p->color / 255.0f, world.Transposed()});
  }
  RenderCore& core = RenderCore::GetInstance();
  core.SetBlendState(m_blendState);
  texture->Bind(1);
  quad->BindBuffers(false);
  m_vertexShader->Bind();
  m_pixelShader->Bind();
  const uint32_t n = uint32_t(m_instances.size());
  GPUBuffer* stream = core.GetSharedVertexStream();
  stream->Update(m_instances.data(), n * uint32_t(sizeof(ParticleInstance)), sizeof(ParticleInstance), 1, 0);
  stream->Bind(true);
  if (n == 1)
    context->DrawIndexed(quad->GetIndexCount(), 0, 0);
  else
    context->DrawIndexedInstanced(quad->GetIndexCount(), n, 0, 0, 0);
}

}  // namespace Graphics

ORV_ON_LOAD { Core::RegisterComponentCreator<Graphics::ParticleSystem>(Core::ComponentType_ParticleSystem); }

ORV_REFLECT_TYPE(Graphics::ShapeData, false) {
  using Graphics::ShapeData;
  type.OpenGroup("Box");
  type.Field(&ShapeData::dimension, "dimension");
  type.CloseGroup();
  type.OpenGroup("Spherical/Circle");
  type.Field(&ShapeData::radius, "radius");
  type.Field(&ShapeData::uniform, "uniform");
  type.CloseGroup();
}

namespace {

using Graphics::ParticleSystem;

bool g_firstAccessor = true;

// A member with its script getter and setter; the first pair of the class carries the two help texts
// that scripts' documentation has always shown, every later one empty texts.
template <auto Getter, auto Setter, class M>
void Accessed(Base::Reflection::TypeBuilder<ParticleSystem>& type, M ParticleSystem::*field, const char* name,
              const char* getterName, const char* setterName, Base::Reflection::TypeInfo* memberType = nullptr,
              const char* description = nullptr) {
  const char* getterText = g_firstAccessor ? "Gets the" : "";
  const char* setterText = g_firstAccessor ? "Sets the" : "";
  g_firstAccessor = false;
  Base::Function& getter = type.Method<Getter>(getterName, nullptr, getterText);
  Base::Function& setter = type.Method<Setter>(setterName, nullptr, setterText);
  Base::Reflection::Member* member =
      memberType ? type->AddMember(memberType, name, Base::Reflection::FieldOffset<ParticleSystem>(field), &setter, &getter)
                 : type.Field(field, name, &setter, &getter);
  if (member && description) member->label = description;
}

}  // namespace

#define ORV_ACCESSED(field, Getter, Setter, ...)                                                               \
  Accessed<&ParticleSystem::Getter, &ParticleSystem::Setter>(type, &ParticleSystem::field, #field, #Getter, #Setter \
                                                             __VA_OPT__(, ) __VA_ARGS__)

ORV_REFLECT_CLASS(Graphics::ParticleSystem) {
  Core::InstallComponentOps(type.Record());
  // The three value types are registered at start-up; registering them here first gives the members
  // their records whatever the order.
  Graphics::RegisterParticleEnumTypes();
  Base::Reflection::TypeRegistry& registry = Base::Reflection::TypeRegistry::GetInstance();
  Base::Reflection::TypeInfo* shapeType = registry.FindType("EmitterShapeType");
  Base::Reflection::TypeInfo* rotationType = registry.FindType("RotationType");
  Base::Reflection::TypeInfo* blendType = registry.FindType("ParticleBlendState");

  type.Field(&ParticleSystem::m_startActive, "m_startActive");
  ORV_ACCESSED(m_isActive, GetActive, SetActive);
  ORV_ACCESSED(m_followTrans, GetFollowTrans, SetFollowTrans);
  ORV_ACCESSED(m_particleCount, GetParticleCount, SetParticleCount, nullptr, "Max Particles");
  ORV_ACCESSED(m_emitLimit, GetEmitLimit, SetEmitLimit);
  ORV_ACCESSED(m_limitPulse, GetLimitPulse, SetLimitPulse);
  ORV_ACCESSED(m_emitRate, GetEmissionRate, SetEmissionRate, nullptr, "Emit Per Second");
  type.Button("Emit All In Frame", type.Method<&ParticleSystem::EmitAllPerFrame>("EmitAllPerFrame"));
  type.OpenGroup("Life Time");
  ORV_ACCESSED(m_lifeTime, GetLifeTime, SetLifeTime);
  ORV_ACCESSED(m_lifeTimeVariance, GetLifeVariance, SetLifeVariance);
  ORV_ACCESSED(m_deathFade, GetDeathFade, SetDeathFade);
  ORV_ACCESSED(m_deathFadeVariance, GetDeathFadeVariance, SetDeathFadeVariance);
  type.CloseGroup();
  type.OpenGroup("Shape");
  ORV_ACCESSED(m_shapeType, GetEmitterShape, SetEmitterShape, shapeType);
  ORV_ACCESSED(m_onShell, GetOnShell, SetOnShell);
  ORV_ACCESSED(m_isRandomDirection, GetRandomDirection, SetRandomDirection, nullptr, "Random Direction");
  ORV_ACCESSED(m_shapeData, GetShapeData, SetShapeData);
  type.CloseGroup();
  type.OpenGroup("Speed and Direction");
  ORV_ACCESSED(m_speedStart, GetStartSpeed, SetStartSpeed);
  ORV_ACCESSED(m_speedVariance, GetSpeedVariance, SetSpeedVariance);
  ORV_ACCESSED(m_velocityStart, GetVelocityStart, SetVelocityStart);
  ORV_ACCESSED(m_velocityEnd, GetVelocityEnd, SetVelocityEnd);
  ORV_ACCESSED(m_velocityInt, GetVolocityInt, SetVelocityInt, nullptr, "Initial Velocity");
  ORV_ACCESSED(m_velocityOverLifeTime, GetVelocityOverLifeTime, SetVelocityOverLifeTime, nullptr, "Vel. Over Time");
  type.CloseGroup();
  type.OpenGroup("Scale");
  ORV_ACCESSED(m_scaleStart, GetScaleStart, SetScaleStart);
  ORV_ACCESSED(m_scaleStartVariance, GetScaleStartVariance, SetScaleStartVariance);
  ORV_ACCESSED(m_scaleEnd, GetScaleEnd, SetScaleEnd);
  ORV_ACCESSED(m_scaleEndVariance, GetScaleEndVariance, SetScaleEndVariance);
  ORV_ACCESSED(m_maintainScale, GetMaintainScale, SetMaintainScale, nullptr, "Maintain Initial Scale");
  type.CloseGroup();
  type.OpenGroup("Rotation");
  ORV_ACCESSED(m_rotationType, GetRotationType, SetRotationType, rotationType);
  ORV_ACCESSED(m_rotationStart, GetRotationStart, SetRotationStart);
  ORV_ACCESSED(m_rotationStartVariance, GetRotationStartVariance, SetRotationStartVariance);
  ORV_ACCESSED(m_rotationEnd, GetRotationEnd, SetRotationEnd);
  ORV_ACCESSED(m_rotationEndVariance, GetRotationEndVariance, SetRotationEndVariance);
  ORV_ACCESSED(m_rotationSpeed, GetRotationSpeed, SetRotationSpeed);
  ORV_ACCESSED(m_rotationSpeedVariance, GetRotationSpeedVariance, SetRotationSpeedVariance);
  type.CloseGroup();
  type.OpenGroup("Texture/Color");
  ORV_ACCESSED(m_textureName, GetTexture, SetTexture);
  ORV_ACCESSED(m_colorStart, GetStartColor, SetStartColor);
  ORV_ACCESSED(m_colorStartVariance, GetColorStartVariance, SetColorStartVariance);
  ORV_ACCESSED(m_colorEnd, GetColorEnd, SetColorEnd);
  ORV_ACCESSED(m_colorEndVariance, GetColorEndVariance, SetColorEndVariance);
  ORV_ACCESSED(m_interpolateAlpha, GetInterpolateAlpha, SetInterpolateAlpha);
  ORV_ACCESSED(m_blendState, GetBlendState, SetBlendState, blendType);
  ORV_ACCESSED(m_layer, GetLayer, SetLayer);
  type.CloseGroup();
}
