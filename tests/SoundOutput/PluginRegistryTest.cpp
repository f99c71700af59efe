// The plug-in, codec and motion-device registry through the registration calls: keys, duplicates,
// refused factories, creation in registration order, and registration racing the audio thread's scans.
#include <atomic>
#include <new>
#include <thread>

#include "OutputTestSupport.h"

#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

// Which factory made a plug-in, and what was asked of it.
struct TestPlugin : ISnMotionDevicePlugin {
  explicit TestPlugin(int maker) : maker(maker) {}
  SNRESULT Term(ISnPluginMemAlloc* allocator) override {
    ++Terms();
    this->~TestPlugin();
    allocator->Free(this);
    return SN_Success;
  }
  SNRESULT Reset() override { return SN_Success; }
  SNRESULT QueryInfo(SnPluginInfo& info) override {
    info = SnPluginInfo{SnPluginType_Effect, 1, 0};
    return SN_Success;
  }
  SNRESULT Init(ISnPluginMemAlloc*, const void* settings, uint32_t playerIndex, void* apiDevice) override {
    platformSettings = settings;
    player = playerIndex;
    device = apiDevice;
    return player == 3 ? SN_Failure : SN_Success;  // player 3 stands for a device that will not start
  }
  static int& Terms() {
    static int terms = 0;
    return terms;
  }
  int maker;
  const void* platformSettings = nullptr;
  uint32_t player = 0;
  void* device = nullptr;
};

// A factory of plug-ins (Interface ISnPlugin) or motion devices that tells which one made them.
template <typename Interface, int Maker>
Interface* Make(ISnPluginMemAlloc* allocator) {
  void* memory = allocator->Malloc(sizeof(TestPlugin));
  return memory ? new (memory) TestPlugin(Maker) : nullptr;
}
template <int Maker>
constexpr SnCreatePluginFn Plugin = &Make<ISnPlugin, Maker>;
template <int Maker>
constexpr SnCreateMotionDeviceFn Device = &Make<ISnMotionDevicePlugin, Maker>;
ISnPlugin* MakeNothing(ISnPluginMemAlloc*) { return nullptr; }

struct TestParam : ISnPluginParam {
  ISnPluginParam* Clone(ISnPluginMemAlloc*) override { return nullptr; }
  SNRESULT Term(ISnPluginMemAlloc*) override { return SN_Success; }
};
ISnPluginParam* MakeParam(ISnPluginMemAlloc*) {
  static TestParam param;
  return &param;
}
ISnPluginParam* MakeNoParam(ISnPluginMemAlloc*) { return nullptr; }

// The codecs handed out here are tokens that only the test compares.
template <int Source>
ISnSoftwareCodec* Codec(void*) {
  static int token;
  return reinterpret_cast<ISnSoftwareCodec*>(&token);
}
constexpr auto FileCodec = &Codec<1>;
constexpr auto BankCodec = &Codec<3>;

class PluginRegistryTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    InitWithMemorySink();
    TestPlugin::Terms() = 0;
  }
  // The maker of the plug-in created from `key`, or -1 when creation failed.
  int CreatedBy(uint32_t key) {
    ISnPlugin* plugin = reinterpret_cast<ISnPlugin*>(&PluginAllocator());  // must be cleared
    if (CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), key, plugin) != SN_Success) {
      EXPECT_EQ(plugin, nullptr);
      return -1;
    }
    auto* made = static_cast<TestPlugin*>(static_cast<ISnMotionDevicePlugin*>(plugin));
    const int maker = made->maker;
    made->Term(&PluginAllocator());
    return maker;
  }
};

TEST_F(PluginRegistryTest, KeysPackBothIdsAndTheType) {
  EXPECT_EQ(PluginKey(SnPluginType_Effect, 0, 106), (106u << 16) + 3u);
  EXPECT_EQ(PluginKey(SnPluginType_Mixer, 64, 2), ((2u << 12) + 64u) * 16u + 6u);
  EXPECT_EQ(CodecKey(0, 4), (4u << 16) | 1u);
  EXPECT_EQ(MotionDeviceKey(0, 406), 406u * 65536u + 4u);
}

