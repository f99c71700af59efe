// What the position paths ask of the voice pipeline: moving a path along its vertex lists. The
// voice pipeline installs the motion; until it does, paths keep their play lists and stand still.
#pragma once

#include <cstdint>

namespace SN {

class CSnPositionPath;

class ISnPathMotion {
 public:
  virtual ~ISnPathMotion() = default;
  // The path takes its play list; false when the motion refuses it (the path stays unprepared).
  virtual bool Prepare(CSnPositionPath& path) = 0;
  virtual void Launch(CSnPositionPath& path, uint32_t frame) = 0;
  virtual void Pause(CSnPositionPath& path, uint32_t frame) = 0;
  virtual void Resume(CSnPositionPath& path, uint32_t frame) = 0;
  virtual void Advance(CSnPositionPath& path, uint32_t frame) = 0;
  virtual void Terminate(CSnPositionPath& path) = 0;
};

namespace LowerEngine {

// Null uninstalls.
void InstallPathMotion(ISnPathMotion* motion);
ISnPathMotion* PathMotion();

}  // namespace LowerEngine
}  // namespace SN
