#include <quarlen/StageMatchEngine_Base.h>

#include <cstring>
#include <new>

#include <qrlcore/Exception.h>
#include <quarlen/TemplateBlock_Common.h>

namespace qridy {
namespace {

constexpr std::size_t kAlignment = 64;

}  // namespace

StageMatchEngine_Base::StageMatchEngine_Base() = default;

StageMatchEngine_Base::~StageMatchEngine_Base() {
  if (bufferIsAlignedM) {
    freeAligned(probeDataM);
  } else {
    delete[] probeDataM;
  }
  parametersM.clear();
}

unsigned char* StageMatchEngine_Base::allocateAligned(std::uint64_t sizeA,
                                                      std::uint64_t& roundedA) {
  roundedA = (sizeA + 15) & ~std::uint64_t{15};
  if (roundedA > 0xFFFFFFFFu) return nullptr;
  if (roundedA == 0) return nullptr;
  auto* bufferL = static_cast<unsigned char*>(::operator new (
      static_cast<std::size_t>(roundedA), std::align_val_t{kAlignment}, std::nothrow));
  if (bufferL != nullptr) std::memset(bufferL, 0, static_cast<std::size_t>(roundedA));
  return bufferL;
}

void StageMatchEngine_Base::freeAligned(unsigned char* bufferA) {
  if (bufferA != nullptr) ::operator delete (bufferA, std::align_val_t{kAlignment});
}

void StageMatchEngine_Base::adoptProbe(unsigned char* bufferA, std::uint32_t sizeA) {
  if (bufferIsAlignedM) {
    freeAligned(probeDataM);
  } else {
    delete[] probeDataM;
  }
  probeDataM = bufferA;
  probeDataSizeM = sizeA;
  bufferIsAlignedM = true;
}

void StageMatchEngine_Base::throwAllocationFailure(const char* functionA, const char* firstLineA,
                                                   std::uint64_t roundedA) const {
  KXXCP_THROW(functionA, firstLineA << "\n"
                                    << "algorithm == " << Types::algorithm2Text(algorithmM) << "\n"
                                    << "aligned data size == " << roundedA << "\n");
}

void StageMatchEngine_Base::init(Algorithm algorithmA) {
  algorithmM = algorithmA;
}

void StageMatchEngine_Base::setProbeForIdentification(const unsigned char* dataA,
                                                      unsigned int sizeA) {
  if (dataA == nullptr || sizeA == 0) {
    adoptProbe(nullptr, 0);
    return;
  }
  std::uint64_t roundedL = 0;
  unsigned char* bufferL = allocateAligned(sizeA, roundedL);
  if (bufferL == nullptr) {
    throwAllocationFailure("qridy::StageMatchEngine_Base::setProbeForIdentification",
                           "Could not allocate aligned memory for probe ", roundedL);
  }
  std::memcpy(bufferL, dataA, sizeA);
  adoptProbe(bufferL, static_cast<std::uint32_t>(roundedL));
}

void StageMatchEngine_Base::releaseProbe() {
  if (bufferIsAlignedM) freeAligned(probeDataM);
  probeDataM = nullptr;
  probeDataSizeM = 0;
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
  std::uint64_t roundedL = 0;
  unsigned char* galleryL = nullptr;
  if (galleryDataA != nullptr && gallerySizeA != 0) {
    galleryL = allocateAligned(gallerySizeA, roundedL);
    if (galleryL == nullptr) {
      throwAllocationFailure("qridy::StageMatchEngine_Base::verify",
                             "Could not allocate aligned memory for gallery template ", roundedL);
    }
    std::memcpy(galleryL, galleryDataA, gallerySizeA);
  }
  struct GalleryCopy {
    unsigned char* p;
    ~GalleryCopy() { freeAligned(p); }
  } copyL{galleryL};
  setProbeForIdentification(probeDataA, probeSizeA);
  float scoreL = 0.0f;
  try {
    scoreL = matchGallery(galleryL, galleryL != nullptr ? gallerySizeA : 0);
  } catch (...) {
    releaseProbe();
    throw;
  }
  releaseProbe();
  return scoreL;
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
