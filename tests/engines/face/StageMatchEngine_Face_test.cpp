// The score formulas of the face engines, on inputs small enough to compute by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <qrlface/FaceHGM.h>
#include <qrlface/LFAEngine.h>
#include <qrlface/STAEngine.h>
#include <quarlen/StageMatchEngine_Base.h>

#include "engines/face/StageMatchEngine_Face_HGM.h"
#include "engines/face/StageMatchEngine_Face_HgmByte.h"
#include "engines/face/StageMatchEngine_Face_HgmFloat.h"
#include "engines/face/StageMatchEngine_Face_HgmPyr.h"
#include "engines/face/StageMatchEngine_Face_LFA.h"
#include "engines/face/StageMatchEngine_Face_Vector.h"
#include "support/EngineTesting.h"
#include "support/ExceptionMatchers.h"

namespace qridy {
namespace {

template <typename T>
std::vector<unsigned char> bytesOf(const std::vector<T>& valuesA) {
  std::vector<unsigned char> bL(valuesA.size() * sizeof(T));
  std::memcpy(bL.data(), valuesA.data(), bL.size());
  return bL;
}

class StageMatchEngineFaceTest : public quarlen_test::EngineConfigTest {
 protected:
  static float verify(StageMatchEngine_Base& engineA, const std::vector<unsigned char>& probeA,
                      const std::vector<unsigned char>& galleryA) {
    return engineA.verify(probeA.data(), static_cast<unsigned>(probeA.size()), galleryA.data(),
                          static_cast<unsigned>(galleryA.size()));
  }
  std::vector<unsigned char> randomBytes(std::size_t nA) {
    return quarlen_test::randomBytes(rngM, nA);
  }
  std::vector<float> randomFloats(std::size_t nA) {
    std::uniform_real_distribution<float> dL(-1.0f, 1.0f);
    std::vector<float> vL(nA);
    for (auto& v : vL) v = dL(rngM);
    return vL;
  }

