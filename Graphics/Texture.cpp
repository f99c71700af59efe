// Loading textures through the image and DDS loaders, and binding them to the pixel stage.
#include "Graphics/Texture.h"

#include "Graphics/DDSTextureLoader.h"
#include "Graphics/Device.h"
#include "Graphics/Log.h"
#include "Graphics/WICTextureLoader.h"

namespace Graphics {

Texture::~Texture() { Release(); }

void Texture::Release() {
  if (m_view) m_view->Release();
  if (m_texture) m_texture->Release();
  m_view = nullptr;
  m_texture = nullptr;
}

void Texture::Bind(uint32_t slot) {
  Platform::GpuContext* context = GetDevice()->m_context;
  if (context) context->SetShaderResources(Platform::GpuShaderStage::Pixel, slot, 1, &m_view);
}

void Texture::LoadWith(const std::string& path, Loader loader) {
  GFX_LOG(Verbose, "Loading texture file, %s", path.c_str());
  // Paths are ASCII: one wide character per byte.
  const std::wstring wide(path.begin(), path.end());
  const int32_t result = loader(wide, &m_texture, &m_view);
  Platform::GpuTexture* texture = Platform::AsTexture(m_texture);
  if (Platform::GpuFailed(result) || !texture) {
    GFX_LOG_EACH(Error, "Failed to Create Texture from, %s", path.c_str());
    Release();
    return;
  }
  m_size = Base::Vec2(float(texture->Shape().width), float(texture->Shape().height));
  m_loaded = true;
}

Tex2D::Tex2D(const char* name) {
  m_name = name ? name : "";
  Load(m_directory + m_name);
}

void Tex2D::Load(const std::string& path) {
  LoadWith(path, [](const std::wstring& wide, Platform::GpuResource** texture, Platform::GpuShaderResourceView** view) {
    Device* device = GetDevice();
    return DirectX::LoadWICTextureFile(device->m_device, device->m_context, wide.c_str(), texture, view, 0);
  });
}

TexCube::TexCube(const std::string& name) { Load(m_directory + name); }

void TexCube::Load(const std::string& path) {
  LoadWith(path, [](const std::wstring& wide, Platform::GpuResource** texture, Platform::GpuShaderResourceView** view) {
    Device* device = GetDevice();
    return DirectX::LoadDDSTextureFile(device->m_device, device->m_context, wide.c_str(), texture, view, 0, nullptr);
  });
}

void UnbindTextureSlot(uint32_t slot) {
  Platform::GpuContext* context = GetDevice()->m_context;
  Platform::GpuShaderResourceView* none = nullptr;
  if (context) context->SetShaderResources(Platform::GpuShaderStage::Pixel, slot, 1, &none);
}

}  // namespace Graphics
