// The render order of lights, and the three light kinds: their shaders, volumes and draws.
#include "Graphics/Light.h"

#include "Base/MathUtil.h"
#include "Graphics/Device.h"
#include "Graphics/Frame.h"
#include "Graphics/GPUBuffer.h"
#include "Graphics/Log.h"
#include "Graphics/Mesh.h"
#include "Graphics/ProceduralMeshes.h"
#include "Graphics/RenderCore.h"
#include "Graphics/RenderTarget.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"

#include <cmath>
#include <cstring>

namespace Graphics {

namespace {

constexpr uint32_t kShadowMapFormat = 41;    // R32_FLOAT
constexpr uint32_t kShadowDepthFormat = 45;  // D24_UNORM_S8_UINT

// The two light volumes, with the mesh each id named when it was built: an id alone could name
// another mesh once the mesh manager was emptied.
struct VolumeMesh {
  uint32_t id = 0;
  const void* mesh = nullptr;
};
VolumeMesh g_pointMesh, g_spotMesh;

VolumeMesh Built(uint32_t id) {
  const Base::ResourceCollection::Entry* entry = Base::Resources<Mesh>::Instance().GetEntry(id);
  return {id, entry ? entry->resource : nullptr};
}

bool Current(const VolumeMesh& volume) {
  const Base::ResourceCollection::Entry* entry = Base::Resources<Mesh>::Instance().GetEntry(volume.id);
  return volume.mesh && entry && entry->resource == volume.mesh;
}

// The eye position of the camera being drawn through, to the per-light pixel constants.
void UploadEye(GPUBuffer* lightBuffer) {
  BaseCamera* camera = RenderCore::GetCurrentCamera();
  const Base::Vec3 eye = camera ? camera->GetPosition() : Base::Vec3(0, 0, 0);
  lightBuffer->Update(&eye, sizeof eye, sizeof eye, 0, 0);
  lightBuffer->Bind(false);
}

// The instanced volume draw shared by point and spot lights: per-light matrices in input slot 2.
void DrawVolume(Light& light, const VolumeMesh& volume, const void* matrices, uint32_t count) {
  if (!Current(volume)) return;
  RenderCore& core = RenderCore::GetInstance();
  Mesh* mesh = Base::Resources<Mesh>::Instance().GetResourceById(volume.id);
  if (!mesh || !light.m_vertexShader || !light.m_pixelShader || !matrices || count == 0) return;
  UploadEye(core.GetSharedLightBuffer());
  light.m_vertexShader->Bind();
  light.m_pixelShader->Bind();
  mesh->BindBuffers(false);
  GPUBuffer* stream = core.GetSharedVertexStream();
  stream->Update(matrices, count * 64, 64, 2, 0);
  stream->Bind(true);
  Platform::GpuContext* context = GetDevice()->m_context;
  if (count == 1)
    context->DrawIndexed(mesh->GetIndexCount(), 0, 0);
  else
    context->DrawIndexedInstanced(mesh->GetIndexCount(), count, 0, 0, 0);
}

}  // namespace

bool Light::IsDrawnBefore(const RenderableObject* other) const {
  const auto* light = dynamic_cast<const Light*>(other);
  return light && m_lightType < light->m_lightType;
}

void BuildLightVolumes() {
  // Drawn from inside, so that a camera within a light's reach still sees its volume.
  g_pointMesh = Built(CreateSphereMesh(1.0f, 16, true));
  g_spotMesh = Built(CreateConeMesh(1.0f, 1.0f, 32, true));
}

bool LightVolumesCurrent() { return Current(g_pointMesh) && Current(g_spotMesh); }

uint32_t GetPointLightMesh() { return Current(g_pointMesh) ? g_pointMesh.id : uint32_t(-1); }

uint32_t GetSpotLightMesh() { return Current(g_spotMesh) ? g_spotMesh.id : uint32_t(-1); }

// --- Directional ------------------------------------------------------------------------------------

BaseDLight::BaseDLight()
    : Light(Directional),
      m_shadowMap(std::make_unique<Renderer::RenderTarget<1>>(kShadowMapFormat, kShadowMapSize, kShadowMapSize)),
      m_shadowDepth(kShadowDepthFormat, kShadowMapSize, kShadowMapSize) {
  if (!(m_pixelShader = FindLoadedShader("DirectionalLight_PS"))) {
    GFX_LOG(Error, "Could not find directional light pixel shader");
    return;
  }
  if (!(m_vertexShader = FindLoadedShader("ObjectSpace_VS"))) {
    GFX_LOG(Error, "Could not find directional light Vertex shader");
    return;
  }
  if (!(m_depthWriter = FindLoadedShader("Depth_Map_PS"))) {
    GFX_LOG(Error, "Could not find directional light shadow writer");
    return;
  }
  if (!(m_shadowDrawer = FindLoadedShader("DirectionalShadow_PS"))) {
    GFX_LOG(Error, "Could not find directional light shadow drawer");
    return;
  }
  m_shadowCamera.m_isOrtho = true;
  m_shadowCamera.m_orthoCentered = true;
  m_shadowCamera.SetOrthoSize(250.0f, 250.0f);
  m_shadowViewport = {0, 0, float(kShadowMapSize), float(kShadowMapSize), 0, 1};
}

BaseDLight::~BaseDLight() = default;

Platform::GpuTexture2D* BaseDLight::GetShadowTexture() const { return m_shadowMap->GetTexture(0); }

void BaseDLight::BeginShadowPass() {
  m_shadowMap->BindAsRenderTargets(&m_shadowDepth);
  GetDevice()->m_context->SetViewports(1, &m_shadowViewport);
  if (m_depthWriter) m_depthWriter->Bind();
}

void BaseDLight::Draw(const void*, uint32_t, bool) {
  RenderCore& core = RenderCore::GetInstance();
  Mesh* quad = Base::Resources<Mesh>::Instance().GetResourceById(core.GetMeshID(RenderCore::QuadMesh));
  if (!quad || !m_vertexShader || !m_pixelShader) return;
  m_vertexShader->Bind();
  Shader* pixelShader = m_pixelShader;
  GPUBuffer* lightBuffer = core.GetSharedLightBuffer();
  BaseCamera* camera = RenderCore::GetCurrentCamera();
  Frame* frame = RenderCore::GetCurrentFrame();
  if (m_castsShadow && m_shadowDrawer && camera && frame) {
    core.SetSamplerState(1);
    // Eye, then the light camera's view and projection (transposed), then the viewer's view as stored.
    struct ShadowRecord {
      Base::Vec3 eye;
      float reserved;
      Base::Mat4 shadowView;
      Base::Mat4 shadowProjection;
      Base::Mat4 cameraView;
    } record{camera->GetPosition(), 0.0f, m_shadowCamera.GetViewMatrix().Transposed(),
             m_shadowCamera.GetProjectionMatrix().Transposed(), camera->GetViewMatrix()};
    static_assert(sizeof(ShadowRecord) == 208);
    lightBuffer->Update(&record, sizeof record, sizeof record, 0, 0);
    lightBuffer->Bind(false);
    m_shadowMap->BindAsShaderResources(4);
    core.GetLightTarget()->BindAsRenderTargets(frame->GetDepthBuffer());
    pixelShader = m_shadowDrawer;
  } else {
    UploadEye(lightBuffer);
  }
  pixelShader->Bind();
  quad->BindBuffers(false);
  const Base::Mat4 world = GetWorldMatrix()->Transposed();
  GPUBuffer* stream = core.GetSharedVertexStream();
  stream->Update(&world, sizeof world, sizeof world, 2, 0);
  stream->Bind(true);
  GetDevice()->m_context->DrawIndexed(quad->GetIndexCount(), 0, 0);
}

// --- Point ------------------------------------------------------------------------------------------

BasePLight::BasePLight() : Light(Point) {
  if (!(m_pixelShader = FindLoadedShader("PointLight_PS"))) {
    GFX_LOG(Error, "Could not find point light pixel shader");
    return;
  }
  if (!(m_vertexShader = FindLoadedShader("LightFactoryP_VS"))) GFX_LOG(Error, "Could not find point light Vertex shader");
}

Base::Mat4* BasePLight::GetWorldMatrix() {
  const float diameter = 2.0f * m_data.m_radius;
  m_worldMatrix = Base::Mat4::BuildTranslation(m_data.m_position) * Base::Mat4::BuildScale(diameter, diameter, diameter);
  return &m_worldMatrix;
}

void BasePLight::Draw(const void* instanceData, uint32_t instanceCount, bool) {
  DrawVolume(*this, g_pointMesh, instanceData, instanceCount);
}

// --- Spot -------------------------------------------------------------------------------------------

BaseSLight::BaseSLight() : Light(Spot) {
  if (!(m_pixelShader = FindLoadedShader("SpotLight_PS"))) {
    GFX_LOG(Error, "Could not find spot light pixel shader");
    return;
  }
  if (!(m_vertexShader = FindLoadedShader("LightFactoryS_VS"))) GFX_LOG(Error, "Could not find spot light Vertex shader");
}

Base::Mat4* BaseSLight::GetWorldMatrix() {
  const Base::Vec3 down(0, -1, 0);
  Base::Vec3 d(m_data.m_direction.x, m_data.m_direction.y, m_data.m_direction.z);
  d.Normalize();
  const Base::Vec3 a = Base::Cross(down, d);
  Base::Vec3 b = Base::Cross(a, down);
  b.Normalize();
  const float angle = std::atan2(d.Dot(b), d.Dot(down));
  const float widest = m_innerAngle > m_outerAngle ? m_innerAngle : m_outerAngle;
  const float r = std::tan(Base::DegToRad(widest) / 2.0f) * m_beamLength * 10.0f;
  // Along the y axis there is no axis to turn about: none is needed straight down, and a half turn
  // about x points the cone straight up.
  Base::Mat4 rotation;
  if (a.LengthSquared() > 0.0f)
    rotation = Base::Mat4::BuildRotation(angle, a);
  else if (d.y > 0.0f)
    rotation = Base::Mat4::BuildRotation(angle, Base::Vec3(1, 0, 0));
  m_worldMatrix = Base::Mat4::BuildTranslation(m_data.m_position) * rotation *
                  Base::Mat4::BuildTranslation(Base::Vec3(0, -m_beamLength / 2.0f, 0)) *
                  Base::Mat4::BuildScale(2.0f * r, m_beamLength, 2.0f * r);
  return &m_worldMatrix;
}

void BaseSLight::Draw(const void* instanceData, uint32_t instanceCount, bool) {
  DrawVolume(*this, g_spotMesh, instanceData, instanceCount);
}

}  // namespace Graphics
