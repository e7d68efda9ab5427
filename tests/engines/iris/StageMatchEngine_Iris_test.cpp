#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>
#include <qrliris/IrisCodeMatcher.h>
#include <quarlen/StageMatchEngine_Base.h>

#include "engines/iris/StageMatchEngine_Iris_Daugman.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"
#include "support/ExceptionMatchers.h"

namespace qridy {
namespace {

using Code = std::vector<unsigned char>;
using kxegm::irisforms::kCodeBytes;

// Exposes the refinement, so that best rows the search never yields can be checked.
class Refinable2010 : public StageMatchEngine_Iris_Daugman_2010 {
 public:
  float refineAt(const unsigned char* galleryA, std::uint64_t totalA, std::uint64_t diffA,
                 int rowA) {
    return refineAndScore(galleryA, Best{totalA, diffA, rowA});
  }
};

class StageMatchEngineIrisTest : public ::testing::Test {
 protected:
  // A matcher-form code with about usableA of its bits usable.
  Code randomCode(double usableA = 0.8) {
    Code cL(kCodeBytes);
    std::bernoulli_distribution maskL(usableA);
    for (int w = 0; w < 32; ++w) {
      std::uint64_t wordL = rngM() & 0xFFFFFFFFu;
      for (int b = 0; b < 32; ++b) wordL |= std::uint64_t{maskL(rngM)} << (32 + b);
      std::memcpy(cL.data() + 8 * w, &wordL, 8);
    }
    return cL;
  }
  // The code turned by stepsA positions, with flipA of its code bits flipped.
  Code mateOf(const Code& codeA, int stepsA, double flipA) {
    Code recordL(kCodeBytes), turnedL(kCodeBytes), outL(kCodeBytes);
    kxegm::irisforms::matcherToRecord(codeA.data(), recordL.data());
    kxegm::irisforms::rotateRecord(recordL.data(), stepsA, turnedL.data());
    kxegm::irisforms::recordToMatcher(turnedL.data(), outL.data());
    std::bernoulli_distribution flipL(flipA);
    for (int w = 0; w < 32; ++w) {
      for (int b = 0; b < 32; ++b) {
        if (flipL(rngM)) outL[8 * w + b / 8] ^= static_cast<unsigned char>(1u << (b % 8));
      }
    }
    return outL;
  }
  // The library's rotation tables of a probe, as the engines see them (free with
  // qrlIrisFreeProbe).
  static QrlIrisProbeHandle tablesOf(const Code& probeA) {
    auto descriptorL = std::make_unique<QrlIrisProbeDescriptor>();
    descriptorL->data = probeA.data();
    descriptorL->size = static_cast<std::uint32_t>(probeA.size());
    QrlIrisProbeHandle handleL{};
    EXPECT_EQ(qrlIrisLoadProbe(descriptorL.get(), &handleL), 0);
    return handleL;
  }
  static std::unique_ptr<StageMatchEngine_Base> create(Algorithm algorithmA) {
    return std::unique_ptr<StageMatchEngine_Base>(
        StageMatchEngine_Base::createStageEngine(algorithmA));
  }
  static float score(StageMatchEngine_Base& engineA, const Code& galleryA) {
    return engineA.matchGallery(galleryA.data(), static_cast<unsigned>(galleryA.size()));
  }

