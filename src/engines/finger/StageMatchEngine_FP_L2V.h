#pragma once

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

// "l2v" decorated blocks: a presence mask (bits 0..5 count) at offset 0, bytes 2..15 reserved,
// signed 8-bit features from offset 16 to the end. Score: the byte dot product divided (in
// integers) by the fingers present in both, times 1/16, negative values included; -300002.0 when
// no finger is common.
class StageMatchEngine_FP_L2V : public StageMatchEngine_Base {
 public:
  static constexpr float kNoCommonFinger = -300002.0f;

  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  using StageMatchEngine_Base::verify;
  // Not available: throws kxxcp::Exception "L1V currently not implemented" (function
  // "qridy::StageMatchEngine_FP_L2V::verify").
  virtual float verify(const unsigned char* probeDataA, unsigned int probeSizeA,
                       const unsigned char* galleryDataA);

  void useKernels(const kernels::KernelSet& kernelsA) { kernelsM.use(kernelsA); }

 private:
  engines::KernelChoice kernelsM;
};

}  // namespace qridy
