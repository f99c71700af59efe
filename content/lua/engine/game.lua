-- The game's script side as the engine sees it: game spaces as the engine creates, pauses and deletes
-- them, objects as they initialise, and script components through their whole life. Script component
-- types are defined with game:RegisterComponent; the engine asks for their list once the scripts are
-- loaded (game:SendComponentList).

local TRACE_WARNING, TRACE_LUA = 1, 6

game = game or {}
game.spaces = {}          -- by space name: { space, paused, components = { [owner handle] = { [type] = instance } } }
game.componentTypes = {}  -- by type name: the definitions
game.componentOrder = {}  -- type names in registration order

-- The type numbers of component members, as the engine's list of component types carries them.
game.MemberType = { Number = 0, String = 1, Boolean = 2 }

local luaTypeOf = { [0] = "number", [1] = "string", [2] = "boolean" }

local function warn(text)
  trace:LogMsg(TRACE_WARNING, TRACE_LUA, text)
end

-- --- Component types -------------------------------------------------------------------------------

-- definition.members: array of { Name, DisplayName, Type (game.MemberType), Default }; the members are
-- what a component saves and restores. Optional methods, called with the instance as self:
-- Start() once its object is initialised, LogicUpdate(dt) every frame its space is not paused,
-- Removed() when it is taken off its object. Instances also carry spaceName, space, owner and type.
function game:RegisterComponent(name, definition)
  assert(type(name) == "string" and name ~= "", "a component type needs a name")
  definition = definition or {}
  definition.members = definition.members or {}
  definition.__index = definition
  if not self.componentTypes[name] then self.componentOrder[#self.componentOrder + 1] = name end
  self.componentTypes[name] = definition
  return definition
end

function game:SendComponentList()
  local list = {}
  for _, name in ipairs(self.componentOrder) do
    local members = {}
    for _, member in ipairs(self.componentTypes[name].members) do
      members[#members + 1] =
        { Name = member.Name, DisplayName = member.DisplayName or member.Name, Type = member.Type }
    end
    list[#list + 1] = { Name = name, Members = members }
  end
  interface:SendLuaComponentList(#list, list)
end

-- --- Spaces -----------------------------------------------------------------------------------------

function game:NewGameSpace(name, space)
  self.spaces[name] = { space = space, paused = false, components = {} }
end

function game:RemoveGameSpace(name)
  self.spaces[name] = nil
end

function game:PauseGameSpace(name, paused)
  local record = self.spaces[name]
  if record then record.paused = paused end
end

-- --- Objects and components ------------------------------------------------------------------------

local function componentsOf(spaceName, owner, create)
  local record = game.spaces[spaceName]
  if not record then
    if not create then return nil end
    -- A space the engine did not announce (made outside the engine, as tools do).
    record = { paused = false, components = {} }
    game.spaces[spaceName] = record
  end
  local components = record.components[owner]
  if not components and create then
    components = {}
    record.components[owner] = components
  end
  return components, record
end

-- Makes the instance; returns the type name the engine keeps.
function game:AddComponent(spaceName, owner, typeName)
  local definition = self.componentTypes[typeName]
  if not definition then error("unknown script component type \"" .. tostring(typeName) .. "\"", 0) end
  local components, record = componentsOf(spaceName, owner, true)
  local instance = setmetatable(
    { spaceName = spaceName, space = record.space, owner = owner, type = typeName }, definition)
  for _, member in ipairs(definition.members) do instance[member.Name] = member.Default end
  components[typeName] = instance
  return typeName
end

function game:RemoveComponent(spaceName, owner, typeName)
  local components, record = componentsOf(spaceName, owner, false)
  local instance = components and components[typeName]
  if not instance then return end
  components[typeName] = nil
  if next(components) == nil then record.components[owner] = nil end
  if instance.Removed then instance:Removed() end
end

function game:InitObject(spaceName, owner)
  local components = componentsOf(spaceName, owner, false)
  if not components then return end
  for _, instance in pairs(components) do
    if instance.Start then instance:Start() end
  end
end

-- The instance of a component, or nil.
function game:GetComponent(spaceName, owner, typeName)
  local components = componentsOf(spaceName, owner, false)
  return components and components[typeName]
end

-- --- Saved state ------------------------------------------------------------------------------------
-- "name=<kind><value>;..." with kind n (number), b (boolean) or s (string, percent-encoded), so that the
-- text holds no quotes, blanks or line ends and reads back without running any script.

local function encode(text)
  return (text:gsub("[^%w_%-%.]", function(c) return string.format("%%%02X", c:byte()) end))
end

local function decode(text)
  return (text:gsub("%%(%x%x)", function(hex) return string.char(tonumber(hex, 16)) end))
end

local writers = {
  number = function(v) return "n" .. string.format("%.17g", v) end,
  boolean = function(v) return v and "btrue" or "bfalse" end,
  string = function(v) return "s" .. encode(v) end,
}

local readers = {
  n = function(text) return tonumber(text) end,
  b = function(text) if text == "true" then return true elseif text == "false" then return false end end,
  s = function(text) return decode(text) end,
}

function game:SerializeComponent(spaceName, owner, typeName)
  local instance = self:GetComponent(spaceName, owner, typeName)
  if not instance then error("no script component " .. tostring(typeName) .. " on object " .. tostring(owner), 0) end
  local parts = {}
  for _, member in ipairs(self.componentTypes[typeName].members) do
    local value = instance[member.Name]
    local write = writers[type(value)]
    if write and type(value) == luaTypeOf[member.Type] then parts[#parts + 1] = member.Name .. "=" .. write(value) end
  end
  return table.concat(parts, ";")
end

function game:DeserializeComponent(spaceName, owner, typeName, text)
  local instance = self:GetComponent(spaceName, owner, typeName)
  if not instance then return end
  local declared = {}
  for _, member in ipairs(self.componentTypes[typeName].members) do declared[member.Name] = member end
  for name, kind, value in string.gmatch(text, "([%w_]+)=(%a)([^;]*)") do
    local member = declared[name]
    local read = readers[kind]
    local parsed = read and read(value)
    if member and parsed ~= nil and type(parsed) == luaTypeOf[member.Type] then
      instance[name] = parsed
    else
      warn(string.format("Saved state of %s: ignored \"%s\"", typeName, name))
    end
  end
end

-- --- Logic -------------------------------------------------------------------------------------------

Hook:Add("LogicUpdate", "game", function(dt)
  for _, record in pairs(game.spaces) do
    if not record.paused then
      for _, components in pairs(record.components) do
        for _, instance in pairs(components) do
          if instance.LogicUpdate then instance:LogicUpdate(dt) end
        end
      end
    end
  end
end)
