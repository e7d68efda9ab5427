#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <unordered_set>

#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"
#include "gallery/RecordBlobView.h"

namespace qridy {

using namespace fileio;

// --- reloading ------------------------------------------------------------------------------

void MultipassFileIO::readTemplateBlocksFromFidFileBlock(std::istringstream& isA,
                                                         std::vector<TemplateBlockImp*>& blocksA,
                                                         std::vector<KXuint128>& sampleIdsA,
                                                         std::vector<BioMetricTriple>& triplesA) {
  const char* const kFunction = "qridy::MultipassFileIO::readTemplateBlocksFromFidFileBlock";
  const std::size_t firstL = blocksA.size();
  try {
    std::uint32_t countL = 0;
    if (!coding::getFixed32(isA, countL)) KXXCP_THROW(kFunction, "Record blob too short.");
    // Every entry takes at least 28 bytes.
    const std::streamsize leftL = isA.rdbuf()->in_avail();
    if (leftL < 0 || countL > static_cast<std::uint64_t>(leftL) / 28) {
      KXXCP_THROW(kFunction, "Invalid record blob entry count: '" << countL << "'.");
    }
    for (std::uint32_t i = 0; i < countL; ++i) {
      std::uint32_t modalityL = 0, instanceL = 0, algorithmL = 0;
      KXuint128 idL;
      if (!coding::getFixed32(isA, modalityL) || !coding::getFixed32(isA, instanceL) ||
          !coding::getFixed32(isA, algorithmL) || !coding::getFixed64(isA, idL.low) ||
          !coding::getFixed64(isA, idL.high)) {
        KXXCP_THROW(kFunction, "Record blob too short.");
      }
      BioMetricTriple tripleL;
      tripleL.modality = static_cast<Modality>(modalityL);
      tripleL.instance = static_cast<Instance>(instanceL);
      tripleL.algorithm = static_cast<Algorithm>(algorithmL);
      if (algorithmL == AlgUnknown) {
        if (kxutl::QuarlenInformation::debugLevelS >= 2) {
          kxntc::debug << "Failed to reload Template Block : " << Types::bioTriple2Text(tripleL)
                       << "in " << __FILE__ << ", " << __LINE__;
          kxntc::notify(kxntc::debug);
        }
        continue;
      }
      TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(tripleL.algorithm);
      blocksA.push_back(blockL);
      blockL->read(isA);
      sampleIdsA.push_back(idL);
      triplesA.push_back(tripleL);
    }
  } catch (...) {
    for (std::size_t i = firstL; i < blocksA.size(); ++i) delete blocksA[i];
    blocksA.resize(firstL);
    sampleIdsA.resize(std::min(sampleIdsA.size(), firstL));
    triplesA.resize(std::min(triplesA.size(), firstL));
    throw;
  }
}

bool viewRecordBlob(const unsigned char* dataA, std::size_t sizeA,
                    std::vector<RecordBlobEntry>& entriesA) {
  entriesA.clear();
  coding::Cursor curL(dataA, sizeA);
  std::uint32_t countL = 0;
  // Every entry takes at least 28 bytes (as the stream reader bounds the count).
  if (!curL.getFixed32(countL) || countL > curL.remaining() / 28) return false;
  for (std::uint32_t i = 0; i < countL; ++i) {
    std::uint32_t modalityL = 0, instanceL = 0, algorithmL = 0;
    RecordBlobEntry entryL;
    if (!curL.getFixed32(modalityL) || !curL.getFixed32(instanceL) ||
        !curL.getFixed32(algorithmL) || !curL.getFixed64(entryL.sampleId.low) ||
        !curL.getFixed64(entryL.sampleId.high)) {
      return false;
    }
    // Entries without a block are rare; the stream reader skips them with its diagnostics.
    if (algorithmL == AlgUnknown) return false;
    entryL.triple.modality = static_cast<Modality>(modalityL);
    entryL.triple.instance = static_cast<Instance>(instanceL);
    entryL.triple.algorithm = static_cast<Algorithm>(algorithmL);
    if (!viewTemplateBlockRecord(curL, entryL.block)) return false;
    entriesA.push_back(entryL);
  }
  return true;
}

int MultipassFileIO::recoverDataAndAdd(const std::map<BioMetricTriple, GalleryBlockSink*>& sinksA) {
  const char* const kFunction = "qridy::MultipassFileIO::recoverDataAndAdd";
  int loadedL = 0;
  try {
    open();
    std::vector<const IdRecKeyToBlobOffset*> byPositionL;
    byPositionL.reserve(indexM.size());
    for (const IdRecKeyToBlobOffset& eL : indexM) byPositionL.push_back(&eL);
    auto posLess = [](const IdRecKeyToBlobOffset* aA, const IdRecKeyToBlobOffset* bA) {
      return aA->dataFileIndex != bA->dataFileIndex ? aA->dataFileIndex < bA->dataFileIndex
                                                    : aA->dataPosition < bA->dataPosition;
    };
    std::sort(byPositionL.begin(), byPositionL.end(), posLess);
    for (FidFileStruct& fileL : dataFilesM) {
      if (fileL.alias) continue;
      int inFileL = 0;
      MultiPartFidFile& multiL = *fileL.file;
      for (std::size_t p = 0; p < multiL.partCount(); ++p) {
        const bool okL = multiL.part(p).forEachRecord(true, [&](std::uint32_t slotA,
                                                                std::uint32_t statusA,
                                                                std::uint32_t,
                                                                const unsigned char* dataA) {
          if (statusA != FidFile::kUsed) return true;
          IdRecKeyToBlobOffset probeL;
          probeL.dataFileIndex = static_cast<unsigned char>(fileL.index);
          probeL.dataPosition = multiL.positionOf(p, slotA);
          auto itL = std::lower_bound(byPositionL.begin(), byPositionL.end(), &probeL, posLess);
          if (itL == byPositionL.end() || posLess(&probeL, *itL) || (*itL)->metadata == nullptr) {
            return true;  // not indexed (left over) or without metadata
          }
          std::istringstream isL(std::string(reinterpret_cast<const char*>(dataA), fileL.dataSize));
          std::vector<TemplateBlockImp*> blocksL;
          std::vector<KXuint128> idsL;
          std::vector<BioMetricTriple> triplesL;
          readTemplateBlocksFromFidFileBlock(isL, blocksL, idsL, triplesL);
          std::unique_ptr<TemplateBlockImp> ownedL;
          try {
            for (std::size_t b = 0; b < blocksL.size(); ++b) {
              ownedL.reset(blocksL[b]);
              blocksL[b] = nullptr;
              const auto sinkL = sinksA.find(triplesL[b]);
              if (sinkL == sinksA.end() || sinkL->second == nullptr) {
                std::ostringstream osL;
                osL << "*********\n This part of the Fid File is not configured to store in "
                       "Memory. "
                    << Types::bioTriple2Text(triplesL[b])
                    << ". All parts has to be added or removed. Incuded tripes : ";
                for (const BioMetricTriple& tL : triplesL) {
                  osL << " - " << Types::bioTriple2Text(tL);
                }
                osL << "*********";
                notifyError(osL.str());
                continue;
              }
              sinkL->second->add(ownedL.get(), (*itL)->metadata, idsL[b]);
              ++inFileL;
            }
          } catch (...) {
            for (TemplateBlockImp* bL : blocksL) delete bL;
            throw;
          }
          return true;
        });
        if (!okL) {
          KXXCP_THROW(kFunction, "Cannot read MultipassFileIO file : " << multiL.partFileName(p));
        }
      }
      if (kxutl::QuarlenInformation::debugLevelS >= 3) {
        kxntc::log << fileL.fileName << " - Number of templates in FidFile : " << inFileL;
        kxntc::notify(kxntc::log);
      }
      loadedL += inFileL;
    }
  } catch (const kxxcp::Exception& eL) {
    KXXCP_THROW(kFunction, "Failed to recover gallery: kxxcp caught: " << eL.getMessage());
  }
  return loadedL;
}

// --- repairing what an interrupted change left without its journal -----------------------------

void MultipassFileIO::removeUnfinishedRecords() {
  std::vector<IdRecKeyToBlobOffset> entriesL;
  std::vector<unsigned int> unfinishedL;  // index positions
  readIndexRecords(entriesL, unfinishedL, "qridy::MultipassFileIO::open");
  // A batch writes its blobs before their index records, and a removal removes the index record
  // before the blob: an index record names a used data record with its checksum once complete.
  std::vector<std::unordered_set<std::uint32_t>> namedL(dataFilesM.size());
  for (const IdRecKeyToBlobOffset& eL : entriesL) {
    FidFileStruct& fileL = dataFilesM[eL.dataFileIndex];
    std::uint32_t statusL = 0;
    std::uint32_t checksumL = 0;
    if (fileL.alias || !fileL.file->readRecordHeader(eL.dataPosition, statusL, checksumL) ||
        statusL != FidFile::kUsed || checksumL != eL.recordChecksum ||
        !namedL[eL.dataFileIndex].insert(eL.dataPosition).second) {
      unfinishedL.push_back(eL.indexPosition);
    }
  }
  std::size_t indexL = 0;
  for (unsigned int positionL : unfinishedL) indexL += indexFileM.file->remove(positionL) ? 1 : 0;
  std::size_t dataL = 0;
  for (const auto& recordL : unnamedDataRecords(namedL, "qridy::MultipassFileIO::open")) {
    dataL += dataFilesM[recordL.first].file->remove(recordL.second) ? 1 : 0;
  }
  if (indexL + dataL > 0) {
    std::ostringstream osL;
    osL << "MultipassFileIO::open - " << indexL << " index records and " << dataL
        << " data records of an unfinished change removed in " << directoryM;
    notifyWarning(osL.str());
  }
}

}  // namespace qridy
