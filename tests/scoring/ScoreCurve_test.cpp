#include <quarlen/ScoreCurve.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "scoring/ScoreCurveLibrary.h"
#include "support/Environment.h"

namespace qrscore {
namespace {

constexpr double kLn10 = 2.302585092994045684;

class ScoreCurveTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto* h : normalizersM) destroyNormalizer(h);
  }

  // Reads a mapping file with the given content; the handle is released after the test.
  int load(const std::string& contentA, ScoreNormalizer** handleA) {
    const int codeL = createNormalizerFromFile(handleA, dirM.write("map.txt", contentA).c_str());
    if (codeL == ScoreCurveOk) normalizersM.push_back(*handleA);
    return codeL;
  }
  int loadCode(const std::string& contentA) {
    ScoreNormalizer* handleL = nullptr;
    return load(contentA, &handleL);
  }

  static float fuse(std::vector<float> scoresA, std::vector<float> weightsA = {}) {
    return logFarFusion(scoresA.data(), scoresA.size(), weightsA.data(), weightsA.size());
  }

  // Cubic Hermite interpolation between two knots, written from the basis functions; the
  // spline's own coefficients are not used. t may lie outside [0, 1] (extrapolation).
  static double hermite(const CurveMCSpline::Knot& a, const CurveMCSpline::Knot& b, double x) {
    const double h = b.x - a.x, t = (x - a.x) / h;
    const double h00 = 2 * t * t * t - 3 * t * t + 1, h10 = t * t * t - 2 * t * t + t;
    const double h01 = -2 * t * t * t + 3 * t * t, h11 = t * t * t - t * t;
    return h00 * a.y + h10 * h * a.d + h01 * b.y + h11 * h * b.d;
  }

  quarlen_test::TempDir dirM;
  std::vector<ScoreNormalizer*> normalizersM;
};

TEST_F(ScoreCurveTest, LogFarFusionKnownValues) {
  EXPECT_EQ(fuse({}), 0.0f);
  EXPECT_EQ(fuse({3.0f}, {1.0f}), 3.0f);
  EXPECT_EQ(fuse({3.0f}, {0.5f}), 1.5f);
  EXPECT_EQ(fuse({-2.0f}), 0.0f);
  EXPECT_EQ(fuse({0.0f}), 0.0f);
  // Two equal weights: 6 - log10(1 + 6 ln 10).
  const float twoL = fuse({3.0f, 3.0f}, {1.0f, 1.0f});
  EXPECT_FLOAT_EQ(twoL, static_cast<float>(6.0 - std::log10(1.0 + 6.0 * kLn10)));
  EXPECT_NEAR(twoL, 4.84f, 0.02f);
  EXPECT_EQ(fuse({3.0f, 3.0f}), twoL);  // missing weights are 1
  // Negative scores take no part; more than 100 scores give the marker.
  EXPECT_EQ(fuse({3.0f, -5.0f}), fuse({3.0f, 0.0f}));
  EXPECT_EQ(fuse(std::vector<float>(100, 1.0f)) > 0.0f, true);
  EXPECT_EQ(fuse(std::vector<float>(101, 1.0f)), -987654336.0f);
  EXPECT_EQ(kTooManyScores, -987654336.0f);
}

// -log10 P(w0 X0 + w1 X1 >= L) for independent unit exponentials, by numerical integration
// over x0 of exp(-x0) P(X1 >= (L - w0 x0) / w1).
double twoWeightReference(double s0, double s1, double w0, double w1) {
  const double S = s0 * w0 + s1 * w1, L = S * kLn10;
  const int stepsL = 200000;
  const double upperL = L / w0;
  long double integralL = 0.0L;
  for (int i = 0; i < stepsL; ++i) {  // midpoint rule on [0, L/w0]
    const double x = (i + 0.5) * upperL / stepsL;
    integralL += std::exp(-x) * std::exp(-(L - w0 * x) / w1);
  }
  integralL *= upperL / stepsL;
  const long double tailL = std::exp(-upperL);  // x0 beyond L/w0: the sum exceeds L already
  return -std::log10(static_cast<double>(integralL + tailL));
}

