// The lower engine's voices: the queue of voice commands the playback instances post (begin,
// begin paused, pause, resume, stop looping, seek), grouped by the key of the message or action
// that queued them so that the voices of one action begin in the same frame; the pipelines that
// wait for their source's data; and the active pipelines run once a frame. Audio thread, under the
// global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"

namespace SN {

enum SnVoiceCommandKind : uint8_t {
  SnVoiceCommand_Begin = 0,
  SnVoiceCommand_BeginPaused = 1,
  SnVoiceCommand_Pause = 2,
  SnVoiceCommand_Resume = 3,
  SnVoiceCommand_StopLooping = 4,
  SnVoiceCommand_Seek = 5,
};

namespace LowerEngine {

// Null uninstalls: without a factory every begin stops its instance.
void SetVoicePipelineFactory(ISnVoicePipelineFactory* factory);
ISnVoicePipelineFactory* VoicePipelineFactory();

SNRESULT InitVoiceCommands();
void TermVoiceCommands();

// 1, or 2 when no item can be had. Begins set the launch-pending flag.
SNRESULT QueueVoiceCommand(SnVoiceCommandKind kind, ISnVoiceInstance* instance);
// After every processed message and executed pending action.
void IncrementVoiceGroupKey();
uint32_t VoiceGroupKey();
uint32_t QueuedVoiceCommandCount();
// Drops the queued commands of an instance that goes.
void RemoveQueuedVoiceCommands(const ISnVoiceInstance* instance);
bool LaunchPending();

// The launch pass, when launches are pending (at message time and before each frame).
void LaunchQueuedVoices();
// Before each frame: the launch pass when pending, then the command pass group by group.
void BeginQueuedVoices();
// Each frame: waiting pipelines counted down, then every active pipeline run in list order.
void AdvanceWaitingPipelines();
void RunActivePipelines(bool render);
// At Term: the active pipelines, then `between` (the mix buses they fed), then the waiting ones.
void DestroyAllPipelines(void (*between)() = nullptr);
// The active list, from the lowest priority to the highest.
ISnVoicePipeline* FirstActivePipeline();
// The bank's data goes right after: every voice, waiting or playing, that reads it moves to another
// holder of the same media, or, where none has it or the voice cannot follow, ends now with its
// queued commands. The count of voices ended; `moved` the count that moved. Without `endStuck` (inside
// a frame, which may be running them) those that cannot follow play on as they are.
uint32_t DestroyPipelinesUsingBankData(const CSnLoadedBank* bank, uint32_t* moved = nullptr, bool endStuck = true);

// The lower engine's pool had no room for a voice (of playing id `playingId`): the voice is refused.
// The first refusal of a shortage is logged, the others are not, until a voice that was made whole
// ends and gives memory back (`VoiceMemoryReturned`), so that a game posting into a full pool does
// not fill the log frame after frame.
void RefuseVoiceForMemory(uint32_t playingId);
void VoiceMemoryReturned();
// What makes a part of a new voice (its source) found no room: the voice's maker asks afterwards
// whether that was why the part is missing.
void NoteNoRoomForVoice();
bool TakeNoRoomForVoice();

uint32_t ActivePipelineCount();
uint32_t WaitingPipelineCount();

}  // namespace LowerEngine
}  // namespace SN
