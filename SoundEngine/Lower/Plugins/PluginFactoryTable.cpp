// The plug-in, codec and motion-device factory tables: appended in registration order, scanned from the
// first entry, the first match winning.
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"

#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Log.h"

namespace SN {
namespace {

struct PluginEntry {
  uint32_t key;
  SnCreatePluginFn create;
  SnCreatePluginParamFn paramCreate;
};
struct CodecEntry {
  uint32_t key;
  SnCreateCodecFn fileSource;
  SnCreateCodecFn bankSource;
};
struct MotionDeviceEntry {
  uint32_t key;
  SnCreateMotionDeviceFn create;
};

struct Tables {
  SnArray<PluginEntry> plugins;
  SnArray<CodecEntry> codecs;
  SnArray<MotionDeviceEntry> motionDevices;
};

Tables& TheTables() {
  static Tables tables;
  return tables;
}

template <typename Entry>
Entry* Find(SnArray<Entry>& table, uint32_t key) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  for (Entry& entry : table)
    if (entry.key == key) return &entry;
  return nullptr;
}

// The first registration of a key stays; a refused one is logged with the caller's name. Doubling
// keeps registering many plug-ins linear.
template <typename Entry>
SNRESULT Register(const char* caller, SnArray<Entry>& table, const Entry& entry, bool factoriesGiven,
                  uint32_t firstId, uint32_t secondId) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  if (Find(table, entry.key)) {
    SOUND_LOG(Error, "%s: %u of company %u is already registered", caller, secondId, firstId);
    return SN_Failure;
  }
  if (!factoriesGiven) {
    SOUND_LOG(Error, "%s: %u of company %u lacks a factory it needs", caller, secondId, firstId);
    return SN_InvalidParameter;
  }
  if (!table.Add(entry, table.Capacity() ? table.Capacity() : 4)) {
    SOUND_LOG(Error, "%s: no memory to register %u of company %u", caller, secondId, firstId);
    return SN_Failure;
  }
  return SN_Success;
}

}  // namespace

SNRESULT CSnPluginFactoryTable::AddPlugin(uint32_t type, uint32_t firstId, uint32_t secondId,
                                          SnCreatePluginFn create, SnCreatePluginParamFn paramCreate) {
  // The instance factory may be missing: a plug-in with parameters only.
  return Register("RegisterPlugin", TheTables().plugins,
                  PluginEntry{PluginKey(type, firstId, secondId), create, paramCreate}, paramCreate != nullptr,
                  firstId, secondId);
}

SNRESULT CSnPluginFactoryTable::AddCodec(uint32_t firstId, uint32_t secondId, SnCreateCodecFn fileSource,
                                         SnCreateCodecFn bankSource) {
  return Register("RegisterCodec", TheTables().codecs, CodecEntry{CodecKey(firstId, secondId), fileSource, bankSource},
                  fileSource && bankSource, firstId, secondId);
}

void CSnPluginFactoryTable::AddMotionDevice(uint32_t firstId, uint32_t secondId, SnCreateMotionDeviceFn create) {
  Register("RegisterMotionDevice", TheTables().motionDevices,
           MotionDeviceEntry{MotionDeviceKey(firstId, secondId), create}, true, firstId, secondId);
}

SNRESULT CSnPluginFactoryTable::CreatePlugin(ISnPluginMemAlloc* allocator, uint32_t key, ISnPlugin*& plugin) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  plugin = nullptr;
  const PluginEntry* entry = Find(TheTables().plugins, key);
  if (!entry) return SN_Failure;
  if (!entry->create) {
    SOUND_LOG(Error, "CreatePlugin: plug-in key 0x%08x was registered without a create function", key);
    return SN_Failure;
  }
  plugin = entry->create(allocator);
  return plugin ? SN_Success : SN_Failure;
}

SNRESULT CSnPluginFactoryTable::CreatePluginParam(ISnPluginMemAlloc* allocator, uint32_t key,
                                                  ISnPluginParam*& param) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  param = nullptr;
  const PluginEntry* entry = Find(TheTables().plugins, key);
  if (!entry) return SN_Failure;
  if (!entry->paramCreate) return SN_Success;
  param = entry->paramCreate(allocator);
  return param ? SN_Success : SN_Failure;
}

ISnSoftwareCodec* CSnPluginFactoryTable::CreateCodec(void* context, uint32_t mode, uint32_t key) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  const CodecEntry* entry = Find(TheTables().codecs, key);
  if (!entry) return nullptr;
  return mode == 1 ? entry->fileSource(context) : entry->bankSource(context);
}

SNRESULT CSnPluginFactoryTable::CreateMotionDevice(uint32_t firstId, uint32_t secondId, const void* platformSettings,
                                                   uint32_t player, ISnMotionDevicePlugin*& plugin, void* device) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  plugin = nullptr;
  const MotionDeviceEntry* entry = Find(TheTables().motionDevices, MotionDeviceKey(firstId, secondId));
  if (!entry) return SN_Failure;
  if (!entry->create) {
    SOUND_LOG(Error, "CreateMotionDevice: device %u of company %u was registered without a create function",
              secondId, firstId);
    return SN_Failure;
  }
  CSnPluginMemAlloc& allocator = PluginAllocator();
  ISnMotionDevicePlugin* made = entry->create(&allocator);
  if (!made) return SN_Failure;
  if (made->Init(&allocator, platformSettings, player, device) != SN_Success) {
    made->Term(&allocator);
    return SN_Failure;
  }
  plugin = made;
  return SN_Success;
}

bool CSnPluginFactoryTable::HasPlugin(uint32_t key) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  return Find(TheTables().plugins, key) != nullptr;
}

SNRESULT CSnPluginFactoryTable::Term() {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  Tables& tables = TheTables();
  tables.plugins.Term();
  tables.codecs.Term();
  tables.motionDevices.Term();
  return SN_Success;
}

namespace SoundEngine {

SNRESULT RegisterPlugin(SnPluginType type, uint32_t companyId, uint32_t pluginId, SnCreatePluginFn create,
                        SnCreatePluginParamFn paramCreate) {
  return CSnPluginFactoryTable::AddPlugin(type, companyId, pluginId, create, paramCreate);
}

SNRESULT RegisterCodec(uint32_t companyId, uint32_t pluginId, SnCreateCodecFn fileSource,
                       SnCreateCodecFn bankSource) {
  return CSnPluginFactoryTable::AddCodec(companyId, pluginId, fileSource, bankSource);
}

}  // namespace SoundEngine

namespace MotionEngine {

void RegisterMotionDevice(uint32_t companyId, uint32_t pluginId, SnCreateMotionDeviceFn create) {
  CSnPluginFactoryTable::AddMotionDevice(companyId, pluginId, create);
}

}  // namespace MotionEngine
}  // namespace SN
