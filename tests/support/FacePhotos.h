#pragma once

// Photographs of faces that a Debian package ships (opencv-doc), and synthetic transforms of
// them. Tests skip when the package is not installed.

#include <memory>
#include <string>
#include <vector>

#include <qrlimage/Image.h>

namespace quarlen_test {

// The folder of the photographs.
std::string facePhotoDir();
// Frontal faces of different people (file names inside facePhotoDir()).
const std::vector<std::string>& facePhotoNames();
// A photograph without a face.
std::string noFacePhoto();
// The photograph nameA of facePhotoDir() as a grey image, or null when the file is missing.
std::unique_ptr<qrimg::ByteImage> loadFacePhoto(const std::string& nameA);

// A copy of imageA turned by degreesA about its centre, scaled by scaleA, its grey values
// mapped through 255 * (v / 255)^gammaA * contrastA + offsetA (clamped), in a canvas of
// widthA x heightA (the image's own size when 0).
qrimg::ByteImage transformPhoto(const qrimg::ByteImage& imageA, float degreesA, float scaleA,
                                float gammaA, float contrastA, float offsetA, int widthA = 0,
                                int heightA = 0);

}  // namespace quarlen_test

// Skips the test when a photograph is missing.
#define QUARLEN_LOAD_PHOTO(varA, nameA)                                               \
  auto varA = ::quarlen_test::loadFacePhoto(nameA);                                   \
  if (!varA) {                                                                        \
    GTEST_SKIP() << "photograph " << ::quarlen_test::facePhotoDir() << "/" << (nameA) \
                 << " is missing (install the Debian package opencv-doc)";            \
  }
