#include <quarlen/FileManager.h>
#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Exception.h>
#include <qrlcore/FilePath.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <cctype>

#include <fcntl.h>
#include <unistd.h>

#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"

namespace qridy {

using namespace fileio;

namespace {

constexpr const char* kSectionSizes = "FID_FILE_TEMPLATE_SIZE";
constexpr const char* kSectionMatching = "TEMPLATE_MATCHING_MULTIPASS";
constexpr const char* kSectionCaching = "FID_DATA_CACHING";

}  // namespace

bool fileio::syncDirectory(const std::string& directoryA) {
  if (FileManager::openFuncPtrS != &FileManager::defaultOpen) return true;
  const int fdL = ::open(directoryA.c_str(), O_RDONLY | O_DIRECTORY);
  if (fdL < 0) return false;
  const bool okL = ::fsync(fdL) == 0;
  ::close(fdL);
  return okL;
}

// --- construction ---------------------------------------------------------------------------

MultipassFileIO::MultipassFileIO(const std::string& baseA, unsigned int reserveA,
                                 const std::string& nameA) {
  construct(baseA, reserveA, nameA, {});
}

MultipassFileIO::MultipassFileIO(const std::string& baseA, unsigned int reserveA,
                                 const std::string& nameA, std::vector<unsigned int> sizesA) {
  construct(baseA, reserveA, nameA, std::move(sizesA));
}

MultipassFileIO::~MultipassFileIO() {
  close();
}

void MultipassFileIO::construct(const std::string& baseA, unsigned int reserveA,
                                const std::string& nameA, std::vector<unsigned int> sizesA) {
  const char* const kFunction = "qridy::MultipassFileIO::construct";
  try {
    if (nameA.empty() || nameA.find('/') != std::string::npos ||
        nameA.find('\\') != std::string::npos || nameA == "." || nameA == "..") {
      KXXCP_THROW(kFunction, "Invalid gallery name: '" << nameA << "'.");
    }
    if (sizesA.empty()) {
      sizesA = kxutl::QuarlenInformation::getUintVectorFromConfigFile(kSectionSizes, "SIZES");
    }
    if (sizesA.empty()) {
      KXXCP_THROW(kFunction, "No data sizes: section '" << kSectionSizes << "', key 'SIZES'.");
    }
    if (sizesA.size() > kMaxDataFiles) {
      KXXCP_THROW(kFunction, "Too many data sizes: '" << sizesA.size() << "' (at most "
                                                      << kMaxDataFiles << ").");
    }
    for (unsigned int sizeL : sizesA) {
      if (sizeL > FidFile::kMaxDataSize) {
        KXXCP_THROW(kFunction, "Data size too large: '" << sizeL << "'.");
      }
    }
    const int cacheL =
        kxutl::QuarlenInformation::getIntFromConfigFile(kSectionMatching, "loadingCacheSize", 1000);
    cacheLimitM = cacheL < 1 ? 1u : static_cast<unsigned int>(cacheL);
    const int bufferL =
        kxutl::QuarlenInformation::getIntFromConfigFile(kSectionCaching, "cacheBufferSize", 0);
    bufferBytesM = bufferL < 1 ? 0u : static_cast<unsigned int>(bufferL);

    std::string baseL = baseA;
    kxutl::FilePath::trimPath(baseL, true);
    nameM = nameA;
    directoryM = baseL + nameA;
    kxutl::FilePath(directoryM, true).mkdir();

    indexFileM.fileName = directoryM + "/" + nameA + ".IDs";
    indexFileM.dataSize = kIndexDataSize;
    indexFileM.file = std::make_shared<MultiPartFidFile>(indexFileM.fileName, 0);
    for (std::size_t i = 0; i < sizesA.size(); ++i) {
      FidFileStruct fileL;
      fileL.fileName = directoryM + "/" + nameA + "_" + std::to_string(sizesA[i]) + ".dat";
      fileL.dataSize = sizesA[i];
      fileL.index = static_cast<unsigned int>(i);
      // A size given twice names the same file: the later entry shares the first one's file
      // and never receives blobs (the first of equal sizes is chosen).
      for (const FidFileStruct& earlierL : dataFilesM) {
        if (earlierL.dataSize == sizesA[i] && !fileL.alias) {
          fileL.file = earlierL.file;
          fileL.alias = true;
        }
      }
      if (!fileL.alias) {
        fileL.file = std::make_shared<MultiPartFidFile>(fileL.fileName, bufferBytesM);
      }
      maxDataSizeM = std::max(maxDataSizeM, sizesA[i]);
      dataFilesM.push_back(std::move(fileL));
    }
    journalM = std::make_unique<FidJournal>(directoryM, nameA + ".journal");
    indexM.reserve(std::min<unsigned int>(reserveA, 1u << 24));
  } catch (const kxxcp::Exception& eL) {
    KXXCP_THROW(kFunction, "Failed to create MultipassFileIO object. ... kxxcp exc caught: "
                               << eL.getMessage());
  } catch (...) {
    KXXCP_THROW(kFunction, "Failed to create MultipassFileIO object. . Unknown exc caught.");
  }
}

std::string MultipassFileIO::indexFileName() const {
  return indexFileM.fileName;
}

std::string MultipassFileIO::dataFileName(std::size_t fileA) const {
  return dataFilesM[fileA].fileName;
}

unsigned int MultipassFileIO::getFidFile(unsigned int sizeA) const {
  unsigned int bestL = 0;
  bool foundL = false;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (fileL.dataSize >= sizeA && (!foundL || fileL.dataSize < dataFilesM[bestL].dataSize)) {
      bestL = fileL.index;
      foundL = true;
    }
  }
  if (!foundL) {
    KXXCP_THROW("qridy::MultipassFileIO::getFidFile",
                "Cannot find a fidfile for datasize: " << sizeA);
  }
  return bestL;
}

