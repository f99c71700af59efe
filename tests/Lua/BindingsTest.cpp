// The base classes as scripts use them: "trace", "keyboard", "gamepad" and quaternion methods.
#include "Base/Input/Gamepad.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/ManualGamepadSource.h"
#include "Base/Math.h"
#include "LuaFixture.h"

namespace {

using Base::Reflection::TypeOf;

class Bindings : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    env_.SetGlobal("keyboard", Variant(TypeOf<Base::Keyboard*>(), &keyboard_));
    env_.SetGlobal("gamepad", Variant(TypeOf<Base::Gamepad*>(), &gamepad_));
  }
  Base::Keyboard keyboard_;
  Base::ManualGamepadSource pads_;
  Base::Gamepad gamepad_{&pads_};
};

TEST_F(Bindings, TraceLogsScriptTextLiterallyAndMutesThroughTheLog) {
  EXPECT_EQ(Run("trace:LogMsg(3, 6, 'loaded %s %d%%')"), "");
  EXPECT_EQ(Take(), "[ Info  ][Lua] loaded %s %d%%\n");
  EXPECT_EQ(Eval("trace:MuteAllButOne(6), trace:ModuleMuted(6), trace:ModuleMuted(1), trace:ModuleMuted(-5)"),
            "nil false true false");
  EXPECT_EQ(Run("trace:MuteAll(false); trace:SetLevel(0); trace:LogMsg(1, 0, 'hidden'); trace:LogMsg(0, 99, 'x');"
                "trace:LogMsg(0, 0, 'shown')"),
            "");
  EXPECT_EQ(Take(), "[ Error ][Base] shown\n");
}

TEST_F(Bindings, KeyboardStatesFollowTheDevice) {
  const std::string states = "keyboard:KeyDownEx(65), keyboard:KeyPressedEx(65), keyboard:KeyReleasedEx(65)";
  keyboard_.OnEvent(Base::InputEvent::Key(Base::KeyEvent_Down, Base::Key_A));
  EXPECT_EQ(Eval(states), "true true false");
  keyboard_.Update();
  keyboard_.OnEvent(Base::InputEvent::Key(Base::KeyEvent_Up, Base::Key_A));
  EXPECT_EQ(Eval(states), "false false true");
  Take();

  EXPECT_EQ(Eval("keyboard:KeyDownEx(100000)"), "false");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Base] Key code 100000 is out of range (0..320)"));
}

TEST_F(Bindings, GamepadReadsStatesAndChecksEveryIndex) {
  Base::GamepadReading reading;
  reading.buttons = 0x1000;  // A
  reading.leftStickX = 32767;
  reading.rightTrigger = 255;
  pads_.Connect(1, reading);
  gamepad_.Poll();
  gamepad_.Poll();
  EXPECT_EQ(Eval("gamepad:Connected(1), gamepad:_ButtonDown(1, 0), gamepad:_ButtonPressed(1, 0), "
                 "gamepad:LeftStick(1).x, gamepad:RightTrigger(1)"),
            "true true false 1 1");
  EXPECT_EQ(Run(R"(
    state = gamepad:GetState(1)
    state_a, state_trigger = state.buttonStates[1], state.rightTrigger
    state.leftMotor = 0.25
    state.buttonStates[2] = true
    gamepad:SetState(1, state)
    gamepad:SetVibration(1, Vector2.new(0.5, 0.75))
  )"), "");
  EXPECT_EQ(Eval("state_a, state_trigger, gamepad:GetVibration(1).x, gamepad:GetVibration(1).y"), "true 1 0.5 0.75");
  EXPECT_TRUE(gamepad_.IsButtonDown(1, Base::GamepadButton_B));
  Take();

  EXPECT_EQ(Eval("gamepad:SetVibration(-1, Vector2.new(1, 1)), gamepad:Connected(9), gamepad:_ButtonDown(0, 40)"),
            "nil false false");
  const std::string log = Take();
  EXPECT_TRUE(HasLine(log, "[Warning][Base] Gamepad index 9 is out of range (0..3)"));
  EXPECT_TRUE(HasLine(log, "[Warning][Base] Gamepad button 40 is out of range (0..13)"));
  EXPECT_TRUE(HasLine(log, "[Warning][Base] Gamepad index -1 is out of range (0..3)"));

  EXPECT_EQ(Run("gamepad:SetState(2, 'not a table')"), "");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Wrong argument type lua->C++ (Attempted string -> GamepadState)?"));
  EXPECT_EQ(Eval("gamepad:Reset(), gamepad:_ButtonDown(1, 0)"), "nil false");
}

TEST_F(Bindings, QuaternionMethodsActOnTheScriptsCopy) {
  Base::Quaternion engine(0.0f, 1.0f, 0.0f, 0.0f);
  env_.SetGlobal("q", Variant(TypeOf<Base::Quaternion>(), &engine));
  EXPECT_EQ(Run(R"(
    q:Reset()
    q:RotateAroundAxis(Vector3.new(0, 0, 1), 90)
    ez = q:GetEulerAngles().z
    local other = q:LuaSlerp(q, 0.5)
    same_type = getmetatable(q:LuaLerp(other, 1)) == _R.Quaternion
    q:SetEulerAngles(Vector3.new(0, 0, 0))
    local z = q:GetEulerAngles()
    zero = z.x + z.y + z.z
  )"), "");
  EXPECT_NEAR(Number("ez"), 1.5707963, 1e-5);
  EXPECT_EQ(Eval("same_type, zero"), "true 0");
  EXPECT_EQ(engine.w, 0.0f);  // the engine's value stays as it was
  EXPECT_EQ(engine.x, 1.0f);
}

}  // namespace
