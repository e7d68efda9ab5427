#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>
#include <qrlimage/Roi.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateGenerator_Base.h>

namespace kxegm {
class FaceFinder;
}

namespace qrbase {

class BioDescriptorList;
class FaceDescriptor;

// Finds faces and their eyes in images and fills face descriptors with everything the face
// template generator reads: the feature points (both eyes and the mouth centre estimated from
// them), the face region and the detector's confidence, the texture image (the grey input), the
// derotation graph and the derotated image (upright, the eyes kxegm::DerotatedFace apart on one
// row), the derotated feature points, the face quality check result, and a first graph and image
// for feature extraction (the derotated eyes and the derotated image). Faces and eyes are found
// by the face library's kxegm::FaceFinder.
//
// Configuration (section EYE_LOCATION): "faceCascade" and "eyeCascade", the cascade files, by
// default OpenCV's frontal face and eye cascades in /usr/share/opencv4/haarcascades.
//
// Face quality check result: image size, eye distance, roll (the eye line's angle in degrees),
// yaw 0, quality 100 * min(1, eye distance / 60), times 0.8 when the eyes were placed from the
// face box instead of being detected; checks 4 (face resolution: eye distance >= 24 pixels) and
// 9 (roll: |roll| <= 20 degrees), each with its value.
//
// Errors are kxxcp::Exception (functions "qrbase::EyeLocator::<op>"): "EyeLocator is not
// initialized.", "Empty image.", "No face found in the image.", "Feature points without both
// eyes.", and the face finder's messages.
class QUARLEN_EXPORT EyeLocator {
 public:
  EyeLocator();
  ~EyeLocator();
  EyeLocator(const EyeLocator&) = delete;
  EyeLocator& operator=(const EyeLocator&) = delete;

  // textA and textB play no part; threadsA, qualityCheckA and modeA are kept. Loads the
  // cascades; a second init replaces the first.
  void init(const char* textA, const char* textB, unsigned long long threadsA, bool qualityCheckA,
            TemplateCreationMode modeA);
  bool initialized() const { return finderM != nullptr; }

  // Appends one valid face descriptor per face found (at most maxFacesA, the largest first) and
  // returns how many were appended; throws "No face found in the image." when there is none.
  // qualityProfileA and depthA are not used.
  std::size_t locateEyes(const qrimg::Image& imageA, BioDescriptorList& listA,
                         unsigned qualityProfileA, const qrimg::Image* depthA, unsigned maxFacesA);
  // Appends one valid face descriptor for the eyes given in pointsA (both must be set) and
  // returns 1. The face region is the box a detector would give for these eyes. Works without
  // init (it finds nothing).
  std::size_t predefineEyes(const qrimg::Image& imageA, const qrimg::FacialFeaturePoints& pointsA,
                            BioDescriptorList& listA, unsigned qualityProfileA, bool qualityCheckA,
                            const qrimg::Image* depthA);

  // A valid face descriptor for a face with these eyes; the caller owns it.
  static FaceDescriptor* describeFace(const qrimg::Image& imageA, qrimg::Point2f rightEyeA,
                                      qrimg::Point2f leftEyeA, const qrimg::Roi& boxA,
                                      float confidenceA, bool eyesDetectedA);

 private:
  std::unique_ptr<kxegm::FaceFinder> finderM;
  unsigned long long threadsM = 1;
  bool qualityCheckM = true;
  TemplateCreationMode modeM = TemplateCreationModeFastC;
};

}  // namespace qrbase
