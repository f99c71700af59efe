// DDS and PNG files written by the content writers, loaded into textures of every kind whose texels
// are read back from the device; the loaders' refusals of broken files; and the texture resources.
#include "DirectX/SpriteBatch.h"
#include "Graphics/DDSTextureLoader.h"
#include "Graphics/WICTextureLoader.h"
#include "tests/Graphics/ResourceTestSupport.h"

#include <cstring>

namespace {

using namespace ContentWriters;
using Platform::GpuRef;

class TextureFiles : public ResourceTest::ResourceFixture {
 protected:
  struct Loaded {
    int32_t result = 0;
    GpuRef<Platform::GpuResource> texture;
    GpuRef<Platform::GpuShaderResourceView> view;
    Platform::GpuTexture2D* Tex() const { return Platform::AsTexture2D(texture.Get()); }
  };

  std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

  Loaded LoadDds(const std::vector<uint8_t>& bytes, bool withContext = false) {
    const std::string path = "content/textures/" + Unique("t.dds");
    WriteFile(path, bytes);
    Loaded out;
    out.result = DirectX::LoadDDSTextureFile(device_.Get(), withContext ? context_.Get() : nullptr, Wide(path).c_str(),
                                             out.texture.GetAddressOf(), out.view.GetAddressOf());
    return out;
  }

  Loaded LoadPng(const PngDesc& desc, const std::vector<uint8_t>& rows, size_t maxsize = 0, bool withContext = false) {
    const std::string path = "content/textures/" + Unique("t.png");
    EXPECT_TRUE(WritePng(path, desc, rows));
    Track(path);
    Loaded out;
    out.result = DirectX::LoadWICTextureFile(device_.Get(), withContext ? context_.Get() : nullptr, Wide(path).c_str(),
                                             out.texture.GetAddressOf(), out.view.GetAddressOf(), maxsize);
    return out;
  }

  std::vector<uint8_t> Texels(const Loaded& loaded, uint32_t subresource) {
    std::vector<uint8_t> texels;
    EXPECT_EQ(device_->ReadTexels(loaded.Tex(), subresource, &texels), Platform::kGpuOk);
    return texels;
  }
};

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(seed + i * 7);
  return data;
}

TEST_F(TextureFiles, DdsTexelsReadBackForEachFormatPath) {
  for (DdsFormat format : {DdsFormat::RGBA8, DdsFormat::BGRA8, DdsFormat::BC1}) {
    for (bool dx10 : {false, true}) {
      DdsDesc desc;
      desc.width = 8;
      desc.height = 4;
      desc.mipCount = 3;  // 8x4, 4x2, 2x1
      desc.format = format;
      desc.dx10 = dx10;
      const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), uint8_t(format));
      Loaded loaded = LoadDds(WriteDdsBytes(desc, data));
      ASSERT_EQ(loaded.result, Platform::kGpuOk) << uint32_t(format) << dx10;
      ASSERT_EQ(loaded.Tex()->GetDesc().format, Platform::GpuFormat(format));
      ASSERT_EQ(loaded.Tex()->GetDesc().mipLevels, 3u);
      size_t at = 0;
      for (uint32_t mip = 0; mip < 3; ++mip) {
        const uint32_t bytes = DdsLevelBytes(format, std::max(1u, 8u >> mip), std::max(1u, 4u >> mip));
        EXPECT_EQ(Texels(loaded, mip), std::vector<uint8_t>(data.begin() + at, data.begin() + at + bytes))
            << uint32_t(format) << " mip " << mip;
        at += bytes;
      }
    }
  }
}

