#include <quarlen/TemplateMatcherMultipass_Stage_LFA_norm.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>

#include <qrlcore/QuarlenInformation.h>
#include <qrlface/LFAEngine.h>
#include <qrlface/LfaScoreNormalizer.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

namespace qrbase {
namespace {

using namespace qridy;

constexpr unsigned kBlocks = 4, kLength = 16, kGallery = 300, kSlot = 1;

std::vector<float> features(std::mt19937& rngA) {
  std::uniform_real_distribution<float> uL(-1.0f, 1.0f);
  std::vector<float> fL(kBlocks * kLength);
  for (float& x : fL) x = uL(rngA);
  return fL;
}

std::unique_ptr<TemplateBlockImp> lfaBlock(const std::vector<float>& fA) {
  const auto bytesL = kxegm::LFAEngine::encode(AlgLfa, kBlocks, kLength, fA, {}, {});
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(AlgLfa));
  bL->setData(bytesL.data(), static_cast<unsigned>(bytesL.size()), bytesL.data(),
              static_cast<unsigned>(bytesL.size()), false);
  return bL;
}

class LfaNormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quarlen_test::installScoreConfig(
        dirM, "noMapping",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n"
        "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityFace);
    umcM->initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgLfa, 0);
    stageM = std::make_unique<TemplateMatcherMultipass_Stage_MemManager>(
        ModalityFace, InstanceFaceFrontal, AlgLfa, 1000);
    std::mt19937 rngL(2);
    probeM = features(rngL);
    for (unsigned i = 0; i < kGallery; ++i) {
      std::vector<float> fL = features(rngL);
      if (i % 50 == 3) {  // mates: the probe with noise
        for (std::size_t d = 0; d < fL.size(); ++d) fL[d] = 0.8f * probeM[d] + 0.2f * fL[d];
      }
      IdentityMetadata* mL = umcM->addIdRecordKey(IdRecordKey(i, i), nullptr, nullptr, 0, false);
      stageM->add(lfaBlock(fL).get(), mL, KXuint128{0, i});
    }
    for (int e = 0; e < 2; ++e)
      enginesM.push_back(StageMatchEngine_Base::createStageEngine(AlgLfa));
    matchmodeM.modality = ModalityFace;
    matchmodeM.instance = InstanceFaceFrontal;
    matchmodeM.algorithm = AlgLfa;
    matchmodeM.resultLengthMax = matchmodeM.resultLengthMin = 12;
    matchmodeM.resultLengthLocalPercent = matchmodeM.resultLengthGlobalPercent = 0;
    configM.uniqueMetadataContainer = umcM.get();
    configM.matchmode = &matchmodeM;
  }
  void TearDown() override {
    for (auto* e : enginesM) delete e;
    kxutl::QuarlenInformation::setConfigFile("");
  }
  void pass(TemplateMatcherMultipass_Stage_Common& stageA) {
    std::vector<IdentityMetadata*> unusedL;
    float mL = 0, nL = 0;
    stageA.identifyTemplate(lfaBlock(probeM).get(), stageM->getGalleryEntries(), unusedL, kSlot,
                            enginesM, configM, mL, nL);
  }
  // Person id -> recorded raw score of every identity holding a result.
  std::map<unsigned, float> recorded() const {
    std::map<unsigned, float> rL;
    const std::uint64_t keyL =
        IdentityResult::calculateHashKey(ModalityFace, InstanceFaceFrontal, AlgLfa);
    for (const GalleryEntry& eL : stageM->galleryVec()) {
      if (eL.metadata->getResultState(kSlot) != 3) continue;
      rL[static_cast<unsigned>(eL.idRecordKey().personId)] =
          const_cast<IdentityMetadata*>(eL.metadata)->identityResult(kSlot)->getRawScore(keyL);
    }
    return rL;
  }
  // Expected: every candidate scored serially, normalised over the candidates, best 12.
  std::map<unsigned, float> expected(const std::set<unsigned>& candidatesA, bool normaliseA) {
    std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgLfa));
    const auto probeL = lfaBlock(probeM);
    unsigned sizeL = 0;
    const unsigned char* pL = eL->extractRawData(probeL.get(), sizeL, true);
    const std::vector<unsigned char> copyL(pL, pL + sizeL);
    eL->setProbeForIdentification(copyL.data(), sizeL);
    std::vector<float> sL;
    std::vector<unsigned> idsL;
    for (const GalleryEntry& gL : stageM->galleryVec()) {
      const unsigned idL = static_cast<unsigned>(gL.idRecordKey().personId);
      if (!candidatesA.empty() && candidatesA.count(idL) == 0) continue;
      sL.push_back(eL->matchGallery(gL.data, stageM->dataSize()));
      idsL.push_back(idL);
    }
    if (normaliseA) kxegm::LfaScoreNormalizer(0, 0.1475f, 0.01f, 3).normalize(sL);
    std::vector<std::size_t> orderL(sL.size());
    for (std::size_t i = 0; i < orderL.size(); ++i) orderL[i] = i;
    std::stable_sort(orderL.begin(), orderL.end(),
                     [&](auto aA, auto bA) { return sL[aA] > sL[bA]; });
    std::map<unsigned, float> bestL;
    for (std::size_t i = 0; i < 12 && i < orderL.size(); ++i)
      bestL[idsL[orderL[i]]] = sL[orderL[i]];
    return bestL;
  }

  quarlen_test::TempDir dirM;
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<TemplateMatcherMultipass_Stage_MemManager> stageM;
  std::vector<float> probeM;
  std::vector<StageMatchEngine_Base*> enginesM;
  MultipassConfig::Matchmode matchmodeM;
  MatchConfigData configM;
};

