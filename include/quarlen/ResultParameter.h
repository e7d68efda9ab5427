#pragma once

#include <array>
#include <memory>
#include <string>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ScoreCurve.h>
#include <quarlen/Types.h>

namespace qridy {

// A mapping curve of the score-curve library; destroyed with destroyNormalizer when the last
// owner lets go.
using ScoreMapHandle = std::shared_ptr<qrscore::ScoreNormalizer>;
using ScoreFusionHandle = std::shared_ptr<qrscore::ScoreFusion>;

// Reads the path of a score-mapping file from key keyA of section sectionA of the system
// configuration and builds its mapping curve. Throws kxxcp::Exception
// "Could not open logFar score mapping file: <path>" when the file cannot be opened, and the
// same text followed by "( error : <code>)" when it is no valid mapping.
QUARLEN_EXPORT ScoreMapHandle createLogFarScoreMapHandle(const std::string& sectionA,
                                                         const std::string& keyA);

// How raw scores are brought onto a common scale before they enter a result tree, read once
// from the system configuration: the face mapping mode with its scaling bounds or logFar curves
// and fusion weights, the iris curve, and the iris and finger fusions.
//
// Filled once by readFromQuarlenIni, then only read: one object may serve several threads.
// Copies share the curves and fusions (they stay alive while any copy does).
class QUARLEN_EXPORT ResultParameter {
 public:
  enum FaceScoreMappingMode { Unset = 0, Scaling = 1, LogFar = 2, NoMapping = 3 };

  ResultParameter();
  ResultParameter(const ResultParameter& otherA);
  ResultParameter& operator=(const ResultParameter& otherA);
  ~ResultParameter();

  // Reads the configuration (once: does nothing when already initialised). Keys:
  //  TEMPLATE_MATCHING_MULTIPASS/faceScoreMappingMode: "scaling", "logFar" or "noMapping";
  //  scaling: the bounds sMin<Alg>/sMax<Alg> of the same section;
  //  logFar: the mapping files <Alg>_logFarScoreMappingFile of the same section and the
  //    fusion weights of section TEMPLATE_MATCHING_MULTIPASS_FUSION;
  //  always: the iris mapping file IRIS/scoreMappingFile.
  // Throws kxxcp::Exception "Unknown faceScoreMappingMode: <text>", the errors of
  // createLogFarScoreMapHandle and of the configuration service; the object then stays
  // uninitialised (curves already read are kept).
  void readFromQuarlenIni();
  bool isInitialised() const { return initialisedM; }
  FaceScoreMappingMode faceScoreMappingMode() const { return modeM; }

  // Maps raw score rawA of one block onto the common scale. With mapScoreA false the score
  // passes unchanged, whatever its value. Otherwise returns false when the score is dropped
  // (outside [-1e7, 1e7] or not a number; logged "infinite raw sccore : "...); mappedA is
  // then untouched. Mapping errors are logged and the score passes unmapped (iris: becomes 0).
  // Scaling with equal lower and upper bounds (both keys absent, say) would divide 0 by 0 for a
  // score at the bound: that score maps to 0 rather than NaN (other scores to +-infinity and
  // then the clamp, 1 or 0). Throws kxxcp::Exception for the cases the mapping does not support
  // (fmf and hgmPyrBitSmwSb with gallery normalisation in LogFar mode).
  bool mapScore(Modality modalityA, Instance instanceA, Algorithm algorithmA, float rawA,
                bool mapScoreA, bool galleryNormalizedA, float& mappedA) const;

  // The weight of a face algorithm's block in the log-FAR fusion of a template (1.0 for
  // algorithms without a weight key). Throws kxxcp::Exception for hgmPyrBitSmwSb with gallery
  // normalisation.
  float fusionWeight(Algorithm algorithmA, bool galleryNormalizedA) const;

  // The fusions of several iris or finger scores of one identity; null when not created.
  const qrscore::ScoreFusion* irisFusion() const { return irisFusionM.get(); }
  const qrscore::ScoreFusion* fingerFusion() const { return fingerFusionM.get(); }

  // The bounds of a scaled algorithm (false for algorithms that are not rescaled).
  bool scalingBounds(Algorithm algorithmA, float& lowerA, float& upperA) const;

  // Slots of the face mapping curves, in the order of the data layout.
  enum CurveSlot {
    CurveL1Jim,
    CurveL2Jim,
    CurveL3Jim,
    CurveFHgm,
    CurveHgm,
    CurveHgmByte,
    CurveHgmSmw,
    CurveHgmByteSmw,
    CurveHgmPyrBitSmw,
    CurveHgmPyr,
    CurveHgmPyrByte,
    CurveHgmPyrSmw,
    CurveHgmPyrByteSmw,
    CurveHgmPyrBit,
    CurveVfa,
    CurveVfa2,
    CurveVfa3,
    CurveLfa,
    CurveLfaG,
    CurveLfaLowRes,
    CurveLfaGLowRes,
    CurveLfaIlmSb,
    CurveLfaGIlmSb,
    CurveSta,
    CurveDicar,
    CurveSlotCount
  };
  static constexpr int kScalingBoundCount = 28;
  static constexpr int kFusionWeightCount = 21;

 private:
  std::array<float, kScalingBoundCount> scalingBoundsM{};
  std::array<float, kFusionWeightCount> fusionWeightsM{};
  ScoreMapHandle irisCurveM;
  ScoreFusionHandle irisFusionM;
  ScoreFusionHandle fingerFusionM;
  std::array<ScoreMapHandle, CurveSlotCount> faceCurvesM;
  FaceScoreMappingMode modeM = Unset;
  bool initialisedM = false;
};

}  // namespace qridy
