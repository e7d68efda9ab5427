#pragma once

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

// "fva" decorated blocks (without "fvaImprovedMatching"): as StageMatchEngine_FP_FVA, except
// that only mask bits 0..9 count, the probe is compared as stored (packed nibbles on both
// sides), and the l2v section runs to the end of the gallery data.
class StageMatchEngine_FP_FVA_old : public StageMatchEngine_Base {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  void useKernels(const kernels::KernelSet& kernelsA) { kernelsM.use(kernelsA); }
  const engines::FvaSettings& settings() const { return settingsM; }

 private:
  engines::KernelChoice kernelsM;
  engines::FvaSettings settingsM;
};

}  // namespace qridy