  std::mt19937 rngM{5};
};

TEST_F(StageMatchEngineFaceTest, HgmCountsEqualBitsOfWholeBlocks) {
  auto engineL = create(AlgHgm);
  const auto aL = randomBytes(64);
  auto notL = aL;
  for (auto& b : notL) b = static_cast<unsigned char>(~b);
  EXPECT_EQ(verify(*engineL, aL, aL), 1.0f);
  EXPECT_EQ(verify(*engineL, aL, notL), 0.0f);
  auto oneL = aL;
  oneL[40] ^= 0x10;
  EXPECT_EQ(verify(*engineL, aL, oneL), 511.0f / 512.0f);
  // 20 bytes: the last 4 are a partial block, not compared, but counted as bits.
  std::vector<unsigned char> shortL(aL.begin(), aL.begin() + 20),
      shortNotL(notL.begin(), notL.begin() + 20);
  std::copy(aL.begin() + 16, aL.begin() + 20, shortNotL.begin() + 16);
  EXPECT_EQ(verify(*engineL, shortL, shortNotL), 32.0f / 160.0f);
}

TEST_F(StageMatchEngineFaceTest, HgmPyrBitWeighsItsScales) {
  useConfig(
      "hgmPyrBit_nScales = 3\nhgmPyrBit_scaleSizesBit = 256, 512, 1024\nhgmPyrBit_weights = 1 1 "
      "2\n");
  auto engineL = create(AlgHgmPyrBit);
  auto& pyrL = dynamic_cast<StageMatchEngine_Face_HgmPyrBit&>(*engineL);
  EXPECT_EQ(pyrL.normaliser(), 2816.0f);
  const auto probeL = randomBytes(224);
  auto galleryL = probeL;
  galleryL[0] ^= 0xFF;    // 8 bits in scale 0 (bytes 0..31)
  galleryL[33] ^= 0x01;   // 1 bit in scale 1 (bytes 32..95)
  galleryL[100] ^= 0x0F;  // 4 bits in scale 2 (bytes 96..223)
  EXPECT_EQ(verify(*engineL, probeL, galleryL), (248.0f + 511.0f + 2.0f * 1020.0f) / 2816.0f);
  ASSERT_EQ(pyrL.scales().size(), 3u);
  EXPECT_EQ(pyrL.scales()[2].lastDifference, 4u);
  EXPECT_EQ(pyrL.scales()[1].sizeBytes, 64u);

  EXPECT_KXXCP_MESSAGE(verify(*engineL, randomBytes(100), randomBytes(100)),
                       "Template smaller than the configured scales : '100' bytes.");
  useConfig(
      "hgmPyrBit_nScales = 3\nhgmPyrBit_scaleSizesBit = 256, 512\nhgmPyrBit_weights = 1 1 2\n");
  EXPECT_KXXCP_MESSAGE(
      create(AlgHgmPyrBit),
      "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmPyrBit_scaleSizesBit\n");
  useConfig(
      "hgmPyrBit_nScales = 2\nhgmPyrBit_scaleSizesBit = 256, 512\nhgmPyrBit_weights = 1 1 2\n");
  EXPECT_KXXCP_MESSAGE(create(AlgHgmPyrBit),
                       "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmPyrBit_weights\n");
  // Without scales the whole template is one scale: the hgm score.
  useConfig("");
  auto plainL = create(AlgHgmPyrBit);
  auto hgmL = create(AlgHgm);
  EXPECT_EQ(verify(*plainL, probeL, galleryL), verify(*hgmL, probeL, galleryL));
}

TEST_F(StageMatchEngineFaceTest, SmwSbAddsOrSubtractsEachFloatByItsGalleryBit) {
  auto engineL = create(AlgHgmPyrBitSmwSb);
  const std::vector<float> fL = {1, 2, 3, 4, 5, 6, 7, 8};
  // +1 +2 +3 +4 -5 -6 -7 -8 = -16; / 8 bits = -2; 0.5 * -2 + 0.5 = -0.5.
  EXPECT_EQ(verify(*engineL, bytesOf(fL), {0xF0}), -0.5f);
  const std::vector<float> onesL(16, 1.0f);
  EXPECT_EQ(verify(*engineL, bytesOf(onesL), {0xFF, 0xFF}), 1.0f);
  EXPECT_EQ(verify(*engineL, bytesOf(onesL), {0x00, 0x00}), 0.0f);
  // A gallery longer than the probe covers is cut to the probe's floats.
  EXPECT_EQ(verify(*engineL, bytesOf(onesL), {0xFF, 0xFF, 0x00, 0x00}), 1.0f);
}

TEST_F(StageMatchEngineFaceTest, JimAndPyramidByteEnginesScaleTheirDotProducts) {
  const std::vector<unsigned char> onesL(16, 1), twosL(16, 2);
  EXPECT_EQ(verify(*create(AlgL3Jim), onesL, twosL), 0.5f * 32.0f / 1971055.875f + 0.5f);
  EXPECT_EQ(verify(*create(AlgHgmPyrByte), onesL, twosL), 0.5f * 32.0f / 1651524.0f + 0.5f);
  // Nibbles: all 7 against all -8: 32 products of -56.
  const std::vector<unsigned char> sevensL(16, 0x77), minusEightsL(16, 0x88);
  const float expectedL = 0.5f * -1792.0f / 7930.78515625f + 0.5f;
  EXPECT_EQ(verify(*create(AlgL2Jim), sevensL, minusEightsL), expectedL);
  EXPECT_EQ(verify(*create(AlgL1Jim), sevensL, minusEightsL), expectedL);
  // The expanded probe of l1Jim gives exactly the l2Jim score.
  for (int i = 0; i < 10; ++i) {
    const auto aL = randomBytes(48 + 16 * i), bL = randomBytes(48 + 16 * i);
    EXPECT_EQ(verify(*create(AlgL1Jim), aL, bL), verify(*create(AlgL2Jim), aL, bL));
  }
}

TEST_F(StageMatchEngineFaceTest, VfaIsZeroForNegativeDotProducts) {
  auto engineL = create(AlgVfa);
  const std::vector<unsigned char> maxL(16, 127), minusL(16, 0x81);
  EXPECT_EQ(verify(*engineL, maxL, maxL), 1.0f);  // 16 * 127^2 = 258064
  EXPECT_EQ(verify(*engineL, maxL, minusL), 0.0f);
  EXPECT_FALSE(std::signbit(verify(*engineL, maxL, minusL)));
}

TEST_F(StageMatchEngineFaceTest, HgmPyrFloatAddsOneToTheDotProduct) {
  auto engineL = create(AlgHgmPyrFloat);
  EXPECT_EQ(verify(*engineL, bytesOf(std::vector<float>{1, 2, 3, 4}),
                   bytesOf(std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f})),
            6.0f);
  // The gallery size counts in bytes: six floats of the gallery, as far as the probe reaches.
  EXPECT_EQ(verify(*engineL, bytesOf(std::vector<float>{1, 1, 1, 1, 1, 1, 1, 1}),
                   bytesOf(std::vector<float>{1, 1, 1, 1, 1, 1})),
            7.0f);
}

TEST_F(StageMatchEngineFaceTest, HgmFloatDotProductAndNodeWeights) {
  auto engineL = create(AlgHgmFloat);
  ASSERT_FALSE(dynamic_cast<StageMatchEngine_Face_HgmFloat&>(*engineL).useProMatNorm());
  std::vector<float> unitL(256, 0.0625f);  // 256 * 0.0625^2 = 1
  std::vector<float> oppositeL(256, -0.0625f);
  EXPECT_EQ(verify(*engineL, bytesOf(unitL), bytesOf(unitL)), 1.0f);
  EXPECT_EQ(verify(*engineL, bytesOf(unitL), bytesOf(oppositeL)), 0.0f);

  // Two sections: 2 blocks of 2 floats and 1 block of 4; node weights 1, 3 | 2; section weights
  // 1, 3; squared norms 2, 4. All ones: block dots 2, 2, 4; T0 = (2 + 6) / 4 / 2 * 1 = 1,
  // T1 = 8 / 2 / 4 * 3 = 3; d = 4 / 4 = 1; score 1.
  useConfig(
      "hgmFloat_useNodeWeights = 1\nhgmFloat_nFeatureSections = 2\nhgmFloat_nSectionBlocks = 2 1\n"
      "hgmFloat_sectionBlockSizes = 2 4\nhgmFloat_sectionWeights = 1 3\n"
      "hgmFloat_sectionBlocksSquaredL2norms = 2 4\nhgmFloat_node_weights = 1 3 2\n");
  const auto weightingL = engines::SectionWeighting::read("hgmFloat_");
  ASSERT_TRUE(weightingL.error.empty());
  EXPECT_EQ(weightingL.totalWeight, 4.0f);
  EXPECT_EQ(weightingL.nodeWeightSums, (std::vector<float>{4.0f, 2.0f}));
  StageMatchEngine_Face_HgmFloat weightedL(weightingL);
  const std::vector<float> onesL(8, 1.0f);
  EXPECT_EQ(verify(weightedL, bytesOf(onesL), bytesOf(onesL)), 1.0f);
  // Block 1 of section 0 opposite: T0 = (2 - 6) / 4 / 2 = -0.5; d = (-0.5 + 3) / 4; score
  // 0.5 * 0.625 + 0.5.
  std::vector<float> gL = onesL;
  gL[2] = gL[3] = -1.0f;
  EXPECT_EQ(verify(weightedL, bytesOf(onesL), bytesOf(gL)), 0.8125f);
  EXPECT_KXXCP_MESSAGE(verify(weightedL, bytesOf(std::vector<float>(4, 1.0f)), bytesOf(onesL)),
                       "Template smaller than the configured feature sections : 4");

  useConfig(
      "hgmFloat_useNodeWeights = 1\nhgmFloat_nFeatureSections = 2\nhgmFloat_nSectionBlocks = 2 1\n"
      "hgmFloat_sectionBlockSizes = 2 4\nhgmFloat_sectionWeights = 1 3\n"
      "hgmFloat_sectionBlocksSquaredL2norms = 2 4\nhgmFloat_node_weights = 1 3\n");
  EXPECT_KXXCP_MESSAGE(StageMatchEngine_Face_HgmFloat(engines::SectionWeighting::read("hgmFloat_")),
                       "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmFloat_node_weights\n");
}

TEST_F(StageMatchEngineFaceTest, HgmFloatProjectionMatrixNormalisation) {
  useConfig(
      "hgmFloat_useProMatNorm = 1\nhgmFloat_proMatNormStdDev = 2\nhgmFloat_proMatNormMu = 0.5\n");
  auto engineL = create(AlgHgmFloat);
  // P = 2; probe made with matrix 0, gallery with matrix 1; then means, second moments, features.
  const std::vector<float> probeL = {2, 0, 0.4f, 0.6f, 0.2f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  const std::vector<float> galleryL = {2, 1, 0.3f, 0.7f, 0.1f, 0.4f, 1.0f, 0.0f, 0.0f, 0.0f};
  // dot = 0.5 -> 0.75; mean = (0.3 + 0.6) / 2; second = (0.1 + 0.5) / 2.
  const float meanL = 0.5f * (0.3f + 0.6f);
  const float secondL = 0.5f * (0.1f + 0.5f);
  const float expectedL = (0.75f - meanL) / std::sqrt(secondL - meanL * meanL) * 2.0f + 0.5f;
  EXPECT_EQ(verify(*engineL, bytesOf(probeL), bytesOf(galleryL)), expectedL);

  auto p3L = probeL;
  p3L[0] = 3;
  auto g4L = galleryL;
  g4L[0] = 4;
  EXPECT_KXXCP_MESSAGE(
      verify(*engineL, bytesOf(p3L), bytesOf(g4L)),
      "Unexpected number of projection matrices inconsistent probe != gallery : 3/4");
  std::vector<float> bigL(210, 0.0f);
  bigL[0] = 101;
  EXPECT_KXXCP_MESSAGE(verify(*engineL, bytesOf(bigL), bytesOf(bigL)),
                       "Number of projection matrices (>100) : 101");
  auto badIndexL = galleryL;
  badIndexL[1] = 2;
  EXPECT_KXXCP_MESSAGE(verify(*engineL, bytesOf(probeL), bytesOf(badIndexL)),
                       "Projection matrix index out of range : 2");
  // The whitening entry skips the gallery header only (the whitened probe has the template's
  // length, its features first) and does not normalise.
  auto& floatEngineL = dynamic_cast<StageMatchEngine_Face_HgmFloat&>(*engineL);
  const std::vector<float> whitenedL = {0.5f, 0.5f, 0.5f, 0.5f, 9, 9, 9, 9, 9, 9};
  engineL->setProbeForIdentification(bytesOf(whitenedL).data(), 40);
  const auto gBytesL = bytesOf(galleryL);
  EXPECT_EQ(floatEngineL.identifyFloatProbeWoPMN(gBytesL.data(), 40), 0.75f);
}

TEST_F(StageMatchEngineFaceTest, HgmByteWithAndWithoutNodeWeights) {
  auto engineL = create(AlgHgmByte);
  const float sL = dynamic_cast<StageMatchEngine_Face_HgmByte&>(*engineL).settings().scale;
  EXPECT_EQ(sL, 127.0f);
  const std::vector<unsigned char> aL = randomBytes(48), bL = randomBytes(48);
  std::int64_t dotL = 0;
  for (int i = 0; i < 48; ++i)
    dotL += static_cast<signed char>(aL[i]) * static_cast<signed char>(bL[i]);
  EXPECT_EQ(verify(*engineL, aL, bL), 0.5f * static_cast<float>(dotL) / (sL * sL) + 0.5f);

  // With node weights the score is the weighted dot product of p/s - 1 and g/s - 1.
  useConfig(
      "hgmByte_useNodeWeights = 1\nhgmByte_nFeatureSections = 2\nhgmByte_nSectionBlocks = 3 2\n"
      "hgmByte_sectionBlockSizes = 5 9\nhgmByte_sectionWeights = 0.5 1.5\n"
      "hgmByte_sectionBlocksSquaredL2norms = 3 7\nhgmByte_node_weights = 1 2 0.5 1.5 1\n");
  StageMatchEngine_Face_HgmByte::Settings settingsL;
  settingsL.weighting = engines::SectionWeighting::read("hgmByte_");
  settingsL.scale = sL;
  StageMatchEngine_Face_HgmByte weightedL(settingsL);
  const std::vector<unsigned int> blocksL = {3, 2}, sizesL = {5, 9};
  const std::vector<double> sectionWL = {0.5, 1.5}, normsL = {3, 7}, nodeWL = {1, 2, 0.5, 1.5, 1};
  double sumL = 0;
  std::size_t posL = 0, nodeL = 0;
  for (int s = 0; s < 2; ++s) {
    double accL = 0, nwL = 0;
    for (unsigned b = 0; b < blocksL[s]; ++b, ++nodeL) {
      for (unsigned i = 0; i < sizesL[s]; ++i, ++posL) {
        accL += nodeWL[nodeL] * (static_cast<signed char>(aL[posL]) / sL - 1.0) *
                (static_cast<signed char>(bL[posL]) / sL - 1.0);
      }
      nwL += nodeWL[nodeL];
    }
    sumL += accL / nwL / normsL[s] * sectionWL[s];
  }
  EXPECT_NEAR(verify(weightedL, aL, bL), 0.5 * sumL / 2.0 + 0.5, 1e-5);
}

TEST_F(StageMatchEngineFaceTest, ProcessWideSettingsAreReadOnceAndSafelyOnManyThreads) {
  // Whatever configuration the first construction saw stays.
  std::vector<std::thread> threadsL;
  for (int t = 0; t < 8; ++t) {
    threadsL.emplace_back([] {
      for (Algorithm a : {AlgHgmFloat, AlgHgmByte, AlgHgmPyr})
        delete StageMatchEngine_Base::createStageEngine(a);
    });
  }
  for (auto& t : threadsL) t.join();
  const engines::SectionWeighting beforeL = StageMatchEngine_Face_HgmFloat::processWeighting();
  const bool byteBeforeL =
      StageMatchEngine_Face_HgmByte::processSettings().weighting.useNodeWeights;
  const std::string typeBeforeL = StageMatchEngine_Face_HgmPyr::processSettings().dataType;
  useConfig(
      "hgmFloat_useNodeWeights = 1\nhgmFloat_nFeatureSections = 1\nhgmFloat_nSectionBlocks = 1\n"
      "hgmFloat_sectionBlockSizes = 4\nhgmFloat_sectionWeights = 1\n"
      "hgmFloat_sectionBlocksSquaredL2norms = 1\nhgmFloat_node_weights = 1\n"
      "hgmByte_useNodeWeights = 1\nhgmPyr_dataType = bit\n");
  auto engineL = create(AlgHgmFloat);
  EXPECT_EQ(dynamic_cast<StageMatchEngine_Face_HgmFloat&>(*engineL).weighting().useNodeWeights,
            beforeL.useNodeWeights);
  EXPECT_EQ(StageMatchEngine_Face_HgmByte::processSettings().weighting.useNodeWeights, byteBeforeL);
  EXPECT_EQ(StageMatchEngine_Face_HgmPyr::processSettings().dataType, typeBeforeL);
}

TEST_F(StageMatchEngineFaceTest, HgmPyrScoresThroughTheFaceLibrary) {
  auto engineL = create(AlgHgmPyr);
  kxegm::PyramidLevel levelL;
  levelL.nodeCount = 4;
  levelL.featureLength = 8;
  levelL.features = randomFloats(32);
  const auto templateL = kxegm::FaceHGM::encodeTemplate(kxegm::PyramidDataType::Float, {levelL});
  EXPECT_EQ(engineL->matchGallery(templateL.data(), static_cast<unsigned>(templateL.size())), 0.0f)
      << "no probe";
  EXPECT_NEAR(verify(*engineL, templateL, templateL), 1.0f, 1e-6);
  engineL->setProbeForIdentification(templateL.data(), static_cast<unsigned>(templateL.size()));
  const std::vector<unsigned char> junkL(40, 0x33);
  EXPECT_EQ(engineL->matchGallery(junkL.data(), 40), 0.0f);
  // releaseProbe leaves the library probe.
  engineL->releaseProbe();
  EXPECT_TRUE(dynamic_cast<StageMatchEngine_Face_HgmPyr&>(*engineL).hasProbeTemplate());
  EXPECT_NEAR(engineL->matchGallery(templateL.data(), static_cast<unsigned>(templateL.size())),
              1.0f, 1e-6);
}

TEST_F(StageMatchEngineFaceTest, StaScoresThroughTheFaceLibrary) {
  auto engineL = create(AlgSta);
  std::vector<kxegm::STAPoint> pointsL(5);
  for (auto& p : pointsL) p.descriptor = randomFloats(24);
  const auto galleryL = kxegm::STAEngine::encode(pointsL, true);
  const auto probeL = kxegm::STAEngine::encode(pointsL, false);
  EXPECT_NEAR(verify(*engineL, probeL, galleryL), 1.0f, 1e-4);
  for (auto& p : pointsL) p.descriptor = randomFloats(24);
  const auto otherL = kxegm::STAEngine::encode(pointsL, true);
  const float impostorL = verify(*engineL, probeL, otherL);
  EXPECT_GT(impostorL, 0.0f);
  EXPECT_LT(impostorL, 0.9f);
}

TEST_F(StageMatchEngineFaceTest, LfaNormalisesBlockScoresForIlmSbOnly) {
  // Two blocks: the first identical (+1), the second opposite (-1).
  const auto fL = randomFloats(40);
  auto gFeaturesL = fL;
  for (std::size_t i = 20; i < 40; ++i) gFeaturesL[i] = -gFeaturesL[i];
  // Side vectors: means 0.5, 0 and deviations 0.25, 1 on both sides, so m is the same:
  // z = (1 - 0.5) / 0.25 = 2 and (-1 - 0) / 1 = -1; score (4 - 1) / 2 = 1.5.
  const std::vector<float> meansL = {0.5f, 0.0f}, deviationsL = {0.25f, 1.0f};
  for (Algorithm codeL : {AlgLfa, AlgLfaIlmSb}) {
    auto engineL = create(codeL);
    const auto probeL = kxegm::LFAEngine::encode(codeL, 2, 20, fL, meansL, deviationsL);
    const auto galleryL = kxegm::LFAEngine::encode(codeL, 2, 20, gFeaturesL, meansL, deviationsL);
    const float scoreL = verify(*engineL, probeL, galleryL);
    if (codeL == AlgLfa) {
      EXPECT_NEAR(scoreL, 0.5f, 1e-4);  // 0.5 * mean(+1, -1) + 0.5
    } else {
      EXPECT_NEAR(scoreL, 1.5f, 1e-3);
    }
    const auto& blockScoresL = dynamic_cast<StageMatchEngine_Face_LFA&>(*engineL).blockScores();
    ASSERT_EQ(blockScoresL.size(), 2u);
    EXPECT_NEAR(blockScoresL[1], -1.0f, 1e-4);
    // Gallery bytes that are no template: 0.0.
    EXPECT_EQ(verify(*engineL, probeL, std::vector<unsigned char>(32, 7)), 0.0f);
  }
  // lfaIlmSb with an empty gallery side vector: -1.0.
  auto ilmL = create(AlgLfaIlmSb);
  const auto probeL = kxegm::LFAEngine::encode(AlgLfaIlmSb, 2, 20, fL, meansL, deviationsL);
  const auto bareL = kxegm::LFAEngine::encode(AlgLfaIlmSb, 2, 20, gFeaturesL, {}, {});
  EXPECT_EQ(verify(*ilmL, probeL, bareL), -1.0f);
  EXPECT_EQ(
      StageMatchEngine_Face_LFA::normaliseBlockScores({1.0f}, MX::BVector<float>(), {0.5f, 1.0f}),
      -1.0f);
  EXPECT_EQ(StageMatchEngine_Face_LFA::normaliseBlockScores(
                {1.0f}, MX::BVector<float>(std::vector<float>{0.5f}), {0.5f}),
            -1.0f)
      << "side vectors shorter than 2L";
}

TEST_F(StageMatchEngineFaceTest, ScoresAreTheSameBitsOnEveryProcessorPath) {
  const Algorithm codesL[] = {AlgHgm,         AlgHgmByte,       AlgHgmPyrByte, AlgL1Jim,
                              AlgL2Jim,       AlgL3Jim,         AlgVfa,        AlgHgmFloat,
                              AlgHgmPyrFloat, AlgHgmPyrBitSmwSb};
  for (Algorithm codeL : codesL) {
    auto engineL = create(codeL);
    auto& vectorL = dynamic_cast<StageMatchEngine_Face_Vector&>(*engineL);
    for (std::size_t n : {std::size_t{16}, std::size_t{100}, std::size_t{1031}}) {
      const auto probeL = bytesOf(randomFloats(n));
      const auto galleryL = bytesOf(randomFloats(n));
      vectorL.useKernels(kernels::kernelsFor(CpuFeatures::Scalar));
      const float referenceL = verify(*engineL, probeL, galleryL);
      for (int level = CpuFeatures::Sse41; level <= CpuFeatures::Avx512Popcnt; ++level) {
        vectorL.useKernels(kernels::kernelsFor(static_cast<CpuFeatures::Level>(level)));
        const float scoreL = verify(*engineL, probeL, galleryL);
        EXPECT_EQ(std::memcmp(&scoreL, &referenceL, 4), 0)
            << Types::algorithm2Text(codeL) << " " << vectorL.kernelSet().name << " " << n;
      }
    }
  }
}

TEST_F(StageMatchEngineFaceTest, ShortGalleriesAreReadOnlyAsFarAsBothReach) {
  // A gallery shorter than the probe: the engines read no further than the padded gallery.
  for (Algorithm codeL : {AlgHgm, AlgHgmByte, AlgHgmPyrByte, AlgL1Jim, AlgL2Jim, AlgL3Jim, AlgVfa,
                          AlgHgmFloat, AlgHgmPyrFloat, AlgHgmPyrBitSmwSb}) {
    auto engineL = create(codeL);
    // Bytes of finite floats, so that the float engines have numbers to add.
    const auto probeL = bytesOf(randomFloats(128));
    const auto galleryL = bytesOf(randomFloats(5));
    const float scoreL = verify(*engineL, probeL, galleryL);
    EXPECT_FALSE(std::isnan(scoreL)) << Types::algorithm2Text(codeL);
  }
}

}  // namespace
}  // namespace qridy
