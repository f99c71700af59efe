// Resource loading speed: a 100,000-vertex skinned mesh with four animations against reading its
// two files' bytes, and a 2048 x 2048 PNG made into a texture against libpng decoding it alone.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Base/TraceLog.h"
#include "Graphics/Device.h"
#include "Graphics/Mesh.h"
#include "Graphics/WICTextureLoader.h"
#include "tools/ContentWriters/MeshWriter.h"
#include "tools/ContentWriters/TextureWriters.h"

namespace {

using namespace ContentWriters;

const std::string kMeshName = "OrvBench_Skinned.cong";
const std::string kMeshPath = "content/meshes/" + kMeshName;
const std::string kAnimationPath = "content/animations/OrvBench_Skinned.conga";
const std::string kPngPath = "content/textures/OrvBench_Large.png";

// The files are written once per run and removed when the program ends.
struct Files {
  Files() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    const uint32_t bones = 32;
    WriteFileBytes(kMeshPath, WriteMeshBytes(MakeSkinnedBar(12499, bones)));  // 8 x 12,500 vertices
    WriteFileBytes(kAnimationPath, WriteAnimationBytes({MakeBendClip("Idle", bones, 60, 0.1f),
                                                        MakeBendClip("Walk", bones, 40, 0.4f),
                                                        MakeBendClip("Run", bones, 30, 0.6f),
                                                        MakeBendClip("Jump", bones, 50, 0.9f)}));
    PngDesc desc;
    desc.width = desc.height = 2048;
    std::vector<uint8_t> rows(size_t(2048) * 2048 * 4);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t((i * 2654435761u) >> 13 ^ (i / 8192));
    WritePng(kPngPath, desc, rows);
    bytes = FileSize(kMeshPath) + FileSize(kAnimationPath);
  }
  ~Files() {
    std::remove(kMeshPath.c_str());
    std::remove(kAnimationPath.c_str());
    std::remove(kPngPath.c_str());
  }
  static size_t FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size_t(size);
  }
  size_t bytes = 0;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// The baseline: both files read whole into fresh buffers, as the loader reads them.
void ReadFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::rewind(f);
  std::vector<uint8_t> buffer(size_t(size) + 1);
  benchmark::DoNotOptimize(std::fread(buffer.data(), 1, size_t(size), f));
  std::fclose(f);
  benchmark::DoNotOptimize(buffer.data());
}

void BM_ReadSkinnedMeshBytes(benchmark::State& state) {
  const size_t bytes = TheFiles().bytes;
  for (auto _ : state) {
    ReadFile(kMeshPath);
    ReadFile(kAnimationPath);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_ReadSkinnedMeshBytes)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// Construction reads, converts and uploads; destruction gives the buffers back.
void BM_LoadSkinnedMesh(benchmark::State& state) {
  const size_t bytes = TheFiles().bytes;
  Graphics::GetDevice();
  for (auto _ : state) {
    Graphics::Mesh mesh(kMeshName.c_str());
    if (!mesh.IsLoaded() || !mesh.IsAnimated()) state.SkipWithError("the mesh did not load");
    benchmark::DoNotOptimize(mesh.m_skinnedVertices.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_LoadSkinnedMesh)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

bool DecodeRows(png_structp png, png_infop info, FILE* file, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

// The baseline: libpng alone decoding into one fresh buffer in the texture's byte order.
void BM_LibpngDecode(benchmark::State& state) {
  TheFiles();
  for (auto _ : state) {
    FILE* file = std::fopen(kPngPath.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> pixels(size_t(2048) * 2048 * 4);
    std::vector<png_bytep> rows(2048);
    for (size_t y = 0; y < 2048; ++y) rows[y] = pixels.data() + y * 2048 * 4;
    if (!DecodeRows(png, info, file, rows.data())) state.SkipWithError("libpng failed");
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_LibpngDecode)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// As the 2D texture resource loads: decode, create the texture with its device-built mip chain.
void BM_PngToTexture(benchmark::State& state) {
  const bool chain = state.range(0) != 0;
  TheFiles();
  Graphics::Device* device = Graphics::GetDevice();
  const std::wstring path(kPngPath.begin(), kPngPath.end());
  for (auto _ : state) {
    Platform::GpuResource* texture = nullptr;
    Platform::GpuShaderResourceView* view = nullptr;
    if (Platform::GpuFailed(DirectX::LoadWICTextureFile(device->m_device, chain ? device->m_context : nullptr,
                                                        path.c_str(), &texture, &view)))
      state.SkipWithError("the texture did not load");
    device->m_context->Flush();
    if (view) view->Release();
    if (texture) texture->Release();
  }
}
// Argument 1: with the device-built mip chain the texture resource gets; 0: the top level alone.
BENCHMARK(BM_PngToTexture)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly(true);

}  // namespace
