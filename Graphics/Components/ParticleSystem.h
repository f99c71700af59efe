// The particle system component: camera-facing textured quads emitted by an emitter shape at the
// object's Transform, aged, moved, scaled, tinted and rolled each logic update, and drawn as one
// instanced batch sorted far to near.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Base/Handle.h"
#include "Base/Matrix.h"
#include "Base/PBManager.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "Graphics/Components/ComponentSupport.h"
#include "Graphics/Components/EmitterShape.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/RenderableObject.h"

namespace Graphics {

class Shader;
class Tex2D;

// One drawn particle as the particle vertex shader reads it from input slot 1.
struct ParticleInstance {
  Base::Vec4 colour;  // 0 to 1
  Base::Mat4 world;   // transposed
};
static_assert(sizeof(ParticleInstance) == 80);

// The live particles' blocks. A copy is an empty pool of its own: particles are never shared.
class ParticlePool : public Base::PBManager {
 public:
  // The most particles one system's pool holds (100 pages of 1,000); larger counts are cut to it.
  static constexpr uint32_t kMostParticles = 100000;

  ParticlePool();
  ParticlePool(const ParticlePool&) : ParticlePool() {}
  ParticlePool& operator=(const ParticlePool&) {
    FreeAll();
    return *this;
  }
};

// A vector that a copy leaves empty: it holds pointers into its own system's pool, or records
// rebuilt from them.
template <class T>
class OwnVector : public std::vector<T> {
 public:
  OwnVector() = default;
  OwnVector(const OwnVector&) : std::vector<T>() {}
  OwnVector& operator=(const OwnVector&) {
    this->clear();
    return *this;
  }
};

class ParticleSystem : public Core::GameComponent, public RenderableObject {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_ParticleSystem;

  // The defaults, the pool, and the particle shaders looked up.
  ParticleSystem();
  // Settings only: the copy starts without particles.
  ParticleSystem(const ParticleSystem&) = default;
  // Gives every live particle back to the pool before the pool goes.
  ~ParticleSystem() override;
  ParticleSystem& operator=(const ParticleSystem& other);

  void Initialize() override;
  void Uninitialize() override;

  // The logic step: age, move and tint the live particles, then emit or wait for the next pulse.
  void Update(float dt);
  // Submits the system on its layer.
  void Submit();
  // Keeps a selected system moving while its space is paused.
  void FrameStep(float dt);
  void SelectInEditor();
  void DeselectInEditor();
  void EmitAllPerFrame() { m_emitRate = float(m_particleCount) * 60.0f; }

  // The instanced draw of the live particles, far to near from the camera being drawn through.
  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  // Particle systems keep their submission order.
  bool IsDrawnBefore(const RenderableObject*) const override { return false; }
  // Far first from `eye`; particles whose distance is not a number come last. Each distance is
  // worked out once per sort, not once per comparison.
  static void SortFarFirst(std::vector<Particle*>& list, const Base::Vec3& eye);

