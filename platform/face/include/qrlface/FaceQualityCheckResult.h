#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include <qrlface/FaceExport.h>

namespace kxegm {

// What the face quality check found out about one located face: the size of the checked face
// image, the overall quality (0 to 100), the eye distance in pixels, the head pose angles in
// degrees, and the individual checks with their outcome. Check types use the numbering of the
// quality vocabulary (1 image dimensions, 4 face resolution, 8 pose yaw, 9 pose roll, ...); this
// library stores them without interpreting them.
class QRLFACE_EXPORT FaceQualityCheckResult {
 public:
  struct Check {
    std::uint32_t type = 0;
    bool passed = false;
    float value = 0.0f;
    bool operator==(const Check& o) const {
      return type == o.type && passed == o.passed && value == o.value;
    }
  };

  FaceQualityCheckResult() = default;

  std::uint32_t imageWidth() const { return imageWidthM; }
  std::uint32_t imageHeight() const { return imageHeightM; }
  float quality() const { return qualityM; }
  float eyeDistance() const { return eyeDistanceM; }
  float poseYaw() const { return poseYawM; }
  float poseRoll() const { return poseRollM; }
  void setImageSize(std::uint32_t widthA, std::uint32_t heightA) {
    imageWidthM = widthA;
    imageHeightM = heightA;
  }
  void setQuality(float qualityA) { qualityM = qualityA; }
  void setEyeDistance(float v) { eyeDistanceM = v; }
  void setPose(float yawA, float rollA) {
    poseYawM = yawA;
    poseRollM = rollA;
  }

  const std::vector<Check>& checks() const { return checksM; }
  // Appends a check; a type that is already present throws
  // "Duplicate face quality check '<type>'.".
  void addCheck(std::uint32_t typeA, bool passedA, float valueA);
  // The check of that type, or null.
  const Check* findCheck(std::uint32_t typeA) const;
  // True when every check passed (and true without checks).
  bool allPassed() const;

  // Stream format, little-endian: magic "FQ", version (16 bits, 1), image width and height
  // (32 bits each), quality, eye distance, yaw, roll (float each), check count (32 bits), per
  // check its type (32 bits), passed (8 bits, 0 or 1) and value (float).
  void write(std::ostream& osA) const;
  // Reads one result written by write. On failure throws kxxcp::Exception (function
  // "kxegm::FaceQualityCheckResult::read") and leaves the result unchanged:
  //   "Invalid face quality result magic number: '<2 chars>'.",
  //   "Invalid face quality result version: '<n>'.", "Truncated face quality result.",
  //   "Invalid face quality result passed flag '<n>'.", "Duplicate face quality check '<type>'."
  void read(std::istream& isA);

  bool operator==(const FaceQualityCheckResult& o) const;
  bool operator!=(const FaceQualityCheckResult& o) const { return !(*this == o); }

  static constexpr std::uint16_t kVersion = 1;

 private:
  std::uint32_t imageWidthM = 0;
  std::uint32_t imageHeightM = 0;
  float qualityM = 0.0f;
  float eyeDistanceM = 0.0f;
  float poseYawM = 0.0f;
  float poseRollM = 0.0f;
  std::vector<Check> checksM;
};

}  // namespace kxegm
