// The voice command queue, the launch and command passes, the waiting and active pipelines.
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"

#include <cmath>
#include <initializer_list>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

namespace SN {
namespace {

constexpr uint32_t kPreallocatedCommands = 512;
// Items past the preallocated ones stay on the free list once their command ran, up to this many: a
// burst of voices takes them from the pool once rather than one allocation per command per frame.
constexpr uint32_t kKeptCommands = 4096;
constexpr uint16_t kLaunchedFlag = 0x100;

struct SnVoiceCommand {
  ISnVoiceInstance* instance;
  uint32_t groupKey;
  uint8_t kind;
  uint16_t flags;
};

// A doubly linked list of pipelines through their own links, with head, tail and count; each
// pipeline knows the list it is in.
struct PipelineList {
  ISnVoicePipeline* head = nullptr;
  ISnVoicePipeline* tail = nullptr;
  uint32_t count = 0;

  void Append(ISnVoicePipeline* pipeline) { InsertBefore(nullptr, pipeline); }
  // `previous`, the pipeline a walk saw before it, is its own back link.
  void Unlink([[maybe_unused]] ISnVoicePipeline* previous, ISnVoicePipeline* pipeline) {
    ORV_ASSERT(pipeline->m_pList == this && pipeline->m_pPreviousInList == previous);
    previous = pipeline->m_pPreviousInList;
    ISnVoicePipeline* next = pipeline->m_pNextInList;
    (previous ? previous->m_pNextInList : head) = next;
    (next ? next->m_pPreviousInList : tail) = previous;
    pipeline->m_pNextInList = pipeline->m_pPreviousInList = nullptr;
    pipeline->m_pList = nullptr;
    --count;
  }
  // Before the first pipeline of the same or a higher priority: lowest first, newest first among
  // equals. Pipelines without a bus side count 0. One of no higher priority than the head (all of one
  // priority, the usual case) goes first without a walk.
  void InsertByPriority(ISnVoicePipeline* pipeline) {
    const uint32_t priority = PriorityOf(pipeline);
    ISnVoicePipeline* p = head;
    while (p && PriorityOf(p) < priority) p = p->m_pNextInList;
    InsertBefore(p, pipeline);
  }
  static uint32_t PriorityOf(ISnVoicePipeline* pipeline) {
    ISnVoiceConnections* connections = pipeline->Connections();
    return connections ? connections->Priority() : 0;
  }
  bool Remove(ISnVoicePipeline* pipeline) {
    if (!Contains(pipeline)) return false;
    Unlink(pipeline->m_pPreviousInList, pipeline);
    return true;
  }
  bool Contains(const ISnVoicePipeline* pipeline) const { return pipeline->m_pList == this; }
  void Forget() {
    head = tail = nullptr;
    count = 0;
  }