TEST_F(TextureFiles, CubeMapsKeepTheirSixFaces) {
  for (bool dx10 : {false, true}) {
    DdsDesc desc;
    desc.width = desc.height = 4;
    desc.cube = true;
    desc.dx10 = dx10;
    const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), 3);
    Loaded loaded = LoadDds(WriteDdsBytes(desc, data));
    ASSERT_EQ(loaded.result, Platform::kGpuOk);
    EXPECT_EQ(loaded.Tex()->GetDesc().arraySize, 6u);
    EXPECT_EQ(loaded.view->GetDesc().dimension, Platform::GpuViewDimension::TextureCube);
    for (uint32_t face = 0; face < 6; ++face)
      EXPECT_EQ(Texels(loaded, face), std::vector<uint8_t>(data.begin() + face * 64, data.begin() + face * 64 + 64));
  }
}

TEST_F(TextureFiles, SingleLevelFilesGetADeviceChainOnlyWithAContext) {
  DdsDesc desc;
  desc.width = desc.height = 8;
  desc.dx10 = true;
  desc.arraySize = 2;  // an array: item 1 lands after item 0's whole chain
  const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), 9);
  Loaded without = LoadDds(WriteDdsBytes(desc, data));
  ASSERT_EQ(without.result, Platform::kGpuOk);
  EXPECT_EQ(without.Tex()->GetDesc().mipLevels, 1u);
  Loaded with = LoadDds(WriteDdsBytes(desc, data), true);
  ASSERT_EQ(with.result, Platform::kGpuOk);
  const uint32_t mips = with.Tex()->GetDesc().mipLevels;
  ASSERT_EQ(mips, 4u);
  EXPECT_EQ(Texels(with, 0), std::vector<uint8_t>(data.begin(), data.begin() + 256));
  EXPECT_EQ(Texels(with, mips), std::vector<uint8_t>(data.begin() + 256, data.end()));
}

TEST_F(TextureFiles, BrokenDdsFilesAreRefusedWithTheirCodes) {
  DdsDesc desc;
  desc.width = desc.height = 4;
  const std::vector<uint8_t> good = WriteDdsBytes(desc, Pattern(DdsDataBytes(desc), 1));
  auto with = [&](size_t offset, uint32_t value, std::vector<uint8_t> bytes) {
    std::memcpy(bytes.data() + offset, &value, 4);
    return bytes;
  };
  EXPECT_EQ(LoadDds({good.begin(), good.begin() + 127}).result, Platform::kGpuFail);
  EXPECT_EQ(LoadDds(with(0, 0x20534443, good)).result, Platform::kGpuFail);  // magic
  EXPECT_EQ(LoadDds(with(4 + 72, 31, good)).result, Platform::kGpuFail);     // pixel-format size
  EXPECT_EQ(LoadDds({good.begin(), good.end() - 1}).result, DirectX::kErrorHandleEof);
  EXPECT_EQ(LoadDds(with(4 + 12, 16385, good)).result, Platform::kGpuNotSupported);  // width
  EXPECT_EQ(LoadDds(with(4 + 24, 16, good)).result, Platform::kGpuNotSupported);     // mip count
  EXPECT_EQ(LoadDds(with(4 + 76, 0x41, with(4 + 88, 0x1234, good))).result, Platform::kGpuNotSupported);  // masks

  DdsDesc cube = desc;
  cube.cube = true;
  const std::vector<uint8_t> cubeBytes = WriteDdsBytes(cube, Pattern(DdsDataBytes(cube), 1));
  EXPECT_EQ(LoadDds(with(4 + 108, 0x200 | (0xFE00 & ~0x400u), cubeBytes)).result, Platform::kGpuNotSupported);

  DdsDesc dx10 = desc;
  dx10.dx10 = true;
  const std::vector<uint8_t> dx10Bytes = WriteDdsBytes(dx10, Pattern(DdsDataBytes(dx10), 1));
  EXPECT_EQ(LoadDds({dx10Bytes.begin(), dx10Bytes.begin() + 147}).result, Platform::kGpuFail);
  EXPECT_EQ(LoadDds(with(128 + 12, 0, dx10Bytes)).result, DirectX::kErrorInvalidData);  // array size
  EXPECT_EQ(LoadDds(with(128, 113, dx10Bytes)).result, Platform::kGpuNotSupported);     // a format not taken

  Loaded none;
  EXPECT_EQ(DirectX::LoadDDSTextureFile(device_.Get(), context_.Get(), L"content/textures/Sky.dds", nullptr, nullptr),
            Platform::kGpuInvalidArg);
  EXPECT_EQ(LoadDds(good).result, Platform::kGpuOk);
}

