#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

// "l1v" decorated blocks: a presence mask (bits 0..7 count) at offset 0 and signed 8-bit features
// from F1 = 2 + size(l1b), rounded up to 16, to the end. Score: the byte dot product of the
// features divided (in integers) by the fingers present in both, times 1/16; 0.0 when no finger
// is common or the quotient is negative.
class StageMatchEngine_FP_L1V : public StageMatchEngine_Base {
 public:
  StageMatchEngine_FP_L1V();

  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  void useKernels(const kernels::KernelSet& kernelsA) { kernelsM.use(kernelsA); }
  std::uint32_t featureOffset() const { return featureOffsetM; }
  float classifyThreshold() const { return classifyThresholdM; }
  std::uint32_t headerLength() const { return headerLengthM; }

 private:
  engines::KernelChoice kernelsM;
  float classifyThresholdM;  // "FingerL1bClassifyThreshold"; not used in scoring
  std::uint32_t headerLengthM = 2;
  std::uint32_t featureOffsetM;
};

}  // namespace qridy
