#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
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
  // A single minutia a side: its one vote is the whole vote.
  FingerprintTemplate singleL;
  singleL.minutiae = {{200, 200, 40, MinutiaEnding, 30}};
  noProbeL.setProbe(singleL);
  singleL.minutiae[0].x = 260;
  EXPECT_EQ(noProbeL.match(singleL, MatchSettings()).paired, 1);
}

// Without angle estimation the searched direction differences are -h .. h units, h = the
// tolerance in units rounded down (20 degrees: 14 units). Four minutiae far apart, with
// directions far apart, vote only through their true pairs: a turn by exactly h units in either
// sense pairs them all, a turn by h + 1 units none.
TEST(MinutiaeMatcherTest, TheRotationToleranceBoundsTheSearchedDirectionDifferences) {
  FingerprintTemplate probeL;
  probeL.minutiae = {{100, 100, 10, MinutiaEnding, 40},
                     {300, 120, 80, MinutiaEnding, 40},
                     {150, 350, 150, MinutiaBifurcation, 40},
                     {320, 330, 220, MinutiaBifurcation, 40}};
  MinutiaeMatcher matcherL;
  matcherL.setProbe(moved(probeL, 0.0));
  MatchSettings settingsL;
  settingsL.rotationToleranceDegrees = 20;
  for (int sign : {-1, 1}) {
    for (int units : {14, 15}) {
      const FingerprintTemplate turnedL = moved(probeL, sign * units * 360.0 / kAngleUnits, 30.0);
      EXPECT_EQ(matcherL.match(turnedL, settingsL).paired, units == 14 ? 4 : 0) << sign * units;
    }
  }
}

// The runner-up cell's motion is paired only when the vote is unclear; the full search pairs it
// always. On impressions with missing, spurious and cut-off minutiae the shortcut must not cost
// a mate more than one pair, nor mates pairs on balance.
TEST(MinutiaeMatcherTest, SkippingAClearlyBeatenRunnerUpKeepsTheMatesOfTheFullSearch) {
  SyntheticFingerGenerator generatorL(77);
  ImpressionSettings impressionL;
  impressionL.missingFraction = 0.3;
  impressionL.spuriousFraction = 0.2;
  impressionL.cutFraction = 0.2;
  MatchSettings fastL, fullL;
  fastL.useAngleEstimation = fullL.useAngleEstimation = true;
  fullL.pairRunnerUp = true;
  MinutiaeMatcher matcherL;
  int fastSumL = 0, fullSumL = 0, differentL = 0;
  for (std::uint32_t f = 0; f < 200; ++f) {
    matcherL.setProbe(generatorL.impression(f, 2, impressionL));
    const FingerprintTemplate mateL = generatorL.impression(f, 1, impressionL);
    const int fastPairedL = matcherL.match(mateL, fastL).paired;
    const int fullPairedL = matcherL.match(mateL, fullL).paired;
    EXPECT_GE(fastPairedL, fullPairedL - 1) << "finger " << f;
    fastSumL += fastPairedL;
    fullSumL += fullPairedL;
    differentL += fastPairedL != fullPairedL;
  }
  EXPECT_GE(fastSumL, fullSumL);
  EXPECT_GT(differentL, 0);  // the two searches are not the same search
}

// A matcher keeps scratch between comparisons (the probe turned per rotation cell, the vote
// grid with its stamps, the bucketed pairs): its results must not depend on what it compared
// before. Full-turn searches use every rotation cell, so the stamps wrap many times.
TEST(MinutiaeMatcherTest, ResultsDoNotDependOnTheComparisonsBefore) {
  SyntheticFingerGenerator generatorL(31);
  ImpressionSettings smallL, largeL;
  smallL.missingFraction = 0.5;
  largeL.spuriousFraction = 1.0;
  MatchSettings settingsL[3];
  settingsL[0].useAngleEstimation = true;
  settingsL[1].rotationToleranceDegrees = 200;
  settingsL[2].maxDisplacement = 80;
  settingsL[2].rotationToleranceDegrees = 90;
  MinutiaeMatcher reusedL;
  std::vector<FingerprintTemplate> galleryL;
  for (std::uint32_t f = 0; f < 12; ++f) {
    galleryL.push_back(generatorL.impression(f % 4, 1, f % 2 != 0 ? smallL : largeL));
  }
  int comparisonsL = 0;
  for (std::uint32_t p = 0; p < 4; ++p) {
    const FingerprintTemplate probeL = generatorL.impression(p, 2, p % 2 != 0 ? largeL : smallL);
    reusedL.setProbe(probeL);
    for (int round = 0; round < 3; ++round) {
      for (std::size_t g = 0; g < galleryL.size(); ++g) {
        const MatchSettings& s = settingsL[(g + static_cast<std::size_t>(round)) % 3];
        MinutiaeMatcher freshL;
        freshL.setProbe(probeL);
        const MatchResult expectedL = freshL.match(galleryL[g], s);
        const MatchResult gotL = reusedL.match(galleryL[g], s);
        ASSERT_EQ(gotL.paired, expectedL.paired) << p << " " << g << " " << round;
        EXPECT_EQ(gotL.rotation, expectedL.rotation);
        EXPECT_EQ(gotL.dx, expectedL.dx);
        EXPECT_EQ(gotL.dy, expectedL.dy);
        ++comparisonsL;
      }
    }
  }
  EXPECT_EQ(comparisonsL, 144);
}

