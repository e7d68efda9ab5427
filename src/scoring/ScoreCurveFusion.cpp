// The fusion handle of the score-curve library and the log-FAR fusion.
#include <algorithm>
#include <cmath>

#include "scoring/ScoreCurveLibrary.h"

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
  if (n == 1) {
    const double w0 = weightCountA > 0 ? weightsA[0] : 1.0;
    return scoresA[0] > 0.0f ? static_cast<float>(scoresA[0] * w0) : 0.0f;
  }
  // More than 100 scores never take the two-weight formula: answering first is the same and
  // bounds the weight arrays below.
  if (n > kMaxFusedScores) return kTooManyScores;

  double w[kMaxFusedScores], scaledL[kMaxFusedScores];
  double largestL = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    w[i] = i < weightCountA ? weightsA[i] : 1.0;
    largestL = i == 0 ? w[i] : std::max(largestL, w[i]);
  }
  // wn: the weights normalised by max(1, largest) where the rule asks for it (dividing by 1
  // changes nothing, so that case keeps w itself).
  const double* wn = w;
  if ((n > 2 || w[0] == 0.0 || w[1] == 0.0) && largestL > 1.0) {
    for (std::size_t i = 0; i < n; ++i) scaledL[i] = w[i] / largestL;
    wn = scaledL;
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

float FusionBase::fuse(const float*, std::size_t, const float*, std::size_t,
                       const std::vector<float>&) const {
  return -1.0f;
}
float FusionBase::fuse(const float*, std::size_t, const float*, std::size_t) const {
  return -1.0f;
}
float FusionBase::fuse(const float*, std::size_t) const {
  return -1.0f;
}

float FusionLFARWS::fuse(const float* scoresA, std::size_t countA, const float* weightsA,
                         std::size_t weightCountA) const {
  return logFarFusion(scoresA, countA, weightsA, weightCountA);
}

float FusionLFARWS::fuse(const float* scoresA, std::size_t countA) const {
  return logFarFusion(scoresA, countA, nullptr, 0);
}

ScoreFusion::ScoreFusion() : strategyM(std::make_unique<FusionLFARWS>()) {}

void ScoreFusion::setWeights(std::vector<float> weightsA) {
  strategyM = std::make_unique<FusionLFARWS>();
  strategyTypeM = 0;
  weightsM = std::move(weightsA);
}

float ScoreFusion::fuse(const float* scoresA, std::size_t countA) const {
  // The scores are copied to replace missing-score markers; on the stack for the usual counts.
  constexpr std::size_t kOnStack = 128;
  float stackL[kOnStack];
  std::vector<float> heapL;
  float* copyL = stackL;
  if (countA > kOnStack) {
    heapL.resize(countA);
    copyL = heapL.data();
  }
  for (std::size_t i = 0; i < countA; ++i) {
    copyL[i] = scoresA[i] == kMissingScore ? missingReplacementM : scoresA[i];
  }
  const float resultL = weightsM.empty()
                            ? strategyM->fuse(copyL, countA)
                            : strategyM->fuse(copyL, countA, weightsM.data(), weightsM.size());
  return resultL == kNoFusionResult ? resultL : resultL * scaleM;
}

}  // namespace qrscore
