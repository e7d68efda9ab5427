#include <quarlen/TemplateMetaDataBase.h>

#include <cstring>
#include <sstream>

#include <quarlen/TemplateMetaDataFinger.h>

#include "records/RecordIo.h"

namespace qridy {

TemplateMetaDataBase::~TemplateMetaDataBase() = default;

void TemplateMetaDataBase::setData(const unsigned char* dataA, unsigned int sizeA) {
  recordio::MemoryInStream isL(dataA, dataA != nullptr ? sizeA : 0);
  read(isL);
}

void TemplateMetaDataBase::createData(unsigned char*& dataA, unsigned int& sizeA) {
  std::ostringstream osL(std::ios::binary);
  write(osL);
  const std::string bytesL = osL.str();
  unsigned char* copyL = new unsigned char[bytesL.size()];
  std::memcpy(copyL, bytesL.data(), bytesL.size());
  dataA = copyL;
  sizeA = static_cast<unsigned int>(bytesL.size());
}

TemplateMetaDataBase* TemplateMetaDataBase::createMetaData(Modality modalityA) {
  if (modalityA == ModalityFingerprint) return new TemplateMetaDataFinger();
  KXXCP_THROW("qridy::TemplateMetaDataBase::createMetaData",
              "Unsupported modality '" << Types::modality2Text(modalityA) << "'.");
}

TemplateMetaDataBase* TemplateMetaDataBase::createMetaData(const unsigned char* dataA,
                                                           unsigned int sizeA) {
  const char* const kFunction = "qridy::TemplateMetaDataBase::createMetaData";
  if (dataA == nullptr || sizeA <= 2) {
    KXXCP_THROW(kFunction, "Invalid metadata size '" << sizeA << "'.");
  }
  // The modality is the header field after the magic; a record of three bytes has only its low
  // byte.
  const auto modalityL =
      static_cast<Modality>(sizeA >= 4 ? coding::decodeFixed16(dataA + 2) : dataA[2]);
  if (modalityL != ModalityFingerprint) {
    KXXCP_THROW(kFunction, "Unsupported modality '" << Types::modality2Text(modalityL) << "'.");
  }
  TemplateMetaDataFinger* metaL = new TemplateMetaDataFinger();
  try {
    metaL->setData(dataA, sizeA);
  } catch (...) {
    delete metaL;
    throw;
  }
  return metaL;
}

unsigned short TemplateMetaDataBase::readHeader(std::istream& isA, const char* functionA) const {
  unsigned char headL[6];
  const std::size_t gotL = recordio::readUpTo(isA, headL, sizeof headL);
  recordio::checkMagic(headL, gotL, "MD", "meta data", functionA);
  coding::Cursor curL(headL + 2, gotL - 2);
  std::uint16_t modalityL = 0;
  std::uint16_t versionL = 0;
  curL.getFixed16(modalityL);
  curL.getFixed16(versionL);
  if (modalityL != modality()) {
    KXXCP_THROW(functionA, "Invalid modality: '"
                               << Types::modality2Text(Modality(modalityL)) << "'.Modality: '"
                               << Types::modality2Text(modality()) << "' expected.");
  }
  return versionL;
}

void TemplateMetaDataBase::writeHeader(std::ostream& osA, unsigned short versionA) const {
  unsigned char headL[6] = {'M', 'D'};
  coding::PutCursor curL(headL + 2, 4);
  curL.putFixed16(static_cast<std::uint16_t>(modality()));
  curL.putFixed16(versionA);
  osA.write(reinterpret_cast<const char*>(headL), sizeof headL);
}

void TemplateMetaDataBase::readValuePairRecord(std::istream& isA, const char* functionA,
                                               const char* versionKindA, std::uint16_t& firstA,
                                               std::uint16_t& secondA, float& qualityA) {
  try {
    const unsigned short versionL = readHeader(isA, functionA);
    if (versionL != 1) {
      KXXCP_THROW(functionA,
                  "Invalid " << versionKindA << " meta data version: '" << versionL << "'.");
    }
    unsigned char bodyL[8];
    coding::Cursor curL(bodyL, recordio::readUpTo(isA, bodyL, sizeof bodyL));
    curL.getFixed16(firstA);
    curL.getFixed16(secondA);
    curL.getFloat32(qualityA);
  } catch (...) {
    KXXCP_RETHROW(functionA);
  }
}

void TemplateMetaDataBase::writeValuePairRecord(std::ostream& osA, const char* functionA,
                                                std::uint16_t firstA, std::uint16_t secondA,
                                                float qualityA) const {
  try {
    writeHeader(osA, 1);
    unsigned char bodyL[8];
    coding::PutCursor curL(bodyL, sizeof bodyL);
    curL.putFixed16(firstA);
    curL.putFixed16(secondA);
    curL.putFloat32(qualityA);
    osA.write(reinterpret_cast<const char*>(bodyL), sizeof bodyL);
  } catch (...) {
    KXXCP_RETHROW(functionA);
  }
}

}  // namespace qridy
