-- A script component that bobs its object up and down: the Transform's height follows a sine wave
-- around where the object started. Its elapsed time is saved, so a copy or a reloaded level carries on
-- where the original was.

local Number = game.MemberType.Number

local Bobber = game:RegisterComponent("Bobber", {
  members = {
    { Name = "amplitude", DisplayName = "Amplitude", Type = Number, Default = 0.5 },
    { Name = "speed", DisplayName = "Cycles per second", Type = Number, Default = 1 },
    { Name = "elapsed", DisplayName = "Elapsed time", Type = Number, Default = 0 },
  },
})

function Bobber:Transform()
  local object = self.space and self.space:GetObject(self.owner)
  return object and object:GetCPPComponent(ComponentDB.Transform)
end

function Bobber:Start()
  local transform = self:Transform()
  if transform then self.base = transform:LocalTranslation() end
end

function Bobber:LogicUpdate(dt)
  self.elapsed = self.elapsed + dt
  local transform = self:Transform()
  if not transform or not self.base then return end
  local height = self.amplitude * math.sin(2 * math.pi * self.speed * self.elapsed)
  transform:SetLocalTranslation(Vector3.new(self.base.x, self.base.y + height, self.base.z))
end
