// Scores mapped per second through a spline mapping and fused per second through the log-FAR
// fusion, each beside a plain scalar reference of the same formula (no handle, no checks).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "scoring/ScoreCurveLibrary.h"

namespace {

constexpr int kKnots = 64;
constexpr int kScores = 4096;

// A smooth increasing mapping like a real -log10 FAR curve: raw scores 0 ... 1.
std::string mappingText() {
  std::ostringstream osL;
  osL.precision(17);
  for (int i = 0; i < kKnots; ++i) {
    const double x = static_cast<double>(i) / (kKnots - 1);
    osL << x << " " << 12.0 * x * x << " " << 24.0 * x + 0.01 << "\n";
  }
  return osL.str();
}

std::vector<float> rawScores() {
  std::mt19937 rngL(7);
  std::uniform_real_distribution<float> distL(-0.1f, 1.1f);
  std::vector<float> scoresL(kScores);
  for (float& s : scoresL) s = distL(rngL);
  return scoresL;
}

void BM_MapThroughLibrary(benchmark::State& stateA) {
  qrscore::ScoreNormalizer handleL(qrscore::ScoreNormalizer::KindSpline, true);
  std::istringstream inL(mappingText());
  if (handleL.readSpline(inL) != qrscore::ScoreCurveOk) stateA.SkipWithError("bad mapping");
  const std::vector<float> scoresL = rawScores();
  std::vector<float> outL(kScores);
  for (auto _ : stateA) {
    for (int i = 0; i < kScores; ++i) qrscore::normalizeScore(&handleL, scoresL[i], &outL[i]);
    benchmark::DoNotOptimize(outL.data());
  }
  stateA.SetItemsProcessed(stateA.iterations() * kScores);
}
BENCHMARK(BM_MapThroughLibrary);

// The same cubic Hermite evaluation on plain arrays.
void BM_MapScalarReference(benchmark::State& stateA) {
  qrscore::CurveMCSpline splineL;
  std::istringstream inL(mappingText());
  splineL.read(inL, true);
  std::vector<double> x, y, d, c2(kKnots, 0.0), c3(kKnots, 0.0);
  for (const auto& k : splineL.knots()) {
    x.push_back(k.x);
    y.push_back(k.y);
    d.push_back(k.d);
  }
  for (int i = 0; i + 1 < kKnots; ++i) {
    const double h = x[i + 1] - x[i], m = (y[i + 1] - y[i]) / h;
    c2[i] = (3 * m - 2 * d[i] - d[i + 1]) / h;
    c3[i] = (d[i] + d[i + 1] - 2 * m) / (h * h);
  }
  const std::vector<float> scoresL = rawScores();
  std::vector<float> outL(kScores);
  for (auto _ : stateA) {
    for (int i = 0; i < kScores; ++i) {
      const double s = scoresL[i];
      int k = 0;
      if (s >= x[kKnots - 1]) {
        k = kKnots - 1;
      } else if (s >= x[0]) {
        int lo = 0, hi = kKnots - 1;
        while (hi - lo > 1) {
          const int mid = (lo + hi) / 2;
          (x[mid] <= s ? lo : hi) = mid;
        }
        k = lo;
      }
      const double t = s - x[k];
      const double v = ((c3[k] * t + c2[k]) * t + d[k]) * t + y[k];
      outL[i] = static_cast<float>(v < 0.0 ? 0.0 : v);
    }
    benchmark::DoNotOptimize(outL.data());
  }
  stateA.SetItemsProcessed(stateA.iterations() * kScores);
}
BENCHMARK(BM_MapScalarReference);

std::vector<float> fusionInputs(int countA) {
  std::mt19937 rngL(11);
  std::uniform_real_distribution<float> distL(0.0f, 8.0f);
  std::vector<float> scoresL(kScores * countA);
  for (float& s : scoresL) s = distL(rngL);
  return scoresL;
}

// Fusions of countA scores (3: the iris fusion of an identity) through the fusion handle.
void BM_FuseThroughLibrary(benchmark::State& stateA) {
  const int countL = static_cast<int>(stateA.range(0));
  qrscore::ScoreFusion* fusionL = nullptr;
  qrscore::createFusion(&fusionL, nullptr, countL);
  const std::vector<float> scoresL = fusionInputs(countL);
  float sinkL = 0.0f;
  for (auto _ : stateA) {
    for (int i = 0; i < kScores; ++i) {
      float outL = 0.0f;
      qrscore::fuseScores(fusionL, &scoresL[i * countL], countL, &outL);
      sinkL += outL;
    }
    benchmark::DoNotOptimize(sinkL);
  }
  qrscore::destroyFusion(fusionL);
  stateA.SetItemsProcessed(stateA.iterations() * kScores);
}
BENCHMARK(BM_FuseThroughLibrary)->Arg(2)->Arg(3)->Arg(10);

// S - log10(sum_{k<n} L^k / k!) written out directly, unit weights.
void BM_FuseScalarReference(benchmark::State& stateA) {
  const int countL = static_cast<int>(stateA.range(0));
  const std::vector<float> scoresL = fusionInputs(countL);
  const double ln10 = std::log(10.0);
  float sinkL = 0.0f;
  for (auto _ : stateA) {
    for (int i = 0; i < kScores; ++i) {
      double S = 0.0;
      for (int j = 0; j < countL; ++j) S += std::max(0.0f, scoresL[i * countL + j]);
      const double L = ln10 * S;
      double term = 1.0, sum = 0.0;
      for (int k = 0; k < countL; ++k) {
        if (k) term *= L / k;
        sum += term;
      }
      sinkL += static_cast<float>(std::max(0.0, S - std::log10(sum)));
    }
    benchmark::DoNotOptimize(sinkL);
  }
  stateA.SetItemsProcessed(stateA.iterations() * kScores);
}
BENCHMARK(BM_FuseScalarReference)->Arg(2)->Arg(3)->Arg(10);

}  // namespace

BENCHMARK_MAIN();
