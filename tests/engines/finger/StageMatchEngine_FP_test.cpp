// The finger engines: their creation, score rules and settings, on synthetic fingers and on
// decorated layouts small enough to compute by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <qrlcore/Notification.h>
#include <qrlfinger/L2FMatcher.h>
#include <qrlfinger/SyntheticFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>
#include <quarlen/ScoreCurve.h>

#include "engines/finger/StageMatchEngine_FP_FVA.h"
#include "engines/finger/StageMatchEngine_FP_FVA_old.h"
#include "engines/finger/StageMatchEngine_FP_L1V.h"
#include "engines/finger/StageMatchEngine_FP_L2F.h"
#include "engines/finger/StageMatchEngine_FP_L2F360.h"
#include "engines/finger/StageMatchEngine_FP_L2Fi.h"
#include "engines/finger/StageMatchEngine_FP_L2M.h"
#include "engines/finger/StageMatchEngine_FP_L2V.h"
#include "support/EngineTesting.h"
#include "support/ExceptionMatchers.h"

namespace qridy {
namespace {

// The shipped mapping files: <source>/data/scoremapping.
std::string mappingFile(const std::string& nameA) {
  const std::string dataL = QUARLEN_TEST_DATA_DIR;
  return dataL.substr(0, dataL.rfind("/tests/data")) + "/data/scoremapping/" + nameA;
}

// Decorated layouts of these tests: l1b 2 slots of 32 bytes (F1 = 80), l1v 2 slots of 16 bytes
// (F2 = 112, l2v features from 128).
constexpr const char* kLayoutConfig =
    "[MATCHING_DECORATOR_DEFINITION]\n"
    "l1b = fingerRightIndex,fingerRightMiddle\n"
    "l1v = fingerRightIndex,fingerRightMiddle\n"
    "[MATCHING_DECORATOR_SIZE]\n"
    "l1b = 32\n"
    "l1v = 8, 16\n";

class StageMatchEngineFingerTest : public quarlen_test::EngineConfigTest {
 protected:
  void TearDown() override {
    IdRecordFingerDecorator::forgetCachedDefinitions();
    EngineConfigTest::TearDown();
  }
  // Matching keys plus the shipped mapping files, and further sections.
  void useFingerConfig(const std::string& matchingKeysA, const std::string& sectionsA = "") {
    useConfig("L2F_logFarScoreMappingFile = " + mappingFile("l2f.txt") +
              "\nL2F360_logFarScoreMappingFile = " + mappingFile("l2f360.txt") + "\n" +
              matchingKeysA + sectionsA);
    IdRecordFingerDecorator::forgetCachedDefinitions();
  }
  std::string writeFile(const std::string& nameA, const std::string& textA) {
    return dirM.write(nameA, textA);
  }
  static float verify(StageMatchEngine_Base& engineA, const std::vector<unsigned char>& probeA,
                      const std::vector<unsigned char>& galleryA) {
    return engineA.verify(probeA.data(), static_cast<unsigned>(probeA.size()), galleryA.data(),
                          static_cast<unsigned>(galleryA.size()));
  }
  std::vector<unsigned char> impression(std::uint32_t fingerA, std::uint32_t impressionA,
                                        std::uint8_t kindA = qrfpt::kKindL2F) {
    qrfpt::ImpressionSettings settingsL;
    settingsL.kind = kindA;
    return generatorM.impressionBytes(fingerA, impressionA, settingsL);
  }

