// What the lower engine's frame and voice command queue ask of a playback instance and of a voice
// pipeline: the instance's stop, pause, offset and pitch, and the pipeline's launch, commands and
// frame. The playback instances and pipelines implement these; a factory installed by the voice
// pipeline makes pipelines. Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnPlaybackInstance;
class ISnVoicePipeline;
class CSnLoadedBank;
class ISnVoiceConnections;
class ISnVoiceQueries;

// Status words of a frame travelling along a voice pipeline.
enum SnVoiceStatus : uint32_t {
  SnVoice_NeedsData = 43,
  SnVoice_DataReady = 45,
  SnVoice_DataReadyFinished = 17,
  SnVoice_NoMoreDataForNow = 46,
};
constexpr SNRESULT SN_JoinedPipeline = SNRESULT(5);
constexpr SNRESULT SN_NotReadyYet = SNRESULT(63);

struct SnVoiceFrameState {
  uint32_t status = SnVoice_NeedsData;
  uint32_t requestedFrames = 0;
};

class ISnVoiceInstance {
 public:
  virtual ~ISnVoiceInstance() = default;
  // Marked stopped and holding no pending offset.
  virtual bool IsStoppedWithoutOffset() const = 0;
  virtual bool IsPaused() const = 0;
  // Motion (feedback) instances run 8 samples a frame.
  virtual bool IsMotion() const = 0;
  virtual float PitchRatio() const = 0;
  // Samples still to skip before the source begins; counts down while not negative.
  virtual int32_t InitialOffset() const = 0;
  virtual void SetInitialOffset(int32_t samples) = 0;
  virtual void Stop() = 0;
  // The same for a voice whose refusal has been logged already.
  virtual void StopRefused() { Stop(); }
  // The pipeline that plays it, once one was made.
  virtual ISnVoicePipeline* Pipeline() const = 0;
  // A pipeline already playing one source that can take this instance as its second, or null.
  virtual ISnVoicePipeline* PipelineForSecondSource() const = 0;
  // The playback instance behind the voice, for the real pipeline; null for other voices.
  virtual CSnPlaybackInstance* PlaybackInstance() { return nullptr; }

  // Commands in the lower engine's queue that name it: an instance that ends looks for its own only
  // when it has some.
  uint32_t m_queuedVoiceCommands = 0;
};

class ISnVoicePipeline {
 public:
  enum State : uint32_t { Created = 0, Playing = 1, Finished = 2 };
  virtual ~ISnVoicePipeline() = default;

  // 1 ready, 63 (SN_NotReadyYet) when the source's data is not there yet, anything else refused.
  virtual SNRESULT Init(ISnVoiceInstance* instance, uint32_t outputRate) = 0;
  // Asks the source again after 63: 63, 1 or 2.
  virtual SNRESULT TryLaunch() = 0;
  virtual SNRESULT AddSecondSource(ISnVoiceInstance* instance) = 0;
  virtual SNRESULT ConnectBuses() = 0;

  virtual void Begin() = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  virtual void StopLooping(ISnVoiceInstance* instance) = 0;
  virtual void Seek() = 0;

  virtual State GetState() const = 0;
  virtual ISnVoiceInstance* FirstSource() const = 0;
  virtual ISnVoiceInstance* SecondSource() const = 0;
  virtual bool SourceCanDeliver() = 0;
  virtual void RunFrame(SnVoiceFrameState& frame) = 0;
  virtual void EndSource() = 0;
  virtual void ReleaseFrameBuffer() = 0;
  virtual void EndOfFrame() = 0;
  // Mask bits 0-3 copy value bits 0-3 into the bypass bits of the effect slots that hold an effect.
  virtual void SetEffectBypass(uint32_t /*values*/, uint32_t /*mask*/) {}
  // The effect of an insert slot changed while the voice plays: the slot is made again.
  virtual void ReplaceEffect(uint32_t /*slot*/) {}
  // Whether the effects' contexts, then the sources, read media of `data` / of `bank`: such a
  // voice may not outlive the media.
  virtual bool UsesMedia(const void* /*data*/) const { return false; }
  virtual bool UsesBankMedia(const CSnLoadedBank* /*bank*/) const { return false; }
  // The bank's data is about to go: what the voice reads of it (its sources' media, its effects')
  // moves to another holder of the same media where one exists. True when the voice no longer reads
  // the bank's data; false when it must stop before the data goes.
  virtual bool RelocateBankMedia(const CSnLoadedBank* bank) { return !UsesBankMedia(bank); }
  // The source playing `instance` reads on from `newData`, a copy of its media at `oldData`; false
  // when it cannot follow.
  virtual bool MoveSourceMedia(const CSnPlaybackInstance* /*instance*/, const uint8_t* /*newData*/,
                               const uint8_t* /*oldData*/, uint32_t /*size*/) {
    return false;
  }
  // Runs its destroy operation, its destructor and gives its memory back.
  virtual void Destroy() = 0;
  // Its side of the bus graph (VoicePipelineConnections.h); null for a pipeline with no buses.
  virtual ISnVoiceConnections* Connections() { return nullptr; }
  // What it tells its plug-ins of its play (VoiceQueries.h); null for a pipeline that tells nothing.
  virtual ISnVoiceQueries* Queries() { return nullptr; }

  // The lower engine's list links (both ways: a pipeline leaves its list without a walk), the list
  // it is in, and its launch mark.
  ISnVoicePipeline* m_pNextInList = nullptr;
  ISnVoicePipeline* m_pPreviousInList = nullptr;
  const void* m_pList = nullptr;
  bool m_launched = false;
};

class ISnVoicePipelineFactory {
 public:
  virtual ~ISnVoicePipelineFactory() = default;
  // A new pipeline from the lower engine's pool, not yet initialised; null when out of memory.
  virtual ISnVoicePipeline* Create() = 0;
};

}  // namespace SN
