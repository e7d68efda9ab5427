#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrliris/IrisMatchEngine.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "common/Coding.h"
#include "frame/DomXmlParser.h"
#include "gallery/RecordBlobView.h"
#include "multipass/FingerprintGallerySupport.h"

namespace qrbase {

using qridy::Algorithm;
using qridy::BioMetricTriple;
using qridy::IdentityMetadata;
using qridy::IdRecordImp;
using qridy::IdRecordKey;
using qridy::MultipassFileIO;
using qridy::TemplateBlockImp;

namespace {

constexpr const char* kSection = "TEMPLATE_MATCHING_MULTIPASS";
constexpr unsigned int kMaxCount = 200000000;
constexpr unsigned int kMaxBlobSize = 64u << 20;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

std::string tripleText(const BioMetricTriple& tripleA) {
  return qridy::Types::bioTriple2Text(tripleA);
}

bool isElement(const xercesc::DOMNode* nodeA, const char* nameA) {
  return nodeA->getNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
         kxutl::DomXmlParser::getNodeName(nodeA) == nameA;
}

// Blocks handed back by the gallery files for triples that are kept on disk only.
class DiscardingSink : public qridy::GalleryBlockSink {
 public:
  void add(const TemplateBlockImp*, const IdentityMetadata*, KXuint128) override {}
};

// Owns the blocks readTemplateBlocksFromFidFileBlock makes.
struct BlobEntries {
  std::vector<TemplateBlockImp*> blocks;
  std::vector<KXuint128> sampleIds;
  std::vector<BioMetricTriple> triples;
  ~BlobEntries() { reset(); }
  void reset() {
    for (TemplateBlockImp* b : blocks) delete b;
    blocks.clear();
    sampleIds.clear();
    triples.clear();
  }
  void parse(const std::vector<unsigned char>& bufferA) {
    std::istringstream isL;
    parse(bufferA, isL);
  }
  // With a stream kept across records: a string stream is costly to construct.
  void parse(const std::vector<unsigned char>& bufferA, std::istringstream& streamA) {
    streamA.str(std::string(reinterpret_cast<const char*>(bufferA.data()), bufferA.size()));
    streamA.clear();
    MultipassFileIO::readTemplateBlocksFromFidFileBlock(streamA, blocks, sampleIds, triples);
  }
};

unsigned short onesComplementAdd(unsigned int sumA, unsigned int valueA) {
  sumA += valueA & 0xFFFF;
  sumA = (sumA & 0xFFFF) + (sumA >> 16);
  sumA = (sumA & 0xFFFF) + (sumA >> 16);
  return static_cast<unsigned short>(sumA);
}

}  // namespace

// --- construction and the storage definition ----------------------------------------------------

TemplateMatcherMultipass_TemplateContainer::TemplateMatcherMultipass_TemplateContainer(
    const std::string& storageIdA)
    : TemplateMatcherMultipass_TemplateContainer(
          storageIdA,
          kxutl::QuarlenInformation::getStdStringFromConfigFile(kSection, "TemplateStorageXml")) {}

TemplateMatcherMultipass_TemplateContainer::TemplateMatcherMultipass_TemplateContainer(
    const std::string& storageIdA, const std::string& storageXmlPathA)
    : storageIdM(storageIdA), storagePathM(storageXmlPathA) {
  readSettings();
  readStorage(storageXmlPathA);
}

void TemplateMatcherMultipass_TemplateContainer::readSettings() {
  using kxutl::QuarlenInformation;
  enableCachingForSelectedCasesM =
      QuarlenInformation::getBoolFromConfigFile(kSection, "enableCachingForSelectedCases", false);
  l2fMaxMinutiaCountForGalleryM =
      QuarlenInformation::getIntFromConfigFile(kSection, "L2fMaxMinutiaCountForGallery", -1);
  force4FingersToWatchlistM =
      QuarlenInformation::getBoolFromConfigFile(kSection, "force4FingersToWatchlist", false);
}

void TemplateMatcherMultipass_TemplateContainer::readStorage(const std::string& pathA) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::TemplateMatcherMultipass_"
      "TemplateContainer";
  const std::string failedL =
      "Failed to initilaize storage with id = '" + storageIdM + "', check " + pathA;
  auto invalid = [&](const std::string& whatA, const std::string& valueA) {
    KXXCP_THROW(kFunction, "Invalid storage definition '" << storageIdM << "': " << whatA << " '"
                                                          << valueA << "'");
  };
  // An integer attribute: absent keeps the default; otherwise 1 .. maxA.
  auto count = [&](const xercesc::DOMNode* nodeA, const char* nameA, unsigned int maxA,
                   unsigned int& valueA) {
    std::string errorL;
    const std::string textL = kxutl::DomXmlParser::getAttributeString(nodeA, nameA, errorL);
    if (!errorL.empty()) return;
    const int numberL = std::atoi(textL.c_str());
    if (numberL < 1 || static_cast<unsigned int>(numberL) > maxA) invalid(nameA, textL);
    valueA = static_cast<unsigned int>(numberL);
  };
  auto readTriple = [&](const xercesc::DOMNode* nodeA) {
    std::string errorL;
    const std::string mL = kxutl::DomXmlParser::getAttributeString(nodeA, "modality", errorL);
    const std::string iL = kxutl::DomXmlParser::getAttributeString(nodeA, "instance", errorL);
    const std::string aL = kxutl::DomXmlParser::getAttributeString(nodeA, "algorithm", errorL);
    BioMetricTriple tripleL{qridy::Types::text2Modality(mL.c_str()),
                            qridy::Types::text2Instance(iL.c_str()),
                            qridy::Types::text2Algorithm(aL.c_str())};
    // A triple the library does not know cannot be stored.
    if (tripleL.modality == qridy::ModalityUnknown || tripleL.algorithm == qridy::AlgUnknown ||
        tripleL.algorithm == qridy::AlgNone) {
      KXXCP_THROW(kFunction, failedL);
    }
    if (modalityM == qridy::ModalityUnknown) modalityM = tripleL.modality;
    return tripleL;
  };

