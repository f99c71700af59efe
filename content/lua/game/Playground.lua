-- The playground level: crates and a pyramid under physics. F pushes up whatever the camera looks
-- at (a ray from the camera along its view), G switches the physics system's debug shapes, and the
-- collisions that start are counted per object in playground.touches; the controls (with the sound
-- keys of Sound.lua) show in a panel at the top left of the screen.

playground = { touches = {}, debugDraw = false }

function CollisionEventHandler(events, name)
  if name ~= "OnCollisionStart" then return end
  for _, event in ipairs(events) do
    for _, object in ipairs({ event.ObjectA or false, event.ObjectB or false }) do
      if object then
        local key = object:GetName()
        playground.touches[key] = (playground.touches[key] or 0) + 1
      end
    end
  end
end

-- Pushes up the body the camera looks at; the name of what the ray hit, or nil.
function playground.Push(space, strength)
  local cameraObject = space:FindObject("PlayCamera")
  local camera = cameraObject and cameraObject:GetCPPComponent(ComponentDB.Camera)
  if not camera then return nil end
  local from = cameraObject:GetCPPComponent(ComponentDB.Transform):Translation()
  local hit = physics:Raycast(space, from, camera:GetForward())
  if not hit.colliding or not hit.object then return nil end
  local body = hit.object:GetCPPComponent(ComponentDB.RigidBody)
  if body then body:ApplyImpulse(Vector3.new(0, strength, 0)) end
  return hit.object:GetName()
end

Hook:Add("LogicUpdate", "Playground", function()
  local record = game.spaces.Playground
  if not record then return end
  if keyboard:KeyPressedEx(Keys.G) then
    playground.debugDraw = not playground.debugDraw
    physics:SwitchDebugDraw(playground.debugDraw)
  end
  if keyboard:KeyPressedEx(Keys.F) then playground.Push(record.space, 8) end
end)

-- The controls, in the key panel at the screen's top left (KeyPanel.lua).
playground.controls = {
  "Playground",
  "F   push up what the camera looks at",
  "G   show or hide the physics shapes",
  "Space   on to the Sandbox",
  "Backspace   back to Splash      Esc   quit",
}

function playground.DrawControls()
  local lines = {}
  for _, line in ipairs(playground.controls) do table.insert(lines, line) end
  for _, line in ipairs(gameSound and gameSound.Lines() or {}) do table.insert(lines, line) end
  keyPanel.Draw(lines)
end

Hook:Add("GUIDraw", "Playground", function()
  if game.spaces.Playground then playground.DrawControls() end
end)
