// The render core's set-up and shutdown, and the passes of one canvas draw.
#include "Graphics/RenderCore.h"

#include "Base/DebugTimer.h"
#include "DirectX/CommonStates.h"
#include "DirectX/SpriteBatch.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/DepthBuffer.h"
#include "Graphics/Device.h"
#include "Graphics/Frame.h"
#include "Graphics/GPUBuffer.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/Light.h"
#include "Graphics/Log.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Graphics/ProceduralMeshes.h"
#include "Graphics/RenderStateSet.h"
#include "Graphics/RenderTarget.h"
#include "Graphics/RenderableObject.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Shader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace Graphics {

namespace {

constexpr uint32_t kTargetFormat = 2;  // R32G32B32A32_FLOAT
constexpr uint32_t kModelRecordSize = 24;
constexpr uint32_t kModelMatricesSize = 128;
constexpr uint32_t kDebugRecordSize = sizeof(DebugDraw::Shape);

// The per-instance record of a model as the vertex factories read it from input slot 1.
struct ModelRecord {
  uint32_t receivesShadow;
  uint32_t castsShadow;
  Base::Vec4 colour;
};
static_assert(sizeof(ModelRecord) == kModelRecordSize);

const char* const kRequiredShaders[] = {"ObjectSpace_VS", "Fullbright_PS", "ToScreen_PS",
                                        "Debug_VS",       "Debug_PS",      "DrawLib_PS"};
// The shaders the lights and particle systems look up when a level first has them: loaded with the render
// core, so that one missing is said, and ends the game, at its start rather than in the level that uses it.
const char* const kComponentShaders[] = {"DirectionalLight_PS", "Depth_Map_PS",     "DirectionalShadow_PS",
                                         "PointLight_PS",       "LightFactoryP_VS", "SpotLight_PS",
                                         "LightFactoryS_VS",    "Particle_VS",      "Particle_PS"};

BaseCamera* g_currentCamera = nullptr;
int g_currentLayer = 1;
Frame* g_currentFrame = nullptr;
RenderCore::DrawLibPass g_drawLibPass = nullptr;
RenderCore::PassObserver g_passObserver = nullptr;

void PassEnd(const char* pass, int layer) {
  if (g_passObserver) g_passObserver(pass, layer);
}

Platform::GpuContext* Context() { return GetDevice()->m_context; }

Mesh* MeshById(uint32_t id) { return Base::Resources<Mesh>::Instance().GetResourceById(id); }

void ClearTarget(Renderer::RenderTarget<1>& target, float r, float g, float b, float a,
                 const Platform::GpuRect* rect = nullptr) {
  const float colour[4] = {r, g, b, a};
  if (Platform::GpuRenderTargetView* view = target.GetRenderTargetView(0))
    Context()->ClearRenderTargetView(view, colour, rect);
}

void CanvasRendererEntry(RenderList& list, Frame& frame) { RenderCore::GetInstance().RenderCanvas(&list, &frame); }

// Where a debug record queued before any canvas was named is filed: canvas 0 of the Graphics Master.
Canvas* DebugFallbackCanvas() { return GraphicsMaster::GetInstance().GetCanvas(0); }

}  // namespace

Shader* FindLoadedShader(const char* name) {
  Shader* shader = Base::Resources<Shader>::Instance().GetResourceByName(name);
  return shader && shader->IsLoaded() ? shader : nullptr;
}

RenderCore& RenderCore::GetInstance() {
  static RenderCore instance;
  // A later run (after the graphics system's shutdown released everything) starts the renderer anew.
  if (!instance.m_initialized && !instance.m_gBuffer) instance.Initialize();
  static bool installed = false;
  if (!installed) {
    installed = true;
    GraphicsMaster::GetInstance().SetCanvasRenderer(&CanvasRendererEntry);
    DebugDraw::SetFallbackCanvas(&DebugFallbackCanvas);
  }
  return instance;
}

RenderCore::RenderCore() { Initialize(); }

RenderCore::~RenderCore() = default;

RenderCore::DrawLibPass RenderCore::SetDrawLibPass(DrawLibPass pass) { return std::exchange(g_drawLibPass, pass); }

RenderCore::PassObserver RenderCore::SetPassObserver(PassObserver observer) {
  return std::exchange(g_passObserver, observer);
}

