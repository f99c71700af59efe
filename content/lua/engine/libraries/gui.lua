-- The screen overlay. The engine calls WindowResize(width, height) and then gui.Draw() once per frame,
-- after the "Draw" hook: gui.width and gui.height hold the drawn area's size, and scripts paint the
-- overlay by listening with Hook:Add("GUIDraw", key, fn).

gui = gui or { width = 0, height = 0 }

function WindowResize(width, height)
  gui.width, gui.height = width, height
end

function gui.Draw()
  Hook:Call("GUIDraw")
end
