#include <quarlen/IdentityResult.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <quarlen/IdentityResultContainer.h>
#include <quarlen/IdentityResultFuser.h>
#include <quarlen/IdentityResultSlots.h>

#include <qrlcore/QuarlenInformation.h>

#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

namespace qridy {
namespace {

using quarlen_test::CapturedErrors;
using quarlen_test::TempDir;

// Log-FAR fusion of n scores with unit weights, written out: S - log10(sum_{k<n} L^k / k!) with
// S the sum of the scores and L = S ln 10.
double logFarByHand(const std::vector<double>& scoresA) {
  double sL = 0.0;
  for (double vL : scoresA) sL += vL;
  const double lL = sL * std::log(10.0);
  double termL = 1.0, sumL = 0.0;
  for (std::size_t kL = 0; kL < scoresA.size(); ++kL) {
    if (kL > 0) termL *= lL / static_cast<double>(kL);
    sumL += termL;
  }
  return std::max(0.0, sL - std::log10(sumL));
}

TEST(IdentityResultFuser, ArithmeticOverItsRange) {
  const float rawL[] = {9.0f, -1.0f, 0.6f, 0.8f, -1.0f, -1.0f, NAN};
  const IdentityResultFuserAdder adderL(ModalityFingerprint, InstanceFingerRightThumb, AlgL2f,
                                        {1, 4});
  EXPECT_FLOAT_EQ(adderL.fuse(rawL), 0.7f);
  EXPECT_EQ(IdentityResultFuserAdder(ModalityIris, InstanceIrisLeft, AlgL2f, {4, 6}).fuse(rawL),
            0.0f);
  EXPECT_TRUE(std::isnan(
      IdentityResultFuserAdder(ModalityIris, InstanceIrisLeft, AlgL2f, {5, 7}).fuse(rawL)));
  const IdentityResultFuserMaxer maxerL(ModalityFingerprint, InstanceFingerRightThumb, AlgL2f,
                                        {1, 4});
  EXPECT_FLOAT_EQ(maxerL.fuse(rawL), 0.8f);
  EXPECT_EQ(IdentityResultFuserMaxer(ModalityIris, InstanceIrisLeft, AlgL2f, {4, 6}).fuse(rawL),
            0.0f);

  const float pairL[] = {1.0f, -1.0f, 1.0f};
  const IdentityResultFuserFuser fuserL(ModalityFingerprint, InstanceFingerRightThumb, AlgL2m,
                                        {0, 3});
  EXPECT_NEAR(fuserL.fuse(pairL), 1.251409, 1e-5);
  EXPECT_NEAR(fuserL.fuse(pairL), logFarByHand({1.0, 1.0}), 1e-5);
  const float noneL[] = {-1.0f, -2.0f};
  EXPECT_EQ(IdentityResultFuserFuser(ModalityFingerprint, InstanceFingerRightThumb, AlgL2m, {0, 2})
                .fuse(noneL),
            0.0f);
  // Twelve scores: only the first ten take part.
  std::vector<float> twelveL(10, 1.0f);
  twelveL.push_back(9.0f);
  twelveL.push_back(9.0f);
  const IdentityResultFuserFuser wideL(ModalityFingerprint, InstanceFingerRightThumb, AlgL2m,
                                       {0, 12});
  EXPECT_NEAR(wideL.fuse(twelveL.data()), logFarByHand(std::vector<double>(10, 1.0)), 1e-4);
  // A score the fusion refuses (not finite) gives 0.0.
  const float badL[] = {INFINITY, 1.0f};
  EXPECT_EQ(IdentityResultFuserFuser(ModalityFingerprint, InstanceFingerRightThumb, AlgL2m, {0, 2})
                .fuse(badL),
            0.0f);
}

TEST(IdentityResultSlots, FingerFusersReachBackOverTheirKind) {
  IdentityResultSlots slotsL(ModalityFingerprint);
  const Algorithm algorithmsL[] = {AlgL2f, AlgL2f, AlgL2m, AlgL2m, AlgL1v, AlgFva, AlgL2v, AlgL2fi};
  for (std::uint32_t sL = 0; sL < 8; ++sL) {
    slotsL.initAddNewTripple(ModalityFingerprint, static_cast<Instance>(101 + sL), algorithmsL[sL],
                             sL);
  }
  struct Expected {
    bool fusion;
    std::uint32_t first, end;
  };
  const Expected expectedL[] = {{false, 0, 1}, {false, 0, 2}, {true, 2, 3},  {true, 2, 4},
                                {false, 4, 5}, {false, 4, 6}, {false, 4, 7}, {true, 7, 8}};
  for (std::uint32_t sL = 0; sL < 8; ++sL) {
    const auto* rangeL = dynamic_cast<const IdentityResultFuserRange*>(slotsL.fuser(sL));
    ASSERT_NE(rangeL, nullptr);
    EXPECT_EQ(dynamic_cast<const IdentityResultFuserFuser*>(rangeL) != nullptr,
              expectedL[sL].fusion)
        << sL;
    EXPECT_EQ(rangeL->range().first, expectedL[sL].first) << sL;
    EXPECT_EQ(rangeL->range().end, expectedL[sL].end) << sL;
  }
  EXPECT_EQ(slotsL.defaultRawScores(), std::vector<float>(8, -1.0f));
  EXPECT_EQ(slotsL.getIndexOfScore(IdentityResult::calculateHashKey(
                ModalityFingerprint, InstanceFingerLeftThumb, AlgFva)),
            5u);
  EXPECT_EQ(slotsL.getIndexOfInstanceAlgorithm(InstanceFingerRightIndex, AlgL2f), 1);
  EXPECT_EQ(slotsL.getIndexOfInstanceAlgorithm(InstanceFingerRightIndex, AlgL2m), -1);
  EXPECT_EQ(slotsL.getIdentityResultFuserByAlg(AlgL2m), slotsL.fuser(2));
  EXPECT_KXXCP_MESSAGE(slotsL.getIndexOfScore(1), "unknown BioMetricTripleHashkey.");

  IdentityResultSlots irisL(ModalityIris);
  irisL.initAddNewTripple(ModalityIris, InstanceIrisLeft, AlgMvxIris2PiSdk, 0);
  irisL.initAddNewTripple(ModalityIris, InstanceIrisRight, AlgMvxIris2PiSdk, 2);
  const auto* lastL = dynamic_cast<const IdentityResultFuserAdder*>(irisL.fuser(2));
  ASSERT_NE(lastL, nullptr);
  EXPECT_EQ(lastL->range().first, 0u);
  EXPECT_EQ(lastL->range().end, 3u);
  EXPECT_EQ(irisL.fuser(1), nullptr);
  EXPECT_EQ(irisL.defaultRawScores().size(), 3u);
}

TEST(IdentityResultSlots, HashKeyLayout) {
  EXPECT_EQ(IdentityResult::calculateHashKey(ModalityFingerprint, InstanceFingerRightThumb, AlgL2f),
            ((std::uint64_t{101} << 16) + 2) << 32 | 151);
  EXPECT_EQ(IdentityResultSlots::calculateHashKey(ModalityIris, InstanceIrisRight, AlgDaugman2010),
            0x00C9000300000000ull + 201);
}

class IdentityResultTest : public ::testing::Test {
 protected:
  IdentityResultSlots slotsM{ModalityIris};
  void SetUp() override {
    slotsM.initAddNewTripple(ModalityIris, InstanceIrisLeft, AlgMvxIris2PiSdk, 0);
    slotsM.initAddNewTripple(ModalityIris, InstanceIrisRight, AlgMvxIris2PiSdk, 1);
    slotsM.initAddNewTripple(ModalityIris, InstanceIrisRight, AlgDaugman2010, 2);
  }
};

TEST_F(IdentityResultTest, RawScoresAndFusion) {
  IdentityResult rL(&slotsM, nullptr);
  EXPECT_EQ(rL.rawScoreCount(), 3u);
  EXPECT_EQ(rL.getRawScoreByIndex(2), std::numeric_limits<float>::lowest());
  EXPECT_EQ(rL.getFusedScore(), 0.0f);
  EXPECT_FLOAT_EQ(rL.addRawScore(0, KXuint128{0, 1}, 0.4f, true, false, false), 0.4f);
  EXPECT_FLOAT_EQ(rL.getFusedScore(), 0.4f);
  // Slot 2's adder covers slots 0 .. 2; the lowest float is negative and left out.
  EXPECT_FLOAT_EQ(rL.addRawScore(2, KXuint128{0, 2}, 0.8f, true, false, false), 0.6f);
  EXPECT_EQ(rL.getBestSample(), (KXuint128{0, 2}));
  // Slot 1's adder covers slots 0 and 1.
  EXPECT_FLOAT_EQ(rL.addRawScore(1, KXuint128{0, 3}, 0.3f, true, false, false), 0.35f);
  // Lower score: raw score and best sample stay, the fused score is computed again.
  EXPECT_FLOAT_EQ(rL.addRawScore(2, KXuint128{0, 4}, 0.5f, true, false, false), 0.5f);
  EXPECT_FLOAT_EQ(rL.getRawScoreByIndex(2), 0.8f);
  EXPECT_EQ(rL.getBestSample(), (KXuint128{0, 3}));
  // force takes the lower score; fuse false answers the raw score and keeps the fused one.
  EXPECT_FLOAT_EQ(rL.addRawScore(1, KXuint128{0, 5}, 0.1f, false, false, true), 0.1f);
  EXPECT_FLOAT_EQ(rL.getFusedScore(), 0.5f);
  EXPECT_EQ(rL.getBestSample(), (KXuint128{0, 5}));
  EXPECT_FLOAT_EQ(rL.getRawScore(IdentityResult::calculateHashKey(ModalityIris, InstanceIrisRight,
                                                                  AlgDaugman2010)),
                  0.8f);
  EXPECT_KXXCP_MESSAGE(rL.getRawScore(IdentityResult::calculateHashKey(
                           ModalityIris, InstanceIrisLeft, AlgDaugman2010)),
                       "BioTriple not found.");
  EXPECT_KXXCP_MESSAGE(rL.addRawScore(3, KXuint128{}, 1.0f, true, false, false),
                       "Score slot '3' is not registered.");
  // The fuser of the first slot of the algorithm: slot 0 alone.
  EXPECT_FLOAT_EQ(rL.getAlgorithmFusedScore(AlgMvxIris2PiSdk), 0.4f);
  EXPECT_EQ(rL.getAlgorithmFusedScore(AlgHgm), 0.0f);
  EXPECT_KXXCP_MESSAGE(rL.calcFusedScore(1, 1.0f, false),
                       "Not implemented for other modalities than Face");
  EXPECT_EQ(rL.calcFusedScore(0, 1.5f, false), 1.5f);

  const IdentityResult copyL(rL);
  rL.reset();
  EXPECT_EQ(rL.getRawScoreByIndex(0), -1.0f);
  EXPECT_FLOAT_EQ(copyL.getRawScoreByIndex(2), 0.8f);
}

TEST_F(IdentityResultTest, Counters) {
  IdentityResult rL(&slotsM, nullptr);
  rL.increaseCount(AlgMvxIris2PiSdk);
  rL.increaseCount(AlgMvxIris2PiSdk);
  EXPECT_EQ(rL.getCount(AlgMvxIris2PiSdk), 2);
  EXPECT_EQ(rL.getAlgCount(), 2);
  rL.increaseCount(AlgL2m);
  EXPECT_EQ(rL.getAlgCount(), 1);
  EXPECT_EQ(rL.getCount(AlgL2m), 1);
  rL.increaseCount(AlgL2v);  // not counted
  EXPECT_EQ(rL.getAlgCount(), 1);
  EXPECT_EQ(rL.getCount(AlgL2v), 0);
  for (Algorithm aL : {AlgL2f, AlgL2f360, AlgL2fi}) {
    rL.increaseCount(aL);
    EXPECT_EQ(rL.getCount(aL), 1) << aL;
  }
  EXPECT_EQ(rL.getCount(AlgL2m), 1);
  rL.resetRealAlgCount();
  EXPECT_EQ(rL.getAlgCount(), 0);
  EXPECT_EQ(rL.getCount(AlgMvxIris2PiSdk), 2);
  rL.reset();
  EXPECT_EQ(rL.getCount(AlgMvxIris2PiSdk), 0);
}

TEST(IdentityResultFace, TemplateFusionOfTheSlots) {
  TempDir dirL;
  quarlen_test::installScoreConfig(dirL, "noMapping");
  {
    IdentityResultSlots slotsL(ModalityFace);
    slotsL.initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgHgm, 0);
    slotsL.initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgVfa, 1);
    slotsL.initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgLfa, 2);
    IdentityResult rL(&slotsL, nullptr);
    rL.addRawScore(0, KXuint128{}, 0.2f, true, false, false);
    // Unmapped face blocks of one template add up; slot 1 still holds the lowest float, which
    // noMapping passes on.
    EXPECT_FLOAT_EQ(rL.addRawScore(1, KXuint128{}, 0.3f, true, false, false), 0.5f);
    EXPECT_FLOAT_EQ(rL.calcFusedScore(2, 0.4f, false), 0.9f);
    EXPECT_FLOAT_EQ(rL.getFusedScore(), 0.5f);
    EXPECT_FLOAT_EQ(rL.addRawScore(2, KXuint128{}, 0.4f, true, false, false), 0.9f);
  }
  kxutl::QuarlenInformation::setConfigFile("");
}

