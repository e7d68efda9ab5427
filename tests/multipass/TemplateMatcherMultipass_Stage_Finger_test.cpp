// The fingerprint identifier: its worker table, candidate count and threshold search, and passes
// of the real l2f engine over a small gallery of synthetic fingers in the no-mask, mask and
// filter modes.
#include <quarlen/TemplateMatcherMultipass_Stage_Finger.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/SyntheticFinger.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/FingerSlots.h"
#include "support/ForeignBlock.h"
#include "support/ScoreConfig.h"

namespace {

using namespace qridy;
using qrbase::GalleryEntry;
using qrbase::MatchConfigData;
using qrbase::MultipassConfig;
using Finger = qrbase::TemplateMatcherMultipass_Stage_Finger;

// ---------------------------------------------------------------------------------------------
// Tables and selection

TEST(FingerStageTableTest, WorkerChoiceOverTheFiveSettings) {
  // Miss analysis, person mask, single instance, stage filterScore, slot filter scores
  // (-1: any), worker.
  struct Row {
    int miss, mask, single, stageFilter, slotFilter;
    const char* worker;
  };
  const Row tableL[] = {
      {1, -1, -1, -1, -1, "matchThreadMultiFcn_FingerUsePersonMask"},
      {0, 0, 1, -1, -1, "matchThreadMultiFcn_Finger2_SingleInstance"},
      {0, 0, 0, -1, 1, "matchThreadMultiFcn_Finger2_FilterScores"},
      {0, 0, 0, -1, 0, "matchThreadMultiFcn_Finger2_RealScores"},
      {0, 1, 1, -1, 0, "matchThreadMultiFcn_Finger2_SingleInstance_PM"},
      {0, 1, 1, -1, 1, "matchThreadMultiFcn_Finger2_SingleInstance_PMF"},
      {0, 1, 0, 1, 1, "matchThreadMultiFcn_Finger2_FilterScores_PMF"},
      {0, 1, 0, 0, 1, "matchThreadMultiFcn_Finger2_RealScores_PMF"},
      {0, 1, 0, -1, 0, "matchThreadMultiFcn_Finger2_RealScores_PM"},
  };
  const auto fits = [](int cellA, int valueA) { return cellA < 0 || cellA == valueA; };
  std::set<std::string> seenL;
  for (int bitsL = 0; bitsL < 32; ++bitsL) {
    const int vL[5] = {bitsL >> 4 & 1, bitsL >> 3 & 1, bitsL >> 2 & 1, bitsL >> 1 & 1, bitsL & 1};
    const Row* rowL = nullptr;
    for (const Row& r : tableL) {
      if (fits(r.miss, vL[0]) && fits(r.mask, vL[1]) && fits(r.single, vL[2]) &&
          fits(r.stageFilter, vL[3]) && fits(r.slotFilter, vL[4])) {
        ASSERT_EQ(rowL, nullptr) << "two rows for " << bitsL;
        rowL = &r;
      }
    }
    ASSERT_NE(rowL, nullptr) << bitsL;
    const Finger::Worker wL = Finger::chooseWorker(vL[0], vL[1], vL[2], vL[3], vL[4]);
    EXPECT_STREQ(Finger::workerName(wL), rowL->worker) << "settings " << bitsL;
    seenL.insert(rowL->worker);
  }
  EXPECT_EQ(seenL.size(), 9u);
}

TEST(FingerStageTableTest, FactoryMakesTheFingerIdentifierForTheFingerAlgorithms) {
  for (Algorithm aL : {AlgL1b, AlgL2f, AlgL2m, AlgL1v, AlgL2v, AlgL2f360, AlgFva, AlgL2fi}) {
    MultipassConfig::Matchmode mL;
    mL.modality = ModalityFingerprint;
    mL.instance = InstanceFingerRightIndex;
    mL.algorithm = aL;
    std::unique_ptr<qrbase::TemplateMatcherMultipass_Stage_Common> sL(
        qrbase::PipelineFactory::createIdentifier(mL));
    EXPECT_NE(dynamic_cast<Finger*>(sL.get()), nullptr) << aL;
    EXPECT_EQ(sL->algorithm(), aL);
    EXPECT_EQ(sL->instance(), InstanceFingerRightIndex);
  }
  MultipassConfig::Matchmode mL;
  mL.modality = ModalityFingerprint;
  mL.algorithm = AlgBioengineSdk;
  EXPECT_KXXCP_MESSAGE(qrbase::PipelineFactory::createIdentifier(mL),
                       "Algorithm 'bioengineSdk' not supported for stage matcher creation.");
}

TEST(FingerStageTableTest, CandidateCountTakesTheGlobalShareOnly) {
  MultipassConfig::Matchmode mL;
  mL.resultLengthMin = 50;
  mL.resultLengthMax = 200;
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 10000), 200u);
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 120), 120u);  // the global share, above the minimum
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 30), 50u);
  mL.resultLengthMin = 5;
  mL.resultLengthLocalPercent = 100.0f;  // never read
  mL.resultLengthGlobalPercent = 1.0f;
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 300), 5u);    // global 3
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 1050), 11u);  // 10.5 rounds up
  mL.resultLengthMax = 0;
  EXPECT_EQ(Finger::fingerCandidateCount(mL, 1050), 0u);
}

