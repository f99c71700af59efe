// The renderable base of the directional, point and spot lights: its kind orders the light pass.
#pragma once

#include "Graphics/RenderableObject.h"

#include <cstdint>

namespace Graphics {

class Shader;

class Light : public RenderableObject {
 public:
  enum Type : uint32_t { Directional = 0, Point = 1, Spot = 2 };

  explicit Light(Type type) : m_lightType(type) {}

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

}  // namespace Graphics