  kxutl::DomXmlParser parserL(pathA);
  xercesc::DOMNodeList* rootL = parserL.getRootNodeList();
  for (XMLSize_t s = 0; s < rootL->getLength(); ++s) {
    const xercesc::DOMNode* storageL = rootL->item(s);
    if (!isElement(storageL, "storage")) continue;
    std::string ignoredL;
    if (kxutl::DomXmlParser::getAttributeString(storageL, "id", ignoredL) != storageIdM) continue;
    count(storageL, "reserveNumberOfTemplates", kMaxCount, reserveNumberOfTemplatesM);
    count(storageL, "reserveNumberOfReloadedTemplates", kMaxCount,
          reserveNumberOfReloadedTemplatesM);
    count(storageL, "numberOfThreads", 1024, numberOfThreadsM);
    std::string folderErrorL;
    const std::string folderL =
        kxutl::DomXmlParser::getAttributeString(storageL, "folder", folderErrorL);
    if (folderErrorL.empty()) folderM = folderL;

    xercesc::DOMNodeList* childrenL = storageL->getChildNodes();
    for (XMLSize_t c = 0; c < childrenL->getLength(); ++c) {
      const xercesc::DOMNode* childL = childrenL->item(c);
      if (isElement(childL, "memory")) {
        const BioMetricTriple tripleL = readTriple(childL);
        memoryTriplesM[tripleL] = tripleText(tripleL);
      } else if (isElement(childL, "harddisk")) {
        std::string errorL;
        const std::string idL = kxutl::DomXmlParser::getAttributeString(childL, "id", errorL);
        const bool validIdL = !idL.empty() && idL.size() <= 64 && idL[0] != '.' &&
                              std::all_of(idL.begin(), idL.end(), [](char cA) {
                                return std::isalnum(static_cast<unsigned char>(cA)) || cA == '_' ||
                                       cA == '-' || cA == '.';
                              });
        if (!validIdL || harddiskSizesM.count(idL) != 0) invalid("harddisk id", idL);
        std::vector<unsigned int>& sizesL = harddiskSizesM[idL];
        std::string sizesErrorL;
        const std::string sizesTextL =
            kxutl::DomXmlParser::getAttributeString(childL, "sizes", sizesErrorL);
        std::stringstream sizesStreamL(sizesTextL);
        std::string itemL;
        while (std::getline(sizesStreamL, itemL, ',')) {
          const int sizeL = std::atoi(itemL.c_str());
          if (sizeL < 1 || static_cast<unsigned int>(sizeL) > kMaxBlobSize ||
              sizesL.size() >= 255) {
            invalid("sizes", sizesTextL);
          }
          sizesL.push_back(static_cast<unsigned int>(sizeL));
        }
        xercesc::DOMNodeList* disksL = childL->getChildNodes();
        for (XMLSize_t d = 0; d < disksL->getLength(); ++d) {
          if (!isElement(disksL->item(d), "disk")) continue;
          const BioMetricTriple tripleL = readTriple(disksL->item(d));
          if (diskTriplesM.count(tripleL) != 0)
            invalid("disk triple stored twice", tripleText(tripleL));
          diskTriplesM[tripleL] = idL;
        }
      }
    }
  }
  if (memoryTriplesM.empty() && diskTriplesM.empty()) KXXCP_THROW(kFunction, failedL);

  if (kxutl::QuarlenInformation::debugLevelS >= 3) {
    kxntc::log << " ****** Memory ****** \n reserved for : " << reserveNumberOfTemplatesM << "\n";
    for (const auto& [tripleL, textL] : memoryTriplesM) kxntc::log << " - " << textL << "\n";
    kxntc::log << " ****** Harddisk ****** : \n";
    for (const auto& [tripleL, idL] : diskTriplesM) {
      kxntc::log << " - " << idL << " -> " << tripleText(tripleL) << "\n";
    }
    kxntc::log << " ****** storageLocation : " << folderM << " ****** ";
    kxntc::notify(kxntc::log);
  }
}

TemplateMatcherMultipass_TemplateContainer::~TemplateMatcherMultipass_TemplateContainer() {
  const bool logL = kxutl::QuarlenInformation::debugLevelS >= 3;
  auto say = [logL](const char* stepA) {
    if (!logL) return;
    kxntc::log << "TemplateMatcherMultipass::~TemplateMatcherMultipass_TemplateContainer" << stepA;
    kxntc::notify(kxntc::log);
  };
  say("");
  threadStructsM.clear();
  say(" Post destroyPreloadedStages");
  for (auto& [tripleL, stageL] : stagesM) delete stageL;
  stagesM.clear();
  say(" Post delete mem stages");
  fidFilesM.clear();
  say(" Post delete disk objects");
}

std::unique_ptr<MultipassFileIO> TemplateMatcherMultipass_TemplateContainer::makeFidFile(
    const std::string& harddiskIdA) const {
  return std::make_unique<MultipassFileIO>(folderM, reserveNumberOfTemplatesM, harddiskIdA,
                                           harddiskSizesM.at(harddiskIdA));
}

void TemplateMatcherMultipass_TemplateContainer::init(unsigned int numberOfParallelProbesA,
                                                      bool openExistingA,
                                                      qridy::UniqueMetadataContainer* metadataA) {
  if (kxutl::QuarlenInformation::debugLevelS >= 3) {
    kxntc::log << " ****** Init Stages ****** ";
    kxntc::notify(kxntc::log);
  }
  metadataM = metadataA;
  for (const auto& [tripleL, textL] : memoryTriplesM) {
    if (stagesM.count(tripleL) != 0) continue;
    auto stageL = std::make_unique<TemplateMatcherMultipass_Stage_MemManager>(
        tripleL.modality, tripleL.instance, tripleL.algorithm, reserveNumberOfTemplatesM);
    const unsigned zeroL = 0;
    stageL->init(nullptr, zeroL);
    stageL->setPositionIndexed(true);
    stagesM[tripleL] = stageL.release();
  }
  for (const auto& [idL, sizesL] : harddiskSizesM) {
    if (fidFilesM.count(idL) != 0) continue;
    std::unique_ptr<MultipassFileIO> fileL = makeFidFile(idL);
    if (!openExistingA) fileL->create(0, 0);
    fidFilesM[idL] = std::move(fileL);
  }
  threadStructsM.resize(numberOfParallelProbesA);
  for (ContainerThreadStruct& threadL : threadStructsM) {
    for (const auto& [tripleL, idL] : diskTriplesM) {
      // A triple also kept in memory is matched there and needs no reload.
      if (memoryTriplesM.count(tripleL) != 0 || threadL.reloadStages.count(tripleL) != 0) continue;
      ReloadStagesStruct& reloadL = threadL.reloadStages[tripleL];
      reloadL.stage = std::make_unique<TemplateMatcherMultipass_Stage_MemManager>(
          tripleL.modality, tripleL.instance, tripleL.algorithm, reserveNumberOfReloadedTemplatesM);
      reloadL.loaded = false;
    }
  }
}

// --- enrolment -----------------------------------------------------------------------------------

