#include <quarlen/TemplateMetaDataFinger.h>

#include "records/RecordIo.h"

namespace qridy {

TemplateMetaDataFinger::~TemplateMetaDataFinger() = default;

std::istream& TemplateMetaDataFinger::read(std::istream& isA) {
  const char* const kFunction = "qridy::TemplateMetaDataFinger::read";
  try {
    const unsigned short versionL = readHeader(isA, kFunction);
    // Version 1 records have the same layout and are still read.
    if (versionL != kVersion && versionL != 1) {
      KXXCP_THROW(kFunction, "Invalid finger meta data version: '" << versionL << "'.");
    }
    unsigned char bodyL[16];
    coding::Cursor curL(bodyL, recordio::readUpTo(isA, bodyL, sizeof bodyL));
    std::uint16_t typeL;
    if (curL.getFixed16(typeL)) impressionTypeM = static_cast<FingerImpressionType>(typeL);
    curL.getFixed16(fingerValue1M);
    curL.getBytes(&fingerValue2M, 1);
    curL.getBytes(&fingerValue3M, 1);
    curL.getFixed16(fingerValue4M);
    curL.getFixed16(fingerValue5M);
    curL.getFixed16(fingerValue6M);
    curL.getFloat32(qualityM);
  } catch (...) {
    KXXCP_RETHROW(kFunction);
  }
  return isA;
}

std::ostream& TemplateMetaDataFinger::write(std::ostream& osA) const {
  try {
    writeHeader(osA, kVersion);
    unsigned char bodyL[16];
    coding::PutCursor curL(bodyL, sizeof bodyL);
    curL.putFixed16(static_cast<std::uint16_t>(impressionTypeM));
    curL.putFixed16(fingerValue1M);
    curL.putFixed8(fingerValue2M);
    curL.putFixed8(fingerValue3M);
    curL.putFixed16(fingerValue4M);
    curL.putFixed16(fingerValue5M);
    curL.putFixed16(fingerValue6M);
    curL.putFloat32(qualityM);
    osA.write(reinterpret_cast<const char*>(bodyL), sizeof bodyL);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateMetaDataFinger::write");
  }
  return osA;
}

}  // namespace qridy
