#include <quarlen/FaceDescriptor.h>

#include <sstream>

#include "common/Coding.h"
#include "generation/DescriptorStream.h"

namespace qrbase {

namespace ds = descriptorstream;

namespace {
constexpr std::uint32_t kFlagTexture = 1u << 0;
constexpr std::uint32_t kFlagDerotatedImage = 1u << 2;
constexpr std::uint32_t kFlagDerotationGraph = 1u << 3;
constexpr std::uint32_t kFlagQcheckResult = 1u << 4;
constexpr std::uint32_t kFlagDerotatedPoints = 1u << 5;
constexpr std::uint32_t kFlagLandmarkGraph = 1u << 6;
constexpr std::uint32_t kFlagFeatureGraph = 1u << 7;
constexpr std::uint32_t kFlagFeatureImage = 1u << 8;
constexpr std::uint32_t kFaceFlags = kFlagTexture | kFlagDerotatedImage | kFlagDerotationGraph |
                                     kFlagQcheckResult | kFlagDerotatedPoints | kFlagLandmarkGraph |
                                     kFlagFeatureGraph | kFlagFeatureImage;

constexpr const char* kRead = "qrbase::FaceDescriptor::read";
constexpr const char* kWrite = "qrbase::FaceDescriptor::write";
}  // namespace

FaceDescriptor::FaceDescriptor() = default;

FaceDescriptor::FaceDescriptor(const FaceDescriptor& otherA) : EyeDescriptor(otherA) {
  copyFaceItems(otherA);
}

FaceDescriptor& FaceDescriptor::operator=(const FaceDescriptor& otherA) {
  if (this != &otherA) {
    EyeDescriptor::operator=(otherA);
    copyFaceItems(otherA);
  }
  return *this;
}

FaceDescriptor::~FaceDescriptor() = default;

void FaceDescriptor::copyFaceItems(const FaceDescriptor& otherA) {
  renderedImageM = ds::cloneOrNull(otherA.renderedImageM.get());
  textureImageM = ds::cloneOrNull(otherA.textureImageM.get());
  shapeImageM = ds::cloneOrNull(otherA.shapeImageM.get());
  derotatedImageM = ds::cloneOrNull(otherA.derotatedImageM.get());
  derotationGraphM = ds::copyOrNull(otherA.derotationGraphM);
  qcheckResultM = ds::copyOrNull(otherA.qcheckResultM);
  derotatedPointsM = ds::copyOrNull(otherA.derotatedPointsM);
  landmarkGraphM = ds::copyOrNull(otherA.landmarkGraphM);
  landmarksM = otherA.landmarksM;
  featureGraphM = ds::copyOrNull(otherA.featureGraphM);
  featureImageM = ds::cloneOrNull(otherA.featureImageM.get());
  backgroundImageM = ds::cloneOrNull(otherA.backgroundImageM.get());
  qualityImageM = ds::cloneOrNull(otherA.qualityImageM.get());
  residualM = otherA.residualM;
  appliedChecksBitsM = otherA.appliedChecksBitsM;
  passedChecksBitsM = otherA.passedChecksBitsM;
  qualityCheckLogM = otherA.qualityCheckLogM;
}

void FaceDescriptor::resetFace() {
  FaceDescriptor emptyL;
  copyFaceItems(emptyL);
}

void FaceDescriptor::setImageQualityChecks(const QualityResultStruct& resultA) {
  std::size_t lengthL = 0;
  for (QualityCheckType typeL : resultA.appliedChecks()) {
    lengthL = std::max<std::size_t>(lengthL, static_cast<std::size_t>(typeL) + 1);
  }
  appliedChecksBitsM.assign(lengthL, '0');
  passedChecksBitsM.assign(lengthL, '0');
  for (QualityCheckType typeL : resultA.appliedChecks()) appliedChecksBitsM[typeL] = '1';
  for (QualityCheckType typeL : resultA.passedChecks()) passedChecksBitsM[typeL] = '1';
  std::ostringstream logL;
  resultA.infoCsv(logL, true);
  qualityCheckLogM = logL.str();
}

void FaceDescriptor::write(std::ostream& osA, bool withInputImageA) const {
  writeHeader(osA);
  writeEyePart(osA);
  const std::uint32_t flagsL =
      (textureImageM ? kFlagTexture : 0) | (derotatedImageM ? kFlagDerotatedImage : 0) |
      (derotationGraphM ? kFlagDerotationGraph : 0) | (qcheckResultM ? kFlagQcheckResult : 0) |
      (derotatedPointsM ? kFlagDerotatedPoints : 0) | (landmarkGraphM ? kFlagLandmarkGraph : 0) |
      (featureGraphM ? kFlagFeatureGraph : 0) | (featureImageM ? kFlagFeatureImage : 0);
  qridy::coding::putFixed32(osA, flagsL);
  if (textureImageM) ds::writeImage(osA, *textureImageM, "texture image", kWrite);
  if (derotatedImageM) ds::writeImage(osA, *derotatedImageM, "derotated image", kWrite);
  if (derotationGraphM) derotationGraphM->write(osA);
  if (qcheckResultM) qcheckResultM->write(osA);
  if (derotatedPointsM) ds::writePoints(osA, *derotatedPointsM);
  if (landmarkGraphM) landmarkGraphM->write(osA);
  if (featureGraphM) featureGraphM->write(osA);
  if (featureImageM) {
    ds::writeImage(osA, *featureImageM, "image for feature extraction", kWrite);
  }
  qridy::coding::putFloat32(osA, residualM);
  ds::checkWritten(osA, kWrite);
}

void FaceDescriptor::read(std::istream& isA, const qrimg::Image* imageA) {
  resetHeader();
  resetEye();
  resetFace();
  readHeader(isA);
  readEyePart(isA);
  const std::uint32_t flagsL = ds::readFlags(isA, kFaceFlags, "face", kRead);
  if (flagsL & kFlagTexture) textureImageM = ds::readImage(isA, "texture image", kRead);
  if (flagsL & kFlagDerotatedImage) derotatedImageM = ds::readImage(isA, "derotated image", kRead);
  if (flagsL & kFlagDerotationGraph) {
    derotationGraphM = ds::readGraph(isA, "derotation graph", kRead);
  }
  if (flagsL & kFlagQcheckResult) qcheckResultM = ds::readQualityResult(isA, kRead);
  if (flagsL & kFlagDerotatedPoints) derotatedPointsM = ds::readPoints(isA, kRead);
  if (flagsL & kFlagLandmarkGraph) landmarkGraphM = ds::readGraph(isA, "landmark graph", kRead);
  if (flagsL & kFlagFeatureGraph) {
    featureGraphM = ds::readGraph(isA, "graph for feature extraction", kRead);
  }
  if (flagsL & kFlagFeatureImage) {
    featureImageM = ds::readImage(isA, "image for feature extraction", kRead);
  }
  residualM = ds::readFloat(isA, kRead);
  if (!(flagsL & kFlagTexture) && imageA != nullptr) textureImageM.reset(imageA->clone());
  setValid(true);
}

}  // namespace qrbase