BaseCamera* RenderCore::GetCurrentCamera() { return g_currentCamera; }
int RenderCore::GetCurrentLayer() { return g_currentLayer; }
Frame* RenderCore::GetCurrentFrame() { return g_currentFrame; }

void RenderCore::Initialize() {
  GFX_LOG(Info, "Initializing Render Core");
  m_initialized = false;
  ForgetShaderFailures();
  m_rasterizer = 3;
  m_targetSize = Base::Vec2(0, 0);

  m_gBuffer = std::make_unique<Renderer::GBuffer>(kTargetFormat, 1920, 1080);
  m_lightTarget = std::make_unique<Renderer::RenderTarget<1>>(kTargetFormat, 1920, 1080);
  m_smallTarget = std::make_unique<Renderer::RenderTarget<1>>(kTargetFormat, 32, 32);
  ClearTarget(*m_smallTarget, 0, 0, 0, 1);

  m_sharedVertexStream = std::make_unique<GPUBuffer>(GPUBuffer::Vertex, nullptr, 256, 0, 0, 0);
  m_sharedLightBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Constant, nullptr, 256, 0, 0, 0);
  m_instanceMatrices = std::make_unique<GPUBuffer>(GPUBuffer::Constant, nullptr, 1024, 0, 0, 0);
  m_instanceStream = std::make_unique<GPUBuffer>(GPUBuffer::Vertex, nullptr, 256, 0, 0, 0);
  m_auxiliaryBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Constant, nullptr, 256, 0, 0, 0);
  m_directionalLightBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Constant, nullptr, 256, 0, 0, 0);
  m_cameraBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Constant, nullptr, 256, 0, 0, 0);

  if (!LoadResources()) return;

  m_commonStates = std::make_unique<DirectX::CommonStates>(GetDevice()->m_device);
  m_states = &RenderStateSet::GetInstance();
  // The sprite batch applies no viewport transform of its own: the matrix it is given is the whole one.
  try {
    m_spriteBatch = std::make_unique<DirectX::SpriteBatch>(GetDevice()->m_context);
  } catch (const DirectX::SpriteShaderError& error) {
    // Said as the renderer's own shaders are, and the render core stays uninitialised without its 2D pass.
    ReportOwnShaderFailure(error.step, error.path);
    return;
  } catch (const std::exception& error) {
    // A buffer or layout the device refused: said once, and the render core stays uninitialised as above.
    GFX_LOG(Error, "%s", error.what());
    return;
  }
  m_spriteBatch->SetRotation(DirectX::SpriteRotation_Unspecified);

  m_initialized = true;
  GFX_LOG(Info, "Render Core Initialized");
}

bool RenderCore::LoadResources() {
  Shader** const required[] = {&m_objectSpaceVS, &m_fullbrightPS, &m_toScreenPS, &m_debugVS, &m_debugPS, &m_drawLibPS};
  for (Shader** shader : required) *shader = nullptr;
  m_vertexFactoryVS = m_vertexFactoryAnimationVS = nullptr;
  for (size_t i = 0; i < std::size(required); ++i) {
    *required[i] = FindLoadedShader(kRequiredShaders[i]);
    if (!*required[i]) {
      GFX_LOG(Error, "Failed to Initialize Render Core");
      return false;
    }
  }

  m_meshes[QuadMesh] = CreateQuadMesh(1.0f);
  m_meshes[CubeMesh] = CreateCubeMesh(1.0f);
  m_meshes[LineMesh] = CreateLineMesh(1.0f);
  m_meshes[SphereMesh] = CreateSphereMesh(1.0f, 6);
  m_meshes[CylinderMesh] = CreateCylinderMesh(1.0f, 1.0f, 8);
  m_meshes[ConeMesh] = CreateConeMesh(1.0f, 1.0f, 8);
  m_meshes[TorusMesh] = CreateTorusMesh(1.0f, 0.02f, 12);
  for (int i = 0; i < MeshCount; ++i) m_meshObjects[i] = MeshById(m_meshes[i]);
  BuildLightVolumes();

  m_vertexFactoryVS = FindLoadedShader("VertexFactory_VS");
  m_vertexFactoryAnimationVS = FindLoadedShader("VertexFactoryAnimation_VS");
  for (const char* name : kComponentShaders) FindLoadedShader(name);
  return true;
}

