#pragma once

// Stand-in for the vendor L2F matcher library: compares two l2f templates
// (qrlfinger/MinutiaeTemplate.h) with the minutiae matcher (qrlfinger/MinutiaeMatcher.h).
//
// Raw score: 1000 k^2 / (n m) for k paired minutiae out of n probe and m gallery minutiae,
// capped at the caller's maximum. Flavours: bit 2 (value 4) searches every rotation (the
// "360" flavour, 6); otherwise the searched rotations are the default rotation tolerance
// around 0 or around the orientation estimate. Angle estimation (-1) centres the search on
// the difference of the templates' finger orientations when both are at least the angle
// offset confidence threshold confident; 0 never does.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlfinger/FingerExport.h>
#include <qrlfinger/MinutiaeMatcher.h>

namespace L2F_7 {

// Status codes of MatchTemplates.
enum L2FStatus : int {
  L2FOk = 0,
  L2FNullArgument = -1,
  L2FBadProbe = -2,
  L2FBadGallery = -3,
};

class QRLFINGER_EXPORT CL2FMatcher {
 public:
  CL2FMatcher();

  // Degrees, 0..255 (180 and more: every rotation). Default 40; 0 restores the default.
  void SetDefaultRotationTolerance(std::uint8_t degreesA);
  // 0..100. Default 50; 0 restores the default.
  void SetAngleOffsetConfidenceThreshold(std::uint8_t thresholdA);
  std::uint8_t DefaultRotationTolerance() const { return toleranceM; }
  std::uint8_t AngleOffsetConfidenceThreshold() const { return confidenceM; }

  // Compares two l2f templates of probeSizeA and gallerySizeA readable bytes and writes the raw
  // score to *scoreA. angleEstimationA: -1 use the orientation estimate, 0 do not.
  // maxScoreA caps the raw score. The region of interest and matcher data are not supported
  // and must be null. Returns L2FOk, or an L2FStatus with *scoreA untouched.
  int MatchTemplates(const std::uint8_t* probeA, std::size_t probeSizeA,
                     const std::uint8_t* galleryA, std::size_t gallerySizeA, int flavourA,
                     float* scoreA, std::int16_t angleEstimationA, std::int16_t maxScoreA,
                     const void* regionOfInterestA, void* matcherDataA);

 private:
  std::uint8_t toleranceM = 40;
  std::uint8_t confidenceM = 50;
  qrfpt::MinutiaeMatcher matcherM;
  qrfpt::FingerprintTemplate probeM, galleryM;
  std::vector<std::uint8_t> lastProbeM;  // the bytes of the prepared probe
};

}  // namespace L2F_7
