#include <quarlen/TemplateGenerator_Base.h>

#include <iostream>
#include <memory>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/BioDescriptor.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>

namespace qrbase {

TemplateGenerator_Base::~TemplateGenerator_Base() = default;

bool TemplateGenerator_Base::hasEnabled(qridy::Modality modalityA,
                                        qridy::Algorithm algorithmA) const {
  return algorithmMapContains(algorithmMapM, algorithmA);
}

bool TemplateGenerator_Base::algorithmMapContains(const AlgorithmMap& mapA,
                                                  qridy::Algorithm algorithmA) {
  return mapA.count(algorithmA) != 0;
}

bool TemplateGenerator_Base::algorithmMapContains(const AlgorithmMap& mapA,
                                                  qridy::Algorithm algorithmA,
                                                  TemplateCreationType wantedA) {
  const auto itL = mapA.find(algorithmA);
  if (itL == mapA.end()) return false;
  switch (itL->second) {
    case TemplateCreationTypeGallery:
    case TemplateCreationTypeProbe:
      return wantedA == itL->second;
    case TemplateCreationTypeGalleryAndProbe:
      return wantedA == TemplateCreationTypeGallery || wantedA == TemplateCreationTypeProbe ||
             wantedA == TemplateCreationTypeGalleryAndProbe;
    default:
      return false;
  }
}

bool TemplateGenerator_Base::createTemplateCreationTypeIntersection(TemplateCreationType aA,
                                                                    TemplateCreationType bA,
                                                                    TemplateCreationType& outA) {
  auto isUse = [](TemplateCreationType tA) {
    return tA >= TemplateCreationTypeGallery && tA <= TemplateCreationTypeGalleryAndProbe;
  };
  // Read as bit sets (1 gallery, 2 probe, 3 both), the common uses are the bits in both.
  if (!isUse(aA) || !isUse(bA) || (aA & bA) == 0) return false;
  outA = static_cast<TemplateCreationType>(aA & bA);
  return true;
}

AlgorithmMap TemplateGenerator_Base::createAlgorithmMapIntersection(const AlgorithmMap& aA,
                                                                    const AlgorithmMap& bA) {
  AlgorithmMap outL;
  for (const auto& [algorithmL, typeL] : aA) {
    const auto otherL = bA.find(algorithmL);
    TemplateCreationType commonL;
    if (otherL != bA.end() &&
        createTemplateCreationTypeIntersection(typeL, otherL->second, commonL)) {
      outL.emplace(algorithmL, commonL);
    }
  }
  return outL;
}

void TemplateGenerator_Base::addGeneratedTemplateBlock(
    qridy::IdRecordImp& targetA, std::vector<qridy::TemplateBlockImp*>& blocksA,
    const BioDescriptor& descriptorA, const unsigned char* metaDataA, unsigned metaDataSizeA) {
  // Every block is ours from here on: those not handed to the template are deleted on exit.
  std::vector<std::unique_ptr<qridy::TemplateBlockImp>> pendingL;
  for (qridy::TemplateBlockImp* blockL : blocksA) {
    if (blockL != nullptr) pendingL.emplace_back(blockL);
  }
  blocksA.clear();
  try {
    const qridy::Modality modalityL = descriptorA.modality();
    const qridy::Instance instanceL = descriptorA.instance();
    auto recordL = std::make_unique<qridy::IdRecordImp>();
    auto templateL = std::make_unique<qridy::TemplateImp>();
    auto bioRecordL = std::make_unique<qridy::BioRecordImp>();
    templateL->setSampleId(descriptorA.sampleId());
    recordL->setIdRecordKey(descriptorA.idRecordKey());
    if (pendingL.empty()) {
      KXXCP_THROW("qrbase::TemplateGenerator_Base::addGeneratedTemplateBlock",
                  "All template blocks are null.");
    }
    for (std::unique_ptr<qridy::TemplateBlockImp>& blockL : pendingL) {
      if (kxutl::QuarlenInformation::debugLevelS >= 9 && blockL->algorithm() == qridy::AlgL2m) {
        std::cout << "addGeneratedTemplateBlock : instance "
                  << qridy::Types::instance2Text(instanceL) << ", quality "
                  << descriptorA.qualityValue() << std::endl;
      }
      templateL->addTemplateBlock(blockL.get());
      blockL.release();  // the template owns it now
    }
    if (metaDataA != nullptr) templateL->setMetaData(metaDataA, metaDataSizeA);
    qridy::TemplateImp* templateRawL = templateL.release();
    try {
      bioRecordL->addTemplate(templateRawL, modalityL, instanceL);
    } catch (...) {
      delete templateRawL;  // on failure the caller (we) keeps the template
      throw;
    }
    recordL->addBioRecord(bioRecordL.get());
    bioRecordL.release();
    qridy::IdRecordImp* recordRawL = recordL.release();
    try {
      targetA.merge(recordRawL);  // deletes the merged record and nulls the pointer
    } catch (...) {
      delete recordRawL;
      throw;
    }
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW("qrbase::TemplateGenerator_Base::addGeneratedTemplateBlock",
                "Failed to add 'TemplateBlock' to IDRecord. \n Details:" << e.getMessage());
  } catch (...) {
    KXXCP_THROW("qrbase::TemplateGenerator_Base::addGeneratedTemplateBlock",
                "Failed to add 'TemplateBlock' to IDRecord. \n Details:"
                    << " unkown exc caught.");
  }
}

}  // namespace qrbase
