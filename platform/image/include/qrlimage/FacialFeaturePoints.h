#pragma once

#include <array>

#include <qrlimage/ImageExport.h>
#include <qrlimage/Point.h>

namespace qrimg {

// The named feature points of one face, in image coordinates. Each point is either set or
// absent. "Right" and "left" are the subject's: the right eye appears on the image's left side
// in a frontal view.
class QRLIMAGE_EXPORT FacialFeaturePoints {
 public:
  enum Index {
    FaceCentre = 0,
    RightEye = 1,
    RightEyeOuterCorner = 2,
    RightEyeInnerCorner = 3,
    RightEyebrow = 4,
    LeftEye = 5,
    LeftEyeInnerCorner = 6,
    LeftEyeOuterCorner = 7,
    LeftEyebrow = 8,
    MouthCentre = 9,
    NoseTip = 10,
    Chin = 11,
  };
  static constexpr int kCount = 12;

  // Mouth-to-eye-line distance as a multiple of the eye distance, for estimateMouthCentre.
  static constexpr float kMouthToEyeRatio = 1.1f;

  FacialFeaturePoints() = default;

  // Precondition for all three: 0 <= indexA < kCount (out-of-range indices are ignored by set
  // and clear and read as absent by isSet).
  bool isSet(int indexA) const;
  // The stored position; (0, 0) for an absent point.
  Point2f point(int indexA) const;
  void set(int indexA, Point2f pA);
  void clear(int indexA);
  int count() const;

  // Distance between the two eye points; 0 unless both are set.
  float eyeDistance() const;
  // Sets the mouth centre from the eyes: below the midpoint of the eyes, perpendicular to the
  // eye line (towards the chin for an upright face), at kMouthToEyeRatio eye distances. Returns
  // false and changes nothing unless both eyes are set and apart.
  bool estimateMouthCentre();

  bool operator==(const FacialFeaturePoints& o) const;
  bool operator!=(const FacialFeaturePoints& o) const { return !(*this == o); }

 private:
  std::array<Point2f, kCount> pointsM{};
  std::array<bool, kCount> setM{};
};

}  // namespace qrimg
