#pragma once

#include <cstddef>
#include <vector>

#include <qrlface/FaceExport.h>
#include <qrlimage/Image.h>
#include <qrlimage/Point.h>

namespace kxegm {

// The geometry of the derotated (upright, normalised) face image that face location produces
// and feature extraction expects: a square image with the eyes on one row, kEyeDistance pixels
// apart and centred on (kEyeCentreX, kEyeRow).
struct DerotatedFace {
  static constexpr int kSize = 128;
  static constexpr float kEyeDistance = 48.0f;
  static constexpr float kEyeCentreX = 64.0f;
  static constexpr float kEyeRow = 52.0f;
};

// A bank of Gabor filters (OpenCV kernels) over several frequencies and orientations, and the
// jets it extracts: at each position, for each frequency (finest first) and orientation, the
// magnitude of the complex response (the even kernel made free of its mean, so that uniform
// brightness does not respond).
class QRLFACE_EXPORT GaborBank {
 public:
  struct Settings {
    int frequencies = 4;
    int orientations = 8;
    float wavelength = 4.0f;             // of the finest frequency, in pixels
    float wavelengthStep = 1.41421356f;  // ratio between neighbouring frequencies
    float sigmaRatio = 0.56f;            // envelope width / wavelength
  };

  // Throws kxxcp::Exception (function "kxegm::GaborBank::GaborBank") "Invalid Gabor settings."
  // unless 1 <= frequencies <= 8, 1 <= orientations <= 16, 2 <= wavelength <= 64,
  // 1 <= wavelengthStep <= 4, 0.2 <= sigmaRatio <= 2 and the coarsest kernel is at most
  // 129 pixels wide.
  explicit GaborBank(const Settings& settingsA);

  const Settings& settings() const { return settingsM; }
  std::size_t jetLength() const {
    return static_cast<std::size_t>(settingsM.frequencies) * settingsM.orientations;
  }

  // jetLength() magnitudes per position, position after position, appended to outA. Pixels
  // outside the image take the value of the nearest border pixel.
  void extract(const qrimg::ByteImage& imageA, const std::vector<qrimg::Point2f>& positionsA,
               std::vector<float>& outA) const;

 private:
  struct Kernel {
    int radius;
    std::vector<float> even;
    std::vector<float> odd;
  };
  Settings settingsM;
  std::vector<Kernel> kernelsM;  // frequency-major, then orientation
};

// Template encodings of jets (nodesA * lengthA magnitudes, as GaborBank::extract leaves them).
// The raw form scales each node's jet to unit length; the float form centres each node's jet on
// its mean, scales it to unit length and then the whole template to unit length (so that the dot
// product of two float templates is their cosine); the bit form keeps the signs of the float form
// (a value > 0 is a set bit, most significant bit of each byte first); the byte form quantises the
// float form with ByteMinimalGraph. A zero jet stays zero. lengthA * nodesA must be a multiple of 8
// for the bit form.
QRLFACE_EXPORT std::vector<float> rawJets(const std::vector<float>& jetsA, std::size_t lengthA);
QRLFACE_EXPORT std::vector<float> floatJets(const std::vector<float>& jetsA, std::size_t lengthA);
QRLFACE_EXPORT std::vector<unsigned char> bitJets(const std::vector<float>& floatJetsA);
QRLFACE_EXPORT std::vector<unsigned char> byteJets(const std::vector<float>& floatJetsA);

// The grey image whose local contrast is normalised for feature extraction: histogram
// equalisation followed by a 3x3 Gaussian smoothing (OpenCV).
QRLFACE_EXPORT qrimg::ByteImage normaliseLighting(const qrimg::ByteImage& imageA);

}  // namespace kxegm
