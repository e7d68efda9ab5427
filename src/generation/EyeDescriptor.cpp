#include <quarlen/EyeDescriptor.h>

#include "common/Coding.h"
#include "generation/DescriptorStream.h"

namespace qrbase {

namespace ds = descriptorstream;

namespace {
constexpr std::uint32_t kFlagPoints = 1u << 0;
constexpr std::uint32_t kFlagRoi = 1u << 1;
}  // namespace

constexpr int EyeDescriptor::kStreamedPoints[3];

EyeDescriptor::EyeDescriptor() = default;

EyeDescriptor::EyeDescriptor(const EyeDescriptor& otherA)
    : BioDescriptor(otherA),
      featurePointsM(ds::copyOrNull(otherA.featurePointsM)),
      roiM(ds::copyOrNull(otherA.roiM)),
      detectionConfidenceM(otherA.detectionConfidenceM) {}

EyeDescriptor& EyeDescriptor::operator=(const EyeDescriptor& otherA) {
  if (this != &otherA) {
    BioDescriptor::operator=(otherA);
    featurePointsM = ds::copyOrNull(otherA.featurePointsM);
    roiM = ds::copyOrNull(otherA.roiM);
    detectionConfidenceM = otherA.detectionConfidenceM;
  }
  return *this;
}

EyeDescriptor::~EyeDescriptor() = default;

void EyeDescriptor::write(std::ostream& osA, bool withInputImageA) const {
  writeHeader(osA);
  writeEyePart(osA);
  ds::checkWritten(osA, "qrbase::EyeDescriptor::write");
}

void EyeDescriptor::read(std::istream& isA, const qrimg::Image* imageA) {
  resetHeader();
  resetEye();
  readHeader(isA);
  readEyePart(isA);
  setValid(true);
}

void EyeDescriptor::writeEyePart(std::ostream& osA) const {
  qridy::coding::putFixed32(osA, (featurePointsM ? kFlagPoints : 0) | (roiM ? kFlagRoi : 0));
  if (featurePointsM) ds::writePoints(osA, *featurePointsM);
  if (roiM) {
    // The region's second stored field (top) comes first.
    for (int v : {roiM->top(), roiM->left(), roiM->width(), roiM->height()}) {
      qridy::coding::putFixed32(osA, static_cast<std::uint32_t>(v));
    }
  }
  qridy::coding::putFloat32(osA, detectionConfidenceM);
}

void EyeDescriptor::readEyePart(std::istream& isA) {
  const char* fnL = "qrbase::EyeDescriptor::read";
  const std::uint32_t flagsL = ds::readFlags(isA, kFlagPoints | kFlagRoi, "eye", fnL);
  if (flagsL & kFlagPoints) featurePointsM = ds::readPoints(isA, fnL);
  if (flagsL & kFlagRoi) {
    const auto topL = static_cast<std::int32_t>(ds::readU32(isA, fnL));
    const auto leftL = static_cast<std::int32_t>(ds::readU32(isA, fnL));
    const auto widthL = static_cast<std::int32_t>(ds::readU32(isA, fnL));
    const auto heightL = static_cast<std::int32_t>(ds::readU32(isA, fnL));
    roiM = std::make_unique<qrimg::Roi>(leftL, topL, widthL, heightL);
  }
  detectionConfidenceM = ds::readFloat(isA, fnL);
}

void EyeDescriptor::resetEye() {
  featurePointsM.reset();
  roiM.reset();
  detectionConfidenceM = -1.0f;
}

}  // namespace qrbase
