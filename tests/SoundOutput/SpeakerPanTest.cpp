// 2D speaker matrices against matrices worked out by hand: mono, stereo and 5.1 inputs panned and
// assigned onto stereo, 5.1, 7.1 and a back-speaker layout, the LFE route, and bad configurations.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "tests/Support/LogCapture.h"

namespace {

using namespace SN;

constexpr float k = 0.70710677f;
constexpr uint32_t kMono = kSpeakerCenter;
constexpr uint32_t kMonoLfe = kSpeakerCenter | kSpeakerLfe;
constexpr uint32_t kBackQuad = 0x33;  // FL FR BL BR

// Rows of the output's channels, without the padding.
using Rows = std::vector<std::vector<float>>;

Rows Pan(float x, float y, float centre, bool panning, SnChannelConfig in, SnChannelConfig out) {
  std::vector<float> matrix(MatrixFloats(in, out), -1.0f);  // every float must be written
  CSnSpeakerPan::Pan2D(x, y, centre, panning, in, out, matrix.data());
  Rows rows(ChannelCount(in));
  for (uint32_t r = 0; r < rows.size(); ++r) {
    for (uint32_t c = 0; c < MatrixRowStride(out); ++c) {
      const float v = matrix[r * MatrixRowStride(out) + c];
      if (c < ChannelCount(out))
        rows[r].push_back(v);
      else
        EXPECT_EQ(v, 0.0f) << "padding of row " << r;
    }
  }
  return rows;
}

void ExpectRows(const Rows& actual, const Rows& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t r = 0; r < actual.size(); ++r) {
    ASSERT_EQ(actual[r].size(), expected[r].size()) << "row " << r;
    for (size_t c = 0; c < actual[r].size(); ++c) EXPECT_NEAR(actual[r][c], expected[r][c], 1e-6f) << r << "," << c;
  }
}

TEST(SpeakerPan, ChannelMasksCountEverySpeakerBit) {
  // Every mask of the 18 speaker bits and a few wider words, against a count bit by bit.
  auto count = [](uint32_t mask) {
    uint32_t n = 0;
    for (; mask; mask >>= 1) n += mask & 1u;
    return n;
  };
  for (uint32_t mask = 0; mask < (1u << 18); ++mask) ASSERT_EQ(MaskChannelCount(mask), count(mask)) << mask;
  for (uint32_t mask : {0x80000000u, 0xFFFFFFFFu, 0xAAAAAAAAu, 0x12345678u}) EXPECT_EQ(MaskChannelCount(mask), count(mask));
  EXPECT_EQ(ChannelCount(StandardConfig(kMask71)), 8u);
}

TEST(SpeakerPan, MonoOntoStereoPansByPowerOrSpreadsEvenlyWithoutPanning) {
  const SnChannelConfig mono = StandardConfig(kMono), stereo = StandardConfig(kMaskStereo);
  ExpectRows(Pan(0.25f, 1.0f, 0.0f, true, mono, stereo), {{std::sqrt(0.75f), 0.5f}});
  ExpectRows(Pan(0.0f, 1.0f, 0.0f, true, mono, stereo), {{1.0f, 0.0f}});
  ExpectRows(Pan(0.25f, 1.0f, 0.0f, false, mono, stereo), {{k, k}});
  // A single output speaker takes the whole source, panned or not.
  ExpectRows(Pan(0.9f, 0.0f, 0.0f, true, mono, StandardConfig(kSpeakerCenter)), {{1.0f}});
}

TEST(SpeakerPan, MonoPansKeepTheirPowerOnEveryLayout) {
  for (uint32_t mask : {0x3u, 0x7u, 0x603u, 0x607u, 0x633u, 0x637u, kBackQuad}) {
    for (float x = 0.0f; x <= 1.0f; x += 0.125f)
      for (float y = 0.0f; y <= 1.0f; y += 0.125f)
        for (float centre : {0.0f, 0.3f, 1.0f}) {
          const Rows rows = Pan(x, y, centre, true, StandardConfig(kMono), StandardConfig(mask));
          float power = 0.0f;
          for (float g : rows[0]) power += g * g;
          EXPECT_NEAR(power, 1.0f, 1e-5f) << std::hex << mask << std::dec << " x " << x << " y " << y;
        }
  }
}

TEST(SpeakerPan, MonoOntoSurroundLayoutsFollowsFrontRearAndCentre) {
  // 7.1 from the rear half: f = 0, b = 2/3, s = 1/3 split evenly. Columns FL FR FC BL BR SL SR LFE.
  const float third = std::sqrt(1.0f / 3.0f), sixth = std::sqrt(1.0f / 6.0f);
  ExpectRows(Pan(0.5f, 0.25f, 0.0f, true, StandardConfig(kMono), StandardConfig(kMask71)),
             {{0, 0, 0, third, third, sixth, sixth, 0}});
  // FL FR FC in the middle with a full centre share: all on the centre.
  ExpectRows(Pan(0.5f, 1.0f, 1.0f, true, StandardConfig(kMono), StandardConfig(0x7)), {{0, 0, 1}});
  // Without panning onto 5.1: half the power on the centre, the LFE channel to the LFE.
  ExpectRows(Pan(0.0f, 0.0f, 0.5f, false, StandardConfig(kMonoLfe), StandardConfig(kMask51)),
             {{0.5f, 0.5f, k, 0, 0, 0}, {0, 0, 0, 0, 0, 1}});
}

