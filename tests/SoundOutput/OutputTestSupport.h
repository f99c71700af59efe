// Test helpers of the sound output: memory, a real stream manager writing under a scratch folder, a
// clock the test moves, a memory sink made by a device's custom factory, frame callbacks that hand
// a mix to the main device, and an independent reader of capture files.
#pragma once

#include <unistd.h>
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Audio/FilePackageLowLevelIO.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Clock.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Output/Sink.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "StreamMgr/StreamManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/WaveSamples.h"
#include "tests/Support/WaitFor.h"

namespace OutputTest {

constexpr double kPi = 3.14159265358979323846;

// A stereo capture's test signal: a constant on each channel, different on each.
inline float StereoTone(uint32_t channel, uint32_t) { return channel == 0 ? 0.5f : -0.25f; }

// A clock that moves only when the test says so.
struct ManualClock {
  static std::atomic<int64_t>& Ticks() {
    static std::atomic<int64_t> ticks{1000};
    return ticks;
  }
  static int64_t Now() { return Ticks().load(); }
  static void AdvanceTicks(int64_t ticks) { Ticks() += ticks; }
  static void AdvanceMs(int64_t ms) { Ticks() += ms * (Platform::kTicksPerSecond / 1000); }
};

// What the memory sink got: every frame written, interleaved, with its layout.
struct MemorySinkLog {
  std::vector<std::vector<float>> frames;
  std::vector<SN::SnChannelConfig> layouts;
  int silentFrames = 0;
  int made = 0;
  int plays = 0;
  int terms = 0;
  uint32_t framesNeeded = 1;      // what IsDataNeeded reports
  bool lost = false;              // IsDataNeeded reports a lost device
  bool refuseInit = false;
  bool starved = false;  // what IsStarved reports until the device acknowledges it
  std::vector<uint32_t> flushToZeroWhileWriting;  // the MXCSR flush-to-zero bit at each write
  SN::SnChannelConfig config = SN::StandardConfig(SN::kMaskStereo);
  SN::CSnOutputDevice* context = nullptr;
  void (*onInit)() = nullptr;  // the game's code the sink's Init runs
};
inline MemorySinkLog& SinkLog() {
  static MemorySinkLog log;
  return log;
}

// A plug-in sink that keeps what it is handed.
class MemorySink final : public SN::CSnSink {
 public:
  MemorySink() : CSnSink(0) {}
  static SN::CSnSink* Make(int32_t) {
    ++SinkLog().made;
    return new MemorySink;
  }
  void Term(SN::SnMemPoolId) override {
    ++SinkLog().terms;
    delete this;
  }
  SN::SNRESULT Init(SN::SnMemPoolId, SN::CSnOutputDevice* context, SN::SnSinkFormat& format) override {
    if (SinkLog().onInit) SinkLog().onInit();
    if (SinkLog().refuseInit) return SN::SN_Failure;
    SinkLog().context = context;
    format.channelConfig = SinkLog().config;
    m_channelConfig = SinkLog().config;
    return AllocFrameBuffer(SinkLog().config);
  }
  SN::SNRESULT Play() override {
    ++SinkLog().plays;
    return SN::SN_Success;
  }
  SN::SNRESULT IsDataNeeded(uint32_t& frames) override {
    frames = SinkLog().lost ? 0 : SinkLog().framesNeeded;
    return SinkLog().lost ? SN::SN_Failure : SN::SN_Success;
  }
  void WriteFrame() override {
    SinkLog().flushToZeroWhileWriting.push_back(_mm_getcsr() & 0x8000u);
    const uint32_t channels = SN::ChannelCount(m_frameBuffer.channelConfig);
    SinkLog().frames.emplace_back(m_frameBuffer.samples, m_frameBuffer.samples + channels * m_frameBuffer.validFrames);
    SinkLog().layouts.push_back(m_frameBuffer.channelConfig);
  }
  void WriteSilence() override { ++SinkLog().silentFrames; }
  bool IsStarved() override { return SinkLog().starved; }
  void ResetStarved() override { SinkLog().starved = false; }
  uint32_t GetWaitTime() override { return 1; }
};

// What the frame callback hands to the main device each frame.
struct ToneSource {
  SN::SnMixBuffer buffer;
  std::vector<float> storage;
  bool enabled = false;
  void Set(SN::SnChannelConfig config, uint16_t frames, float (*sample)(uint32_t channel, uint32_t t)) {
    const uint32_t channels = SN::ChannelCount(config);
    storage.assign(size_t(channels) * frames, 0.0f);
    for (uint32_t c = 0; c < channels; ++c)
      for (uint32_t t = 0; t < frames; ++t) storage[size_t(c) * frames + t] = sample(c, t);
    buffer.channelConfig = config;
    buffer.maxFrames = frames;
    buffer.validFrames = frames;
    enabled = true;
  }
};
inline ToneSource& Tone() {
  static ToneSource tone;
  return tone;
}
inline void PassToneToMainDevice(bool lastCall) {
  if (lastCall || !Tone().enabled) return;
  SN::CSnOutputDevice* main = SN::LowerEngine::MainDevice();
  if (!main) return;
  SN::SnMixBuffer mix = Tone().buffer;
  mix.samples = Tone().storage.data();
  mix.previousGain = 1.0f;
  mix.nextGain = 1.0f;
  main->PassData(mix);
}

// A test's motion device: the plug-in's common operations, made and freed with the plug-in allocator.
// `Device` may add `Terminated()`, run as it goes.
template <typename Device>
class TestMotionDevice : public SN::ISnMotionDevicePlugin {
 public:
  static SN::ISnMotionDevicePlugin* Make(SN::ISnPluginMemAlloc* allocator) {
    void* memory = allocator->Malloc(sizeof(Device));
    return memory ? new (memory) Device : nullptr;
  }
  SN::SNRESULT Term(SN::ISnPluginMemAlloc* allocator) override {
    auto* self = static_cast<Device*>(this);
    self->Terminated();
    self->~Device();
    allocator->Free(self);
    return SN::SN_Success;
  }
  SN::SNRESULT Reset() override { return SN::SN_Success; }
  SN::SNRESULT QueryInfo(SN::SnPluginInfo& info) override {
    info = SN::SnPluginInfo{SN::SnPluginType_MotionDevice, 0, 0};
    return SN::SN_Success;
  }
  SN::SNRESULT Init(SN::ISnPluginMemAlloc*, const void*, uint32_t, void*) override { return SN::SN_Success; }
  void Terminated() {}
};

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One frame of 1024 samples of the null output's clock, rendered on the caller's thread.
inline SN::SNRESULT RenderNullFrame() {
  ManualClock::AdvanceTicks((int64_t(1024) * Platform::kTicksPerSecond + 47999) / 48000);
  return SN::SoundEngine::RenderAudio();
}

// The 16-bit samples of a RIFF WAVE file's "data" chunk (a capture's or a media's), in file order;
// empty when it has none.
inline std::vector<int16_t> DataSamples(const std::vector<uint8_t>& file) { return OrvTest::WaveDataSamples(file); }

// The game bank's volume LFO (a 2 Hz triangle from a quarter period, its depth of 0.5 faded in over
// the default second): its value after `frame` frames of 1024 samples of its life.
inline double VolumeLfoValue(int64_t frame) {
  if (frame <= 0) return 0.0;
  const double phase = std::fmod(0.25 + double(frame * 1024) * 2.0 / 48000.0, 1.0);
  const double triangle = phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase);
  const double depth = 0.5 * std::min(double(frame * 1024), 48000.0) / 48000.0;
  return depth * triangle;
}
// The same through the volume curve "0:0 1:-200" that the sounds and tracks under it draw, a line in
// gain from 1 to (all but) 0: the gain factor 1 - value.
inline double VolumeLfoFactor(int64_t frame) { return 1.0 - VolumeLfoValue(frame); }

