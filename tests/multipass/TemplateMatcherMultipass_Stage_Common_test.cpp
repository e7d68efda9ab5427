#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/Simmatwhitening.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_Stage_HGM_norm.h>
#include <quarlen/TemplateMatcherMultipass_Stage_LFA_norm.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

#include "multipass/StageWorkers.h"

namespace {

using namespace qridy;
using qrbase::GalleryEntry;
using qrbase::MatchConfigData;
using qrbase::MultipassConfig;
using qrbase::NormalisationResult;
using qrbase::TemplateMatcherMultipass_Stage_Common;
using Stage = qrbase::TemplateMatcherMultipass_Stage_Common;

// ---------------------------------------------------------------------------------------------
// Selection

std::vector<NormalisationResult> scored(const std::vector<float>& scoresA) {
  std::vector<NormalisationResult> rL(scoresA.size());
  for (std::size_t i = 0; i < scoresA.size(); ++i) rL[i].score = scoresA[i];
  return rL;
}

std::multiset<float> multiset(const std::vector<NormalisationResult>& rA) {
  std::multiset<float> sL;
  for (const auto& r : rA) sL.insert(r.score);
  return sL;
}

// Checks searchThreshold against std::nth_element for one array and K.
void expectThreshold(const std::vector<float>& scoresA, std::size_t kA) {
  SCOPED_TRACE(::testing::Message() << "n " << scoresA.size() << " K " << kA);
  auto rL = scored(scoresA);
  const auto beforeL = multiset(rL);
  float tL = 0;
  std::size_t eL = 0, aL = 0;
  ASSERT_TRUE(Stage::searchThreshold(rL.data(), rL.size(), kA, tL, eL, aL));
  EXPECT_EQ(multiset(rL), beforeL);  // a permutation
  if (scoresA.empty()) {
    EXPECT_EQ(aL, 0u);
    return;
  }
  std::vector<float> refL = scoresA;
  const std::size_t kthL = std::min(std::max<std::size_t>(kA, 1), refL.size()) - 1;
  std::nth_element(refL.begin(), refL.begin() + kthL, refL.end(), std::greater<float>());
  EXPECT_EQ(tL, refL[kthL]);
  EXPECT_EQ(aL, static_cast<std::size_t>(std::count_if(scoresA.begin(), scoresA.end(),
                                                       [&](float s) { return s >= tL; })));
  EXPECT_EQ(eL, static_cast<std::size_t>(std::count(scoresA.begin(), scoresA.end(), tL)));
  EXPECT_LE(aL - eL, kA);
  if (kA <= scoresA.size()) {
    EXPECT_GE(aL, kA);
  }
}

TEST(StageSelectionTest, SearchThresholdMatchesNthElement) {
  std::mt19937 rngL(7);
  for (std::size_t nL : {1u, 2u, 3u, 5u, 17u, 100u, 1000u}) {
    for (int distinctL : {1, 3, 20, 0}) {  // 0: continuous values
      std::vector<float> sL(nL);
      std::uniform_int_distribution<int> fewL(0, std::max(distinctL - 1, 0));
      std::normal_distribution<float> manyL;
      for (float& s : sL) s = distinctL > 0 ? static_cast<float>(fewL(rngL)) * 0.25f : manyL(rngL);
      std::set<std::size_t> ksL = {0, 1, nL - 1, nL, nL + 3, nL / 2, nL / 3 + 1};
      for (std::size_t kL : ksL) expectThreshold(sL, kL);
    }
  }
  expectThreshold({}, 3);
  // Infinities are ordinary scores.
  expectThreshold({INFINITY, 1.0f, -INFINITY, 1.0f, 0.5f}, 2);
}

TEST(StageSelectionTest, DividePartitionsAroundTheMedianOfThree) {
  auto rL = scored({5, 1, 9, 3, 3, 7, 3});  // first 5, middle 3, last 3 -> pivot 3
  std::size_t aL = 0, eL = 0, bL = 0;
  const float pL = Stage::divide(rL.data(), rL.data() + rL.size(), aL, eL, bL);
  EXPECT_EQ(pL, 3.0f);
  EXPECT_EQ(aL, 6u);
  EXPECT_EQ(eL, 3u);
  EXPECT_EQ(bL, 1u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_GT(rL[i].score, 3.0f);
  for (std::size_t i = 3; i < 6; ++i) EXPECT_EQ(rL[i].score, 3.0f);
  EXPECT_EQ(rL[6].score, 1.0f);
  auto sL = scored({2, 8, 4});  // median is the last
  EXPECT_EQ(Stage::divide(sL.data(), sL.data() + 3, aL, eL, bL), 4.0f);
  EXPECT_EQ(Stage::divide(sL.data(), sL.data(), aL, eL, bL), 0.0f);
  EXPECT_EQ(aL + eL + bL, 0u);
}

TEST(StageSelectionTest, TiesAtTheCutKeepTheFirstInArrayOrder) {
  std::vector<unsigned char> keepL;
  const auto sevenL = scored({0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f});
  EXPECT_EQ(Stage::selectBest(sevenL.data(), 7, 3, keepL), 3u);
  EXPECT_EQ(keepL, (std::vector<unsigned char>{1, 1, 1, 0, 0, 0, 0}));
  const auto mixedL = scored({0.2f, 0.9f, 0.5f, NAN, 0.5f, 0.7f, 0.5f});
  EXPECT_EQ(Stage::selectBest(mixedL.data(), 7, 4, keepL), 4u);
  EXPECT_EQ(keepL, (std::vector<unsigned char>{0, 1, 1, 0, 1, 1, 0}));
  EXPECT_EQ(Stage::selectBest(mixedL.data(), 7, 0, keepL), 0u);
  EXPECT_EQ(std::count(keepL.begin(), keepL.end(), 1), 0);
  // K beyond the results keeps every number, never a NaN.
  EXPECT_EQ(Stage::selectBest(mixedL.data(), 7, 50, keepL), 6u);
  EXPECT_EQ(keepL[3], 0);
  // Identities in falling key order: one gallery keeps the first ties, a sharded cut the lowest
  // keys.
  std::vector<std::unique_ptr<qridy::IdentityMetadata>> idsL;
  std::vector<GalleryEntry> entriesL(4);
  auto tiedL = scored({0.5f, 0.5f, 0.9f, 0.5f});
  for (std::size_t i = 0; i < 4; ++i) {
    idsL.push_back(std::make_unique<qridy::IdentityMetadata>(qridy::IdRecordKey(9 - i, 1)));
    entriesL[i].metadata = idsL.back().get();
    tiedL[i].entry = &entriesL[i];
  }
  qrbase::stageworkers::selectBest(tiedL.data(), 4, 2, keepL);
  EXPECT_EQ(keepL, (std::vector<unsigned char>{1, 0, 1, 0}));
  qrbase::stageworkers::selectBest(tiedL.data(), 4, 2, keepL, qrbase::stageworkers::TieOrder::Key);
  EXPECT_EQ(keepL, (std::vector<unsigned char>{0, 0, 1, 1}));
}

TEST(StageSelectionTest, CandidateCountRules) {
  MultipassConfig::Matchmode mL;
  mL.resultLengthMin = 50;
  mL.resultLengthMax = 200;
  EXPECT_EQ(Stage::candidateCount(mL, 10000, 10000, 1), 200u);
  EXPECT_EQ(Stage::candidateCount(mL, 120, 10000, 1), 120u);  // never more than compared
  mL.resultLengthMin = 5;
  mL.resultLengthLocalPercent = 1.0f;
  mL.resultLengthGlobalPercent = 1.0f;
  EXPECT_EQ(Stage::candidateCount(mL, 10000, 300, 1), 100u);  // local 100, global 3
  EXPECT_EQ(Stage::candidateCount(mL, 200, 30000, 1), 200u);  // global 300 wins, cut at 200
  EXPECT_EQ(Stage::candidateCount(mL, 250, 300, 1), 5u);      // local 3 (2.5 rounds up), min 5
  mL.resultLengthLocalPercent = 0.0f;
  mL.resultLengthGlobalPercent = 0.0f;
  mL.resultLengthMin = 100;
  EXPECT_EQ(Stage::candidateCount(mL, 500, 500, 0), 500u);  // parallel: ten times, cut at lSel
  mL.resultLengthMin = 30;
  EXPECT_EQ(Stage::candidateCount(mL, 500, 500, 0), 300u);
  EXPECT_EQ(Stage::candidateCount(mL, 500, 500, 2), 30u);
  EXPECT_EQ(Stage::candidateCount(mL, 0, 500, 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Passes over a memory stage

constexpr unsigned kDim = 64;

std::vector<float> unitVector(std::mt19937& rngA) {
  std::normal_distribution<float> nL;
  std::vector<float> vL(kDim);
  float sumL = 0;
  for (float& x : vL) {
    x = nL(rngA);
    sumL += x * x;
  }
  for (float& x : vL) x /= std::sqrt(sumL);
  return vL;
}

std::unique_ptr<TemplateBlockImp> floatBlock(const std::vector<float>& vA, Algorithm algA) {
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(algA));
  const auto* bytesL = reinterpret_cast<const unsigned char*>(vA.data());
  const unsigned sizeL = static_cast<unsigned>(vA.size() * sizeof(float));
  bL->setData(bytesL, sizeL, bytesL, sizeL, false);
  return bL;
}

// Two probe slots, the registry's record sizes and score-mapping curves for the face fusion.
class PassConfig {
 public:
  PassConfig() {
    quarlen_test::installScoreConfig(
        dirM, "logFar",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n"
        "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
  }
  ~PassConfig() { kxutl::QuarlenInformation::setConfigFile(""); }

 private:
  quarlen_test::TempDir dirM;
};

class StagePassTest : public ::testing::Test {
 protected:
  static constexpr unsigned kSlot = 1;

  void SetUp() override {
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityFace);
    umcM->initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat, 0);
    stageM = std::make_unique<qrbase::TemplateMatcherMultipass_Stage_MemManager>(
        ModalityFace, InstanceFaceFrontal, AlgHgmFloat, 1000);
    std::mt19937 rngL(11);
    probeM = unitVector(rngL);
    for (unsigned i = 0; i < kGallery; ++i) {
      std::vector<float> vL = unitVector(rngL);
      if (i % 37 == 5) {  // a mate: the probe with a little noise
        for (unsigned d = 0; d < kDim; ++d) vL[d] = probeM[d] + 0.05f * vL[d];
        mates.insert(i);
      }
      if (i % 50 == 7 && i > 7) vL = galleryVectors[7];  // exact copies: ties between workers
      galleryVectors.push_back(vL);
      IdentityMetadata* mL = umcM->addIdRecordKey(IdRecordKey(i, i), nullptr, nullptr, 0, false);
      stageM->add(floatBlock(vL, AlgHgmFloat).get(), mL, KXuint128{0, i});
    }
    matchmodeM.modality = ModalityFace;
    matchmodeM.instance = InstanceFaceFrontal;
    matchmodeM.algorithm = AlgHgmFloat;
    matchmodeM.resultLengthLocalPercent = 0;
    matchmodeM.resultLengthGlobalPercent = 0;
    configM.uniqueMetadataContainer = umcM.get();
    configM.matchmode = &matchmodeM;
  }
  void TearDown() override {
    for (auto* e : enginesM) delete e;
  }
  void useEngines(unsigned countA) {
    for (auto* e : enginesM) delete e;
    enginesM.clear();
    for (unsigned i = 0; i < countA; ++i) {
      enginesM.push_back(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
    }
  }
  // The best kA entries (gallery order at ties) among those passing filterA, scored serially.
  std::vector<unsigned> expectedBest(std::size_t kA, const std::function<bool(unsigned)>& filterA) {
    std::unique_ptr<StageMatchEngine_Base> eL(
        StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
    eL->setProbeForIdentification(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4);
    std::vector<std::pair<float, unsigned>> sL;
    for (unsigned i = 0; i < kGallery; ++i) {
      if (!filterA(i)) continue;
      sL.push_back({eL->matchGallery(stageM->galleryVec()[i].data, stageM->dataSize()), i});
    }
    std::stable_sort(sL.begin(), sL.end(),
                     [](const auto& aA, const auto& bA) { return aA.first > bA.first; });
    std::vector<unsigned> idsL;
    for (std::size_t i = 0; i < std::min(kA, sL.size()); ++i) idsL.push_back(sL[i].second);
    std::sort(idsL.begin(), idsL.end());
    return idsL;
  }
  // A K whose cut falls inside the group of exact copies of entry 7.
  unsigned tieCut() const {
    std::unique_ptr<StageMatchEngine_Base> eL(
        StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
    eL->setProbeForIdentification(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4);
    const auto& gL = stageM->galleryVec();
    const float tieL = eL->matchGallery(gL[7].data, stageM->dataSize());
    unsigned aboveL = 0;
    for (const GalleryEntry& e : gL) aboveL += eL->matchGallery(e.data, stageM->dataSize()) > tieL;
    return aboveL + 4;
  }
  std::vector<unsigned> withResult(unsigned slotA = kSlot) const {
    std::vector<unsigned> idsL;
    for (const GalleryEntry& eL : stageM->galleryVec()) {
      if (eL.metadata->getResultState(slotA) == 3) {
        idsL.push_back(static_cast<unsigned>(eL.idRecordKey().personId));
      }
    }
    return idsL;
  }
  std::vector<unsigned> selected() const {
    std::vector<unsigned> idsL;
    for (const GalleryEntry& eL : stageM->galleryVec()) {
      if (eL.metadata->getRealSelected(kSlot)) {
        idsL.push_back(static_cast<unsigned>(eL.idRecordKey().personId));
      }
    }
    return idsL;
  }
  void pass(const TemplateBlockImp* probeA) {
    Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
    std::vector<IdentityMetadata*> metadataL;
    float matchL = -1, normL = -1;
    stageL.identifyTemplate(probeA, stageM->getGalleryEntries(), metadataL, kSlot, enginesM,
                            configM, matchL, normL);
    EXPECT_EQ(normL, 0.0f);
  }

  static constexpr unsigned kGallery = 700;
  PassConfig passConfigM;
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<qrbase::TemplateMatcherMultipass_Stage_MemManager> stageM;
  std::vector<float> probeM;
  std::vector<std::vector<float>> galleryVectors;
  std::set<unsigned> mates;
  std::vector<StageMatchEngine_Base*> enginesM;
  MultipassConfig::Matchmode matchmodeM;
  MatchConfigData configM;
};

TEST_F(StagePassTest, NoMaskPassKeepsTheBestKWithAnyWorkerCount) {
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  for (unsigned workersL : {1u, 2u, 7u}) {
    SCOPED_TRACE(workersL);
    useEngines(workersL);
    // Exactly the mates.
    umcM->resetResultContainer(kSlot);
    matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = static_cast<unsigned>(mates.size());
    pass(probeL.get());
    EXPECT_EQ(withResult(), std::vector<unsigned>(mates.begin(), mates.end()));
    // A cut deep in the crowd, through the tied copies.
    for (unsigned kL : {1u, 25u, 120u, tieCut()}) {
      umcM->resetResultContainer(kSlot);
      matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = kL;
      pass(probeL.get());
      EXPECT_EQ(withResult(), expectedBest(kL, [](unsigned) { return true; })) << kL;
    }
  }
  // The recorded score is the engine's.
  const auto bestL = expectedBest(1, [](unsigned) { return true; });
  const IdentityResult* rL = stageM->galleryVec()[bestL[0]].metadata->getIdentityResult(kSlot);
  ASSERT_NE(rL, nullptr);
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
  EXPECT_EQ(rL->getRawScoreByIndex(0),
            eL->verify(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4,
                       stageM->galleryVec()[bestL[0]].data, stageM->dataSize()));
  EXPECT_EQ(rL->getBestSample(), (KXuint128{0, bestL[0]}));
}

TEST_F(StagePassTest, AnIdentityScoredTwiceKeepsItsBetterSample) {
  // A second, unrelated sample of the best identity, behind its good one in gallery order.
  const unsigned bestL = expectedBest(1, [](unsigned) { return true; })[0];
  std::mt19937 rngL(3);
  stageM->add(floatBlock(unitVector(rngL), AlgHgmFloat).get(), stageM->galleryVec()[bestL].metadata,
              KXuint128{1, bestL});
  useEngines(2);
  matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = kGallery + 1;
  umcM->resetResultContainer(kSlot);
  pass(floatBlock(probeM, AlgHgmFloat).get());
  const IdentityResult* rL = stageM->galleryVec()[bestL].metadata->getIdentityResult(kSlot);
  ASSERT_NE(rL, nullptr);
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
  EXPECT_EQ(rL->getRawScoreByIndex(0),
            eL->verify(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4,
                       stageM->galleryVec()[bestL].data, stageM->dataSize()));
  EXPECT_EQ(rL->getBestSample(), (KXuint128{0, bestL}));
}

TEST_F(StagePassTest, PersonMaskPassPrunesTheCandidates) {
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  const auto inMaskL = [](unsigned i) { return i % 3 != 0; };
  std::vector<std::uint64_t> personsL;
  for (unsigned i = 0; i < kGallery; ++i) {
    if (inMaskL(i)) personsL.push_back(i);
  }
  for (unsigned workersL : {1u, 2u, 7u}) {
    SCOPED_TRACE(workersL);
    useEngines(workersL);
    umcM->resetResultContainer(kSlot);
    umcM->selectByPersonList(kSlot, personsL, 0);
    umcM->setUsePersonMask(kSlot, PersonMaskOn);
    matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 40;
    pass(probeL.get());
    const auto expectedL = expectedBest(40, inMaskL);
    EXPECT_EQ(selected(), expectedL);
    EXPECT_EQ(withResult(), expectedL);  // labelled candidates get their scores
    // A second pass over the survivors (which hold results) narrows them further.
    matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 10;
    pass(probeL.get());
    EXPECT_EQ(selected(), expectedBest(10, inMaskL));
    umcM->setUsePersonMask(kSlot, PersonMaskOff);
  }
}

TEST_F(StagePassTest, ConcurrentPassesOfTwoProbeSlots) {
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 30;
  Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  std::vector<StageMatchEngine_Base*> enginesL[2];
  std::vector<std::thread> threadsL;
  for (unsigned slotL = 0; slotL < 2; ++slotL) {
    for (int i = 0; i < 2; ++i) {
      enginesL[slotL].push_back(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
    }
    threadsL.emplace_back([&, slotL] {
      std::vector<IdentityMetadata*> metadataL;
      MatchConfigData configL = configM;
      float mL = 0, nL = 0;
      stageL.identifyTemplate(probeL.get(), stageM->getGalleryEntries(), metadataL, slotL,
                              enginesL[slotL], configL, mL, nL);
    });
  }
  for (auto& t : threadsL) t.join();
  const auto expectedL = expectedBest(30, [](unsigned) { return true; });
  EXPECT_EQ(withResult(0), expectedL);
  EXPECT_EQ(withResult(1), expectedL);
  for (auto& v : enginesL) {
    for (auto* e : v) delete e;
  }
}

TEST_F(StagePassTest, MissAnalysisListsTheKeptCandidatesByRank) {
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  useEngines(2);
  matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 3;
  std::ostringstream osL;
  configM.doMissAnalysis = true;
  configM.missAnalysisStream = &osL;
  pass(probeL.get());
  const std::string textL = osL.str();
  EXPECT_EQ(textL.rfind("<stage modality = \"face\" instance = \"faceFrontal\" algorithm = "
                        "\"hgmFloat\" localGallerySize = \"700\" localMaxResultLength = \"3\">\n",
                        0),
            0u);
  EXPECT_NE(textL.find("kept = \"true\""), std::string::npos);
  EXPECT_NE(textL.find("rank = \"3\""), std::string::npos);
  EXPECT_EQ(textL.find("rank = \"4\""), std::string::npos);
  EXPECT_NE(textL.find("kept = \"false\" rawScore"), std::string::npos);
  EXPECT_EQ(textL.substr(textL.size() - 9), "</stage>\n");
}

TEST_F(StagePassTest, BadInputs) {
  useEngines(2);
  matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 10;
  {
    quarlen_test::CapturedErrors errorsL;
    pass(nullptr);  // notified, nothing recorded
    ASSERT_EQ(errorsL.entriesM.size(), 1u);
    EXPECT_EQ(errorsL.entriesM[0].rfind("Incomming probe is null face faceFrontal hgmFloat [ ", 0),
              0u);
  }
  EXPECT_TRUE(withResult().empty());
  const auto wrongL = floatBlock(probeM, AlgHgmByte);
  EXPECT_KXXCP_MESSAGE(pass(wrongL.get()),
                       "Catched kxxcp::Exception: ( probePtrA has not the configured algorithm )");
  std::unique_ptr<TemplateBlockImp> emptyL(TemplateBlockImp::createTemplateBlock(AlgHgmFloat));
  pass(emptyL.get());  // no probe data: notified
  EXPECT_TRUE(withResult().empty());
  umcM->setUsePersonMask(kSlot, static_cast<PersonMaskSelectivity>(7));
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  EXPECT_KXXCP_MESSAGE(pass(probeL.get()),
                       "Catched kxxcp::Exception: ( Unsupported person mask enum value. )");
  umcM->setUsePersonMask(kSlot, PersonMaskNone);
  // An empty gallery is skipped.
  qrbase::TemplateMatcherMultipass_Stage_MemManager emptyStageL(ModalityFace, InstanceFaceFrontal,
                                                                AlgHgmFloat, 4);
  Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  std::vector<IdentityMetadata*> metadataL;
  float mL = 0, nL = 0;
  stageL.identifyTemplate(probeL.get(), emptyStageL.getGalleryEntries(), metadataL, kSlot, enginesM,
                          configM, mL, nL);
  EXPECT_TRUE(withResult().empty());
  std::vector<StageMatchEngine_Base*> noEnginesL;
  EXPECT_KXXCP_MESSAGE(stageL.identifyTemplate(probeL.get(), stageM->getGalleryEntries(), metadataL,
                                               kSlot, noEnginesL, configM, mL, nL),
                       "Catched kxxcp::Exception: ( No match engines for the stage. )");
  // An iris bundle without a usable engine is refused before anything is read.
  Stage irisL(ModalityIris, InstanceIrisLeft, AlgDaugman2010);
  std::vector<std::vector<NormalisationResult>> bundleResultsL;
  for (const auto& enginesL : {noEnginesL, std::vector<StageMatchEngine_Base*>{nullptr}}) {
    std::vector<StageMatchEngine_Base*> copyL = enginesL;
    EXPECT_KXXCP_MESSAGE(irisL.identifyTemplateBundle({}, stageM->getGalleryEntries(), kSlot,
                                                      bundleResultsL, copyL, configM),
                         "No match engines for the stage.");
  }
}

TEST_F(StagePassTest, VerifyScoresWithEngineZero) {
  useEngines(1);
  Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  const auto pL = floatBlock(probeM, AlgHgmFloat);
  const auto gL = floatBlock(galleryVectors[5], AlgHgmFloat);
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
  EXPECT_EQ(stageL.verify(pL.get(), gL.get(), enginesM, configM),
            eL->verify(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4,
                       reinterpret_cast<const unsigned char*>(galleryVectors[5].data()), kDim * 4));
  const auto otherL = floatBlock(probeM, AlgHgmByte);
  EXPECT_KXXCP_MESSAGE(stageL.verify(otherL.get(), gL.get(), enginesM, configM),
                       "probePtrA has not the configured algorithm");
  EXPECT_KXXCP_MESSAGE(stageL.verify(pL.get(), otherL.get(), enginesM, configM),
                       "galleryPtrA has not the configured algorithm");
  std::unique_ptr<TemplateBlockImp> noGalleryL(TemplateBlockImp::createTemplateBlock(AlgHgmFloat));
  const auto* bytesL = reinterpret_cast<const unsigned char*>(probeM.data());
  noGalleryL->setData(bytesL, kDim * 4, nullptr, 0, false);
  EXPECT_KXXCP_MESSAGE(stageL.verify(pL.get(), noGalleryL.get(), enginesM, configM),
                       "Gallery sata size of given gallery template is NULL");
  std::unique_ptr<TemplateBlockImp> noProbeL(TemplateBlockImp::createTemplateBlock(AlgHgmFloat));
  noProbeL->setData(nullptr, 0, bytesL, kDim * 4, false);
  EXPECT_KXXCP_MESSAGE(stageL.verify(noProbeL.get(), gL.get(), enginesM, configM),
                       "Probe data size of given probe template is NULL");
}

TEST_F(StagePassTest, IrisSearchModeMustBeEight) {
  std::vector<StageMatchEngine_Base*> irisL{
      StageMatchEngine_Base::createStageEngine(AlgDaugman2010)};
  Stage stageL(ModalityIris, InstanceIrisLeft, AlgDaugman2010);
  MultipassConfig::Matchmode mL;
  mL.additionalParameters = "[Additional]\nsearchMode = 7\n";
  configM.matchmode = &mL;
  std::vector<IdentityMetadata*> metadataL;
  float aL = 0, bL = 0;
  EXPECT_KXXCP_MESSAGE(
      stageL.identifyTemplate(nullptr, stageM->getGalleryEntries(), metadataL, kSlot, irisL,
                              configM, aL, bL),
      "Catched kxxcp::Exception: ( Additional parameter 'searchMode' has invalid value (should be "
      "8). )");
  mL.additionalParameters = "[Additional]\nsearchMode = 8\nsuperFastAngleToleranceMode = 3\n";
  stageL.identifyTemplate(nullptr, stageM->getGalleryEntries(), metadataL, kSlot, irisL, configM,
                          aL, bL);
  EXPECT_EQ(irisL[0]->getParameter(4), 8u);
  EXPECT_EQ(irisL[0]->getParameter(5), 3u);
  delete irisL[0];
}

TEST_F(StagePassTest, HgmNormSettingsAndTheirMessages) {
  useEngines(1);
  qrbase::TemplateMatcherMultipass_Stage_HGM_norm stageL(ModalityFace, InstanceFaceFrontal,
                                                         AlgHgmFloat);
  const std::string fullL =
      "[Additional]\nsmwReferenceListFilename =  \nsmwNumberOfReferenceTemplates = 10\n"
      "smwModelSize = 3\nsmwInnerSize = 3\n";
  const struct {
    std::string text;
    std::string message;
  } casesL[] = {
      {"", "Additional parameter 'smwReferenceListFilename' not found."},
      {"[Additional]\nsmwReferenceListFilename = x\n",
       "Additional parameter 'smwNumberOfReferenceTemplates' not found."},
      {"[Additional]\nsmwReferenceListFilename = x\nsmwNumberOfReferenceTemplates = 10\n",
       "Additional parameter 'smwModelSize' not found."},
      {"[Additional]\nsmwReferenceListFilename = x\nsmwNumberOfReferenceTemplates = "
       "10\nsmwModelSize = 3\n",
       "Additional parameter 'smwInnerSize' not found."},
      {"[Additional]\nsmwReferenceListFilename = x\nsmwNumberOfReferenceTemplates = 9\n"
       "smwModelSize = 3\nsmwInnerSize = 3\n",
       "Additional parameter 'smwNumberOfReferenceTemplates' is too small (must be greater than "
       "10)."},
      {"[Additional]\nsmwReferenceListFilename = x\nsmwNumberOfReferenceTemplates = 10\n"
       "smwModelSize = 2\nsmwInnerSize = 3\n",
       "Additional parameter 'smwModelSize' is too small (must be greater than 2)."},
      {"[Additional]\nsmwReferenceListFilename = x\nsmwNumberOfReferenceTemplates = 10\n"
       "smwModelSize = 4\nsmwInnerSize = 3\n",
       "Additional parameter 'smwInnerSize' is too small (must be greater than or equal to "
       "'smwModelSize'."},
  };
  for (const auto& c : casesL) {
    matchmodeM.additionalParameters = c.text;
    EXPECT_KXXCP_MESSAGE(stageL.setSmwParameters(configM, kSlot, enginesM), c.message);
  }
  matchmodeM.additionalParameters = fullL;  // the limits themselves are accepted
  Simmatwhitening* firstL = stageL.setSmwParameters(configM, kSlot, enginesM);
  ASSERT_NE(firstL, nullptr);
  EXPECT_FALSE(firstL->referenceListMode());  // blank file name: gallery mode
  EXPECT_EQ(stageL.setSmwParameters(configM, kSlot, enginesM), firstL);  // kept while unchanged
  EXPECT_NE(stageL.setSmwParameters(configM, 0, enginesM), firstL);      // one per probe slot
  EXPECT_KXXCP_MESSAGE(stageL.setSmwParameters(configM, 2, enginesM),
                       "probe index 2 out of range (2 probes).");
}

TEST_F(StagePassTest, HgmNormPassKeepsTheBestWhitenedScores) {
  const auto probeL = floatBlock(probeM, AlgHgmFloat);
  matchmodeM.additionalParameters =
      "[Additional]\nsmwReferenceListFilename =\nsmwNumberOfReferenceTemplates = 10\n"
      "smwModelSize = 4\nsmwInnerSize = 20\n";
  matchmodeM.resultLengthMin = matchmodeM.resultLengthMax = 5;
  // Reference: the best 20 raw scores in gallery order, whitened, the best 5 of them.
  const auto innerL = expectedBest(20, [](unsigned) { return true; });
  useEngines(1);
  Simmatwhitening smwL(4, 4, "", 10, AlgHgmFloat, enginesM);
  std::vector<NormalisationResultCplx> cplxL;
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
  eL->setProbeForIdentification(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4);
  for (unsigned i : innerL) {
    const GalleryEntry& gL = stageM->galleryVec()[i];
    const float sL = eL->matchGallery(gL.data, stageM->dataSize());
    cplxL.push_back({sL, sL, gL.data, gL.metadata, &gL});
  }
  smwL.identify(reinterpret_cast<const unsigned char*>(probeM.data()), kDim * 4, cplxL.data(),
                static_cast<unsigned>(cplxL.size()), enginesM);
  std::vector<unsigned> orderL(cplxL.size());
  for (unsigned i = 0; i < orderL.size(); ++i) orderL[i] = i;
  std::stable_sort(orderL.begin(), orderL.end(),
                   [&](unsigned a, unsigned b) { return cplxL[a].score > cplxL[b].score; });
  std::vector<unsigned> expectedL;
  for (unsigned i = 0; i < 5; ++i) expectedL.push_back(innerL[orderL[i]]);
  std::sort(expectedL.begin(), expectedL.end());

  for (unsigned workersL : {1u, 2u, 7u}) {
    SCOPED_TRACE(workersL);
    useEngines(workersL);
    umcM->resetResultContainer(kSlot);
    qrbase::TemplateMatcherMultipass_Stage_HGM_norm stageL(ModalityFace, InstanceFaceFrontal,
                                                           AlgHgmFloat);
    std::vector<IdentityMetadata*> metadataL;
    float mL = 0, nL = 0;
    stageL.identifyTemplate(probeL.get(), stageM->getGalleryEntries(), metadataL, kSlot, enginesM,
                            configM, mL, nL);
    EXPECT_EQ(withResult(), expectedL);
  }
  const IdentityResult* rL =
      stageM->galleryVec()[innerL[orderL[0]]].metadata->getIdentityResult(kSlot);
  ASSERT_NE(rL, nullptr);
  EXPECT_FLOAT_EQ(rL->getRawScoreByIndex(0), cplxL[orderL[0]].score);
}

// ---------------------------------------------------------------------------------------------
// Factory

TEST(PipelineFactoryTest, IdentifierClassPerStage) {
  enum Kind { Common, Hgm, Lfa };
  struct Row {
    Modality modality;
    Algorithm algorithm;
    Kind kind;
  };
  const Row rowsL[] = {
      {ModalityFace, AlgHgm, Hgm},
      {ModalityFace, AlgDicar, Hgm},
      {ModalityFace, AlgFHgm, Hgm},
      {ModalityFace, AlgHgmFloat, Hgm},
      {ModalityFace, AlgHgmByte, Hgm},
      {ModalityFace, AlgHgmPyr, Hgm},
      {ModalityFace, AlgHgmPyrByte, Hgm},
      {ModalityFace, AlgHgmPyrFloat, Hgm},
      {ModalityFace, AlgHgmPyrBit, Hgm},
      {ModalityFace, AlgL3Jim, Hgm},
      {ModalityFace, AlgL1Jim, Hgm},
      {ModalityFace, AlgL2Jim, Hgm},
      {ModalityFace, AlgHgmPyrBitSmwSb, Hgm},
      {ModalityFace, AlgSta, Common},
      {ModalityFace, AlgVfa, Common},
      {ModalityFace, AlgVfa2, Common},
      {ModalityFace, AlgVfa3, Common},
      {ModalityFace, AlgLfa, Lfa},
      {ModalityFace, AlgLfaLowRes, Lfa},
      {ModalityFace, AlgLfaIlmSb, Lfa},
      {ModalityIris, AlgDaugman2010, Common},
      {ModalityIris, AlgMvxIris2PiSdk, Common},
  };
  for (const Row& r : rowsL) {
    MultipassConfig::Matchmode mL;
    mL.modality = r.modality;
    mL.instance = InstanceFaceFrontal;
    mL.algorithm = r.algorithm;
    std::unique_ptr<Stage> sL(qrbase::PipelineFactory::createIdentifier(mL));
    ASSERT_NE(sL, nullptr);
    EXPECT_EQ(sL->algorithm(), r.algorithm);
    EXPECT_EQ(sL->modality(), r.modality);
    const bool hgmL = dynamic_cast<qrbase::TemplateMatcherMultipass_Stage_HGM_norm*>(sL.get());
    const bool lfaL = dynamic_cast<qrbase::TemplateMatcherMultipass_Stage_LFA_norm*>(sL.get());
    EXPECT_EQ(hgmL, r.kind == Hgm) << r.algorithm;
    EXPECT_EQ(lfaL, r.kind == Lfa) << r.algorithm;
  }
  MultipassConfig::Matchmode mL;
  mL.modality = ModalityFingerprint;
  mL.algorithm = AlgBioengineSdk;
  EXPECT_KXXCP_MESSAGE(Stage::createIdentifier(mL),
                       "Algorithm 'bioengineSdk' not supported for stage matcher creation.");
  mL.modality = ModalityFace;
  mL.algorithm = AlgCca;
  EXPECT_KXXCP_MESSAGE(Stage::createIdentifier(mL), "Cannot create stage for this configutation");
  mL.modality = ModalityUnknown;
  mL.algorithm = AlgHgm;
  EXPECT_KXXCP_MESSAGE(Stage::createIdentifier(mL), "Cannot create stage for this configutation");
}

}  // namespace
