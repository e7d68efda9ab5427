#include <quarlen/IdentityResultFuser.h>

#include <algorithm>
#include <cmath>

#include <qrlcore/Exception.h>
#include <quarlen/ScoreCurve.h>

namespace qridy {

IdentityResultFuser::~IdentityResultFuser() = default;

float IdentityResultFuserAdder::fuse(const float* rawScoresA) const {
  float sumL = 0.0f;
  int countL = 0;
  for (std::uint32_t iL = rangeM.first; iL < rangeM.end; ++iL) {
    // "Not negative": a NaN takes part (and makes the mean NaN).
    if (!(rawScoresA[iL] < 0.0f)) {
      sumL += rawScoresA[iL];
      ++countL;
    }
  }
  return countL == 0 ? 0.0f : sumL / static_cast<float>(countL);
}

float IdentityResultFuserMaxer::fuse(const float* rawScoresA) const {
  float bestL = 0.0f;
  bool anyL = false;
  for (std::uint32_t iL = rangeM.first; iL < rangeM.end; ++iL) {
    if (rawScoresA[iL] >= 0.0f && (!anyL || rawScoresA[iL] > bestL)) {
      bestL = rawScoresA[iL];
      anyL = true;
    }
  }
  return bestL;
}

IdentityResultFuserFuser::IdentityResultFuserFuser(Modality modalityA, Instance instanceA,
                                                   Algorithm algorithmA, FuserRange rangeA)
    : IdentityResultFuserRange(modalityA, instanceA, algorithmA, rangeA) {
  qrscore::ScoreFusion* fusionL = nullptr;
  const int countL = static_cast<int>(rangeA.end - rangeA.first);
  const int codeL = qrscore::createFusion(&fusionL, nullptr, countL);
  if (codeL != qrscore::ScoreCurveOk) {
    KXXCP_THROW("qridy::IdentityResultFuserFuser::IdentityResultFuserFuser",
                "Error creating fusion handle ( error : " << codeL << ")");
  }
  fusionM = ScoreFusionHandle(fusionL, [](qrscore::ScoreFusion* f) { qrscore::destroyFusion(f); });
}

float IdentityResultFuserFuser::fuse(const float* rawScoresA) const {
  float scoresL[kMaxScores];
  int countL = 0;
  for (std::uint32_t iL = rangeM.first; iL < rangeM.end && countL < int(kMaxScores); ++iL) {
    if (!(rawScoresA[iL] < 0.0f)) scoresL[countL++] = rawScoresA[iL];
  }
  if (countL == 0) return 0.0f;
  // A handle per call: the fusion strategy inside a handle is made on first use, so a shared
  // handle would be written by every thread that fuses.
  qrscore::ScoreFusion* fusionL = nullptr;
  if (qrscore::createFusion(&fusionL, nullptr, countL) != qrscore::ScoreCurveOk) return 0.0f;
  float fusedL = 0.0f;
  const int codeL = qrscore::fuseScores(fusionL, scoresL, countL, &fusedL);
  qrscore::destroyFusion(fusionL);
  return codeL == qrscore::ScoreCurveOk ? fusedL : 0.0f;
}

IdentityResultFuserFaceFuser::IdentityResultFuserFaceFuser(Modality modalityA, Instance instanceA,
                                                           Algorithm algorithmA,
                                                           std::uint32_t slotA)
    : IdentityResultFuser(modalityA, instanceA, algorithmA), slotM(slotA) {
  parameterM.readFromQuarlenIni();
}

}  // namespace qridy