 private:
  // Before `next` (null: at the end).
  void InsertBefore(ISnVoicePipeline* next, ISnVoicePipeline* pipeline) {
    ORV_ASSERT(!pipeline->m_pList);
    ISnVoicePipeline* previous = next ? next->m_pPreviousInList : tail;
    pipeline->m_pNextInList = next;
    pipeline->m_pPreviousInList = previous;
    (previous ? previous->m_pNextInList : head) = pipeline;
    (next ? next->m_pPreviousInList : tail) = pipeline;
    pipeline->m_pList = this;
    ++count;
  }
};

struct VoiceState {
  SnPooledList<SnVoiceCommand> queue;
  bool launchPending = false;
  uint32_t groupKey = 0;
  PipelineList active;
  PipelineList waiting;
  ISnVoicePipelineFactory* factory = nullptr;
  bool memoryShort = false;  // a refusal for want of memory was logged, and no whole voice ended since
  bool noRoom = false;
  uint32_t walks = 0;    // walks over the queue under way (a launch runs inside the command pass)
  uint32_t retired = 0;  // commands of ended voices left in place for the walks (see CommandWalk)
};

VoiceState& Voices() {
  static VoiceState state;
  return state;
}

using CommandItem = SnPooledList<SnVoiceCommand>::Item;

uint32_t FrameSamples(const ISnVoiceInstance* instance) {
  return instance->IsMotion() ? LowerEngine::kMotionFrameSamples : LowerEngine::SamplesPerFrame();
}

uint32_t OutputRate(const ISnVoiceInstance* instance) {
  if (!instance->IsMotion()) return LowerEngine::SampleRate();
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  return samples ? uint16_t(uint32_t(float(LowerEngine::SampleRate()) / float(samples) * float(LowerEngine::kMotionFrameSamples)))
                 : 0;
}

// Connects a pipeline whose source is ready and puts it among the active ones; false when refused.
bool Activate(ISnVoicePipeline* pipeline) {
  if (pipeline->ConnectBuses() != SN_Success) return false;
  Voices().active.InsertByPriority(pipeline);
  pipeline->m_launched = true;
  return true;
}

// A command whose voice ended while a walk was under way: it names no instance any more.
bool IsRetired(const CommandItem& item) { return !item.payload.instance; }

// Every removal goes through here: the instance counts the commands that name it.
void RemoveCommand(CommandItem* previous, CommandItem* item) {
  VoiceState& state = Voices();
  if (IsRetired(*item))
    --state.retired;
  else
    --item->payload.instance->m_queuedVoiceCommands;
  state.queue.Remove(previous, item);
}

// A walk over the queue calls out (a voice stopped, a pipeline made or destroyed), and what it calls
// may end voices whose commands lie anywhere in the queue: the item the walk holds as the one before
// its own, the next one, its own. While a walk is under way those commands are only retired, so that
// no item the walk holds goes back to the free list; each walk removes the retired ones it passes,
// and the last walk to end the ones behind it.
class CommandWalk {
 public:
  CommandWalk() { ++Voices().walks; }
  ~CommandWalk() {
    VoiceState& state = Voices();
    if (--state.walks || !state.retired) return;
    CommandItem* previous = nullptr;
    for (CommandItem* item = state.queue.Head(); item && state.retired;) {
      CommandItem* next = item->next;
      if (IsRetired(*item))
        RemoveCommand(previous, item);
      else
        previous = item;
      item = next;
    }
  }
  CommandWalk(const CommandWalk&) = delete;
  CommandWalk& operator=(const CommandWalk&) = delete;
};

void RemoveCommandsOf(const ISnVoiceInstance* instance) {
  // Most voices that end have none queued: the queue is walked only for those that do, and only as
  // far as their last one.
  VoiceState& state = Voices();
  CommandItem* previous = nullptr;
  for (CommandItem* item = state.queue.Head(); item && instance->m_queuedVoiceCommands;) {
    CommandItem* next = item->next;
    if (item->payload.instance != instance) {
      previous = item;
    } else if (state.walks) {
      --item->payload.instance->m_queuedVoiceCommands;
      item->payload.instance = nullptr;
      ++state.retired;
      previous = item;
    } else {
      RemoveCommand(previous, item);
    }
    item = next;
  }
}

void Dispatch(const SnVoiceCommand& command, ISnVoicePipeline* pipeline) {
  switch (command.kind) {
    case SnVoiceCommand_Begin: pipeline->Begin(); break;
    case SnVoiceCommand_BeginPaused:
      pipeline->Begin();
      pipeline->Pause();
      break;
    case SnVoiceCommand_Pause: pipeline->Pause(); break;
    case SnVoiceCommand_Resume: pipeline->Resume(); break;
    case SnVoiceCommand_StopLooping: pipeline->StopLooping(command.instance); break;
    case SnVoiceCommand_Seek: pipeline->Seek(); break;
    default: break;
  }
}

// The pipeline a command runs on: a begin's own once launched; for the others the playing
// pipeline whose first source (either source, for stop-looping) is the instance, else its own.
ISnVoicePipeline* TargetOf(const SnVoiceCommand& command) {
  if (command.kind <= SnVoiceCommand_BeginPaused) return command.instance->Pipeline();
  // An instance is the first source of one pipeline at most, its own: when that one plays, no walk
  // over the others is needed. Stop-looping may also name a second source, found by the walk.
  ISnVoicePipeline* own = command.instance->Pipeline();
  if (command.kind != SnVoiceCommand_StopLooping && own && own->m_launched &&
      own->GetState() == ISnVoicePipeline::Playing && own->FirstSource() == command.instance)
    return own;
  for (ISnVoicePipeline* p = Voices().active.head; p; p = p->m_pNextInList) {
    if (p->GetState() != ISnVoicePipeline::Playing) continue;
    if (p->FirstSource() == command.instance) return p;
    if (command.kind == SnVoiceCommand_StopLooping && p->SecondSource() == command.instance) return p;
  }
  return command.instance->Pipeline();
}

}  // namespace

namespace LowerEngine {

void SetVoicePipelineFactory(ISnVoicePipelineFactory* factory) { Voices().factory = factory; }
ISnVoicePipelineFactory* VoicePipelineFactory() { return Voices().factory; }

SNRESULT InitVoiceCommands() {
  VoiceState& state = Voices();
  state.launchPending = false;
  state.groupKey = 0;
  state.memoryShort = state.noRoom = false;
  state.walks = state.retired = 0;
  state.active.Forget();
  state.waiting.Forget();
  return state.queue.Init(kPreallocatedCommands, SnPooledList<SnVoiceCommand>::kUnlimited, g_LEngineDefaultPoolId,
                          kKeptCommands)
             ? SN_Success
             : SN_InsufficientMemory;
}

void TermVoiceCommands() {
  VoiceState& state = Voices();
  state.queue.Term();
  state.retired = 0;
  state.launchPending = false;
  // Their pipelines were destroyed with the others before the lower engine ends.
  state.waiting.Forget();
  state.active.Forget();
}

SNRESULT QueueVoiceCommand(SnVoiceCommandKind kind, ISnVoiceInstance* instance) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  if (!instance) return SN_InvalidParameter;
  if (!state.queue.Append(SnVoiceCommand{instance, state.groupKey, uint8_t(kind), 0})) return SN_Failure;
  ++instance->m_queuedVoiceCommands;
  if (kind <= SnVoiceCommand_BeginPaused) state.launchPending = true;
  return SN_Success;
}

void RefuseVoiceForMemory(uint32_t playingId) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  if (state.memoryShort) return;
  state.memoryShort = true;
  SOUND_LOG(Error,
            "Playing id %u: the lower engine's memory is full; its voice and every new one are refused until "
            "voices end",
            playingId);
}