bool RenderCore::ResourcesCurrent() const {
  const Base::Resources<Shader>& shaders = Base::Resources<Shader>::Instance();
  auto held = [&shaders](const char* name, const Shader* shader) {
    const int32_t id = shaders.GetResourceID(name);
    const Base::ResourceCollection::Entry* entry = id >= 0 ? shaders.GetEntry(uint32_t(id)) : nullptr;
    return !shader || (entry && entry->resource == shader);
  };
  const Shader* const required[] = {m_objectSpaceVS, m_fullbrightPS, m_toScreenPS, m_debugVS, m_debugPS, m_drawLibPS};
  for (size_t i = 0; i < std::size(required); ++i)
    if (!held(kRequiredShaders[i], required[i])) return false;
  if (!held("VertexFactory_VS", m_vertexFactoryVS) || !held("VertexFactoryAnimation_VS", m_vertexFactoryAnimationVS))
    return false;
  const Base::Resources<Mesh>& meshes = Base::Resources<Mesh>::Instance();
  for (int i = 0; i < MeshCount; ++i) {
    const Base::ResourceCollection::Entry* entry = meshes.GetEntry(m_meshes[i]);
    if (!entry || entry->resource != m_meshObjects[i]) return false;
  }
  return LightVolumesCurrent();
}

void RenderCore::Shutdown() {
  GFX_LOG(Info, "Shutting down Render Core");
  m_initialized = false;
  m_gBuffer.reset();
  m_lightTarget.reset();
  m_smallTarget.reset();
  m_sharedVertexStream.reset();
  m_cameraBuffer.reset();
  m_instanceMatrices.reset();
  m_instanceStream.reset();
  m_auxiliaryBuffer.reset();
  m_directionalLightBuffer.reset();
  m_sharedLightBuffer.reset();
  if (m_states) m_states->Release();
  m_states = nullptr;
  m_spriteBatch.reset();  // its device objects go before the device
  m_commonStates.reset();
  g_currentCamera = nullptr;
  g_currentFrame = nullptr;
  g_currentLayer = 1;
  // Every loaded asset holds objects of this device. They go with it: a render core made after it in
  // the same process would otherwise be handed shaders and buffers of a device that is gone.
  for (Base::ResourceCollection* collection : Base::ResourceManager::GetInstance().m_collections) collection->Clear();
  ForgetShaderFailures();
  DestroyDevice();
}

void RenderCore::SetBlendState(int index) {
  if (index < 0 || index >= RenderStateSet::kBlendCount || !m_states) return;
  const float factor[4] = {1, 1, 1, 1};
  Context()->SetBlendState(m_states->m_blendStates[index], factor, 0xffffffffu);
}

void RenderCore::SetSamplerState(int index) {
  if (index < 0 || index >= RenderStateSet::kSamplerCount || !m_states) return;
  Context()->SetSamplers(Platform::GpuShaderStage::Pixel, 0, 1, &m_states->m_samplerStates[index]);
}

void RenderCore::SetRasterizer(int index) {
  if (m_rasterizer == index || !m_states) return;
  Context()->SetRasterizerState(m_states->m_rasterizerStates[index]);
  m_rasterizer = index;
}

void RenderCore::UploadCamera(BaseCamera* camera) {
  if (!camera) return;
  const Base::Mat4 viewProjection = camera->GetViewProjectionMatrix().Transposed();
  m_cameraBuffer->Update(viewProjection.m, sizeof viewProjection, sizeof viewProjection, 0, 0);
  m_cameraBuffer->Bind(true);
}

void RenderCore::SetTargetSize(const Base::Vec2& size) {
  if (size.x == m_targetSize.x && size.y == m_targetSize.y) return;
  m_gBuffer->Resize(uint32_t(size.x), uint32_t(size.y));
  m_lightTarget->Resize(uint32_t(size.x), uint32_t(size.y));
  m_targetSize = size;
}

void RenderCore::DrawQuad(Shader* vertexShader, Shader* pixelShader) {
  Mesh* quad = MeshById(m_meshes[QuadMesh]);
  if (!quad) return;
  quad->BindBuffers(false);
  pixelShader->Bind();
  vertexShader->Bind();
  Context()->DrawIndexed(quad->GetIndexCount(), 0, 0);
}

