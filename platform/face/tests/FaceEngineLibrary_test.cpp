// The face library's matchers as the face engines use them: pyramid (HGM), STA and LFA
// templates, the bit count, the byte scale and the small vector.
#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlface/BVector.h>
#include <qrlface/ByteMinimalGraph.h>
#include <qrlface/FaceHGM.h>
#include <qrlface/LFAEngine.h>
#include <qrlface/STAEngine.h>
#include <qrlface/XorSum.h>

namespace {

using kxegm::PyramidDataType;
using kxegm::PyramidLevel;

template <typename Fn>
std::string messageOf(Fn fnA) {
  try {
    fnA();
  } catch (const kxxcp::Exception& e) {
    return e.getMessage();
  }
  return "(no exception)";
}

class FaceEngineLibraryTest : public ::testing::Test {
 protected:
  std::vector<float> randomValues(std::size_t nA) {
    std::uniform_real_distribution<float> dL(-1.0f, 1.0f);
    std::vector<float> vL(nA);
    for (auto& v : vL) v = dL(rngM);
    return vL;
  }
  static std::vector<float> negated(std::vector<float> vA) {
    for (auto& v : vA) v = -v;
    return vA;
  }
  PyramidLevel level(std::uint16_t nodesA, std::uint16_t lengthA, float weightA,
                     std::vector<float> featuresA) {
    PyramidLevel lL;
    lL.nodeCount = nodesA;
    lL.featureLength = lengthA;
    lL.weight = weightA;
    lL.features = std::move(featuresA);
    return lL;
  }
  float matchPyramids(const kxegm::FaceHGM& hgmA, const std::vector<unsigned char>& galleryA,
                      const std::vector<unsigned char>& probeA) {
    const kxegm::FaceHGMTemplate gL(galleryA.data(), galleryA.size(), hgmA);
    const kxegm::FaceHGMTemplate pL(probeA.data(), probeA.size(), hgmA);
    return hgmA.match(gL, pL);
  }

