// DrawLib's setters, its recording into canvases and 3D2D blocks, and the per-frame hand-over.
#include "Graphics/DrawLib.h"

#include "Base/Assert.h"
#include "Base/Quaternion.h"
#include "Base/function/Thunk.h"
#include "Core/EngineLinks.h"
#include "Core/GameComponent.h"
#include "Core/GameSpace.h"
#include "Core/Hooks.h"
#include "Graphics/BaseCamera.h"
#include "Graphics/Canvas.h"
#include "Graphics/Font.h"
#include "Graphics/GraphicsMaster.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/Log.h"
#include "Base/ResourceCollection.h"
#include "Graphics/Light.h"

#include <cstring>
#include <new>
#include <numbers>

namespace Graphics {

namespace {

constexpr float kRadiansPerDegree = std::numbers::pi_v<float> / 180.0f;
constexpr uint32_t kLayerCount = 4;

}  // namespace

DrawLib& DrawLib::GetInstance() {
  static DrawLib instance;
  return instance;
}

DrawLib::DrawLib() : m_light(std::make_unique<BasePLight>()), m_defaultLight(std::make_unique<BasePLight>()) {
  if (Core::Hooks* hooks = Core::GetEngineHooks()) {
    const Base::Function listener(Base::MakeSignature<&DrawLib::InitializeBaseAssets>(),
                                  &Base::Thunk<&DrawLib::InitializeBaseAssets>, "DrawLib::InitializeBaseAssets");
    hooks->AddSystemListener("SystemPostInit", this, listener);
    m_listeningOn = hooks;
  }
}

DrawLib::~DrawLib() {
  EndFrame();
  if (m_listeningOn && Core::GetEngineHooks() == m_listeningOn) m_listeningOn->RemoveSystemListener("SystemPostInit", this);
}

Core::GameObject* DrawLib::GetCameraObject(Core::GameSpace* space) {
  GraphicsSystem* system = GraphicsSystem::GetInstance();
  if (!space || !system) return nullptr;
  const Base::Handle camera = system->GetActiveCamera(space);
  if (camera == Base::kNullHandle) return nullptr;
  Core::GameComponent* component = space->GetComponent(camera);
  return component ? component->GetOwner() : nullptr;
}

Canvas* DrawLib::CurrentCanvas() const {
  Canvas* canvas = GraphicsMaster::GetInstance().GetCanvas(int(GetCurrentCanvasId()));
  if (!canvas) GFX_LOG(Error, "Attempting to use DrawLib with invalid canvas");
  return canvas;
}

DrawBlock* DrawLib::OpenBlock() {
  if (!m_in3D2D) return nullptr;
  ORV_ASSERT(m_blockIndex < m_blocks.size());
  return m_blockIndex < m_blocks.size() ? &m_blocks[m_blockIndex] : nullptr;
}

void DrawLib::Start3D2D(Base::Vec3 position, Base::Vec3 anglesDegrees, float width, float height) {
  DrawBlock block;
  block.transform = Base::Quaternion(anglesDegrees * kRadiansPerDegree).ToMat4(position);
  block.offset = Base::Vec4(width * -0.5f, height * 0.5f, 0, 0);
  block.layer = m_3D2DLayerStack.empty() ? 1 : m_3D2DLayerStack.back();
  block.canvas = GetCurrentCanvasId();
  m_blocks.push_back(std::move(block));
  m_in3D2D = true;
}

void DrawLib::End3D2D() {
  // Outside a block the index would move past the block list and later draws would be lost.
  if (!m_in3D2D) {
    GFX_LOG(Warning, "End3D2D called outside a 3D2D block; nothing changes");
    return;
  }
  ++m_blockIndex;
  m_in3D2D = false;
}

void DrawLib::PushCanvas(uint32_t canvasId) { m_canvasStack.push_back(canvasId); }

uint32_t DrawLib::PopCanvas() {
  if (m_canvasStack.empty()) return 0;
  const uint32_t id = m_canvasStack.back();
  m_canvasStack.pop_back();
  return id;
}

void DrawLib::PushLayer(uint32_t layer) {
  if (layer >= kLayerCount) {
    GFX_LOG(Warning, "DrawLib layer %u is out of range (0 to 3); the layer stays %u", layer, GetCurrentLayer());
    return;
  }
  m_layerStack.push_back(layer);
}

uint32_t DrawLib::PopLayer() {
  if (m_layerStack.empty()) return 3;
  const uint32_t layer = m_layerStack.back();
  m_layerStack.pop_back();
  return layer;
}

void DrawLib::SetRotation(float degrees) { m_sprite.rotation = degrees * kRadiansPerDegree; }
void DrawLib::SetPosition(float x, float y) {
  m_sprite.position.x = x;
  m_sprite.position.y = y;
}
void DrawLib::SetScale(float width, float height) { m_sprite.scale = Base::Vec2(width, height); }
void DrawLib::SetDepth(float depth) { m_sprite.position.z = m_text.position.z = depth; }
void DrawLib::SetTexture(uint32_t textureId) { m_sprite.texture = textureId; }



void DrawLib::SetColour(Base::Vec4& colour, float r, float g, float b, float a) {
  const float alpha = a / 255.0f;
  colour = Base::Vec4(r / 255.0f, g / 255.0f, b / 255.0f, alpha) * alpha;
  colour.w = alpha;
}

void DrawLib::SetDrawColor(float r, float g, float b, float a) { SetColour(m_sprite.colour, r, g, b, a); }
void DrawLib::SetTextColor(float r, float g, float b, float a) { SetColour(m_text.colour, r, g, b, a); }

void DrawLib::SetAlphaMultiplier(float a) {
  const float m = a / 255.0f;
  for (Base::Vec4* colour : {&m_sprite.colour, &m_text.colour}) {
    if (colour->w > 0) *colour = *colour * (1.0f / colour->w);
    *colour = *colour * m;
    colour->w = m;
  }
}

void DrawLib::RecordSprite(uint32_t texture) {
  Canvas* canvas = CurrentCanvas();
  if (!canvas) return;
  SpriteRecord record = m_sprite;
  record.texture = texture;
  if (DrawBlock* block = OpenBlock())
    block->sprites.push_back(record);
  else
    canvas->AddRectCommand(int(GetCurrentLayer()), record);
}

void DrawLib::DrawRect(float x, float y, float width, float height) {
  SetPosition(x, y);
  SetScale(width, height);
  RecordSprite(m_whiteTexture);
}

void DrawLib::DrawTexturedRect(float x, float y, float width, float height) {
  SetPosition(x, y);
  SetScale(width, height);
  RecordSprite(m_sprite.texture);
}

void DrawLib::DrawTexturedRectRotated(float x, float y, float width, float height, float degrees) {
  SetPosition(x, y);
  SetScale(width, height);
  SetRotation(degrees);
  RecordSprite(m_sprite.texture);
}

uint32_t DrawLib::GetFontId(const char* fontName) {
  auto& fonts = Base::Resources<Font>::Instance();
  if (fontName && fonts.GetResourceByName(fontName)) return uint32_t(fonts.GetResourceID(fontName));
  fonts.GetResourceByName("Arial");
  return uint32_t(fonts.GetResourceID("Arial"));
}

void DrawLib::SetFont(uint32_t fontId) { m_text.font = fontId; }

Base::Vec2 DrawLib::GetTextSize(const char* text) {
  Font* font = Base::Resources<Font>::Instance().GetResourceById(m_text.font);
  return font ? font->MeasureString(text, m_text.size) : Base::Vec2(0, 0);
}

void DrawLib::SetTextPos(float x, float y) {
  m_text.position.x = x;
  m_text.position.y = y;
}
void DrawLib::SetUVMin(float u, float v) { m_sprite.uvMin = Base::Vec2(u, v); }
void DrawLib::SetUVMax(float u, float v) { m_sprite.uvMax = Base::Vec2(u, v); }
void DrawLib::SetTextSize(float size) { m_text.size = size; }
void DrawLib::SetTextScale(float x, float y) { m_text.scale = Base::Vec2(x, y); }

void DrawLib::DrawSpriteText(const char* text) {
  if (!text || !*text) return;
  const size_t length = std::strlen(text) + 1;
  if (length > (1u << 20)) {
    GFX_LOG(Error, "DrawSpriteText: a text of %zu bytes is not drawn", length);
    return;
  }
  auto* copy = static_cast<char*>(m_frames[m_recording].storage.Allocate(uint32_t((length + 3) & ~size_t(3)), 4));
  if (!copy) return;
  std::memcpy(copy, text, length);
  m_text.text = copy;
  Canvas* canvas = CurrentCanvas();
  if (!canvas) return;
  if (DrawBlock* block = OpenBlock())
    block->texts.push_back(m_text);
  else
    canvas->AddTextCommand(int(GetCurrentLayer()), m_text);
}

Base::Vec3 DrawLib::ToWorld(Base::Vec2 screen) {
  Canvas* canvas = GraphicsMaster::GetInstance().GetCanvas(int(GetCurrentCanvasId()));
  BaseCamera* camera = canvas ? canvas->GetCamera(1) : nullptr;
  return camera ? camera->ToWorld(screen.x, screen.y) : Base::Vec3(0, 0, 0);
}

Base::Vec2 DrawLib::ToScreen(Base::Vec3 world) {
  Canvas* canvas = GraphicsMaster::GetInstance().GetCanvas(int(GetCurrentCanvasId()));
  BaseCamera* camera = canvas ? canvas->GetCamera(1) : nullptr;
  return camera ? camera->ToScreen(world) : Base::Vec2(0, 0);
}

void DrawLib::SetLightPosition(Base::Vec3 position) { m_light->m_data.m_position = position; }
void DrawLib::SetPointLightRadius(float radius) { m_light->m_data.m_radius = radius; }
void DrawLib::SetLightAttenuation(Base::Vec3 attenuation) { m_light->m_data.m_attenuation = attenuation * 0.01f; }
void DrawLib::SetLightDiffuse(Base::Vec3 colour, float intensity) {
  m_light->m_data.m_diffuse = Base::Vec4(colour.x / 255.0f, colour.y / 255.0f, colour.z / 255.0f, intensity);
}

void DrawLib::DrawPointLight() {
  Canvas* canvas = CurrentCanvas();
  if (!canvas) return;
  FrameStorage& frame = m_frames[m_recording];
  void* storage = frame.storage.Allocate(sizeof(BasePLight), alignof(BasePLight));
  if (!storage) return;
  // A whole renderable: the render list keeps its address until the frame has been drawn.
  BasePLight* copy = new (storage) BasePLight(*m_light);
  frame.lights.push_back(copy);
  canvas->Submit(m_layerStack.empty() ? 1 : int(m_layerStack.back()), copy);
}

void DrawLib::ResetStates() {
  m_sprite = SpriteRecord();
  m_text = TextRecord();
  *m_light = *m_defaultLight;
  m_sprite.texture = m_whiteTexture;
  m_text.font = uint32_t(Base::Resources<Font>::Instance().GetResourceID("Arial"));
}


void DrawLib::Flush() {
  m_blockIndex = 0;
  m_in3D2D = false;
  // Each block goes to the canvas that was current when it was opened.
  for (const DrawBlock& block : m_blocks) {
    Canvas* canvas = GraphicsMaster::GetInstance().GetCanvas(int(block.canvas));
    if (!canvas) {
      GFX_LOG(Error, "Attempting to use DrawLib with invalid canvas");
      continue;
    }
    canvas->AddBlock(int(block.layer), block);
  }
  m_blocks.clear();
  m_canvasStack.clear();
  m_layerStack.clear();
  m_3D2DLayerStack.clear();
  // The frame before has been drawn and presented by now; this one is drawn after this call.
  m_recording = 1 - m_recording;
  m_frames[m_recording].Release();
}

void DrawLib::FrameStorage::Release() {
  for (BasePLight* light : lights) light->~BasePLight();
  lights.clear();
  storage.Reset();
  storage.Consolidate();
}

void DrawLib::EndFrame() {
  m_frames[0].Release();
  m_frames[1].Release();
}

namespace {

// The graphics system builds the DrawLib while it initialises (before "SystemPostInit") and flushes
// it each frame between the scripts' drawing and the canvases' render.
void InitializeDrawLib() {
  DrawLib& drawLib = DrawLib::GetInstance();
  // Its help is listed as "surface.", flagged apart from the libraries named as their globals.
  Core::Scripts().PublishLibrary("graphics", Base::Reflection::Variant(Base::Reflection::TypeOf<DrawLib*>(), &drawLib),
                                 "The surface library contains a variety of 2D draw calls. Actual draw calls use "
                                 "preceding Setter calls for attributes.",
                                 "surface.", 1);
}

void FlushDrawLib() { DrawLib::GetInstance().Flush(); }

}  // namespace

}  // namespace Graphics