TEST_F(TextureFiles, OneDimensionalFilesAndTheirArraysKeepEveryLevel) {
  for (uint32_t items : {1u, 3u}) {
    DdsDesc desc;
    desc.width = 8;
    desc.mipCount = 4;  // 8, 4, 2, 1 texels
    desc.arraySize = items;
    desc.dx10 = true;
    desc.dimension = DdsDimension::Texture1D;
    const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), uint8_t(items));
    ASSERT_EQ(data.size(), (8 + 4 + 2 + 1) * 4u * items);
    Loaded loaded = LoadDds(WriteDdsBytes(desc, data));
    ASSERT_EQ(loaded.result, Platform::kGpuOk) << items;
    Platform::GpuTexture1D* line = Platform::AsTexture1D(loaded.texture.Get());
    ASSERT_NE(line, nullptr) << "a 1D file is no 2D texture";
    EXPECT_EQ(line->GetDesc().width, 8u);
    EXPECT_EQ(line->GetDesc().mipLevels, 4u);
    EXPECT_EQ(line->GetDesc().arraySize, items);
    EXPECT_EQ(loaded.view->GetDesc().dimension,
              items > 1 ? Platform::GpuViewDimension::Texture1DArray : Platform::GpuViewDimension::Texture1D);
    size_t at = 0;
    for (uint32_t item = 0; item < items; ++item) {
      for (uint32_t mip = 0; mip < 4; ++mip) {
        const size_t bytes = (8u >> mip) * 4u;
        std::vector<uint8_t> texels;
        ASSERT_EQ(device_->ReadTexels(line, item * 4 + mip, &texels), Platform::kGpuOk);
        EXPECT_EQ(texels, std::vector<uint8_t>(data.begin() + at, data.begin() + at + bytes)) << item << " " << mip;
        at += bytes;
      }
    }
  }

  // A one-dimensional file whose header says it is two texels high is invalid.
  DdsDesc tall;
  tall.width = 4;
  tall.height = 2;
  tall.dx10 = true;
  tall.dimension = DdsDimension::Texture1D;
  EXPECT_EQ(LoadDds(WriteDdsBytes(tall, Pattern(DdsDataBytes(tall), 1))).result, DirectX::kErrorInvalidData);
}

