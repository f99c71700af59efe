// Keyboard, mouse and gamepad driven through their events, updates and a hand-fed pad source.
#include "Base/Input/Gamepad.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/ManualGamepadSource.h"
#include "Base/Input/Mouse.h"
#include "Base/TraceLog.h"
#include "tests/Support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace Base;

// Collects the trace lines written while a test runs.
class InputTest : public ::testing::Test {
 protected:
  std::string Log() { return capture_.Take(); }
  OrvTest::LogCapture capture_;
};

TEST_F(InputTest, KeyboardDownPressedReleasedAcrossUpdates) {
  Keyboard keyboard;
  int downs = 0, ups = 0;
  keyboard.AddKeyDownCallback([&](const InputEvent&) { ++downs; });
  keyboard.AddKeyUpCallback([&](const InputEvent&) { ++ups; });

  // Held keys repeat their down message; only the first one is an event.
  for (int i = 0; i < 3; ++i) keyboard.OnEvent(InputEvent::Key(KeyEvent_Down, Key_Space));
  EXPECT_EQ(downs, 1);
  EXPECT_EQ(keyboard.GetLastKeyPressed(), uint32_t(Key_Space));
  EXPECT_TRUE(keyboard.IsKeyDown(Key_Space));
  EXPECT_TRUE(keyboard.IsKeyPressed(Key_Space));
  keyboard.Update();
  EXPECT_TRUE(keyboard.IsKeyDown(Key_Space));
  EXPECT_FALSE(keyboard.IsKeyPressed(Key_Space));
  keyboard.OnEvent(InputEvent::Key(KeyEvent_Up, Key_Space));
  EXPECT_EQ(ups, 1);
  EXPECT_TRUE(keyboard.IsKeyReleased(Key_Space));
  keyboard.Update();
  EXPECT_FALSE(keyboard.IsKeyReleased(Key_Space));

  // Down and up between two updates leaves no trace: only the states at Update count.
  keyboard.OnEvent(InputEvent::Key(KeyEvent_Down, Key_A));
  keyboard.OnEvent(InputEvent::Key(KeyEvent_Up, Key_A));
  keyboard.Update();
  EXPECT_FALSE(keyboard.IsKeyDown(Key_A) || keyboard.IsKeyPressed(Key_A) ||
               keyboard.IsKeyReleased(Key_A));

  // Mouse events are not the keyboard's.
  keyboard.OnEvent(InputEvent::Wheel(1));
  EXPECT_EQ(downs, 2);
  EXPECT_EQ(Log(), "");
}

TEST_F(InputTest, KeyboardIgnoresKeyCodesOutOfRange) {
  Keyboard keyboard;
  EXPECT_FALSE(keyboard.IsKeyDown(Keys(321)));
  EXPECT_FALSE(keyboard.IsKeyPressed(Keys(-1)));
  keyboard.OnEvent(InputEvent::Key(KeyEvent_Down, 5000));
  EXPECT_EQ(keyboard.GetLastKeyPressed(), 0u);
  EXPECT_EQ(Log(),
            "[Warning][Base] Key code 321 is out of range (0..320)\n"
            "[Warning][Base] Key code -1 is out of range (0..320)\n"
            "[Warning][Base] Key code 5000 is out of range (0..320)\n");
}

