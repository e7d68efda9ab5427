#include <quarlen/BioDescriptor.h>

#include <iostream>
#include <memory>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/EyeDescriptor.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/FingerprintDescriptor.h>
#include <quarlen/IrisDescriptor.h>

#include "common/Coding.h"
#include "generation/DescriptorStream.h"

namespace qrbase {

namespace ds = descriptorstream;

BioDescriptor::~BioDescriptor() = default;

BioDescriptor* BioDescriptor::create(std::istream& isA, const qrimg::Image* imageA) {
  const char* fnL = "qrbase::BioDescriptor::create";
  char magicL[2] = {0, 0};
  isA.read(magicL, 2);
  if (isA.gcount() != 2 || magicL[0] != 'B' || magicL[1] != 'D') {
    KXXCP_THROW(fnL, "BioDescriptor::create:  Invalid Magic Number");
  }
  std::uint32_t kindL = 0;
  qridy::coding::getFixed32(isA, kindL);
  // The kind's reader starts at the magic again.
  isA.seekg(-6, std::ios::cur);
  if (!isA) KXXCP_THROW(fnL, "BioDescriptor::create:  Invalid stream.");
  std::unique_ptr<BioDescriptor> descriptorL;
  switch (kindL) {
    case BioDescriptorTypeEye:
      descriptorL = std::make_unique<EyeDescriptor>();
      break;
    case BioDescriptorTypeFace:
      descriptorL = std::make_unique<FaceDescriptor>();
      break;
    case BioDescriptorTypeFingerprint:
      descriptorL = std::make_unique<FingerprintDescriptor>();
      break;
    case BioDescriptorTypeIris:
      descriptorL = std::make_unique<IrisDescriptor>();
      break;
    default:
      KXXCP_THROW(fnL, "BioDescriptor::create: Invalid BioDesciptor type.");
  }
  descriptorL->read(isA, imageA);
  return descriptorL.release();
}

void BioDescriptor::setQualityValue(float valueA) {
  if (kxutl::QuarlenInformation::debugLevelS >= 9) {
    std::cout << "BioDescriptor::setQualityValue with " << valueA << std::endl;
  }
  qualityValueM = valueA;
}

void BioDescriptor::writeHeader(std::ostream& osA) const {
  osA.write("BD", 2);
  qridy::coding::putFixed32(osA, type());
  qridy::coding::putFixed16(osA, kVersion);
  qridy::coding::putFixed32(osA, instanceM);
  qridy::coding::putFixed64(osA, sampleIdM.high);
  qridy::coding::putFixed64(osA, sampleIdM.low);
  qridy::coding::putFixed64(osA, idRecordKeyM.personId);
  qridy::coding::putFixed64(osA, idRecordKeyM.transactionId);
  qridy::coding::putFixed32(osA, qualityClassM);
  qridy::coding::putFloat32(osA, qualityValueM);
  qridy::coding::putFixed8(osA, validM ? 1 : 0);
  qridy::coding::putFixed32(osA, ageClassM);
}

bool BioDescriptor::readHeader(std::istream& isA) {
  const char* fnL = "qrbase::BioDescriptor::read";
  char magicL[2] = {0, 0};
  isA.read(magicL, 2);
  if (isA.gcount() != 2 || magicL[0] != 'B' || magicL[1] != 'D') {
    KXXCP_THROW(fnL, "BioDescriptor::read:  Invalid Magic Number");
  }
  ds::readU32(isA, fnL);  // the kind: the caller chose the class already
  if (ds::readU16(isA, fnL) != kVersion) KXXCP_THROW(fnL, "BioDescriptor::read:  Invalid version");
  instanceM = static_cast<qridy::Instance>(ds::readU32(isA, fnL));
  sampleIdM.high = ds::readU64(isA, fnL);
  sampleIdM.low = ds::readU64(isA, fnL);
  idRecordKeyM.personId = ds::readU64(isA, fnL);
  idRecordKeyM.transactionId = ds::readU64(isA, fnL);
  qualityClassM = ds::readU32(isA, fnL);
  qualityValueM = ds::readFloat(isA, fnL);
  const std::uint8_t validL = ds::readU8(isA, fnL);
  if (validL > 1) {
    KXXCP_THROW(fnL, "BioDescriptor::read:  Invalid valid flag '" << unsigned{validL} << "'");
  }
  ageClassM = static_cast<AgeClass>(ds::readU32(isA, fnL));
  return validL == 1;
}

void BioDescriptor::resetHeader() {
  validM = false;
  instanceM = qridy::InstanceUnknown;
  sampleIdM = KXuint128();
  idRecordKeyM = qridy::IdRecordKey();
  qualityClassM = 0;
  qualityValueM = 0.0f;
  ageClassM = AgeClassUnknown;
}

}  // namespace qrbase
