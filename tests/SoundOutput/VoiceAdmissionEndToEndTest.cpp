// Who a new play is weighed against and by what priority. Its priority is the node's with the share
// of its distance offset that the emitter's nearest listener distance takes of the attenuation's
// greatest distance (scaled by the game object's scaling), held to 0..100, and the engine-wide and
// node limits weigh it so before it is heard. It joins the limit of the first node above it that
// limits its own voices and that of the first such bus, and leaves both as it ends. Steady levels (DC
// tones) tell in the capture who plays; placed voices are under an attenuation of 0 dB at every
// distance, whose last point (100 m) is its greatest distance.
#include <string>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kFarObject = 8;

// Near, Far: 50, -40 at 100 m (46 at 10 m, 10 at 100 m and beyond). Ref: 2D, 10.2, between Far's 10
// and its 10.4 at 99 m. Flat: 10.3, an offset of 0. Raised: 70, +40 (110 at 100 m, held to 100); High:
// 80; Top: 100. Low: 10, -40 (-30 at 100 m, held to 0); Five: 5; Bottom: 0. Limited: Near's priorities,
// one voice for all objects. Bus Two holds two voices, a newcomer of equal priority refused; Steady,
// Own (one voice, the newcomer refused) and Yields (one voice, the oldest giving way) play on it. Voices
// over a limit are killed.
const char* const kSounds[][2] = {
    {"Near", "Quarter Effects 3d Even priority 50 distanceoffset -40"},
    {"Far", "Eighth Effects 3d Even priority 50 distanceoffset -40"},
    {"Ref", "Quarter Effects priority 10.2"},
    {"Flat", "Eighth Effects 3d Even priority 10.3 distanceoffset 0"},
    {"Raised", "Eighth Effects 3d Even priority 70 distanceoffset 40"},
    {"High", "Quarter Effects priority 80"},
    {"Top", "Quarter Effects priority 100"},
    {"Low", "Eighth Effects 3d Even priority 10 distanceoffset -40"},
    {"Five", "Quarter Effects priority 5"},
    {"Bottom", "Quarter Effects priority 0"},
    {"Limited", "Quarter Effects 3d Even priority 50 distanceoffset -40 maxvoices 1 global"},
    {"Steady", "Quarter Two"},
    {"Own", "Eighth Two maxvoices 1 global newest"},
    {"Yields", "Eighth Two maxvoices 1 global"},
};

// Each steady level as a share of the fixture's full level (0.5 from the centre); a placed voice meets
// the engine's fast power of ten once more, for its attenuation's 0 dB.
constexpr double kQuarter = 0.5, kEighth = 0.25, kPlacedQuarter = 0.5 * kFastUnity, kPlacedEighth = 0.25 * kFastUnity;

class VoiceAdmissionTest : public SoundEndToEndTest {
 protected:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    std::string text =
        "tone Quarter 48000 1 100 0.25 dc\ntone Eighth 48000 1 100 0.125 dc\nbus Two Effects maxvoices 2 newest\n"
        "attenuation Even\nattuse Even 0 0\nattcurve Even 0 0\nattpoint Even 0 0 0 4\nattpoint Even 0 100 0 4\n";
    for (const auto& [name, options] : kSounds)
      text += std::string("sound ") + name + " " + options + " loop 0 inaudible kill\naction Play_" + name +
              "_Act 0x0403 " + name + "\nevent Play_" + name + " Play_" + name + "_Act\n";
    LoadOwnBank(text);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kFarObject), SN_Success);
    Place(kObject, 10.0f);
  }
  static void Place(uint32_t object, float metres) {
    ASSERT_EQ(SoundEngine::SetPosition(object, SnSoundPosition{{0.0f, 0.0f, metres}, {0.0f, 0.0f, -1.0f}}),
              SN_Success);
  }
  // Each sound's play posted on the object, then `frames` frames.
  void Post(std::initializer_list<const char*> sounds, uint32_t frames, uint32_t object = kObject) {
    for (const char* sound : sounds) ASSERT_NE(SoundEngine::PostEvent((std::string("Play_") + sound).c_str(), object), 0u);
    Frames(frames);
  }
  // Each frame's loudest sample against the share `at` gives, within 0.05 % of the full level.
  void ExpectShares(size_t frames, const std::function<double(size_t)>& at, const char* name = "capture.wav") {
    const std::vector<double> peaks = FramePeaks(Capture(name)[0]);
    ASSERT_GE(peaks.size(), frames);
    const double full = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
    for (size_t f = 0; f < frames; ++f) ASSERT_NEAR(peaks[f], full * at(f), 0.0005 * full) << name << " frame " << f;
  }

  // `first` plays on the object (10 m ahead unless placed) under an engine-wide limit of `voices`,
  // then, `between` frames later, `second` on the far object `metres` ahead whose attenuation scaling
  // is `scaling`. When `second` takes the place, `first` is killed: heard beside it for the rest of
  // that frame (not at all when it was never heard), then `second` alone; else `first` goes on. Each
  // case is a capture of its own; everything stops between them.
  void ExpectAdmission(const char* first, double firstLevel, const char* second, double secondLevel, float metres,
                       bool admitted, float scaling = 1.0f, uint16_t voices = 1, uint32_t between = 2) {
    const std::string name = "case" + std::to_string(++cases_) + ".wav";
    if (cases_ == 1) Capture();  // the fixture's own capture is not needed
    ASSERT_EQ(SoundEngine::StartOutputCapture(std::u16string(name.begin(), name.end()).c_str()), SN_Success);
    ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(voices), SN_Success);
    ASSERT_EQ(SoundEngine::SetAttenuationScalingFactor(kFarObject, scaling), SN_Success);
    Place(kFarObject, metres);
    Post({first}, between);
    Post({second}, 3, kFarObject);
    ExpectShares(between + 3, [&](size_t f) {
      if (f < between || !admitted) return firstLevel;
      return f == between && between ? firstLevel + secondLevel : secondLevel;
    }, name.c_str());
    ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
    Frames(2);
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << name;
  }

  int cases_ = 0;
};

