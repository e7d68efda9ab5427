#include <quarlen/ResultParameter.h>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

namespace qridy {
namespace {

using QI = kxutl::QuarlenInformation;

class ResultParameterTest : public ::testing::Test {
 protected:
  void TearDown() override { QI::setConfigFile(""); }

  void configure(const std::string& modeA, const std::string& extraA = "") {
    quarlen_test::installScoreConfig(dirM, modeA, extraA);
  }

  static float map(const ResultParameter& pA, Algorithm algA, float rawA, bool gA = false,
                   Modality modA = ModalityFace) {
    float outL = -12345.0f;
    EXPECT_TRUE(pA.mapScore(modA, InstanceFaceFrontal, algA, rawA, true, gA, outL));
    return outL;
  }

  quarlen_test::ScopedEnv noFileM{"QUARLEN_CONFIG_FILE", std::nullopt};
  quarlen_test::TempDir dirM;
  quarlen_test::CapturedErrors errorsM;
};

TEST_F(ResultParameterTest, UnknownModeLeavesTheObjectUninitialised) {
  configure("LogFar");
  ResultParameter p;
  EXPECT_KXXCP_MESSAGE(p.readFromQuarlenIni(), "Unknown faceScoreMappingMode: LogFar");
  EXPECT_FALSE(p.isInitialised());
  configure("");
  EXPECT_KXXCP_MESSAGE(p.readFromQuarlenIni(), "Unknown faceScoreMappingMode: ");
}

TEST_F(ResultParameterTest, ScalingBoundsAndClamps) {
  configure("scaling",
            "[TEMPLATE_MATCHING_MULTIPASS]\nsMinHgm = 0\nsMaxHgm = 1\nsMinVfa = 0.2\n"
            "sMaxVfa = 0.6\nsMaxLfaIlmSb = 10\nsMinLfaIlmSb = 20\nsMinLfaLowRes = 4\n"
            "sMaxLfaLowRes = 8\n");
  ResultParameter p;
  p.readFromQuarlenIni();
  ASSERT_TRUE(p.isInitialised());
  EXPECT_EQ(p.faceScoreMappingMode(), ResultParameter::Scaling);
  EXPECT_FLOAT_EQ(map(p, AlgVfa, 0.4f), (0.4f - 0.2f) / (0.6f - 0.2f));
  EXPECT_EQ(map(p, AlgHgm, 9.9e-6f), 0.0f);
  EXPECT_EQ(map(p, AlgHgm, 1e-5f), 0.0f);  // the float 1e-5f lies just below 1e-5
  EXPECT_EQ(map(p, AlgHgm, std::nextafter(1e-5f, 1.0f)), std::nextafter(1e-5f, 1.0f));
  EXPECT_EQ(map(p, AlgHgm, 1.01e-5f), 1.01e-5f);
  EXPECT_EQ(map(p, AlgHgm, 1.2f), 1.0f);
  EXPECT_EQ(map(p, AlgHgm, -3.0f), 0.0f);
  EXPECT_FLOAT_EQ(map(p, AlgDicar, 15.0f), 0.5f);    // the Max key is the lower bound
  EXPECT_FLOAT_EQ(map(p, AlgLfaIlmSb, 6.0f), 0.5f);  // shares the lfaLowRes bounds
  EXPECT_FLOAT_EQ(map(p, AlgLfaLowRes, 7.0f), 0.75f);
  // Not rescaled, only clamped.
  EXPECT_EQ(map(p, AlgL2f, 37.0f, false, ModalityFingerprint), 1.0f);
  EXPECT_EQ(map(p, AlgL2f, 0.4f, false, ModalityFingerprint), 0.4f);
  EXPECT_EQ(map(p, AlgHgmFloat, 0.7f), 0.7f);
  // Absent bounds are both 0: a score at the bound counts as the lower end, not as NaN.
  EXPECT_EQ(map(p, AlgSta, 0.0f), 0.0f);
  EXPECT_EQ(map(p, AlgSta, 0.5f), 1.0f);
  float lowerL = 0, upperL = 0;
  EXPECT_TRUE(p.scalingBounds(AlgVfa, lowerL, upperL));
  EXPECT_FLOAT_EQ(upperL, 0.6f);
  EXPECT_FALSE(p.scalingBounds(AlgL2f, lowerL, upperL));
}

TEST_F(ResultParameterTest, TheRawScoreRangeBoundary) {
  configure("noMapping");
  ResultParameter p;
  p.readFromQuarlenIni();
  EXPECT_EQ(map(p, AlgHgm, 1e7f), 1e7f);
  EXPECT_EQ(map(p, AlgHgm, -1e7f), -1e7f);
  float outL = 5.0f;
  EXPECT_FALSE(
      p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, 1.0000001e7f, true, false, outL));
  EXPECT_FALSE(p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, -2e7f, true, false, outL));
  EXPECT_FALSE(p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, NAN, true, false, outL));
  EXPECT_EQ(outL, 5.0f);
  ASSERT_EQ(errorsM.entriesM.size(), 3u);
  EXPECT_EQ(errorsM.entriesM[0], "infinite raw sccore : hgm/faceFrontal/face : 1e+07");
  EXPECT_EQ(errorsM.entriesM[2], "infinite raw sccore : hgm/faceFrontal/face : nan");
  // Unmapped scores pass as they are, large and non-finite ones included, and nothing is logged.
  EXPECT_TRUE(p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, 5e8f, false, false, outL));
  EXPECT_EQ(outL, 5e8f);
  EXPECT_TRUE(p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, INFINITY, false, false, outL));
  EXPECT_EQ(outL, INFINITY);
  EXPECT_TRUE(p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgm, NAN, false, false, outL));
  EXPECT_TRUE(std::isnan(outL));
  EXPECT_EQ(errorsM.entriesM.size(), 3u);
}

