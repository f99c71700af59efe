// The global chunks of a bank: settings for the game-sync managers (STMG), the environment curves
// (ENVS), the platform check (PLAT) and the names of banks (STID). Each takes its chunk whole and reads
// its fields from a cursor bounded by the chunk, checking every count against the bytes left.
#include <cstring>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN::BankChunks {

namespace {

// The chunk's payload for the length of a scope; null when the bank ends before it does.
class ChunkBytes {
 public:
  ChunkBytes(CSnSoundBankReader& reader, uint32_t size) : m_reader(reader), m_data(reader.GetData(size)) {}
  ~ChunkBytes() { m_reader.ReleaseData(); }
  ChunkBytes(const ChunkBytes&) = delete;
  ChunkBytes& operator=(const ChunkBytes&) = delete;
  const uint8_t* Data() const { return m_data; }

 private:
  CSnSoundBankReader& m_reader;
  const uint8_t* m_data;
};

SNRESULT Overrun(const char* chunk, const char* what) {
  SOUND_LOG(Error, "Bank chunk %s: %s runs past the end of the chunk", chunk, what);
  return SN_InvalidFile;
}

SNRESULT Unavailable(const char* chunk, uint32_t size) {
  SOUND_LOG(Error, "Bank chunk %s: its %u bytes could not be read", chunk, size);
  return SN_InvalidFile;
}

// Smallest stored sizes, which bound the counts a chunk can hold.
constexpr uint32_t kStateGroupBytes = 12;
constexpr uint32_t kStateTransitionBytes = 12;
constexpr uint32_t kSwitchGroupBytes = 13;
constexpr uint32_t kCurvePointBytes = 12;
constexpr uint32_t kParameterBytes = 21;
constexpr uint32_t kBankNameEntryBytes = 5;

SNRESULT ReadStateGroups(SnBankCursor& cursor) {
  uint32_t count = 0;
  if (!cursor.Take(count) || count > cursor.Left() / kStateGroupBytes) return Overrun("STMG", "the state group count");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t groupId = 0, defaultMs = 0, transitions = 0;
    if (!cursor.Take(groupId) || !cursor.Take(defaultMs) || !cursor.Take(transitions) ||
        transitions > cursor.Left() / kStateTransitionBytes)
      return Overrun("STMG", "a state group");
    if (!g_pStateMgr || g_pStateMgr->AddStateGroup(groupId) != SN_Success) {
      SOUND_LOG(Error, "Bank chunk STMG: state group %u could not be added", groupId);
      return SN_Failure;
    }
    g_pStateMgr->SetDefaultTransitionTime(groupId, defaultMs);
    for (uint32_t t = 0; t < transitions; ++t) {
      uint32_t from = 0, to = 0, ms = 0;
      cursor.Take(from);
      cursor.Take(to);
      cursor.Take(ms);
      g_pStateMgr->AddStateTransition(groupId, from, to, ms, false);
    }
  }
  return SN_Success;
}

SNRESULT ReadSwitchGroups(SnBankCursor& cursor) {
  uint32_t count = 0;
  if (!cursor.Take(count) || count > cursor.Left() / kSwitchGroupBytes) return Overrun("STMG", "the switch group count");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t groupId = 0, parameterId = 0, points = 0;
    uint8_t scaling = 0;
    if (!cursor.Take(groupId) || !cursor.Take(parameterId) || !cursor.Take(scaling) || !cursor.Take(points) ||
        points > cursor.Left() / kCurvePointBytes)
      return Overrun("STMG", "a switch group");
    // Stored {x, y, interpolation}: the second word is the switch that the point selects.
    SnArray<SnSwitchGraphPoint> graph;
    if (points && !graph.GrowBy(points)) return SN_InsufficientMemory;
    for (uint32_t p = 0; p < points; ++p) {
      SnSwitchGraphPoint point{};
      cursor.Take(point.parameterValue);
      cursor.Take(point.switchId);
      cursor.Take(point.shape);
      graph.Add(point);
    }
    if (!g_pSwitchMgr) return SN_Failure;
    const SNRESULT result = g_pSwitchMgr->SetGroupRTPCCurve(groupId, parameterId, scaling, graph.begin(), points);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Bank chunk STMG: switch group %u could not follow game parameter %u", groupId, parameterId);
      return result;
    }
  }
  return SN_Success;
}

SNRESULT ReadParameters(SnBankCursor& cursor) {
  uint32_t count = 0;
  if (!cursor.Take(count) || count > cursor.Left() / kParameterBytes) return Overrun("STMG", "the game parameter count");
  if (!g_pRTPCMgr) return count ? SN_Failure : SN_Success;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t parameterId = 0, rampMode = 0;
    float defaultValue = 0.0f, rampUp = 0.0f, rampDown = 0.0f;
    uint8_t binding = 0;
    cursor.Take(parameterId);
    cursor.Take(defaultValue);
    cursor.Take(rampMode);
    cursor.Take(rampUp);
    cursor.Take(rampDown);
    cursor.Take(binding);
    if (g_pRTPCMgr->SetDefaultValue(parameterId, defaultValue) != SN_Success ||
        g_pRTPCMgr->SetRampingSettings(parameterId, rampMode, rampUp, rampDown) != SN_Success)
      return SN_InsufficientMemory;
    if (binding) g_pRTPCMgr->AddBuiltInParamBinding(binding, parameterId);
  }
  return SN_Success;
}

}  // namespace

