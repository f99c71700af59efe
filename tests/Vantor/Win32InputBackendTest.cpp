// Virtual-key conversion and the backend's key and mouse feeds into its devices.
#include "Vantor/Win32InputBackend.h"

#include "Base/Input/ManualGamepadSource.h"
#include "Base/TraceLog.h"
#include "tests/Support/LogCapture.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace Base;
using Vantor::Win32InputBackend;

class Win32InputBackendTest : public ::testing::Test {
 protected:
  std::string Log() { return capture_.Take(); }
  OrvTest::LogCapture capture_;
};

TEST_F(Win32InputBackendTest, KeyTableMapsEachVirtualKeyToItsOwnKey) {
  // The ends of the runs the table maps in blocks, and keys mapped one by one.
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode('A'), Key_A);
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode('9'), Key_Num9);
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode(16), Key_LeftShift);
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode(161), Key_RightShift);
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode(96), Key_Numpad0);
  EXPECT_EQ(Win32InputBackend::ConvertKeyCode(126), Key_F15);
  EXPECT_EQ(Log(), "");

  // Every mapped virtual key lands on a distinct engine key, so no key stands in for another.
  std::set<int32_t> keys;
  int mapped = 0;
  for (int vk = 0; vk < 256; ++vk) {
    const int32_t key = Win32InputBackend::ConvertKeyCode(vk);
    if (key == Win32InputBackend::kNoKey) continue;
    ++mapped;
    EXPECT_TRUE(key >= 0 && key < Key_Count) << vk;
    keys.insert(key);
  }
  EXPECT_EQ(mapped, 101);
  EXPECT_EQ(keys.size(), size_t(mapped));
}

TEST_F(Win32InputBackendTest, UnknownVirtualKeysAreLoggedAndDropped) {
  Win32InputBackend backend;
  Keyboard& keyboard = *backend.GetKeyboard();
  int downs = 0;
  keyboard.AddKeyDownCallback([&](const InputEvent&) { ++downs; });

  // F16 and the left-hand shift, control and menu keys have no engine key.
  std::string expected;
  for (int vk : {127, 160, 162, 164, 300, -5}) {
    backend.KeyEvent(vk, true);
    expected += "[Warning][Base] Could not convert win32KeyCode " + std::to_string(vk) + "\n";
  }
  EXPECT_EQ(downs, 0);
  EXPECT_FALSE(keyboard.IsKeyDown(Key_Escape));
  EXPECT_EQ(Log(), expected);

  backend.KeyEvent(13, true);
  EXPECT_TRUE(keyboard.IsKeyPressed(Key_Return));
  keyboard.Update();
  backend.KeyEvent(13, false);
  EXPECT_TRUE(keyboard.IsKeyReleased(Key_Return));
  EXPECT_EQ(downs, 1);
}

TEST_F(Win32InputBackendTest, MouseEventsAndGamepadReachTheBackendsDevices) {
  ManualGamepadSource pads;
  Win32InputBackend backend(&pads);
  backend.MouseEvent(InputEvent::Button(true, 3, 4, 2));
  EXPECT_TRUE(backend.GetMouse()->IsButtonDown(2));
  EXPECT_EQ(backend.GetMouse()->GetCurrent().y, 4);

  pads.Connect(1, {0x2000, 0, 0, 0, 0, 0, 0});
  backend.GetGamepad()->Poll();
  EXPECT_TRUE(backend.GetGamepad()->IsButtonDown(1, GamepadButton_B));
}

}  // namespace
