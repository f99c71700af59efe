// A MIDI clip's frames: the window of each frame read from the clip, its messages placed at their
// sample offsets, and the stop that lets note-offs and controllers through but no new notes.
#include "MusicEngine/MusicMidiClip.h"

#include <algorithm>
#include <cmath>

#include "SoundEngine/Midi/MidiEventTarget.h"

namespace SN {

SNRESULT CSnMusicMidiClipPlayer::Open(const uint8_t* media, uint32_t size, float bpm, double beginMs, bool loops) {
  if (m_parser.Open(media, size) != SN_Success) return SN_Failure;
  m_parser.SetTempo(bpm);
  m_parser.SetLooping(loops);
  return m_parser.SeekMs(beginMs);
}

bool CSnMusicMidiClipPlayer::GenerateFrame(CSnMidiEventTarget& target, SnMidiEventQueue& queue, uint32_t frameLength,
                                           uint32_t sampleRate) {
  if (m_paused) return false;
  const uint32_t before = m_frameOffset;
  m_frameOffset = 0;
  const uint32_t stop = m_stopOffset;
  if (before < frameLength && sampleRate && m_parser.IsOpen()) {
    const double samplesPerMs = double(sampleRate) * 0.001;
    m_parser.Advance(double(frameLength - before) / samplesPerMs);
    for (const SnMidiClipMessage& message : m_parser.Messages()) {
      const uint32_t offset = before + uint32_t(std::lround(double(message.timeMs) * samplesPerMs));
      const SnMidiEvent event{message.type, message.channel, message.data1, message.data2};
      // After a stop only what ends notes or moves controllers still goes out.
      if (event.IsNoteOn() && (m_ended || m_muted || (stop != kNoStop && offset >= stop))) continue;
      target.QueueEvent(queue, event, offset, message.eventIndex, m_ended, m_firstFrame);
      m_firstFrame = false;
    }
  }
  if (stop == kNoStop) return false;
  m_stopOffset = 0;
  if (m_ended) return false;
  m_ended = true;
  return true;
}

bool CSnMusicMidiClipPlayer::Stop(uint32_t offset) {
  if (offset != kNoStop) {
    m_stopOffset = m_stopOffset == kNoStop ? offset : std::min(m_stopOffset, offset);
    return false;
  }
  m_stopOffset = 0;
  m_stoppedAtOnce = true;
  if (m_ended) return false;
  m_ended = true;
  return true;
}

void ScaleMidiOffsetsBySpeed(SnMidiEventQueue& queue, float speed) {
  if (!std::isfinite(speed) || speed <= 0.0f) return;
  for (SnMidiEventNode* node = queue.head; node; node = node->next)
    node->frameOffset = uint32_t(std::min(std::lround(double(node->frameOffset) / double(speed)), long(UINT32_MAX)));
}

}  // namespace SN