// --- life cycle -----------------------------------------------------------------------------

void MultipassFileIO::create(unsigned int, unsigned int) {
  close();
  auto createL = [&](FidFileStruct& fileA) {
    if (!fileA.file->create(fileA.dataSize, kGrowthIncrement)) {
      KXXCP_THROW("qridy::MultipassFileIO::create",
                  "Cannot create MultipassFileIO file : " << fileA.fileName
                                                          << ", dataSize : " << fileA.dataSize);
    }
  };
  createL(indexFileM);
  for (FidFileStruct& fileL : dataFilesM) {
    if (!fileL.alias) createL(fileL);
  }
  if (!journalM->create(syncM) || (syncM && !syncDirectory(directoryM))) {
    KXXCP_THROW("qridy::MultipassFileIO::create",
                "Cannot create MultipassFileIO file : " << journalM->path() << ", dataSize : 0");
  }
  createdM = true;
  indexM.clear();
  cacheM.clear();
  cacheBytesM.clear();
  open();
}

bool MultipassFileIO::journalAccepts(const std::string& fileNameA) const {
  auto matchesL = [&](const std::string& baseA) {
    if (fileNameA == baseA) return true;
    if (fileNameA.size() < baseA.size() + 5 || fileNameA.compare(0, baseA.size(), baseA) != 0 ||
        fileNameA[baseA.size()] != '.') {
      return false;
    }
    return std::all_of(fileNameA.begin() + static_cast<std::ptrdiff_t>(baseA.size()) + 1,
                       fileNameA.end(),
                       [](char cA) { return std::isdigit(static_cast<unsigned char>(cA)) != 0; });
  };
  if (matchesL(fileNameOf(indexFileM.fileName))) return true;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (matchesL(fileNameOf(fileL.fileName))) return true;
  }
  return false;
}