TEST_F(ScoreCurveTest, TwoWeightFusionMatchesAnIndependentIntegral) {
  struct Case {
    float s0, s1, w0, w1;
  };
  for (const Case& c : {Case{3.0f, 3.0f, 1.0f, 0.5f}, Case{2.0f, 4.5f, 0.3f, 0.9f},
                        Case{5.0f, 1.0f, 1.0f, 2.0f}, Case{0.5f, 7.0f, 0.8f, 0.2f}}) {
    const double expectedL = std::max(0.0, twoWeightReference(c.s0, c.s1, c.w0, c.w1));
    EXPECT_NEAR(fuse({c.s0, c.s1}, {c.w0, c.w1}), expectedL, 2e-4 * std::max(1.0, expectedL))
        << c.s0 << " " << c.s1 << " " << c.w0 << " " << c.w1;
  }
  // Weights closer than 0.001 take the equal-weight formula.
  const float nearL = fuse({3.0f, 3.0f}, {1.0f, 1.0005f});
  const double S = 3.0 + 3.0 * 1.0005f;
  EXPECT_FLOAT_EQ(nearL, static_cast<float>(S - std::log10(1.0 + S * kLn10)));
}

// The switch between the two-weight and the equal-weight formula at |w0 - w1| = 0.001, with
// weights far from 1, where the two formulas part: scores (1, 1), weights 3 and 3 +- 0.0011 or
// 0.0009 (as floats: differences 0.00110006 and 0.00090003).
//  - 0.0011 apart: S = 6.0011, L = S ln 10 = 13.8180; A = exp(2.0011 L / 3.0011) * 3.0011 /
//    0.0011 and B = exp(2 L / 3) * 3 / -0.0011 nearly cancel: S - log10(A + B) = 1.25141;
//  - 0.0009 apart: S = 6.0009, S - log10(1 + L) = 6.0009 - log10(14.8176) = 4.83012.
TEST_F(ScoreCurveTest, TheWeightDifferenceThresholdSwitchesTheFormula) {
  EXPECT_NEAR(fuse({1.0f, 1.0f}, {3.0f, 3.0011f}), 1.25141, 2e-5);
  EXPECT_NEAR(fuse({1.0f, 1.0f}, {3.0011f, 3.0f}), 1.25141, 2e-5);  // the difference's size
  EXPECT_NEAR(fuse({1.0f, 1.0f}, {3.0f, 3.0009f}), 4.83012, 2e-5);
  EXPECT_NEAR(fuse({1.0f, 1.0f}, {3.0009f, 3.0f}), 4.83012, 2e-5);
  // Equal weights of 3: no two-weight formula, S = 6, 6 - log10(1 + 6 ln 10) = 4.82928.
  EXPECT_NEAR(fuse({1.0f, 1.0f}, {3.0f, 3.0f}), 4.82928, 2e-5);
}

TEST_F(ScoreCurveTest, WeightNormalisationRules) {
  // n > 2: weights divided by the largest one when it exceeds 1.
  const float threeL = fuse({1.0f, 2.0f, 3.0f}, {2.0f, 4.0f, 1.0f});
  const double S = 1.0 * 0.5 + 2.0 * 1.0 + 3.0 * 0.25, L = S * kLn10;
  EXPECT_FLOAT_EQ(threeL, static_cast<float>(S - std::log10(1.0 + L + L * L / 2.0)));
  // n = 2 with a zero weight: normalised S, then the two-weight formula in which the zero
  // weight's term vanishes: result = S - log10(exp((w1-1)L/w1)) = L / (w1 ln 10).
  const float zeroL = fuse({1.0f, 4.0f}, {0.0f, 2.0f});
  EXPECT_NEAR(zeroL, 4.0 * 1.0 / 2.0, 1e-5);  // S = 4 * (2/2) = 4, L/(2 ln10) = 2
  // Both weights zero: nothing counts.
  EXPECT_EQ(fuse({1.0f, 4.0f}, {0.0f, 0.0f}), 0.0f);
}

TEST_F(ScoreCurveTest, HugeScoresDoNotOverflowTheSums) {
  std::vector<float> manyL(100, 300.0f);
  const float resultL = fuse(manyL);
  long double S = 100 * 300.0L, L = S * 2.302585092994045684L, termL = 1, sumL = 0;
  for (int k = 0; k < 100; ++k) {
    if (k) termL *= L / k;
    sumL += termL;
  }
  EXPECT_FLOAT_EQ(resultL, static_cast<float>(S - std::log10(sumL)));
  // Two weights, S = 1800: -log10(3 exp(-L/3) - 2 exp(-L/2)) = S/3 - log10(3) to float
  // precision, although exp(L/2) overflows on the way.
  EXPECT_FLOAT_EQ(fuse({400.0f, 300.0f}, {3.0f, 2.0f}), 600.0 - std::log10(3.0));
  EXPECT_FLOAT_EQ(fuse({400.0f, 300.0f}, {2.0f, 3.0f}), 1700.0 / 3.0 - std::log10(3.0));
}

