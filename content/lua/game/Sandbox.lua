-- The Sandbox level: the worm plays its clips in turn, a few seconds each, blending from one into the
-- next. The turn starts afresh each time the level opens. Its keys, the sound keys among them, show in
-- the key panel at the screen's top left.

sandbox = { clips = { "Wiggle", "Curl", "Idle" }, clip = 1, time = 0, period = 4 }

Hook:Add("LogicUpdate", "Sandbox", function(dt)
  local record = game.spaces.SandboxWorld
  if not record then
    sandbox.clip, sandbox.time = 1, 0
    return
  end
  sandbox.time = sandbox.time + (tonumber(dt) or 0)
  if sandbox.time < sandbox.period then return end
  sandbox.time = sandbox.time - sandbox.period
  sandbox.clip = sandbox.clip % #sandbox.clips + 1
  local worm = record.space:FindObject("Worm")
  local animation = worm and worm:GetCPPComponent(ComponentDB.AnimationController)
  if animation then animation:Play(sandbox.clips[sandbox.clip], true, 0.5) end
end)

sandbox.controls = {
  "Sandbox",
  "Backspace   back to the Playground",
  "Esc   quit",
}

Hook:Add("GUIDraw", "Sandbox", function()
  if not game.spaces.SandboxWorld then return end
  local lines = {}
  for _, line in ipairs(sandbox.controls) do table.insert(lines, line) end
  for _, line in ipairs(gameSound and gameSound.Lines() or {}) do table.insert(lines, line) end
  keyPanel.Draw(lines)
end)