void MultipassFileIO::open() {
  if (openM) return;
  const char* const kFunction = "qridy::MultipassFileIO::open";
  auto failL = [&](const std::string& nameA) {
    close();
    std::string textL = "Cannot open MultipassFileIO file : " + nameA;
    if (!createdM) textL += ", Not created!";
    notifyError(textL);
    throw kxxcp::Exception(textL, __FILE__, __LINE__, kFunction);
  };
  // Nothing may be read before an interrupted change is undone: the before-images are raw bytes,
  // written before the parts are opened (and checked).
  FidJournal::State journalL = FidJournal::State::Missing;
  if (!journalM->recover([this](const std::string& nA) { return journalAccepts(nA); }, syncM,
                         journalL)) {
    failL(journalM->path());
  }
  if (journalL == FidJournal::State::Active && kxutl::QuarlenInformation::debugLevelS >= 3) {
    kxntc::log << "MultipassFileIO::open - interrupted change undone in " << directoryM;
    kxntc::notify(kxntc::log);
  }
  if (!indexFileM.file->open()) failL(indexFileM.fileName);
  if (indexFileM.file->dataSize() != kIndexDataSize) failL(indexFileM.fileName);
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    if (!fileL.file->open() || fileL.file->dataSize() != fileL.dataSize) failL(fileL.fileName);
    fileL.file->setRecordLimit(static_cast<std::uint32_t>(fileLimitM));
    fileL.file->enableCaching(dataCachingM);
  }
  // A gallery written without a journal gets one now. Where none can be created (a directory
  // that cannot be written, file functions that serve only the gallery's own files), the
  // gallery is open for reading; writing tries again and reports why it cannot.
  journalReadyM = journalL != FidJournal::State::Missing || createJournal();
  if (!journalReadyM) {
    notifyWarning("MultipassFileIO::open - Cannot create the journal " + journalM->path() +
                  ": the gallery is open for reading only");
  }
  for (const std::string& noteL : indexFileM.file->repairNotes()) {
    notifyWarning("MultipassFileIO::open - " + noteL);
  }
  bool repairedL = indexFileM.file->repaired();
  std::uint64_t dataUsedL = 0;
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    for (const std::string& noteL : fileL.file->repairNotes()) {
      notifyWarning("MultipassFileIO::open - " + noteL);
    }
    repairedL = repairedL || fileL.file->repaired();
    dataUsedL += fileL.file->usedRecords();
  }
  // Every index record names one used data record and every used data record has one index
  // record, unless a change was interrupted and its journal is gone.
  if (repairedL || dataUsedL != indexFileM.file->usedRecords()) {
    try {
      removeUnfinishedRecords();
    } catch (const kxxcp::Exception&) {
      failL(indexFileM.fileName);
    }
  }
  openM = true;
  if (!unsettledAddsM.empty() || !unsettledRemovalsM.empty()) settleUnknownOutcome();
}

bool MultipassFileIO::createJournal() {
  // Its directory entry is made durable before the first change relies on it.
  return journalM->create(syncM) && (!syncM || syncDirectory(directoryM));
}

bool MultipassFileIO::ensureWritable(const char* contextA) {
  if (journalReadyM || (journalReadyM = createJournal())) return true;
  notifyError(std::string(contextA) +
              " - The gallery is open for reading only: cannot create the journal " +
              journalM->path());
  return false;
}

void MultipassFileIO::close() {
  indexFileM.file->close();
  for (FidFileStruct& fileL : dataFilesM) fileL.file->close();
  openM = false;
}

bool MultipassFileIO::isOpen() const {
  return openM;
}

bool MultipassFileIO::ensureOpen(std::string& failedA) {
  if (openM) return true;
  try {
    open();
    return true;
  } catch (const kxxcp::Exception& eL) {
    failedA = eL.getMessage();
    return false;
  }
}

void MultipassFileIO::setFileLimit(long limitA) {
  fileLimitM = limitA < 0 ? 0 : std::min<long>(limitA, 0xFFFFFFFFL);
  for (FidFileStruct& fileL : dataFilesM) {
    fileL.file->setRecordLimit(static_cast<std::uint32_t>(fileLimitM));
  }
}

long MultipassFileIO::getFileLimit() const {
  if (!dataFilesM.empty() && dataFilesM[0].file->isOpen()) {
    return dataFilesM[0].file->part(0).recordLimit();
  }
  return fileLimitM;
}

void MultipassFileIO::enableCachingForDataFidFiles(bool enableA) {
  dataCachingM = enableA;
  for (FidFileStruct& fileL : dataFilesM) fileL.file->enableCaching(enableA);
}

}  // namespace qridy