TEST_F(PluginRegistryTest, TheFirstRegistrationOfAKeyStays) {
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 7, Plugin<1>, &MakeParam), SN_Success);
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 7, Plugin<2>, &MakeParam), SN_Failure);
  // Types equal in their low four bits, and ids that wrap, share the key.
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType(SnPluginType_Effect + 16), 0, 7, Plugin<3>, &MakeParam),
            SN_Failure);
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 7 + 0x100000, Plugin<4>, &MakeParam), SN_Failure);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 0, 7)), 1);
  // The same ids with another type are another plug-in.
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Mixer, 0, 7, Plugin<5>, &MakeParam), SN_Success);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Mixer, 0, 7)), 5);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Source, 0, 7)), -1);
  EXPECT_NE(log_.Take().find("already registered"), std::string::npos);
}

TEST_F(PluginRegistryTest, APluginNeedsAParameterFactoryButMayLackAnInstanceFactory) {
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 1, 8, Plugin<1>, nullptr), SN_InvalidParameter);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 1, 8)), -1);
  // Parameters only: registered, its parameters made, an instance refused rather than called through null.
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 1, 9, nullptr, &MakeParam), SN_Success);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 1, 9)), -1);
  EXPECT_NE(log_.Take().find("without a create function"), std::string::npos);
  ISnPluginParam* param = nullptr;
  EXPECT_EQ(CSnPluginFactoryTable::CreatePluginParam(&PluginAllocator(), PluginKey(SnPluginType_Effect, 1, 9), param),
            SN_Success);
  EXPECT_EQ(param, MakeParam(nullptr));
  // A factory that makes nothing fails, leaving null behind.
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 1, 10, &MakeNothing, &MakeNoParam), SN_Success);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 1, 10)), -1);
  EXPECT_EQ(CSnPluginFactoryTable::CreatePluginParam(&PluginAllocator(), PluginKey(SnPluginType_Effect, 1, 10), param),
            SN_Failure);
  EXPECT_EQ(param, nullptr);
  param = MakeParam(nullptr);
  EXPECT_EQ(CSnPluginFactoryTable::CreatePluginParam(&PluginAllocator(), PluginKey(SnPluginType_Effect, 1, 11), param),
            SN_Failure);
  EXPECT_EQ(param, nullptr);
}

TEST_F(PluginRegistryTest, CodecsComeFromTheFactoryOfTheirSourceKind) {
  EXPECT_EQ(SoundEngine::RegisterCodec(0, 4, FileCodec, nullptr), SN_InvalidParameter);
  EXPECT_EQ(SoundEngine::RegisterCodec(0, 4, nullptr, BankCodec), SN_InvalidParameter);
  EXPECT_EQ(CSnPluginFactoryTable::CreateCodec(nullptr, 1, CodecKey(0, 4)), nullptr);
  EXPECT_EQ(SoundEngine::RegisterCodec(0, 4, FileCodec, BankCodec), SN_Success);
  EXPECT_EQ(SoundEngine::RegisterCodec(0, 4, BankCodec, FileCodec), SN_Failure);
  EXPECT_EQ(CSnPluginFactoryTable::CreateCodec(nullptr, 1, CodecKey(0, 4)), FileCodec(nullptr));
  EXPECT_EQ(CSnPluginFactoryTable::CreateCodec(nullptr, 3, CodecKey(0, 4)), BankCodec(nullptr));
  EXPECT_EQ(CSnPluginFactoryTable::CreateCodec(nullptr, 0, CodecKey(0, 4)), BankCodec(nullptr));
  // A codec key is not a plug-in key of the codec type.
  EXPECT_EQ(CreatedBy(CodecKey(0, 4)), -1);
}