TEST_F(InputTest, MouseWheelButtonsAndMoves) {
  Mouse mouse;
  int wheelSeen = -1;
  mouse.AddWheelCallback([&](const InputEvent&) { wheelSeen = mouse.GetCurrent().wheel; });
  mouse.OnEvent(InputEvent::Wheel(1));
  mouse.OnEvent(InputEvent::Wheel(1));
  EXPECT_EQ(wheelSeen, 1);  // listeners run before the notch is counted
  EXPECT_EQ(mouse.GetCurrent().wheel, 2);
  mouse.Update();
  EXPECT_EQ(mouse.GetPrevious().wheel, 2);
  EXPECT_EQ(mouse.GetCurrent().wheel, 0);

  int buttonDowns = 0;
  mouse.AddButtonDownCallback([&](const InputEvent&) { ++buttonDowns; });
  mouse.OnEvent(InputEvent::Button(true, 10, 20, 1));
  mouse.OnEvent(InputEvent::Button(true, 11, 21, 7));  // no flag for it, but listeners hear it
  EXPECT_EQ(buttonDowns, 2);
  EXPECT_TRUE(mouse.IsButtonPressed(1));
  EXPECT_EQ(mouse.GetCurrent().x, 11);
  mouse.Update();
  mouse.OnEvent(InputEvent::Button(false, 12, 22, 1));
  EXPECT_TRUE(mouse.IsButtonReleased(1));
  EXPECT_FALSE(mouse.IsButtonDown(5));
  EXPECT_EQ(Log(), "[Warning][Base] Mouse button 5 is out of range (0..4)\n");

  InputEvent seen{};
  mouse.AddRelativeMoveCallback([&](const InputEvent& e) { seen = e; });
  mouse.OnEvent(InputEvent::Move(100, 50));
  mouse.OnEvent(InputEvent::RelativeMove(90, 70));
  EXPECT_EQ(seen.relative.dx, 10);
  EXPECT_EQ(seen.relative.dy, -20);
  EXPECT_EQ(seen.relative.mouse, &mouse.GetCurrent());
  EXPECT_EQ(mouse.GetCurrent().x, 90);

  mouse.OnEvent(InputEvent::Mouse(MouseEvent_Hover));
  mouse.OnEvent(InputEvent::Mouse(MouseEvent_Leave));
  mouse.OnEvent(InputEvent::Key(KeyEvent_Down, Key_A));
  EXPECT_EQ(mouse.GetCurrent().y, 70);
}

TEST_F(InputTest, GamepadScalesReadingsWithDeadzones) {
  ManualGamepadSource source;
  Gamepad gamepad(&source);
  source.Connect(3, {0xFFFF, 30, 31, 7849, 7850, 8689, -32768});
  gamepad.Poll();
  EXPECT_EQ(source.Reads(3), 1);  // the fourth pad is polled like the others

  EXPECT_EQ(gamepad.LeftTrigger(3), 0.0f);
  EXPECT_FLOAT_EQ(gamepad.RightTrigger(3), 31 / 255.0f);
  EXPECT_EQ(gamepad.LeftStick(3).x, 0.0f);
  EXPECT_NEAR(gamepad.LeftStick(3).y, 0.2396f, 1e-4f);
  EXPECT_EQ(gamepad.RightStick(3).x, 0.0f);
  EXPECT_EQ(gamepad.RightStick(3).y, -1.0f);  // -32768 is clamped
  for (int b = 0; b < GamepadButton_Count; ++b)
    EXPECT_TRUE(gamepad.IsButtonDown(3, GamepadButton(b)));

  // Each button has its own mask bit.
  source.Reading(3) = {};
  source.Reading(3).buttons = 0x1000 | 0x0010 | 0x0020;
  gamepad.Poll();
  EXPECT_TRUE(gamepad.IsButtonDown(3, GamepadButton_A));
  EXPECT_TRUE(gamepad.IsButtonDown(3, GamepadButton_Menu));
  EXPECT_TRUE(gamepad.IsButtonDown(3, GamepadButton_Back));
  EXPECT_FALSE(gamepad.IsButtonDown(3, GamepadButton_B));
  EXPECT_TRUE(gamepad.IsButtonReleased(3, GamepadButton_DPadUp));
}

