#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrliris/IrisMatchEngine.h>
#include <quarlen/TemplateBlockImp.h>

#include "common/AlignedBuffer.h"
#include "common/SlotCopy.h"
#include "multipass/FingerprintGallerySupport.h"

namespace qrbase {

using qridy::Algorithm;
using qridy::TemplateBlockImp;

namespace {

constexpr const char* kAddFunction = "qrbase::TemplateMatcherMultipass_Stage_MemManager::add";
constexpr const char* kMemarrayFunction =
    "qrbase::TemplateMatcherMultipass_Stage_MemManager::addToMemarray";
constexpr std::uint32_t kDefaultChunkSize = 16u << 20;
constexpr std::uint32_t kStaSlotSize = 4096;
constexpr std::size_t kPageSize = 4096;
// Larger gallery parts cannot be slots: their size would not round up to 16 in 32 bits.
constexpr std::uint32_t kMaxSlotSize = 0x7FFFFFF0u;

// A failure of our own checks leaves add as it is; anything thrown by what add calls is wrapped.
struct OwnFailure {
  kxxcp::Exception exception;
};

[[noreturn]] void fail(const std::string& messageA) {
  throw OwnFailure{kxxcp::Exception(messageA, __FILE__, __LINE__, kAddFunction)};
}

}  // namespace

TemplateMatcherMultipass_Stage_MemManager::TemplateMatcherMultipass_Stage_MemManager(
    qridy::Modality modalityA, qridy::Instance instanceA, Algorithm algorithmA,
    unsigned int maxNumberOfTemplatesA)
    : TemplateMatcherMultipass_Stage(modalityA, instanceA, algorithmA, maxNumberOfTemplatesA) {
  const int chunkL = kxutl::QuarlenInformation::getIntFromConfigFile(
      "TEMPLATE_MATCHING_MULTIPASS", "maxMemoryChunkSize", static_cast<int>(kDefaultChunkSize));
  maxMemoryChunkSizeM = chunkL >= 1 ? static_cast<std::uint32_t>(chunkL) : kDefaultChunkSize;
  if (algorithmA == qridy::AlgSta) {
    dataSizeM = kStaSlotSize;
  } else if (algorithmA == qridy::AlgL2f || algorithmA == qridy::AlgL2m) {
    if (const FingerprintGallerySupport* supportL = fingerprintGallerySupport()) {
      dataSizeM = static_cast<std::uint32_t>(qridy::AlignedBuffer::paddedSize(
          std::min(supportL->galleryTemplateSize(algorithmA), kMaxSlotSize)));
    }
  } else if (algorithmA == qridy::AlgMvxIris2PiSdk) {
    irisEngineM = std::make_unique<kxegm::IrisMatchEngine>();
    irisEngineM->init();
  }
}

TemplateMatcherMultipass_Stage_MemManager::~TemplateMatcherMultipass_Stage_MemManager() {
  releaseArrays();
}

void TemplateMatcherMultipass_Stage_MemManager::init(const char*, const unsigned&) {}

void TemplateMatcherMultipass_Stage_MemManager::add(const TemplateBlockImp* blockA,
                                                    const qridy::IdentityMetadata* metadataA,
                                                    KXuint128 sampleIdA) {
  if (blockA == nullptr) {
    kxntc::warning << "add input pointer is null > templateBlockPtrA"
                   << " ( " << qridy::Types::algorithm2Text(algorithmM) << " )";
    kxntc::notify(kxntc::warning);
    KXXCP_THROW(kAddFunction, "add - invalid input parameter(s)");
  }
  addGalleryData(blockA->algorithm(), blockA->galleryDataPtr(), blockA->gallerySize(),
                 blockA->isSymmetric(), metadataA, sampleIdA);
}

void TemplateMatcherMultipass_Stage_MemManager::addGalleryData(
    Algorithm algorithmA, const unsigned char* dataA, unsigned int sizeA, bool symmetricA,
    const qridy::IdentityMetadata* metadataA, KXuint128 sampleIdA) {
  // The algorithm's text is made only for a message: add is on the enrolment path.
  auto algorithmText = [this] { return qridy::Types::algorithm2Text(algorithmM); };
  try {
    if (metadataA == nullptr) fail("add - invalid input parameter(s)");
    if (algorithmA != algorithmM) fail("TemplateBlockImp has not the configured algorithm");
    const unsigned char* dataL = dataA;
    const unsigned int sizeL = sizeA;
    if (algorithmM == qridy::AlgMvxIris2PiSdk && dataL != nullptr) {
      if (irisEngineM == nullptr) fail("Iris stage memory manager without the engine...");
      if (irisBufferM.size() != sizeL) irisBufferM.resize(sizeL);
      std::memcpy(irisBufferM.data(), dataL, sizeL);
      irisEngineM->untransformIrisCode(irisBufferM.data(), sizeL);
      dataL = irisBufferM.data();
    }
    if (sizeL == 0 || dataL == nullptr)
      fail("template has no gallery data ( " + algorithmText() + " )");
    if (sizeL > kMaxSlotSize) {
      fail("The data size of your template is too large. (exp, current) = (" +
           std::to_string(dataSizeM) + ", " + std::to_string(sizeL) + ")");
    }
    const std::uint32_t slotL =
        dataSizeM != 0 ? dataSizeM
                       : static_cast<std::uint32_t>(qridy::AlignedBuffer::paddedSize(sizeL));
    if (symmetricKnownM && symmetricA != symmetricM) {
      std::ostringstream messageL;
      messageL << "Symmetric flag inconsistent for " << algorithmText() << ":\t\"" << symmetricA
               << "\" (expected:" << symmetricM << ").";
      fail(messageL.str());
    }
    if (sizeL > slotL) {
      if (kxutl::QuarlenInformation::debugLevelS > 2) {
        kxntc::debug << "WARNING dataSizeL > dataSizeM : ( " << sizeL << " > " << slotL;
        kxntc::notify(kxntc::debug);
      }
      fail("The data size of your template is too large. (exp, current) = (" +
           std::to_string(slotL) + ", " + std::to_string(sizeL) + ")");
    }
    if (galleryVecM.size() >= maxNumberOfTemplatesM) {
      fail("Cannot add to gallery, because number of reserved templates reached.");
    }
    // The slot size and the symmetric flag are fixed by the first template that is stored.
    const std::uint32_t previousSlotL = dataSizeM;
    dataSizeM = slotL;
    try {
      add(dataL, sizeL, metadataA, sampleIdA);
    } catch (...) {
      if (galleryVecM.empty()) dataSizeM = previousSlotL;
      throw;
    }
    if (!symmetricKnownM) {
      symmetricM = symmetricA;
      symmetricKnownM = true;
    }
  } catch (const OwnFailure& failureA) {
    throw failureA.exception;
  } catch (const kxxcp::Exception& exceptionA) {
    KXXCP_THROW(kAddFunction, "Catched kxxcp::Exception: ( " << exceptionA.getMessage() << " )");
  } catch (...) {
    KXXCP_THROW(kAddFunction, "Catched unknown exception ( " << algorithmText() << " )");
  }
}

void TemplateMatcherMultipass_Stage_MemManager::add(const unsigned char* dataA, unsigned int sizeA,
                                                    const qridy::IdentityMetadata* metadataA,
                                                    KXuint128 sampleIdA) {
  reserveForAdd();
  const unsigned char* slotL =
      addToMemarray(dataA, static_cast<unsigned int>(galleryVecM.size()), sizeA);
  appendEntry(slotL, metadataA, sampleIdA);
}

bool TemplateMatcherMultipass_Stage_MemManager::tryAlloc(unsigned int countA, unsigned int sizeA,
                                                         MemoryArray& arrayA) {
  const std::uint64_t bytesL = static_cast<std::uint64_t>(countA) * sizeA;
  if (bytesL == 0 || bytesL > std::numeric_limits<std::size_t>::max()) return false;
  // Not zeroed: addToMemarray writes every byte of a slot (data, then zeros) before the slot is
  // used, so the slots not yet handed out (the tail of the last array) stay untouched pages.
  unsigned char* dataL =
      qridy::AlignedBuffer::allocateUninitialised(static_cast<std::size_t>(bytesL));
  if (dataL == nullptr) return false;
  arrayA.data = dataL;
  arrayA.capacity = countA;
  return true;
}

unsigned char* TemplateMatcherMultipass_Stage_MemManager::addToMemarray(const unsigned char* dataA,
                                                                        unsigned int indexA,
                                                                        unsigned int sizeA) {
  if (sizeA > dataSizeM) {
    KXXCP_THROW(kMemarrayFunction, "Passed in dataSize greater than maximum dataSize.");
  }
  if (memoryArrayVecM.empty()) {
    const std::uint32_t capacityL = std::max<std::uint32_t>(1, maxMemoryChunkSizeM / dataSizeM);
    // Room for as many arrays as the reserved number of templates can fill.
    memoryArrayVecM.reserve(
        std::min<std::size_t>(capacityL, maxNumberOfTemplatesM / capacityL + 1));
    MemoryArray arrayL;
    if (!tryAlloc(capacityL, dataSizeM, arrayL)) {
      KXXCP_THROW(kMemarrayFunction, "Faild to alloc the requested memory.");
    }
    memoryArrayVecM.push_back(arrayL);
    lastArrayFilledM = 0;
  }
  const std::uint32_t capacityL = memoryArrayVecM.front().capacity;
  const std::size_t arrayL = indexA / capacityL;
  if (arrayL >= memoryArrayVecM.size()) {
    if (kxutl::QuarlenInformation::debugLevelS >= 6) {
      std::cerr << "\ncreate new Memory Array [ " << memoryArrayVecM.size() << " ] \n";
    }
    MemoryArray newL;
    if (!tryAlloc(memoryArrayVecM.back().capacity, dataSizeM, newL)) {
      KXXCP_THROW(kMemarrayFunction, "Bad Alloc . Reserved size : "
                                         << static_cast<std::uint64_t>(capacityL) * dataSizeM);
    }
    try {
      memoryArrayVecM.push_back(newL);
    } catch (...) {
      qridy::AlignedBuffer::free(newL.data);
      throw;
    }
    lastArrayFilledM = 0;
  }
  const std::uint32_t inArrayL = indexA - static_cast<std::uint32_t>(arrayL) * capacityL;
  if (arrayL + 1 == memoryArrayVecM.size()) {
    lastArrayFilledM = std::max(lastArrayFilledM, inArrayL + 1);
  }
  unsigned char* slotL =
      memoryArrayVecM[arrayL].data + static_cast<std::size_t>(inArrayL) * dataSizeM;
  // The slot is the data followed by zeros up to the slot size.
  const unsigned int copiedL = sizeA == 0 ? dataSizeM : sizeA;
  if (streamingM) {
    qridy::slotcopy::copy(slotL, dataA, copiedL);
  } else {
    std::memcpy(slotL, dataA, copiedL);
  }
  std::memset(slotL + copiedL, 0, dataSizeM - copiedL);
  return slotL;
}

void TemplateMatcherMultipass_Stage_MemManager::destroyByIndices(
    const std::vector<GalleryEntry*>& entriesA) {
  std::vector<std::size_t> indicesL;
  indicesL.reserve(entriesA.size());
  for (const GalleryEntry* entryL : entriesA) {
    const std::size_t indexL = static_cast<std::size_t>(entryL - galleryVecM.data());
    if (indexL < galleryVecM.size()) indicesL.push_back(indexL);
  }
  // From the highest index down: the last entry is then never one still to be removed.
  std::sort(indicesL.begin(), indicesL.end());
  indicesL.erase(std::unique(indicesL.begin(), indicesL.end()), indicesL.end());
  for (auto itL = indicesL.rbegin(); itL != indicesL.rend(); ++itL) {
    GalleryEntry& holeL = galleryVecM[*itL];
    const GalleryEntry& lastL = galleryVecM.back();
    if (&holeL != &lastL) {
      // The hole keeps its own slot; the last entry's bytes, identity and sample move into it.
      std::memcpy(const_cast<unsigned char*>(holeL.data), lastL.data, dataSizeM);
      holeL.metadata = lastL.metadata;
      holeL.sampleId = lastL.sampleId;
    }
    galleryVecM.pop_back();
  }
  invalidateIndex();
  if (memoryArrayVecM.size() >= 2) {
    std::size_t heldL = 0;
    for (std::size_t i = 0; i + 1 < memoryArrayVecM.size(); ++i) {
      heldL += memoryArrayVecM[i].capacity;
    }
    if (heldL >= galleryVecM.size()) {
      if (kxutl::QuarlenInformation::debugLevelS >= 3) {
        std::cerr << "\ndelete memoryArrayVecM[ " << memoryArrayVecM.size() - 1 << " ]\n";
      }
      qridy::AlignedBuffer::free(memoryArrayVecM.back().data);
      memoryArrayVecM.pop_back();
      lastArrayFilledM = memoryArrayVecM.back().capacity;
    }
  }
}

void TemplateMatcherMultipass_Stage_MemManager::setStreamingAdds(bool streamingA) {
  if (streamingM && !streamingA) qridy::slotcopy::fence();
  streamingM = streamingA;
}

void TemplateMatcherMultipass_Stage_MemManager::releaseArrays() {
  for (MemoryArray& arrayL : memoryArrayVecM) qridy::AlignedBuffer::free(arrayL.data);
  memoryArrayVecM.clear();
  lastArrayFilledM = 0;
}

void TemplateMatcherMultipass_Stage_MemManager::clear() {
  releaseArrays();
  galleryVecM.clear();
  idVectorM.clear();
  invalidateIndex();
}

void TemplateMatcherMultipass_Stage_MemManager::empty() {
  galleryVecM.clear();
  idVectorM.clear();
  invalidateIndex();
}

std::size_t TemplateMatcherMultipass_Stage_MemManager::memoryInUse() const {
  std::size_t bytesL = galleryVecM.capacity() * sizeof(GalleryEntry) +
                       idVectorM.capacity() * sizeof(GalleryEntry*) +
                       memoryArrayVecM.capacity() * sizeof(MemoryArray);
  if (memoryArrayVecM.empty()) return bytesL;
  for (std::size_t i = 0; i + 1 < memoryArrayVecM.size(); ++i) {
    bytesL += static_cast<std::size_t>(memoryArrayVecM[i].capacity) * dataSizeM;
  }
  // Of the last array only the pages up to the furthest slot ever filled.
  const std::size_t filledL = static_cast<std::size_t>(lastArrayFilledM) * dataSizeM;
  const std::size_t arrayL = static_cast<std::size_t>(memoryArrayVecM.back().capacity) * dataSizeM;
  return bytesL + std::min(arrayL, (filledL + kPageSize - 1) / kPageSize * kPageSize);
}

}  // namespace qrbase
