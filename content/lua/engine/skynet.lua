-- The script-side scheduler. The engine's SkyNet system calls skynet:Update(dt) once per frame step,
-- before game logic; scripts hand it work to run after a delay or on every update.

local TRACE_ERROR, TRACE_LUA = 0, 6

skynet = skynet or { time = 0, nextId = 1, tasks = {} }

-- Runs fn(dt) once, `seconds` of game time from now. Returns an id for Cancel.
function skynet:After(seconds, fn)
  return self:Add(self.time + seconds, fn, false)
end

-- Runs fn(dt) on every update until it returns false. Returns an id for Cancel.
function skynet:Every(fn)
  return self:Add(self.time, fn, true)
end

function skynet:Cancel(id)
  self.tasks[id] = nil
end

function skynet:Add(due, fn, repeating)
  assert(type(fn) == "function", "skynet needs a function")
  local id = self.nextId
  self.nextId = id + 1
  self.tasks[id] = { due = due, fn = fn, repeating = repeating }
  return id
end

function skynet:Update(dt)
  self.time = self.time + dt
  -- In id order, so tasks run in the order they were scheduled.
  local ids = {}
  for id in pairs(self.tasks) do ids[#ids + 1] = id end
  table.sort(ids)
  for _, id in ipairs(ids) do
    local task = self.tasks[id]
    if task and task.due <= self.time then
      local ok, result = xpcall(function() return task.fn(dt) end, debug.traceback)
      if not ok then
        trace:LogMsg(TRACE_ERROR, TRACE_LUA, "skynet task failed: " .. SafeText(result))
        self.tasks[id] = nil
      elseif not task.repeating or result == false then
        self.tasks[id] = nil
      end
    end
  end
end