TEST(SpeakerPan, StereoOntoFivePointOneFillsTheSurroundsBehindTheFront) {
  const SnChannelConfig stereo = StandardConfig(kMaskStereo), surround = StandardConfig(kMask51);
  // Centred: the four-speaker gains, 1/2 each; each front channel also feeds its own side.
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, stereo, surround), {{0.5f, 0, 0, 0.5f, 0, 0}, {0, 0.5f, 0, 0, 0.5f, 0}});
  // Front left: the front pair only, by power.
  ExpectRows(Pan(0.25f, 1.0f, 0.0f, true, stereo, surround),
             {{std::sqrt(0.75f), 0, 0, 0, 0, 0}, {0, 0.5f, 0, 0, 0, 0}});
  ExpectRows(Pan(0.25f, 1.0f, 0.0f, false, stereo, surround), {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}});
}

TEST(SpeakerPan, FivePointOneOntoStereoFoldsThroughTheDownmixTable) {
  const SnChannelConfig surround = StandardConfig(kMask51), stereo = StandardConfig(kMaskStereo);
  // Centred: r = 0.4, f = 0.6, so every weight is sqrt(0.2); centre and sides fold in at 1/sqrt 2.
  const float w = std::sqrt(0.2f), folded = w * k;
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, surround, stereo),
             {{w, 0}, {0, w}, {folded, folded}, {folded, 0}, {0, folded}, {0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, false, surround, stereo), {{1, 0}, {0, 1}, {k, k}, {k, 0}, {0, k}, {0, 0}});
}

TEST(SpeakerPan, BackSpeakersWithoutSidesTakeTheSideTable) {
  // 7.1 onto FL FR BL BR: backs and sides both land on the back pair.
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, false, StandardConfig(kMask71), StandardConfig(kBackQuad)),
             {{1, 0, 0, 0}, {0, 1, 0, 0}, {k, k, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}, {0, 0, 0, 1},
              {0, 0, 0, 0}});
  // An input with a back pair and no sides pans as if its pair were the sides.
  ExpectRows(Pan(0.3f, 0.6f, 0.2f, true, StandardConfig(kBackQuad), StandardConfig(kMask51)),
             Pan(0.3f, 0.6f, 0.2f, true, StandardConfig(0x603), StandardConfig(kMask51)));
  // A lone back speaker becomes a lone side one: FL FR SL is no layout that pans, so every row is
  // silent, the back speaker's too, on a layout with backs and on one without.
  constexpr uint32_t kLoneBack = 0x13;  // FL FR BL
  ExpectRows(Pan(0.3f, 0.6f, 0.2f, true, StandardConfig(kLoneBack), StandardConfig(kMask51)),
             {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, StandardConfig(kLoneBack), StandardConfig(kBackQuad)),
             {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}});
}

TEST(SpeakerPan, AnonymousChannelsMapOneToOneAndMixedKindsStaySilent) {
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, AnonymousConfig(3), AnonymousConfig(2)), {{1, 0}, {0, 1}, {0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, AnonymousConfig(2), StandardConfig(kMaskStereo)), {{0, 0}, {0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, false, StandardConfig(kMaskStereo), AnonymousConfig(2)), {{0, 0}, {0, 0}});
}

TEST(SpeakerPan, OutOfRangeValuesAndBrokenConfigurationsGiveSafeMatrices) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Positions and centre shares outside 0..1 are clamped; not a number counts as 0.
  ExpectRows(Pan(-3.0f, 7.0f, nan, true, StandardConfig(kMono), StandardConfig(0x7)), {{1, 0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, -2.0f, false, StandardConfig(kMono), StandardConfig(kMask51)),
             {{k, k, 0, 0, 0, 0}});
  ExpectRows(Pan(0.5f, 0.5f, 4.0f, false, StandardConfig(kMono), StandardConfig(kMask51)), {{0, 0, 1, 0, 0, 0}});
  // A channel count that disagrees with the speakers is refused with silence and a message.
  OrvTest::LogCapture log;
  const SnChannelConfig lying = StandardConfig(kMaskStereo) + 1;  // three channels, two speakers
  ExpectRows(Pan(0.5f, 0.5f, 0.0f, true, lying, StandardConfig(kMaskStereo)), {{0, 0}, {0, 0}, {0, 0}});
  EXPECT_NE(log.Take().find("counts other channels than its speakers"), std::string::npos);
}

}  // namespace