TEST_F(InputTest, GamepadButtonsAndConnectionAcrossPolls) {
  ManualGamepadSource source;
  Gamepad gamepad(&source);
  source.Connect(0, {0x1000, 200, 0, 20000, 0, 0, 0});
  gamepad.Poll();
  EXPECT_TRUE(gamepad.IsButtonPressed(0, GamepadButton_A));
  EXPECT_FALSE(gamepad.IsConnected(0));  // the flag is read from the previous poll
  gamepad.Poll();
  EXPECT_TRUE(gamepad.IsButtonDown(0, GamepadButton_A));
  EXPECT_FALSE(gamepad.IsButtonPressed(0, GamepadButton_A));
  EXPECT_TRUE(gamepad.IsConnected(0));

  // Unplugging drops everything the pad reported, not just its buttons.
  source.Disconnect(0);
  gamepad.Poll();
  gamepad.Poll();
  EXPECT_FALSE(gamepad.IsConnected(0));
  GamepadState state = gamepad.GetState(0);
  EXPECT_FALSE(state.connected);
  EXPECT_EQ(state.leftTrigger, 0.0f);
  EXPECT_EQ(state.leftStick, Vec2(0.0f, 0.0f));
  EXPECT_FALSE(gamepad.IsButtonDown(0, GamepadButton_A));

  // A script's state with too few bits sticks to an absent pad and keeps its connected flag.
  state.buttonStates = {false, true};
  state.connected = true;
  state.rightTrigger = 0.5f;
  gamepad.SetState(1, state);
  gamepad.Poll();
  EXPECT_TRUE(gamepad.IsButtonDown(1, GamepadButton_B));
  EXPECT_FALSE(gamepad.IsButtonDown(1, GamepadButton_Back));
  EXPECT_EQ(gamepad.RightTrigger(1), 0.5f);
  EXPECT_FALSE(gamepad.GetState(1).connected);
  EXPECT_EQ(gamepad.GetState(1).buttonStates.size(), size_t(GamepadButton_Count));

  // Reset clears buttons and sticks everywhere but keeps triggers.
  gamepad.Reset();
  EXPECT_FALSE(gamepad.IsButtonDown(1, GamepadButton_B));
  EXPECT_EQ(gamepad.RightTrigger(1), 0.5f);
  EXPECT_EQ(Log(), "");
}

TEST_F(InputTest, GamepadVibrationKeepsUnsetMotorsAndStaysInRange) {
  ManualGamepadSource source;
  Gamepad gamepad(&source);
  for (int pad = 0; pad < 4; ++pad) EXPECT_EQ(source.SentVibration(pad).sends, 1);  // from Reset

  gamepad.ApplyVibration(0, 0.25f, 0.75f);
  gamepad.ApplyVibration(0, 0.5f, 0.0f);
  EXPECT_EQ(gamepad.GetVibration(0), Vec2(0.5f, 0.75f));
  EXPECT_EQ(source.SentVibration(0).left, 32767);
  EXPECT_EQ(source.SentVibration(0).right, uint16_t(0.75f * 65535.0f));

  gamepad.SetVibration(2, Vec2(7.0f, -3.0f));
  EXPECT_EQ(gamepad.GetVibration(2), Vec2(1.0f, 0.0f));
  EXPECT_EQ(source.SentVibration(2).left, 65535);

  // A motor value a script stored through SetState is clamped when sent.
  GamepadState state;
  state.leftMotor = 40.0f;
  state.rightMotor = -2.0f;
  gamepad.SetState(1, state);
  gamepad.ApplyVibration(1, 0.0f, 0.0f);
  EXPECT_EQ(source.SentVibration(1).left, 65535);
  EXPECT_EQ(source.SentVibration(1).right, 0);
}

TEST_F(InputTest, GamepadIgnoresPadAndButtonIndicesOutOfRange) {
  ManualGamepadSource source;
  Gamepad gamepad(&source);
  gamepad.ApplyVibration(4, 1.0f, 1.0f);
  gamepad.SetState(-1, GamepadState{});
  EXPECT_FALSE(gamepad.IsConnected(7));
  EXPECT_EQ(gamepad.LeftStick(4), Vec2(0.0f, 0.0f));
  EXPECT_EQ(gamepad.GetState(4).buttonStates.size(), size_t(GamepadButton_Count));
  EXPECT_FALSE(gamepad.IsButtonDown(0, GamepadButton(14)));
  EXPECT_FALSE(gamepad.IsButtonPressed(0, GamepadButton(-1)));
  std::string expected;
  for (int pad : {4, -1, 7, 4, 4})
    expected += "[Warning][Base] Gamepad index " + std::to_string(pad) +
                " is out of range (0..3)\n";
  expected += "[Warning][Base] Gamepad button 14 is out of range (0..13)\n"
              "[Warning][Base] Gamepad button -1 is out of range (0..13)\n";
  EXPECT_EQ(Log(), expected);

  // Without a source no pad is ever connected.
  Gamepad none;
  none.Poll();
  none.Poll();
  EXPECT_FALSE(none.IsConnected(0));
}

}  // namespace