IdRecordImp* TemplateMatcherMultipass_TemplateContainer::prepareRecord(
    const IdRecordImp& recordA, std::unique_ptr<IdRecordImp>& copyA) const {
  using namespace qridy;
  IdRecordImp* recordL = const_cast<IdRecordImp*>(&recordA);
  if (force4FingersToWatchlistM) {
    static const Instance kOrder[] = {InstanceFingerRightIndex,  InstanceFingerLeftIndex,
                                      InstanceFingerRightThumb,  InstanceFingerLeftThumb,
                                      InstanceFingerRightMiddle, InstanceFingerLeftMiddle,
                                      InstanceFingerRightRing,   InstanceFingerLeftRing,
                                      InstanceFingerRightLittle, InstanceFingerLeftLittle};
    copyA = std::make_unique<IdRecordImp>(recordA);
    recordL = copyA.get();
    unsigned int keptL = 0;
    for (Instance instanceL : kOrder) {
      if (recordL->getBioRecord(ModalityFingerprint, instanceL, false) == nullptr) continue;
      if (++keptL > 4) recordL->deleteBioRecord(ModalityFingerprint, instanceL);
    }
  }
  if (l2fMaxMinutiaCountForGalleryM >= 1 && l2fMaxMinutiaCountForGalleryM != 250) {
    bool hasL2fL = false;
    for (const TemplateKey& keyL : recordL->getTemplateKeys(ModalityFingerprint, InstanceAny)) {
      if (recordL->getTemplateBlock(keyL, AlgL2f, false) != nullptr) hasL2fL = true;
    }
    if (hasL2fL) {
      if (!copyA) {
        copyA = std::make_unique<IdRecordImp>(recordA);
        recordL = copyA.get();
      }
      FingerprintGallerySupport* supportL = fingerprintGallerySupport();
      try {
        if (supportL == nullptr) throw std::runtime_error("no finger library");
        supportL->trimL2fTemplates(*recordL, l2fMaxMinutiaCountForGalleryM);
      } catch (...) {
        KXXCP_THROW("qrbase::TemplateMatcherMultipass_TemplateContainer::addIdRecord",
                    "Failed to trim L2F templates in IdRecord");
      }
    }
  }
  return recordL;
}

void TemplateMatcherMultipass_TemplateContainer::addToMemoryStages(const IdRecordImp& recordA,
                                                                   const IdentityMetadata* metaA) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::addIdRecord";
  for (const qridy::TemplateKey& keyL :
       recordA.getTemplateKeys(qridy::ModalityAny, qridy::InstanceAny)) {
    const qridy::TemplateImp* templateL = recordA.getTemplateByKey(keyL);
    for (const auto& [algorithmL, blockL] : templateL->templateBlockMap()) {
      const BioMetricTriple tripleL{keyL.modality, keyL.instance, algorithmL};
      if (memoryTriplesM.count(tripleL) == 0) continue;
      TemplateMatcherMultipass_Stage* stageL = getStage(stagesM, tripleL);
      if (stageL == nullptr) {
        KXXCP_THROW(kFunction,
                    "addIdRecord - unable to find the stage class for the biometric triple "
                        << tripleText(tripleL));
      }
      try {
        stageL->add(blockL, metaA, keyL.sampleId);
      } catch (const kxxcp::Exception& eA) {
        KXXCP_THROW(kFunction, "addIdRecord - add to memory stage failed "
                                   << "\n   Sample id " << keyL.sampleId.high << " "
                                   << keyL.sampleId.low << "\n"
                                   << eA.getMessage());
      }
    }
  }
}

std::string TemplateMatcherMultipass_TemplateContainer::recordBlob(
    const std::vector<BioMetricTriple>& triplesA,
    const std::vector<const TemplateBlockImp*>& blocksA, const std::vector<KXuint128>& sampleIdsA) {
  if (triplesA.size() != blocksA.size() || triplesA.size() != sampleIdsA.size()) {
    KXXCP_THROW("qrbase::TemplateMatcherMultipass_TemplateContainer::addTemplateBlocksToDisk",
                "addTemplateBlocksToDisk - internal size error.");
  }
  std::ostringstream osL;
  qridy::coding::putFixed32(osL, static_cast<std::uint32_t>(triplesA.size()));
  for (std::size_t i = 0; i < triplesA.size(); ++i) {
    qridy::coding::putFixed32(osL, triplesA[i].modality);
    qridy::coding::putFixed32(osL, triplesA[i].instance);
    qridy::coding::putFixed32(osL, triplesA[i].algorithm);
    qridy::coding::putFixed64(osL, sampleIdsA[i].low);
    qridy::coding::putFixed64(osL, sampleIdsA[i].high);
    blocksA[i]->writeGalleryTB(osL);
  }
  return osL.str();
}

void TemplateMatcherMultipass_TemplateContainer::addTemplateBlocksToDisk(
    const IdRecordImp& recordA, const IdentityMetadata& metaA, std::vector<std::string>& writtenA) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::addIdRecord";
  struct Lists {
    std::vector<BioMetricTriple> triples;
    std::vector<const TemplateBlockImp*> blocks;
    std::vector<KXuint128> sampleIds;
  };
  std::map<std::string, Lists> listsL;
  for (const auto& [idL, sizesL] : harddiskSizesM) listsL[idL];
  for (const qridy::TemplateKey& keyL :
       recordA.getTemplateKeys(qridy::ModalityAny, qridy::InstanceAny)) {
    const qridy::TemplateImp* templateL = recordA.getTemplateByKey(keyL);
    for (const auto& [algorithmL, blockL] : templateL->templateBlockMap()) {
      const BioMetricTriple tripleL{keyL.modality, keyL.instance, algorithmL};
      auto diskL = diskTriplesM.find(tripleL);
      if (diskL == diskTriplesM.end()) continue;
      Lists& l = listsL[diskL->second];
      l.triples.push_back(tripleL);
      l.blocks.push_back(blockL);
      l.sampleIds.push_back(keyL.sampleId);
    }
  }
  // Every harddisk gets a blob (possibly of no entries): every enrolled identity has a record in
  // every set of gallery files, which is what recovery checks.
  for (const auto& [idL, l] : listsL) {
    MultipassFileIO* fileL = fidFile(idL);
    if (fileL == nullptr) {
      KXXCP_THROW(kFunction, "addIdRecord - internal multipassFileIOPtrL was not created.");
    }
    const std::string blobL = recordBlob(l.triples, l.blocks, l.sampleIds);
    if (blobL.size() > fileL->getDataSize()) {
      if (l.triples.size() == 1) {
        KXXCP_THROW(kFunction, "Data size of Algorithm '"
                                   << qridy::Types::algorithm2Text(l.triples[0].algorithm)
                                   << "' is greater than MAX_TEMPLATE_SIZE : (max/dataSize) = ("
                                   << fileL->getDataSize() << "/" << blobL.size() << ")");
      }
      KXXCP_THROW(kFunction,
                  "Data size of combined templates is greater than MAX_TEMPLATE_SIZE : "
                  "(max/dataSize) = ("
                      << fileL->getDataSize() << "/" << blobL.size() << ")");
    }
    writtenA.push_back(idL);
    bool okL = fileL->add(metaA, blobL.data(), static_cast<unsigned int>(blobL.size()));
    // Acknowledged means on disk: the batch is written now, not when the cache fills.
    if (okL && fileL->cachedBlobs() != 0) okL = fileL->writeCacheToDisk();
    if (!okL) KXXCP_THROW(kFunction, "addIdRecord - unabled to add template blocks to disk");
  }
}

