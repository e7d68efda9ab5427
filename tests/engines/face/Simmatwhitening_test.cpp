#include <quarlen/Simmatwhitening.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"

namespace {

using namespace qridy;
using Matrix = std::vector<std::vector<double>>;

// x = A^-1 b by Gaussian elimination with partial pivoting: the direct dense reference.
std::vector<double> solve(Matrix aA, std::vector<double> bA) {
  const std::size_t nL = bA.size();
  for (std::size_t c = 0; c < nL; ++c) {
    std::size_t pL = c;
    for (std::size_t r = c + 1; r < nL; ++r) {
      if (std::fabs(aA[r][c]) > std::fabs(aA[pL][c])) pL = r;
    }
    std::swap(aA[c], aA[pL]);
    std::swap(bA[c], bA[pL]);
    for (std::size_t r = c + 1; r < nL; ++r) {
      const double fL = aA[r][c] / aA[c][c];
      for (std::size_t k = c; k < nL; ++k) aA[r][k] -= fL * aA[c][k];
      bA[r] -= fL * bA[c];
    }
  }
  std::vector<double> xL(nL);
  for (std::size_t r = nL; r-- > 0;) {
    double sL = bA[r];
    for (std::size_t k = r + 1; k < nL; ++k) sL -= aA[r][k] * xL[k];
    xL[r] = sL / aA[r][r];
  }
  return xL;
}

std::vector<double> flat(const Matrix& mA) {
  std::vector<double> fL;
  for (const auto& row : mA) fL.insert(fL.end(), row.begin(), row.end());
  return fL;
}

// Q diag(lambda) Q^T with a random orthogonal Q (Gram-Schmidt); qA receives Q.
Matrix withEigenvalues(const std::vector<double>& lambdaA, std::mt19937& rngA, Matrix& qA) {
  const std::size_t nL = lambdaA.size();
  std::normal_distribution<double> gL;
  qA.assign(nL, std::vector<double>(nL));
  for (std::size_t c = 0; c < nL; ++c) {
    std::vector<double> vL(nL);
    for (double& x : vL) x = gL(rngA);
    for (std::size_t p = 0; p < c; ++p) {
      double dL = 0;
      for (std::size_t r = 0; r < nL; ++r) dL += vL[r] * qA[r][p];
      for (std::size_t r = 0; r < nL; ++r) vL[r] -= dL * qA[r][p];
    }
    double normL = 0;
    for (double x : vL) normL += x * x;
    for (std::size_t r = 0; r < nL; ++r) qA[r][c] = vL[r] / std::sqrt(normL);
  }
  Matrix sL(nL, std::vector<double>(nL, 0.0));
  for (std::size_t i = 0; i < nL; ++i) {
    for (std::size_t j = 0; j < nL; ++j) {
      for (std::size_t k = 0; k < nL; ++k) sL[i][j] += qA[i][k] * lambdaA[k] * qA[j][k];
    }
  }
  return sL;
}

TEST(SimmatwhiteningTest, CoefficientsAreTheInverseSquareOfTheMatrixAppliedToS) {
  std::mt19937 rngL(3);
  std::uniform_real_distribution<double> uL(-1, 1);
  for (std::size_t nL : {1u, 3u, 8u, 20u}) {
    std::vector<double> lambdaL(nL);
    for (std::size_t i = 0; i < nL; ++i) lambdaL[i] = 0.5 + i;
    Matrix qL;
    const Matrix sL = withEigenvalues(lambdaL, rngL, qL);
    std::vector<double> simL(nL);
    for (double& x : simL) x = uL(rngL);
    // Direct: c = S^-1 (S^-1 s).
    const std::vector<double> expectedL = solve(sL, solve(sL, simL));
    const std::vector<double> cL = Simmatwhitening::whiteningCoefficients(flat(sL), simL, nL);
    ASSERT_EQ(cL.size(), nL);
    for (std::size_t i = 0; i < nL; ++i) EXPECT_NEAR(cL[i], expectedL[i], 1e-9) << nL << " " << i;
  }
}

TEST(SimmatwhiteningTest, EigenvaluesOutsideTheRangeContributeNothing) {
  std::mt19937 rngL(5);
  const std::vector<double> lambdaL = {1e-6, 1.0, 2.0, -3.0, 4.0};
  Matrix qL;
  const Matrix sL = withEigenvalues(lambdaL, rngL, qL);
  const std::vector<double> simL = {0.3, -0.2, 0.9, 0.1, 0.5};
  // Expected: Q diag(w) Q^T s with w = 1/lambda^2 for 1e-5 < lambda < 1e51, else 0.
  std::vector<double> expectedL(5, 0.0);
  for (std::size_t k = 0; k < 5; ++k) {
    const double wL = lambdaL[k] > 1e-5 ? 1.0 / (lambdaL[k] * lambdaL[k]) : 0.0;
    double projL = 0;
    for (std::size_t r = 0; r < 5; ++r) projL += qL[r][k] * simL[r];
    for (std::size_t i = 0; i < 5; ++i) expectedL[i] += qL[i][k] * wL * projL;
  }
  const std::vector<double> cL = Simmatwhitening::whiteningCoefficients(flat(sL), simL, 5);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_NEAR(cL[i], expectedL[i], 1e-9) << i;
}

TEST(SimmatwhiteningTest, FloatVersusTemplateSimilarities) {
  const std::vector<float> onesL(16, 1.0f);
  const std::uint8_t setL[2] = {0xFF, 0xFF}, clearL[2] = {0, 0};
  EXPECT_EQ(Simmatwhitening::calcSimFloatBit(onesL.data(), setL, 16), 1.0f);
  EXPECT_EQ(Simmatwhitening::calcSimFloatBit(onesL.data(), clearL, 16), -1.0f);
  EXPECT_EQ(Simmatwhitening::calcSimFloatBit(onesL.data(), setL, 7), 0.0f);
  // Most significant bit first: only f_0 counts positive.
  const std::vector<float> rampL = {8, 4, 2, 1, 0, 0, 0, 0};
  const std::uint8_t firstBitL[1] = {0x80};
  EXPECT_EQ(Simmatwhitening::calcSimFloatPyrBit(rampL.data(), firstBitL, 8),
            (8 - 4 - 2 - 1) / 8.0f);
  const std::uint8_t bytesL[3] = {0x7F, 0x80, 0x02};  // 127, -128, 2
  const std::vector<float> fL = {1.0f, 0.5f, 2.0f};
  EXPECT_EQ(Simmatwhitening::calcSimFloatByte(fL.data(), bytesL, 3, 4.0f),
            (127.0f - 64.0f + 4.0f) / 4.0f);
  // 0x7F: high nibble 7, low nibble -1; 0x80: high -8, low 0.
  const std::vector<float> gL = {1.0f, 1.0f, 0.5f, 3.0f};
  EXPECT_EQ(Simmatwhitening::calcSimFloat4Bit(gL.data(), bytesL, 4, 2.0f),
            (16.0f * 7 - 16.0f - 0.5f * 128) / 256.0f / 2.0f);
  std::vector<float> vL = {3.0f, 4.0f};
  Simmatwhitening::normalizeVector(vL.data(), 2);
  EXPECT_FLOAT_EQ(vL[0], 0.6f);
  EXPECT_FLOAT_EQ(vL[1], 0.8f);
  std::vector<float> zeroL = {1e-6f, 0.0f};
  EXPECT_KXXCP_MESSAGE(Simmatwhitening::normalizeVector(zeroL.data(), 2), "l2Norm is ZERO ");
}

class SimmatwhiteningFileTest : public ::testing::Test {
 protected:
  void SetUp() override { kxutl::QuarlenInformation::setConfigFile(""); }
  // countA face records whose hgmByte gallery parts are random bytes; the file's path.
  std::string writeReferences(unsigned countA, std::mt19937& rngA) {
    std::string bytesL;
    std::uniform_int_distribution<int> bL(-90, 90);
    for (unsigned i = 0; i < countA; ++i) {
      std::vector<unsigned char> gL(kSize);
      for (auto& b : gL) b = static_cast<unsigned char>(bL(rngA));
      references.push_back(gL);
      IdRecordImp recordL;
      recordL.setPersonId(100 + i);
      TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(AlgHgmByte);
      blockL->setData(gL.data(), kSize, gL.data(), kSize, false);
      recordL.addTemplateBlock(blockL, ModalityFace, InstanceFaceFrontal, KXuint128{0, i});
      std::ostringstream osL;
      recordL.write(osL);
      bytesL += osL.str();
    }
    return dirM.write("refs.bin", bytesL);
  }
  std::vector<StageMatchEngine_Base*> engines(unsigned nA) {
    for (unsigned i = 0; i < nA; ++i) {
      ownedM.emplace_back(StageMatchEngine_Base::createStageEngine(AlgHgmByte));
    }
    std::vector<StageMatchEngine_Base*> eL;
    for (auto& e : ownedM) eL.push_back(e.get());
    return eL;
  }

