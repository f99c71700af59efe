-- The panel that shows a level's keys at the screen's top left: a title line in amber, then one line
-- per key in near white on a dark translucent panel, laid out for a drawn area 1080 lines tall and
-- scaled to the one the engine reports. Each level draws its own list from its "GUIDraw" listener.

keyPanel = {}

-- With `atBottom` the panel sits at the bottom left instead, out of the way of a level's own title.
function keyPanel.Draw(lines, atBottom)
  local g = graphics
  if not g then return end
  local scale = (gui.height or 0) > 0 and gui.height / 1080 or 1
  local size = 30 * scale
  local line = size * 1.35
  local margin = 36 * scale
  local top = margin
  if atBottom then top = 1080 * scale - margin - #lines * line end
  g:ResetStates()
  g:PushCanvas(0)
  g:PushLayer(3)
  g:SetFont(g:GetFontID("Arial"))
  g:SetTextSize(size)
  g:SetTextScale(1, 1)
  local width = 0
  for _, text in ipairs(lines) do width = math.max(width, g:MeasureString(text).x) end
  g:SetDepth(0.5)
  g:SetDrawColor(15, 20, 35, 200)
  g:DrawRect(margin - size * 0.5, top - size * 0.5, width + size, #lines * line + size * 0.6)
  g:SetDepth(0.25)
  for i, text in ipairs(lines) do
    if i == 1 then g:SetTextColor(255, 210, 120, 255) else g:SetTextColor(240, 240, 240, 255) end
    g:SetTextPos(margin, top + (i - 1) * line)
    g:DrawSpriteText(text)
  end
  g:PopLayer()
  g:PopCanvas()
end
