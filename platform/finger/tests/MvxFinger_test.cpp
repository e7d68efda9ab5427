#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <tuple>
#include <vector>

#include <qrlcore/IniFile.h>
#include <qrlfinger/MvxFinger.h>
#include <qrlfinger/SyntheticFinger.h>

namespace qrfpt {
namespace {

class MvxFingerTest : public ::testing::Test {
 protected:
  static std::vector<std::uint8_t> bytesOf(const FingerprintTemplate& tA) {
    std::vector<std::uint8_t> bL;
    tA.encode(bL);
    return bL;
  }
  // Five minutiae of qualities 10, 50, 30, 50, 60; the two of quality 50 at different
  // distances from the centre.
  static FingerprintTemplate fiveMinutiae(std::uint8_t kindA) {
    FingerprintTemplate tL;
    tL.kind = kindA;
    tL.minutiae = {{100, 100, 1, 1, 10},
                   {300, 300, 2, 1, 50},
                   {110, 120, 3, 1, 30},
                   {160, 160, 4, 2, 50},
                   {150, 150, 5, 2, 60}};
    return tL;
  }
  static std::vector<std::uint8_t> anglesOf(const L2FTrimResult& rA) {
    FingerprintTemplate tL;
    EXPECT_EQ(tL.decode(rA.featurePtr(), rA.featureSize(), kKindL2F), FingerOk);
    std::vector<std::uint8_t> anglesL;
    for (const Minutia& m : tL.minutiae) anglesL.push_back(m.angle);
    return anglesL;
  }

  kxutl::IniFile iniM;
  MvxFinger fingerM{iniM};
};

TEST_F(MvxFingerTest, TrimmingKeepsTheBestMinutiae) {
  const auto l2fL = bytesOf(fiveMinutiae(kKindL2F));
  L2FTrimResult resultL;
  EXPECT_EQ(fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 3, 1, false),
            FingerNotInitialised);
  fingerM.initL2f();
  ASSERT_EQ(fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 3, 0, false), FingerOk);
  EXPECT_EQ(anglesOf(resultL), (std::vector<std::uint8_t>{1, 2, 3}));
  // By quality; the tie of quality 50 goes to the stored order (selection 1) or to the
  // minutia nearer the centre (selection 2).
  fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 3, 1, false);
  EXPECT_EQ(anglesOf(resultL), (std::vector<std::uint8_t>{5, 2, 4}));
  fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 3, 2, false);
  EXPECT_EQ(anglesOf(resultL), (std::vector<std::uint8_t>{5, 4, 2}));
  fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 3, 2, true);
  EXPECT_EQ(anglesOf(resultL), (std::vector<std::uint8_t>{2, 4, 5}));
  ASSERT_EQ(resultL.featureSize(), 12u + 3 * 6);
  EXPECT_EQ(resultL.featurePtr()[2], 3);                       // the count at offset 2
  EXPECT_EQ(resultL.featurePtr()[6], (160 * 100 + 94) / 189);  // quality of the kept ones
  fingerM.trimL2FTemplate(l2fL.data(), l2fL.size(), resultL, 9, 1, true);
  EXPECT_EQ(anglesOf(resultL).size(), 5u);

  // Only l2f templates are trimmed, and only whole ones.
  const auto l2mL = bytesOf(fiveMinutiae(kKindL2M));
  EXPECT_EQ(fingerM.trimL2FTemplate(l2mL.data(), l2mL.size(), resultL, 3, 1, false), FingerBadKind);
  EXPECT_EQ(fingerM.trimL2FTemplate(l2fL.data(), l2fL.size() - 1, resultL, 3, 1, false),
            FingerTooShort);
  // An l2m template yields its l2f template.
  ASSERT_EQ(fingerM.deriveL2FFromL2M(l2mL.data(), l2mL.size(), resultL, 2), FingerOk);
  EXPECT_EQ(anglesOf(resultL), (std::vector<std::uint8_t>{5, 4}));
}

TEST_F(MvxFingerTest, QualityOfAnL2MTemplate) {
  FingerprintTemplate tL = fiveMinutiae(kKindL2M);
  tL.quality = 42;
  tL.impressionType = 8;
  const auto bytesL = bytesOf(tL);
  float qualityL = -1.0f;
  std::uint16_t countL = 0;
  unsigned int typeL = 12345678;
  ASSERT_EQ(
      MvxFinger::getQualityFromL2MTemplate(bytesL.data(), bytesL.size(), qualityL, countL, typeL),
      FingerOk);
  EXPECT_EQ(qualityL, 42.0f);
  EXPECT_EQ(countL, 5);
  EXPECT_EQ(typeL, 8u);
  tL.kind = kKindL2F;
  const auto l2fL = bytesOf(tL);
  typeL = 12345678;
  EXPECT_EQ(MvxFinger::getQualityFromL2MTemplate(l2fL.data(), l2fL.size(), qualityL, countL, typeL),
            FingerBadKind);
  EXPECT_EQ(typeL, 12345678u);
}

