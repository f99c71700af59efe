// File-backed textures from "content/textures/": 2D textures from image files (PNG) and DDS
// textures (cube maps among them), behind the shader-resource interface render targets share.
#pragma once

#include "Base/Vector.h"
#include "Graphics/ShaderResource.h"
#include "Platform/Graphics/GpuResources.h"

#include <string>

namespace Graphics {

class Texture : public ShaderResource<1> {
 public:
  ~Texture() override;
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;

  // Textures keep no resource handle in this slot.
  Platform::GpuResource* GetResource(uint32_t) override { return nullptr; }
  Base::Vec2 GetSize() const override { return m_size; }
  Platform::GpuShaderResourceView* GetShaderResourceView(uint32_t) const override { return m_view; }
  void Release() override;
  virtual void Load(const std::string& path) = 0;
  // Sets the view on the pixel stage at `slot` alone.
  virtual void Bind(uint32_t slot);
  virtual bool IsLoaded() const { return m_loaded; }
  // A name that does not load keeps no entry of the texture managers (its error is logged on each
  // try): scripts asking for many missing files must not grow them.
  static constexpr bool kKeepsFailedNames = false;

  Base::Vec2 m_size{0, 0};
  Platform::GpuShaderResourceView* m_view = nullptr;
  Platform::GpuResource* m_texture = nullptr;
  bool m_loaded = false;
  std::string m_name;
  std::string m_directory = "content/textures/";

 protected:
  Texture() = default;
  // The shared steps of Load around one loader call.
  using Loader = int32_t (*)(const std::wstring& path, Platform::GpuResource** texture,
                             Platform::GpuShaderResourceView** view);
  void LoadWith(const std::string& path, Loader loader);
};

// A 2D texture decoded from an image file.
class Tex2D : public Texture {
 public:
  explicit Tex2D(const char* name);
  void Load(const std::string& path) override;
};

// A texture read from a DDS file: a cube map, or any other DDS texture.
class TexCube : public Texture {
 public:
  explicit TexCube(const std::string& name);
  void Load(const std::string& path) override;
};

// Binds no view at a pixel-shader slot (what a texture that failed to load binds).
void UnbindTextureSlot(uint32_t slot);

}  // namespace Graphics