TEST(SpeakerPan, AnOutputPathPansOnChangeKeepsItsMatrixOtherwiseAndClampsTheCentre) {
  const SnChannelConfig mono = StandardConfig(kMono), stereo = StandardConfig(kMaskStereo);
  std::vector<float> previous(MatrixFloats(mono, stereo), 9.0f), matrix(previous.size(), -1.0f);
  SnPan2DOutputPath path;
  path.output = stereo;
  path.previousMatrix = previous.data();
  path.matrix = matrix.data();
  SnPan2DValues voice;
  voice.panLeftRight = -50.0f;  // x = 0.25
  voice.panFrontRear = 100.0f;
  voice.panning = true;
  EXPECT_EQ(CSnSpeakerPan::ComputePan2DForOutput(voice, 0.5f, mono, false, path), 0.5f);
  EXPECT_NEAR(matrix[0], std::sqrt(0.75f), 1e-6f);
  EXPECT_NEAR(matrix[1], 0.5f, 1e-6f);
  EXPECT_EQ(path.previous, voice);
  // Nothing changed: the previous matrix is carried over, unless forced.
  EXPECT_EQ(CSnSpeakerPan::ComputePan2DForOutput(voice, 0.5f, mono, false, path), 0.5f);
  EXPECT_EQ(matrix[0], 9.0f);
  CSnSpeakerPan::ComputePan2DForOutput(voice, 0.5f, mono, true, path);
  EXPECT_NEAR(matrix[1], 0.5f, 1e-6f);
  // An auxiliary path takes gain 1; a path that does not pan keeps the previous matrix.
  path.dryPath = false;
  path.allowsPanning = false;
  voice.panLeftRight = 100.0f;
  EXPECT_EQ(CSnSpeakerPan::ComputePan2DForOutput(voice, 0.5f, mono, true, path), 1.0f);
  EXPECT_EQ(matrix[1], 9.0f);
  // A centre past 100 percent pans as 100 onto a layout with a centre speaker.
  const SnChannelConfig three = StandardConfig(0x7);
  std::vector<float> wide(MatrixFloats(mono, three)), expected(wide.size());
  SnPan2DOutputPath centred;
  centred.output = three;
  centred.matrix = wide.data();
  SnPan2DValues loud;
  loud.panFrontRear = 100.0f;
  loud.centrePercent = 250.0f;
  loud.panning = true;
  CSnSpeakerPan::ComputePan2DForOutput(loud, 1.0f, mono, true, centred);
  CSnSpeakerPan::Pan2D(0.5f, 1.0f, 1.0f, true, mono, three, expected.data());
  for (size_t i = 0; i < wide.size(); ++i) EXPECT_FLOAT_EQ(wide[i], expected[i]) << i;
  for (float v : wide) EXPECT_GE(v, 0.0f);
}

// Paths made one after another, as voices start, each get the matrix of their own values and layouts
// whatever the path before them had: the same values again, other values, another output layout,
// another input, and a refused layout that is logged each time it comes.
TEST(SpeakerPan, OutputPathsMadeOneAfterAnotherEachGetTheirOwnMatrix) {
  const SnChannelConfig mono = StandardConfig(kMono), stereo = StandardConfig(kMaskStereo);
  const SnChannelConfig surround = StandardConfig(kMask51), lying = StandardConfig(kMaskStereo) + 1;
  SnPan2DValues left, right;
  left.panLeftRight = -50.0f;  // x = 0.25
  left.panning = right.panning = true;
  right.panLeftRight = 100.0f;
  struct Step {
    SnPan2DValues voice;
    SnChannelConfig input, output;
  };
  const Step steps[] = {{left, mono, stereo},  {right, mono, stereo}, {left, mono, stereo},  {left, mono, stereo},
                        {left, mono, surround},   {left, stereo, stereo}, {left, mono, stereo}, {left, lying, stereo},
                        {left, lying, stereo}, {right, mono, stereo}};
  OrvTest::LogCapture log;
  for (const Step& step : steps) {
    std::vector<float> matrix(MatrixFloats(step.input, step.output), -1.0f), expected(matrix.size());
    SnPan2DOutputPath path;
    path.output = step.output;
    path.matrix = matrix.data();
    CSnSpeakerPan::ComputePan2DForOutput(step.voice, 1.0f, step.input, true, path);
    const float x = (step.voice.panLeftRight + 100.0f) * 0.005f;
    CSnSpeakerPan::Pan2D(x, 0.5f, 0.0f, true, step.input, step.output, expected.data());
    for (size_t i = 0; i < matrix.size(); ++i) ASSERT_EQ(matrix[i], expected[i]) << &step - steps << " " << i;
    if (step.input == mono && step.output == stereo) {
      EXPECT_NEAR(matrix[0], std::sqrt(1.0f - x), 1e-6f) << &step - steps;
    }
    if (step.input == lying) {
      // Logged by the path and by the check beside it: twice for each path.
      const std::string text = log.Take();
      const size_t first = text.find("counts other channels than its speakers");
      ASSERT_NE(first, std::string::npos) << &step - steps;
      EXPECT_NE(text.find("counts other channels than its speakers", first + 1), std::string::npos) << &step - steps;
    }
  }
}
