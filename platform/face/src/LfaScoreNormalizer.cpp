#include <qrlface/LfaScoreNormalizer.h>

#include <algorithm>
#include <cmath>

#include <qrlcore/Exception.h>

#pragma GCC optimize("fp-contract=off")

namespace kxegm {

namespace {

double median(std::vector<double>& valuesA) {
  const std::size_t nL = valuesA.size();
  std::nth_element(valuesA.begin(), valuesA.begin() + nL / 2, valuesA.end());
  const double upperL = valuesA[nL / 2];
  if (nL % 2 != 0) return upperL;
  const double lowerL = *std::max_element(valuesA.begin(), valuesA.begin() + nL / 2);
  return 0.5 * (lowerL + upperL);
}

void meanAndDeviation(const double* firstA, const double* lastA, double& meanA, double& sdA) {
  const double nL = static_cast<double>(lastA - firstA);
  double sumL = 0.0;
  for (const double* pL = firstA; pL != lastA; ++pL) sumL += *pL;
  meanA = sumL / nL;
  double squaresL = 0.0;
  for (const double* pL = firstA; pL != lastA; ++pL) {
    const double dL = *pL - meanA;
    squaresL += dL * dL;
  }
  sdA = std::sqrt(squaresL / nL);
}

}  // namespace

LfaScoreNormalizer::LfaScoreNormalizer(int measureTypeA, float factorA, float factorB,
                                       unsigned int iterationsA)
    : measureTypeM(measureTypeA), factorAM(factorA), factorBM(factorB), iterationsM(iterationsA) {
  if (measureTypeA != 0 && measureTypeA != 3 && measureTypeA != 9) {
    KXXCP_THROW("kxegm::LfaScoreNormalizer::LfaScoreNormalizer",
                "Unknown LFA measure type " << measureTypeA);
  }
}

void LfaScoreNormalizer::estimate(std::vector<double>& cohortA, double& locationA,
                                  double& spreadA) const {
  locationA = 0.0;
  spreadA = 1.0;
  if (cohortA.size() < 2) return;
  double locationL = 0.0, spreadL = 0.0;
  if (measureTypeM == 3) {
    std::vector<double> workL = cohortA;
    locationL = median(workL);
    for (double& vL : workL) vL = std::fabs(vL - locationL);
    spreadL = 1.4826 * median(workL);
  } else if (measureTypeM == 9) {
    std::sort(cohortA.begin(), cohortA.end());
    const std::size_t cutL = cohortA.size() / 10;
    meanAndDeviation(cohortA.data() + cutL, cohortA.data() + cohortA.size() - cutL, locationL,
                     spreadL);
  } else {
    meanAndDeviation(cohortA.data(), cohortA.data() + cohortA.size(), locationL, spreadL);
  }
  if (spreadL > 0.0 && std::isfinite(spreadL)) {
    locationA = locationL;
    spreadA = spreadL;
  }
}

void LfaScoreNormalizer::normalize(std::vector<float>& scoresA) const {
  std::vector<double> cohortL;
  cohortL.reserve(scoresA.size());
  for (float sL : scoresA) {
    if (std::isfinite(sL)) cohortL.push_back(sL);
  }
  double locationL = 0.0, spreadL = 1.0;
  for (unsigned int iL = 0; iL < std::max(1u, iterationsM); ++iL) {
    estimate(cohortL, locationL, spreadL);
    const double cutL = locationL + 3.0 * spreadL;
    const auto endL =
        std::remove_if(cohortL.begin(), cohortL.end(), [cutL](double vA) { return vA > cutL; });
    if (endL == cohortL.end()) break;
    cohortL.erase(endL, cohortL.end());
  }
  locationM = locationL;
  spreadM = spreadL;
  for (float& sL : scoresA) {
    if (!std::isfinite(sL)) continue;
    sL =
        static_cast<float>(factorAM * ((static_cast<double>(sL) - locationL) / spreadL) + factorBM);
  }
}

}  // namespace kxegm
