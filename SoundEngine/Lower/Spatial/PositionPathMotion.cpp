// Path motion: segments between strayed vertices, frame-quantised, timed from the segment's first
// frame so that late frames keep their precision.
#include "SoundEngine/Lower/Spatial/PositionPathMotion.h"

#include <cstring>

#include "Base/MathUtil.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

// Two over the generator's range less one: an offset lies between -range and about 1.00006 x range.
constexpr float kOffsetScale = 6.103888e-05f;
constexpr SNRESULT SN_PathListEmpty = SNRESULT(37);
constexpr SNRESULT SN_NoMotion = SNRESULT(29);

// A vertex's duration in whole frames, at least one.
uint32_t SegmentFrames(uint32_t durationMs) {
  const uint64_t frameMs = LowerEngine::FrameDurationMs() ? LowerEngine::FrameDurationMs() : 1;
  const uint64_t frames = (uint64_t(durationMs) + frameMs - 1) / frameMs;
  return frames ? uint32_t(frames < 0xFFFFFFFFu ? frames : 0xFFFFFFFFu) : 1u;
}

void Strayed(const SnPathVertex& vertex, const SnPathListItem& list, float out[3]) {
  const float r1 = float(Base::Rand15()), r2 = float(Base::Rand15()), r3 = float(Base::Rand15());
  out[0] = vertex.position[0] + (r1 * kOffsetScale - 1.0f) * list.ranges[0];
  out[2] = vertex.position[2] + (r2 * kOffsetScale - 1.0f) * list.ranges[1];
  out[1] = vertex.position[1] + (r3 * kOffsetScale - 1.0f) * list.ranges[2];
}

}  // namespace

struct CSnPathMotion::Motion {
  CSnPositionPath* path = nullptr;
  uint32_t vertexIndex = 0;
  uint32_t firstFrame = 0;
  uint32_t endFrame = 0;
  uint32_t segmentFrames = 1;
  float inverse = 1.0f;
  uint32_t pausedFrame = 0;
  float begin[3] = {};
  float delta[3] = {};
  float position[3] = {};
  bool looping = false;
  SNRESULT launchResult = SN_Success;
  SnArray<ISnPathTarget*> targets;
  SnArray<SnFrozenListenerMatrix> frozen;
};

CSnPathMotion::Motion* CSnPathMotion::Find(const CSnPositionPath& path) const {
  for (uint32_t i = 0; i < m_motions.Count(); ++i)
    if (m_motions[i]->path == &path) return m_motions[i];
  return nullptr;
}

void CSnPathMotion::Term() {
  for (uint32_t i = 0; i < m_motions.Count(); ++i) PoolDelete(g_DefaultPoolId, m_motions[i]);
  m_motions.Term();
}

bool CSnPathMotion::RandomPick(Motion& motion) {
  CSnPositionPath& path = *motion.path;
  const uint32_t index = uint32_t(Base::Rand15()) % path.m_listCount;
  path.m_listIndex = uint16_t(index);
  if (path.m_modeFlags & SnPathMode_Continuous) path.m_pCurrentList = path.m_pLists + index;
  SnPathPlayedList* record = path.m_pPlayedList;
  if (!record || !record->played || record->count == 0) return false;
  bool cycle = true;
  for (uint32_t i = 0; i < record->count; ++i) cycle = cycle && record->played[i];
  if (cycle) std::memset(record->played, 0, record->count);
  if (index < record->count) record->played[index] = 1;
  return cycle;
}

bool CSnPathMotion::Prepare(CSnPositionPath& path) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  Motion* motion = Find(path);
  if (!motion) {
    motion = PoolNew<Motion>(g_DefaultPoolId);
    if (!motion || !m_motions.Add(motion, 8)) {
      if (motion) PoolDelete(g_DefaultPoolId, motion);
      SOUND_LOG(Error, "Position path: no memory for the motion of a path");
      return false;
    }
    motion->path = &path;
  }
  motion->looping = path.m_flags & kPathFlagLooping;
  // A path going on from a saved state keeps the list it had.
  if (path.m_pPlayedList) return true;
  path.m_pPlayedList = CreatePlayedList(path.m_listCount);
  if (!path.m_pPlayedList) {
    SOUND_LOG(Error, "Position path: no memory for the played list of %u lists", path.m_listCount);
    Terminate(path);
    return false;
  }
  if (path.m_modeFlags & SnPathMode_Random) RandomPick(*motion);
  return true;
}