void RenderCore::RenderCanvas(RenderList* list, Frame* frame) {
  if (!list || !frame) {
    GFX_LOG(Error, "Trying to draw with invalid state/frame");
    return;
  }
  // Drawing after a failed set-up would reach shaders and meshes that were never made.
  if (!m_initialized) {
    GFX_LOG(Error, "Render Core is not initialized: the canvas is not drawn");
    return;
  }
  if (!ResourcesCurrent() && !LoadResources()) {
    m_initialized = false;
    return;
  }
  if (!frame->GetRenderTargetView() || !frame->GetDepthBuffer()) return;
  Base::DebugTimer& timer = Base::DebugTimer::GetInstance();
  PassEnd("begin", -1);
  m_rasterizer = 3;
  SetRasterizer(0);
  Context()->SetPrimitiveTopology(Platform::GpuTopology::TriangleList);
  frame->SetFullViewport();
  SetTargetSize(frame->GetSize());
  g_currentFrame = frame;
  m_lastBatchCount = 0;

  timer.StartTimer("MultiPass");
  if (!list->IsCleared()) MultiPass(*list, *frame);
  timer.StopTimer("MultiPass");

  g_currentCamera = list->GetCamera(1);
  g_currentLayer = 1;
  UploadCamera(g_currentCamera);
  m_debugVS->Bind();
  m_debugPS->Bind();
  frame->BindTarget();
  frame->GetDepthBuffer()->Clear();
  timer.StartTimer("DebugDraw");
  DrawDebugShapes(frame->GetID());
  PassEnd("debug shapes", -1);
  timer.StopTimer("DebugDraw");
}

void RenderCore::MultiPass(RenderList& list, Frame& frame) {
  Base::DebugTimer& timer = Base::DebugTimer::GetInstance();
  m_scratch.Reset();
  m_scratch.Consolidate();
  const Base::Vec4 clear = frame.GetClearColour();
  ClearTarget(*m_lightTarget, clear.x, clear.y, clear.z, 1.0f);
  SetSamplerState(0);
  DepthBuffer* depth = frame.GetDepthBuffer();

  // The G-buffer is not cleared between layers: every pass that reads it runs under the stencil test
  // the geometry pass marks, so a texel is read only in the layer that wrote it. Clearing its four
  // float targets was the costliest work of a frame on a software rasteriser, and changed no pixel.
  for (int index = 0; index < RenderList::kLayerCount; ++index) {
    depth->Clear();
    depth->SetDepthState(1);
    const RenderList::Layer* layer = list.GetRecord(index);
    if (!layer) continue;
    const std::vector<ModelBatch> batches = BuildModelBatches(*layer);
    const bool has2D = !layer->blocks.empty() || !layer->block.sprites.empty() || !layer->block.texts.empty();
    if (batches.empty() && !has2D && layer->others.empty()) continue;
    // A layer that nobody gave a camera has no view to be drawn through.
    if (!layer->camera) {
      GFX_LOG(Warning, "Layer %d has no camera and is not drawn", index);
      continue;
    }
    g_currentCamera = layer->camera;
    g_currentLayer = index;
    m_lastBatchCount += uint32_t(batches.size());

    timer.StartTimer("ShadowMaps");
    RenderShadowMaps(layer->lights, batches, frame);
    PassEnd("shadow maps", index);
    timer.StopTimer("ShadowMaps");

    // Geometry into the G-buffer.
    UploadCamera(layer->camera);
    m_gBuffer->BindAsRenderTargets(depth);
    DrawBatches(batches, false);
    PassEnd("g-buffer", index);

    // Fullbright: the covered pixels of the accumulation target start from black.
    m_lightTarget->BindAsRenderTargets(depth);
    depth->SetDepthState(2);
    m_smallTarget->BindAsShaderResources(1);
    SetSamplerState(0);
    DrawQuad(m_objectSpaceVS, m_fullbrightPS);
    PassEnd("fullbright", index);

    SetRasterizer(0);
    m_gBuffer->BindAsShaderResources(0);
    m_lightTarget->BindAsRenderTargets(depth);
    // Each of these sections pauses at its hand-over, so that it adds up over the layers: restarted,
    // it would report the last layer's time alone.
    timer.StartTimer("Lights");
    RenderLights(layer->lights);
    PassEnd("lights", index);
    timer.ChainTimer("ForwardPass", true);
    RenderForward(layer->others, frame);
    PassEnd("forward", index);
    timer.ChainTimer("DrawLib", true);
    if (has2D && g_drawLibPass && m_spriteBatch)
      g_drawLibPass(*layer, layer->camera, *m_spriteBatch, *m_commonStates, m_drawLibPS);
    SetBlendState(0);
    PassEnd("2d", index);
    timer.PauseTimer("DrawLib");
  }
  // Closed where the last layer left them, not at the composition after it.
  for (const char* section : {"Lights", "ForwardPass", "DrawLib"}) timer.StopTimerAtLastStop(section);
  Compose(frame);
  PassEnd("compose", -1);
}

