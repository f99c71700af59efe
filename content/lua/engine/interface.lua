-- The first script the engine runs, before the script folders: it loads what the engine's own
-- conversions rely on (vectors travel to scripts through _R.__Vector2_MT.new / __Vector3_MT.new).
interface:LoadScript("engine/libraries/vector.lua", false)