TEST(FingerStageTableTest, ThresholdSearchOverSimpleResults) {
  std::vector<qrbase::NormalisationResultSimple> rL(6);
  const float scoresL[] = {0.5f, 2.0f, 0.5f, 3.0f, 0.5f, 1.0f};
  for (std::size_t i = 0; i < rL.size(); ++i) rL[i].score = scoresL[i];
  float tL = 0;
  std::size_t eL = 0, aL = 0;
  EXPECT_TRUE(Finger::searchThreshold(rL.data(), rL.size(), 4, tL, eL, aL));
  EXPECT_EQ(tL, 0.5f);
  EXPECT_EQ(eL, 3u);
  EXPECT_EQ(aL, 6u);
  EXPECT_TRUE(Finger::searchThreshold(rL.data(), rL.size(), 2, tL, eL, aL));
  EXPECT_EQ(tL, 2.0f);
  for (auto& r : rL) r.score = NAN;
  quarlen_test::CapturedErrors errorsL;
  EXPECT_FALSE(Finger::searchThreshold(rL.data(), rL.size(), 2, tL, eL, aL));
  ASSERT_EQ(errorsL.entriesM.size(), 1u);
  EXPECT_EQ(errorsL.entriesM[0].rfind("SearchThresholdSimple not converged!", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Passes of the l2f engine over synthetic fingers

std::string mappingFile(const std::string& nameA) {
  const std::string dataL = QUARLEN_TEST_DATA_DIR;
  return dataL.substr(0, dataL.rfind("/tests/data")) + "/data/scoremapping/" + nameA;
}

std::unique_ptr<TemplateBlockImp> fingerBlock(const std::vector<unsigned char>& bytesA,
                                              Algorithm algorithmA = AlgL2f) {
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(algorithmA));
  const unsigned sizeL = static_cast<unsigned>(bytesA.size());
  bL->setData(bytesA.data(), sizeL, bytesA.data(), sizeL, false);
  return bL;
}

class FingerPassTest : public ::testing::Test {
 protected:
  static constexpr unsigned kSlot = 1;
  static constexpr unsigned kGallery = 60;
  static constexpr unsigned kMate = 23;

  void SetUp() override {
    quarlen_test::installScoreConfig(
        dirM, "logFar",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n"
        "maxL2fMatchCount = 2\nmaxL2mMatchCount = 5\nmaxAlgorithmMatchCount = 7\n"
        "L2F_logFarScoreMappingFile = " +
            mappingFile("l2f.txt") +
            "\n[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityFingerprint);
    umcM->initAddNewTripple(ModalityFingerprint, InstanceFingerRightIndex, AlgL2f, 0);
    stageM = std::make_unique<qrbase::TemplateMatcherMultipass_Stage_MemManager>(
        ModalityFingerprint, InstanceFingerRightIndex, AlgL2f, 1000);
    const qrfpt::SyntheticFingerGenerator generatorL(5);
    const qrfpt::ImpressionSettings settingsL;
    for (unsigned i = 0; i < kGallery; ++i) {
      IdentityMetadata* mL =
          umcM->addIdRecordKey(IdRecordKey(i, 1000 + i), nullptr, nullptr, 0, false);
      stageM->add(fingerBlock(generatorL.impressionBytes(i, 1, settingsL)).get(), mL,
                  KXuint128{0, i});
    }
    // The probe part is the mate's; the gallery part (never read for a probe) is a stranger's.
    const auto probePartL = generatorL.impressionBytes(kMate, 2, settingsL);
    const auto strangerL = generatorL.impressionBytes(kGallery + 1, 1, settingsL);
    probeM.reset(TemplateBlockImp::createTemplateBlock(AlgL2f));
    probeM->setData(probePartL.data(), static_cast<unsigned>(probePartL.size()), strangerL.data(),
                    static_cast<unsigned>(strangerL.size()), false);
    for (int i = 0; i < 2; ++i)
      enginesM.push_back(StageMatchEngine_Base::createStageEngine(AlgL2f));
    modeM.modality = ModalityFingerprint;
    modeM.instance = InstanceFingerRightIndex;
    modeM.algorithm = AlgL2f;
    modeM.resultLengthGlobalPercent = 0;
    modeM.resultLengthMin = 0;
    configM.uniqueMetadataContainer = umcM.get();
    configM.matchmode = &modeM;
    umcM->setUsePersonMask(kSlot, PersonMaskNone);
    stageUnderTest =
        std::make_unique<Finger>(ModalityFingerprint, InstanceFingerRightIndex, AlgL2f);
  }
  void TearDown() override {
    for (auto* e : enginesM) delete e;
    kxutl::QuarlenInformation::setConfigFile("");
  }
  void pass(unsigned resultLengthMaxA, bool singleInstanceA) {
    modeM.resultLengthMax = resultLengthMaxA;
    modeM.resultLengthMin = resultLengthMaxA;
    configM.singleInstance = singleInstanceA;
    std::vector<IdentityMetadata*> metadataL;
    float matchL = -1, normL = -1;
    stageUnderTest->identifyTemplate(probeM.get(), stageM->getGalleryEntries(), metadataL, kSlot,
                                     enginesM, configM, matchL, normL);
    EXPECT_GE(matchL, 0.0f);
    EXPECT_EQ(normL, 0.0f);
  }
  // The engine score of every gallery identity, serially.
  std::vector<float> scores() const {
    std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgL2f));
    eL->setProbeForIdentification(probeM->probeDataPtr(), probeM->probeSize());
    std::vector<float> sL;
    for (const GalleryEntry& e : stageM->galleryVec()) {
      sL.push_back(eL->matchGallery(e.data, stageM->dataSize()));
    }
    return sL;
  }
  // The best kA identities among those in poolA (all when empty), by engine score.
  std::vector<unsigned> best(std::size_t kA, const std::set<unsigned>& poolA = {}) const {
    const std::vector<float> sL = scores();
    std::vector<unsigned> idsL;
    for (unsigned i = 0; i < kGallery; ++i) {
      if (poolA.empty() || poolA.count(i) != 0) idsL.push_back(i);
    }
    std::stable_sort(idsL.begin(), idsL.end(),
                     [&](unsigned a, unsigned b) { return sL[a] > sL[b]; });
    idsL.resize(std::min(kA, idsL.size()));
    std::sort(idsL.begin(), idsL.end());
    return idsL;
  }
  IdentityMetadata& identity(unsigned iA) const {
    return *umcM->getMetaDataByIdRecordKey(IdRecordKey(iA, 1000 + iA));
  }
  // The identities whose state for the slot matches stateA (0, 1 or 3).
  std::vector<unsigned> inState(int stateA) const {
    std::vector<unsigned> idsL;
    for (unsigned i = 0; i < kGallery; ++i) {
      if (identity(i).getResultState(kSlot) == stateA) idsL.push_back(i);
    }
    return idsL;
  }
  int count(unsigned iA) const {
    const IdentityResult* rL = identity(iA).getIdentityResult(kSlot);
    return rL != nullptr ? rL->getCount(AlgL2f) : -1;
  }
  std::vector<unsigned> filterLevel(int levelA) const {
    std::vector<unsigned> idsL;
    for (unsigned i = 0; i < kGallery; ++i) {
      if (identity(i).getFilterSelectedLevel(kSlot) == levelA) idsL.push_back(i);
    }
    return idsL;
  }

  quarlen_test::ScopedFingerSlots slotsM;
  quarlen_test::TempDir dirM;
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<qrbase::TemplateMatcherMultipass_Stage_MemManager> stageM;
  std::unique_ptr<TemplateBlockImp> probeM;
  std::vector<StageMatchEngine_Base*> enginesM;
  MultipassConfig::Matchmode modeM;
  MatchConfigData configM;
  std::unique_ptr<Finger> stageUnderTest;
};

TEST_F(FingerPassTest, LimitsAreReadPerAlgorithm) {
  EXPECT_EQ(stageUnderTest->matchLimit(), 2);
  EXPECT_EQ(stageUnderTest->maxL2mMatchCount(), 5);
  EXPECT_EQ(stageUnderTest->maxL2f360MatchCount(), 0);
  EXPECT_EQ(Finger(ModalityFingerprint, InstanceFingerRightIndex, AlgL2m).matchLimit(), 5);
  EXPECT_EQ(Finger(ModalityFingerprint, InstanceFingerRightIndex, AlgL2f360).matchLimit(), 0);
  EXPECT_EQ(Finger(ModalityFingerprint, InstanceFingerRightIndex, AlgFva).matchLimit(), 7);
}

TEST_F(FingerPassTest, SingleInstanceKeepsTheBestKWithTheMateFirst) {
  for (unsigned enginesL : {1u, 2u}) {
    SCOPED_TRACE(enginesL);
    umcM->resetResultContainer(kSlot);
    std::vector<StageMatchEngine_Base*> allL = enginesM;
    enginesM.resize(enginesL);
    pass(5, true);
    enginesM = allL;
    EXPECT_EQ(inState(3), best(5));
    for (unsigned i : inState(3)) EXPECT_EQ(count(i), 1);
    const std::vector<float> sL = scores();
    EXPECT_EQ(std::max_element(sL.begin(), sL.end()) - sL.begin(), kMate);
    EXPECT_EQ(
        identity(kMate).getIdentityResult(kSlot)->getRawScore(IdentityResult::calculateHashKey(
            ModalityFingerprint, InstanceFingerRightIndex, AlgL2f)),
        sL[kMate]);
  }
}

TEST_F(FingerPassTest, SingleInstanceWithoutMaskKeepsEarlierResults) {
  pass(30, true);
  pass(5, true);
  EXPECT_EQ(inState(3), best(30));
}

TEST_F(FingerPassTest, RealScoresRecordEveryIdentityAndCutToK) {
  pass(1000, false);
  EXPECT_EQ(inState(3).size(), kGallery);
  for (unsigned i = 0; i < kGallery; ++i) EXPECT_EQ(count(i), 1);
  umcM->resetResultContainer(kSlot);
  pass(8, false);
  EXPECT_EQ(inState(3), best(8));
  // Exactly K results: K is not cut further.
  umcM->resetResultContainer(kSlot);
  pass(kGallery, false);
  EXPECT_EQ(inState(3).size(), kGallery);
}

TEST_F(FingerPassTest, MaskPassesScoreOnlyCandidatesBelowTheMatchLimit) {
  const std::vector<std::uint64_t> transactionsL = {1003, 1010, 1000 + kMate, 1040, 1059};
  const std::vector<unsigned> listedL = {3, 10, kMate, 40, 59};
  umcM->setUsePersonMask(kSlot, PersonMaskOn);
  // Labelled candidates without results are scored; a cut keeps the best by fused score.
  umcM->selectByTransactionList(kSlot, transactionsL, 0);
  pass(2, false);
  EXPECT_EQ(inState(3), best(2, {3, 10, kMate, 40, 59}));
  umcM->resetResultContainer(kSlot);
  umcM->selectByTransactionList(kSlot, transactionsL, 0);
  pass(1000, false);
  EXPECT_EQ(inState(3), listedL);
  pass(1000, false);
  pass(1000, false);  // the limit of 2 l2f comparisons stops the third
  for (unsigned i : listedL) EXPECT_EQ(count(i), 2) << i;
  for (unsigned i = 0; i < kGallery; ++i) {
    if (std::find(listedL.begin(), listedL.end(), i) == listedL.end()) {
      EXPECT_EQ(count(i), -1);
    }
  }
}

TEST_F(FingerPassTest, SingleInstanceWithMaskDeselectsTheRest) {
  umcM->selectByTransactionList(kSlot, {1001, 1002, 1000 + kMate, 1030, 1031, 1032}, 0);
  umcM->setUsePersonMask(kSlot, PersonMaskOn);
  pass(2, true);
  EXPECT_EQ(inState(3), best(2, {1, 2, kMate, 30, 31, 32}));
  EXPECT_TRUE(inState(1).empty());
}

TEST_F(FingerPassTest, FilterPassesKeepScoresInTheStateWords) {
  umcM->setUseFilterScores(kSlot, true);
  modeM.filterScore = true;
  pass(10, false);  // no mask: every identity gets a filter score, the best 10 a level
  EXPECT_EQ(filterLevel(1), best(10));
  for (unsigned i = 0; i < kGallery; ++i) EXPECT_EQ(identity(i).getFilterScoreCount(kSlot), 1);
  const std::vector<float> sL = scores();
  EXPECT_FLOAT_EQ(identity(kMate).getFilterScore(kSlot), sL[kMate]);

  umcM->setUsePersonMask(kSlot, PersonMaskOn);
  pass(10, false);  // only the selected are scored again
  for (unsigned i = 0; i < kGallery; ++i) {
    const bool selectedL = identity(i).getFilterSelectedLevel(kSlot) == 1;
    EXPECT_EQ(identity(i).getFilterScoreCount(kSlot), selectedL ? 2 : 1) << i;
  }
  const std::vector<unsigned> selectedL = filterLevel(1);

  modeM.filterScore = false;  // a real-score pass over the filter selection
  pass(1000, false);
  EXPECT_FALSE(umcM->useFilterScores(kSlot));
  EXPECT_EQ(inState(3), selectedL);
}

TEST_F(FingerPassTest, SingleInstanceOverAFilterSelection) {
  umcM->setUseFilterScores(kSlot, true);
  pass(6, false);
  const std::vector<unsigned> levelL = filterLevel(1);
  umcM->setUsePersonMask(kSlot, PersonMaskOn);
  pass(3, true);
  EXPECT_FALSE(umcM->useFilterScores(kSlot));
  EXPECT_EQ(inState(3), best(3, std::set<unsigned>(levelL.begin(), levelL.end())));
  EXPECT_EQ(inState(3).size() + inState(0).size(), kGallery);
}

TEST_F(FingerPassTest, WorkerNoteAtDebugLevelFour) {
  std::vector<std::string> debugL;
  const kxntc::Sink previousL = kxntc::setSink([&](kxntc::Level levelA, const std::string& textA) {
    if (levelA == kxntc::Level::debug) debugL.push_back(textA);
  });
  const int levelL = kxutl::QuarlenInformation::debugLevelS.exchange(4);
  pass(5, true);
  kxutl::QuarlenInformation::debugLevelS.store(levelL);
  kxntc::setSink(previousL);
  EXPECT_NE(
      std::find(debugL.begin(), debugL.end(), "\t-- matchThreadMultiFcn_Finger2_SingleInstance: "),
      debugL.end());
}

TEST_F(FingerPassTest, VerifyRefusesBlocksTheEngineCannotRead) {
  const quarlen_test::ForeignBlock foreignL(AlgL2f);
  EXPECT_KXXCP_MESSAGE(stageUnderTest->verify(&foreignL, probeM.get(), enginesM, configM),
                       "probePtrA is not compatible with the configured algorithm");
  EXPECT_KXXCP_MESSAGE(stageUnderTest->verify(nullptr, probeM.get(), enginesM, configM),
                       "probePtrA is not compatible with the configured algorithm");
  EXPECT_KXXCP_MESSAGE(stageUnderTest->verify(probeM.get(), &foreignL, enginesM, configM),
                       "galleryPtrA is not compatible with the configured algorithm");
  const auto l2mL = fingerBlock({1, 2, 3, 4}, AlgL2m);
  EXPECT_KXXCP_MESSAGE(stageUnderTest->verify(l2mL.get(), probeM.get(), enginesM, configM),
                       "probePtrA has not the configured algorithm");
  const std::vector<float> sL = scores();
  const qrfpt::SyntheticFingerGenerator generatorL(5);
  const auto galleryL = fingerBlock(generatorL.impressionBytes(kMate, 1, {}));
  EXPECT_EQ(stageUnderTest->verify(probeM.get(), galleryL.get(), enginesM, configM), sL[kMate]);
}

}  // namespace