TEST_F(MvxFingerTest, IdentificationRunsScoreMatesAboveImpostors) {
  SyntheticFingerGenerator generatorL(5);
  ImpressionSettings settingsL;
  settingsL.kind = kKindL2M;
  const auto probeL = generatorL.impressionBytes(1, 1, settingsL);
  const auto mateL = generatorL.impressionBytes(1, 2, settingsL);
  const auto impostorL = generatorL.impressionBytes(2, 2, settingsL);
  EXPECT_EQ(fingerM.identifyNext(mateL.data(), mateL.size()), 0.0f);  // no run yet
  ASSERT_EQ(fingerM.identifyStart(probeL.data(), probeL.size()), FingerOk);
  EXPECT_EQ(fingerM.runsStarted(), 1u);
  const float mateScoreL = fingerM.identifyNext(mateL.data(), mateL.size());
  const float impostorScoreL = fingerM.identifyNext(impostorL.data(), impostorL.size());
  EXPECT_GT(mateScoreL, 0.3f);
  EXPECT_LT(impostorScoreL, 0.15f);
  EXPECT_EQ(fingerM.identifyNext(mateL.data(), 11), 0.0f);
  EXPECT_EQ(fingerM.verify(probeL.data(), probeL.size(), mateL.data(), mateL.size()), mateScoreL);
  // A failed start leaves no run behind.
  EXPECT_EQ(fingerM.identifyStart(probeL.data(), 3), FingerTooShort);
  EXPECT_EQ(fingerM.identifyNext(mateL.data(), mateL.size()), 0.0f);
  EXPECT_EQ(fingerM.runsStarted(), 1u);
}

TEST_F(MvxFingerTest, MatchParametersFallBackToTheConfiguredOnes) {
  EXPECT_EQ(fingerM.matchSettings().rotationToleranceDegrees, 40);  // the defaults
  EXPECT_EQ(fingerM.matchSettings().maxDisplacement, 0);
  EXPECT_TRUE(fingerM.matchSettings().useAngleEstimation);
  std::istringstream textL("[FingerMatching]\nangleTolerance = 25\nmaxDisplacement = 80\n");
  kxutl::IniFile iniL;
  iniL.read(textL);
  MvxFinger fingerL(iniL);
  EXPECT_EQ(fingerL.matchSettings().rotationToleranceDegrees, 25);
  EXPECT_EQ(fingerL.matchSettings().maxDisplacement, 80);
  EXPECT_EQ(fingerL.matchSettings().confidenceThreshold, 50);
  fingerL.setMatchParameters(90, 0, 70);
  EXPECT_EQ(fingerL.matchSettings().rotationToleranceDegrees, 90);
  EXPECT_EQ(fingerL.matchSettings().maxDisplacement, 80);
  EXPECT_EQ(fingerL.matchSettings().confidenceThreshold, 70);
  fingerL.setMatchParameters(0, 0, 0);
  EXPECT_EQ(fingerL.matchSettings().rotationToleranceDegrees, 25);
}