TEST_F(ResultParameterTest, IrisScoresGoThroughTheIrisCurveInEveryMode) {
  for (const char* modeL : {"scaling", "logFar", "noMapping"}) {
    configure(modeL);
    ResultParameter p;
    p.readFromQuarlenIni();
    EXPECT_EQ(map(p, AlgDaugman2010, -0.95f, false, ModalityIris), 0.0f) << modeL;
    EXPECT_FLOAT_EQ(map(p, AlgDaugman2010, -0.9f, false, ModalityIris), -0.9f + 2.0f) << modeL;
    EXPECT_FLOAT_EQ(map(p, AlgMvxIris2PiSdk, 0.5f, false, ModalityIris), 2.5f) << modeL;
  }
  // Without a curve (never initialised) iris scores become 0 and the error is logged.
  ResultParameter emptyL;
  EXPECT_EQ(map(emptyL, AlgDaugman2010, 0.5f, false, ModalityIris), 0.0f);
  EXPECT_EQ(errorsM.entriesM.back(), "Iris score mapping error: 12");
}

TEST_F(ResultParameterTest, LogFarCurvesPerAlgorithmAndNormalisation) {
  configure("logFar");
  ResultParameter p;
  p.readFromQuarlenIni();
  EXPECT_FLOAT_EQ(map(p, AlgHgm, 0.5f), 2.5f);
  EXPECT_FLOAT_EQ(map(p, AlgHgm, 0.5f, true), 1.0f);  // the smw curve
  EXPECT_FLOAT_EQ(map(p, AlgLfa, 0.0f, true), 2.0f);
  EXPECT_EQ(map(p, AlgHgm, -4.0f), 0.0f);  // clamped at zero
  // Algorithms without a curve keep the raw score; so do finger algorithms.
  EXPECT_EQ(map(p, AlgHgmFloat, 0.5f), 0.5f);
  EXPECT_EQ(map(p, AlgL2f, 33.0f, false, ModalityFingerprint), 33.0f);
  // The fHgm slot is never filled: the score stays unmapped and the error is logged.
  EXPECT_EQ(map(p, AlgFHgm, 0.5f), 0.5f);
  EXPECT_EQ(errorsM.entriesM.back(), "fhgm score mapping error: 12");

  float outL = 0.0f;
  EXPECT_KXXCP_MESSAGE(
      p.mapScore(ModalityFace, InstanceFaceFrontal, AlgFmf, 0.5f, true, false, outL),
      "logFar mapping not supported for FMF.");
  EXPECT_KXXCP_MESSAGE(
      p.mapScore(ModalityFace, InstanceFaceFrontal, AlgHgmPyrBitSmwSb, 0.5f, true, true, outL),
      "logFar mapping not supported for hgmPyrBitSmwSBC + gallery norm.");
  EXPECT_FLOAT_EQ(map(p, AlgHgmPyrBitSmwSb, 0.5f), 2.5f);
  // The largest accepted raw score still maps through a linear curve.
  EXPECT_EQ(map(p, AlgVfa, 1e7f), 1e7f + 2.0f);
}