void CSnPathMotion::Publish(Motion& motion) {
  for (ISnPathTarget* target : motion.targets)
    if (!target->IsPathPositionFrozen()) target->SetPathPosition(motion.position);
}

void CSnPathMotion::Launch(CSnPositionPath& path, uint32_t frame) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  Motion* motion = Find(path);
  if (!motion) return;
  const SnPathListItem* list = path.m_pCurrentList;
  if (!list) {
    motion->launchResult = SN_Failure;
    path.m_state = SnPathState_Idle;
    return;
  }
  if (list->vertexCount < 1 || !list->vertices) {
    motion->launchResult = SN_PathListEmpty;
    path.m_state = SnPathState_Idle;
    return;
  }
  motion->launchResult = SN_Success;
  motion->vertexIndex = 1;
  const SnPathVertex* v = list->vertices;
  motion->segmentFrames = SegmentFrames(v[0].durationMs);
  std::memset(motion->delta, 0, sizeof motion->delta);
  const bool samePoint = list->vertexCount == 2 && std::memcmp(v[0].position, v[1].position, sizeof v[0].position) == 0;
  Strayed(v[0], *list, motion->begin);
  if (list->vertexCount >= 2 && !samePoint) {
    float next[3];
    Strayed(v[1], *list, next);
    for (int i = 0; i < 3; ++i) motion->delta[i] = next[i] - motion->begin[i];
  }
  std::memcpy(motion->position, motion->begin, sizeof motion->position);
  Publish(*motion);
  motion->firstFrame = frame;
  motion->endFrame = frame + motion->segmentFrames;
  motion->inverse = 1.0f / float(motion->segmentFrames);
  path.m_state = SnPathState_Playing;
}

void CSnPathMotion::Pause(CSnPositionPath& path, uint32_t frame) {
  if (Motion* motion = Find(path)) motion->pausedFrame = frame;
}

void CSnPathMotion::Resume(CSnPositionPath& path, uint32_t frame) {
  Motion* motion = Find(path);
  if (!motion) return;
  const uint32_t paused = frame - motion->pausedFrame;
  motion->firstFrame += paused;
  motion->endFrame += paused;
}

void CSnPathMotion::Advance(CSnPositionPath& path, uint32_t frame) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  Motion* motion = Find(path);
  if (!motion || path.m_state != SnPathState_Playing) return;
  // From the segment's own first frame: a frame count of millions keeps every step of t.
  float t = float(frame - motion->firstFrame) * motion->inverse;
  if (int32_t(frame - motion->firstFrame) < 0) t = 0.0f;
  t = t > 1.0f ? 1.0f : t;
  for (int i = 0; i < 3; ++i) motion->position[i] = motion->begin[i] + motion->delta[i] * t;
  Publish(*motion);
  if (int32_t(frame - motion->endFrame) >= 0) NextVertex(*motion);
}

void CSnPathMotion::NextVertex(Motion& motion) {
  CSnPositionPath& path = *motion.path;
  const SnPathListItem* list = path.m_pCurrentList;
  if (motion.vertexIndex < list->vertexCount) {
    Strayed(list->vertices[motion.vertexIndex], *list, motion.begin);
    motion.segmentFrames = SegmentFrames(list->vertices[motion.vertexIndex].durationMs);
    ++motion.vertexIndex;
  }
  if (motion.vertexIndex >= list->vertexCount) {
    if (NextList(motion) != SN_Success) {
      path.m_state = SnPathState_Idle;
      return;
    }
    list = path.m_pCurrentList;
    // A later list without vertices has nowhere to go: the path ends there.
    if (!list || list->vertexCount == 0 || !list->vertices) {
      path.m_state = SnPathState_Idle;
      return;
    }
  }
  float next[3];
  Strayed(list->vertices[motion.vertexIndex], *list, next);
  for (int i = 0; i < 3; ++i) motion.delta[i] = next[i] - motion.begin[i];
  motion.firstFrame = motion.endFrame;
  motion.endFrame = motion.firstFrame + motion.segmentFrames;
  motion.inverse = 1.0f / float(motion.segmentFrames);
}

