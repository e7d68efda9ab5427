#include "engines/face/StageMatchEngine_Face_LFA.h"

#include <qrlcore/Exception.h>
#include <qrlface/LFAEngine.h>

#include "engines/EngineSupport.h"

namespace qridy {

StageMatchEngine_Face_LFA::StageMatchEngine_Face_LFA() = default;

StageMatchEngine_Face_LFA::~StageMatchEngine_Face_LFA() = default;

void StageMatchEngine_Face_LFA::init(Algorithm algorithmA) {
  StageMatchEngine_Base::init(algorithmA);
  lfaM = std::make_unique<kxegm::LFAEngine>(algorithmA);
}

void StageMatchEngine_Face_LFA::setProbeForIdentification(const unsigned char* dataA,
                                                          unsigned int sizeA) {
  probeM.reset();
  probeSideM.clear();
  if (!lfaM) init(algorithmM);
  std::vector<float> sideAL, sideBL;
  probeM.reset(lfaM->readProbeFromBlob(dataA, sizeA, algorithmM, sideAL, sideBL));
  probeSideM.append(sideAL);
  probeSideM.append(sideBL);
}

float StageMatchEngine_Face_LFA::matchGallery(const unsigned char* galleryDataA,
                                              unsigned int gallerySizeA) {
  if (!lfaM) init(algorithmM);
  gallerySideAM.clear();
  gallerySideBM.clear();
  const std::unique_ptr<MX::CFeatureSet> galleryL(lfaM->readGalleryFromBlob(
      galleryDataA, gallerySizeA, algorithmM, gallerySideAM, gallerySideBM));
  if (!galleryL) return 0.0f;
  float scoreL = 0.0f;
  if (probeM) scoreL = probeM->score(*galleryL, blockScoresM);
  if (algorithmM == AlgLfaIlmSb) {
    gallerySideAM.insert(gallerySideAM.end(), gallerySideBM.begin(), gallerySideBM.end());
    scoreL = normaliseBlockScores(blockScoresM, probeSideM, gallerySideAM);
  }
  return scoreL;
}

float StageMatchEngine_Face_LFA::normaliseBlockScores(const std::vector<float>& blockScoresA,
                                                      const MX::BVector<float>& probeSideA,
                                                      const std::vector<float>& gallerySideA) {
  const std::size_t countL = blockScoresA.size();
  if (probeSideA.empty() || gallerySideA.empty() || countL == 0 ||
      probeSideA.size() != gallerySideA.size() || probeSideA.size() < 2 * countL) {
    return -1.0f;
  }
  float sumL = 0.0f;
  for (std::size_t i = 0; i < countL; ++i) {
    const float muL = (probeSideA[i] + gallerySideA[i]) / 2.0f;
    const float sigmaL = (probeSideA[countL + i] + gallerySideA[countL + i]) / 2.0f;
    const float zL = (blockScoresA[i] - muL) / sigmaL;
    sumL += zL < 0.0f ? -zL * zL : zL * zL;
  }
  return sumL / static_cast<float>(countL);
}

const unsigned char* StageMatchEngine_Face_LFA::extractRawData(const TemplateBlockImp* blockA,
                                                               unsigned int& sizeA,
                                                               bool probePartA) {
  engines::requireCommonBlock(blockA, sizeA, "qridy::StageMatchEngine_Face_LFA::extractRawData");
  return StageMatchEngine_Base::extractRawData(blockA, sizeA, probePartA);
}

}  // namespace qridy