TEST_F(MvxFingerTest, ConversionTurnsTemplatesUpright) {
  SyntheticFingerGenerator generatorL(8);
  ImpressionSettings settingsL;
  settingsL.maxRotationDegrees = 60.0;
  FingerL2Fi l2fiL(iniM);
  l2fiL.setMatchParameters(8, 0, 50);  // a narrow search: only upright templates meet
  // Find two impressions of one finger whose orientations differ by more than 20 degrees.
  std::uint32_t secondL = 2;
  const auto firstBytesL = generatorL.impressionBytes(4, 1, settingsL);
  std::vector<std::uint8_t> secondBytesL;
  for (;; ++secondL) {
    secondBytesL = generatorL.impressionBytes(4, secondL, settingsL);
    if (std::abs(static_cast<std::int8_t>(secondBytesL[5]) -
                 static_cast<std::int8_t>(firstBytesL[5])) > 15) {
      break;
    }
  }
  FingerprintTemplate storedL, probeL, galleryL;
  storedL.decode(firstBytesL.data(), firstBytesL.size());
  // Setting 0 keeps the template as stored; 1 moves it to its centre.
  ASSERT_EQ(l2fiL.convertL2FTemplateToBE5(firstBytesL.data(), firstBytesL.size(), probeL, true, 0),
            FingerOk);
  EXPECT_TRUE(probeL.isProbe);
  EXPECT_EQ(probeL.minutiae, storedL.minutiae);
  l2fiL.convertL2FTemplateToBE5(firstBytesL.data(), firstBytesL.size(), probeL, true, 1);
  double sumXL = 0.0;
  for (const Minutia& m : probeL.minutiae) sumXL += m.x;
  EXPECT_NEAR(sumXL / probeL.minutiae.size(), 32768.0, 1.0);
  EXPECT_EQ(probeL.orientation, storedL.orientation);
  EXPECT_EQ(probeL.minutiae[0].angle, storedL.minutiae[0].angle);
  // Setting 2 turns both upright, so a narrow search finds the mate.
  ASSERT_EQ(l2fiL.convertL2FTemplateToBE5(firstBytesL.data(), firstBytesL.size(), probeL, true, 2),
            FingerOk);
  ASSERT_EQ(
      l2fiL.convertL2FTemplateToBE5(secondBytesL.data(), secondBytesL.size(), galleryL, false, 2),
      FingerOk);
  EXPECT_FALSE(galleryL.isProbe);
  EXPECT_EQ(probeL.orientation, 0);
  EXPECT_EQ(galleryL.orientation, 0);
  EXPECT_EQ(l2fiL.identifyNext(galleryL), 0.0f);  // no run yet
  l2fiL.identifyStart(probeL);
  EXPECT_GT(l2fiL.identifyNext(galleryL), 0.3f);
  EXPECT_EQ(l2fiL.convertL2FTemplateToBE5(firstBytesL.data(), 5, probeL, true, 2), FingerTooShort);
  EXPECT_TRUE(probeL.minutiae.empty());
}

TEST(SyntheticFingerTest, ImpressionsFollowTheirSettings) {
  SyntheticFingerGenerator generatorL(3);
  const FingerprintTemplate masterL = generatorL.master(9);
  EXPECT_GE(masterL.minutiae.size(), 38u);
  EXPECT_LE(masterL.minutiae.size(), 62u);
  EXPECT_EQ(generatorL.impressionBytes(9, 1, {}), generatorL.impressionBytes(9, 1, {}));
  EXPECT_NE(generatorL.impressionBytes(9, 1, {}), generatorL.impressionBytes(9, 2, {}));
  EXPECT_NE(SyntheticFingerGenerator(4).master(9).minutiae, masterL.minutiae);

  ImpressionSettings exactL;
  exactL.maxRotationDegrees = exactL.maxShift = 0.0;
  exactL.missingFraction = exactL.spuriousFraction = 0.0;
  exactL.positionNoise = exactL.angleNoise = 0.0;
  exactL.kind = kKindL2M;
  exactL.impressionType = 2;
  FingerprintTemplate copyL = generatorL.impression(9, 1, exactL);
  EXPECT_EQ(copyL.kind, kKindL2M);
  EXPECT_EQ(copyL.impressionType, 2);
  auto byPlace = [](const Minutia& a, const Minutia& b) {
    return std::tie(a.x, a.y) < std::tie(b.x, b.y);
  };
  auto masterSortedL = masterL.minutiae;
  std::sort(masterSortedL.begin(), masterSortedL.end(), byPlace);
  std::sort(copyL.minutiae.begin(), copyL.minutiae.end(), byPlace);
  EXPECT_EQ(copyL.minutiae, masterSortedL);

  ImpressionSettings cutL = exactL;
  cutL.cutFraction = 0.3;
  const std::size_t keptL = generatorL.impression(9, 1, cutL).minutiae.size();
  EXPECT_EQ(keptL, masterL.minutiae.size() -
                       static_cast<std::size_t>(std::lround(0.3 * masterL.minutiae.size())));
  cutL.spuriousFraction = 0.2;
  const FingerprintTemplate noisyL = generatorL.impression(9, 1, cutL);
  EXPECT_EQ(noisyL.minutiae.size(), keptL + static_cast<std::size_t>(std::lround(0.2 * keptL)));
  // Spurious minutiae are of lower quality than any true one.
  const int spuriousL =
      static_cast<int>(std::count_if(noisyL.minutiae.begin(), noisyL.minutiae.end(),
                                     [](const Minutia& m) { return m.quality < 30; }));
  EXPECT_GE(spuriousL, 1);
  EXPECT_LE(spuriousL, static_cast<int>(noisyL.minutiae.size() - keptL));
}

}  // namespace
}  // namespace qrfpt