SNRESULT CSnPathMotion::NextList(Motion& motion) {
  CSnPositionPath& path = *motion.path;
  const bool continuous = path.m_modeFlags & SnPathMode_Continuous;
  bool cycle = false;
  if (path.m_modeFlags & SnPathMode_Random) {
    cycle = RandomPick(motion);
  } else {
    ++path.m_listIndex;
    if (path.m_listIndex >= path.m_listCount) {
      if (continuous) {
        path.m_pCurrentList = path.m_pLists;
        cycle = true;
      }
      path.m_listIndex = 0;
    } else if (continuous) {
      path.m_pCurrentList = path.m_pLists + path.m_listIndex;
    }
  }
  path.ListChanged();
  if (!continuous) return SN_NoMoreData;
  if (cycle && !motion.looping) return SN_NoMoreData;
  motion.vertexIndex = 0;
  return SN_Success;
}

void CSnPathMotion::Terminate(CSnPositionPath& path) {
  for (uint32_t i = 0; i < m_motions.Count(); ++i) {
    if (m_motions[i]->path != &path) continue;
    PoolDelete(g_DefaultPoolId, m_motions[i]);
    m_motions[i] = m_motions[m_motions.Count() - 1];
    m_motions.RemoveAt(m_motions.Count() - 1);
    return;
  }
}

SNRESULT CSnPathMotion::AddTarget(CSnPositionPath& path, ISnPathTarget* target) {
  Motion* motion = Find(path);
  if (!motion) return SN_NoMotion;
  if (motion->targets.IndexOf(target) >= 0) return SN_Success;
  return motion->targets.Add(target, 4) ? SN_Success : SN_InsufficientMemory;
}

void CSnPathMotion::RemoveTarget(CSnPositionPath& path, ISnPathTarget* target) {
  Motion* motion = Find(path);
  if (!motion) return;
  const int32_t index = motion->targets.IndexOf(target);
  if (index >= 0) motion->targets.RemoveAt(uint32_t(index));
}

void CSnPathMotion::SetLooping(CSnPositionPath& path, bool looping) {
  if (Motion* motion = Find(path)) motion->looping = looping;
}

bool CSnPathMotion::CurrentPosition(const CSnPositionPath& path, float position[3]) const {
  const Motion* motion = Find(path);
  if (!motion) return false;
  std::memcpy(position, motion->position, sizeof motion->position);
  return true;
}

SNRESULT CSnPathMotion::LaunchResult(const CSnPositionPath& path) const {
  const Motion* motion = Find(path);
  return motion ? motion->launchResult : SN_NoMotion;
}

const SnFrozenListenerMatrix* CSnPathMotion::FreezeListenerMatrix(CSnPositionPath& path, uint32_t listener) {
  Motion* motion = Find(path);
  if (!motion || listener >= kMaxListeners) return nullptr;
  SnFrozenListenerMatrix* entry = nullptr;
  for (SnFrozenListenerMatrix& frozen : motion->frozen)
    if (frozen.listener == listener) entry = &frozen;
  if (!entry) entry = motion->frozen.Add(SnFrozenListenerMatrix{listener, {}});
  if (!entry) return nullptr;
  const SnListenerRecord& record = LowerEngine::ListenerTable().Listener(listener);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) entry->matrix[r][c] = record.matrix[c][r];
  return entry;
}

const SnFrozenListenerMatrix* CSnPathMotion::FrozenListenerMatrix(const CSnPositionPath& path,
                                                                  uint32_t listener) const {
  const Motion* motion = Find(path);
  if (!motion) return nullptr;
  for (const SnFrozenListenerMatrix& frozen : motion->frozen)
    if (frozen.listener == listener) return &frozen;
  return nullptr;
}

void CSnPathMotion::FreezeListenerMatrices(CSnPositionPath& path, uint32_t mask) {
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener)
    if (mask & (1u << listener)) FreezeListenerMatrix(path, listener);
}

namespace LowerEngine {

CSnPathMotion& PositionPathMotion() {
  static CSnPathMotion motion;
  return motion;
}

}  // namespace LowerEngine
}  // namespace SN