void TemplateMatcherMultipass_TemplateContainer::reopenFidFile(const std::string& harddiskIdA) {
  std::unique_ptr<MultipassFileIO> fileL = makeFidFile(harddiskIdA);
  fidFilesM[harddiskIdA].reset();
  fileL->open();
  if (metadataM != nullptr) {
    fileL->readIdRecKeyToBlobOffsetMap(harddiskIdA, *metadataM);
  } else {
    fileL->readIdRecKeyToBlobOffsetMap(harddiskIdA);
  }
  fidFilesM[harddiskIdA] = std::move(fileL);
}

void TemplateMatcherMultipass_TemplateContainer::rollBack(
    const IdRecordKey& keyA, bool keyAddedA, const std::vector<std::string>& writtenA) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::addIdRecord";
  for (auto& [tripleL, stageL] : stagesM) {
    const std::vector<GalleryEntry*> entriesL = stageL->getGalleryEntriesByIdRecordKey({keyA});
    if (!entriesL.empty()) stageL->destroyByIndices(entriesL);
  }
  std::string problemsL;
  if (keyAddedA && metadataM->removeIdRecordKeyFromMemory(keyA) == nullptr) {
    problemsL += "addIdRecord - unabled to rollback addIdRecordKey\n";
  }
  for (const std::string& idL : writtenA) {
    MultipassFileIO* fileL = fidFile(idL);
    bool okL = true;
    try {
      // A blob the files refused stays in the write cache: a fresh object forgets it.
      if (fileL->cachedBlobs() != 0) reopenFidFile(idL);
      okL = fidFile(idL)->clear(keyA);
    } catch (...) {
      okL = false;
    }
    if (!okL) {
      problemsL += "MultipassFileIO::clear failed for a record with " +
                   std::to_string(keyA.personId) + " / " + std::to_string(keyA.transactionId) +
                   "\naddIdRecord - unabled to rollback addIdRecord\n";
    }
  }
  if (!problemsL.empty()) {
    kxntc::error << problemsL;
    kxntc::notify(kxntc::error);
    KXXCP_THROW(kFunction, problemsL);
  }
}

void TemplateMatcherMultipass_TemplateContainer::addIdRecord(const IdRecordImp* recordA,
                                                             const qridy::QueryLanguage* queryA,
                                                             const TemplateMatcherMultipass*,
                                                             ThreadStruct&, bool) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::addIdRecord";
  static const char* const kIntro = "TemplateMatcherMultipass::addIdRecord: ";
  IdRecordKey keyL;
  bool keyAddedL = false;
  std::vector<std::string> writtenL;
  try {
    if (recordA == nullptr || metadataM == nullptr) {
      KXXCP_THROW(kFunction, "Cannot add IdRecord. The record or the metadata container is null.");
    }
    keyL = recordA->idRecordKey();
    for (const BioMetricTriple& tripleL : requiredTriplesM) {
      if (!recordA->hasTemplateBlock(tripleL)) {
        KXXCP_THROW(kFunction, "Cannot add IdRecord. A required algorithm is missing :  "
                                   << tripleText(tripleL));
      }
    }
    metadataM->createFidFile();
    IdentityMetadata* metaL = metadataM->addIdRecordKey(
        keyL, queryA, reinterpret_cast<const unsigned char*>(recordA->sIdDataPtr()),
        recordA->sIdSize(), false);
    if (metaL == nullptr) KXXCP_THROW(kFunction, "Failed to add IdRecordKey (memory)");
    keyAddedL = true;
    std::unique_ptr<IdRecordImp> copyL;
    const IdRecordImp* recordL = prepareRecord(*recordA, copyL);
    addToMemoryStages(*recordL, metaL);
    addTemplateBlocksToDisk(*recordL, *metaL, writtenL);
    if (metadataM->commitIdRecordKey(metaL) == IdentityMetadata::kNotWritten) {
      KXXCP_THROW(kFunction, "addIdRecord - unabled to commit IdRecordKey");
    }
  } catch (...) {
    std::string rollBackL;
    if (keyAddedL) {
      try {
        rollBack(keyL, keyAddedL, writtenL);
      } catch (const kxxcp::Exception& eA) {
        rollBackL = "\n" + eA.getMessage();
      }
    }
    try {
      throw;
    } catch (const kxxcp::Exception& eA) {
      throw kxxcp::Exception(kIntro + std::string("\nkxxcp caught: ") + eA.getMessage() + rollBackL,
                             __FILE__, __LINE__, kFunction, nullptr, eA.errorCode());
    } catch (const std::exception& eA) {
      throw kxxcp::Exception(kIntro + std::string("\nstd::exc caught: ") + eA.what() + rollBackL,
                             __FILE__, __LINE__, kFunction);
    } catch (int eA) {
      throw kxxcp::Exception(
          kIntro + std::string("\nint exc caught: ") + std::to_string(eA) + rollBackL, __FILE__,
          __LINE__, kFunction);
    } catch (...) {
      throw kxxcp::Exception(kIntro + std::string("\nunknown exc caught.") + rollBackL, __FILE__,
                             __LINE__, kFunction);
    }
  }
}

// --- removal -------------------------------------------------------------------------------------

bool TemplateMatcherMultipass_TemplateContainer::destroyIdRecord(const IdRecordKey& keyA) {
  bool okL = true;
  auto report = [&keyA](const char* whatA) {
    kxntc::error << whatA << "\n   Person id " << keyA.personId << "\n   Transaction id "
                 << keyA.transactionId;
    kxntc::notify(kxntc::error);
  };
  for (auto& [tripleL, stageL] : stagesM) {
    if (stageL->getGalleryEntriesByIdRecordKey({keyA}).empty()) continue;
    if (!stageL->destroyIdRecord(keyA)) {
      report("destroyIdRecord - failed to destroy IdRecord from a memory stage");
      okL = false;
    }
  }
  for (auto& [idL, fileL] : fidFilesM) {
    if (!fileL->clear(keyA)) {
      report("destroyIdRecord - failed to clear IdRecord from a FID file");
      okL = false;
    }
  }
  return okL;
}