TEST_F(LfaNormTest, NormalisedScoresAreRecordedForTheBestCandidates) {
  TemplateMatcherMultipass_Stage_LFA_norm stageL(ModalityFace, InstanceFaceFrontal, AlgLfa);
  matchmodeM.useNormalization = false;  // the common identifier: raw scores
  pass(stageL);
  EXPECT_EQ(recorded(), expected({}, false));
  umcM->resetResultContainer(kSlot);
  matchmodeM.useNormalization = true;
  pass(stageL);
  const auto gotL = recorded();
  const auto wantL = expected({}, true);
  ASSERT_EQ(gotL.size(), wantL.size());
  for (const auto& [idL, scoreL] : wantL) EXPECT_FLOAT_EQ(gotL.at(idL), scoreL) << idL;
  EXPECT_EQ(gotL.count(3), 1u);  // a mate
}

TEST_F(LfaNormTest, UnderAPersonMaskTheCohortIsTheCandidates) {
  TemplateMatcherMultipass_Stage_LFA_norm stageL(ModalityFace, InstanceFaceFrontal, AlgLfa);
  matchmodeM.useNormalization = true;
  std::set<unsigned> candidatesL;
  std::vector<std::uint64_t> personsL;
  for (unsigned i = 0; i < kGallery; i += 3) {
    candidatesL.insert(i);
    personsL.push_back(i);
  }
  umcM->resetResultContainer(kSlot);
  umcM->selectByPersonList(kSlot, personsL, 0);
  umcM->setUsePersonMask(kSlot, PersonMaskOn);
  pass(stageL);
  const auto gotL = recorded();
  const auto wantL = expected(candidatesL, true);
  ASSERT_EQ(gotL.size(), wantL.size());
  for (const auto& [idL, scoreL] : wantL) EXPECT_FLOAT_EQ(gotL.at(idL), scoreL) << idL;
  // The candidates that were not kept are deselected.
  std::size_t selectedL = 0;
  for (const GalleryEntry& eL : stageM->galleryVec())
    selectedL += eL.metadata->getRealSelected(kSlot);
  EXPECT_EQ(selectedL, 12u);
  umcM->setUsePersonMask(kSlot, PersonMaskNone);
}

TEST_F(LfaNormTest, OtherAlgorithmsAreRefused) {
  TemplateMatcherMultipass_Stage_LFA_norm stageL(ModalityFace, InstanceFaceFrontal, AlgSta);
  matchmodeM.useNormalization = true;
  EXPECT_KXXCP_MESSAGE(pass(stageL), "Catched kxxcp::Exception: ( unsupported algorithm 5 )");
}

}  // namespace
}  // namespace qrbase
