#include <quarlen/FingerprintDescriptor.h>

#include "common/Coding.h"
#include "generation/DescriptorStream.h"

namespace qrbase {

namespace ds = descriptorstream;

namespace {
constexpr std::uint32_t kFlagInputImage = 1u << 0;
constexpr std::uint32_t kFlagWorkingImage = 1u << 1;
constexpr const char* kRead = "qrbase::FingerprintDescriptor::read";
constexpr const char* kWrite = "qrbase::FingerprintDescriptor::write";
}  // namespace

FingerprintDescriptor::FingerprintDescriptor(const FingerprintDescriptor& otherA)
    : BioDescriptor(otherA) {
  *this = otherA;
}

FingerprintDescriptor& FingerprintDescriptor::operator=(const FingerprintDescriptor& otherA) {
  if (this == &otherA) return *this;
  BioDescriptor::operator=(otherA);
  inputImageM = ds::cloneOrNull(otherA.inputImageM.get());
  workingImageM = ds::cloneOrNull(otherA.workingImageM.get());
  l2mAuxDataM = otherA.l2mAuxDataM;
  standardAuxDataM = otherA.standardAuxDataM;
  be5TemplateM = otherA.be5TemplateM;
  xResolutionM = otherA.xResolutionM;
  yResolutionM = otherA.yResolutionM;
  resolutionUnitM = otherA.resolutionUnitM;
  certificateM = otherA.certificateM;
  impressionTypeM = otherA.impressionTypeM;
  rotationAngleM = otherA.rotationAngleM;
  rotationConfidenceM = otherA.rotationConfidenceM;
  rotationToleranceM = otherA.rotationToleranceM;
  maxMinutiaCountM = otherA.maxMinutiaCountM;
  classificationM = otherA.classificationM;
  classificationConfidenceM = otherA.classificationConfidenceM;
  captureQualityM = otherA.captureQualityM;
  captureThresholdsM = otherA.captureThresholdsM;
  return *this;
}

FingerprintDescriptor::~FingerprintDescriptor() = default;

void FingerprintDescriptor::setInputImage(const qrimg::Image* imageA) {
  inputImageM = ds::cloneOrNull(imageA);
}

void FingerprintDescriptor::setWorkingImage(const qrimg::Image* imageA) {
  workingImageM = ds::cloneOrNull(imageA);
}

double FingerprintDescriptor::resolutionPerInch() const {
  switch (resolutionUnitM) {
    case ResolutionUnitPerInch:
      return xResolutionM;
    case ResolutionUnitPerCentimetre:
      return xResolutionM * 2.54;
    default:
      return 0.0;
  }
}

double FingerprintDescriptor::resolutionPerMetre() const {
  switch (resolutionUnitM) {
    case ResolutionUnitPerInch:
      return xResolutionM / 0.0254;
    case ResolutionUnitPerCentimetre:
      return xResolutionM * 100.0;
    default:
      return 0.0;
  }
}

bool FingerprintDescriptor::meetsCaptureThresholds() const {
  return captureQualityM.contactArea >= captureThresholdsM.minContactArea &&
         captureQualityM.goodArea >= captureThresholdsM.minGoodArea &&
         captureQualityM.l2mQuality >= captureThresholdsM.minL2mQuality &&
         captureQualityM.minutiaCount >= captureThresholdsM.minMinutiaCount &&
         captureQualityM.qualityConfidence >= captureThresholdsM.minQuality;
}

void FingerprintDescriptor::write(std::ostream& osA, bool withInputImageA) const {
  writeHeader(osA);
  const bool inputL = inputImageM != nullptr && withInputImageA;
  qridy::coding::putFixed32(
      osA, (inputL ? kFlagInputImage : 0) | (workingImageM ? kFlagWorkingImage : 0));
  if (inputL) ds::writeImage(osA, *inputImageM, "input image", kWrite);
  if (workingImageM) ds::writeImage(osA, *workingImageM, "working image", kWrite);
  qridy::coding::putFixed32(osA, xResolutionM);
  qridy::coding::putFixed32(osA, yResolutionM);
  qridy::coding::putFixed32(osA, resolutionUnitM);
  qridy::coding::putFixed32(osA, certificateM);
  ds::checkWritten(osA, kWrite);
}

void FingerprintDescriptor::read(std::istream& isA, const qrimg::Image* imageA) {
  *this = FingerprintDescriptor();
  const bool storedValidL = readHeader(isA);
  const std::uint32_t flagsL =
      ds::readFlags(isA, kFlagInputImage | kFlagWorkingImage, "fingerprint", kRead);
  if (flagsL & kFlagInputImage) inputImageM = ds::readImage(isA, "input image", kRead);
  if (flagsL & kFlagWorkingImage) workingImageM = ds::readImage(isA, "working image", kRead);
  xResolutionM = ds::readU32(isA, kRead);
  yResolutionM = ds::readU32(isA, kRead);
  resolutionUnitM = static_cast<ResolutionUnit>(ds::readU32(isA, kRead));
  certificateM = ds::readU32(isA, kRead);
  if (!(flagsL & kFlagInputImage) && imageA != nullptr) inputImageM = ds::cloneOrNull(imageA);
  // Unlike the other kinds, a fingerprint descriptor keeps the validity it was stored with.
  setValid(storedValidL);
}

}  // namespace qrbase