  static constexpr unsigned kSize = 64;
  quarlen_test::TempDir dirM;
  std::vector<std::vector<unsigned char>> references;
  std::vector<std::unique_ptr<StageMatchEngine_Base>> ownedM;
};

TEST_F(SimmatwhiteningFileTest, ConstructionAndItsMessages) {
  auto eL = engines(1);
  EXPECT_KXXCP_MESSAGE(Simmatwhitening(10, 5, "", 10, AlgSta, eL),
                       "Algorithm 'sta' not supported by SMW.");
  Simmatwhitening galleryModeL(10, 5, "", 10, AlgHgmByte, eL);
  EXPECT_FALSE(galleryModeL.referenceListMode());
  unsigned int lengthL = 0;
  const std::uint8_t dataL[kSize] = {};
  EXPECT_KXXCP_MESSAGE(galleryModeL.createSmwOnRefTransformedFeatureVec(dataL, kSize, eL, lengthL),
                       "This function is only available in reference list mode.");
  const std::string missingL = dirM.path() + "/none.bin";
  EXPECT_KXXCP_MESSAGE(Simmatwhitening(10, 5, missingL, 10, AlgHgmByte, eL),
                       "Cannot open file '" + missingL + "'");
  std::mt19937 rngL(1);
  const std::string fileL = writeReferences(9, rngL);
  EXPECT_KXXCP_MESSAGE(Simmatwhitening(10, 5, fileL, 10, AlgHgmByte, eL),
                       "Not enough smw reference templates found in: " + fileL +
                           ". 10 reference templates expected, but only 9 templates found.");
  Simmatwhitening nineL(10, 5, fileL, 9, AlgHgmByte, eL);
  EXPECT_TRUE(nineL.referenceListMode());
  EXPECT_EQ(nineL.referenceCount(), 9u);
}

TEST_F(SimmatwhiteningFileTest, ReferenceListScoresMatchADirectComputation) {
  std::mt19937 rngL(2);
  const std::string fileL = writeReferences(12, rngL);
  auto eL = engines(3);
  constexpr unsigned kK = 4;
  Simmatwhitening smwL(kK, kK, fileL, 12, AlgHgmByte, eL);
  std::uniform_int_distribution<int> bL(-90, 90);
  std::vector<unsigned char> probeL(kSize);
  for (auto& b : probeL) b = static_cast<unsigned char>(bL(rngL));
  std::vector<std::vector<unsigned char>> galleryL(10, std::vector<unsigned char>(kSize));
  for (auto& g : galleryL) {
    for (auto& b : g) b = static_cast<unsigned char>(bL(rngL));
  }
  std::vector<NormalisationResultCplx> candidatesL(galleryL.size());
  for (std::size_t i = 0; i < galleryL.size(); ++i) candidatesL[i].data = galleryL[i].data();
  smwL.identify(probeL.data(), kSize, candidatesL.data(), static_cast<unsigned>(candidatesL.size()),
                eL);

  // Direct: the K best references by engine score, S, s, c = S^-2 s, t = sum c_i x_i.
  std::unique_ptr<StageMatchEngine_Base> engineL(
      StageMatchEngine_Base::createStageEngine(AlgHgmByte));
  std::vector<std::pair<float, std::size_t>> rankedL;
  for (std::size_t i = 0; i < references.size(); ++i) {
    rankedL.push_back({engineL->verify(probeL.data(), kSize, references[i].data(), kSize), i});
  }
  std::stable_sort(rankedL.begin(), rankedL.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  Matrix sL(kK, std::vector<double>(kK));
  std::vector<double> simL(kK);
  for (unsigned i = 0; i < kK; ++i) {
    simL[i] = rankedL[i].first;
    for (unsigned j = 0; j < kK; ++j) {
      sL[i][j] = engineL->verify(references[rankedL[i].second].data(), kSize,
                                 references[rankedL[j].second].data(), kSize);
    }
  }
  for (unsigned i = 0; i < kK; ++i) {
    for (unsigned j = i + 1; j < kK; ++j) sL[i][j] = sL[j][i] = 0.5 * (sL[i][j] + sL[j][i]);
  }
  const std::vector<double> cL = solve(sL, solve(sL, simL));
  std::vector<double> tL(kSize, 0.0);
  for (unsigned i = 0; i < kK; ++i) {
    for (unsigned j = 0; j < kSize; ++j) {
      tL[j] += cL[i] * static_cast<std::int8_t>(references[rankedL[i].second][j]);
    }
  }
  const double scaleL = kxegm::ByteMinimalGraph::scale();
  for (std::size_t g = 0; g < galleryL.size(); ++g) {
    double dotL = 0;
    for (unsigned j = 0; j < kSize; ++j) dotL += tL[j] * static_cast<std::int8_t>(galleryL[g][j]);
    const double expectedL = 0.5 * dotL / (scaleL * scaleL) + 0.5;
    EXPECT_NEAR(candidatesL[g].score, expectedL, 1e-3 * std::max(1.0, std::fabs(expectedL))) << g;
  }
  // verify of one pair is the same score.
  EXPECT_NEAR(smwL.verify(probeL.data(), galleryL[0].data(), kSize, eL), candidatesL[0].score,
              1e-5);
}

}  // namespace
