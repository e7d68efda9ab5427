#include "engines/face/StageMatchEngine_Face_HgmByte.h"

#include <cstdint>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>

#include "engines/EngineSupport.h"

namespace qridy {

const StageMatchEngine_Face_HgmByte::Settings& StageMatchEngine_Face_HgmByte::processSettings() {
  // The first construction reads the configuration; later changes of it have no effect.
  static const Settings settingsS = [] {
    using kxutl::QuarlenInformation;
    Settings sL;
    sL.weighting = engines::SectionWeighting::read("hgmByte_");
    sL.useProMatNorm = QuarlenInformation::getBoolFromConfigFile(engines::kMatchingSection,
                                                                 "hgmByte_useProMatNorm");
    sL.proMatNormStdDev = QuarlenInformation::getFloatFromConfigFile(
        engines::kMatchingSection, "hgmByte_proMatNormStdDev", 0.0f);
    sL.proMatNormMu = QuarlenInformation::getFloatFromConfigFile(engines::kMatchingSection,
                                                                 "hgmByte_proMatNormMu", 0.0f);
    sL.scale = kxegm::ByteMinimalGraph::scale();
    return sL;
  }();
  return settingsS;
}

StageMatchEngine_Face_HgmByte::StageMatchEngine_Face_HgmByte()
    : StageMatchEngine_Face_HgmByte(processSettings()) {}

StageMatchEngine_Face_HgmByte::StageMatchEngine_Face_HgmByte(const Settings& settingsA)
    : settingsM(settingsA) {
  if (!settingsM.weighting.error.empty()) {
    KXXCP_THROW("qridy::StageMatchEngine_Face_HgmByte::StageMatchEngine_Face_HgmByte",
                settingsM.weighting.error);
  }
}

float StageMatchEngine_Face_HgmByte::matchGallery(const unsigned char* galleryDataA,
                                                  unsigned int gallerySizeA) {
  return calculateSim(probeDataM, galleryDataA,
                      engines::paddedCommonBytes(gallerySizeA, probeDataSizeM));
}

float StageMatchEngine_Face_HgmByte::calculateSim(const unsigned char* probeA,
                                                  const unsigned char* galleryA,
                                                  std::size_t bytesA) const {
  const float sL = settingsM.scale;
  const engines::SectionWeighting& wL = settingsM.weighting;
  if (!wL.useNodeWeights) {
    const std::int32_t dotL =
        kernelsM->byteDot(probeA, galleryA, static_cast<std::uint32_t>(bytesA / 16));
    return 0.5f * static_cast<float>(dotL) / (sL * sL) + 0.5f;
  }
  if (wL.featureCount > bytesA) {
    KXXCP_THROW("qridy::StageMatchEngine_Face_HgmByte::calculateSim",
                "Template smaller than the configured feature sections : " << bytesA);
  }
  const auto* pL = reinterpret_cast<const signed char*>(probeA);
  const auto* gL = reinterpret_cast<const signed char*>(galleryA);
  std::size_t nodeL = 0;
  float sumL = 0.0f;
  for (std::size_t s = 0; s < wL.sectionCount; ++s) {
    const std::size_t lengthL = wL.blockSizes[s];
    float aL = 0.0f, bL = 0.0f;
    for (unsigned int b = 0; b < wL.blocksPerSection[s]; ++b, ++nodeL) {
      std::int64_t productsL = 0, sumsL = 0;
      for (std::size_t i = 0; i < lengthL; ++i) {
        productsL += pL[i] * gL[i];
        sumsL += pL[i] + gL[i];
      }
      aL += wL.nodeWeights[nodeL] * static_cast<float>(productsL);
      bL += wL.nodeWeights[nodeL] * static_cast<float>(sumsL);
      pL += lengthL;
      gL += lengthL;
    }
    const float nwL = wL.nodeWeightSums[s];
    sumL += (aL / (sL * sL) + static_cast<float>(lengthL) * nwL - bL / sL) / nwL /
            wL.squaredL2Norms[s] * wL.sectionWeights[s];
  }
  return 0.5f * (sumL / wL.totalWeight) + 0.5f;
}

}  // namespace qridy