  std::mt19937_64 rngM{17};
};

TEST_F(StageMatchEngineIrisTest, RowRangesFollowTheRotationParameter) {
  StageMatchEngine_Iris_Daugman_2010 plainL;
  StageMatchEngine_Iris_Daugman_2010_POPCNT popcntL;
  StageMatchEngine_Iris_Daugman daugmanL;
  EXPECT_EQ(plainL.firstRow(), 7);
  EXPECT_EQ(plainL.lastRow(), 13);
  EXPECT_EQ(daugmanL.rotationHalfRange(), 3u);
  for (StageMatchEngine_Iris_Daugman_2010* e :
       {&plainL, static_cast<StageMatchEngine_Iris_Daugman_2010*>(&popcntL)}) {
    e->setParameter(5, 9);
    EXPECT_EQ(e->rotationHalfRange(), 4u);
    EXPECT_EQ(e->firstRow(), 6);
    EXPECT_EQ(e->lastRow(), 14);
    EXPECT_EQ(e->getParameter(5), 9u);  // the value as given
    e->setParameter(5, 0);
    EXPECT_EQ(e->firstRow(), 10);
    EXPECT_EQ(e->lastRow(), 10);
  }
  daugmanL.setParameter(5, 9);
  EXPECT_EQ(daugmanL.rotationHalfRange(), 9u);
  daugmanL.setParameter(5, 50);
  EXPECT_EQ(daugmanL.rotationHalfRange(), 10u);
  EXPECT_EQ(daugmanL.searchMode(), 8u);
  daugmanL.setParameter(4, 8);
  plainL.setParameter(4, 7);
  EXPECT_EQ(plainL.searchMode(), 7u);
  daugmanL.setParameter(6, 1);  // other keys are only stored
  EXPECT_EQ(daugmanL.getParameter(6), 1u);
  EXPECT_EQ(daugmanL.rotationHalfRange(), 10u);
}

TEST_F(StageMatchEngineIrisTest, Daugman2010NormalisationAtDistance045) {
  // D / N = 0.45 gives z = 1.3 whatever N; with k = 3 the score is
  // 1 - (0.5 - 0.049 * 0.3 + 0.048) = 0.4667.
  const float s100L = StageMatchEngine_Iris_Daugman_2010::normalisedScore(100, 45, 3);
  EXPECT_NEAR(s100L, 0.4667f, 1e-4);
  EXPECT_EQ(StageMatchEngine_Iris_Daugman_2010::normalisedScore(1000, 450, 3), s100L);
  // Far from 0.45 z is clamped at 0: 1 - (0.5 + 0.049 + 0.048).
  EXPECT_NEAR(StageMatchEngine_Iris_Daugman_2010::normalisedScore(1000, 900, 3), 0.403f, 1e-5);
  // The search width counts: k = 4 asks for more.
  EXPECT_LT(StageMatchEngine_Iris_Daugman_2010::normalisedScore(100, 45, 4), s100L);
}

TEST_F(StageMatchEngineIrisTest, DaugmanNormalisationThresholds) {
  const float hL = 0.2f;
  EXPECT_EQ(StageMatchEngine_Iris_Daugman::normalisedDistance(450, hL), hL);
  EXPECT_EQ(StageMatchEngine_Iris_Daugman::normalisedDistance(800, hL), hL);
  // T = 225: w = 1, full normalisation.
  EXPECT_FLOAT_EQ(StageMatchEngine_Iris_Daugman::normalisedDistance(225, hL),
                  0.5f - std::sqrt(0.5f) * (0.5f - hL));
  EXPECT_FLOAT_EQ(StageMatchEngine_Iris_Daugman::normalisedDistance(100, hL),
                  0.5f - std::sqrt(100.0f / 450.0f) * (0.5f - hL));
  // T = 300: w = 2/3, a mix of both.
  const float wL = 150.0f * 2.0f / 450.0f;
  EXPECT_FLOAT_EQ(StageMatchEngine_Iris_Daugman::normalisedDistance(300, hL),
                  (0.5f - std::sqrt(300.0f / 450.0f) * (0.5f - hL)) * wL + (1 - wL) * hL);
}

TEST_F(StageMatchEngineIrisTest, IdenticalCodesWithEveryBitUsable) {
  const Code codeL = randomCode(1.0);
  auto daugmanL = create(AlgMvxIris2PiSdk);
  daugmanL->setProbeForIdentification(codeL.data(), kCodeBytes);
  EXPECT_EQ(score(*daugmanL, codeL), 1.0f);  // 768 bits, none differ
  for (bool plainL : {true, false}) {
    std::unique_ptr<StageMatchEngine_Base> engineL;
    if (plainL) {
      engineL = std::make_unique<StageMatchEngine_Iris_Daugman_2010>();
    } else {
      engineL = std::make_unique<StageMatchEngine_Iris_Daugman_2010_POPCNT>();
    }
    engineL->setProbeForIdentification(codeL.data(), kCodeBytes);
    EXPECT_EQ(score(*engineL, codeL),
              StageMatchEngine_Iris_Daugman_2010::normalisedScore(1024, 0, 3));
  }
}

TEST_F(StageMatchEngineIrisTest, MatesAreFoundWithinTheSearchedRotationsOnly) {
  const Code probeL = randomCode();
  auto engineL = create(AlgDaugman2010);
  engineL->setProbeForIdentification(probeL.data(), kCodeBytes);
  const float turnedL = score(*engineL, mateOf(probeL, 3, 0.1));
  const float outsideL = score(*engineL, mateOf(probeL, 6, 0.1));
  const float impostorL = score(*engineL, randomCode());
  EXPECT_GT(turnedL, 0.8f);
  EXPECT_LT(outsideL, turnedL);
  EXPECT_LT(impostorL, 0.5f);
  engineL->setParameter(5, 4);  // k = 4 still does not reach 6 positions
  EXPECT_LT(score(*engineL, mateOf(probeL, 6, 0.1)), turnedL);
}

TEST_F(StageMatchEngineIrisTest, PopcntEngineScoresExactlyAsThePlainEngine) {
  StageMatchEngine_Iris_Daugman_2010 plainL;
  StageMatchEngine_Iris_Daugman_2010_POPCNT popcntL;
  int matchedL = 0;
  for (int probe = 0; probe < 8; ++probe) {
    const Code probeL = randomCode(0.6 + 0.05 * probe);
    for (std::uint32_t k : {3u, 4u, 1u}) {
      plainL.setParameter(5, k);
      popcntL.setParameter(5, k);
      plainL.setProbeForIdentification(probeL.data(), kCodeBytes);
      popcntL.setProbeForIdentification(probeL.data(), kCodeBytes);
      for (int g = 0; g < 60; ++g) {
        const Code galleryL =
            g % 3 == 0 ? randomCode() : mateOf(probeL, g % 11 - 5, 0.02 * (g % 13));
        const float aL = score(plainL, galleryL);
        ASSERT_EQ(aL, score(popcntL, galleryL)) << probe << " " << g << " k " << k;
        if (aL > 0.0f) ++matchedL;
      }
    }
  }
  EXPECT_GT(matchedL, 100);  // both answers occurred
}

TEST_F(StageMatchEngineIrisTest, PopcntHeadTableHoldsTheFirstWordsOfTheSearchedRows) {
  StageMatchEngine_Iris_Daugman_2010_POPCNT engineL;
  const Code probeL = randomCode();
  engineL.setProbeForIdentification(probeL.data(), kCodeBytes);
  const QrlIrisProbeHandle handleL = tablesOf(probeL);
  auto check = [&](std::uint32_t countA, int firstA) {
    ASSERT_EQ(engineL.rowCount(), countA);
    for (std::uint32_t j = 0; j < countA; ++j) {
      const auto* rowL = reinterpret_cast<const std::uint64_t*>(handleL.rows2010 +
                                                                (firstA + j) * kQrlIrisRowBytes);
      EXPECT_EQ(engineL.headTable()[j].word0, rowL[0]);
      EXPECT_EQ(engineL.headTable()[j].word1, rowL[1]);
      EXPECT_EQ(engineL.headTable()[j].mask0, rowL[32]);
      EXPECT_EQ(engineL.headTable()[j].mask1, rowL[33]);
    }
  };
  check(7, 7);
  engineL.setParameter(5, 4);  // refilled for the new rows
  check(9, 6);
  QrlIrisProbeHandle freeL = handleL;
  qrlIrisFreeProbe(&freeL);
}

TEST_F(StageMatchEngineIrisTest, RefinementAtTheEdgeRowsSkipsTheMissingNeighbour) {
  Refinable2010 engineL;
  const Code probeL = randomCode();
  engineL.setProbeForIdentification(probeL.data(), kCodeBytes);
  const QrlIrisProbeHandle handleL = tablesOf(probeL);
  const Code galleryL = randomCode();
  for (int edgeL : {0, 20}) {
    const int neighbourL = edgeL == 0 ? 1 : 19;
    // The expected counts: each band at the edge row or its one neighbour, the better.
    std::uint64_t nL = 1000, dL = 300;
    for (int firstL : {12, 22}) {
      std::uint64_t t[2] = {0, 0}, d[2] = {0, 0};
      for (int i = 0; i < 2; ++i) {
        const auto* rowL = reinterpret_cast<const std::uint64_t*>(
            handleL.rows2010 + (i == 0 ? edgeL : neighbourL) * kQrlIrisRowBytes);
        for (int j = firstL; j < firstL + 10; ++j)
          qrlIrisCountWordPortable(galleryL.data() + 8 * j, rowL + j, &t[i], &d[i]);
      }
      const bool takeL = (d[1] + 1) * t[0] < (d[0] + 1) * t[1];
      nL += t[takeL ? 1 : 0];
      dL += d[takeL ? 1 : 0];
    }
    EXPECT_EQ(engineL.refineAt(galleryL.data(), 1000, 300, edgeL),
              StageMatchEngine_Iris_Daugman_2010::normalisedScore(static_cast<float>(nL),
                                                                  static_cast<float>(dL), 3));
  }
  EXPECT_EQ(engineL.refineAt(galleryL.data(), 0, 0, -1), 0.0f);  // no row survived
  QrlIrisProbeHandle freeL = handleL;
  qrlIrisFreeProbe(&freeL);
}

TEST_F(StageMatchEngineIrisTest, ProbesTheLibraryRefusesFailWithTheEngineName) {
  const Code shortL(100, 1);
  std::vector<std::unique_ptr<StageMatchEngine_Base>> enginesL;
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman>());
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman_2010>());
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman_2010_POPCNT>());
  const char* functionsL[] = {
      "qridy::StageMatchEngine_Iris_Daugman::setProbeForIdentification",
      "qridy::StageMatchEngine_Iris_Daugman_2010::setProbeForIdentification",
      "qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification"};
  const Code goodL = randomCode();
  for (std::size_t i = 0; i < enginesL.size(); ++i) {
    enginesL[i]->setProbeForIdentification(goodL.data(), kCodeBytes);
    try {
      enginesL[i]->setProbeForIdentification(shortL.data(), 100);
      ADD_FAILURE() << "no exception";
    } catch (const kxxcp::Exception& e) {
      EXPECT_EQ(e.getMessage(), "IrisMatchEngine::identifyStart failed to load probe...");
      EXPECT_EQ(e.getFunction(), functionsL[i]);
      EXPECT_EQ(e.errorCode(), -1);
    }
    // No handle is kept: the engine scores nothing until the next probe.
    EXPECT_EQ(score(*enginesL[i], goodL), 0.0f);
    enginesL[i]->setProbeForIdentification(goodL.data(), kCodeBytes);
    EXPECT_GT(score(*enginesL[i], goodL), 0.9f);
    enginesL[i]->setProbeIsGalleryData(true);
    enginesL[i]->releaseProbe();
    EXPECT_FALSE(enginesL[i]->probeIsGalleryData());
    EXPECT_EQ(score(*enginesL[i], goodL), 0.0f);
  }
}

