// The play's MIDI clock: the clips' frames gathered, moved to output samples, scheduled and played;
// ended clips let go once nothing of them is pending; a clip that plays again on a node retires the
// ended clips of the node and brings its controllers up to date.
#include "MusicEngine/MusicMidiPlaybackContext.h"

#include "Base/Assert.h"
#include "MusicEngine/MusicMidiClipContext.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnMusicMidiPlaybackContext::~CSnMusicMidiPlaybackContext() {
  EndClips();
  m_clips.Term();
}

bool CSnMusicMidiPlaybackContext::Register(CSnMusicMidiClipContext* clip) { return m_clips.Add(clip, 4) != nullptr; }

void CSnMusicMidiPlaybackContext::Unregister(CSnMusicMidiClipContext* clip) {
  const int32_t index = m_clips.IndexOf(clip);
  if (index < 0) return;
  // A walk over the clips goes on past the hole it leaves.
  if (m_walks)
    m_clips[uint32_t(index)] = nullptr;
  else
    m_clips.RemoveAt(uint32_t(index));
}

uint32_t CSnMusicMidiPlaybackContext::ClipCount() const {
  uint32_t count = 0;
  for (const CSnMusicMidiClipContext* clip : m_clips) count += clip ? 1 : 0;
  return count;
}

template <typename Visit>
void CSnMusicMidiPlaybackContext::ForEachClip(Visit&& visit) {
  ++m_walks;
  // Clips registered during the walk wait for the next one.
  const uint32_t count = m_clips.Count();
  for (uint32_t i = 0; i < count; ++i) {
    CSnMusicMidiClipContext* clip = m_clips[i];
    if (!clip) continue;
    clip->AddRef();
    visit(*clip);
    clip->Release();
  }
  if (--m_walks == 0) Compact();
}

void CSnMusicMidiPlaybackContext::Compact() {
  for (uint32_t i = m_clips.Count(); i-- > 0;)
    if (!m_clips[i]) m_clips.RemoveAt(i);
}

CSnMusicMidiClipContext* CSnMusicMidiPlaybackContext::FindClip(const CSnMidiEventTarget* target) const {
  for (CSnMusicMidiClipContext* clip : m_clips)
    if (clip && static_cast<const CSnMidiEventTarget*>(clip) == target) return clip;
  return nullptr;
}

void CSnMusicMidiPlaybackContext::AdvanceFrame(uint32_t frameLength, float speed) {
  SnMidiEventQueue queue;
  ForEachClip([&](CSnMusicMidiClipContext& clip) { clip.GenerateFrame(queue, frameLength); });
  if (queue.head) ScaleMidiOffsetsBySpeed(queue, speed);
  ProcessQueue(queue, frameLength);
  ForEachClip([&](CSnMusicMidiClipContext& clip) {
    if (!clip.Ended()) return;
    // Its events are over and a note still waits for its note-off: none will come.
    if (clip.TakeExhausted()) RetireTarget(clip, 0);
    ReleaseIfIdle(clip);
  });
}

void CSnMusicMidiPlaybackContext::EndClips() {
  ForEachClip([](CSnMusicMidiClipContext& clip) { clip.EndNow(); });
}

void CSnMusicMidiPlaybackContext::DropQueued(SnMidiEventQueue& queue, const CSnMusicMidiClipContext* clip) {
  SnMidiEventNode* before = nullptr;
  for (SnMidiEventNode* node = queue.head; node;) {
    SnMidiEventNode* next = node->next;
    if (node->target != static_cast<const CSnMidiEventTarget*>(clip)) {
      before = node;
      node = next;
      continue;
    }
    if (before) before->next = next; else queue.head = next;
    if (queue.tail == node) queue.tail = before;
    node->target->Release();
    PoolDelete(g_DefaultPoolId, node);
    node = next;
  }
}

void CSnMusicMidiPlaybackContext::OnFlaggedQueueNode(const SnMidiEventNode& node, SnMidiEventQueue& rest) {
  CSnMusicMidiClipContext* fresh = FindClip(node.target);
  if (!fresh) return;
  ForEachClip([&](CSnMusicMidiClipContext& old) {
    if (&old == fresh || !old.Ended() || old.Node() != fresh->Node()) return;
    DropQueued(rest, &old);
    RetireTarget(old, node.frameOffset);
  });
  // The controllers the clip set before where it begins, as they stand there.
  SnArray<SnMidiClipMessage> controllers;
  fresh->Player().Parser().ControllersBefore(node.word & 0x3FFFFFFFu, controllers);
  for (const SnMidiClipMessage& message : controllers) {
    const SnMidiEvent event{message.type, message.channel, message.data1, message.data2};
    if (event.type == node.event.type && event.channel == node.event.channel && event.data1 == node.event.data1 &&
        event.data2 == node.event.data2)
      continue;
    Schedule(*fresh, event, node.frameOffset);
  }
  controllers.Term();
}

}  // namespace SN
