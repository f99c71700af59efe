-- Loaded by the engine tests once the engine has initialised: reports the script side's events, in
-- the order they happen, to the test's own log (EngineTest.Record).

local function record(text) EngineTest.Record(text) end

local function show(value)
  if type(value) == "number" then return string.format("%g", value) end
  return tostring(value)
end

for _, event in ipairs({ "PreFrameStep", "LogicUpdate", "PostFrameStep", "GameSpaceDeleted" }) do
  Hook:Add(event, "record", function(argument) record(event .. " " .. show(argument)) end)
end

local function wrap(table, name, label)
  local original = table[name]
  table[name] = function(self, first, ...)
    record(label .. " " .. show(first))
    return original(self, first, ...)
  end
end

wrap(skynet, "Update", "skynet:Update")
wrap(game, "NewGameSpace", "game:NewGameSpace")
wrap(game, "RemoveGameSpace", "game:RemoveGameSpace")
wrap(game, "RemoveComponent", "game:RemoveComponent")