bool TemplateMatcherMultipass_TemplateContainer::destroyIdRecords(unsigned long long personIdA) {
  std::set<IdRecordKey> keysL;
  for (auto& [tripleL, stageL] : stagesM) {
    for (const GalleryEntry* entryL : stageL->getGalleryEntriesByPid({personIdA})) {
      keysL.insert(entryL->idRecordKey());
    }
  }
  for (auto& [idL, fileL] : fidFilesM) {
    for (const auto& entryL : fileL->searchPid(personIdA)) keysL.insert(entryL.key);
  }
  bool okL = true;
  for (const IdRecordKey& keyL : keysL) okL = destroyIdRecord(keyL) && okL;
  return okL;
}

// --- identification side -------------------------------------------------------------------------

TemplateMatcherMultipass_Stage* TemplateMatcherMultipass_TemplateContainer::getStage(
    const std::map<BioMetricTriple, TemplateMatcherMultipass_Stage*>& stagesA,
    const BioMetricTriple& tripleA) {
  auto itL = stagesA.find(tripleA);
  return itL == stagesA.end() ? nullptr : itL->second;
}

TemplateMatcherMultipass_Stage* TemplateMatcherMultipass_TemplateContainer::getStage(
    const std::map<BioMetricTriple, ReloadStagesStruct>& stagesA, const BioMetricTriple& tripleA) {
  auto itL = stagesA.find(tripleA);
  return itL == stagesA.end() ? nullptr : itL->second.stage.get();
}

TemplateMatcherMultipass_Stage* TemplateMatcherMultipass_TemplateContainer::getTemplateMatcherStage(
    const BioMetricTriple& tripleA, unsigned int threadIndexA,
    std::map<Algorithm, std::vector<qridy::StageMatchEngine_Base*>>& enginesA, bool noReloadA) {
  ContainerThreadStruct& threadL = threadStructsM.at(threadIndexA);
  BioMetricTriple tripleL = tripleA;
  if (tripleL.algorithm == qridy::AlgL2f360 || tripleL.algorithm == qridy::AlgL2fi) {
    tripleL.algorithm = qridy::AlgL2f;
  }
  if (memoryTriplesM.count(tripleL) != 0) {
    if (TemplateMatcherMultipass_Stage* stageL = getStage(stagesM, tripleL)) return stageL;
  }
  auto reloadL = threadL.reloadStages.find(tripleL);
  if (reloadL != threadL.reloadStages.end()) {
    if (!reloadL->second.loaded && !noReloadA) reloadAndAddToGallery(tripleL, threadL, enginesA);
    return reloadL->second.stage.get();
  }
  KXXCP_THROW("qrbase::TemplateMatcherMultipass_TemplateContainer::getGalleryTemplates",
              "No storage specified for " << tripleText(tripleA));
}

GalleryEntryData TemplateMatcherMultipass_TemplateContainer::getGalleryTemplates(
    const BioMetricTriple& tripleA, unsigned int threadIndexA,
    std::map<Algorithm, std::vector<qridy::StageMatchEngine_Base*>>& enginesA, bool noReloadA) {
  return getTemplateMatcherStage(tripleA, threadIndexA, enginesA, noReloadA)->getGalleryEntries();
}

int TemplateMatcherMultipass_TemplateContainer::reloadAndAddToGallery(
    const BioMetricTriple& tripleA, ContainerThreadStruct& threadA,
    std::map<Algorithm, std::vector<qridy::StageMatchEngine_Base*>>&) {
  const Clock::time_point startL = Clock::now();
  auto diskL = diskTriplesM.find(tripleA);
  MultipassFileIO* fileL = diskL == diskTriplesM.end() ? nullptr : fidFile(diskL->second);
  if (fileL == nullptr) {
    kxntc::error << "Templates are not on disk. (multipassFileIOPtrMapM empty)"
                 << tripleText(tripleA);
    kxntc::notify(kxntc::error);
    return 0;
  }
  const unsigned int probeL =
      static_cast<unsigned int>(&threadA - threadStructsM.data()) < threadStructsM.size()
          ? static_cast<unsigned int>(&threadA - threadStructsM.data())
          : 0;
  const bool selectedOnlyL = metadataM != nullptr && metadataM->useFilterScores(probeL);
  // Scattered reads of selected records gain nothing from read-ahead. The switch belongs to the
  // files, shared by every slot: reloads of every record (file order) leave it alone.
  const bool switchOffL = selectedOnlyL && !enableCachingForSelectedCasesM;
  if (switchOffL) fileL->enableCachingForDataFidFiles(false);
  int addedL = 0;
  // The last reload stage looked up: a blob's entries mostly repeat the triples of the one
  // before.
  BioMetricTriple lastTripleL{};
  ReloadStagesStruct* lastStageL = nullptr;
  auto stageOf = [&](const BioMetricTriple& tripleA) -> ReloadStagesStruct* {
    if (lastStageL == nullptr || !(tripleA == lastTripleL)) {
      auto itL = threadA.reloadStages.find(tripleA);
      if (itL == threadA.reloadStages.end()) return nullptr;
      lastTripleL = tripleA;
      lastStageL = &itL->second;
    }
    return lastStageL;
  };
  // The slots are written once now and read by the identification later: the copies bypass
  // the caches (ended below, on every path, before the stages go to the readers).
  for (auto& [tripleL, reloadL] : threadA.reloadStages) reloadL.stage->setStreamingAdds(true);
  std::vector<qridy::RecordBlobEntry> viewL;
  std::vector<unsigned char> paddedL;
  std::istringstream streamL;
  BlobEntries blobL;
  try {
    // The records in file order, every data file read front to back in large runs; each blob's
    // gallery parts go from the read buffer straight into the slots.
    const bool completeL = fileL->readBlobsInFileOrder(
        [&](const MultipassFileIO::IdRecKeyToBlobOffset& entryA) {
          // Entries without metadata are not enrolled (see recoverGallery).
          return entryA.metadata != nullptr &&
                 (!selectedOnlyL || entryA.metadata->getRealSelected(probeL));
        },
        [&](const MultipassFileIO::IdRecKeyToBlobOffset& entryA, const unsigned char* dataA,
            unsigned int sizeA) {
          if (qridy::viewRecordBlob(dataA, sizeA, viewL)) {
            for (const qridy::RecordBlobEntry& e : viewL) {
              ReloadStagesStruct* reloadL = stageOf(e.triple);
              if (reloadL == nullptr) continue;
              reloadL->stage->addGalleryData(e.block.algorithm, e.block.gallery,
                                             e.block.gallerySize, e.block.symmetric,
                                             entryA.metadata, e.sampleId);
              reloadL->loaded = true;
              ++addedL;
            }
            return;
          }
          // Anything the in-place view refuses is read as a stored blob always was (zero-padded
          // to the largest data size): it throws the message of the fault, or reads what the view
          // leaves to it.
          paddedL.assign(dataA, dataA + sizeA);
          paddedL.resize(std::max<std::size_t>(sizeA, fileL->getDataSize()), 0);
          blobL.reset();
          blobL.parse(paddedL, streamL);
          for (std::size_t i = 0; i < blobL.blocks.size(); ++i) {
            ReloadStagesStruct* reloadL = stageOf(blobL.triples[i]);
            if (reloadL == nullptr) continue;
            reloadL->stage->add(blobL.blocks[i], entryA.metadata, blobL.sampleIds[i]);
            reloadL->loaded = true;
            ++addedL;
          }
        });
    if (!completeL) {
      KXXCP_THROW("qrbase::TemplateMatcherMultipass_TemplateContainer::reloadAndAddToGallery",
                  "Read from fid file failed. Returns false.\nLine:" << __LINE__);
    }
  } catch (const kxxcp::Exception& eA) {
    kxntc::error << "kxxcp at reload templates. Number of templates added: " << addedL << "\n"
                 << eA.getMessage();
    kxntc::notify(kxntc::error);
  } catch (...) {
    kxntc::error << "unknown exc at reload templates";
    kxntc::notify(kxntc::error);
  }
  for (auto& [tripleL, reloadL] : threadA.reloadStages) reloadL.stage->setStreamingAdds(false);
  if (switchOffL) fileL->enableCachingForDataFidFiles(true);
  // Stages of this harddisk count as loaded even when no record holds their triple.
  for (auto& [tripleL, reloadL] : threadA.reloadStages) {
    auto otherL = diskTriplesM.find(tripleL);
    if (otherL != diskTriplesM.end() && otherL->second == diskL->second) reloadL.loaded = true;
  }
  if (kxutl::QuarlenInformation::debugLevelS >= 5) {
    kxntc::log << "reloadAndAddToGallery " << tripleText(tripleA) << " : " << addedL
               << " templates, time : " << secondsSince(startL) << " s ";
    kxntc::notify(kxntc::log);
  }
  return addedL;
}

