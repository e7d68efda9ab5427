#include "support/DescriptorFactory.h"

#include <sstream>

namespace quarlen_test {

void fillHeader(qrbase::BioDescriptor& descriptorA, qridy::Instance instanceA) {
  descriptorA.setInstance(instanceA);
  descriptorA.setSampleId(KXuint128{0x1112131415161718ull, 0x0102030405060708ull});
  descriptorA.setIdRecordKey(qridy::IdRecordKey(77, 78));
  descriptorA.setQualityClass(3);
  descriptorA.setQualityValue(0.75f);
  descriptorA.setAgeClass(qrbase::AgeClassAdult);
  descriptorA.setValid(true);
}

std::unique_ptr<qrimg::Image> patternImage(int widthA, int heightA, bool colourA, int seedA) {
  if (colourA) {
    auto imageL = std::make_unique<qrimg::ColorImage>(widthA, heightA);
    for (int y = 0; y < heightA; ++y) {
      for (int x = 0; x < widthA; ++x) {
        imageL->setPixel(x, y,
                         qrimg::Rgb{static_cast<unsigned char>(x * 9 + seedA),
                                    static_cast<unsigned char>(y * 5 + seedA),
                                    static_cast<unsigned char>((x ^ y) * 3 + seedA)});
      }
    }
    return imageL;
  }
  auto imageL = std::make_unique<qrimg::ByteImage>(widthA, heightA);
  for (int y = 0; y < heightA; ++y) {
    for (int x = 0; x < widthA; ++x) imageL->at(x, y) = static_cast<unsigned char>(x * y + seedA);
  }
  return imageL;
}

std::unique_ptr<qrbase::FaceDescriptor> fullFaceDescriptor() {
  auto faceL = std::make_unique<qrbase::FaceDescriptor>();
  fillHeader(*faceL, qridy::InstanceFaceFrontal);
  auto pointsL = new qrimg::FacialFeaturePoints();
  pointsL->set(qrimg::FacialFeaturePoints::RightEye, qrimg::Point2f{40.5f, 50.0f});
  pointsL->set(qrimg::FacialFeaturePoints::LeftEye, qrimg::Point2f{80.0f, 51.25f});
  pointsL->estimateMouthCentre();
  faceL->setFacialFeaturePoints(pointsL);
  faceL->setRoi(new qrimg::Roi(12, 20, 100, 120));
  faceL->setDetectionConfidence(0.875f);

  faceL->setTextureImage(patternImage(16, 12, true, 1).release());
  faceL->setDerotatedImage(patternImage(10, 10, false, 2).release());
  faceL->setDerotationGraph(new kxegm::FaceGraph(
      kxegm::FaceGraph::derotation(qrimg::Point2f{40.5f, 50.0f}, qrimg::Point2f{80.0f, 51.25f},
                                   32.0f, qrimg::Point2f{32.0f, 24.0f})));
  auto qcheckL = new kxegm::FaceQualityCheckResult();
  qcheckL->setImageSize(640, 480);
  qcheckL->setQuality(64.0f);
  qcheckL->setEyeDistance(39.5f);
  qcheckL->addCheck(4, true, 39.5f);
  faceL->setFaceRecQcheckResult(qcheckL);
  auto derotatedPointsL = new qrimg::FacialFeaturePoints();
  derotatedPointsL->set(qrimg::FacialFeaturePoints::RightEye, qrimg::Point2f{16, 24});
  derotatedPointsL->set(qrimg::FacialFeaturePoints::LeftEye, qrimg::Point2f{48, 24});
  derotatedPointsL->set(qrimg::FacialFeaturePoints::MouthCentre, qrimg::Point2f{32, 59.2f});
  faceL->setDerotatedFeaturePoints(derotatedPointsL);
  auto landmarksL = new kxegm::FaceGraph(kxegm::FaceGraph::KindLandmark);
  for (std::uint32_t i = 0; i < 5; ++i) {
    landmarksL->addNode(qrimg::Point2f{10.0f + i, 20.0f - i}, i);
  }
  faceL->setLandmarkGraph(landmarksL);
  auto featureL = new kxegm::FaceGraph(kxegm::FaceGraph::KindFeatureExtraction);
  featureL->addNode(qrimg::Point2f{1, 1});
  featureL->addNode(qrimg::Point2f{2, 3});
  featureL->addEdge(0, 1);
  faceL->setFeatureExtractionGraph(featureL);
  faceL->setFeatureExtractionImage(patternImage(8, 8, false, 3).release());
  faceL->setFaceClassifierResidual(0.125f);

  // Memory-only items.
  faceL->setShapeImage(patternImage(4, 4, false, 4).release());
  faceL->setLandmarks({qrimg::Point2f{1, 2}, qrimg::Point2f{3, 4}});
  return faceL;
}

std::unique_ptr<qrbase::FingerprintDescriptor> fullFingerprintDescriptor() {
  auto fingerL = std::make_unique<qrbase::FingerprintDescriptor>();
  fillHeader(*fingerL, qridy::InstanceFingerRightIndex);
  fingerL->setInputImage(patternImage(20, 24, false, 5).get());
  fingerL->setWorkingImage(patternImage(10, 12, false, 6).get());
  fingerL->setResolution(500, 510, qrbase::ResolutionUnitPerInch);
  fingerL->setCertificate(42);
  return fingerL;
}

std::string descriptorBytes(const qrbase::BioDescriptor& descriptorA, bool withInputImageA) {
  std::ostringstream osL(std::ios::binary);
  descriptorA.write(osL, withInputImageA);
  return osL.str();
}

}  // namespace quarlen_test
