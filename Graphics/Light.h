// The renderable base of the directional, point and spot lights: its kind orders the light pass.
#pragma once

#include "Graphics/BaseCamera.h"
#include "Graphics/DepthBuffer.h"
#include "Graphics/RenderableObject.h"
#include "Platform/Graphics/GpuTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Graphics {

class Shader;
namespace Renderer {
template <uint32_t N>
class RenderTarget;
}

class Light : public RenderableObject {
 public:
  enum Type : uint32_t { Directional = 0, Point = 1, Spot = 2 };

  explicit Light(Type type) : m_lightType(type) {}
  virtual ~Light() = default;

  // Lights sort after every other kind; among lights directional, then point, then spot.
  bool IsDrawnBefore(const RenderableObject* other) const override;
  // A light's world matrix is derived from its data, never set from outside.
  void SetWorldMatrix(const Base::Mat4&) override {}

  uint32_t GetLightType() const { return m_lightType; }
  // The record the light pass uploads, and its size in bytes.
  virtual const void* GetLightData() const = 0;
  virtual uint32_t GetLightDataSize() const = 0;

  uint32_t m_lightType;
  Shader* m_vertexShader = nullptr;  // of the light volume
  Shader* m_pixelShader = nullptr;   // of the lighting
};

// A light along one direction over the whole screen, with an optional shadow map.
class BaseDLight : public Light {
 public:
  // The record the light pass hands to the pixel shader's constant slot 1.
  struct DLightData {
    Base::Vec3 m_direction{0, 0, 1};
    float m_reserved = 0.0f;
    Base::Vec4 m_diffuse{1, 1, 1, 1};  // colour, intensity in w
    Base::Vec4 m_shadowCol{0, 0, 0, 1};
  };

  static constexpr uint32_t kShadowMapSize = 4096;

  BaseDLight();
  ~BaseDLight() override;

  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  const void* GetLightData() const override { return &m_data; }
  uint32_t GetLightDataSize() const override { return sizeof(DLightData); }
  // The shadow map as the output with its depth buffer and viewport, and the depth writer.
  void BeginShadowPass();
  // The shadow map's texture (depth under the light's camera, 0 where nothing was drawn).
  Platform::GpuTexture2D* GetShadowTexture() const;

  BaseCamera m_shadowCamera;
  bool m_castsShadow = false;
  DLightData m_data;
  std::unique_ptr<Renderer::RenderTarget<1>> m_shadowMap;
  Shader* m_depthWriter = nullptr;
  Shader* m_shadowDrawer = nullptr;
  DepthBuffer m_shadowDepth;
  Platform::GpuViewport m_shadowViewport{};
  // What the last shadow pass may have drawn, in texels, and the views it drew through: outside it the
  // map and its depth still hold their clear values, so the next pass clears that part alone.
  Platform::GpuRect m_shadowDrawn{0, 0, int32_t(kShadowMapSize), int32_t(kShadowMapSize)};
  uint64_t m_shadowDrawnSerials[2] = {};
};

// A light within a sphere around a point.
class BasePLight : public Light {
 public:
  struct PLightData {
    Base::Vec3 m_position{0, 0, 0};
    float m_radius = 1.0f;
    Base::Vec3 m_attenuation{1, 1, 1};
    Base::Vec4 m_diffuse{1, 1, 1, 1};  // colour, intensity in w
  };

  BasePLight();

  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  // The light volume: the unit sphere moved to the position and scaled to the radius.
  Base::Mat4* GetWorldMatrix() override;
  const void* GetLightData() const override { return &m_data; }
  uint32_t GetLightDataSize() const override { return sizeof(PLightData); }

  PLightData m_data;
};

// A light within a cone from a point along a direction.
class BaseSLight : public Light {
 public:
  struct SLightData {
    Base::Vec3 m_position{0, 0, 0};
    float m_innerCos = 0.0f;
    Base::Vec4 m_direction{0, 0, 1, 0};
    Base::Vec3 m_attenuation{1, 1, 1};
    float m_outerCos = 1.0f;
    Base::Vec4 m_diffuse{1, 1, 1, 1};  // colour, intensity in w
    float m_falloff = 1.0f;
  };

  BaseSLight();

  void Draw(const void* instanceData, uint32_t instanceCount, bool depthOnly) override;
  // The light volume: the unit cone turned from -y onto the direction, beam length long.
  Base::Mat4* GetWorldMatrix() override;
  const void* GetLightData() const override { return &m_data; }
  uint32_t GetLightDataSize() const override { return sizeof(SLightData); }

  SLightData m_data;
  float m_beamLength = 1.0f;
  float m_innerAngle = 35.0f;  // degrees
  float m_outerAngle = 45.0f;  // degrees
};

// The records are read by the light shaders byte for byte.
static_assert(sizeof(BaseDLight::DLightData) == 48);
static_assert(sizeof(BasePLight::PLightData) == 44);
static_assert(sizeof(BaseSLight::SLightData) == 68);
static_assert(offsetof(BaseSLight::SLightData, m_direction) == 16 && offsetof(BaseSLight::SLightData, m_diffuse) == 48);

// The light volumes' meshes, the point-light sphere and the spot-light cone, shared by every light
// of their kind. The renderer builds them with its own meshes when it is set up, before any light
// exists (and again with a later set-up); drawing a light never builds them.
void BuildLightVolumes();
// Whether both are still the meshes their ids name (an emptied mesh manager has lost them).
bool LightVolumesCurrent();
// The mesh id of each volume, or uint32_t(-1) while it is not built.
uint32_t GetPointLightMesh();
uint32_t GetSpotLightMesh();

}  // namespace Graphics
