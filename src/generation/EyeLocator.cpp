#include <quarlen/EyeLocator.h>

#include <algorithm>
#include <cmath>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/FaceFinder.h>
#include <qrlface/FaceGraph.h>
#include <qrlface/FaceQualityCheckResult.h>
#include <qrlface/GaborJets.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/FaceDescriptor.h>

namespace qrbase {
namespace {

using FFP = qrimg::FacialFeaturePoints;
using kxegm::DerotatedFace;

constexpr const char* kSection = "EYE_LOCATION";
constexpr const char* kDefaultFaceCascade =
    "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
constexpr const char* kDefaultEyeCascade = "/usr/share/opencv4/haarcascades/haarcascade_eye.xml";

constexpr float kFullQualityEyeDistance = 60.0f;
constexpr float kMinEyeDistance = 24.0f;
constexpr float kMaxRollDegrees = 20.0f;
constexpr std::uint32_t kCheckFaceResolution = 4;
constexpr std::uint32_t kCheckPoseRoll = 9;

FFP eyePoints(qrimg::Point2f rightA, qrimg::Point2f leftA) {
  FFP pointsL;
  pointsL.set(FFP::RightEye, rightA);
  pointsL.set(FFP::LeftEye, leftA);
  pointsL.estimateMouthCentre();
  return pointsL;
}

}  // namespace

EyeLocator::EyeLocator() = default;
EyeLocator::~EyeLocator() = default;

void EyeLocator::init(const char*, const char*, unsigned long long threadsA, bool qualityCheckA,
                      TemplateCreationMode modeA) {
  using kxutl::QuarlenInformation;
  const std::string faceL =
      QuarlenInformation::getStdStringFromConfigFile(kSection, "faceCascade", kDefaultFaceCascade);
  const std::string eyeL =
      QuarlenInformation::getStdStringFromConfigFile(kSection, "eyeCascade", kDefaultEyeCascade);
  finderM = std::make_unique<kxegm::FaceFinder>(faceL, eyeL);
  threadsM = threadsA;
  qualityCheckM = qualityCheckA;
  modeM = modeA;
}

std::size_t EyeLocator::locateEyes(const qrimg::Image& imageA, BioDescriptorList& listA, unsigned,
                                   const qrimg::Image*, unsigned maxFacesA) {
  const char* fnL = "qrbase::EyeLocator::locateEyes";
  if (!finderM) KXXCP_THROW(fnL, "EyeLocator is not initialized.");
  if (imageA.empty()) KXXCP_THROW(fnL, "Empty image.");
  const qrimg::ByteImage greyL = qrimg::toGrey(imageA);
  const std::vector<kxegm::FoundFace> facesL = finderM->find(greyL, maxFacesA);
  if (facesL.empty()) KXXCP_THROW(fnL, "No face found in the image.");
  for (const kxegm::FoundFace& f : facesL) {
    listA.add(describeFace(greyL, f.rightEye, f.leftEye, f.box, f.confidence, f.eyesDetected));
  }
  return facesL.size();
}

std::size_t EyeLocator::predefineEyes(const qrimg::Image& imageA, const FFP& pointsA,
                                      BioDescriptorList& listA, unsigned, bool,
                                      const qrimg::Image*) {
  const char* fnL = "qrbase::EyeLocator::predefineEyes";
  if (imageA.empty()) KXXCP_THROW(fnL, "Empty image.");
  if (!pointsA.isSet(FFP::RightEye) || !pointsA.isSet(FFP::LeftEye)) {
    KXXCP_THROW(fnL, "Feature points without both eyes.");
  }
  const qrimg::Point2f rL = pointsA.point(FFP::RightEye);
  const qrimg::Point2f lL = pointsA.point(FFP::LeftEye);
  // The box a frontal detector gives: the eyes at kEyeOffsetX of its width from either side.
  const float widthL = qrimg::distance(rL, lL) / (1.0f - 2.0f * kxegm::FaceFinder::kEyeOffsetX);
  const qrimg::Roi boxL(
      static_cast<int>(std::lround((rL.x + lL.x) / 2 - widthL / 2)),
      static_cast<int>(std::lround((rL.y + lL.y) / 2 - kxegm::FaceFinder::kEyeOffsetY * widthL)),
      static_cast<int>(std::lround(widthL)), static_cast<int>(std::lround(widthL)));
  listA.add(describeFace(imageA, rL, lL, boxL, -1.0f, true));
  return 1;
}

FaceDescriptor* EyeLocator::describeFace(const qrimg::Image& imageA, qrimg::Point2f rightEyeA,
                                         qrimg::Point2f leftEyeA, const qrimg::Roi& boxA,
                                         float confidenceA, bool eyesDetectedA) {
  const qrimg::ByteImage greyL = qrimg::toGrey(imageA);
  const qrimg::Point2f eyeCentreL{DerotatedFace::kEyeCentreX, DerotatedFace::kEyeRow};
  kxegm::FaceGraph derotationL =
      kxegm::FaceGraph::derotation(rightEyeA, leftEyeA, DerotatedFace::kEyeDistance, eyeCentreL);
  auto derotatedL = std::make_unique<qrimg::ByteImage>(DerotatedFace::kSize, DerotatedFace::kSize);
  for (int y = 0; y < derotatedL->height(); ++y) {
    for (int x = 0; x < derotatedL->width(); ++x) {
      const qrimg::Point2f pL =
          derotationL.toImage().apply(qrimg::Point2f{static_cast<float>(x), static_cast<float>(y)});
      derotatedL->at(x, y) =
          static_cast<unsigned char>(std::clamp(std::lround(greyL.sample(pL.x, pL.y)), 0L, 255L));
    }
  }
  const float eyeDistanceL = qrimg::distance(rightEyeA, leftEyeA);
  const float rollL = static_cast<float>(
      std::atan2(leftEyeA.y - rightEyeA.y, leftEyeA.x - rightEyeA.x) * 180.0 / 3.14159265358979);
  auto qualityL = std::make_unique<kxegm::FaceQualityCheckResult>();
  qualityL->setImageSize(static_cast<std::uint32_t>(imageA.width()),
                         static_cast<std::uint32_t>(imageA.height()));
  qualityL->setEyeDistance(eyeDistanceL);
  qualityL->setPose(0.0f, rollL);
  qualityL->setQuality(100.0f * std::min(1.0f, eyeDistanceL / kFullQualityEyeDistance) *
                       (eyesDetectedA ? 1.0f : 0.8f));
  qualityL->addCheck(kCheckFaceResolution, eyeDistanceL >= kMinEyeDistance, eyeDistanceL);
  qualityL->addCheck(kCheckPoseRoll, std::fabs(rollL) <= kMaxRollDegrees, rollL);

  auto faceL = std::make_unique<FaceDescriptor>();
  faceL->setInstance(qridy::InstanceFaceFrontal);
  faceL->setFacialFeaturePoints(new FFP(eyePoints(rightEyeA, leftEyeA)));
  faceL->setRoi(new qrimg::Roi(boxA));
  faceL->setDetectionConfidence(confidenceA);
  faceL->setQualityValue(qualityL->quality());
  faceL->setTextureImage(new qrimg::ByteImage(greyL));
  faceL->setDerotatedImage(new qrimg::ByteImage(*derotatedL));
  faceL->setFeatureExtractionImage(derotatedL.release());
  const std::vector<kxegm::FaceGraph::Node>& eyesL = derotationL.nodes();
  faceL->setDerotatedFeaturePoints(new FFP(eyePoints(eyesL[0].position, eyesL[1].position)));
  auto featureGraphL = std::make_unique<kxegm::FaceGraph>(derotationL);
  featureGraphL->setKind(kxegm::FaceGraph::KindFeatureExtraction);
  featureGraphL->addEdge(0, 1);
  faceL->setFeatureExtractionGraph(featureGraphL.release());
  faceL->setDerotationGraph(new kxegm::FaceGraph(std::move(derotationL)));
  faceL->setFaceRecQcheckResult(qualityL.release());
  faceL->setValid(true);
  return faceL.release();
}

}  // namespace qrbase
