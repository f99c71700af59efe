-- Script vectors. The engine sends Base::Vec2 and Base::Vec3 as these objects, made through
-- _R.__Vector2_MT.new and _R.__Vector3_MT.new, and reads back any table with numeric x, y (and z).

local function class()
  local c = {}
  c.__index = c
  return c
end

local Vector2 = class()

function Vector2.new(x, y)
  return setmetatable({ x = x or 0, y = y or 0 }, Vector2)
end

function Vector2.__add(a, b) return Vector2.new(a.x + b.x, a.y + b.y) end
function Vector2.__sub(a, b) return Vector2.new(a.x - b.x, a.y - b.y) end
function Vector2.__unm(a) return Vector2.new(-a.x, -a.y) end
function Vector2.__mul(a, b)
  if type(a) == "number" then return Vector2.new(a * b.x, a * b.y) end
  if type(b) == "number" then return Vector2.new(a.x * b, a.y * b) end
  return Vector2.new(a.x * b.x, a.y * b.y)
end
function Vector2.__div(a, s) return Vector2.new(a.x / s, a.y / s) end
function Vector2.__eq(a, b) return a.x == b.x and a.y == b.y end
function Vector2.__tostring(a) return string.format("(%g, %g)", a.x, a.y) end

function Vector2:Dot(b) return self.x * b.x + self.y * b.y end
function Vector2:Length() return math.sqrt(self:Dot(self)) end
function Vector2:Normalized()
  local length = self:Length()
  if length == 0 then return Vector2.new(0, 0) end
  return self / length
end

local Vector3 = class()

function Vector3.new(x, y, z)
  return setmetatable({ x = x or 0, y = y or 0, z = z or 0 }, Vector3)
end

function Vector3.__add(a, b) return Vector3.new(a.x + b.x, a.y + b.y, a.z + b.z) end
function Vector3.__sub(a, b) return Vector3.new(a.x - b.x, a.y - b.y, a.z - b.z) end
function Vector3.__unm(a) return Vector3.new(-a.x, -a.y, -a.z) end
function Vector3.__mul(a, b)
  if type(a) == "number" then return Vector3.new(a * b.x, a * b.y, a * b.z) end
  if type(b) == "number" then return Vector3.new(a.x * b, a.y * b, a.z * b) end
  return Vector3.new(a.x * b.x, a.y * b.y, a.z * b.z)
end
function Vector3.__div(a, s) return Vector3.new(a.x / s, a.y / s, a.z / s) end
function Vector3.__eq(a, b) return a.x == b.x and a.y == b.y and a.z == b.z end
function Vector3.__tostring(a) return string.format("(%g, %g, %g)", a.x, a.y, a.z) end

function Vector3:Dot(b) return self.x * b.x + self.y * b.y + self.z * b.z end
function Vector3:Cross(b)
  return Vector3.new(self.y * b.z - self.z * b.y, self.z * b.x - self.x * b.z, self.x * b.y - self.y * b.x)
end
function Vector3:Length() return math.sqrt(self:Dot(self)) end
function Vector3:Normalized()
  local length = self:Length()
  if length == 0 then return Vector3.new(0, 0, 0) end
  return self / length
end

_R.__Vector2_MT = Vector2
_R.__Vector3_MT = Vector3
_G.Vector2 = Vector2
_G.Vector3 = Vector3

return { Vector2 = Vector2, Vector3 = Vector3 }
