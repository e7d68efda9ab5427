#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/EngineSupport.h"
#include "engines/kernels/VectorKernels.h"

namespace qridy {

// The middle layer of the face engines that score raw template bytes with the vector kernels:
// holds the kernel set chosen for this processor and the dot products of the probe buffer with
// gallery data, over the whole 16-byte blocks both hold.
class StageMatchEngine_Face_Vector : public StageMatchEngine_Base {
 public:
  // Scores with another kernel set from now on (benchmarks and tests compare the processor
  // paths this way; every path gives the same scores).
  void useKernels(const kernels::KernelSet& kernelsA) { kernelsM = &kernelsA; }
  const kernels::KernelSet& kernelSet() const { return *kernelsM; }

 protected:
  StageMatchEngine_Face_Vector() : kernelsM(&kernels::activeKernels()) {}

  std::int32_t probeByteDot(const unsigned char* galleryA, std::uint32_t gallerySizeA) const {
    return kernelsM->byteDot(probeDataM, galleryA,
                             engines::commonBlocks(gallerySizeA, probeDataSizeM));
  }
  std::int32_t probeNibbleDot(const unsigned char* galleryA, std::uint32_t gallerySizeA) const {
    return kernelsM->nibbleDot(probeDataM, galleryA,
                               engines::commonBlocks(gallerySizeA, probeDataSizeM));
  }

  const kernels::KernelSet* kernelsM;
};

}  // namespace qridy
