-- Moving between the game's levels: Space, Return or the pad's A button goes on from "Splash" to
-- "Playground" and from there to "Sandbox", Backspace or the pad's B button goes back, and Escape,
-- the pad's Back button or closing the window quits the game.

local levels = {
  SplashScreen = { next = "Playground" },
  Playground = { previous = "Splash", next = "Sandbox" },
  SandboxWorld = { previous = "Playground" },
}

local function current()
  for space, level in pairs(levels) do
    if game.spaces[space] then return level end
  end
end

local function pressed(key) return keyboard:KeyPressedEx(key) end
local function padPressed(button) return gamepad:_ButtonPressed(0, button) end

Hook:Add("LogicUpdate", "Levels", function()
  if pressed(Keys.Escape) or padPressed(GamepadButtons.Back) then
    core:Quit()
    return
  end
  local level = current()
  if not level then return end
  if level.next and (pressed(Keys.Space) or pressed(Keys.Return) or padPressed(GamepadButtons.A)) then
    core:LoadLevel(level.next)
  elseif level.previous and (pressed(Keys.Backspace) or padPressed(GamepadButtons.B)) then
    core:LoadLevel(level.previous)
  end
end)

Hook:Add("GameWindowClose", "Levels", function()
  core:Quit()
end)

-- Last in the file: the program asks for it once the scripts have run. A level script that stopped
-- short of it (a file cut short, an error in it) would leave no way between the levels nor out of the
-- game, so the game ends instead with an error line.
gameLevels = { Ready = function() return true end }
