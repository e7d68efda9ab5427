#include "support/RecordFactory.h"

#include <set>
#include <string>
#include <vector>

#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>
#include <quarlen/TemplateMetaDataIris.h>

#include "support/RecordBytes.h"

namespace quarlen_test {

namespace {

std::vector<unsigned char> randomBytes(std::mt19937& rngA, unsigned int maxA) {
  std::vector<unsigned char> bytesL(std::uniform_int_distribution<unsigned int>(0, maxA)(rngA));
  for (auto& b : bytesL) b = static_cast<unsigned char>(rngA());
  return bytesL;
}

std::string metaDataRecord(std::mt19937& rngA, Modality modalityA) {
  const float qualityL = static_cast<float>(rngA() % 1000) / 10.0f;
  if (modalityA == ModalityFace) {
    TemplateMetaDataFace metaL;
    metaL.setImageWidth(static_cast<std::uint16_t>(rngA()));
    metaL.setImageHeight(static_cast<std::uint16_t>(rngA()));
    metaL.setQuality(qualityL);
    return writeToString(metaL);
  }
  if (modalityA == ModalityIris) {
    TemplateMetaDataIris metaL;
    metaL.setIrisValue1(static_cast<std::uint16_t>(rngA()));
    metaL.setQuality(qualityL);
    return writeToString(metaL);
  }
  TemplateMetaDataFinger metaL;
  metaL.setImpressionType(static_cast<FingerImpressionType>(rngA() % 9));
  metaL.setFingerValue1(static_cast<std::uint16_t>(rngA()));
  metaL.setQuality(qualityL);
  return writeToString(metaL);
}

std::vector<Algorithm> algorithmsOf(Modality modalityA) {
  std::vector<Algorithm> algorithmsL;
  if (modalityA == ModalityFace) {
    for (unsigned v = 1; v <= 25; ++v) algorithmsL.push_back(static_cast<Algorithm>(v));
  } else if (modalityA == ModalityIris) {
    algorithmsL = {AlgMvxIris2PiSdk, AlgDaugman2010};
  } else {
    for (unsigned v = 150; v <= 157; ++v) algorithmsL.push_back(static_cast<Algorithm>(v));
  }
  return algorithmsL;
}

}  // namespace

TemplateBlockImp* randomBlock(std::mt19937& rngA, Algorithm algorithmA, Modality modalityA,
                              unsigned int maxPartA) {
  TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(algorithmA);
  const auto galleryL = randomBytes(rngA, maxPartA);
  const auto probeL = randomBytes(rngA, maxPartA);
  blockL->setData(probeL.data(), static_cast<unsigned int>(probeL.size()), galleryL.data(),
                  static_cast<unsigned int>(galleryL.size()), rngA() % 4 == 0);
  if (rngA() % 2 == 0) {
    const std::string metaL = metaDataRecord(rngA, modalityA);
    blockL->setMetaData(reinterpret_cast<const unsigned char*>(metaL.data()),
                        static_cast<unsigned int>(metaL.size()));
  }
  return blockL;
}

TemplateImp* randomTemplate(std::mt19937& rngA, Modality modalityA, unsigned int maxPartA) {
  TemplateImp* templateL = new TemplateImp();
  templateL->setSampleId({rngA() % 3 == 0 ? 0u : static_cast<std::uint64_t>(rngA()),
                          static_cast<std::uint64_t>(rngA()) << 32 | rngA()});
  if (rngA() % 3 == 0) {
    const auto metaL = randomBytes(rngA, 16);
    templateL->setMetaData(metaL.data(), static_cast<unsigned int>(metaL.size()));
  }
  const std::vector<Algorithm> algorithmsL = algorithmsOf(modalityA);
  const unsigned int countL = rngA() % 4;
  std::set<Algorithm> chosenL;
  for (unsigned int i = 0; i < countL; ++i)
    chosenL.insert(algorithmsL[rngA() % algorithmsL.size()]);
  for (Algorithm a : chosenL)
    templateL->addTemplateBlock(randomBlock(rngA, a, modalityA, maxPartA));
  return templateL;
}

BioRecordImp* randomBioRecord(std::mt19937& rngA, Modality modalityA, Instance instanceA,
                              unsigned int maxTemplatesA, unsigned int maxPartA) {
  BioRecordImp* recordL = new BioRecordImp(modalityA, instanceA);
  const unsigned int countL = rngA() % (maxTemplatesA + 1);
  for (unsigned int i = 0; i < countL; ++i) {
    TemplateImp* templateL = randomTemplate(rngA, modalityA, maxPartA);
    if (recordL->hasTemplateWithId(templateL->sampleId())) {
      delete templateL;
      continue;
    }
    recordL->addTemplate(templateL, modalityA, instanceA);
  }
  return recordL;
}

IdRecordImp* randomIdRecord(std::mt19937& rngA, unsigned int maxBioRecordsA,
                            unsigned int maxTemplatesA, unsigned int maxPartA) {
  static const std::pair<Modality, Instance> kSlots[] = {
      {ModalityFace, InstanceFaceFrontal},
      {ModalityFingerprint, InstanceFingerRightThumb},
      {ModalityFingerprint, InstanceFingerRightIndex},
      {ModalityFingerprint, InstanceFingerLeftLittle},
      {ModalityIris, InstanceIrisLeft},
      {ModalityIris, InstanceIrisRight}};
  IdRecordImp* recordL = new IdRecordImp();
  recordL->setIdRecordKey({rngA(), static_cast<std::uint64_t>(rngA()) << 32 | rngA()});
  if (rngA() % 2 == 0) {
    const auto sIdL = randomBytes(rngA, 24);
    recordL->setSId(reinterpret_cast<const char*>(sIdL.data()),
                    static_cast<unsigned short>(sIdL.size()));
  }
  const unsigned int countL = rngA() % (maxBioRecordsA + 1);
  for (unsigned int i = 0; i < countL; ++i) {
    const auto& slotL = kSlots[rngA() % (sizeof kSlots / sizeof kSlots[0])];
    if (recordL->getBioRecord(slotL.first, slotL.second, false) != nullptr) continue;
    recordL->addBioRecord(
        randomBioRecord(rngA, slotL.first, slotL.second, maxTemplatesA, maxPartA));
  }
  return recordL;
}

}  // namespace quarlen_test
