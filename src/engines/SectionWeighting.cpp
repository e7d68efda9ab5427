#include "engines/SectionWeighting.h"

#include <qrlcore/QuarlenInformation.h>

#include "engines/EngineSupport.h"

namespace qridy {
namespace engines {

SectionWeighting SectionWeighting::read(const std::string& prefixA) {
  using kxutl::QuarlenInformation;
  SectionWeighting wL;
  wL.useNodeWeights =
      QuarlenInformation::getBoolFromConfigFile(kMatchingSection, prefixA + "useNodeWeights");
  const int sectionsL =
      QuarlenInformation::getIntFromConfigFile(kMatchingSection, prefixA + "nFeatureSections");
  wL.blocksPerSection =
      QuarlenInformation::getUintVectorFromConfigFile(kMatchingSection, prefixA + "nSectionBlocks");
  wL.blockSizes = QuarlenInformation::getUintVectorFromConfigFile(kMatchingSection,
                                                                  prefixA + "sectionBlockSizes");
  wL.sectionWeights = QuarlenInformation::getFloatVectorFromConfigFile(kMatchingSection,
                                                                       prefixA + "sectionWeights");
  wL.squaredL2Norms = QuarlenInformation::getFloatVectorFromConfigFile(
      kMatchingSection, prefixA + "sectionBlocksSquaredL2norms");
  wL.nodeWeights =
      QuarlenInformation::getFloatVectorFromConfigFile(kMatchingSection, prefixA + "node_weights");
  if (!wL.useNodeWeights) return wL;

  auto fail = [&wL, &prefixA](const char* keyA) {
    wL.error =
        std::string("Invalid parameter [") + kMatchingSection + "]-->" + prefixA + keyA + "\n";
    return wL;
  };
  if (sectionsL < 1) return fail("nFeatureSections");
  wL.sectionCount = static_cast<std::size_t>(sectionsL);
  if (wL.blocksPerSection.size() < wL.sectionCount) return fail("nSectionBlocks");
  if (wL.blockSizes.size() < wL.sectionCount) return fail("sectionBlockSizes");
  if (wL.sectionWeights.size() < wL.sectionCount) return fail("sectionWeights");
  if (wL.squaredL2Norms.size() < wL.sectionCount) return fail("sectionBlocksSquaredL2norms");
  std::size_t nodeL = 0;
  for (std::size_t s = 0; s < wL.sectionCount; ++s) {
    float sumL = 0.0f;
    for (unsigned int b = 0; b < wL.blocksPerSection[s]; ++b, ++nodeL) {
      if (nodeL >= wL.nodeWeights.size()) return fail("node_weights");
      sumL += wL.nodeWeights[nodeL];
    }
    wL.nodeWeightSums.push_back(sumL);
    wL.totalWeight += wL.sectionWeights[s];
    wL.featureCount += std::size_t{wL.blocksPerSection[s]} * wL.blockSizes[s];
  }
  return wL;
}

}  // namespace engines
}  // namespace qridy
