#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <qrlfinger/L2FMatcher.h>
#include <qrlfinger/MinutiaeMatcher.h>
#include <qrlfinger/SyntheticFinger.h>

namespace qrfpt {
namespace {

constexpr double kPi = 3.14159265358979323846;

// tA turned by degreesA about (200, 250), then moved by (300 + dxA, 300 + dyA) so that every
// minutia stays at positive coordinates; the finger orientation turns with it.
FingerprintTemplate moved(FingerprintTemplate tA, double degreesA, double dxA = 0.0,
                          double dyA = 0.0) {
  const double rL = degreesA * kPi / 180.0;
  const int unitsL = static_cast<int>(std::lround(degreesA * kAngleUnits / 360.0));
  for (Minutia& m : tA.minutiae) {
    const double xL = m.x - 200.0, yL = m.y - 250.0;
    m.x = static_cast<std::uint16_t>(
        std::lround(std::cos(rL) * xL - std::sin(rL) * yL + 500.0 + dxA));
    m.y = static_cast<std::uint16_t>(
        std::lround(std::sin(rL) * xL + std::cos(rL) * yL + 550.0 + dyA));
    m.angle = static_cast<std::uint8_t>((m.angle + unitsL + kAngleUnits) % kAngleUnits);
  }
  tA.orientation = static_cast<std::int8_t>(unitsL);
  tA.kind = kKindL2F;
  return tA;
}

std::vector<std::uint8_t> bytesOf(const FingerprintTemplate& tA) {
  std::vector<std::uint8_t> bL;
  tA.encode(bL);
  return bL;
}

class L2FMatcherTest : public ::testing::Test {
 protected:
  float raw(const FingerprintTemplate& probeA, const FingerprintTemplate& galleryA,
            int flavourA = 2, std::int16_t estimateA = 0) {
    const auto pL = bytesOf(probeA), gL = bytesOf(galleryA);
    float scoreL = -1.0f;
    EXPECT_EQ(matcherM.MatchTemplates(pL.data(), pL.size(), gL.data(), gL.size(), flavourA, &scoreL,
                                      estimateA, 2550, nullptr, nullptr),
              L2F_7::L2FOk);
    return scoreL;
  }