  qrfpt::SyntheticFingerGenerator generatorM{77};
  quarlen_test::TempDir dirM;
  std::mt19937 rngM{9};
};

TEST_F(StageMatchEngineFingerTest, EveryFingerCodeMakesItsEngine) {
  useFingerConfig("");
  auto isA = [](Algorithm codeA, auto* typeA) {
    auto engineL = create(codeA);
    EXPECT_EQ(engineL->algorithm(), codeA);
    return dynamic_cast<decltype(typeA)>(engineL.get()) != nullptr;
  };
  EXPECT_TRUE(isA(AlgL2f, static_cast<StageMatchEngine_FP_L2F*>(nullptr)));
  EXPECT_FALSE(isA(AlgL2f, static_cast<StageMatchEngine_FP_L2F360*>(nullptr)));
  EXPECT_TRUE(isA(AlgL2f360, static_cast<StageMatchEngine_FP_L2F360*>(nullptr)));
  EXPECT_TRUE(isA(AlgL2m, static_cast<StageMatchEngine_FP_L2M*>(nullptr)));
  EXPECT_TRUE(isA(AlgL1v, static_cast<StageMatchEngine_FP_L1V*>(nullptr)));
  EXPECT_TRUE(isA(AlgL2v, static_cast<StageMatchEngine_FP_L2V*>(nullptr)));
  EXPECT_TRUE(isA(AlgL2fi, static_cast<StageMatchEngine_FP_L2Fi*>(nullptr)));
  // "fvaImprovedMatching" absent or false: the old engine.
  EXPECT_TRUE(isA(AlgFva, static_cast<StageMatchEngine_FP_FVA_old*>(nullptr)));
  useFingerConfig("fvaImprovedMatching = false\n");
  EXPECT_TRUE(isA(AlgFva, static_cast<StageMatchEngine_FP_FVA_old*>(nullptr)));
  useFingerConfig("fvaImprovedMatching = true\n");
  EXPECT_TRUE(isA(AlgFva, static_cast<StageMatchEngine_FP_FVA*>(nullptr)));
  EXPECT_KXXCP_MESSAGE(create(AlgL1b), "Engine was not created, unknown algorithm !");
}

TEST_F(StageMatchEngineFingerTest, L2fEnginesNeedTheirMappingFile) {
  useConfig("");
  EXPECT_KXXCP_MESSAGE(create(AlgL2f), "Could not open logFar score mapping file: ");
  const std::string sevenL = writeFile("seven.txt", "0 0 1 1 1 1 2\n");
  useConfig("L2F360_logFarScoreMappingFile = " + sevenL + "\n");
  EXPECT_KXXCP_MESSAGE(create(AlgL2f360),
                       "Could not create logFar score mapper with: " + sevenL + "( error : 16)");
  try {
    create(AlgL2f360);
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getFunction(), "qridy::StageMatchEngine_FP_L2F::initScoreMapFile");
  }
}

TEST_F(StageMatchEngineFingerTest, L2fMapsTheMatcherScore) {
  useFingerConfig("defaultAngleTolerance = 300\nangleConfidenceThreshold = 70\n");
  auto engineL = create(AlgL2f);
  auto& l2fL = dynamic_cast<StageMatchEngine_FP_L2F&>(*engineL);
  EXPECT_TRUE(l2fL.useAngleEstimation());
  EXPECT_EQ(l2fL.defaultAngleTolerance(), 44);  // kept as a byte
  EXPECT_EQ(l2fL.angleConfidenceThreshold(), 70);
  EXPECT_EQ(engineL->getParameter(2), 2u);

  const auto probeL = impression(1, 1), mateL = impression(1, 2), impostorL = impression(2, 2);
  // The engine's score is the shipped curve at the matcher's raw score / 100.
  L2F_7::CL2FMatcher matcherL;
  matcherL.SetDefaultRotationTolerance(44);
  matcherL.SetAngleOffsetConfidenceThreshold(70);
  float rawL = 0.0f;
  ASSERT_EQ(matcherL.MatchTemplates(probeL.data(), probeL.size(), mateL.data(), mateL.size(), 2,
                                    &rawL, -1, 2550, nullptr, nullptr),
            0);
  qrscore::ScoreNormalizer* curveL = nullptr;
  ASSERT_EQ(qrscore::createNormalizerFromFile(&curveL, mappingFile("l2f.txt").c_str()), 0);
  float expectedL = 0.0f;
  qrscore::normalizeScore(curveL, rawL / 100.0f, &expectedL);
  qrscore::destroyNormalizer(curveL);
  const float mateScoreL = verify(*engineL, probeL, mateL);
  EXPECT_EQ(mateScoreL, expectedL);
  // Mapped scores read as -log10 FAR: a mate far beyond 1e-6, an impostor not.
  EXPECT_GT(mateScoreL, 6.0f);
  EXPECT_LT(verify(*engineL, probeL, impostorL), 4.0f);
  // Templates the matcher refuses score 0.
  EXPECT_EQ(verify(*engineL, probeL, std::vector<unsigned char>(mateL.begin(), mateL.end() - 1)),
            0.0f);
  EXPECT_EQ(verify(*engineL, impression(1, 2, qrfpt::kKindL2M), mateL), 0.0f);

  std::vector<unsigned char> factsL = probeL;
  factsL[2] = 45, factsL[3] = 0, factsL[5] = 0xFB;
  EXPECT_EQ(engineL->minutiaCount(factsL.data()), 45);
  EXPECT_EQ(engineL->templateInfoText(factsL.data(), 6, true),
            "probeMinutiaCount = \"45\" probeOrientation = \"-5\" ");
  factsL[3] = 1;
  EXPECT_EQ(engineL->templateInfoText(factsL.data(), 6, false),
            "galleryMinutiaCount = \"301\" galleryOrientation = \"-5\" ");
  EXPECT_EQ(engineL->templateInfoText(factsL.data(), 5, false), "");

  useFingerConfig("l2fUseAngleEstimation = false\n");
  EXPECT_FALSE(dynamic_cast<StageMatchEngine_FP_L2F&>(*create(AlgL2f)).useAngleEstimation());
}

TEST_F(StageMatchEngineFingerTest, L2f360RescalesTheMappedValue) {
  // Flat curves map every raw score to one value.
  const std::string threeL = writeFile("three.txt", "0 3 0\n20 3 0\n");
  const std::string fiveL = writeFile("five.txt", "0 5.42 0\n20 5.42 0\n");
  const std::string lowL = writeFile("low.txt", "0 2 0\n20 2 0\n");
  const auto probeL = impression(3, 1), galleryL = impression(3, 2);
  auto scoreWith = [&](const std::string& fileA, Algorithm algorithmA) {
    useConfig("L2F_logFarScoreMappingFile = " + fileA +
              "\nL2F360_logFarScoreMappingFile = " + fileA + "\n");
    return verify(*create(algorithmA), probeL, galleryL);
  };
  EXPECT_FLOAT_EQ(scoreWith(threeL, AlgL2f360), 0.03f);
  EXPECT_FLOAT_EQ(scoreWith(fiveL, AlgL2f360), 1.0f);
  EXPECT_FLOAT_EQ(scoreWith(lowL, AlgL2f360), 0.02f);
  EXPECT_FLOAT_EQ(scoreWith(fiveL, AlgL2f), 5.42f);
  EXPECT_EQ(create(AlgL2f360)->getParameter(2), 6u);
}

TEST_F(StageMatchEngineFingerTest, MappingErrorsAreReportedAndLeaveTheScoreUnmapped) {
  // A curve so steep that every raw score maps beyond the float range.
  const std::string steepL = writeFile("steep.txt", "0 0 1e300\n1 1e300 1e300\n");
  useConfig("L2F_logFarScoreMappingFile = " + steepL + "\n");
  auto engineL = create(AlgL2f);
  std::vector<std::string> errorsL;
  const kxntc::Sink previousL = kxntc::setSink([&](kxntc::Level levelA, const std::string& textA) {
    if (levelA == kxntc::Level::error) errorsL.push_back(textA);
  });
  const auto probeL = impression(3, 1), galleryL = impression(3, 2);
  L2F_7::CL2FMatcher matcherL;
  float rawL = 0.0f;
  matcherL.MatchTemplates(probeL.data(), probeL.size(), galleryL.data(), galleryL.size(), 2, &rawL,
                          -1, 2550, nullptr, nullptr);
  const float scoreL = verify(*engineL, probeL, galleryL);
  kxntc::setSink(previousL);
  EXPECT_EQ(scoreL, rawL / 100.0f);
  EXPECT_EQ(errorsL, std::vector<std::string>{"l2f score mapping error: 19"});
}

TEST_F(StageMatchEngineFingerTest, L2f360SearchesEveryRotation) {
  useFingerConfig("");
  qrfpt::FingerprintTemplate uprightL = generatorM.master(4);
  uprightL.kind = qrfpt::kKindL2F;
  qrfpt::FingerprintTemplate turnedL = uprightL;
  for (auto& m : turnedL.minutiae) {  // half a turn about (300, 300)
    m.x = static_cast<std::uint16_t>(600 - m.x + 100);
    m.y = static_cast<std::uint16_t>(600 - m.y + 100);
    m.angle = static_cast<std::uint8_t>(m.angle + 128);
  }
  std::vector<unsigned char> aL, bL;
  uprightL.encode(aL);
  turnedL.encode(bL);
  EXPECT_LT(verify(*create(AlgL2f), aL, bL), 3.0f);
  EXPECT_GT(verify(*create(AlgL2f360), aL, bL), 1.0f);  // (m - 2.92) 0.4 for m > 5.42
}

TEST_F(StageMatchEngineFingerTest, L2mStartsItsRunAtTheFirstComparison) {
  useFingerConfig("defaultAngleTolerance = 30\nfingerDisplaceMentSetting = 150\n");
  auto engineL = create(AlgL2m);
  auto& l2mL = dynamic_cast<StageMatchEngine_FP_L2M&>(*engineL);
  EXPECT_EQ(engineL->getParameter(0), 30u);
  EXPECT_EQ(engineL->getParameter(1), 150u);
  EXPECT_EQ(engineL->getParameter(3), 0u);
  const auto probeL = impression(5, 1, qrfpt::kKindL2M);
  const auto mateL = impression(5, 2, qrfpt::kKindL2M);
  const auto impostorL = impression(6, 2, qrfpt::kKindL2M);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  EXPECT_EQ(l2mL.finger().runsStarted(), 0u);
  const float mateScoreL = engineL->matchGallery(mateL.data(), static_cast<unsigned>(mateL.size()));
  EXPECT_EQ(l2mL.finger().runsStarted(), 1u);
  EXPECT_EQ(l2mL.finger().matchSettings().rotationToleranceDegrees, 30);
  EXPECT_EQ(l2mL.finger().matchSettings().maxDisplacement, 150);
  const float impostorScoreL =
      engineL->matchGallery(impostorL.data(), static_cast<unsigned>(impostorL.size()));
  EXPECT_EQ(l2mL.finger().runsStarted(), 1u);
  EXPECT_EQ(l2mL.matchCount(), 2u);
  EXPECT_GT(mateScoreL, 3.0f * impostorScoreL);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  EXPECT_EQ(l2mL.matchCount(), 0u);
  engineL->matchGallery(mateL.data(), static_cast<unsigned>(mateL.size()));
  EXPECT_EQ(l2mL.finger().runsStarted(), 2u);
  EXPECT_EQ(l2mL.verify(probeL.data(), static_cast<unsigned>(probeL.size()), mateL.data()),
            mateScoreL);

  std::vector<unsigned char> factsL = probeL;
  factsL[4] = 8;   // swipe
  factsL[6] = 42;  // quality
  EXPECT_EQ(engineL->templateInfoText(factsL.data(), static_cast<unsigned>(factsL.size()), true),
            "probeQuality = \"42\" probeMinutiaCount = \"" + std::to_string(factsL[2]) +
                "\" probeImpressionType = \"swipe\" ");
  EXPECT_EQ(engineL->templateInfoText(factsL.data(), 11, false),
            "galleryQuality = \"0\" galleryMinutiaCount = \"0\" galleryImpressionType = "
            "\"unknown\" ");
}

TEST_F(StageMatchEngineFingerTest, L2fiConvertsAProbeThatIsGalleryDataAsGallery) {
  useFingerConfig("angleConfidenceThreshold = 55\n");
  auto engineL = create(AlgL2fi);
  auto& l2fiL = dynamic_cast<StageMatchEngine_FP_L2Fi&>(*engineL);
  EXPECT_EQ(engineL->getParameter(2), 2u);
  EXPECT_EQ(engineL->getParameter(3), 55u);
  const auto probeL = impression(7, 1), mateL = impression(7, 2), impostorL = impression(8, 2);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  EXPECT_TRUE(l2fiL.convertedProbe().isProbe);
  EXPECT_EQ(l2fiL.finger().matchSettings().confidenceThreshold, 55);
  const float mateScoreL = engineL->matchGallery(mateL.data(), static_cast<unsigned>(mateL.size()));
  EXPECT_GT(mateScoreL, 3.0f * engineL->matchGallery(impostorL.data(),
                                                     static_cast<unsigned>(impostorL.size())));
  engineL->releaseProbe();
  engineL->setProbeIsGalleryData(true);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  EXPECT_FALSE(l2fiL.convertedProbe().isProbe);
  EXPECT_EQ(engineL->matchGallery(mateL.data(), static_cast<unsigned>(mateL.size())), mateScoreL);
}

// Decorated layouts by hand ------------------------------------------------------------------

class FingerVectorEngineTest : public StageMatchEngineFingerTest {
 protected:
  void SetUp() override {
    StageMatchEngineFingerTest::SetUp();
    useFingerConfig("", kLayoutConfig);
  }
  static void putMask(std::vector<unsigned char>& dataA, std::size_t offsetA, std::uint16_t maskA) {
    dataA[offsetA] = static_cast<unsigned char>(maskA);
    dataA[offsetA + 1] = static_cast<unsigned char>(maskA >> 8);
  }
};

TEST_F(FingerVectorEngineTest, L1vDividesByCommonFingersAndClampsAtZero) {
  auto engineL = create(AlgL1v);
  EXPECT_EQ(dynamic_cast<StageMatchEngine_FP_L1V&>(*engineL).featureOffset(), 80u);
  EXPECT_EQ(dynamic_cast<StageMatchEngine_FP_L1V&>(*engineL).headerLength(), 2u);
  std::vector<unsigned char> probeL(112, 0), galleryL(112, 0);
  putMask(probeL, 0, 0x0107);  // bit 8 does not count
  putMask(galleryL, 0, 0x0103);
  probeL[80] = 10, galleryL[80] = 5;      // 50
  probeL[111] = 0xFF, galleryL[111] = 3;  // -3
  probeL[79] = 100, galleryL[79] = 100;   // before F1: not compared
  EXPECT_FLOAT_EQ(verify(*engineL, probeL, galleryL), (47 / 2) * 0.0625f);
  galleryL[80] = static_cast<unsigned char>(-5);  // -53 / 2 = -26: clamped
  EXPECT_EQ(verify(*engineL, probeL, galleryL), 0.0f);
  putMask(galleryL, 0, 0x0100);
  EXPECT_EQ(verify(*engineL, probeL, galleryL), 0.0f);
}

TEST_F(FingerVectorEngineTest, L2vKeepsNegativeQuotientsAndMarksNoCommonFinger) {
  auto engineL = create(AlgL2v);
  std::vector<unsigned char> probeL(48, 0), galleryL(48, 0);
  putMask(probeL, 0, 0x0041);
  putMask(galleryL, 0, 0x0041);
  probeL[8] = galleryL[8] = 99;                                   // reserved bytes are not read
  probeL[16] = 7, galleryL[16] = static_cast<unsigned char>(-1);  // -7
  probeL[47] = 2, galleryL[47] = 2;                               // +4 -> -3
  // Two common bits? Bit 6 does not count: one.
  EXPECT_FLOAT_EQ(verify(*engineL, probeL, galleryL), -3 * 0.0625f);
  putMask(galleryL, 0, 0x0043);
  putMask(probeL, 0, 0x0043);
  EXPECT_FLOAT_EQ(verify(*engineL, probeL, galleryL), (-3 / 2) * 0.0625f);  // truncated: -1
  putMask(galleryL, 0, 0x00C0);
  EXPECT_EQ(verify(*engineL, probeL, galleryL), -300002.0f);
  auto& l2vL = dynamic_cast<StageMatchEngine_FP_L2V&>(*engineL);
  EXPECT_KXXCP_MESSAGE(l2vL.verify(probeL.data(), 48, galleryL.data()),
                       "L1V currently not implemented");
}

// Packed nibbles: value v at nibble position 3 (bits 3..0) of the first word of a block.
TEST_F(FingerVectorEngineTest, FvaWeighsBothSections) {
  useFingerConfig("fvaImprovedMatching = true\nl1vTol2vWeight = 0.25\n", kLayoutConfig);
  auto improvedL = create(AlgFva);
  useFingerConfig("fvaImprovedMatching = false\nl1vTol2vWeight = 0.25\n", kLayoutConfig);
  auto oldL = create(AlgFva);
  const auto& settingsL = dynamic_cast<StageMatchEngine_FP_FVA_old&>(*oldL).settings();
  EXPECT_EQ(settingsL.l1vOffset, 80u);
  EXPECT_EQ(settingsL.l2vMaskOffset, 112u);
  EXPECT_FLOAT_EQ(settingsL.w1, 0.25f);
  EXPECT_FLOAT_EQ(settingsL.w2, 0.75f);
  EXPECT_EQ(settingsL.fingerWeights, std::vector<float>(10, 1.0f));

  std::vector<unsigned char> probeL(160, 0), galleryL(160, 0);
  putMask(probeL, 0, 0x0C01);  // bits 10, 11 count for the improved engine only
  putMask(galleryL, 0, 0x0C01);
  probeL[80] = 0x07, galleryL[80] = 0x07;  // 49
  probeL[95] = 0x10, galleryL[95] = 0x30;  // bits 15..12 of word 7: 1 * 3
  putMask(probeL, 112, 0x0003);
  putMask(galleryL, 112, 0x0001);
  probeL[120] = galleryL[120] = 0x77;        // reserved: not read
  probeL[128] = 0x0F, galleryL[128] = 0x05;  // -1 * 5
  probeL[159] = 0x20, galleryL[159] = 0x20;  // 2 * 2
  // improved: s1 = (52 / 3) / 16, s2 = -1 / 1 / 16; old: s1 = 52 / 16
  EXPECT_FLOAT_EQ(verify(*improvedL, probeL, galleryL),
                  0.75f * (-1.0f / 16) + 0.25f * (17.0f / 16));
  EXPECT_FLOAT_EQ(verify(*oldL, probeL, galleryL), 0.75f * (-1.0f / 16) + 0.25f * (52.0f / 16));
  // Gallery bytes beyond the probe's are not compared.
  auto longerL = galleryL;
  longerL.resize(192, 0x11);
  EXPECT_EQ(verify(*improvedL, probeL, longerL), verify(*improvedL, probeL, galleryL));
  EXPECT_EQ(verify(*oldL, probeL, longerL), verify(*oldL, probeL, galleryL));
  // Without a common finger a section scores 0; a negative l1v quotient is 0 too.
  putMask(galleryL, 112, 0x0004);
  galleryL[80] = 0x09;  // 7 * -7
  EXPECT_FLOAT_EQ(verify(*improvedL, probeL, galleryL), 0.0f);
  EXPECT_FLOAT_EQ(verify(*oldL, probeL, galleryL), 0.0f);

  useFingerConfig("l1vTol2vWeight = 1.7\nfvaImprovedMatching = true\n", kLayoutConfig);
  const auto clampedEngineL = create(AlgFva);
  const auto& clampedL = dynamic_cast<StageMatchEngine_FP_FVA&>(*clampedEngineL).settings();
  EXPECT_EQ(clampedL.w1, 1.0f);
  EXPECT_EQ(clampedL.w2, 0.0f);
}

TEST_F(FingerVectorEngineTest, FvaReleasesItsExpansions) {
  useFingerConfig("fvaImprovedMatching = true\n", kLayoutConfig);
  auto engineL = create(AlgFva);
  std::vector<unsigned char> probeL(160, 0x11);
  putMask(probeL, 0, 1);
  engineL->setProbeForIdentification(probeL.data(), 160);
  EXPECT_NE(engineL->matchGallery(probeL.data(), 160), 0.0f);
  engineL->setProbeIsGalleryData(true);
  engineL->releaseProbe();
  EXPECT_FALSE(engineL->probeIsGalleryData());
  EXPECT_EQ(engineL->matchGallery(probeL.data(), 160), 0.0f);
}

TEST_F(FingerVectorEngineTest, EveryKernelPathGivesTheScalarScore) {
  useFingerConfig("fvaImprovedMatching = true\nl1vTol2vWeight = 0.4\n", kLayoutConfig);
  std::vector<std::unique_ptr<StageMatchEngine_Base>> enginesL;
  for (Algorithm a : {AlgL1v, AlgL2v, AlgFva}) enginesL.push_back(create(a));
  useFingerConfig("l1vTol2vWeight = 0.4\n", kLayoutConfig);
  enginesL.push_back(create(AlgFva));
  auto useLevel = [](StageMatchEngine_Base& engineA, const kernels::KernelSet& setA) {
    if (auto* e = dynamic_cast<StageMatchEngine_FP_L1V*>(&engineA)) e->useKernels(setA);
    if (auto* e = dynamic_cast<StageMatchEngine_FP_L2V*>(&engineA)) e->useKernels(setA);
    if (auto* e = dynamic_cast<StageMatchEngine_FP_FVA*>(&engineA)) e->useKernels(setA);
    if (auto* e = dynamic_cast<StageMatchEngine_FP_FVA_old*>(&engineA)) e->useKernels(setA);
  };
  for (int round = 0; round < 20; ++round) {
    // Sizes around whole blocks, masks that overlap in a few bits.
    const std::size_t sizeL = 128 + 16 * (round % 5) + (round % 3);
    auto probeL = quarlen_test::randomBytes(rngM, sizeL);
    auto galleryL = quarlen_test::randomBytes(rngM, sizeL + (round % 4) * 16);
    for (auto& engineL : enginesL) {
      useLevel(*engineL, kernels::kernelsFor(CpuFeatures::Scalar));
      const float scalarL = verify(*engineL, probeL, galleryL);
      for (int level = CpuFeatures::Scalar + 1; level <= CpuFeatures::Avx512; ++level) {
        useLevel(*engineL, kernels::kernelsFor(static_cast<CpuFeatures::Level>(level)));
        EXPECT_EQ(verify(*engineL, probeL, galleryL), scalarL)
            << engineL->algorithm() << " level " << level << " round " << round;
      }
    }
  }
}

TEST_F(FingerVectorEngineTest, HostileSizesScoreWithoutReadingBeyondTheData) {
  useFingerConfig("fvaImprovedMatching = true\n", kLayoutConfig);
  std::vector<std::unique_ptr<StageMatchEngine_Base>> enginesL;
  for (Algorithm a : {AlgL2f, AlgL2f360, AlgL2m, AlgL2fi, AlgL1v, AlgL2v, AlgFva}) {
    enginesL.push_back(create(a));
  }
  useFingerConfig("", kLayoutConfig);
  enginesL.push_back(create(AlgFva));
  auto fullL = impression(9, 1);
  fullL.resize(200, 0xFF);
  fullL[0] = 0xFF, fullL[1] = 0xFF;  // every mask bit; not an l2f kind
  for (auto& engineL : enginesL) {
    const float noUnitL = engineL->algorithm() == AlgL2v ? -300002.0f : 0.0f;
    for (unsigned probeSizeL : {0u, 1u, 2u, 17u, 200u}) {
      for (unsigned gallerySizeL : {0u, 1u, 3u, 81u, 113u}) {
        // Exactly sized copies: asan reports any read past them.
        std::vector<unsigned char> probeL(fullL.begin(), fullL.begin() + probeSizeL);
        std::vector<unsigned char> galleryL(fullL.begin(), fullL.begin() + gallerySizeL);
        const float scoreL =
            engineL->verify(probeL.data(), probeSizeL, galleryL.data(), gallerySizeL);
        // The probe is padded with zeros, the gallery's size is taken as given.
        if (gallerySizeL < 2 || probeSizeL == 0) {
          EXPECT_EQ(scoreL, noUnitL) << engineL->algorithm();
        }
      }
    }
  }
  // An l2f count beyond the template's size.
  auto countL = impression(9, 1);
  countL[2] = 0xFF;
  EXPECT_EQ(verify(*enginesL[0], impression(9, 2), countL), 0.0f);
}

TEST_F(StageMatchEngineFingerTest, WritesFuzzSeedsOnRequest) {
  const char* requestL = std::getenv("QUARLEN_WRITE_SEEDS");
  if (requestL == nullptr || std::string(requestL) != "1") GTEST_SKIP() << "seeds not requested";
  const std::string dataDirL = QUARLEN_TEST_DATA_DIR;  // <source>/tests/data
  const std::string dirL =
      dataDirL.substr(0, dataDirL.rfind("/tests/data")) + "/fuzz/seeds/fuzz_match_engines/";
  // The finger engines' places in the fuzz target's engine list, after the face and iris ones.
  const std::pair<Algorithm, unsigned char> codesL[] = {{AlgL2f, 17}, {AlgL2m, 18},    {AlgL1v, 19},
                                                        {AlgL2v, 20}, {AlgL2f360, 21}, {AlgFva, 22},
                                                        {AlgL2fi, 23}};
  for (const auto& [codeL, indexL] : codesL) {
    std::vector<unsigned char> probeL, galleryL;
    switch (codeL) {
      case AlgL2m:
        probeL = impression(1, 1, qrfpt::kKindL2M);
        galleryL = impression(1, 2, qrfpt::kKindL2M);
        break;
      case AlgL1v:
      case AlgL2v:
      case AlgFva:  // the fuzz target's layout: F1 = 80, F2 = 112, 160 bytes
        probeL = quarlen_test::randomBytes(rngM, 160);
        galleryL = quarlen_test::randomBytes(rngM, 160);
        break;
      default:
        probeL = impression(1, 1);
        galleryL = impression(1, 2);
    }
    std::string seedL(1, static_cast<char>(indexL));
    seedL += static_cast<char>(probeL.size() & 0xFF);
    seedL += static_cast<char>(probeL.size() >> 8);
    seedL.append(probeL.begin(), probeL.end());
    seedL.append(galleryL.begin(), galleryL.end());
    std::ofstream fileL(dirL + Types::algorithm2Text(codeL) + ".bin",
                        std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(fileL.good()) << dirL;
    fileL.write(seedL.data(), static_cast<std::streamsize>(seedL.size()));
  }
}

}  // namespace
}  // namespace qridy
