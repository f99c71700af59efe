// Writes the binary sample content of the game under a content folder: the fallback mesh and a few
// static meshes, a skinned mesh with its animations, the white texture, a checker texture, the
// particles' soft round sprite and a sky cube map.   MakeContent <content folder>
#include "tools/ContentWriters/MeshWriter.h"
#include "tools/ContentWriters/TextureWriters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

using namespace ContentWriters;

namespace {

bool Mesh(const std::string& root, const char* name, const MeshFileData& mesh) {
  return WriteFileBytes(root + "/meshes/" + name, WriteMeshBytes(mesh));
}

// RGBA8 texels of one face of the sky cube (faces +x, -x, +y, -y, +z, -z; rows from the top): a clear
// sky, deep blue overhead and pale about the horizon, over a hazy green ground.
std::vector<uint8_t> SkyFace(uint32_t face, uint32_t size) {
  static const float kZenith[3] = {60, 110, 200}, kHorizon[3] = {170, 205, 250}, kGround[3] = {100, 115, 80};
  const float band = 0.15f;  // the rows either side of the horizon keep its colour
  std::vector<uint8_t> texels;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      const float t = (float(y) + 0.5f) / float(size) * 2.0f - 1.0f;
      // How high the texel sits: the top face is all sky, the bottom all ground, and a side face goes
      // by its row alone, so that a row is one colour all the way round.
      const float height = face == 2 ? 1.0f : face == 3 ? -1.0f : -t;
      const float* to = height >= 0.0f ? kZenith : kGround;
      const float away = std::max(std::abs(height) - band, 0.0f) / (1.0f - band);
      const float blend = height >= 0.0f ? std::pow(away, 0.7f) : std::min(1.0f, away * 2.5f);
      for (int c = 0; c < 3; ++c) texels.push_back(uint8_t(kHorizon[c] + (to[c] - kHorizon[c]) * blend + 0.5f));
      texels.push_back(255);
    }
  return texels;
}

// RGBA8 texels of the particles' default sprite: a white disc that fades from full at its centre to
// nothing at its rim, and nothing outside it. Particles blend with premultiplied alpha, so the colour
// fades with the alpha.
std::vector<uint8_t> SoftDot(uint32_t size) {
  std::vector<uint8_t> texels;
  const float centre = float(size) / 2.0f;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      const float dx = (float(x) + 0.5f - centre) / centre, dy = (float(y) + 0.5f - centre) / centre;
      const float inside = std::max(1.0f - (dx * dx + dy * dy), 0.0f);
      const uint8_t a = uint8_t(inside * inside * 255.0f + 0.5f);
      for (int c = 0; c < 4; ++c) texels.push_back(a);
    }
  return texels;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeContent <content folder>\n");
    return 2;
  }
  const std::string root = argv[1];
  bool ok = Mesh(root, "default.cong", MakeBox(1, 1, 1)) && Mesh(root, "Crate.cong", MakeBox(1, 1, 1)) &&
            Mesh(root, "Plank.cong", MakeBox(4, 0.2f, 1)) && Mesh(root, "Plane.cong", MakePlane(10)) &&
            Mesh(root, "Pyramid.cong", MakePyramid(1));

  const uint32_t bones = 5;
  ok = ok && Mesh(root, "Worm.cong", MakeSkinnedBar(16, bones)) &&
       WriteFileBytes(root + "/animations/Worm.conga",
                      WriteAnimationBytes({MakeBendClip("Idle", bones, 30, 0.1f), MakeBendClip("Wiggle", bones, 20, 0.6f),
                                           MakeBendClip("Curl", bones, 45, 1.2f)}));

  PngDesc white;
  white.width = white.height = 4;
  ok = ok && WritePng(root + "/textures/White.png", white, std::vector<uint8_t>(4 * 4 * 4, 255));
  PngDesc checker;
  checker.width = checker.height = 64;
  checker.kind = PngKind::Rgb;
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) rows.push_back(((x / 8 + y / 8) % 2) ? 230 : 40);
  ok = ok && WritePng(root + "/textures/Checker.png", checker, rows);
  PngDesc dot;
  dot.width = dot.height = 64;
  ok = ok && WritePng(root + "/textures/normal_4.png", dot, SoftDot(64));

  DdsDesc sky;
  sky.width = sky.height = 16;
  sky.cube = true;
  std::vector<uint8_t> faces;
  for (uint32_t f = 0; f < 6; ++f) {
    const std::vector<uint8_t> face = SkyFace(f, 16);
    faces.insert(faces.end(), face.begin(), face.end());
  }
  ok = ok && WriteFileBytes(root + "/textures/Sky.dds", WriteDdsBytes(sky, faces));
  if (!ok) {
    std::fprintf(stderr, "MakeContent: could not write the content under %s\n", root.c_str());
    return 1;
  }
  return 0;
}