void TemplateMatcherMultipass_TemplateContainer::clearPreloadedStages(unsigned int threadIndexA) {
  // The entries go; the stage's memory stays for the slot's next reload.
  for (auto& [tripleL, reloadL] : threadStructsM.at(threadIndexA).reloadStages) {
    reloadL.stage->empty();
    reloadL.loaded = false;
  }
}

// --- queries -------------------------------------------------------------------------------------

MultipassFileIO* TemplateMatcherMultipass_TemplateContainer::fidFile(
    const std::string& harddiskIdA) const {
  auto itL = fidFilesM.find(harddiskIdA);
  return itL == fidFilesM.end() ? nullptr : itL->second.get();
}

IdRecordImp* TemplateMatcherMultipass_TemplateContainer::getIdRecord(const IdRecordKey& keyA,
                                                                     bool) {
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(keyA);
  bool foundL = false;
  std::set<std::pair<BioMetricTriple, KXuint128>> filledL;
  for (auto& [idL, fileL] : fidFilesM) {
    std::vector<unsigned char> bufferL(fileL->getDataSize());
    if (!fileL->read(keyA, bufferL.data(), true)) continue;
    foundL = true;
    BlobEntries blobL;
    blobL.parse(bufferL);
    for (std::size_t i = 0; i < blobL.blocks.size(); ++i) {
      const BioMetricTriple& tripleL = blobL.triples[i];
      recordL->addTemplateBlock(blobL.blocks[i], tripleL.modality, tripleL.instance,
                                blobL.sampleIds[i]);
      blobL.blocks[i] = nullptr;  // owned by the record now
      filledL.insert({tripleL, blobL.sampleIds[i]});
    }
  }
  for (auto& [tripleL, stageL] : stagesM) {
    for (const GalleryEntry* entryL : stageL->getGalleryEntriesByIdRecordKey({keyA})) {
      foundL = true;
      if (filledL.count({tripleL, entryL->sampleId}) != 0) continue;
      std::vector<unsigned char> dataL(entryL->data, entryL->data + stageL->dataSize());
      if (const auto* memL = dynamic_cast<TemplateMatcherMultipass_Stage_MemManager*>(stageL)) {
        // Iris codes are kept untransformed in memory; records hold them transformed.
        if (memL->irisEngine() != nullptr) {
          memL->irisEngine()->transformIrisCode(dataL.data(), stageL->dataSize());
        }
      }
      std::unique_ptr<TemplateBlockImp> blockL(
          TemplateBlockImp::createTemplateBlock(tripleL.algorithm));
      blockL->setData(nullptr, 0, dataL.data(), static_cast<unsigned int>(dataL.size()),
                      stageL->isSymmetric());
      recordL->addTemplateBlock(blockL.get(), tripleL.modality, tripleL.instance, entryL->sampleId);
      blockL.release();
    }
  }
  return foundL ? recordL.release() : nullptr;
}

std::size_t TemplateMatcherMultipass_TemplateContainer::numberOfTemplates(
    const BioMetricTriple& tripleA) const {
  if (TemplateMatcherMultipass_Stage* stageL = getStage(stagesM, tripleA)) {
    return stageL->numberOfTemplates();
  }
  auto diskL = diskTriplesM.find(tripleA);
  if (diskL == diskTriplesM.end()) return 0;
  const MultipassFileIO* fileL = fidFile(diskL->second);
  return fileL == nullptr ? 0 : fileL->getIdRecKeyToBlobOffsetMap().size();
}

unsigned int TemplateMatcherMultipass_TemplateContainer::getMasterChecksum() {
  unsigned int sumL = 0;
  for (auto& [idL, fileL] : fidFilesM)
    sumL = onesComplementAdd(sumL, fileL->getMultiFileChecksum());
  if (metadataM != nullptr) sumL = onesComplementAdd(sumL, metadataM->getMetaDataFileChecksum());
  return sumL;
}

