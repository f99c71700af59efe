// Virtual-key conversion table and the key feed into the keyboard.
#include "Vantor/Win32InputBackend.h"

#include <array>

#include "Base/Log.h"

namespace Vantor {

namespace {

using namespace Base;

struct KeyPair {
  int16_t virtualKey;
  int16_t key;
};

// Single virtual keys with their engine key.
constexpr KeyPair kNamedKeys[] = {
    {8, 279},   {9, 280},   {13, 278},  {16, 258},  {17, 257},  {18, 259},  {19, 320},
    {27, 256},  {32, 277},  {33, 281},  {34, 282},  {35, 283},  {36, 284},  {37, 291},
    {38, 293},  {39, 292},  {40, 294},  {45, 285},  {46, 286},  {91, 260},  {92, 264},
    {93, 265},
    {106, 289}, {107, 287}, {109, 288}, {111, 290},
    {161, 262}, {163, 261}, {165, 263},
    {186, 268}, {187, 275}, {188, 269}, {189, 276}, {190, 270}, {191, 272}, {192, 274},
    {219, 266}, {220, 273}, {221, 267}, {222, 271},
};

// Runs of consecutive virtual keys that map to consecutive engine keys.
struct KeyRun {
  int16_t firstVirtualKey;
  int16_t lastVirtualKey;
  int16_t firstKey;
};

constexpr KeyRun kKeyRuns[] = {
    {48, 57, 48},     // top-row digits 0..9 keep their codes
    {65, 90, 65},     // letters A..Z keep their codes
    {96, 105, 295},   // numeric keypad 0..9
    {112, 126, 305},  // F1..F15
};

// Virtual keys are bytes; everything the table does not name stays kNoKey.
constexpr std::array<int16_t, 256> BuildTable() {
  std::array<int16_t, 256> table{};
  for (int16_t& key : table) key = Win32InputBackend::kNoKey;
  for (const KeyRun& run : kKeyRuns)
    for (int vk = run.firstVirtualKey; vk <= run.lastVirtualKey; ++vk)
      table[vk] = static_cast<int16_t>(run.firstKey + (vk - run.firstVirtualKey));
  for (const KeyPair& pair : kNamedKeys) table[pair.virtualKey] = pair.key;
  return table;
}

constexpr std::array<int16_t, 256> kKeyTable = BuildTable();

static_assert(kKeyTable[27] == Key_Escape && kKeyTable[19] == Key_Pause);
static_assert(kKeyTable[126] == Key_F15 && kKeyTable[105] == Key_Numpad9);
static_assert(kKeyTable[48] == Key_Num0 && kKeyTable[90] == Key_Z);

}  // namespace

int32_t Win32InputBackend::ConvertKeyCode(int32_t virtualKey) {
  const int32_t key =
      virtualKey >= 0 && virtualKey < int32_t(kKeyTable.size()) ? kKeyTable[virtualKey] : kNoKey;
  if (key == kNoKey) BASE_LOG(Warning, "Could not convert win32KeyCode %d", virtualKey);
  return key;
}

void Win32InputBackend::KeyEvent(int32_t virtualKey, bool down) {
  const int32_t key = ConvertKeyCode(virtualKey);
  // An unknown key gets no event: mapping it to any real key (say Escape) would press that key.
  if (key == kNoKey) return;
  m_keyboard.OnEvent(InputEvent::Key(down ? KeyEvent_Down : KeyEvent_Up, uint32_t(key)));
}

}  // namespace Vantor