// The game's low-level I/O (file packages in front of the blocking file hook) with a gate on its
// reads: while shut, a read past its allowance waits on the device's I/O thread until the test lets
// it through. Open unless a test shuts it. Files opened for writing (captures) go to a second device,
// which a held read does not hold up.
class GatedPackageIO final : public Audio::CSnFilePackageLowLevelIOBlocking {
 public:
  SN::SNRESULT Init(const SN::SnDeviceSettings& settings, bool deferredOpens) {
    const SN::SNRESULT result = CSnFilePackageLowLevelIOBlocking::Init(settings, deferredOpens);
    return result == SN::SN_Success ? writer_.Init(settings, deferredOpens) : result;
  }
  SN::SNRESULT SetBaseFolder(const char16_t* path) {
    const SN::SNRESULT result = CSnFilePackageLowLevelIOBlocking::SetBaseFolder(path);
    return result == SN::SN_Success ? writer_.SetBaseFolder(path) : result;
  }
  void Term() {
    writer_.Term();
    CSnFilePackageLowLevelIOBlocking::Term();
  }
  SN::SNRESULT OpenByName(const char16_t* name, SN::SnOpenMode mode, SN::SnFileLookupFlags* flags, bool& syncOpen,
                          SN::SnFileDescriptor& descriptor) override {
    if (mode != SN::SnOpenMode_Read) return writer_.OpenByName(name, mode, flags, syncOpen, descriptor);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      opened_.emplace_back(name, std::this_thread::get_id());
    }
    return CSnFilePackageLowLevelIOBlocking::OpenByName(name, mode, flags, syncOpen, descriptor);
  }
  // The thread that last opened, for reading, a file whose name holds `part`; none when none has.
  std::thread::id OpenedOn(const std::u16string& part) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::thread::id on{};
    for (const auto& [name, thread] : opened_)
      if (name.find(part) != std::u16string::npos) on = thread;
    return on;
  }
  SN::SNRESULT Read(SN::SnFileDescriptor& descriptor, SN::SnTransferHints& hints, void* buffer,
                    SN::SnTransferRequest& request) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++waiting_;
      changed_.notify_all();
      // The device's thread reads one transfer at a time: every read before this one has been handed
      // to its stream.
      handed_ = bytes_;
      handedRanges_ = readRanges_;
      OrvTest::WaitUntil(changed_, lock, [&] { return open_ || allowed_ > 0; }, "the read gate to open");
      if (!open_) --allowed_;
      --waiting_;
    }
    const SN::SNRESULT result = CSnFilePackageLowLevelIOBlocking::Read(descriptor, hints, buffer, request);
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += request.requestedSize;
    readRanges_.push_back({request.filePosition, request.filePosition + request.requestedSize});
    changed_.notify_all();
    return result;
  }
  // From now on only `allowed` reads pass.
  void Shut(uint32_t allowed) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    allowed_ = allowed;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Until a read waits at the shut gate: every read before it has been handed to its stream.
  void WaitForHeldRead() {
    std::unique_lock<std::mutex> lock(mutex_);
    OrvTest::WaitUntil(changed_, lock, [&] { return waiting_ > 0 && !open_ && allowed_ == 0; },
                       "a read held at the shut gate");
  }
  // Until the reads have asked for `count` bytes in all and moved them.
  void WaitForBytes(uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    OrvTest::WaitUntil(changed_, lock, [&] { return bytes_ >= count; },
                       [&] { return std::to_string(count) + " bytes read (" + std::to_string(bytes_) + ")"; });
  }
  // Until the reads handed to their streams hold `count` bytes in all: a later read has begun, so
  // the stream reading ahead must still want more than `count` for this to come.
  void WaitForHandedBytes(uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    OrvTest::WaitUntil(changed_, lock, [&] { return handed_ >= count; }, [&] {
      return std::to_string(count) + " bytes handed to their streams (" + std::to_string(handed_) + ")";
    });
  }
  // Until a read handed to its stream that began at file byte `from` or later reaches byte `to`:
  // a stream that reads on from a new place, one transfer after another, then holds every byte
  // between (reads from before the move begin earlier in the file than `from`). False when no such
  // read comes within a minute: a stream that never moved there fails its test rather than hangs it.
  bool WaitForHandedFileBytes(uint64_t from, uint64_t to) {
    std::unique_lock<std::mutex> lock(mutex_);
    return OrvTest::WaitUntil(
        changed_, lock,
        [&] {
          for (const auto& [begin, end] : handedRanges_)
            if (begin >= from && end >= to) return true;
          return false;
        },
        [&] { return "a read from byte " + std::to_string(from) + " on reaching byte " + std::to_string(to); },
        std::chrono::minutes(1));
  }
  uint64_t Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  Audio::CSnDefaultIOHookBlocking writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  uint32_t allowed_ = 0;
  uint32_t waiting_ = 0;
  uint64_t bytes_ = 0;
  uint64_t handed_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> readRanges_, handedRanges_;  // file bytes [begin, end)
  std::vector<std::pair<std::u16string, std::thread::id>> opened_;
};