TEST_F(PluginRegistryTest, AMotionDeviceIsInitialisedOrTerminatedAgain) {
  int apiDevice = 0;
  const int settings = 0;
  ISnMotionDevicePlugin* device = nullptr;
  EXPECT_EQ(CSnPluginFactoryTable::CreateMotionDevice(0, 406, &settings, 1, device, &apiDevice), SN_Failure);
  MotionEngine::RegisterMotionDevice(0, 406, Device<1>);
  MotionEngine::RegisterMotionDevice(0, 406, Device<2>);  // ignored: the first stays
  ASSERT_EQ(CSnPluginFactoryTable::CreateMotionDevice(0, 406, &settings, 1, device, &apiDevice), SN_Success);
  auto* made = static_cast<TestPlugin*>(device);
  EXPECT_EQ(made->maker, 1);
  EXPECT_EQ(made->platformSettings, &settings);
  EXPECT_EQ(made->player, 1u);
  EXPECT_EQ(made->device, &apiDevice);
  made->Term(&PluginAllocator());
  // A device that will not start is terminated and not handed out.
  EXPECT_EQ(CSnPluginFactoryTable::CreateMotionDevice(0, 406, &settings, 3, device, &apiDevice), SN_Failure);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(TestPlugin::Terms(), 2);
  // A registration without a factory is kept but creates nothing.
  MotionEngine::RegisterMotionDevice(0, 407, nullptr);
  EXPECT_EQ(CSnPluginFactoryTable::CreateMotionDevice(0, 407, &settings, 0, device, &apiDevice), SN_Failure);
  EXPECT_EQ(device, nullptr);
  // Motion devices and plug-ins keep separate tables.
  EXPECT_EQ(CreatedBy(MotionDeviceKey(0, 406)), -1);
}

TEST_F(PluginRegistryTest, TermForgetsEveryRegistration) {
  ASSERT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 7, Plugin<1>, &MakeParam), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterCodec(0, 4, FileCodec, BankCodec), SN_Success);
  MotionEngine::RegisterMotionDevice(0, 406, Device<1>);
  SoundEngine::Term();
  InitWithMemorySink();
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 0, 7)), -1);
  EXPECT_EQ(CSnPluginFactoryTable::CreateCodec(nullptr, 1, CodecKey(0, 4)), nullptr);
  ISnMotionDevicePlugin* device = nullptr;
  EXPECT_EQ(CSnPluginFactoryTable::CreateMotionDevice(0, 406, nullptr, 0, device, nullptr), SN_Failure);
  EXPECT_EQ(SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 7, Plugin<2>, &MakeParam), SN_Success);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 0, 7)), 2);
}

// The game registers on its own thread while the audio thread, holding the global audio lock, scans
// the table for every key registered so far; the table grows under the scans many times.
TEST_F(PluginRegistryTest, RegistrationWhileTheAudioThreadScansIsSafe) {
  constexpr uint32_t kPlugins = 300;
  std::atomic<uint32_t> registered{0};
  std::atomic<bool> done{false};
  std::thread game([&] {
    for (uint32_t id = 0; id < kPlugins; ++id) {
      if (SoundEngine::RegisterPlugin(SnPluginType_Effect, 0, 1000 + id, Plugin<1>, &MakeParam) != SN_Success)
        break;
      registered.store(id + 1, std::memory_order_release);
    }
    done.store(true, std::memory_order_release);
  });
  uint32_t failures = 0;
  OrvTest::WaitUntil(
      [&] {
        const bool last = done.load(std::memory_order_acquire);
        const uint32_t seen = registered.load(std::memory_order_acquire);
        Platform::ReentrantGuard audio(GlobalAudioLock());
        for (uint32_t id = 0; id < seen; ++id)
          if (CreatedBy(PluginKey(SnPluginType_Effect, 0, 1000 + id)) != 1) ++failures;
        return last;
      },
      [&] { return "the game thread's registrations (" + std::to_string(registered.load()) + " so far)"; });
  game.join();
  EXPECT_EQ(failures, 0u);
  ASSERT_EQ(registered.load(), kPlugins);
  EXPECT_EQ(CreatedBy(PluginKey(SnPluginType_Effect, 0, 1000 + kPlugins - 1)), 1);
}

}  // namespace
