// Music context trees of the tests' own kinds on the real transition manager: stops at once or at
// the frame's end, nested pauses, fades that reach the voices below as gain factors, and parents
// that live as long as their children.
#include <map>
#include <memory>
#include <vector>

#include "MusicEngine/MusicContext.h"
#include "SoundEngine/PoolObject.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

using SN::CSnMusicContext;

// A context of the tests: made in the default pool, counting its destruction.
class TreeContext final : public CSnMusicContext {
 public:
  TreeContext(CSnMusicContext* parent, int* destroyed) : CSnMusicContext(parent), m_destroyed(destroyed) {}
  ~TreeContext() override { ++*m_destroyed; }
  static TreeContext* Make(CSnMusicContext* parent, int* destroyed) {
    auto* context = SN::PoolNew<TreeContext>(SN::g_DefaultPoolId, parent, destroyed);
    context->AddRef();  // the creator's
    context->Connect();
    return context;
  }

 private:
  int* m_destroyed;
};

// A voice below the tree: the product of the factors it was given, and what it was told.
class RecordingVoice final : public SN::CSnChildContext {
 public:
  explicit RecordingVoice(CSnMusicContext* parent) : CSnChildContext(parent) {}
  void StopFromOwner(uint32_t) override {}
  void OnFrameEnd() override { ++frameEnds; }
  void OnStopped(uint32_t offset) override { stops.push_back(offset); }
  void OnPaused() override { ++pauses; }
  void OnResumed() override { ++resumes; }
  void SetGainFactor(const void* key, float value) override { factors[key] = value; }
  void SetParam(uint32_t, float) override {}
  void OnReset() override {}
  void AddRef() override { ++refs; }
  void Release() override { --refs; }
  float Gain() const {
    float gain = 1.0f;
    for (const auto& [key, value] : factors) gain *= value;
    return gain;
  }
  std::map<const void*, float> factors;
  std::vector<uint32_t> stops;
  int frameEnds = 0, pauses = 0, resumes = 0, refs = 0;
};

class MusicContextTest : public MusicTest::MusicFixture {
 protected:
  void Frames(int count) {
    for (int i = 0; i < count; ++i) ASSERT_EQ(SN::SoundEngine::RenderAudio(), SN::SN_Success);
  }
  int destroyed_ = 0;
};

TEST_F(MusicContextTest, StopsCompleteAtOnceOrAtTheFrameEndAndKeepTheSmallerOffset) {
  TreeContext* root = TreeContext::Make(nullptr, &destroyed_);
  RecordingVoice voice(root);
  voice.Connect();
  root->Play({0, SN::SnCurve_Linear, 0});
  EXPECT_EQ(root->State(), CSnMusicContext::Playing);
  EXPECT_EQ(voice.Gain(), 1.0f);
  root->Stop(0, SN::SnCurve_Linear, 700);
  root->Stop(0, SN::SnCurve_Linear, 300);
  EXPECT_EQ(root->State(), CSnMusicContext::Stopping);
  EXPECT_EQ(root->StopOffset(), 300u);
  EXPECT_EQ(voice.stops, (std::vector<uint32_t>{700, 300}));
  root->OnFrameEnd();
  EXPECT_EQ(root->State(), CSnMusicContext::Stopped);
  EXPECT_EQ(voice.frameEnds, 1);
  EXPECT_EQ(voice.refs, 0);

  TreeContext* other = TreeContext::Make(nullptr, &destroyed_);
  other->Play({0, SN::SnCurve_Linear, 0});
  other->StopNow();
  EXPECT_EQ(other->State(), CSnMusicContext::Stopped);
  voice.Disconnect();
  root->Release();
  other->Release();
  EXPECT_EQ(destroyed_, 2);
}

