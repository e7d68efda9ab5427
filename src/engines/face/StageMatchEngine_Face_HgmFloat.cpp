#include "engines/face/StageMatchEngine_Face_HgmFloat.h"

#include <cmath>
#include <cstdint>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include "engines/EngineSupport.h"

namespace qridy {
namespace {

// A header value as an integer; values no template can hold (NaN, huge) become -1.
long long headerInt(float valueA) {
  if (!(valueA >= -1e9f && valueA <= 1e9f)) return -1;
  return static_cast<long long>(valueA);
}

// P of a template with a header, checked against the limit of 100.
long long matrixCount(const float* templateA, const char* functionA) {
  const long long countL = headerInt(templateA[0]);
  if (countL > 100 || countL < 0) {
    KXXCP_THROW(functionA, "Number of projection matrices (>100) : " << countL);
  }
  return countL;
}

}  // namespace

const engines::SectionWeighting& StageMatchEngine_Face_HgmFloat::processWeighting() {
  // The first construction reads the configuration; later changes of it have no effect.
  static const engines::SectionWeighting weightingS = engines::SectionWeighting::read("hgmFloat_");
  return weightingS;
}

StageMatchEngine_Face_HgmFloat::StageMatchEngine_Face_HgmFloat()
    : StageMatchEngine_Face_HgmFloat(processWeighting()) {}

StageMatchEngine_Face_HgmFloat::StageMatchEngine_Face_HgmFloat(
    const engines::SectionWeighting& weightingA)
    : weightingM(weightingA) {
  if (!weightingM.error.empty()) {
    KXXCP_THROW("qridy::StageMatchEngine_Face_HgmFloat::StageMatchEngine_Face_HgmFloat",
                weightingM.error);
  }
  using kxutl::QuarlenInformation;
  useProMatNormM = QuarlenInformation::getBoolFromConfigFile(engines::kMatchingSection,
                                                             "hgmFloat_useProMatNorm");
  proMatNormStdDevM = QuarlenInformation::getFloatFromConfigFile(engines::kMatchingSection,
                                                                 "hgmFloat_proMatNormStdDev", 0.0f);
  proMatNormMuM = QuarlenInformation::getFloatFromConfigFile(engines::kMatchingSection,
                                                             "hgmFloat_proMatNormMu", 0.0f);
}

float StageMatchEngine_Face_HgmFloat::matchGallery(const unsigned char* galleryDataA,
                                                   unsigned int gallerySizeA) {
  const std::size_t countL = engines::paddedCommonBytes(gallerySizeA, probeDataSizeM) / 4;
  return calculateSim(reinterpret_cast<const float*>(probeDataM),
                      reinterpret_cast<const float*>(galleryDataA), countL);
}

float StageMatchEngine_Face_HgmFloat::calculateSim(const float* probeA, const float* galleryA,
                                                   std::size_t countA) const {
  const char* fnL = "qridy::StageMatchEngine_Face_HgmFloat::calculateSim";
  long long matricesL = 0;
  std::size_t headerL = 0;
  if (useProMatNormM) {
    if (countA < 2) KXXCP_THROW(fnL, "Template too small for its projection matrix header : " << 0);
    const long long probeCountL = headerInt(probeA[0]);
    const long long galleryCountL = headerInt(galleryA[0]);
    if (probeCountL != galleryCountL) {
      KXXCP_THROW(fnL, "Unexpected number of projection matrices inconsistent probe != gallery : "
                           << probeCountL << "/" << galleryCountL);
    }
    matricesL = matrixCount(galleryA, fnL);
    headerL = static_cast<std::size_t>(2 * matricesL + 2);
    if (headerL > countA) {
      KXXCP_THROW(fnL, "Template too small for its projection matrix header : " << matricesL);
    }
  }
  const float* pL = probeA + headerL;
  const float* gL = galleryA + headerL;
  const std::size_t countL = countA - headerL;

  float dL = 0.0f;
  if (!weightingM.useNodeWeights) {
    dL = kernelsM->floatDot(pL, gL, countL);
  } else {
    if (weightingM.featureCount > countL) {
      KXXCP_THROW(fnL, "Template smaller than the configured feature sections : " << countL);
    }
    std::size_t nodeL = 0;
    float sumL = 0.0f;
    for (std::size_t s = 0; s < weightingM.sectionCount; ++s) {
      const std::size_t sizeL = weightingM.blockSizes[s];
      float accL = 0.0f;
      for (unsigned int b = 0; b < weightingM.blocksPerSection[s]; ++b, ++nodeL) {
        accL += weightingM.nodeWeights[nodeL] * kernelsM->floatDot(pL, gL, sizeL);
        pL += sizeL;
        gL += sizeL;
      }
      sumL += accL / weightingM.nodeWeightSums[s] / weightingM.squaredL2Norms[s] *
              weightingM.sectionWeights[s];
    }
    dL = sumL / weightingM.totalWeight;
  }
  float scoreL = 0.5f * dL + 0.5f;

  if (useProMatNormM) {
    const long long galleryIndexL = headerInt(galleryA[1]);
    const long long probeIndexL = headerInt(probeA[1]);
    for (long long indexL : {galleryIndexL, probeIndexL}) {
      if (indexL < 0 || indexL >= matricesL) {
        KXXCP_THROW(fnL, "Projection matrix index out of range : " << indexL);
      }
    }
    const float meanL = 0.5f * (galleryA[2 + probeIndexL] + probeA[2 + galleryIndexL]);
    const float secondL =
        0.5f * (galleryA[2 + matricesL + probeIndexL] + probeA[2 + matricesL + galleryIndexL]);
    scoreL =
        (scoreL - meanL) / std::sqrt(secondL - meanL * meanL) * proMatNormStdDevM + proMatNormMuM;
  }
  return scoreL;
}

float StageMatchEngine_Face_HgmFloat::identifyFloatProbeWoPMN(const unsigned char* galleryDataA,
                                                              unsigned int gallerySizeA) const {
  const auto* gL = reinterpret_cast<const float*>(galleryDataA);
  std::size_t headerL = 0;
  if (useProMatNormM && gallerySizeA >= 4) {
    headerL = static_cast<std::size_t>(
        2 * matrixCount(gL, "qridy::StageMatchEngine_Face_HgmFloat::identifyFloatProbeWoPMN") + 2);
  }
  const std::size_t galleryFloatsL = gallerySizeA / 4;
  const std::size_t probeFloatsL = probeDataSizeM / 4;
  if (headerL >= galleryFloatsL || headerL >= probeFloatsL) return 0.5f;
  const std::size_t countL = std::min(galleryFloatsL, probeFloatsL) - headerL;
  return 0.5f *
             kernelsM->floatDot(gL + headerL, reinterpret_cast<const float*>(probeDataM), countL) +
         0.5f;
}

}  // namespace qridy
