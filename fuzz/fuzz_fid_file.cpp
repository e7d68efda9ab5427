// Hostile gallery (FID) files: the input is written to files of a temporary directory, which are
// then opened and used. Every failure must be a false result or a kxxcp::Exception.
//
// Input: byte 0 selects what the rest is; byte 1 sets the read-ahead buffer (0 to 255 bytes
// times 16); the remainder is
//   mode 0: one FID part;
//   mode 1: an undo journal, a 16-bit length, then a FID part the journal may patch;
//   mode 2: a gallery: a 16-bit length, the index file, then the data file of size 16.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>

#include <unistd.h>

#include "FidFile.h"
#include "FidJournal.h"
#include "MultiPartFidFile.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned modeL = data[0] % 3;
  const unsigned bufferL = data[1] * 16u;
  data += 2;
  size -= 2;
  const std::string dirL = workDir();
  const std::string partL = dirL + "/g_16.dat";
  const std::string indexL = dirL + "/g.IDs";
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
      bool undoneL = false;
      jL.recover([](const std::string& nA) { return nA == "g_16.dat" || nA == "g_16.dat.0001"; },
                 false, undoneL);
      qridy::FidFile fileL(partL, bufferL);
      if (fileL.open()) usePart(fileL);
    } else {
      if (size < 2) return 0;
      const std::size_t idsL = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
      writeFile(indexL, data + 2, idsL);
      writeFile(partL, data + 2 + idsL, size - 2 - idsL);
      qridy::MultiPartFidFile idsFileL(indexL, bufferL);
      qridy::MultiPartFidFile dataFileL(partL, bufferL);
      if (idsFileL.open() && dataFileL.open() && dataFileL.dataSize() <= 64 * 1024) {
        std::vector<unsigned char> recL(dataFileL.dataSize());
        for (std::uint32_t posL = 0; posL < 16; ++posL) dataFileL.readRecord(posL, recL.data());
      }
    }
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
