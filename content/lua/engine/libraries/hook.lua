-- Script-side events. The engine calls Hook:Call(event, ...) with "PreFrameStep" and "PostFrameStep"
-- (dt), "LogicUpdate" (dt, once per frame), "GameSpaceDeleted" (the space name) and the window events;
-- scripts listen with Hook:Add(event, key, fn) and stop with Hook:Remove(event, key).

local TRACE_ERROR, TRACE_LUA = 0, 6

Hook = Hook or { events = {} }

-- The text of any value for a report. A value whose conversion fails (an error object whose __tostring
-- raises, or returns no string) is named by its type instead: a report must never raise an error of its
-- own and stop the work it reports on.
function SafeText(value)
  local ok, text = pcall(tostring, value)
  if ok and type(text) == "string" then return text end
  return "(" .. type(value) .. " without a text form)"
end

-- Adds fn under key (any value naming the listener); a key already listening gets the new fn.
-- Listeners run in the order they were added.
function Hook:Add(event, key, fn)
  assert(type(fn) == "function", "Hook:Add needs a function")
  local listeners = self.events[event]
  if not listeners then
    listeners = {}
    self.events[event] = listeners
  end
  for _, listener in ipairs(listeners) do
    if listener.key == key then
      listener.fn = fn
      return
    end
  end
  listeners[#listeners + 1] = { key = key, fn = fn }
end

function Hook:Remove(event, key)
  local listeners = self.events[event]
  if not listeners then return end
  for i, listener in ipairs(listeners) do
    if listener.key == key then
      listener.removed = true
      table.remove(listeners, i)
      return
    end
  end
end

-- Runs every listener of the event with the arguments. A failing listener is reported and the others
-- still run; listeners added meanwhile run from the next call, removed ones are not called.
function Hook:Call(event, ...)
  local listeners = self.events[event]
  if not listeners or #listeners == 0 then return end
  local args, count = { ... }, select("#", ...)
  -- Copied one by one: unpack puts every listener on the stack, which holds only some thousands.
  local snapshot = {}
  for i = 1, #listeners do snapshot[i] = listeners[i] end
  for _, listener in ipairs(snapshot) do
    if not listener.removed then
      local ok, message = xpcall(function() return listener.fn(unpack(args, 1, count)) end, debug.traceback)
      if not ok then
        -- A listener failing on every frame is said once, its count at the game's end.
        trace:LogMsgEach(TRACE_ERROR, TRACE_LUA,
          string.format("Hook %s listener %s failed: %s", SafeText(event), SafeText(listener.key), SafeText(message)))
      end
    end
  end
end
