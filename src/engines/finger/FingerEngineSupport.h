#pragma once

// Helpers shared by the finger engines: the kernel set of the vector engines, presence masks,
// the offsets of the decorated layouts, and the "key = "value" " form of template facts.

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <quarlen/IdRecordFingerDecorator.h>

#include "common/Coding.h"
#include "engines/kernels/VectorKernels.h"

namespace qrfpt {
class MvxFinger;
}

namespace qridy {
namespace engines {

// The kernels a vector engine scores with: the processor's best set unless a test or benchmark
// chooses another (every set gives the same scores).
class KernelChoice {
 public:
  const kernels::KernelSet& get() const { return *setM; }
  void use(const kernels::KernelSet& setA) { setM = &setA; }

 private:
  const kernels::KernelSet* setM = &kernels::activeKernels();
};

// The 16-bit little-endian presence mask at offsetA of a buffer of sizeA bytes; 0 when the
// buffer ends before it.
inline std::uint16_t maskAt(const unsigned char* dataA, std::uint32_t sizeA,
                            std::uint32_t offsetA) {
  if (dataA == nullptr || std::uint64_t{offsetA} + 2 > sizeA) return 0;
  return coding::decodeFixed16(dataA + offsetA);
}

// Units valid in both masks among the bits of keepA.
inline int commonUnits(std::uint16_t probeA, std::uint16_t galleryA, std::uint16_t keepA) {
  return __builtin_popcount(static_cast<unsigned>(probeA & galleryA & keepA));
}

// Whole 16-byte blocks of a section that starts at offsetA and spans lengthA bytes, within data
// of sizeA bytes.
inline std::uint32_t sectionBlocks(std::uint32_t sizeA, std::uint32_t offsetA,
                                   std::uint64_t lengthA) {
  if (offsetA >= sizeA) return 0;
  const std::uint64_t availableL = sizeA - offsetA;
  return static_cast<std::uint32_t>((lengthA < availableL ? lengthA : availableL) / 16);
}

// The offsets of the vector sections in decorated blocks as the engines read them: F1 = 2 plus
// the l1b part, rounded up to 16; F2 = F1 plus the l1v part. The decorator writes the l1v blob
// first and the l1b blob after it; the two agree when both parts have the same size. The
// engines keep the reading they always had.
inline std::uint32_t l1vFeatureOffset() {
  return (2 + IdRecordFingerDecorator::blobSize(AlgL1b) + 15) & ~15u;
}
inline std::uint32_t l2vMaskOffset() {
  return l1vFeatureOffset() + IdRecordFingerDecorator::blobSize(AlgL1v);
}

// The settings both "fva" engines read at construction: w1 = "l1vTol2vWeight" of
// "TEMPLATE_MATCHING_MULTIPASS" clamped to [0, 1] weighs the l1v score, w2 = 1 - w1 the l2v
// score; the sections start at F1 (l1v features) and F2 (l2v mask, features 16 bytes later).
struct FvaSettings {
  FvaSettings();
  float w1, w2;
  std::uint32_t headerLength = 2;
  std::uint32_t l1vOffset, l2vMaskOffset;
  std::vector<float> fingerWeights;  // ten weights of 1.0, not used in scoring
  std::uint32_t l1vLength() const { return l2vMaskOffset - l1vOffset; }
  std::uint32_t l2vOffset() const { return l2vMaskOffset + 16; }
};

// Parameters 0, 1 and 3 of the engines that drive the finger library: "defaultAngleTolerance",
// "fingerDisplaceMentSetting" and "angleConfidenceThreshold" of "TEMPLATE_MATCHING_MULTIPASS".
void readFingerMatchParameters(std::map<std::int32_t, std::uint32_t>& parametersA);
// Hands parameters 0, 1 and 3 to the finger library's engine.
void applyFingerMatchParameters(qrfpt::MvxFinger& fingerA,
                                const std::map<std::int32_t, std::uint32_t>& parametersA);

// Appends keyA = "valueA" and a blank.
template <typename T>
void appendFact(std::ostringstream& osA, const char* keyA, const T& valueA) {
  osA << keyA << " = \"" << valueA << "\" ";
}

}  // namespace engines
}  // namespace qridy
