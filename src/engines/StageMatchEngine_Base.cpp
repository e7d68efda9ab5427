#include <quarlen/StageMatchEngine_Base.h>

#include <cstring>
#include <utility>

#include <qrlcore/Exception.h>
#include <quarlen/TemplateBlock_Common.h>

#include "common/AlignedBuffer.h"

namespace qridy {

StageMatchEngine_Base::StageMatchEngine_Base() : probeBufferM(std::make_unique<AlignedBuffer>()) {}

StageMatchEngine_Base::~StageMatchEngine_Base() = default;

AlignedBuffer StageMatchEngine_Base::allocateOrThrow(std::uint64_t sizeA, const char* functionA,
                                                     const char* firstLineA) const {
  AlignedBuffer bufferL = AlignedBuffer::allocate(sizeA);
  if (bufferL.empty()) {
    KXXCP_THROW(functionA,
                firstLineA << "\n"
                           << "algorithm == " << Types::algorithm2Text(algorithmM) << "\n"
                           << "aligned data size == " << AlignedBuffer::paddedSize(sizeA) << "\n");
  }
  return bufferL;
}

void StageMatchEngine_Base::adoptProbe(AlignedBuffer&& bufferA) {
  *probeBufferM = std::move(bufferA);
  probeDataM = probeBufferM->data();
  probeDataSizeM = static_cast<std::uint32_t>(probeBufferM->size());
}

void StageMatchEngine_Base::init(Algorithm algorithmA) {
  algorithmM = algorithmA;
}

void StageMatchEngine_Base::setProbeForIdentification(const unsigned char* dataA,
                                                      unsigned int sizeA) {
  if (dataA == nullptr || sizeA == 0) {
    adoptProbe(AlignedBuffer());
    return;
  }
  AlignedBuffer bufferL =
      allocateOrThrow(sizeA, "qridy::StageMatchEngine_Base::setProbeForIdentification",
                      "Could not allocate aligned memory for probe ");
  std::memcpy(bufferL.data(), dataA, sizeA);
  adoptProbe(std::move(bufferL));
}

void StageMatchEngine_Base::releaseProbe() {
  adoptProbe(AlignedBuffer());
  setProbeIsGalleryData(false);
}

std::string StageMatchEngine_Base::templateInfoText(const unsigned char*, unsigned int, bool) {
  return std::string();
}

const unsigned char* StageMatchEngine_Base::extractRawData(const TemplateBlockImp* blockA,
                                                           unsigned int& sizeA, bool probePartA) {
  sizeA = 0;
  const auto* commonL = dynamic_cast<const TemplateBlock_Common*>(blockA);
  if (commonL == nullptr) {
    KXXCP_THROW("qridy::StageMatchEngine_Base::extractRawData",
                "Bad dynamic cast could not extract template data "
                    << "Incoming Template is : ("
                    << (blockA != nullptr ? Types::algorithm2Text(blockA->algorithm()) : "null")
                    << "))");
  }
  if (probePartA) {
    sizeA = commonL->probeSize();
    return commonL->probeDataPtr();
  }
  sizeA = commonL->gallerySize();
  return commonL->galleryDataPtr();
}

void StageMatchEngine_Base::setParameter(std::int32_t keyA, std::uint32_t valueA) {
  parametersM[keyA] = valueA;
}

std::uint32_t StageMatchEngine_Base::getParameter(std::int32_t keyA) {
  const auto itL = parametersM.find(keyA);
  return itL == parametersM.end() ? 0xFFFFFFFFu : itL->second;
}

float StageMatchEngine_Base::verify(const unsigned char* probeDataA, unsigned int probeSizeA,
                                    const unsigned char* galleryDataA, unsigned int gallerySizeA) {
  // The gallery copy is released on every way out.
  AlignedBuffer galleryL;
  if (galleryDataA != nullptr && gallerySizeA != 0) {
    galleryL = allocateOrThrow(gallerySizeA, "qridy::StageMatchEngine_Base::verify",
                               "Could not allocate aligned memory for gallery template ");
    std::memcpy(galleryL.data(), galleryDataA, gallerySizeA);
  }
  setProbeForIdentification(probeDataA, probeSizeA);
  float scoreL = 0.0f;
  try {
    scoreL = matchGallery(galleryL.data(), galleryL.empty() ? 0 : gallerySizeA);
  } catch (...) {
    releaseProbe();
    throw;
  }
  releaseProbe();
  return scoreL;
}

unsigned int StageMatchEngine_Base::galleryBytesRead(unsigned int gallerySizeA) const {
  return gallerySizeA;
}

float StageMatchEngine_Base::minScore() {
  return -10000.0f;
}

std::uint16_t StageMatchEngine_Base::minutiaCount(const unsigned char*) {
  return 0;
}

bool StageMatchEngine_Base::probeIsGalleryData() {
  return probeIsGalleryDataM;
}

void StageMatchEngine_Base::setProbeIsGalleryData(bool valueA) {
  probeIsGalleryDataM = valueA;
}

}  // namespace qridy
