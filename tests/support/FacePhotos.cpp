#include "support/FacePhotos.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include <qrlimage/ImageFile.h>

namespace quarlen_test {

std::string facePhotoDir() {
  return "/usr/share/doc/opencv-doc/opencv4/html";
}

const std::vector<std::string>& facePhotoNames() {
  static const std::vector<std::string> namesL = {
      "227943776_1.jpg", "230501201_1.jpg", "julia_facedetect_sample.jpg", "faceDetection.png"};
  return namesL;
}

std::string noFacePhoto() {
  return "/usr/share/doc/opencv-doc/examples/data/baboon.jpg";
}

std::unique_ptr<qrimg::ByteImage> loadFacePhoto(const std::string& nameA) {
  const std::string pathL =
      nameA.find('/') == std::string::npos ? facePhotoDir() + "/" + nameA : nameA;
  if (!std::ifstream(pathL)) return nullptr;
  const std::unique_ptr<qrimg::Image> imageL = qrimg::ImageFile::readFile(pathL);
  return std::make_unique<qrimg::ByteImage>(qrimg::toGrey(*imageL));
}

qrimg::ByteImage transformPhoto(const qrimg::ByteImage& imageA, float degreesA, float scaleA,
                                float gammaA, float contrastA, float offsetA, int widthA,
                                int heightA) {
  const int wL = widthA > 0 ? widthA : imageA.width();
  const int hL = heightA > 0 ? heightA : imageA.height();
  qrimg::ByteImage outL(wL, hL);
  const double radL = degreesA * 3.14159265358979 / 180.0;
  const double cL = std::cos(radL) / scaleA, sL = std::sin(radL) / scaleA;
  const double cxL = imageA.width() / 2.0, cyL = imageA.height() / 2.0;
  for (int y = 0; y < hL; ++y) {
    for (int x = 0; x < wL; ++x) {
      const double dxL = x - wL / 2.0, dyL = y - hL / 2.0;
      // Output -> source: the inverse rotation and scaling about the centres.
      const float sxL = static_cast<float>(cxL + cL * dxL + sL * dyL);
      const float syL = static_cast<float>(cyL - sL * dxL + cL * dyL);
      const double vL = imageA.sample(sxL, syL) / 255.0;
      const double mappedL = 255.0 * std::pow(vL, gammaA) * contrastA + offsetA;
      outL.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(mappedL), 0L, 255L));
    }
  }
  return outL;
}

}  // namespace quarlen_test
