#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>

#include <qrlcore/Exception.h>

#include <algorithm>
#include <unordered_set>

#include "gallery/FidChecksum.h"
#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"

namespace qridy {

using namespace fileio;

// --- checksums, dumps, checks ---------------------------------------------------------------

unsigned int MultipassFileIO::getMultiFileChecksum() {
  open();
  std::uint16_t sumL = 0;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    sumL = fid::addFileChecksum(sumL, fileL.file->storedChecksum());
  }
  return sumL;
}

bool MultipassFileIO::checkFile(FidFileStruct& fileA, const std::string& elementA,
                                std::string& reportA) {
  std::uint16_t computedL = 0;
  std::uint64_t usedL = 0;
  const bool readL = fileA.file->computeChecksum(computedL, usedL);
  const std::uint16_t storedL = fileA.file->storedChecksum();
  const bool validL =
      readL && fid::fileChecksumsEqual(storedL, computedL) && usedL == fileA.file->usedRecords();
  const std::string closeL = elementA.rfind("dataFile", 0) == 0 ? elementA : "idFile";
  reportA += "<" + elementA + " path=" + quoted(fileA.fileName) + ">\n";
  reportA += "     <checksum inFile=" + quoted(storedL) + "\n";
  reportA += "               calculated=" + quoted(computedL) + "\n";
  reportA += "               status=" + quoted(std::string(validL ? "valid" : "invalid")) + "/>\n";
  reportA += "</" + closeL + ">\n";
  return validL;
}

bool MultipassFileIO::checkStatusFast(std::string& reportA, validationNonBiometricInfo*) {
  std::string failedL;
  if (!ensureOpen(failedL)) {
    const bool dataL = failedL.find(indexFileM.fileName) == std::string::npos &&
                       failedL.find(journalM->path()) == std::string::npos;
    std::string pathL = indexFileM.fileName;
    for (const FidFileStruct& fileL : dataFilesM) {
      if (dataL && failedL.find(fileL.fileName) != std::string::npos) pathL = fileL.fileName;
    }
    reportA += std::string("<error     reason=") +
               quoted(std::string(dataL ? "cannot open FID file" : "cannot open Id FID file")) +
               "\n";
    reportA += "           filePath=" + quoted(pathL) + "/>\n";
    return false;
  }
  bool validL = checkFile(indexFileM, "idFile", reportA);
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    validL = checkFile(fileL, "dataFile" + std::to_string(fileL.index), reportA) && validL;
  }
  return validL;
}

bool MultipassFileIO::checkStatusIntensive(std::string& reportA,
                                           validationNonBiometricInfo* infoA) {
  const char* const kFunction = "qridy::MultipassFileIO::checkStatusIntensive";
  bool validL = checkStatusFast(reportA, infoA);
  if (!openM) return false;
  // The index as stored, independent of what this object holds in memory.
  std::vector<IdRecKeyToBlobOffset> entriesL;
  std::vector<unsigned int> damagedL;
  readIndexRecords(entriesL, damagedL, kFunction);
  for (unsigned int positionL : damagedL) {
    reportA += "<corruptIdFidRecord position=" + quoted(positionL) + "/>\n";
    validL = false;
  }
  std::vector<std::unordered_set<std::uint32_t>> namedL(dataFilesM.size());
  std::vector<unsigned char> blobL(maxDataSizeM);
  for (const IdRecKeyToBlobOffset& eL : entriesL) {
    FidFileStruct& fileL = dataFilesM[eL.dataFileIndex];
    namedL[eL.dataFileIndex].insert(eL.dataPosition);
    std::ostringstream whoL;
    whoL << " pid=" << quoted(eL.key.personId) << " trid=" << quoted(eL.key.transactionId)
         << " dataFile=" << quoted(static_cast<unsigned>(eL.dataFileIndex))
         << " position=" << quoted(eL.dataPosition);
    std::uint32_t checksumL = 0;
    if (!fileL.file->readRecord(eL.dataPosition, blobL.data(), &checksumL)) {
      reportA += "<corruptDataFidRecord" + whoL.str() + " reason=\"unreadable\"/>\n";
      validL = false;
      continue;
    }
    if (checksumL != eL.recordChecksum ||
        fid::recordChecksum(blobL.data(), fileL.dataSize) != checksumL) {
      reportA += "<corruptDataFidRecord" + whoL.str() + " reason=\"checksum\"/>\n";
      validL = false;
      continue;
    }
    if (infoA == nullptr) continue;
    std::istringstream isL(
        std::string(reinterpret_cast<const char*>(blobL.data()), fileL.dataSize));
    std::vector<TemplateBlockImp*> blocksL;
    std::vector<KXuint128> sampleIdsL;
    std::vector<BioMetricTriple> triplesL;
    try {
      readTemplateBlocksFromFidFileBlock(isL, blocksL, sampleIdsL, triplesL);
    } catch (const kxxcp::Exception& eL2) {
      reportA +=
          "<corruptDataFidRecord" + whoL.str() + " reason=" + quoted(eL2.getMessage()) + "/>\n";
      validL = false;
      continue;
    }
    for (TemplateBlockImp* bL : blocksL) delete bL;
    for (const BioMetricTriple& tL : triplesL) {
      if (std::find(infoA->modalities.begin(), infoA->modalities.end(), tL.modality) ==
          infoA->modalities.end()) {
        reportA += "<missingBiometric" + whoL.str() + " reason=" +
                   quoted("Cannot find the modality " + Types::modality2Text(tL.modality)) + "/>\n";
        validL = false;
      }
      if (std::find(infoA->instances.begin(), infoA->instances.end(), tL.instance) ==
          infoA->instances.end()) {
        reportA += "<missingBiometric" + whoL.str() + " reason=" +
                   quoted("Cannot find the instance " + Types::instance2Text(tL.instance)) + "/>\n";
        validL = false;
      }
    }
  }
  // Used data records that no index record names (left by a failed roll-back or a foreign
  // writer): they take room but are never read.
  for (const auto& recordL : unnamedDataRecords(namedL, kFunction)) {
    reportA += "<orphanDataFidRecord dataFile=" + quoted(recordL.first) +
               " position=" + quoted(recordL.second) + "/>\n";
    validL = false;
  }
  return validL;
}

std::vector<std::pair<unsigned int, std::uint32_t>> MultipassFileIO::unnamedDataRecords(
    const std::vector<std::unordered_set<std::uint32_t>>& namedA, const char* functionA) {
  std::vector<std::pair<unsigned int, std::uint32_t>> unnamedL;
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    MultiPartFidFile& multiL = *fileL.file;
    for (std::size_t p = 0; p < multiL.partCount(); ++p) {
      const bool okL = multiL.part(p).forEachRecord(
          false,
          [&](std::uint32_t slotA, std::uint32_t statusA, std::uint32_t, const unsigned char*) {
            const std::uint32_t positionL = multiL.positionOf(p, slotA);
            if (statusA == FidFile::kUsed && namedA[fileL.index].count(positionL) == 0) {
              unnamedL.emplace_back(fileL.index, positionL);
            }
            return true;
          });
      if (!okL) {
        KXXCP_THROW(functionA, "Cannot read MultipassFileIO file : " << multiL.partFileName(p));
      }
    }
  }
  return unnamedL;
}

}  // namespace qridy
