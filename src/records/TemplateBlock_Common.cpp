#include <quarlen/TemplateBlock_Common.h>

#include <cstdlib>
#include <limits>

#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>
#include <quarlen/TemplateMetaDataIris.h>

#include "records/RecordIo.h"
#include "records/TemplateBlockView.h"

namespace qridy {

namespace {

constexpr int kKeyWidth = 28;  // attribute keys of the validation text are padded to this width

// Stores a copy of sizeA bytes as a part and sets its size and checksum (all 0 for no bytes).
void assignPart(std::unique_ptr<unsigned char[]> dataA, std::uint32_t sizeA,
                std::unique_ptr<unsigned char[]>& partA, std::uint32_t& partSizeA,
                std::uint32_t& partChecksumA) {
  partSizeA = dataA ? sizeA : 0;
  partChecksumA = TemplateBlock_Common::calculateChecksum(dataA.get(), partSizeA);
  partA = std::move(dataA);
}

void clearPart(std::unique_ptr<unsigned char[]>& partA, std::uint32_t& sizeA,
               std::uint32_t& checksumA) {
  partA.reset();
  sizeA = 0;
  checksumA = 0;
}

}  // namespace

TemplateBlock_Common::TemplateBlock_Common(Algorithm algorithmA) : algorithmM(algorithmA) {}

TemplateBlock_Common::TemplateBlock_Common(const TemplateBlock_Common& otherA)
    : TemplateBlockImp(), algorithmM(otherA.algorithmM) {
  copyFrom(otherA);
  checkCopiedParts("qridy::TemplateBlock_Common::TemplateBlock_Common");
}

TemplateBlock_Common& TemplateBlock_Common::operator=(const TemplateBlock_Common& otherA) {
  if (this == &otherA) return *this;
  try {
    copyFrom(otherA);
    checkCopiedParts("qridy::TemplateBlock_Common::operator=");
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateBlock_Common::operator=");
  }
  return *this;
}

TemplateBlock_Common::~TemplateBlock_Common() {
  reset();
}

void TemplateBlock_Common::copyFrom(const TemplateBlock_Common& otherA) {
  auto galleryL = recordio::copyBytes(otherA.galleryDataM.get(), otherA.gallerySizeM);
  auto probeL = recordio::copyBytes(otherA.probeDataM.get(), otherA.probeSizeM);
  auto metaL = recordio::copyBytes(otherA.metaDataM.get(), otherA.metaDataSizeM);
  galleryDataM = std::move(galleryL);
  probeDataM = std::move(probeL);
  metaDataM = std::move(metaL);
  gallerySizeM = galleryDataM ? otherA.gallerySizeM : 0;
  probeSizeM = probeDataM ? otherA.probeSizeM : 0;
  metaDataSizeM = metaDataM ? otherA.metaDataSizeM : 0;
  galleryChecksumM = otherA.galleryChecksumM;
  probeChecksumM = otherA.probeChecksumM;
  metaDataChecksumM = otherA.metaDataChecksumM;
  isSymmetricM = otherA.isSymmetricM;
  algorithmM = otherA.algorithmM;
}

// A source whose stored checksums do not describe its parts (a block left behind by a failed
// read, for instance) is not copied: the copy ends up empty.
void TemplateBlock_Common::checkCopiedParts(const char* functionA) {
  const char* mismatchL = nullptr;
  if (calculateChecksum(probeDataM.get(), probeSizeM) != probeChecksumM) {
    mismatchL = "probe checksum mismatch.";
  } else if (calculateChecksum(galleryDataM.get(), gallerySizeM) != galleryChecksumM) {
    mismatchL = "gallery checksum mismatch.";
  } else if (calculateChecksum(metaDataM.get(), metaDataSizeM) != metaDataChecksumM) {
    mismatchL = "meta data checksum mismatch.";
  }
  if (mismatchL != nullptr) {
    reset();
    KXXCP_THROW(functionA, mismatchL);
  }
}

unsigned int TemplateBlock_Common::calculateChecksum(const unsigned char* dataA,
                                                     unsigned int sizeA) {
  return dataA == nullptr ? 0 : recordio::byteSum(dataA, sizeA);
}

void TemplateBlock_Common::reset() {
  clearPart(galleryDataM, gallerySizeM, galleryChecksumM);
  clearPart(probeDataM, probeSizeM, probeChecksumM);
  clearPart(metaDataM, metaDataSizeM, metaDataChecksumM);
  isSymmetricM = false;
}

float TemplateBlock_Common::getQuality() const {
  if (metaDataSizeM == 0) return 0.0f;
  switch (algorithmM) {
    case AlgHgm:
    case AlgHgmPyrBit:
    case AlgL1Jim: {
      TemplateMetaDataFace metaL;
      metaL.setData(metaDataM.get(), metaDataSizeM);
      return metaL.quality();
    }
    case AlgL2f:
    case AlgL2m:
    case AlgL2f360:
    case AlgL2fi: {
      TemplateMetaDataFinger metaL;
      metaL.setData(metaDataM.get(), metaDataSizeM);
      return metaL.quality();
    }
    case AlgMvxIris2PiSdk: {
      TemplateMetaDataIris metaL;
      metaL.setData(metaDataM.get(), metaDataSizeM);
      return metaL.quality();
    }
    default:
      return 0.0f;
  }
}

// l1v (153) carries an impression type although getQuality ignores its metadata.
FingerImpressionType TemplateBlock_Common::getImpressionType() const {
  if (metaDataSizeM == 0) return ImpressionLatentImpression;
  switch (algorithmM) {
    case AlgL2f:
    case AlgL2m:
    case AlgL1v:
    case AlgL2f360:
    case AlgL2fi: {
      TemplateMetaDataFinger metaL;
      metaL.setData(metaDataM.get(), metaDataSizeM);
      return metaL.impressionType();
    }
    default:
      return ImpressionLatentImpression;
  }
}

void TemplateBlock_Common::setData(const unsigned char* probeDataA, unsigned int probeSizeA,
                                   const unsigned char* galleryDataA, unsigned int gallerySizeA,
                                   bool isSymmetricA) {
  try {
    // Copies first: the new bytes may point into the parts they replace.
    auto probeL = recordio::copyBytes(probeDataA, probeSizeA);
    auto galleryL = recordio::copyBytes(galleryDataA, gallerySizeA);
    isSymmetricM = isSymmetricA;
    assignPart(std::move(probeL), probeSizeA, probeDataM, probeSizeM, probeChecksumM);
    assignPart(std::move(galleryL), gallerySizeA, galleryDataM, gallerySizeM, galleryChecksumM);
  } catch (...) {
    reset();
    KXXCP_RETHROW("qridy::TemplateBlock_Common::setData");
  }
}

void TemplateBlock_Common::setMetaData(const unsigned char* dataA, unsigned int sizeA) {
  try {
    assignPart(recordio::copyBytes(dataA, sizeA), sizeA, metaDataM, metaDataSizeM,
               metaDataChecksumM);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateBlock_Common::setMetaData");
  }
}

std::istream& TemplateBlock_Common::read(std::istream& isA) {
  return recordio::readRecordOf(isA, "qridy::TemplateBlock_Common::read", [&] { readRecord(isA); });
}

void TemplateBlock_Common::readRecord(std::istream& isA) {
  const char* const kFunction = "qridy::TemplateBlock_Common::read";
  reset();
  // The fixed head: magic, version, algorithm, symmetric flag, gallery checksum and size. Fields
  // the stream does not deliver keep their reset values.
  unsigned char headL[15];
  coding::Cursor headCurL =
      recordio::readHead(isA, headL, sizeof headL, "TB", kVersion, "templateBlock", kFunction);
  std::uint16_t algorithmL;
  if (headCurL.getFixed16(algorithmL)) algorithmM = static_cast<Algorithm>(algorithmL);
  // Preset to 'F' (0x46), which counts as true: a record that ends before this byte reads as a
  // symmetric block. Kept as stored blocks have always been read this way.
  unsigned char symmetricL = 0x46;
  headCurL.getBytes(&symmetricL, 1);
  isSymmetricM = static_cast<signed char>(symmetricL) > 0;

  // One part: its checksum and size from fieldsA, then its bytes from the stream. The array
  // holds what arrived; a part cut short is reported like a corrupted one.
  auto readPartL = [&](coding::Cursor& fieldsA, std::uint32_t& checksumA, std::uint32_t& sizeA,
                       std::unique_ptr<unsigned char[]>& partA, const char* errorA) {
    fieldsA.getFixed32(checksumA);
    fieldsA.getFixed32(sizeA);
    std::uint32_t arrivedL = 0;
    const bool completeL = recordio::readPart(isA, sizeA, partA, arrivedL);
    sizeA = arrivedL;
    if (!completeL || calculateChecksum(partA.get(), sizeA) != checksumA) {
      KXXCP_THROW(kFunction, errorA);
    }
  };
  readPartL(headCurL, galleryChecksumM, gallerySizeM, galleryDataM,
            "Checksum error reading gallery data.");
  unsigned char fieldsL[8];
  coding::Cursor metaCurL(fieldsL, recordio::readUpTo(isA, fieldsL, sizeof fieldsL));
  readPartL(metaCurL, metaDataChecksumM, metaDataSizeM, metaDataM,
            "Checksum error reading meta data.");
  coding::Cursor probeCurL(fieldsL, recordio::readUpTo(isA, fieldsL, sizeof fieldsL));
  readPartL(probeCurL, probeChecksumM, probeSizeM, probeDataM,
            "Checksum error reading probe data.");
}

bool viewTemplateBlockRecord(coding::Cursor& curA, TemplateBlockView& viewA) {
  std::uint16_t versionL = 0, algorithmL = 0;
  unsigned char magicL[2] = {}, symmetricL = 0;
  if (!curA.getBytes(magicL, 2) || magicL[0] != 'T' || magicL[1] != 'B' ||
      !curA.getFixed16(versionL) || versionL != TemplateBlock_Common::kVersion ||
      !curA.getFixed16(algorithmL) || !curA.getBytes(&symmetricL, 1)) {
    return false;
  }
  // One part: checksum and size, then the bytes, which must be there and match.
  auto partL = [&curA](const unsigned char*& dataA, std::uint32_t& sizeA) {
    std::uint32_t checksumL = 0;
    if (!curA.getFixed32(checksumL) || !curA.getFixed32(sizeA) || curA.remaining() < sizeA) {
      return false;
    }
    dataA = sizeA == 0 ? nullptr : curA.position();
    curA.skip(sizeA);
    return TemplateBlock_Common::calculateChecksum(dataA, sizeA) == checksumL;
  };
  const unsigned char* galleryL = nullptr;
  const unsigned char* otherL = nullptr;
  std::uint32_t gallerySizeL = 0, otherSizeL = 0;
  if (!partL(galleryL, gallerySizeL) || !partL(otherL, otherSizeL) || !partL(otherL, otherSizeL)) {
    return false;
  }
  viewA.algorithm = static_cast<Algorithm>(algorithmL);
  viewA.symmetric = static_cast<signed char>(symmetricL) > 0;  // as read() takes the byte
  viewA.gallery = galleryL;
  viewA.gallerySize = gallerySizeL;
  return true;
}

std::ostream& TemplateBlock_Common::write(std::ostream& osA) const {
  try {
    return writeRecord(osA, true);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateBlock_Common::write");
  }
}

std::ostream& TemplateBlock_Common::writeGalleryTB(std::ostream& osA) const {
  try {
    return writeRecord(osA, false);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateBlock_Common::writeGalleryTB");
  }
}

// The stored fields exactly (not the symmetric view of the probe part); without withProbeA the
// probe part is written as empty.
std::ostream& TemplateBlock_Common::writeRecord(std::ostream& osA, bool withProbeA) const {
  recordio::writeHead<15>(osA, "TB", kVersion, [&](coding::PutCursor& curA) {
    curA.putFixed16(static_cast<std::uint16_t>(algorithmM));
    curA.putFixed8(isSymmetricM ? 1 : 0);
    curA.putFixed32(galleryChecksumM);
    curA.putFixed32(gallerySizeM);
  });
  coding::putBytes(osA, galleryDataM.get(), gallerySizeM);
  // Checksum and size of a part go out in one write.
  unsigned char fieldsL[8];
  coding::encodeFixed32(fieldsL, metaDataChecksumM);
  coding::encodeFixed32(fieldsL + 4, metaDataSizeM);
  osA.write(reinterpret_cast<const char*>(fieldsL), sizeof fieldsL);
  coding::putBytes(osA, metaDataM.get(), metaDataSizeM);
  coding::encodeFixed32(fieldsL, withProbeA ? probeChecksumM : 0);
  coding::encodeFixed32(fieldsL + 4, withProbeA ? probeSizeM : 0);
  osA.write(reinterpret_cast<const char*>(fieldsL), sizeof fieldsL);
  if (withProbeA) coding::putBytes(osA, probeDataM.get(), probeSizeM);
  return osA;
}

TemplateBlockImp* TemplateBlock_Common::copy() const {
  return new TemplateBlock_Common(*this);
}

void TemplateBlock_Common::removeProbeTemplatePart() {
  clearPart(probeDataM, probeSizeM, probeChecksumM);
}

void TemplateBlock_Common::removeGalleryTemplatePart() {
  clearPart(galleryDataM, gallerySizeM, galleryChecksumM);
}

void TemplateBlock_Common::removeMetaDataTemplatePart() {
  clearPart(metaDataM, metaDataSizeM, metaDataChecksumM);
}

unsigned int TemplateBlock_Common::checkSum() const {
  return galleryChecksumM + probeChecksumM + metaDataChecksumM;
}

const unsigned char* TemplateBlock_Common::probeDataPtr() const {
  return isSymmetricM ? galleryDataM.get() : probeDataM.get();
}

unsigned int TemplateBlock_Common::probeSize() const {
  return isSymmetricM ? gallerySizeM : probeSizeM;
}

void TemplateBlock_Common::randomizeFeatures() {
  // rand() % 32768 is uniform over 0..32767 wherever RAND_MAX + 1 is a multiple of 32768.
  auto fillL = [](unsigned char* dataA, std::uint32_t sizeA) {
    for (std::uint32_t i = 0; i < sizeA; ++i) {
      const int r = std::rand() % 32768;
      dataA[i] = static_cast<unsigned char>(static_cast<int>(r / 32767.0 * (255 - 0) + 0));
    }
  };
  fillL(galleryDataM.get(), gallerySizeM);
  fillL(probeDataM.get(), probeSizeM);
  galleryChecksumM = calculateChecksum(galleryDataM.get(), gallerySizeM);
  probeChecksumM = calculateChecksum(probeDataM.get(), probeSizeM);
}

void TemplateBlock_Common::convertToGalleryAndProbe() {
  if (algorithmM != AlgMvxIris2PiSdk) return;
  if (probeSizeM != 0 && gallerySizeM == 0) {
    assignPart(recordio::copyBytes(probeDataM.get(), probeSizeM / 2), probeSizeM / 2, galleryDataM,
               gallerySizeM, galleryChecksumM);
  } else if (gallerySizeM != 0 && probeSizeM == 0 &&
             gallerySizeM <= std::numeric_limits<std::uint32_t>::max() / 2) {
    std::unique_ptr<unsigned char[]> twiceL(new unsigned char[2 * std::size_t{gallerySizeM}]);
    std::memcpy(twiceL.get(), galleryDataM.get(), gallerySizeM);
    std::memcpy(twiceL.get() + gallerySizeM, galleryDataM.get(), gallerySizeM);
    assignPart(std::move(twiceL), 2 * gallerySizeM, probeDataM, probeSizeM, probeChecksumM);
  }
}

bool TemplateBlock_Common::validate(std::string& textA) const {
  const std::uint32_t galleryL = calculateChecksum(galleryDataM.get(), gallerySizeM);
  const std::uint32_t probeL = calculateChecksum(probeDataM.get(), probeSizeM);
  const std::uint32_t metaL = calculateChecksum(metaDataM.get(), metaDataSizeM);
  const bool galleryOkL = galleryL == galleryChecksumM;
  const bool probeOkL = probeL == probeChecksumM;
  const bool metaOkL = metaL == metaDataChecksumM;
  const bool okL = galleryOkL && probeOkL && metaOkL;
  auto flagL = [](bool b) { return b ? "true" : "false"; };

  std::string outL = "<TemplateBlock\n";
  std::ostringstream algorithmL;
  algorithmL << Types::algorithm2Text(algorithmM) << " (" << algorithmM << ")";
  recordio::appendAttribute(outL, "algorithm", algorithmL.str(), kKeyWidth);
  recordio::appendAttribute(outL, "version", kVersion, kKeyWidth);
  recordio::appendAttribute(outL, "quality", getQuality(), kKeyWidth);
  recordio::appendAttribute(outL, "isSymmetric", flagL(isSymmetricM), kKeyWidth);
  recordio::appendAttribute(outL, "gallerySize", gallerySizeM, kKeyWidth);
  recordio::appendAttribute(outL, "probeSize", probeSizeM, kKeyWidth);
  recordio::appendAttribute(outL, "metaDataSize", metaDataSizeM, kKeyWidth);
  recordio::appendAttribute(outL, "storedGalleryChecksum", galleryChecksumM, kKeyWidth);
  recordio::appendAttribute(outL, "storedProbeChecksum", probeChecksumM, kKeyWidth);
  recordio::appendAttribute(outL, "storedMetaDataChecksum", metaDataChecksumM, kKeyWidth);
  recordio::appendAttribute(outL, "calculatedGalleryChecksum", galleryL, kKeyWidth);
  recordio::appendAttribute(outL, "galleryChecksumCheck", flagL(galleryOkL), kKeyWidth);
  recordio::appendAttribute(outL, "calculatedProbeChecksum", probeL, kKeyWidth);
  recordio::appendAttribute(outL, "probeChecksumCheck", flagL(probeOkL), kKeyWidth);
  recordio::appendAttribute(outL, "calculatedMetaDataChecksum", metaL, kKeyWidth);
  recordio::appendAttribute(outL, "metaDataChecksumCheck", flagL(metaOkL), kKeyWidth);
  recordio::appendSuccessLine(outL, okL, kKeyWidth, "    >");
  outL += "</TemplateBlock>\n";
  textA += outL;
  return okL;
}

}  // namespace qridy