std::vector<RenderCore::ModelBatch> RenderCore::BuildModelBatches(const RenderList::Layer& layer) {
  std::vector<ModelBatch> batches;
  const std::vector<BaseModel*>& models = layer.models;
  for (size_t begin = 0; begin < models.size() && models[begin];) {
    BaseModel* first = models[begin];
    size_t end = begin + 1;
    if (!first->IsAnimated()) {
      while (end < models.size() && models[end] && !models[end]->IsAnimated() &&
             models[end]->m_meshID == first->m_meshID && models[end]->m_materialID == first->m_materialID)
        ++end;
    }
    const uint32_t count = uint32_t(end - begin);
    auto* matrices = static_cast<Base::Mat4*>(m_scratch.Allocate(count * kModelMatricesSize));
    auto* records = static_cast<ModelRecord*>(m_scratch.Allocate(count * kModelRecordSize));
    if (!matrices || !records) break;
    for (uint32_t i = 0; i < count; ++i) {
      BaseModel* model = models[begin + i];
      const Base::Mat4& world = *model->GetWorldMatrix();
      matrices[2 * i] = world.Transposed();
      matrices[2 * i + 1] = world.AffineInverse().Transposed();
      records[i] = {model->m_shadowReceiver ? 1u : 0u, model->m_shadowCaster ? 1u : 0u, model->m_color};
    }
    batches.push_back({first, records, count, matrices});
    begin = end;
  }
  return batches;
}

void RenderCore::DrawBatches(const std::vector<ModelBatch>& batches, bool depthOnly) {
  for (const ModelBatch& batch : batches) {
    Shader* vertexShader = batch.first->IsAnimated() ? m_vertexFactoryAnimationVS : m_vertexFactoryVS;
    if (!vertexShader) continue;
    vertexShader->Bind();
    m_instanceStream->Update(batch.records, batch.count * kModelRecordSize, kModelRecordSize, 1, 0);
    m_instanceStream->Bind(true);
    batch.first->Draw(batch.matrices, batch.count, depthOnly);
  }
}

void RenderCore::RenderShadowMaps(const std::vector<Light*>& lights, const std::vector<ModelBatch>& batches,
                                  Frame& frame) {
  for (Light* light : lights) {
    if (!light || light->GetLightType() != Light::Directional) continue;
    auto* directional = static_cast<BaseDLight*>(light);
    if (!directional->m_castsShadow) continue;
    // Only what the last pass drew is cleared: a shadow map of 4096 squared is mostly empty, and its
    // whole clear cost more than a fifth of a frame on a software rasteriser. Views made anew (a new
    // device) start from a whole clear.
    Platform::GpuRenderTargetView* mapView = directional->m_shadowMap->GetRenderTargetView(0);
    Platform::GpuDepthStencilView* depthView = directional->m_shadowDepth.GetView();
    const uint64_t serials[2] = {mapView ? mapView->Serial() : 0, depthView ? depthView->Serial() : 0};
    const int32_t size = int32_t(BaseDLight::kShadowMapSize);
    if (serials[0] != directional->m_shadowDrawnSerials[0] || serials[1] != directional->m_shadowDrawnSerials[1])
      directional->m_shadowDrawn = {0, 0, size, size};
    ClearTarget(*directional->m_shadowMap, 0, 0, 0, 1, &directional->m_shadowDrawn);
    directional->m_shadowDepth.Clear(&directional->m_shadowDrawn);
    directional->m_shadowDrawn = CasterTexels(batches, directional->m_shadowCamera, size);
    directional->m_shadowDrawnSerials[0] = serials[0];
    directional->m_shadowDrawnSerials[1] = serials[1];
    directional->BeginShadowPass();
    UploadCamera(&directional->m_shadowCamera);
    DrawBatches(batches, true);
  }
  frame.SetFullViewport();
}

