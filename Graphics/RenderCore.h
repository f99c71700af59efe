// The deferred renderer: owns the off-screen targets, the shared GPU buffers, the built-in shaders and
// meshes, and draws one canvas's render list into its frame through the shadow, geometry, fullbright,
// light, forward and composition passes, then the debug shapes.
//
// Matrices reach GLSL as the engine's own matrices: every matrix is uploaded transposed (row-major
// storage of the transpose), which GLSL's column-major reading turns back into the engine's matrix.
// World matrices act on column vectors (`M * v` in GLSL), camera matrices on row vectors (`v * M`).
// Bone matrices are the one exception: uploaded as stored, so a row vector times them applies them.
//
// Buffers shared with the renderables: the render core's instance stream feeds input slot 1 (model
// records, light records, debug records); the renderables' own per-instance matrices go through a
// separate stream in input slot 2; bones go through the auxiliary buffer (vertex constant slot 1);
// per-light constants through the shared light buffer (pixel constant slot 0).
#pragma once

#include "Base/BlobAllocator.h"
#include "Base/Vector.h"
#include "Graphics/RenderList.h"
#include "Platform/Graphics/GpuTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace DirectX {
class CommonStates;
class SpriteBatch;
}

namespace Graphics {

class BaseCamera;
class BaseModel;
class Frame;
class GPUBuffer;
class Light;
class Mesh;
namespace Renderer {
class GBuffer;
template <uint32_t N>
class RenderTarget;
}  // namespace Renderer
class RenderStateSet;
class Shader;

// The shader of a name from the shader collection (loaded on first use), or null when it is not there.
Shader* FindLoadedShader(const char* name);

class RenderCore {
 public:
  enum BuiltInMesh : int { QuadMesh = 0, SphereMesh, CubeMesh, LineMesh, CylinderMesh, ConeMesh, TorusMesh, MeshCount };

  // The renderer of the process, built and initialised on first use; it installs itself as the
  // Graphics Master's canvas renderer.
  static RenderCore& GetInstance();

  // Builds everything (Initialize). Tests may build their own.
  RenderCore();
  ~RenderCore();
  RenderCore(const RenderCore&) = delete;
  RenderCore& operator=(const RenderCore&) = delete;

  void Initialize();
  // False after a failed Initialize: such a render core refuses to draw.
  bool IsInitialized() const { return m_initialized; }
  // Releases targets, buffers and states, then the device.
  void Shutdown();

  // 0 to 5; 6 applies nothing.
  void SetBlendState(int index);
  // 0 wrap, 1 clamp, to pixel sampler slot 0; 2 applies nothing.
  void SetSamplerState(int index);

  // Draws `list` into `frame`. Null arguments, or a render core that did not initialise, are refused
  // with a logged error.
  void RenderCanvas(RenderList* list, Frame* frame);

  // The drawing context that renderables read while a canvas is drawn.
  static BaseCamera* GetCurrentCamera();
  static int GetCurrentLayer();
  static Frame* GetCurrentFrame();

  GPUBuffer* GetSharedVertexStream() const { return m_sharedVertexStream.get(); }
  GPUBuffer* GetSharedLightBuffer() const { return m_sharedLightBuffer.get(); }
  GPUBuffer* GetInstanceStream() const { return m_instanceStream.get(); }
  GPUBuffer* GetAuxiliaryBuffer() const { return m_auxiliaryBuffer.get(); }
  Renderer::RenderTarget<1>* GetLightTarget() const { return m_lightTarget.get(); }
  Renderer::GBuffer* GetGBuffer() const { return m_gBuffer.get(); }
  uint32_t GetMeshID(BuiltInMesh mesh) const { return m_meshes[mesh]; }
  Base::Vec2 GetTargetSize() const { return m_targetSize; }
  DirectX::SpriteBatch* GetSpriteBatch() const { return m_spriteBatch.get(); }
  DirectX::CommonStates* GetCommonStates() const { return m_commonStates.get(); }

  // The 2D step of each layer (its own DrawLib block and its 3D2D blocks), installed by the 2D
  // drawing code; the render core calls it with the layer's camera, its sprite batch, its common
  // states and "DrawLib_PS", and re-applies blend state 0 after it. Null draws no 2D. Returns the
  // pass installed before, so that a stand-in can put it back.
  using DrawLibPass = void (*)(const RenderList::Layer& layer, BaseCamera* camera, DirectX::SpriteBatch& batch,
                               const DirectX::CommonStates& states, Shader* pixelShader);
  static DrawLibPass SetDrawLibPass(DrawLibPass pass);

