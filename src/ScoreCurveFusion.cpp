// The fusion handle of the score-curve library and the log-FAR fusion.
#include <algorithm>
#include <cmath>

#include "ScoreCurve.h"

namespace qrscore {
namespace {

const double kLn10 = std::log(10.0);

// log(exp(aA) * cA + exp(bA) * cB) for cA and cB of opposite sign or zero, without overflow.
double logOfTwoExpTerms(double aA, double cA, double bA, double cB) {
  const double m = std::max(aA, bA);
  return m + std::log(cA * std::exp(aA - m) + cB * std::exp(bA - m));
}

// log(sum_{k<n} L^k / k!) for L > 0, without overflow.
double logPoissonSum(double L, std::size_t n) {
  double maxL = 0.0;  // the k = 0 term is exp(0)
  std::vector<double> logTermsL(n);
  for (std::size_t k = 0; k < n; ++k) {
    logTermsL[k] = static_cast<double>(k) * std::log(L) - std::lgamma(static_cast<double>(k) + 1);
    maxL = std::max(maxL, logTermsL[k]);
  }
  double sumL = 0.0;
  for (double t : logTermsL) sumL += std::exp(t - maxL);
  return maxL + std::log(sumL);
}

}  // namespace

float logFarFusion(const float* scoresA, std::size_t countA, const float* weightsA,
                   std::size_t weightCountA) {
  const std::size_t n = countA;
  if (n == 0) return 0.0f;
  std::vector<double> w(n, 1.0);
  for (std::size_t i = 0; i < std::min(n, weightCountA); ++i) w[i] = weightsA[i];
  if (n == 1) return scoresA[0] > 0.0f ? static_cast<float>(scoresA[0] * w[0]) : 0.0f;

  std::vector<double> wn = w;
  if (n > 2 || (n == 2 && (w[0] == 0.0 || w[1] == 0.0))) {
    const double divisorL = std::max(1.0, *std::max_element(w.begin(), w.end()));
    for (double& x : wn) x /= divisorL;
  }
  double S = 0.0;
  for (std::size_t i = 0; i < n; ++i) S += std::max(0.0, static_cast<double>(scoresA[i])) * wn[i];
  const double L = kLn10 * S;

  double resultL = 0.0;
  if (n == 2 && std::fabs(w[0] - w[1]) > 0.001) {
    const double a = (w[1] - 1.0) * L / w[1], cA = w[1] / (w[1] - w[0]);
    const double b = (w[0] - 1.0) * L / w[0], cB = w[0] / (w[0] - w[1]);
    resultL = S - std::log10(std::exp(a) * cA + std::exp(b) * cB);
    if (!std::isfinite(resultL) && std::isfinite(S) && L > 0.0) {
      // exp overflowed for a huge S. A zero weight's term vanishes for L > 0.
      if (w[0] == 0.0) {
        resultL = S - (a + std::log(cA)) / kLn10;
      } else if (w[1] == 0.0) {
        resultL = S - (b + std::log(cB)) / kLn10;
      } else {
        resultL = S - logOfTwoExpTerms(a, cA, b, cB) / kLn10;
      }
    }
  } else if (n > 100) {
    return kTooManyScores;
  } else {
    double termL = 1.0, sumL = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      if (k > 0) termL *= L / static_cast<double>(k);
      sumL += termL;
    }
    resultL = S - std::log10(sumL);
    if (!std::isfinite(resultL) && std::isfinite(S) && L > 0.0) {
      resultL = S - logPoissonSum(L, n) / kLn10;  // the sum overflowed for a huge S
    }
  }
  return static_cast<float>(std::max(0.0, resultL));
}

FusionBase::~FusionBase() = default;

float FusionBase::fuse(const std::vector<float>&, const std::vector<float>&,
                       const std::vector<float>&) const {
  return -1.0f;
}
float FusionBase::fuse(const std::vector<float>&, const std::vector<float>&) const {
  return -1.0f;
}
float FusionBase::fuse(const std::vector<float>&) const {
  return -1.0f;
}

float FusionLFARWS::fuse(const std::vector<float>& scoresA,
                         const std::vector<float>& weightsA) const {
  return logFarFusion(scoresA.data(), scoresA.size(), weightsA.data(), weightsA.size());
}

float FusionLFARWS::fuse(const std::vector<float>& scoresA) const {
  return fuse(scoresA, std::vector<float>());
}

ScoreFusion::ScoreFusion() : strategyM(std::make_unique<FusionLFARWS>()) {}

void ScoreFusion::setWeights(std::vector<float> weightsA) {
  strategyM = std::make_unique<FusionLFARWS>();
  strategyTypeM = 0;
  weightsM = std::move(weightsA);
}

float ScoreFusion::fuse(const float* scoresA, std::size_t countA) const {
  std::vector<float> scoresL(scoresA, scoresA + countA);
  for (float& s : scoresL) {
    if (s == kMissingScore) s = missingReplacementM;
  }
  const float resultL =
      weightsM.empty() ? strategyM->fuse(scoresL) : strategyM->fuse(scoresL, weightsM);
  return resultL == kNoFusionResult ? resultL : resultL * scaleM;
}

}  // namespace qrscore