  std::mt19937 rngM{99};
  const kxegm::FaceHGM anyM{"cfg/Face/HGMPyr/", "none", "", "", false, ""};
};

TEST_F(FaceEngineLibraryTest, XorSumCountsDifferingBitsOfWholeBlocks) {
  std::vector<unsigned char> aL(16 * 9 + 3), bL(16 * 9 + 3);
  for (auto& v : aL) v = static_cast<unsigned char>(rngM());
  for (auto& v : bL) v = static_cast<unsigned char>(rngM());
  unsigned char scratchL[16];
  for (std::uint32_t blocks = 0; blocks <= 9; ++blocks) {
    const std::uint32_t countL = kxegm::xorSum64(aL.data(), bL.data(), blocks, scratchL);
    std::uint32_t expectedL = 0;
    for (std::size_t i = 0; i < 16u * blocks; ++i)
      expectedL += std::bitset<8>(aL[i] ^ bL[i]).count();
    EXPECT_EQ(countL, expectedL);
    std::uint64_t lowL = 0, highL = 0;
    for (int i = 7; i >= 0; --i) {
      lowL = (lowL << 8) | scratchL[i];
      highL = (highL << 8) | scratchL[8 + i];
    }
    EXPECT_EQ(lowL + highL, countL);
  }
}

TEST_F(FaceEngineLibraryTest, ByteScaleQuantisesTheUnitRange) {
  EXPECT_EQ(kxegm::ByteMinimalGraph::scale(), 127.0f);
  EXPECT_EQ(kxegm::ByteMinimalGraph::quantize(1.0f), 127);
  EXPECT_EQ(kxegm::ByteMinimalGraph::quantize(-1.0f), -127);
  EXPECT_EQ(kxegm::ByteMinimalGraph::quantize(-3.0f), -127);
  EXPECT_EQ(kxegm::ByteMinimalGraph::quantize(0.5f), 64);
  EXPECT_EQ(kxegm::ByteMinimalGraph::quantize(std::nanf("")), 0);
}

TEST_F(FaceEngineLibraryTest, BVectorDotAndDimensionMismatch) {
  MX::BVector<float> aL(std::vector<float>{1, 2, 3});
  MX::BVector<float> bL(std::vector<float>{4, 5, 6});
  EXPECT_EQ(aL * bL, 32.0f);
  bL.append({7.0f});
  EXPECT_EQ(messageOf([&] { return aL * bL; }),
            "Try combine vectors of dimensions 3 and 4 in BVector<T>::operator*\n");
}

TEST_F(FaceEngineLibraryTest, PyramidIdenticalAndOppositeTemplates) {
  for (PyramidDataType typeL :
       {PyramidDataType::Float, PyramidDataType::Byte, PyramidDataType::Bit}) {
    SCOPED_TRACE(static_cast<int>(typeL));
    const auto fL = randomValues(12 * 16);
    const auto tL = kxegm::FaceHGM::encodeTemplate(typeL, {level(12, 16, 1.0f, fL)});
    const auto oL = kxegm::FaceHGM::encodeTemplate(typeL, {level(12, 16, 1.0f, negated(fL))});
    EXPECT_NEAR(matchPyramids(anyM, tL, tL), 1.0f, 1e-6);
    EXPECT_NEAR(matchPyramids(anyM, tL, oL), 0.0f, 1e-6);
  }
}

TEST_F(FaceEngineLibraryTest, PyramidLevelsAreWeightedByTheProbe) {
  // Level 0 identical (+1), level 1 opposite (-1), weights 1 and 3: s = -0.5, score 0.25.
  const auto f0 = randomValues(4 * 8), f1 = randomValues(2 * 24);
  const auto gL = kxegm::FaceHGM::encodeTemplate(PyramidDataType::Float,
                                                 {level(4, 8, 7.0f, f0), level(2, 24, 7.0f, f1)});
  const auto pL = kxegm::FaceHGM::encodeTemplate(
      PyramidDataType::Float, {level(4, 8, 1.0f, f0), level(2, 24, 3.0f, negated(f1))});
  EXPECT_NEAR(matchPyramids(anyM, gL, pL), 0.25f, 1e-6);
  // Zero weights count the levels equally.
  const auto zL = kxegm::FaceHGM::encodeTemplate(
      PyramidDataType::Float, {level(4, 8, 0.0f, f0), level(2, 24, 0.0f, negated(f1))});
  EXPECT_NEAR(matchPyramids(anyM, gL, zL), 0.5f, 1e-6);
}

TEST_F(FaceEngineLibraryTest, PyramidCentresFeaturesUnlessTheyAreLdaProjections) {
  // Vectors that differ by a constant offset: identical once centred.
  std::vector<float> aL = randomValues(16), bL = aL;
  for (auto& v : bL) v = v * 0.5f + 0.25f;
  const auto gL = kxegm::FaceHGM::encodeTemplate(PyramidDataType::Float, {level(1, 16, 1, aL)});
  const auto pL = kxegm::FaceHGM::encodeTemplate(PyramidDataType::Float, {level(1, 16, 1, bL)});
  const kxegm::FaceHGM ldaL("", "none", "", "", true, "float");
  EXPECT_NEAR(matchPyramids(anyM, gL, pL), 1.0f, 1e-6);
  EXPECT_LT(matchPyramids(ldaL, gL, pL), 0.99f);
}

TEST_F(FaceEngineLibraryTest, PyramidTemplateErrors) {
  const auto goodL =
      kxegm::FaceHGM::encodeTemplate(PyramidDataType::Float, {level(2, 8, 1.0f, randomValues(16))});
  auto parse = [&](std::vector<unsigned char> bytesA, const kxegm::FaceHGM& hgmA) {
    return messageOf([&] { kxegm::FaceHGMTemplate(bytesA.data(), bytesA.size(), hgmA); });
  };
  auto changed = [&](std::size_t atA, unsigned char valueA) {
    auto bL = goodL;
    bL[atA] = valueA;
    return bL;
  };
  EXPECT_EQ(parse(changed(0, 'X'), anyM), "Invalid pyramid template magic number.");
  EXPECT_EQ(parse(changed(2, 2), anyM), "Invalid pyramid template version: '2'.");
  EXPECT_EQ(parse(changed(4, 3), anyM), "Invalid pyramid template data type: '3'.");
  EXPECT_EQ(parse(changed(5, 0), anyM), "Invalid pyramid template level count: '0'.");
  EXPECT_EQ(parse(changed(5, 9), anyM), "Invalid pyramid template level count: '9'.");
  EXPECT_EQ(parse(changed(6, 0), anyM), "Invalid pyramid template level 0.");
  const kxegm::FaceHGM bitsL("", "none", "", "", false, "bit");
  EXPECT_EQ(parse(goodL, bitsL), "Pyramid template data type does not match the matcher.");
  for (std::size_t cutL = 0; cutL < goodL.size(); ++cutL) {
    const std::string mL =
        parse(std::vector<unsigned char>(goodL.begin(), goodL.begin() + cutL), anyM);
    EXPECT_TRUE(mL == "Pyramid template truncated." ||
                mL == "Invalid pyramid template magic number.")
        << cutL << ": " << mL;
  }
  EXPECT_EQ(parse(goodL, anyM), "(no exception)");

  const auto otherL = kxegm::FaceHGM::encodeTemplate(PyramidDataType::Float,
                                                     {level(2, 16, 1.0f, randomValues(32))});
  EXPECT_EQ(messageOf([&] { matchPyramids(anyM, goodL, otherL); }),
            "Pyramid templates of different structure.");
  EXPECT_EQ(messageOf([] { kxegm::FaceHGM("", "zNorm", "", "", false, ""); }),
            "Unsupported pyramid score normalisation 'zNorm'.");
  EXPECT_EQ(messageOf([] { kxegm::FaceHGM("", "none", "", "", false, "double"); }),
            "Unsupported pyramid data type 'double'.");
}

TEST_F(FaceEngineLibraryTest, StaWeightsLandmarksByTheSmallerConfidence) {
  std::vector<kxegm::STAPoint> pointsL(3);
  for (auto& p : pointsL) p.descriptor = randomValues(32);
  pointsL[0].confidence = 1.0f;
  pointsL[1].confidence = 0.0f;
  pointsL[2].confidence = 3.0f;
  auto oppositeL = pointsL;
  oppositeL[2].descriptor = negated(oppositeL[2].descriptor);
  oppositeL[0].confidence = 2.0f;  // min(1, 2) = 1
  kxegm::STAEngine staL;
  const auto gBlobL = kxegm::STAEngine::encode(pointsL, true);
  const auto pBlobL = kxegm::STAEngine::encode(oppositeL, false);
  std::unique_ptr<MX::STAGalleryTemplate> gL(
      staL.readGalleryFromBlob(gBlobL.data(), gBlobL.size()));
  std::unique_ptr<MX::STAProbeTemplate> pL(staL.readProbeFromBlob(pBlobL.data(), pBlobL.size()));
  std::unique_ptr<MX::STAProbeTemplate> sameL(staL.readProbeFromBlob(gBlobL.data(), gBlobL.size()));
  // Point 0 agrees with weight 1, point 2 disagrees with weight 3: s = -0.5, score 0.25.
  EXPECT_NEAR(staL.verify(*gL, *pL), 0.25f, 1e-5);
  EXPECT_NEAR(staL.verify(*gL, *sameL), 1.0f, 1e-5);
  for (auto& p : oppositeL) p.confidence = 0.0f;
  const auto zeroL = kxegm::STAEngine::encode(oppositeL, false);
  std::unique_ptr<MX::STAProbeTemplate> zL(staL.readProbeFromBlob(zeroL.data(), zeroL.size()));
  EXPECT_EQ(staL.verify(*gL, *zL), 0.0f);
}

TEST_F(FaceEngineLibraryTest, StaTemplateErrors) {
  std::vector<kxegm::STAPoint> pointsL(40);
  for (auto& p : pointsL) p.descriptor = randomValues(100);
  EXPECT_EQ(messageOf([&] { kxegm::STAEngine::encode(pointsL, true); }),
            "STA gallery template larger than 4096 bytes.");
  pointsL.resize(4);
  const auto goodL = kxegm::STAEngine::encode(pointsL, true);
  EXPECT_LE(goodL.size(), kxegm::STAEngine::kMaxGalleryBytes);
  kxegm::STAEngine staL;
  auto read = [&](std::vector<unsigned char> bA) {
    return messageOf([&] { delete staL.readGalleryFromBlob(bA.data(), bA.size()); });
  };
  auto changed = [&](std::size_t atA, unsigned char valueA) {
    auto bL = goodL;
    bL[atA] = valueA;
    return bL;
  };
  EXPECT_EQ(read(changed(1, 'X')), "Invalid STA template magic number.");
  EXPECT_EQ(read(changed(2, 5)), "Invalid STA template version: '5'.");
  EXPECT_EQ(read(changed(4, 2)), "Invalid STA template kind: '2'.");
  EXPECT_EQ(read(changed(5, 0)), "Invalid STA template size.");
  EXPECT_EQ(read(changed(5, 65)), "Invalid STA template size.");
  EXPECT_EQ(read(changed(4, 1)), "STA template truncated.");  // floats need four times the bytes
  for (std::size_t cutL = 2; cutL < goodL.size(); ++cutL) {
    EXPECT_EQ(read(std::vector<unsigned char>(goodL.begin(), goodL.begin() + cutL)),
              "STA template truncated.")
        << cutL;
  }
  kxegm::STAEngine engineL;
  std::unique_ptr<MX::STAGalleryTemplate> gL(
      engineL.readGalleryFromBlob(goodL.data(), goodL.size()));
  pointsL.resize(3);
  const auto fewerL = kxegm::STAEngine::encode(pointsL, false);
  std::unique_ptr<MX::STAProbeTemplate> pL(engineL.readProbeFromBlob(fewerL.data(), fewerL.size()));
  EXPECT_EQ(messageOf([&] { engineL.verify(*gL, *pL); }), "STA templates of different structure.");
}

TEST_F(FaceEngineLibraryTest, LfaScoresBlocksAndHandsOutSideVectors) {
  const auto fL = randomValues(4 * 20);
  auto gFeaturesL = fL;
  for (std::size_t i = 20; i < 40; ++i) gFeaturesL[i] = -gFeaturesL[i];  // block 1 opposite
  const auto probeBlobL = kxegm::LFAEngine::encode(9, 4, 20, fL, {0.1f, 0.2f}, {0.3f});
  const auto galleryBlobL = kxegm::LFAEngine::encode(9, 4, 20, gFeaturesL, {}, {0.5f});
  kxegm::LFAEngine lfaL(9);
  std::vector<float> aL{9.0f}, bL;
  std::unique_ptr<MX::CProbeImage> pL(
      lfaL.readProbeFromBlob(probeBlobL.data(), probeBlobL.size(), 9, aL, bL));
  EXPECT_EQ(aL, (std::vector<float>{9.0f, 0.1f, 0.2f}));  // appended
  EXPECT_EQ(bL, (std::vector<float>{0.3f}));
  std::vector<float> gaL, gbL;
  std::unique_ptr<MX::CFeatureSet> gL(
      lfaL.readGalleryFromBlob(galleryBlobL.data(), galleryBlobL.size(), 9, gaL, gbL));
  ASSERT_NE(gL, nullptr);
  EXPECT_TRUE(gaL.empty());
  EXPECT_EQ(gbL, (std::vector<float>{0.5f}));
  std::vector<float> blockScoresL;
  // Blocks score +1, -1, +1, +1: mean 0.5, score 0.75.
  EXPECT_NEAR(pL->score(*gL, blockScoresL), 0.75f, 1e-5);
  ASSERT_EQ(blockScoresL.size(), 4u);
  EXPECT_NEAR(blockScoresL[1], -1.0f, 1e-5);
  EXPECT_NEAR(blockScoresL[3], 1.0f, 1e-5);

  // Wrong algorithm: the probe read throws, the gallery read answers null.
  EXPECT_EQ(messageOf([&] {
              delete lfaL.readProbeFromBlob(probeBlobL.data(), probeBlobL.size(), 7, aL, bL);
            }),
            "LFA template of algorithm '9' read for algorithm '7'.");
  EXPECT_EQ(lfaL.readGalleryFromBlob(galleryBlobL.data(), galleryBlobL.size(), 7, gaL, gbL),
            nullptr);
  for (std::size_t cutL = 0; cutL < galleryBlobL.size(); ++cutL) {
    EXPECT_EQ(lfaL.readGalleryFromBlob(galleryBlobL.data(), cutL, 9, gaL, gbL), nullptr) << cutL;
  }
  // Another block structure scores 0.0 with no block scores.
  const auto otherBlobL = kxegm::LFAEngine::encode(9, 2, 40, fL, {}, {});
  std::unique_ptr<MX::CFeatureSet> oL(
      lfaL.readGalleryFromBlob(otherBlobL.data(), otherBlobL.size(), 9, gaL, gbL));
  EXPECT_EQ(pL->score(*oL, blockScoresL), 0.0f);
  EXPECT_TRUE(blockScoresL.empty());
}

}  // namespace