// The real engine over memory hooks and a stream manager with the game's low-level I/O, files
// written under a scratch folder; the clock replaced; every global put back at the end.
class OutputFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    previousHooks_ = SN::GetMemoryHooks();
    SN::SnMemoryHooks hooks;
    hooks.alloc = &malloc;
    hooks.free = &free;
    hooks.virtualAlloc = [](size_t bytes) { return Platform::VirtualAllocate(bytes); };
    hooks.virtualFree = [](void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); };
    SN::SetMemoryHooks(hooks);
    SN::SnMemSettings memory{20};
    ASSERT_EQ(SN::MemoryMgr::Init(&memory), SN::SN_Success);
    char pattern[] = "/tmp/orv-output-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    SN::SnStreamMgrSettings streamSettings;
    SN::StreamMgr::GetDefaultSettings(streamSettings);
    ASSERT_NE(SN::StreamMgr::Create(streamSettings), nullptr);
    SN::SnDeviceSettings device{};
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    ASSERT_EQ(io_.Init(device, false), SN::SN_Success);
    std::string folder = root_ + "/";
    for (char& c : folder)
      if (c == '/') c = '\\';
    ASSERT_EQ(io_.SetBaseFolder(Wide(folder).c_str()), SN::SN_Success);
    ManualClock::Ticks() = 1000;
    Platform::SetTickSource(&ManualClock::Now);
    SinkLog() = MemorySinkLog{};
    Tone() = ToneSource{};
    SN::SoundEngine::GetDefaultInitSettings(settings_);
    settings_.useAudioThread = 0;
    SN::LowerEngine::GetDefaultPlatformInitSettings(platform_);
  }
  void TearDown() override {
    SN::SoundEngine::RemoveBehavioralExtension(&PassToneToMainDevice);
    io_.Open();
    SN::SoundEngine::Term();
    io_.UnloadAllPackages();
    io_.LeaveLanguageObservers();
    io_.Term();
    if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
    SN::MemoryMgr::Term();
    SN::SetMemoryHooks(previousHooks_);
    Platform::SetTickSource(nullptr);
    SN::LowerEngine::SetSampleRate(48000);
    SN::LowerEngine::SetSamplesPerFrame(1024);
    std::filesystem::remove_all(root_);
  }
  // The main device on the memory sink; frames are rendered by RenderAudio on the test's thread.
  void InitWithMemorySink(SN::SnChannelConfig config = SN::StandardConfig(SN::kMaskStereo)) {
    SinkLog().config = config;
    settings_.mainOutputSettings.customSinkFactory = &MemorySink::Make;
    ASSERT_EQ(SN::SoundEngine::Init(&settings_, &platform_), SN::SN_Success);
    ASSERT_EQ(SN::SoundEngine::AddBehavioralExtension(&PassToneToMainDevice), SN::SN_Success);
  }
  // One pass, with `frames` frames wanted by the memory sink.
  void Render(uint32_t frames = 1) {
    SinkLog().framesNeeded = frames;
    ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  OrvTest::LogCapture log_;
  SN::SnMemoryHooks previousHooks_;
  GatedPackageIO io_;
  SN::SnInitSettings settings_{};
  SN::SnPlatformInitSettings platform_{};
  std::string root_;
};

}  // namespace OutputTest
