// The plug-in, codec and motion-device factory tables: appended in registration order, scanned from the
// first entry, the first match winning.
#include "SoundEngine/Lower/PluginFactoryTable.h"

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

// Doubling keeps registration of many plug-ins linear.
template <typename Entry>
bool Append(SnArray<Entry>& table, const Entry& entry) {
  return table.Add(entry, table.Capacity() ? table.Capacity() : 4) != nullptr;
}

}  // namespace

SNRESULT CSnPluginFactoryTable::AddPlugin(uint32_t type, uint32_t firstId, uint32_t secondId,
                                          SnCreatePluginFn create, SnCreatePluginParamFn paramCreate) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  SnArray<PluginEntry>& table = TheTables().plugins;
  const uint32_t key = PluginKey(type, firstId, secondId);
  if (Find(table, key)) {
    SOUND_LOG(Error, "RegisterPlugin: plug-in %u of company %u (type %u) is already registered", secondId, firstId,
              type);
    return SN_Failure;
  }
  if (!paramCreate) {
    SOUND_LOG(Error, "RegisterPlugin: plug-in %u of company %u has no parameter-create function", secondId, firstId);
    return SN_InvalidParameter;
  }
  if (!Append(table, PluginEntry{key, create, paramCreate})) {
    SOUND_LOG(Error, "RegisterPlugin: no memory for plug-in %u of company %u", secondId, firstId);
    return SN_Failure;
  }
  return SN_Success;
}

SNRESULT CSnPluginFactoryTable::AddCodec(uint32_t firstId, uint32_t secondId, SnCreateCodecFn fileSource,
                                         SnCreateCodecFn bankSource) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  SnArray<CodecEntry>& table = TheTables().codecs;
  const uint32_t key = CodecKey(firstId, secondId);
  if (Find(table, key)) {
    SOUND_LOG(Error, "RegisterCodec: codec %u of company %u is already registered", secondId, firstId);
    return SN_Failure;
  }
  if (!fileSource || !bankSource) {
    SOUND_LOG(Error, "RegisterCodec: codec %u of company %u lacks a factory", secondId, firstId);
    return SN_InvalidParameter;
  }
  if (!Append(table, CodecEntry{key, fileSource, bankSource})) {
    SOUND_LOG(Error, "RegisterCodec: no memory for codec %u of company %u", secondId, firstId);
    return SN_Failure;
  }
  return SN_Success;
}

void CSnPluginFactoryTable::AddMotionDevice(uint32_t firstId, uint32_t secondId, SnCreateMotionDeviceFn create) {
  Platform::ReentrantGuard guard(GlobalAudioLock());
  SnArray<MotionDeviceEntry>& table = TheTables().motionDevices;
  const uint32_t key = MotionDeviceKey(firstId, secondId);
  if (Find(table, key)) {
    SOUND_LOG(Error, "RegisterMotionDevice: device %u of company %u is already registered", secondId, firstId);
    return;
  }
  if (!Append(table, MotionDeviceEntry{key, create}))
    SOUND_LOG(Error, "RegisterMotionDevice: no memory for device %u of company %u", secondId, firstId);
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
