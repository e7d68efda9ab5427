#include "engines/face/StageMatchEngine_Face_HGM.h"

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

namespace qridy {

float StageMatchEngine_Face_HGM::matchGallery(const unsigned char* galleryDataA,
                                              unsigned int gallerySizeA) {
  if (gallerySizeA == 0) return 0.0f;
  const std::uint32_t blocksL = engines::commonBlocks(gallerySizeA, probeDataSizeM);
  const float bitsL = 8.0f * static_cast<float>(gallerySizeA);
  return (bitsL - static_cast<float>(differingBits(probeDataM, galleryDataA, blocksL))) / bitsL;
}

StageMatchEngine_Face_HgmPyrBit::StageMatchEngine_Face_HgmPyrBit() {
  using kxutl::QuarlenInformation;
  const char* fnL = "qridy::StageMatchEngine_Face_HgmPyrBit::StageMatchEngine_Face_HgmPyrBit";
  const int countL =
      QuarlenInformation::getIntFromConfigFile(engines::kMatchingSection, "hgmPyrBit_nScales");
  const auto sizesL = QuarlenInformation::getUintVectorFromConfigFile(engines::kMatchingSection,
                                                                      "hgmPyrBit_scaleSizesBit");
  const auto weightsL = QuarlenInformation::getFloatVectorFromConfigFile(engines::kMatchingSection,
                                                                         "hgmPyrBit_weights");
  if (countL < 0 || sizesL.size() != static_cast<std::size_t>(countL)) {
    KXXCP_THROW(fnL, "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmPyrBit_scaleSizesBit\n");
  }
  if (weightsL.size() != static_cast<std::size_t>(countL)) {
    KXXCP_THROW(fnL, "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmPyrBit_weights\n");
  }
  for (int i = 0; i < countL; ++i) {
    scalesM.push_back({sizesL[i], sizesL[i] / 8, weightsL[i], 0});
    scaleBytesM += sizesL[i] / 8;
    normaliserM += static_cast<float>(sizesL[i]) * weightsL[i];
  }
}

float StageMatchEngine_Face_HgmPyrBit::matchGallery(const unsigned char* galleryDataA,
                                                    unsigned int gallerySizeA) {
  if (scalesM.empty()) return StageMatchEngine_Face_HGM::matchGallery(galleryDataA, gallerySizeA);
  if (scaleBytesM > engines::paddedCommonBytes(gallerySizeA, probeDataSizeM)) {
    KXXCP_THROW("qridy::StageMatchEngine_Face_HgmPyrBit::matchGallery",
                "Template smaller than the configured scales : '" << gallerySizeA << "' bytes.");
  }
  float sumL = 0.0f;
  std::uint32_t offsetL = 0;
  for (Scale& s : scalesM) {
    s.lastDifference =
        differingBits(probeDataM + offsetL, galleryDataA + offsetL, s.sizeBytes / 16);
    sumL += s.weight * static_cast<float>(s.sizeBits - s.lastDifference);
    offsetL += s.sizeBytes;
  }
  return sumL / normaliserM;
}

float StageMatchEngine_Face_HgmPyrBit_SmwSb::matchGallery(const unsigned char* galleryDataA,
                                                          unsigned int gallerySizeA) {
  const std::uint32_t bytesL = std::min(gallerySizeA, probeDataSizeM / 32);
  if (bytesL == 0) return 0.5f;
  const float sumL =
      kernelsM->floatBitSum(reinterpret_cast<const float*>(probeDataM), galleryDataA, bytesL);
  return 0.5f * (sumL / (8.0f * static_cast<float>(bytesL))) + 0.5f;
}

}  // namespace qridy
