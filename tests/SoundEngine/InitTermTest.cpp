// Start and stop of the sound engine: defaults, every refusal with what it leaves behind, a second
// Init that changes nothing, Term twice, Init after Term, the named audio thread and extensions.
#include <cstring>
#include <thread>

#include "MemoryMgr/Tlsf.h"

#include "SoundTestSupport.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;

class InitTermTest : public SoundTest::EngineFixture {};

TEST_F(InitTermTest, DefaultsBringUpTheEngineWithA16MiBDefaultPool) {
  SnPlatformInitSettings platform;
  SoundEngine::GetDefaultPlatformInitSettings(platform);
  platform.sinkBufferCount = 1;
  ASSERT_EQ(SoundEngine::Init(nullptr, &platform), SN_Success);
  EXPECT_EQ(platform.sinkBufferCount, 4u);  // written back raised
  EXPECT_TRUE(SoundEngine::IsInitialized());
  MemoryMgr::PoolMemInfo info;
  ASSERT_EQ(MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info), SN_Success);
  EXPECT_EQ(info.totalBytes + uint32_t(SN::Tlsf::kOverheadBytes), 16777216u);
  EXPECT_NE(g_pObjectIndex, nullptr);
  EXPECT_NE(g_pAudioMgr, nullptr);
  EXPECT_EQ(g_pAudioMgr->RingBytes(), 262144u);
  EXPECT_EQ(lower_.inits, 1);
  SnInitSettings defaults;
  SoundEngine::GetDefaultInitSettings(defaults);
  EXPECT_EQ(defaults.mainOutputKind, 7u) << "every kind of output may be tried";

  SoundEngine::Term();
  EXPECT_FALSE(SoundEngine::IsInitialized());
  EXPECT_EQ(g_DefaultPoolId, kInvalidPoolId);
  EXPECT_EQ(g_pAudioMgr, nullptr);
  EXPECT_EQ(AudioThread::ThreadId(), 0u);
  EXPECT_EQ(MemoryMgr::GetNumPools(), 0);
  SoundEngine::Term();  // harmless
  ASSERT_EQ(SoundEngine::Init(nullptr, nullptr), SN_Success);  // from scratch
}

TEST_F(InitTermTest, EveryRefusalLeavesNothingBehind) {
  settings_.samplesPerFrame = 1000;
  settings_.maxPaths = 77;
  SnInitSettings copy = settings_;
  EXPECT_EQ(SoundEngine::Init(&copy, nullptr), SN_InvalidParameter);
  EXPECT_EQ(copy.maxPaths, 77u);  // the copied settings still come back
  EXPECT_EQ(g_DefaultPoolId, kInvalidPoolId);

  copy = settings_;
  copy.samplesPerFrame = 512;
  copy.commandQueueBytes = 4 * (kLargestFixedMessage + 4);  // a fixed writer could find no room
  EXPECT_EQ(SoundEngine::Init(&copy, nullptr), SN_InvalidParameter);

  copy = settings_;
  copy.samplesPerFrame = 1024;
  copy.defaultPoolBytes = 65;  // asks for 64 bytes: too small for a heap
  EXPECT_EQ(SoundEngine::Init(&copy, nullptr), SN_InsufficientMemory);
  EXPECT_EQ(g_DefaultPoolId, kInvalidPoolId);
  EXPECT_EQ(MemoryMgr::GetNumPools(), 0);

  lower_.initResult = SN_Failure;
  EXPECT_EQ(SoundEngine::Init(nullptr, nullptr), SN_Failure);
  EXPECT_EQ(g_pObjectIndex, nullptr);
  EXPECT_EQ(g_DefaultPoolId, kInvalidPoolId);
  lower_.initResult = SN_Success;

  ISnStreamMgr::m_pStreamMgr = nullptr;
  EXPECT_EQ(SoundEngine::Init(nullptr, nullptr), SN_StreamMgrNotInitialized);
  ISnStreamMgr::m_pStreamMgr = &streamMgr_;
  EXPECT_FALSE(SoundEngine::IsInitialized());
}

