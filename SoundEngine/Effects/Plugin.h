// The interfaces of the plug-ins a game registers (effects, mixers, sources, motion devices), the
// allocator they are given, and the types of the factory functions that make them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "MemoryMgr/SnResult.h"

namespace SN {

// The low four bits of a plug-in type enter its registry key.
enum SnPluginType : uint32_t {
  SnPluginType_None = 0,
  SnPluginType_Codec = 1,
  SnPluginType_Source = 2,
  SnPluginType_Effect = 3,
  SnPluginType_MotionDevice = 4,
  SnPluginType_MotionSource = 5,
  SnPluginType_Mixer = 6,
};

// Every plug-in allocation and release goes through the one engine-wide allocator.
class ISnPluginMemAlloc {
 public:
  virtual ~ISnPluginMemAlloc() = default;
  virtual void* Malloc(size_t size) = 0;
  virtual void Free(void* pointer) = 0;
};

struct SnPluginInfo {
  uint32_t type;         // a mixer reports SnPluginType_Mixer
  uint8_t inPlace;
  uint8_t secondFlag;    // the engine refuses a plug-in that sets it
};

class ISnPlugin {
 public:
  // A plug-in releases itself through the allocator it was made with.
  virtual SNRESULT Term(ISnPluginMemAlloc* allocator) = 0;
  virtual SNRESULT Reset() = 0;
  virtual SNRESULT QueryInfo(SnPluginInfo& info) = 0;
  // Whether it can follow its media to another copy of the same bytes when the bank holding them
  // goes; and the move: every pointer it keeps into `oldData` points as far into `newData` after
  // SN_Success. A plug-in that cannot is rebuilt without the media instead.
  virtual bool CanRelocateMedia() { return false; }
  virtual SNRESULT RelocateMedia(const uint8_t* newData, const uint8_t* oldData) {
    (void)newData, (void)oldData;
    return SN_Failure;
  }

 protected:
  ~ISnPlugin() = default;
};

struct SnMixBuffer;

// A motion device is initialised with the platform settings, its player (0 to 3) and the device the
// game handed to the API.
class ISnMotionDevicePlugin : public ISnPlugin {
 public:
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, const void* platformSettings, uint32_t player,
                        void* device) = 0;
  // What the engine tells a device, all on the audio thread; a device leaves alone what it does not
  // use. The player's motion output: one frame of its one channel, the motion buses' mix.
  virtual void WriteFrame(const SnMixBuffer& frame) { (void)frame; }
  // A voice feeding motion, this frame, with the player's gain for it.
  virtual void MixVoice(const SnMixBuffer& voiceFrame, float gain) { (void)voiceFrame, (void)gain; }
  // After the buses of every frame, and after every pass of the audio manager.
  virtual void EndFrame() {}
  virtual void EndPass() {}
  // The player goes, or the engine terminates: whatever moves stops.
  virtual void Stop() {}
  // Asked before each frame; true when the device wants the frame stamped.
  virtual bool IsFrameDue() { return false; }
  // Linear gain of the player's volume.
  virtual void SetVolume(float gain) { (void)gain; }
  virtual void StartCapture(const char16_t* fileName) { (void)fileName; }
  virtual void StopCapture() {}

 protected:
  ~ISnMotionDevicePlugin() = default;
};

class ISnPluginParam {
 public:
  virtual ISnPluginParam* Clone(ISnPluginMemAlloc* allocator) = 0;
  virtual SNRESULT Term(ISnPluginMemAlloc* allocator) = 0;
  // From the block a bank stores for the plug-in; a plug-in without bank parameters takes none.
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, const void* block, uint32_t size) {
    (void)allocator, (void)block, (void)size;
    return SN_Success;
  }
  // One parameter's new value, as a game parameter drives it.
  virtual SNRESULT SetParam(uint32_t paramId, const void* value, uint32_t size) {
    (void)paramId, (void)value, (void)size;
    return SN_Success;
  }

 protected:
  ~ISnPluginParam() = default;
};

// Defined by the source stage; the registry only hands codecs out.
class ISnSoftwareCodec;

// A plug-in object made in the allocator it is handed (null when it has no room), and given back to it.
template <typename T, typename... Args>
T* PluginNew(ISnPluginMemAlloc* allocator, Args&&... args) {
  void* memory = allocator ? allocator->Malloc(sizeof(T)) : nullptr;
  return memory ? new (memory) T(std::forward<Args>(args)...) : nullptr;
}
template <typename T>
void PluginDelete(ISnPluginMemAlloc* allocator, T* object) {
  object->~T();
  allocator->Free(object);
}

using SnCreatePluginFn = ISnPlugin* (*)(ISnPluginMemAlloc* allocator);
using SnCreatePluginParamFn = ISnPluginParam* (*)(ISnPluginMemAlloc* allocator);
using SnCreateMotionDeviceFn = ISnMotionDevicePlugin* (*)(ISnPluginMemAlloc* allocator);
using SnCreateCodecFn = ISnSoftwareCodec* (*)(void* context);

}  // namespace SN
