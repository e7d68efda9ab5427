#include <quarlen/IdRecordFingerDecorator.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateKey.h>

#include "common/Coding.h"

namespace qridy {
namespace {

using QI = kxutl::QuarlenInformation;

constexpr const char* kDefinitionSection = "MATCHING_DECORATOR_DEFINITION";
constexpr const char* kSizeSection = "MATCHING_DECORATOR_SIZE";

bool isDecoratedAlgorithm(Algorithm algorithmA) {
  return algorithmA == AlgL1b || algorithmA == AlgL1v || algorithmA == AlgL2v ||
         algorithmA == AlgFva;
}

// The process-wide caches of definitions and blob sizes.
struct Caches {
  std::mutex mutexM;
  std::map<Algorithm, std::vector<Instance>> definitionsM;
  std::map<Algorithm, unsigned int> blobSizesM;
};
Caches& caches() {
  static Caches cachesS;
  return cachesS;
}

// Zero bytes that bring lengthA to a multiple of 16.
std::uint32_t pad16(std::uint32_t lengthA) {
  return (16 - lengthA % 16) % 16;
}

// An assembled blob with its mask, released with the object.
struct Blob {
  std::uint16_t mask = 0;
  std::unique_ptr<unsigned char[]> bytes;
  std::uint32_t size = 0;

