#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "common/AlignedBuffer.h"
#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

// "fva" decorated blocks (with "fvaImprovedMatching"): mask 1 (all 16 bits count) at offset 0,
// the l1b part, packed signed 4-bit l1v features from F1 to F2, mask 2 at F2, bytes F2+2..F2+15
// reserved, packed l2v features from F2 + 16 to the end. Score w1 s1 + w2 s2 with
//   s1 = max(0, (l1v dot product) / c1 in integers) / 16,  s2 = (l2v dot product) / c2 / 16,
// c1, c2 the fingers present in both; a section without a common finger scores 0.
// The probe is kept only as its masks and its two sections expanded into 16-bit values, so
// that each comparison unpacks the gallery alone.
class StageMatchEngine_FP_FVA : public StageMatchEngine_Base {
 public:
  // Throws kxxcp::Exception (function "qridy::StageMatchEngine_FP_FVA::setProbeForIdentification")
  // with the allocation failure lines when an expansion cannot be had.
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  void releaseProbe() override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  void useKernels(const kernels::KernelSet& kernelsA) { kernelsM.use(kernelsA); }
  const engines::FvaSettings& settings() const { return settingsM; }

 private:
  engines::KernelChoice kernelsM;
  engines::FvaSettings settingsM;
  std::uint16_t probeMask1M = 0, probeMask2M = 0;
  AlignedBuffer expanded1M, expanded2M;
  std::uint32_t section1BytesM = 0, section2BytesM = 0;  // packed lengths
};

}  // namespace qridy