TEST_F(TextureFiles, VolumesKeepEverySliceOfEveryLevel) {
  for (bool dx10 : {false, true}) {
    DdsDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.depth = 4;
    desc.mipCount = 3;  // 4x2x4, 2x1x2, 1x1x1
    desc.dx10 = dx10;
    const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), 40);
    ASSERT_EQ(data.size(), (4 * 2 * 4 + 2 * 1 * 2 + 1) * 4u);
    Loaded loaded = LoadDds(WriteDdsBytes(desc, data));
    ASSERT_EQ(loaded.result, Platform::kGpuOk) << dx10;
    Platform::GpuTexture3D* volume = Platform::AsTexture3D(loaded.texture.Get());
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->GetDesc().depth, 4u);
    EXPECT_EQ(volume->GetDesc().mipLevels, 3u);
    EXPECT_EQ(loaded.view->GetDesc().dimension, Platform::GpuViewDimension::Texture3D);
    const size_t levelBytes[3] = {128, 16, 4};
    size_t at = 0;
    for (uint32_t mip = 0; mip < 3; ++mip) {
      std::vector<uint8_t> texels;
      ASSERT_EQ(device_->ReadTexels(volume, mip, &texels), Platform::kGpuOk);
      EXPECT_EQ(texels, std::vector<uint8_t>(data.begin() + at, data.begin() + at + levelBytes[mip])) << mip;
      at += levelBytes[mip];
    }
  }

  // One level and a context: the device builds the chain from the whole first level.
  DdsDesc single;
  single.width = single.height = single.depth = 4;
  const std::vector<uint8_t> data = Pattern(DdsDataBytes(single), 2);
  ASSERT_EQ(data.size(), 256u);
  Loaded built = LoadDds(WriteDdsBytes(single, data), true);
  ASSERT_EQ(built.result, Platform::kGpuOk);
  Platform::GpuTexture3D* volume = Platform::AsTexture3D(built.texture.Get());
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->GetDesc().mipLevels, 3u);
  std::vector<uint8_t> top;
  ASSERT_EQ(device_->ReadTexels(volume, 0, &top), Platform::kGpuOk);
  EXPECT_EQ(top, data);
  // A file holding the first slice of that level but not the others is short, with or without a context.
  const std::vector<uint8_t> whole = WriteDdsBytes(single, data);
  const std::vector<uint8_t> oneSlice(whole.begin(), whole.end() - 3 * 64);
  EXPECT_EQ(LoadDds(oneSlice, true).result, DirectX::kErrorHandleEof);
  EXPECT_EQ(LoadDds(oneSlice).result, DirectX::kErrorHandleEof);
}

TEST_F(TextureFiles, BrokenVolumeFilesAreRefusedWithTheirCodes) {
  DdsDesc desc;
  desc.width = desc.height = desc.depth = 2;
  desc.dx10 = true;
  const std::vector<uint8_t> good = WriteDdsBytes(desc, Pattern(DdsDataBytes(desc), 1));
  auto with = [&](size_t offset, uint32_t value) {
    std::vector<uint8_t> bytes = good;
    std::memcpy(bytes.data() + offset, &value, 4);
    return bytes;
  };
  EXPECT_EQ(LoadDds(good).result, Platform::kGpuOk);
  EXPECT_EQ(LoadDds(with(128 + 12, 2)).result, Platform::kGpuNotSupported);  // an array of volumes
  uint32_t flags = 0;
  std::memcpy(&flags, good.data() + 4 + 4, 4);
  EXPECT_EQ(LoadDds(with(4 + 4, flags & ~DirectX::DDS_HEADER_FLAGS_VOLUME)).result, DirectX::kErrorInvalidData);
  EXPECT_EQ(LoadDds(with(4 + 12, 2049)).result, Platform::kGpuNotSupported);  // wider than a volume may be
  EXPECT_EQ(LoadDds(with(4 + 20, 2049)).result, Platform::kGpuNotSupported);  // deeper
}

TEST_F(TextureFiles, B5G6R5FilesKeepTheirPackedTexels) {
  for (bool dx10 : {false, true}) {
    DdsDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.mipCount = 2;
    desc.format = DdsFormat::B5G6R5;
    desc.dx10 = dx10;
    const std::vector<uint8_t> data = Pattern(DdsDataBytes(desc), 7);
    ASSERT_EQ(data.size(), (4 * 2 + 2 * 1) * 2u);
    Loaded loaded = LoadDds(WriteDdsBytes(desc, data));
    ASSERT_EQ(loaded.result, Platform::kGpuOk) << dx10;
    ASSERT_EQ(loaded.Tex()->GetDesc().format, Platform::GpuFormat_B5G6R5_UNorm);
    EXPECT_EQ(Texels(loaded, 0), std::vector<uint8_t>(data.begin(), data.begin() + 16));
    EXPECT_EQ(Texels(loaded, 1), std::vector<uint8_t>(data.begin() + 16, data.end()));
  }
}

