-- The game's sound from scripts: each level has a "Speaker" and starts the tune on it, T stops and
-- starts it, C turns the music's mood calm or tense (the tune changes at the next bar), the
-- Playground hangs two chimes from one archetype, B plays an effect (the chimes' bell where there are
-- chimes), M mutes or unmutes the music and N everything; the keys and the mutes' state show in the
-- level's key panel. What a level plays ends with it: the sound system fades out its emitters' sounds
-- when its spaces go.

gameSound = { levels = { "SplashStage", "Playground", "SandboxWorld" }, loaded = {}, tune = false, tense = false }

local function emitterOf(space, name)
  local object = space and space:FindObject(name)
  return object and object:GetCPPComponent(ComponentDB.SoundEmitter)
end

-- The loaded level's space and its speaker, or nil.
function gameSound.Speaker()
  for _, name in ipairs(gameSound.levels) do
    local record = game.spaces[name]
    if record then return name, record.space, emitterOf(record.space, "Speaker") end
  end
end

function gameSound.SetTune(speaker, on)
  speaker:PostEvent(on and "Play_Tune" or "Stop_Tune")
  gameSound.tune = on
end

function gameSound.SetTense(speaker, tense)
  speaker:SetState("Music_Mood", tense and "Tense" or "Calm")
  gameSound.tense = tense
end

local function startLevel(name, space, speaker)
  gameSound.SetTense(speaker, false)
  gameSound.SetTune(speaker, true)
  gameSound.chimes = {}
  if name == "Playground" then
    for i = 1, 2 do
      local chime = factory:LoadObjectFromArchetype(space, "Chime")
      local emitter = chime and chime:GetCPPComponent(ComponentDB.SoundEmitter)
      if emitter then table.insert(gameSound.chimes, emitter) end
    end
  end
end

Hook:Add("LogicUpdate", "GameSound", function()
  local name, space, speaker = gameSound.Speaker()
  for level in pairs(gameSound.loaded) do
    if level ~= name then gameSound.loaded[level] = nil end
  end
  if not speaker then return end
  if not gameSound.loaded[name] then
    gameSound.loaded[name] = true
    startLevel(name, space, speaker)
  end
  if keyboard:KeyPressedEx(Keys.T) then gameSound.SetTune(speaker, not gameSound.tune) end
  if keyboard:KeyPressedEx(Keys.C) then gameSound.SetTense(speaker, not gameSound.tense) end
  if keyboard:KeyPressedEx(Keys.B) then
    if #gameSound.chimes > 0 then
      for _, chime in ipairs(gameSound.chimes) do chime:PostEvent("Play_Bell") end
    else
      speaker:PostEvent("Play_Beep")
    end
  end
  if keyboard:KeyPressedEx(Keys.M) then speaker:SetBGMMuted(not speaker:GetBGMMuted()) end
  if keyboard:KeyPressedEx(Keys.N) then speaker:SetAudioMuted(not speaker:GetAudioMuted()) end
end)

-- The key panel's lines for the sound keys, with the mutes as they stand.
function gameSound.Lines()
  local _, _, speaker = gameSound.Speaker()
  if not speaker then return {} end
  local function state(muted) return muted and "muted" or "on" end
  return {
    "T   tune: " .. (gameSound.tune and "playing" or "stopped"),
    "C   mood: " .. (gameSound.tense and "tense" or "calm"),
    "B   play an effect",
    "M   music: " .. state(speaker:GetBGMMuted()),
    "N   all sound: " .. state(speaker:GetAudioMuted()),
  }
end

Hook:Add("GUIDraw", "GameSound", function()
  if game.spaces.SplashScreen then
    local lines = { "Sound" }
    for _, line in ipairs(gameSound.Lines()) do table.insert(lines, line) end
    keyPanel.Draw(lines, true)  -- below the Splash title
  end
end)

-- Last in the file: the program asks for it once the scripts have run, and says that the game goes on
-- without sound when a script stopped short of it.
gameSound.Ready = function() return true end