bool TemplateMatcherMultipass_TemplateContainer::templateCachePresent() const {
  std::error_code ignoredL;
  return std::filesystem::exists(folderM + "/metaData.dat", ignoredL);
}

bool TemplateMatcherMultipass_TemplateContainer::writeToHarddisk() {
  bool okL = true;
  for (auto& [idL, fileL] : fidFilesM) {
    if (fileL->cachedBlobs() != 0) okL = fileL->writeCacheToDisk() && okL;
  }
  return okL;
}

// --- recovery ------------------------------------------------------------------------------------

void TemplateMatcherMultipass_TemplateContainer::settleInterruptedChanges() {
  // An add writes the blobs, then commits the identity; a removal (by the matcher) removes the
  // identity first, then the blobs. Blobs without an identity are what either left when it was
  // interrupted: they go. An identity that misses a blob on some harddisk cannot be served: it
  // goes too.
  std::set<IdRecordKey> incompleteL;
  for (auto& [idL, fileL] : fidFilesM) {
    std::vector<IdRecordKey> orphansL;
    for (const auto& entryL : fileL->getIdRecKeyToBlobOffsetMap()) {
      if (entryL.metadata == nullptr) orphansL.push_back(entryL.key);
    }
    for (const IdRecordKey& keyL : orphansL) {
      if (!fileL->clear(keyL)) {
        KXXCP_THROW("qrbase::TemplateMatcherMultipass_TemplateContainer::recoverGallery",
                    "Failed to recover gallery: cannot remove the unregistered record ("
                        << keyL.personId << ", " << keyL.transactionId << ") from " << idL);
      }
    }
  }
  if (fidFilesM.empty()) return;
  for (IdentityMetadata* metaL : metadataM->getInternalMetadataVector()) {
    for (auto& [idL, fileL] : fidFilesM) {
      const auto& indexL = fileL->getIdRecKeyToBlobOffsetMap();
      const IdRecordKey& keyL = metaL->getIdRecordKey();
      auto itL =
          std::lower_bound(indexL.begin(), indexL.end(), keyL,
                           [](const auto& eA, const IdRecordKey& kA) { return eA.key < kA; });
      if (itL == indexL.end() || itL->key != keyL) incompleteL.insert(keyL);
    }
  }
  for (const IdRecordKey& keyL : incompleteL) {
    kxntc::error << "recoverGallery - IdRecord without its gallery data removed\n   Person id "
                 << keyL.personId << "\n   Transaction id " << keyL.transactionId;
    kxntc::notify(kxntc::error);
    metadataM->removeIdRecordKey(keyL);
    for (auto& [idL, fileL] : fidFilesM) fileL->clear(keyL);
  }
}

int TemplateMatcherMultipass_TemplateContainer::recoverGallery(ThreadStruct&) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass_TemplateContainer::recoverGallery";
  if (metadataM == nullptr)
    KXXCP_THROW(kFunction, "Failed to recover gallery: no metadata container");
  const bool logL = kxutl::QuarlenInformation::debugLevelS >= 3;
  if (metadataM->size() == 0) metadataM->recoverData();
  for (auto& [idL, fileL] : fidFilesM) {
    const Clock::time_point startL = Clock::now();
    fileL->open();
    fileL->readIdRecKeyToBlobOffsetMap(idL, *metadataM);
    if (logL) {
      kxntc::log << "read ids from (" << idL << ") time: " << secondsSince(startL);
      kxntc::notify(kxntc::log);
    }
  }
  settleInterruptedChanges();
  int pushedL = 0;
  DiscardingSink discardL;
  for (auto& [idL, fileL] : fidFilesM) {
    std::map<BioMetricTriple, qridy::GalleryBlockSink*> sinksL;
    std::string triplesL;
    for (const auto& [tripleL, diskIdL] : diskTriplesM) {
      if (diskIdL != idL) continue;
      TemplateMatcherMultipass_Stage* stageL = getStage(stagesM, tripleL);
      sinksL[tripleL] =
          stageL != nullptr ? static_cast<qridy::GalleryBlockSink*>(stageL) : &discardL;
      if (stageL != nullptr) triplesL += tripleText(tripleL) + " ";
    }
    const Clock::time_point startL = Clock::now();
    for (auto& [tripleL, stageL] : stagesM) {
      if (sinksL.count(tripleL) != 0) stageL->clear();
    }
    const int countL = fileL->recoverDataAndAdd(sinksL);
    for (auto& [tripleL, stageL] : stagesM) {
      if (sinksL.count(tripleL) == 0) continue;
      pushedL += static_cast<int>(stageL->numberOfTemplates());
      stageL->indexPositions();
    }
    (void)countL;
    if (logL) {
      kxntc::log << " - Push templates to memory ( file:" << idL << ", biometric: " << triplesL
                 << " ) time : " << secondsSince(startL) << " s ";
      kxntc::notify(kxntc::log);
    }
  }
  return pushedL;
}

// --- status and dump -----------------------------------------------------------------------------

void TemplateMatcherMultipass_TemplateContainer::dump(std::ostream& osA) const {
  osA << "TemplateContainer storage '" << storageIdM << "' folder '" << folderM << "'\n";
  for (const auto& [tripleL, stageL] : stagesM) {
    osA << " memory " << tripleText(tripleL) << " templates " << stageL->numberOfTemplates()
        << " slot " << stageL->dataSize() << "\n";
  }
  for (const auto& [tripleL, idL] : diskTriplesM) {
    const MultipassFileIO* fileL = fidFile(idL);
    osA << " disk " << tripleText(tripleL) << " -> " << idL << " records "
        << (fileL == nullptr ? 0 : fileL->getIdRecKeyToBlobOffsetMap().size()) << "\n";
  }
}