  SyntheticFingerGenerator generatorM{11};
  L2F_7::CL2FMatcher matcherM;
};

TEST_F(L2FMatcherTest, FindsTheMateOfACutImpressionAmongAThousandImpostors) {
  ImpressionSettings galleryL;
  galleryL.maxRotationDegrees = 20.0;  // two impressions differ by up to the tolerance, 40
  galleryL.maxShift = 40.0;
  ImpressionSettings probeL = galleryL;
  probeL.cutFraction = 0.3;
  std::vector<std::vector<std::uint8_t>> impostorsL;
  for (std::uint32_t f = 100; f < 1100; ++f) {
    impostorsL.push_back(generatorM.impressionBytes(f, 1, galleryL));
  }
  for (std::uint32_t finger = 0; finger < 8; ++finger) {
    const auto probeBytesL = generatorM.impressionBytes(finger, 2, probeL);
    const auto mateL = generatorM.impressionBytes(finger, 1, galleryL);
    float mateScoreL = 0.0f, bestImpostorL = 0.0f;
    ASSERT_EQ(matcherM.MatchTemplates(probeBytesL.data(), probeBytesL.size(), mateL.data(),
                                      mateL.size(), 2, &mateScoreL, 0, 2550, nullptr, nullptr),
              0);
    for (const auto& g : impostorsL) {
      float sL = 0.0f;
      matcherM.MatchTemplates(probeBytesL.data(), probeBytesL.size(), g.data(), g.size(), 2, &sL, 0,
                              2550, nullptr, nullptr);
      bestImpostorL = std::max(bestImpostorL, sL);
    }
    EXPECT_GT(mateScoreL, 1.5f * bestImpostorL) << "finger " << finger;
  }
}

TEST_F(L2FMatcherTest, RotationToleranceFlavourAndAngleEstimationChooseTheSearchedRotations) {
  const FingerprintTemplate masterL = generatorM.master(3);
  FingerprintTemplate probeL = moved(masterL, 0.0);
  FingerprintTemplate turnedL = moved(masterL, 60.0, 10.0, -15.0);
  probeL.orientationConfidence = turnedL.orientationConfidence = 80;
  const float identicalL = raw(probeL, probeL);
  EXPECT_FLOAT_EQ(identicalL, 1000.0f);

  matcherM.SetDefaultRotationTolerance(40);
  EXPECT_LT(raw(probeL, turnedL), 0.2f * identicalL);
  EXPECT_GT(raw(probeL, turnedL, 6), 0.8f * identicalL);  // the 360 flavour searches all
  matcherM.SetDefaultRotationTolerance(65);
  EXPECT_GT(raw(probeL, turnedL), 0.8f * identicalL);

  // The orientation estimate centres a narrow search, if both templates are confident enough.
  matcherM.SetDefaultRotationTolerance(10);
  matcherM.SetAngleOffsetConfidenceThreshold(80);
  EXPECT_GT(raw(probeL, turnedL, 2, -1), 0.8f * identicalL);
  EXPECT_LT(raw(probeL, turnedL, 2, 0), 0.2f * identicalL);
  matcherM.SetAngleOffsetConfidenceThreshold(81);
  EXPECT_LT(raw(probeL, turnedL, 2, -1), 0.2f * identicalL);
  matcherM.SetAngleOffsetConfidenceThreshold(0);  // back to the default, 50
  EXPECT_EQ(matcherM.AngleOffsetConfidenceThreshold(), 50);
  matcherM.SetDefaultRotationTolerance(0);
  EXPECT_EQ(matcherM.DefaultRotationTolerance(), 40);
}

TEST_F(L2FMatcherTest, RawScoreGrowsWithThePairedMinutiae) {
  const FingerprintTemplate masterL = moved(generatorM.master(5), 0.0);
  ASSERT_GE(masterL.minutiae.size(), 38u);
  FingerprintTemplate partL = moved(masterL, 12.0, 20.0, 5.0);
  float previousL = raw(masterL, partL);
  // Replacing minutiae by far-away ones keeps n and m and takes one pair each time.
  for (std::size_t k = 0; k < 20; ++k) {
    partL.minutiae[k].x = static_cast<std::uint16_t>(2000 + 40 * k);
    const float scoreL = raw(masterL, partL);
    EXPECT_LT(scoreL, previousL) << k;
    previousL = scoreL;
  }
  const float nL = static_cast<float>(masterL.minutiae.size());
  const float pairedL = nL - 20.0f;
  EXPECT_NEAR(previousL, 1000.0f * pairedL * pairedL / (nL * nL), 0.01f);
}

TEST_F(L2FMatcherTest, MaxScoreCapsAndBadInputsLeaveTheScoreAlone) {
  const auto tL = bytesOf(moved(generatorM.master(1), 0.0));
  float scoreL = -1.0f;
  EXPECT_EQ(matcherM.MatchTemplates(tL.data(), tL.size(), tL.data(), tL.size(), 2, &scoreL, 0, 300,
                                    nullptr, nullptr),
            0);
  EXPECT_FLOAT_EQ(scoreL, 300.0f);
  scoreL = -1.0f;
  const int dummyL = 0;
  EXPECT_EQ(matcherM.MatchTemplates(nullptr, 0, tL.data(), tL.size(), 2, &scoreL, 0, 2550, nullptr,
                                    nullptr),
            L2F_7::L2FNullArgument);
  EXPECT_EQ(matcherM.MatchTemplates(tL.data(), tL.size(), tL.data(), tL.size(), 2, &scoreL, 0, 2550,
                                    &dummyL, nullptr),
            L2F_7::L2FNullArgument);
  EXPECT_EQ(matcherM.MatchTemplates(tL.data(), tL.size() - 1, tL.data(), tL.size(), 2, &scoreL, 0,
                                    2550, nullptr, nullptr),
            L2F_7::L2FBadProbe);
  EXPECT_EQ(matcherM.MatchTemplates(tL.data(), tL.size(), tL.data(), 11, 2, &scoreL, 0, 2550,
                                    nullptr, nullptr),
            L2F_7::L2FBadGallery);
  EXPECT_FLOAT_EQ(scoreL, -1.0f);
  // An l2m template is no l2f template.
  auto l2mL = tL;
  l2mL[0] = kKindL2M;
  EXPECT_EQ(matcherM.MatchTemplates(tL.data(), tL.size(), l2mL.data(), l2mL.size(), 2, &scoreL, 0,
                                    2550, nullptr, nullptr),
            L2F_7::L2FBadGallery);
}

TEST(MinutiaeMatcherTest, DisplacementLimitAndEmptyTemplates) {
  SyntheticFingerGenerator generatorL(2);
  const FingerprintTemplate probeL = moved(generatorL.master(4), 0.0);
  const FingerprintTemplate farL = moved(generatorL.master(4), 0.0, 100.0, 0.0);
  MinutiaeMatcher matcherL;
  matcherL.setProbe(probeL);
  MatchSettings settingsL;
  const MatchResult freeL = matcherL.match(farL, settingsL);
  EXPECT_EQ(freeL.paired, static_cast<int>(probeL.minutiae.size()));
  EXPECT_NEAR(freeL.dx, 100.0f, 1.0f);
  EXPECT_NEAR(freeL.dy, 0.0f, 1.0f);
  settingsL.maxDisplacement = 60;
  EXPECT_LT(matcherL.match(farL, settingsL).paired, freeL.paired / 3);
  settingsL.maxDisplacement = 120;
  EXPECT_EQ(matcherL.match(farL, settingsL).paired, freeL.paired);

  const MatchResult emptyL = matcherL.match(FingerprintTemplate(), settingsL);
  EXPECT_EQ(emptyL.paired, 0);
  EXPECT_EQ(emptyL.similarity(), 0.0f);
  MinutiaeMatcher noProbeL;
  noProbeL.setProbe(FingerprintTemplate());
  EXPECT_EQ(noProbeL.match(probeL, settingsL).similarity(), 0.0f);
}

}  // namespace
}  // namespace qrfpt
