#pragma once

#include <vector>

#include <qrlimage/Image.h>
#include <qrliris/IrisCode.h>
#include <qrliris/IrisExport.h>
#include <qrliris/IrisQualityCheckResult.h>

namespace kxegm {

struct Circle {
  float x = 0.0f;
  float y = 0.0f;
  float radius = 0.0f;
};

// Where the pupil and the iris lie in an eye image. The iris circle shares the pupil's centre.
struct IrisSegmentation {
  bool found = false;
  Circle pupil;
  Circle iris;
};

// The iris template of one eye image: the gallery part is the code (kCodeBytes bytes), the probe
// part the same code twice in a row (2 * kCodeBytes bytes; a matcher expands the probe into its
// rotations when it loads it), with the quality check result and the segmentation it was made
// from.
struct IrisTemplateData {
  std::vector<unsigned char> probe;
  std::vector<unsigned char> gallery;
  IrisQualityCheckResult quality;
  IrisSegmentation segmentation;
};

// Iris template creation from a grey or colour eye image (near-infrared style: dark pupil,
// mid-grey textured iris, bright sclera).
//
//  1. Segmentation: the pupil is the dark region grown from the darkest point of the smoothed
//     image; its centre is the region's centroid and its radius follows from its area. The iris
//     boundary is the radius, concentric with the pupil, at which the mean grey value of the left
//     and right circle sectors (the eyelids cover top and bottom) rises most steeply.
//  2. Unwrapping: the annulus between the two circles is sampled into a polar strip of
//     kRadialSamples rows by kAngularSamples columns (bilinear interpolation).
//  3. Encoding: per ring (a band of strip rows) and angular position, a complex Gabor filter
//     runs along the angle over the ring's mean profile; the signs of its real and imaginary
//     responses are the two code bits. A bit is masked when its window touches samples outside
//     the image, specular highlights or pupil-dark samples (eyelashes), or when the response is
//     too weak to carry a reliable sign.
//  4. Quality: see IrisQualityCheckResult; quality = 100 * usable area * contrast and size
//     factors, each in [0, 1].
class QRLIRIS_EXPORT IrisCodeCreator {
 public:
  static constexpr int kRadialSamples = 32;
  static constexpr int kAngularSamples = 256;

  static IrisSegmentation segment(const qrimg::ByteImage& eyeA);
  // The polar strip of the annulus (rows from the pupil outwards, columns by angle). Samples
  // outside the image are 0 (strip values 1..255 are image values, clamped up from 0).
  static qrimg::ByteImage unwrap(const qrimg::ByteImage& eyeA, const IrisSegmentation& segA);
  // Code and quality of a segmented eye. Throws "Invalid iris segmentation." unless both circles
  // are finite with positive radii and the iris circle is the larger.
  static IrisCode encode(const qrimg::ByteImage& eyeA, const IrisSegmentation& segA,
                         IrisQualityCheckResult& qualityA);

  // All steps. Throws kxxcp::Exception (function "kxegm::IrisCodeCreator::createTemplate"):
  // "Empty eye image." or "No iris found in the eye image.".
  static IrisTemplateData createTemplate(const qrimg::Image& eyeA);
};

}  // namespace kxegm