TEST_F(MusicContextTest, NestedPausesAndFadesReachTheVoicesThroughTheTransitionManager) {
  TreeContext* root = TreeContext::Make(nullptr, &destroyed_);
  TreeContext* child = TreeContext::Make(root, &destroyed_);
  RecordingVoice voice(child);
  voice.Connect();
  // A 100 ms fade-in: rising, whole after its frames.
  root->Play({100, SN::SnCurve_Linear, 0});
  child->Play({0, SN::SnCurve_Linear, 0});
  Frames(1);
  const float early = voice.Gain();
  EXPECT_GT(early, 0.0f);
  EXPECT_LT(early, 1.0f);
  Frames(int(SN::FramesForMs(100)) + 1);
  EXPECT_FLOAT_EQ(voice.Gain(), 1.0f);

  // Three pauses: the fade to silence ends paused; two resumes only count, the third resumes.
  for (int i = 0; i < 3; ++i) root->Pause(0, SN::SnCurve_Linear);
  Frames(2);
  EXPECT_TRUE(root->IsPaused());
  EXPECT_EQ(voice.pauses, 1);
  EXPECT_EQ(voice.Gain(), 0.0f);
  root->Resume(0, SN::SnCurve_Linear, false);
  root->Resume(0, SN::SnCurve_Linear, false);
  EXPECT_TRUE(root->IsPaused());
  EXPECT_EQ(root->PauseCount(), 1u);
  root->Resume(0, SN::SnCurve_Linear, false);
  EXPECT_FALSE(root->IsPaused());
  EXPECT_EQ(voice.Gain(), 1.0f);
  // A forced resume ends any number of pauses; a resume while the pause fade runs turns that fade.
  root->Pause(200, SN::SnCurve_Linear);
  root->Pause(200, SN::SnCurve_Linear);
  Frames(2);
  const float fading = voice.Gain();
  EXPECT_LT(fading, 1.0f);
  root->Resume(0, SN::SnCurve_Linear, true);
  EXPECT_EQ(root->PauseCount(), 0u);
  EXPECT_EQ(voice.Gain(), fading);  // turned, not jumped
  Frames(2);
  EXPECT_FLOAT_EQ(voice.Gain(), 1.0f);

  // A stop while paused takes effect at once, without a fade.
  root->Pause(0, SN::SnCurve_Linear);
  Frames(2);
  root->Stop(500, SN::SnCurve_Linear, 0);
  EXPECT_EQ(root->State(), CSnMusicContext::Stopped);
  EXPECT_EQ(child->State(), CSnMusicContext::Stopped);

  // The parent lives while its child holds it: the child's last release takes both.
  voice.Disconnect();
  root->Release();
  EXPECT_EQ(destroyed_, 0);
  child->Release();
  EXPECT_EQ(destroyed_, 2);
}

TEST_F(MusicContextTest, AStopFadeEndsStoppingAtTheFrameEnd) {
  TreeContext* root = TreeContext::Make(nullptr, &destroyed_);
  RecordingVoice voice(root);
  voice.Connect();
  root->Play({0, SN::SnCurve_Linear, 0});
  root->Stop(50, SN::SnCurve_Linear, 0);
  EXPECT_EQ(root->State(), CSnMusicContext::Playing);
  Frames(int(SN::FramesForMs(50)) + 1);
  EXPECT_EQ(voice.Gain(), 0.0f);
  EXPECT_EQ(root->State(), CSnMusicContext::Stopping);
  EXPECT_EQ(voice.stops, std::vector<uint32_t>{CSnMusicContext::kNoStopOffset});
  root->OnFrameEnd();
  EXPECT_EQ(root->State(), CSnMusicContext::Stopped);
  voice.Disconnect();
  root->Release();
  EXPECT_EQ(destroyed_, 1);
}

// A fade-in with a start offset begins that many whole frames into its course (a part frame does
// not count; an offset before its beginning leaves it at its beginning, one past its end makes it
// whole at once): a linear fade of D frames gives (offset frames + frames rendered) / D.
TEST_F(MusicContextTest, AFadeInsStartOffsetAdvancesItByWholeFrames) {
  const double length = double(SN::FramesForMs(1000));
  const int32_t frame = 1024;
  struct Case {
    int32_t offset;
    double gain;
  } cases[] = {{0, 1.0 / length},
               {10 * frame, 11.0 / length},
               {10 * frame + frame - 1, 11.0 / length},
               {-5 * frame, 1.0 / length},
               {100000 * frame, 1.0}};
  std::vector<TreeContext*> roots;
  std::vector<std::unique_ptr<RecordingVoice>> voices;
  for (const Case& c : cases) {
    roots.push_back(TreeContext::Make(nullptr, &destroyed_));
    voices.push_back(std::make_unique<RecordingVoice>(roots.back()));
    voices.back()->Connect();
    roots.back()->Play({1000, SN::SnCurve_Linear, c.offset});
  }
  Frames(1);
  for (size_t i = 0; i < voices.size(); ++i) EXPECT_NEAR(voices[i]->Gain(), cases[i].gain, 1e-6) << cases[i].offset;
  for (TreeContext* root : roots) root->Stop(0, SN::SnCurve_Linear, 0);
  Frames(1);
  for (TreeContext* root : roots) {
    root->OnFrameEnd();
    EXPECT_EQ(root->State(), CSnMusicContext::Stopped);
  }
  for (auto& voice : voices) voice->Disconnect();
  for (TreeContext* root : roots) root->Release();
  EXPECT_EQ(destroyed_, 5);
}

}  // namespace