void VoiceMemoryReturned() { Voices().memoryShort = false; }

void NoteNoRoomForVoice() { Voices().noRoom = true; }

bool TakeNoRoomForVoice() {
  const bool noRoom = Voices().noRoom;
  Voices().noRoom = false;
  return noRoom;
}

void IncrementVoiceGroupKey() { ++Voices().groupKey; }
uint32_t VoiceGroupKey() { return Voices().groupKey; }
void RemoveQueuedVoiceCommands(const ISnVoiceInstance* instance) { RemoveCommandsOf(instance); }

uint32_t QueuedVoiceCommandCount() { return Voices().queue.Count(); }
bool LaunchPending() { return Voices().launchPending; }
uint32_t ActivePipelineCount() { return Voices().active.count; }
uint32_t WaitingPipelineCount() { return Voices().waiting.count; }

void LaunchQueuedVoices() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  if (!state.launchPending) return;
  CommandWalk walk;
  CommandItem* previous = nullptr;
  for (CommandItem* item = state.queue.Head(); item;) {
    CommandItem* next = item->next;
    SnVoiceCommand& command = item->payload;
    ISnVoiceInstance* instance = command.instance;
    bool remove = IsRetired(*item);
    if (!remove && command.kind <= SnVoiceCommand_BeginPaused && !instance->Pipeline()) {
      if (instance->IsStoppedWithoutOffset()) {
        remove = true;
        instance->Stop();
      } else if (ISnVoicePipeline* shared = instance->PipelineForSecondSource();
                 shared && shared->AddSecondSource(instance) == SN_JoinedPipeline) {
        // Joined as a second source: launched, and nothing more to begin for this command. A voice
        // that cannot take it leaves the instance to a pipeline of its own.
        remove = true;
      } else {
        ISnVoicePipeline* pipeline = state.factory ? state.factory->Create() : nullptr;
        SNRESULT result = SN_Failure;
        if (!pipeline && state.factory) {
          const CSnPlaybackInstance* playback = instance->PlaybackInstance();
          RefuseVoiceForMemory(playback ? playback->PlayingId() : 0);
          instance->StopRefused();
        } else if (!pipeline) {
          instance->Stop();
        } else {
          result = pipeline->Init(instance, OutputRate(instance));
          if (result == SN_NotReadyYet) {
            state.waiting.Append(pipeline);
            result = SN_Success;
          } else if (result == SN_Success) {
            if (Activate(pipeline)) {
              command.flags |= kLaunchedFlag;
            } else {
              pipeline->Destroy();
              result = SN_Failure;
            }
          } else {
            pipeline->Destroy();
          }
        }
        remove = result != SN_Success;
      }
    }
    if (remove)
      RemoveCommand(previous, item);
    else
      previous = item;
    item = next;
  }
  state.launchPending = false;
}

