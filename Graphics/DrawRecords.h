// The 2D drawing records that scripts' drawing calls leave in a canvas layer: sprites, texts, and
// blocks of them drawn on a plane in the scene (or, for a layer's own block, on the screen).
#pragma once

#include "Base/Matrix.h"
#include "Base/Vector.h"

#include <cstdint>
#include <vector>

namespace Graphics {

struct SpriteRecord {
  Base::Vec2 scale;               // width and height in pixels
  Base::Vec3 position;            // x, y and depth
  float rotation = 0.0f;          // about the screen's z axis, radians
  Base::Vec4 colour{1, 1, 1, 1};  // premultiplied by alpha
  Base::Vec2 uvMin{0, 0};
  Base::Vec2 uvMax{1, 1};
  uint32_t texture = 0;  // id in the 2D texture collection
};
static_assert(sizeof(SpriteRecord) == 60, "sprite records are drawn as they are stored");

struct TextRecord {
  Base::Vec2 scale{1, 1};  // on top of the font size
  Base::Vec3 position;
  float size = 16.0f;
  float rotation = 0.0f;
  const char* text = nullptr;  // in the drawing frame's storage, not owned
  Base::Vec4 colour{1, 1, 1, 1};
  uint32_t font = 0;  // id in the font collection
};

struct DrawBlock {
  std::vector<SpriteRecord> sprites;
  std::vector<TextRecord> texts;
  Base::Mat4 transform;           // the plane's rotation and position
  Base::Vec4 offset{0, 0, 0, 1};  // added to the positions drawn in the block
  uint32_t layer = 3;
  uint32_t canvas = 0;
};

}  // namespace Graphics
