// The registry of plug-in, codec and motion-device factories the game registers, keyed by a 32-bit key
// made from the plug-in's two ids, and the creation of instances and parameter objects from it.
// Registration is any thread and takes GlobalAudioLock(), since the audio thread scans the same tables
// under it; creation runs under that lock too (audio thread, or the bank thread while it loads).
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Effects/Plugin.h"

namespace SN {

// Keys wrap in unsigned 32-bit arithmetic, so ids differing only above the kept bits collide.
constexpr uint32_t PluginKey(uint32_t type, uint32_t firstId, uint32_t secondId) {
  return (((secondId << 12) + firstId) << 4) + (type & 15u);
}
constexpr uint32_t CodecKey(uint32_t firstId, uint32_t secondId) {
  return (((secondId << 12) + firstId) << 4) | SnPluginType_Codec;
}
constexpr uint32_t MotionDeviceKey(uint32_t firstId, uint32_t secondId) {
  return ((secondId << 12) + firstId) * 16u + SnPluginType_MotionDevice;
}

class CSnPluginFactoryTable {
 public:
  // SN_Failure for a key already present (the first entry stays) or a table that cannot grow;
  // SN_InvalidParameter without a parameter-create function. A null create function is accepted:
  // such a plug-in has parameters only, and creating an instance of it fails.
  static SNRESULT AddPlugin(uint32_t type, uint32_t firstId, uint32_t secondId, SnCreatePluginFn create,
                            SnCreatePluginParamFn paramCreate);
  // SN_InvalidParameter when either factory is null.
  static SNRESULT AddCodec(uint32_t firstId, uint32_t secondId, SnCreateCodecFn fileSource,
                           SnCreateCodecFn bankSource);
  // A key already present is ignored (with a logged error).
  static void AddMotionDevice(uint32_t firstId, uint32_t secondId, SnCreateMotionDeviceFn create);

  // `plugin` is cleared first. SN_Failure for an unknown key, an entry without a create function or a
  // factory that gave null.
  static SNRESULT CreatePlugin(ISnPluginMemAlloc* allocator, uint32_t key, ISnPlugin*& plugin);
  // `param` is cleared first. SN_Failure for an unknown key or a factory that gave null.
  static SNRESULT CreatePluginParam(ISnPluginMemAlloc* allocator, uint32_t key, ISnPluginParam*& param);
  // Mode 1 (a source streamed from a file) takes the file-source factory, any other mode the
  // bank-source one. Null for an unknown key.
  static ISnSoftwareCodec* CreateCodec(void* context, uint32_t mode, uint32_t key);
  // Made with the plug-in allocator and initialised; `plugin` is cleared first. SN_Failure for an unknown
  // key, a null create function or a factory that gave null, and for a device whose Init does not give
  // SN_Success, which is terminated first.
  static SNRESULT CreateMotionDevice(uint32_t firstId, uint32_t secondId, const void* platformSettings,
                                     uint32_t player, ISnMotionDevicePlugin*& plugin, void* device);

  // Whether a plug-in of that key is registered.
  static bool HasPlugin(uint32_t key);

  // Frees the three tables (they live in the default pool). Always SN_Success.
  static SNRESULT Term();
};

namespace SoundEngine {

SNRESULT RegisterPlugin(SnPluginType type, uint32_t companyId, uint32_t pluginId, SnCreatePluginFn create,
                        SnCreatePluginParamFn paramCreate);
SNRESULT RegisterCodec(uint32_t companyId, uint32_t pluginId, SnCreateCodecFn fileSource,
                       SnCreateCodecFn bankSource);

}  // namespace SoundEngine

namespace MotionEngine {

void RegisterMotionDevice(uint32_t companyId, uint32_t pluginId, SnCreateMotionDeviceFn create);

}  // namespace MotionEngine
}  // namespace SN
