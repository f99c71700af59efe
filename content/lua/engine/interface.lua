-- The first script the engine runs, before the script folders: it loads what the engine's own calls
-- and conversions rely on from the start (script vectors through _R.__Vector2_MT.new and
-- __Vector3_MT.new, and the Hook table behind every "Hook:Call").
interface:LoadScript("engine/libraries/vector.lua", false)
interface:LoadScript("engine/libraries/hook.lua", false)
