// The script debug-draw library: each call queues one primitive with the current colour and fill mode.
#include "Lua/LuaDebugDraw.h"

#include <cmath>

#include "Base/Reflection/Registration.h"
#include "Graphics/DebugDraw.h"
#include "Lua/Log.h"

namespace Lua {
namespace {

// A lifetime that is not a finite number would keep every record queued with it forever.
bool IsUsableTime(float seconds, const char* method) {
  if (std::isfinite(seconds)) return true;
  LUA_LOG(Error, "debugdraw:%s needs a finite number of seconds; the draw time is unchanged", method);
  return false;
}

}  // namespace

LuaDebugDraw& LuaDebugDraw::GetInstance() {
  static LuaDebugDraw instance;
  return instance;
}

LuaDebugDraw::LuaDebugDraw() : m_queue(&Graphics::DebugDraw::GetInstance()) {}

void LuaDebugDraw::SetSolid(bool solid) { m_isSolid = solid; }

void LuaDebugDraw::SetDrawTime(float seconds) {
  if (IsUsableTime(seconds, "SetDrawTime")) m_queue->m_drawTime = seconds;
}

void LuaDebugDraw::PushDrawTime(float seconds) {
  if (!IsUsableTime(seconds, "PushDrawTime")) return;
  m_queue->m_drawTime = seconds;
  m_queue->m_oneShot = true;
}

void LuaDebugDraw::SetColor(Base::Vec3 colour) { m_color = colour; }

void LuaDebugDraw::DrawPoint(Base::Vec3 position, Base::Vec3 colour) {
  m_queue->DrawPoint(position, colour, m_isSolid);
}

void LuaDebugDraw::DrawLine(Base::Vec3 from, Base::Vec3 to) { m_queue->DrawLine(from, to, m_color); }

void LuaDebugDraw::DrawQuad(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation) {
  m_queue->DrawQuad(position, size, rotation, m_color, m_isSolid);
}

void LuaDebugDraw::DrawCube(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation) {
  m_queue->DrawCube(position, size, rotation, m_color, m_isSolid);
}

void LuaDebugDraw::DrawSphere(Base::Vec3 position, float radius, Base::Vec3 rotation) {
  m_queue->DrawSphere(position, radius, rotation, m_color, m_isSolid);
}

void LuaDebugDraw::DrawCylinder(Base::Vec3 position, float radius, float height, Base::Vec3 rotation) {
  m_queue->DrawCylinder(position, radius, height, rotation, m_color, m_isSolid);
}

void LuaDebugDraw::DrawCone(Base::Vec3 position, float radius, float height, Base::Vec3 rotation) {
  m_queue->DrawCone(position, radius, height, rotation, m_color, m_isSolid);
}

void LuaDebugDraw::DrawTorus(Base::Vec3 position, float radius, float height, Base::Vec3 rotation) {
  m_queue->DrawTorus(position, radius, height, rotation, m_color, m_isSolid);
}

}  // namespace Lua

// Scripts call these on the global "debugdraw" by the method's own name.
ORV_REFLECT_CLASS(Lua::LuaDebugDraw) {
  ORV_METHOD(SetSolid, nullptr, "Sets if the debug draw is solid or not (presistant)");
  ORV_METHOD(SetDrawTime, nullptr, "Sets the debug draw time (presistant)");
  ORV_METHOD(PushDrawTime, nullptr, "Sets the debug draw time (one call only)");
  ORV_METHOD(SetColor, nullptr, "Sets the debug draw color (presistant)");
  ORV_METHOD(DrawPoint, nullptr, "Draws a point");
  ORV_METHOD(DrawLine, nullptr, "Draws a Line");
  ORV_METHOD(DrawQuad, nullptr, "Draws a Quad");
  ORV_METHOD(DrawCube, nullptr, "Draws a Cube");
  ORV_METHOD(DrawSphere, nullptr, "Draws a Sphere");
  ORV_METHOD(DrawCylinder, nullptr, "Draws a Cyclinder");
  ORV_METHOD(DrawCone, nullptr, "Draws a Cone");
  ORV_METHOD(DrawTorus, nullptr, "Draws a Torus");
}
