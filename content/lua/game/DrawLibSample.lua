-- The Splash screen's overlay, drawn through the 2D drawing library (the global "graphics"): a panel
-- with the title, the prompt and the way out, three checker tiles that show the library's textured
-- drawing (one spinning as it fades in and out, one mirrored through its UVs, one only partly sampled),
-- a caption in a plane in the scene, and a point light that circles the scene's centre. The screen
-- layer is laid out for a drawn area 1080 lines tall and scaled to the one the engine reports.

DrawLibSample = DrawLibSample or { time = 0 }

local sample = DrawLibSample

function sample.Draw(dt)
  local g = graphics
  if not g then return end
  sample.time = sample.time + (dt or 1 / 60)
  local t = sample.time
  local s = (gui and (gui.height or 0) > 0) and gui.height / 1080 or 1

  g:ResetStates()
  g:PushCanvas(0)
  g:PushLayer(3)

  -- The title, the prompt and the way out on one dark translucent panel sized to them, so that they
  -- read clearly (light on dark, well past 4.5:1) whatever the sky or the stage behind them.
  local font = g:GetFontID("Arial")
  g:SetFont(font)
  g:SetTextScale(1, 1)
  local title, prompt, quit = "Orvanel", "Press Space to start", "Esc   quit"
  g:SetTextSize(30 * s)
  local line = g:MeasureString(prompt)
  g:SetTextSize(48 * s)
  local extent = g:MeasureString(title)
  local promptY = 70 * s + extent.y + 16 * s
  local quitY = promptY + line.y + 8 * s
  g:SetDepth(0.5)
  g:SetDrawColor(20, 24, 40, 220)
  g:DrawRect(80 * s, 60 * s, math.max(extent.x, line.x) + 40 * s, quitY + line.y + 20 * s - 60 * s)

  g:SetDepth(0.25)
  g:SetTextColor(255, 255, 255, 255)
  g:SetTextPos(100 * s, 70 * s)
  g:DrawSpriteText(title)

  g:SetTextSize(30 * s)
  g:SetTextColor(255, 240, 170, 255)
  g:SetTextPos(100 * s, promptY)
  g:DrawSpriteText(prompt)
  g:SetTextColor(240, 240, 240, 255)
  g:SetTextPos(100 * s, quitY)
  g:DrawSpriteText(quit)

  -- Checker tiles: one spinning, one mirrored through its UVs, one only partly sampled.
  local checker = g:GetTextureID("Checker.png")
  g:SetTexture(checker)
  local size = g:GetTextureSize()
  g:SetDrawColor(255, 255, 255, 255)
  g:SetUVMin(0, 0)
  g:SetUVMax(1, 1)
  -- The spinning tile fades in and out as it turns.
  g:SetAlphaMultiplier(128 + 127 * math.sin(t * 3))
  g:DrawTexturedRectRotated(1600 * s, 200 * s, 128 * s, 128 * s, (t * 90) % 360)
  g:SetAlphaMultiplier(255)
  g:SetUVMin(1, 0)
  g:SetUVMax(0, 1)
  g:DrawTexturedRect(1600 * s, 400 * s, 128 * s, 128 * s)
  g:SetUVMin(0.25, 0.25)
  g:SetUVMax(0.75, 0.75)
  g:SetPosition(1600 * s, 600 * s)
  g:SetScale(size.x * s, size.y * s)
  g:SetRotation(0)
  g:DrawTexturedRect(1600 * s, 600 * s, size.x * s, size.y * s)
  g:SetUVMin(0, 0)
  g:SetUVMax(1, 1)
  local depths = g:GetSpriteDepth() + g:GetFontDepth()

  g:PopLayer()

  -- A caption on a plane standing in the scene, seen through the scene camera.
  g:PushLayer(1)
  -- The plane is measured in world units (text sizes in two-hundredths of one): a sign three wide
  -- above the crate.
  g:Start3D2D(Vector3.new(0, 2.2, 0), Vector3.new(0, 0, 0), 3, 0.75)
  g:SetDrawColor(0, 0, 0, 160)
  g:DrawRect(0, 0, 3, 0.75)
  g:SetTextSize(96)
  g:SetTextColor(255, 200, 80, 255)
  g:SetTextPos(0.7, 0.1)
  g:DrawSpriteText("Splash")
  g:End3D2D()

  -- A point light circling the centre, where the scene camera sees the screen's middle (and only
  -- while the space has a camera to see it through).
  local splash = game.spaces.SplashScreen
  local cameraObject = splash and DrawLib.GetActiveCamera(splash.space)
  local centre = g:ToWorld(Vector2.new(960 * s, 540 * s))
  local onScreen = g:ToScreen(Vector3.new(0, 0, 0))
  g:SetLightPosition(Vector3.new(centre.x + 4 * math.cos(t), 2, centre.z + 4 * math.sin(t)))
  g:SetPointLightRadius(8)
  g:SetLightAttenuation(Vector3.new(100, 10, 1))
  g:SetLightDiffuse(Vector3.new(255, 180, 120), 2)
  g:DrawPointLight()
  g:PopLayer()

  g:PopCanvas()
  return depths, onScreen, cameraObject
end

Hook:Add("GUIDraw", "DrawLibSample", function()
  if game.spaces.SplashScreen then sample.Draw() end
end)
