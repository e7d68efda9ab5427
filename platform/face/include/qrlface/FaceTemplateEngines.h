#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlface/FaceExport.h>
#include <qrlimage/Image.h>
#include <qrlimage/Point.h>

namespace kxegm {

// Local Gabor features of a derotated face: the jets (GaborBank with default settings) at a
// rowsA x columnsA grid placed from the eyes like the landmark grid of "ilm", on the
// lighting-normalised grey image, after resizing the image (and the eyes) by scaleA.
struct LocalJets {
  std::size_t nodes = 0;
  std::size_t length = 0;
  std::vector<float> jets;
};
// Throws kxxcp::Exception (function "kxegm::localJets") "Invalid local feature request." for
// an empty image, coinciding eyes, a grid outside 2..16 or a scale outside 0.25..2.
QRLFACE_EXPORT LocalJets localJets(const qrimg::Image& derotatedA, qrimg::Point2f rightEyeA,
                                   qrimg::Point2f leftEyeA, int rowsA, int columnsA, float scaleA);

// Template creation of the STA, VFA and LFA engines from a derotated face and its eyes. The
// templates are those the engines' readers accept (STAEngine, LFAEngine) and the "vfa" byte
// form (signed bytes whose dot product divided by 16 * 127^2 is the cosine of two faces).
class QRLFACE_EXPORT FaceTemplateCreator {
 public:
  // STA: 25 landmarks (a 5 x 5 grid), each with confidence 1 and its jet centred on its mean.
  static std::vector<unsigned char> createSta(const qrimg::Image& derotatedA,
                                              qrimg::Point2f rightEyeA, qrimg::Point2f leftEyeA,
                                              bool galleryA);
  // LFA algorithm 7 (a 4 x 4 grid of blocks at full resolution) or 8 (at half resolution); one
  // block per grid node, its jet centred and scaled to unit length; no side vectors. Throws
  // "Unsupported LFA algorithm '<a>'." for other algorithms.
  static std::vector<unsigned char> createLfa(std::uint32_t algorithmA,
                                              const qrimg::Image& derotatedA,
                                              qrimg::Point2f rightEyeA, qrimg::Point2f leftEyeA);
  // VFA variant 1 ("vfa": a 6 x 6 grid at full resolution) or 2 ("vfa2": at half resolution).
  static std::vector<unsigned char> createVfa(int variantA, const qrimg::Image& derotatedA,
                                              qrimg::Point2f rightEyeA, qrimg::Point2f leftEyeA);
  // "vfa3": the VFA byte form of a unit-length float template ("hgmFloat" features).
  static std::vector<unsigned char> vfaFromFloat(const std::vector<float>& unitA);

  // The VFA byte scale: values are the unit vector times kVfaNorm, quantised with
  // ByteMinimalGraph.
  static constexpr float kVfaNorm = 4.0f;
};

}  // namespace kxegm
