// Hostile gallery (FID) files: the input is written to files of a temporary directory, which are
// then opened and used. Every failure must be a false result or a kxxcp::Exception.
//
// Input: byte 0 selects what the rest is; byte 1 sets the read-ahead buffer (0 to 255 bytes
// times 16); the remainder is
//   mode 0: one FID part;
//   mode 1: an undo journal, a 16-bit length, then a FID part the journal may patch;
//   mode 2: a gallery of data size 16: three parts, each behind a 16-bit length (the last one
//           takes the rest): the index file, the data file and the journal (none when empty).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <qrlcore/Exception.h>

#include <unistd.h>

#include <quarlen/IdentityMetadata.h>
#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Notification.h>

#include "gallery/FidFile.h"
#include "gallery/FidJournal.h"
#include "gallery/MultiPartFidFile.h"

namespace {

const std::string& workDir() {
  static const std::string dirS = [] {
    char templateL[] = "/tmp/fuzz_fid_file_XXXXXX";
    const char* dL = mkdtemp(templateL);
    if (dL == nullptr) std::abort();
    return std::string(dL);
  }();
  return dirS;
}

void writeFile(const std::string& pathA, const std::uint8_t* dataA, std::size_t sizeA) {
  std::FILE* fL = std::fopen(pathA.c_str(), "wb");
  if (fL == nullptr) std::abort();
  if (sizeA != 0) std::fwrite(dataA, 1, sizeA, fL);
  std::fclose(fL);
}

// Exercises an opened part: scans, reads, adds and removes a few records.
void usePart(qridy::FidFile& partA) {
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  partA.computeChecksum(sumL, usedL);
  const std::uint32_t recordL = partA.recordSize();
  if (recordL > 64 * 1024) return;
  std::vector<unsigned char> dataL(partA.dataSize(), 0x5A);
  const std::uint32_t capacityL = partA.header().capacity;
  for (std::uint32_t slotL = 0; slotL < capacityL && slotL < 8; ++slotL) {
    partA.readRecord(slotL, dataL.data());
  }
  partA.setRecordLimit(capacityL + 3);
  std::uint32_t checksumL = 0;
  for (int i = 0; i < 3; ++i) partA.add(dataL.data(), checksumL);
  partA.remove(0);
  partA.remove(capacityL / 2);
  partA.add(dataL.data(), checksumL);
  if (partA.open()) partA.computeChecksum(sumL, usedL);
}

// Splits off a part behind a 16-bit length.
std::pair<const std::uint8_t*, std::size_t> take(const std::uint8_t*& dataA, std::size_t& sizeA) {
  if (sizeA < 2) return {dataA, 0};
  const std::size_t lengthL = std::min<std::size_t>(sizeA - 2, dataA[0] | (dataA[1] << 8));
  const std::uint8_t* partL = dataA + 2;
  dataA += 2 + lengthL;
  sizeA -= 2 + lengthL;
  return {partL, lengthL};
}

void useGallery(const std::string& dirA, unsigned bufferA, const std::uint8_t* dataA,
                std::size_t sizeA) {
  const std::string galleryL = dirA + "/g";
  std::filesystem::create_directories(galleryL);
  std::remove((galleryL + "/g_16.dat.0001").c_str());
  const auto idsL = take(dataA, sizeA);
  const auto datL = take(dataA, sizeA);
  writeFile(galleryL + "/g.IDs", idsL.first, idsL.second);
  writeFile(galleryL + "/g_16.dat", datL.first, datL.second);
  // Without journal bytes the gallery has no journal: opening it repairs from the files alone.
  if (sizeA == 0) {
    std::remove((galleryL + "/g.journal").c_str());
  } else {
    writeFile(galleryL + "/g.journal", dataA, sizeA);
  }
  (void)bufferA;
  qridy::MultipassFileIO filesL(dirA, 0, "g", {16});
  filesL.readIdRecKeyToBlobOffsetMap("fuzz");
  std::string reportL;
  filesL.checkStatusFast(reportL, nullptr);
  qridy::validationNonBiometricInfo infoL;
  filesL.checkStatusIntensive(reportL, &infoL);
  unsigned char blobL[16] = {};
  const auto entriesL = filesL.getIdRecKeyToBlobOffsetMap();
  for (std::size_t i = 0; i < entriesL.size() && i < 8; ++i)
    filesL.read(entriesL[i].key, blobL, true);
  const qridy::IdentityMetadata metadataL(qridy::IdRecordKey(7, 7));
  filesL.setFileLimit(entriesL.size() + 2);
  filesL.add(metadataL, blobL, sizeof blobL);
  filesL.writeCacheToDisk();
  if (!entriesL.empty()) filesL.clear(entriesL.front().key);
  std::map<qridy::BioMetricTriple, qridy::GalleryBlockSink*> noSinksL;
  filesL.recoverDataAndAdd(noSinksL);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quietS = [] {
    kxntc::setSink([](kxntc::Level, const std::string&) {});
    return true;
  }();
  (void)quietS;
  if (size < 2) return 0;
  const unsigned modeL = data[0] % 3;
  const unsigned bufferL = data[1] * 16u;
  data += 2;
  size -= 2;
  const std::string dirL = workDir();
  const std::string partL = dirL + "/g_16.dat";
  std::remove((partL + ".0001").c_str());
  try {
    if (modeL == 0) {
      writeFile(partL, data, size);
      qridy::FidFile fileL(partL, bufferL);
      if (fileL.open()) usePart(fileL);
      qridy::MultiPartFidFile multiL(partL, bufferL);
      if (multiL.open()) {
        std::uint16_t sumL = 0;
        std::uint64_t usedL = 0;
        multiL.computeChecksum(sumL, usedL);
      }
    } else if (modeL == 1) {
      if (size < 2) return 0;
      const std::size_t journalL = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
      writeFile(dirL + "/g.journal", data + 2, journalL);
      writeFile(partL, data + 2 + journalL, size - 2 - journalL);
      qridy::FidJournal jL(dirL, "g.journal");
      qridy::FidJournal::State foundL = qridy::FidJournal::State::Missing;
      jL.recover([](const std::string& nA) { return nA == "g_16.dat" || nA == "g_16.dat.0001"; },
                 false, foundL);
      qridy::FidFile fileL(partL, bufferL);
      if (fileL.open()) usePart(fileL);
    } else {
      useGallery(dirL, bufferL, data, size);
    }
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