// Outlying minutiae stretch the vote grid beyond its largest size: votes crowd its border, and
// the minutiae that belong together still pair. Templates too large to count are not compared.
TEST(MinutiaeMatcherTest, OutliersCutTheVoteGridAndHugeTemplatesPairNothing) {
  SyntheticFingerGenerator generatorL(9);
  const FingerprintTemplate probeL = moved(generatorL.master(2), 0.0);
  FingerprintTemplate galleryL = moved(generatorL.master(2), 10.0, 25.0, -20.0);
  const int trueL = static_cast<int>(galleryL.minutiae.size());
  galleryL.minutiae.push_back({65000, 64000, 7, MinutiaEnding, 20});
  galleryL.minutiae.push_back({3, 65500, 200, MinutiaEnding, 20});
  MinutiaeMatcher matcherL;
  matcherL.setProbe(probeL);
  const MatchResult resultL = matcherL.match(galleryL, MatchSettings());
  EXPECT_GE(resultL.paired, trueL - 2);
  EXPECT_EQ(resultL.galleryCount, trueL + 2);

  FingerprintTemplate hugeL = galleryL;
  hugeL.minutiae.resize(4096, galleryL.minutiae[0]);
  EXPECT_EQ(matcherL.match(hugeL, MatchSettings()).paired, 0);
  hugeL.minutiae.resize(4095);
  EXPECT_GT(matcherL.match(hugeL, MatchSettings()).paired, 0);
}

// QUARLEN_WRITE_SEEDS=1 writes the seed corpus of the finger templates' fuzz target: a settings
// byte, the probe length (16 bits), the probe, the gallery; mates and impostors, l2f and l2m.
TEST(MinutiaeMatcherTest, WritesFuzzSeedsOnRequest) {
  const char* requestL = std::getenv("QUARLEN_WRITE_SEEDS");
  if (requestL == nullptr || std::string(requestL) != "1") GTEST_SKIP() << "seeds not requested";
  const std::string dirL = std::string(QUARLEN_SOURCE_DIR) + "/fuzz/seeds/fuzz_finger_templates/";
  SyntheticFingerGenerator generatorL(5);
  ImpressionSettings settingsL;
  settingsL.missingFraction = 0.3;
  settingsL.spuriousFraction = 0.2;
  const struct {
    const char* name;
    std::uint8_t settings;
    std::uint32_t galleryFinger;
    std::uint8_t kind;
  } seedsL[] = {{"mate", 0x8A, 0, kKindL2F},
                {"impostor", 0x0A, 1, kKindL2F},
                {"mate360", 0x4C, 0, kKindL2F},
                {"mateLimited", 0x22, 0, kKindL2F},
                {"l2m", 0x95, 0, kKindL2M}};
  for (const auto& seed : seedsL) {
    settingsL.kind = seed.kind;
    const auto probeL = generatorL.impressionBytes(0, 2, settingsL);
    const auto galleryL = generatorL.impressionBytes(seed.galleryFinger, 1, settingsL);
    std::ofstream outL(dirL + seed.name + ".bin", std::ios::binary);
    ASSERT_TRUE(outL.is_open()) << dirL;
    outL.put(static_cast<char>(seed.settings));
    outL.put(static_cast<char>(probeL.size() & 0xFF));
    outL.put(static_cast<char>(probeL.size() >> 8));
    outL.write(reinterpret_cast<const char*>(probeL.data()),
               static_cast<std::streamsize>(probeL.size()));
    outL.write(reinterpret_cast<const char*>(galleryL.data()),
               static_cast<std::streamsize>(galleryL.size()));
  }
}

}  // namespace
}  // namespace qrfpt