TEST_F(TextureFiles, TheSpriteBatchDrawsOnlyTwoDimensionalTextures) {
  DdsDesc line;
  line.width = 4;
  line.dx10 = true;
  line.dimension = DdsDimension::Texture1D;
  DdsDesc volume;
  volume.width = volume.height = volume.depth = 2;
  DdsDesc flat;
  flat.width = flat.height = 2;
  for (const DdsDesc* desc : {&line, &volume, &flat}) {
    Loaded loaded = LoadDds(WriteDdsBytes(*desc, Pattern(DdsDataBytes(*desc), 3)));
    ASSERT_EQ(loaded.result, Platform::kGpuOk);
    DirectX::SpriteBatch batch(context_.Get());
    batch.SetRotation(DirectX::SpriteRotation_Unspecified);
    batch.Begin();
    batch.Draw(loaded.view.Get(), Base::Vec2(0, 0), nullptr, Base::Vec4(1, 1, 1, 1), 0, Base::Vec2(0, 0),
               Base::Vec2(1, 1));
    std::string refusal = "(drawn)";
    try {
      batch.End();
    } catch (const DirectX::SpriteError& error) {
      refusal = error.what();
    }
    EXPECT_EQ(refusal, desc == &flat ? "(drawn)" : "SpriteBatch can only draw Texture2D resources");
  }
}