void BeginQueuedVoices() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  CommandWalk walk;
  LaunchQueuedVoices();
  CommandItem* previous = nullptr;
  CommandItem* item = state.queue.Head();
  // The group whose begins were all launched by the last check: its later commands need no other.
  bool checked = false;
  uint32_t checkedKey = 0;
  while (item) {
    const uint32_t key = item->payload.groupKey;
    // Every begin of the group whose source was not ready is asked again, once for the group.
    bool blocked = false;
    bool restart = false;
    CommandItem* groupPrevious = previous;
    CommandItem* first = checked && key == checkedKey ? nullptr : item;
    for (CommandItem* member = first; member && member->payload.groupKey == key;) {
      CommandItem* next = member->next;
      SnVoiceCommand& command = member->payload;
      ISnVoicePipeline* pipeline = IsRetired(*member) ? nullptr : command.instance->Pipeline();
      if (pipeline && command.kind <= SnVoiceCommand_BeginPaused && !(command.flags & kLaunchedFlag) &&
          !command.instance->IsStoppedWithoutOffset() && state.waiting.Contains(pipeline)) {
        const SNRESULT result = pipeline->TryLaunch();
        if (result == SN_NotReadyYet) {
          blocked = true;
        } else {
          state.waiting.Remove(pipeline);
          if (result == SN_Success && Activate(pipeline)) {
            command.flags |= kLaunchedFlag;
          } else {
            pipeline->Destroy();
            RemoveCommand(groupPrevious, member);
            restart = true;
            break;
          }
        }
      }
      groupPrevious = member;
      member = next;
    }
    if (restart) {
      previous = nullptr;
      item = state.queue.Head();
      checked = false;
      continue;
    }
    checked = !blocked;
    checkedKey = key;
    if (blocked) {
      // All voices of one action begin in the same frame: the group waits whole.
      while (item && item->payload.groupKey == key) {
        previous = item;
        item = item->next;
      }
      continue;
    }
    const SnVoiceCommand command = item->payload;
    ISnVoicePipeline* target = IsRetired(*item) ? nullptr : TargetOf(command);
    const bool launchedBegin = command.kind <= SnVoiceCommand_BeginPaused && (command.flags & kLaunchedFlag);
    CommandItem* next = item->next;
    if (target && (launchedBegin || (command.kind > SnVoiceCommand_BeginPaused && target->m_launched))) {
      Dispatch(command, target);
      RemoveCommand(previous, item);
    } else if (target) {
      previous = item;  // its pipeline waits for its source: the command waits with it
    } else {
      RemoveCommand(previous, item);
    }
    item = next;
  }
}

