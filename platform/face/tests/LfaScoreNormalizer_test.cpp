// Cohort normalisation of LFA scores: location and spread per measure type, the mates dropped
// from the cohort, and the mapping of every score.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlface/LfaScoreNormalizer.h>

namespace {

using kxegm::LfaScoreNormalizer;

// 0.0, 0.1, ..., 1.8 and one mate far above them.
std::vector<float> cohortWithMate() {
  std::vector<float> sL;
  for (int i = 0; i < 19; ++i) sL.push_back(0.1f * static_cast<float>(i));
  sL.push_back(50.0f);
  return sL;
}

double sdOfSteps() {  // standard deviation of 0.0 .. 1.8 in steps of 0.1 (float values)
  double meanL = 0, sqL = 0;
  for (int i = 0; i < 19; ++i) meanL += 0.1f * static_cast<float>(i);
  meanL /= 19;
  for (int i = 0; i < 19; ++i) {
    const double dL = 0.1f * static_cast<float>(i) - meanL;
    sqL += dL * dL;
  }
  return std::sqrt(sqL / 19);
}

TEST(LfaScoreNormalizerTest, MeanAndDeviationWithoutTheMates) {
  std::vector<float> sL = cohortWithMate();
  LfaScoreNormalizer nL(0, 2.0f, 0.5f, 3);
  nL.normalize(sL);
  EXPECT_NEAR(nL.location(), 0.9, 1e-6);
  EXPECT_NEAR(nL.spread(), sdOfSteps(), 1e-6);
  EXPECT_FLOAT_EQ(sL[19], static_cast<float>(2.0 * (50.0 - nL.location()) / nL.spread() + 0.5));
  EXPECT_FLOAT_EQ(sL[0], static_cast<float>(2.0 * (0.0 - nL.location()) / nL.spread() + 0.5));
  // One round only: the mate still inflates the estimate.
  std::vector<float> oneL = cohortWithMate();
  LfaScoreNormalizer firstL(0, 1.0f, 0.0f, 1);
  firstL.normalize(oneL);
  EXPECT_NEAR(firstL.location(), (0.9 * 19 + 50) / 20, 1e-5);
}

TEST(LfaScoreNormalizerTest, RobustAndTrimmedMeasures) {
  // Median 0.9, absolute deviations 0 .. 0.9 (and 49.1): their median is 0.5.
  std::vector<float> sL = cohortWithMate();
  LfaScoreNormalizer medianL(3, 1.0f, 0.0f, 1);
  medianL.normalize(sL);
  EXPECT_NEAR(medianL.location(), 0.95, 1e-6);  // 20 values: mean of the 10th and 11th
  EXPECT_NEAR(medianL.spread(), 1.4826 * 0.5, 1e-5);
  // Trimmed: of 20 values the lowest two and the highest two go (0.0, 0.1, 1.8, 50).
  std::vector<float> tL = cohortWithMate();
  LfaScoreNormalizer trimmedL(9, 1.0f, 0.0f, 1);
  trimmedL.normalize(tL);
  EXPECT_NEAR(trimmedL.location(), 0.95, 1e-6);
  double sqL = 0;
  for (int i = 2; i < 18; ++i) sqL += std::pow(0.1f * static_cast<float>(i) - 0.95, 2);
  EXPECT_NEAR(trimmedL.spread(), std::sqrt(sqL / 16), 1e-6);
}

TEST(LfaScoreNormalizerTest, DegenerateCohortsAndBadTypes) {
  const float nanL = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> sL = {3.0f, nanL};  // one finite score: mu 0, sigma 1
  LfaScoreNormalizer nL(0, 2.0f, 1.0f, 3);
  nL.normalize(sL);
  EXPECT_EQ(sL[0], 7.0f);
  EXPECT_TRUE(std::isnan(sL[1]));
  std::vector<float> equalL(5, 4.0f);  // spread 0
  nL.normalize(equalL);
  EXPECT_EQ(equalL[0], 9.0f);
  try {
    LfaScoreNormalizer(1, 1.0f, 0.0f, 3);
    FAIL();
  } catch (const kxxcp::Exception& eA) {
    EXPECT_EQ(eA.getMessage(), "Unknown LFA measure type 1");
  }
}

}  // namespace