TEST_F(TextureFiles, PngKindsBecomeTheFormatsOfTheTables) {
  PngDesc rgba;
  rgba.width = 3;
  rgba.height = 2;
  const std::vector<uint8_t> rgbaRows = Pattern(3 * 2 * 4, 5);
  Loaded a = LoadPng(rgba, rgbaRows);
  ASSERT_EQ(a.result, Platform::kGpuOk);
  ASSERT_EQ(a.Tex()->GetDesc().format, Platform::GpuFormat_B8G8R8A8_UNorm);
  std::vector<uint8_t> bgra = rgbaRows;
  for (size_t i = 0; i < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
  EXPECT_EQ(Texels(a, 0), bgra);

  PngDesc rgb = rgba;
  rgb.kind = PngKind::Rgb;
  const std::vector<uint8_t> rgbRows = Pattern(3 * 2 * 3, 1);
  Loaded b = LoadPng(rgb, rgbRows);
  ASSERT_EQ(b.result, Platform::kGpuOk);
  ASSERT_EQ(b.Tex()->GetDesc().format, Platform::GpuFormat_R8G8B8A8_UNorm);
  std::vector<uint8_t> expanded;
  for (size_t i = 0; i < rgbRows.size(); i += 3) expanded.insert(expanded.end(), {rgbRows[i], rgbRows[i + 1], rgbRows[i + 2], 255});
  EXPECT_EQ(Texels(b, 0), expanded);

  PngDesc palette = rgba;
  palette.kind = PngKind::Palette;
  palette.palette = {10, 20, 30, 40, 50, 60};
  palette.transparency = {128};
  Loaded c = LoadPng(palette, {0, 1, 1, 1, 0, 0});
  ASSERT_EQ(c.result, Platform::kGpuOk);
  ASSERT_EQ(c.Tex()->GetDesc().format, Platform::GpuFormat_R8G8B8A8_UNorm);
  EXPECT_EQ(Texels(c, 0), std::vector<uint8_t>({10, 20, 30, 128, 40, 50, 60, 255, 40, 50, 60, 255,  //
                                                40, 50, 60, 255, 10, 20, 30, 128, 10, 20, 30, 128}));

  PngDesc gray1 = rgba;
  gray1.kind = PngKind::Gray;
  gray1.bitDepth = 1;
  Loaded d = LoadPng(gray1, {0xA0, 0x40});  // 1 0 1 / 0 1 0
  ASSERT_EQ(d.result, Platform::kGpuOk);
  ASSERT_EQ(d.Tex()->GetDesc().format, Platform::GpuFormat_R8_UNorm);
  EXPECT_EQ(Texels(d, 0), std::vector<uint8_t>({255, 0, 255, 0, 255, 0}));

  PngDesc gray16 = gray1;
  gray16.bitDepth = 16;
  Loaded e = LoadPng(gray16, {0x12, 0x34, 0, 1, 0xFF, 0xFE, 0, 0, 1, 0, 0x80, 0});
  ASSERT_EQ(e.result, Platform::kGpuOk);
  ASSERT_EQ(e.Tex()->GetDesc().format, Platform::GpuFormat_R16_UNorm);
  EXPECT_EQ(Texels(e, 0), std::vector<uint8_t>({0x34, 0x12, 1, 0, 0xFE, 0xFF, 0, 0, 0, 1, 0, 0x80}));

  PngDesc rgb16 = rgb;
  rgb16.bitDepth = 16;
  rgb16.width = 1;
  rgb16.height = 1;
  Loaded f = LoadPng(rgb16, {0, 1, 0, 2, 0, 3});
  ASSERT_EQ(f.result, Platform::kGpuOk);
  ASSERT_EQ(f.Tex()->GetDesc().format, Platform::GpuFormat_R16G16B16A16_UNorm);
  EXPECT_EQ(Texels(f, 0), std::vector<uint8_t>({1, 0, 2, 0, 3, 0, 0xFF, 0xFF}));

  PngDesc srgb = rgba;
  srgb.srgb = true;
  srgb.interlaced = true;
  Loaded g = LoadPng(srgb, rgbaRows);
  ASSERT_EQ(g.result, Platform::kGpuOk);
  EXPECT_EQ(g.Tex()->GetDesc().format, Platform::GpuFormat_B8G8R8A8_UNorm_SRGB);
  EXPECT_EQ(Texels(g, 0), bgra);
}

TEST_F(TextureFiles, OversizedImagesAreScaledAndChainsNeedAContext) {
  PngDesc wide;
  wide.width = 64;
  wide.height = 16;
  wide.kind = PngKind::Gray;
  Loaded a = LoadPng(wide, std::vector<uint8_t>(64 * 16, 200), 32);
  ASSERT_EQ(a.result, Platform::kGpuOk);
  EXPECT_EQ(a.Tex()->GetDesc().width, 32u);
  EXPECT_EQ(a.Tex()->GetDesc().height, 8u);
  EXPECT_EQ(Texels(a, 0), std::vector<uint8_t>(32 * 8, 200));  // the mean of equal texels

  PngDesc tall = wide;
  tall.width = 10;
  tall.height = 30;
  Loaded b = LoadPng(tall, std::vector<uint8_t>(10 * 30, 7), 20);
  ASSERT_EQ(b.result, Platform::kGpuOk);
  EXPECT_EQ(b.Tex()->GetDesc().width, 6u);  // 20 / 3 truncated
  EXPECT_EQ(b.Tex()->GetDesc().height, 20u);
  EXPECT_EQ(b.Tex()->GetDesc().mipLevels, 1u);

  Loaded c = LoadPng(wide, std::vector<uint8_t>(64 * 16, 1), 0, true);
  ASSERT_EQ(c.result, Platform::kGpuOk);
  EXPECT_EQ(c.Tex()->GetDesc().mipLevels, 7u);

  EXPECT_EQ(DirectX::LoadWICTextureFile(device_.Get(), context_.Get(), L"content/textures/White.png", nullptr, nullptr),
            Platform::kGpuInvalidArg);
  const std::string notPng = "content/textures/" + Unique("fake.png");
  WriteText(notPng, "not a png at all");
  Loaded d;
  EXPECT_TRUE(Platform::GpuFailed(DirectX::LoadWICTextureFile(device_.Get(), context_.Get(), Wide(notPng).c_str(),
                                                              d.texture.GetAddressOf(), d.view.GetAddressOf())));
  EXPECT_EQ(d.view.Get(), nullptr);
}

// Images longer than the device's largest side on one axis and a single texel on the other: the long
// side is scaled to the limit and the short one stays a texel, each texel the mean of the ones it covers.
TEST_F(TextureFiles, LongThinImagesKeepTheirShortSideWhenScaled) {
  for (bool wide : {true, false}) {
    PngDesc desc;
    desc.width = wide ? 20000 : 1;
    desc.height = wide ? 1 : 20000;
    desc.kind = PngKind::Gray;
    Loaded loaded = LoadPng(desc, std::vector<uint8_t>(20000, 90));
    ASSERT_EQ(loaded.result, Platform::kGpuOk) << (wide ? "20000x1" : "1x20000");
    EXPECT_EQ(loaded.Tex()->GetDesc().width, wide ? 16384u : 1u);
    EXPECT_EQ(loaded.Tex()->GetDesc().height, wide ? 1u : 16384u);
    EXPECT_EQ(Texels(loaded, 0), std::vector<uint8_t>(16384, 90));
  }
}

TEST_F(TextureFiles, MissingTexturesKeepNoEntryAndAreReportedOnEveryTry) {
  auto& flat = Base::Resources<Graphics::Tex2D>::Instance();
  auto& cubes = Base::Resources<Graphics::TexCube>::Instance();
  const uint32_t flatEntries = flat.GetEntryCount(), cubeEntries = cubes.GetEntryCount();
  log_.Take();
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(flat.GetResourceByName("OrvTest_none.png"), nullptr);
    EXPECT_NE(log_.Take().find("Failed to Create Texture from, content/textures/OrvTest_none.png"), std::string::npos);
    EXPECT_EQ(cubes.GetResourceByName("OrvTest_none.dds"), nullptr);
    EXPECT_NE(log_.Take().find("Failed to Create Texture from, content/textures/OrvTest_none.dds"), std::string::npos);
  }
  EXPECT_EQ(flat.GetEntryCount(), flatEntries);
  EXPECT_EQ(cubes.GetEntryCount(), cubeEntries);
  EXPECT_EQ(flat.GetResourceID("OrvTest_none.png"), -1);
  ASSERT_NE(flat.GetResourceByName("White.png"), nullptr);
  EXPECT_EQ(flat.GetEntryCount(), flatEntries + 1);
}

