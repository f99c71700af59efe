// Fuzz target of music MIDI clip media: opened, sought into, played frame by frame to a MIDI target
// once and looping, stopped part way, and the queued messages scaled by a play's speed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MusicEngine/MusicMidiClip.h"
#include "SoundEngine/Midi/MidiEventTarget.h"
#include "SoundEngine/PoolObject.h"
#include "bench/SoundBenchSupport.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

void Drain(SN::SnMidiEventQueue& queue) {
  while (SN::SnMidiEventNode* node = queue.head) {
    queue.head = node->next;
    node->target->Release();
    SN::PoolDelete(SN::g_DefaultPoolId, node);
  }
  queue.tail = nullptr;
}

void Play(const std::vector<uint8_t>& media, bool loops, double beginMs, float speed) {
  SN::CSnMusicMidiClipPlayer clip;
  if (clip.Open(media.data(), uint32_t(media.size()), 97.0f, beginMs, loops) != SN::SN_Success) return;
  SN::CSnMidiEventTarget* target = SN::CSnMidiEventTarget::Create(1, nullptr, 0, nullptr);
  if (!target) return;
  for (int frame = 0; frame < 48; ++frame) {
    SN::SnMidiEventQueue queue;
    if (frame == 5) clip.SetFrameOffset(300);
    if (frame == 30) clip.Stop(200);
    clip.GenerateFrame(*target, queue, 1024, 48000);
    SN::ScaleMidiOffsetsBySpeed(queue, speed);
    Drain(queue);
  }
  target->Release();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SoundBench::InitMemory();
  SN::g_DefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16 << 20, 16, SN::SnMemPool_AllocHook, 0);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // The bytes in their own allocation, so that a read past them is caught.
  const std::vector<uint8_t> media(data, data + size);
  Play(media, false, 0.0, 1.0f);
  Play(media, true, 0.0, 2.0f);
  Play(media, true, 1.0e12, 0.5f);
  return 0;
}
