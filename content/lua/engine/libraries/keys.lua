-- The engine's key codes by name, as keyboard:KeyDownEx, KeyPressedEx and KeyReleasedEx take them:
-- letters and top-row digits are their upper-case characters, named keys start at 256.

Keys = Keys or {}

for code = string.byte("A"), string.byte("Z") do Keys[string.char(code)] = code end
for digit = 0, 9 do Keys["Num" .. digit] = 48 + digit end

local named = {
  "Escape", "LeftControl", "LeftShift", "LeftAlt", "LeftSystem", "RightControl", "RightShift", "RightAlt",
  "RightSystem", "Menu", "LeftBracket", "RightBracket", "Semicolon", "Comma", "Period", "Quote", "Slash",
  "Backslash", "Tilde", "Equal", "Dash", "Space", "Return", "Backspace", "Tab", "PageUp", "PageDown", "End",
  "Home", "Insert", "Delete", "Add", "Subtract", "Multiply", "Divide", "Left", "Right", "Up", "Down",
}
for i, name in ipairs(named) do Keys[name] = 255 + i end
for n = 0, 9 do Keys["Numpad" .. n] = 295 + n end
for n = 1, 15 do Keys["F" .. n] = 304 + n end
Keys.Pause = 320

-- The gamepad's buttons by name, as gamepad:_ButtonDown and its siblings take them.
GamepadButtons = {
  A = 0, B = 1, X = 2, Y = 3, DPadUp = 4, DPadDown = 5, DPadLeft = 6, DPadRight = 7,
  LeftShoulder = 8, RightShoulder = 9, LeftThumb = 10, RightThumb = 11, Menu = 12, Back = 13,
}
