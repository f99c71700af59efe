-- The screen overlay. The engine calls gui.Draw() once per frame, after the "Draw" hook; scripts paint
-- the overlay by listening with Hook:Add("GUIDraw", key, fn).

gui = gui or {}

function gui.Draw()
  Hook:Call("GUIDraw")
end