TEST_F(TextureFiles, TextureResourcesLoadByNameAndBindOneSlot) {
  auto& textures = Base::Resources<Graphics::Tex2D>::Instance();
  PngDesc desc;
  desc.width = 256;
  desc.height = 128;
  const std::string name = Unique("Size.png");
  ASSERT_TRUE(WritePng("content/textures/" + name, desc, std::vector<uint8_t>(256 * 128 * 4, 9)));
  Track("content/textures/" + name);
  Graphics::Tex2D* texture = textures.GetResourceByName(name);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->GetSize(), Base::Vec2(256, 128));

  context_->ClearState();
  texture->Bind(3);
  Platform::GpuShaderResourceView* bound[5] = {};
  context_->GetShaderResources(Platform::GpuShaderStage::Pixel, 0, 5, bound);
  for (int slot = 0; slot < 5; ++slot) {
    EXPECT_EQ(bound[slot] != nullptr, slot == 3) << slot;
    if (bound[slot]) bound[slot]->Release();
  }

  log_.Take();
  EXPECT_EQ(Base::Resources<Graphics::TexCube>::Instance().GetResourceByName(name), nullptr);
  EXPECT_NE(log_.Take().find("Failed to Create Texture from, content/textures/" + name), std::string::npos);
  Graphics::TexCube* sky = Base::Resources<Graphics::TexCube>::Instance().GetResourceByName("Sky.dds");
  ASSERT_NE(sky, nullptr);
  EXPECT_EQ(sky->GetSize(), Base::Vec2(16, 16));
}

}  // namespace