// Two looping voices 10 m ahead (46 there) fill an engine-wide limit of two; a like sound posted 200 m
// ahead (10 there) is refused and both go on. Weighed at its base of 50, it took the place of one and
// the level fell to 0.75 of the two.
TEST_F(VoiceAdmissionTest, ALikePlayBeyondTheAttenuationIsRefusedByTwoNearVoicesAtTheEngineWideLimit) {
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(2), SN_Success);
  Place(kFarObject, 200.0f);
  Post({"Near", "Near"}, 2);
  Post({"Far"}, 3, kFarObject);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  ExpectShares(5, [](size_t) { return 2 * kPlacedQuarter; });
}

// A node limit of one voice for all objects weighs the same priority: Limited 200 m ahead (10) is
// refused beside Limited 10 m ahead (46); 5 m ahead (48) it takes the place.
TEST_F(VoiceAdmissionTest, ANodeLimitWeighsAPlayAtItsDistance) {
  ExpectAdmission("Limited", kPlacedQuarter, "Limited", kPlacedQuarter, 200.0f, false, 1.0f, 256);
  ExpectAdmission("Limited", kPlacedQuarter, "Limited", kPlacedQuarter, 5.0f, true, 1.0f, 256);
}

// Far against Ref (10.2): 99 m gives 10.4 and takes the place; at 100 m and beyond it is 10 and refused.
// Scaled by 2 the greatest distance is 200 m: at 150 m Far is 20 and takes the place, where 100 m
// unscaled would have given it 10. Flat, with an offset of 0, keeps its 10.3 200 m ahead.
TEST_F(VoiceAdmissionTest, APlayJustInsideAtAndBeyondTheGreatestDistanceAndWithAnOffsetOfZero) {
  ExpectAdmission("Ref", kQuarter, "Far", kPlacedEighth, 99.0f, true);
  ExpectAdmission("Ref", kQuarter, "Far", kPlacedEighth, 100.0f, false);
  ExpectAdmission("Ref", kQuarter, "Far", kPlacedEighth, 101.0f, false);
  ExpectAdmission("Ref", kQuarter, "Far", kPlacedEighth, 150.0f, true, 2.0f);
  ExpectAdmission("Ref", kQuarter, "Flat", kPlacedEighth, 200.0f, true);
}

// Raised 100 m ahead is 110 held to 100: it takes High's place and ties with Top and is refused. Low
// 100 m ahead is -30 held to 0: posted in the same pass after it, before any frame, Five takes its
// place and Bottom ties with it and is refused.
TEST_F(VoiceAdmissionTest, APriorityIsHeldToAHundredAndToZero) {
  ExpectAdmission("High", kQuarter, "Raised", kPlacedEighth, 100.0f, true);
  ExpectAdmission("Top", kQuarter, "Raised", kPlacedEighth, 100.0f, false);
  Place(kObject, 100.0f);
  ExpectAdmission("Low", kPlacedEighth, "Five", kQuarter, 10.0f, true, 1.0f, 1, 0);
  ExpectAdmission("Low", kPlacedEighth, "Bottom", kQuarter, 10.0f, false, 1.0f, 1, 0);
}