ORV_ON_LOAD { Graphics::GraphicsSystem::SetDrawLibLink({&Graphics::InitializeDrawLib, &Graphics::FlushDrawLib}); }

// Scripts call these as methods of the global "graphics".
ORV_REFLECT_CLASS(Graphics::DrawLib) {
  ORV_METHOD(GetCameraObject, "GetActiveCamera", "Gets the active camera's object of a game space.");
  ORV_METHOD(Start3D2D, nullptr, "Starts 3D2D and defines a plane that all subsequent surface calls will project onto");
  ORV_METHOD(End3D2D, nullptr, "Ends 3D2D and reverts surface plane back to screen");
  ORV_METHOD(PushCanvas, nullptr, "Sets the canvas that renderables are drawn to");
  ORV_METHOD(PopCanvas, nullptr, "Pops the cnavas that renderables would be drawn to");
  ORV_METHOD(PushLayer, nullptr, "Sets draw layer for renderable on canvas");
  ORV_METHOD(PopLayer, nullptr, "Pops the canvas layer renderable will be drawn to");
  ORV_METHOD(SetRotation, nullptr, "Sets the Rotation on Z-axis renderable will be drawn");
  ORV_METHOD(SetPosition, nullptr, "Sets the position renderable will be drawn");
  ORV_METHOD(SetScale, nullptr, "Sets the scale renderable will be drawn");
  ORV_METHOD(SetDepth, nullptr, "Sets the depth for renderable on a canvas layer");
  ORV_METHOD(GetSpriteDepth, nullptr, "Gets the Z-depth of the sprite");
  ORV_METHOD(GetFontDepth, nullptr, "Gets the Z-depth of the font");
  ORV_METHOD(SetTexture, nullptr, "Sets texture used for textured draw calls");
  ORV_METHOD(GetTextureID, nullptr, "Returns a texture ID");
  ORV_METHOD(GetTextureSize, nullptr, "Returns values of a texture dimension");
  ORV_METHOD(SetDrawColor, nullptr, "Sets color values between [0, 255]");
  ORV_METHOD(SetAlphaMultiplier, nullptr, "Sets alpha color value between [0, 255]");
  ORV_METHOD(DrawRect, nullptr, "Draws rectangle");
  ORV_METHOD(DrawTexturedRect, nullptr, "Draws textured rectangle");
  ORV_METHOD(DrawTexturedRectRotated, nullptr, "Draws textured rectangle rotated");
  ORV_METHOD(GetFontId, "GetFontID", "Returns a font ID");
  ORV_METHOD(SetFont, nullptr, "Sets the type font");
  ORV_METHOD(GetTextSize, "MeasureString", "Measures the dimensions of a string.");
  ORV_METHOD(SetTextColor, nullptr, "Sets text color values between [0, 255]");
  ORV_METHOD(SetTextPos, nullptr, "Sets text position values");
  ORV_METHOD(SetUVMin, nullptr, "Sets the min offset of UVs");
  ORV_METHOD(SetUVMax, nullptr, "Sets the max offset of UVs");
  ORV_METHOD(DrawSpriteText, nullptr, "Draws Text");
  ORV_METHOD(ToWorld);
  ORV_METHOD(ToScreen);
  ORV_METHOD(SetTextSize, nullptr, "Sets the font size of text");
  ORV_METHOD(SetTextScale, nullptr, "Sets the x/y scale of text, this compounds on font size");
  ORV_METHOD(SetLightPosition, nullptr, "Sets the light position state");
  ORV_METHOD(SetPointLightRadius, nullptr, "Sets the point light radius state");
  ORV_METHOD(SetLightAttenuation, nullptr, "Sets the attenuation state for lights");
  ORV_METHOD(SetLightDiffuse, nullptr, "Sets the diffuse state for lights");
  ORV_METHOD(DrawPointLight, nullptr, "Draws a point light using the states set by the above functions");
  ORV_METHOD(ResetStates, nullptr, "Resets all DrawLib states to their defaults");
}