  bool GetActive() const { return m_isActive; }
  void SetActive(bool active);
  bool GetFollowTrans() const { return m_followTrans; }
  void SetFollowTrans(bool follow) { m_followTrans = follow; }
  int GetParticleCount() const { return int(m_particleCount); }
  // A negative count is refused; one above ParticlePool::kMostParticles becomes that. Both say so.
  void SetParticleCount(int count);
  unsigned GetEmitLimit() const { return m_emitLimit; }
  void SetEmitLimit(unsigned limit);
  float GetLimitPulse() const { return m_limitPulse; }
  void SetLimitPulse(float pulse);
  float GetEmissionRate() const { return m_emitRate; }
  // Particles a second; a rate that is not a finite number of at least 0 is refused with a warning.
  void SetEmissionRate(float rate);
  float GetLifeTime() const { return m_lifeTime; }
  void SetLifeTime(float v) { m_lifeTime = v; }
  float GetLifeVariance() const { return m_lifeTimeVariance; }
  void SetLifeVariance(float v) { m_lifeTimeVariance = v; }
  float GetDeathFade() const { return m_deathFade; }
  void SetDeathFade(float v) { m_deathFade = v; }
  float GetDeathFadeVariance() const { return m_deathFadeVariance; }
  void SetDeathFadeVariance(float v) { m_deathFadeVariance = v; }
  int32_t GetEmitterShape() const { return m_shapeType; }
  // 1 sphere, 2 circle, 4 hemisphere; anything else is the box (0).
  void SetEmitterShape(int32_t type);
  bool GetOnShell() const { return m_onShell; }
  void SetOnShell(bool v) { m_onShell = v; }
  bool GetRandomDirection() const { return m_isRandomDirection; }
  void SetRandomDirection(bool v) { m_isRandomDirection = v; }
  ShapeData GetShapeData() const { return m_shapeData; }
  void SetShapeData(ShapeData data) { m_shapeData = data; }
  float GetStartSpeed() const { return m_speedStart; }
  void SetStartSpeed(float v) { m_speedStart = v; }
  float GetSpeedVariance() const;
  void SetSpeedVariance(float v) { m_speedVariance = v; }
  Base::Vec3 GetVelocityStart() const { return m_velocityStart; }
  void SetVelocityStart(Base::Vec3 v) { m_velocityStart = v; }
  Base::Vec3 GetVelocityEnd() const { return m_velocityEnd; }
  void SetVelocityEnd(Base::Vec3 v) { m_velocityEnd = v; }
  Base::Vec3 GetVolocityInt() const { return m_velocityInt; }
  void SetVelocityInt(Base::Vec3 v) { m_velocityInt = v; }
  bool GetVelocityOverLifeTime() const { return m_velocityOverLifeTime; }
  void SetVelocityOverLifeTime(bool v) { m_velocityOverLifeTime = v; }
  Base::Vec2 GetScaleStart() const { return m_scaleStart; }
  void SetScaleStart(Base::Vec2 v) { m_scaleStart = v; }
  Base::Vec2 GetScaleStartVariance() const { return m_scaleStartVariance; }
  void SetScaleStartVariance(Base::Vec2 v) { m_scaleStartVariance = v; }
  Base::Vec2 GetScaleEnd() const { return m_scaleEnd; }
  void SetScaleEnd(Base::Vec2 v) { m_scaleEnd = v; }
  Base::Vec2 GetScaleEndVariance() const { return m_scaleEndVariance; }
  void SetScaleEndVariance(Base::Vec2 v) { m_scaleEndVariance = v; }
  bool GetMaintainScale() const { return m_maintainScale; }
  void SetMaintainScale(bool v) { m_maintainScale = v; }
  int32_t GetRotationType() const { return m_rotationType; }
  void SetRotationType(int v) { m_rotationType = v; }
  float GetRotationStart() const { return m_rotationStart; }
  void SetRotationStart(float v) { m_rotationStart = v; }
  float GetRotationStartVariance() const { return m_rotationStartVariance; }
  void SetRotationStartVariance(float v) { m_rotationStartVariance = v; }
  float GetRotationEnd() const { return m_rotationEnd; }
  void SetRotationEnd(float v) { m_rotationEnd = v; }
  float GetRotationEndVariance() const { return m_rotationEndVariance; }
  void SetRotationEndVariance(float v) { m_rotationEndVariance = v; }
  float GetRotationSpeed() const { return m_rotationSpeed; }
  void SetRotationSpeed(float v) { m_rotationSpeed = v; }
  float GetRotationSpeedVariance() const { return m_rotationSpeedVariance; }
  void SetRotationSpeedVariance(float v) { m_rotationSpeedVariance = v; }
  std::string GetTexture() const { return m_textureName; }
  // Takes the texture when the collection has or loads it; otherwise the one it had stays.
  void SetTexture(const std::string& name);
  Base::Vec4 GetStartColor() const { return m_colorStart; }
  void SetStartColor(Base::Vec4 c) { m_colorStart = Clamped(c); }
  Base::Vec4 GetColorStartVariance() const { return m_colorStartVariance; }
  void SetColorStartVariance(Base::Vec4 c) { m_colorStartVariance = Clamped(c); }
  Base::Vec4 GetColorEnd() const { return m_colorEnd; }
  void SetColorEnd(Base::Vec4 c) { m_colorEnd = Clamped(c); }
  Base::Vec4 GetColorEndVariance() const { return m_colorEndVariance; }
  void SetColorEndVariance(Base::Vec4 c) { m_colorEndVariance = Clamped(c); }
  bool GetInterpolateAlpha() const { return m_interpolateAlpha; }
  void SetInterpolateAlpha(bool v) { m_interpolateAlpha = v; }
  int32_t GetBlendState() const { return m_blendState; }
  void SetBlendState(int32_t v) { m_blendState = v; }
  CanvasLayer GetLayer() const { return m_layer; }
  // A layer outside 0 to 3 is refused with a warning.
  void SetLayer(CanvasLayer layer);