TEST_F(ScoreCurveTest, FusionHandleChecksAndWeights) {
  ScoreFusion* fusionL = nullptr;
  ASSERT_EQ(createFusion(&fusionL, nullptr, 3), ScoreCurveOk);
  const float scoresL[] = {3.0f, 3.0f};
  float outL = -1.0f;
  EXPECT_EQ(fuseScores(nullptr, scoresL, 2, &outL), ScoreCurveHandleNull);
  EXPECT_EQ(fuseScores(fusionL, scoresL, 0, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(fuseScores(fusionL, scoresL, 2, nullptr), ScoreCurveOutputNull);
  EXPECT_EQ(fuseScores(fusionL, nullptr, 2, &outL), ScoreCurveInputNull);
  const float negativeL[] = {3.0f, -0.5f};
  const float nanL[] = {3.0f, std::numeric_limits<float>::quiet_NaN()};
  const float infL[] = {std::numeric_limits<float>::infinity()};
  EXPECT_EQ(fuseScores(fusionL, negativeL, 2, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(fuseScores(fusionL, nanL, 2, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(fuseScores(fusionL, infL, 1, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(outL, -1.0f);  // untouched on every failure
  ASSERT_EQ(fuseScores(fusionL, scoresL, 2, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, fuse({3.0f, 3.0f}));

  int countL = -1;
  EXPECT_EQ(getFusionWeightCount(fusionL, &countL), ScoreCurveOk);
  EXPECT_EQ(countL, 0);
  const float weightsL[] = {1.0f, 0.5f};
  const float badWeightsL[] = {1.0f, -0.5f};
  EXPECT_EQ(setFusionWeights(fusionL, nullptr, 2), ScoreCurveInputNull);
  EXPECT_EQ(setFusionWeights(fusionL, weightsL, 0), ScoreCurveInvalidValue);
  EXPECT_EQ(setFusionWeights(fusionL, badWeightsL, 2), ScoreCurveInvalidValue);
  ASSERT_EQ(setFusionWeights(fusionL, weightsL, 2), ScoreCurveOk);
  float readL[2] = {};
  EXPECT_EQ(getFusionWeights(fusionL, readL, 3), ScoreCurveInvalidValue);
  EXPECT_EQ(getFusionWeights(fusionL, readL, 2), ScoreCurveOk);
  EXPECT_EQ(readL[1], 0.5f);
  ASSERT_EQ(fuseScores(fusionL, scoresL, 2, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, fuse({3.0f, 3.0f}, {1.0f, 0.5f}));

  // The scale multiplies the result; a scale <= 0 resets it to 1.
  float scaleL = 0.0f;
  EXPECT_EQ(setFusionScale(fusionL, 2.0f), ScoreCurveOk);
  ASSERT_EQ(fuseScores(fusionL, scoresL, 2, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 2.0f * fuse({3.0f, 3.0f}, {1.0f, 0.5f}));
  EXPECT_EQ(setFusionScale(fusionL, -3.0f), ScoreCurveOk);
  EXPECT_EQ(getFusionScale(fusionL, &scaleL), ScoreCurveOk);
  EXPECT_EQ(scaleL, 1.0f);
  // At the bound: 0 resets, the smallest positive value is kept.
  EXPECT_EQ(setFusionScale(fusionL, 2.0f), ScoreCurveOk);
  EXPECT_EQ(setFusionScale(fusionL, 0.0f), ScoreCurveOk);
  EXPECT_EQ(getFusionScale(fusionL, &scaleL), ScoreCurveOk);
  EXPECT_EQ(scaleL, 1.0f);
  EXPECT_EQ(setFusionScale(fusionL, std::numeric_limits<float>::denorm_min()), ScoreCurveOk);
  EXPECT_EQ(getFusionScale(fusionL, &scaleL), ScoreCurveOk);
  EXPECT_EQ(scaleL, std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(setFusionScale(fusionL, std::numeric_limits<float>::infinity()),
            ScoreCurveInvalidValue);

  float markerL = 0.0f;
  EXPECT_EQ(missingScoreMarker(fusionL, &markerL), ScoreCurveOk);
  EXPECT_EQ(markerL, -42.0f);
  EXPECT_EQ(destroyFusion(fusionL), ScoreCurveOk);
  EXPECT_EQ(destroyFusion(nullptr), ScoreCurveOk);
  EXPECT_EQ(createFusion(nullptr, nullptr, 3), ScoreCurveOutputNull);
}

TEST_F(ScoreCurveTest, MissingScoreMarkerCountsAsReplacement) {
  ScoreFusion fusionL;
  const float withMarkerL[] = {3.0f, -42.0f};
  EXPECT_EQ(fusionL.fuse(withMarkerL, 2), fuse({3.0f, 0.4343f}));
}

TEST_F(ScoreCurveTest, FusionParameterFile) {
  ScoreFusion* fusionL = nullptr;
  const std::string goodL = dirM.write("fusion.txt", "0\n1.0 0.25\n");
  ASSERT_EQ(createFusion(&fusionL, goodL.c_str(), 2), ScoreCurveOk);
  float readL[2] = {};
  EXPECT_EQ(getFusionWeights(fusionL, readL, 2), ScoreCurveOk);
  EXPECT_EQ(readL[1], 0.25f);
  destroyFusion(fusionL);
  EXPECT_EQ(createFusion(&fusionL, goodL.c_str(), 3), ScoreCurveCannotRead);
  EXPECT_EQ(createFusion(&fusionL, dirM.write("f1.txt", "1 1 1").c_str(), 2), ScoreCurveCannotRead);
  EXPECT_EQ(createFusion(&fusionL, dirM.write("f2.txt", "0 1 -1").c_str(), 2),
            ScoreCurveCannotRead);
  EXPECT_EQ(createFusion(&fusionL, (dirM.path() + "/" + "none").c_str(), 2), ScoreCurveCannotOpen);
}

TEST_F(ScoreCurveTest, SplineBelowInsideAndAboveItsKnots) {
  ScoreNormalizer* handleL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 2 1\n3 3 0.5\n", &handleL), ScoreCurveOk);
  const auto& splineL = static_cast<const CurveMCSpline&>(handleL->forward());
  const auto& k = splineL.knots();
  ASSERT_EQ(k.size(), 3u);
  for (const auto& knot : k) EXPECT_DOUBLE_EQ(splineL.value(knot.x), knot.y);
  for (double x : {0.25, 0.5, 0.9}) EXPECT_NEAR(splineL.value(x), hermite(k[0], k[1], x), 1e-12);
  for (double x : {1.5, 2.0, 2.99}) EXPECT_NEAR(splineL.value(x), hermite(k[1], k[2], x), 1e-12);
  // Below the first knot the first cubic goes on; above the last a line of the last slope.
  for (double x : {-0.5, -2.0}) EXPECT_NEAR(splineL.value(x), hermite(k[0], k[1], x), 1e-12);
  EXPECT_DOUBLE_EQ(splineL.value(5.0), 3.0 + 0.5 * 2.0);
  EXPECT_DOUBLE_EQ(splineL.value(103.0), 3.0 + 0.5 * 100.0);
  EXPECT_DOUBLE_EQ(splineL.derivative(5.0), 0.5);
  EXPECT_DOUBLE_EQ(splineL.derivative(1.0), 1.0);

  float outL = 0.0f;
  ASSERT_EQ(normalizeScore(handleL, 0.5f, &outL), ScoreCurveOk);
  EXPECT_FLOAT_EQ(outL, static_cast<float>(hermite(k[0], k[1], 0.5)));
  // Negative mapped values are clamped to 0.
  ScoreNormalizer* lineL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 1 1\n", &lineL), ScoreCurveOk);
  ASSERT_EQ(normalizeScore(lineL, -0.5f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 0.0f);
  EXPECT_EQ(CurveMCSpline().value(1.0), 0.0);
}

TEST_F(ScoreCurveTest, InverseAndTheFloorRule) {
  ScoreNormalizer* handleL = nullptr;
  // Flat start at y = 0 up to x = 0.5, then rising.
  ASSERT_EQ(load("-1 0 0\n0 0 0\n0.5 0 0\n1 1 0.5\n2 3 2\n", &handleL), ScoreCurveOk);
  EXPECT_TRUE(handleL->hasFloor());
  EXPECT_EQ(handleL->floorValue(), 0.5);
  const auto& inverseL = handleL->inverse()->knots();
  ASSERT_EQ(inverseL.size(), 2u);
  EXPECT_EQ(inverseL[0].x, 1.0);
  EXPECT_EQ(inverseL[0].y, 1.0);
  EXPECT_EQ(inverseL[0].d, 2.0);
  EXPECT_EQ(inverseL[1].d, 0.5);

  float outL = 0.0f;
  ASSERT_EQ(denormalizeScore(handleL, 1.0f, &outL), ScoreCurveOk);
  EXPECT_FLOAT_EQ(outL, 1.0f);
  ASSERT_EQ(denormalizeScore(handleL, 3.0f, &outL), ScoreCurveOk);
  EXPECT_FLOAT_EQ(outL, 2.0f);
  // Below the first inverse knot the extended cubic would go under the flat part's end.
  ASSERT_EQ(denormalizeScore(handleL, 0.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 0.5f);
  ASSERT_LT(handleL->inverse()->value(0.2), 0.5);
  ASSERT_EQ(denormalizeScore(handleL, 0.2f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 0.5f);
  EXPECT_EQ(denormalizeScore(handleL, -0.1f, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(denormalizeScore(handleL, NAN, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(denormalizeScore(nullptr, 1.0f, &outL), ScoreCurveHandleNull);
  EXPECT_EQ(denormalizeScore(handleL, 1.0f, nullptr), ScoreCurveOutputNull);

  // The inverse never decides whether a mapping file is read, and it is used as it stands when
  // its knots are not ascending in y. A falling curve: inverse knots (0, 0, 1), (-1, 1, 1);
  // 1 lies at or above the last knot's x, so the line 1 + (1 - (-1)) * 1 = 3 answers.
  ScoreNormalizer* fallingL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 -1 1\n", &fallingL), ScoreCurveOk);
  ASSERT_EQ(denormalizeScore(fallingL, 1.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 3.0f);
  ASSERT_EQ(denormalizeScore(fallingL, 0.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 2.0f);
  // A repeated y: inverse knots (0, 0, 1), (0, 1, 0.5), (1, 2, 1). 0.5 falls into the second
  // interval (h = 1, m = 1, c2 = 1, c3 = -0.5): ((-0.25 + 1) * 0.5 + 0.5) * 0.5 + 1 = 1.4375.
  // The first interval (h = 0) has no cubic: below its knot it is the line of slope 1.
  ScoreNormalizer* levelL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 0 2\n2 1 1\n", &levelL), ScoreCurveOk);
  ASSERT_EQ(denormalizeScore(levelL, 0.5f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 1.4375f);
  ASSERT_EQ(denormalizeScore(levelL, 0.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 1.0f);  // bisection: x[1] = 0 <= 0 < x[2]
  EXPECT_EQ(levelL->inverse()->value(-1.0), -1.0);
  EXPECT_EQ(levelL->inverse()->value(3.0), 4.0);  // 2 + (3 - 1) * 1
  // A slope too small to invert leaves its knot out of the inverse.
  ScoreNormalizer* tinyL = nullptr;
  ASSERT_EQ(load("0 0 1e-310\n1 1 1\n", &tinyL), ScoreCurveOk);
  ASSERT_EQ(tinyL->inverse()->knots().size(), 1u);
  EXPECT_EQ(tinyL->inverse()->knots()[0].x, 1.0);
  ASSERT_EQ(denormalizeScore(tinyL, 0.5f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 0.5f);
  // Without any slope the inverse is empty (0), so the floor answers.
  ScoreNormalizer* flatL = nullptr;
  ASSERT_EQ(load("0 0 0\n1 0 0\n", &flatL), ScoreCurveOk);
  ASSERT_EQ(normalizeScore(flatL, 3.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 0.0f);
  ASSERT_EQ(denormalizeScore(flatL, 2.0f, &outL), ScoreCurveOk);
  EXPECT_EQ(outL, 1.0f);

  // Without a flat start there is no floor.
  ScoreNormalizer* plainL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 2 1\n", &plainL), ScoreCurveOk);
  EXPECT_FALSE(plainL->hasFloor());
}

TEST_F(ScoreCurveTest, AnEmptyMappingFileMapsEveryScoreToZero) {
  for (const char* contentL : {"", " \n\t \r\n"}) {
    ScoreNormalizer* handleL = nullptr;
    ASSERT_EQ(load(contentL, &handleL), ScoreCurveOk) << '"' << contentL << '"';
    EXPECT_FALSE(handleL->hasFloor());
    float outL = 7.0f;
    for (float scoreL : {0.0f, 1.0f, -3.0f, 1e6f}) {
      ASSERT_EQ(normalizeScore(handleL, scoreL, &outL), ScoreCurveOk);
      EXPECT_EQ(outL, 0.0f) << scoreL;
    }
    outL = 7.0f;
    ASSERT_EQ(denormalizeScore(handleL, 2.5f, &outL), ScoreCurveOk);
    EXPECT_EQ(outL, 0.0f);
  }
  // A mapping that was never read is the same empty curve.
  const ScoreNormalizer unreadL(ScoreNormalizer::KindSpline, true);
  EXPECT_EQ(unreadL.normalize(4.0), 0.0);
  EXPECT_EQ(unreadL.denormalize(4.0), 0.0);
  // The other kinds: the identity inverts to itself; log-erfc has no inverse (code 1).
  const ScoreNormalizer identityL(ScoreNormalizer::KindIdentity, false);
  EXPECT_EQ(identityL.denormalize(2.5), 2.5);
  const ScoreNormalizer erfcL(ScoreNormalizer::KindLogErfc, false);
  float outL = 7.0f;
  EXPECT_EQ(denormalizeScore(&erfcL, 1.0f, &outL), ScoreCurveUnknownError);
  EXPECT_EQ(outL, 7.0f);
}

TEST_F(ScoreCurveTest, ScaleOfAMapping) {
  ScoreNormalizer* handleL = nullptr;
  ASSERT_EQ(load("0 0 2\n1 2 2\n", &handleL), ScoreCurveOk);
  float outL = 0.0f;
  EXPECT_EQ(setNormalizerScale(handleL, 1.25f), ScoreCurveOk);
  ASSERT_EQ(normalizeScore(handleL, 0.5f, &outL), ScoreCurveOk);
  EXPECT_FLOAT_EQ(outL, 1.25f);
  ASSERT_EQ(denormalizeScore(handleL, 1.25f, &outL), ScoreCurveOk);
  EXPECT_FLOAT_EQ(outL, 0.5f);
  float scaleL = 0.0f;
  EXPECT_EQ(setNormalizerScale(handleL, 0.4f), ScoreCurveOk);  // outside [0.5, 1.5]
  EXPECT_EQ(getNormalizerScale(handleL, &scaleL), ScoreCurveOk);
  EXPECT_EQ(scaleL, 1.0f);
  EXPECT_EQ(setNormalizerScale(handleL, 1.5f), ScoreCurveOk);
  EXPECT_EQ(getNormalizerScale(handleL, &scaleL), ScoreCurveOk);
  EXPECT_EQ(scaleL, 1.5f);
  // The accepted range [0.5, 1.5] at both ends, and the values just outside it.
  const auto scaleAfter = [&](float valueA) {
    EXPECT_EQ(setNormalizerScale(handleL, 1.25f), ScoreCurveOk);
    EXPECT_EQ(setNormalizerScale(handleL, valueA), ScoreCurveOk) << valueA;
    EXPECT_EQ(getNormalizerScale(handleL, &scaleL), ScoreCurveOk);
    return scaleL;
  };
  EXPECT_EQ(scaleAfter(0.5f), 0.5f);
  EXPECT_EQ(scaleAfter(std::nextafter(0.5f, 0.0f)), 1.0f);
  EXPECT_EQ(scaleAfter(std::nextafter(1.5f, 2.0f)), 1.0f);
  EXPECT_EQ(scaleAfter(0.0f), 1.0f);  // the smallest value not refused
  EXPECT_EQ(setNormalizerScale(handleL, -std::numeric_limits<float>::denorm_min()),
            ScoreCurveInvalidValue);
  EXPECT_EQ(setNormalizerScale(handleL, INFINITY), ScoreCurveInvalidValue);
  EXPECT_EQ(setNormalizerScale(handleL, -1.0f), ScoreCurveInvalidValue);
  EXPECT_EQ(setNormalizerScale(handleL, NAN), ScoreCurveInvalidValue);
  EXPECT_EQ(getNormalizerScale(handleL, nullptr), ScoreCurveOutputNull);
  EXPECT_EQ(setNormalizerScale(nullptr, 1.0f), ScoreCurveHandleNull);
}

TEST_F(ScoreCurveTest, NonFiniteScoresAreRefused) {
  ScoreNormalizer* handleL = nullptr;
  ASSERT_EQ(load("0 0 1\n1 1 1\n", &handleL), ScoreCurveOk);
  float outL = 7.0f;
  EXPECT_EQ(normalizeScore(handleL, NAN, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(normalizeScore(handleL, INFINITY, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(normalizeScore(handleL, -INFINITY, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(normalizeScore(nullptr, 1.0f, &outL), ScoreCurveHandleNull);
  EXPECT_EQ(normalizeScore(handleL, 1.0f, nullptr), ScoreCurveOutputNull);
  EXPECT_EQ(outL, 7.0f);
  // A finite score whose mapping leaves the float range is refused too.
  ScoreNormalizer* steepL = nullptr;
  ASSERT_EQ(load("0 0 1e300\n1 1e300 1e300\n", &steepL), ScoreCurveOk);
  EXPECT_EQ(normalizeScore(steepL, 3e38f, &outL), ScoreCurveInvalidValue);
  EXPECT_EQ(outL, 7.0f);
}

TEST_F(ScoreCurveTest, MalformedMappingFilesAreRefused) {
  EXPECT_EQ(loadCode("0 0 1\n1 1 1\n2 2"), ScoreCurveCannotRead);  // truncated
  EXPECT_EQ(loadCode("0 0 1 1 1 1 2"), ScoreCurveCannotRead);      // 7 numbers
  EXPECT_EQ(loadCode("0 0 1\n1 x 1\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0 0 1\n1 1.5.2 1\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0 0 1\n1 1 1e999\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0 0 1\n1 1 1e999"), ScoreCurveCannotRead);  // at the very end too
  EXPECT_EQ(loadCode("0 0 1\n1 nan 1\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0 0 1\ninf 1 1\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0 0 1\n0x1p1 1 1\n"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode("0, 0, 1,\n1, 1, 1,\n"), ScoreCurveCannotRead);  // text mode has no commas
  EXPECT_EQ(loadCode("1 0 1\n0 1 1\n"), ScoreCurveCannotRead);        // descending x
  EXPECT_EQ(loadCode("0 0 1\n0 1 1\n"), ScoreCurveCannotRead);        // repeated x
  EXPECT_EQ(loadCode("0 0 1\n1e-320 1 1\n"), ScoreCurveCannotRead);   // cubic overflows
  EXPECT_EQ(loadCode(std::string(600, '1') + " 0 1"), ScoreCurveCannotRead);
  EXPECT_EQ(loadCode(std::string("0 0 1\n1 1\0 1\n", 13)), ScoreCurveCannotRead);
  // Signs, exponents and all kinds of blanks are fine.
  EXPECT_EQ(loadCode("-1.5e0\t+0 .5\r\n2 1E1 1.\n"), ScoreCurveOk);
  EXPECT_EQ(loadCode("5 1 0.5"), ScoreCurveOk);  // a single knot is a line

  ScoreNormalizer* handleL = nullptr;
  EXPECT_EQ(createNormalizerFromFile(&handleL, nullptr), ScoreCurveInputNull);
  EXPECT_EQ(createNormalizerFromFile(nullptr, "x"), ScoreCurveOutputNull);
  EXPECT_EQ(createNormalizerFromFile(&handleL, (dirM.path() + "/" + "absent").c_str()),
            ScoreCurveCannotOpen);
  EXPECT_EQ(createNormalizerFromFile(&handleL, dirM.path().c_str()), ScoreCurveCannotRead);
  EXPECT_EQ(handleL, nullptr);
  EXPECT_EQ(destroyNormalizer(nullptr), ScoreCurveOk);
}

TEST_F(ScoreCurveTest, LineModeReadsCommaSeparatedKnots) {
  CurveMCSpline splineL;
  std::istringstream goodL("0,   0,   1,\n\n1,   2,   1,\n");
  ASSERT_TRUE(splineL.read(goodL, false));
  EXPECT_EQ(splineL.knots().size(), 2u);
  std::istringstream badL("0,   0,   1,\n1,   2\n");
  EXPECT_FALSE(splineL.read(badL, false));
  std::istringstream longL("0,   0,   1," + std::string(1100, ' ') + "\n");
  EXPECT_FALSE(splineL.read(longL, false));
  EXPECT_EQ(splineL.knots().size(), 2u);  // unchanged by failed reads
}

TEST_F(ScoreCurveTest, CurveParametersAndSource) {
  CurveMCSpline splineL;
  const double paramsL[] = {0, 0, 1, 1, 2, 0.5};
  ASSERT_TRUE(splineL.setParameters(paramsL, 6));
  EXPECT_FALSE(splineL.setParameters(paramsL, 5));
  double outL[6] = {};
  EXPECT_EQ(splineL.getParameters(outL, 5), 0);
  EXPECT_EQ(splineL.getParameters(outL, 6), 6);
  EXPECT_EQ(outL[4], 2.0);
  double lowL = 0, highL = 0;
  splineL.domain(lowL, highL);
  EXPECT_EQ(highL, 1.0);
  std::ostringstream srcL;
  splineL.writeSource(srcL, "hgmMap");
  EXPECT_EQ(srcL.str(), "const static double hgmMap[] = { 0, 0, 1, 1, 2, 0.5 };\n");
  EXPECT_STREQ(splineL.name(), "MonotonicCubicSpline");

  CurveIdentity identityL;
  EXPECT_EQ(identityL.value(-3.5), -3.5);
  identityL.domain(lowL, highL);
  EXPECT_EQ(lowL, 0.0);
  EXPECT_EQ(highL, 1.0);
}

TEST_F(ScoreCurveTest, LogErfcFollowsTheNormalTail) {
  CurveLogErfc curveL;
  const double paramsL[] = {0.5, 2.0, 1.5};
  ASSERT_TRUE(curveL.setParameters(paramsL, 3));
  const double badL[] = {0.0, 0.0, 0.0};
  EXPECT_FALSE(curveL.setParameters(badL, 3));
  for (double x : {-3.0, 0.0, 2.0, 3.7, 8.0}) {
    const double q = 0.5 * std::erfc((x - 2.0) / (std::sqrt(2.0) * 1.5));
    EXPECT_NEAR(curveL.value(x), 0.5 - std::log10(q), 1e-6) << x;
  }
  for (double z : {0.0, 0.3, 1.0, 4.0}) {
    EXPECT_NEAR(CurveLogErfc::erfcApprox(z), std::erfc(z), 1.2e-7 * std::erfc(z)) << z;
  }
  const double h = 1e-5;
  EXPECT_NEAR(curveL.derivative(3.0), (curveL.value(3.0 + h) - curveL.value(3.0 - h)) / (2 * h),
              1e-4);
  std::istringstream inL("1 2 3");
  EXPECT_FALSE(curveL.read(inL, true));
}

TEST_F(ScoreCurveTest, ErrorTexts) {
  char bufL[128];
  const std::pair<int, const char*> textsL[] = {
      {0, "No error"},
      {1, "Unknown error"},
      {10, "Error: input parameter is null"},
      {11, "Error: output parameter is null"},
      {12, "Error: handle is null"},
      {13, "Error: unable to create handle"},
      {14, "Error: unable to destroy handle"},
      {15, "Error: unable to open data file"},
      {16, "Error: unable to read data file"},
      {17, "Error: exception thrown when opening data file"},
      {18, "Error: exception thrown when copying array"},
      {19, "Error: input parameter's value is invalid"},
      {2, "Unknown error"},
      {-5, "Unknown error"},
  };
  for (const auto& [code, text] : textsL) {
    ASSERT_EQ(scoreCurveErrorText(code, bufL, sizeof bufL), ScoreCurveOk);
    EXPECT_STREQ(bufL, text) << code;
  }
  char shortL[6];
  ASSERT_EQ(scoreCurveErrorText(12, shortL, sizeof shortL), ScoreCurveOk);
  EXPECT_STREQ(shortL, "Error");
  EXPECT_EQ(scoreCurveErrorText(12, nullptr, 5), ScoreCurveOutputNull);
  EXPECT_EQ(scoreCurveErrorText(12, shortL, 0), ScoreCurveOutputNull);
}

}  // namespace
}  // namespace qrscore