TEST_F(InitTermTest, WithoutMemoryManagerInitRefusesAndWithoutABackEndTheRealOneRuns) {
  MemoryMgr::Term();
  EXPECT_EQ(SoundEngine::Init(nullptr, nullptr), SN_MemoryMgrNotInitialized);
  SnMemSettings memory{20};
  ASSERT_EQ(MemoryMgr::Init(&memory), SN_Success);

  // With nothing installed the real lower engine takes the slot for the run and leaves it at Term.
  LowerEngine::Install(nullptr);
  settings_.useAudioThread = 0;
  EXPECT_EQ(SoundEngine::Init(&settings_, nullptr), SN_Success);
  EXPECT_NE(LowerEngine::Installed(), nullptr);
  SoundEngine::Term();
  EXPECT_EQ(LowerEngine::Installed(), nullptr);
  EXPECT_EQ(g_DefaultPoolId, kInvalidPoolId);
  EXPECT_EQ(MemoryMgr::GetNumPools(), 0);
}

TEST_F(InitTermTest, ASecondInitKeepsTheLiveSettingsAndReportsThem) {
  settings_.maxTransitions = 12;
  InitSynchronous();
  SnInitSettings second;
  SoundEngine::GetDefaultInitSettings(second);
  second.samplesPerFrame = 256;
  EXPECT_EQ(SoundEngine::Init(&second, nullptr), SN_Failure);
  EXPECT_EQ(SoundEngine::Settings().samplesPerFrame, 1024u);
  EXPECT_EQ(second.samplesPerFrame, 1024u);
  EXPECT_EQ(second.maxTransitions, 12u);
  EXPECT_EQ(lower_.inits, 1);
  EXPECT_TRUE(SoundEngine::IsInitialized());
}

TEST_F(InitTermTest, AnExistingDefaultPoolOutlivesAFailedInit) {
  g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(g_DefaultPoolId, kInvalidPoolId);
  const SnMemPoolId existing = g_DefaultPoolId;
  lower_.initResult = SN_Failure;
  EXPECT_EQ(SoundEngine::Init(nullptr, nullptr), SN_Failure);
  EXPECT_EQ(g_DefaultPoolId, existing);
  EXPECT_EQ(MemoryMgr::CheckPoolId(existing), SN_Success);
  MemoryMgr::DestroyPool(existing);
  g_DefaultPoolId = kInvalidPoolId;
}

std::vector<int>* g_calls = nullptr;
void ExtensionA(bool last) { g_calls->push_back(last ? 10 : 1); }
void ExtensionB(bool last) { g_calls->push_back(last ? 20 : 2); }

TEST_F(InitTermTest, ExtensionsRunLastFirstEachFrameAndOnceMoreAtTerm) {
  std::vector<int> calls;
  g_calls = &calls;
  InitSynchronous();
  EXPECT_EQ(SoundEngine::RemoveBehavioralExtension(&ExtensionA), SN_Failure);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&ExtensionA), SN_Success);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&ExtensionB), SN_Success);
  SoundEngine::RenderAudio();
  EXPECT_EQ(calls, (std::vector<int>{2, 1}));
  EXPECT_EQ(SoundEngine::RemoveBehavioralExtension(&ExtensionB), SN_Success);
  SoundEngine::Term();
  EXPECT_EQ(calls, (std::vector<int>{2, 1, 10}));
  g_calls = nullptr;
}

void CallbackC(bool last) { g_calls->push_back(last ? 30 : 3); }

// The game's global callbacks share the extensions' list: one order, one call per frame, one last call.
TEST_F(InitTermTest, GlobalCallbacksRunBesideTheExtensionsLastRegisteredFirst) {
  std::vector<int> calls;
  g_calls = &calls;
  InitSynchronous();
  EXPECT_EQ(SoundEngine::UnregisterGlobalCallback(&ExtensionA), SN_Failure);
  EXPECT_EQ(SoundEngine::RegisterGlobalCallback(nullptr), SN_InvalidParameter);
  EXPECT_NE(log_.Take().find("AddBehavioralExtension: the function is null"), std::string::npos);
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&ExtensionA), SN_Success);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&ExtensionB), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&CallbackC), SN_Success);
  SoundEngine::RenderAudio();
  SoundEngine::RenderAudio();
  EXPECT_EQ(calls, (std::vector<int>{3, 2, 1, 3, 2, 1}));
  // Unregistering keeps the order of the rest.
  EXPECT_EQ(SoundEngine::UnregisterGlobalCallback(&ExtensionB), SN_Success);
  EXPECT_EQ(SoundEngine::UnregisterGlobalCallback(&ExtensionB), SN_Failure);
  SoundEngine::RenderAudio();
  SoundEngine::Term();
  EXPECT_EQ(calls, (std::vector<int>{3, 2, 1, 3, 2, 1, 3, 1, 30, 10}));
  g_calls = nullptr;
}