bool TemplateMatcherMultipass_TemplateContainer::galleryStatus(int intensityA,
                                                               std::string& reportA) {
  reportA.clear();
  if (intensityA < 1 || intensityA > 5) {
    reportA =
        "<galleryStatus>\n<error reason=\"TemplateMatcherMultipass::galleryStatus intensity > 0 "
        "&amp;&amp; &lt; 6\" intensity=\"" +
        std::to_string(intensityA) + "\" validValues=\"1,2,3,4,5\"/>\n</galleryStatus>\n";
    return false;
  }
  bool validL = true;
  std::ostringstream osL;
  osL << "<galleryStatus storage=\"" << storageIdM << "\" intensity=\"" << intensityA << "\">\n";
  const std::size_t registeredL = metadataM != nullptr ? metadataM->size() : 0;

  // Level 1: counts.
  osL << "<level1>\n<registry records=\"" << registeredL << "\"/>\n";
  for (const auto& [tripleL, stageL] : stagesM) {
    const auto* memL = dynamic_cast<const TemplateMatcherMultipass_Stage_MemManager*>(stageL);
    osL << "<memoryStage triple=\"" << tripleText(tripleL) << "\" templates=\""
        << stageL->numberOfTemplates() << "\" slotSize=\"" << stageL->dataSize() << "\" arrays=\""
        << (memL != nullptr ? memL->memoryArrays().size() : 0) << "\"/>\n";
  }
  for (const auto& [idL, fileL] : fidFilesM) {
    osL << "<harddisk id=\"" << idL << "\" records=\"" << fileL->getIdRecKeyToBlobOffsetMap().size()
        << "\" cachedRecords=\"" << fileL->cachedBlobs() << "\"/>\n";
  }
  osL << "</level1>\n";

  // Level 2: the files' checksums.
  if (intensityA >= 2) {
    std::string consistentL, inconsistentL;
    int consistentCountL = 0, inconsistentCountL = 0;
    for (auto& [idL, fileL] : fidFilesM) {
      std::string partL;
      if (fileL->checkStatusFast(partL, nullptr)) {
        consistentL += partL;
        ++consistentCountL;
      } else {
        inconsistentL += partL;
        ++inconsistentCountL;
        validL = false;
      }
    }
    osL << "<level2>\n<consistentFidFiles count=\"" << consistentCountL << "\">\n"
        << consistentL << "</consistentFidFiles>\n<inconsistentFidFiles count=\""
        << inconsistentCountL << "\">\n"
        << inconsistentL << "</inconsistentFidFiles>\n</level2>\n";
  }

  // Level 3: every identity in the registry, every memory stage and every harddisk.
  if (intensityA >= 3) {
    std::map<IdRecordKey, unsigned int> placesL;
    std::set<IdRecordKey> registeredKeysL;
    if (metadataM != nullptr) {
      for (const IdentityMetadata* mL : metadataM->getInternalMetadataVector()) {
        registeredKeysL.insert(mL->getIdRecordKey());
        ++placesL[mL->getIdRecordKey()];
      }
    }
    for (const auto& [tripleL, stageL] : stagesM) {
      std::set<IdRecordKey> keysL;
      for (const GalleryEntry& e : stageL->galleryVec()) keysL.insert(e.idRecordKey());
      for (const IdRecordKey& k : keysL) ++placesL[k];
    }
    for (const auto& [idL, fileL] : fidFilesM) {
      for (const auto& e : fileL->getIdRecKeyToBlobOffsetMap()) ++placesL[e.key];
    }
    const unsigned int allL = 1 + static_cast<unsigned int>(stagesM.size() + fidFilesM.size());
    std::map<unsigned int, std::size_t> binsL;
    std::vector<std::pair<IdRecordKey, unsigned int>> incompleteL;
    for (const auto& [keyL, countL] : placesL) {
      ++binsL[countL];
      if (countL != allL || registeredKeysL.count(keyL) == 0) incompleteL.push_back({keyL, countL});
    }
    osL << "<level3>\n<existenceBins places=\"" << allL << "\">\n";
    for (const auto& [countL, recordsL] : binsL) {
      osL << "<bin found=\"" << countL << "\" records=\"" << recordsL << "\"/>\n";
    }
    osL << "</existenceBins>\n<incompleteRecords count=\"" << incompleteL.size() << "\">\n";
    for (std::size_t i = 0; i < incompleteL.size() && i < 100; ++i) {
      osL << "<record pid=\"" << incompleteL[i].first.personId << "\" trid=\""
          << incompleteL[i].first.transactionId << "\" found=\"" << incompleteL[i].second
          << "\" registered=\"" << registeredKeysL.count(incompleteL[i].first) << "\"/>\n";
    }
    osL << "</incompleteRecords>\n</level3>\n";
    if (!incompleteL.empty()) validL = false;
  }

  // Level 4: every stored blob against its checksum, its index entry and the configured
  // modalities and instances.
  if (intensityA >= 4) {
    qridy::validationNonBiometricInfo infoL;
    std::set<qridy::Modality> modalitiesL;
    std::set<qridy::Instance> instancesL;
    for (const auto& [tripleL, idL] : diskTriplesM) {
      modalitiesL.insert(tripleL.modality);
      instancesL.insert(tripleL.instance);
    }
    infoL.modalities.assign(modalitiesL.begin(), modalitiesL.end());
    infoL.instances.assign(instancesL.begin(), instancesL.end());
    osL << "<level4>\n";
    for (auto& [idL, fileL] : fidFilesM) {
      std::string partL;
      const bool okL = fileL->checkStatusIntensive(partL, &infoL);
      osL << "<intensiveCheck harddisk=\"" << idL << "\" status=\"" << (okL ? "valid" : "invalid")
          << "\">\n"
          << partL << "</intensiveCheck>\n";
      if (!okL) validL = false;
    }
    osL << "</level4>\n";
  }

  // Level 5: every record read back, its blobs checked and parsed, and its checksum.
  if (intensityA >= 5 && metadataM != nullptr) {
    std::size_t corruptL = 0;
    std::ostringstream corruptListL;
    unsigned int sumL = 0;
    for (const IdentityMetadata* mL : metadataM->getInternalMetadataVector()) {
      const IdRecordKey keyL = mL->getIdRecordKey();
      for (auto& [idL, fileL] : fidFilesM) {
        std::vector<unsigned char> bufferL(fileL->getDataSize());
        bool okL = fileL->read(keyL, bufferL.data(), true);
        if (okL) {
          try {
            BlobEntries blobL;
            blobL.parse(bufferL);
          } catch (...) {
            okL = false;
          }
        }
        if (!okL) {
          if (++corruptL <= 100) {
            corruptListL << "<record pid=\"" << keyL.personId << "\" trid=\"" << keyL.transactionId
                         << "\" harddisk=\"" << idL << "\"/>\n";
          }
        }
      }
      std::unique_ptr<IdRecordImp> recordL;
      try {
        recordL.reset(getIdRecord(keyL, false));
      } catch (...) {
      }
      if (recordL) sumL += recordL->checksum();
    }
    osL << "<level5>\n<corruptDataFidRecords count=\"" << corruptL << "\">\n"
        << corruptListL.str() << "</corruptDataFidRecords>\n<recordChecksums records=\""
        << registeredL << "\" sum=\"" << sumL << "\"/>\n</level5>\n";
    if (corruptL != 0) validL = false;
  }
  osL << "<status valid=\"" << (validL ? "true" : "false") << "\"/>\n</galleryStatus>\n";
  reportA = osL.str();
  return validL;
}

}  // namespace qrbase