TEST_F(StageMatchEngineIrisTest, GalleriesShorterThanTheSearchReadsScoreZero) {
  const Code probeL = randomCode(1.0);
  std::vector<std::unique_ptr<StageMatchEngine_Base>> enginesL;
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman>());
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman_2010>());
  enginesL.push_back(std::make_unique<StageMatchEngine_Iris_Daugman_2010_POPCNT>());
  const unsigned needsL[] = {192, 256, 256};
  for (std::size_t i = 0; i < enginesL.size(); ++i) {
    // Exactly as long as needed, then one byte short (the sanitizer build checks the reads).
    const Code exactL(probeL.begin(), probeL.begin() + needsL[i]);
    EXPECT_GT(enginesL[i]->verify(probeL.data(), kCodeBytes, exactL.data(), needsL[i]), 0.9f);
    EXPECT_EQ(enginesL[i]->verify(probeL.data(), kCodeBytes, exactL.data(), needsL[i] - 1), 0.0f);
  }
}

TEST_F(StageMatchEngineIrisTest, VerifyOnTheDaugmanEngineRanksMateAboveImpostor) {
  auto engineL = create(AlgMvxIris2PiSdk);
  const Code probeL = randomCode();
  const Code mateL = mateOf(probeL, -2, 0.08);
  const Code impostorL = randomCode();
  const float mateScoreL = engineL->verify(probeL.data(), kCodeBytes, mateL.data(), kCodeBytes);
  const float impostorScoreL =
      engineL->verify(probeL.data(), kCodeBytes, impostorL.data(), kCodeBytes);
  EXPECT_GT(mateScoreL, 0.8f);
  EXPECT_LT(impostorScoreL, mateScoreL);
  EXPECT_LE(impostorScoreL, 0.5f);
}

}  // namespace
}  // namespace qridy
