#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <qrlface/FaceExport.h>
#include <qrlimage/Image.h>
#include <qrlimage/Point.h>
#include <qrlimage/Roi.h>

namespace kxegm {

// A face the finder found: its box, its two eyes in image coordinates ("right" is the
// subject's: the eye on the image's left side), whether the eye detector found both eyes (else
// they are placed at the usual positions inside the box), and the detector's confidence (the
// number of overlapping detections that support the box).
struct FoundFace {
  qrimg::Roi box;
  qrimg::Point2f rightEye;
  qrimg::Point2f leftEye;
  bool eyesDetected = false;
  float confidence = 0.0f;
};

// Face and eye finding with OpenCV's cascade classifiers: faces are searched over the whole
// image, eyes inside the upper part of each face box; of the eye candidates the largest one on
// each side of the box's centre is taken.
//
// Not safe for concurrent find calls on one object (find serialises them).
class QRLFACE_EXPORT FaceFinder {
 public:
  // The cascade files (OpenCV's XML format). Throws kxxcp::Exception (function
  // "kxegm::FaceFinder::FaceFinder") "Cannot load face cascade '<path>'." or "Cannot load eye
  // cascade '<path>'.".
  FaceFinder(const std::string& faceCascadeA, const std::string& eyeCascadeA);
  ~FaceFinder();
  FaceFinder(const FaceFinder&) = delete;
  FaceFinder& operator=(const FaceFinder&) = delete;

  // Up to maxFacesA faces, the largest first; faces smaller than minFaceA pixels are not
  // searched for. An empty list when there is no face.
  std::vector<FoundFace> find(const qrimg::ByteImage& imageA, std::size_t maxFacesA,
                              int minFaceA = 40) const;

  // Where the eyes of a frontal face usually lie in a detector box, as fractions of its width
  // and height.
  static constexpr float kEyeOffsetX = 0.30f;
  static constexpr float kEyeOffsetY = 0.38f;

 private:
  struct Cascades;
  std::unique_ptr<Cascades> cascadesM;
  mutable std::mutex mutexM;
};

}  // namespace kxegm