TEST(IdentityResultContainer, BestSelectionWithTies) {
  std::vector<char> keptL;
  IdentityResultContainer::selectBest({0.5f, 0.9f, 0.7f, 0.7f, 0.7f, 0.1f}, 3, keptL);
  EXPECT_EQ(keptL, (std::vector<char>{0, 1, 1, 1, 0, 0}));
  IdentityResultContainer::selectBest({0.5f, 0.9f}, 0, keptL);
  EXPECT_EQ(keptL, (std::vector<char>{1, 1}));
  IdentityResultContainer::selectBest({0.5f, 0.9f}, 2, keptL);
  EXPECT_EQ(keptL, (std::vector<char>{1, 1}));
  IdentityResultContainer::selectBest({NAN, 0.1f, -5.0f}, 2, keptL);
  EXPECT_EQ(keptL, (std::vector<char>{0, 1, 1}));
  IdentityResultContainer::selectBest({2.0f, 2.0f, 2.0f}, 1, keptL);
  EXPECT_EQ(keptL, (std::vector<char>{1, 0, 0}));
  IdentityResultContainer::selectBest({}, 1, keptL);
  EXPECT_TRUE(keptL.empty());
}

TEST(IdentityResultContainer, RegistersResultsWhileLocking) {
  IdentityResultSlots slotsL(ModalityIris);
  IdentityResultContainer containerL(&slotsL, 1);
  auto* aL = reinterpret_cast<IdentityMetadata*>(0x1000);
  auto* bL = reinterpret_cast<IdentityMetadata*>(0x2000);
  IdentityResult* raL = containerL.acquire(aL);
  IdentityResult* rbL = containerL.acquire(bL);
  EXPECT_EQ(raL->identityMetadata(), aL);
  EXPECT_EQ(containerL.size(), 2u);
  EXPECT_EQ(containerL.registeredMetadata(), (std::vector<IdentityMetadata*>{aL, bL}));
  containerL.deleteResult(aL, raL);
  EXPECT_EQ(containerL.registeredMetadata(), (std::vector<IdentityMetadata*>{bL}));
  {
    CapturedErrors errorsL;
    containerL.deleteResult(aL, new IdentityResult(&slotsL, aL));
    EXPECT_EQ(errorsL.entriesM,
              (std::vector<std::string>{
                  "IdentityResultContainer::deleteResult try to delete result that not exists"}));
  }
  containerL.setLocking(false);
  IdentityResult* freeL = containerL.acquire(aL);
  EXPECT_EQ(containerL.size(), 1u);
  containerL.deleteResult(aL, freeL);
  (void)rbL;  // deleted with the container
}

}  // namespace
}  // namespace qridy
