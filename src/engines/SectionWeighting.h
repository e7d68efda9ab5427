#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qridy {
namespace engines {

// The feature-section weighting of the HgmFloat and HgmByte engines, read from the matching
// section under one key prefix ("hgmFloat_" or "hgmByte_"):
//   <prefix>useNodeWeights (bool), <prefix>nFeatureSections (int),
//   <prefix>nSectionBlocks, <prefix>sectionBlockSizes (unsigned lists),
//   <prefix>sectionWeights, <prefix>sectionBlocksSquaredL2norms, <prefix>node_weights (float
//   lists).
// A template is a sequence of sections; section s holds nSectionBlocks[s] blocks (graph nodes)
// of sectionBlockSizes[s] features, and each block has its node weight, the weights taken in
// order across all sections.
struct SectionWeighting {
  bool useNodeWeights = false;
  std::size_t sectionCount = 0;
  std::vector<unsigned int> blocksPerSection;
  std::vector<unsigned int> blockSizes;
  std::vector<float> sectionWeights;
  std::vector<float> squaredL2Norms;
  std::vector<float> nodeWeights;
  // Derived: W = Σ section weights; NW[s] = Σ node weights of section s; the number of features
  // the sections cover.
  float totalWeight = 0.0f;
  std::vector<float> nodeWeightSums;
  std::size_t featureCount = 0;
  // Empty when the lists are consistent (or node weights are off); otherwise the text to throw,
  // "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]--><key>\n" naming the first bad key.
  std::string error;

  static SectionWeighting read(const std::string& prefixA);
};

}  // namespace engines
}  // namespace qridy
