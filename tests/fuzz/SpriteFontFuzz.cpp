// Fuzz target of the ".spritefont" reader without a device: the file is read and validated as for
// a texture, then every byte value is measured through the glyph walk.
#include "DirectX/BinaryReader.h"
#include "DirectX/SpriteFont.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    DirectX::BinaryReader reader(data, size);
    DirectX::SpriteFontChar font(nullptr, reader);
    char text[256];
    for (int i = 0; i < 255; ++i) text[i] = char(i + 1);
    text[255] = 0;
    font.MeasureString(text);
  } catch (const DirectX::SpriteError&) {
  }
  return 0;
}
