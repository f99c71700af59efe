-- The panel that shows a level's keys at the screen's top left: a title line in amber, then one line
-- per key in near white on a dark translucent panel, laid out for a drawn area 1080 lines tall and
-- scaled to the one the engine reports. Each level draws its own list from its "GUIDraw" listener.

keyPanel = {}

-- A key line is its key, three spaces or more, then what the key does ("M   music: on"); the text of every
-- key line starts in one column past the widest key, as the keys' widths differ in the font ("M" against
-- "T"). Lines without that gap (the title) are drawn whole. `measure(text)` gives a text's width; the
-- result lists each line's parts, their left edges from the panel's and the panel's inner width.
function keyPanel.Layout(lines, measure, gap)
  local rows, keyWidth = {}, 0
  for i, text in ipairs(lines) do
    local key, rest = string.match(text, "^(%S+)%s%s%s+(.+)$")
    if i > 1 and key then
      rows[i] = { key = key, text = rest }
      keyWidth = math.max(keyWidth, measure(key))
    else
      rows[i] = { text = text }
    end
  end
  local width = 0
  for _, row in ipairs(rows) do
    row.keyX = 0
    row.textX = row.key and keyWidth + gap or 0
    width = math.max(width, row.textX + measure(row.text))
  end
  return rows, width
end

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
  local rows, width = keyPanel.Layout(lines, function(text) return g:MeasureString(text).x end, size)
  g:SetDepth(0.5)
  g:SetDrawColor(15, 20, 35, 200)
  g:DrawRect(margin - size * 0.5, top - size * 0.5, width + size, #lines * line + size * 0.6)
  g:SetDepth(0.25)
  for i, row in ipairs(rows) do
    if i == 1 then g:SetTextColor(255, 210, 120, 255) else g:SetTextColor(240, 240, 240, 255) end
    local y = top + (i - 1) * line
    if row.key then
      g:SetTextPos(margin + row.keyX, y)
      g:DrawSpriteText(row.key)
    end
    g:SetTextPos(margin + row.textX, y)
    g:DrawSpriteText(row.text)
  end
  g:PopLayer()
  g:PopCanvas()
end
