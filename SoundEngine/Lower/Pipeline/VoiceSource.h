// The source stage as the voice pipeline pulls it: one frame of planar f32 samples at a time, with
// the instance's seek, stop-looping, pause and virtual-voice skipping. The sources themselves (PCM,
// ADPCM, plug-ins, streams) plug in through the source factory, which the voice manager's Init fills
// with the source stage's when it is empty. Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnLoadedBank;
class CSnPlaybackInstance;

class ISnVoiceSource {
 public:
  virtual ~ISnVoiceSource() = default;
  // SN_Success ready, SN_NotReadyYet (63) while its data is on its way; anything else refuses.
  virtual SNRESULT Prepare() = 0;
  virtual SnChannelConfig Format() const = 0;
  // Up to `frames` frames into `buffer` (samples, channel config, valid frames set by the source; the
  // buffer stays the source's until ReleaseBuffer): 45 data ready, 17 ready and finished, 46 no more
  // data for now, anything else a failure.
  virtual SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) = 0;
  virtual void ReleaseBuffer() = 0;
  virtual void StopLooping() = 0;
  // `target` in samples, or an f32 fraction's bits when `percent`.
  virtual void Seek(uint32_t target, bool percent, bool snapToMarker) = 0;
  // A virtual voice's time passes without data: the source moves on by `frames`. 45 while it goes
  // on, 17 once it reached its end (the voice ends with it).
  virtual SNRESULT SkipFrames(uint32_t frames) = 0;
  // The voice is heard again after skipping: from the seek its instance holds when it holds one,
  // else from where skipping brought it. A stream is set reading at once, ahead of its first frame.
  virtual void EndSkipping() {}
  virtual void SetPaused(bool paused) = 0;
  // The frames it will still deliver at the output rate, or -1 when it cannot tell (a loop, a stream
  // of unknown length). The voice tells its instance when its end comes near.
  virtual int64_t FramesLeft() const { return -1; }
  // The frames of silence its last buffer began with, before a start inside that frame.
  virtual uint32_t LeadingSilence() const { return 0; }
  // Whether the voice reads its frames only where they sound (no insert effect, no motion feed, no
  // second source joined on): then the source may leave the leading silence unwritten, and what lies
  // after a stop inside the frame. Until told, it writes its frames whole.
  virtual void SetSoundingPartOnly(bool only) { (void)only; }
  // The media it reads moved from `oldData` to `newData`, a copy of the same `size` bytes: it reads
  // on from the same place there. False when it cannot follow (it then still reads `oldData`).
  virtual bool RelocateMedia(const uint8_t* newData, const uint8_t* oldData, uint32_t size) {
    (void)newData, (void)oldData, (void)size;
    return false;
  }
  // The media its source plug-in was handed: whether some of it is `data` or of `bank` (each when
  // not null); and, before `bank`'s data goes, each piece moved onto a copy where the plug-in can
  // follow.
  virtual bool HoldsPluginMedia(const CSnLoadedBank* bank, const void* data) const {
    (void)bank, (void)data;
    return false;
  }
  virtual void RelocatePluginMedia(const CSnLoadedBank* bank) { (void)bank; }
  // The source of the next play of a sample-accurate chain, made by the same factory and not yet
  // asked for frames: it is to go on from this one's last sample inside the frame, through the same
  // resampler. False when this source cannot take it (the pipeline then joins the frames itself).
  // One it cannot go on into when its end comes (a wait, not ready, another layout) it lets go: its
  // last frame ends finished, and the next begins on its own.
  virtual bool AttachNext(ISnVoiceSource* next) {
    (void)next;
    return false;
  }
  // Once, after the frame in which it went on into the source attached: it plays the next play's
  // instance from then on, and the attached source is left holding nothing, for its maker to destroy.
  virtual bool TakeHandedOn() { return false; }
  // Destroys it and gives its memory back.
  virtual void Destroy() = 0;
};

class ISnVoiceSourceFactory {
 public:
  virtual ~ISnVoiceSourceFactory() = default;
  // The source of the instance's descriptor at the output rate; null when none can be made.
  virtual ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance& instance, uint32_t outputRate) = 0;
};
inline ISnVoiceSourceFactory*& VoiceSourceFactory() { return ServiceSlot<ISnVoiceSourceFactory>(); }

// The product's factory: the instance's media source behind a source stage.
ISnVoiceSourceFactory& StageVoiceSourceFactory();

// Null without a factory or when the factory makes none.
ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance& instance, uint32_t outputRate);

}  // namespace SN
