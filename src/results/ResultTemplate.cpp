#include <quarlen/ResultTemplate.h>

#include <cmath>

#include <quarlen/ResultParameter.h>

#include "scoring/ScoreCurveLibrary.h"

namespace qridy {

void ResultTemplate::addScore(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                              float rawScoreA, bool mapScoreA, bool galleryNormalizedA,
                              float scoreFactorA, const ResultParameter& parameterA) {
  float mappedL = 0.0f;
  if (!parameterA.mapScore(modalityA, instanceA, algorithmA, rawScoreA, mapScoreA,
                           galleryNormalizedA, mappedL)) {
    return;  // dropped
  }
  // Store the block, compute the new template score, and put the old block back if the
  // computation throws (a weight that is not supported): the template stays as it was.
  const auto oldL = blocksM.find(algorithmA);
  const bool hadL = oldL != blocksM.end();
  const ResultTemplateBlock previousL = hadL ? oldL->second : ResultTemplateBlock();
  blocksM[algorithmA].setScore(mappedL, galleryNormalizedA);
  try {
    scoreM = templateScore(modalityA, mappedL, scoreFactorA, parameterA);
  } catch (...) {
    if (hadL) {
      blocksM[algorithmA] = previousL;
    } else {
      blocksM.erase(algorithmA);
    }
    throw;
  }
}

float ResultTemplate::templateScore(Modality modalityA, float mappedA, float scoreFactorA,
                                    const ResultParameter& parameterA) const {
  if (modalityA != ModalityFace || parameterA.faceScoreMappingMode() != ResultParameter::LogFar) {
    float sumL = 0.0f;
    for (const auto& [algorithm, block] : blocksM) sumL += block.getScore();
    return sumL;
  }
  if (blocksM.size() == 1) return mappedA;
  std::vector<float> scoresL, weightsL;
  for (const auto& [algorithm, block] : blocksM) {
    const float weightL = parameterA.fusionWeight(algorithm, block.isNormalaizedScore());
    if (!(weightL >= 0.0f)) continue;  // negative or not a number: takes no part
    scoresL.push_back(block.getScore());
    weightsL.push_back(weightL);
  }
  if (scoresL.size() >= 2) return fuseLogFar(scoresL, weightsL) * scoreFactorA;
  if (scoresL.size() == 1) return scoresL.front();
  return mappedA;
}

float ResultTemplate::fuseLogFar(const std::vector<float>& scoresA,
                                 const std::vector<float>& weightsA) {
  return qrscore::logFarFusion(scoresA.data(), scoresA.size(), weightsA.data(), weightsA.size());
}

void ResultTemplate::info(std::ostream& osA, int verbosityA) const {
  if (verbosityA < 3) return;
  for (const auto& [algorithm, block] : blocksM) {
    osA << "\t\t\t<templateBlock"
        << "\talgorithm = \"" << Types::algorithm2Text(algorithm) << "\""
        << "\tscore = \"" << block.getScore() << "\""
        << " />" << std::endl;
  }
}

void ResultTemplate::infoCsv(std::ostream& osA, int verbosityA) const {
  if (verbosityA < 3) return;
  for (const auto& [algorithm, block] : blocksM) {
    osA << ",alg_" << static_cast<unsigned>(algorithm) << "_score," << block.getScore();
  }
}

}  // namespace qridy
