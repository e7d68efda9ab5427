#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <qrlfinger/L2FMatcher.h>
#include <quarlen/ScoreCurve.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace qridy {

// "l2f": both templates go to the vendor L2F matcher, whose raw score r is mapped through the
// logFar curve of the file named by "L2F_logFarScoreMappingFile" (section
// "TEMPLATE_MATCHING_MULTIPASS"): score = curve(r / 100), a -log10 false-accept rate. A template
// the matcher refuses scores 0.0. Template facts: the minutia count (16 bits at offset 2) and the
// finger orientation (signed byte at offset 5).
//
// Settings read at construction from "TEMPLATE_MATCHING_MULTIPASS": "l2fUseAngleEstimation"
// (default true), "defaultAngleTolerance" and "angleConfidenceThreshold" (kept as bytes and
// given to the matcher). Parameter 2 is the matcher's flavour (2). Construction throws
// kxxcp::Exception (function "qridy::StageMatchEngine_FP_L2F::initScoreMapFile")
// "Could not open logFar score mapping file: <file>" or "Could not create logFar score mapper
// with: <file>( error : <code>)" when the curve cannot be had.
class StageMatchEngine_FP_L2F : public StageMatchEngine_Base {
 public:
  StageMatchEngine_FP_L2F();
  ~StageMatchEngine_FP_L2F() override;

  std::string templateInfoText(const unsigned char* dataA, unsigned int sizeA,
                               bool isProbeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  std::uint16_t minutiaCount(const unsigned char* dataA) override;

  bool useAngleEstimation() const { return useAngleEstimationM; }
  std::uint8_t defaultAngleTolerance() const { return defaultAngleToleranceM; }
  std::uint8_t angleConfidenceThreshold() const { return angleConfidenceThresholdM; }

 protected:
  // mappingKeyA: the configuration key of the curve file; flavourA: parameter 2.
  StageMatchEngine_FP_L2F(const char* mappingKeyA, std::uint32_t flavourA);
  // What the engine makes of the mapped value.
  virtual float finalScore(float mappedA) const { return mappedA; }
  virtual const char* mappingErrorText() const { return "l2f score mapping error: "; }

 private:
  void initScoreMapFile();

  L2F_7::CL2FMatcher matcherM;
  std::string mappingKeyM;
  std::unique_ptr<qrscore::ScoreNormalizer, int (*)(qrscore::ScoreNormalizer*)> mapperM;
  bool useAngleEstimationM = true;
  std::uint8_t defaultAngleToleranceM = 0;
  std::uint8_t angleConfidenceThresholdM = 0;
};

}  // namespace qridy