void AdvanceWaitingPipelines() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  ISnVoicePipeline* previous = nullptr;
  for (ISnVoicePipeline* pipeline = state.waiting.head; pipeline;) {
    ISnVoicePipeline* next = pipeline->m_pNextInList;
    ISnVoiceInstance* instance = pipeline->FirstSource();
    if (instance && instance->IsStoppedWithoutOffset()) {
      RemoveCommandsOf(instance);
      state.waiting.Unlink(previous, pipeline);
      pipeline->Destroy();
    } else {
      if (instance && !instance->IsPaused() && instance->InitialOffset() >= 0) {
        const double advance = double(FrameSamples(instance)) * double(instance->PitchRatio());
        instance->SetInitialOffset(instance->InitialOffset() - int32_t(std::lround(advance)));
      }
      previous = pipeline;
    }
    pipeline = next;
  }
}

// A play due later than this frame waits out its delay; the frame it comes due in runs, its offset
// left negative for the source to open that frame with the silence before the due sample.
static bool ComesDueThisFrame(ISnVoiceInstance* instance) {
  if (!instance) return true;
  const int32_t delay = instance->InitialOffset();
  if (delay < 0) return true;
  const int32_t samples = int32_t(std::lround(double(FrameSamples(instance)) * double(instance->PitchRatio())));
  instance->SetInitialOffset(delay - samples);
  return delay < samples;
}

void RunActivePipelines(bool render) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  VoiceState& state = Voices();
  ISnVoicePipeline* previous = nullptr;
  for (ISnVoicePipeline* pipeline = state.active.head; pipeline;) {
    ISnVoicePipeline* next = pipeline->m_pNextInList;
    ISnVoiceInstance* instance = pipeline->FirstSource();
    SnVoiceFrameState frame;
    frame.requestedFrames = instance ? FrameSamples(instance) : LowerEngine::SamplesPerFrame();
    if (pipeline->GetState() == ISnVoicePipeline::Playing && render && pipeline->SourceCanDeliver() &&
        ComesDueThisFrame(instance)) {
      pipeline->RunFrame(frame);
      // A source with nothing yet (a stream behind) leaves the voice silent this frame, not ended.
      if (frame.status != SnVoice_NoMoreDataForNow) pipeline->ReleaseFrameBuffer();
    }
    pipeline->EndOfFrame();
    if (pipeline->GetState() == ISnVoicePipeline::Finished) {
      state.active.Unlink(previous, pipeline);
      pipeline->Destroy();
    } else {
      previous = pipeline;
    }
    pipeline = next;
  }
}

void DestroyAllPipelines(void (*between)()) {
  VoiceState& state = Voices();
  for (PipelineList* list : {&state.active, &state.waiting}) {
    while (ISnVoicePipeline* pipeline = list->head) {
      list->Unlink(nullptr, pipeline);
      pipeline->Destroy();
    }
    if (list == &state.active && between) between();
  }
}

ISnVoicePipeline* FirstActivePipeline() { return Voices().active.head; }

uint32_t DestroyPipelinesUsingBankData(const CSnLoadedBank* bank, uint32_t* moved, bool endStuck) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (moved) *moved = 0;
  if (!bank) return 0;
  VoiceState& state = Voices();
  uint32_t ended = 0;
  for (PipelineList* list : {&state.active, &state.waiting}) {
    ISnVoicePipeline* previous = nullptr;
    for (ISnVoicePipeline* pipeline = list->head; pipeline;) {
      ISnVoicePipeline* next = pipeline->m_pNextInList;
      if (!pipeline->UsesBankMedia(bank)) {
        previous = pipeline;
      } else if (pipeline->RelocateBankMedia(bank)) {
        previous = pipeline;
        if (moved) ++*moved;
      } else if (!endStuck) {
        previous = pipeline;
      } else {
        for (const ISnVoiceInstance* instance : {pipeline->FirstSource(), pipeline->SecondSource()})
          if (instance) RemoveCommandsOf(instance);
        list->Unlink(previous, pipeline);
        pipeline->Destroy();
        ++ended;
      }
      pipeline = next;
    }
  }
  return ended;
}

}  // namespace LowerEngine
}  // namespace SN