TEST_F(ResultParameterTest, FusionWeights) {
  configure("logFar",
            "[TEMPLATE_MATCHING_MULTIPASS_FUSION]\nHGM2K = 0.9\nHGM2Ksmw = 0.8\nHGMPyr2K = 0.7\n"
            "HGMPyr2Ksmw = 0.6\nHGMPyr16K = 0.1\nLFAg = -1\nL2Jim = 0.3\n");
  ResultParameter p;
  p.readFromQuarlenIni();
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgHgm, false), 0.9f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgHgm, true), 0.8f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgHgmPyrFloat, false), 0.7f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgHgmPyrBit, true), 0.6f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgHgmPyrBitSmwSb, false), 0.6f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgLfa, true), -1.0f);
  EXPECT_FLOAT_EQ(p.fusionWeight(AlgL2Jim, false), 0.3f);
  EXPECT_EQ(p.fusionWeight(AlgVfa, false), 0.0f);  // absent keys read as 0
  EXPECT_EQ(p.fusionWeight(AlgL2f, false), 1.0f);
  EXPECT_EQ(p.fusionWeight(AlgFmf, true), 1.0f);
  EXPECT_KXXCP_MESSAGE(p.fusionWeight(AlgHgmPyrBitSmwSb, true),
                       "no weight found for  hgmPyrBitSmwSBC + gallery norm.");
  ASSERT_NE(p.irisFusion(), nullptr);
  ASSERT_NE(p.fingerFusion(), nullptr);
}

TEST_F(ResultParameterTest, MissingOrMalformedMappingFiles) {
  const std::string missingL = dirM.path() + "/absent.map";
  configure("logFar",
            "[TEMPLATE_MATCHING_MULTIPASS]\nHgmPyr_logFarScoreMappingFile = " + missingL + "\n");
  ResultParameter p;
  EXPECT_KXXCP_MESSAGE(p.readFromQuarlenIni(),
                       "Could not open logFar score mapping file: " + missingL);
  EXPECT_FALSE(p.isInitialised());

  const std::string sevenL = dirM.write("seven.map", "0 0 1 1 1 1 2\n");
  configure("noMapping", "[IRIS]\nscoreMappingFile = " + sevenL + "\n");
  EXPECT_KXXCP_MESSAGE(p.readFromQuarlenIni(),
                       "Could not open logFar score mapping file: " + sevenL + "( error : 16)");
  EXPECT_KXXCP_MESSAGE(createLogFarScoreMapHandle("IRIS", "noSuchKey"),
                       "Could not open logFar score mapping file: ");
}

TEST_F(ResultParameterTest, ReadsOnceAndCopiesShareTheCurves) {
  configure("logFar");
  auto p = std::make_unique<ResultParameter>();
  p->readFromQuarlenIni();
  configure("bogus");
  p->readFromQuarlenIni();  // already initialised: the new configuration has no effect
  EXPECT_EQ(p->faceScoreMappingMode(), ResultParameter::LogFar);
  ResultParameter copyL;
  copyL = *p;
  p.reset();
  EXPECT_FLOAT_EQ(map(copyL, AlgHgm, 0.5f), 2.5f);
  EXPECT_TRUE(copyL.isInitialised());
}

}  // namespace
}  // namespace qridy