// Two plays fill bus Two and are heard as before; the third and fourth are refused. The bus's limit
// counted them but held no voice, so it let every play through: four voices were heard.
TEST_F(VoiceAdmissionTest, ABusLimitOfTwoHoldsFourPlaysToTwoVoices) {
  Post({"Steady", "Steady"}, 2);
  Post({"Steady", "Steady"}, 3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  ExpectShares(5, [](size_t) { return 2 * kQuarter; });
}

// The node's limit reached first (the second Own refused by it), then the bus's (the second Steady);
// then the other way round: Own refused by the full bus while its own limit has room.
TEST_F(VoiceAdmissionTest, TheNodesLimitAndTheBusesReachedEitherFirst) {
  Post({"Own", "Own"}, 2);
  Post({"Steady", "Steady"}, 3);
  ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
  Frames(2);
  Post({"Steady", "Steady"}, 2);
  Post({"Own"}, 3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  // A stop is heard to the end of the frame after it: the loudest sample of that frame is before it.
  ExpectShares(12, [](size_t f) { return f < 2 ? kEighth : f < 6 ? kEighth + kQuarter : f < 7 ? 0.0 : 2 * kQuarter; });
}

// A voice that ends leaves both its limits: Own stopped frees its place on the bus, where Steady then
// plays, and the bus full again refuses Own although Own's limit is free. Yields, in the bus's second
// place, gives way to a Yields of its own: the one killed leaves the bus as it leaves its node (heard
// beside the newcomer for the rest of that frame), so the bus counts the newcomer in its place.
TEST_F(VoiceAdmissionTest, AVoiceLeavingOneLimitFreesItsPlaceInBoth) {
  Post({"Steady"}, 0);
  Post({"Own"}, 2, kFarObject);
  ASSERT_EQ(SoundEngine::StopAll(kFarObject), SN_Success);
  Frames(2);
  Post({"Steady"}, 2);
  Post({"Own"}, 2, kFarObject);
  ASSERT_EQ(SoundEngine::StopAll(kObject), SN_Success);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  Post({"Steady", "Yields"}, 2);
  Post({"Yields"}, 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  ExpectShares(14, [](size_t f) {
    if (f < 3) return kQuarter + kEighth;
    if (f < 4) return kQuarter;
    if (f < 9) return 2 * kQuarter;
    if (f < 10) return 0.0;
    return f == 12 ? kQuarter + 2 * kEighth : kQuarter + kEighth;
  });
}

// A sound that plays alone counts on itself; a container of two voices for each object, loaded later,
// adopts it while it plays: the voice then counts in the container's limit, and leaves it as it ends.
// Stopped, it gives back its own count, not the second voice's, whose place stays taken: a third voice
// fills the limit and a fourth makes one give way.
TEST_F(VoiceAdmissionTest, AVoiceOfASoundAdoptedWhileItPlaysCountsInTheContainersLimit) {
  const std::string sound = "platform Linux\ntone Hum 48000 1 100 0.25 dc\nsound Hum Hum Effects loop 0\n";
  const std::vector<uint8_t>& alone = BankImage(sound + "action Play_Hum_Act 0x0403 Hum\nevent Play_Hum Play_Hum_Act\n",
                                                "Alone");
  const std::vector<uint8_t>& grouped = BankImage(
      sound + "random Hums Effects Hum maxvoices 2\naction Play_Hums_Act 0x0403 Hums\nevent Play_Hums Play_Hums_Act\n",
      "Grouped");
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank(alone.data(), uint32_t(alone.size()), id), SN_Success);
  const uint32_t first = SoundEngine::PostEvent("Play_Hum", kObject);
  ASSERT_NE(first, 0u);
  Frames(2);
  ASSERT_EQ(SoundEngine::LoadBank(grouped.data(), uint32_t(grouped.size()), id), SN_Success);
  Post({"Hums"}, 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  SoundEngine::StopPlayingID(first);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  Post({"Hums"}, 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  Post({"Hums"}, 2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(log_.Take().find("never counted"), std::string::npos);
}
}  // namespace