  void assemble(const IdRecordImp* recordA, Algorithm definitionOfA, Algorithm algorithmA,
                const TemplateBlockImp*& lastBlockA) {
    unsigned char* rawL = nullptr;
    const TemplateBlockImp* lastL = nullptr;
    IdRecordFingerDecorator::createAssenbliedTemplateBlobs(
        recordA, IdRecordFingerDecorator::definition(definitionOfA), algorithmA, mask, rawL, size,
        lastL);
    bytes.reset(rawL);
    if (lastL != nullptr) lastBlockA = lastL;
  }
  void copyTo(unsigned char* destinationA) const {
    if (size > 0) std::memcpy(destinationA, bytes.get(), size);
  }
};

// The first-sample block of an algorithm for one finger, or null.
const TemplateBlockImp* firstSampleBlock(const IdRecordImp& recordA, Instance fingerA,
                                         Algorithm algorithmA, Modality modalityA) {
  KXuint128 idL;
  if (!recordA.getSampleIdByIndex(modalityA, fingerA, 0, idL)) return nullptr;
  return recordA.getTemplateBlock(TemplateKey(modalityA, fingerA, idL), algorithmA, false);
}

}  // namespace

void readMatchingDecoratorDefinition(const std::string& sectionA, Algorithm algorithmA,
                                     std::vector<Instance>& instancesA) {
  const std::string keyL = Types::algorithm2Text(algorithmA);
  std::istringstream textL(QI::getStdStringFromConfigFile(sectionA, keyL));
  std::string pieceL;
  while (std::getline(textL, pieceL, ',')) {
    const Instance instanceL = Types::text2Instance(pieceL.c_str());
    if (instanceL < InstanceFingerRightThumb || instanceL > InstanceFingerLeftLittle) {
      KXXCP_THROW("qridy::readMatchingDecoratorDefinition",
                  "unsupported instance (" << pieceL << ") in block [" << sectionA << "] at key "
                                           << keyL << ".");
    }
    instancesA.push_back(instanceL);
  }
}

const std::vector<Instance>& IdRecordFingerDecorator::definition(Algorithm algorithmA) {
  Caches& cachesL = caches();
  std::lock_guard<std::mutex> lockL(cachesL.mutexM);
  auto itL = cachesL.definitionsM.find(algorithmA);
  if (itL == cachesL.definitionsM.end()) {
    std::vector<Instance> definitionL;
    if (isDecoratedAlgorithm(algorithmA)) {
      readMatchingDecoratorDefinition(kDefinitionSection, algorithmA, definitionL);
    }
    itL = cachesL.definitionsM.emplace(algorithmA, std::move(definitionL)).first;
  }
  return itL->second;  // map nodes stay where they are
}

unsigned int IdRecordFingerDecorator::slotSize(Algorithm algorithmA) {
  const std::vector<unsigned int> sizesL =
      QI::getUintVectorFromConfigFile(kSizeSection, Types::algorithm2Text(algorithmA));
  return sizesL.empty() ? 0u : *std::max_element(sizesL.begin(), sizesL.end());
}

unsigned int IdRecordFingerDecorator::blobSize(Algorithm algorithmA) {
  const std::size_t slotsL = definition(algorithmA).size();
  Caches& cachesL = caches();
  std::lock_guard<std::mutex> lockL(cachesL.mutexM);
  auto itL = cachesL.blobSizesM.find(algorithmA);
  if (itL == cachesL.blobSizesM.end()) {
    itL = cachesL.blobSizesM
              .emplace(algorithmA, static_cast<unsigned int>(slotsL * slotSize(algorithmA)))
              .first;
  }
  return itL->second;
}

void IdRecordFingerDecorator::forgetCachedDefinitions() {
  Caches& cachesL = caches();
  std::lock_guard<std::mutex> lockL(cachesL.mutexM);
  cachesL.definitionsM.clear();
  cachesL.blobSizesM.clear();
}

void IdRecordFingerDecorator::createAssenbliedTemplateBlobs(
    const IdRecordImp* recordA, const std::vector<Instance>& definitionA, Algorithm algorithmA,
    std::uint16_t& maskA, unsigned char*& blobA, std::uint32_t& blobSizeA,
    const TemplateBlockImp*& lastBlockA) {
  blobSizeA = blobSize(algorithmA);
  const unsigned int slotL = slotSize(algorithmA);
  const bool classifierL =
      QI::getBoolFromConfigFile(kDefinitionSection, "useL1bClassifierAsMissingMask");
  const float confidenceL =
      QI::getFloatFromConfigFile(kDefinitionSection, "L1bClassifierAsMissingMaskConfidence");
  std::unique_ptr<unsigned char[]> blobL(new unsigned char[blobSizeA]());
  maskA = 0;
  // A definition other than the algorithm's own may have more slots than the blob holds; the
  // mask has 16 bits.
  const std::size_t slotsL =
      std::min<std::size_t>({definitionA.size(), slotL == 0 ? 0 : blobSizeA / slotL, 16});
  for (std::size_t k = 0; k < slotsL; ++k) {
    const TemplateBlockImp* blockL =
        firstSampleBlock(*recordA, definitionA[k], algorithmA, ModalityFingerprint);
    if (blockL == nullptr) continue;
    lastBlockA = blockL;
    if (blockL->gallerySize() != slotL) {
      KXXCP_THROW("qridy::IdRecordFingerDecorator::createAssenbliedTemplateBlobs",
                  "The data size of the given template ("
                      << Types::algorithm2Text(algorithmA) << ") is invalid. (exp, current) = ("
                      << slotL << ", " << blockL->gallerySize() << ")");
    }
    maskA = static_cast<std::uint16_t>(maskA | (1u << k));
    std::memcpy(blobL.get() + k * slotL, blockL->galleryDataPtr(), slotL);
  }
  if (classifierL && (algorithmA == AlgL1v || algorithmA == AlgL2v)) {
    const unsigned int l1bSizeL = slotSize(AlgL1b);
    for (std::size_t k = 0; k < slotsL; ++k) {
      const Instance fingerL = definitionA[k];
      if (fingerL == InstanceFingerRightThumb || fingerL == InstanceFingerLeftThumb) continue;
      const TemplateBlockImp* l1bL =
          firstSampleBlock(*recordA, fingerL, AlgL1b, ModalityFingerprint);
      if (l1bL == nullptr || l1bL->gallerySize() != l1bSizeL || l1bSizeL < 5) continue;
      float valueL = 0.0f;
      const std::uint32_t bitsL = coding::decodeFixed32(l1bL->galleryDataPtr() + 1);
      std::memcpy(&valueL, &bitsL, sizeof valueL);
      if (valueL >= 0.0f && valueL < confidenceL) {
        maskA = static_cast<std::uint16_t>(maskA & ~(1u << k));
        std::memset(blobL.get() + k * slotL, 0, slotL);
      }
    }
  }
  blobA = blobL.release();
}

TemplateBlockImp* IdRecordFingerDecorator::createDecoratedTemplateBlock(const IdRecordImp* recordA,
                                                                        Algorithm algorithmA) {
  if (recordA == nullptr ||
      (algorithmA != AlgL1v && algorithmA != AlgL2v && algorithmA != AlgFva)) {
    return nullptr;
  }
  const TemplateBlockImp* lastL = nullptr;
  std::vector<unsigned char> arrayL;
  if (algorithmA == AlgL2v) {
    Blob l2vL;
    l2vL.assemble(recordA, AlgL2v, AlgL2v, lastL);
    arrayL.assign(16 + l2vL.size + pad16(l2vL.size), 0);
    coding::encodeFixed16(arrayL.data(), l2vL.mask);
    l2vL.copyTo(arrayL.data() + 16);
  } else {
    // The l1v block lays the l1b blob out by the l1v definition too.
    Blob l1vL, l1bL;
    l1vL.assemble(recordA, AlgL1v, AlgL1v, lastL);
    l1bL.assemble(recordA, algorithmA == AlgL1v ? AlgL1v : AlgL1b, AlgL1b, lastL);
    const std::uint32_t l1bOffsetL = 2 + l1vL.size + pad16(2 + l1vL.size);
    const std::uint32_t endL = l1bOffsetL + l1bL.size;
    Blob l2vL;
    std::uint32_t lengthL = endL + pad16(endL);
    if (algorithmA == AlgFva) {
      l2vL.assemble(recordA, AlgL2v, AlgL2v, lastL);
      lengthL += l2vL.size + 16;
      lengthL += pad16(lengthL);
    }
    arrayL.assign(lengthL, 0);
    coding::encodeFixed16(arrayL.data(), l1vL.mask);
    l1vL.copyTo(arrayL.data() + 2);
    l1bL.copyTo(arrayL.data() + l1bOffsetL);
    if (algorithmA == AlgFva) {
      coding::encodeFixed16(arrayL.data() + endL, l2vL.mask);
      l2vL.copyTo(arrayL.data() + endL + 16);
    }
  }
  if (lastL == nullptr) return nullptr;
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
  blockL->setData(nullptr, 0, arrayL.data(), static_cast<unsigned int>(arrayL.size()), true);
  if (lastL->metaDataSize() > 0) blockL->setMetaData(lastL->metaDataPtr(), lastL->metaDataSize());
  return blockL.release();
}

IdRecordImp* IdRecordFingerDecorator::trimL2FTemplates(IdRecordImp* recordA,
                                                       qrfpt::MvxFinger* engineA,
                                                       unsigned int selectionA,
                                                       unsigned int maxCountA) {
  if (recordA == nullptr || engineA == nullptr) return nullptr;
  BioMetricTriple l2fL;
  l2fL.modality = ModalityFingerprint;
  l2fL.instance = InstanceAny;
  l2fL.algorithm = AlgL2f;
  if (!recordA->hasTemplateBlock(l2fL)) return recordA;
  engineA->initL2f();
  auto copyL = std::make_unique<IdRecordImp>(*recordA);
  for (const TemplateKey& keyL : copyL->getTemplateKeys(ModalityFingerprint, InstanceAny)) {
    TemplateImp* templateL = copyL->getTemplateByKey(keyL);
    if (!templateL->checkExistence(AlgL2f)) continue;
    TemplateBlockImp* blockL = templateL->getTemplateBlock(AlgL2f);
    qrfpt::L2FTrimResult resultL;
    if (engineA->trimL2FTemplate(blockL->galleryDataPtr(), blockL->gallerySize(), resultL,
                                 static_cast<unsigned short>(maxCountA), selectionA,
                                 false) != qrfpt::FingerOk) {
      KXXCP_THROW("qridy::IdRecordFingerDecorator::trimL2FTemplates",
                  "Failed to trim an L2F tempalte in the IdRecord");
    }
    blockL->removeGalleryTemplatePart();
    blockL->setData(nullptr, 0, resultL.featurePtr(), resultL.featureSize(), false);
  }
  return copyL.release();
}

std::vector<IdRecordFingerDecorator::GatheredBlock>
IdRecordFingerDecorator::gatherFirstSampleBlocks(const IdRecordImp& recordA,
                                                 const std::vector<BioMetricTriple>& triplesA) {
  std::vector<GatheredBlock> blocksL;
  for (const BioMetricTriple& tripleL : triplesA) {
    const TemplateBlockImp* blockL =
        firstSampleBlock(recordA, tripleL.instance, tripleL.algorithm, tripleL.modality);
    if (blockL != nullptr) blocksL.emplace_back(tripleL, blockL);
  }
  return blocksL;
}

std::vector<IdRecordFingerDecorator::GatheredBlock> IdRecordFingerDecorator::gatherAllSampleBlocks(
    const IdRecordImp& recordA, const std::vector<BioMetricTriple>& triplesA) {
  std::vector<GatheredBlock> blocksL;
  for (const BioMetricTriple& tripleL : triplesA) {
    for (const TemplateKey& keyL : recordA.getTemplateKeys(tripleL.modality, tripleL.instance)) {
      const TemplateBlockImp* blockL = recordA.getTemplateBlock(keyL, tripleL.algorithm, false);
      if (blockL != nullptr) blocksL.emplace_back(tripleL, blockL);
    }
  }
  return blocksL;
}

}  // namespace qridy
