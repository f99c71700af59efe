// The scripts' immediate-mode 2D drawing (the global "graphics"): a current sprite, text and
// point-light state that setters change and draw calls copy into the current canvas's layer, or
// into a 3D2D block drawn on a plane placed in the scene.
#pragma once

#include "Base/BlobAllocator.h"
#include "Base/Vector.h"
#include "Base/Reflection/Registration.h"
#include "Graphics/DrawRecords.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Core {
class GameObject;
class GameSpace;
class Hooks;
}  // namespace Core

namespace Graphics {

class BasePLight;
class Canvas;

class DrawLib {
 public:
  // The one DrawLib of the program, made on first use; the graphics system makes it while
  // initialising so that it hears "SystemPostInit".
  static DrawLib& GetInstance();

  // Tests build their own. Registers InitializeBaseAssets on the engine's "SystemPostInit" when
  // an engine exists.
  DrawLib();
  ~DrawLib();
  DrawLib(const DrawLib&) = delete;
  DrawLib& operator=(const DrawLib&) = delete;

  static Core::GameObject* GetCameraObject(Core::GameSpace* space);

  void Start3D2D(Base::Vec3 position, Base::Vec3 anglesDegrees, float width, float height);
  void End3D2D();
  void PushCanvas(uint32_t canvasId);
  uint32_t PopCanvas();
  void PushLayer(uint32_t layer);
  uint32_t PopLayer();

  void SetRotation(float degrees);
  void SetPosition(float x, float y);
  void SetScale(float width, float height);
  void SetDepth(float depth);
  float GetSpriteDepth() const { return m_sprite.position.z; }
  float GetFontDepth() const { return m_text.position.z; }
  void SetTexture(uint32_t textureId);
  uint32_t GetTextureID(const char* fileName);
  Base::Vec2 GetTextureSize();
  // Components 0 to 255; the colour is kept premultiplied by alpha.
  void SetDrawColor(float r, float g, float b, float a);
  void SetAlphaMultiplier(float a);

  void DrawRect(float x, float y, float width, float height);
  void DrawTexturedRect(float x, float y, float width, float height);
  void DrawTexturedRectRotated(float x, float y, float width, float height, float degrees);

  uint32_t GetFontId(const char* fontName);
  void SetFont(uint32_t fontId);
  Base::Vec2 GetTextSize(const char* text);
  void SetTextColor(float r, float g, float b, float a);
  void SetTextPos(float x, float y);
  void SetUVMin(float u, float v);
  void SetUVMax(float u, float v);
  void DrawSpriteText(const char* text);
  void SetTextSize(float size);
  void SetTextScale(float x, float y);

  Base::Vec3 ToWorld(Base::Vec2 screen);
  Base::Vec2 ToScreen(Base::Vec3 world);

  void SetLightPosition(Base::Vec3 position);
  void SetPointLightRadius(float radius);
  void SetLightAttenuation(Base::Vec3 attenuation);
  void SetLightDiffuse(Base::Vec3 colour, float intensity);
  void DrawPointLight();
  void ResetStates();

  // On "SystemPostInit": the white texture and the "Arial" font become the defaults.
  void InitializeBaseAssets();
  // Once per frame, after the scripts drew and before the canvases render: hands every 3D2D block
  // to its own canvas and empties the blocks and the canvas and layer stacks. The texts and light
  // copies of the frame before (drawn and presented since) are released then, and the frame just
  // recorded keeps its own until the next Flush: the storage does not grow from frame to frame.
  void Flush();
  // Releases the texts and light copies of every frame (the copies destroyed) at once, for an owner
  // that knows no recorded frame is still to be drawn.
  void EndFrame();

  // The state, read by tests and the renderer.
  const SpriteRecord& GetSpriteState() const { return m_sprite; }
  const TextRecord& GetTextState() const { return m_text; }
  const BasePLight& GetLightState() const { return *m_light; }
  uint32_t GetCurrentCanvasId() const { return m_canvasStack.empty() ? 0 : m_canvasStack.back(); }
  uint32_t GetCurrentLayer() const { return m_layerStack.empty() ? 3 : m_layerStack.back(); }
  const std::vector<DrawBlock>& GetBlocks() const { return m_blocks; }
  // Storage of the frames not yet released (the one recording and the one drawn last).
  uint32_t GetFrameBytes() const { return m_frames[0].storage.GetBytesUsed() + m_frames[1].storage.GetBytesUsed(); }
  uint32_t GetFrameCapacity() const {
    return m_frames[0].storage.GetTotalCapacity() + m_frames[1].storage.GetTotalCapacity();
  }
  uint32_t GetFrameLightCount() const { return uint32_t(m_frames[0].lights.size() + m_frames[1].lights.size()); }

 private:
  ORV_REFLECTED;

  // The current canvas, or null with the error logged.
  Canvas* CurrentCanvas() const;
  void RecordSprite(uint32_t texture);
  static void SetColour(Base::Vec4& colour, float r, float g, float b, float a);
  // The block draws go to while in 3D2D, or null.
  DrawBlock* OpenBlock();

  SpriteRecord m_sprite;
  TextRecord m_text;
  // Held apart: the light's header and the texture header cannot meet in one source file.
  std::unique_ptr<BasePLight> m_light;
  std::unique_ptr<BasePLight> m_defaultLight;
  uint32_t m_blockIndex = 0;
  bool m_in3D2D = false;
  std::vector<DrawBlock> m_blocks;
  std::vector<uint32_t> m_canvasStack;
  std::vector<uint32_t> m_layerStack;
  std::vector<uint32_t> m_3D2DLayerStack;
  // The texts and light copies of one frame: the render list points into them until it is drawn.
  struct FrameStorage {
    Base::BlobAllocator storage{512};
    std::vector<BasePLight*> lights;  // placed in the storage
    void Release();
  };
  FrameStorage m_frames[2];  // [m_recording] takes this frame's draws; the other was drawn last
  int m_recording = 0;
  uint32_t m_whiteTexture = 0;
  Core::Hooks* m_listeningOn = nullptr;
};

}  // namespace Graphics