// Unregisters the first callback each time it runs, and itself at the last call.
void DropFirst(bool last) {
  g_calls->push_back(last ? 40 : 4);
  SoundEngine::UnregisterGlobalCallback(&ExtensionA);
  if (last) SoundEngine::UnregisterGlobalCallback(&DropFirst);
}

// A callback that unregisters one registered before it (whose turn is still to come) runs once in
// that frame, the one it took away not at all, and those between them once each.
TEST_F(InitTermTest, ACallbackThatUnregistersAnEarlierOneRunsOnceInThatFrame) {
  std::vector<int> calls;
  g_calls = &calls;
  InitSynchronous();
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&ExtensionA), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&ExtensionB), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&DropFirst), SN_Success);
  SoundEngine::RenderAudio();
  SoundEngine::RenderAudio();
  SoundEngine::Term();
  EXPECT_EQ(calls, (std::vector<int>{4, 2, 4, 2, 40, 20}));
  g_calls = nullptr;
}

// Registered and unregistered on the game's thread while the audio thread walks the list each frame.
TEST_F(InitTermTest, GlobalCallbacksComeAndGoWhileTheAudioThreadRenders) {
  struct Counter {
    static std::atomic<int>& Frames() {
      static std::atomic<int> frames{0};
      return frames;
    }
    static void Callback(bool last) {
      if (!last) ++Frames();
    }
    static void Other(bool) {}
  };
  Counter::Frames() = 0;
  lower_.waitMs = 1;  // the thread renders without being woken
  ASSERT_EQ(SoundEngine::Init(nullptr, nullptr), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&Counter::Callback), SN_Success);
  for (int round = 0; round < 200; ++round) {
    ASSERT_EQ(SoundEngine::RegisterGlobalCallback(&Counter::Other), SN_Success);
    ASSERT_EQ(SoundEngine::UnregisterGlobalCallback(&Counter::Other), SN_Success);
  }
  OrvTest::WaitUntil([] { return Counter::Frames() >= 3; },
                     [] { return "3 audio frames (" + std::to_string(Counter::Frames()) + ")"; });
  EXPECT_EQ(SoundEngine::UnregisterGlobalCallback(&Counter::Callback), SN_Success);
  SoundEngine::Term();
}

TEST_F(InitTermTest, TheAudioThreadIsNamedAndPacedByTheMainOutput) {
  struct Probe {
    static void Extension(bool) {
      char name[32];
      Platform::CurrentThreadName(name, sizeof name);
      std::lock_guard<std::mutex> guard(Lock());
      Name() = name;
      Ran().Set();
    }
    static std::mutex& Lock() {
      static std::mutex lock;
      return lock;
    }
    static std::string& Name() {
      static std::string name;
      return name;
    }
    static Platform::Event& Ran() {
      static Platform::Event ran(Platform::Event::Reset::Manual);
      return ran;
    }
  };
  Probe::Ran().Clear();
  lower_.waitMs = 1;  // the thread renders without being woken
  ASSERT_EQ(SoundEngine::Init(nullptr, nullptr), SN_Success);
  ASSERT_EQ(SoundEngine::AddBehavioralExtension(&Probe::Extension), SN_Success);
  ASSERT_TRUE(OrvTest::WaitUntilSet(Probe::Ran(), "the audio thread to render unwoken"));
  SoundEngine::RemoveBehavioralExtension(&Probe::Extension);
  std::lock_guard<std::mutex> guard(Probe::Lock());
  EXPECT_EQ(Probe::Name(), "SN::EventManage");
}

}  // namespace
