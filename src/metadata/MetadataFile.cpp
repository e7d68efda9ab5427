#include "metadata/MetadataFile.h"

#include <sys/stat.h>

#include <quarlen/IdentityMetadata.h>
#include <quarlen/QueryLanguage.h>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "gallery/MultiPartFidFile.h"

namespace qridy {

MetadataFile::MetadataFile(std::string pathA)
    : pathM(std::move(pathA)), fileM(std::make_unique<MultiPartFidFile>(pathM, 0)) {}

MetadataFile::~MetadataFile() = default;

bool MetadataFile::exists() const {
  struct stat stL;
  return ::stat(pathM.c_str(), &stL) == 0;
}

bool MetadataFile::create(std::uint32_t dataSizeA) {
  fileM->close();
  return fileM->create(dataSizeA, kGrowth);
}

bool MetadataFile::open() {
  return fileM->isOpen() || fileM->open();
}

void MetadataFile::close() {
  fileM->close();
}

bool MetadataFile::isOpen() const {
  return fileM->isOpen();
}

const std::string& MetadataFile::lastError() const {
  return fileM->lastError();
}

std::uint32_t MetadataFile::dataSize() const {
  return fileM->dataSize();
}

std::uint32_t MetadataFile::append(const unsigned char* recordA) {
  std::uint32_t checksumL = 0;
  return fileM->add(recordA, checksumL);
}

bool MetadataFile::clear(std::uint32_t positionA) {
  return fileM->remove(positionA);
}

std::uint16_t MetadataFile::storedChecksum() const {
  return fileM->storedChecksum();
}

bool MetadataFile::readAll(
    const std::function<void(std::uint32_t position, const unsigned char* data)>& fnA,
    std::uint16_t& computedA) {
  computedA = 0;
  const std::uint32_t dataSizeL = fileM->dataSize();
  for (std::size_t partL = 0; partL < fileM->partCount(); ++partL) {
    const bool readL = fileM->part(partL).forEachRecord(
        true,
        [&](std::uint32_t slotA, std::uint32_t statusA, std::uint32_t, const unsigned char* dataA) {
          if (statusA != FidFile::kUsed) return true;
          computedA = fid::addRecordChecksum(computedA, fid::recordChecksum(dataA, dataSizeL));
          fnA(fileM->positionOf(partL, slotA), dataA);
          return true;
        });
    if (!readL) return false;
  }
  return true;
}

std::vector<unsigned char> MetadataFile::encode(const IdentityMetadata& metadataA,
                                                std::uint32_t attributeCountA,
                                                std::uint32_t sidMaxA) {
  std::vector<unsigned char> bytesL(elementSize(attributeCountA, sidMaxA), 0);
  unsigned char* pL = bytesL.data();
  coding::encodeFixed64(pL, metadataA.getIdRecordKey().personId);
  coding::encodeFixed64(pL + 8, metadataA.getIdRecordKey().transactionId);
  pL += 16;
  const unsigned int* wordsL = metadataA.queryLanguage().attributes();
  for (std::uint32_t iL = 0; iL <= attributeCountA; ++iL, pL += 4) {
    coding::encodeFixed32(pL, wordsL[iL]);
  }
  if (metadataA.sid() != nullptr) std::copy_n(metadataA.sid(), sidMaxA, pL);
  pL += sidMaxA;
  coding::encodeFixed16(pL, static_cast<std::uint16_t>(sidMaxA & 0xFFFFu));
  return bytesL;
}

bool MetadataFile::decode(const unsigned char* dataA, std::size_t sizeA,
                          std::uint32_t attributeCountA, std::uint32_t sidMaxA, Element& elementA) {
  if (sizeA < elementSize(attributeCountA, sidMaxA)) return false;
  coding::Cursor cursorL(dataA, sizeA);
  cursorL.getFixed64(elementA.key.personId);
  cursorL.getFixed64(elementA.key.transactionId);
  elementA.words.resize(std::size_t{attributeCountA} + 1);
  for (auto& wordL : elementA.words) {
    std::uint32_t vL = 0;
    cursorL.getFixed32(vL);
    wordL = vL;
  }
  elementA.sid.resize(sidMaxA);
  cursorL.getBytes(elementA.sid.data(), sidMaxA);
  // The trailing SID_MAX copy is not used.
  return true;
}

}  // namespace qridy