SNRESULT ReadSettings(CSnSoundBankReader& reader, uint32_t size) {
  if (size == 0) return SN_Success;
  ChunkBytes bytes(reader, size);
  if (!bytes.Data()) return Unavailable("STMG", size);
  SnBankCursor cursor(bytes.Data(), size);
  float threshold = 0.0f;
  if (!cursor.Take(threshold)) return Overrun("STMG", "the volume threshold");
  SoundEngine::ApplyVolumeThreshold(threshold, 2);
  uint16_t voices = 0;
  if (!cursor.Take(voices)) return Overrun("STMG", "the voice limit");
  SoundEngine::ApplyMaxNumVoicesLimit(voices, 2);
  // The managers are the audio thread's; the bank thread changes them under its lock.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  SNRESULT result = ReadStateGroups(cursor);
  if (result == SN_Success) result = ReadSwitchGroups(cursor);
  if (result == SN_Success) result = ReadParameters(cursor);
  return result;
}

SNRESULT ReadEnvironmentCurves(CSnSoundBankReader& reader, uint32_t size) {
  if (!g_pStateMgr || !g_pEnvironmentCurves) {
    SOUND_LOG(Error, "Bank chunk ENVS: the sound engine is not initialised");
    return SN_Failure;
  }
  if (size == 0) {
    SOUND_LOG(Error, "Bank chunk ENVS is empty");
    return SN_Failure;
  }
  ChunkBytes bytes(reader, size);
  if (!bytes.Data()) return Unavailable("ENVS", size);
  SnBankCursor cursor(bytes.Data(), size);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  for (uint32_t group = 0; group < CSnEnvironmentCurves::kGroups; ++group) {
    for (uint32_t curve = 0; curve < CSnEnvironmentCurves::kCurvesPerGroup; ++curve) {
      uint8_t enabled = 0, scaling = 0;
      uint16_t count = 0;
      if (!cursor.Take(enabled) || !cursor.Take(scaling) || !cursor.Take(count)) return Overrun("ENVS", "a curve");
      const uint8_t* points = cursor.TakeBytes(uint32_t(count) * kCurvePointBytes);
      if (!points) return Overrun("ENVS", "a curve's points");
      g_pEnvironmentCurves->SetCurveEnabled(group, curve, enabled != 0);
      // A curve without points stays as it was; its flag is still taken.
      if (count == 0) continue;
      const SNRESULT result = g_pEnvironmentCurves->SetCurve(group, curve, count, points, scaling);
      if (result != SN_Success) {
        SOUND_LOG(Error, "Bank chunk ENVS: no memory for the %u points of curve %u of group %u", count, curve, group);
        return SN_InsufficientMemory;
      }
    }
  }
  return SN_Success;
}

SNRESULT ReadPlatform(CSnSoundBankReader& reader, uint32_t size) {
  if (size == 0) return SN_Success;
  ChunkBytes bytes(reader, size);
  if (!bytes.Data()) return Unavailable("PLAT", size);
  SnBankCursor cursor(bytes.Data(), size);
  uint32_t length = 0;
  if (!cursor.Take(length)) return Overrun("PLAT", "the string length");
  const uint8_t* text = cursor.TakeBytes(length);
  if (!text) return Overrun("PLAT", "the platform string");
  return SoundEngine::MatchBankPlatform(reinterpret_cast<const char*>(text), length);
}

SNRESULT ReadBankNames(CSnSoundBankReader& reader, CSnLoadedBank& bank, uint32_t size) {
  if (size == 0) return SN_Success;
  ChunkBytes bytes(reader, size);
  if (!bytes.Data()) return Unavailable("STID", size);
  SnBankCursor cursor(bytes.Data(), size);
  while (cursor.Left() > 0) {
    uint32_t kind = 0, count = 0;
    if (!cursor.Take(kind) || !cursor.Take(count) || count > cursor.Left() / kBankNameEntryBytes)
      return Overrun("STID", "a section");
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t bankId = 0;
      uint8_t length = 0;
      if (!cursor.Take(bankId) || !cursor.Take(length)) return Overrun("STID", "an entry");
      const uint8_t* name = cursor.TakeBytes(length);
      if (!name) return Overrun("STID", "a bank name");
      const SNRESULT result = bank.AddBankName(bankId, reinterpret_cast<const char*>(name), length);
      if (result != SN_Success) return result;
    }
  }
  return SN_Success;
}

}  // namespace SN::BankChunks