  // Fields after the two bases, in this order.
  ParticlePool m_particlePool;
  Base::Handle m_transform = Base::kNullHandle;
  bool m_isSelected = false;
  bool m_isActive = true;
  bool m_startActive = false;
  float m_limitPulse = 0.0f;
  bool m_followTrans = false;
  uint32_t m_particleCount = 100;
  uint32_t m_emitLimit = 0;
  float m_emitRate = 50.0f;
  int32_t m_shapeType = EmitterShape_Box;
  const EmitterShape* m_emitter = &EmitterShape::ForType(EmitterShape_Box);
  ShapeData m_shapeData;
  bool m_onShell = false;
  bool m_isRandomDirection = false;
  Base::Vec3 m_velocityStart{0, 0, 0};
  Base::Vec3 m_velocityEnd{0, 0, 0};
  Base::Vec3 m_velocityInt{0, 0, 0};
  bool m_velocityOverLifeTime = false;
  OwnVector<Particle*> m_drawList;
  OwnVector<ParticleInstance> m_instances;
  std::string m_textureName = "normal_4.png";
  uint32_t m_textureID = 0;
  Shader* m_vertexShader = nullptr;
  Shader* m_pixelShader = nullptr;
  CanvasLayer m_layer = CanvasLayer(1);
  int32_t m_blendState = 1;
  float m_lifeTime = 1.0f;
  float m_lifeTimeVariance = 0.0f;
  float m_deathFade = 0.0f;
  float m_deathFadeVariance = 0.0f;
  float m_speedStart = 1.0f;
  float m_speedVariance = 0.0f;
  Base::Vec2 m_scaleStart{1, 1};
  Base::Vec2 m_scaleStartVariance{0, 0};
  Base::Vec2 m_scaleEnd{1, 1};
  Base::Vec2 m_scaleEndVariance{0, 0};
  bool m_maintainScale = false;
  float m_rotationStart = 0.0f;
  float m_rotationStartVariance = 0.0f;
  float m_rotationEnd = 0.0f;
  float m_rotationEndVariance = 0.0f;
  float m_rotationSpeed = 0.0f;
  float m_rotationSpeedVariance = 0.0f;
  int32_t m_rotationType = 0;
  Base::Vec4 m_colorStart{255, 255, 255, 255};
  Base::Vec4 m_colorStartVariance{0, 0, 0, 0};
  Base::Vec4 m_colorEnd{255, 255, 255, 255};
  Base::Vec4 m_colorEndVariance{0, 0, 0, 0};
  bool m_interpolateAlpha = false;
  uint32_t m_emittedCount = 0;
  float m_pulseTimer = 0.0f;
  float m_emitAccumulator = 0.0f;

 private:
  static Base::Vec4 Clamped(Base::Vec4 c);
  void Clear();
  // The count and rate as a level file gave them, which no setter saw: each one out of range is logged
  // and replaced.
  void KeepValidEmission();
  // The texture the particles are drawn with: their own once it resolved, else "White.png"; null
  // when neither loads.
  Tex2D* DrawTexture();

  bool m_textureResolved = false;
  bool m_poolFullReported = false;  // a full pool is named once, not every step
  MissingReport m_missing;
  LayerGuard m_layerGuard{1};
};

}  // namespace Graphics
