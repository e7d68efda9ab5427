#pragma once

#include <cstdint>

#include <qrliris/IrisExport.h>

namespace kxegm {

// What the iris quality check measured on one eye image. The two leading 16-bit values travel
// into iris template metadata: the number of iris-code bits that the mask keeps (usable for
// matching) and the iris diameter in pixels. quality is the overall score, 0 (unusable) to 100.
// The remaining values are the measurements the score was made from.
struct QRLIRIS_EXPORT IrisQualityCheckResult {
  std::uint16_t usableBitCount = 0;
  std::uint16_t irisDiameter = 0;
  float quality = 0.0f;
  float usableArea = 0.0f;      // fraction of the iris annulus not masked, 0 to 1
  float irisContrast = 0.0f;    // grey-value step from iris to sclera, 0 to 255
  float pupilContrast = 0.0f;   // grey-value step from pupil to iris, 0 to 255
  float pupilIrisRatio = 0.0f;  // pupil radius / iris radius
  float sharpness = 0.0f;       // mean absolute grey-value gradient inside the iris

  bool operator==(const IrisQualityCheckResult& o) const {
    return usableBitCount == o.usableBitCount && irisDiameter == o.irisDiameter &&
           quality == o.quality && usableArea == o.usableArea && irisContrast == o.irisContrast &&
           pupilContrast == o.pupilContrast && pupilIrisRatio == o.pupilIrisRatio &&
           sharpness == o.sharpness;
  }
  bool operator!=(const IrisQualityCheckResult& o) const { return !(*this == o); }
};

}  // namespace kxegm