namespace {

// Each vertex of an animated model where the skinning vertex factory puts it in model space, handed
// to `take`; false where that is not known here (bones the draw does not upload, or no skinned
// stream, which the skinning factory would read as something else).
template <class Take>
bool SkinnedBounds(const BaseModel& model, const Mesh& mesh, Take take) {
  constexpr uint32_t kBonesRead = 128;
  if (!mesh.m_skinnedVertexBuffer || mesh.m_skinnedVertices.empty() || model.m_boneCount == 0 ||
      model.m_boneCount > kBonesRead)
    return false;
  for (const SkinnedVertex& v : mesh.m_skinnedVertices) {
    const Base::Vec4 rest(v.position.x, v.position.y, v.position.z, 1.0f);
    const float weights[4] = {v.weights.x, v.weights.y, v.weights.z, v.weights.w};
    Base::Vec4 moved(0, 0, 0, 0);
    for (int i = 0; i < 4; ++i) {
      if (v.bones[i] >= model.m_boneCount) return false;
      // The bones are kept transposed; transposed back, each is a column-vector matrix.
      const Base::Vec4 p = model.m_bones[v.bones[i]].Transposed() * rest;
      moved = Base::Vec4(moved.x + weights[i] * p.x, moved.y + weights[i] * p.y, moved.z + weights[i] * p.z, 0.0f);
    }
    if (weights[0] + weights[1] + weights[2] + weights[3] <= 0.0f) moved = rest;
    if (!std::isfinite(moved.x) || !std::isfinite(moved.y) || !std::isfinite(moved.z)) return false;
    take(moved);
  }
  return true;
}

}  // namespace