  // Told where a canvas draw starts ("begin", layer -1) and where each of its passes ends: per layer
  // "shadow maps", "g-buffer", "fullbright", "lights", "forward" and "2d", then "compose" and "debug
  // shapes" (layer -1). A profiler waits for the device there to time each pass. Null tells nothing.
  // Returns the observer installed before.
  using PassObserver = void (*)(const char* pass, int layer);
  static PassObserver SetPassObserver(PassObserver observer);

  // Model batches drawn by the last canvas draw, over all its layers.
  uint32_t GetLastBatchCount() const { return m_lastBatchCount; }

 private:
  struct ModelBatch {
    BaseModel* first;
    const void* records;   // 24 bytes per instance
    uint32_t count;
    const void* matrices;  // 128 bytes per instance
  };

  void MultiPass(RenderList& list, Frame& frame);
  std::vector<ModelBatch> BuildModelBatches(const RenderList::Layer& layer);
  void RenderShadowMaps(const std::vector<Light*>& lights, const std::vector<ModelBatch>& batches, Frame& frame);
  // The texels of a square shadow map of `size` that drawing `batches` depth-only through `camera` can
  // reach; the whole map where the models do not bound what they draw.
  static Platform::GpuRect CasterTexels(const std::vector<ModelBatch>& batches, BaseCamera& camera, int32_t size);
  void DrawBatches(const std::vector<ModelBatch>& batches, bool depthOnly);
  void RenderLights(const std::vector<Light*>& lights);
  void RenderForward(const std::vector<RenderableObject*>& others, Frame& frame);
  void Compose(Frame& frame);
  void DrawDebugShapes(uint32_t frameId);
  void SetTargetSize(const Base::Vec2& size);
  void SetRasterizer(int index);
  // The built-in shaders and meshes, loaded (again) from their collections; false when a required
  // shader is missing.
  bool LoadResources();
  // Whether every held shader and mesh is still the one its collection holds (a collection that was
  // emptied, as tests do, leaves them dangling).
  bool ResourcesCurrent() const;
  void UploadCamera(BaseCamera* camera);
  void DrawQuad(Shader* vertexShader, Shader* pixelShader);

  std::unique_ptr<DirectX::CommonStates> m_commonStates;
  std::unique_ptr<Renderer::GBuffer> m_gBuffer;
  std::unique_ptr<Renderer::RenderTarget<1>> m_lightTarget;
  std::unique_ptr<GPUBuffer> m_sharedVertexStream;
  std::unique_ptr<GPUBuffer> m_sharedLightBuffer;
  std::unique_ptr<GPUBuffer> m_instanceMatrices;
  std::unique_ptr<GPUBuffer> m_instanceStream;
  std::unique_ptr<GPUBuffer> m_cameraBuffer;
  std::unique_ptr<GPUBuffer> m_auxiliaryBuffer;
  std::unique_ptr<GPUBuffer> m_directionalLightBuffer;
  uint32_t m_meshes[MeshCount] = {};
  Mesh* m_meshObjects[MeshCount] = {};
  std::unique_ptr<Renderer::RenderTarget<1>> m_smallTarget;
  RenderStateSet* m_states = nullptr;
  Base::BlobAllocator m_scratch{32};
  Base::Vec2 m_targetSize{0, 0};

  Shader* m_objectSpaceVS = nullptr;
  Shader* m_fullbrightPS = nullptr;
  Shader* m_toScreenPS = nullptr;
  Shader* m_debugVS = nullptr;
  Shader* m_debugPS = nullptr;
  Shader* m_drawLibPS = nullptr;
  Shader* m_vertexFactoryVS = nullptr;
  Shader* m_vertexFactoryAnimationVS = nullptr;

  int m_rasterizer = 3;  // a true cache; 3 is no state yet
  bool m_initialized = false;
  uint32_t m_lastBatchCount = 0;
  // Destroyed first, then the scratch storage and the common states above it.
  std::unique_ptr<DirectX::SpriteBatch> m_spriteBatch;
};

}  // namespace Graphics
