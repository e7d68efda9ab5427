#include <qrlface/FaceFinder.h>

#include <algorithm>
#include <fstream>

#include <qrlcore/Exception.h>
#include <opencv2/objdetect.hpp>

namespace kxegm {

struct FaceFinder::Cascades {
  cv::CascadeClassifier face;
  cv::CascadeClassifier eye;
};

FaceFinder::FaceFinder(const std::string& faceCascadeA, const std::string& eyeCascadeA)
    : cascadesM(std::make_unique<Cascades>()) {
  const char* fnL = "kxegm::FaceFinder::FaceFinder";
  bool faceL = false, eyeL = false;
  try {
    // Missing files are caught here: OpenCV would report them on standard error.
    faceL = std::ifstream(faceCascadeA).good() && cascadesM->face.load(faceCascadeA);
    eyeL = std::ifstream(eyeCascadeA).good() && cascadesM->eye.load(eyeCascadeA);
  } catch (const cv::Exception&) {
    // A malformed file is reported like a missing one.
  }
  if (!faceL) KXXCP_THROW(fnL, "Cannot load face cascade '" << faceCascadeA << "'.");
  if (!eyeL) KXXCP_THROW(fnL, "Cannot load eye cascade '" << eyeCascadeA << "'.");
}

FaceFinder::~FaceFinder() = default;

std::vector<FoundFace> FaceFinder::find(const qrimg::ByteImage& imageA, std::size_t maxFacesA,
                                        int minFaceA) const {
  std::vector<FoundFace> foundL;
  if (imageA.empty() || maxFacesA == 0) return foundL;
  const cv::Mat greyL(imageA.height(), imageA.width(), CV_8U,
                      const_cast<unsigned char*>(imageA.data()));
  std::lock_guard<std::mutex> lockL(mutexM);
  std::vector<cv::Rect> facesL;
  std::vector<int> supportL;
  cascadesM->face.detectMultiScale(greyL, facesL, supportL, 1.1, 5, 0,
                                   cv::Size(minFaceA, minFaceA));
  std::vector<std::size_t> orderL(facesL.size());
  for (std::size_t i = 0; i < orderL.size(); ++i) orderL[i] = i;
  std::stable_sort(orderL.begin(), orderL.end(), [&](std::size_t a, std::size_t b) {
    return facesL[a].area() > facesL[b].area();
  });
  for (std::size_t i = 0; i < orderL.size() && foundL.size() < maxFacesA; ++i) {
    const cv::Rect& r = facesL[orderL[i]];
    FoundFace faceL;
    faceL.box = qrimg::Roi(r.x, r.y, r.width, r.height);
    faceL.confidence = static_cast<float>(supportL[orderL[i]]);
    faceL.rightEye = {r.x + kEyeOffsetX * r.width, r.y + kEyeOffsetY * r.height};
    faceL.leftEye = {r.x + (1.0f - kEyeOffsetX) * r.width, r.y + kEyeOffsetY * r.height};
    // Eyes lie in the upper part of the box.
    const cv::Rect upperL(r.x, r.y, r.width, r.height * 6 / 10);
    std::vector<cv::Rect> eyesL;
    const int minEyeL = std::max(r.width / 10, 8);
    cascadesM->eye.detectMultiScale(greyL(upperL), eyesL, 1.1, 3, 0, cv::Size(minEyeL, minEyeL),
                                    cv::Size(r.width / 2, r.width / 2));
    const cv::Rect* bestL[2] = {nullptr, nullptr};  // image-left, image-right
    for (const cv::Rect& e : eyesL) {
      const float cxL = e.x + e.width / 2.0f;
      const float cyL = e.y + e.height / 2.0f;
      if (cyL < r.height * 0.2f || cyL > r.height * 0.55f) continue;  // brows, nostrils
      const int sideL = cxL < r.width / 2.0f ? 0 : 1;
      if (bestL[sideL] == nullptr || e.area() > bestL[sideL]->area()) bestL[sideL] = &e;
    }
    if (bestL[0] != nullptr && bestL[1] != nullptr) {
      faceL.rightEye = {r.x + bestL[0]->x + bestL[0]->width / 2.0f,
                        r.y + bestL[0]->y + bestL[0]->height / 2.0f};
      faceL.leftEye = {r.x + bestL[1]->x + bestL[1]->width / 2.0f,
                       r.y + bestL[1]->y + bestL[1]->height / 2.0f};
      faceL.eyesDetected = true;
    }
    foundL.push_back(faceL);
  }
  return foundL;
}

}  // namespace kxegm