Platform::GpuRect RenderCore::CasterTexels(const std::vector<ModelBatch>& batches, BaseCamera& camera, int32_t size) {
  const Platform::GpuRect whole{0, 0, size, size};
  // The camera's matrices take a row vector, as the vertex factories apply them: transposed here.
  const Base::Mat4 toClip = camera.GetViewProjectionMatrix().Transposed();
  float left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
  for (const ModelBatch& batch : batches) {
    const BaseModel& model = *batch.first;
    if (!model.IsPlacedByItsMatrices()) return whole;
    const Mesh* mesh = MeshById(model.m_meshID);
    if (!mesh || mesh->m_vertices.empty()) continue;  // nothing is drawn
    Base::Vec3 lo(INFINITY, INFINITY, INFINITY), hi(-INFINITY, -INFINITY, -INFINITY);
    auto take = [&lo, &hi](const Base::Vec4& p) {
      lo = Base::Vec3(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
      hi = Base::Vec3(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
    };
    if (!model.IsAnimated()) {
      for (const MeshVertex& v : mesh->m_vertices) take(v.position);
    } else if (!SkinnedBounds(model, *mesh, take)) {
      return whole;
    }
    const auto* records = static_cast<const ModelRecord*>(batch.records);
    const auto* matrices = static_cast<const Base::Mat4*>(batch.matrices);
    for (uint32_t i = 0; i < batch.count; ++i) {
      if (!records[i].castsShadow) continue;  // the depth writer discards it
      const Base::Mat4 world = matrices[2 * i].Transposed();
      for (int corner = 0; corner < 8; ++corner) {
        const Base::Vec4 local(corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z, 1.0f);
        const Base::Vec4 clip = toClip * (world * local);
        if (!(clip.w > 1e-6f) || !std::isfinite(clip.x) || !std::isfinite(clip.y)) return whole;
        const float x = (clip.x / clip.w * 0.5f + 0.5f) * float(size);
        const float y = (0.5f - clip.y / clip.w * 0.5f) * float(size);
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  if (!(left <= right)) return {0, 0, 0, 0};  // no caster: nothing drawn
  // A texel of margin on each side; the rasteriser never reaches past the corners' hull.
  auto clamp = [size](float v) { return int32_t(std::clamp(v, 0.0f, float(size))); };
  return {clamp(std::floor(left) - 1.0f), clamp(std::floor(top) - 1.0f), clamp(std::ceil(right) + 1.0f),
          clamp(std::ceil(bottom) + 1.0f)};
}

void RenderCore::RenderLights(const std::vector<Light*>& lights) {
  if (lights.empty()) {
    DrawQuad(m_objectSpaceVS, m_fullbrightPS);
    return;
  }
  SetBlendState(5);
  SetRasterizer(2);
  // Every light is drawn: a directional light on its own, point and spot lights in runs of one kind.
  for (size_t next = 0; next < lights.size();) {
    Light* light = lights[next];
    if (!light) {
      ++next;
      continue;
    }
    const uint32_t size = light->GetLightDataSize();
    if (light->GetLightType() == Light::Directional) {
      m_directionalLightBuffer->Update(light->GetLightData(), size, size, 1, 0);
      m_directionalLightBuffer->Bind(false);
      light->Draw(nullptr, 1, false);
      ++next;
      continue;
    }
    size_t end = next + 1;
    while (end < lights.size() && lights[end] && lights[end]->GetLightType() == light->GetLightType() &&
           lights[end]->GetLightDataSize() == size)
      ++end;
    const uint32_t run = uint32_t(end - next);
    auto* matrices = static_cast<Base::Mat4*>(m_scratch.Allocate(run * uint32_t(sizeof(Base::Mat4))));
    auto* records = static_cast<uint8_t*>(m_scratch.Allocate(run * size));
    if (!matrices || !records) break;
    for (uint32_t i = 0; i < run; ++i) {
      matrices[i] = lights[next + i]->GetWorldMatrix()->Transposed();
      std::memcpy(records + size_t(i) * size, lights[next + i]->GetLightData(), size);
    }
    m_instanceStream->Update(records, run * size, size, 1, 0);
    m_instanceStream->Bind(true);
    light->Draw(matrices, run, false);
    next = end;
  }
  SetRasterizer(0);
  SetBlendState(0);
}

void RenderCore::RenderForward(const std::vector<RenderableObject*>& others, Frame& frame) {
  frame.GetDepthBuffer()->SetDepthState(3);
  for (RenderableObject* renderable : others)
    if (renderable) renderable->Draw(nullptr, 1, false);
  SetBlendState(0);
}

void RenderCore::Compose(Frame& frame) {
  DepthBuffer* depth = frame.GetDepthBuffer();
  depth->Clear();
  frame.SetViewport();
  m_lightTarget->BindAsShaderResources(0);
  frame.BindTarget();
  depth->SetDepthState(1);
  SetSamplerState(0);
  DrawQuad(m_objectSpaceVS, m_toScreenPS);
}

void RenderCore::DrawDebugShapes(uint32_t frameId) {
  DebugDraw& queue = DebugDraw::GetInstance();
  Platform::GpuContext* context = Context();
  const std::pair<DebugDraw::CanvasMap*, int> passes[] = {{&queue.m_solid, 0}, {&queue.m_wire, 1}};
  for (const auto& [map, rasterizer] : passes) {
    SetRasterizer(rasterizer);
    for (auto& [canvas, shapes] : *map) {
      if (!canvas || canvas->GetFrameID() != frameId) continue;
      for (int kind = 0; kind < DebugDraw::ShapeKindCount; ++kind) {
        std::vector<DebugDraw::Shape>& list = shapes[kind];
        if (list.empty()) continue;
        // The shape kinds follow the built-in meshes: line, quad, cube, sphere, cylinder, cone, torus.
        static constexpr BuiltInMesh kMeshOfKind[] = {LineMesh, QuadMesh, CubeMesh, SphereMesh,
                                                      CylinderMesh, ConeMesh, TorusMesh};
        Mesh* mesh = MeshById(m_meshes[kMeshOfKind[kind]]);
        if (mesh) {
          if (kind == DebugDraw::Line) context->SetPrimitiveTopology(Platform::GpuTopology::LineList);
          mesh->BindBuffers(false);
          const uint32_t count = uint32_t(list.size());
          m_instanceStream->Update(list.data(), count * kDebugRecordSize, kDebugRecordSize, 1, 0);
          m_instanceStream->Bind(true);
          context->DrawIndexedInstanced(mesh->GetIndexCount(), count, 0, 0, 0);
          if (kind == DebugDraw::Line) context->SetPrimitiveTopology(Platform::GpuTopology::TriangleList);
        }
        DebugDraw::AgeList(list);
      }
    }
  }
}

}  // namespace Graphics
